#include "endpoint/Endpoint.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

// One read's worth of relayed data. Data waits in a connection's own buffer only when
// the receiving side cannot take it at once, so an idle connection holds none.
constexpr size_t kChunk = 32 * 1024;
// What one splice moves at most: a pipe's default capacity.
constexpr size_t kPipeChunk = 64 * 1024;
// A request head (or an upstream's answer head) larger than this is refused.
constexpr size_t kMaxHead = 64 * 1024;
// How often deadlines are looked at while any connection has one.
constexpr int kTickMs = 100;
constexpr int kMaxSetAsideMs = 3600 * 1000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiCaseEqual(text.substr(0, prefix.size()), prefix);
}

// Headers that concern one hop only, or us: dropped when a request is passed on.
bool IsHopHeader(std::string_view h) {
  return StartsWithNoCase(h, "proxy-authorization:") || StartsWithNoCase(h, "proxy-connection:") ||
         StartsWithNoCase(h, "connection:") || StartsWithNoCase(h, "keep-alive:");
}

std::string Base64(const std::string& in) {
  return QByteArray(in.data(), static_cast<qsizetype>(in.size())).toBase64().toStdString();
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

bool IsLoopbackPeer(const sockaddr_storage& ss) {
  if (ss.ss_family == AF_INET) {
    return (ntohl(reinterpret_cast<const sockaddr_in&>(ss).sin_addr.s_addr) >> 24) == 127;
  }
  if (ss.ss_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(ss).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&a)) return true;
    return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
  }
  return false;
}

// Splits "host:port" or "[v6]:port"; false when it is neither.
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

// What became of an attempt through one upstream proxy.
enum class Failure {
  None,
  Proxy,   // the proxy could not be reached, did not answer, or refused us
  Target,  // the proxy answered that the target cannot be reached
  Unfit,   // the proxy's protocol cannot carry this target (an IPv6 address over SOCKS4)
};

}  // namespace

std::string UpstreamProxy::Line() const {
  return addr + ":" + port + "@" + type;
}

bool IsEndpointType(std::string_view type) {
  return type == "HTTP" || type == "HTTPS" || type == "SOCKS4" || type == "SOCKS5";
}

std::vector<UpstreamProxy> UpstreamsFromEntries(const std::vector<CProxyEntry>& rows,
                                                const CProxyCredentialStore& logOns,
                                                const std::vector<std::string>& types) {
  std::vector<UpstreamProxy> pool;
  for (const CProxyEntry& e : rows) {
    const std::string type = AsciiUpper(e.Type());
    if (!IsEndpointType(type) || !IsTimeText(e.TimeStatus())) continue;
    if (!types.empty() && std::find(types.begin(), types.end(), type) == types.end()) continue;
    UpstreamProxy u{e.Addr(), e.Port(), type, logOns.Find(e), 0};
    u.seconds = std::strtod(e.TimeStatus().c_str(), nullptr);
    pool.push_back(std::move(u));
  }
  std::stable_sort(pool.begin(), pool.end(),
                   [](const UpstreamProxy& a, const UpstreamProxy& b) { return a.seconds < b.seconds; });
  return pool;
}

class CEndpoint::Loop {
 public:
  explicit Loop(EndpointConfig config) : m_config(std::move(config)) {}
  ~Loop() { Stop(); }

  OpResult Start();
  void Stop();
  void SetPool(std::vector<UpstreamProxy> pool);

  EndpointConfig m_config;
  std::function<void(const std::string&, const std::string&)> m_onSetAside;
  std::atomic<int> m_port{0};
  std::atomic<uint64_t> m_accepted{0}, m_active{0}, m_failovers{0}, m_refused{0};

 private:
  // A proxy of the pool with what the loop learnt about it.
  struct Candidate {
    UpstreamProxy proxy;
    sockaddr_storage sa{};
    socklen_t saLen = 0;
    bool resolved = false;
    double measured = 0;  // seconds, the running average; 0 unknown
    int failures = 0;     // in a row
    int asideCount = 0;   // set-asides without a success between them
    Clock::time_point asideUntil{};
    bool aside = false;
  };
  using CandidatePtr = std::shared_ptr<Candidate>;

  enum class Phase { ClientHead, UpstreamConnect, UpstreamHandshake, Relay, Closed };
  enum class ClientKind { Unknown, Socks5, HttpConnect, HttpForward };
  enum class UpStep {
    None,
    AwaitTarget,  // ready for the request, which waits for the client's
    HttpFirstBytes,
    HttpConnectReply,
    Socks5Method,
    Socks5Auth,
    Socks5Reply,
    Socks4Reply
  };

  struct Pipe {
    int r = -1, w = -1;
    size_t bytes = 0;  // in the pipe, not yet passed on
  };

  struct Session {
    int client = -1, upstream = -1;
    uint32_t clientEvents = 0, upstreamEvents = 0;
    Phase phase = Phase::ClientHead;
    ClientKind kind = ClientKind::Unknown;
    UpStep step = UpStep::None;
    bool socksGreeted = false;
    // The client's target is known. A SOCKS5 client's upstream is reached while the
    // client still answers our greeting, so that the two round trips overlap.
    bool headDone = false;
    bool earlyStarted = false;
    Clock::time_point clientDeadline{};
    Clock::time_point parkedAt{};
    bool bodySent = false;  // the bytes after the client's head went with the request
    std::string in;         // the client's bytes while its head is read
    std::string upIn;       // the upstream's bytes while its handshake runs
    std::string toUp;       // waiting for the upstream
    size_t toUpOff = 0;
    std::string toClient;  // waiting for the client
    size_t toClientOff = 0;
    Pipe upPipe, downPipe;
    bool UpWaiting() const { return !toUp.empty() || upPipe.bytes > 0; }
    bool DownWaiting() const { return !toClient.empty() || downPipe.bytes > 0; }
    bool clientEof = false, upstreamEof = false;
    // Off while a client that half-closed waits for its upstream: the hang-up would
    // be reported again and again.
    bool watchClient = true;
    bool clientShut = false, upstreamShut = false;
    std::string host;
    int port = 0;
    std::string request;  // HttpForward: the request head as received
    std::string body;     // bytes after the head
    CandidatePtr via;
    std::vector<CandidatePtr> tried;
    int attempts = 0;
    Failure lastFailure = Failure::None;
    std::string lastReason;
    Clock::time_point deadline{};
    Clock::time_point attemptStart{};
  };

