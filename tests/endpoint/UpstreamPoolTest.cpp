// The endpoint's pool on its own: which proxy an attempt gets, how failures set a proxy
// aside and for how long, and what a new pool does to all that. No socket is opened;
// time is whatever the test says it is.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "endpoint/UpstreamPool.h"

namespace {

using qb::EndpointPolicy;
using qb::UpstreamPool;
using qb::UpstreamProxy;
using qb::UpstreamRef;
using Outcome = UpstreamPool::Outcome;
using std::chrono::milliseconds;
using std::chrono::minutes;

UpstreamProxy Proxy(int port, double seconds = 0.5, const char* type = "SOCKS5") {
  return {"127.0.0.1", std::to_string(port), type, std::nullopt, seconds};
}

std::string Line(int port, const char* type = "SOCKS5") {
  return "127.0.0.1:" + std::to_string(port) + "@" + type;
}

// The port of the proxy handed out; 0 for none.
int Port(const UpstreamRef& u) {
  return u ? std::stoi(u->Proxy().port) : 0;
}

// A pool of its own rules with its announcements noted, as the loop would run it.
struct Pool {
  explicit Pool(EndpointPolicy policy, std::vector<UpstreamProxy> proxies = {}, int failures = 3)
      : pool(Rules(policy, failures)) {
    pool.OnSetAside(
        [this](const std::string& line, const std::string& reason) { said.emplace_back(line, reason); });
    if (!proxies.empty()) Replace(std::move(proxies));
  }
  static UpstreamPool::Rules Rules(EndpointPolicy policy, int failures) {
    UpstreamPool::Rules rules;
    rules.policy = policy;
    rules.failuresToSetAside = failures;
    rules.setAside = minutes(2);
    rules.failureSeconds = 5;
    return rules;
  }
  void Replace(std::vector<UpstreamProxy> proxies) {
    pool.SetPool(std::move(proxies));
    EXPECT_TRUE(pool.TakePending());
  }
  UpstreamRef Get(std::vector<UpstreamRef> tried = {}) { return pool.Get(tried, now); }
  void Fail(const UpstreamRef& u, int times = 1) {
    for (int i = 0; i < times; ++i) pool.Release(u, Outcome::Failed, 0, "refused", now);
  }
  void Work(const UpstreamRef& u, double seconds = 0.5) { pool.Release(u, Outcome::Ok, seconds, {}, now); }

  UpstreamPool pool;
  UpstreamPool::Clock::time_point now = UpstreamPool::Clock::now();
  std::vector<std::pair<std::string, std::string>> said;
};

TEST(UpstreamPoolPolicy, FailoverTakesTheFirstInTheListNotYetTried) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2), Proxy(3)});
  EXPECT_EQ(Port(p.Get()), 1);
  EXPECT_EQ(Port(p.Get()), 1);
  const UpstreamRef first = p.Get();
  const UpstreamRef second = p.Get({first});
  EXPECT_EQ(Port(second), 2);
  EXPECT_EQ(Port(p.Get({first, second})), 3);
  EXPECT_EQ(p.Get({first, second, p.Get({first, second})}), nullptr);
}

TEST(UpstreamPoolPolicy, RoundRobinGivesEachNewAttemptTheNextOne) {
  Pool p(EndpointPolicy::RoundRobin, {Proxy(1), Proxy(2), Proxy(3)});
  std::vector<int> order;
  for (int i = 0; i < 7; ++i) order.push_back(Port(p.Get()));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
  // One already tried is passed over, and the turn goes on after the one given.
  const UpstreamRef two = p.Get();
  ASSERT_EQ(Port(two), 2);
  EXPECT_EQ(Port(p.Get({p.Get()})), 1);  // 3 taken and tried, 1 next
  EXPECT_EQ(Port(p.Get()), 2);
}

