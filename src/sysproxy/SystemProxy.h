// The system proxy: reading, setting and clearing the proxy of the desktop's
// browsers, and the auto-config script kept in the data directory. The main window
// owns one and calls it from its buttons, the tray menu and the settings dialog; the
// command line makes one per command.
//
// Nothing here tells the user about a failure: every operation returns what went
// wrong, and the caller says it in its own words.
#pragma once

#include <QtGlobal>

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "proxy/ProxyEntry.h"
#include "settings/Options.h"
#include "sysproxy/DesktopRecord.h"
#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

class CProxyListModel;
class DataDir;
struct ProxyFields;

// How a proxy is handed to the browsers: the values of m_nAutoProxyConfig.
inline constexpr int kAutoProxyDirect = 0;
inline constexpr int kAutoProxyDefaultScript = 1;
inline constexpr int kAutoProxyUserScript = 2;

// The error of a change the desktop accepted but did not keep: the store behind its
// settings (its service on the session bus) was not there.
inline constexpr const char* kErrorSettingNotKept =
    "the desktop did not keep the setting: no session bus or settings service stored it";

// What setting or clearing the system proxy ran into, in the order it happened; the
// window shows one message for each failure, in this order.
struct ProxyChangeResult {
  // Reading the desktop's settings first: QueryFailed. The remembered proxy and bypass
  // list then stay.
  qb::OpResult query;
  // The auto-config script: WriteFailed with the path of proxy.pac, or ReadFailed with
  // the path of the user's template, after an empty proxy.pac was written.
  qb::OpResult script;
  // One ApplyFailed per connection that could not be written; its error names the
  // connection.
  std::vector<qb::OpResult> connections;
  // Reading the LAN settings back after every write was accepted: ApplyFailed with
  // kErrorSettingNotKept when the desktop does not hold what was written.
  qb::OpResult kept;
  // Not empty when nothing was done because the desktop has no entry for a proxy of
  // this type in the direct mode (GOPHER): the type.
  std::string refusedType;
  // Nothing was done because the proxy needs a log-on that the desktop has no place
  // for: only its HTTP proxy, set directly, keeps one.
  bool refusedLogOn = false;
  // Keeping (or removing) the record of the desktop's earlier setting: WriteFailed with
  // the path of DesktopProxy.state. The desktop was changed all the same.
  qb::OpResult record;
  // The desktop's own earlier setting was given back (RestoreDesktop).
  bool restored = false;

  bool ok() const {
    return query.ok() && script.ok() && connections.empty() && kept.ok() && refusedType.empty() &&
           !refusedLogOn && record.ok();
  }
  explicit operator bool() const { return ok(); }
};

class CSystemProxy : public QObject {
  Q_OBJECT

 public:
  // The data directory is where proxy.pac is written, UserdefinedTemplate.pac is read
  // and the proxies' log-ons are looked up. Without a platform the desktop's own back
  // ends are used.
  explicit CSystemProxy(DataDir& dir, std::unique_ptr<ISystemProxyPlatform> platform = nullptr,
                        QObject* parent = nullptr);
  ~CSystemProxy() override;

  // Reads the LAN settings into m_sIEProxy and m_sProxyBypass. When they cannot be
  // read, leaves both as they were and returns QueryFailed.
  qb::OpResult GetIEProxy();
  // Makes the proxy text (a proxy line, "address:port", a desktop server string such
  // as "https=address:port", or empty) the proxy of every connection, or clears it
  // when the text is empty or not a valid proxy. The script is written and every
  // connection is tried whatever failed before; then the LAN settings are read back.
  // A valid proxy that CheckProxyText refuses for its type changes nothing and comes
  // back with refusedType set.
  ProxyChangeResult SetIEProxy(std::string text);
  // What SetIEProxy would set for the text under the current mode, for a caller that
  // refuses a text instead of clearing the proxy: the proxy as "address:port@TYPE", or
  // nullopt with the reason in why. Refused are a text that is no valid proxy, and in
  // the direct mode a type the desktop's settings have no entry for (GOPHER): set
  // anyway it would leave the desktop on "manual" with no server at all.
  std::optional<std::string> CheckProxyText(std::string_view text, std::string* why) const;
  // Appends the names of the dial-up connections to m_saConnections.
  void EnumRasConnections();

  // The "设为IE代理" command: the first selected row of the list becomes a favourite
  // and the system proxy. Nothing happens without a selected row, nor for a row whose
  // type SetIEProxy refuses.
  ProxyChangeResult OnSetIEProxy(CProxyListModel& list);
  // The "取消IE代理" command: gives the desktop back its own setting from before this
  // program first changed it (RestoreDesktop); when the program never changed it,
  // clears the proxy.
  ProxyChangeResult OnCancelIEProxy();

