#include "endpoint/Session.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "base/Text.h"
#include "endpoint/Net.h"

namespace qb {

void TargetLookups::Start(uint64_t id, const std::string& host, int port) {
  std::thread([self = shared_from_this(), id, host, port] {
    Answer answer;
    answer.id = id;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc == 0 && found) {
      std::memcpy(&answer.address, found->ai_addr, found->ai_addrlen);
      answer.length = found->ai_addrlen;
    } else {
      answer.error = rc == 0 ? "no address" : gai_strerror(rc);
    }
    if (found) freeaddrinfo(found);
    std::lock_guard lock(self->m_mutex);
    if (self->m_closed) return;
    self->m_answers.push_back(std::move(answer));
    self->m_wake();
  }).detach();
}

std::vector<TargetLookups::Answer> TargetLookups::Take() {
  std::lock_guard lock(m_mutex);
  return std::exchange(m_answers, {});
}

void TargetLookups::Close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_wake = nullptr;
  m_answers.clear();
}

Session::Session(Shared& shared, int client, bool local)
    : m_shared(shared), m_local(local), m_setup(std::make_unique<Setup>()) {
  m_client.session = m_upstream.session = this;
  m_client.fd = client;
  m_client.handler = &Session::ReadHead;
  m_upstream.handler = &Session::Connected;
  m_setup->clientDeadline = Clock::now() + std::chrono::milliseconds(shared.config.clientIdleMs);
  shared.live.insert(this);
  ++shared.handshaking;
  ++shared.accepted;
  ++shared.active;
  Rearm();
}

void Session::Rearm() {
  uint32_t client = 0, upstream = 0;
  if (m_relay) {
    client = m_relay->ClientEvents();
    upstream = m_relay->UpstreamEvents();
  } else {
    const Setup& setup = *m_setup;
    client = !setup.headDone ? EPOLLIN : setup.watchClient ? EPOLLRDHUP : 0u;
    if (!setup.attempt.handshake) {
      upstream = EPOLLOUT;  // connecting
    } else if (setup.attempt.handshake->AwaitsTarget()) {
      upstream = EPOLLRDHUP;  // waiting for the client, it only has to stay
    } else {
      upstream = EPOLLIN | (setup.attempt.out.empty() ? 0u : EPOLLOUT);
    }
  }
  m_shared.loop.Want(m_client, client);
  m_shared.loop.Want(m_upstream, upstream);
}

