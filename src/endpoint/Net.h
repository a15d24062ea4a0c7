// The small pieces of socket work and address text the endpoint's parts share.
//
// Every read and write of a non-blocking socket (or pipe) ends in one of four ways,
// and every caller treats them alike: bytes moved; the other side ended (a read of 0);
// nothing can move now and epoll will say when; or the connection is broken. Retry
// turns a system call's result into one of these, so that the handshakes and the relay
// share a single way of deciding what an error means.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qb {

enum class Io {
  Moved,    // some bytes moved (how many: the call's count)
  End,      // a read found the other side's end
  Blocked,  // nothing can move now
  Broken,   // the connection failed
};

// Runs call (a read or write returning ssize_t) again while a signal interrupts it.
template <typename Call>
Io Retry(Call call, size_t& moved) {
  for (;;) {
    const ssize_t n = call();
    if (n > 0) {
      moved = static_cast<size_t>(n);
      return Io::Moved;
    }
    moved = 0;
    if (n == 0) return Io::End;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Io::Blocked : Io::Broken;
  }
}

// One recv into buf.
Io Receive(int fd, char* buf, size_t size, size_t& got);
// One splice of at most size bytes, from or to a pipe, without blocking.
Io Splice(int from, int to, size_t size, size_t& moved);
// Sends as much of data as fd takes now; Moved only when all of it went.
Io SendSome(int fd, std::string_view data, size_t& sent);
// Sends what waits in buf from off on; true when all went, and buf is then freed.
// Otherwise off says how far it got, and broken whether the connection failed.
bool Flush(int fd, std::string& buf, size_t& off, bool& broken);

// A socket address as connect and bind take it.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int Family() const { return storage.ss_family; }
  void SetPort(int port);
  bool operator==(const SocketAddress& other) const;
};
// The address of an IPv4 or IPv6 address text (an IPv6 one bare or in brackets) and a
// port; nullopt for anything else, a name included: nothing is looked up.
std::optional<SocketAddress> NumericAddress(std::string_view host, int port);
// A non-blocking listening socket on host:port ("localhost" is 127.0.0.1; a port of 0
// takes any free one), with the port it got in boundPort; -1 and error saying why when
// it cannot be had.
int ListenSocket(const std::string& host, int port, int backlog, int& boundPort, std::string& error);
// A copy of a socket address a system call or the resolver gave.
SocketAddress AddressOf(const sockaddr* address, socklen_t length);

bool IsIPv4(const std::string& host);
bool IsIPv6(const std::string& host);
// "host:port", with a v6 address in brackets.
std::string HostPort(const std::string& host, int port);
// Splits "host:port" or "[v6]:port"; false when it is neither, or when the host holds
// a space, a control character, '/' or '@', which would change the meaning of a
// request it is passed on in.
bool SplitAuthority(std::string_view text, std::string& host, int& port);
bool IsLoopbackPeer(const sockaddr_storage& peer);

}  // namespace qb
