// quillberry-cli serve: the local endpoint without the window.
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "datadir/DataDir.h"
#include "endpoint/ControlApi.h"
#include "endpoint/Endpoint.h"
#include "endpoint/Net.h"
#include "history/History.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "settings/Options.h"

namespace qb::cli {

namespace {

constexpr const char* kServeUsage = QT_TRANSLATE_NOOP(
    "QuillberryHelp",
    "Usage: quillberry-cli serve [--data-dir DIR] [--listen ADDRESS:PORT]\n"
    "                            [--policy failover|round-robin|fastest] [--type TYPE[,TYPE]]\n"
    "                            [--api ADDRESS:PORT [--api-token TOKEN]]\n"
    "                            [--check-interval S] [--check-timeout S] [--lazy-after S]\n"
    "                            [--tolerance MS] [--failures N] [--set-aside S]\n"
    "                            [--set-aside-max S] [--close-tunnels yes|no]\n"
    "                            [--keep-targets yes|no] [--sticky-lease S]\n"
    "\n"
    "Runs the local endpoint: a proxy on ADDRESS:PORT that takes HTTP (requests and\n"
    "CONNECT) and SOCKS5 from browsers and tools, and carries each connection through\n"
    "one of the working proxies of the data directory's Proxies.pro, with the proxy's\n"
    "stored log-on. A proxy that fails is replaced by the next one before the client\n"
    "sees an error; one that keeps failing is set aside for a while (said on standard\n"
    "error). The proxies in use are checked on an interval against the ticked HTTP\n"
    "verification resource of Setting.dat; a proxy set aside comes back when a check\n"
    "passes. A client that names a session (a log-on user session-KEY, or the header\n"
    "X-Quillberry-Session) stays on one proxy while it uses it; --keep-targets yes\n"
    "keeps each target host on one proxy too. The list is read again whenever it\n"
    "changes on disk. Runs until Ctrl-C or SIGTERM. Nothing in the data\n"
    "directory is written.\n"
    "\n"
    "--listen ADDRESS:PORT  where to listen (default: Options.ini, else 127.0.0.1:8899).\n"
    "                       Only a loopback address serves this computer alone; any\n"
    "                       other must be named here and is reachable from the network\n"
    "--policy POLICY        which proxy carries a connection: failover (the fastest that\n"
    "                       works), round-robin (each connection the next one) or\n"
    "                       fastest (the shortest time measured so far); default:\n"
    "                       Options.ini, else failover\n"
    "--type TYPE[,TYPE]     use only proxies of these types (HTTP, HTTPS, SOCKS4,\n"
    "                       SOCKS5); default: Options.ini, else all of them\n"
    "--api ADDRESS:PORT     also serve the control API there: the pool as JSON (/pool,\n"
    "                       /count, /get), /mark-bad, /check and /metrics for\n"
    "                       Prometheus (default: [Api] Listen of Options.ini, else off).\n"
    "                       As with --listen, only a loopback address unless named here\n"
    "--api-token TOKEN      ask every API request for this token (Authorization: Bearer\n"
    "                       TOKEN); default: [Api] Token of Options.ini, else none\n"
    "--check-interval S     check each proxy in use every S seconds; 0: no checks\n"
    "--check-timeout S      how long a check's page may take once the proxy is through\n"
    "--lazy-after S         no checks while no client came for S seconds; 0: never rest\n"
    "--tolerance MS         fastest moves only to a proxy faster by more than MS\n"
    "--failures N           failures in a row (connections or checks) that set a proxy\n"
    "                       aside\n"
    "--set-aside S          its first time aside, doubled each time up to\n"
    "--set-aside-max S      this; then it is checked again\n"
    "--close-tunnels yes|no close the connections open through a proxy set aside\n"
    "                       Defaults: Options.ini, else 30, 10, 120, 150, 3, 30, 300, yes\n"
    "--keep-targets yes|no  every connection to one target host goes through one proxy\n"
    "--sticky-lease S       a session or target leaves its proxy S seconds after its\n"
    "                       last use; defaults: Options.ini, else no and 600\n"
    "\n"
    "Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on\n"
    "(named on standard error); 2 for bad arguments or an unreadable list.");

// The numeric options of the health checks, set-aside rules and stickiness: each sets
// the field of Options.ini's [Endpoint] that it names, within the same range.
struct NumberOption {
  const char* name;
  int lo, hi;
  int EndpointOptions::*field;
};
constexpr NumberOption kNumberOptions[] = {
    {"--check-interval", 0, kMaxCheckInterval, &EndpointOptions::checkInterval},
    {"--check-timeout", 1, kMaxCheckTimeout, &EndpointOptions::checkTimeout},
    {"--lazy-after", 0, kMaxLazyAfter, &EndpointOptions::lazyAfter},
    {"--tolerance", 0, kMaxTolerance, &EndpointOptions::tolerance},
    {"--failures", 1, kMaxFailuresToSetAside, &EndpointOptions::failuresToSetAside},
    {"--set-aside", 1, kMaxSetAside, &EndpointOptions::setAside},
    {"--set-aside-max", 1, kMaxSetAside, &EndpointOptions::setAsideMax},
    {"--sticky-lease", 1, kMaxStickyLease, &EndpointOptions::stickyLease},
};

struct ServeOptions {
  std::optional<ListenAddress> listen;
  std::optional<EndpointPolicy> policy;
  std::optional<std::vector<std::string>> types;
  std::optional<ListenAddress> api;
  std::optional<std::string> apiToken;
  std::vector<std::pair<int EndpointOptions::*, int>> numbers;
  std::optional<bool> closeTunnels;
  std::optional<bool> keepTargets;