void Session::ReadHead(uint32_t) {
  size_t n = 0;
  const Io io = Receive(m_client.fd, m_shared.chunk, sizeof m_shared.chunk, n);
  if (io == Io::Blocked) return;
  if (io != Io::Moved) {
    ++m_shared.refused;  // gone before it said what it wanted
    return Close();
  }
  m_setup->head.Take(m_shared.chunk, n);
  for (;;) {
    switch (m_setup->head.Next()) {
      case ClientHandshake::Want::More:
        return;
      case ClientHandshake::Want::Greet: {
        const std::string_view greeting = m_setup->head.Greeting();
        send(m_client.fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
        // Before the request, the upstream is chosen only when nothing it says could
        // change the choice: the session is named in the log-on, a target not yet.
        const ClientHandshake& head = m_setup->head;
        const bool choiceKnown =
            head.AwaitsRequest() && (!m_shared.config.keepTargets || !head.SessionKey().empty());
        if (!m_setup->earlyStarted && choiceKnown && !m_shared.pool.Empty()) {
          m_setup->earlyStarted = true;
          StartAttempt();
          if (m_closed) return;
        }
        continue;
      }
      case ClientHandshake::Want::Refuse:
        return Refuse(m_setup->head.Refusal());
      case ClientHandshake::Want::Done:
        return HeadDone();
      case ClientHandshake::Want::Status:
        return AnswerStatus();
    }
  }
}

void Session::WatchHangUp(uint32_t events) {
  char c;
  const ssize_t n = recv(m_client.fd, &c, 1, MSG_PEEK);
  if (n == 0 || (n < 0 && errno != EAGAIN) || (events & (EPOLLERR | EPOLLHUP))) {
    ++m_shared.refused;
    return Close();
  }
  // Early data, then a half-close: it goes on once the upstream is there.
  m_setup->watchClient = false;
  Rearm();
}

std::string Session::StickyKey() const {
  const Setup& setup = *m_setup;
  const std::string& session = setup.headDone ? setup.request.sessionKey : setup.head.SessionKey();
  if (!session.empty()) return StickyTable::SessionKey(session);
  if (m_shared.config.keepTargets && setup.headDone)
    return StickyTable::TargetKey(AsciiLower(setup.request.host));
  return {};
}

void Session::HeadDone() {
  m_setup->headDone = true;
  m_setup->request = m_setup->head.TakeRequest();
  m_client.handler = &Session::WatchHangUp;
  if (m_upstream.fd < 0) return StartAttempt();
  Attempt& attempt = m_setup->attempt;
  if (attempt.handshake && attempt.handshake->AwaitsTarget()) {
    // The wait was the client's: neither the proxy's time nor its time-out.
    const auto now = Clock::now();
    attempt.start += now - attempt.parkedAt;
    attempt.deadline = now + std::chrono::milliseconds(m_shared.config.connectTimeoutMs);
    return SendTarget();
  }
  // The attempt under way goes on by itself, and now knows where to.
  Rearm();
}

void Session::CloseUpstream() {
  if (m_upstream.fd < 0) return;
  m_shared.loop.Want(m_upstream, 0);
  close(m_upstream.fd);
  m_upstream.fd = -1;
}

void Session::DropUpstream() {
  CloseUpstream();
  m_setup->attempt = {};
}

void Session::Park() {
  Setup& setup = *m_setup;
  if (!m_parked) {
    if (setup.parkedUntil == Clock::time_point{})
      setup.parkedUntil = Clock::now() + std::chrono::milliseconds(m_shared.config.connectTimeoutMs);
    m_parked = true;
    m_shared.parked.insert(this);
  }
  Rearm();
}

void Session::Unpark() {
  if (!m_parked) return;
  m_parked = false;
  m_shared.parked.erase(this);
}

void Session::Resume() {
  if (m_closed || !m_parked) return;
  StartAttempt();
}

void Session::StartAttempt() {
  Unpark();
  DropUpstream();
  m_upstream.handler = &Session::Connected;
  Setup& setup = *m_setup;
  const auto now = Clock::now();
  m_shared.lastUse = now;
  // Going direct is what the user chose over trying a proxy set aside as a last resort.
  const bool goDirect = m_shared.goDirect.load();
  if (setup.attempts == 0) setup.stickyKey = StickyKey();
  std::optional<UpstreamPool::Preference> prefer;
  if (!setup.stickyKey.empty()) {
    if (const StickyTable::Binding* b = m_shared.sticky.Find(setup.stickyKey, now))
      prefer = UpstreamPool::Preference{b->line, b->exit};
  }
  UpstreamRef next =
      setup.attempts < m_shared.config.maxAttempts
          ? m_shared.pool.Get(setup.tried, now, /*lastResort=*/!goDirect, prefer ? &*prefer : nullptr)
          : nullptr;
  // A name of the pool may give a proxy in a moment: better than refusing at once.
  if (!next && setup.attempts == 0 && !setup.waitedForNames && m_shared.pool.AwaitingNames()) return Park();
  if (!next) {
    // The client's request comes first; the refusal answers it.
    if (!setup.headDone) return Rearm();
    // A target that the proxies said cannot be reached is no proxy's failure: going
    // around them would only send the client's traffic out unprotected for nothing.
    if (goDirect && setup.lastFailure != Failure::Target) return StartDirect();
    const std::string what =
        "No proxy could reach " + HostPort(setup.request.host, setup.request.port) +
        (setup.lastReason.empty() ? std::string(" (no proxy to use).") : " (" + setup.lastReason + ").");
    return Refuse(RefusalAnswer(setup.head.Kind(), 502, setup.lastFailure == Failure::Target ? 5 : 1, what));
  }
  if (setup.attempts > 0) ++m_shared.failovers;
  ++setup.attempts;
  setup.tried.push_back(next);
  setup.attempt.start = now;
  setup.attempt.deadline = now + std::chrono::milliseconds(m_shared.config.connectTimeoutMs);
  ConnectTo(std::move(next));
}

void Session::ConnectTo(UpstreamRef next) {
  Attempt& attempt = m_setup->attempt;
  attempt.address = next->Preferred();
  attempt.addressesTried = 0;
  attempt.via = std::move(next);
  Dial();
}

void Session::Dial() {
  Setup& setup = *m_setup;
  const SocketAddress& address = setup.attempt.via->Address(setup.attempt.address);
  m_upstream.fd = socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_upstream.fd < 0) {
    // Out of descriptors here: no proxy is to blame, and none would do better.
    return Refuse(RefusalAnswer(setup.head.Kind(), 502, 1,
                                std::string("No connection could be opened: ") + std::strerror(errno)));
  }
  const int one = 1;
  setsockopt(m_upstream.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(m_upstream.fd, address.Get(), address.length) != 0 && errno != EINPROGRESS) {
    return DialFailed(std::strerror(errno));
  }
  // On loopback the handshake is often complete by now: no need to wait for the event.
  sockaddr_storage peer;
  socklen_t peerLen = sizeof peer;
  if (getpeername(m_upstream.fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0) return Connected(0);
  Rearm();
}

void Session::DialFailed(const std::string& reason) {
  Attempt& attempt = m_setup->attempt;
  // A name with an IPv6 and an IPv4 address, of which the proxy listens on one: the
  // other is the same proxy, within the same attempt and its time.
  if (++attempt.addressesTried < attempt.via->AddressCount()) {
    CloseUpstream();
    attempt.address = (attempt.address + 1) % attempt.via->AddressCount();
    return Dial();
  }
  AttemptFailed(Failure::Proxy, reason);
}

void Session::StartDirect() {
  DropUpstream();
  m_upstream.handler = &Session::Connected;
  Setup& setup = *m_setup;
  setup.direct = true;
  const auto now = Clock::now();
  setup.attempt.start = now;
  setup.attempt.deadline = now + std::chrono::milliseconds(m_shared.config.connectTimeoutMs);
  const std::string& host = setup.request.host;
  const int port = setup.request.port;
  if (const auto address = NumericAddress(host, port))
    return ConnectTo(UpstreamPool::Direct(host, port, *address));
  m_lookup = m_shared.nextLookup++;
  m_shared.resolving[m_lookup] = this;
  m_shared.lookups->Start(m_lookup, host, port);
  Rearm();
}

void Session::LookedUp(const TargetLookups::Answer& answer) {
  m_lookup = 0;
  if (m_closed) return;
  if (!answer.error.empty()) return DirectFailed(answer.error);
  const Setup& setup = *m_setup;
  ConnectTo(
      UpstreamPool::Direct(setup.request.host, setup.request.port,
                           AddressOf(reinterpret_cast<const sockaddr*>(&answer.address), answer.length)));
}

void Session::DirectFailed(const std::string& reason) {
  const Setup& setup = *m_setup;
  const std::string what = "Neither a proxy nor a direct connection could reach " +
                           HostPort(setup.request.host, setup.request.port) + " (" + reason + ").";
  Refuse(RefusalAnswer(setup.head.Kind(), 502, 4, what));
}

void Session::AnswerStatus() {
  // Only this computer's programs learn who serves and how its pool stands.
  if (!m_local) return Refuse(RefusalAnswer(ClientKind::HttpForward, 400, 0, "Not served here."));
  EndpointStatus status;
  status.pid = static_cast<long>(getpid());
  status.dataDir = m_shared.config.dataDir;
  status.pool = static_cast<int>(m_shared.pool.Size());
  status.usable = static_cast<int>(m_shared.pool.Usable());
  status.unresolved = static_cast<int>(m_shared.pool.Unresolved());
  status.goDirect = m_shared.goDirect.load();
  const std::string body = FormatEndpointStatus(status);
  Finish(
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body);
}

void Session::Connected(uint32_t) {
  int error = 0;
  socklen_t len = sizeof error;
  getsockopt(m_upstream.fd, SOL_SOCKET, SO_ERROR, &error, &len);
  if (error != 0) return DialFailed(std::strerror(error));
  sockaddr_storage peer;
  socklen_t peerLen = sizeof peer;
  // An event left over from the previous attempt's socket: this one is still on its way.
  if (getpeername(m_upstream.fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) return;
  m_upstream.handler = &Session::ReadHandshake;
  m_setup->attempt.handshake = UpstreamHandshake::For(m_setup->attempt.via->Proxy());
  std::string out;
  const UpstreamHandshake::Want want = m_setup->attempt.handshake->Open(out);
  Follow(want, out);
}

void Session::SendTarget() {
  std::string out;
  const UpstreamHandshake::Want want = m_setup->attempt.handshake->Request(m_setup->request, out);
  Follow(want, out);
}

void Session::ReadHandshake(uint32_t events) {
  Attempt& attempt = m_setup->attempt;
  if (!attempt.out.empty()) {
    bool broken = false;
    Flush(m_upstream.fd, attempt.out, attempt.outOff, broken);
    if (broken) return AttemptFailed(Failure::Proxy, "the connection was reset");
    Rearm();
  }
  if (!(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) return;
  size_t n = 0;
  const Io io = Receive(m_upstream.fd, m_shared.chunk, sizeof m_shared.chunk, n);
  if (io == Io::Blocked) return;
  if (io != Io::Moved) {
    return AttemptFailed(Failure::Proxy,
                         io == Io::End ? "the proxy closed the connection" : std::strerror(errno));
  }
  std::string out;
  const UpstreamHandshake::Want want = attempt.handshake->Take({m_shared.chunk, n}, out);
  Follow(want, out);
}

void Session::Follow(UpstreamHandshake::Want want, const std::string& out) {
  Attempt& attempt = m_setup->attempt;
  if (!out.empty()) {
    attempt.out += out;
    bool broken = false;
    Flush(m_upstream.fd, attempt.out, attempt.outOff, broken);
    if (broken) return AttemptFailed(Failure::Proxy, "the connection was reset");
  }
  switch (want) {
    case UpstreamHandshake::Want::Read:
      return Rearm();
    case UpstreamHandshake::Want::Target:
      if (m_setup->headDone) return SendTarget();
      attempt.parkedAt = Clock::now();
      return Rearm();
    case UpstreamHandshake::Want::Done:
      return Established();
    case UpstreamHandshake::Want::Failed:
      return AttemptFailed(attempt.handshake->Failed(), attempt.handshake->Reason());
  }
}

void Session::AttemptFailed(Failure failure, std::string reason) {
  Setup& setup = *m_setup;
  if (setup.direct) return DirectFailed(reason);
  setup.lastFailure = failure;
  setup.lastReason = setup.attempt.via->Proxy().Line() + ": " + reason;
  // The target's own failure, or a target the protocol cannot carry, says nothing
  // about the proxy.
  const auto outcome =
      failure == Failure::Proxy ? UpstreamPool::Outcome::Failed : UpstreamPool::Outcome::Unjudged;
  m_shared.pool.Release(setup.attempt.via, outcome, 0, reason, Clock::now());
  StartAttempt();
}

void Session::Established() {
  --m_shared.handshaking;
  const Setup& setup = *m_setup;
  const Attempt& attempt = setup.attempt;
  const auto now = Clock::now();
  m_shared.pool.Release(attempt.via, UpstreamPool::Outcome::Ok,
                        std::chrono::duration<double>(now - attempt.start).count(), {}, now, attempt.address);
  if (setup.direct) ++m_shared.direct;
  if (!setup.direct && !setup.stickyKey.empty())
    m_shared.sticky.Bind(setup.stickyKey, {attempt.via->Proxy().Line(), attempt.via->Proxy().exitAddress},
                         now);
  const ClientKind kind = setup.head.Kind();
  std::string toUpstream = attempt.out.substr(attempt.outOff);
  if (!attempt.handshake->CarriedRequest()) {
    // A SOCKS proxy reaches the origin itself, which wants the origin form.
    if (kind == ClientKind::HttpForward) toUpstream += setup.request.OriginForm();
    toUpstream += setup.request.body;
  }
  std::string leftover = attempt.handshake->TakeLeftover();
  if (!setup.direct) {
    m_via = attempt.via;
    m_via->Carried(toUpstream.size(), leftover.size());
  }
  std::string toClient = SuccessAnswer(kind) + leftover;
  m_relay = std::make_unique<Relay>(m_client.fd, m_upstream.fd, std::move(toUpstream), std::move(toClient),
                                    kind == ClientKind::HttpForward);
  // The setup is over: an open connection holds only its relay.
  m_setup.reset();
  m_client.handler = m_upstream.handler = &Session::Pump;
  Pump(0);
}

void Session::Pump(uint32_t) {
  const bool open = m_relay->Pump({m_shared.chunk, sizeof m_shared.chunk});
  CountBytes();
  if (!open) return Close();
  Rearm();
}

void Session::CountBytes() {
  if (!m_via) return;
  const uint64_t up = m_relay->BytesUp(), down = m_relay->BytesDown();
  m_via->Carried(up - m_countedUp, down - m_countedDown);
  m_countedUp = up;
  m_countedDown = down;
}

void Session::Refuse(const std::string& answer) {
  ++m_shared.refused;
  Finish(answer);
}

void Session::Finish(const std::string& answer) {
  // A best effort: the answer is short and the socket's buffer empty.
  send(m_client.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  // Unread bytes at close would reset the connection and could take the answer with
  // them: what already came is read away first.
  shutdown(m_client.fd, SHUT_WR);
  for (int i = 0; i < 8 && recv(m_client.fd, m_shared.chunk, sizeof m_shared.chunk, 0) > 0; ++i) {
  }
  Close();
}

bool Session::Late(Clock::time_point now) const {
  if (m_closed || m_relay) return false;
  const Setup& setup = *m_setup;
  if (!setup.headDone && now >= setup.clientDeadline) return true;
  const bool waitsForClient = setup.attempt.handshake && setup.attempt.handshake->AwaitsTarget();
  if (m_parked) return now >= setup.parkedUntil;
  if (m_lookup != 0) return now >= setup.attempt.deadline;
  return m_upstream.fd >= 0 && !waitsForClient && now >= setup.attempt.deadline;
}

void Session::TimeOut(Clock::time_point now) {
  if (m_closed) return;
  if (!m_setup->headDone && now >= m_setup->clientDeadline) {
    ++m_shared.refused;  // said nothing useful in time
    return Close();
  }
  if (m_lookup != 0) {
    m_shared.resolving.erase(m_lookup);
    m_lookup = 0;
    return DirectFailed("the name was not looked up in time");
  }
  if (m_parked) {
    m_setup->waitedForNames = true;
    m_setup->lastReason = "the proxies' names were not looked up in time";
    return StartAttempt();
  }
  AttemptFailed(Failure::Proxy, "no answer in time");
}

void Session::Close() {
  if (m_closed) return;
  m_closed = true;
  Unpark();
  if (m_lookup != 0) m_shared.resolving.erase(m_lookup);
  m_lookup = 0;
  if (!m_relay) --m_shared.handshaking;
  m_client.handler = m_upstream.handler = &Session::Ignore;
  // Taken off by hand: a close does not remove a descriptor from epoll while a child
  // between fork and exec still holds a copy, and its events would name a freed session.
  m_shared.loop.Want(m_client, 0);
  m_shared.loop.Want(m_upstream, 0);
  for (Side* side : {&m_client, &m_upstream}) {
    if (side->fd >= 0) close(side->fd);
    side->fd = -1;
  }
  m_relay.reset();
  m_shared.live.erase(this);
  m_shared.closed.push_back(this);
  --m_shared.active;
}

}  // namespace qb
