// The check engine against the thread worker: the same tasks through the same loopback
// peers must give the same results, with every task of the engine in flight at once.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <condition_variable>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "support/LoopbackPeers.h"
#include "support/PageOrigin.h"
#include "support/ShortTimeouts.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

// Runs tasks on an engine and waits for all their results, by task id.
std::map<std::uint64_t, VerifyResult> RunOnEngine(const std::vector<VerifyTask>& tasks, int waitMs = 30000) {
  std::mutex lock;
  std::condition_variable arrived;
  std::map<std::uint64_t, VerifyResult> results;
  {
    CVerifyEngine engine([&](VerifyResult r) {
      std::lock_guard<std::mutex> g(lock);
      results[r.taskId] = std::move(r);
      arrived.notify_all();
    });
    EXPECT_TRUE(engine.Valid());
    for (const VerifyTask& t : tasks) engine.Submit(t);
    std::unique_lock<std::mutex> g(lock);
    arrived.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return results.size() == tasks.size(); });
  }
  return results;
}

// The measured times differ from run to run; everything else must not.
std::vector<std::string> WithoutTimes(std::vector<std::string> texts) {
  static const std::regex time("\\([0-9]+\\.[0-9]\\)");
  for (std::string& t : texts) t = std::regex_replace(t, time, "(t)");
  return texts;
}

std::string Line(int port, const char* type) {
  return "127.0.0.1:" + std::to_string(port) + "@" + type;
}

TEST(VerifyEngine, GivesTheThreadWorkersResultsOnEveryRoute) {
  for (Peer peer : {Peer::HttpProxy, Peer::Socks, Peer::Socks5Only, Peer::Squid, Peer::Ftp, Peer::Origin,
                    Peer::HttpProxyAuth, Peer::Socks5Auth})
    QB_REQUIRE_PEER(peer);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{3000};
  g_nVerifyTimeoutMs = 1000;

  qbtest::PageOrigin origin;
  // "测试" in the legacy encoding, on a page that says nothing of its charset.
  origin.Serve("/legacy.html", std::string("<html><body>\r\n\xB2\xE2\xCA\xD4\r\n</body></html>\r\n"));
  origin.Serve("/stall.html", qbtest::OriginPage{"<html><body>\r\n", qbtest::OriginPage::Stall});
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const std::string judgeUrl = "http://127.0.0.1:" + std::to_string(judge.Port()) + "/";

  struct Case {
    std::string line, url, feature;
    // No log-on unless the case gives one.
    std::string user = {}, password = {};
    bool capture = false;
  };
  const std::string feature = p.OriginUrl("/feature.html");
  const std::vector<Case> cases = {
      {Line(p.HttpProxyPort(), "HTTP"), feature, p.Feature(), {}, {}, true},
      {Line(p.HttpProxyPort(), "HTTPS"), p.OriginUrl("/after.html"), p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), origin.Url("/legacy.html"), "测试"},
      {Line(p.HttpProxyPort(), "HTTP"), origin.Url("/stall.html"), p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), "ftp://127.0.0.1/", ""},
      {Line(p.HttpProxyPort(), "GOPHER"), feature, p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), "gopher://127.0.0.1/", ""},
      {Line(p.DeadPort(), "HTTP"), feature, p.Feature()},
      {Line(p.DeadPort(), "SOCKS5"), feature, p.Feature()},
      {Line(p.SilentPort(), "HTTP"), feature, p.Feature()},
      {Line(p.SocksPort(), "SOCKS4"), feature, p.Feature()},
      {Line(p.Socks5OnlyPort(), "SOCKS4"), feature, p.Feature()},
      {Line(p.Socks5AuthPort(), "SOCKS5"), feature, p.Feature(), p.ProxyUser(), p.ProxyPassword()},
      {Line(p.Socks5AuthPort(), "SOCKS5"), feature, p.Feature(), p.ProxyUser(), "wrong"},
      {Line(p.HttpProxyAuthPort(), "HTTP"), feature, p.Feature()},
      {Line(p.HttpProxyAuthPort(), "HTTP"), feature, p.Feature(), p.ProxyUser(), p.ProxyPassword()},
      {Line(p.SquidPort(), "FTP"), p.FtpUrl(), ""},
      {Line(p.SquidPort(), "FTP"), p.FtpUrl(p.FtpUser(), "wrong"), ""},
      {Line(p.SocksPort(), "SOCKS5"), p.FtpUrl(p.FtpUser(), p.FtpPassword()), ""},
      {Line(p.SquidPort(), "GOPHER"), p.FtpUrl(), ""},
      // Judges: the user's own addresses are learned once for all of them.
      {Line(p.SquidPort(), "HTTP"), judgeUrl, "REMOTE_ADDR"},
      {Line(p.HttpProxyPort(), "HTTP"), judgeUrl, "REMOTE_ADDR"},
      {Line(p.SocksPort(), "SOCKS5"), judgeUrl, "REMOTE_ADDR"},
  };
  std::vector<VerifyTask> tasks;
  for (const Case& c : cases) {
    VerifyTask t = qbtest::TaskFor(c.line, c.url, c.feature);
    t.id = tasks.size() + 1;
    t.row = static_cast<int>(tasks.size());
    t.proxyUser = c.user;
    t.proxyPassword = c.password;
    t.capturePage = c.capture;
    tasks.push_back(std::move(t));
  }

  std::vector<VerifyResult> byThread;
  {
    auto own = std::make_shared<COwnAddresses>();
    CVerifyProxyThread worker;
    for (VerifyTask t : tasks) {
      t.ownAddresses = own;
      byThread.push_back(worker.Verify(t));
    }
  }
  auto own = std::make_shared<COwnAddresses>();
  for (VerifyTask& t : tasks) t.ownAddresses = own;
  const std::size_t judgeRequests = judge.Served();
  const std::map<std::uint64_t, VerifyResult> byEngine = RunOnEngine(tasks);
  ASSERT_EQ(byEngine.size(), tasks.size());
  // Three proxies and one direct request, however many judge tasks ran at once.
  EXPECT_EQ(judge.Served() - judgeRequests, 4u);

  std::map<int, int> statuses;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const VerifyResult& a = byThread[i];
    const VerifyResult& b = byEngine.at(tasks[i].id);
    const std::string what = cases[i].line + " " + cases[i].url;
    EXPECT_EQ(b.row, tasks[i].row) << what;
    EXPECT_EQ(a.status, b.status) << what;
    EXPECT_EQ(WithoutTimes(a.texts), WithoutTimes(b.texts)) << what;
    EXPECT_EQ(a.page, b.page) << what;
    EXPECT_EQ(a.anonymity, b.anonymity) << what;
    EXPECT_EQ(a.exitAddress, b.exitAddress) << what;
    EXPECT_EQ(a.status == VERIFY_OK || a.status == VERIFY_MISMATCH, b.seconds < 50.0) << what;
    ++statuses[b.status];
  }
  // The cases reach every result a proxy can have, so agreeing means something.
  for (int status : {VERIFY_OK, VERIFY_MISMATCH, VERIFY_UNSUPPORTED, VERIFY_BADURL, VERIFY_PROXYFAILED,
                     VERIFY_TIMEOUT, VERIFY_PASSWORD})
    EXPECT_GT(statuses[status], 0) << status;
  EXPECT_EQ(byEngine.at(tasks[2].id).status, VERIFY_OK);
  EXPECT_EQ(byEngine.at(tasks[20].id).anonymity, "transparent");
  EXPECT_EQ(byEngine.at(tasks[22].id).anonymity, "elite");
}

