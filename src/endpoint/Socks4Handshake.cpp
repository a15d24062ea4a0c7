// A SOCKS4 proxy: one request and one eight-byte answer; a name goes as SOCKS4a, and the
// log-on's user name as the user id (SOCKS4 has no password).
#include <arpa/inet.h>
#include <netinet/in.h>

#include "endpoint/Net.h"
#include "endpoint/UpstreamHandshake.h"

namespace qb {

UpstreamHandshake::Want Socks4Handshake::OnRequest(const ClientRequest& request, std::string& out) {
  in_addr a{};
  const bool v4 = inet_pton(AF_INET, request.host.c_str(), &a) == 1;
  if (!v4 && IsIPv6(request.host)) return Fail(Failure::Unfit, "SOCKS4 cannot carry an IPv6 address");
  out += {4, 1, static_cast<char>(request.port >> 8), static_cast<char>(request.port & 0xFF)};
  if (v4) {
    out.append(reinterpret_cast<const char*>(&a), 4);
  } else {
    out.append("\0\0\0\x01", 4);  // SOCKS4a: the name follows
  }
  out += (m_proxy.logOn ? m_proxy.logOn->user : std::string()) + '\0';
  if (!v4) out += request.host + '\0';
  return Want::Read;
}

UpstreamHandshake::Want Socks4Handshake::OnAnswer(std::string& out) {
  if (m_in.size() < 8) return Want::Read;
  const auto code = static_cast<uint8_t>(m_in[1]);
  if (code != 0x5A) {
    return Fail(code == 0x5B ? Failure::Target : Failure::Proxy,
                "the proxy answered SOCKS4 error " + std::to_string(code));
  }
  return Finish(8);
}

}  // namespace qb
