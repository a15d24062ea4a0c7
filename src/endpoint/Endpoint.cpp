#include "endpoint/Endpoint.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/FixedPool.h"
#include "base/Text.h"
#include "endpoint/EventLoop.h"
#include "endpoint/HealthCheck.h"
#include "endpoint/NameResolver.h"
#include "endpoint/Net.h"
#include "endpoint/Session.h"
#include "endpoint/UpstreamPool.h"
#include "proxy/GeoLocation.h"
#include "proxy/ProxyEntry.h"
#include "proxy/VerifyStatus.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"

namespace qb {

std::string UpstreamProxy::Line() const {
  return addr + ":" + port + "@" + type;
}

std::string UpstreamLine(const CProxyEntry& e) {
  std::string line;
  e.AppendAddr(line);
  line += ':';
  e.AppendPort(line);
  line += '@';
  line += AsciiUpper(e.Type());
  return line;
}

bool IsEndpointType(std::string_view type) {
  return type == "HTTP" || type == "HTTPS" || type == "SOCKS4" || type == "SOCKS5";
}

std::vector<UpstreamProxy> UpstreamsFromEntries(const std::vector<CProxyEntry>& rows,
                                                const CProxyCredentialStore& logOns,
                                                const std::vector<std::string>& types) {
  // The rows are ordered by their times first and made upstreams after: sorting the
  // upstreams themselves moved eight strings each, several times over, for millions of
  // rows.
  std::vector<std::pair<double, std::uint32_t>> order;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const CProxyEntry& e = rows[i];
    const std::string type = AsciiUpper(e.Type());
    if (!IsEndpointType(type) || !e.HasTime()) continue;
    if (!types.empty() && std::find(types.begin(), types.end(), type) == types.end()) continue;
    order.emplace_back(std::strtod(e.TimeStatus().c_str(), nullptr), static_cast<std::uint32_t>(i));
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<UpstreamProxy> pool;
  pool.reserve(order.size());
  for (const auto& [seconds, i] : order) {
    const CProxyEntry& e = rows[i];
    pool.push_back(UpstreamProxy{e.Addr(), e.Port(), AsciiUpper(e.Type()), logOns.Find(e), seconds});
  }
  return pool;
}

namespace {

// The places of rows in the order of their times, the fastest first, equal times in
// their order. Every time a check measures is a whole number of milliseconds: such
// times sort as those numbers, by their digits, in a few passes over the rows instead
// of a comparison sort of millions.
std::vector<std::uint32_t> TimeOrder(const std::vector<CProxyEntry>& rows) {
  const std::size_t n = rows.size();
  std::vector<std::uint64_t> keys(n);
  bool millis = true;
  for (std::size_t i = 0; i < n && millis; ++i) {
    const double seconds = rows[i].TimeValue();
    const double ms = std::round(seconds * 1000);
    millis = seconds >= 0 && ms < 4294967296.0 && ms / 1000 == seconds;
    keys[i] = static_cast<std::uint64_t>(millis ? ms : 0) << 32 | i;
  }
  std::vector<std::uint32_t> order(n);
  if (!millis) {
    std::vector<std::pair<double, std::uint32_t>> byTime(n);
    for (std::size_t i = 0; i < n; ++i) byTime[i] = {rows[i].TimeValue(), static_cast<std::uint32_t>(i)};
    std::sort(byTime.begin(), byTime.end());
    for (std::size_t i = 0; i < n; ++i) order[i] = byTime[i].second;
    return order;
  }
  // Two stable passes of 16 bits over the milliseconds; the places below them are in
  // order already.
  std::vector<std::uint64_t> moved(n);
  for (const unsigned shift : {32u, 48u}) {
    std::vector<std::size_t> start(65537, 0);
    for (const std::uint64_t k : keys) ++start[((k >> shift) & 0xFFFF) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    for (const std::uint64_t k : keys) moved[start[(k >> shift) & 0xFFFF]++] = k;
    keys.swap(moved);
  }
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(keys[i]);
  return order;
}

}  // namespace

UpstreamRows UpstreamRowsFromEntries(
    std::vector<CProxyEntry> rows, const CProxyCredentialStore& logOns, const std::vector<std::string>& types,
    const std::function<std::optional<VerifiedFacts>(const std::string& line)>& verified,
    bool leaveOutTampering, const std::string& geoDataDir) {
  // Millions of rows hold a few type texts: each text's verdict is taken once.
  std::vector<std::pair<std::string, bool>> verdicts;
  const auto wanted = [&](const CProxyEntry& e) {
    if (!e.HasTime()) return false;
    const std::string_view text = e.Type();
    for (const auto& [known, ok] : verdicts) {
      if (known == text) return ok;
    }
    const std::string type = AsciiUpper(text);
    const bool ok =
        IsEndpointType(type) && (types.empty() || std::find(types.begin(), types.end(), type) != types.end());
    verdicts.emplace_back(std::string(text), ok);
    return ok;
  };
  std::erase_if(rows, [&](const CProxyEntry& e) { return !wanted(e); });
  const std::vector<std::uint32_t> order = TimeOrder(rows);
  const std::size_t n = rows.size();
  UpstreamRows pool;
  pool.geoDataDir = geoDataDir;
  pool.rows.reserve(n);
  AskHugePages(pool.rows.data(), n * sizeof(CProxyEntry));
  const bool anyLogOn = logOns.Size() > 0;
  for (std::size_t k = 0; k < n; ++k) {
    // The rows are taken far apart: each is fetched a few rows ahead.
    if (k + 8 < n) __builtin_prefetch(&rows[order[k + 8]]);
    CProxyEntry& e = rows[order[k]];
    std::optional<ProxyCredentials> logOn = anyLogOn ? logOns.Find(e) : std::nullopt;
    std::optional<VerifiedFacts> facts;
    if (verified) facts = verified(UpstreamLine(e));
    if (facts && leaveOutTampering && Tampers(TrustFromWord(facts->trust).value_or(Trust::Unchecked)))
      continue;
    if (logOn || facts) {
      UpstreamProxy whole{e.Addr(), e.Port(), AsciiUpper(e.Type()), std::move(logOn), e.TimeValue()};
      if (facts) {
        whole.exitAddress = facts->exitAddress;
        whole.anonymity = facts->anonymity;
        whole.trust = facts->trust;
      }
      pool.whole.emplace(static_cast<std::uint32_t>(pool.rows.size()), std::move(whole));
    }
    pool.rows.push_back(std::move(e));
  }
  return pool;
}

void ApplyEndpointOptions(const EndpointOptions& o, EndpointConfig& config) {
  config.policy = o.policy;
  config.types = o.types;
  config.nameLifetimeMs = o.nameLifetime * 1000;
  config.checkIntervalMs = o.healthChecks ? o.checkInterval * 1000 : 0;
  config.checkReplyMs = o.checkTimeout * 1000;
  config.lazyAfterMs = o.lazyAfter * 1000;
  config.toleranceMs = o.tolerance;
  config.failuresToSetAside = o.failuresToSetAside;
  config.setAsideMs = o.setAside * 1000;
  config.setAsideMaxMs = std::max(o.setAside, o.setAsideMax) * 1000;
  config.closeTunnels = o.closeTunnels;
  config.keepTargets = o.keepTargets;
  config.stickyLeaseMs = o.stickyLease * 1000;
}

void ApplyCheckResource(const CSettings& settings, EndpointConfig& config) {
  const CheckedVerifySources checked = GetCheckedVerifySources(settings);
  config.checkUrl = checked.httpUrl;
  config.checkFeature = checked.httpFeature;
  if (settings.m_nConTimeout >= kMinConTimeout && settings.m_nConTimeout <= kMaxConTimeout)
    config.connectTimeoutMs = settings.m_nConTimeout * 1000;
}

void DescribeUpstreams(std::vector<UpstreamProxy>& pool,
                       const std::function<std::optional<VerifiedFacts>(const std::string& line)>& verified,
                       const std::string& geoDataDir) {
  for (UpstreamProxy& u : pool) {
    if (verified) {
      if (const std::optional<VerifiedFacts> facts = verified(u.Line())) {
        u.exitAddress = facts->exitAddress;
        u.anonymity = facts->anonymity;
        u.trust = facts->trust;
      }
    }
    if (geoDataDir.empty()) continue;
    // Where its traffic comes out is what a client choosing by country cares about; a
    // proxy named by a host name has no place of its own until it is looked up.
    const std::string& where = u.exitAddress.empty() ? u.addr : u.exitAddress;
    if (const auto found = LocateAddress(geoDataDir, where, UiLanguage::English))
      u.country = found->countryCode;
    if (const auto network = LocateNetwork(geoDataDir, where)) u.network = NetworkText(*network);
  }
}

std::size_t LeaveOutTampering(std::vector<UpstreamProxy>& pool) {
  return std::erase_if(pool, [](const UpstreamProxy& u) {
    return Tampers(TrustFromWord(u.trust).value_or(Trust::Unchecked));
  });
}

std::string FormatEndpointStatus(const EndpointStatus& status) {
  std::string text = "Quillberry endpoint\n";
  text += "pid=" + std::to_string(status.pid) + "\n";
  text += "data-dir=" + status.dataDir + "\n";
  text += "pool=" + std::to_string(status.pool) + "\n";
  text += "usable=" + std::to_string(status.usable) + "\n";
  text += "unresolved=" + std::to_string(status.unresolved) + "\n";
  text += std::string("when-down=") + (status.goDirect ? "direct" : "block") + "\n";
  return text;
}

std::optional<EndpointStatus> ParseEndpointStatus(std::string_view text) {
  constexpr std::string_view kHead = "Quillberry endpoint\n";
  if (!text.starts_with(kHead)) return std::nullopt;
  EndpointStatus status;
  text.remove_prefix(kHead.size());
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    auto number = [&](auto& out) { std::from_chars(value.data(), value.data() + value.size(), out); };
    if (key == "pid") number(status.pid);
    if (key == "data-dir") status.dataDir = std::string(value);
    if (key == "pool") number(status.pool);
    if (key == "usable") number(status.usable);
    if (key == "unresolved") number(status.unresolved);
    if (key == "when-down") status.goDirect = value == "direct";
  }
  return status;
}

std::string EndpointStatusRequest(const std::string& hostPort) {
  return std::string("GET ") + kEndpointStatusPath + " HTTP/1.1\r\nHost: " + hostPort +
         "\r\nConnection: close\r\n\r\n";
}

std::optional<EndpointStatus> ParseEndpointStatusResponse(std::string_view response) {
  if (!response.starts_with("HTTP/1.1 200 ")) return std::nullopt;
  const size_t body = response.find("\r\n\r\n");
  if (body == std::string_view::npos) return std::nullopt;
  return ParseEndpointStatus(response.substr(body + 4));
}

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, ms.count()));
}

