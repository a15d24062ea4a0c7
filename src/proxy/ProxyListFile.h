// The proxy list on disk (Proxies.pro), import and export of proxy files, and the
// status line text.
//
// None of these functions tells the user about a failed read or write: each returns
// what happened, and the window or the command line says it. The texts below are the
// window's words for them.
#pragma once

#include <QtGlobal>

#include <QDate>

#include <cstddef>
#include <string>
#include <vector>

#include "base/OpResult.h"
#include "base/Prompt.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyExtractor.h"

namespace qb {

class CProxyListModel;

inline constexpr const char* kProxyListFileName = "Proxies.pro";
inline constexpr const char* kMsgOpenFileFailed = QT_TRANSLATE_NOOP("Quillberry", "打开文件失败！");
inline constexpr const char* kCaptionLoadList = QT_TRANSLATE_NOOP("Quillberry", "导入列表");
inline constexpr const char* kCaptionSave = QT_TRANSLATE_NOOP("Quillberry", "存盘");
inline constexpr const char* kCaptionExport = QT_TRANSLATE_NOOP("Quillberry", "导出选定");
inline constexpr const char* kMsgNothingSelected =
    QT_TRANSLATE_NOOP("Quillberry", "没有选择代理！可以用Shift/Ctrl键 + 鼠标左键一次选择多个代理。");

// What the import and export choosers offer.
qb::FileDialogSpec ImportFileDialogSpec();
qb::FileDialogSpec ExportFileDialogSpec(const QDate& today);
// "Proxies%4d-%02d-%02d" of the given day.
std::string DefaultExportFileName(const QDate& day);

// Reads dataDir + "Proxies.pro" into the list (rows appended, not selected). Lines in
// the form the program writes load back with their five fields; any other line goes
// through the extractor like a foreign file. A missing file (or a directory in its
// place) is a success with no rows; a file that cannot be read is ReadFailed with its
// path (the window says "打开文件失败！" / "导入列表").
qb::OpResult LoadProxyList(CProxyListModel& list, const std::string& dataDir);

// Rewrites dataDir + "Proxies.pro" from the rows, atomically. On failure the old file
// is left as it was and the result is WriteFailed with its path (the window says
// "打开文件失败！" / "存盘"). Then the credentials of proxies no longer in the list are
// dropped from the store (a failure there is WriteFailed with the store's path).
qb::OpResult SaveProxyList(const CProxyListModel& list, const std::string& dataDir);

// What an import did: the proxies found (duplicates included; 0 when the file could
// not be read) and how reading the file and saving the list went.
struct ImportResult {
  int found = 0;
  // ReadFailed with the imported file's path (the window says "打开文件失败！" /
  // "导入列表"), or WriteFailed with the list file's path when saving it afterwards
  // failed (the window says "打开文件失败！" / "存盘").
  qb::OpResult result;
  // Texts in the form of a proxy that cannot be one (see ProxyRefused): not recognised.
  int refused = 0;
};

// Import of one file (the import button after its chooser): every proxy found is
// added selected, and the credentials that came with proxies are kept in the store;
// the list file is saved when anything was found, otherwise the "nothing found"
// notice is shown.
ImportResult ImportProxyFile(CProxyListModel& list, const std::string& path, bool ambiguous,
                             const std::string& dataDir);

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
                       FoundCredentialList* credentials = nullptr, std::size_t* refused = nullptr);

// The file types the export chooser offers, in its order: the "address:port" lines
// the export has always written, then the lists for other programs.
enum class ExportFileType { AddressLines, Urls, Csv, Json };
// Asked before an export in a format that can carry log-ons, when rows have one.
inline constexpr const char* kMsgExportLogOns =
    QT_TRANSLATE_NOOP("Quillberry", "选定的代理中有 %1 个带有用户名和密码。\n导出的文件中也包含它们吗？");
// What an export to path writes: a name ending in .csv or .json says so itself;
// otherwise the file type chosen (its index in the chooser's filter, -1 when the
// chooser cannot tell), and address lines when that names none.
ExportFileType ExportFileTypeFor(int chosenType, const std::string& path);

// Writes the given rows, in list order, to path: "address:port" lines, or proxy URLs,
// CSV or JSON (see ListExport.h), each line ending in CR LF like the program's other
// files. With logOns, the URLs, CSV and JSON carry the log-ons it holds. On failure
// the result is WriteFailed with the path (the window says "打开文件失败！" / "导出选定").
qb::OpResult WriteExportFile(const CProxyListModel& list, std::vector<int> rows, const std::string& path,
                             ExportFileType type = ExportFileType::AddressLines,
                             const CProxyCredentialStore* logOns = nullptr);

// The status line: " selected/total;   " then the system-proxy part for the mode.
// ieProxy is the system proxy as last read (empty when none is set).
std::string FormatStatusLine(int selected, int total, int autoProxyConfig, const std::string& ieProxy);

}  // namespace qb
