// Health checks and closing the tunnels of an upstream set aside, with real peers on
// loopback: microsocks and tinyproxy as upstreams, the test origin's feature page as the
// check's resource, curl and raw sockets as clients. Waits are generous and assert the
// order of events, not their timing: the machine is shared.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EndpointClients.h"
#include "endpoint/Endpoint.h"
#include "endpoint/HealthCheck.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/LoopbackPeers.h"
#include "support/TempDir.h"

namespace {

using eptest::Curl;
using eptest::CurlResult;
using eptest::EchoClient;
using eptest::OwnSocks;
using eptest::OwnTinyproxy;
using eptest::RawClient;
using eptest::Via;
using qb::CEndpoint;
using qb::EndpointConfig;
using qb::UpstreamProxy;
using qb::UpstreamState;
using qbtest::Peer;
using qbtest::Peers;
using Clock = std::chrono::steady_clock;

UpstreamProxy Upstream(int port, const char* type, double seconds) {
  return UpstreamProxy{"127.0.0.1", std::to_string(port), type, std::nullopt, seconds};
}

// Quick checks against the test origin's feature page, never resting.
EndpointConfig Checking() {
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  config.checkUrl = Peers().OriginUrl("/feature.html");
  config.checkFeature = Peers().Feature();
  config.checkIntervalMs = 300;
  config.checkReplyMs = 3000;
  config.connectTimeoutMs = 1500;
  config.lazyAfterMs = 0;
  config.failuresToSetAside = 2;
  config.setAsideMs = 300;
  config.setAsideMaxMs = 1000;
  return config;
}

struct Announcements {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> calls;
  void Attach(CEndpoint& e) {
    e.OnSetAside([this](const std::string& line, const std::string& reason) {
      std::lock_guard lock(mutex);
      calls.emplace_back(line, reason);
    });
  }
  std::vector<std::pair<std::string, std::string>> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

std::string StateOf(CEndpoint& e, const std::string& line) {
  for (const UpstreamState& s : e.Upstreams()) {
    if (s.line == line) return s.state;
  }
  return "none";
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds most = std::chrono::seconds(30)) {
  const auto end = Clock::now() + most;
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return pred();
}

// A CONNECT tunnel through the endpoint to the origin, left open and idle.
bool OpenTunnel(RawClient& client) {
  const std::string target = "127.0.0.1:" + std::to_string(Peers().OriginPort());
  client.Send("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
  return client.ReceiveAnswer().starts_with("HTTP/1.1 200");
}

TEST(HealthCheckTarget, HttpUrlsOnly) {
  auto t = qb::ParseCheckTarget("http://Judge.test:8080/a/b?x=1#frag", "F");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->request.host, "Judge.test");
  EXPECT_EQ(t->request.port, 8080);
  EXPECT_EQ(t->request.head,
            "GET http://Judge.test:8080/a/b?x=1 HTTP/1.1\r\nHost: Judge.test:8080\r\nAccept: */*\r\n");
  EXPECT_EQ(t->request.OriginForm().substr(0, 23), "GET /a/b?x=1 HTTP/1.1\r\n");
  t = qb::ParseCheckTarget("http://[2001:db8::1]", "");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->request.host, "2001:db8::1");
  EXPECT_EQ(t->request.port, 80);
  EXPECT_EQ(t->request.head, "GET http://[2001:db8::1]/ HTTP/1.1\r\nHost: [2001:db8::1]\r\nAccept: */*\r\n");
  EXPECT_FALSE(qb::ParseCheckTarget("https://judge.test/", "F"));
  EXPECT_FALSE(qb::ParseCheckTarget("ftp://judge.test/", "F"));
  EXPECT_FALSE(qb::ParseCheckTarget("http://", "F"));
  EXPECT_FALSE(qb::ParseCheckTarget("http://judge.test:0/", "F"));
  EXPECT_FALSE(qb::ParseCheckTarget("http://judge.test:http/", "F"));
}

TEST(HealthCheck, StalledUpstreamIsSetAsideByItsChecksAndItsOpenTunnelClosed) {
  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks hung("127.0.0.51"), live("127.0.0.52");
  ASSERT_TRUE(hung.Ready() && live.Ready());
  const UpstreamProxy first = Upstream(hung.Port(), "SOCKS5", 0.1);
  const UpstreamProxy second = Upstream(live.Port(), "SOCKS5", 0.2);
  Announcements said;
  CEndpoint endpoint(Checking());
  said.Attach(endpoint);
  endpoint.SetPool({first, second});
  ASSERT_TRUE(endpoint.Start().ok());

  RawClient tunnel(endpoint.Port(), 60000);
  ASSERT_TRUE(tunnel.Connected());
  ASSERT_TRUE(OpenTunnel(tunnel));
  ASSERT_TRUE(WaitFor([&] {
    for (const UpstreamState& s : endpoint.Upstreams()) {
      if (s.line == first.Line() && s.uptime == 1) return true;
    }
    return false;
  })) << "the first proxy's checks pass";

  // It hangs: connections are taken by the kernel, and nothing answers.
  hung.Freeze(true);
  const auto frozenAt = Clock::now();
  ASSERT_TRUE(WaitFor([&] { return StateOf(endpoint, first.Line()) == "aside"; }));
  const auto asideAfter = Clock::now() - frozenAt;
  // The tunnel that hung with it is closed rather than left waiting.
  EXPECT_EQ(tunnel.Receive(), "");
  EXPECT_TRUE(tunnel.ClosedByPeer());
  EXPECT_EQ(endpoint.GetStats().tunnelsClosed, 1u);
  const auto calls = said.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].first, first.Line());
  EXPECT_NE(calls[0].second.find("health check"), std::string::npos) << calls[0].second;
  // Its checks failed, and a client goes through the other at once.
  const CurlResult r = Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), "127.0.0.52");
  EXPECT_EQ(endpoint.GetStats().failovers, 0u);
  for (const UpstreamState& s : endpoint.Upstreams()) {
    if (s.line != first.Line()) continue;
    EXPECT_LT(s.uptime, 1);
    EXPECT_GE(s.lastCheckAgoMs, 0);
  }
  std::printf("[ info ] a hung upstream was set aside %.1f s after it hung\n",
              std::chrono::duration<double>(asideAfter).count());

  // It answers again: a check brings it back, and the failover policy's first is used.
  hung.Freeze(false);
  ASSERT_TRUE(WaitFor([&] { return StateOf(endpoint, first.Line()) == "ok"; }));
  EXPECT_EQ(said.Calls().back(), std::make_pair(first.Line(), std::string()));
  const CurlResult back = Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo"));
  ASSERT_EQ(back.exitCode, 0) << back.err;
  EXPECT_EQ(EchoClient(back.out), "127.0.0.51");
}