  void Run();
  void TakePendingPool();
  void Accept();
  void OnEvent(Session* s, bool upstreamSide, uint32_t events);
  void ReadClientHead(Session* s);
  void ClientHangUp(Session* s, uint32_t events);
  void ParseSocks(Session* s);
  void ParseHttp(Session* s);
  void StartAttempt(Session* s);
  void OnUpstreamConnected(Session* s);
  void SendTargetRequest(Session* s);
  void Park(Session* s);
  void HeadDone(Session* s);
  void ReadUpstreamHandshake(Session* s);
  void AttemptFailed(Session* s, Failure failure, const std::string& reason);
  void Established(Session* s);
  void RefuseClient(Session* s, int httpStatus, uint8_t socksReply, const std::string& text);
  void Pump(Session* s);
  bool Drain(Pipe& pipe, int to, bool& broken);
  bool Flush(int fd, std::string& buf, size_t& off, bool& broken);
  void UpdateInterest(Session* s);
  void Close(Session* s);
  void CheckDeadlines();
  void MarkSuccess(Candidate& c, double seconds);
  void MarkFailure(Candidate& c, Failure failure, const std::string& reason);
  CandidatePtr Pick(Session* s);
  bool SendUpstream(Session* s, const std::string& data);

  int m_listen = -1, m_epoll = -1, m_wake = -1;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::mutex m_poolMutex;
  std::optional<std::vector<CandidatePtr>> m_pendingPool;
  std::vector<CandidatePtr> m_pool;
  uint64_t m_next = 0;  // the round-robin position
  std::unordered_set<Session*> m_sessions;
  std::vector<Session*> m_closed;  // freed after the events of one wait are handled
  size_t m_handshaking = 0;        // sessions not yet relaying, which have deadlines
  Clock::time_point m_nextTick{};
  bool m_listenPaused = false;
  Clock::time_point m_listenResumes{};
  Clock::time_point m_nextAsideCheck{};
  char m_chunk[kChunk];
};

// Tags for epoll's data: a session pointer with its low bit saying which side.
constexpr uint64_t kListenTag = 1, kWakeTag = 2;

OpResult CEndpoint::Loop::Start() {
  if (m_thread.joinable()) return OpResult::Success();
  const std::string where = HostPort(m_config.listen.host, m_config.listen.port);
  std::string host = m_config.listen.host;
  if (host == "localhost") host = "127.0.0.1";
  sockaddr_storage sa{};
  socklen_t saLen = 0;
  if (IsIPv4(host)) {
    auto& a = reinterpret_cast<sockaddr_in&>(sa);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(m_config.listen.port));
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    saLen = sizeof(a);
  } else if (IsIPv6(host)) {
    auto& a = reinterpret_cast<sockaddr_in6&>(sa);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(m_config.listen.port));
    inet_pton(AF_INET6, host.c_str(), &a.sin6_addr);
    saLen = sizeof(a);
  } else {
    return OpResult::Failure(OpStatus::ListenFailed, where, "not an IP address");
  }
  if (m_config.listen.port < 0 || m_config.listen.port > 65535) {
    return OpResult::Failure(OpStatus::ListenFailed, where, "no such port");
  }
  m_listen = socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (m_listen < 0 || setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(m_listen, reinterpret_cast<sockaddr*>(&sa), saLen) != 0 || listen(m_listen, 1024) != 0) {
    const std::string error = std::strerror(errno);
    if (m_listen >= 0) close(m_listen);
    m_listen = -1;
    return OpResult::Failure(OpStatus::ListenFailed, where, error);
  }
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  m_port = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                            : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  {
    std::lock_guard lock(m_poolMutex);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  epoll_event ev{EPOLLIN, {}};
  ev.data.u64 = kListenTag;
  epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
  ev.data.u64 = kWakeTag;
  epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return OpResult::Success();
}

void CEndpoint::Loop::Stop() {
  if (!m_thread.joinable()) return;
  m_stop = true;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
  m_thread.join();
  for (Session* s : std::vector<Session*>(m_sessions.begin(), m_sessions.end())) Close(s);
  for (Session* s : m_closed) delete s;
  m_closed.clear();
  close(m_listen);
  close(m_epoll);
  m_listen = m_epoll = -1;
  m_port = 0;
  std::lock_guard lock(m_poolMutex);
  close(m_wake);
  m_wake = -1;
}

void CEndpoint::Loop::SetPool(std::vector<UpstreamProxy> pool) {
  // Names are resolved here, on the caller's thread, so that the loop never waits for
  // a name server.
  std::vector<CandidatePtr> fresh;
  for (UpstreamProxy& u : pool) {
    u.type = AsciiUpper(u.type);
    if (!IsEndpointType(u.type)) continue;
    const auto& allowed = m_config.types;
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), u.type) == allowed.end()) continue;
    auto c = std::make_shared<Candidate>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(u.addr.c_str(), u.port.c_str(), &hints, &found) == 0 && found) {
      std::memcpy(&c->sa, found->ai_addr, found->ai_addrlen);
      c->saLen = found->ai_addrlen;
      c->resolved = true;
      freeaddrinfo(found);
    }
    c->measured = u.seconds;
    c->proxy = std::move(u);
    fresh.push_back(std::move(c));
  }
  std::lock_guard lock(m_poolMutex);
  m_pendingPool = std::move(fresh);
  // Under the lock: Stop closes the descriptor under it too.
  if (m_wake >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
  }
}

void CEndpoint::Loop::TakePendingPool() {
  std::optional<std::vector<CandidatePtr>> fresh;
  {
    std::lock_guard lock(m_poolMutex);
    fresh.swap(m_pendingPool);
  }
  if (!fresh) return;
  // Fresh verification results clear what the loop held against a proxy: say so for
  // those that were set aside and are in the new pool.
  for (const CandidatePtr& old : m_pool) {
    if (!old->aside) continue;
    const std::string line = old->proxy.Line();
    const bool back = std::any_of(fresh->begin(), fresh->end(),
                                  [&](const CandidatePtr& c) { return c->proxy.Line() == line; });
    if (back && m_onSetAside) m_onSetAside(line, {});
  }
  m_pool = std::move(*fresh);
  m_next = 0;
}

