// quillberry-cli verify: a run over all rows with the same control the window uses.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "datadir/DataDir.h"
#include "history/History.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "ui/Messages.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

namespace qb::cli {

std::string GuiFavoritesProfile() {
  return QFileInfo(QString::fromStdString(FavoritesProfilePath())).absolutePath().toStdString() +
         "/quillberry.INI";
}

namespace {

constexpr const char* kVerifyUsage = QT_TRANSLATE_NOOP(
    "QuillberryHelp",
    "Usage: quillberry-cli verify [--data-dir DIR] [--threads N] [--connect-timeout S]\n"
    "                             [--verify-timeout S] [--http URL FEATURE] [--ftp URL FEATURE]\n"
    "                             [--watchdog S] [--format FORMAT] [--type TYPE] [--working]\n"
    "                             [--shard K/N] [--resume OUTPUT]\n"
    "                             [--resume-history SINCE] [FILE]\n"
    "\n"
    "Verifies every proxy of FILE (any text, read as the import command reads a file),\n"
    "or without FILE the data directory's Proxies.pro, exactly as the button\n"
    "\"验证全部\" does, then prints each row as its list-file line in the list's final\n"
    "order (sorted by time). Proxies.pro (and the favourite marks in the profile) are\n"
    "written back only when the data directory's own list was verified; then every\n"
    "result is also recorded in the history (History.sqlite, see the history command).\n"
    "\n"
    "--threads N          proxies checked at once, 1 to 10000 (default: the settings'\n"
    "                     number of workers); --concurrency N is the same. The checks\n"
    "                     share a few event loops, not a thread each. The open-file\n"
    "                     limit is raised as far as the system allows; when it still\n"
    "                     cannot hold N checks, standard error says so and the run\n"
    "                     checks as many at once as it holds\n"
    "--connect-timeout S  connection time-out in seconds (default: the settings)\n"
    "--verify-timeout S   reply time-out in seconds, to the millisecond (e.g. 0.3):\n"
    "                     no byte for that long after the request ends a check\n"
    "                     (default: the settings)\n"
    "--http URL FEATURE   the HTTP resource: a page that must contain FEATURE\n"
    "--ftp URL FEATURE    the FTP resource (a log-on test). Without one, FTP proxies are\n"
    "                     skipped (they keep their texts; standard error counts them)\n"
    "                     With neither, the resources ticked in the settings are used;\n"
    "                     with either, exactly the ones given.\n"
    "--format jsonl       one JSON object per proxy (address, port, type, status,\n"
    "                     remark; checked, the UTC seconds of the check, and resource,\n"
    "                     the URL checked), printed as each result comes in, not sorted\n"
    "--resume OUTPUT      with FILE: skip the proxies that an earlier --format jsonl\n"
    "                     OUTPUT already holds (append the new run to it)\n"
    "--resume-history SINCE\n"
    "                     with FILE: skip the proxies that the data directory's history\n"
    "                     has a result for since SINCE: a span before now (90m, 36h, 7d,\n"
    "                     2w) or a date or time (2026-12-01, 2026-12-01T08:30, local\n"
    "                     time; a trailing Z for UTC)\n"
    "--shard K/N          with FILE: verify only share K of N (1 to N) of its proxies,\n"
    "                     chosen by a hash of each proxy's address, port and type, so\n"
    "                     that N machines given the same FILE verify disjoint shares\n"
    "                     whose outputs together cover it\n"
    "--watchdog S         seconds after which a transfer that has not ended is given up\n"
    "                     (default 90)\n"
    "--format FORMAT      how the rows are printed: line (the list-file lines, the\n"
    "                     default), url (type://address:port), csv (address,port,type,\n"
    "                     status,remark with a header; CR LF) or json (an array of\n"
    "                     objects with those keys)\n"
    "--type TYPE          print only the rows of one type (HTTP, HTTPS, SOCKS4, SOCKS5,\n"
    "                     FTP, GOPHER); every row is still verified and saved\n"
    "--working            print only the rows whose status is a measured time\n"
    "--credentials        with url, csv or json: also each proxy's user name and\n"
    "                     password (from FILE, or the data directory's store)\n"
    "\n"
    "With a judge page as the HTTP resource (one that echoes the request it received,\n"
    "with a \"REMOTE_ADDR = address\" line, as 'quillberry-cli judge' serves), each working\n"
    "proxy's anonymity (transparent, anonymous or elite) and exit address are printed\n"
    "too: line adds a tab, the anonymity, a tab and the exit address after the proxy's\n"
    "line; csv adds the columns anonymity and exit; json the keys anonymity and exit.\n"
    "A judge whose URL names a host with both an IPv4 and an IPv6 address (localhost,\n"
    "on which 'quillberry-cli judge' listens over both by default) is asked through\n"
    "each proxy over each family: a proxy that leaves over both has both exit\n"
    "addresses in its one exit field, IPv4 first (\"127.0.0.1, ::1\").\n"
    "\n"
    "A proxy may be named by an IPv6 address in brackets ([2001:db8::1]:1080) or by a\n"
    "host name. Each name is looked up once per run, beside the checks and within the\n"
    "connection time-out; a proxy waits for its name without taking a place among the\n"
    "checks at once, and its time counts from its connection. A name without an\n"
    "address gives \"域名无法解析\" (state unresolved).\n"
    "\n"
    "Progress goes to standard error: a bar on a terminal, otherwise one line per\n"
    "finished proxy. Ctrl-C stops the run like the stop button (rows not yet started\n"
    "keep their texts) and still prints and saves; a second Ctrl-C (or SIGTERM) gives\n"
    "up the rows in flight at once (they show \"未验证\").\n"
    "\n"
    "Exit status: 0 after a finished or stopped run; 1 when the run could not start\n"
    "(empty list, no HTTP resource, only FTP proxies and no FTP resource, ...); 2 for\n"
    "bad arguments (a bad format among them) or an unreadable file;\n"
    "3 when a data file could not be written (named on standard error); 4 when the\n"
    "data directory's own list is open in the window or being written by another\n"
    "command (nothing was verified; give a FILE, or verify in the window).");

// Ends the run when a signal arrives. The handler only writes a byte; the event loop
// does the rest.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
  const char c = static_cast<char>(sig);
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

bool ParseSeconds(const QString& text, int& ms) {
  bool ok = false;
  const double s = text.toDouble(&ok);
  if (!ok || !(s > 0) || s > 86400) return false;
  ms = static_cast<int>(s * 1000.0 + 0.5);
  if (ms < 1) ms = 1;
  return true;
}

std::string FormatDuration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  if (s >= 3600) return qb::Format("%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  return qb::Format("%ld:%02ld", s / 60, s % 60);
}

struct Options {
  int threads = 0;
  int connectMs = 0;
  int verifyMs = 0;
  int watchdogMs = 0;
  std::optional<std::pair<std::string, std::string>> http;
  std::optional<std::pair<std::string, std::string>> ftp;
  std::optional<std::string> file;
  qb::ExportOptions output;
  // --shard K/N: only the proxies whose identity falls into share K of N (1-based).
  int shard = 0;
  int shards = 0;
  // --format jsonl: one JSON object per proxy, printed as its result comes in.
  bool jsonl = false;
  // --resume FILE: the proxies of an earlier jsonl output are not verified again.
  std::optional<std::string> resume;
  // --resume-history SINCE: nor the proxies the history has a result for since then.
  std::optional<std::int64_t> checkedSince;
  // Off a terminal, a line per finished proxy on standard error; a job whose output
  // goes to a journal says only what went wrong.
  bool rowLines = true;
};

// The identities of the proxies an earlier jsonl output holds; lines that are not
// such objects (a run cut off mid-line) are passed over.
std::set<std::string> ProxiesOfJsonLines(const std::string& text) {
  std::set<std::string> keys;
  qb::ForEachLine(text, [&](std::string_view line) {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
    if (o.isEmpty()) return;
    // The port is a number since the state came in; older outputs wrote it as a text.
    const QJsonValue port = o.value("port");
    keys.insert(
        CredentialsKey(o.value("address").toString().toStdString(),
                       port.isDouble() ? std::to_string(port.toInteger()) : port.toString().toStdString(),
                       o.value("type").toString().toStdString()));
  });
  return keys;
}

// The proxies the data directory's history has a result for since a point in time. A
// directory without a history has none: nothing is skipped, and no history is made.
void AddCheckedSince(DataDir& dir, std::int64_t since, std::set<std::string>& keys) {
  const HistoryOpening opening = dir.OpenHistoryToRead();
  if (!dir.History()) {
    if (!opening.reason.empty())
      Err("verify: the history cannot be read (" + opening.reason + "); no proxy is skipped for it");
    return;
  }
  for (const std::string& name : dir.History()->ProxiesCheckedSince(since))
    keys.insert(CredentialsKeyOfLine(name));
}

// One object a line, with the keys and values of an element of --format json: the port
// a number, the English state beside the stored status.
// checked and resource say which check the line reports, so that a merge on another
// machine records it in that machine's history once, at the time it was made.
// trust is the check's verdict (a TrustWord), cert the certificate an https:// resource
// presented through the proxy.
struct CheckMade {
  std::int64_t when = 0;
  std::string resource;
  std::string trust = TrustWord(Trust::Unchecked);
  std::string cert;
};

std::string JsonLine(const CProxyEntry& e, const std::string& anonymity, const std::string& exit,
                     const CheckMade& check) {
  std::string out = "{\"address\":";
  AppendJsonString(out, e.Addr());
  out += ",\"port\":";
  AppendJsonPort(out, e.Port());
  const std::string status = e.TimeStatus();
  const std::pair<const char*, std::string> fields[] = {{",\"type\":", std::string(e.Type())},
                                                        {",\"status\":", status},
                                                        {",\"state\":", ProxyState(status)},
                                                        {",\"remark\":", std::string(e.Remark())}};
  for (const auto& [key, value] : fields) {
    out += key;
    AppendJsonString(out, value);
  }
  if (!anonymity.empty()) {
    out += ",\"anonymity\":";
    AppendJsonString(out, anonymity);
    out += ",\"exit\":";
    AppendJsonString(out, exit);
  }
  out += ",\"trust\":";
  AppendJsonString(out, check.trust);
  if (!check.cert.empty()) {
    out += ",\"cert_sha256\":";
    AppendJsonString(out, check.cert);
  }
  if (check.when > 0) {
    out += ",\"checked\":" + std::to_string(check.when) + ",\"resource\":";
    AppendJsonString(out, check.resource);
  }
  out += "}\n";
  return out;
}

// The share of a proxy among N: a hash of its identity, the same on every machine and
// in every run, so that N machines given the same list verify disjoint shares whose
// union is the list.
int ShareOf(std::string_view line, int shards) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (const char c : CredentialsKeyOfLine(line)) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return static_cast<int>(h % static_cast<std::uint64_t>(shards));
}

// False (after a message) when the arguments are wrong.
bool ParseOptions(const std::string& command, const QStringList& args, Options& o) {
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto need = [&](int count) {
      if (i + count < args.size()) return true;
      Err(command + ": " + a.toStdString() + " needs " +
          (count == 1 ? "a value" : "a URL and a feature string"));
      return false;
    };
    if ((a == "--format" && i + 1 < args.size() && args[i + 1] == "jsonl") || a == "--format=jsonl") {
      o.jsonl = true;
      if (a == "--format") ++i;
      continue;
    }
    if (a == "--resume") {
      if (!need(1)) return false;
      o.resume = args[++i].toStdString();
      continue;
    }
    if (a == "--resume-history") {
      if (!need(1)) return false;
      o.checkedSince = ParseHistorySince(args[++i].toStdString(), HistoryNow());
      if (!o.checkedSince) {
        Err(command + ": --resume-history needs a span such as 36h or 7d, or a date such as 2026-12-01");
        return false;
      }
      continue;
    }
    const OutputOption taken = TakeOutputOption(command, args, i, o.output);
    if (taken == OutputOption::Bad) return false;
    if (taken == OutputOption::Taken) continue;
    if (a == "--threads" || a == "--concurrency") {
      if (!need(1)) return false;
      bool ok = false;
      o.threads = args[++i].toInt(&ok);
      if (!ok || o.threads < kMinThreadNumber || o.threads > kMaxEngineChecks) {
        Err(command + ": " + a.toStdString() + " must be a number from 1 to 10000");
        return false;
      }
    } else if (a == "--shard") {
      if (!need(1)) return false;
      const QStringList parts = args[++i].split('/');
      bool okK = false, okN = false;
      if (parts.size() == 2) {
        o.shard = parts[0].toInt(&okK);
        o.shards = parts[1].toInt(&okN);
      }
      if (!okK || !okN || o.shards < 1 || o.shard < 1 || o.shard > o.shards) {
        Err(command + ": --shard must be K/N with 1 <= K <= N");
        return false;
      }
    } else if (a == "--connect-timeout" || a == "--verify-timeout" || a == "--watchdog") {
      if (!need(1)) return false;
      int& target = a == "--connect-timeout"  ? o.connectMs
                    : a == "--verify-timeout" ? o.verifyMs
                                              : o.watchdogMs;
      if (!ParseSeconds(args[++i], target)) {
        Err(command + ": " + a.toStdString() + " must be a positive number of seconds");
        return false;
      }
    } else if (a == "--http" || a == "--ftp") {
      if (!need(2)) return false;
      std::string url = args[i + 1].toStdString();
      std::string feature = args[i + 2].toStdString();
      i += 2;
      const int want = a == "--http" ? kProtocolHttp : kProtocolFtp;
      if (GetUrlProtocol(url) != want) {
        Err(command + ": " + a.toStdString() + " needs a URL beginning with " +
            (want == kProtocolHttp ? "http:// or https://" : "ftp://"));
        return false;
      }
      (a == "--http" ? o.http : o.ftp) = std::make_pair(std::move(url), std::move(feature));
    } else if (a.startsWith("-") && a != "-") {
      Err(command + ": unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli " + command + " --help' for usage.");
      return false;
    } else if (o.file) {
      Err(command + ": only one FILE may be given");
      return false;
    } else {
      o.file = a.toStdString();
    }
  }
  return true;
}

