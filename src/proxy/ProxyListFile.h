// The proxy list on disk (Proxies.pro), import and export of proxy files, and the
// status line text.
//
// None of these functions tells the user about a failed read or write: each returns
// what happened, and the window or the command line says it in its own words.
#pragma once

#include <QDate>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "base/Prompt.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyExtractor.h"

namespace qb {

class CProxyListModel;

// What the import and export choosers offer: the file types and the name to start
// from. The window gives a chooser its title.
qb::FileDialogSpec ImportFileDialogSpec();
qb::FileDialogSpec ExportFileDialogSpec(const QDate& today);
// "Proxies%4d-%02d-%02d" of the given day.
std::string DefaultExportFileName(const QDate& day);

// Hands the text of a list file (Proxies.pro) for the rows, in row order, to write a
// chunk at a time: a large list is formatted on several threads and never held whole
// as text. False when write returned false.
bool WriteListFile(const CProxyListModel& list, const std::function<bool(std::string_view)>& write);

// What an import did: the proxies found (duplicates included; 0 when the file could
// not be read), whether the file could be read, and the log-ons that came with them.
struct ImportResult {
  int found = 0;
  // ReadFailed with the imported file's path.
  qb::OpResult result;
  // Texts in the form of a proxy that cannot be one (see ProxyRefused): not recognised.
  int refused = 0;
  FoundCredentialList credentials;
};

// Import of one file (the import button after its chooser): every proxy found is
// added selected. The caller keeps the log-ons and saves the list.
ImportResult ImportProxyFile(CProxyListModel& list, const std::string& path, bool ambiguous);

// Appends the rows of from whose proxy the list lacks, with their five fields, in
// from's order. Returns how many were appended.
int AddMissingRows(CProxyListModel& list, const CProxyListModel& from);

// Adds the proxies of a whole text (the clipboard, a downloaded page) with the
// strict pass and, when ambiguous, the fuzzy pass. Returns the number found. Neither
// saves nor shows a message: the callers differ in both. At most maxProxies are
// added; *capped tells whether the text held more.
// The user names and passwords that came with proxies go to *credentials, when given.
// *refused, when given, counts the texts in the form of a proxy that cannot be one.
int AddProxiesFromText(CProxyListModel& list, std::string text, bool ambiguous,
                       std::size_t maxProxies = kNoProxyLimit, bool* capped = nullptr,
                       FoundCredentialList* credentials = nullptr, std::size_t* refused = nullptr,
                       TextKind kind = TextKind::Page);

// The file types the export chooser offers, in its order: the "address:port" lines
// the export has always written, then the lists for other programs.
enum class ExportFileType { AddressLines, Urls, Csv, Json };
// What an export to path writes: a name ending in .csv or .json says so itself;
// otherwise the file type chosen (its index in the chooser's filter, -1 when the
// chooser cannot tell), and address lines when that names none.
ExportFileType ExportFileTypeFor(int chosenType, const std::string& path);

// Writes the given rows, in list order, to path: "address:port" lines, or proxy URLs,
// CSV or JSON (see ListExport.h), each line ending in CR LF like the program's other
// files. With logOns, the URLs, CSV and JSON carry the log-ons it holds. On failure
// the result is WriteFailed with the path.
qb::OpResult WriteExportFile(const CProxyListModel& list, std::vector<int> rows, const std::string& path,
                             ExportFileType type = ExportFileType::AddressLines,
                             const CProxyCredentialStore* logOns = nullptr);

// The status line: " selected/total;   " then the system-proxy part for the mode.
// ieProxy is the system proxy as last read (empty when none is set).
std::string FormatStatusLine(int selected, int total, int autoProxyConfig, const std::string& ieProxy);

// What a run left in its rows: those with a measured time, those that failed (the
// connection, a time-out, a mismatch, an unsupported type, an error) and the fastest
// time as the list shows it (empty when none works). Rows never reached (a stopped
// run) count as neither.
struct RunTally {
  int working = 0;
  int failed = 0;
  std::string fastest;
};
RunTally TallyRun(const CProxyListModel& list, const std::vector<int>& rows);

}  // namespace qb
