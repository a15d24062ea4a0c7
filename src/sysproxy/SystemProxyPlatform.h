// The desktop's proxy settings as the system-proxy logic sees them: one set of
// per-connection values and four operations on them. The logic never knows which
// desktop it runs on; the back ends below translate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// Connection flags, with the values the per-connection settings have always used.
inline constexpr std::uint32_t kProxyTypeDirect = 1;
inline constexpr std::uint32_t kProxyTypeProxy = 2;
inline constexpr std::uint32_t kProxyTypeAutoProxyUrl = 4;
inline constexpr std::uint32_t kProxyTypeAutoDetect = 8;

// The values written to (and read from) one connection.
struct ConnectionProxySettings {
  // "A:P" (one proxy for HTTP, HTTPS and FTP), or "scheme=A:P" entries joined by ";"
  // (https=, ftp=, gopher=, socks=, http=); empty when no proxy is stored.
  std::string server;
  std::string autoConfigUrl;
  // Host patterns that bypass the proxy, joined by ";".
  std::string bypass;
  std::uint32_t flags = kProxyTypeDirect;
  // The log-on of the HTTP proxy, for a desktop that keeps one (CarriesHttpLogOn);
  // empty when the proxy needs none, which clears any log-on stored before.
  std::string httpUser;
  std::string httpPassword;

  bool operator==(const ConnectionProxySettings&) const = default;
};

class ISystemProxyPlatform {
 public:
  virtual ~ISystemProxyPlatform() = default;
  // Reads the LAN settings. On failure returns false and leaves out untouched.
  virtual bool QueryLanSettings(ConnectionProxySettings& out) = 0;
  // Writes one connection; the empty name is the LAN.
  virtual bool WriteConnection(const std::string& connection, const ConnectionProxySettings& settings) = 0;
  // Tells the desktop and the running programs that the settings changed.
  virtual void AnnounceChange() = 0;
  // Appends the names of the dial-up connections. False when they cannot be listed.
  virtual bool EnumConnections(std::vector<std::string>& names) = 0;
  // Calls changed, on the thread that runs the main event loop, whenever the
  // desktop's proxy settings change, whoever changed them. A back end that cannot
  // tell never calls it.
  virtual void WatchChanges(std::function<void()> changed) {}
  // Whether the desktop keeps a log-on for its HTTP proxy (httpUser, httpPassword).
  // Where it does not, a proxy that needs one cannot be set: it would not work.
  virtual bool CarriesHttpLogOn() const { return false; }
};

// One entry of a server string.
struct ProxyServerEntry {
  std::string scheme;  // "http", "https", "ftp", "socks" or "gopher"
  std::string host;    // in the form CanonicalProxyHost gives
  int port = 0;

  bool operator==(const ProxyServerEntry&) const = default;
};

// A dotted IPv4 address, an IPv6 address in brackets or a host name of letters, digits,
// dots and hyphens. Nothing else may reach the desktop settings or a script, where it
// would be taken as syntax. A bare IPv6 address is refused: in "A:P" its colons are
// ambiguous.
bool IsValidProxyHost(std::string_view host);
// The host as a row of the list writes it (base/ProxyHost.h): an IPv6 address in
// brackets, a name in lower case (an international one in its "xn--" form), a dotted
// address as it is. Takes a bare IPv6 address as well, as a desktop's host field may
// hold one. nullopt for anything IsValidProxyHost would refuse once in this form.
std::optional<std::string> CanonicalProxyHost(std::string_view host);
// Decimal digits whose value is 1 to 65535; the value, or 0 when it is not a port.
int ParseProxyPort(std::string_view port);

// Splits a server string into its entries. A bare "A:P" stands for the http, https
// and ftp entries. Entries with an unknown scheme, an invalid host or port are left
// out; the hosts come out as CanonicalProxyHost gives them, so that two strings naming
// one proxy in other spellings give the same entries.
std::vector<ProxyServerEntry> ParseServerString(std::string_view server);
// The server string for the desktop's entries (the inverse of ParseServerString):
// "A:P" when http, https and ftp name the same proxy and nothing else is set,
// otherwise "scheme=A:P" entries joined by ";" in the order given.
std::string ComposeServerString(const std::vector<ProxyServerEntry>& entries);

// Several back ends as one: queries go to the first, writes and announcements to all.
class CCombinedProxyPlatform : public ISystemProxyPlatform {
 public:
  explicit CCombinedProxyPlatform(std::vector<std::unique_ptr<ISystemProxyPlatform>> backEnds)
      : m_backEnds(std::move(backEnds)) {}
  bool QueryLanSettings(ConnectionProxySettings& out) override;
  bool WriteConnection(const std::string& connection, const ConnectionProxySettings& settings) override;
  void AnnounceChange() override;
  bool EnumConnections(std::vector<std::string>& names) override;
  void WatchChanges(std::function<void()> changed) override;
  std::size_t BackEndCount() const { return m_backEnds.size(); }

 private:
  std::vector<std::unique_ptr<ISystemProxyPlatform>> m_backEnds;
};

}  // namespace qb