  // --- What this program changed (see DesktopRecord.h) ---
  // Every SetIEProxy that changes what the browsers use first keeps the desktop's
  // setting of that moment, unless one is kept already; the record then follows what
  // was set. A stale setting of this program's endpoint is not kept as the user's: it
  // counts as no proxy.
  std::optional<DesktopRecord> Record() const;
  bool ChangedDesktop() const { return Record().has_value(); }
  // Writes the kept setting back to every connection and removes the record. Without a
  // record nothing is done (restored stays false).
  ProxyChangeResult RestoreDesktop();
  // Writes what the record says this program set, again (after another program changed
  // it). Without a record nothing is done.
  ProxyChangeResult ReapplyRecorded();
  // What RepairIfStale found and did.
  struct StaleRepair {
    RepairAction action = RepairAction::None;
    // The proxy line the desktop still pointed at, and whether it is the endpoint's.
    std::string line;
    bool endpoint = false;
    // What giving the earlier setting back ran into (Restore only).
    ProxyChangeResult change;
  };
  // For a start and a log-in after the program or its endpoint ended without giving the
  // desktop back (a crash, a kill, a power cut): reads the desktop, and when it still
  // holds this program's setting and answers says nobody answers at its proxy, gives
  // the earlier setting back under going direct, or leaves it under blocking. answers
  // is asked only about a setting the desktop holds.
  StaleRepair RepairIfStale(bool goDirect, const std::function<bool(const DesktopRecord&)>& answers);
  // The setting is no longer this program's (the user let another program's change
  // stand): the record goes, and a later cancel clears as it always did.
  qb::OpResult ForgetRecord();
  // Whether the desktop, as last read, holds what the record says this program set.
  bool DesktopHoldsRecorded() const;
  // The same for a record already read.
  bool DesktopHolds(const DesktopRecord& record) const;
  // The desktop's settings as last read (GetIEProxy or SetIEProxy's read-back).
  const ConnectionProxySettings& Desktop() const { return m_desktop; }
  // The local endpoint's configured address ("127.0.0.1:8899"): a proxy line there is
  // recorded as the endpoint's.
  void SetEndpointListen(std::string hostPort) { m_endpointListen = std::move(hostPort); }
  bool IsEndpointLine(std::string_view line) const;

  // Writes proxy.pac for the server string under the current mode. proxyType tells
  // a SOCKS4 from a SOCKS5 proxy, which the server string does not. With failover on
  // (SetScriptOptions) the script lists the failover chain after the proxy (see
  // SetFavoritesSource). The result is as ProxyChangeResult::script; the script made
  // is kept for AutoConfigUrl even when proxy.pac could not be written.
  qb::OpResult CreatePacFile(const std::string& serverString, const std::string& proxyType = {});

  // The URL the desktop's settings give the browsers for the script last made by
  // CreatePacFile: the script itself as a data URL. Chromium-based browsers do not
  // load a script from a file URL, and a data URL needs no process of ours running
  // (the command line exits), so every browser that reads the desktop's settings
  // loads it. proxy.pac in the data directory holds the same text, for the user.
  std::string AutoConfigUrl() const;

  // How the scripts of modes 1 and 2 fail over (Options.ini's Script section).
  void SetScriptOptions(const ScriptOptions& options) { m_scriptOptions = options; }
  const ScriptOptions& GetScriptOptions() const { return m_scriptOptions; }
  // Where the failover chain comes from: the favourites' proxy lines, fastest first
  // (FavoriteProxyLines), asked afresh each time a script is made, so that every
  // caller of SetIEProxy (the buttons, the tray, the settings dialog, the command
  // line) lists the favourites of that moment. With failover on, the script lists the
  // proxy being set first, then these in their order. A member whose log-on is stored
  // is left out: a browser asks the user for it, and a script gives no way to hand it
  // over (the proxy being set is refused with refusedLogOn instead, as without a
  // chain). So are members that are no valid proxy. Without a source the chain is the
  // proxy alone.
  void SetFavoritesSource(std::function<std::vector<std::string>()> favorites) {
    m_favorites = std::move(favorites);
  }
  // Trims a proxy text and completes it to a proxy line: "address:port" becomes an
  // HTTP proxy, and the desktop's "scheme=address:port" a proxy of that scheme.
  static std::string NormaliseProxyText(std::string_view text);
  // The server string for a parsed proxy: "A:P" for HTTP, "socks=A:P" for SOCKS4 and
  // SOCKS5, "https=A:P", "ftp=A:P" and "gopher=A:P" for the others.
  static std::string ServerStringFor(const std::string& addr, const std::string& port,
                                     const std::string& type);

  ISystemProxyPlatform& Platform() { return *m_platform; }
  // From now on desktopProxyChanged tells of every change of the desktop's proxy
  // settings, this program's own included.
  void WatchDesktop();

  void SetAutoProxyConfig(int mode) { m_nAutoProxyConfig = mode; }
  int AutoProxyConfig() const { return m_nAutoProxyConfig; }

  // The system proxy as last read or set: the desktop's server string after
  // GetIEProxy, the normalised proxy line after SetIEProxy; empty for none.
  std::string m_sIEProxy;
  // The bypass list as last read; written back unchanged.
  std::string m_sProxyBypass;
  // The connections SetIEProxy writes: the dial-up entries, then "" for the LAN.
  std::vector<std::string> m_saConnections;
  // 0: set the proxy directly; 1: the fixed script; 2: the user's template.
  int m_nAutoProxyConfig = kAutoProxyDirect;

 signals:
  // After OnSetIEProxy and OnCancelIEProxy: the status line and the tray icon must
  // show the new system proxy.
  void ieProxyChanged();
  // The desktop's proxy settings changed (see WatchDesktop).
  void desktopProxyChanged();

 private:
  // Whether the desktop keeps the log-on of this proxy under the current mode.
  bool CarriesLogOn(const ProxyFields& f) const;
  std::optional<ProxyCredentials> StoredLogOn(const ProxyFields& f) const;

  // Writes settings to every connection and announces the change; failures go to result.
  // False when the LAN was not written.
  bool WriteAll(const ConnectionProxySettings& settings, ProxyChangeResult& result);
  void ReadBack(const ConnectionProxySettings& settings, ProxyChangeResult& result);

  DataDir& m_dir;
  std::unique_ptr<ISystemProxyPlatform> m_platform;
  ConnectionProxySettings m_desktop;
  std::string m_endpointListen;
  ScriptOptions m_scriptOptions;
  std::function<std::vector<std::string>()> m_favorites;
  // The script CreatePacFile made last; AutoConfigUrl publishes it.
  std::string m_pacScript;
};

}  // namespace qb
