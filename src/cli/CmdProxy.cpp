#include <optional>
#include <string>

#include "base/Files.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "datadir/DataDir.h"
#include "endpoint/Endpoint.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "sysproxy/SystemProxy.h"
#include "ui/Messages.h"

namespace qb::cli {

namespace {

// The mode the program itself would use: the setting in the data directory. Without a
// Setting.dat the default stands; nothing is written for a mere look-up.
int ModeFromSettings(DataDir& dir) {
  // A Setting.dat that cannot be read leaves the default mode; the change itself says
  // what it could not do.
  (void)dir.ReadSettings();
  return dir.Settings().m_nAutoProxyConfig;
}

// The failover chain the window would list: the favourites of the data directory's
// list, fastest first. A list or a profile that cannot be read gives no favourites;
// the proxy being set is then the whole chain.
std::vector<std::string> FavoritesOf(DataDir& dir) {
  if (dir.List().RowCount() == 0) {
    if (!dir.LoadList()) return {};
    dir.RestoreFavorites();
  }
  if (!dir.Options().verify.leaveOutTampering) return FavoriteProxyLines(dir.List());
  (void)dir.OpenHistoryToRead();
  if (!dir.History()) return FavoriteProxyLines(dir.List());
  const std::unordered_set<std::string> tampering = dir.History()->TamperingProxies();
  return FavoriteProxyLines(dir.List(),
                            [&](const CProxyEntry& e) { return tampering.count(FormatProxyLine(e)) > 0; });
}

// The data directory a change of the desktop's proxy writes into (proxy.pac, the
// record of the desktop's earlier setting), which the window keeps in step with the
// desktop and its tray menu: nullptr, with the exit status, while another holds it.
std::unique_ptr<DataDir> OpenForChange(const std::string& dataDir, const char* windowHint, int& exitCode) {
  DataDir::OpenReport report;
  std::unique_ptr<DataDir> dir = OpenDataDirToWrite("proxy", dataDir, report);
  if (!dir) {
    exitCode = kExitBusy;
    return nullptr;
  }
  if (report.holder == DataDir::Holder::Window) {
    exitCode = RefuseForWindow("proxy", *dir, report, windowHint);
    return nullptr;
  }
  return dir;
}

// The system proxy as the window would set it up from the directory: the mode (a
// negative one: the settings'), the script's options, the endpoint's address and the
// favourites for the failover chain.
void ConfigureAsTheWindow(CSystemProxy& proxy, DataDir& dir, int mode) {
  proxy.SetAutoProxyConfig(mode < 0 ? ModeFromSettings(dir) : mode);
  // Options.ini that cannot be read leaves the defaults: the proxy alone, no DIRECT.
  if (const qb::OpResult loaded = dir.LoadOptions(); !loaded) (void)ReportFailure("proxy", loaded);
  proxy.SetScriptOptions(dir.Options().script);
  proxy.SetEndpointListen(dir.Options().endpoint.listen);
  proxy.SetFavoritesSource([&dir] { return FavoritesOf(dir); });
}

// Says what went wrong, in the order it happened, and returns the exit status: the
// desktop's failures in the program's own words (status 1), a file naming it (status
// 2 for the template that cannot be read, 3 for proxy.pac that cannot be written).
int ReportChange(const ProxyChangeResult& result) {
  int exitCode = kExitOk;
  if (!result.query) Err(qb::TrStd(kCaptionQueryProxy) + ": " + qb::TrStd(kMsgQueryFailed));
  if (!result.query) exitCode = kExitNotFound;
  const int scriptCode = ReportFailure("proxy", result.script);
  for (std::size_t i = 0; i < result.connections.size(); ++i) {
    Err(qb::TrStd(kCaptionSetProxyFailed) + ": " + qb::TrStd(kMsgSetProxyFailed));
    exitCode = kExitNotFound;
  }
  if (result.kept.status == qb::OpStatus::QueryFailed) {
    Err(qb::TrStd(kCaptionQueryProxy) + ": " + qb::TrStd(kMsgQueryFailed));
    exitCode = kExitNotFound;
  } else if (!result.kept) {
    Err(qb::TrStd(kCaptionSetProxyFailed) + ": " + qb::TrStd(kMsgSetProxyFailed));
    Err("proxy: " + result.kept.error);
    exitCode = kExitNotFound;
  }
  // A file the user has to mend weighs more than the desktop's refusal.
  return scriptCode != kExitOk ? scriptCode : exitCode;
}

}  // namespace

int RunProxy(const QStringList& argsIn, const std::string& dataDir) {
  if (WantsHelp(argsIn) || argsIn.isEmpty()) {
    const std::string usage = Help(QT_TRANSLATE_NOOP(
        "QuillberryHelp",
        "Usage: quillberry-cli proxy get\n"
        "       quillberry-cli proxy set TEXT [--mode 0|1|2]\n"
        "       quillberry-cli proxy clear [--mode 0|1|2]\n"
        "       quillberry-cli proxy repair\n"
        "\n"
        "get    prints the desktop's proxy server (empty line when none is stored).\n"
        "set    makes TEXT (address:port, or a proxy line address:port@type) the desktop's\n"
        "       proxy and prints what was set, as address:port@TYPE (nothing when the\n"
        "       desktop did not keep it). A TEXT that is no valid proxy, or with --mode 0\n"
        "       a GOPHER proxy (the desktop has no entry for it), is refused and the\n"
        "       desktop's settings are left as they were. The address may be an IPv6\n"
        "       address in brackets ([2001:db8::1]:8080) or a host name (gw.example:8080);\n"
        "       it is printed, and stored, as the proxy list writes it.\n"
        "clear  gives the desktop back the proxy setting it had before this program first\n"
        "       set one (the user's own proxy, or none); without such a record it clears\n"
        "       the desktop's proxy.\n"
        "repair when the desktop still points at a proxy or local endpoint this program\n"
        "       set and nothing answers there (the program did not exit normally), gives\n"
        "       the desktop its earlier setting back, or, when Options.ini says to block\n"
        "       (SystemProxy/WhenDown), leaves it and says so. Nothing to repair prints\n"
        "       nothing. The user service quillberry-repair.service runs it at log-in\n"
        "       (systemctl --user enable quillberry-repair.service).\n"
        "set and clear write proxy.pac into the data directory, as the program does,\n"
        "       then read the desktop's settings back: a store that accepted the change\n"
        "       but did not keep it (no session bus or settings service) is a failure.\n"
        "--mode 0 sets the proxy directly, 1 through the default auto-config script,\n"
        "       2 through the script made from UserdefinedTemplate.pac (default: the\n"
        "       setting m_nAutoProxyConfig in the data directory's Setting.dat).\n"
        "       With Script/Failover on in Options.ini, the scripts list the favourite\n"
        "       proxies after TEXT, fastest first, and end in DIRECT only with\n"
        "       Script/AllowDirect on.\n"
        "Exit status: 0 done, 1 the desktop's settings could not be read or written, did\n"
        "not keep what was written (the failure and a line saying so are printed), or\n"
        "TEXT was refused (nothing was changed), 2 bad usage or UserdefinedTemplate.pac\n"
        "could not be read, 3 proxy.pac could not be written (each failure is named on\n"
        "standard error), 4 set, clear or repair while the window runs on the data\n"
        "directory or another command writes it (nothing was changed; the window repairs\n"
        "at its start)."));
    if (argsIn.isEmpty()) {
      Err(usage);
      return kExitUsage;
    }
    Out(usage);
    return kExitOk;
  }

  QStringList args = argsIn;
  const QString action = args.takeFirst();
  int mode = -1;
  for (int i = 0; i < args.size(); ++i) {
    QString value;
    if (args[i] == "--mode") {
      if (i + 1 >= args.size()) {
        Err("--mode needs 0, 1 or 2");
        return kExitUsage;
      }
      value = args[i + 1];
      args.remove(i, 2);
    } else if (args[i].startsWith("--mode=")) {
      value = args[i].mid(7);
      args.remove(i);
    } else {
      continue;
    }
    if (value != "0" && value != "1" && value != "2") {
      Err("--mode needs 0, 1 or 2");
      return kExitUsage;
    }
    mode = value.toInt();
    --i;
  }

  if (action == "get") {
    if (!args.isEmpty() || mode != -1) {
      Err("proxy get takes no arguments");
      return kExitUsage;
    }
    const std::unique_ptr<DataDir> dir = OpenDataDirToRead(dataDir);
    CSystemProxy proxy(*dir);
    const qb::OpResult query = proxy.GetIEProxy();
    if (!query) Err(qb::TrStd(kCaptionQueryProxy) + ": " + qb::TrStd(kMsgQueryFailed));
    Out(proxy.m_sIEProxy);
    return query ? kExitOk : kExitNotFound;
  }
  if (action == "set" || action == "clear") {
    const bool set = action == "set";
    if (args.size() != (set ? 1 : 0)) {
      Err(set ? "proxy set takes one TEXT" : "proxy clear takes no TEXT");
      return kExitUsage;
    }
    int refused = kExitOk;
    const std::unique_ptr<DataDir> dir =
        OpenForChange(dataDir, "use the window's tray menu or its buttons", refused);
    if (!dir) return refused;
    CSystemProxy proxy(*dir);
    ConfigureAsTheWindow(proxy, *dir, mode);
    if (set) {
      // The buttons clear the proxy for a row that is no proxy; a command given a typing
      // mistake must not throw away what the desktop had.
      std::string why;
      const std::optional<std::string> checked = proxy.CheckProxyText(args.front().toStdString(), &why);
      if (!checked) {
        Err("proxy: " + why + "; the desktop's proxy settings were left as they were");
        return kExitNotFound;
      }
      const ProxyChangeResult result = proxy.SetIEProxy(*checked);
      const int exitCode = ReportChange(result);
      if (result.kept) Out(*checked);
      return exitCode;
    }
    return ReportChange(proxy.OnCancelIEProxy());
  }
  if (action == "repair") {
    if (!args.isEmpty() || mode != -1) {
      Err("proxy repair takes no arguments");
      return kExitUsage;
    }
    // The window repairs at its own start and watches the setting while it runs.
    int refused = kExitOk;
    const std::unique_ptr<DataDir> dir =
        OpenForChange(dataDir, "the window watches the desktop's proxy itself", refused);
    if (!dir) return refused;
    CSystemProxy proxy(*dir);
    ConfigureAsTheWindow(proxy, *dir, -1);
    const bool goDirect = dir->Options().WhenDown() == WhenProxyDown::Direct;
    const CSystemProxy::StaleRepair repair = proxy.RepairIfStale(goDirect, [](const DesktopRecord& record) {
      return DesktopProxyAnswers(record.line, record.endpoint, kStaleProbeMs);
    });
    const QString line = QString::fromStdString(repair.line);
    switch (repair.action) {
      case RepairAction::None:
        return kExitOk;
      case RepairAction::Keep:
        Err("proxy: " + qb::Tr(kMsgStaleKept).arg(line).toStdString());
        return kExitOk;
      case RepairAction::Restore:
        break;
    }
    const int exitCode = ReportChange(repair.change);
    if (exitCode == kExitOk) Err("proxy: " + qb::Tr(kMsgStaleRestored).arg(line).toStdString());
    return exitCode;
  }
  Err("unknown proxy action: " + action.toStdString() + " (get, set, clear or repair)");
  return kExitUsage;
}

}  // namespace qb::cli
