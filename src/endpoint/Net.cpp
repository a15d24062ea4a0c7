#include "endpoint/Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/ProxyHost.h"

namespace qb {

Io Receive(int fd, char* buf, size_t size, size_t& got) {
  return Retry([&] { return recv(fd, buf, size, 0); }, got);
}

Io Splice(int from, int to, size_t size, size_t& moved) {
  return Retry([&] { return splice(from, nullptr, to, nullptr, size, SPLICE_F_MOVE | SPLICE_F_NONBLOCK); },
               moved);
}

Io SendSome(int fd, std::string_view data, size_t& sent) {
  sent = 0;
  while (sent < data.size()) {
    size_t n = 0;
    const Io io = Retry([&] { return send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL); }, n);
    // A send of 0 bytes asked for more than 0 is no progress: wait for epoll as for EAGAIN.
    if (io != Io::Moved) return io == Io::End ? Io::Blocked : io;
    sent += n;
  }
  return Io::Moved;
}

bool Flush(int fd, std::string& buf, size_t& off, bool& broken) {
  size_t sent = 0;
  const Io io = SendSome(fd, std::string_view(buf).substr(off), sent);
  off += sent;
  if (io != Io::Moved) {
    broken = broken || io == Io::Broken;
    return false;
  }
  std::string().swap(buf);
  off = 0;
  return true;
}

void SocketAddress::SetPort(int port) {
  const auto p = htons(static_cast<uint16_t>(port));
  if (storage.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(storage).sin_port = p;
  if (storage.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6&>(storage).sin6_port = p;
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  return length == other.length && std::memcmp(&storage, &other.storage, length) == 0;
}

std::optional<SocketAddress> NumericAddress(std::string_view host, int port) {
  const std::string bare(BareHost(host));
  SocketAddress out;
  auto& in = reinterpret_cast<sockaddr_in&>(out.storage);
  auto& in6 = reinterpret_cast<sockaddr_in6&>(out.storage);
  if (inet_pton(AF_INET, bare.c_str(), &in.sin_addr) == 1) {
    in.sin_family = AF_INET;
    out.length = sizeof in;
  } else if (inet_pton(AF_INET6, bare.c_str(), &in6.sin6_addr) == 1) {
    in6.sin6_family = AF_INET6;
    out.length = sizeof in6;
  } else {
    return std::nullopt;
  }
  out.SetPort(port);
  return out;
}

int ListenSocket(const std::string& host, int port, int backlog, int& boundPort, std::string& error) {
  const auto address = NumericAddress(host == "localhost" ? "127.0.0.1" : host, port);
  if (!address) {
    error = "not an IP address";
    return -1;
  }
  const int fd = socket(address->Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, address->Get(), address->length) != 0 || listen(fd, backlog) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  boundPort = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                               : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
  return fd;
}

SocketAddress AddressOf(const sockaddr* address, socklen_t length) {
  SocketAddress out;
  out.length = std::min<socklen_t>(length, sizeof out.storage);
  std::memcpy(&out.storage, address, out.length);
  return out;
}

bool IsIPv4(const std::string& host) {
  in_addr a;
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool IsIPv6(const std::string& host) {
  in6_addr a;
  return inet_pton(AF_INET6, host.c_str(), &a) == 1;
}

std::string HostPort(const std::string& host, int port) {
  return (IsIPv6(host) ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool SplitAuthority(std::string_view text, std::string& host, int& port) {
  std::string_view h, p;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (h.find(':') != std::string_view::npos) return false;
  }
  if (h.empty() || p.empty() || p.size() > 5) return false;
  port = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return false;
  for (char c : h) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@') return false;
  }
  host = std::string(h);
  return true;
}

bool IsLoopbackPeer(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET) {
    return (ntohl(reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr) >> 24) == 127;
  }
  if (peer.ss_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&a)) return true;
    return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
  }
  return false;
}

}  // namespace qb
