// Proxies named by a host name, through the run control, with a resolver the tests
// control (no name here ever reaches a name server: the names that do not resolve are
// never handed to libcurl, and the ones that do are "localhost"). The checks run
// against the loopback peers.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "support/LoopbackPeers.h"
#include "support/ShortTimeouts.h"
#include "verify/EngineResult.h"
#include "verify/HostPeers.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

// Look-ups by table: a name maps to its addresses after an optional delay; names that
// begin with "stall" hang until Release, as with a name server that never answers.
class TableLookups {
 public:
  void Set(const std::string& name, std::vector<std::string> addresses, int delayMs = 0) {
    std::lock_guard<std::mutex> g(m_lock);
    m_table[name] = {std::move(addresses), delayMs};
  }
  CHostResolver::LookupFn Fn() {
    return [this](const std::string& name) -> std::vector<std::string> {
      Entry e;
      {
        std::unique_lock<std::mutex> g(m_lock);
        ++m_asked[name];
        ++m_inside;
        m_released.wait(g, [&] { return name.rfind("stall", 0) != 0 || m_release; });
        if (const auto it = m_table.find(name); it != m_table.end()) e = it->second;
      }
      if (e.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(e.delayMs));
      std::lock_guard<std::mutex> g(m_lock);
      --m_inside;
      m_changed.notify_all();
      return e.addresses;
    };
  }
  void Release() {
    std::lock_guard<std::mutex> g(m_lock);
    m_release = true;
    m_released.notify_all();
  }
  int Asked(const std::string& name) {
    std::lock_guard<std::mutex> g(m_lock);
    return m_asked[name];
  }
  ~TableLookups() {
    std::unique_lock<std::mutex> g(m_lock);
    m_release = true;
    m_released.notify_all();
    m_changed.wait_for(g, std::chrono::seconds(10), [&] { return m_inside == 0; });
  }

 private:
  struct Entry {
    std::vector<std::string> addresses;
    int delayMs = 0;
  };
  std::mutex m_lock;
  std::condition_variable m_released;
  std::condition_variable m_changed;
  std::map<std::string, Entry> m_table;
  std::map<std::string, int> m_asked;
  int m_inside = 0;
  bool m_release = false;
};

VerifyResult OnEngine(const VerifyTask& task) {
  return qbtest::ResultOnEngine(task, std::chrono::seconds(10));
}

TEST(NamedProxyTasks, ANameWithoutAnAddressIsAskedNothing) {
  qbtest::ShortTimeouts timeouts{2000};
  // The resource would refuse at once; the task must not even get that far.
  VerifyTask t = qbtest::TaskFor("gw.test:8080@HTTP", "http://127.0.0.1:9/", "x");
  t.nameUnresolved = true;
  // A name that cannot even go into a URL is no name that resolves either; an IPv6
  // text that is no address is a proxy that cannot be reached.
  VerifyTask odd = qbtest::TaskFor("127.0.0.1:8080@HTTP", "http://127.0.0.1:9/", "x");
  odd.address = "gw test";
  VerifyTask badV6 = odd;
  badV6.address = "[fe80::1%eth0]";
  CVerifyProxyThread worker;
  for (const VerifyTask& task : {t, odd}) {
    for (const VerifyResult& r : {worker.Verify(task), OnEngine(task)}) {
      EXPECT_EQ(r.status, VERIFY_UNRESOLVED) << task.address;
      EXPECT_EQ(r.texts, std::vector<std::string>{qb::TrStd(kStatusUnresolved)}) << task.address;
      EXPECT_EQ(r.seconds, 50.0);
      EXPECT_EQ(VerifyResultText(r.status, r.seconds), kStatusUnresolved);
    }
  }
  for (const VerifyResult& r : {worker.Verify(badV6), OnEngine(badV6)})
    EXPECT_EQ(r.status, VERIFY_PROXYFAILED);
}

