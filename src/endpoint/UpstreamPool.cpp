#include "endpoint/UpstreamPool.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "proxy/VerifyStatus.h"

namespace qb {

UpstreamPool::UpstreamPool(Rules rules) : m_rules(std::move(rules)) {}

void UpstreamPool::OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
  m_onSetAside = std::move(fn);
}

void UpstreamPool::OnUnresolved(std::function<void(const std::string&, const std::string&)> fn) {
  m_onUnresolved = std::move(fn);
}

void UpstreamPool::OnLookup(std::function<void(const std::string&)> fn) {
  m_onLookup = std::move(fn);
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
    const std::string_view port = proxy.port;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), u->m_port);
    // A proxy without a port it could be reached on never gets an address.
    if (ec == std::errc() && end == port.data() + port.size() && u->m_port >= 1 && u->m_port <= 65535) {
      if (auto address = NumericAddress(proxy.addr, u->m_port)) {
        u->m_addresses.push_back(*address);
      } else {
        u->m_name = std::string(BareHost(proxy.addr));
      }
    }
    u->m_measured = proxy.seconds;
    u->m_proxy = std::move(proxy);
    fresh.push_back(std::move(u));
  }
  std::lock_guard lock(m_pendingMutex);
  m_pending = std::move(fresh);
}

bool UpstreamPool::TakePending(Clock::time_point now) {
  std::optional<std::vector<UpstreamRef>> fresh;
  {
    std::lock_guard lock(m_pendingMutex);
    fresh.swap(m_pending);
  }
  if (!fresh) return false;
  std::unordered_set<std::string> leftOut;
  std::unordered_map<std::string, UpstreamRef> byLine;
  byLine.reserve(fresh->size());
  for (const UpstreamRef& u : *fresh) {
    const auto old = m_byLine.find(u->m_proxy.Line());
    // What it carried counts from when it first joined, not from the list's last save.
    if (old != m_byLine.end()) {
      const Upstream& was = *old->second;
      u->m_connections = was.m_connections;
      u->m_failuresTotal = was.m_failuresTotal;
      u->m_bytesUp = was.m_bytesUp;
      u->m_bytesDown = was.m_bytesDown;
      u->m_checks = was.m_checks;
      u->m_checksPassed = was.m_checksPassed;
      u->m_lastCheck = was.m_lastCheck;
      u->m_nextCheck = was.m_nextCheck;
      u->m_lastHanded = was.m_lastHanded;
      // The same verification again (the list was saved for another row, or the row was
      // marked for this very set-aside) says nothing new: what the pool learnt stands,
      // and only a check, a success or the time running out brings the proxy back.
      if (u->m_proxy.seconds == was.m_proxy.seconds) {
        u->m_measured = was.m_measured;
        u->m_failures = was.m_failures;
        u->m_setAsides = was.m_setAsides;
        u->m_aside = was.m_aside;
        u->m_asideUntil = was.m_asideUntil;
      }
    }
    byLine.emplace(u->m_proxy.Line(), u);
  }
  m_byLine = std::move(byLine);
  for (const UpstreamRef& old : m_members) {
    old->m_current = false;
    if (old->m_leftOut) leftOut.insert(old->m_proxy.Line());
    if (!old->m_aside) continue;
    const auto kept = m_byLine.find(old->m_proxy.Line());
    if (kept != m_byLine.end() && !kept->second->m_aside && m_onSetAside) m_onSetAside(kept->first, {});
  }
  m_members = std::move(*fresh);
  m_next = 0;
  m_asideCount = static_cast<size_t>(
      std::count_if(m_members.begin(), m_members.end(), [](const UpstreamRef& u) { return u->m_aside; }));
  // What the names gave is kept for the names the new pool still has; a proxy already
  // said to be left out is not said to be again.
  std::unordered_map<std::string, Name> names;
  for (const UpstreamRef& u : m_members) {
    if (!u->Named() || names.count(u->m_name)) continue;
    const auto known = m_names.find(u->m_name);
    names.emplace(u->m_name, known == m_names.end() ? Name{} : std::move(known->second));
  }
  for (const auto& [key, name] : m_names) {
    if (name.looking && !names.count(key)) --m_looking;
  }
  m_names = std::move(names);
  for (const UpstreamRef& u : m_members) {
    if (u->Named() && leftOut.count(u->m_proxy.Line())) u->m_leftOut = true;
  }
  for (auto& [key, name] : m_names) {
    if (name.answered) Apply(key, name);
  }
  CountUnresolved();
  Refresh(now);
  return true;
}

