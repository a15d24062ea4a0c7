#include "proxy/ProxyListFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "base/Files.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "proxy/FileImport.h"
#include "proxy/ListExport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"

namespace qb {

qb::FileDialogSpec ImportFileDialogSpec() {
  qb::FileDialogSpec spec;
  spec.defaultExtension = "pro";
  spec.filter =
      "Proxy or Text Files (*.pro ; *.txt)|*.pro;*.txt|Web Pages (*.htm; *.html; *.mht; *.mhtml)|"
      "*.htm;*.html;*.mht;*.mhtml|Data Files (*.dat)|*.dat|All Files (*.*)|*.*||";
  return spec;
}

std::string DefaultExportFileName(const QDate& day) {
  return qb::Format("Proxies%4d-%02d-%02d", day.year(), day.month(), day.day());
}

qb::FileDialogSpec ExportFileDialogSpec(const QDate& today) {
  qb::FileDialogSpec spec;
  spec.defaultExtension = "pro";
  spec.initialName = DefaultExportFileName(today);
  // In the order of ExportFileType; the first is what the export always wrote.
  spec.filter =
      "Proxy Files (*.pro; *.txt)|*.pro;*.txt|URL Lists (*.txt)|*.txt|CSV Files (*.csv)|*.csv|"
      "JSON Files (*.json)|*.json|All Files (*.*)|*.*||";
  spec.confirmOverwrite = true;
  return spec;
}

ExportFileType ExportFileTypeFor(int chosenType, const std::string& path) {
  const std::string name = qb::AsciiLower(path);
  auto endsWith = [&](std::string_view ext) {
    return name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
  };
  if (endsWith(".csv")) return ExportFileType::Csv;
  if (endsWith(".json")) return ExportFileType::Json;
  switch (chosenType) {
    case 1:
      return ExportFileType::Urls;
    case 2:
      return ExportFileType::Csv;
    case 3:
      return ExportFileType::Json;
    default:
      return ExportFileType::AddressLines;
  }
}

namespace {

// The file's lines in row order, handed to `write` a chunk at a time. A million rows
// are chunks formatted on every processor, while the calling thread writes those
// that are done; only a few chunks exist at a time, so the text of a large list is
// never held whole and the buffers stay in the cache. False when write fails.
template <class Write>
bool ForEachFileChunk(const CProxyListModel& list, Write write) {
  constexpr int kRowsPerChunk = 4096;
  constexpr int kRowsForThreads = 65536;
  const int rows = list.RowCount();
  const std::size_t chunks = static_cast<std::size_t>((rows + kRowsPerChunk - 1) / kRowsPerChunk);
  const unsigned threads = rows >= kRowsForThreads ? qb::ThreadsFor(chunks, 0, 8) : 1;
  auto format = [&](std::size_t c) {
    const int first = static_cast<int>(c) * kRowsPerChunk;
    const int end = std::min(rows, first + kRowsPerChunk);
    std::string out;
    out.reserve(static_cast<std::size_t>(end - first) * 40);
    for (int row = first; row < end; ++row) {
      AppendFileLine(out, *list.Entry(row));
      out.append("\r\n");
    }
    return out;
  };
  return qb::RunInOrder<std::string>(
      chunks, threads, 2 * threads, format,
      [&](std::size_t, std::string& text) { return write(std::string_view(text)); });
}

}  // namespace

bool WriteListFile(const CProxyListModel& list, const std::function<bool(std::string_view)>& write) {
  return ForEachFileChunk(list, write);
}

ImportResult ImportProxyFile(CProxyListModel& list, const std::string& path, bool ambiguous) {
  errno = 0;
  ImportResult result;
  std::size_t refused = 0;
  const std::optional<std::size_t> added =
      AddProxiesFromFile(list, path, ambiguous, 1, {}, &result.credentials, &refused);
  if (!added) {
    result.result = qb::OpResult::Failure(qb::OpStatus::ReadFailed, path,
                                          errno != 0 ? std::strerror(errno) : "read error");
    return result;
  }
  result.found = static_cast<int>(*added);
  result.refused = static_cast<int>(refused);
  return result;
}

int AddProxiesFromText(CProxyListModel& list, std::string text, bool ambiguous, std::size_t maxProxies,
                       bool* capped, FoundCredentialList* credentials, std::size_t* refused, TextKind kind) {
  CProxyListModel::BulkAppend bulk(list);
  Overloaded sink{[&](std::string_view line, const FoundCredentials* c) {
                    list.AddProxyLine(line, 1);
                    if (c && credentials) credentials->emplace_back(CredentialsKeyOfLine(line), *c);
                  },
                  [&](ProxyRefused) {
                    if (refused) ++*refused;
                  }};
  return static_cast<int>(ExtractWholeText(std::move(text), ambiguous, sink, maxProxies, capped, kind));
}

int AddMissingRows(CProxyListModel& list, const CProxyListModel& from) {
  CProxyListModel::BulkAppend bulk(list);
  int added = 0;
  std::string line;
  for (int row = 0; row < from.RowCount(); ++row) {
    line.clear();
    AppendFileLine(line, *from.Entry(row));
    if (list.AddProxyLine(line, 0) == 1) ++added;
  }
  return added;
}

qb::OpResult WriteExportFile(const CProxyListModel& list, std::vector<int> rows, const std::string& path,
                             ExportFileType type, const CProxyCredentialStore* logOns) {
  std::sort(rows.begin(), rows.end());
  std::string out;
  if (type == ExportFileType::AddressLines) {
    for (int row : rows) {
      const CProxyEntry* e = list.Entry(row);
      if (!e) continue;
      out.append(e->Addr()).append(":").append(e->Port()).append("\r\n");
    }
  } else {
    ExportOptions options;
    options.format = type == ExportFileType::Urls  ? ExportFormat::Urls
                     : type == ExportFileType::Csv ? ExportFormat::Csv
                                                   : ExportFormat::Json;
    options.lineEnd = "\r\n";
    if (logOns) {
      options.includeCredentials = true;
      options.credentials = [logOns](const CProxyEntry& e) { return logOns->Find(e); };
    }
    std::vector<const CProxyEntry*> entries;
    entries.reserve(rows.size());
    for (int row : rows) entries.push_back(list.Entry(row));
    out = ExportRows(entries, options);
  }
  std::string error;
  if (!qb::WriteFileAtomically(path, out, &error)) {
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, error);
  }
  return qb::OpResult::Success();
}

