// Active health checks of the upstreams in use: each is asked, on an interval, for the
// verification's HTTP resource over the same route a client's connection would take
// (connect, the proxy's own handshake, a GET), and the page must hold the resource's
// feature string, as a verification requires.
//
// The checks run on the endpoint's loop, as sessions do: a check is a socket with a
// watch, the same UpstreamHandshake objects, and deadlines the loop's tick looks at, so
// the loop never blocks and no thread is started. At most maxChecks run at once; those
// due beyond that wait for the next tick.
//
// Which upstreams are checked (UpstreamPool::DueForCheck): those a client's connection
// went through within the lazy window, the next two the policy would hand out, and every
// one set aside, whose passing check brings it back. Lazy: while no client connection is
// open and none came for lazyAfter, nothing is checked at all; the first client after
// that wakes the checks again. CheckNow is not lazy.
//
// What a check finds goes to UpstreamPool::Checked: its time (connection and
// handshake, the same measure as a client's connection) feeds the latency average, a
// failure counts towards setting the upstream aside like a failed connection.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "endpoint/ClientHandshake.h"
#include "endpoint/Endpoint.h"
#include "endpoint/EventLoop.h"
#include "endpoint/UpstreamPool.h"

namespace qb {

// Where a check goes: an http:// URL's host, port and request, and the feature string.
struct CheckTarget {
  ClientRequest request;
  std::string feature;
};
// nullopt for anything but an http:// URL with a host.
std::optional<CheckTarget> ParseCheckTarget(const std::string& url, const std::string& feature);

class HealthChecks {
 public:
  using Clock = std::chrono::steady_clock;

  HealthChecks(const EndpointConfig& config, EventLoop& loop, UpstreamPool& pool);
  ~HealthChecks();
  HealthChecks(const HealthChecks&) = delete;
  HealthChecks& operator=(const HealthChecks&) = delete;

  // Whether checks are configured at all (an http resource and an interval).
  bool Enabled() const { return m_target.has_value(); }
  // Whether the loop must tick for the checks: one runs, one is asked for, or clients
  // keep the checks awake (lastUse: when a client last asked to be carried; open: how
  // many connections are carried now).
  bool Wanted(Clock::time_point now, Clock::time_point lastUse, size_t open) const;
  // Times out late checks and starts those due, up to maxChecks at once.
  void Tick(Clock::time_point now, Clock::time_point lastUse, size_t open);
  // Asks for a check of u, at once when fewer than maxChecks run, lazy or not.
  void CheckNow(const UpstreamRef& u, Clock::time_point now);
  // Frees the checks that ended during the last wait (their watches are off).
  void Settled();
  // Ends every check under way without a verdict.
  void CloseAll();

  // From any thread.
  uint64_t Started() const { return m_started.load(); }
  size_t Running() const { return m_live.size(); }

 private:
  class Check;
  friend class Check;

  void Start(const UpstreamRef& u, Clock::time_point now);
  void StartAsked(Clock::time_point now);
  bool Awake(Clock::time_point now, Clock::time_point lastUse, size_t open) const;
  size_t Most() const { return static_cast<size_t>(std::max(1, m_config.maxChecks)); }
  void Done(Check* check, bool ok, double seconds, const std::string& reason);

  const EndpointConfig& m_config;
  EventLoop& m_loop;
  UpstreamPool& m_pool;
  std::optional<CheckTarget> m_target;
  std::unordered_set<Check*> m_live;
  std::vector<Check*> m_ended;
  std::deque<UpstreamRef> m_asked;
  std::atomic<uint64_t> m_started{0};
};

}  // namespace qb
