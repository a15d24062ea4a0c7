// Every route and result of the worker, through real proxies on loopback.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "verify/VerifyProxyThread.h"

#include "support/ShortTimeouts.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

// Short time-outs, restored after each test.
class WorkerRoutes : public ::testing::Test {
 protected:
  struct Outcome {
    int status = -1;
    double time = 0;
    std::vector<std::string> texts;
    double wallSeconds = 0;
    std::string page;
  };

  // One task on the calling thread, as the worker's thread would run it.
  Outcome Verify(const VerifyTask& task) {
    CVerifyProxyThread w;
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    const VerifyResult r = w.Verify(task);
    o.wallSeconds = clock.elapsed() / 1000.0;
    o.status = r.status;
    o.time = r.seconds;
    o.texts = r.texts;
    o.page = r.page;
    return o;
  }
  Outcome Verify(const std::string& proxyLine, const std::string& url, const std::string& feature) {
    VerifyTask t = qbtest::TaskFor(proxyLine, url, feature);
    t.capturePage = capturePage;
    t.transferCapMs = transferCapMs;
    return Verify(t);
  }

  bool capturePage = false;
  int transferCapMs = kDefaultVerifyCapMs;

  static std::string Proxy(int port, const char* type) {
    return "127.0.0.1:" + std::to_string(port) + "@" + type;
  }

 private:
  qbtest::ShortTimeouts m_timeouts;
};

TEST_F(WorkerRoutes, HttpProxyFindsTheFeatureOnlyBeforeTheBodyEnds) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  const std::string proxy = Proxy(p.HttpProxyPort(), "HTTP");

  Outcome ok = Verify(proxy, p.OriginUrl("/feature.html"), p.Feature());
  EXPECT_EQ(ok.status, VERIFY_OK);
  ASSERT_EQ(ok.texts.size(), 1u);
  EXPECT_EQ(ok.texts[0].rfind("可用(", 0), 0u) << ok.texts[0];
  EXPECT_LT(ok.time, 2.0);

  // The feature on the line that holds "</body>" still counts.
  EXPECT_EQ(Verify(proxy, p.OriginUrl("/sameline.html"), p.Feature()).status, VERIFY_OK);

  for (const char* page : {"/after.html", "/split.html", "/empty.html"}) {
    Outcome o = Verify(proxy, p.OriginUrl(page), p.Feature());
    EXPECT_EQ(o.status, VERIFY_MISMATCH) << page;
    ASSERT_EQ(o.texts.size(), 1u) << page;
    EXPECT_EQ(o.texts[0].rfind("不匹配(", 0), 0u) << o.texts[0];
    EXPECT_LT(o.time, 50.0) << page;  // a time was measured
  }

  // The proxy's own error page for a missing page is a mismatch, not a failure.
  EXPECT_EQ(Verify(proxy, p.OriginUrl("/no-such-page"), p.Feature()).status, VERIFY_MISMATCH);
}

// The origin's /echo page names the address a request came from; each proxy leaves
// from its own, so finding it proves that the request went through that proxy.
TEST_F(WorkerRoutes, EachTypeTakesItsOwnProxyProtocol) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  const std::string echo = p.OriginUrl("/echo");
  const std::string viaHttp = "client=" + p.OutAddress(Peer::HttpProxy);
  const std::string viaSocks = "client=" + p.OutAddress(Peer::Socks);

  EXPECT_EQ(Verify(Proxy(p.HttpProxyPort(), "HTTP"), echo, viaHttp).status, VERIFY_OK);
  EXPECT_EQ(Verify(Proxy(p.HttpProxyPort(), "HTTPS"), echo, viaHttp).status, VERIFY_OK);
  EXPECT_EQ(Verify(Proxy(p.SocksPort(), "SOCKS4"), echo, viaSocks).status, VERIFY_OK);
  EXPECT_EQ(Verify(Proxy(p.SocksPort(), "SOCKS5"), echo, viaSocks).status, VERIFY_OK);
  // The bare SOCKS type of the worker speaks SOCKS4.
  {
    VerifyTask t = qbtest::TaskFor(Proxy(p.SocksPort(), "SOCKS4"), echo, viaSocks);
    t.kind = ProxyKind::Socks;
    EXPECT_EQ(Verify(t).status, VERIFY_OK);
  }
  // A SOCKS proxy offered as an HTTP proxy does not carry the request.
  Outcome wrong = Verify(Proxy(p.SocksPort(), "HTTP"), echo, viaSocks);
  EXPECT_EQ(wrong.status, VERIFY_PROXYFAILED);
}

