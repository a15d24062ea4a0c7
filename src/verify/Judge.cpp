#include "verify/Judge.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/Text.h"

namespace qb {

namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  for (unsigned char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        // A line break in a value would forge a line of its own.
        out += (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
    }
  }
}

void AppendField(std::string& out, std::string_view name, std::string_view value) {
  AppendEscaped(out, name);
  out += " = ";
  AppendEscaped(out, value);
  out += "\r\n";
}

std::string DecodeEntities(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&nbsp;", ' '}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

bool IsFieldNameChar(unsigned char c) {
  return std::isupper(c) || std::isdigit(c) || c == '_';
}

std::string Upper(std::string_view s) {
  return qb::AsciiUpper(s);
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Forwarded's host= names the target, which the client chose itself.
std::string WithoutForwardedHost(std::string_view value) {
  std::string out;
  std::size_t pos = 0;
  while (pos <= value.size()) {
    std::size_t end = value.find_first_of(";,", pos);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view part = qb::Trim(value.substr(pos, end - pos));
    if (!(part.size() >= 5 && qb::AsciiCaseEqual(part.substr(0, 5), "host="))) {
      out.append(part);
      out += ';';
    }
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::string JudgeHeaderName(std::string_view header) {
  std::string name = "HTTP_";
  for (unsigned char c : header) name += c == '-' ? '_' : static_cast<char>(std::toupper(c));
  return name;
}

std::string RenderJudgePage(const JudgeRequest& r) {
  std::string page =
      "<html>\r\n<head><title>Proxy judge</title></head>\r\n<body>\r\n<h1>Proxy judge</h1>\r\n<pre>\r\n";
  AppendField(page, "REMOTE_ADDR", r.remoteAddr);
  AppendField(page, "REMOTE_PORT", std::to_string(r.remotePort));
  AppendField(page, "REQUEST_METHOD", r.method);
  AppendField(page, "REQUEST_URI", r.uri);
  AppendField(page, "SERVER_PROTOCOL", r.protocol);
  for (const auto& [name, value] : r.headers) AppendField(page, JudgeHeaderName(name), value);
  page += "</pre>\r\n<p>";
  page += kJudgeFeature;
  page += "</p>\r\n</body>\r\n</html>\r\n";
  return page;
}

void JudgePageReader::TakeLine(std::string_view line) {
  // Markup separates fields: judges put them in <pre> lines, in table cells or
  // between <br> tags.
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t open = line.find('<', pos);
    TakeField(line.substr(pos, open == std::string_view::npos ? std::string_view::npos : open - pos));
    if (open == std::string_view::npos) break;
    const std::size_t close = line.find('>', open);
    if (close == std::string_view::npos) break;
    pos = close + 1;
  }
}

void JudgePageReader::TakeField(std::string_view text) {
  text = qb::Trim(text);
  std::size_t n = 0;
  while (n < text.size() && IsFieldNameChar(static_cast<unsigned char>(text[n]))) ++n;
  if (n == 0) return;
  const std::string_view name = text.substr(0, n);
  std::string_view rest = qb::TrimLeft(text.substr(n));
  if (rest.empty() || (rest[0] != '=' && rest[0] != ':')) return;
  const std::string value = DecodeEntities(qb::Trim(rest.substr(1)));
  if (name == "REMOTE_ADDR") {
    const std::string address = NormalizeAddress(value);
    if (m_view.remoteAddr.empty()) m_view.remoteAddr = address;
  } else if (name.size() > 5 && name.substr(0, 5) == "HTTP_") {
    m_view.headers.emplace_back(std::string(name.substr(5)), value);
  }
}

std::optional<JudgeView> ParseJudgePage(std::string_view page) {
  JudgePageReader reader;
  std::size_t pos = 0;
  while (pos < page.size()) {
    std::size_t lf = page.find('\n', pos);
    if (lf == std::string_view::npos) lf = page.size();
    std::string_view line = page.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    reader.TakeLine(line);
    pos = lf + 1;
  }
  if (!reader.IsJudge()) return std::nullopt;
  return reader.View();
}

const char* AnonymityName(Anonymity a) {
  switch (a) {
    case Anonymity::Transparent:
      return "transparent";
    case Anonymity::Anonymous:
      return "anonymous";
    case Anonymity::Elite:
      return "elite";
  }
  return "";
}

std::string NormalizeAddress(std::string_view text) {
  std::string t(qb::Trim(text));
  if (t.size() > 2 && t.front() == '[') {
    const std::size_t close = t.find(']');
    if (close == std::string::npos) return {};
    t = t.substr(1, close - 1);
  }
  char buf[INET6_ADDRSTRLEN] = {};
  in6_addr a6{};
  if (inet_pton(AF_INET6, t.c_str(), &a6) == 1) {
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
      in_addr a4{};
      std::memcpy(&a4, &a6.s6_addr[12], 4);
      return inet_ntop(AF_INET, &a4, buf, sizeof buf) ? std::string(buf) : std::string();
    }
    return inet_ntop(AF_INET6, &a6, buf, sizeof buf) ? std::string(buf) : std::string();
  }
  // An IPv4 address may come with its port.
  const std::size_t colon = t.find(':');
  if (colon != std::string::npos && t.find(':', colon + 1) == std::string::npos) t.resize(colon);
  in_addr a4{};
  if (inet_pton(AF_INET, t.c_str(), &a4) == 1) {
    return inet_ntop(AF_INET, &a4, buf, sizeof buf) ? std::string(buf) : std::string();
  }
  return {};
}

std::vector<std::string> AddressesIn(std::string_view value) {
  std::vector<std::string> out;
  auto addressChar = [](unsigned char c) {
    return std::isxdigit(c) || c == '.' || c == ':' || c == '[' || c == ']';
  };
  std::size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && !addressChar(static_cast<unsigned char>(value[pos]))) ++pos;
    std::size_t end = pos;
    while (end < value.size() && addressChar(static_cast<unsigned char>(value[end]))) ++end;
    if (end > pos) {
      std::string address = NormalizeAddress(value.substr(pos, end - pos));
      if (!address.empty() && !Contains(out, address)) out.push_back(std::move(address));
    }
    pos = end;
  }
  return out;
}

