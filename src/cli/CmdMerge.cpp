// quillberry-cli merge: the outputs of the shares of one verification made one list again.
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"

namespace qb::cli {

namespace {

constexpr const char* kMergeUsage =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "Usage: quillberry-cli merge [--format FORMAT] [--type TYPE] [--working] FILE...\n"
                      "       quillberry-cli [--data-dir DIR] merge --into-list FILE...\n"
                      "\n"
                      "Merges the outputs of verify runs (the shares of one list verified with --shard,\n"
                      "on one machine or several, and runs resumed with --resume) into one list: each\n"
                      "FILE ('-' for standard input) holds list-file lines (verify's line format, with\n"
                      "or without the judge's anonymity and exit address after a tab) or JSON objects\n"
                      "(verify's --format jsonl), one per line; other lines (a line cut off when a run\n"
                      "was stopped) are passed over and counted on standard error.\n"
                      "\n"
                      "A proxy (its address, port and type, as the list tells duplicates apart) is one\n"
                      "row. Of its results the last one read wins, the FILEs read in the order given\n"
                      "and each from top to bottom, so that a later run given later replaces an earlier\n"
                      "one; but a row still unverified (\"未验证\") never replaces a result. The rows\n"
                      "are printed as a finished verification prints them: sorted by time, fastest\n"
                      "first, then the failures; rows of equal rank in the order first read.\n"
                      "\n"
                      "--format FORMAT  line (the list-file lines, the default), url, csv or json, as\n"
                      "                 for verify\n"
                      "--type TYPE      print only the rows of one type\n"
                      "--working        print only the rows whose status is a measured time\n"
                      "--into-list      instead of printing, write the rows into the data directory's\n"
                      "                 Proxies.pro: a proxy already in the list takes the merged\n"
                      "                 result (its remark stays), a new one is added; the list is then\n"
                      "                 sorted as after a verification. The history is not written: the\n"
                      "                 outputs do not say when or against what each proxy was checked.\n"
                      "\n"
                      "Exit status: 0 done (also when no row was found); 2 bad usage or a FILE that\n"
                      "cannot be read; 3 Proxies.pro could not be written (the old one is kept); 4 the\n"
                      "data directory is open in the window or being written by another command\n"
                      "(nothing was changed; import the merged lines in the window instead).");

struct MergedRow {
  ProxyFields fields;
  std::optional<ExportJudged> judged;
};

bool Unverified(const std::string& status) {
  return status.empty() || status == kStatusUnverified || status == kStatusVerifying;
}

// One line of an output: a jsonl object or a list-file line (with the judge's two
// columns after a tab). nullopt for anything else.
std::optional<MergedRow> ReadRow(std::string_view line) {
  MergedRow row;
  if (!line.empty() && line.front() == '{') {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
    ProxyFields& f = row.fields;
    f.addr = o.value("address").toString().toStdString();
    f.port = o.value("port").toString().toStdString();
    f.type = qb::AsciiUpper(o.value("type").toString().toStdString());
    f.timeStatus = o.value("status").toString().toStdString();
    f.remark = o.value("remark").toString().toStdString();
    // Through the list file's own reader, so that a row merged from JSON is one the
    // list could have held.
    ProxyFields checked;
    std::string probe =
        f.addr + ":" + f.port + "@" + f.type + "$" + (f.timeStatus.empty() ? "-" : f.timeStatus);
    if (!f.remark.empty()) probe += "#" + f.remark;
    if (!ParseFileLine(probe, checked)) return std::nullopt;
    if (o.contains("anonymity"))
      row.judged = ExportJudged{o.value("anonymity").toString().toStdString(),
                                o.value("exit").toString().toStdString()};
    return row;
  }
  const std::size_t tab = line.find('\t');
  const std::string_view proxy = line.substr(0, tab);
  if (!ParseFileLine(proxy, row.fields) && !ParseProxyLine(proxy, row.fields)) return std::nullopt;
  if (tab != std::string_view::npos) {
    const std::string_view rest = line.substr(tab + 1);
    const std::size_t tab2 = rest.find('\t');
    row.judged =
        ExportJudged{std::string(rest.substr(0, tab2)),
                     tab2 == std::string_view::npos ? std::string() : std::string(rest.substr(tab2 + 1))};
  }
  return row;
}

}  // namespace

