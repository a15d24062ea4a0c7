// The run's resolver, with look-ups the tests control: each name is asked once, a name
// server that does not answer costs one time-out and not a place in the pool for ever,
// and nobody is told anything after the resolver is gone.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "verify/HostResolver.h"

using namespace qb;

namespace {

// Look-ups that answer at once, except for the names that begin with "stall", which
// hang until Release (as a name server that never answers would, until the system
// gives up), and those that begin with "hold", which answer only after Release.
class StubLookups {
 public:
  CHostResolver::LookupFn Fn() {
    return [this](const std::string& name) -> std::vector<std::string> {
      {
        std::unique_lock<std::mutex> g(m_lock);
        ++m_asked[name];
        ++m_inside;
        m_released.wait(
            g, [&] { return (name.rfind("stall", 0) != 0 && name.rfind("hold", 0) != 0) || m_release; });
        --m_inside;
        // Told under the lock: the stub may be gone the moment it is released.
        m_changed.notify_all();
      }
      if (name.rfind("none", 0) == 0 || name.rfind("stall", 0) == 0) return {};
      return {"127.0.0.1", "::1"};
    };
  }
  void Release() {
    {
      std::lock_guard<std::mutex> g(m_lock);
      m_release = true;
    }
    m_released.notify_all();
  }
  // Waits until no look-up is inside the stub any more.
  bool AllOut(int ms) {
    std::unique_lock<std::mutex> g(m_lock);
    return m_changed.wait_for(g, std::chrono::milliseconds(ms), [&] { return m_inside == 0; });
  }
  int Asked(const std::string& name) {
    std::lock_guard<std::mutex> g(m_lock);
    return m_asked[name];
  }
  int Inside() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_inside;
  }
  ~StubLookups() {
    Release();
    AllOut(5000);
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_released;
  std::condition_variable m_changed;
  std::map<std::string, int> m_asked;
  int m_inside = 0;
  bool m_release = false;
};

// The names settled so far, in order, as the resolver told them.
struct Settled {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> names;
  CHostResolver::SettledFn Fn() {
    return [this](const std::string& name) {
      {
        std::lock_guard<std::mutex> g(lock);
        names.push_back(name);
      }
      changed.notify_all();
    };
  }
  bool WaitFor(std::size_t count, int ms) {
    std::unique_lock<std::mutex> g(lock);
    return changed.wait_for(g, std::chrono::milliseconds(ms), [&] { return names.size() >= count; });
  }
};

TEST(HostResolver, LooksEachNameUpOnceAndTellsEveryoneWhoAsked) {
  StubLookups stub;
  Settled settled;
  CHostResolver resolver(2000, stub.Fn());
  // Three rows of one name asking while its look-up runs (held until they all have),
  // and a blocking asker.
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(resolver.Find("hold.test", settled.Fn()));
  stub.Release();
  const std::optional<std::vector<std::string>> waited = resolver.Wait("hold.test");
  ASSERT_TRUE(waited);
  EXPECT_EQ(*waited, (std::vector<std::string>{"127.0.0.1", "::1"}));
  ASSERT_TRUE(settled.WaitFor(3, 2000));
  EXPECT_EQ(settled.names, (std::vector<std::string>(3, "hold.test")));
  // Settled: the answer comes at once, and no one is called for it.
  EXPECT_EQ(resolver.Find("hold.test", settled.Fn()), waited);
  EXPECT_EQ(stub.Asked("hold.test"), 1);
  EXPECT_EQ(resolver.LookupsStarted(), 1);

  // A name with no address is settled too, as empty, and asked once as well.
  EXPECT_EQ(resolver.Wait("none.test"), std::vector<std::string>{});
  EXPECT_EQ(resolver.Find("none.test"), std::vector<std::string>{});
  EXPECT_EQ(stub.Asked("none.test"), 1);
}

TEST(HostResolver, ANameServerThatDoesNotAnswerCostsOneTimeOutNotThePool) {
  StubLookups stub;
  Settled settled;
  // One look-up at a time: the stalled one would hold up every name behind it.
  CHostResolver resolver(300, stub.Fn(), 1);
  QElapsedTimer clock;
  clock.start();
  resolver.Find("stall.test", settled.Fn());
  resolver.Find("gw.test", settled.Fn());
  ASSERT_TRUE(settled.WaitFor(2, 3000));
  const qint64 both = clock.elapsed();
  // The stalled name is settled without an address after its time-out, and the name
  // behind it right after, by a thread that took the stalled one's place.
  EXPECT_EQ(settled.names, (std::vector<std::string>{"stall.test", "gw.test"}));
  EXPECT_GE(both, 280);
  EXPECT_LT(both, 1500);
  EXPECT_EQ(resolver.Find("stall.test"), std::vector<std::string>{});
  EXPECT_EQ(resolver.Find("gw.test"), (std::vector<std::string>{"127.0.0.1", "::1"}));
  EXPECT_EQ(stub.Inside(), 1);
  EXPECT_EQ(resolver.ThreadsAlive(), 2);

  // When the system finally answers, the late answer changes nothing, and the pool
  // shrinks back to its size.
  stub.Release();
  ASSERT_TRUE(stub.AllOut(2000));
  for (int i = 0; i < 100 && resolver.ThreadsAlive() > 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(resolver.ThreadsAlive(), 1);
  EXPECT_EQ(resolver.Find("stall.test"), std::vector<std::string>{});
  EXPECT_EQ(stub.Asked("stall.test"), 1);
}

TEST(HostResolver, AFloodOfStalledNamesStaysWithinItsThreads) {
  StubLookups stub;
  Settled settled;
  CHostResolver resolver(100, stub.Fn(), 4);
  for (int i = 0; i < 200; ++i) resolver.Find("stall-" + std::to_string(i) + ".test", settled.Fn());
  resolver.Find("gw.test", settled.Fn());
  // Each stalled look-up is given up after its time-out and another thread takes its
  // place, until the cap: then the names wait for the system to answer.
  int most = 0;
  while (!settled.WaitFor(kMaxResolverThreads, 10)) most = std::max(most, resolver.ThreadsAlive());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  most = std::max(most, resolver.ThreadsAlive());
  EXPECT_EQ(most, kMaxResolverThreads);
  EXPECT_EQ(resolver.LookupsStarted(), kMaxResolverThreads);
  EXPECT_EQ(settled.names.size(), static_cast<std::size_t>(kMaxResolverThreads));
  EXPECT_FALSE(resolver.Find("gw.test"));

  // The system answers at last: the rest go through, and the pool is its size again.
  stub.Release();
  ASSERT_TRUE(settled.WaitFor(201, 5000));
  EXPECT_EQ(resolver.Find("gw.test"), (std::vector<std::string>{"127.0.0.1", "::1"}));
  EXPECT_EQ(resolver.Find("stall-199.test"), std::vector<std::string>{});
  for (int i = 0; i < 200 && resolver.ThreadsAlive() > 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(resolver.ThreadsAlive(), 4);
  EXPECT_EQ(resolver.LookupsStarted(), 201);
}

TEST(HostResolver, EndsAtOnceAndCallsNobodyAfterwards) {
  StubLookups stub;
  std::atomic<int> calledAfterEnd{0};
  std::atomic<bool> ended{false};
  QElapsedTimer clock;
  {
    CHostResolver resolver(60000, stub.Fn(), 4);
    for (int i = 0; i < 10; ++i) {
      resolver.Find("stall-" + std::to_string(i) + ".test", [&](const std::string&) {
        if (ended) ++calledAfterEnd;
      });
    }
    for (int i = 0; i < 100 && stub.Inside() < 4; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(stub.Inside(), 4);
    clock.start();
    // Leaving does not wait for the look-ups still hanging in the system's resolver.
  }
  ended = true;
  EXPECT_LT(clock.elapsed(), 500);
  stub.Release();
  ASSERT_TRUE(stub.AllOut(5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(calledAfterEnd.load(), 0);
}

TEST(HostResolver, TheSystemResolverFindsLocalhost) {
  // localhost is answered from the hosts file; no name server is asked.
  const std::vector<std::string> found = SystemLookup("localhost");
  EXPECT_NE(std::find(found.begin(), found.end(), "127.0.0.1"), found.end())
      << "localhost: " << found.size() << " addresses";
}

}  // namespace