TEST_F(WorkerRoutes, Socks5OnlyProxyRefusesSocks4) {
  QB_REQUIRE_PEER(Peer::Socks5Only);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Outcome four = Verify(Proxy(p.Socks5OnlyPort(), "SOCKS4"), p.OriginUrl("/feature.html"), p.Feature());
  EXPECT_EQ(four.status, VERIFY_PROXYFAILED);
  ASSERT_EQ(four.texts.size(), 1u);
  EXPECT_EQ(four.texts[0], "无法连接代理");
  EXPECT_EQ(Verify(Proxy(p.Socks5OnlyPort(), "SOCKS5"), p.OriginUrl("/feature.html"), p.Feature()).status,
            VERIFY_OK);
}

TEST_F(WorkerRoutes, FtpLogOnThroughSquidAndThroughSocks) {
  QB_REQUIRE_PEER(Peer::Ftp);
  QB_REQUIRE_PEER(Peer::Squid);
  QB_REQUIRE_PEER(Peer::Socks);
  const auto& p = Peers();
  const std::string anon = p.FtpUrl();
  const std::string user = p.FtpUrl(p.FtpUser(), p.FtpPassword());
  const std::string bad = p.FtpUrl(p.FtpUser(), "wrong");

  for (const std::string& proxy :
       {Proxy(p.SquidPort(), "FTP"), Proxy(p.SocksPort(), "SOCKS5"), Proxy(p.SocksPort(), "SOCKS4")}) {
    Outcome o = Verify(proxy, anon, "");
    EXPECT_EQ(o.status, VERIFY_OK) << proxy;
    ASSERT_EQ(o.texts.size(), 2u) << proxy;
    EXPECT_EQ(o.texts[0], "连接站点1    (" + anon + ")");
    EXPECT_EQ(o.texts[1].rfind("可用(", 0), 0u) << o.texts[1];

    EXPECT_EQ(Verify(proxy, user, "").status, VERIFY_OK) << proxy;

    Outcome refused = Verify(proxy, bad, "");
    EXPECT_EQ(refused.status, VERIFY_PASSWORD) << proxy;
    ASSERT_FALSE(refused.texts.empty());
    EXPECT_EQ(refused.texts.back(), "密码错误");
    EXPECT_EQ(refused.time, 50.0);
  }
}