TEST(UpstreamPoolPolicy, FastestFollowsTheTimesSeenAndAFailureWeighsLikeATimeOut) {
  // Unknown times (0) come after every measured one.
  Pool p(EndpointPolicy::Fastest, {Proxy(1, 0), Proxy(2, 0.3), Proxy(3, 0.1), Proxy(4, 0.2)});
  const UpstreamRef three = p.Get();
  ASSERT_EQ(Port(three), 3);
  // 0.7 * 0.1 + 0.3 * 1.0 = 0.37: slower now than 2 (0.3) and 4 (0.2).
  p.Work(three, 1.0);
  const UpstreamRef four = p.Get();
  ASSERT_EQ(Port(four), 4);
  // 0.7 * 0.2 + 0.3 * 5 = 1.64.
  p.Fail(four);
  const UpstreamRef two = p.Get();
  ASSERT_EQ(Port(two), 2);
  // 0.7 * 0.3 + 0.3 * 0.01 = 0.213: still the fastest after a quick success.
  p.Work(two, 0.01);
  EXPECT_EQ(Port(p.Get()), 2);
  EXPECT_EQ(Port(p.Get({two, three, four})), 1);
  EXPECT_TRUE(p.said.empty());
}

TEST(UpstreamPoolSetAside, AfterTheNthFailureInARowAndNotBefore) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2)});
  const UpstreamRef one = p.Get();
  p.Fail(one, 2);
  p.Work(one);  // a success breaks the row
  p.Fail(one, 2);
  EXPECT_EQ(Port(p.Get()), 1);
  EXPECT_FALSE(p.pool.AnySetAside());
  // The target's failure says nothing about the proxy.
  p.pool.Release(one, Outcome::Unjudged, 0, "target unreachable", p.now);
  EXPECT_EQ(Port(p.Get()), 1);
  p.Fail(one);
  EXPECT_EQ(Port(p.Get()), 2);
  EXPECT_TRUE(p.pool.AnySetAside());
  ASSERT_EQ(p.said.size(), 1u);
  EXPECT_EQ(p.said[0], std::make_pair(Line(1), std::string("refused")));
}

TEST(UpstreamPoolSetAside, TheTimeAsideDoublesEachTimeUpToAnHour) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2)});
  const UpstreamRef one = p.Get();
  for (const int expected : {2, 4, 8, 16, 32, 60, 60, 60}) {
    SCOPED_TRACE(expected);
    p.Fail(one, 3);
    const auto setAsideAt = p.now;
    p.now = setAsideAt + minutes(expected) - milliseconds(1);
    EXPECT_EQ(Port(p.Get()), 2);
    p.pool.Expire(p.now);
    EXPECT_TRUE(p.pool.AnySetAside());
    p.now = setAsideAt + minutes(expected);
    EXPECT_EQ(Port(p.Get()), 1);
    // Its time is up: taken back, and said so.
    p.pool.Expire(p.now);
    EXPECT_FALSE(p.pool.AnySetAside());
    ASSERT_FALSE(p.said.empty());
    EXPECT_EQ(p.said.back(), std::make_pair(Line(1), std::string()));
  }
  EXPECT_EQ(p.said.size(), 16u);
}

TEST(UpstreamPoolSetAside, ASuccessTakesItBackAndStartsTheBackOffAfresh) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2)});
  const UpstreamRef one = p.Get();
  p.Fail(one, 3);
  p.now += minutes(2);
  p.Fail(one, 3);  // aside again, for 4 minutes
  p.now += minutes(4);
  // Tried again before the periodic check took it back: the success does.
  p.Work(one);
  EXPECT_FALSE(p.pool.AnySetAside());
  // Set aside, then (still aside) only its time extended, then back.
  ASSERT_EQ(p.said.size(), 2u);
  EXPECT_EQ(p.said.back(), std::make_pair(Line(1), std::string()));
  // Two minutes again, not eight.
  p.Fail(one, 3);
  p.now += minutes(2) - milliseconds(1);
  EXPECT_EQ(Port(p.Get()), 2);
  p.now += milliseconds(1);
  EXPECT_EQ(Port(p.Get()), 1);
}

TEST(UpstreamPoolSetAside, WithEveryProxyAsideOneIsStillTriedByThePolicy) {
  Pool p(EndpointPolicy::RoundRobin, {Proxy(1), Proxy(2)});
  const UpstreamRef one = p.Get(), two = p.Get();
  p.Fail(one, 3);
  p.Fail(two, 3);
  const UpstreamRef again = p.Get();
  EXPECT_EQ(Port(again), 1);
  EXPECT_EQ(Port(p.Get({again})), 2);
  // Failing while aside extends its time without saying so again.
  p.Fail(again, 3);
  EXPECT_EQ(p.said.size(), 2u);
}