int RunMerge(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kMergeUsage));
    return kExitOk;
  }
  qb::ExportOptions output;
  bool intoList = false;
  std::vector<std::string> files;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const OutputOption taken = TakeOutputOption("merge", args, i, output);
    if (taken == OutputOption::Bad) return kExitUsage;
    if (taken == OutputOption::Taken) continue;
    if (a == "--into-list") {
      intoList = true;
    } else if (a.startsWith("-") && a != "-") {
      Err("merge: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli merge --help' for usage.");
      return kExitUsage;
    } else {
      files.push_back(a.toStdString());
    }
  }
  if (files.empty()) {
    Err("merge: give the outputs to merge (FILE..., '-' for standard input)");
    return kExitUsage;
  }
  if (output.includeCredentials) {
    Err("merge: --credentials: the outputs of verify carry no log-ons");
    return kExitUsage;
  }
  if (intoList && (output.format != qb::ExportFormat::Lines || !output.type.empty() || output.workingOnly)) {
    Err("merge: --into-list prints nothing; --format, --type and --working do not go with it");
    return kExitUsage;
  }

  // Read first: a FILE that cannot be read changes nothing.
  std::vector<MergedRow> rows;
  std::unordered_map<std::string, std::size_t> rowOf;
  for (const std::string& file : files) {
    std::string text;
    if (file == "-") {
      text = ReadStdin();
    } else {
      std::string error;
      auto bytes = qb::ReadWholeFile(file, &error);
      if (!bytes) return ReportFailure("merge", qb::OpResult::Failure(qb::OpStatus::ReadFailed, file, error));
      text = std::move(*bytes);
    }
    std::size_t passedOver = 0;
    qb::ForEachLine(text, [&](std::string_view line) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
      if (line.empty()) return;
      std::optional<MergedRow> row = ReadRow(line);
      if (!row) {
        ++passedOver;
        return;
      }
      const std::string key = CredentialsKey(row->fields.addr, row->fields.port, row->fields.type);
      const auto [it, fresh] = rowOf.emplace(key, rows.size());
      if (fresh) {
        rows.push_back(std::move(*row));
      } else if (!Unverified(row->fields.timeStatus) || Unverified(rows[it->second].fields.timeStatus)) {
        rows[it->second] = std::move(*row);
      }
    });
    if (passedOver > 0) {
      Err(qb::Format("merge: %zu %s of %s passed over (neither a proxy line nor a JSON object of one)",
                     passedOver, passedOver == 1 ? "line" : "lines", file.c_str()));
    }
  }

  if (intoList) {
    DataDirClaim claim = ClaimDataDir("merge", dataDir);
    if (claim.kind == DataDirClaim::Kind::Busy) return kExitBusy;
    if (claim.kind == DataDirClaim::Kind::Window)
      return RefuseForWindow("merge", dataDir, claim, "import the merged lines in the window");
    CProxyListModel list;
    if (const qb::OpResult loaded = LoadProxyList(list, dataDir); !loaded)
      return ReportFailure("merge", loaded);
    const std::string profile = FavoritesProfileFor(dataDir, GuiFavoritesProfile());
    RestoreFavorites(list, profile);
    std::unordered_map<std::string, int> listRow;
    for (int row = 0; row < list.RowCount(); ++row) listRow.emplace(CredentialsKey(*list.Entry(row)), row);
    int updated = 0, added = 0;
    {
      CProxyListModel::BulkAppend bulk(list);
      for (MergedRow& r : rows) {
        const auto it = listRow.find(CredentialsKey(r.fields.addr, r.fields.port, r.fields.type));
        if (it == listRow.end()) {
          added += list.AddParsedProxy(std::move(r.fields), 0);
        } else if (!Unverified(r.fields.timeStatus)) {
          list.SetTimeStatus(it->second, std::move(r.fields.timeStatus));
          ++updated;
        }
      }
    }
    list.SortRows(CProxyListModel::ColTimeStatus, true);
    if (const int code = ReportFailure("merge", SaveProxyList(list, dataDir)); code != kExitOk) return code;
    SaveFavorites(list, profile);
    Out(qb::Format("%d %s updated, %d added to %s", updated, updated == 1 ? "row" : "rows", added,
                   qb::JoinPath(dataDir, "Proxies.pro").c_str()));
    return kExitOk;
  }

  CProxyListModel list;
  std::unordered_map<std::string, ExportJudged> judged;
  {
    CProxyListModel::BulkAppend bulk(list);
    for (MergedRow& r : rows) {
      if (r.judged)
        judged[CredentialsKey(r.fields.addr, r.fields.port, r.fields.type)] = std::move(*r.judged);
      list.AddParsedProxy(std::move(r.fields), 0);
    }
  }
  list.SortRows(CProxyListModel::ColTimeStatus, true);
  if (!judged.empty()) {
    // As verify prints them: only a row that works shows what the judge said.
    output.judged = [&judged](const CProxyEntry& e) -> std::optional<ExportJudged> {
      const auto it = judged.find(CredentialsKey(e));
      if (it == judged.end() || !IsTimeText(e.TimeStatus())) return std::nullopt;
      return it->second;
    };
  }
  PrintList(list, output);
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace qb::cli