void CEndpoint::Loop::Run() {
  // A signal for a peer that went away would end the process; the endpoint learns it
  // from the failed write instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  TakePendingPool();
  epoll_event events[256];
  while (!m_stop) {
    const bool aside =
        std::any_of(m_pool.begin(), m_pool.end(), [](const CandidatePtr& c) { return c->aside; });
    const int n =
        epoll_wait(m_epoll, events, 256, m_handshaking > 0 || aside || m_listenPaused ? kTickMs : -1);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const uint64_t tag = events[i].data.u64;
      if (tag == kListenTag) {
        Accept();
      } else if (tag == kWakeTag) {
        uint64_t v;
        [[maybe_unused]] ssize_t r = read(m_wake, &v, sizeof v);
        TakePendingPool();
      } else {
        Session* s = reinterpret_cast<Session*>(tag & ~uint64_t(1));
        if (s->phase != Phase::Closed) OnEvent(s, tag & 1, events[i].events);
      }
    }
    for (Session* s : m_closed) delete s;
    m_closed.clear();
    if (Clock::now() >= m_nextTick) {
      m_nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
      CheckDeadlines();
    }
    if (m_listenPaused && Clock::now() >= m_listenResumes) {
      epoll_event ev{EPOLLIN, {}};
      ev.data.u64 = kListenTag;
      epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
      m_listenPaused = false;
    }
  }
}

void CEndpoint::Loop::Accept() {
  for (int i = 0; i < 64; ++i) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The waiting client would be reported again at once, over and over: the port
        // rests until descriptors may have come free.
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listen, nullptr);
        m_listenResumes = Clock::now() + std::chrono::milliseconds(kTickMs);
        m_listenPaused = true;
      }
      return;
    }
    // On a loopback address only local clients can reach the port anyway; the check
    // keeps it so whatever the address family does.
    if (IsLoopbackHost(m_config.listen.host) && !IsLoopbackPeer(peer)) {
      close(fd);
      ++m_refused;
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto* s = new Session;
    s->client = fd;
    s->clientDeadline = Clock::now() + std::chrono::milliseconds(m_config.clientIdleMs);
    m_sessions.insert(s);
    ++m_handshaking;
    ++m_accepted;
    ++m_active;
    UpdateInterest(s);
  }
}

void CEndpoint::Loop::OnEvent(Session* s, bool upstreamSide, uint32_t events) {
  if (!upstreamSide && !s->headDone && s->phase != Phase::Relay) return ReadClientHead(s);
  switch (s->phase) {
    case Phase::ClientHead:
      if (!upstreamSide) ReadClientHead(s);
      break;
    case Phase::UpstreamConnect:
      if (upstreamSide) {
        OnUpstreamConnected(s);
      } else {
        ClientHangUp(s, events);
      }
      break;
    case Phase::UpstreamHandshake:
      if (upstreamSide) {
        if (!s->toUp.empty()) {
          bool broken = false;
          Flush(s->upstream, s->toUp, s->toUpOff, broken);
          if (broken) return AttemptFailed(s, Failure::Proxy, "the connection was reset");
          UpdateInterest(s);
        }
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) ReadUpstreamHandshake(s);
      } else {
        ClientHangUp(s, events);
      }
      break;
    case Phase::Relay:
      Pump(s);
      break;
    case Phase::Closed:
      break;
  }
}

void CEndpoint::Loop::ClientHangUp(Session* s, uint32_t events) {
  char c;
  const ssize_t n = recv(s->client, &c, 1, MSG_PEEK);
  if (n == 0 || (n < 0 && errno != EAGAIN) || (events & (EPOLLERR | EPOLLHUP))) {
    ++m_refused;
    return Close(s);
  }
  // Early data, then a half-close: it goes on once the upstream is there.
  s->watchClient = false;
  UpdateInterest(s);
}

void CEndpoint::Loop::ReadClientHead(Session* s) {
  const ssize_t n = recv(s->client, m_chunk, kChunk, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    ++m_refused;  // gone before it said what it wanted
    return Close(s);
  }
  if (n < 0) return;
  s->in.append(m_chunk, static_cast<size_t>(n));
  if (s->kind == ClientKind::Unknown) s->kind = s->in[0] == 5 ? ClientKind::Socks5 : ClientKind::HttpForward;
  if (s->kind == ClientKind::Socks5) {
    ParseSocks(s);
  } else {
    ParseHttp(s);
  }
}

void CEndpoint::Loop::ParseSocks(Session* s) {
  const auto* b = reinterpret_cast<const uint8_t*>(s->in.data());
  const size_t size = s->in.size();
  if (!s->socksGreeted) {
    if (size < 2 || size < 2u + b[1]) return;
    const bool noAuth = std::find(b + 2, b + 2 + b[1], 0) != b + 2 + b[1];
    const char reply[2] = {5, static_cast<char>(noAuth ? 0 : 0xFF)};
    send(s->client, reply, 2, MSG_NOSIGNAL);
    if (!noAuth) {
      ++m_refused;
      return Close(s);
    }
    s->socksGreeted = true;
    s->in.erase(0, 2u + b[1]);
    if (!s->earlyStarted && !m_pool.empty()) {
      s->earlyStarted = true;
      StartAttempt(s);
      if (s->phase == Phase::Closed) return;
    }
    return ParseSocks(s);
  }
  if (size < 4) return;
  if (b[0] != 5) return RefuseClient(s, 0, 1, {});
  if (b[1] != 1) return RefuseClient(s, 0, 7, {});
  size_t need = 0;
  switch (b[3]) {
    case 1:
      need = 4 + 4 + 2;
      break;
    case 4:
      need = 4 + 16 + 2;
      break;
    case 3:
      if (size < 5) return;
      if (b[4] == 0) return RefuseClient(s, 0, 8, {});
      need = 5 + b[4] + 2;
      break;
    default:
      return RefuseClient(s, 0, 8, {});
  }
  if (size < need) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (b[3] == 1) {
    inet_ntop(AF_INET, b + 4, text, sizeof text);
    s->host = text;
  } else if (b[3] == 4) {
    inet_ntop(AF_INET6, b + 4, text, sizeof text);
    s->host = text;
  } else {
    s->host.assign(reinterpret_cast<const char*>(b + 5), b[4]);
    // The name goes into the upstream's request as it is: nothing that could end a
    // line or a field there.
    if (!std::all_of(s->host.begin(), s->host.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        })) {
      return RefuseClient(s, 0, 1, {});
    }
  }
  s->port = (b[need - 2] << 8) | b[need - 1];
  if (s->port == 0) return RefuseClient(s, 0, 1, {});
  s->body = s->in.substr(need);
  std::string().swap(s->in);
  HeadDone(s);
}

