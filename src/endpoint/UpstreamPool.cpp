#include "endpoint/UpstreamPool.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "proxy/GeoLocation.h"
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

namespace {

// A row whose state can wait until it is handed out: an address (four numbers, or an
// IPv6 address) and a port it can be reached on, so that it has its address from the
// start and no name to look up.
bool Plain(const CProxyEntry& e) {
  if (e.PortIsText() || e.PortNumber() < 1 || e.PortNumber() > 65535) return false;
  return !e.AddressIsText() || NumericAddress(e.Addr(), e.PortNumber()).has_value();
}

}  // namespace

void UpstreamPool::SetPool(UpstreamRows pool) {
  // The types of millions of rows are read as their few texts: a type's verdict is
  // taken once.
  std::vector<std::pair<std::string, bool>> verdicts;
  const auto allowed = [&](std::string_view type) {
    for (const auto& [text, ok] : verdicts) {
      if (text == type) return ok;
    }
    verdicts.emplace_back(std::string(type), Allowed(AsciiUpper(type)));
    return verdicts.back().second;
  };
  std::vector<CProxyEntry>& rows = pool.rows;
  std::size_t kept = 0;
  std::unordered_map<std::uint32_t, UpstreamProxy> whole;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!allowed(rows[i].Type())) continue;
    if (const auto given = pool.whole.find(static_cast<std::uint32_t>(i)); given != pool.whole.end()) {
      given->second.type = AsciiUpper(given->second.type);
      whole.emplace(static_cast<std::uint32_t>(kept), std::move(given->second));
    }
    if (kept != i) rows[kept] = std::move(rows[i]);
    ++kept;
  }
  rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(kept), rows.end());
  pool.whole = std::move(whole);
  std::lock_guard lock(m_pendingMutex);
  m_pending = std::move(pool);
}

void UpstreamPool::SetPool(std::vector<UpstreamProxy> pool) {
  UpstreamRows rows;
  rows.rows.reserve(pool.size());
  for (UpstreamProxy& proxy : pool) {
    proxy.type = AsciiUpper(proxy.type);
    rows.whole.emplace(static_cast<std::uint32_t>(rows.rows.size()), proxy);
    rows.rows.emplace_back(proxy.addr, proxy.port, proxy.type, std::string_view(), std::string_view());
  }
  SetPool(std::move(rows));
}

UpstreamRef UpstreamPool::Made(std::size_t row) {
  if (const std::uint32_t at = m_made[row]) return m_upstreams[at - 1];
  auto u = std::make_shared<Upstream>();
  if (const auto given = m_members.whole.find(static_cast<std::uint32_t>(row));
      given != m_members.whole.end()) {
    u->m_proxy = given->second;
  } else {
    const CProxyEntry& e = m_members.rows[row];
    u->m_proxy.addr = e.Addr();
    u->m_proxy.port = e.Port();
    u->m_proxy.type = AsciiUpper(e.Type());
    u->m_proxy.seconds = e.TimeValue();
  }
  const UpstreamProxy& proxy = u->m_proxy;
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
  u->m_row = row;
  m_upstreams.push_back(u);
  m_made[row] = static_cast<std::uint32_t>(m_upstreams.size());
  return u;
}

std::string UpstreamPool::Line(std::size_t row) const {
  if (const auto given = m_members.whole.find(static_cast<std::uint32_t>(row));
      given != m_members.whole.end())
    return given->second.Line();
  return UpstreamLine(m_members.rows[row]);
}

double UpstreamPool::Seconds(std::size_t row) const {
  if (!m_members.whole.empty()) {
    if (const auto given = m_members.whole.find(static_cast<std::uint32_t>(row));
        given != m_members.whole.end())
      return given->second.seconds;
  }
  return m_members.rows[row].TimeValue();
}

namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

}  // namespace