bool IsProxyHeader(std::string_view name) {
  static constexpr std::string_view kNames[] = {"VIA",
                                                "FORWARDED",
                                                "X_REAL_IP",
                                                "CLIENT_IP",
                                                "X_CLIENT_IP",
                                                "TRUE_CLIENT_IP",
                                                "X_ORIGINATING_IP",
                                                "X_REMOTE_IP",
                                                "X_REMOTE_ADDR",
                                                "X_PROXY_ID",
                                                "X_BLUECOAT_VIA",
                                                "X_TINYPROXY",
                                                "XROXY_CONNECTION",
                                                "CACHE_INFO"};
  const std::string n = Upper(name);
  for (std::string_view k : kNames) {
    if (n == k) return true;
  }
  if (n.size() > 4 && n.substr(n.size() - 4) == "_VIA") return true;
  return n.find("FORWARD") != std::string::npos || n.find("PROXY") != std::string::npos ||
         n.find("CLIENT_IP") != std::string::npos;
}

Anonymity ClassifyJudgeView(const JudgeView& view, const std::vector<std::string>& ownAddresses) {
  std::vector<std::string> own;
  for (const std::string& a : ownAddresses) {
    std::string n = NormalizeAddress(a);
    if (!n.empty()) own.push_back(std::move(n));
  }
  if (Contains(own, view.remoteAddr)) return Anonymity::Transparent;
  for (const auto& [name, value] : view.headers) {
    const std::string n = Upper(name);
    // What names the target was chosen by the client, not revealed about it.
    if (n == "HOST" || n == "X_FORWARDED_HOST" || n == "REFERER" || n == "ORIGIN") continue;
    const std::string checked = n == "FORWARDED" ? WithoutForwardedHost(value) : value;
    for (const std::string& a : AddressesIn(checked)) {
      if (Contains(own, a)) return Anonymity::Transparent;
    }
  }
  for (const auto& header : view.headers) {
    if (IsProxyHeader(header.first)) return Anonymity::Anonymous;
  }
  return Anonymity::Elite;
}

std::vector<std::string> InterfaceAddresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    char buf[INET6_ADDRSTRLEN] = {};
    if (i->ifa_addr->sa_family == AF_INET) {
      const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
      if ((ntohl(a->sin_addr.s_addr) >> 24) == 127) continue;
      if (inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf)) out.emplace_back(buf);
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      const auto* a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
      if (IN6_IS_ADDR_LOOPBACK(&a->sin6_addr)) continue;
      if (inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf)) out.emplace_back(buf);
    }
  }
  freeifaddrs(list);
  std::vector<std::string> unique;
  for (std::string& a : out) {
    std::string n = NormalizeAddress(a);
    if (!n.empty() && !Contains(unique, n)) unique.push_back(std::move(n));
  }
  return unique;
}

std::vector<std::string> COwnAddresses::For(const std::string& judgeUrl,
                                            const std::function<Probe()>& direct) {
  std::vector<std::string> addresses;
  {
    std::unique_lock<std::mutex> g(m_lock);
    for (;;) {
      if (auto it = m_known.find(judgeUrl); it != m_known.end()) return it->second;
      if (!m_asking.count(judgeUrl)) break;
      m_learnt.wait(g);
    }
    m_asking.insert(judgeUrl);
  }
  return Learn(judgeUrl, direct ? direct() : Probe{});
}

COwnAddresses::Claim COwnAddresses::Ask(const std::string& judgeUrl, std::vector<std::string>& addresses) {
  std::lock_guard<std::mutex> g(m_lock);
  if (auto it = m_known.find(judgeUrl); it != m_known.end()) {
    addresses = it->second;
    return Claim::Known;
  }
  if (m_asking.count(judgeUrl)) return Claim::Busy;
  m_asking.insert(judgeUrl);
  return Claim::Mine;
}

std::vector<std::string> COwnAddresses::Learn(const std::string& judgeUrl, const Probe& probe) {
  std::vector<std::string> addresses = InterfaceAddresses();
  const std::string seen = NormalizeAddress(probe.remoteAddr);
  if (!seen.empty() && !Contains(addresses, seen)) addresses.insert(addresses.begin(), seen);
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_asking.erase(judgeUrl);
    // An unsettled answer is not kept: the next task that needs it asks again.
    if (probe.settled) m_known[judgeUrl] = addresses;
  }
  m_learnt.notify_all();
  return addresses;
}

}  // namespace qb
