#include "sysproxy/SystemProxyPlatform.h"

#include "base/ProxyHost.h"
#include "base/Text.h"

namespace qb {

namespace {

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || qb::IsDigit(c);
}

bool IsDottedIpv4(std::string_view host) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    int value = 0;
    while (i < host.size() && qb::IsDigit(host[i])) {
      value = value * 10 + (host[i] - '0');
      ++digits;
      ++i;
      if (digits > 3) return false;
    }
    if (digits == 0 || value > 255) return false;
    ++parts;
    if (i == host.size()) return parts == 4;
    if (host[i] != '.' || parts == 4) return false;
    ++i;
  }
}

bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t start = 0;
  while (start <= host.size()) {
    std::size_t end = host.find('.', start);
    if (end == std::string_view::npos) end = host.size();
    const std::string_view label = host.substr(start, end - start);
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      if (!IsLetterOrDigit(c) && c != '-') return false;
    }
    start = end + 1;
  }
  return true;
}

bool AllDigitsAndDots(std::string_view host) {
  for (char c : host) {
    if (!qb::IsDigit(c) && c != '.') return false;
  }
  return true;
}

bool IsKnownScheme(std::string_view s) {
  return s == "http" || s == "https" || s == "ftp" || s == "socks" || s == "gopher";
}

// "A:P" into an entry; false when the host or the port is not valid. An IPv6 host
// needs its brackets here: "::1:8080" is itself an address.
bool SplitHostPort(std::string_view text, ProxyServerEntry& e) {
  text = qb::Trim(text);
  const std::size_t colon = qb::HostColon(text);
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view host = text.substr(0, colon);
  const int port = ParseProxyPort(text.substr(colon + 1));
  std::optional<std::string> canonical = CanonicalProxyHost(host);
  if (!canonical || port == 0) return false;
  e.host = std::move(*canonical);
  e.port = port;
  return true;
}

}  // namespace

bool IsValidProxyHost(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    const std::optional<ProxyHost> parsed = ParseProxyHost(host);
    return parsed && parsed->kind == HostKind::Ipv6;
  }
  // Something that looks like an address must be one; "1.2.3" is no host name either.
  if (AllDigitsAndDots(host)) return IsDottedIpv4(host);
  return IsHostName(host);
}

std::optional<std::string> CanonicalProxyHost(std::string_view host) {
  host = qb::Trim(host);
  if (host.empty()) return std::nullopt;
  // A dotted address stays as written, as the desktop has always been given it.
  if (AllDigitsAndDots(host)) return IsDottedIpv4(host) ? std::optional<std::string>(host) : std::nullopt;
  std::optional<ProxyHost> parsed = ParseProxyHost(host);
  // The settings and the script take nothing the plain check would not pass.
  if (!parsed || !IsValidProxyHost(parsed->text)) return std::nullopt;
  return std::move(parsed->text);
}

int ParseProxyPort(std::string_view port) {
  if (port.empty()) return 0;
  long value = 0;
  for (char c : port) {
    if (!qb::IsDigit(c)) return 0;
    value = value * 10 + (c - '0');
    if (value > 65535) return 0;
  }
  return (value >= 1 && value <= 65535) ? value : 0;
}

std::vector<ProxyServerEntry> ParseServerString(std::string_view server) {
  std::vector<ProxyServerEntry> out;
  server = qb::Trim(server);
  if (server.empty()) return out;
  if (server.find('=') == std::string_view::npos) {
    ProxyServerEntry e;
    if (!SplitHostPort(server, e)) return out;
    for (const char* scheme : {"http", "https", "ftp"}) {
      e.scheme = scheme;
      out.push_back(e);
    }
    return out;
  }
  std::size_t start = 0;
  while (start < server.size()) {
    std::size_t end = server.find(';', start);
    if (end == std::string_view::npos) end = server.size();
    const std::string_view item = server.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    ProxyServerEntry e;
    e.scheme = qb::AsciiLower(qb::Trim(item.substr(0, eq)));
    if (!IsKnownScheme(e.scheme) || !SplitHostPort(item.substr(eq + 1), e)) continue;
    out.push_back(std::move(e));
  }
  return out;
}

std::string ComposeServerString(const std::vector<ProxyServerEntry>& entries) {
  auto hostPort = [](const ProxyServerEntry& e) { return qb::HostPort(e.host, std::to_string(e.port)); };
  if (entries.empty()) return {};
  if (entries.size() == 3) {
    const bool sameProxy = entries[0].host == entries[1].host && entries[1].host == entries[2].host &&
                           entries[0].port == entries[1].port && entries[1].port == entries[2].port;
    bool schemes[3] = {false, false, false};
    for (const auto& e : entries) {
      if (e.scheme == "http") schemes[0] = true;
      if (e.scheme == "https") schemes[1] = true;
      if (e.scheme == "ftp") schemes[2] = true;
    }
    if (sameProxy && schemes[0] && schemes[1] && schemes[2]) return hostPort(entries[0]);
  }
  std::string out;
  for (const auto& e : entries) {
    if (!out.empty()) out += ';';
    out += e.scheme + "=" + hostPort(e);
  }
  return out;
}

bool CCombinedProxyPlatform::QueryLanSettings(ConnectionProxySettings& out) {
  if (m_backEnds.empty()) return false;
  return m_backEnds.front()->QueryLanSettings(out);
}

bool CCombinedProxyPlatform::WriteConnection(const std::string& connection,
                                             const ConnectionProxySettings& settings) {
  if (m_backEnds.empty()) return false;
  bool ok = true;
  // Every back end is written even when one fails, so that the others stay current.
  for (auto& b : m_backEnds) ok = b->WriteConnection(connection, settings) && ok;
  return ok;
}

void CCombinedProxyPlatform::AnnounceChange() {
  for (auto& b : m_backEnds) b->AnnounceChange();
}

void CCombinedProxyPlatform::WatchChanges(std::function<void()> changed) {
  for (auto& b : m_backEnds) b->WatchChanges(changed);
}

bool CCombinedProxyPlatform::EnumConnections(std::vector<std::string>& names) {
  for (auto& b : m_backEnds) {
    if (!b->EnumConnections(names)) return false;
  }
  return true;
}

}  // namespace qb