// The reply time-out counts in milliseconds in both drivers: libcurl's speed check
// would round 0.3 s up to a whole second and overshoot that.
TEST(VerifyEngine, ReplyTimeOutIsNotRoundedToSecondsAndAbortEndsAtOnce) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{2000};
  g_nVerifyTimeoutMs = 300;
  VerifyTask t = qbtest::TaskFor(Line(p.SilentPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
  t.id = 1;

  QElapsedTimer clock;
  clock.start();
  CVerifyProxyThread worker;
  const VerifyResult r = worker.Verify(t);
  EXPECT_EQ(r.status, VERIFY_TIMEOUT);
  EXPECT_LT(clock.elapsed(), 900);
  EXPECT_GE(clock.elapsed(), 250);

  clock.restart();
  const auto results = RunOnEngine({t});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results.at(1).status, VERIFY_TIMEOUT);
  EXPECT_LT(clock.elapsed(), 900);
  EXPECT_GE(clock.elapsed(), 250);

  // Hung checks end as soon as the engine is told to give them up.
  g_nVerifyTimeoutMs = 30000;
  std::vector<VerifyTask> hung;
  for (std::uint64_t id = 1; id <= 20; ++id) {
    VerifyTask h = qbtest::TaskFor(Line(p.SilentPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
    h.id = id;
    hung.push_back(h);
  }
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<VerifyResult> done;
  CVerifyEngine engine([&](VerifyResult res) {
    std::lock_guard<std::mutex> g(lock);
    done.push_back(std::move(res));
    arrived.notify_all();
  });
  for (const VerifyTask& h : hung) engine.Submit(h);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(engine.InFlight(), 20);
  clock.restart();
  engine.Abort();
  std::unique_lock<std::mutex> g(lock);
  EXPECT_TRUE(arrived.wait_for(g, std::chrono::seconds(2), [&] { return done.size() == hung.size(); }));
  EXPECT_LT(clock.elapsed(), 500);
  for (const VerifyResult& res : done) EXPECT_EQ(res.status, VERIFY_PROXYFAILED);
}

}  // namespace
