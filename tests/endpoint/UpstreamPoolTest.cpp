// The endpoint's pool on its own: which proxy an attempt gets, how failures set a proxy
// aside and for how long, what a new pool does to all that, and the addresses of proxies
// named by a host name. No socket is opened and no name server asked: time is whatever
// the test says it is, and names give what the test answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
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
using std::chrono::seconds;

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
    pool.OnUnresolved(
        [this](const std::string& line, const std::string& error) { leftOut.emplace_back(line, error); });
    pool.OnLookup([this](const std::string& name) { asked.push_back(name); });
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
    EXPECT_TRUE(pool.TakePending(now));
  }
  // The name server's answer: the addresses given, or a failure that is the name's own
  // (lasting) or the name servers'.
  void Answer(const std::string& name, std::vector<std::string> addresses, bool lasting = true) {
    qb::NameResolver::Answer a;
    a.name = name;
    for (const std::string& text : addresses) a.addresses.push_back(*qb::NumericAddress(text, 0));
    if (a.addresses.empty()) a.error = lasting ? "Name or service not known" : "Temporary failure";
    a.lasting = lasting && a.addresses.empty();
    pool.Resolved(a, now);
  }
  UpstreamRef Get(std::vector<UpstreamRef> tried = {}) { return pool.Get(tried, now); }
  void Fail(const UpstreamRef& u, int times = 1) {
    for (int i = 0; i < times; ++i) pool.Release(u, Outcome::Failed, 0, "refused", now);
  }
  void Work(const UpstreamRef& u, double seconds = 0.5) { pool.Release(u, Outcome::Ok, seconds, {}, now); }

  UpstreamPool pool;
  UpstreamPool::Clock::time_point now = UpstreamPool::Clock::now();
  std::vector<std::pair<std::string, std::string>> said;
  std::vector<std::pair<std::string, std::string>> leftOut;
  std::vector<std::string> asked;
};

// "address port" of a proxy's i-th address, as connect would be given it.
std::string Where(const UpstreamRef& u, size_t i = 0) {
  if (!u) return "none";
  const qb::SocketAddress& a = u->Address(i);
  char text[INET6_ADDRSTRLEN] = {};
  int port = 0;
  if (a.Family() == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a.storage);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    port = ntohs(in.sin_port);
  } else {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a.storage);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
  }
  return std::string(text) + " " + std::to_string(port);
}

UpstreamProxy Named(const char* host, int port, double seconds = 0.5, const char* type = "SOCKS5") {
  return {host, std::to_string(port), type, std::nullopt, seconds};
}

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
  p.Replace({Proxy(1, 0.4), Proxy(3)});
  ASSERT_EQ(p.said.size(), 3u);
  EXPECT_EQ(p.said[2], std::make_pair(Line(1), std::string()));
  EXPECT_FALSE(p.pool.AnySetAside());
  EXPECT_EQ(Port(p.Get()), 1);
}

