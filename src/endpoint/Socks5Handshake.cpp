// A SOCKS5 proxy: the method, the user name and password log-on when it asks for one,
// then CONNECT to an IPv4 or IPv6 address or a name.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

#include "endpoint/UpstreamHandshake.h"

namespace qb {

UpstreamHandshake::Want Socks5Handshake::OnOpen(std::string& out) {
  out += m_proxy.logOn ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3);
  return Want::Read;
}

UpstreamHandshake::Want Socks5Handshake::OnRequest(const ClientRequest& request, std::string& out) {
  const std::string& host = request.host;
  std::string ask = {5, 1, 0};
  uint8_t raw[16];
  if (inet_pton(AF_INET, host.c_str(), raw) == 1) {
    ask += '\x01';
    ask.append(reinterpret_cast<char*>(raw), 4);
  } else if (inet_pton(AF_INET6, host.c_str(), raw) == 1) {
    ask += '\x04';
    ask.append(reinterpret_cast<char*>(raw), 16);
  } else {
    if (host.size() > 255) return Fail(Failure::Unfit, "the host name is too long");
    ask += '\x03';
    ask += static_cast<char>(host.size());
    ask += host;
  }
  ask += {static_cast<char>(request.port >> 8), static_cast<char>(request.port & 0xFF)};
  out += ask;
  m_step = Step::Reply;
  return Want::Read;
}

UpstreamHandshake::Want Socks5Handshake::OnAnswer(std::string& out) {
  const auto* b = reinterpret_cast<const uint8_t*>(m_in.data());
  const size_t size = m_in.size();
  switch (m_step) {
    case Step::Method: {
      if (size < 2) return Want::Read;
      const bool logOn = b[1] == 2 && m_proxy.logOn;
      if (b[0] != 5 || (b[1] != 0 && !logOn)) {
        return Fail(Failure::Proxy, b[1] == 0xFF ? "the proxy wants a log-on" : "not a SOCKS5 proxy");
      }
      m_in.erase(0, 2);
      if (!logOn) return Want::Target;
      const std::string& user = m_proxy.logOn->user;
      const std::string& password = m_proxy.logOn->password;
      out += {1, static_cast<char>(std::min<size_t>(user.size(), 255))};
      out += user.substr(0, 255);
      out += static_cast<char>(std::min<size_t>(password.size(), 255));
      out += password.substr(0, 255);
      m_step = Step::LogOn;
      // The answer cannot have come yet: the proxy has not had the log-on.
      return size > 2 ? OnAnswer(out) : Want::Read;
    }
    case Step::LogOn:
      if (size < 2) return Want::Read;
      if (b[1] != 0) return Fail(Failure::Proxy, "the proxy refused the log-on");
      m_in.erase(0, 2);
      return Want::Target;
    case Step::Reply: {
      if (size < 5) return Want::Read;
      if (b[0] != 5) return Fail(Failure::Proxy, "not a SOCKS5 answer");
      if (b[1] != 0) {
        const bool target = b[1] >= 3 && b[1] <= 6;
        return Fail(target ? Failure::Target : Failure::Proxy,
                    "the proxy answered SOCKS5 error " + std::to_string(b[1]));
      }
      const size_t need = b[3] == 1 ? 10 : b[3] == 4 ? 22 : b[3] == 3 ? 7u + b[4] : 0;
      if (need == 0) return Fail(Failure::Proxy, "not a SOCKS5 answer");
      if (size < need) return Want::Read;
      return Finish(need);
    }
  }
  return Want::Read;
}

}  // namespace qb
