#include "endpoint/HealthCheck.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "endpoint/Net.h"
#include "endpoint/UpstreamHandshake.h"

namespace qb {

namespace {

// A page is read only this far for the feature string, as verification reads it.
constexpr size_t kMostRead = 256 * 1024;

}  // namespace

std::optional<CheckTarget> ParseCheckTarget(const std::string& url, const std::string& feature) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() <= kScheme.size() || AsciiLower(url.substr(0, kScheme.size())) != kScheme)
    return std::nullopt;
  const std::string_view rest = std::string_view(url).substr(kScheme.size());
  const size_t pathAt = std::min(rest.find_first_of("/?#"), rest.size());
  std::string_view authority = rest.substr(0, pathAt);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  int port = 80;
  std::string_view host = authority;
  if (const size_t colon = HostColon(authority); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    const std::string_view digits = authority.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535)
      return std::nullopt;
  }
  host = BareHost(host);
  if (host.empty()) return std::nullopt;
  std::string path(rest.substr(pathAt));
  if (const size_t hash = path.find('#'); hash != std::string::npos) path.resize(hash);
  if (path.empty() || path[0] != '/') path = "/" + path;
  CheckTarget target;
  target.request.kind = ClientKind::HttpForward;
  target.request.host = std::string(host);
  target.request.port = port;
  // As a browser writes it: the port only when it is not the scheme's own.
  std::string authorityText = HostPort(target.request.host, port);
  if (port == 80) authorityText.resize(authorityText.rfind(':'));
  target.request.head =
      "GET http://" + authorityText + path + " HTTP/1.1\r\nHost: " + authorityText + "\r\nAccept: */*\r\n";
  target.feature = feature;
  return target;
}

// One check of one upstream: connect, the proxy's handshake, the request, the page.
class HealthChecks::Check final : public EventLoop::Watch {
 public:
  Check(HealthChecks& owner, UpstreamRef via, Clock::time_point now) : m_owner(owner), m_via(std::move(via)) {
    m_start = now;
    m_deadline = now + std::chrono::milliseconds(owner.m_config.connectTimeoutMs);
  }
  ~Check() {
    if (fd >= 0) close(fd);
  }

  void Begin() {
    const SocketAddress& address = m_via->Address(m_via->Preferred());
    fd = socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return End(false, std::string("no socket: ") + std::strerror(errno), /*judged=*/false);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, address.Get(), address.length) != 0 && errno != EINPROGRESS)
      return End(false, std::strerror(errno));
    m_owner.m_loop.Want(*this, EPOLLOUT);
  }

  void OnReady(uint32_t events) override {
    if (m_ended) return;
    switch (m_phase) {
      case Phase::Connecting:
        return Connected();
      case Phase::Handshake:
        return ReadHandshake(events);
      case Phase::Page:
        return ReadPage();
    }
  }

  bool Late(Clock::time_point now) const { return !m_ended && now >= m_deadline; }
  void TimeOut() {
    End(false, m_phase == Phase::Page ? "the page did not come in time" : "no answer in time");
  }
  // Ends it without a verdict: the endpoint stops.
  void Drop() { End(false, {}, /*judged=*/false); }

  const UpstreamRef& Via() const { return m_via; }

 private:
  enum class Phase { Connecting, Handshake, Page };

  void Connected() {
    int error = 0;
    socklen_t len = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
    if (error != 0) return End(false, std::strerror(error));
    m_phase = Phase::Handshake;
    m_handshake = UpstreamHandshake::For(m_via->Proxy());
    std::string out;
    const UpstreamHandshake::Want want = m_handshake->Open(out);
    Follow(want, out);
  }

  void ReadHandshake(uint32_t events) {
    if (!m_out.empty()) {
      bool broken = false;
      Flush(fd, m_out, m_outOff, broken);
      if (broken) return End(false, "the connection was reset");
    }
    if (!(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) return Rearm();
    char chunk[4096];
    size_t n = 0;
    const Io io = Receive(fd, chunk, sizeof chunk, n);
    if (io == Io::Blocked) return Rearm();
    if (io != Io::Moved)
      return End(false, io == Io::End ? "the proxy closed the connection" : std::strerror(errno));
    std::string out;
    const UpstreamHandshake::Want want = m_handshake->Take({chunk, n}, out);
    Follow(want, out);
  }

  void Follow(UpstreamHandshake::Want want, const std::string& out) {
    if (!out.empty()) {
      m_out += out;
      bool broken = false;
      Flush(fd, m_out, m_outOff, broken);
      if (broken) return End(false, "the connection was reset");
    }
    switch (want) {
      case UpstreamHandshake::Want::Read:
        return Rearm();
      case UpstreamHandshake::Want::Target: {
        std::string request;
        const UpstreamHandshake::Want next = m_handshake->Request(m_owner.m_target->request, request);
        return Follow(next, request);
      }
      case UpstreamHandshake::Want::Done:
        return Through();
      case UpstreamHandshake::Want::Failed:
        return End(false, m_handshake->Reason());
    }
  }

  // The way is open: the time so far is the connection's, as a client's would be
  // measured; the page follows.
  void Through() {
    const auto now = Clock::now();
    m_seconds = std::chrono::duration<double>(now - m_start).count();
    m_phase = Phase::Page;
    m_deadline = now + std::chrono::milliseconds(m_owner.m_config.checkReplyMs);
    m_page = m_handshake->TakeLeftover();
    if (!m_handshake->CarriedRequest()) {
      m_out = m_out.substr(m_outOff) + m_owner.m_target->request.OriginForm();
      m_outOff = 0;
      bool broken = false;
      Flush(fd, m_out, m_outOff, broken);
      if (broken) return End(false, "the connection was reset");
    }
    if (Judge(false)) return;
    Rearm();
  }

  void ReadPage() {
    if (!m_out.empty()) {
      bool broken = false;
      Flush(fd, m_out, m_outOff, broken);
      if (broken) return End(false, "the connection was reset");
    }
    char chunk[16384];
    for (;;) {
      size_t n = 0;
      const Io io = Receive(fd, chunk, sizeof chunk, n);
      if (io == Io::Blocked) break;
      if (io != Io::Moved) {
        Judge(true);
        return;
      }
      m_page.append(chunk, n);
      if (Judge(m_page.size() >= kMostRead)) return;
    }
    Rearm();
  }

  // Whether the page says enough: the feature string found passes, and at the page's
  // end (or the most read) its absence fails. Without a feature string, any answer
  // whose status is not an error passes.
  bool Judge(bool atEnd) {
    const std::string& feature = m_owner.m_target->feature;
    if (!feature.empty()) {
      if (m_page.find(feature) != std::string::npos) {
        End(true, {});
        return true;
      }
      if (!atEnd) return false;
      End(false, m_page.empty() ? "no page came" : "the page lacks the feature string");
      return true;
    }
    const size_t lineEnd = m_page.find("\r\n");
    if (lineEnd == std::string::npos && !atEnd) return false;
    const bool good =
        m_page.starts_with("HTTP/") && m_page.size() > 9 && (m_page[9] == '2' || m_page[9] == '3');
    End(good, good ? std::string() : "the answer is an error");
    return true;
  }

  void Rearm() {
    uint32_t events = EPOLLIN | EPOLLRDHUP;
    if (m_phase == Phase::Connecting) events = EPOLLOUT;
    if (!m_out.empty() && m_outOff < m_out.size()) events |= EPOLLOUT;
    m_owner.m_loop.Want(*this, events);
  }

  void End(bool ok, const std::string& reason, bool judged = true) {
    if (m_ended) return;
    m_ended = true;
    if (fd >= 0) {
      m_owner.m_loop.Want(*this, 0);
      close(fd);
      fd = -1;
    }
    if (judged) {
      m_owner.Done(this, ok, m_seconds, reason);
    } else {
      m_owner.m_pool.Checked(m_via, false, 0, {}, Clock::now(), /*judged=*/false);
      m_owner.m_live.erase(this);
      m_owner.m_ended.push_back(this);
    }
  }

  HealthChecks& m_owner;
  UpstreamRef m_via;
  Phase m_phase = Phase::Connecting;
  std::unique_ptr<UpstreamHandshake> m_handshake;
  std::string m_out;
  size_t m_outOff = 0;
  std::string m_page;
  Clock::time_point m_start{}, m_deadline{};
  double m_seconds = 0;
  bool m_ended = false;
};

