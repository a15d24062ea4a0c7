#include "endpoint/ClientHandshake.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

#include <QByteArray>

#include "base/Text.h"
#include "endpoint/Endpoint.h"
#include "endpoint/Net.h"

namespace qb {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiCaseEqual(text.substr(0, prefix.size()), prefix);
}

// Headers that concern one hop only, or us: dropped when a request is passed on.
bool IsHopHeader(std::string_view h) {
  return StartsWithNoCase(h, "proxy-authorization:") || StartsWithNoCase(h, "proxy-connection:") ||
         StartsWithNoCase(h, "connection:") || StartsWithNoCase(h, "keep-alive:") ||
         (StartsWithNoCase(h, kSessionHeader) && h.size() > kSessionHeader.size() &&
          h[kSessionHeader.size()] == ':');
}

std::string_view TrimSpaces(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

bool IsKeyText(std::string_view key) {
  return !key.empty() && key.size() <= kMaxSessionKey && std::all_of(key.begin(), key.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
  });
}

// The session an HTTP head names: its session header, else the user of its Basic
// proxy log-on.
std::string SessionOfHead(std::string_view head) {
  std::string_view rest = head.substr(head.find("\r\n") + 2);
  std::string fromLogOn;
  while (!rest.empty()) {
    const size_t e = rest.find("\r\n");
    const std::string_view h = rest.substr(0, e);
    rest = e == std::string_view::npos ? std::string_view{} : rest.substr(e + 2);
    const size_t colon = h.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = h.substr(0, colon);
    const std::string_view value = TrimSpaces(h.substr(colon + 1));
    if (AsciiCaseEqual(name, kSessionHeader)) {
      const std::string_view key = value;
      return IsKeyText(key) ? std::string(key) : std::string();
    }
    if (AsciiCaseEqual(name, "proxy-authorization") && value.size() > 6 &&
        AsciiCaseEqual(value.substr(0, 6), "basic ")) {
      const auto decoded = QByteArray::fromBase64Encoding(
          QByteArray(value.data() + 6, static_cast<qsizetype>(value.size() - 6)),
          QByteArray::AbortOnBase64DecodingErrors);
      if (!decoded) continue;
      const QByteArray userPass = *decoded;
      const qsizetype colonAt = userPass.indexOf(':');
      fromLogOn =
          SessionKeyOfUser(std::string_view(userPass.constData(), colonAt < 0 ? userPass.size() : colonAt));
    }
  }
  return fromLogOn;
}

// Appends the header lines of head (after its request line) that are not one hop's;
// whether a Host header was among them.
bool AppendEndToEndHeaders(std::string_view head, std::string& out) {
  std::string_view rest = head.substr(head.find("\r\n") + 2);
  bool host = false;
  while (!rest.empty()) {
    const size_t e = rest.find("\r\n");
    const std::string_view h = rest.substr(0, e);
    rest = rest.substr(e + 2);
    if (IsHopHeader(h)) continue;
    host = host || StartsWithNoCase(h, "host:");
    out.append(h).append("\r\n");
  }
  return host;
}

}  // namespace

std::string ClientRequest::ProxyForm(std::string_view extraHeaders) const {
  std::string out = head.substr(0, head.find("\r\n") + 2);
  AppendEndToEndHeaders(head, out);
  out.append(extraHeaders);
  out += "Connection: close\r\n\r\n";
  return out;
}

std::string ClientRequest::OriginForm() const {
  const std::string& r = head;
  const size_t sp1 = r.find(' ');
  const size_t uriStart = sp1 + 1 + 7;  // past "http://"
  const size_t pathStart = r.find_first_of("/? ", uriStart);
  const size_t sp2 = r.find(' ', sp1 + 1);
  std::string path = pathStart < sp2 ? r.substr(pathStart, sp2 - pathStart) : "/";
  if (path[0] == '?') path = "/" + path;
  std::string out = r.substr(0, sp1 + 1) + path + r.substr(sp2, r.find("\r\n") + 2 - sp2);
  if (!AppendEndToEndHeaders(r, out)) {
    const std::string authority = HostPort(host, port);
    // Without its port, an IPv6 address keeps its brackets.
    out += "Host: " + (port == 80 ? authority.substr(0, authority.rfind(':')) : authority) + "\r\n";
  }
  out += "Connection: close\r\n\r\n";
  return out;
}