TEST(UpstreamPoolReplace, TheSameResultsAgainKeepWhatThePoolLearnt) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2), Proxy(3)});
  const UpstreamRef one = p.Get();
  p.Fail(one, 3);
  const UpstreamRef two = p.Get();
  ASSERT_EQ(Port(two), 2);
  p.Fail(two, 2);  // one failure short of being set aside
  ASSERT_EQ(p.said.size(), 1u);
  // The list saved again with the same times (as the window does when it marks the row
  // of the proxy set aside): 1 stays aside, silently, and 2 keeps its two failures.
  p.Replace({Proxy(1), Proxy(2), Proxy(3)});
  EXPECT_EQ(p.said.size(), 1u);
  EXPECT_TRUE(p.pool.AnySetAside());
  EXPECT_EQ(p.pool.Usable(), 2u);
  EXPECT_EQ(Port(p.Get()), 2);
  p.Fail(p.Get(), 1);
  ASSERT_EQ(p.said.size(), 2u);
  EXPECT_EQ(p.said[1].first, Line(2));
  EXPECT_EQ(Port(p.Get()), 3);
  // Its time aside runs from when it was set aside, not from the new pool, and its end
  // is said as always.
  p.now += minutes(2);
  p.pool.Expire(p.now);
  EXPECT_FALSE(p.pool.AnySetAside());
  ASSERT_EQ(p.said.size(), 4u);
  EXPECT_EQ(Port(p.Get()), 1);
  // Back-off goes on from where it was: the next set-aside of 1 lasts twice as long.
  p.Fail(p.Get(), 3);
  p.Replace({Proxy(1), Proxy(2), Proxy(3)});
  p.now += minutes(3);
  p.pool.Expire(p.now);
  EXPECT_NE(Port(p.Get()), 1);
  p.now += minutes(1);
  p.pool.Expire(p.now);
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
  EXPECT_EQ(tried[0]->Address(0).Family(), AF_INET);
  EXPECT_EQ(tried[1]->Proxy().Line(), Line(4, "HTTP"));
  EXPECT_EQ(tried[2]->Address(0).Family(), AF_INET6);
  EXPECT_EQ(tried[2]->Address(0).length, sizeof(sockaddr_in6));
}

TEST(UpstreamPoolAddresses, Ipv6RowsAreReachedAtOnceNamesOnlyOnceTheirLookupAnswers) {
  Pool p(EndpointPolicy::Failover);
  p.Replace({Named("gw.test", 1080, 0.1), Named("[2001:db8::1]", 1081, 0.2),
             Named("gw.test", 3128, 0.3, "HTTP"), Named("other.test", 1082, 0.4)});
  // Each name asked for once, however many proxies it names, and none of them the address.
  EXPECT_EQ(std::set<std::string>(p.asked.begin(), p.asked.end()),
            (std::set<std::string>{"gw.test", "other.test"}));
  EXPECT_EQ(p.asked.size(), 2u);
  EXPECT_TRUE(p.pool.Looking());
  EXPECT_TRUE(p.pool.AwaitingNames());
  // The row's bracketed address, without its brackets, on its own port.
  const UpstreamRef v6 = p.Get();
  ASSERT_NE(v6, nullptr);
  EXPECT_EQ(v6->Proxy().Line(), "[2001:db8::1]:1081@SOCKS5");
  EXPECT_EQ(Where(v6), "2001:db8::1 1081");
  EXPECT_EQ(v6->Address(0).length, sizeof(sockaddr_in6));
  EXPECT_EQ(p.Get({v6}), nullptr);
  EXPECT_EQ(p.pool.Usable(), 1u);
  EXPECT_EQ(p.pool.Unresolved(), 0u);  // not looked up yet is not left out

  p.Answer("gw.test", {"127.0.0.41", "::1"});
  EXPECT_TRUE(p.pool.AwaitingNames());  // other.test still
  const UpstreamRef gw = p.Get();
  ASSERT_NE(gw, nullptr);
  EXPECT_EQ(gw->Proxy().Line(), "gw.test:1080@SOCKS5");
  ASSERT_EQ(gw->AddressCount(), 2u);
  EXPECT_EQ(Where(gw, 0), "127.0.0.41 1080");
  EXPECT_EQ(Where(gw, 1), "::1 1080");
  // The same answer, each proxy with its own port.
  const UpstreamRef http = p.Get({gw, v6});
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(Where(http, 0), "127.0.0.41 3128");
  EXPECT_EQ(p.pool.Usable(), 3u);
  EXPECT_TRUE(p.leftOut.empty());
}

