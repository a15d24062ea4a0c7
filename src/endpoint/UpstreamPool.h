// The proxies the endpoint may carry connections through, and what it has learnt about
// them: which one a new attempt gets (by the policy), how each attempt ended, which
// proxies are set aside after failing and for how long, and the addresses of the
// proxies named by a host name.
//
// A session asks Get for a proxy, and once the attempt is decided hands it back with
// Release, saying whether it worked (and how long the connection and handshake took)
// or failed. Everything about choosing and judging lives here, so the policies and the
// back-off can be tried without a socket:
//
//   UpstreamPool pool(rules);
//   pool.OnLookup([&](const std::string& name) { resolver.Ask(name); });
//   pool.SetPool(rows);               // any thread; taken in by TakePending
//   pool.TakePending(now);            // the loop's thread, from here on; asks for names
//   pool.Resolved(answer, now);       // as the answers come
//   UpstreamRef u = pool.Get(tried, now);
//   ...connect to u->Address(i) for each i, run the handshake...
//   pool.Release(u, UpstreamPool::Outcome::Failed, 0, "no answer in time", now);
//
// A pool of millions of rows is in place at once and costs little more than its
// packed rows: a proxy's state (its addresses, counters and back-off, an Upstream) is
// made only when it is first handed out, checked, found by its line or announced, and
// its country and network are looked up only when its view is asked for. A row that
// cannot be used as it was read (a host name, an odd port) has its state made when the
// pool takes over.
//
// A pool given by SetPool replaces the old one whole: fresh verification results (a
// proxy whose verification time changed) clear whatever was held against it, while a
// proxy that comes again with the same time keeps its failures and its time aside, so
// that saving the list for some other reason brings no dead proxy back. Sessions that still hold a proxy of
// the old pool may go on with it, but their outcome counts for nothing any more.
//
// Host names. A proxy named by an address has it from SetPool on; one named by a host
// name is looked up by whoever OnLookup names (never on the loop's thread), and is left
// out until its name gives an address. What a name gave is kept for nameLifetime and
// shared by every proxy of the name; a fresh pool keeps it. Past its lifetime, a name is
// looked up again the next time Refresh runs, and its old addresses serve until the
// answer comes: connections already open keep the address they were made to, whatever
// the new answer says. A name whose lookup takes longer than lookupTimeout, or that has
// no address, leaves its proxies out (announced through OnUnresolved) and is asked again
// after retryUnresolved. A name that had addresses and whose name servers do not answer
// now keeps them: a passing outage of the name servers does not empty the pool.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "endpoint/Endpoint.h"
#include "endpoint/NameResolver.h"
#include "endpoint/Net.h"

namespace qb {

// One proxy of the pool as a session sees it: what it is and where to reach it.
class Upstream {
 public:
  const UpstreamProxy& Proxy() const { return m_proxy; }
  // Whether it has an address; a proxy without one is never handed out.
  bool Resolved() const { return !m_addresses.empty(); }
  // Named by a host name rather than an address.
  bool Named() const { return !m_name.empty(); }
  const std::string& Name() const { return m_name; }
  // Its addresses, each with its port: a name may give several (IPv6 and IPv4). An
  // attempt starts with Preferred, the one that worked last, and goes on to the next
  // (wrapping round) when a connection to one cannot be made.
  size_t AddressCount() const { return m_addresses.size(); }
  const SocketAddress& Address(size_t i) const { return m_addresses[i % m_addresses.size()]; }
  size_t Preferred() const { return m_preferred; }

  // A health check of it runs now.
  bool Checking() const { return m_checking; }

  // Bytes a connection through it carried (client to target, and back), for the pool's
  // view; the loop's thread only.
  void Carried(uint64_t up, uint64_t down) {
    m_bytesUp += up;
    m_bytesDown += down;
  }

 private:
  friend class UpstreamPool;
  using Clock = std::chrono::steady_clock;

  UpstreamProxy m_proxy;
  std::size_t m_row = 0;  // its row in the pool that made it
  std::string m_name;     // the host name to look up; empty for an address
  int m_port = 0;
  std::vector<SocketAddress> m_addresses;
  size_t m_preferred = 0;
  bool m_leftOut = false;  // announced as left out for its name
  // Seconds to connect and finish the handshake, as a running average that starts from
  // the verification time; 0 while unknown.
  double m_measured = 0;
  int m_failures = 0;    // in a row
  int m_setAsides = 0;   // set-asides without a success between them: the back-off's exponent
  bool m_aside = false;  // until m_asideUntil, or a success, or a fresh pool
  Clock::time_point m_asideUntil{};
  bool m_current = true;  // false once a newer pool replaced the one it came with
  // Since it joined the pool, kept while fresh pools carry it again: the pool's view.
  uint64_t m_connections = 0, m_failuresTotal = 0, m_bytesUp = 0, m_bytesDown = 0;
  // Health checks: how many ran and passed, the last one's end, when the next is due,
  // and whether one runs now; when a client's connection last got it.
  uint64_t m_checks = 0, m_checksPassed = 0;
  Clock::time_point m_lastCheck{}, m_nextCheck{}, m_lastHanded{};
  bool m_checking = false;
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
    // time; each repeat without a success in between doubles it, up to maxSetAside.
    int failuresToSetAside = 3;
    std::chrono::milliseconds setAside{120000};
    // What a failure weighs in the fastest policy's average: the longest wait allowed,
    // so that a failing proxy drops behind the ones that answer.
    double failureSeconds = 5;
    // How long what a host name gave is used before the name is looked up again; how
    // long a lookup may take; when a name that gave no address is tried again.
    std::chrono::milliseconds nameLifetime{300 * 1000};
    std::chrono::milliseconds lookupTimeout{10 * 1000};
    std::chrono::milliseconds retryUnresolved{30 * 1000};
    // The longest a proxy is set aside at a time.
    std::chrono::milliseconds maxSetAside{3600 * 1000};
    // Health checks run: a proxy set aside comes back by a passing check, not by its
    // time running out (its time then only says when it is checked again).
    bool checksBringBack = false;
    std::chrono::milliseconds checkInterval{30 * 1000};
    // The fastest policy stays with the proxy it uses until another is faster by more.
    double toleranceSeconds = 0.15;
  };

