#include "verify/VerifyTask.h"

#include "base/ProxyHost.h"
#include "base/Text.h"

namespace qb {

namespace {

constexpr std::string_view kKindNames[8] = {"",       "HTTP",   "HTTPS", "SOCKS",
                                            "SOCKS4", "SOCKS5", "FTP",   "GOPHER"};

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<ProxyKind> ProxyKindFromType(std::string_view type) {
  const std::string upper = qb::AsciiUpper(type);
  for (int i = 0; i < 8; ++i) {
    if (upper == kKindNames[i]) return static_cast<ProxyKind>(i);
  }
  return std::nullopt;
}

std::optional<std::uint16_t> ProxyPortFromText(std::string_view port) {
  const long long value = qb::CAtoll(qb::Trim(port));
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

bool IsVerifiableUrl(std::string_view url) {
  const std::string upper = qb::AsciiUpper(url.substr(0, 8));
  return StartsWith(upper, "FTP://") || StartsWith(upper, "HTTP://") || StartsWith(upper, "HTTPS://");
}

std::optional<VerifyUrl> SplitVerifyUrl(std::string_view url) {
  const std::string_view u = qb::TrimLeft(url);
  const std::size_t sep = u.find("://");
  if (u.empty() || sep == std::string_view::npos) return std::nullopt;
  VerifyUrl out;
  const std::string scheme = qb::AsciiLower(u.substr(0, sep + 3));
  if (scheme == "http://") {
    out.scheme = VerifyUrl::Http;
  } else if (scheme == "ftp://") {
    out.scheme = VerifyUrl::Ftp;
  } else if (scheme == "https://") {
    out.scheme = VerifyUrl::Https;
  }
  const std::string_view rest = u.substr(sep + 3);

  std::string_view authority = rest;
  const std::size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    out.object = std::string(rest.substr(slash));
    authority = rest.substr(0, slash);
  }

  std::string_view hostPort = authority;
  const std::size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
    const std::size_t colon = userInfo.find(':');
    out.user = std::string(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) out.password = std::string(userInfo.substr(colon + 1));
  }

  // A bracketed IPv6 host keeps its brackets, as a row's host does.
  const std::size_t colon = HostColon(hostPort);
  out.host = std::string(hostPort.substr(0, colon));
  if (colon != std::string_view::npos) {
    // The port keeps its low 16 bits, as the Windows version's conversion did.
    out.port = static_cast<std::uint16_t>(qb::CAtoi(hostPort.substr(colon + 1)) & 0xFFFF);
    if (out.port == 0) return std::nullopt;
  }
  return out;
}

}  // namespace qb