std::optional<std::size_t> UpstreamPool::RowOf(const std::string& line) {
  const std::vector<CProxyEntry>& rows = m_members.rows;
  if (rows.empty()) return std::nullopt;
  if (m_index.empty()) {
    // Row numbers at most half the slots: a line is mostly looked for once a client
    // or the API names it, and the table is made then, once per pool.
    std::size_t capacity = 1024;
    while (capacity < 2 * rows.size()) capacity *= 2;
    m_index.assign(capacity, 0);
    m_indexShift = 64 - static_cast<unsigned>(__builtin_ctzll(capacity));
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::size_t slot = static_cast<std::size_t>((rows[i].KeyHash() * kGolden) >> m_indexShift);
      while (m_index[slot] != 0) slot = (slot + 1) & mask;
      m_index[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }
  // "addr:port@TYPE": the port is the last colon's, the type the last at's.
  const std::size_t at = line.rfind('@');
  const std::size_t colon = at == std::string::npos ? std::string::npos : line.rfind(':', at);
  if (colon == std::string::npos) return std::nullopt;
  const CProxyEntry probe(std::string_view(line).substr(0, colon),
                          std::string_view(line).substr(colon + 1, at - colon - 1),
                          std::string_view(line).substr(at + 1), {}, {});
  const std::uint32_t hash = probe.KeyHash();
  const std::size_t mask = m_index.size() - 1;
  for (std::size_t slot = static_cast<std::size_t>((hash * kGolden) >> m_indexShift); m_index[slot] != 0;
       slot = (slot + 1) & mask) {
    const std::size_t row = m_index[slot] - 1;
    // The key ignores case; the line is the pool's own, byte for byte.
    if (rows[row].KeyHash() == hash && Line(row) == line) return row;
  }
  return std::nullopt;
}

bool UpstreamPool::TakePending(Clock::time_point now) {
  std::optional<UpstreamRows> fresh;
  {
    std::lock_guard lock(m_pendingMutex);
    fresh.swap(m_pending);
  }
  if (!fresh) return false;
  std::vector<UpstreamRef> old = std::move(m_upstreams);
  m_members = std::move(*fresh);
  const std::size_t n = m_members.rows.size();
  m_made.assign(n, 0);
  m_upstreams.clear();
  std::vector<std::uint32_t>().swap(m_index);
  m_timeOrderKnown = false;
  std::vector<std::uint32_t>().swap(m_byTime);
  m_byTimeNext = 0;
  m_next = 0;
  m_checkCursor = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!Plain(m_members.rows[i])) Made(i);
  }
  // What was learnt of a proxy stays with it while fresh pools carry it.
  std::unordered_set<std::string> leftOut;
  std::vector<bool> carried;
  for (const UpstreamRef& was : old) {
    was->m_current = false;
    const std::string line = was->m_proxy.Line();
    if (was->m_leftOut) leftOut.insert(line);
    const std::optional<std::size_t> row = RowOf(line);
    if (!row) continue;
    if (carried.empty()) carried.assign(n, false);
    if (carried[*row]) continue;
    carried[*row] = true;
    const UpstreamRef u = Made(*row);
    // What it carried counts from when it first joined, not from the list's last save.
    u->m_connections = was->m_connections;
    u->m_failuresTotal = was->m_failuresTotal;
    u->m_bytesUp = was->m_bytesUp;
    u->m_bytesDown = was->m_bytesDown;
    u->m_checks = was->m_checks;
    u->m_checksPassed = was->m_checksPassed;
    u->m_lastCheck = was->m_lastCheck;
    u->m_nextCheck = was->m_nextCheck;
    u->m_lastHanded = was->m_lastHanded;
    // The same verification again (the list was saved for another row, or the row was
    // marked for this very set-aside) says nothing new: what the pool learnt stands,
    // and only a check, a success or the time running out brings the proxy back.
    if (u->m_proxy.seconds == was->m_proxy.seconds) {
      u->m_measured = was->m_measured;
      u->m_failures = was->m_failures;
      u->m_setAsides = was->m_setAsides;
      u->m_aside = was->m_aside;
      u->m_asideUntil = was->m_asideUntil;
    }
  }
  for (const UpstreamRef& was : old) {
    if (!was->m_aside) continue;
    const std::string line = was->m_proxy.Line();
    const std::optional<std::size_t> row = RowOf(line);
    if (row && !Made(*row)->m_aside && m_onSetAside) m_onSetAside(line, {});
  }
  m_asideCount = static_cast<size_t>(
      std::count_if(m_upstreams.begin(), m_upstreams.end(), [](const UpstreamRef& u) { return u->m_aside; }));
  // What the names gave is kept for the names the new pool still has; a proxy already
  // said to be left out is not said to be again.
  std::unordered_map<std::string, Name> names;
  for (const UpstreamRef& u : m_upstreams) {
    if (!u->Named() || names.count(u->m_name)) continue;
    const auto known = m_names.find(u->m_name);
    names.emplace(u->m_name, known == m_names.end() ? Name{} : std::move(known->second));
  }
  for (const auto& [key, name] : m_names) {
    if (name.looking && !names.count(key)) --m_looking;
  }
  m_names = std::move(names);
  for (const UpstreamRef& u : m_upstreams) {
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
  // A named proxy's state is made when the pool takes over.
  for (const UpstreamRef& member : m_upstreams) {
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
  m_unresolved = static_cast<size_t>(std::count_if(m_upstreams.begin(), m_upstreams.end(),
                                                   [](const UpstreamRef& u) { return u->m_leftOut; }));
}

size_t UpstreamPool::Usable() const {
  // A row not made yet has its address and nothing against it.
  return Size() - m_upstreams.size() +
         static_cast<size_t>(std::count_if(m_upstreams.begin(), m_upstreams.end(), [](const UpstreamRef& u) {
           return u->Resolved() && !u->m_aside;
         }));
}

bool UpstreamPool::Rested(const Upstream& u, Clock::time_point now) const {
  return !u.m_aside || (!m_rules.checksBringBack && now >= u.m_asideUntil);
}

bool UpstreamPool::Usable(std::size_t row, const std::vector<UpstreamRef>& tried, bool evenAside,
                          Clock::time_point now) const {
  // A row not made yet was never handed out, and has its address.
  const std::uint32_t at = m_made[row];
  if (at == 0) return true;
  const UpstreamRef& u = m_upstreams[at - 1];
  if (!u->Resolved()) return false;
  if (std::find(tried.begin(), tried.end(), u) != tried.end()) return false;
  return evenAside || Rested(*u, now);
}

std::optional<std::size_t> UpstreamPool::FirstUnmade(std::size_t skip) {
  const std::size_t n = Size();
  const auto key = [](double seconds) { return seconds > 0 ? seconds : 1e9; };
  if (!m_timeOrderKnown) {
    m_timeOrderKnown = true;
    // The list hands its rows over fastest first: then they are their own order.
    bool ordered = true;
    for (std::size_t i = 1; i < n && ordered; ++i) ordered = key(Seconds(i - 1)) <= key(Seconds(i));
    if (!ordered) {
      std::vector<std::pair<double, std::uint32_t>> byTime(n);
      for (std::size_t i = 0; i < n; ++i) byTime[i] = {key(Seconds(i)), static_cast<std::uint32_t>(i)};
      std::sort(byTime.begin(), byTime.end());
      m_byTime.resize(n);
      for (std::size_t i = 0; i < n; ++i) m_byTime[i] = byTime[i].second;
    }
  }
  const auto rowAt = [&](std::size_t i) { return m_byTime.empty() ? i : std::size_t{m_byTime[i]}; };
  // Rows are only ever made, never unmade: the ones passed stay passed.
  while (m_byTimeNext < n && m_made[rowAt(m_byTimeNext)] != 0) ++m_byTimeNext;
  for (std::size_t i = m_byTimeNext; i < n; ++i) {
    if (m_made[rowAt(i)] != 0) continue;
    if (skip-- == 0) return rowAt(i);
  }
  return std::nullopt;
}

UpstreamRef UpstreamPool::Get(const std::vector<UpstreamRef>& tried, Clock::time_point now, bool lastResort,
                              const Preference* prefer) {
  const auto handed = [&](std::size_t row) {
    UpstreamRef u = Made(row);
    u->m_lastHanded = now;
    return u;
  };
  const auto usable = [&](std::size_t row, bool evenAside) { return Usable(row, tried, evenAside, now); };
  const size_t n = Size();
  if (n == 0) return nullptr;
  if (prefer) {
    if (const auto bound = RowOf(prefer->line); bound && usable(*bound, false)) return handed(*bound);
    if (!prefer->exit.empty()) {
      // Only a proxy that its verification found an exit address for has one, and such
      // a row is given whole.
      std::optional<std::size_t> first;
      for (const auto& [row, proxy] : m_members.whole) {
        if (proxy.exitAddress == prefer->exit && (!first || row < *first) && usable(row, false)) first = row;
      }
      if (first) return handed(*first);
    }
  }
  const bool allAside = m_upstreams.size() == n &&
                        std::none_of(m_upstreams.begin(), m_upstreams.end(),
                                     [&](const UpstreamRef& u) { return u->Resolved() && Rested(*u, now); });
  for (bool evenAside : {false, true}) {
    if (evenAside && (!allAside || !lastResort)) break;
    switch (m_rules.policy) {
      case EndpointPolicy::Failover:
        for (size_t row = 0; row < n; ++row) {
          if (usable(row, evenAside)) return handed(row);
        }
        break;
      case EndpointPolicy::RoundRobin:
        for (size_t i = 0; i < n; ++i) {
          const size_t row = (m_next + i) % n;
          if (usable(row, evenAside)) {
            m_next = (row + 1) % n;
            return handed(row);
          }
        }
        break;
      case EndpointPolicy::Fastest: {
        // Unknown times come after every measured one; of equal times, the first row.
        const auto key = [](double seconds) { return seconds > 0 ? seconds : 1e9; };
        std::optional<std::pair<double, std::size_t>> best;
        for (const UpstreamRef& u : m_upstreams) {
          const std::pair<double, std::size_t> mine{key(u->m_measured), u->m_row};
          if ((!best || mine < *best) && usable(u->m_row, evenAside)) best = mine;
        }
        if (const auto unmade = FirstUnmade()) {
          const std::pair<double, std::size_t> mine{key(Seconds(*unmade)), *unmade};
          if (!best || mine < *best) best = mine;
        }
        if (!best) break;
        // A proxy nearly as fast as the best keeps its clients: a switch for a few
        // milliseconds would move every new connection on the noise of one measure.
        const UpstreamRef current = m_fastest.lock();
        if (current && current->m_current && current->m_row != best->second &&
            usable(current->m_row, evenAside) &&
            key(current->m_measured) <= best->first + m_rules.toleranceSeconds)
          return handed(current->m_row);
        UpstreamRef chosen = handed(best->second);
        m_fastest = chosen;
        return chosen;
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
  for (const UpstreamRef& u : m_upstreams) {
    if (u->m_aside && now >= u->m_asideUntil) TakeBack(*u);
  }
}

UpstreamRef UpstreamPool::Find(const std::string& line) {
  const std::optional<std::size_t> row = RowOf(line);
  return row ? Made(*row) : nullptr;
}

bool UpstreamPool::MarkBad(const std::string& line, const std::string& reason, Clock::time_point now) {
  const UpstreamRef u = Find(line);
  if (!u) return false;
  SetAside(*u, reason, now);
  return true;
}

UpstreamState UpstreamPool::StateOf(std::size_t row, Clock::time_point now, bool places) const {
  UpstreamState s;
  if (const std::uint32_t at = m_made[row]) {
    const Upstream& u = *m_upstreams[at - 1];
    s.line = u.m_proxy.Line();
    s.state = u.m_aside ? "aside" : !u.Resolved() ? "unresolved" : "ok";
    s.latency = u.m_measured;
    s.failures = u.m_failures;
    s.connections = u.m_connections;
    s.failuresTotal = u.m_failuresTotal;
    s.bytesUp = u.m_bytesUp;
    s.bytesDown = u.m_bytesDown;
    if (u.m_checks > 0) {
      s.uptime = static_cast<double>(u.m_checksPassed) / static_cast<double>(u.m_checks);
      s.lastCheckAgoMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - u.m_lastCheck).count();
    }
  } else {
    s.line = Line(row);
    s.state = "ok";
    s.latency = Seconds(row);
  }
  s.type = s.line.substr(s.line.rfind('@') + 1);
  s.trust = TrustWord(Trust::Unchecked);
  if (const auto given = m_members.whole.find(static_cast<std::uint32_t>(row));
      given != m_members.whole.end()) {
    const UpstreamProxy& proxy = given->second;
    s.exitAddress = proxy.exitAddress;
    s.country = proxy.country;
    s.anonymity = proxy.anonymity;
    if (!proxy.trust.empty()) s.trust = proxy.trust;
    s.network = proxy.network;
  }
  // Where its traffic comes out is what a client choosing by country cares about; a
  // proxy named by a host name has no place of its own until it is looked up.
  if (places && !m_members.geoDataDir.empty() && s.country.empty() && s.network.empty()) {
    const std::string where =
        !s.exitAddress.empty() ? s.exitAddress : s.line.substr(0, s.line.rfind(':', s.line.rfind('@')));
    if (const auto found = LocateAddress(m_members.geoDataDir, where, UiLanguage::English))
      s.country = found->countryCode;
    if (const auto network = LocateNetwork(m_members.geoDataDir, where)) s.network = NetworkText(*network);
  }
  return s;
}

std::vector<UpstreamState> UpstreamPool::States(Clock::time_point now) const {
  return States(now, 0, Size());
}

std::vector<UpstreamState> UpstreamPool::States(Clock::time_point now, std::size_t offset,
                                                std::size_t limit) const {
  std::vector<UpstreamState> states;
  const std::size_t end = offset >= Size() ? offset : offset + std::min(limit, Size() - offset);
  states.reserve(end - offset);
  for (std::size_t row = offset; row < end; ++row) states.push_back(StateOf(row, now, true));
  return states;
}

std::vector<UpstreamState> UpstreamPool::UsedStates(Clock::time_point now) const {
  std::vector<UpstreamState> states;
  states.reserve(m_upstreams.size());
  for (const UpstreamRef& u : m_upstreams) states.push_back(StateOf(u->m_row, now, false));
  return states;
}

void UpstreamPool::OnSetAsideProxy(std::function<void(const Upstream&)> fn) {
  m_onSetAsideProxy = std::move(fn);
}

std::vector<UpstreamRef> UpstreamPool::DueForCheck(Clock::time_point now, Clock::duration usedWithin,
                                                   size_t limit) {
  std::vector<UpstreamRef> due;
  const size_t n = Size();
  if (n == 0 || limit == 0) return due;
  // The next two the policy would hand out: they are the ones a client gets next, so
  // their state matters before any client finds it out.
  std::vector<const Upstream*> next;
  const auto candidate = [&](std::size_t row) {
    const std::uint32_t at = m_made[row];
    return at == 0 || (m_upstreams[at - 1]->Resolved() && !m_upstreams[at - 1]->m_aside);
  };
  if (m_rules.policy == EndpointPolicy::Fastest) {
    const auto key = [](double seconds) { return seconds > 0 ? seconds : 1e9; };
    std::vector<std::pair<double, std::size_t>> firstTwo;
    const auto consider = [&](double k, std::size_t row) {
      firstTwo.emplace_back(k, row);
      std::sort(firstTwo.begin(), firstTwo.end());
      if (firstTwo.size() > 2) firstTwo.pop_back();
    };
    for (const UpstreamRef& u : m_upstreams) {
      if (candidate(u->m_row)) consider(key(u->m_measured), u->m_row);
    }
    for (std::size_t skip = 0; skip < 2; ++skip) {
      if (const auto unmade = FirstUnmade(skip)) consider(key(Seconds(*unmade)), *unmade);
    }
    std::vector<UpstreamRef> chosen;
    for (const auto& [k, row] : firstTwo) chosen.push_back(Made(row));
    if (const UpstreamRef current = m_fastest.lock()) next.push_back(current.get());
    for (const UpstreamRef& u : chosen) next.push_back(u.get());
  } else {
    const size_t from = m_rules.policy == EndpointPolicy::RoundRobin ? m_next : 0;
    for (size_t i = 0; i < n && next.size() < 2; ++i) {
      const size_t row = (from + i) % n;
      if (candidate(row)) next.push_back(Made(row).get());
    }
  }
  // Only a proxy made can be in use: handed out, set aside, or one of the next two.
  const size_t made = m_upstreams.size();
  size_t last = 0;
  for (size_t i = 0; i < made && due.size() < limit; ++i) {
    const size_t at = (m_checkCursor + i) % made;
    const UpstreamRef& member = m_upstreams[at];
    const Upstream& u = *member;
    if (u.m_checking || !u.Resolved()) continue;
    const bool used = u.m_lastHanded != Clock::time_point{} && now - u.m_lastHanded <= usedWithin;
    const bool inUse = u.m_aside || used || std::find(next.begin(), next.end(), &u) != next.end();
    if (!inUse) continue;
    const Clock::time_point when = u.m_aside ? std::max(u.m_nextCheck, u.m_asideUntil) : u.m_nextCheck;
    if (now >= when) {
      due.push_back(member);
      last = at;
    }
  }
  // The next search starts past the last one taken, so that a limit does not keep
  // checking the same few.
  if (!due.empty()) m_checkCursor = last + 1;
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
