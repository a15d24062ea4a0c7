#include "proxy/ProxyListFile.h"

#include <algorithm>
#include <optional>

#include "base/Files.h"
#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"

qb::FileDialogSpec ImportFileDialogSpec() {
  qb::FileDialogSpec spec;
  spec.defaultExtension = "pro";
  spec.filter =
      "Proxy or Text Files (*.pro ; *.txt)|*.pro;*.txt|Web Pages (*.html; *.htm; *mht)|*.html;*.htm;*mht|"
      "Data Files (*.dat)|*.dat|All Files (*.*)|*.*||";
  return spec;
}

std::string DefaultExportFileName(const QDate& day) {
  return qb::Format("Proxies%4d-%02d-%02d", day.year(), day.month(), day.day());
}

qb::FileDialogSpec ExportFileDialogSpec(const QDate& today) {
  qb::FileDialogSpec spec;
  spec.title = kCaptionSave;
  spec.defaultExtension = "pro";
  spec.initialName = DefaultExportFileName(today);
  spec.filter = "Text Files (*.txt)|*.txt|Proxy Files (*.pro)|*.pro|Data Files (*.dat)|*.dat|All Files (*.*)|*.*||";
  spec.confirmOverwrite = true;
  return spec;
}

bool LoadProxyList(CProxyListModel& list, const std::string& dataDir) {
  const std::string path = qb::JoinPath(dataDir, kProxyListFileName);
  if (!qb::FileExists(path)) return true;
  const auto bytes = qb::ReadWholeFile(path);
  if (!bytes) {
    qb::ShowMessage(kMsgOpenFileFailed, kCaptionLoadList, qb::MsgIcon::Error);
    return false;
  }

  CProxyListModel::BulkAppend bulk(list);
  ProxyFields fields;
  std::string scratch;
  qb::ForEachLine(*bytes, [&](std::string_view raw) {
    std::string decoded;
    std::string_view line = raw;
    if (!qb::IsValidUtf8(raw)) {
      decoded = qb::DecodeLegacyLine(raw);
      line = decoded;
    }
    // The program's own lines first: the extractor would cut a remark at its first
    // blank and drop a status longer than nine bytes.
    if (ParseFileLine(line, fields)) {
      list.AddParsedProxy(std::move(fields), 0);
      return;
    }
    scratch.assign(line);
    ScanProxies(scratch.data(), scratch.size(), [&](std::string_view found) { list.AddProxyLine(found, 0); });
  });
  return true;
}

std::string ProxyListFileContent(const CProxyListModel& list) {
  std::string out;
  out.reserve(static_cast<std::size_t>(list.RowCount()) * 48);
  for (int row = 0; row < list.RowCount(); ++row) {
    AppendFileLine(out, *list.Entry(row));
    out.append("\r\n");
  }
  return out;
}

bool SaveProxyList(const CProxyListModel& list, const std::string& dataDir) {
  if (!qb::WriteFileAtomically(qb::JoinPath(dataDir, kProxyListFileName), ProxyListFileContent(list))) {
    qb::ShowMessage(kMsgOpenFileFailed, kCaptionSave, qb::MsgIcon::Error);
    return false;
  }
  return true;
}

int ImportProxyFile(CProxyListModel& list, const std::string& path, bool ambiguous, const std::string& dataDir) {
  std::optional<std::size_t> result;
  {
    CProxyListModel::BulkAppend bulk(list);
    result = ExtractFile(path, ambiguous, [&](std::string_view line) { list.AddProxyLine(line, 1); });
  }
  if (!result) {
    qb::ShowMessage(kMsgOpenFileFailed, kCaptionLoadList, qb::MsgIcon::Error);
    return -1;
  }
  const std::size_t found = *result;
  if (found != 0) {
    SaveProxyList(list, dataDir);
  } else {
    qb::ShowMessage(kMsgNoProxyInFile, kCaptionImportDone, qb::MsgIcon::Warning);
  }
  return static_cast<int>(found);
}

int AddProxiesFromText(CProxyListModel& list, std::string text, bool ambiguous) {
  CProxyListModel::BulkAppend bulk(list);
  return static_cast<int>(
      ExtractWholeText(std::move(text), ambiguous, [&](std::string_view line) { list.AddProxyLine(line, 1); }));
}

bool WriteExportFile(const CProxyListModel& list, std::vector<int> rows, const std::string& path) {
  std::sort(rows.begin(), rows.end());
  std::string out;
  for (int row : rows) {
    const CProxyEntry* e = list.Entry(row);
    if (!e) continue;
    out.append(e->m_sProxyAddr).append(":").append(e->m_sProxyPort).append("\r\n");
  }
  if (!qb::WriteFileAtomically(path, out)) {
    qb::ShowMessage(kMsgOpenFileFailed, kCaptionExport, qb::MsgIcon::Error);
    return false;
  }
  return true;
}

std::string FormatStatusLine(int selected, int total, int autoProxyConfig, const std::string& ieProxy) {
  std::string text = qb::Format(" %d/%d;   ", selected, total);
  const char* prefix = nullptr;
  switch (autoProxyConfig) {
    case 0: prefix = " IE: "; break;
    case 1: prefix = "Default proxy auto-config file. "; break;
    case 2: prefix = "User-defined proxy auto-config file. "; break;
    default: return text;
  }
  text.append(prefix).append(ieProxy.empty() ? std::string("no proxy") : ieProxy);
  return text;
}
