#include "endpoint/Endpoint.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "base/Text.h"
#include "endpoint/EventLoop.h"
#include "endpoint/Net.h"
#include "endpoint/Session.h"
#include "endpoint/UpstreamPool.h"
#include "proxy/ProxyEntry.h"

namespace qb {

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

namespace {

UpstreamPool::Rules PoolRules(const EndpointConfig& config) {
  UpstreamPool::Rules rules;
  rules.policy = config.policy;
  rules.types = config.types;
  rules.failuresToSetAside = config.failuresToSetAside;
  rules.setAside = std::chrono::milliseconds(config.setAsideMs);
  rules.failureSeconds = config.connectTimeoutMs / 1000.0;
  return rules;
}

}  // namespace

// The endpoint's parts put together: the loop's thread serves the sessions, and the
// sessions share the pool.
class CEndpoint::Loop final : public EventLoop::Owner {
 public:
  explicit Loop(EndpointConfig config)
      : m_config(std::move(config)),
        m_pool(PoolRules(m_config)),
        m_events(*this),
        m_sessions(m_config, m_events, m_pool) {}
  ~Loop() { Stop(); }

  OpResult Start() { return m_events.Start(m_config.listen); }

  void Stop() {
    if (!m_events.StopThread()) return;
    for (Session* s : std::vector<Session*>(m_sessions.live.begin(), m_sessions.live.end())) s->Close();
    Settled();
    m_events.Close();
  }

  void SetPool(std::vector<UpstreamProxy> pool) {
    m_pool.SetPool(std::move(pool));
    m_events.Wake();
  }

  int Port() const { return m_events.Port(); }
  void OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
    m_pool.OnSetAside(std::move(fn));
  }
  Stats GetStats() const {
    return {m_sessions.accepted, m_sessions.active, m_sessions.failovers, m_sessions.refused};
  }

 private:
  void Accepted(int fd, const sockaddr_storage& peer) override {
    // On a loopback address only local clients can reach the port anyway; the check
    // keeps it so whatever the address family does.
    if (IsLoopbackHost(m_config.listen.host) && !IsLoopbackPeer(peer)) {
      close(fd);
      ++m_sessions.refused;
      return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    new Session(m_sessions, fd);  // owned by m_sessions.live until it closes
  }

  void Woken() override { m_pool.TakePending(); }

  bool NeedsTicks() const override { return m_sessions.handshaking > 0 || m_pool.AnySetAside(); }

  void Tick(EventLoop::Clock::time_point now) override {
    if (m_sessions.handshaking > 0) {
      std::vector<Session*> late;
      for (Session* s : m_sessions.live) {
        if (s->Late(now)) late.push_back(s);
      }
      for (Session* s : late) s->TimeOut(now);
    }
    if (now >= m_nextExpiry) {
      m_nextExpiry = now + std::chrono::seconds(1);
      m_pool.Expire(now);
    }
  }

  void Settled() override {
    for (Session* s : m_sessions.closed) delete s;
    m_sessions.closed.clear();
  }

  EndpointConfig m_config;
  UpstreamPool m_pool;
  EventLoop m_events;
  Session::Shared m_sessions;
  EventLoop::Clock::time_point m_nextExpiry{};
};

CEndpoint::CEndpoint(EndpointConfig config) : m_loop(std::make_unique<Loop>(std::move(config))) {}
CEndpoint::~CEndpoint() = default;
OpResult CEndpoint::Start() {
  return m_loop->Start();
}
void CEndpoint::Stop() {
  m_loop->Stop();
}
int CEndpoint::Port() const {
  return m_loop->Port();
}
void CEndpoint::SetPool(std::vector<UpstreamProxy> pool) {
  m_loop->SetPool(std::move(pool));
}
void CEndpoint::OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
  m_loop->OnSetAside(std::move(fn));
}
CEndpoint::Stats CEndpoint::GetStats() const {
  return m_loop->GetStats();
}

}  // namespace qb