void CEndpoint::Loop::ParseHttp(Session* s) {
  const size_t end = s->in.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (s->in.size() > kMaxHead) return RefuseClient(s, 431, 0, "The request head is too large.");
    if (s->in.find('\n') == std::string::npos && s->in.size() > 8192) {
      return RefuseClient(s, 400, 0, "The request line is too long.");
    }
    return;
  }
  if (end + 4 > kMaxHead) return RefuseClient(s, 431, 0, "The request head is too large.");
  const std::string_view head(s->in.data(), end + 2);
  const size_t lineEnd = head.find("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos ||
      !line.substr(sp2 + 1).starts_with("HTTP/1.")) {
    return RefuseClient(s, 400, 0, "The request line is malformed.");
  }
  const std::string_view method = line.substr(0, sp1);
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (method.empty() ||
      std::any_of(method.begin(), method.end(), [](char c) { return c < 'A' || c > 'Z'; })) {
    return RefuseClient(s, 400, 0, "The request line is malformed.");
  }
  if (method == "CONNECT") {
    if (!SplitAuthority(target, s->host, s->port))
      return RefuseClient(s, 400, 0, "The CONNECT target is malformed.");
    s->kind = ClientKind::HttpConnect;
  } else {
    constexpr std::string_view kScheme = "http://";
    if (target.size() <= kScheme.size() || !AsciiCaseEqual(target.substr(0, kScheme.size()), kScheme)) {
      return RefuseClient(s, 400, 0, "Only absolute http:// requests and CONNECT are served here.");
    }
    const std::string_view rest = target.substr(kScheme.size());
    const size_t slash = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, slash);
    if (authority.find('@') != std::string_view::npos)
      return RefuseClient(s, 400, 0, "The URL is malformed.");
    const bool hasPort = authority.starts_with('[') ? authority.find("]:") != std::string_view::npos
                                                    : authority.find(':') != std::string_view::npos;
    const std::string withPort = hasPort ? std::string(authority) : std::string(authority) + ":80";
    if (!SplitAuthority(withPort, s->host, s->port)) return RefuseClient(s, 400, 0, "The URL is malformed.");
    s->kind = ClientKind::HttpForward;
    s->request.assign(head);
  }
  s->body = s->in.substr(end + 4);
  std::string().swap(s->in);
  HeadDone(s);
}

CEndpoint::Loop::CandidatePtr CEndpoint::Loop::Pick(Session* s) {
  const auto now = Clock::now();
  const auto usable = [&](const CandidatePtr& c, bool allowAside) {
    if (!c->resolved) return false;
    if (std::find(s->tried.begin(), s->tried.end(), c) != s->tried.end()) return false;
    return allowAside || !c->aside || now >= c->asideUntil;
  };
  const size_t n = m_pool.size();
  if (n == 0) return nullptr;
  // When every proxy is set aside, trying one beats refusing the client outright.
  const bool allAside = std::none_of(m_pool.begin(), m_pool.end(), [&](const CandidatePtr& c) {
    return c->resolved && (!c->aside || now >= c->asideUntil);
  });
  for (bool allowAside : {false, true}) {
    if (allowAside && !allAside) break;
    switch (m_config.policy) {
      case EndpointPolicy::Failover:
        for (const CandidatePtr& c : m_pool) {
          if (usable(c, allowAside)) return c;
        }
        break;
      case EndpointPolicy::RoundRobin:
        for (size_t i = 0; i < n; ++i) {
          const CandidatePtr& c = m_pool[(m_next + i) % n];
          if (usable(c, allowAside)) {
            m_next = (m_next + i + 1) % n;
            return c;
          }
        }
        break;
      case EndpointPolicy::Fastest: {
        CandidatePtr best;
        for (const CandidatePtr& c : m_pool) {
          if (!usable(c, allowAside)) continue;
          // Unknown times come after every measured one.
          const auto key = [](const Candidate& x) { return x.measured > 0 ? x.measured : 1e9; };
          if (!best || key(*c) < key(*best)) best = c;
        }
        if (best) return best;
        break;
      }
    }
  }
  return nullptr;
}

void CEndpoint::Loop::StartAttempt(Session* s) {
  if (s->upstream >= 0) {
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, s->upstream, nullptr);
    close(s->upstream);
    s->upstream = -1;
    s->upstreamEvents = 0;
  }
  s->toUp.clear();
  s->toUpOff = 0;
  s->upIn.clear();
  s->via.reset();
  s->bodySent = false;
  CandidatePtr c = s->attempts < m_config.maxAttempts ? Pick(s) : nullptr;
  if (!c && !s->headDone) {
    // The client's request comes first; the refusal answers it.
    s->phase = Phase::ClientHead;
    return UpdateInterest(s);
  }
  if (!c) {
    const std::string what =
        "No proxy could reach " + HostPort(s->host, s->port) +
        (s->lastReason.empty() ? std::string(" (no proxy to use).") : " (" + s->lastReason + ").");
    return RefuseClient(s, 502, s->lastFailure == Failure::Target ? 5 : 1, what);
  }
  if (s->attempts > 0) ++m_failovers;
  ++s->attempts;
  s->tried.push_back(c);
  s->via = c;
  s->phase = Phase::UpstreamConnect;
  s->attemptStart = Clock::now();
  s->deadline = s->attemptStart + std::chrono::milliseconds(m_config.connectTimeoutMs);
  s->upstream = socket(c->sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s->upstream < 0) {
    // Out of descriptors here: no proxy is to blame, and none would do better.
    return RefuseClient(s, 502, 1, std::string("No connection could be opened: ") + std::strerror(errno));
  }
  const int one = 1;
  setsockopt(s->upstream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(s->upstream, reinterpret_cast<const sockaddr*>(&c->sa), c->saLen) != 0 &&
      errno != EINPROGRESS) {
    return AttemptFailed(s, Failure::Proxy, std::strerror(errno));
  }
  // On loopback the handshake is often complete by now: no need to wait for the event.
  sockaddr_storage peer;
  socklen_t peerLen = sizeof peer;
  if (getpeername(s->upstream, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0)
    return OnUpstreamConnected(s);
  UpdateInterest(s);
}

