#include "base/ProxyHost.h"

#include <arpa/inet.h>

#include <QString>
#include <QUrl>

#include "base/Text.h"

namespace qb {

namespace {

constexpr std::size_t kMaxName = 253;
constexpr std::size_t kMaxLabel = 63;

bool IsLdh(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// An ASCII name already lower-cased: labels of letters, digits and inner hyphens, a
// last label that is not all digits (else "1.2.3.4.5" would be a name).
HostFault CheckName(std::string_view name) {
  if (name.empty()) return HostFault::Empty;
  if (name.size() > kMaxName) return HostFault::NameTooLong;
  std::size_t start = 0;
  bool lastAllDigits = true;
  while (start <= name.size()) {
    std::size_t dot = name.find('.', start);
    if (dot == std::string_view::npos) dot = name.size();
    const std::string_view label = name.substr(start, dot - start);
    if (label.empty()) return HostFault::BadName;
    if (label.size() > kMaxLabel) return HostFault::LabelTooLong;
    if (label.front() == '-' || label.back() == '-') return HostFault::BadName;
    lastAllDigits = true;
    for (char c : label) {
      if (!IsLdh(c)) return HostFault::BadName;
      if (!qb::IsDigit(static_cast<unsigned char>(c))) lastAllDigits = false;
    }
    start = dot + 1;
  }
  return lastAllDigits ? HostFault::BadName : HostFault::None;
}

std::optional<ProxyHost> Fail(HostFault f, HostFault* fault) {
  if (fault) *fault = f;
  return std::nullopt;
}

}  // namespace

bool IsCanonicalIpv4(std::string_view s) {
  if (s.size() < 7 || s.size() > 15) return false;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
    const std::size_t start = i;
    unsigned v = 0;
    while (i < s.size() && qb::IsDigit(static_cast<unsigned char>(s[i])) && i - start < 3)
      v = v * 10 + static_cast<unsigned>(s[i++] - '0');
    if (i == start || (i - start > 1 && s[start] == '0') || v > 255) return false;
  }
  return i == s.size();
}

std::optional<ProxyHost> ParseProxyHost(std::string_view text, HostFault* fault) {
  if (fault) *fault = HostFault::None;
  if (text.empty()) return Fail(HostFault::Empty, fault);
  const bool bracketed = text.front() == '[';
  if (bracketed || text.find(':') != std::string_view::npos) {
    std::string_view inner = text;
    if (bracketed) {
      if (text.size() < 3 || text.back() != ']') return Fail(HostFault::BadAddress, fault);
      inner = text.substr(1, text.size() - 2);
    }
    if (inner.find('%') != std::string_view::npos) return Fail(HostFault::ZoneIndex, fault);
    if (inner.size() > INET6_ADDRSTRLEN) return Fail(HostFault::BadAddress, fault);
    char buf[INET6_ADDRSTRLEN + 1];
    inner.copy(buf, inner.size());
    buf[inner.size()] = '\0';
    in6_addr a;
    if (inet_pton(AF_INET6, buf, &a) != 1) return Fail(HostFault::BadAddress, fault);
    char out[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &a, out, sizeof out);  // RFC 5952: lower case, the longest zero run as "::"
    return ProxyHost{HostKind::Ipv6, std::string("[") + out + "]"};
  }
  if (IsCanonicalIpv4(text)) return ProxyHost{HostKind::Ipv4, std::string(text)};
  // Four numbers in any other form ("01.2.3.4", "1.2.3.256") are a mistyped address,
  // never a name.
  if (text.find_first_not_of("0123456789.") == std::string_view::npos) return Fail(HostFault::BadName, fault);

  std::string_view name = text;
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);  // the root's dot names the same host
  std::string ascii;
  bool plain = true;
  for (char c : name) plain = plain && static_cast<unsigned char>(c) < 0x80;
  if (plain) {
    ascii = qb::AsciiLower(name);
  } else {
    // The raw length is tested before the conversion: a huge text is no name either way.
    if (name.size() > 4 * kMaxName) return Fail(HostFault::NameTooLong, fault);
    const QString unicode = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const QByteArray ace = QUrl::toAce(unicode, QUrl::AceProcessingOption::IgnoreIDNWhitelist);
    if (ace.isEmpty()) return Fail(HostFault::BadName, fault);
    ascii = qb::AsciiLower(std::string_view(ace.constData(), static_cast<std::size_t>(ace.size())));
  }
  const HostFault f = CheckName(ascii);
  if (f != HostFault::None) return Fail(f, fault);
  return ProxyHost{HostKind::Name, std::move(ascii)};
}

HostKind HostKindOf(std::string_view rowHost) {
  if (!rowHost.empty() && rowHost.front() == '[') return HostKind::Ipv6;
  if (rowHost.find(':') != std::string_view::npos) return HostKind::Ipv6;
  if (!rowHost.empty() && rowHost.find_first_not_of("0123456789.") == std::string_view::npos)
    return HostKind::Ipv4;
  return HostKind::Name;
}

std::size_t HostColon(std::string_view text, std::size_t from) {
  if (from < text.size() && text[from] == '[') {
    const std::size_t close = text.find(']', from);
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return std::string_view::npos;
    return close + 1;
  }
  return text.find(':', from);
}

std::string_view BareHost(std::string_view rowHost) {
  if (rowHost.size() >= 2 && rowHost.front() == '[' && rowHost.back() == ']')
    return rowHost.substr(1, rowHost.size() - 2);
  return rowHost;
}

std::string HostPort(std::string_view host, std::string_view port) {
  std::string out;
  out.reserve(host.size() + port.size() + 3);
  const bool bareV6 = !host.empty() && host.front() != '[' && host.find(':') != std::string_view::npos;
  if (bareV6) out.push_back('[');
  out.append(host);
  if (bareV6) out.push_back(']');
  out.push_back(':');
  out.append(port);
  return out;
}

}  // namespace qb
