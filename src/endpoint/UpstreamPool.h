// The proxies the endpoint may carry connections through, and what it has learnt about
// them: which one a new attempt gets (by the policy), how each attempt ended, which
// proxies are set aside after failing and for how long.
//
// A session asks Get for a proxy, and once the attempt is decided hands it back with
// Release, saying whether it worked (and how long the connection and handshake took)
// or failed. Everything about choosing and judging lives here, so the policies and the
// back-off can be tried without a socket:
//
//   UpstreamPool pool(rules);
//   pool.SetPool(proxies);            // any thread; taken in by TakePending
//   pool.TakePending();               // the loop's thread, from here on
//   UpstreamRef u = pool.Get(tried, now);
//   ...connect to u->Address(), run the handshake...
//   pool.Release(u, UpstreamPool::Outcome::Failed, 0, "no answer in time", now);
//
// A pool given by SetPool replaces the old one whole: fresh verification results clear
// whatever was held against a proxy. Sessions that still hold a proxy of the old pool
// may go on with it, but their outcome counts for nothing any more.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/Endpoint.h"

namespace qb {

// One proxy of the pool as a session sees it: what it is and where to reach it.
class Upstream {
 public:
  const UpstreamProxy& Proxy() const { return m_proxy; }
  // Whether its name gave an address; a proxy without one is never handed out.
  bool Resolved() const { return m_addressLength > 0; }
  const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&m_address); }
  socklen_t AddressLength() const { return m_addressLength; }
  int Family() const { return m_address.ss_family; }

 private:
  friend class UpstreamPool;
  using Clock = std::chrono::steady_clock;

  UpstreamProxy m_proxy;
  sockaddr_storage m_address{};
  socklen_t m_addressLength = 0;
  // Seconds to connect and finish the handshake, as a running average that starts from
  // the verification time; 0 while unknown.
  double m_measured = 0;
  int m_failures = 0;    // in a row
  int m_setAsides = 0;   // set-asides without a success between them: the back-off's exponent
  bool m_aside = false;  // until m_asideUntil, or a success, or a fresh pool
  Clock::time_point m_asideUntil{};
  bool m_current = true;  // false once a newer pool replaced the one it came with
};

using UpstreamRef = std::shared_ptr<Upstream>;

class UpstreamPool {
 public:
  using Clock = std::chrono::steady_clock;

  struct Rules {
    EndpointPolicy policy = EndpointPolicy::Failover;
    // The proxy types allowed (upper case); empty for every type the endpoint can use.
    std::vector<std::string> types;
    // Failures in a row after which a proxy is set aside, and for how long the first
    // time; each repeat without a success in between doubles it, up to kMaxSetAside.
    int failuresToSetAside = 3;
    std::chrono::milliseconds setAside{120000};
    // What a failure weighs in the fastest policy's average: the longest wait allowed,
    // so that a failing proxy drops behind the ones that answer.
    double failureSeconds = 5;
  };
  static constexpr std::chrono::milliseconds kMaxSetAside{3600 * 1000};

  explicit UpstreamPool(Rules rules);

  // Called when a proxy is set aside (reason: what its last failure was) and, with an
  // empty reason, when it is taken back. Set before the pool is used.
  void OnSetAside(std::function<void(const std::string& line, const std::string& reason)> fn);

  // The next pool, from any thread. Types not allowed are left out; names are resolved
  // here, on the caller's thread, so that the loop never waits for a name server. The
  // pool takes effect at the next TakePending.
  void SetPool(std::vector<UpstreamProxy> pool);

  // The rest runs on one thread, the loop's.

  // Puts in place the pool SetPool left, if any; false when there was none. Proxies set
  // aside that the fresh pool carries again are announced as taken back.
  bool TakePending();

  // The proxy for an attempt, by the policy, leaving out those in tried and those set
  // aside (unless every proxy is and lastResort allows it: trying one then beats refusing
  // the client); null when none is left.
  UpstreamRef Get(const std::vector<UpstreamRef>& tried, Clock::time_point now, bool lastResort = true);

  enum class Outcome {
    Ok,        // connected and through its handshake, in seconds
    Failed,    // unreachable, silent, or refusing us: counts towards setting it aside
    Unjudged,  // ended for a reason that says nothing about the proxy (the target's)
  };
  // Ends an attempt through upstream: seconds is how long it took when it worked,
  // reason what went wrong when it failed (for the announcement).
  void Release(const UpstreamRef& upstream, Outcome outcome, double seconds, const std::string& reason,
               Clock::time_point now);

  // The target itself as the way to it, for a connection that goes direct: belongs to no
  // pool, so its outcome counts for nothing.
  static UpstreamRef Direct(const std::string& host, int port, const sockaddr* address, socklen_t length);

  // Takes back the proxies whose time aside is up.
  void Expire(Clock::time_point now);

  bool Empty() const { return m_members.empty(); }
  bool AnySetAside() const { return m_asideCount > 0; }
  // The proxies of the pool, and how many of them are not set aside.
  size_t Size() const { return m_members.size(); }
  size_t Usable() const { return m_members.size() - m_asideCount; }

 private:
  void SetAside(Upstream& u, const std::string& reason, Clock::time_point now);
  void TakeBack(Upstream& u);
  bool Allowed(const std::string& type) const;

  Rules m_rules;
  std::function<void(const std::string&, const std::string&)> m_onSetAside;
  std::mutex m_pendingMutex;
  std::optional<std::vector<UpstreamRef>> m_pending;
  std::vector<UpstreamRef> m_members;
  size_t m_next = 0;  // where round-robin goes on
  size_t m_asideCount = 0;
};

}  // namespace qb