TEST(UpstreamPoolAddresses, AProxyGoesToTheAddressThatAnsweredLast) {
  Pool p(EndpointPolicy::Failover, {Named("both.test", 1080)});
  p.Answer("both.test", {"::1", "127.0.0.1"});
  const UpstreamRef u = p.Get();
  EXPECT_EQ(u->Preferred(), 0u);
  p.Work(u, 0.1);  // through its first address
  EXPECT_EQ(u->Preferred(), 0u);
  p.pool.Release(u, Outcome::Ok, 0.1, {}, p.now, 1);
  EXPECT_EQ(u->Preferred(), 1u);
  EXPECT_EQ(Where(u, u->Preferred()), "127.0.0.1 1080");
  // A failure names no address: the preference stays.
  p.Fail(u);
  EXPECT_EQ(u->Preferred(), 1u);
  // New addresses start from the first again.
  p.now += minutes(5);
  p.pool.Refresh(p.now);
  p.Answer("both.test", {"127.0.0.2", "127.0.0.3"});
  EXPECT_EQ(u->Preferred(), 0u);
  EXPECT_EQ(Where(u, 0), "127.0.0.2 1080");
}

TEST(UpstreamPoolAddresses, ANameWithoutAddressIsLeftOutSaidOnceAndAskedForAgainLater) {
  Pool p(EndpointPolicy::Failover, {Named("gone.test", 1080, 0.1), Proxy(2, 0.2)});
  p.Answer("gone.test", {});
  ASSERT_EQ(p.leftOut.size(), 1u);
  EXPECT_EQ(p.leftOut[0],
            std::make_pair(std::string("gone.test:1080@SOCKS5"), std::string("Name or service not known")));
  EXPECT_EQ(p.pool.Unresolved(), 1u);
  EXPECT_EQ(p.pool.Usable(), 1u);
  EXPECT_FALSE(p.pool.AwaitingNames());
  EXPECT_FALSE(p.pool.Looking());
  // Never handed out, not even as a last resort with everything else set aside.
  const UpstreamRef two = p.Get();
  EXPECT_EQ(Port(two), 2);
  p.Fail(two, 3);
  EXPECT_EQ(Port(p.Get()), 2);
  EXPECT_EQ(p.Get({two}), nullptr);

  // Asked for again after retryUnresolved (30 s), not before; a failure again is not
  // said again.
  p.asked.clear();
  p.now += seconds(29);
  p.pool.Refresh(p.now);
  EXPECT_TRUE(p.asked.empty());
  p.now += seconds(1);
  p.pool.Refresh(p.now);
  EXPECT_EQ(p.asked, (std::vector<std::string>{"gone.test"}));
  p.pool.Refresh(p.now + seconds(1));
  EXPECT_EQ(p.asked.size(), 1u);  // under way: not asked twice
  p.Answer("gone.test", {});
  EXPECT_EQ(p.leftOut.size(), 1u);
  p.now += seconds(30);
  p.pool.Refresh(p.now);
  p.Answer("gone.test", {"127.0.0.9"});
  ASSERT_EQ(p.leftOut.size(), 2u);
  EXPECT_EQ(p.leftOut[1], std::make_pair(std::string("gone.test:1080@SOCKS5"), std::string()));
  EXPECT_EQ(p.pool.Unresolved(), 0u);
  EXPECT_EQ(Port(p.Get()), 1080);
}