bool CEndpoint::Loop::SendUpstream(Session* s, const std::string& data) {
  s->toUp.append(data);
  bool broken = false;
  Flush(s->upstream, s->toUp, s->toUpOff, broken);
  return !broken;
}

void CEndpoint::Loop::OnUpstreamConnected(Session* s) {
  int error = 0;
  socklen_t len = sizeof error;
  getsockopt(s->upstream, SOL_SOCKET, SO_ERROR, &error, &len);
  if (error != 0) return AttemptFailed(s, Failure::Proxy, std::strerror(error));
  sockaddr_storage peer;
  socklen_t peerLen = sizeof peer;
  // An event left over from the previous attempt's socket: this one is still on its way.
  if (getpeername(s->upstream, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) return;
  s->phase = Phase::UpstreamHandshake;
  if (s->via->proxy.type == "SOCKS5") {
    s->step = UpStep::Socks5Method;
    const std::string greeting =
        s->via->proxy.logOn ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3);
    if (!SendUpstream(s, greeting)) return AttemptFailed(s, Failure::Proxy, "the connection was reset");
    return UpdateInterest(s);
  }
  if (!s->headDone) return Park(s);
  SendTargetRequest(s);
}

void CEndpoint::Loop::Park(Session* s) {
  s->step = UpStep::AwaitTarget;
  s->parkedAt = Clock::now();
  UpdateInterest(s);
}

void CEndpoint::Loop::HeadDone(Session* s) {
  s->headDone = true;
  if (s->upstream < 0) return StartAttempt(s);
  if (s->step == UpStep::AwaitTarget) {
    // The wait was the client's: neither the proxy's time nor its time-out.
    const auto now = Clock::now();
    s->attemptStart += now - s->parkedAt;
    s->deadline = now + std::chrono::milliseconds(m_config.connectTimeoutMs);
    return SendTargetRequest(s);
  }
  // The attempt under way goes on by itself, and now knows where to.
  UpdateInterest(s);
}

// The part of the upstream's handshake that names the target.
void CEndpoint::Loop::SendTargetRequest(Session* s) {
  const UpstreamProxy& u = s->via->proxy;
  std::string out;
  if (u.type == "HTTP" || u.type == "HTTPS") {
    std::string auth;
    if (u.logOn)
      auth = "Proxy-Authorization: Basic " + Base64(u.logOn->user + ":" + u.logOn->password) + "\r\n";
    if (s->kind == ClientKind::HttpForward) {
      // The request goes on as it came, with the proxy's log-on instead of whatever
      // the client meant for us, and one request per connection so that a later one
      // cannot slip past without it.
      std::string head = s->request.substr(0, s->request.find("\r\n") + 2);
      std::string_view rest = std::string_view(s->request).substr(head.size());
      while (!rest.empty()) {
        const size_t e = rest.find("\r\n");
        const std::string_view h = rest.substr(0, e);
        rest = rest.substr(e + 2);
        if (IsHopHeader(h)) continue;
        head.append(h).append("\r\n");
      }
      head += auth + "Connection: close\r\n\r\n";
      s->bodySent = true;
      if (!SendUpstream(s, head + s->body))
        return AttemptFailed(s, Failure::Proxy, "the connection was reset");
      // A request that may safely go again, with all of it sent, waits for the first
      // bytes of the answer: a proxy that hangs or wants a log-on is then replaced.
      const std::string_view method = std::string_view(s->request).substr(0, s->request.find(' '));
      const bool whole = s->request.find("\r\nContent-Length:") == std::string::npos &&
                         s->request.find("\r\nTransfer-Encoding:") == std::string::npos &&
                         s->request.find("\r\ncontent-length:") == std::string::npos &&
                         s->request.find("\r\ntransfer-encoding:") == std::string::npos;
      if (whole && (method == "GET" || method == "HEAD" || method == "OPTIONS")) {
        s->step = UpStep::HttpFirstBytes;
        return UpdateInterest(s);
      }
      return Established(s);
    }
    const std::string target = HostPort(s->host, s->port);
    out = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n" + auth + "\r\n";
    s->step = UpStep::HttpConnectReply;
  } else if (u.type == "SOCKS5") {
    out = {5, 1, 0};
    uint8_t raw[16];
    if (inet_pton(AF_INET, s->host.c_str(), raw) == 1) {
      out += '\x01';
      out.append(reinterpret_cast<char*>(raw), 4);
    } else if (inet_pton(AF_INET6, s->host.c_str(), raw) == 1) {
      out += '\x04';
      out.append(reinterpret_cast<char*>(raw), 16);
    } else {
      if (s->host.size() > 255) return AttemptFailed(s, Failure::Unfit, "the host name is too long");
      out += '\x03';
      out += static_cast<char>(s->host.size());
      out += s->host;
    }
    out += {static_cast<char>(s->port >> 8), static_cast<char>(s->port & 0xFF)};
    s->step = UpStep::Socks5Reply;
  } else {
    in_addr a{};
    const bool v4 = inet_pton(AF_INET, s->host.c_str(), &a) == 1;
    if (!v4 && IsIPv6(s->host))
      return AttemptFailed(s, Failure::Unfit, "SOCKS4 cannot carry an IPv6 address");
    out = {4, 1, static_cast<char>(s->port >> 8), static_cast<char>(s->port & 0xFF)};
    if (v4) {
      out.append(reinterpret_cast<const char*>(&a), 4);
    } else {
      out.append("\0\0\0\x01", 4);  // SOCKS4a: the name follows
    }
    out += (u.logOn ? u.logOn->user : std::string()) + '\0';
    if (!v4) out += s->host + '\0';
    s->step = UpStep::Socks4Reply;
  }
  if (!SendUpstream(s, out)) return AttemptFailed(s, Failure::Proxy, "the connection was reset");
  UpdateInterest(s);
}

