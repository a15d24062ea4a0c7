#include "verify/JudgeServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/Text.h"
#include "verify/Judge.h"
#include "verify/PageSeal.h"

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

std::string AddressText(const sockaddr_storage& sa, int* port) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (sa.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(sa);
    *port = ntohs(a.sin_port);
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return buf;
  }
  const auto& a = reinterpret_cast<const sockaddr_in6&>(sa);
  *port = ntohs(a.sin6_port);
  inet_ntop(AF_INET6, &a.sin6_addr, buf, sizeof buf);
  // An IPv4 client of a dual-stack socket is shown as IPv4.
  return NormalizeAddress(buf);
}

std::string Response(int code, const char* reason, const std::string& body, bool withBody,
                     const char* extra = "") {
  std::string out = qb::Format("HTTP/1.0 %d %s\r\n", code, reason);
  out += "Content-Type: text/html; charset=utf-8\r\n";
  out += qb::Format("Content-Length: %zu\r\n", body.size());
  out += "Cache-Control: no-store\r\nConnection: close\r\n";
  out += extra;
  out += "\r\n";
  if (withBody) out += body;
  return out;
}

std::string ErrorPage(int code, const char* reason) {
  return qb::Format("<html><body><p>%d %s</p></body></html>\r\n", code, reason);
}

bool IsTokenChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && !std::strchr("()<>@,;:\\\"/[]?={}", c);
}

// Splits a request head into the request's parts; false when it is no HTTP request.
bool ParseHead(std::string_view head, JudgeRequest& r) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < head.size()) {
    std::size_t lf = head.find('\n', pos);
    if (lf == std::string_view::npos) lf = head.size();
    std::string_view line = head.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = lf + 1;
  }
  if (lines.empty()) return false;
  const std::string_view start = lines[0];
  const std::size_t sp1 = start.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : start.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || start.find(' ', sp2 + 1) != std::string_view::npos) return false;
  r.method = std::string(start.substr(0, sp1));
  r.uri = std::string(start.substr(sp1 + 1, sp2 - sp1 - 1));
  r.protocol = std::string(start.substr(sp2 + 1));
  if (r.method.empty() || r.uri.empty() || r.protocol.substr(0, 5) != "HTTP/") return false;
  for (unsigned char c : r.method) {
    if (!IsTokenChar(c)) return false;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if ((line[0] == ' ' || line[0] == '\t')) {
      // A folded line continues the value before it.
      if (r.headers.empty()) return false;
      r.headers.back().second += ' ';
      r.headers.back().second += qb::Trim(line);
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    for (unsigned char c : line.substr(0, colon)) {
      if (!IsTokenChar(c)) return false;
    }
    r.headers.emplace_back(std::string(line.substr(0, colon)), std::string(qb::Trim(line.substr(colon + 1))));
  }
  return true;
}

}  // namespace

struct CJudgeServer::Client {
  int fd = -1;
  std::string peer;
  int peerPort = 0;
  std::string in;
  std::string out;
  std::size_t sent = 0;
  bool answering = false;
  // Answered; what the client still sends is read and dropped until it closes, so
  // that closing on unread bytes cannot reset the connection before it read the answer.
  bool draining = false;
  Clock::time_point deadline;
};

CJudgeServer::CJudgeServer(std::string host, int port) : m_host(std::move(host)), m_requestedPort(port) {}

CJudgeServer::~CJudgeServer() {
  Stop();
}