TEST(UpstreamPoolAddresses, PastItsLifetimeANameIsAskedAgainAndANewAddressServesTheAttemptsThatFollow) {
  Pool p(EndpointPolicy::Failover, {Named("gw.test", 1080, 0.1), Proxy(2, 0.2)});
  p.Answer("gw.test", {"127.0.0.41"});
  const UpstreamRef gw = p.Get();
  // Failures held against the old address, up to being set aside.
  p.Fail(gw, 3);
  ASSERT_EQ(p.said.size(), 1u);
  EXPECT_EQ(Port(p.Get()), 2);

  p.asked.clear();
  p.now += minutes(5) - milliseconds(1);
  p.pool.Refresh(p.now);
  EXPECT_TRUE(p.asked.empty());
  p.now += milliseconds(1);
  p.pool.Refresh(p.now);
  EXPECT_EQ(p.asked, (std::vector<std::string>{"gw.test"}));
  // Until the answer comes, the old address serves.
  EXPECT_EQ(Where(gw), "127.0.0.41 1080");
  EXPECT_FALSE(p.pool.AwaitingNames());

  p.Answer("gw.test", {"127.0.0.42"});
  // The same proxy, now at its new address, and what was held against the old one is gone.
  EXPECT_EQ(Where(gw), "127.0.0.42 1080");
  ASSERT_EQ(p.said.size(), 2u);
  EXPECT_EQ(p.said[1], std::make_pair(std::string("gw.test:1080@SOCKS5"), std::string()));
  EXPECT_EQ(p.Get(), gw);
  p.Fail(gw, 2);
  EXPECT_EQ(p.Get(), gw);
  EXPECT_TRUE(p.leftOut.empty());

  // The same answer again changes nothing, the failures in a row included.
  p.now += minutes(5);
  p.pool.Refresh(p.now);
  p.Answer("gw.test", {"127.0.0.42"});
  p.Fail(gw);
  EXPECT_EQ(Port(p.Get()), 2);
}

TEST(UpstreamPoolAddresses, SilentNameServersKeepTheLastAddressesAVanishedNameDoesNot) {
  Pool p(EndpointPolicy::Failover, {Named("gw.test", 1080)});
  p.Answer("gw.test", {"127.0.0.41"});
  p.now += minutes(5);
  p.pool.Refresh(p.now);
  p.Answer("gw.test", {}, /*lasting=*/false);
  EXPECT_TRUE(p.leftOut.empty());
  EXPECT_EQ(Where(p.Get()), "127.0.0.41 1080");
  // Asked for again sooner than a lifetime.
  p.asked.clear();
  p.now += seconds(30);
  p.pool.Refresh(p.now);
  EXPECT_EQ(p.asked, (std::vector<std::string>{"gw.test"}));
  p.Answer("gw.test", {});
  ASSERT_EQ(p.leftOut.size(), 1u);
  EXPECT_EQ(p.Get(), nullptr);
  EXPECT_EQ(p.pool.Unresolved(), 1u);
}

TEST(UpstreamPoolAddresses, ALookupThatTakesTooLongLeavesTheProxyOutAndItsLateAnswerStillCounts) {
  Pool p(EndpointPolicy::Failover, {Named("slow.test", 1080)});
  EXPECT_TRUE(p.pool.AwaitingNames());
  EXPECT_FALSE(p.pool.Refresh(p.now + seconds(10) - milliseconds(1)));
  EXPECT_TRUE(p.leftOut.empty());
  p.now += seconds(10);
  EXPECT_TRUE(p.pool.Refresh(p.now));
  ASSERT_EQ(p.leftOut.size(), 1u);
  EXPECT_EQ(p.leftOut[0].second, "the name was not looked up in time");
  EXPECT_FALSE(p.pool.AwaitingNames());
  EXPECT_FALSE(p.pool.Looking());
  p.Answer("slow.test", {"127.0.0.7"});
  EXPECT_EQ(p.leftOut.size(), 2u);
  EXPECT_EQ(Where(p.Get()), "127.0.0.7 1080");
}