// Progress on standard error.
class ProgressPrinter {
 public:
  ProgressPrinter(const CProxyListModel& list, const CVerifyControl& control, bool rowLines)
      : m_list(list), m_control(control), m_tty(::isatty(STDERR_FILENO) == 1), m_rowLines(rowLines) {
    m_clock.start();
  }
  void SetTotal(int total) { m_total = total; }
  void RowDone(int row, const QString& text) {
    ++m_done;
    if (m_tty) {
      if (m_lastDraw.isValid() && m_lastDraw.elapsed() < 100) return;
      Draw();
    } else if (m_rowLines) {
      Err(m_list.GetProxyLine(row) + " " + text.toStdString());
    }
  }
  void Draw() {
    if (!m_tty || m_total <= 0) return;
    m_lastDraw.start();
    constexpr int kWidth = 24;
    const int filled = static_cast<int>(static_cast<long long>(kWidth) * m_done / m_total);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '-');
    std::string left = "--:--";
    const double elapsed = m_clock.elapsed() / 1000.0;
    if (m_done > 0) left = FormatDuration(elapsed / m_done * (m_total - m_done));
    const std::string line =
        qb::Format("\r[%s] %d/%d  busy %d  elapsed %s  left %s ", bar.c_str(), m_done, m_total,
                   m_control.BusyWorkers(), FormatDuration(elapsed).c_str(), left.c_str());
    std::fputs(line.c_str(), stderr);
    std::fputs("\x1b[K", stderr);
    std::fflush(stderr);
    m_drawn = true;
  }
  void Finish() {
    if (!m_tty) return;
    Draw();
    if (m_drawn) std::fputc('\n', stderr);
  }
  void Note(const std::string& text) {
    if (m_tty && m_drawn) std::fputc('\n', stderr);
    Err(text);
  }

 private:
  const CProxyListModel& m_list;
  const CVerifyControl& m_control;
  const bool m_tty;
  const bool m_rowLines;
  QElapsedTimer m_clock;
  QElapsedTimer m_lastDraw;
  int m_total = 0;
  int m_done = 0;
  bool m_drawn = false;
};

}  // namespace