namespace {

// Where an address listens, "127.0.0.1:8898" or "[::1]:8898".
std::string Where(const std::string& address, int port) {
  return address.find(':') != std::string::npos ? "[" + address + "]:" + std::to_string(port)
                                                : address + ":" + std::to_string(port);
}

// A listening socket on the address and port; -1 with errno set otherwise.
int ListenOn(const std::string& address, int port) {
  sockaddr_storage sa{};
  socklen_t saLen = 0;
  auto& a4 = reinterpret_cast<sockaddr_in&>(sa);
  auto& a6 = reinterpret_cast<sockaddr_in6&>(sa);
  if (inet_pton(AF_INET, address.c_str(), &a4.sin_addr) == 1) {
    a4.sin_family = AF_INET;
    a4.sin_port = htons(static_cast<uint16_t>(port));
    saLen = sizeof a4;
  } else if (inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr) == 1) {
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    saLen = sizeof a6;
  } else {
    errno = EINVAL;
    return -1;
  }
  const int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (fd < 0) return -1;
  // An IPv6 socket takes only IPv6: the IPv4 address of the same port is another socket's.
  if ((sa.ss_family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&sa), saLen) != 0 || listen(fd, 128) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  int port = 0;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen) == 0) AddressText(bound, &port);
  return port;
}

// Tries for a port free on both loopback addresses when any is asked for.
constexpr int kPortTries = 20;

}  // namespace

qb::OpResult CJudgeServer::Bind(const std::vector<std::string>& addresses, int port) {
  for (const std::string& address : addresses) {
    // The second address takes the port the first one got.
    const int want = m_listen.empty() ? port : m_port;
    const int fd = ListenOn(address, want);
    if (fd < 0) {
      const int error = errno;
      // Loopback without IPv6: the judge is there for IPv4 alone.
      if (!m_listen.empty() && address == "::1" && (error == EADDRNOTAVAIL || error == EAFNOSUPPORT))
        continue;
      return qb::OpResult::Failure(qb::OpStatus::ListenFailed, Where(address, want),
                                   error == EINVAL ? "not an IP address" : std::strerror(error));
    }
    m_listen.push_back(fd);
    m_addresses.push_back(address);
    if (m_listen.size() == 1) m_port = BoundPort(fd);
  }
  return qb::OpResult::Success();
}

qb::OpResult CJudgeServer::Start() {
  if (m_thread.joinable()) return qb::OpResult::Success();
  const bool loopback = m_host == "localhost";
  const std::vector<std::string> addresses =
      loopback ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector<std::string>{m_host};
  if (m_requestedPort < 0 || m_requestedPort > 65535)
    return qb::OpResult::Failure(qb::OpStatus::ListenFailed, Where(addresses.front(), m_requestedPort),
                                 "no such port");
  qb::OpResult bound = qb::OpResult::Success();
  for (int attempt = 0; attempt < kPortTries; ++attempt) {
    bound = Bind(addresses, m_requestedPort);
    if (bound) break;
    for (int fd : m_listen) close(fd);
    m_listen.clear();
    m_addresses.clear();
    m_port = 0;
    // Any port was asked for and the one free on IPv4 was taken on IPv6: another one.
    if (m_requestedPort != 0 || addresses.size() < 2) break;
  }
  if (!bound) return bound;
  if (pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    const std::string error = std::strerror(errno);
    for (int fd : m_listen) close(fd);
    m_listen.clear();
    m_addresses.clear();
    m_port = 0;
    return qb::OpResult::Failure(qb::OpStatus::ListenFailed, Where(addresses.front(), m_requestedPort),
                                 error);
  }
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return qb::OpResult::Success();
}

std::vector<std::string> CJudgeServer::Listening() const {
  std::vector<std::string> out;
  for (const std::string& a : m_addresses) out.push_back(Where(a, m_port));
  return out;
}

void CJudgeServer::Stop() {
  if (!m_thread.joinable()) return;
  m_stop = true;
  [[maybe_unused]] ssize_t n = write(m_wake[1], "x", 1);
  m_thread.join();
  for (Client* c : m_clients) {
    close(c->fd);
    delete c;
  }
  m_clients.clear();
  for (int fd : m_listen) close(fd);
  m_listen.clear();
  m_addresses.clear();
  close(m_wake[0]);
  close(m_wake[1]);
  m_wake[0] = m_wake[1] = -1;
  m_port = 0;
}