TEST_F(WorkerRoutes, DeadAndSilentProxiesFail) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Outcome dead = Verify(Proxy(p.DeadPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
  EXPECT_EQ(dead.status, VERIFY_PROXYFAILED);
  EXPECT_EQ(dead.texts, std::vector<std::string>{"无法连接代理"});
  EXPECT_LT(dead.wallSeconds, 1.0);

  Outcome deadFtp = Verify(Proxy(p.DeadPort(), "FTP"), "ftp://127.0.0.1:21/", "");
  EXPECT_EQ(deadFtp.status, VERIFY_PROXYFAILED);
  EXPECT_EQ(deadFtp.texts.back(), "代理连接失败");

  // A proxy that accepts and never answers times out after the reply time-out: it is
  // there, unlike the dead one, and says so.
  g_nVerifyTimeoutMs = 1000;
  Outcome silent = Verify(Proxy(p.SilentPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
  EXPECT_EQ(silent.status, VERIFY_TIMEOUT);
  EXPECT_EQ(silent.texts, std::vector<std::string>{"代理响应超时"});
  EXPECT_GE(silent.wallSeconds, 0.9);
  EXPECT_LT(silent.wallSeconds, 4.0);
}

TEST_F(WorkerRoutes, HttpProxyWithFtpUrlIsUnsupportedAndSilent) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& p = Peers();
  Outcome o = Verify(Proxy(p.HttpProxyPort(), "HTTP"), "ftp://127.0.0.1/", "");
  EXPECT_EQ(o.status, VERIFY_UNSUPPORTED);
  EXPECT_TRUE(o.texts.empty());
}

// A GOPHER proxy is tried as an HTTP proxy and then as a proxy for every protocol;
// the second result is the one that stands.
TEST_F(WorkerRoutes, GopherIsTestedTwiceAndTheSecondResultStands) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Squid);
  QB_REQUIRE_PEER(Peer::Ftp);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();

  Outcome page = Verify(Proxy(p.HttpProxyPort(), "GOPHER"), p.OriginUrl("/feature.html"), p.Feature());
  EXPECT_EQ(page.status, VERIFY_OK);
  ASSERT_EQ(page.texts.size(), 2u);  // one text per fetch
  EXPECT_EQ(page.texts[0].rfind("可用(", 0), 0u);
  EXPECT_EQ(page.texts[1].rfind("可用(", 0), 0u);

  // ftp: the HTTP route cannot carry it (no text), the second route logs on.
  Outcome ftp = Verify(Proxy(p.SquidPort(), "GOPHER"), p.FtpUrl(), "");
  EXPECT_EQ(ftp.status, VERIFY_OK);
  ASSERT_EQ(ftp.texts.size(), 2u);
  EXPECT_EQ(ftp.texts[0].rfind("连接站点1", 0), 0u);

  // An HTTP proxy that does not serve ftp: the second route's failure stands, not the
  // first route's "unsupported".
  Outcome noFtp = Verify(Proxy(p.HttpProxyPort(), "GOPHER"), p.FtpUrl(), "");
  EXPECT_EQ(noFtp.status, VERIFY_PROXYFAILED);
}

TEST_F(WorkerRoutes, TimeRunsFromRequestToTheEndOfTheBody) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  // The trickled page ends its body after about 45 bytes, one every 30 ms; what comes
  // after "</body>" is never waited for.
  Outcome o = Verify(Proxy(p.HttpProxyPort(), "HTTP"), p.OriginUrl("/trickle?interval=0.03"), p.Feature());
  EXPECT_EQ(o.status, VERIFY_OK);
  EXPECT_GT(o.time, 1.0);
  EXPECT_LT(o.time, 3.0);
  EXPECT_LE(o.time, o.wallSeconds + 0.001);
  char expected[32];
  std::snprintf(expected, sizeof expected, "可用(%.1f)", o.time);
  EXPECT_EQ(o.texts.back(), expected);
}

TEST_F(WorkerRoutes, SlowRepliesEndByTheReplyTimeOutOrTheOverallCap) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  const std::string proxy = Proxy(p.HttpProxyPort(), "HTTP");
  g_nVerifyTimeoutMs = 1000;
  // No byte for longer than the reply time-out.
  Outcome stalled = Verify(proxy, p.OriginUrl("/trickle?interval=5"), p.Feature());
  EXPECT_EQ(stalled.status, VERIFY_TIMEOUT);
  EXPECT_LT(stalled.wallSeconds, 4.5);
  Outcome hang = Verify(proxy, p.OriginUrl("/hang"), p.Feature());
  EXPECT_EQ(hang.status, VERIFY_TIMEOUT);
  EXPECT_LT(hang.wallSeconds, 4.5);

  // Bytes keep coming, but the whole transfer may not outlast the cap. (libcurl's
  // speed check needs a second or two to measure a trickle, so the reply time-out is
  // raised out of its way.)
  g_nVerifyTimeoutMs = 3000;
  transferCapMs = 1500;
  Outcome steady = Verify(proxy, p.OriginUrl("/trickle?interval=0.2"), p.Feature());
  EXPECT_EQ(steady.status, VERIFY_TIMEOUT);
  EXPECT_GE(steady.wallSeconds, 1.4);
  EXPECT_LT(steady.wallSeconds, 3.0);
}