namespace {

// Options that only make sense together with others; false after a message.
bool CheckOptions(const Options& opt) {
  // A share of the directory's own list would write the whole list back with the other
  // shares' rows unverified.
  if (opt.shards > 0 && !opt.file) {
    Err("verify: --shard needs a FILE; every machine is given the same one");
    return false;
  }
  if (opt.resume && !opt.file) {
    Err("verify: --resume needs a FILE; the data directory's own list is verified whole");
    return false;
  }
  if (opt.checkedSince && !opt.file) {
    Err("verify: --resume-history needs a FILE; the data directory's own list is verified whole");
    return false;
  }
  return true;
}

// Reads what a run needs besides the lock: the settings (the built-in resources only
// held, never written), and for the directory's own list the options, the list itself
// unless the caller has read it already, and the history. False with *exitCode set
// when the run cannot go on; true with *exitCode kExitUnwritable when it can but its
// results will not all be recorded.
bool PrepareRun(const Options& opt, DataDir& dir, const std::string& command, bool loadList, int* exitCode,
                HistoryOpening* historyOpening = nullptr) {
  // A command writes no settings: the built-in resources, when the directory has
  // none, are only used, and only said when the run is to reach them.
  bool defaultsInstalled = false;
  const qb::OpResult settingsLoaded = dir.LoadSettings(&defaultsInstalled, DataDir::BuiltInResources::Hold);
  if (settingsLoaded.status == qb::OpStatus::ReadFailed) {
    *exitCode = ReportFailure(command, settingsLoaded);
    return false;
  }
  if (defaultsInstalled && !opt.http && !opt.ftp) {
    std::string hosts;
    for (const std::string& host : CheckedResourceHosts(dir.Settings()))
      hosts += (hosts.empty() ? "" : ", ") + host;
    Err(command + ": " +
        std::string(dir.Exists(DataFile::Settings) ? "Setting.dat holds no verification resource"
                                                   : "no Setting.dat") +
        " in " + dir.Path() + ": verifying against the built-in resources, which reach " + hosts +
        " (give --http URL FEATURE, or choose a resource in the window's settings)");
  }
  *exitCode = kExitOk;
  // Options.ini that cannot be read leaves the defaults; the run does not need it. A
  // file's proxies are checked with its [Verify] trust too.
  (void)dir.LoadOptions();
  if (!opt.file) {
    if (loadList) {
      if (const qb::OpResult loaded = dir.LoadList(); !loaded) {
        *exitCode = ReportFailure(command, loaded);
        return false;
      }
    }
    // The history belongs to the directory's list; a file's proxies are not recorded.
    // One that cannot be opened does not stop the run, but its results go unrecorded:
    // the status says a data file was left unwritten.
    const HistoryOpening history = dir.OpenHistory();
    if (historyOpening) *historyOpening = history;
    ReportHistoryOpening(dir, history);
    if (!history.open && history.problem != HistoryProblem::None) *exitCode = kExitUnwritable;
  }
  return true;
}

// The data directory of the run. Its own list is written back at the end: nobody else
// may write it meanwhile, and a window that has it open would overwrite the results.
// nullptr with *exitCode set when the run cannot go on.
std::unique_ptr<DataDir> OpenForRun(const Options& opt, const std::string& path, int* exitCode) {
  std::unique_ptr<DataDir> dir;
  if (opt.file) {
    dir = OpenDataDirToRead(path);
  } else {
    DataDir::OpenReport report;
    dir = OpenDataDirToWrite("verify", path, report);
    if (!dir) {
      *exitCode = kExitBusy;
      return nullptr;
    }
    if (report.holder == DataDir::Holder::Window) {
      *exitCode =
          RefuseForWindow("verify", *dir, report, "verify the list in the window, or give a FILE to verify");
      return nullptr;
    }
  }
  if (!PrepareRun(opt, *dir, "verify", /*loadList=*/true, exitCode)) return nullptr;
  return dir;
}

// The time-outs and resources given on the command line, for this run only.
void ApplyRunSettings(const Options& opt, CSettings& settings) {
  if (opt.connectMs) g_nConnectTimeoutMs = opt.connectMs;
  if (opt.verifyMs) g_nVerifyTimeoutMs = opt.verifyMs;
  if (opt.http || opt.ftp) {
    // The resources given here replace the ticked ones for this run only.
    settings.m_aVerifySources.clear();
    if (opt.http) settings.m_aVerifySources.push_back({"http", opt.http->first, opt.http->second, 1});
    if (opt.ftp) settings.m_aVerifySources.push_back({"ftp", opt.ftp->first, opt.ftp->second, 1});
  }
}

// The proxies of FILE, less those of other shares and those done before; their log-ons
// go to credentials. An exit code when the file cannot be read, else kExitOk.
int ReadFileProxies(const Options& opt, DataDir& dir, CProxyListModel& list,
                    CProxyCredentialStore& credentials) {
  std::set<std::string> done;
  if (opt.resume) {
    // The output of a run that never started is a resumable nothing.
    if (const auto earlier = qb::ReadWholeFile(*opt.resume)) done = ProxiesOfJsonLines(*earlier);
  }
  if (opt.checkedSince) AddCheckedSince(dir, *opt.checkedSince, done);
  std::string error;
  const auto bytes = qb::ReadWholeFile(*opt.file, &error);
  if (!bytes)
    return ReportFailure("verify", qb::OpResult::Failure(qb::OpStatus::ReadFailed, *opt.file, error));
  CProxyListModel::BulkAppend bulk(list);
  ExtractFileText(*bytes, dir.Settings().m_bAmbiguous != 0,
                  [&](std::string_view line, const FoundCredentials* c) {
                    if (opt.shards > 0 && ShareOf(line, opt.shards) != opt.shard - 1) return;
                    if (!done.empty() && done.count(CredentialsKeyOfLine(line))) return;
                    list.AddProxyLine(line, 0);
                    if (c) credentials.Set(CredentialsKeyOfLine(line), *c);
                  });
  return kExitOk;
}

// How the control runs its checks, and what it does with FTP rows it cannot check.
void ConfigureControl(const Options& opt, const CSettings& settings, const CProxyListModel& list,
                      CVerifyControl& control) {
  // A command cannot answer the window's question about FTP rows, and must not send
  // them to the public fallback server unasked.
  control.SetFtpWithoutResource(CVerifyControl::FtpWithoutResource::Skip);
  if (GetCheckedVerifySources(settings).ftpUrl.empty()) {
    int ftpRows = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
      if (qb::AsciiCaseEqual(list.Entry(row)->Type(), "FTP")) ++ftpRows;
    }
    if (ftpRows > 0) {
      Err(qb::Format("verify: %d FTP %s skipped: no FTP resource (check them with --ftp URL FEATURE)",
                     ftpRows, ftpRows == 1 ? "proxy" : "proxies"));
    }
  }
  if (opt.watchdogMs) {
    control.SetWatchdogPeriod(opt.watchdogMs);
    // A transfer normally ends by itself before the watchdog has to give it up.
    control.SetTransferCap(std::max(1000, std::min(kDefaultVerifyCapMs, opt.watchdogMs / 9 * 8)));
  }
  // The command line runs its checks on the engine, as many at once as asked and as
  // the open-file limit holds; the settings' number (the window's threads) is the
  // default.
  const int wanted =
      opt.threads ? opt.threads : std::clamp(settings.m_nThreadNumber, kMinThreadNumber, kMaxThreadNumber);
  const int fit = FitOpenFileLimit(wanted);
  if (fit < wanted) {
    Err(qb::Format("verify: the open-file limit holds %d concurrent checks, not %d; running %d at once", fit,
                   wanted, fit));
  }
  control.SetEngineChecks(fit);
}