RunTally TallyRun(const CProxyListModel& list, const std::vector<int>& rows) {
  RunTally tally;
  double best = 0;
  for (const int row : rows) {
    const CProxyEntry* e = list.Entry(row);
    if (!e) continue;
    const std::string status = e->TimeStatus();
    const std::string_view state = ProxyState(status);
    if (state == "ok") {
      const double time = qb::CAtof(status);
      if (tally.working == 0 || time < best) {
        best = time;
        tally.fastest = status;
      }
      ++tally.working;
    } else if (state != "unverified" && state != "verifying" && state != "other") {
      ++tally.failed;
    }
  }
  return tally;
}

std::string FormatStatusLine(int selected, int total, int autoProxyConfig, const std::string& ieProxy) {
  std::string text = qb::Format(" %d/%d;   ", selected, total);
  const char* prefix = nullptr;
  switch (autoProxyConfig) {
    case 0:
      // The documented " IE: " in Chinese; the English says what it is on Linux.
      prefix = QT_TRANSLATE_NOOP("Quillberry", " IE: ");
      break;
    case 1:
      prefix = "Default proxy auto-config file. ";
      break;
    case 2:
      prefix = "User-defined proxy auto-config file. ";
      break;
    default:
      return text;
  }
  text.append(autoProxyConfig == 0 ? qb::TrStd(prefix) : std::string(prefix))
      .append(ieProxy.empty() ? std::string("no proxy") : ieProxy);
  return text;
}

}  // namespace qb
