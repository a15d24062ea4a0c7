#include <QStringList>

#include <ctime>
#include <filesystem>
#include <string>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "datadir/DataDir.h"
#include "history/History.h"
#include "proxy/ListExport.h"
#include "proxy/ProxyEntry.h"
#include "verify/VerifyTask.h"

namespace qb::cli {

namespace {

constexpr const char* kHistoryUsage = QT_TRANSLATE_NOOP(
    "QuillberryHelp",
    "Usage: quillberry-cli history [ADDR:PORT[@TYPE]] [--format line|csv|json] [--limit N]\n"
    "       quillberry-cli history --check\n"
    "\n"
    "Prints what the verification history (History.sqlite in the data directory) keeps.\n"
    "The window and 'verify' without FILE record every result there; 'verify FILE'\n"
    "does not, as a file's proxies are not the list's.\n"
    "\n"
    "Without a proxy: one line per proxy, by name: its uptime (the share of successful\n"
    "checks among its latest 20), the median time of those successful ones, the number\n"
    "of checks kept, the last status, and the anonymity and exit address of the latest\n"
    "result that had them ('-' for none).\n"
    "With a proxy: its results, newest first: the time (UTC), the status, the seconds,\n"
    "the resource, anonymity and exit address. Without @TYPE every type of that\n"
    "address and port is shown.\n"
    "\n"
    "--format FORMAT  line (blank-separated, the default), csv (with a header; CR LF)\n"
    "                 or json (an array of objects)\n"
    "--limit N        at most N lines (proxies, or results of the proxy)\n"
    "--check          check the whole history for damage (a small one is checked at\n"
    "                 every open); a damaged one is moved aside as\n"
    "                 History.sqlite.damaged-<time> and what can still be read of it\n"
    "                 is copied into a new one\n"
    "\n"
    "The history is only read: a directory that cannot be written is read as well.\n"
    "\n"
    "Exit status: 0 when something was printed (with --check: the history is sound);\n"
    "1 when the history is empty or holds nothing of the proxy (with --check: it was\n"
    "damaged and has been rebuilt); 2 for bad arguments or a history that cannot be\n"
    "read; 4 when --check found damage but the window or another command has the data\n"
    "directory open (nothing was moved).");

enum class Format { Line, Csv, Json };

std::string UtcText(std::int64_t when) {
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string OrDash(const std::string& s) {
  return s.empty() ? "-" : s;
}

std::string Seconds(std::optional<double> s) {
  return s ? qb::Format("%.2f", *s) : std::string();
}

std::string Uptime(const ProxyScore& s) {
  return qb::Format("%.0f%%", 100.0 * s.Uptime());
}

void JsonField(std::string& out, const char* key, const std::string& value, bool first = false) {
  if (!first) out += ",";
  AppendJsonString(out, key);
  out += ":";
  AppendJsonString(out, value);
}

void JsonNumber(std::string& out, const char* key, const std::string& number) {
  out += ",";
  AppendJsonString(out, key);
  out += ":";
  out += number.empty() ? "null" : number;
}

// The stored verdict as other programs read it: "unchecked" for none.
const char* TrustOf(const std::string& stored) {
  return TrustWord(TrustFromWord(stored).value_or(Trust::Unchecked));
}

std::string Scores(const std::vector<ProxyScore>& scores, Format format) {
  std::string out;
  if (format == Format::Csv)
    out +=
        "proxy,uptime,successes,recent_checks,median,checks,last_status,anonymity,exit_address,state,"
        "trust\r\n";
  if (format == Format::Json) out += "[";
  bool first = true;
  for (const ProxyScore& s : scores) {
    switch (format) {
      case Format::Line:
        out += s.proxy + " " + Uptime(s) + " " + OrDash(Seconds(s.medianSeconds)) + " " +
               std::to_string(s.totalChecks) + " " + OrDash(s.lastStatus) + " " + OrDash(s.anonymity) + " " +
               OrDash(s.exitAddress) + "\n";
        break;
      case Format::Csv:
        out += CsvField(s.proxy) + "," + qb::Format("%.3f", s.Uptime()) + "," + std::to_string(s.successes) +
               "," + std::to_string(s.checks) + "," + Seconds(s.medianSeconds) + "," +
               std::to_string(s.totalChecks) + "," + CsvField(s.lastStatus) + "," + CsvField(s.anonymity) +
               "," + CsvField(s.exitAddress) + "," + ProxyState(s.lastStatus) + "," + TrustOf(s.trust) +
               "\r\n";
        break;
      case Format::Json:
        out += first ? "\n{" : ",\n{";
        JsonField(out, "proxy", s.proxy, true);
        JsonNumber(out, "uptime", qb::Format("%.3f", s.Uptime()));
        JsonNumber(out, "successes", std::to_string(s.successes));
        JsonNumber(out, "recent_checks", std::to_string(s.checks));
        JsonNumber(out, "median", Seconds(s.medianSeconds));
        JsonNumber(out, "checks", std::to_string(s.totalChecks));
        JsonField(out, "last_status", s.lastStatus);
        JsonField(out, "state", ProxyState(s.lastStatus));
        JsonField(out, "anonymity", s.anonymity);
        JsonField(out, "exit_address", s.exitAddress);
        JsonField(out, "trust", TrustOf(s.trust));
        out += "}";
        break;
    }
    first = false;
  }
  if (format == Format::Json) out += first ? "]\n" : "\n]\n";
  return out;
}

std::string Results(const std::vector<HistoryRecord>& results, Format format) {
  std::string out;
  if (format == Format::Csv)
    out += "proxy,time,status,seconds,resource,anonymity,exit_address,state,trust\r\n";
  if (format == Format::Json) out += "[";
  bool first = true;
  for (const HistoryRecord& r : results) {
    const bool ok = r.code == VERIFY_OK;
    const std::string seconds = ok ? qb::Format("%.2f", r.seconds) : std::string();
    const char* state = ok ? "ok" : ProxyState(r.status);
    switch (format) {
      case Format::Line:
        out += UtcText(r.when) + " " + r.proxy + " " + OrDash(r.status) + " " + OrDash(seconds) + " " +
               OrDash(r.resource) + " " + OrDash(r.anonymity) + " " + OrDash(r.exitAddress) + "\n";
        break;
      case Format::Csv:
        out += CsvField(r.proxy) + "," + UtcText(r.when) + "," + CsvField(r.status) + "," + seconds + "," +
               CsvField(r.resource) + "," + CsvField(r.anonymity) + "," + CsvField(r.exitAddress) + "," +
               state + "," + TrustOf(r.trust) + "\r\n";
        break;
      case Format::Json:
        out += first ? "\n{" : ",\n{";
        JsonField(out, "proxy", r.proxy, true);
        JsonField(out, "time", UtcText(r.when));
        JsonField(out, "status", r.status);
        JsonField(out, "state", state);
        JsonNumber(out, "seconds", seconds);
        JsonField(out, "resource", r.resource);
        JsonField(out, "anonymity", r.anonymity);
        JsonField(out, "exit_address", r.exitAddress);
        JsonField(out, "trust", TrustOf(r.trust));
        if (!r.certSha256.empty()) JsonField(out, "cert_sha256", r.certSha256);
        out += "}";
        break;
    }
    first = false;
  }
  if (format == Format::Json) out += first ? "]\n" : "\n]\n";
  return out;
}

// history --check: the whole history checked; a damaged one moved aside and rebuilt.
int CheckHistory(const std::string& dataDir) {
  std::vector<std::string> found;
  std::string path;
  {
    const std::unique_ptr<DataDir> reader = OpenDataDirToRead(dataDir);
    path = reader->FilePath(DataFile::History);
    const HistoryOpening opening = reader->OpenHistoryToRead();
    if (opening.open) {
      found = reader->History()->Check();
    } else if (opening.problem == HistoryProblem::Damaged) {
      found.push_back(opening.reason);
    } else if (opening.problem == HistoryProblem::None) {
      Err("history: no verification history in " + reader->Path() + " yet");
      return kExitNotFound;
    } else {
      Err("history: cannot read " + path + " (" + HistoryProblemName(opening.problem) + ": " +
          opening.reason + ")");
      return kExitUnreadable;
    }
  }
  if (found.empty()) {
    Out(path + ": sound");
    return kExitOk;
  }
  for (const std::string& line : found) Err("history: " + path + ": " + line);
  // Moving the file is writing the directory: only with its lock.
  DataDir::OpenReport report;
  const std::unique_ptr<DataDir> dir = OpenDataDirToWrite("history", dataDir, report);
  if (!dir) return kExitBusy;
  if (report.holder == DataDir::Holder::Window)
    return RefuseForWindow("history", *dir, report, "close the window and check again");
  const HistoryOpening rebuilt = dir->RebuildHistory();
  if (!rebuilt.open) {
    Err("history: the damaged history could not be moved aside (" + rebuilt.reason + ")");
    return kExitUnwritable;
  }
  Out(qb::Format("%s: damaged; moved to %s, %lld results copied into a new one", path.c_str(),
                 rebuilt.movedAside.c_str(), static_cast<long long>(rebuilt.salvaged)));
  return kExitNotFound;
}

}  // namespace

int RunHistory(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kHistoryUsage));
    Out("\n" + Help(kStateHelp));
    return kExitOk;
  }
  Format format = Format::Line;
  int limit = 0;
  std::string proxy;
  bool check = false;
  for (int i = 0; i < args.size(); ++i) {
    QString a = args[i];
    QString value;
    const bool inlineValue = a.startsWith("--format=") || a.startsWith("--limit=");
    if (inlineValue) {
      value = a.section('=', 1);
      a = a.section('=', 0, 0);
    }
    if (a == "--format" || a == "--limit") {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          Err("history: " + a.toStdString() + " needs a value");
          return kExitUsage;
        }
        value = args[++i];
      }
      if (a == "--format") {
        if (value == "line") {
          format = Format::Line;
        } else if (value == "csv") {
          format = Format::Csv;
        } else if (value == "json") {
          format = Format::Json;
        } else {
          Err("history: unknown format: " + value.toStdString() + " (use line, csv or json)");
          return kExitUsage;
        }
      } else {
        bool ok = false;
        limit = value.toInt(&ok);
        if (!ok || limit < 1) {
          Err("history: --limit must be a positive number");
          return kExitUsage;
        }
      }
    } else if (a == "--check") {
      check = true;
    } else if (a.startsWith("-")) {
      Err("history: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli history --help' for usage.");
      return kExitUsage;
    } else if (!proxy.empty()) {
      Err("history: only one proxy may be given");
      return kExitUsage;
    } else {
      proxy = a.toStdString();
      // Something that names no proxy is a mistake on the line, not a proxy the
      // history happens to know nothing of.
      // Without a type it stands for every type at that address, so any type proves it.
      ProxyFields fields;
      const std::string asLine = proxy.find('@') == std::string::npos ? proxy + "@HTTP" : proxy;
      if (proxy.find_first_of("$# \t") != std::string::npos || !ParseProxyLine(asLine, fields)) {
        Err("history: " + proxy + " is no proxy (give ADDR:PORT or ADDR:PORT@TYPE)");
        return kExitUsage;
      }
      // The list names types in upper case, and each host in one spelling.
      if (const std::size_t at = proxy.find('@'); at != std::string::npos)
        proxy = proxy.substr(0, at + 1) + qb::AsciiUpper(proxy.substr(at + 1));
      if (const std::optional<ProxyHost> host = ParseProxyHost(fields.addr))
        proxy = host->text + proxy.substr(HostColon(proxy));
    }
  }

  if (check && (!proxy.empty() || limit > 0)) {
    Err("history: --check takes no proxy and no --limit");
    return kExitUsage;
  }
  if (check) return CheckHistory(dataDir);
  const std::unique_ptr<DataDir> dir = OpenDataDirToRead(dataDir);
  const HistoryOpening opening = dir->OpenHistoryToRead();
  if (!opening.open) {
    if (opening.problem == HistoryProblem::None) {
      Err("history: no verification history in " + dir->Path() + " yet");
      return kExitNotFound;
    }
    Err("history: cannot read " + dir->FilePath(DataFile::History) + " (" +
        HistoryProblemName(opening.problem) + ": " + opening.reason + ")");
    return kExitUnreadable;
  }
  CHistoryStore* store = dir->History();

  if (proxy.empty()) {
    std::vector<ProxyScore> scores = store->AllScores();
    if (limit > 0 && scores.size() > static_cast<std::size_t>(limit))
      scores.resize(static_cast<std::size_t>(limit));
    OutRaw(Scores(scores, format));
    return scores.empty() ? kExitNotFound : kExitOk;
  }
  const std::vector<HistoryRecord> results = store->Results(proxy, limit);
  if (results.empty()) Err("history: nothing recorded for " + proxy);
  OutRaw(Results(results, format));
  return results.empty() ? kExitNotFound : kExitOk;
}

}  // namespace qb::cli
