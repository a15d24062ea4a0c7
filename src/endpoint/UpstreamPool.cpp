#include "endpoint/UpstreamPool.h"

#include <netdb.h>

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace qb {

UpstreamPool::UpstreamPool(Rules rules) : m_rules(std::move(rules)) {}

void UpstreamPool::OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
  m_onSetAside = std::move(fn);
}

bool UpstreamPool::Allowed(const std::string& type) const {
  if (!IsEndpointType(type)) return false;
  const auto& allowed = m_rules.types;
  return allowed.empty() || std::find(allowed.begin(), allowed.end(), type) != allowed.end();
}

void UpstreamPool::SetPool(std::vector<UpstreamProxy> pool) {
  std::vector<UpstreamRef> fresh;
  for (UpstreamProxy& proxy : pool) {
    proxy.type = AsciiUpper(proxy.type);
    if (!Allowed(proxy.type)) continue;
    auto u = std::make_shared<Upstream>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(proxy.addr.c_str(), proxy.port.c_str(), &hints, &found) == 0 && found) {
      std::memcpy(&u->m_address, found->ai_addr, found->ai_addrlen);
      u->m_addressLength = found->ai_addrlen;
      freeaddrinfo(found);
    }
    u->m_measured = proxy.seconds;
    u->m_proxy = std::move(proxy);
    fresh.push_back(std::move(u));
  }
  std::lock_guard lock(m_pendingMutex);
  m_pending = std::move(fresh);
}

bool UpstreamPool::TakePending() {
  std::optional<std::vector<UpstreamRef>> fresh;
  {
    std::lock_guard lock(m_pendingMutex);
    fresh.swap(m_pending);
  }
  if (!fresh) return false;
  for (const UpstreamRef& old : m_members) {
    old->m_current = false;
    if (!old->m_aside) continue;
    const std::string line = old->m_proxy.Line();
    const bool back = std::any_of(fresh->begin(), fresh->end(),
                                  [&](const UpstreamRef& u) { return u->m_proxy.Line() == line; });
    if (back && m_onSetAside) m_onSetAside(line, {});
  }
  m_members = std::move(*fresh);
  m_next = 0;
  m_asideCount = 0;
  return true;
}

UpstreamRef UpstreamPool::Get(const std::vector<UpstreamRef>& tried, Clock::time_point now, bool lastResort) {
  const auto rested = [&](const Upstream& u) { return !u.m_aside || now >= u.m_asideUntil; };
  const auto usable = [&](const UpstreamRef& u, bool evenAside) {
    if (!u->Resolved()) return false;
    if (std::find(tried.begin(), tried.end(), u) != tried.end()) return false;
    return evenAside || rested(*u);
  };
  const size_t n = m_members.size();
  if (n == 0) return nullptr;
  const bool allAside = std::none_of(m_members.begin(), m_members.end(),
                                     [&](const UpstreamRef& u) { return u->Resolved() && rested(*u); });
  for (bool evenAside : {false, true}) {
    if (evenAside && (!allAside || !lastResort)) break;
    switch (m_rules.policy) {
      case EndpointPolicy::Failover:
        for (const UpstreamRef& u : m_members) {
          if (usable(u, evenAside)) return u;
        }
        break;
      case EndpointPolicy::RoundRobin:
        for (size_t i = 0; i < n; ++i) {
          const UpstreamRef& u = m_members[(m_next + i) % n];
          if (usable(u, evenAside)) {
            m_next = (m_next + i + 1) % n;
            return u;
          }
        }
        break;
      case EndpointPolicy::Fastest: {
        // Unknown times come after every measured one.
        const auto key = [](const Upstream& u) { return u.m_measured > 0 ? u.m_measured : 1e9; };
        UpstreamRef best;
        for (const UpstreamRef& u : m_members) {
          if (usable(u, evenAside) && (!best || key(*u) < key(*best))) best = u;
        }
        if (best) return best;
        break;
      }
    }
  }
  return nullptr;
}

UpstreamRef UpstreamPool::Direct(const std::string& host, int port, const sockaddr* address,
                                 socklen_t length) {
  auto u = std::make_shared<Upstream>();
  u->m_proxy.addr = host;
  u->m_proxy.port = std::to_string(port);
  u->m_proxy.type = "DIRECT";
  std::memcpy(&u->m_address, address, std::min<size_t>(length, sizeof u->m_address));
  u->m_addressLength = length;
  u->m_current = false;
  return u;
}

void UpstreamPool::Release(const UpstreamRef& upstream, Outcome outcome, double seconds,
                           const std::string& reason, Clock::time_point now) {
  Upstream& u = *upstream;
  // A newer pool came meanwhile with its own word on this proxy.
  if (!u.m_current || outcome == Outcome::Unjudged) return;
  const auto average = [&](double sample) {
    u.m_measured = u.m_measured > 0 ? 0.7 * u.m_measured + 0.3 * sample : sample;
  };
  if (outcome == Outcome::Ok) {
    u.m_failures = 0;
    u.m_setAsides = 0;
    if (u.m_aside) TakeBack(u);
    average(seconds);
    return;
  }
  average(m_rules.failureSeconds);
  if (++u.m_failures >= m_rules.failuresToSetAside) SetAside(u, reason, now);
}

void UpstreamPool::SetAside(Upstream& u, const std::string& reason, Clock::time_point now) {
  u.m_failures = 0;
  const auto wait = std::min(m_rules.setAside * (int64_t(1) << std::min(u.m_setAsides, 20)), kMaxSetAside);
  ++u.m_setAsides;
  u.m_asideUntil = now + wait;
  // One already aside (tried because every proxy was) only has its time extended.
  if (u.m_aside) return;
  u.m_aside = true;
  ++m_asideCount;
  if (m_onSetAside) m_onSetAside(u.m_proxy.Line(), reason);
}

void UpstreamPool::TakeBack(Upstream& u) {
  u.m_aside = false;
  --m_asideCount;
  if (m_onSetAside) m_onSetAside(u.m_proxy.Line(), {});
}

void UpstreamPool::Expire(Clock::time_point now) {
  if (m_asideCount == 0) return;
  for (const UpstreamRef& u : m_members) {
    if (u->m_aside && now >= u->m_asideUntil) TakeBack(*u);
  }
}

}  // namespace qb