TEST_F(WorkerRoutes, ProxyVariablesOfTheEnvironmentChangeNothing) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  ScopedEnv a("no_proxy", "127.0.0.1,localhost");
  ScopedEnv b("NO_PROXY", "127.0.0.1,localhost");
  ScopedEnv c("http_proxy", QByteArray::fromStdString(p.HttpProxyUrl()));
  ScopedEnv d("all_proxy", QByteArray::fromStdString(p.HttpProxyUrl()));
  // Were no_proxy honoured, the dead proxy would be bypassed and the page found.
  EXPECT_EQ(Verify(Proxy(p.DeadPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature()).status,
            VERIFY_PROXYFAILED);
  EXPECT_EQ(Verify(Proxy(p.DeadPort(), "SOCKS5"), p.OriginUrl("/feature.html"), p.Feature()).status,
            VERIFY_PROXYFAILED);
  // Were http_proxy or all_proxy used, the request would leave from tinyproxy.
  const std::string viaSocks = "client=" + p.OutAddress(Peer::Socks);
  EXPECT_EQ(Verify(Proxy(p.SocksPort(), "SOCKS5"), p.OriginUrl("/echo"), viaSocks).status, VERIFY_OK);
}

TEST_F(WorkerRoutes, CapturedPageStopsAfterTheBody) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  capturePage = true;
  Outcome o = Verify(Proxy(p.HttpProxyPort(), "HTTP"), p.OriginUrl("/after.html"), p.Feature());
  EXPECT_EQ(o.status, VERIFY_MISMATCH);
  // Each line keeps its CR and gets CR LF appended; nothing after the "</body>" line.
  EXPECT_EQ(
      o.page,
      "<html><head><title>after</title></head>\r\r\n<body>\r\r\n<p>nothing here</p>\r\r\n</body>\r\r\n");
  capturePage = false;
  EXPECT_EQ(Verify(Proxy(p.HttpProxyPort(), "HTTP"), p.OriginUrl("/after.html"), p.Feature()).page, "");
}

// A worker on its own thread: the task runs there, the result comes back queued to
// this thread tagged with the task, and Abort ends a transfer at once.
TEST_F(WorkerRoutes, ThreadedWorkerReportsAndAbortsAtOnce) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  g_nVerifyTimeoutMs = 30000;
  QObject receiver;
  auto* w = new CVerifyProxyThread;
  std::vector<VerifyResult> done;
  QThread* reportThread = nullptr;
  QObject::connect(
      w, &CVerifyProxyThread::Finished, &receiver,
      [&](const VerifyResult& r) {
        done.push_back(r);
        reportThread = QThread::currentThread();
      },
      Qt::QueuedConnection);
  VerifyTask t = qbtest::TaskFor(Proxy(p.HttpProxyPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
  t.id = 9;
  t.slot = 4;
  t.row = 17;
  const int liveBefore = CVerifyProxyThread::LiveThreadCount();
  EXPECT_FALSE(w->Post(t));  // no thread yet
  ASSERT_TRUE(w->CreateThread());
  EXPECT_EQ(CVerifyProxyThread::LiveThreadCount(), liveBefore + 1);
  ASSERT_TRUE(w->Post(t));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !done.empty(); }, 5000));
  EXPECT_EQ(done[0].taskId, 9u);
  EXPECT_EQ(done[0].slot, 4);
  EXPECT_EQ(done[0].row, 17);
  EXPECT_EQ(done[0].status, VERIFY_OK);
  EXPECT_EQ(reportThread, QThread::currentThread());

  // A request that would hang for 30 s ends as soon as it is aborted.
  t.id = 10;
  t.resource.url = p.OriginUrl("/hang");
  ASSERT_TRUE(w->Post(t));
  QTest::qWait(300);
  EXPECT_EQ(done.size(), 1u);
  QElapsedTimer clock;
  clock.start();
  w->Abort();
  ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 2; }, 2000));
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_EQ(done[1].taskId, 10u);
  EXPECT_EQ(done[1].status, VERIFY_PROXYFAILED);

  // Quit ends the thread, and the object frees itself.
  QPointer<CVerifyProxyThread> alive(w);
  ASSERT_TRUE(w->PostQuit());
  ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return CVerifyProxyThread::LiveThreadCount() == liveBefore; }, 2000));
}

}  // namespace