  // Options.ini's endpoint options with these on top.
  EndpointOptions Over(EndpointOptions saved) const {
    for (const auto& [field, value] : numbers) saved.*field = value;
    for (const auto& [field, value] : numbers) {
      if (field == &EndpointOptions::checkInterval) saved.healthChecks = value != 0;
    }
    if (closeTunnels) saved.closeTunnels = *closeTunnels;
    if (keepTargets) saved.keepTargets = *keepTargets;
    if (policy) saved.policy = *policy;
    if (types) saved.types = *types;
    return saved;
  }
};

const NumberOption* FindNumberOption(const QString& name) {
  for (const NumberOption& n : kNumberOptions) {
    if (name == n.name) return &n;
  }
  return nullptr;
}

bool ParseServeOptions(const QStringList& args, ServeOptions& o) {
  for (int i = 0; i < args.size(); ++i) {
    QString a = args[i];
    QString value;
    const bool hasValue = a.startsWith("--") && a.contains('=');
    if (hasValue) {
      value = a.mid(a.indexOf('=') + 1);
      a = a.left(a.indexOf('='));
    }
    const bool known = a == "--listen" || a == "--policy" || a == "--type" || a == "--api" ||
                       a == "--api-token" || a == "--close-tunnels" || a == "--keep-targets" ||
                       FindNumberOption(a);
    if (!known) {
      Err("serve: unknown option: " + args[i].toStdString());
      Err("Run 'quillberry-cli serve --help' for usage.");
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        Err("serve: " + a.toStdString() + " needs a value");
        return false;
      }
      value = args[++i];
    }
    const std::string v = value.toStdString();
    if (const NumberOption* n = FindNumberOption(a)) {
      bool ok = false;
      const int number = value.toInt(&ok);
      if (!ok || number < n->lo || number > n->hi) {
        Err("serve: " + a.toStdString() + " takes a whole number from " + std::to_string(n->lo) + " to " +
            std::to_string(n->hi) + ", not " + v);
        return false;
      }
      o.numbers.emplace_back(n->field, number);
    } else if (a == "--close-tunnels" || a == "--keep-targets") {
      if (v != "yes" && v != "no") {
        Err("serve: " + a.toStdString() + " takes yes or no, not " + v);
        return false;
      }
      (a == "--close-tunnels" ? o.closeTunnels : o.keepTargets) = v == "yes";
    } else if (a == "--listen") {
      o.listen = ParseListenAddress(v);
      if (!o.listen) {
        Err("serve: --listen needs ADDRESS:PORT with a port from 1 to 65535, not " + v);
        return false;
      }
    } else if (a == "--api") {
      o.api = ParseListenAddress(v);
      if (!o.api) {
        Err("serve: --api needs ADDRESS:PORT with a port from 1 to 65535, not " + v);
        return false;
      }
    } else if (a == "--api-token") {
      if (v.empty() || v.find_first_of(" \t\r\n") != std::string::npos) {
        Err("serve: --api-token needs a token without spaces");
        return false;
      }
      o.apiToken = v;
    } else if (a == "--policy") {
      o.policy = ParsePolicy(v);
      if (!o.policy) {
        Err("serve: --policy must be failover, round-robin or fastest, not " + v);
        return false;
      }
    } else {
      std::vector<std::string> types;
      for (const QString& t : value.split(',', Qt::SkipEmptyParts)) {
        const std::string type = AsciiUpper(t.trimmed().toStdString());
        if (!IsEndpointType(type)) {
          Err("serve: --type takes HTTP, HTTPS, SOCKS4 or SOCKS5, not " + t.toStdString());
          return false;
        }
        types.push_back(type);
      }
      if (types.empty()) {
        Err("serve: --type needs at least one type");
        return false;
      }
      o.types = std::move(types);
    }
  }
  return true;
}

// What the history's latest results say of the proxies of the list's rows: their exit
// address, anonymity and trust, for the endpoint's view of them and for leaving out
// the ones that tamper. None without a history.
std::function<std::optional<VerifiedFacts>(const std::string&)> HistoryFacts(
    CHistoryStore* history, const std::vector<CProxyEntry>& rows) {
  if (!history || rows.empty()) return {};
  std::vector<std::string> lines;
  lines.reserve(rows.size());
  for (const CProxyEntry& e : rows) lines.push_back(UpstreamLine(e));
  auto scores = std::make_shared<std::unordered_map<std::string, ProxyScore>>(history->Scores(lines));
  if (scores->empty()) return {};
  return [scores](const std::string& line) -> std::optional<VerifiedFacts> {
    const auto it = scores->find(line);
    if (it == scores->end()) return std::nullopt;
    return VerifiedFacts{it->second.exitAddress, it->second.anonymity, it->second.trust};
  };
}

// The pool from the data directory's list; nullopt (after a message) when it cannot be read.
std::optional<UpstreamRows> LoadPool(DataDir& dir, const std::vector<std::string>& types) {
  // Only a row with a measured time can join the pool: a list of millions of rows is
  // mostly failures, and a list of every row cost several times the pool itself.
  std::vector<CProxyEntry> rows;
  if (const OpResult loaded = dir.ReadListRows([](const CProxyEntry& e) { return e.HasTime(); }, rows);
      !loaded) {
    Err("serve: " + loaded.Describe());
    return std::nullopt;
  }
  auto facts = HistoryFacts(dir.History(), rows);
  return UpstreamRowsFromEntries(std::move(rows), dir.Credentials(), types, facts,
                                 dir.Options().verify.leaveOutTampering, dir.Path());
}

}  // namespace