void UpstreamPool::Ask(const std::string& key, Name& name, Clock::time_point now) {
  if (name.looking) return;
  name.looking = true;
  name.askedAt = now;
  ++m_looking;
  if (m_onLookup) m_onLookup(key);
}

bool UpstreamPool::Apply(const std::string& key, const Name& name) {
  bool changed = false;
  for (const UpstreamRef& member : m_members) {
    Upstream& u = *member;
    if (u.m_name != key) continue;
    std::vector<SocketAddress> addresses = name.addresses;
    for (SocketAddress& a : addresses) a.SetPort(u.m_port);
    if (addresses != u.m_addresses) {
      u.m_addresses = std::move(addresses);
      u.m_preferred = 0;
      // What was held against it was held against addresses it no longer has.
      u.m_failures = 0;
      u.m_setAsides = 0;
      if (u.m_aside) TakeBack(u);
    }
    const bool out = u.m_addresses.empty();
    if (out == u.m_leftOut) continue;
    u.m_leftOut = out;
    changed = true;
    if (m_onUnresolved) m_onUnresolved(u.m_proxy.Line(), out ? name.error : std::string());
  }
  return changed;
}

void UpstreamPool::Resolved(const NameResolver::Answer& answer, Clock::time_point now) {
  const auto it = m_names.find(answer.name);
  if (it == m_names.end()) return;
  Name& name = it->second;
  if (name.looking) --m_looking;
  name.looking = false;
  name.answered = true;
  name.answeredAt = now;
  name.stale = false;
  name.error = answer.error;
  if (!answer.addresses.empty()) {
    name.addresses = answer.addresses;
  } else if (!answer.lasting && !name.addresses.empty()) {
    name.stale = true;  // the name servers' trouble, not the name's
  } else {
    name.addresses.clear();
  }
  Apply(it->first, name);
  CountUnresolved();
}

bool UpstreamPool::Refresh(Clock::time_point now) {
  bool changed = false;
  for (auto& [key, name] : m_names) {
    if (name.looking) {
      if (now - name.askedAt < m_rules.lookupTimeout) continue;
      // The lookup may still answer later, and is then taken; until then the name
      // counts as one the name servers do not answer for.
      --m_looking;
      name.looking = false;
      name.answered = true;
      name.answeredAt = now;
      name.error = "the name was not looked up in time";
      name.stale = !name.addresses.empty();
      changed = Apply(key, name) || changed;
      continue;
    }
    const auto lifetime = !name.answered ? Clock::duration::zero()
                          : name.addresses.empty() || name.stale
                              ? std::min<Clock::duration>(m_rules.retryUnresolved, m_rules.nameLifetime)
                              : Clock::duration(m_rules.nameLifetime);
    if (!name.answered || now - name.answeredAt >= lifetime) Ask(key, name, now);
  }
  if (changed) CountUnresolved();
  return changed;
}

bool UpstreamPool::AwaitingNames() const {
  return std::any_of(m_names.begin(), m_names.end(),
                     [](const auto& entry) { return entry.second.looking && !entry.second.answered; });
}

void UpstreamPool::CountUnresolved() {
  m_unresolved = static_cast<size_t>(
      std::count_if(m_members.begin(), m_members.end(), [](const UpstreamRef& u) { return u->m_leftOut; }));
}

size_t UpstreamPool::Usable() const {
  return static_cast<size_t>(std::count_if(
      m_members.begin(), m_members.end(), [](const UpstreamRef& u) { return u->Resolved() && !u->m_aside; }));
}