  explicit UpstreamPool(Rules rules);

  // Called when a proxy is set aside (reason: what its last failure was) and, with an
  // empty reason, when it is taken back. Set before the pool is used.
  void OnSetAside(std::function<void(const std::string& line, const std::string& reason)> fn);

  // Called when a proxy is left out because its host name gives no address now (error:
  // why) and, with an empty error, when its name gives one again. Set before use.
  void OnUnresolved(std::function<void(const std::string& line, const std::string& error)> fn);
  // Where names are sent to be looked up: the answer is to come back through Resolved.
  // Called on the loop's thread; it must not wait for the answer. Set before use.
  void OnLookup(std::function<void(const std::string& name)> fn);

  // The next pool, from any thread. Types not allowed are left out. The pool takes
  // effect at the next TakePending.
  void SetPool(UpstreamRows pool);
  // The same from proxies given whole.
  void SetPool(std::vector<UpstreamProxy> pool);

  // The rest runs on one thread, the loop's.

  // Puts in place the pool SetPool left, if any; false when there was none. Proxies set
  // aside that the fresh pool carries again with fresh results are announced as taken
  // back. The names of the new pool that are not known yet are asked for.
  bool TakePending(Clock::time_point now = Clock::now());

  // What a name gave (NameResolver::Answer); an answer for a name the pool no longer
  // holds is dropped.
  void Resolved(const NameResolver::Answer& answer, Clock::time_point now);
  // Asks again for the names past their lifetime (or past retryUnresolved, for those
  // without an address) and gives up on lookups older than lookupTimeout. Whether a
  // proxy was left out or came back.
  bool Refresh(Clock::time_point now);
  // A lookup is under way: Refresh has a time-out to watch.
  bool Looking() const { return m_looking > 0; }
  // A name of the pool is being looked up for the first time: an attempt that finds no
  // proxy now may find one in a moment.
  bool AwaitingNames() const;

  // Which proxy a sticky client would have (StickyTable): the one it was carried
  // through, and failing that, one with the same exit address, so that the sites it
  // talks to still see the address they saw.
  struct Preference {
    std::string line;
    std::string exit;
  };

  // The proxy for an attempt, by the policy, leaving out those in tried and those set
  // aside (unless every proxy is and lastResort allows it: trying one then beats refusing
  // the client); null when none is left. A preference, when one is usable, comes before
  // the policy.
  UpstreamRef Get(const std::vector<UpstreamRef>& tried, Clock::time_point now, bool lastResort = true,
                  const Preference* prefer = nullptr);

  enum class Outcome {
    Ok,        // connected and through its handshake, in seconds
    Failed,    // unreachable, silent, or refusing us: counts towards setting it aside
    Unjudged,  // ended for a reason that says nothing about the proxy (the target's)
  };
  // Ends an attempt through upstream: seconds is how long it took when it worked (and
  // address which of its addresses, as Address counts them, took the connection),
  // reason what went wrong when it failed (for the announcement).
  void Release(const UpstreamRef& upstream, Outcome outcome, double seconds, const std::string& reason,
               Clock::time_point now, size_t address = 0);

  // The target itself as the way to it, for a connection that goes direct: belongs to no
  // pool, so its outcome counts for nothing.
  static UpstreamRef Direct(const std::string& host, int port, const SocketAddress& address);

  // Takes back the proxies whose time aside is up.
  void Expire(Clock::time_point now);

  // The member of that line ("addr:port@TYPE"); null when the pool has none.
  UpstreamRef Find(const std::string& line);
  // The member of a row of the pool (row < Size()).
  UpstreamRef Member(std::size_t row) { return Made(row); }
  // Sets it aside now, as failures would, with reason; false when the pool has no such
  // line. One already aside has its time renewed.
  bool MarkBad(const std::string& line, const std::string& reason, Clock::time_point now);
  // Each member as the endpoint's view shows it, in the pool's order; its country and
  // network are looked up now.
  std::vector<UpstreamState> States(Clock::time_point now) const;
  // The members from offset on, at most limit of them, as States shows them.
  std::vector<UpstreamState> States(Clock::time_point now, std::size_t offset, std::size_t limit) const;
  // Whether the pool has a proxy of that line; makes no state for it.
  bool Has(const std::string& line) { return RowOf(line).has_value(); }
  // The same of the members whose state is made (UpstreamSummary), in the order made,
  // without a country or network.
  std::vector<UpstreamState> UsedStates(Clock::time_point now) const;