int RunServe(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kServeUsage));
    return kExitOk;
  }
  ServeOptions opt;
  if (!ParseServeOptions(args, opt)) return kExitUsage;

  // A reader of the data directory: no lock is taken and nothing is written, so the
  // window and the commands go on saving the list while this serves it.
  const std::unique_ptr<DataDir> dir = DataDir::Open(dataDir, DataDir::Access::Read);
  if (const OpResult loaded = dir->LoadOptions(); !loaded) return ReportFailure("serve", loaded);
  const ExtraOptions& saved = dir->Options();
  EndpointConfig config;
  config.listen = opt.listen ? *opt.listen
                             : ParseListenAddress(saved.endpoint.listen)
                                   .value_or(ListenAddress{"127.0.0.1", kDefaultEndpointPort});
  // An address others on the network may reach is served only when named here: a
  // hand-edited or planted Options.ini must not open the user's proxies to them.
  if (!opt.listen && !IsLoopbackHost(config.listen.host)) {
    Err("serve: Options.ini asks to listen on " + saved.endpoint.listen +
        ", which is not a loopback address and may be reachable from the network; nothing was "
        "started (name the address with --listen to listen there)");
    return kExitUsage;
  }
  // The API under the same rule: a wider address only when named here.
  std::optional<ListenAddress> apiListen = opt.api;
  if (!apiListen && !saved.api.listen.empty()) {
    apiListen = ParseListenAddress(saved.api.listen);
    if (apiListen && !IsLoopbackHost(apiListen->host)) {
      Err("serve: Options.ini asks for the control API on " + saved.api.listen +
          ", which is not a loopback address and may be reachable from the network; nothing was "
          "started (name the address with --api to listen there)");
      return kExitUsage;
    }
  }
  ApplyEndpointOptions(opt.Over(saved.endpoint), config);
  // The checks ask for the verification's own resource as Setting.dat ticks it; a
  // directory without one (never opened in the window) has no checks.
  dir->ReadSettings();
  ApplyCheckResource(dir->Settings(), config);
  config.goDirect = saved.WhenDown() == WhenProxyDown::Direct;
  config.dataDir = dir->Path();

  // The list and the log-ons: a new log-on for a proxy counts as much as a new proxy.
  const std::string listPath = dir->FilePath(DataFile::ProxyList);
  const std::string credentialsPath = dir->FilePath(DataFile::Credentials);
  using Seen = std::pair<std::optional<FileIdentity>, std::optional<FileIdentity>>;
  Seen seen{StatFileIdentity(listPath), StatFileIdentity(credentialsPath)};
  // The choice for when the proxies are down is followed as the window changes it.
  const std::string optionsPath = dir->FilePath(DataFile::Options);
  std::optional<FileIdentity> optionsSeen = StatFileIdentity(optionsPath);
  // Read only for what verification found of each proxy (exit address, anonymity); a
  // history that cannot be read leaves those unknown and serves all the same.
  dir->OpenHistoryToRead();
  auto pool = LoadPool(*dir, config.types);
  if (!pool) return kExitUnreadable;
  const size_t count = pool->rows.size();

  // Each client takes two descriptors, and a bulk transfer four more: the soft limit's
  // usual 1,024 would refuse clients long before the endpoint minds.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // The signals are taken by this thread alone, waiting for them below; the endpoint's
  // thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  CEndpoint endpoint(config);
  endpoint.OnSetAside([](const std::string& line, const std::string& reason) {
    if (reason.empty()) {
      std::fprintf(stderr, "serve: %s is used again\n", line.c_str());
    } else {
      std::fprintf(stderr, "serve: %s set aside: %s\n", line.c_str(), reason.c_str());
    }
  });
  endpoint.OnUnresolved([](const std::string& line, const std::string& error) {
    if (error.empty()) {
      std::fprintf(stderr, "serve: %s has an address again\n", line.c_str());
    } else {
      std::fprintf(stderr, "serve: %s left out: its name gives no address (%s)\n", line.c_str(),
                   error.c_str());
    }
  });
  endpoint.SetPool(std::move(*pool));
  if (const OpResult started = endpoint.Start(); !started) {
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    return ReportFailure("serve", started);
  }
  EndpointPoolControl control(endpoint, config.policy);
  std::unique_ptr<ControlApi> api;
  if (apiListen) {
    ControlApiConfig apiConfig;
    apiConfig.listen = *apiListen;
    apiConfig.token = opt.apiToken.value_or(saved.api.token);
    api = std::make_unique<ControlApi>(apiConfig, control);
    if (const OpResult started = api->Start(); !started) {
      api.reset();
      endpoint.Stop();
      pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
      return ReportFailure("serve", started);
    }
  }
  const std::string host =
      config.listen.host.find(':') != std::string::npos ? "[" + config.listen.host + "]" : config.listen.host;
  Out(Format("serve: listening on %s:%d with %zu proxies (%s)", host.c_str(), endpoint.Port(), count,
             PolicyName(config.policy)));
  if (api) {
    Out(Format("serve: control API on %s%s", HostPort(apiListen->host, api->Port()).c_str(),
               (opt.apiToken || !saved.api.token.empty()) ? " (token required)" : ""));
  }
  if (count == 0) Err("serve: the list has no working proxy to use; connections are refused until it has");
  std::fflush(stdout);

  for (;;) {
    const timespec wait{2, 0};
    const int sig = sigtimedwait(&stopSignals, nullptr, &wait);
    if (sig == SIGINT || sig == SIGTERM) break;
    if (const auto options = StatFileIdentity(optionsPath); options != optionsSeen) {
      optionsSeen = options;
      if (dir->LoadOptions()) {
        const bool goDirect = dir->Options().WhenDown() == WhenProxyDown::Direct;
        endpoint.SetGoDirect(goDirect);
        Err(Format("serve: when no proxy can carry a connection: %s",
                   WhenProxyDownName(dir->Options().WhenDown())));
      }
    }
    const Seen now{StatFileIdentity(listPath), StatFileIdentity(credentialsPath)};
    if (now == seen) continue;
    seen = now;
    // A list that cannot be read now (being replaced) keeps the pool it had.
    if (auto fresh = LoadPool(*dir, config.types)) {
      Err(Format("serve: the list changed; %zu proxies", fresh->rows.size()));
      endpoint.SetPool(std::move(*fresh));
    }
  }
  // The API asks the endpoint: it goes first.
  api.reset();
  endpoint.Stop();
  pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
  return kExitOk;
}

}  // namespace qb::cli