TEST(NamedProxyTasks, ResourceUrlsWithBracketedIpv6Hosts) {
  std::optional<VerifyUrl> u = SplitVerifyUrl("http://[::1]:8898/judge?x=1");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "[::1]");
  EXPECT_EQ(u->port, 8898);
  EXPECT_EQ(u->object, "/judge?x=1");
  u = SplitVerifyUrl("ftp://me:p:w@[2001:db8::1]/pub");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "[2001:db8::1]");
  EXPECT_EQ(u->port, 0);
  EXPECT_EQ(u->user, "me");
  EXPECT_EQ(u->password, "p:w");
  EXPECT_FALSE(SplitVerifyUrl("http://[::1]:0/"));
}

class NamedProxies : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.m_nThreadNumber = 5;
    settings.m_bAutoAddToFavorite = 0;
  }
  void TearDown() override {
    control.reset();
    EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
  }
  void Resource(const std::string& url, const std::string& feature) {
    settings.m_aVerifySources = {{"http", url, feature, 1}};
  }
  // engineChecks 0: the window's thread workers.
  CVerifyControl& Control(int engineChecks) {
    control = std::make_unique<CVerifyControl>(list, settings);
    control->SetEngineChecks(engineChecks);
    control->SetNameLookup(lookups.Fn());
    return *control;
  }
  void Add(const std::string& line) { ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line; }
  std::string Text(int row) const { return list.Entry(row)->TimeStatus(); }
  // The text of the row of a proxy, wherever the end of the run sorted it.
  std::string TextOf(const std::string& addr, const std::string& port) const {
    for (int r = 0; r < list.RowCount(); ++r) {
      const CProxyEntry* e = list.Entry(r);
      if (e->Addr() == addr && e->Port() == port) return e->TimeStatus();
    }
    return "<no row>";
  }
  bool RunAll(int ms) {
    control->OnVerifyAll();
    return QTest::qWaitFor([&] { return control->IsIdle(); }, ms);
  }

  TableLookups lookups;
  CProxyListModel list;
  CSettings settings;
  std::unique_ptr<CVerifyControl> control;
};

TEST_F(NamedProxies, Ipv4RowsFinishWhileAStalledResolverHoldsTheNames) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{5000};
  Resource(p.OriginUrl("/feature.html"), p.Feature());
  // The names come first in the list: were they to hold the ten places in flight while
  // they wait, no row with an address could start until they timed out.
  constexpr int kNames = 300;
  constexpr int kAddresses = 40;
  for (int i = 0; i < kNames; ++i) Add("stall-" + std::to_string(i) + ".test:8080@HTTP");
  for (int i = 0; i < kAddresses; ++i)
    Add("127.0.0.1:" + std::string(static_cast<std::size_t>(i), '0') + std::to_string(p.HttpProxyPort()) +
        "@HTTP");
  CVerifyControl& c = Control(10);
  int addressesDone = 0;
  int namesDone = 0;
  QObject::connect(&c, &CVerifyControl::RowVerified, [&](int row, const QString&) {
    (HostKindOf(list.Entry(row)->Addr()) == HostKind::Name ? namesDone : addressesDone)++;
  });
  QElapsedTimer clock;
  clock.start();
  c.OnVerifyAll();
  ASSERT_TRUE(QTest::qWaitFor([&] { return addressesDone == kAddresses; }, 4000));
  const qint64 addressTime = clock.elapsed();
  // Every name still waits for the resolver, and no row with an address waited for it.
  EXPECT_EQ(namesDone, 0);
  EXPECT_EQ(c.AwaitingNames(), kNames);
  EXPECT_FALSE(c.IsIdle());
  EXPECT_LT(addressTime, 4000);

  lookups.Release();
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.IsIdle(); }, 10000));
  EXPECT_EQ(namesDone, kNames);
  int unresolved = 0;
  int timed = 0;
  for (int r = 0; r < list.RowCount(); ++r) {
    const std::string text = Text(r);
    const bool name = HostKindOf(list.Entry(r)->Addr()) == HostKind::Name;
    if (name && text == kStatusUnresolved) ++unresolved;
    if (!name && IsTimeText(text)) ++timed;
  }
  EXPECT_EQ(unresolved, kNames);
  EXPECT_EQ(timed, kAddresses);
  for (int i = 0; i < kNames; i += 37) EXPECT_EQ(lookups.Asked("stall-" + std::to_string(i) + ".test"), 1);
}