// The exit field: each family's exit address, IPv4 first, in one text that every
// reader of an output (merge among them) takes as the one field it always was.
std::string ExitText(const VerifyResult& r) {
  if (r.exitAddresses.empty()) return r.exitAddress;
  std::string text;
  for (const std::string& a : r.exitAddresses) text += (text.empty() ? "" : ", ") + a;
  return text;
}

// What judge pages said about the proxies, by row entry.
using JudgedRows = std::map<const CProxyEntry*, ExportJudged>;

// Ctrl-C stops the run like the stop button; a second one (or SIGTERM) gives up the
// checks in flight. The handler only writes a byte; the event loop does the rest.
class StopSignals {
 public:
  StopSignals(CVerifyControl& control, ProgressPrinter& progress) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, &control, &progress] {
      char c = 0;
      if (::read(g_signalPipe[0], &c, 1) != 1) return;
      ++m_count;
      if (c == SIGINT && m_count == 1) {
        progress.Note(
            "verify: stopping; the proxies being verified finish first (Ctrl-C again to give them up)");
        control.RequestStop();
      } else if (!m_abandoned) {
        m_abandoned = true;
        progress.Note("verify: giving up the proxies in flight");
        control.AbandonVerification();
      }
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
  ~StopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
    if (g_signalPipe[0] >= 0) {
      ::close(g_signalPipe[0]);
      ::close(g_signalPipe[1]);
      g_signalPipe[0] = g_signalPipe[1] = -1;
    }
  }
  bool Abandoned() const { return m_abandoned; }

 private:
  std::unique_ptr<QSocketNotifier> m_notifier;
  int m_count = 0;
  bool m_abandoned = false;
};