void CJudgeServer::Run() {
  std::vector<pollfd> fds;
  const std::size_t first = 1 + m_listen.size();
  while (!m_stop) {
    fds.clear();
    fds.push_back({m_wake[0], POLLIN, 0});
    for (int fd : m_listen) fds.push_back({fd, POLLIN, 0});
    const Clock::time_point now = Clock::now();
    int timeout = kIdleMs;
    for (Client* c : m_clients) {
      fds.push_back({c->fd, static_cast<short>(c->answering && !c->draining ? POLLOUT : POLLIN), 0});
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - now).count();
      timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(timeout, left + 1)));
    }
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (m_stop) break;
    std::vector<Client*> keep;
    const Clock::time_point after = Clock::now();
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
      Client* c = m_clients[i];
      const short ev = fds[i + first].revents;
      bool open = true;
      if (ev & (POLLERR | POLLNVAL)) {
        open = false;
      } else if (ev & (POLLIN | POLLHUP)) {
        open = c->answering && !c->draining ? Write(*c) : Read(*c);
      } else if (ev & POLLOUT) {
        open = Write(*c);
      } else if (after >= c->deadline) {
        open = false;
      }
      if (open) {
        keep.push_back(c);
      } else {
        close(c->fd);
        delete c;
      }
    }
    m_clients = std::move(keep);
    for (std::size_t i = 0; i < m_listen.size(); ++i) {
      if (fds[i + 1].revents & POLLIN) Accept(m_listen[i]);
    }
  }
}

void CJudgeServer::Accept(int listenFd) {
  for (;;) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (m_clients.size() >= kMaxClients) {
      close(fd);
      ++m_refused;
      continue;
    }
    auto* c = new Client;
    c->fd = fd;
    c->peer = AddressText(sa, &c->peerPort);
    c->deadline = Clock::now() + std::chrono::milliseconds(kIdleMs);
    m_clients.push_back(c);
  }
}

bool CJudgeServer::Read(Client& c) {
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (c.draining) continue;
    c.in.append(buf, static_cast<std::size_t>(n));
    std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) end = c.in.find("\n\n");
    if (end == std::string::npos && c.in.size() > kMaxHead) {
      c.out = Response(431, "Request Header Fields Too Large",
                       ErrorPage(431, "Request Header Fields Too Large"), true);
      ++m_refused;
      c.answering = true;
      return Write(c);
    }
    if (end != std::string::npos) {
      c.in.resize(end);
      Answer(c);
      return Write(c);
    }
  }
}

void CJudgeServer::Answer(Client& c) {
  c.answering = true;
  JudgeRequest r;
  if (c.in.size() > kMaxHead) {
    ++m_refused;
    c.out = Response(431, "Request Header Fields Too Large",
                     ErrorPage(431, "Request Header Fields Too Large"), true);
    return;
  }
  if (!ParseHead(c.in, r)) {
    ++m_refused;
    c.out = Response(400, "Bad Request", ErrorPage(400, "Bad Request"), true);
    return;
  }
  if (r.method != "GET" && r.method != "HEAD") {
    ++m_refused;
    c.out = Response(405, "Method Not Allowed", ErrorPage(405, "Method Not Allowed"), true,
                     "Allow: GET, HEAD\r\n");
    return;
  }
  r.remoteAddr = c.peer;
  r.remotePort = c.peerPort;
  ++m_served;
  std::string page = RenderJudgePage(r);
  // A check that asks for a seal learns whether the proxy changed the page.
  for (const auto& [name, value] : r.headers) {
    if (qb::AsciiCaseEqual(name, kSealHeader) && IsSealToken(value)) {
      page = SealPage(page, value);
      break;
    }
  }
  c.out = Response(200, "OK", page, r.method == "GET");
}

bool CJudgeServer::Write(Client& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.sent += static_cast<std::size_t>(n);
  }
  // Everything sent: the client reads to the end of the connection.
  shutdown(c.fd, SHUT_WR);
  c.draining = true;
  c.deadline = Clock::now() + std::chrono::milliseconds(2000);
  return true;
}

}  // namespace qb