TEST(UpstreamPoolAddresses, AFreshPoolKeepsWhatItsNamesGaveAndForgetsTheNamesItDropped) {
  Pool p(EndpointPolicy::Failover,
         {Named("gw.test", 1080), Named("gone.test", 1081), Named("old.test", 1082)});
  p.Answer("gw.test", {"127.0.0.41"});
  p.Answer("gone.test", {});
  ASSERT_EQ(p.leftOut.size(), 1u);
  p.asked.clear();
  p.now += seconds(1);
  p.Replace({Named("gw.test", 2080), Named("gone.test", 1081), Named("new.test", 1083)});
  // Only the new name is asked for; the proxy of a known name has its address at once,
  // and the one left out is not said to be again.
  EXPECT_EQ(p.asked, (std::vector<std::string>{"new.test"}));
  EXPECT_EQ(Where(p.Get()), "127.0.0.41 2080");
  EXPECT_EQ(p.leftOut.size(), 1u);
  EXPECT_EQ(p.pool.Unresolved(), 1u);
  // old.test's lookup, if one was still coming, is dropped; the lookup under way is
  // counted once.
  p.Answer("old.test", {"127.0.0.50"});
  EXPECT_EQ(p.pool.Size(), 3u);
  EXPECT_TRUE(p.pool.Looking());
  p.Answer("new.test", {"127.0.0.51"});
  EXPECT_FALSE(p.pool.Looking());
  // What gw.test gave keeps the time it was given, not the new pool's.
  p.asked.clear();
  p.now += minutes(5) - seconds(1);
  p.pool.Refresh(p.now);
  EXPECT_EQ(std::count(p.asked.begin(), p.asked.end(), "gw.test"), 1);
}

TEST(UpstreamPoolAddresses, AProxyWithABadPortIsNeverHandedOut) {
  Pool p(EndpointPolicy::Failover, {Named("127.0.0.1", 0),
                                    Named("127.0.0.1", 65536),
                                    Named("[::1]", 99),
                                    {"127.0.0.1", "80x", "HTTP", std::nullopt, 0.5}});
  EXPECT_TRUE(p.asked.empty());
  const UpstreamRef only = p.Get();
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(Where(only), "::1 99");
  EXPECT_EQ(p.Get({only}), nullptr);
}

// Names looked up on the resolver's threads, with a lookup of the test's that waits
// until the test lets it answer.
struct HeldLookups {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int running = 0, mostAtOnce = 0, woken = 0;
  std::map<std::string, int> calls;

  qb::NameResolver::Answer Lookup(const std::string& name) {
    std::unique_lock lock(mutex);
    ++calls[name];
    mostAtOnce = std::max(mostAtOnce, ++running);
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
    --running;
    changed.notify_all();
    qb::NameResolver::Answer a;
    a.addresses.push_back(*qb::NumericAddress("127.0.0." + std::to_string(name.size()), 0));
    return a;
  }
  void Wake() {
    std::lock_guard lock(mutex);
    ++woken;
    changed.notify_all();
  }
  // Whether what is waited for came within two seconds.
  template <typename Until>
  bool WaitFor(Until until) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, seconds(2), until);
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

TEST(NameResolver, AFewLookupsAtOnceEachNameOnceAndAskingNeverWaits) {
  auto held = std::make_shared<HeldLookups>();
  qb::NameResolver resolver([held] { held->Wake(); },
                            [held](const std::string& name) { return held->Lookup(name); }, 2);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  for (int i = 1; i <= 6; ++i) names.push_back(std::string(i, 'n') + ".test");
  for (const std::string& name : names) resolver.Ask(name);
  resolver.Ask(names[0]);  // asked again while it is looked up
  resolver.Ask(names[5]);  // asked again while it waits its turn
  // Every lookup hangs, and asking returned at once all the same.
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
  ASSERT_TRUE(held->WaitFor([&] { return held->running == 2; }));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_TRUE(resolver.Take().empty());
  held->Open();
  std::vector<qb::NameResolver::Answer> answers;
  ASSERT_TRUE(held->WaitFor([&] { return held->woken >= 6; }));
  answers = resolver.Take();
  ASSERT_EQ(answers.size(), 6u);
  std::set<std::string> answered;
  for (const auto& a : answers) {
    answered.insert(a.name);
    ASSERT_EQ(a.addresses.size(), 1u);
    EXPECT_EQ(a.addresses[0], *qb::NumericAddress("127.0.0." + std::to_string(a.name.size()), 0));
  }
  EXPECT_EQ(answered, std::set<std::string>(names.begin(), names.end()));
  {
    std::lock_guard lock(held->mutex);
    EXPECT_EQ(held->mostAtOnce, 2);
    for (const auto& [name, count] : held->calls) EXPECT_EQ(count, 1) << name;
  }
  // Answered, a name is looked up again when asked for again.
  resolver.Ask(names[0]);
  ASSERT_TRUE(held->WaitFor([&] { return held->woken >= 7; }));
  EXPECT_EQ(resolver.Take().size(), 1u);
  std::lock_guard lock(held->mutex);
  EXPECT_EQ(held->calls[names[0]], 2);
}