// Runs the control over the list until it is idle; returns the exit code of the run.
int RunControl(const Options& opt, DataDir* ownList, CProxyListModel& list, CVerifyControl& control,
               JudgedRows& judged) {
  int exitCode = kExitOk;
  // What judge pages told about the proxies, taken from the answers before the
  // control writes them.
  QObject::connect(&control, &CVerifyControl::ResultArrived, [&](const VerifyResult& r) {
    if (r.status != VERIFY_OK || r.anonymity.empty()) return;
    if (const CProxyEntry* e = list.Entry(r.row)) judged[e] = {r.anonymity, ExitText(r)};
  });
  QObject::connect(&control, &CVerifyControl::Notice, [](RunNotice notice) {
    const NoticeText t = RunNoticeText(notice);
    Err(qb::TrStd(t.caption) + ": " + qb::TrLines(t.text).toStdString());
  });

  ProgressPrinter progress(list, control, opt.rowLines);
  // Results the history could not take are said, and the run ends as one that could not
  // write a data file: the figures that come from the history lack them.
  QObject::connect(&control, &CVerifyControl::HistoryNotRecorded,
                   [&](int count, HistoryProblem problem, const QString& reason) {
                     progress.Note("verify: " + HistoryLostText(count, problem, reason,
                                                                ownList ? ownList->FilePath(DataFile::History)
                                                                        : std::string())
                                                    .toStdString());
                     exitCode = kExitUnwritable;
                   });
  QObject::connect(&control, &CVerifyControl::ListSaved, [&](const qb::OpResult& result) {
    if (const int code = ReportFailure("verify", result); code != kExitOk) exitCode = code;
  });
  QObject::connect(&control, &CVerifyControl::ProgressRange,
                   [&](int, int upper) { progress.SetTotal(upper); });
  // ResultArrived, then RowChecked come just before the RowVerified of the same row.
  CheckMade lastCheck;
  QObject::connect(&control, &CVerifyControl::ResultArrived, [&](const VerifyResult& r) {
    lastCheck.trust = TrustWord(r.trust);
    lastCheck.cert = r.certSha256;
  });
  QObject::connect(&control, &CVerifyControl::RowChecked, [&](int, qint64 when, const QString& resource) {
    lastCheck.when = when;
    lastCheck.resource = resource.toStdString();
  });
  QObject::connect(&control, &CVerifyControl::RowVerified, [&](int row, const QString& text) {
    progress.RowDone(row, text);
    // Streamed, so that a run of millions can be piped, and resumed after a cut.
    if (!opt.jsonl) return;
    if (const CProxyEntry* e = list.Entry(row)) {
      const auto it = judged.find(e);
      const bool judgedNow = it != judged.end() && IsTimeText(e->TimeStatus());
      OutRaw(JsonLine(*e, judgedNow ? it->second.anonymity : std::string(),
                      judgedNow ? it->second.exitAddress : std::string(), lastCheck));
      std::fflush(stdout);
    }
  });
  QObject::connect(&control, &CVerifyControl::Idle, [] { QCoreApplication::exit(0); });
  QTimer redraw;
  QObject::connect(&redraw, &QTimer::timeout, [&] { progress.Draw(); });
  redraw.start(500);

  StopSignals stop(control, progress);
  control.OnVerifyAll();
  // Refused before anything started; the reason went to standard error.
  if (control.IsIdle()) return kExitNotFound;
  QCoreApplication::exec();
  progress.Finish();
  if (stop.Abandoned()) {
    // An abandoned run ends without the run's own ending; do its work here so the
    // results so far are kept.
    list.SortRows(CProxyListModel::ColTimeStatus, true);
    if (ownList) {
      if (const int code = ReportFailure("verify", ownList->SaveList()); code != kExitOk) exitCode = code;
    }
  }
  if (ownList) ownList->SaveFavorites();
  return exitCode;
}

}  // namespace