UpstreamRef UpstreamPool::Get(const std::vector<UpstreamRef>& tried, Clock::time_point now, bool lastResort,
                              const Preference* prefer) {
  const auto rested = [&](const Upstream& u) {
    return !u.m_aside || (!m_rules.checksBringBack && now >= u.m_asideUntil);
  };
  const auto handed = [&](UpstreamRef u) {
    u->m_lastHanded = now;
    return u;
  };
  const auto usable = [&](const UpstreamRef& u, bool evenAside) {
    if (!u->Resolved()) return false;
    if (std::find(tried.begin(), tried.end(), u) != tried.end()) return false;
    return evenAside || rested(*u);
  };
  const size_t n = m_members.size();
  if (n == 0) return nullptr;
  if (prefer) {
    if (const UpstreamRef bound = Find(prefer->line); bound && usable(bound, false)) return handed(bound);
    if (!prefer->exit.empty()) {
      for (const UpstreamRef& u : m_members) {
        if (u->Proxy().exitAddress == prefer->exit && usable(u, false)) return handed(u);
      }
    }
  }
  const bool allAside = std::none_of(m_members.begin(), m_members.end(),
                                     [&](const UpstreamRef& u) { return u->Resolved() && rested(*u); });
  for (bool evenAside : {false, true}) {
    if (evenAside && (!allAside || !lastResort)) break;
    switch (m_rules.policy) {
      case EndpointPolicy::Failover:
        for (const UpstreamRef& u : m_members) {
          if (usable(u, evenAside)) return handed(u);
        }
        break;
      case EndpointPolicy::RoundRobin:
        for (size_t i = 0; i < n; ++i) {
          const UpstreamRef& u = m_members[(m_next + i) % n];
          if (usable(u, evenAside)) {
            m_next = (m_next + i + 1) % n;
            return handed(u);
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
        if (!best) break;
        // A proxy nearly as fast as the best keeps its clients: a switch for a few
        // milliseconds would move every new connection on the noise of one measure.
        const UpstreamRef current = m_fastest.lock();
        if (current && current != best && current->m_current && usable(current, evenAside) &&
            key(*current) <= key(*best) + m_rules.toleranceSeconds)
          return handed(current);
        m_fastest = best;
        return handed(best);
      }
    }
  }
  return nullptr;
}

UpstreamRef UpstreamPool::Direct(const std::string& host, int port, const SocketAddress& address) {
  auto u = std::make_shared<Upstream>();
  u->m_proxy.addr = host;
  u->m_proxy.port = std::to_string(port);
  u->m_proxy.type = "DIRECT";
  u->m_port = port;
  u->m_addresses.push_back(address);
  u->m_current = false;
  return u;
}

void UpstreamPool::Release(const UpstreamRef& upstream, Outcome outcome, double seconds,
                           const std::string& reason, Clock::time_point now, size_t address) {
  Upstream& u = *upstream;
  if (outcome == Outcome::Ok) ++u.m_connections;
  if (outcome == Outcome::Failed) ++u.m_failuresTotal;
  // A newer pool came meanwhile with its own word on this proxy.
  if (!u.m_current || outcome == Outcome::Unjudged) return;
  const auto average = [&](double sample) {
    u.m_measured = u.m_measured > 0 ? 0.7 * u.m_measured + 0.3 * sample : sample;
  };
  if (outcome == Outcome::Ok) {
    // The next attempt goes straight to the address that answered.
    if (address < u.m_addresses.size()) u.m_preferred = address;
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
  const auto wait =
      std::min<std::chrono::milliseconds>(m_rules.setAside * (int64_t(1) << std::min(u.m_setAsides, 20)),
                                          std::max(m_rules.maxSetAside, m_rules.setAside));
  ++u.m_setAsides;
  u.m_asideUntil = now + wait;
  // One already aside (tried because every proxy was) only has its time extended.
  if (u.m_aside) return;
  u.m_aside = true;
  ++m_asideCount;
  if (m_onSetAside) m_onSetAside(u.m_proxy.Line(), reason);
  if (m_onSetAsideProxy) m_onSetAsideProxy(u);
}

void UpstreamPool::TakeBack(Upstream& u) {
  u.m_aside = false;
  --m_asideCount;
  if (m_onSetAside) m_onSetAside(u.m_proxy.Line(), {});
}

void UpstreamPool::Expire(Clock::time_point now) {
  if (m_asideCount == 0 || m_rules.checksBringBack) return;
  for (const UpstreamRef& u : m_members) {
    if (u->m_aside && now >= u->m_asideUntil) TakeBack(*u);
  }
}

UpstreamRef UpstreamPool::Find(const std::string& line) const {
  const auto it = m_byLine.find(line);
  return it == m_byLine.end() ? nullptr : it->second;
}

bool UpstreamPool::MarkBad(const std::string& line, const std::string& reason, Clock::time_point now) {
  const UpstreamRef u = Find(line);
  if (!u) return false;
  SetAside(*u, reason, now);
  return true;
}

std::vector<UpstreamState> UpstreamPool::States(Clock::time_point now) const {
  std::vector<UpstreamState> states;
  states.reserve(m_members.size());
  for (const UpstreamRef& member : m_members) {
    const Upstream& u = *member;
    UpstreamState s;
    s.line = u.m_proxy.Line();
    s.type = u.m_proxy.type;
    s.state = u.m_aside ? "aside" : !u.Resolved() ? "unresolved" : "ok";
    s.latency = u.m_measured;
    s.failures = u.m_failures;
    s.exitAddress = u.m_proxy.exitAddress;
    s.country = u.m_proxy.country;
    s.anonymity = u.m_proxy.anonymity;
    s.trust = u.m_proxy.trust.empty() ? TrustWord(Trust::Unchecked) : u.m_proxy.trust;
    s.network = u.m_proxy.network;
    s.connections = u.m_connections;
    s.failuresTotal = u.m_failuresTotal;
    s.bytesUp = u.m_bytesUp;
    s.bytesDown = u.m_bytesDown;
    if (u.m_checks > 0) {
      s.uptime = static_cast<double>(u.m_checksPassed) / static_cast<double>(u.m_checks);
      s.lastCheckAgoMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - u.m_lastCheck).count();
    }
    states.push_back(std::move(s));
  }
  return states;
}

void UpstreamPool::OnSetAsideProxy(std::function<void(const Upstream&)> fn) {
  m_onSetAsideProxy = std::move(fn);
}

std::vector<UpstreamRef> UpstreamPool::DueForCheck(Clock::time_point now, Clock::duration usedWithin,
                                                   size_t limit) {
  std::vector<UpstreamRef> due;
  const size_t n = m_members.size();
  if (n == 0 || limit == 0) return due;
  // The next two the policy would hand out: they are the ones a client gets next, so
  // their state matters before any client finds it out.
  std::vector<const Upstream*> next;
  const auto candidate = [](const Upstream& u) { return u.Resolved() && !u.m_aside; };
  if (m_rules.policy == EndpointPolicy::Fastest) {
    const auto key = [](const Upstream& u) { return u.m_measured > 0 ? u.m_measured : 1e9; };
    const Upstream* first = nullptr;
    const Upstream* second = nullptr;
    for (const UpstreamRef& u : m_members) {
      if (!candidate(*u)) continue;
      if (!first || key(*u) < key(*first)) {
        second = first;
        first = u.get();
      } else if (!second || key(*u) < key(*second)) {
        second = u.get();
      }
    }
    if (const UpstreamRef current = m_fastest.lock()) next.push_back(current.get());
    for (const Upstream* u : {first, second}) {
      if (u) next.push_back(u);
    }
  } else {
    const size_t from = m_rules.policy == EndpointPolicy::RoundRobin ? m_next : 0;
    for (size_t i = 0; i < n && next.size() < 2; ++i) {
      const Upstream& u = *m_members[(from + i) % n];
      if (candidate(u)) next.push_back(&u);
    }
  }
  for (size_t i = 0; i < n && due.size() < limit; ++i) {
    const UpstreamRef& member = m_members[(m_checkCursor + i) % n];
    const Upstream& u = *member;
    if (u.m_checking || !u.Resolved()) continue;
    const bool used = u.m_lastHanded != Clock::time_point{} && now - u.m_lastHanded <= usedWithin;
    const bool inUse = u.m_aside || used || std::find(next.begin(), next.end(), &u) != next.end();
    if (!inUse) continue;
    const Clock::time_point at = u.m_aside ? std::max(u.m_nextCheck, u.m_asideUntil) : u.m_nextCheck;
    if (now >= at) due.push_back(member);
  }
  // The next search starts past the last one taken, so that a limit does not keep
  // checking the same few.
  if (!due.empty()) {
    const auto last = std::find(m_members.begin(), m_members.end(), due.back());
    m_checkCursor = static_cast<size_t>(last - m_members.begin()) + 1;
  }
  return due;
}

void UpstreamPool::CheckStarted(const UpstreamRef& upstream) {
  upstream->m_checking = true;
}

void UpstreamPool::Checked(const UpstreamRef& upstream, bool ok, double seconds, const std::string& reason,
                           Clock::time_point now, bool judged) {
  Upstream& u = *upstream;
  u.m_checking = false;
  if (!judged) return;
  u.m_lastCheck = now;
  u.m_nextCheck = now + m_rules.checkInterval;
  ++u.m_checks;
  if (ok) ++u.m_checksPassed;
  if (!u.m_current) return;
  const auto average = [&](double sample) {
    u.m_measured = u.m_measured > 0 ? 0.7 * u.m_measured + 0.3 * sample : sample;
  };
  if (ok) {
    u.m_failures = 0;
    u.m_setAsides = 0;
    if (u.m_aside) TakeBack(u);
    average(seconds);
    return;
  }
  average(m_rules.failureSeconds);
  // One set aside failed its check: it stays aside, for longer.
  if (u.m_aside || ++u.m_failures >= m_rules.failuresToSetAside) SetAside(u, reason, now);
}

}  // namespace qb