TEST(UpstreamPoolReplace, AFreshPoolBringsSetAsideProxiesBack) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2), Proxy(3)});
  const UpstreamRef one = p.Get();
  const UpstreamRef two = p.Get({one});
  p.Fail(one, 3);
  p.Fail(two, 3);
  EXPECT_EQ(Port(p.Get()), 3);
  EXPECT_FALSE(p.pool.TakePending());  // nothing new yet
  // 1 comes again with fresh results; 2 does not, so nothing is said about it.
  p.Replace({Proxy(1), Proxy(3)});
  ASSERT_EQ(p.said.size(), 3u);
  EXPECT_EQ(p.said[2], std::make_pair(Line(1), std::string()));
  EXPECT_FALSE(p.pool.AnySetAside());
  EXPECT_EQ(Port(p.Get()), 1);
}

TEST(UpstreamPoolReplace, SetPoolWhileConnectionsHoldProxiesOfTheOldOne) {
  Pool p(EndpointPolicy::RoundRobin, {Proxy(1), Proxy(2)});
  // Attempts under way, each holding its proxy.
  const UpstreamRef oldOne = p.Get(), oldTwo = p.Get();
  p.Replace({Proxy(1), Proxy(3)});
  // The new pool starts its turn afresh, and its proxy 1 is a new one.
  const UpstreamRef newOne = p.Get();
  ASSERT_EQ(Port(newOne), 1);
  EXPECT_NE(newOne, oldOne);
  // The old attempts end, however they end: the new pool's word on 1 stands.
  p.Fail(oldOne, 3);
  p.Fail(oldTwo, 3);
  p.Work(oldOne);
  EXPECT_TRUE(p.said.empty());
  EXPECT_FALSE(p.pool.AnySetAside());
  EXPECT_EQ(Port(p.Get()), 3);
  EXPECT_EQ(Port(p.Get()), 1);
  // The old proxies are still whole for the sessions that hold them.
  EXPECT_EQ(oldTwo->Proxy().Line(), Line(2));
}

TEST(UpstreamPoolReplace, SetPoolFromAnotherThreadWhileTheLoopChooses) {
  Pool p(EndpointPolicy::RoundRobin, {Proxy(1)});
  std::atomic<bool> done{false};
  std::thread caller([&] {
    for (int i = 0; i < 2000; ++i) p.pool.SetPool({Proxy(1 + i % 3), Proxy(10 + i % 3)});
    done = true;
  });
  // At least a few hundred choices, whether or not the caller is done by then.
  int given = 0;
  do {
    p.pool.TakePending();
    const UpstreamRef u = p.Get();
    EXPECT_NE(u, nullptr);
    if (!u) break;  // the caller's thread still has to be joined
    const int port = Port(u);
    EXPECT_TRUE(port == 1 || port == 2 || port == 3 || (port >= 10 && port <= 12)) << port;
    p.Fail(u);
  } while (++given < 300 || !done);
  caller.join();
  p.pool.TakePending();
  // The last pool given is the one in place.
  const UpstreamRef first = p.Get();
  std::vector<int> last = {Port(first), Port(p.Get({first}))};
  std::sort(last.begin(), last.end());
  EXPECT_EQ(last, (std::vector<int>{2, 11}));
}

TEST(UpstreamPoolMembers, OnlyAllowedTypesInUpperCaseAndWithTheirAddress) {
  UpstreamPool::Rules rules;
  rules.types = {"SOCKS5", "HTTP"};
  UpstreamPool pool(rules);
  pool.SetPool({Proxy(1, 0.5, "socks5"),
                Proxy(2, 0.5, "SOCKS4"),
                Proxy(3, 0.5, "FTP"),
                Proxy(4, 0.5, "HTTP"),
                {"::1", "5", "HTTP", std::nullopt, 0.5}});
  ASSERT_TRUE(pool.TakePending());
  std::vector<UpstreamRef> tried;
  while (const UpstreamRef u = pool.Get(tried, UpstreamPool::Clock::now())) tried.push_back(u);
  ASSERT_EQ(tried.size(), 3u);
  EXPECT_EQ(tried[0]->Proxy().Line(), Line(1));
  EXPECT_EQ(tried[0]->Family(), AF_INET);
  EXPECT_EQ(tried[1]->Proxy().Line(), Line(4, "HTTP"));
  EXPECT_EQ(tried[2]->Family(), AF_INET6);
  EXPECT_EQ(tried[2]->AddressLength(), sizeof(sockaddr_in6));
}

}  // namespace
