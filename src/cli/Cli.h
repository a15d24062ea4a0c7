// The command-line front end: one function per command.
#pragma once

#include <QStringList>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "datadir/DataDir.h"
#include "proxy/ListExport.h"

namespace qb {
class CProxyListModel;
struct SourceReport;
}  // namespace qb

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
// The data directory is being written by the window or by another command, and the
// work could not be handed to it: nothing was changed.
inline constexpr int kExitBusy = 4;

// Said after the help of every command that prints proxies or results for other
// programs; a paragraph of its own, so that the help before it keeps its translation.
inline constexpr const char* kStateHelp =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "Machine-readable output: csv ends every row with a state column (after the others)\n"
                      "and json and jsonl add a state key beside the status: the status in English, one\n"
                      "of ok (a measured time), unverified, verifying, failed, timeout, mismatch,\n"
                      "password-mismatch, unsupported, error, or other (a text of the user's own). The\n"
                      "status itself stays as the list file holds it. json and jsonl write the port as a\n"
                      "number.");

// Opens the data directory for a command that writes it: its lock is taken, waiting a
// moment for another command to finish. Another command's hold is refused here
// (nullptr after a message; the command exits with kExitBusy); the window's is not:
// the directory comes back unwritable (report.holder is Window), and the caller hands
// its work to the window or refuses with RefuseForWindow.
std::unique_ptr<qb::DataDir> OpenDataDirToWrite(const std::string& command, const std::string& path,
                                                qb::DataDir::OpenReport& report);
// Says on standard error, in the window's words, that the history was moved aside or
// could not be opened; nothing when it opened as it was.
void ReportHistoryOpening(const qb::DataDir& dir, const qb::HistoryOpening& opening);
// Opens the data directory for a command that only reads it (or writes files nobody
// rewrites behind it): no lock is taken.
std::unique_ptr<qb::DataDir> OpenDataDirToRead(const std::string& path);
// Says that the window holds the directory and what to do instead; returns kExitBusy.
int RefuseForWindow(const std::string& command, const qb::DataDir& dir, const qb::DataDir::OpenReport& report,
                    const std::string& instead);

// How a hand-off to the running window went.
struct HandOff {
  bool taken = false;     // the window added the lines to its list
  std::string refusal;    // why not, when not taken
  std::size_t added = 0;  // of the lines, those that were new to its list
  std::string saveError;  // why it could not save its list; empty when it did
  // With thenVerify: how the window took the verification ("verifying", "queued");
  // empty when it did not say (a window from before refresh).
  std::string verify;
};
// Hands proxy lines (with their log-ons) to the running window of dir, and with
// thenVerify asks it to verify its whole list after adding them. Says nothing.
HandOff HandToWindow(const qb::DataDir& dir, const std::vector<std::string>& lines,
                     const qb::FoundCredentialList& logOns, bool thenVerify);
// Hands proxy lines to the running window of dir, which adds the new ones to its list
// and saves it. Prints how many were new; returns the exit code (kExitBusy when no window took them,
// kExitUnwritable when it could not save the list).
int HandRowsToWindow(const std::string& command, const qb::DataDir& dir,
                     const qb::DataDir::OpenReport& report, const std::vector<std::string>& lines,
                     const qb::FoundCredentialList& logOns = {});

// Arguments after the command name, and the run's data directory (ending in "/").
// Options common to every command (--data-dir) have already been removed.
int RunParse(const QStringList& args, const std::string& dataDir);
int RunExtract(const QStringList& args, const std::string& dataDir);
int RunLookup(const QStringList& args, const std::string& dataDir);
int RunSettings(const QStringList& args, const std::string& dataDir);
int RunProxy(const QStringList& args, const std::string& dataDir);
int RunVerify(const QStringList& args, const std::string& dataDir);
int RunMerge(const QStringList& args, const std::string& dataDir);
int RunDownload(const QStringList& args, const std::string& dataDir);
int RunServe(const QStringList& args, const std::string& dataDir);
int RunJudge(const QStringList& args, const std::string& dataDir);
int RunHistory(const QStringList& args, const std::string& dataDir);
int RunRefresh(const QStringList& args, const std::string& dataDir);

// The line 'download' prints for a source: its name and the proxies found, or why it
// failed.
std::string SourceSummary(const qb::SourceReport& report);

// Checks verify's run options (--threads, --connect-timeout, --verify-timeout,
// --watchdog, --http, --ftp) as 'verify' would, saying what is wrong as command.
bool CheckHeldListOptions(const std::string& command, const QStringList& args);
// Verifies the list of dir, whose lock the caller holds and whose list it has read, as
// 'verify' without FILE does with args (checked by CheckHeldListOptions): the results
// are saved to Proxies.pro and recorded in the history. No line per proxy on standard
// error. historyOpening receives how opening the history went (what it thinned among
// it). Returns verify's exit code; the caller lets the workers drain
// (CVerifyControl::DrainWorkers) before it exits.
int VerifyHeldList(const std::string& command, const QStringList& args, qb::DataDir& dir,
                   qb::HistoryOpening* historyOpening);

// Says on standard error what failed, naming the file: "command: cannot write PATH:
// reason". Nothing for a success. Returns the exit code for the result: kExitOk,
// kExitUnreadable, kExitUnwritable, or kExitNotFound for the desktop's settings.
int ReportFailure(const std::string& command, const qb::OpResult& result);
// The profile the window reads its favourite marks from (beside the one named after
// this executable); FavoritesProfileFor picks the data directory's own beside it.
std::string GuiFavoritesProfile();

// The options of the commands that print proxies for other programs: --format
// line|url|csv|json, --type TYPE and --working (also as --format=X, --type=X).
enum class OutputOption { None, Taken, Bad };
// Takes args[i] (and its value, advancing i) into o when it is one of them. Bad after
// a message on standard error: the caller exits with kExitUsage.
OutputOption TakeOutputOption(const std::string& command, const QStringList& args, int& i,
                              qb::ExportOptions& o);
// Writes text to standard output as it is.
void OutRaw(const std::string& text);
// Prints every row of list in the chosen format to standard output, a megabyte at a
// time, so that a long list is neither held whole as text nor written line by line.
void PrintList(const qb::CProxyListModel& list, const qb::ExportOptions& options);

// Reads all of standard input.
std::string ReadStdin();
// Prints to standard output / standard error, adding a line break.
void Out(const std::string& line);
// A help text, marked QT_TRANSLATE_NOOP("QuillberryHelp", ...), in the interface's
// language.
std::string Help(const char* text);
void Err(const std::string& line);
// A message of the window (ui/Messages.h) on standard error, as "caption: text" (the
// text alone without a caption), each line translated where it is a source text.
void ErrMessage(std::string_view text, std::string_view caption);
bool WantsHelp(const QStringList& args);

}  // namespace qb::cli