bool ClientRequest::Repeatable() const {
  const std::string_view method = std::string_view(head).substr(0, head.find(' '));
  const bool whole = head.find("\r\nContent-Length:") == std::string::npos &&
                     head.find("\r\nTransfer-Encoding:") == std::string::npos &&
                     head.find("\r\ncontent-length:") == std::string::npos &&
                     head.find("\r\ntransfer-encoding:") == std::string::npos;
  return whole && (method == "GET" || method == "HEAD" || method == "OPTIONS");
}

std::string SessionKeyOfUser(std::string_view user) {
  constexpr std::string_view kWord = "session-";
  size_t at = std::string_view::npos;
  if (user.starts_with(kWord)) {
    at = 0;
  } else {
    const size_t inside = user.find("-session-");
    if (inside != std::string_view::npos) at = inside + 1;
  }
  if (at == std::string_view::npos) return {};
  std::string_view key = user.substr(at + kWord.size());
  key = key.substr(0, key.find('-'));
  return IsKeyText(key) ? std::string(key) : std::string();
}

std::string SuccessAnswer(ClientKind kind) {
  switch (kind) {
    case ClientKind::HttpConnect:
      return "HTTP/1.1 200 Connection established\r\n\r\n";
    case ClientKind::Socks5:
      return std::string("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    case ClientKind::HttpForward:
      break;
  }
  return {};
}

std::string RefusalAnswer(ClientKind kind, int httpStatus, uint8_t socksReply, const std::string& text) {
  if (kind == ClientKind::Socks5) {
    return {5, static_cast<char>(socksReply ? socksReply : 1), 0, 1, 0, 0, 0, 0, 0, 0};
  }
  const char* reason = httpStatus == 400   ? "Bad Request"
                       : httpStatus == 431 ? "Request Header Fields Too Large"
                                           : "Bad Gateway";
  const std::string body = text + "\n";
  return "HTTP/1.1 " + std::to_string(httpStatus) + " " + reason +
         "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void ClientHandshake::Take(const char* data, size_t size) {
  if (!m_started && size > 0) {
    m_started = true;
    m_kind = data[0] == 5 ? ClientKind::Socks5 : ClientKind::HttpForward;
  }
  m_in.append(data, size);
}

ClientHandshake::Want ClientHandshake::Next() {
  if (m_end != Want::More) return m_end;
  if (!m_started) return Want::More;
  if (m_kind != ClientKind::Socks5) return NextHttp();
  if (!m_greeted) return NextSocksGreeting();
  return m_loggingOn ? NextSocksLogOn() : NextSocksRequest();
}

ClientHandshake::Want ClientHandshake::Refuse(int httpStatus, uint8_t socksReply, const std::string& text) {
  m_refusal = RefusalAnswer(m_kind, httpStatus, socksReply, text);
  return m_end = Want::Refuse;
}

ClientHandshake::Want ClientHandshake::Done() {
  m_request.kind = m_kind;
  std::string().swap(m_in);
  return m_end = Want::Done;
}

ClientHandshake::Want ClientHandshake::NextSocksGreeting() {
  const auto* b = reinterpret_cast<const uint8_t*>(m_in.data());
  const size_t size = m_in.size();
  if (size < 2 || size < 2u + b[1]) return Want::More;
  const bool none = std::find(b + 2, b + 2 + b[1], 0) != b + 2 + b[1];
  // A log-on is taken whatever it says: it is how a client names its session. Chosen
  // over none when both are offered, or the session could never be named.
  const bool logOn = std::find(b + 2, b + 2 + b[1], 2) != b + 2 + b[1];
  if (!none && !logOn) {
    // No method we offer: the SOCKS5 way of saying so is the whole answer.
    m_refusal = {5, static_cast<char>(0xFF)};
    return m_end = Want::Refuse;
  }
  m_greeted = true;
  m_loggingOn = logOn;
  m_greeting = logOn ? std::string("\x05\x02", 2) : std::string("\x05\x00", 2);
  m_in.erase(0, 2u + b[1]);
  return Want::Greet;
}

// The user and password exchange (RFC 1929): ver 1, the user, the password.
ClientHandshake::Want ClientHandshake::NextSocksLogOn() {
  const auto* b = reinterpret_cast<const uint8_t*>(m_in.data());
  const size_t size = m_in.size();
  if (size < 2) return Want::More;
  if (b[0] != 1) {
    m_refusal = {1, 1};
    return m_end = Want::Refuse;
  }
  const size_t userEnd = 2u + b[1];
  if (size < userEnd + 1 || size < userEnd + 1 + b[userEnd]) return Want::More;
  m_request.sessionKey = SessionKeyOfUser(std::string_view(m_in).substr(2, b[1]));
  m_in.erase(0, userEnd + 1 + b[userEnd]);
  m_loggingOn = false;
  m_greeting = std::string("\x01\x00", 2);
  return Want::Greet;
}

ClientHandshake::Want ClientHandshake::NextSocksRequest() {
  const auto* b = reinterpret_cast<const uint8_t*>(m_in.data());
  const size_t size = m_in.size();
  if (size < 4) return Want::More;
  if (b[0] != 5) return Refuse(0, 1, {});
  if (b[1] != 1) return Refuse(0, 7, {});  // only CONNECT
  size_t need = 0;
  switch (b[3]) {
    case 1:
      need = 4 + 4 + 2;
      break;
    case 4:
      need = 4 + 16 + 2;
      break;
    case 3:
      if (size < 5) return Want::More;
      if (b[4] == 0) return Refuse(0, 8, {});
      need = 5 + b[4] + 2;
      break;
    default:
      return Refuse(0, 8, {});
  }
  if (size < need) return Want::More;
  std::string& host = m_request.host;
  char text[INET6_ADDRSTRLEN] = {};
  if (b[3] == 1) {
    inet_ntop(AF_INET, b + 4, text, sizeof text);
    host = text;
  } else if (b[3] == 4) {
    inet_ntop(AF_INET6, b + 4, text, sizeof text);
    host = text;
  } else {
    host.assign(reinterpret_cast<const char*>(b + 5), b[4]);
    // The name goes into the upstream's request as it is: nothing that could end a
    // line or a field there.
    if (!std::all_of(host.begin(), host.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        })) {
      return Refuse(0, 1, {});
    }
  }
  m_request.port = (b[need - 2] << 8) | b[need - 1];
  if (m_request.port == 0) return Refuse(0, 1, {});
  m_request.body = m_in.substr(need);
  return Done();
}