TEST(HealthCheck, SilentUpstreamTimesOutAndAsideOnesComeBackOnlyByAPassingCheck) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnTinyproxy http("127.0.0.1");
  ASSERT_TRUE(http.Ready());
  // Accepts and never says a word.
  const UpstreamProxy silent = Upstream(peers.SilentPort(), "HTTP", 0.1);
  const UpstreamProxy live = Upstream(http.Port(), "HTTP", 0.2);
  EndpointConfig config = Checking();
  config.connectTimeoutMs = 800;
  CEndpoint endpoint(config);
  endpoint.SetPool({silent, live});
  ASSERT_TRUE(endpoint.Start().ok());
  ASSERT_TRUE(WaitFor([&] { return StateOf(endpoint, silent.Line()) == "aside"; }));
  // Its time aside runs out many times over while it stays silent: only a check could
  // bring it back, and each one fails.
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_EQ(StateOf(endpoint, silent.Line()), "aside");
  EXPECT_EQ(StateOf(endpoint, live.Line()), "ok");
  for (const UpstreamState& s : endpoint.Upstreams()) {
    if (s.line == silent.Line()) {
      EXPECT_EQ(s.uptime, 0);
      EXPECT_EQ(s.failuresTotal, 0u);  // no client ever tried it
    } else {
      EXPECT_EQ(s.uptime, 1);
      EXPECT_GT(s.latency, 0);
    }
  }
}

