// What the endpoint's tests with real peers share: curl as the endpoint's client, a raw
// socket client for the protocol cases, a microsocks and a tinyproxy of a test's own, and
// an origin that names who reached it. All of them on 127.0.0.0/8 or [::1] only.
#pragma once

#include <QProcess>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "endpoint/Net.h"
#include "support/TempDir.h"

namespace eptest {

struct CurlResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// curl's way of going through the endpoint: an absolute-URI request, a CONNECT tunnel,
// SOCKS5 with the target's name, SOCKS5 with the address curl found for it.
enum class Via { Request, Tunnel, Socks5, Socks5Address };

// "host:port" the way a URL writes it.
inline std::string Authority(const std::string& host, int port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Through the endpoint at host (an IPv4 or bare IPv6 address) and port.
inline CurlResult Curl(int endpointPort, Via via, const std::string& url,
                       const std::string& host = "127.0.0.1") {
  QStringList args{"-sS", "--max-time", "10", "--noproxy", ""};
  const QString at = QString::fromStdString(Authority(host, endpointPort));
  if (via == Via::Socks5) {
    args << "--socks5-hostname" << at;
  } else if (via == Via::Socks5Address) {
    args << "--socks5" << at;
  } else {
    args << "-x"
         << "http://" + at;
    if (via == Via::Tunnel) args << "-p";
  }
  args << QString::fromStdString(url);
  QProcess p;
  QProcessEnvironment env;  // no proxy variables of the test's own environment
  env.insert("PATH", "/usr/bin:/bin");
  p.setProcessEnvironment(env);
  p.start("/usr/bin/curl", args);
  CurlResult r;
  if (!p.waitForStarted(5000) || !p.waitForFinished(20000)) return r;
  r.exitCode = p.exitCode();
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

// The origins' /echo pages name the address the request came from: each peer leaves
// from one of its own.
inline std::string EchoClient(const std::string& body) {
  const size_t at = body.find("client=");
  return at == std::string::npos ? std::string() : body.substr(at + 7, body.find("\r\n", at) - at - 7);
}

// A child that ends with this test process, also when the process dies mid-test.
inline void EndWithParent(QProcess& p) {
  p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// A socket of host's family bound to host:port (0 for any free one); -1 on failure.
inline int BoundSocket(const std::string& host, int port, int& boundPort) {
  const auto address = qb::NumericAddress(host, port);
  if (!address) return -1;
  const int fd = socket(address->Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, address->Get(), address->length) != 0) {
    close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  boundPort = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                               : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
  return fd;
}

inline int FreePort(const std::string& host = "127.0.0.1") {
  int port = 0;
  const int fd = BoundSocket(host, 0, port);
  if (fd >= 0) close(fd);
  return port;
}

// A blocking client with a receive time-out, for the raw protocol cases.
class RawClient {
 public:
  explicit RawClient(int port, int timeoutMs = 3000, const std::string& host = "127.0.0.1") {
    const auto address = qb::NumericAddress(host, port);
    m_fd = socket(address ? address->Family() : AF_INET, SOCK_STREAM, 0);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    m_connected = address && connect(m_fd, address->Get(), address->length) == 0;
  }
  ~RawClient() { close(m_fd); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool Connected() const { return m_connected; }
  void Send(const std::string& bytes) { send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // What arrives until the peer closes, the time-out passes, or want bytes came.
  std::string Receive(size_t want = SIZE_MAX) {
    std::string got;
    char buf[4096];
    while (got.size() < want) {
      const ssize_t n = recv(m_fd, buf, std::min(sizeof buf, want - got.size()), 0);
      if (n <= 0) {
        m_closed = n == 0;
        break;
      }
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  // An HTTP answer's head and as much of its body as its Content-Length says.
  std::string ReceiveAnswer() {
    std::string got;
    size_t end = std::string::npos;
    while ((end = got.find("\r\n\r\n")) == std::string::npos) {
      const std::string more = Receive(1);
      if (more.empty()) return got;
      got += more;
    }
    const size_t length = got.find("Content-Length: ");
    const size_t body = length == std::string::npos ? 0 : std::stoul(got.substr(length + 16));
    return got + Receive(body);
  }
  bool ClosedByPeer() const { return m_closed; }

 private:
  int m_fd = -1;
  bool m_connected = false;
  bool m_closed = false;
};

inline bool WaitForPort(int port, const std::string& host = "127.0.0.1") {
  for (int i = 0; i < 100; ++i) {
    if (RawClient(port, 100, host).Connected()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A microsocks of the test's own on listen:port (a free port when 0), leaving from
// outAddress when one is given, that the test can stop while the endpoint uses it.
class OwnSocks {
 public:
  explicit OwnSocks(const std::string& outAddress, const std::string& listen = "127.0.0.1", int port = 0)
      : m_port(port ? port : FreePort(listen)) {
    EndWithParent(m_process);
    QStringList args{"-i", QString::fromStdString(listen), "-p", QString::number(m_port)};
    if (!outAddress.empty()) args << "-b" << QString::fromStdString(outAddress);
    m_process.start("/usr/bin/microsocks", args);
    m_process.waitForStarted(5000);
    m_ready = WaitForPort(m_port, listen);
  }
  ~OwnSocks() { Stop(); }
  void Stop() {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
  int Port() const { return m_port; }
  bool Ready() const { return m_ready; }
  // Stops or resumes it without closing anything: connections to it stay open and
  // new ones are taken by the kernel but never answered, as a hung proxy does.
  void Freeze(bool frozen) {
    const auto pid = static_cast<pid_t>(m_process.processId());
    if (pid > 0) ::kill(pid, frozen ? SIGSTOP : SIGCONT);
  }

 private:
  int m_port;
  bool m_ready = false;
  QProcess m_process;
};

// A tinyproxy of the test's own on listen, a loopback address. No Allow lines:
// tinyproxy 1.11 can misread a concurrent IPv6 client's address and refuse it.
class OwnTinyproxy {
 public:
  explicit OwnTinyproxy(const std::string& listen) : m_port(FreePort(listen)) {
    const std::string conf = m_dir.File("tinyproxy.conf");
    std::ofstream(conf) << (getuid() == 0 ? "User nobody\nGroup nogroup\n" : "") << "Port " << m_port
                        << "\nListen " << listen << "\nTimeout 60\nMaxClients 20\nLogLevel Critical\n";
    EndWithParent(m_process);
    m_process.start("/usr/bin/tinyproxy", {"-d", "-c", QString::fromStdString(conf)});
    m_process.waitForStarted(5000);
    m_ready = WaitForPort(m_port, listen);
  }
  ~OwnTinyproxy() {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
  int Port() const { return m_port; }
  bool Ready() const { return m_ready; }

 private:
  qbtest::TempDir m_dir;
  int m_port;
  bool m_ready = false;
  QProcess m_process;
};

// An HTTP origin on host (an IPv4 or bare IPv6 address) whose every answer is
// "client=ADDRESS" and the request's head as it came.
class EchoOrigin {
 public:
  explicit EchoOrigin(const std::string& host) {
    m_listener = BoundSocket(host, 0, m_port);
    if (m_listener >= 0 && listen(m_listener, 16) == 0) m_thread = std::thread([this] { Serve(); });
  }
  ~EchoOrigin() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) close(m_listener);
  }
  int Port() const { return m_port; }
  bool Ready() const { return m_thread.joinable(); }
  std::string Url(const std::string& host, const std::string& path = "/echo") const {
    return "http://" + Authority(host, m_port) + path;
  }

 private:
  void Serve() {
    while (!m_stop) {
      pollfd p{m_listener, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      const int fd = accept(m_listener, reinterpret_cast<sockaddr*>(&peer), &len);
      if (fd < 0) continue;
      timeval tv{3, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      std::string head;
      char c;
      while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) head += c;
      char text[INET6_ADDRSTRLEN] = {};
      if (peer.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
      } else {
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in&>(peer).sin_addr, text, sizeof text);
      }
      const std::string body = "client=" + std::string(text) + "\r\n" + head;
      const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + body;
      send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      close(fd);
    }
  }

  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace eptest
