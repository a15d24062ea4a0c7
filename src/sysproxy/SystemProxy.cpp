#include "sysproxy/SystemProxy.h"

#include <algorithm>
#include <cstdint>

#include "base/Files.h"
#include "base/ProxyHost.h"
#include "base/Text.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "sysproxy/DesktopProxyPlatform.h"
#include "sysproxy/ProxyAutoConfig.h"

namespace qb {

namespace {

// The desktop's per-scheme server entries, and the proxy type each one stands for.
struct SchemeType {
  const char* scheme;
  const char* type;
};
// The desktop's socks entry has no version; the browsers that read it speak SOCKS5.
constexpr SchemeType kSchemeTypes[] = {
    {"http", "HTTP"}, {"https", "HTTPS"}, {"ftp", "FTP"}, {"gopher", "GOPHER"}, {"socks", "SOCKS5"},
};

// In the direct mode the proxy must land in one of the desktop's own entries: written
// anyway, a type it has none for would leave "manual" with no server at all.
bool DirectModeCarries(const ProxyFields& f) {
  const std::vector<ProxyServerEntry> entries =
      ParseServerString(CSystemProxy::ServerStringFor(f.addr, f.port, f.type));
  return !entries.empty() && std::all_of(entries.begin(), entries.end(),
                                         [](const ProxyServerEntry& e) { return e.scheme != "gopher"; });
}

// A proxy text made into its fields, with the host as a row of the list writes it, so
// that the desktop, the script and the record all hold one spelling of each proxy.
// False for a text that is no proxy that may reach them.
bool ParseCheckedProxy(std::string_view normalised, ProxyFields& f) {
  if (!ParseProxyLine(normalised, f) || ParseProxyPort(f.port) == 0) return false;
  std::optional<std::string> host = CanonicalProxyHost(f.addr);
  if (!host) return false;
  f.addr = std::move(*host);
  return true;
}

}  // namespace

CSystemProxy::CSystemProxy(DataDir& dir, std::unique_ptr<ISystemProxyPlatform> platform, QObject* parent)
    : QObject(parent),
      m_dir(dir),
      m_platform(platform ? std::move(platform) : CreateDesktopProxyPlatform()) {}

CSystemProxy::~CSystemProxy() = default;

std::optional<ProxyCredentials> CSystemProxy::StoredLogOn(const ProxyFields& f) const {
  return m_dir.Credentials().Find(CredentialsKey(f.addr, f.port, f.type));
}

qb::OpResult CSystemProxy::GetIEProxy() {
  ConnectionProxySettings lan;
  if (!m_platform->QueryLanSettings(lan)) {
    // The remembered strings stay: a failed query has nothing to offer in their place.
    return qb::OpResult::Failure(qb::OpStatus::QueryFailed, {}, "the LAN settings");
  }
  // The stored server string counts whether or not the proxy is switched on.
  m_sProxyBypass = lan.bypass;
  m_sIEProxy = lan.server;
  m_desktop = std::move(lan);
  return qb::OpResult::Success();
}

std::string CSystemProxy::AutoConfigUrl() const {
  return PacDataUrl(m_pacScript);
}

std::string CSystemProxy::NormaliseProxyText(std::string_view text) {
  std::string s(qb::Trim(text));
  if (s.find('@') != std::string::npos) return s;
  // What the desktop hands back for a proxy of one scheme ("https=A:P") names its type.
  if (const std::size_t eq = s.find('='); eq != std::string::npos) {
    const std::string scheme = qb::AsciiLower(qb::Trim(std::string_view(s).substr(0, eq)));
    for (const auto& st : kSchemeTypes) {
      if (scheme != st.scheme) continue;
      std::string rest(qb::Trim(std::string_view(s).substr(eq + 1)));
      const std::size_t colon = qb::HostColon(rest);
      if (colon != std::string::npos && colon > 0) return rest + "@" + st.type;
      return rest;
    }
  }
  const std::size_t colon = qb::HostColon(s);
  if (colon != std::string::npos && colon > 0) s += "@HTTP";
  return s;
}

std::string CSystemProxy::ServerStringFor(const std::string& addr, const std::string& port,
                                          const std::string& type) {
  const std::string hostPort = qb::HostPort(addr, port);
  if (qb::AsciiCaseEqual(type, "HTTP")) return hostPort;
  // A SOCKS proxy goes to the desktop's socks entry: browsers given it as an HTTP
  // proxy would speak HTTP to a SOCKS server.
  if (type == "SOCKS4" || type == "SOCKS5") return "socks=" + hostPort;
  return qb::AsciiLower(type) + "=" + hostPort;
}

std::optional<std::string> CSystemProxy::CheckProxyText(std::string_view text, std::string* why) const {
  auto refuse = [why](std::string reason) -> std::optional<std::string> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  const std::string normalised = NormaliseProxyText(text);
  ProxyFields f;
  if (!ParseCheckedProxy(normalised, f)) return refuse("not a valid proxy: " + std::string(text));
  if (m_nAutoProxyConfig == kAutoProxyDirect && !DirectModeCarries(f)) {
    return refuse("the desktop's proxy settings have no entry for a " + f.type +
                  " proxy; it can be set through an auto-config script (mode 1 or 2)");
  }
  if (StoredLogOn(f) && !CarriesLogOn(f)) {
    return refuse(
        "the proxy needs a user name and password, which the desktop keeps only for an HTTP proxy "
        "set directly (mode 0)");
  }
  return qb::HostPort(f.addr, f.port) + "@" + f.type;
}

// The text is taken by value: callers pass m_sIEProxy itself, which the query below
// overwrites.
ProxyChangeResult CSystemProxy::SetIEProxy(std::string text) {
  ProxyChangeResult result;
  std::string normalised = NormaliseProxyText(text);
  ProxyFields f;
  // Only a checked host and port reach the desktop and the script: anything else in
  // a proxy text, or in a server string read back from the desktop, would be syntax
  // there.
  const bool valid = ParseCheckedProxy(normalised, f);
  // What is remembered and recorded names the host as the list does.
  if (const std::size_t colon = qb::HostColon(normalised); valid && colon != std::string::npos)
    normalised = f.addr + normalised.substr(colon);
  // Every caller (the buttons, the tray's favourites, the settings dialog and the
  // command line) ends here, so the refusal cannot be bypassed by any of them.
  if (valid && m_nAutoProxyConfig == kAutoProxyDirect && !DirectModeCarries(f)) {
    result.refusedType = f.type;
    return result;
  }
  // A proxy that needs a log-on works only where the desktop keeps it.
  std::optional<ProxyCredentials> logOn;
  if (valid) logOn = StoredLogOn(f);
  if (logOn && !CarriesLogOn(f)) {
    result.refusedLogOn = true;
    return result;
  }
  result.query = GetIEProxy();
  const ConnectionProxySettings current = m_desktop;

  ConnectionProxySettings settings;
  if (valid) {
    settings.server = ServerStringFor(f.addr, f.port, f.type);
  } else {
    normalised.clear();
  }

  if (normalised.empty()) {
    settings.flags = kProxyTypeDirect;
  } else if (m_nAutoProxyConfig == kAutoProxyDirect) {
    settings.flags = kProxyTypeDirect | kProxyTypeProxy;
  } else {
    settings.flags = kProxyTypeAutoProxyUrl;
  }
  settings.bypass = m_sProxyBypass;
  if (logOn) {
    settings.httpUser = logOn->user;
    settings.httpPassword = logOn->password;
  }

  // The script first, so that the browsers find it when they are told to refresh.
  result.script = CreatePacFile(settings.server, normalised.empty() ? std::string() : f.type);
  settings.autoConfigUrl = AutoConfigUrl();

  // The record before the desktop: whatever ends the program after the change, the
  // setting the user had is on disk. A desktop that could not be read has nothing to
  // keep; one that already holds what is written is not changed by this program.
  std::optional<DesktopRecord> record = Record();
  if (!record && result.query && !SettingsHold(current, settings)) {
    record.emplace();
    record->before = current;
    // A desktop left pointing at this program's endpoint by a crash is not the user's
    // own setting: giving it back would strand the desktop again.
    if ((current.flags & kProxyTypeProxy) && !(current.flags & kProxyTypeAutoProxyUrl) &&
        IsEndpointLine(current.server)) {
      record->before = ConnectionProxySettings{};
      record->before.bypass = current.bypass;
    }
  }
  if (record) {
    record->set = settings;
    record->line = normalised;
    record->endpoint = !normalised.empty() && IsEndpointLine(normalised);
    result.record = SaveDesktopRecord(m_dir.Path(), *record);
  }

  const bool lanAccepted = WriteAll(settings, result);
  m_sIEProxy = normalised;
  if (lanAccepted) ReadBack(settings, result);
  return result;
}

bool CSystemProxy::WriteAll(const ConnectionProxySettings& settings, ProxyChangeResult& result) {
  m_saConnections.clear();
  EnumRasConnections();
  m_saConnections.emplace_back();

  bool lanAccepted = false;
  for (const std::string& name : m_saConnections) {
    if (!m_platform->WriteConnection(name, settings)) {
      result.connections.push_back(qb::OpResult::Failure(
          qb::OpStatus::ApplyFailed, {}, name.empty() ? "the LAN connection" : "connection " + name));
    } else if (name.empty()) {
      lanAccepted = true;
    }
  }
  m_platform->AnnounceChange();
  return lanAccepted;
}

void CSystemProxy::ReadBack(const ConnectionProxySettings& settings, ProxyChangeResult& result) {
  // A store may accept every write and still drop it: the desktop's settings service
  // commits only over the session bus, and without one the writes are lost after the
  // announcement has flushed them. Only reading back tells.
  ConnectionProxySettings held;
  if (!m_platform->QueryLanSettings(held)) {
    // A desktop that could not be read before the change has been reported already.
    if (result.query) {
      result.kept = qb::OpResult::Failure(qb::OpStatus::QueryFailed, {}, "the LAN settings, read back");
    }
    return;
  }
  if (!SettingsHold(held, settings)) {
    result.kept = qb::OpResult::Failure(qb::OpStatus::ApplyFailed, {}, kErrorSettingNotKept);
    // What the browsers now use is what the desktop kept, as GetIEProxy would say.
    m_sIEProxy = held.server;
  }
  m_desktop = std::move(held);
}

std::optional<DesktopRecord> CSystemProxy::Record() const {
  return LoadDesktopRecord(m_dir.Path());
}

bool CSystemProxy::IsEndpointLine(std::string_view line) const {
  if (m_endpointListen.empty()) return false;
  ProxyFields f;
  if (!ParseCheckedProxy(NormaliseProxyText(line), f) || !qb::AsciiCaseEqual(f.type, "HTTP")) return false;
  // The address as configured may be spelt otherwise ("[0::1]", "LOCALHOST").
  const std::string_view listen = m_endpointListen;
  const std::size_t colon = qb::HostColon(listen);
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::optional<std::string> host = CanonicalProxyHost(listen.substr(0, colon));
  return host && *host == f.addr && ParseProxyPort(listen.substr(colon + 1)) == ParseProxyPort(f.port);
}

bool CSystemProxy::DesktopHoldsRecorded() const {
  const std::optional<DesktopRecord> record = Record();
  return record && DesktopHolds(*record);
}

bool CSystemProxy::DesktopHolds(const DesktopRecord& record) const {
  return SettingsHold(m_desktop, record.set);
}

ProxyChangeResult CSystemProxy::RestoreDesktop() {
  ProxyChangeResult result;
  const std::optional<DesktopRecord> record = Record();
  if (!record) return result;
  result.restored = true;
  result.query = GetIEProxy();
  // The script follows as a clear leaves it: no proxy of this program lingers in it.
  result.script = CreatePacFile({});
  const bool lanAccepted = WriteAll(record->before, result);
  m_sIEProxy = record->before.server;
  if (lanAccepted) ReadBack(record->before, result);
  // Kept unless the desktop took the earlier setting: the next try still has it.
  if (lanAccepted && result.kept) result.record = RemoveDesktopRecord(m_dir.Path());
  return result;
}

ProxyChangeResult CSystemProxy::ReapplyRecorded() {
  ProxyChangeResult result;
  const std::optional<DesktopRecord> record = Record();
  if (!record) return result;
  result.query = GetIEProxy();
  const bool lanAccepted = WriteAll(record->set, result);
  m_sIEProxy = record->line;
  if (lanAccepted) ReadBack(record->set, result);
  return result;
}

CSystemProxy::StaleRepair CSystemProxy::RepairIfStale(
    bool goDirect, const std::function<bool(const DesktopRecord&)>& answers) {
  StaleRepair repair;
  const std::optional<DesktopRecord> record = Record();
  if (!record) return repair;
  // Unread, the desktop cannot be told to hold the setting: nothing is repaired blind.
  if (!GetIEProxy()) return repair;
  repair.line = record->line;
  repair.endpoint = record->endpoint;
  const bool held = DesktopHolds(*record);
  repair.action = DecideRepair(held, held && answers(*record), goDirect);
  if (repair.action == RepairAction::Restore) {
    repair.change = RestoreDesktop();
    emit ieProxyChanged();
  }
  return repair;
}

qb::OpResult CSystemProxy::ForgetRecord() {
  return RemoveDesktopRecord(m_dir.Path());
}

void CSystemProxy::EnumRasConnections() {
  std::vector<std::string> names;
  // A connection list that cannot be read leaves only the LAN to write.
  if (m_platform->EnumConnections(names)) {
    m_saConnections.insert(m_saConnections.end(), names.begin(), names.end());
  }
}

bool CSystemProxy::CarriesLogOn(const ProxyFields& f) const {
  return m_nAutoProxyConfig == kAutoProxyDirect && qb::AsciiCaseEqual(f.type, "HTTP") &&
         m_platform->CarriesHttpLogOn();
}

ProxyChangeResult CSystemProxy::OnSetIEProxy(CProxyListModel& list) {
  const std::vector<int> selected = list.SelectedRows();
  if (selected.empty()) return {};
  const int row = *std::min_element(selected.begin(), selected.end());
  ProxyChangeResult result = SetIEProxy(list.GetProxyLine(row));
  // A refused proxy changed nothing, so it does not become a favourite either.
  if (!result.refusedType.empty() || result.refusedLogOn) return result;
  list.SetFavorite(row, true);
  emit ieProxyChanged();
  return result;
}

void CSystemProxy::WatchDesktop() {
  m_platform->WatchChanges([this] { emit desktopProxyChanged(); });
}

ProxyChangeResult CSystemProxy::OnCancelIEProxy() {
  // A setting the user made elsewhere (a company's proxy, a script) is theirs: it comes
  // back rather than being replaced by no proxy at all.
  if (ChangedDesktop()) {
    ProxyChangeResult result = RestoreDesktop();
    emit ieProxyChanged();
    return result;
  }
  m_sIEProxy.clear();
  ProxyChangeResult result = SetIEProxy(m_sIEProxy);
  emit ieProxyChanged();
  return result;
}

qb::OpResult CSystemProxy::CreatePacFile(const std::string& serverString, const std::string& proxyType) {
  const std::string pacPath = m_dir.FilePath(DataFile::Pac);
  std::vector<PacRoute> routes;
  if (m_scriptOptions.failover && !serverString.empty() && m_nAutoProxyConfig != kAutoProxyDirect) {
    std::vector<PacChainMember> chain{{serverString, proxyType}};
    if (m_favorites) {
      for (const std::string& line : m_favorites()) {
        ProxyFields f;
        if (!ParseCheckedProxy(NormaliseProxyText(line), f)) continue;
        // A browser asks the user for the log-on of a proxy it finds in a script, which
        // would halt the walk down the chain at that proxy with a prompt.
        if (StoredLogOn(f)) continue;
        chain.push_back({ServerStringFor(f.addr, f.port, f.type), f.type});
      }
    }
    routes = PacChainRoutesFor(chain, m_scriptOptions.allowDirect);
  } else {
    routes = PacRoutesFor(serverString, proxyType);
  }

  std::string script;
  if (m_nAutoProxyConfig == kAutoProxyDefaultScript) {
    script = BuildDefaultPacScript(routes);
  } else if (m_nAutoProxyConfig == kAutoProxyUserScript) {
    const std::string templatePath = m_dir.FilePath(DataFile::PacTemplate);
    std::string readError;
    const auto templ = qb::ReadWholeFile(templatePath, &readError);
    if (!templ) {
      // The browsers then get an empty script, as they would from an empty template.
      m_pacScript.clear();
      std::string writeError;
      if (!qb::WriteFileAtomically(pacPath, "", &writeError)) {
        return qb::OpResult::Failure(qb::OpStatus::WriteFailed, pacPath, writeError);
      }
      return qb::OpResult::Failure(qb::OpStatus::ReadFailed, templatePath, readError);
    }
    script = BuildTemplatePacScript(*templ, routes);
  }
  // In the direct mode the script is emptied, so that no stale proxy lingers in it.
  m_pacScript = script;
  std::string error;
  if (!qb::WriteFileAtomically(pacPath, script, &error)) {
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, pacPath, error);
  }
  return qb::OpResult::Success();
}

}  // namespace qb