TEST(NameResolver, OnceClosedNobodyIsWokenAndAnswersStillComingAreDropped) {
  auto held = std::make_shared<HeldLookups>();
  auto resolver = std::make_unique<qb::NameResolver>(
      [held] { held->Wake(); }, [held](const std::string& name) { return held->Lookup(name); }, 1);
  resolver->Ask("a.test");
  resolver->Ask("b.test");
  ASSERT_TRUE(held->WaitFor([&] { return held->running == 1; }));
  resolver.reset();  // the endpoint stops while a lookup hangs
  held->Open();
  ASSERT_TRUE(held->WaitFor([&] { return held->running == 0; }));
  std::this_thread::sleep_for(milliseconds(200));
  std::lock_guard lock(held->mutex);
  EXPECT_EQ(held->woken, 0);
  // The name waiting its turn was never looked up.
  EXPECT_EQ(held->calls.count("b.test"), 0u);
}

TEST(NameResolver, TheSystemsResolverFindsLocalhost) {
  const qb::NameResolver::Answer a = qb::NameResolver::SystemLookup("localhost");
  ASSERT_FALSE(a.addresses.empty()) << a.error;
  EXPECT_NE(std::find_if(a.addresses.begin(), a.addresses.end(),
                         [](const qb::SocketAddress& s) {
                           return s == *qb::NumericAddress("127.0.0.1", 0) ||
                                  s == *qb::NumericAddress("::1", 0);
                         }),
            a.addresses.end());
  // Each address once, though the resolver gives one per socket type.
  for (size_t i = 0; i < a.addresses.size(); ++i) {
    for (size_t j = i + 1; j < a.addresses.size(); ++j) EXPECT_FALSE(a.addresses[i] == a.addresses[j]);
  }
}

}  // namespace

