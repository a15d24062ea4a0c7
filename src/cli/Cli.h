// The command-line front end: one function per command.
#pragma once

#include <QStringList>

#include <string>

#include "base/OpResult.h"

namespace qb::cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
// Nothing found, a refusal, or the desktop's proxy settings could not be read or written.
inline constexpr int kExitNotFound = 1;
// Bad usage, or a file that cannot be read.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreadable = kExitUsage;
// A data file could not be written (the old one is kept).
inline constexpr int kExitUnwritable = 3;

// Arguments after the command name, and the run's data directory (ending in "/").
// Options common to every command (--data-dir) have already been removed.
int RunParse(const QStringList& args, const std::string& dataDir);
int RunExtract(const QStringList& args, const std::string& dataDir);
int RunLookup(const QStringList& args, const std::string& dataDir);
int RunSettings(const QStringList& args, const std::string& dataDir);
int RunProxy(const QStringList& args, const std::string& dataDir);
int RunVerify(const QStringList& args, const std::string& dataDir);
int RunDownload(const QStringList& args, const std::string& dataDir);

// Says on standard error what failed, naming the file: "command: cannot write PATH:
// reason". Nothing for a success. Returns the exit code for the result: kExitOk,
// kExitUnreadable, kExitUnwritable, or kExitNotFound for the desktop's settings.
int ReportFailure(const std::string& command, const qb::OpResult& result);

// Reads all of standard input.
std::string ReadStdin();
// Prints to standard output / standard error, adding a line break.
void Out(const std::string& line);
void Err(const std::string& line);
bool WantsHelp(const QStringList& args);

}  // namespace qb::cli