  // Called with the proxy itself whenever one is set aside afresh (not when its time
  // aside is only extended); the endpoint closes the connections open through it.
  void OnSetAsideProxy(std::function<void(const Upstream&)> fn);

  // Health checks (HealthCheck.h). The proxies whose check is due now, at most limit:
  // those in use (handed out within usedWithin, the next two the policy would hand out,
  // those set aside once their time aside is up) whose last check is an interval old.
  std::vector<UpstreamRef> DueForCheck(Clock::time_point now, Clock::duration usedWithin, size_t limit);
  // A check of upstream began, or ended: ok with seconds to connect and finish the
  // handshake, or failed with reason. A passing check takes a proxy set aside back; a
  // failed one counts as a failed connection would, and keeps one set aside there for
  // its next, longer, time.
  void CheckStarted(const UpstreamRef& upstream);
  // A check ended without a verdict (judged false: the endpoint stopped it) changes
  // nothing but that no check runs.
  void Checked(const UpstreamRef& upstream, bool ok, double seconds, const std::string& reason,
               Clock::time_point now, bool judged = true);

  bool Empty() const { return m_members.rows.empty(); }
  bool AnySetAside() const { return m_asideCount > 0; }
  // The proxies of the pool, and how many of them have an address and are not set aside.
  size_t Size() const { return m_members.rows.size(); }
  size_t Usable() const;
  // The proxies left out because their name gives no address; from any thread.
  size_t Unresolved() const { return m_unresolved; }

 private:
  // What the pool knows of one host name.
  struct Name {
    std::vector<SocketAddress> addresses;  // port 0
    std::string error;                     // of the last answer, when it gave none
    bool looking = false;
    bool answered = false;  // an answer (or a time-out) came since the name joined the pool
    bool stale = false;     // kept from before an answer that failed: asked again soon
    Clock::time_point askedAt{}, answeredAt{};
  };

  // The state of a row, made on first need; Line the way the list names its proxy.
  UpstreamRef Made(std::size_t row);
  std::string Line(std::size_t row) const;
  double Seconds(std::size_t row) const;
  std::optional<std::size_t> RowOf(const std::string& line);
  // Whether a row of this many the policy may hand out (usable) or check (candidate).
  bool Usable(std::size_t row, const std::vector<UpstreamRef>& tried, bool evenAside,
              Clock::time_point now) const;
  bool Rested(const Upstream& u, Clock::time_point now) const;
  UpstreamState StateOf(std::size_t row, Clock::time_point now, bool places) const;
  // The row not made yet with the shortest time (ties: the first), and the one after it.
  std::optional<std::size_t> FirstUnmade(std::size_t skip = 0);

  void SetAside(Upstream& u, const std::string& reason, Clock::time_point now);
  void TakeBack(Upstream& u);
  bool Allowed(const std::string& type) const;
  void Ask(const std::string& key, Name& name, Clock::time_point now);
  // Gives the members of a name its addresses (or none) and announces who is left out
  // or back; whether any was.
  bool Apply(const std::string& key, const Name& name);
  void CountUnresolved();

  Rules m_rules;
  std::function<void(const std::string&, const std::string&)> m_onSetAside;
  std::function<void(const std::string&, const std::string&)> m_onUnresolved;
  std::function<void(const std::string&)> m_onLookup;
  std::function<void(const Upstream&)> m_onSetAsideProxy;
  // The proxy the fastest policy uses now, kept within the tolerance.
  std::weak_ptr<Upstream> m_fastest;
  size_t m_checkCursor = 0;  // where the search for due checks goes on
  std::mutex m_pendingMutex;
  std::optional<UpstreamRows> m_pending;
  UpstreamRows m_members;
  // Per row: 1 + its place in m_upstreams once made; 0 before.
  std::vector<std::uint32_t> m_made;
  std::vector<UpstreamRef> m_upstreams;  // in the order made
  // The rows by their lines' keys, made when a line is first looked for: row + 1 in
  // open addressing, the first row of a key nearest its home.
  std::vector<std::uint32_t> m_index;
  unsigned m_indexShift = 64;
  // The rows by time for the fastest policy, made when it first chooses: none when the
  // rows are in that order already; and how far the rows made so far reach in it.
  bool m_timeOrderKnown = false;
  std::vector<std::uint32_t> m_byTime;
  std::size_t m_byTimeNext = 0;
  size_t m_next = 0;  // where round-robin goes on
  size_t m_asideCount = 0;
  std::unordered_map<std::string, Name> m_names;
  size_t m_looking = 0;  // names with a lookup under way
  std::atomic<size_t> m_unresolved{0};
};

}  // namespace qb