// A non-blocking connection to one address, waited for until deadline; -1 when none is made.
int ConnectBefore(const SocketAddress& to, std::chrono::steady_clock::time_point deadline) {
  int fd = socket(to.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const bool started = fd >= 0 && (connect(fd, to.Get(), to.length) == 0 || errno == EINPROGRESS);
  pollfd p{fd, POLLOUT, 0};
  int error = 0;
  socklen_t len = sizeof error;
  if (!started || poll(&p, 1, MillisecondsLeft(deadline)) != 1 ||
      (p.revents & (POLLERR | POLLNVAL | POLLHUP)) ||
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The addresses of a host name, looked up on a thread of its own and waited for only
// until deadline: a name server that never answers must not hold the caller (the
// window's watch, the repair at log-in) past its time-out.
std::vector<SocketAddress> LookUpBefore(const std::string& name, int port,
                                        std::chrono::steady_clock::time_point deadline) {
  struct Waiting {
    std::mutex mutex;
    std::condition_variable ready;
    bool woken = false;
  };
  auto waiting = std::make_shared<Waiting>();
  NameResolver resolver(
      [waiting] {
        const std::lock_guard<std::mutex> lock(waiting->mutex);
        waiting->woken = true;
        waiting->ready.notify_all();
      },
      NameResolver::SystemLookup, 1);
  resolver.Ask(name);
  {
    std::unique_lock<std::mutex> lock(waiting->mutex);
    waiting->ready.wait_until(lock, deadline, [&] { return waiting->woken; });
  }
  std::vector<SocketAddress> out;
  for (NameResolver::Answer& answer : resolver.Take()) {
    for (SocketAddress& a : answer.addresses) {
      a.SetPort(port);
      out.push_back(a);
    }
  }
  resolver.Close();
  return out;
}

// A connection to address, by any of its addresses when it is a name; -1 when none
// is made before deadline.
int ConnectBefore(const ListenAddress& address, std::chrono::steady_clock::time_point deadline) {
  // The endpoint takes "localhost" as 127.0.0.1 (EventLoop::Start), and so does this.
  if (const auto to = NumericAddress(address.host == "localhost" ? "127.0.0.1" : address.host, address.port))
    return ConnectBefore(*to, deadline);
  for (const SocketAddress& to : LookUpBefore(address.host, address.port, deadline)) {
    const int fd = ConnectBefore(to, deadline);
    if (fd >= 0) return fd;
  }
  return -1;
}
}  // namespace

bool PeerAccepts(const ListenAddress& address, int timeoutMs) {
  const int fd =
      ConnectBefore(address, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool DesktopProxyAnswers(const std::string& line, bool endpoint, int timeoutMs) {
  const std::optional<ListenAddress> address = ParseListenAddress(line.substr(0, line.find('@')));
  if (!address) return false;
  return endpoint ? ProbeEndpoint(*address, timeoutMs).has_value() : PeerAccepts(*address, timeoutMs);
}

std::optional<EndpointStatus> ProbeEndpoint(const ListenAddress& address, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int fd = ConnectBefore(address, deadline);
  if (fd < 0) return std::nullopt;
  auto readable = [&] {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(std::max<int64_t>(0, ms.count()))) == 1 &&
           !(p.revents & (POLLERR | POLLNVAL));
  };
  std::string response;
  const std::string request = EndpointStatusRequest(HostPort(address.host, address.port));
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char buf[4096];
    while (response.size() < 65536 && readable()) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      response.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return ParseEndpointStatusResponse(response);
}

namespace {

UpstreamPool::Rules PoolRules(const EndpointConfig& config) {
  UpstreamPool::Rules rules;
  rules.policy = config.policy;
  rules.types = config.types;
  rules.failuresToSetAside = config.failuresToSetAside;
  rules.setAside = std::chrono::milliseconds(config.setAsideMs);
  rules.failureSeconds = config.connectTimeoutMs / 1000.0;
  rules.nameLifetime = std::chrono::milliseconds(config.nameLifetimeMs);
  rules.lookupTimeout = std::chrono::milliseconds(config.lookupTimeoutMs);
  rules.maxSetAside = std::chrono::milliseconds(config.setAsideMaxMs);
  rules.checksBringBack =
      config.checkIntervalMs > 0 && ParseCheckTarget(config.checkUrl, config.checkFeature).has_value();
  rules.checkInterval = std::chrono::milliseconds(std::max(1, config.checkIntervalMs));
  rules.toleranceSeconds = std::max(0, config.toleranceMs) / 1000.0;
  return rules;
}

NameResolver::Lookup NameLookup(const EndpointConfig& config) {
  if (!config.lookupName) return NameResolver::SystemLookup;
  return [lookup = config.lookupName](const std::string& name) {
    NameResolver::Answer answer;
    for (const std::string& text : lookup(name, answer.error)) {
      if (const auto address = NumericAddress(text, 0)) answer.addresses.push_back(*address);
    }
    if (answer.addresses.empty() && answer.error.empty()) answer.error = "no address";
    answer.lasting = answer.addresses.empty();
    return answer;
  };
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
        m_sessions(m_config, m_events, m_pool),
        m_checks(m_config, m_events, m_pool),
        m_names([this] { m_events.Wake(); }, NameLookup(m_config)) {
    m_sessions.goDirect = m_config.goDirect;
    m_sessions.lookups = std::make_shared<TargetLookups>([this] { m_events.Wake(); });
    m_pool.OnLookup([this](const std::string& name) { m_names.Ask(name); });
    m_pool.OnSetAsideProxy([this](const Upstream& u) { CloseTunnels(u); });
  }
  ~Loop() {
    Stop();
    m_sessions.lookups->Close();
    m_names.Close();
  }

  OpResult Start() {
    std::lock_guard lock(m_callMutex);
    OpResult started = m_events.Start(m_config.listen);
    m_running = started.ok();
    return started;
  }

  void Stop() {
    if (!m_events.StopThread()) return;
    for (Session* s : std::vector<Session*>(m_sessions.live.begin(), m_sessions.live.end())) s->Close();
    m_checks.CloseAll();
    Settled();
    m_events.Close();
    // Calls that came while the thread ended are answered here: nothing else runs now.
    std::vector<std::function<void()>> calls;
    {
      std::lock_guard lock(m_callMutex);
      m_running = false;
      calls.swap(m_calls);
    }
    for (auto& call : calls) call();
  }

  // Runs fn where the pool may be touched and returns what it gave: on the loop's
  // thread while it runs (waiting for it), else here, as nothing else runs. What fn
  // does first is take in a pool given just before: the caller may have just set it.
  template <typename Fn>
  auto OnLoop(Fn fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (std::this_thread::get_id() == m_loopThread.load()) return fn();
    std::unique_lock lock(m_callMutex);
    if (!m_running) return fn();
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(fn));
    std::future<Result> result = task->get_future();
    m_calls.push_back([task] { (*task)(); });
    lock.unlock();
    m_events.Wake();
    return result.get();
  }

  std::vector<UpstreamState> Upstreams() {
    return OnLoop([this] {
      const auto now = EventLoop::Clock::now();
      m_pool.TakePending(now);
      return m_pool.States(now);
    });
  }
  UpstreamSummary Summary() {
    return OnLoop([this] {
      const auto now = EventLoop::Clock::now();
      m_pool.TakePending(now);
      return UpstreamSummary{m_pool.Size(), m_pool.UsedStates(now)};
    });
  }
  UpstreamPage Page(std::size_t offset, std::size_t limit) {
    return OnLoop([this, offset, limit] {
      const auto now = EventLoop::Clock::now();
      m_pool.TakePending(now);
      return UpstreamPage{m_pool.Size(), offset, m_pool.States(now, offset, limit)};
    });
  }
  bool Has(const std::string& line) {
    return OnLoop([this, &line] {
      m_pool.TakePending(EventLoop::Clock::now());
      return m_pool.Has(line);
    });
  }
  bool CheckNow(const std::string& line) {
    return OnLoop([this, &line] {
      const auto now = EventLoop::Clock::now();
      m_pool.TakePending(now);
      if (!m_checks.Enabled()) return false;
      if (line.empty()) {
        for (std::size_t row = 0; row < m_pool.Size(); ++row) m_checks.CheckNow(m_pool.Member(row), now);
        return true;
      }
      const UpstreamRef u = m_pool.Find(line);
      if (!u) return false;
      m_checks.CheckNow(u, now);
      return true;
    });
  }
  bool MarkBad(const std::string& line) {
    return OnLoop([this, &line] {
      const auto now = EventLoop::Clock::now();
      m_pool.TakePending(now);
      return m_pool.MarkBad(line, "marked bad", now);
    });
  }

  void SetPool(std::vector<UpstreamProxy> pool) {
    m_pool.SetPool(std::move(pool));
    m_events.Wake();
  }
  void SetPool(UpstreamRows pool) {
    m_pool.SetPool(std::move(pool));
    m_events.Wake();
  }
  void SetGoDirect(bool goDirect) { m_sessions.goDirect = goDirect; }

  int Port() const { return m_events.Port(); }
  void OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
    m_pool.OnSetAside(std::move(fn));
  }
  void OnUnresolved(std::function<void(const std::string&, const std::string&)> fn) {
    m_pool.OnUnresolved(std::move(fn));
  }
  Stats GetStats() const {
    return {m_sessions.accepted, m_sessions.active,   m_sessions.failovers, m_sessions.refused,
            m_sessions.direct,   m_pool.Unresolved(), m_checks.Started(),   m_sessions.tunnelsClosed};
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
    new Session(m_sessions, fd, IsLoopbackPeer(peer));  // owned by m_sessions.live until it closes
  }

  void Woken() override {
    m_loopThread = std::this_thread::get_id();
    std::vector<std::function<void()>> calls;
    {
      std::lock_guard lock(m_callMutex);
      calls.swap(m_calls);
    }
    const auto now = EventLoop::Clock::now();
    bool changed = m_pool.TakePending(now);
    for (const NameResolver::Answer& answer : m_names.Take()) {
      m_pool.Resolved(answer, now);
      changed = true;
    }
    if (changed) ResumeParked();
    for (const TargetLookups::Answer& answer : m_sessions.lookups->Take()) {
      const auto it = m_sessions.resolving.find(answer.id);
      if (it == m_sessions.resolving.end()) continue;  // closed or timed out meanwhile
      Session* session = it->second;
      m_sessions.resolving.erase(it);
      session->LookedUp(answer);
    }
    for (auto& call : calls) call();
  }

  // The sessions that wait for the pool's names try again.
  void ResumeParked() {
    for (Session* s : std::vector<Session*>(m_sessions.parked.begin(), m_sessions.parked.end())) s->Resume();
  }

  bool NeedsTicks() const override {
    return m_sessions.handshaking > 0 || m_pool.AnySetAside() || m_pool.Looking() ||
           m_checks.Wanted(EventLoop::Clock::now(), m_sessions.lastUse, Relaying());
  }

  // Connections carried now; a long tunnel keeps the checks awake however old it is.
  size_t Relaying() const { return m_sessions.live.size() - m_sessions.handshaking; }

  // The connections still open through an upstream just set aside go, so that their
  // programs connect again through one that works instead of waiting on a dead exit.
  void CloseTunnels(const Upstream& u) {
    if (!m_config.closeTunnels) return;
    std::vector<Session*> through;
    for (Session* s : m_sessions.live) {
      if (s->Through(&u)) through.push_back(s);
    }
    for (Session* s : through) s->Close();
    m_sessions.tunnelsClosed += through.size();
  }

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
      m_sessions.sticky.Expire(now);
      // Names past their lifetime are asked again once traffic or a lookup under way
      // brings the loop here; until the answer, their addresses serve on.
      if (m_pool.Refresh(now)) ResumeParked();
    }
    // Every tick, not every second: a check that ended leaves room for the next at once,
    // and a large pool in use needs that rate to be checked within one interval.
    m_checks.Tick(now, m_sessions.lastUse, Relaying());
  }

  void Settled() override {
    for (Session* s : m_sessions.closed) delete s;
    m_sessions.closed.clear();
    m_checks.Settled();
  }

  EndpointConfig m_config;
  UpstreamPool m_pool;
  EventLoop m_events;
  Session::Shared m_sessions;
  HealthChecks m_checks;
  NameResolver m_names;
  EventLoop::Clock::time_point m_nextExpiry{};
  // Calls from other threads (OnLoop) waiting for the loop.
  std::mutex m_callMutex;
  std::vector<std::function<void()>> m_calls;
  bool m_running = false;
  std::atomic<std::thread::id> m_loopThread{};
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
void CEndpoint::SetGoDirect(bool goDirect) {
  m_loop->SetGoDirect(goDirect);
}
void CEndpoint::SetPool(std::vector<UpstreamProxy> pool) {
  m_loop->SetPool(std::move(pool));
}

void CEndpoint::SetPool(UpstreamRows pool) {
  m_loop->SetPool(std::move(pool));
}
void CEndpoint::OnSetAside(std::function<void(const std::string&, const std::string&)> fn) {
  m_loop->OnSetAside(std::move(fn));
}
void CEndpoint::OnUnresolved(std::function<void(const std::string&, const std::string&)> fn) {
  m_loop->OnUnresolved(std::move(fn));
}
CEndpoint::Stats CEndpoint::GetStats() const {
  return m_loop->GetStats();
}
std::vector<UpstreamState> CEndpoint::Upstreams() const {
  return m_loop->Upstreams();
}

UpstreamSummary CEndpoint::Summary() const {
  return m_loop->Summary();
}

UpstreamPage CEndpoint::Page(std::size_t offset, std::size_t limit) const {
  return m_loop->Page(offset, limit);
}

bool CEndpoint::Has(const std::string& line) const {
  return m_loop->Has(line);
}
bool CEndpoint::MarkBad(const std::string& line) {
  return m_loop->MarkBad(line);
}
bool CEndpoint::CheckNow(const std::string& line) {
  return m_loop->CheckNow(line);
}

}  // namespace qb