int RunVerify(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kVerifyUsage));
    Out("\n" + Help(kStateHelp));
    return kExitOk;
  }
  Options opt;
  if (!ParseOptions("verify", args, opt) || !CheckOptions(opt)) return kExitUsage;
  int exitCode = kExitOk;
  const std::unique_ptr<DataDir> dir = OpenForRun(opt, dataDir, &exitCode);
  if (!dir) return exitCode;
  ApplyRunSettings(opt, dir->Settings());

  // A file's proxies bring their own log-ons; the list's are in the data directory.
  CProxyListModel fileList;
  CProxyCredentialStore fileCredentials;
  if (opt.file) {
    if (const int code = ReadFileProxies(opt, *dir, fileList, fileCredentials); code != kExitOk) return code;
  }
  CProxyListModel& list = opt.file ? fileList : dir->List();
  JudgedRows judged;
  {
    std::unique_ptr<CVerifyControl> control;
    if (opt.file) {
      control = std::make_unique<CVerifyControl>(fileList, dir->Settings());
      control->SetCredentials(fileCredentials);
      control->SetVerifyOptions(dir->Options().verify);
    } else {
      control = std::make_unique<CVerifyControl>(*dir);
      control->SetHistory(dir->Recorder());
      control->SetFavoritesByScore(dir->Recorder() && dir->Options().history.favoritesByScore);
    }
    ConfigureControl(opt, dir->Settings(), list, *control);
    if (const int code = RunControl(opt, opt.file ? nullptr : dir.get(), list, *control, judged);
        code != kExitOk)
      exitCode = code;
  }

  if (!opt.jsonl) {
    const CProxyCredentialStore& logOns = opt.file ? fileCredentials : dir->Credentials();
    opt.output.credentials = [&logOns](const CProxyEntry& e) { return logOns.Find(e); };
    if (!judged.empty()) {
      // A row shows what its own last answer said: one given up by the watchdog does not.
      opt.output.judged = [&judged](const CProxyEntry& e) -> std::optional<ExportJudged> {
        const auto it = judged.find(&e);
        if (it == judged.end() || !IsTimeText(e.TimeStatus())) return std::nullopt;
        return it->second;
      };
    }
    PrintList(list, opt.output);
  }
  std::fflush(stdout);

  // The workers were told to quit; none may still be running when the process ends.
  if (!CVerifyControl::DrainWorkers(1500)) {
    std::fflush(stderr);
    ::_exit(exitCode);
  }
  return exitCode;
}

bool CheckHeldListOptions(const std::string& command, const QStringList& args) {
  Options opt;
  return ParseOptions(command, args, opt);
}

int VerifyHeldList(const std::string& command, const QStringList& args, DataDir& dir,
                   HistoryOpening* historyOpening) {
  Options opt;
  if (!ParseOptions(command, args, opt)) return kExitUsage;
  opt.rowLines = false;
  int exitCode = kExitOk;
  if (!PrepareRun(opt, dir, command, /*loadList=*/false, &exitCode, historyOpening)) return exitCode;
  ApplyRunSettings(opt, dir.Settings());
  JudgedRows judged;
  CVerifyControl control(dir);
  control.SetHistory(dir.Recorder());
  control.SetFavoritesByScore(dir.Recorder() && dir.Options().history.favoritesByScore);
  ConfigureControl(opt, dir.Settings(), dir.List(), control);
  if (const int code = RunControl(opt, &dir, dir.List(), control, judged); code != kExitOk) exitCode = code;
  return exitCode;
}

}  // namespace qb::cli
