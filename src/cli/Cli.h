// The command-line front end: one function per command.
#pragma once

#include <QStringList>

#include <string>

namespace cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;
inline constexpr int kExitUsage = 2;

// Arguments after the command name. Options common to every command (--data-dir)
// have already been applied and removed.
int RunParse(const QStringList& args);
int RunExtract(const QStringList& args);
int RunLookup(const QStringList& args);
int RunSettings(const QStringList& args);
int RunProxy(const QStringList& args);
int RunVerify(const QStringList& args);
int RunDownload(const QStringList& args);

// Reads all of standard input.
std::string ReadStdin();
// Prints to standard output / standard error, adding a line break.
void Out(const std::string& line);
void Err(const std::string& line);
bool WantsHelp(const QStringList& args);

}  // namespace cli