TEST(HealthCheck, UpstreamKilledUnderAClientLoopCostsTheClientsNothing) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  auto first = std::make_unique<OwnSocks>("127.0.0.53");
  OwnSocks second("127.0.0.54"), third("127.0.0.55");
  ASSERT_TRUE(first->Ready() && second.Ready() && third.Ready());
  const UpstreamProxy a = Upstream(first->Port(), "SOCKS5", 0.1);
  const UpstreamProxy b = Upstream(second.Port(), "SOCKS5", 0.2);
  const UpstreamProxy c = Upstream(third.Port(), "SOCKS5", 0.3);
  EndpointConfig config = Checking();
  config.policy = qb::EndpointPolicy::RoundRobin;
  CEndpoint endpoint(config);
  endpoint.SetPool({a, b, c});
  ASSERT_TRUE(endpoint.Start().ok());
  int failed = 0;
  std::map<std::string, int> exits;
  for (int i = 0; i < 30; ++i) {
    if (i == 10) first.reset();  // killed, its port refusing from now on
    const CurlResult r = Curl(endpoint.Port(), i % 2 ? Via::Socks5 : Via::Request, peers.OriginUrl("/echo"));
    if (r.exitCode != 0) ++failed;
    ++exits[EchoClient(r.out)];
  }
  EXPECT_EQ(failed, 0);
  EXPECT_GE(exits["127.0.0.54"], 10);
  EXPECT_GE(exits["127.0.0.55"], 10);
  EXPECT_TRUE(WaitFor([&] { return StateOf(endpoint, a.Line()) == "aside"; }));

  // It comes back on its port: a check takes it back.
  OwnSocks again("127.0.0.53", "127.0.0.1", std::stoi(a.port));
  ASSERT_TRUE(again.Ready());
  EXPECT_TRUE(WaitFor([&] { return StateOf(endpoint, a.Line()) == "ok"; }));
}