void CEndpoint::Loop::ReadUpstreamHandshake(Session* s) {
  const ssize_t n = recv(s->upstream, m_chunk, kChunk, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0)
    return AttemptFailed(s, Failure::Proxy,
                         n == 0 ? "the proxy closed the connection" : std::strerror(errno));
  s->upIn.append(m_chunk, static_cast<size_t>(n));
  const UpstreamProxy& u = s->via->proxy;
  for (;;) {
    const auto* b = reinterpret_cast<const uint8_t*>(s->upIn.data());
    const size_t size = s->upIn.size();
    switch (s->step) {
      case UpStep::HttpFirstBytes: {
        if (size < 12 && s->upIn.find('\n') == std::string::npos) return;
        if (size >= 12 && s->upIn.starts_with("HTTP/1.") && s->upIn.compare(8, 4, " 407") == 0) {
          return AttemptFailed(s, Failure::Proxy, "the proxy wants a log-on");
        }
        s->toClient = std::move(s->upIn);
        return Established(s);
      }
      case UpStep::HttpConnectReply: {
        const size_t end = s->upIn.find("\r\n\r\n");
        if (end == std::string::npos) {
          if (size > kMaxHead) return AttemptFailed(s, Failure::Proxy, "the proxy's answer is too large");
          return;
        }
        const std::string_view status(s->upIn.data(), s->upIn.find("\r\n"));
        const size_t sp = status.find(' ');
        const std::string code =
            sp == std::string_view::npos ? std::string() : std::string(status.substr(sp + 1, 3));
        if (!status.starts_with("HTTP/1.") || code.size() != 3 || code[0] != '2') {
          const std::string said = "the proxy answered " + std::string(status.substr(0, 60));
          // A gateway error names the target; anything else (a log-on asked for, a
          // refusal) is the proxy's.
          return AttemptFailed(
              s, code == "502" || code == "503" || code == "504" ? Failure::Target : Failure::Proxy, said);
        }
        s->toClient = s->upIn.substr(end + 4);
        return Established(s);
      }
      case UpStep::Socks5Method:
        if (size < 2) return;
        if (b[0] != 5 || (b[1] != 0 && !(b[1] == 2 && u.logOn))) {
          return AttemptFailed(s, Failure::Proxy,
                               b[1] == 0xFF ? "the proxy wants a log-on" : "not a SOCKS5 proxy");
        }
        if (b[1] == 2) {
          std::string auth = {1, static_cast<char>(std::min<size_t>(u.logOn->user.size(), 255))};
          auth += u.logOn->user.substr(0, 255);
          auth += static_cast<char>(std::min<size_t>(u.logOn->password.size(), 255));
          auth += u.logOn->password.substr(0, 255);
          s->step = UpStep::Socks5Auth;
          s->upIn.erase(0, 2);
          if (!SendUpstream(s, auth)) return AttemptFailed(s, Failure::Proxy, "the connection was reset");
          UpdateInterest(s);
          continue;
        }
        s->upIn.erase(0, 2);
        // Nothing more can have come: the proxy waits for the request.
        return s->headDone ? SendTargetRequest(s) : Park(s);
      case UpStep::Socks5Auth:
        if (size < 2) return;
        if (b[1] != 0) return AttemptFailed(s, Failure::Proxy, "the proxy refused the log-on");
        s->upIn.erase(0, 2);
        return s->headDone ? SendTargetRequest(s) : Park(s);
      case UpStep::AwaitTarget:
        return AttemptFailed(s, Failure::Proxy, "the proxy spoke out of turn");
      case UpStep::Socks5Reply: {
        if (size < 5) return;
        if (b[0] != 5) return AttemptFailed(s, Failure::Proxy, "not a SOCKS5 answer");
        if (b[1] != 0) {
          const bool target = b[1] >= 3 && b[1] <= 6;
          return AttemptFailed(s, target ? Failure::Target : Failure::Proxy,
                               "the proxy answered SOCKS5 error " + std::to_string(b[1]));
        }
        size_t need = b[3] == 1 ? 10 : b[3] == 4 ? 22 : b[3] == 3 ? 7u + b[4] : 0;
        if (need == 0) return AttemptFailed(s, Failure::Proxy, "not a SOCKS5 answer");
        if (size < need) return;
        s->toClient = s->upIn.substr(need);
        return Established(s);
      }
      case UpStep::Socks4Reply:
        if (size < 8) return;
        if (b[1] != 0x5A) {
          return AttemptFailed(s, b[1] == 0x5B ? Failure::Target : Failure::Proxy,
                               "the proxy answered SOCKS4 error " + std::to_string(b[1]));
        }
        s->toClient = s->upIn.substr(8);
        return Established(s);
      case UpStep::None:
        return;
    }
  }
}

void CEndpoint::Loop::AttemptFailed(Session* s, Failure failure, const std::string& reason) {
  s->lastFailure = failure;
  s->lastReason = s->via ? s->via->proxy.Line() + ": " + reason : reason;
  if (s->via) MarkFailure(*s->via, failure, reason);
  StartAttempt(s);
}

void CEndpoint::Loop::MarkSuccess(Candidate& c, double seconds) {
  c.failures = 0;
  c.asideCount = 0;
  if (c.aside) {
    c.aside = false;
    if (m_onSetAside) m_onSetAside(c.proxy.Line(), {});
  }
  c.measured = c.measured > 0 ? 0.7 * c.measured + 0.3 * seconds : seconds;
}