ClientHandshake::Want ClientHandshake::NextHttp() {
  const size_t end = m_in.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (m_in.size() > kMaxHead) return Refuse(431, 0, "The request head is too large.");
    if (m_in.find('\n') == std::string::npos && m_in.size() > 8192) {
      return Refuse(400, 0, "The request line is too long.");
    }
    return Want::More;
  }
  if (end + 4 > kMaxHead) return Refuse(431, 0, "The request head is too large.");
  const std::string_view head(m_in.data(), end + 2);
  const std::string_view line = head.substr(0, head.find("\r\n"));
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos ||
      !line.substr(sp2 + 1).starts_with("HTTP/1.")) {
    return Refuse(400, 0, "The request line is malformed.");
  }
  const std::string_view method = line.substr(0, sp1);
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (method.empty() ||
      std::any_of(method.begin(), method.end(), [](char c) { return c < 'A' || c > 'Z'; })) {
    return Refuse(400, 0, "The request line is malformed.");
  }
  // The one request addressed to the endpoint itself rather than through it.
  if (method == "GET" && target == kEndpointStatusPath) return m_end = Want::Status;
  if (method == "CONNECT") {
    if (!SplitAuthority(target, m_request.host, m_request.port)) {
      return Refuse(400, 0, "The CONNECT target is malformed.");
    }
    m_kind = ClientKind::HttpConnect;
  } else {
    constexpr std::string_view kScheme = "http://";
    if (target.size() <= kScheme.size() || !AsciiCaseEqual(target.substr(0, kScheme.size()), kScheme)) {
      return Refuse(400, 0, "Only absolute http:// requests and CONNECT are served here.");
    }
    const std::string_view rest = target.substr(kScheme.size());
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
    if (authority.find('@') != std::string_view::npos) return Refuse(400, 0, "The URL is malformed.");
    const bool hasPort = authority.starts_with('[') ? authority.find("]:") != std::string_view::npos
                                                    : authority.find(':') != std::string_view::npos;
    const std::string withPort = hasPort ? std::string(authority) : std::string(authority) + ":80";
    if (!SplitAuthority(withPort, m_request.host, m_request.port)) {
      return Refuse(400, 0, "The URL is malformed.");
    }
    m_request.head.assign(head);
  }
  m_request.sessionKey = SessionOfHead(head);
  m_request.body = m_in.substr(end + 4);
  return Done();
}

}  // namespace qb