HealthChecks::HealthChecks(const EndpointConfig& config, EventLoop& loop, UpstreamPool& pool)
    : m_config(config), m_loop(loop), m_pool(pool) {
  if (config.checkIntervalMs > 0) m_target = ParseCheckTarget(config.checkUrl, config.checkFeature);
}

HealthChecks::~HealthChecks() {
  CloseAll();
  Settled();
}

bool HealthChecks::Awake(Clock::time_point now, Clock::time_point lastUse, size_t open) const {
  return open > 0 || m_config.lazyAfterMs <= 0 ||
         (lastUse != Clock::time_point{} && now - lastUse < std::chrono::milliseconds(m_config.lazyAfterMs));
}

bool HealthChecks::Wanted(Clock::time_point now, Clock::time_point lastUse, size_t open) const {
  if (!Enabled()) return false;
  return !m_live.empty() || !m_asked.empty() || Awake(now, lastUse, open);
}

void HealthChecks::Tick(Clock::time_point now, Clock::time_point lastUse, size_t open) {
  if (!Enabled()) return;
  std::vector<Check*> late;
  for (Check* c : m_live) {
    if (c->Late(now)) late.push_back(c);
  }
  for (Check* c : late) c->TimeOut();
  StartAsked(now);
  const size_t most = Most();
  if (!Awake(now, lastUse, open) || m_live.size() >= most) return;
  // Used within the lazy window (or, never lazy, within a few intervals) counts as in use.
  const auto usedWithin = std::chrono::milliseconds(
      m_config.lazyAfterMs > 0 ? m_config.lazyAfterMs : 4 * static_cast<int64_t>(m_config.checkIntervalMs));
  for (const UpstreamRef& u : m_pool.DueForCheck(now, usedWithin, most - m_live.size())) Start(u, now);
}

void HealthChecks::CheckNow(const UpstreamRef& u, Clock::time_point now) {
  m_asked.push_back(u);
  StartAsked(now);
}

void HealthChecks::StartAsked(Clock::time_point now) {
  while (!m_asked.empty() && m_live.size() < Most()) {
    UpstreamRef u = std::move(m_asked.front());
    m_asked.pop_front();
    if (!u->Checking() && u->Resolved()) Start(u, now);
  }
}

void HealthChecks::Start(const UpstreamRef& u, Clock::time_point now) {
  ++m_started;
  m_pool.CheckStarted(u);
  auto* check = new Check(*this, u, now);
  m_live.insert(check);
  check->Begin();
}

void HealthChecks::Done(Check* check, bool ok, double seconds, const std::string& reason) {
  m_live.erase(check);
  m_ended.push_back(check);
  m_pool.Checked(check->Via(), ok, seconds, reason.empty() ? reason : "health check: " + reason,
                 Clock::now());
}

void HealthChecks::Settled() {
  for (Check* c : m_ended) delete c;
  m_ended.clear();
}

void HealthChecks::CloseAll() {
  for (Check* c : std::vector<Check*>(m_live.begin(), m_live.end())) c->Drop();
  m_asked.clear();
}

}  // namespace qb