void CEndpoint::Loop::MarkFailure(Candidate& c, Failure failure, const std::string& reason) {
  // The target's own failure and a target the protocol cannot carry say nothing bad
  // about the proxy.
  if (failure != Failure::Proxy) return;
  // A failure weighs like the longest wait allowed, so that the fastest policy moves on.
  const double penalty = m_config.connectTimeoutMs / 1000.0;
  c.measured = c.measured > 0 ? 0.7 * c.measured + 0.3 * penalty : penalty;
  if (++c.failures < m_config.failuresToSetAside) return;
  c.failures = 0;
  const int64_t ms =
      std::min<int64_t>(int64_t(m_config.setAsideMs) << std::min(c.asideCount, 20), kMaxSetAsideMs);
  ++c.asideCount;
  c.asideUntil = Clock::now() + std::chrono::milliseconds(ms);
  if (!c.aside) {
    c.aside = true;
    if (m_onSetAside) m_onSetAside(c.proxy.Line(), reason);
  }
}

void CEndpoint::Loop::Established(Session* s) {
  s->phase = Phase::Relay;
  --m_handshaking;
  s->step = UpStep::None;
  std::string().swap(s->upIn);
  MarkSuccess(*s->via, std::chrono::duration<double>(Clock::now() - s->attemptStart).count());
  std::string greeting;
  if (s->kind == ClientKind::HttpConnect) {
    greeting = "HTTP/1.1 200 Connection established\r\n\r\n";
  } else if (s->kind == ClientKind::Socks5) {
    greeting = std::string("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
  } else if (s->via->proxy.type == "SOCKS4" || s->via->proxy.type == "SOCKS5") {
    // A SOCKS proxy reaches the origin itself, which wants the origin form.
    const std::string& r = s->request;
    const size_t sp1 = r.find(' ');
    const size_t uriStart = sp1 + 1 + 7;  // past "http://"
    size_t pathStart = r.find_first_of("/? ", uriStart);
    const size_t sp2 = r.find(' ', sp1 + 1);
    std::string path = pathStart < sp2 ? r.substr(pathStart, sp2 - pathStart) : "/";
    if (path[0] == '?') path = "/" + path;
    std::string head = r.substr(0, sp1 + 1) + path + r.substr(sp2, r.find("\r\n") + 2 - sp2);
    std::string_view rest = std::string_view(r).substr(r.find("\r\n") + 2);
    bool host = false;
    while (!rest.empty()) {
      const size_t e = rest.find("\r\n");
      const std::string_view h = rest.substr(0, e);
      rest = rest.substr(e + 2);
      if (IsHopHeader(h)) continue;
      host = host || StartsWithNoCase(h, "host:");
      head.append(h).append("\r\n");
    }
    if (!host) head += "Host: " + (s->port == 80 ? s->host : HostPort(s->host, s->port)) + "\r\n";
    head += "Connection: close\r\n\r\n";
    s->toUp = head;
  }
  if (!greeting.empty()) s->toClient.insert(0, greeting);
  if (!s->bodySent) s->toUp += s->body;
  std::string().swap(s->body);
  std::string().swap(s->request);
  s->tried = {};
  Pump(s);
}

void CEndpoint::Loop::RefuseClient(Session* s, int httpStatus, uint8_t socksReply, const std::string& text) {
  ++m_refused;
  std::string out;
  if (s->kind == ClientKind::Socks5) {
    out = {5, static_cast<char>(socksReply ? socksReply : 1), 0, 1, 0, 0, 0, 0, 0, 0};
  } else {
    const char* reason = httpStatus == 400   ? "Bad Request"
                         : httpStatus == 431 ? "Request Header Fields Too Large"
                                             : "Bad Gateway";
    const std::string body = text + "\n";
    out = "HTTP/1.1 " + std::to_string(httpStatus) + " " + reason +
          "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  // A best effort: the answer is short and the socket's buffer empty.
  send(s->client, out.data(), out.size(), MSG_NOSIGNAL);
  // Unread bytes at close would reset the connection and could take the answer with
  // them: what already came is read away first.
  shutdown(s->client, SHUT_WR);
  for (int i = 0; i < 8 && recv(s->client, m_chunk, kChunk, 0) > 0; ++i) {
  }
  Close(s);
}

bool CEndpoint::Loop::Flush(int fd, std::string& buf, size_t& off, bool& broken) {
  while (off < buf.size()) {
    const ssize_t n = send(fd, buf.data() + off, buf.size() - off, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) broken = true;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  std::string().swap(buf);
  off = 0;
  return true;
}

bool CEndpoint::Loop::Drain(Pipe& pipe, int to, bool& broken) {
  while (pipe.bytes > 0) {
    const ssize_t n = splice(pipe.r, nullptr, to, nullptr, pipe.bytes, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) broken = true;
      return false;
    }
    pipe.bytes -= static_cast<size_t>(n);
  }
  return true;
}

void CEndpoint::Loop::Pump(Session* s) {
  bool broken = false;
  // Each direction: what waits goes first; then reads go straight on to the other side,
  // and only what that side cannot take at once is kept. Once a read fills a whole
  // chunk the direction carries bulk data, and the bytes move through a pipe of the
  // direction's own without being copied into this process.
  const auto direction = [&](int from, int to, std::string& buf, size_t& off, Pipe& pipe, bool& eof,
                             bool& shut) {
    if (!buf.empty() && !Flush(to, buf, off, broken)) return;
    if (!Drain(pipe, to, broken)) return;
    for (int i = 0; i < 8 && !eof && !broken; ++i) {
      if (pipe.r >= 0) {
        const ssize_t n =
            splice(from, nullptr, pipe.w, nullptr, kPipeChunk, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n == 0) {
          eof = true;
          break;
        }
        if (n < 0) {
          if (errno == EINTR) continue;
          if (errno != EAGAIN) broken = true;
          break;
        }
        pipe.bytes = static_cast<size_t>(n);
        if (!Drain(pipe, to, broken)) return;
        if (n < static_cast<ssize_t>(kPipeChunk)) break;
        continue;
      }
      const ssize_t n = recv(from, m_chunk, kChunk, 0);
      if (n == 0) {
        eof = true;
        break;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) broken = true;
        break;
      }
      ssize_t sent = 0;
      while (sent < n) {
        const ssize_t w = send(to, m_chunk + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (w < 0) {
          if (errno == EINTR) continue;
          if (errno != EAGAIN) broken = true;
          break;
        }
        sent += w;
      }
      if (sent < n) {
        if (!broken) buf.assign(m_chunk + sent, static_cast<size_t>(n - sent));
        return;
      }
      if (n < static_cast<ssize_t>(kChunk)) break;
      int fds[2];
      if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        pipe.r = fds[0];
        pipe.w = fds[1];
      }
    }
    if (eof && buf.empty() && pipe.bytes == 0 && !shut) {
      shutdown(to, SHUT_WR);
      shut = true;
    }
  };
  direction(s->client, s->upstream, s->toUp, s->toUpOff, s->upPipe, s->clientEof, s->upstreamShut);
  if (!broken) {
    direction(s->upstream, s->client, s->toClient, s->toClientOff, s->downPipe, s->upstreamEof,
              s->clientShut);
  }
  if (broken || (s->upstreamShut && s->clientShut)) return Close(s);
  // The upstream is done and the client has all of it: a client that keeps its side
  // open has nothing more to wait for.
  if (s->upstreamEof && s->clientShut && !s->UpWaiting() && s->kind == ClientKind::HttpForward)
    return Close(s);
  UpdateInterest(s);
}

void CEndpoint::Loop::UpdateInterest(Session* s) {
  const auto set = [&](int fd, uint32_t& current, uint32_t wanted, bool upstreamSide) {
    if (fd < 0 || wanted == current) return;
    epoll_event ev{wanted, {}};
    ev.data.u64 = reinterpret_cast<uint64_t>(s) | (upstreamSide ? 1 : 0);
    if (current == 0 && wanted != 0) {
      epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    } else if (wanted == 0) {
      epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    } else {
      epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
    }
    current = wanted;
  };
  constexpr uint32_t kIn = EPOLLIN, kOut = EPOLLOUT, kRdHup = EPOLLRDHUP;
  uint32_t client = 0, upstream = 0;
  switch (s->phase) {
    case Phase::ClientHead:
      client = kIn;
      break;
    case Phase::UpstreamConnect:
      client = !s->headDone ? kIn : s->watchClient ? kRdHup : 0u;
      upstream = kOut;
      break;
    case Phase::UpstreamHandshake:
      client = !s->headDone ? kIn : s->watchClient ? kRdHup : 0u;
      // A parked upstream is watched only for hanging up.
      upstream = s->step == UpStep::AwaitTarget ? kRdHup : kIn | (s->toUp.empty() ? 0 : kOut);
      break;
    case Phase::Relay:
      // A side is read only while the other can take what it sends.
      client = (!s->clientEof && !s->UpWaiting() ? kIn : 0u) | (s->DownWaiting() ? kOut : 0u);
      upstream = (!s->upstreamEof && !s->DownWaiting() ? kIn : 0u) | (s->UpWaiting() ? kOut : 0u);
      break;
    case Phase::Closed:
      break;
  }
  set(s->client, s->clientEvents, client, false);
  set(s->upstream, s->upstreamEvents, upstream, true);
}

void CEndpoint::Loop::Close(Session* s) {
  if (s->phase == Phase::Closed) return;
  if (s->phase != Phase::Relay) --m_handshaking;
  s->phase = Phase::Closed;
  // Removed by hand: a close does not remove a descriptor from epoll while a child
  // between fork and exec still holds a copy, and its events would name a freed session.
  if (s->clientEvents != 0) epoll_ctl(m_epoll, EPOLL_CTL_DEL, s->client, nullptr);
  if (s->upstreamEvents != 0) epoll_ctl(m_epoll, EPOLL_CTL_DEL, s->upstream, nullptr);
  for (int fd : {s->client, s->upstream, s->upPipe.r, s->upPipe.w, s->downPipe.r, s->downPipe.w}) {
    if (fd >= 0) close(fd);
  }
  s->client = s->upstream = -1;
  m_sessions.erase(s);
  m_closed.push_back(s);
  --m_active;
}

void CEndpoint::Loop::CheckDeadlines() {
  const auto now = Clock::now();
  std::vector<Session*> late;
  if (m_handshaking > 0) {
    for (Session* s : m_sessions) {
      if (s->phase == Phase::Relay) continue;
      const bool attemptLate = s->upstream >= 0 && s->step != UpStep::AwaitTarget && now >= s->deadline;
      if ((!s->headDone && now >= s->clientDeadline) || attemptLate) late.push_back(s);
    }
  }
  for (Session* s : late) {
    if (s->phase == Phase::Closed) continue;
    if (!s->headDone && now >= s->clientDeadline) {
      ++m_refused;  // said nothing useful in time
      Close(s);
    } else {
      AttemptFailed(s, Failure::Proxy, "no answer in time");
    }
  }
  if (now >= m_nextAsideCheck) {
    m_nextAsideCheck = now + std::chrono::seconds(1);
    for (const CandidatePtr& c : m_pool) {
      if (c->aside && now >= c->asideUntil) {
        c->aside = false;
        if (m_onSetAside) m_onSetAside(c->proxy.Line(), {});
      }
    }
  }
}

CEndpoint::CEndpoint(EndpointConfig config) : m_loop(std::make_unique<Loop>(std::move(config))) {}
CEndpoint::~CEndpoint() = default;
OpResult CEndpoint::Start() {
  return m_loop->Start();
}
void CEndpoint::Stop() {
  m_loop->Stop();
}
int CEndpoint::Port() const {
  return m_loop->m_port;
}
void CEndpoint::SetPool(std::vector<UpstreamProxy> pool) {
  m_loop->SetPool(std::move(pool));
}
void CEndpoint::OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
  m_loop->m_onSetAside = std::move(fn);
}
CEndpoint::Stats CEndpoint::GetStats() const {
  return {m_loop->m_accepted, m_loop->m_active, m_loop->m_failovers, m_loop->m_refused};
}

}  // namespace qb