TEST(HealthCheck, LazyChecksRestWhileNoClientComes) {
  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks socks("127.0.0.56");
  ASSERT_TRUE(socks.Ready());
  EndpointConfig config = Checking();
  config.lazyAfterMs = 3500;
  CEndpoint endpoint(config);
  endpoint.SetPool({Upstream(socks.Port(), "SOCKS5", 0.1)});
  ASSERT_TRUE(endpoint.Start().ok());
  // No client yet: nothing is checked. A window asking for the status is no client.
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(qb::ProbeEndpoint({"127.0.0.1", endpoint.Port()}, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(endpoint.GetStats().checks, 0u);
  const CurlResult r = Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(WaitFor([&] { return endpoint.GetStats().checks >= 2; }));
  // The client went: after the lazy window the checks stop.
  std::this_thread::sleep_for(std::chrono::milliseconds(5000));
  const uint64_t rested = endpoint.GetStats().checks;
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_EQ(endpoint.GetStats().checks, rested);
  // Asked for, a check runs all the same.
  EXPECT_TRUE(endpoint.CheckNow(""));
  EXPECT_TRUE(WaitFor([&] { return endpoint.GetStats().checks == rested + 1; }));
  EXPECT_FALSE(endpoint.CheckNow("127.0.0.1:1@SOCKS5"));
}

// Every way the endpoint speaks to an upstream is checked the way a client's connection
// would go: dante over SOCKS5 and SOCKS4, the shared tinyproxy over HTTP, and a port
// that refuses.
TEST(HealthCheck, DanteAndTinyproxyPassTheirChecksAndARefusingPortIsSetAside) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  const UpstreamProxy dead = Upstream(peers.DeadPort(), "SOCKS5", 0.1);
  const UpstreamProxy socks5 = Upstream(peers.SocksPort(), "SOCKS5", 0.2);
  const UpstreamProxy socks4 = Upstream(peers.SocksPort(), "SOCKS4", 0.3);
  const UpstreamProxy http = Upstream(peers.HttpProxyPort(), "HTTP", 0.4);
  EndpointConfig config = Checking();
  config.policy = qb::EndpointPolicy::RoundRobin;
  CEndpoint endpoint(config);
  endpoint.SetPool({dead, socks5, socks4, http});
  ASSERT_TRUE(endpoint.Start().ok());
  // A client goes through each in turn, so all four are in use.
  for (int i = 0; i < 4; ++i) {
    const CurlResult r = Curl(endpoint.Port(), Via::Socks5, peers.OriginUrl("/echo"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  const auto checked = [&] {
    int passed = 0;
    for (const UpstreamState& s : endpoint.Upstreams()) passed += s.uptime == 1 && s.state == "ok";
    return passed == 3 && StateOf(endpoint, dead.Line()) == "aside";
  };
  ASSERT_TRUE(WaitFor(checked));
  for (const UpstreamState& s : endpoint.Upstreams()) {
    if (s.line == dead.Line()) {
      EXPECT_EQ(s.uptime, 0) << s.line;
    } else {
      EXPECT_GT(s.latency, 0) << s.line;
      EXPECT_GE(s.lastCheckAgoMs, 0) << s.line;
    }
  }
}

// A slot a check leaves is taken again at once, not at the next second: with one check
// at a time, every upstream in use is still checked within about an interval.
TEST(HealthCheck, ManyUpstreamsInUseAreEachCheckedWithinAnInterval) {
  QB_REQUIRE_PEER(Peer::Origin);
  std::vector<std::unique_ptr<OwnSocks>> socks;
  std::vector<UpstreamProxy> pool;
  for (int i = 0; i < 6; ++i) {
    socks.push_back(std::make_unique<OwnSocks>("127.0.0." + std::to_string(101 + i)));
    ASSERT_TRUE(socks.back()->Ready());
    pool.push_back(Upstream(socks.back()->Port(), "SOCKS5", 0.1 + 0.01 * i));
  }
  EndpointConfig config = Checking();
  config.policy = qb::EndpointPolicy::RoundRobin;
  config.checkIntervalMs = 500;
  config.lazyAfterMs = 60000;
  config.maxChecks = 1;
  CEndpoint endpoint(config);
  endpoint.SetPool(pool);
  ASSERT_TRUE(endpoint.Start().ok());
  // A client puts every upstream in use.
  for (size_t i = 0; i < pool.size(); ++i) {
    ASSERT_EQ(Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo")).exitCode, 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto states = endpoint.Upstreams();
  ASSERT_EQ(states.size(), pool.size());
  for (const UpstreamState& s : states) {
    EXPECT_GE(s.lastCheckAgoMs, 0) << s.line;
    EXPECT_LE(s.lastCheckAgoMs, 1200) << s.line;
  }
}

TEST(HealthCheck, CheckNowNeedsAResource) {
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  CEndpoint endpoint(config);
  const UpstreamProxy u = Upstream(1080, "SOCKS5", 0.1);
  endpoint.SetPool({u});
  ASSERT_TRUE(endpoint.Start().ok());
  EXPECT_FALSE(endpoint.CheckNow(u.Line()));
  EXPECT_EQ(endpoint.GetStats().checks, 0u);
}

TEST(HealthCheck, FastestStaysWithinToleranceAndLeavesBeyondIt) {
  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks a("127.0.0.57"), b("127.0.0.58");
  ASSERT_TRUE(a.Ready() && b.Ready());
  EndpointConfig config = Checking();
  config.policy = qb::EndpointPolicy::Fastest;
  config.toleranceMs = 1000;
  // Loopback times differ by microseconds: within the tolerance every connection stays
  // with the first chosen, whatever the checks and the traffic measure.
  CEndpoint endpoint(config);
  endpoint.SetPool({Upstream(a.Port(), "SOCKS5", 0.011), Upstream(b.Port(), "SOCKS5", 0.010)});
  ASSERT_TRUE(endpoint.Start().ok());
  std::map<std::string, int> exits;
  for (int i = 0; i < 12; ++i) {
    ++exits[EchoClient(Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo")).out)];
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(exits, (std::map<std::string, int>{{"127.0.0.58", 12}}));
  EXPECT_GT(endpoint.GetStats().checks, 0u);
  // The one used hangs: its checks fail, it is set aside, and the other takes over.
  b.Freeze(true);
  ASSERT_TRUE(WaitFor(
      [&] { return StateOf(endpoint, "127.0.0.1:" + std::to_string(b.Port()) + "@SOCKS5") == "aside"; }));
  EXPECT_EQ(EchoClient(Curl(endpoint.Port(), Via::Socks5, Peers().OriginUrl("/echo")).out), "127.0.0.57");
  b.Freeze(false);
}

TEST(CloseTunnels, MarkedBadClosesItsTunnelsUnlessTurnedOff) {
  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks one("127.0.0.59"), two("127.0.0.60");
  ASSERT_TRUE(one.Ready() && two.Ready());
  const UpstreamProxy a = Upstream(one.Port(), "SOCKS5", 0.1);
  const UpstreamProxy b = Upstream(two.Port(), "SOCKS5", 0.2);
  for (const bool close : {true, false}) {
    SCOPED_TRACE(close ? "closing" : "keeping");
    EndpointConfig config;
    config.listen = {"127.0.0.1", 0};
    config.closeTunnels = close;
    CEndpoint endpoint(config);
    endpoint.SetPool({a, b});
    ASSERT_TRUE(endpoint.Start().ok());
    RawClient throughA(endpoint.Port(), 5000), alsoA(endpoint.Port(), 5000);
    ASSERT_TRUE(OpenTunnel(throughA));
    ASSERT_TRUE(OpenTunnel(alsoA));
    ASSERT_TRUE(endpoint.MarkBad(a.Line()));
    // One through the other upstream is never touched.
    RawClient throughB(endpoint.Port(), 5000);
    ASSERT_TRUE(OpenTunnel(throughB));
    throughB.Send("GET /echo HTTP/1.0\r\n\r\n");
    EXPECT_EQ(EchoClient(throughB.Receive()), "127.0.0.60");
    if (close) {
      EXPECT_EQ(throughA.Receive(), "");
      EXPECT_TRUE(throughA.ClosedByPeer());
      EXPECT_EQ(endpoint.GetStats().tunnelsClosed, 2u);
    } else {
      throughA.Send("GET /echo HTTP/1.0\r\n\r\n");
      EXPECT_EQ(EchoClient(throughA.Receive()), "127.0.0.59");
      EXPECT_EQ(endpoint.GetStats().tunnelsClosed, 0u);
    }
  }
}

}  // namespace

namespace {

TEST(ServeHealthChecks, ServeChecksAgainstTheTickedResourceAndSaysWhatItSetsAside) {
  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks hung("127.0.0.61"), live("127.0.0.62");
  ASSERT_TRUE(hung.Ready() && live.Ready());
  hung.Freeze(true);
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("Proxies.pro"), "127.0.0.1:" + std::to_string(hung.Port()) + "@SOCKS5$0.1\r\n" +
                                                 "127.0.0.1:" + std::to_string(live.Port()) +
                                                 "@SOCKS5$0.2\r\n");
  qb::CSettings settings;
  qb::AddVerifySource(settings, "local", Peers().OriginUrl("/feature.html"), Peers().Feature(), 1);
  settings.m_nConTimeout = 1;
  qbtest::WriteFile(dir.File("Setting.dat"), qb::FormatSettingsFile(settings));
  const int port = eptest::FreePort();
  const char* cli = std::getenv("QB_CLI");
  QProcess serve;
  eptest::EndWithParent(serve);
  serve.start(cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli"),
              {"serve", "--data-dir", QString::fromStdString(dir.Path()), "--listen",
               "127.0.0.1:" + QString::number(port), "--check-interval", "1", "--lazy-after", "0",
               "--failures", "2"});
  ASSERT_TRUE(serve.waitForStarted(10000));
  // No client at all: the checks alone find the hung one.
  std::string err;
  const std::string wanted = "127.0.0.1:" + std::to_string(hung.Port()) + "@SOCKS5 set aside: health check:";
  for (int i = 0; i < 300 && err.find(wanted) == std::string::npos; ++i) {
    serve.waitForReadyRead(100);
    err += serve.readAllStandardError().toStdString();
  }
  EXPECT_NE(err.find(wanted), std::string::npos) << err;
  EXPECT_EQ(err.find("127.0.0.1:" + std::to_string(live.Port()) + "@SOCKS5 set aside"), std::string::npos)
      << err;
  hung.Freeze(false);
  serve.terminate();
  EXPECT_TRUE(serve.waitForFinished(10000));
}

}  // namespace