TEST_F(NamedProxies, TheProxysTimeStartsWhenItsNameIsFound) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{5000};
  Resource(p.OriginUrl("/feature.html"), p.Feature());
  // A slow name server: 1.5 s for the name, and a proxy that answers at once.
  lookups.Set("localhost", {"127.0.0.1"}, 1500);
  Add("localhost:" + std::to_string(p.HttpProxyPort()) + "@HTTP");
  for (int engine : {5, 0}) {
    SCOPED_TRACE(engine ? "engine" : "thread workers");
    Control(engine);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(RunAll(10000));
    EXPECT_GE(clock.elapsed(), 1500);
    ASSERT_TRUE(IsTimeText(Text(0))) << Text(0);
    EXPECT_LT(qb::CAtof(Text(0)), 1.0) << "the look-up counted in the proxy's time";
  }
}

TEST_F(NamedProxies, TheCheckConnectsToTheAddressesTheRunFoundOncePerName) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  const QString microsocks = QStandardPaths::findExecutable("microsocks");
  if (microsocks.isEmpty()) GTEST_SKIP() << "microsocks is not installed";
  qbtest::ShortTimeouts timeouts{3000};
  Resource(p.OriginUrl("/feature.html"), p.Feature());
  // The proxy listens on 127.0.0.9 alone; the system's "localhost" is elsewhere, so only
  // the address the run's resolver gave reaches it.
  const int port = hosttest::FreeDualPort();
  hosttest::Daemon socks;
  ASSERT_TRUE(socks.Start(microsocks.toStdString(), {"-i", "127.0.0.9", "-p", std::to_string(port)},
                          "127.0.0.9", port))
      << socks.Problem();
  lookups.Set("localhost", {"127.0.0.9"});
  // Four rows of the one name (another key each) and an unresolved one.
  for (int i = 0; i < 4; ++i)
    Add("localhost:" + std::string(static_cast<std::size_t>(i), '0') + std::to_string(port) + "@SOCKS5");
  Add("none.test:1080@SOCKS5");
  for (int engine : {5, 0}) {
    SCOPED_TRACE(engine ? "engine" : "thread workers");
    const int askedBefore = lookups.Asked("localhost");
    Control(engine);
    ASSERT_TRUE(RunAll(10000));
    for (int i = 0; i < 4; ++i) {
      const std::string portText = std::string(static_cast<std::size_t>(i), '0') + std::to_string(port);
      EXPECT_TRUE(IsTimeText(TextOf("localhost", portText)))
          << portText << ": " << TextOf("localhost", portText);
    }
    EXPECT_EQ(TextOf("none.test", "1080"), kStatusUnresolved);
    EXPECT_EQ(lookups.Asked("localhost") - askedBefore, 1);
  }

  // The same name without an address this time: nothing is asked of the proxy.
  lookups.Set("localhost", {});
  Control(5);
  ASSERT_TRUE(RunAll(10000));
  for (int r = 0; r < list.RowCount(); ++r) EXPECT_EQ(Text(r), kStatusUnresolved) << r;
}

TEST_F(NamedProxies, AStopEndsARunThatOnlyWaitsForNames) {
  qbtest::ShortTimeouts timeouts{30000};
  Resource("http://127.0.0.1:9/page", "x");
  for (int i = 0; i < 5; ++i) Add("stall-" + std::to_string(i) + ".test:8080@HTTP");
  for (int r = 0; r < list.RowCount(); ++r) list.SetTimeStatus(r, "1.5");
  for (int engine : {5, 0}) {
    SCOPED_TRACE(engine ? "engine" : "thread workers");
    CVerifyControl& c = Control(engine);
    c.OnVerifyAll();
    ASSERT_FALSE(c.IsIdle());
    EXPECT_EQ(c.AwaitingNames(), 5);
    EXPECT_EQ(c.BusyWorkers(), 0);
    QElapsedTimer clock;
    clock.start();
    c.RequestStop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.IsIdle(); }, 1000));
    EXPECT_LT(clock.elapsed(), 1000);
    // None started: each keeps its text.
    for (int r = 0; r < list.RowCount(); ++r) EXPECT_EQ(Text(r), "1.5") << r;
  }
}

}  // namespace