namespace {

TEST(UpstreamPoolPolicy, FastestKeepsItsProxyUntilAnotherIsFasterByMoreThanTheTolerance) {
  Pool p(EndpointPolicy::Fastest, {Proxy(1, 0.10), Proxy(2, 0.12)});
  ASSERT_EQ(Port(p.Get()), 1);
  const UpstreamRef one = p.pool.Find(Line(1));
  const UpstreamRef two = p.pool.Find(Line(2));
  // 2: 0.7 * 0.12 + 0.3 * 0.01 = 0.087, faster than 1 (0.10) by 13 ms: within 150 ms.
  p.Work(two, 0.01);
  EXPECT_EQ(Port(p.Get()), 1);
  // 1: 0.7 * 0.1 + 0.3 * 0.5 = 0.22, 133 ms behind: still within.
  p.Work(one, 0.5);
  EXPECT_EQ(Port(p.Get()), 1);
  // 1: 0.7 * 0.22 + 0.3 * 0.5 = 0.304, 217 ms behind: 2 takes over, and keeps it.
  p.Work(one, 0.5);
  EXPECT_EQ(Port(p.Get()), 2);
  p.Work(one, 0.01);
  p.Work(one, 0.01);
  EXPECT_EQ(Port(p.Get()), 2);
  // A proxy that fails is left at once, tolerance or not.
  EXPECT_EQ(Port(p.Get({two})), 1);
}

TEST(UpstreamPoolPolicy, FastestWithoutToleranceFollowsEveryChange) {
  UpstreamPool::Rules rules = Pool::Rules(EndpointPolicy::Fastest, 3);
  rules.toleranceSeconds = 0;
  UpstreamPool pool(rules);
  pool.SetPool({Proxy(1, 0.10), Proxy(2, 0.12)});
  const auto now = UpstreamPool::Clock::now();
  ASSERT_TRUE(pool.TakePending(now));
  ASSERT_EQ(Port(pool.Get({}, now)), 1);
  pool.Release(pool.Find(Line(2)), Outcome::Ok, 0.01, {}, now);
  EXPECT_EQ(Port(pool.Get({}, now)), 2);
}

TEST(UpstreamPoolChecks, DueAreThoseInUseAndAsideOnesOnlyBackByAPassingCheck) {
  Pool p(EndpointPolicy::Failover, {Proxy(1), Proxy(2), Proxy(3), Proxy(4)}, 2);
  const auto used = std::chrono::seconds(60);
  // Nothing handed out yet: the next two the policy would hand out are due.
  auto due = p.pool.DueForCheck(p.now, used, 10);
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(Port(due[0]), 1);
  EXPECT_EQ(Port(due[1]), 2);
  for (const UpstreamRef& u : due) p.pool.CheckStarted(u);
  // Running checks are not asked for twice; 4 gets traffic and joins.
  const UpstreamRef four = p.Get({p.pool.Find(Line(1)), p.pool.Find(Line(2)), p.pool.Find(Line(3))});
  ASSERT_EQ(Port(four), 4);
  due = p.pool.DueForCheck(p.now, used, 10);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(Port(due[0]), 4);
  // A limit holds.
  EXPECT_TRUE(p.pool.DueForCheck(p.now, used, 0).empty());

  // Two failed checks set 1 aside, as two failed connections would.
  const UpstreamRef one = p.pool.Find(Line(1));
  p.pool.Checked(one, false, 0, "health check: no answer in time", p.now);
  EXPECT_EQ(Port(p.Get()), 1);
  p.pool.CheckStarted(one);
  p.pool.Checked(one, false, 0, "health check: no answer in time", p.now);
  EXPECT_EQ(Port(p.Get()), 2);
  ASSERT_EQ(p.said.size(), 1u);
  EXPECT_EQ(p.said[0], std::make_pair(Line(1), std::string("health check: no answer in time")));

  // With checks on, its time aside running out does not bring it back...
  UpstreamPool::Rules rules = Pool::Rules(EndpointPolicy::Failover, 1);
  rules.checksBringBack = true;
  rules.setAside = std::chrono::seconds(30);
  rules.maxSetAside = std::chrono::minutes(5);
  UpstreamPool checked(rules);
  checked.SetPool({Proxy(1), Proxy(2)});
  auto now = p.now;
  ASSERT_TRUE(checked.TakePending(now));
  const UpstreamRef first = checked.Find(Line(1));
  checked.Release(first, Outcome::Failed, 0, "refused", now);
  now += std::chrono::minutes(10);
  checked.Expire(now);
  EXPECT_EQ(Port(checked.Get({}, now)), 2);
  // ...it is due for a check, whose failure keeps it aside, backing off up to the most...
  due = checked.DueForCheck(now, used, 10);
  ASSERT_FALSE(due.empty());
  EXPECT_EQ(Port(due[0]), 1);
  for (int i = 0; i < 6; ++i) checked.Checked(first, false, 0, "refused", now);
  due = checked.DueForCheck(now + std::chrono::seconds(299), used, 10);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(Port(due[0]), 2);  // the next one the policy hands out; 1 rests five minutes
  EXPECT_EQ(Port(checked.DueForCheck(now + std::chrono::seconds(300), used, 10)[0]), 1);
  // ...and a passing one takes it back.
  checked.Checked(first, true, 0.2, {}, now);
  EXPECT_EQ(Port(checked.Get({}, now)), 1);
}

}  // namespace
