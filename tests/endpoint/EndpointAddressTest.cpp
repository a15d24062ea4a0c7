// The endpoint with clients and proxies on IPv6 loopback, proxies named by host names,
// and names whose lookups hang, fail or change their answer. Names are either the
// test's own (EndpointConfig::lookupName), "localhost", or names of a hosts file that
// a private mount namespace of the test puts in place of the system's, with a name
// server on 127.0.0.1 where nothing answers: no lookup leaves this machine.
#include <QProcess>

#include <sys/wait.h>
#include <csignal>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EndpointClients.h"
#include "endpoint/Endpoint.h"
#include "support/LoopbackPeers.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"

namespace {

using eptest::Curl;
using eptest::CurlResult;
using eptest::EchoClient;
using eptest::EchoOrigin;
using eptest::EndWithParent;
using eptest::FreePort;
using eptest::OwnSocks;
using eptest::OwnTinyproxy;
using eptest::RawClient;
using eptest::Via;
using qb::CEndpoint;
using qb::EndpointConfig;
using qb::UpstreamProxy;
using qbtest::Peer;
using qbtest::Peers;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

UpstreamProxy Row(const std::string& host, int port, const char* type, double seconds = 0.5) {
  return {host, std::to_string(port), type, std::nullopt, seconds};
}

const char* ViaName(Via via) {
  switch (via) {
    case Via::Request:
      return "request";
    case Via::Tunnel:
      return "CONNECT";
    case Via::Socks5:
      return "SOCKS5 by name";
    case Via::Socks5Address:
      return "SOCKS5 by address";
  }
  return "";
}

// The lines the endpoint said a proxy was left out or came back with.
struct UnresolvedLog {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> calls;
  void Attach(CEndpoint& e) {
    e.OnUnresolved([this](const std::string& line, const std::string& error) {
      std::lock_guard lock(mutex);
      calls.emplace_back(line, error);
    });
  }
  std::vector<std::pair<std::string, std::string>> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

// Names of the test's own: each gives the addresses set for it, after a delay if one
// is set; a name held hangs until it is let go. Shared with the endpoint's lookup
// threads, which may outlive the test's endpoint.
struct TestNames {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, std::vector<std::string>> addresses;
  std::map<std::string, int> delayMs;
  std::map<std::string, int> lookups;
  std::map<std::string, bool> held;

  std::vector<std::string> Lookup(const std::string& name, std::string& error) {
    std::unique_lock lock(mutex);
    ++lookups[name];
    changed.wait_for(lock, milliseconds(delayMs[name]), [] { return false; });
    changed.wait(lock, [&] { return !held[name]; });
    const auto it = addresses.find(name);
    if (it == addresses.end()) error = "no such name";
    return it == addresses.end() ? std::vector<std::string>() : it->second;
  }
  void Set(const std::string& name, std::vector<std::string> to) {
    std::lock_guard lock(mutex);
    addresses[name] = std::move(to);
  }
  void Hold(const std::string& name, bool hold) {
    std::lock_guard lock(mutex);
    held[name] = hold;
    changed.notify_all();
  }
  int Lookups(const std::string& name) {
    std::lock_guard lock(mutex);
    return lookups[name];
  }
};

std::unique_ptr<CEndpoint> StartWithNames(EndpointConfig config, const std::shared_ptr<TestNames>& names,
                                          std::vector<UpstreamProxy> pool, UnresolvedLog* log = nullptr) {
  config.listen = {"127.0.0.1", 0};
  config.lookupName = [names](const std::string& name, std::string& error) {
    return names->Lookup(name, error);
  };
  auto e = std::make_unique<CEndpoint>(config);
  if (log) log->Attach(*e);
  e->SetPool(std::move(pool));
  const qb::OpResult started = e->Start();
  EXPECT_TRUE(started.ok()) << started.Describe();
  return e;
}

// Whether until() holds within ms, asked every 20 ms.
template <typename Until>
bool Within(int ms, Until until) {
  const auto end = Clock::now() + milliseconds(ms);
  while (!until()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

TEST(EndpointIpv6, ClientsOnIpv6LoopbackThroughProxiesOnIpv6LoopbackToTargetsOfEitherFamily) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  EchoOrigin origin("::1");
  ASSERT_TRUE(origin.Ready());
  OwnSocks socks("", "::1");
  ASSERT_TRUE(socks.Ready());
  OwnTinyproxy http("::1");
  ASSERT_TRUE(http.Ready());
  // Rows as the list holds them: the address in brackets.
  for (const UpstreamProxy& upstream :
       {Row("[::1]", socks.Port(), "SOCKS5"), Row("[::1]", http.Port(), "HTTP")}) {
    EndpointConfig config;
    config.listen = {"::1", 0};
    CEndpoint endpoint(config);
    endpoint.SetPool({upstream});
    ASSERT_TRUE(endpoint.Start().ok());
    for (Via via : {Via::Request, Via::Tunnel, Via::Socks5, Via::Socks5Address}) {
      SCOPED_TRACE(upstream.Line() + " via " + ViaName(via));
      // To an IPv6 target: CONNECT [::1]:port, SOCKS5 address type 4 on both sides, or
      // the request with the address in brackets.
      CurlResult r = Curl(endpoint.Port(), via, origin.Url("::1"), "::1");
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(EchoClient(r.out), "::1") << r.out;
      EXPECT_NE(r.out.find("GET /echo HTTP/1.1\r\n"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Host: [::1]:" + std::to_string(origin.Port()) + "\r\n"), std::string::npos)
          << r.out;
      // And on to an IPv4 one through the same proxy.
      r = Curl(endpoint.Port(), via, peers.OriginUrl("/echo"), "::1");
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(EchoClient(r.out), "127.0.0.1") << r.out;
    }
    EXPECT_EQ(endpoint.GetStats().accepted, 8u);
    EXPECT_EQ(endpoint.GetStats().failovers, 0u);
    EXPECT_EQ(endpoint.GetStats().refused, 0u);
    // A local client on IPv6 may ask for the status too.
    const auto status = qb::ProbeEndpoint({"::1", endpoint.Port()}, 2000);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->usable, 1);
  }
}

TEST(EndpointStatus, AnEndpointListeningOnLocalhostIsFoundByThatName) {
  EndpointConfig config;
  config.listen = {"localhost", 0};
  config.dataDir = "/by/name";
  CEndpoint endpoint(config);
  ASSERT_TRUE(endpoint.Start().ok());
  // The window probes the address as Options.ini names it.
  const auto status = qb::ProbeEndpoint({"localhost", endpoint.Port()}, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->dataDir, "/by/name");
  EXPECT_TRUE(qb::DesktopProxyAnswers("localhost:" + std::to_string(endpoint.Port()) + "@HTTP", true, 2000));
}

TEST(EndpointNames, ProxiesNamedLocalhostAreLookedUpAndCarryConnections) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks);
  const auto& peers = Peers();
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  config.policy = qb::EndpointPolicy::RoundRobin;
  CEndpoint endpoint(config);
  UnresolvedLog log;
  log.Attach(endpoint);
  endpoint.SetPool({Row("localhost", peers.HttpProxyPort(), "HTTP", 0.1),
                    Row("localhost", peers.SocksPort(), "SOCKS5", 0.2)});
  ASSERT_TRUE(endpoint.Start().ok());
  // The first client may come before the name is answered, and waits for it.
  std::map<std::string, int> seen;
  for (int i = 0; i < 4; ++i) {
    const CurlResult r = Curl(endpoint.Port(), i % 2 ? Via::Socks5 : Via::Tunnel, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ++seen[EchoClient(r.out)];
  }
  EXPECT_EQ(seen, (std::map<std::string, int>{{peers.OutAddress(Peer::HttpProxy), 2},
                                              {peers.OutAddress(Peer::Socks), 2}}));
  const auto status = qb::ProbeEndpoint({"127.0.0.1", endpoint.Port()}, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->pool, 2);
  EXPECT_EQ(status->usable, 2);
  EXPECT_EQ(status->unresolved, 0);
  EXPECT_TRUE(log.Calls().empty());
}

TEST(EndpointNames, ANameWhoseLookupHangsHoldsUpNoClientAndIsLeftOutAfterItsTimeOut) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks named("127.0.0.61"), byAddress("127.0.0.62");
  ASSERT_TRUE(named.Ready() && byAddress.Ready());
  auto names = std::make_shared<TestNames>();
  names->Set("slow.test", {"127.0.0.1"});
  names->Hold("slow.test", true);
  EndpointConfig config;
  config.lookupTimeoutMs = 500;
  UnresolvedLog log;
  const UpstreamProxy slow = Row("slow.test", named.Port(), "SOCKS5", 0.1);
  auto endpoint =
      StartWithNames(config, names, {slow, Row("127.0.0.1", byAddress.Port(), "SOCKS5", 0.2)}, &log);
  // The faster proxy's name hangs: the other one serves at once meanwhile.
  const auto start = Clock::now();
  for (int i = 0; i < 3; ++i) {
    const CurlResult r = Curl(endpoint->Port(), Via::Socks5, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EchoClient(r.out), "127.0.0.62");
  }
  EXPECT_LT(Clock::now() - start, milliseconds(3000));
  ASSERT_TRUE(Within(3000, [&] { return endpoint->GetStats().unresolved == 1; }));
  EXPECT_EQ(log.Calls(), (std::vector<std::pair<std::string, std::string>>{
                             {slow.Line(), "the name was not looked up in time"}}));
  // It answers after all: its proxy is back, and the faster one serves again.
  names->Hold("slow.test", false);
  ASSERT_TRUE(Within(3000, [&] { return endpoint->GetStats().unresolved == 0; }));
  const CurlResult r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(EchoClient(r.out), "127.0.0.61") << r.out << r.err;
  ASSERT_EQ(log.Calls().size(), 2u);
  EXPECT_EQ(log.Calls()[1], std::make_pair(slow.Line(), std::string()));
  EXPECT_EQ(endpoint->GetStats().refused, 0u);
}

TEST(EndpointNames, AClientThatComesBeforeTheOnlyNamesAnswerWaitsForItButNotBeyondItsTime) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks upstream("127.0.0.63");
  ASSERT_TRUE(upstream.Ready());
  auto names = std::make_shared<TestNames>();
  names->Set("late.test", {"127.0.0.1"});
  names->delayMs["late.test"] = 300;
  names->Set("never.test", {"127.0.0.1"});
  names->Hold("never.test", true);

  auto late = StartWithNames({}, names, {Row("late.test", upstream.Port(), "SOCKS5")});
  CurlResult r = Curl(late->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(EchoClient(r.out), "127.0.0.63") << r.out << r.err;
  EXPECT_EQ(names->Lookups("late.test"), 1);
  EXPECT_EQ(late->GetStats().refused, 0u);

  EndpointConfig config;
  config.connectTimeoutMs = 800;
  auto never = StartWithNames(config, names, {Row("never.test", upstream.Port(), "SOCKS5")});
  const auto start = Clock::now();
  r = Curl(never->Port(), Via::Request, peers.OriginUrl("/echo"));
  const auto took = Clock::now() - start;
  EXPECT_NE(r.out.find("No proxy could reach 127.0.0.1:" + std::to_string(peers.OriginPort()) +
                       " (the proxies' names were not looked up in time)"),
            std::string::npos)
      << r.out << r.err;
  EXPECT_GE(took, milliseconds(700));
  EXPECT_LT(took, milliseconds(2500));
  EXPECT_EQ(never->GetStats().refused, 1u);
  names->Hold("never.test", false);
}

TEST(EndpointNames, PastItsLifetimeANameIsLookedUpAgainNewConnectionsTakeItsNewAddressOpenOnesStay) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  // Two proxies on one port of two loopback addresses, each leaving from its own.
  const int port = FreePort("127.0.0.71");
  OwnSocks first("127.0.0.71", "127.0.0.71", port), second("127.0.0.72", "127.0.0.72", port);
  ASSERT_TRUE(first.Ready() && second.Ready());
  auto names = std::make_shared<TestNames>();
  names->Set("gw.test", {"127.0.0.71"});
  EndpointConfig config;
  config.nameLifetimeMs = 300;
  auto endpoint = StartWithNames(config, names, {Row("gw.test", port, "SOCKS5")});
  CurlResult r = Curl(endpoint->Port(), Via::Socks5, peers.OriginUrl("/echo"));
  ASSERT_EQ(EchoClient(r.out), "127.0.0.71") << r.out << r.err;
  RawClient tunnel(endpoint->Port());
  tunnel.Send("CONNECT 127.0.0.1:" + std::to_string(peers.OriginPort()) + " HTTP/1.1\r\n\r\n");
  ASSERT_EQ(tunnel.Receive(39), "HTTP/1.1 200 Connection established\r\n\r\n");

  names->Set("gw.test", {"127.0.0.72"});
  std::this_thread::sleep_for(milliseconds(400));
  // Until the new answer is in, the old address serves; it is in within a few requests.
  std::vector<std::string> seen;
  ASSERT_TRUE(Within(5000, [&] {
    seen.push_back(EchoClient(Curl(endpoint->Port(), Via::Socks5, peers.OriginUrl("/echo")).out));
    return seen.back() == "127.0.0.72";
  })) << ::testing::PrintToString(seen);
  EXPECT_GE(names->Lookups("gw.test"), 2);
  // The tunnel made to the old address is still carried by it.
  tunnel.Send("GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(EchoClient(tunnel.Receive()), "127.0.0.71");
  EXPECT_EQ(endpoint->GetStats().failovers, 0u);
}

// quillberry-cli, found as the other tests find it.
QString Cli() {
  const char* cli = std::getenv("QB_CLI");
  return cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
}

// Whether this machine lets a test make a mount namespace of its own.
bool PrivateMountsWork() {
  QProcess p;
  p.start("unshare", {"--mount", "--map-root-user", "true"});
  return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Reads standard error until it holds text, for at most ms; what came.
std::string ErrUntil(QProcess& p, std::string& err, const std::string& text, int ms) {
  const auto end = Clock::now() + milliseconds(ms);
  while (err.find(text) == std::string::npos && Clock::now() < end) {
    p.waitForReadyRead(50);
    err += p.readAllStandardError().toStdString();
  }
  return err;
}

TEST(ServeNames, WithTheSystemsResolverANameOutIsSaidTheOthersServeAndAChangedHostsFileIsFollowed) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  if (!PrivateMountsWork()) GTEST_SKIP() << "no mount namespace of the test's own on this machine";
  const auto& peers = Peers();
  const int port = FreePort("127.0.0.81");
  OwnSocks first("127.0.0.81", "127.0.0.81", port), second("127.0.0.82", "127.0.0.82", port);
  ASSERT_TRUE(first.Ready() && second.Ready());
  qbtest::TempDir dir;
  // both.test has an IPv6 address where nothing listens, and the one of the loopback
  // peers' tinyproxy: the endpoint goes on to the second.
  const std::string bothLines = "::1 both.test\n127.0.0.1 both.test\n";
  qbtest::WriteFile(dir.File("hosts"), "127.0.0.81 gw.test\n" + bothLines);
  qbtest::WriteFile(dir.File("resolv.conf"), "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
  qbtest::WriteFile(dir.File("nsswitch.conf"), "hosts: files dns\n");
  qbtest::TempDir data;
  qbtest::WriteFile(data.File("Proxies.pro"),
                    "nowhere.test:1080@SOCKS5$0.05\r\ngw.test:" + std::to_string(port) +
                        "@SOCKS5$0.1\r\nboth.test:" + std::to_string(peers.HttpProxyPort()) +
                        "@HTTP$0.2\r\n");
  qbtest::WriteFile(data.File("Options.ini"), "[Endpoint]\nNameLifetime=1\n");
  const int servePort = FreePort();
  QProcess serve;
  EndWithParent(serve);
  serve.start(
      "unshare",
      {"--mount", "--map-root-user", "sh", "-c",
       "mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" /etc/resolv.conf && "
       "mount --bind \"$3\" /etc/nsswitch.conf && shift 3 && exec \"$@\"",
       "sh", QString::fromStdString(dir.File("hosts")), QString::fromStdString(dir.File("resolv.conf")),
       QString::fromStdString(dir.File("nsswitch.conf")), Cli(), "serve", "--data-dir",
       QString::fromStdString(data.Path()), "--listen", "127.0.0.1:" + QString::number(servePort)});
  ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
  EXPECT_EQ(serve.readLine().toStdString(),
            "serve: listening on 127.0.0.1:" + std::to_string(servePort) + " with 3 proxies (failover)\n");
  std::string err;
  ErrUntil(serve, err, "nowhere.test:1080@SOCKS5 left out: its name gives no address (", 5000);
  EXPECT_NE(err.find("serve: nowhere.test:1080@SOCKS5 left out: its name gives no address ("),
            std::string::npos)
      << err;

  // The fastest row has no address; the next one serves, and goes on serving a tunnel
  // after its name moved.
  CurlResult r = Curl(servePort, Via::Tunnel, peers.OriginUrl("/echo"));
  ASSERT_EQ(EchoClient(r.out), "127.0.0.81") << r.out << r.err;
  RawClient tunnel(servePort);
  tunnel.Send("CONNECT 127.0.0.1:" + std::to_string(peers.OriginPort()) + " HTTP/1.1\r\n\r\n");
  ASSERT_EQ(tunnel.Receive(39), "HTTP/1.1 200 Connection established\r\n\r\n");
  qbtest::WriteFile(dir.File("hosts"), "127.0.0.82 gw.test\n" + bothLines);
  std::vector<std::string> seen;
  EXPECT_TRUE(Within(6000, [&] {
    seen.push_back(EchoClient(Curl(servePort, Via::Socks5, peers.OriginUrl("/echo")).out));
    if (seen.back() == "127.0.0.82") return true;
    std::this_thread::sleep_for(milliseconds(200));
    return false;
  })) << ::testing::PrintToString(seen);
  tunnel.Send("GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(EchoClient(tunnel.Receive()), "127.0.0.81");

  // With both of gw.test's proxies gone, both.test carries the connection.
  first.Stop();
  second.Stop();
  r = Curl(servePort, Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(EchoClient(r.out), peers.OutAddress(Peer::HttpProxy)) << r.out << r.err;

  const auto status = qb::ProbeEndpoint({"127.0.0.1", servePort}, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->pool, 3);
  EXPECT_EQ(status->unresolved, 1);
  ASSERT_TRUE(qbtest::SignalProcess(serve, SIGTERM));
  ASSERT_TRUE(serve.waitForFinished(5000));
  EXPECT_EQ(serve.exitCode(), 0) << serve.readAllStandardError().toStdString();
}

TEST(ServeIpv6, ListensOnIpv6LoopbackAsOptionsIniOrTheCommandLineSays) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks socks("", "::1");
  ASSERT_TRUE(socks.Ready());
  EchoOrigin origin("::1");
  ASSERT_TRUE(origin.Ready());
  qbtest::TempDir data;
  qbtest::WriteFile(data.File("Proxies.pro"), "[::1]:" + std::to_string(socks.Port()) + "@SOCKS5$0.1\r\n");
  const int fromOptions = FreePort("::1");
  qbtest::WriteFile(data.File("Options.ini"),
                    "[Endpoint]\nListen=[::1]:" + std::to_string(fromOptions) + "\n");
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "--listen" : "Options.ini");
    const int port = named ? FreePort("::1") : fromOptions;
    QStringList args{"serve", "--data-dir", QString::fromStdString(data.Path())};
    if (named)
      args << "--listen"
           << "[::1]:" + QString::number(port);
    QProcess serve;
    EndWithParent(serve);
    serve.start(Cli(), args);
    ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
    EXPECT_EQ(serve.readLine().toStdString(),
              "serve: listening on [::1]:" + std::to_string(port) + " with 1 proxies (failover)\n");
    for (Via via : {Via::Request, Via::Tunnel, Via::Socks5Address}) {
      SCOPED_TRACE(ViaName(via));
      CurlResult r = Curl(port, via, origin.Url("::1"), "::1");
      EXPECT_EQ(EchoClient(r.out), "::1") << r.out << r.err;
      r = Curl(port, via, peers.OriginUrl("/echo"), "::1");
      EXPECT_EQ(EchoClient(r.out), "127.0.0.1") << r.out << r.err;
    }
    // Not on IPv4 as well.
    EXPECT_FALSE(RawClient(port, 500, "127.0.0.1").Connected());
    ASSERT_TRUE(qbtest::SignalProcess(serve, SIGTERM));
    ASSERT_TRUE(serve.waitForFinished(5000));
    EXPECT_EQ(serve.exitCode(), 0);
  }
}

TEST(EndpointOptions, Ipv6LoopbackIsLoopbackHoweverItIsWritten) {
  for (const char* host : {"::1", "0:0:0:0:0:0:0:1", "0::1", "::ffff:127.0.0.1", "::ffff:127.3.2.1"})
    EXPECT_TRUE(qb::IsLoopbackHost(host)) << host;
  for (const char* host : {"::", "::2", "::ffff:10.0.0.1", "fe80::1", "::1%lo", "[::1]", ":::1"})
    EXPECT_FALSE(qb::IsLoopbackHost(host)) << host;
  const auto listen = qb::ParseListenAddress("[0:0::1]:8899");
  ASSERT_TRUE(listen);
  EXPECT_TRUE(qb::IsLoopbackHost(listen->host));
}

TEST(EndpointOptions, TheNamesLifetimeIsKeptInOptionsIniWithinItsBounds) {
  qb::ExtraOptions o;
  EXPECT_EQ(o.endpoint.nameLifetime, 300);
  o.endpoint.nameLifetime = 45;
  const std::string text = qb::FormatOptionsFile(o);
  EXPECT_NE(text.find("[Endpoint]\n"), std::string::npos);
  EXPECT_NE(text.find("\nNameLifetime=45\n"), std::string::npos) << text;
  EXPECT_EQ(qb::ParseOptionsFile(text), o);
  for (const char* bad : {"0", "-5", "86401", "5m", ""}) {
    EXPECT_EQ(
        qb::ParseOptionsFile(std::string("[Endpoint]\nNameLifetime=") + bad + "\n").endpoint.nameLifetime,
        300)
        << bad;
  }
  EXPECT_EQ(qb::ParseOptionsFile("[Endpoint]\nNameLifetime=86400\n").endpoint.nameLifetime, 86400);
  // Only in its own section.
  EXPECT_EQ(qb::ParseOptionsFile("[History]\nNameLifetime=9\n").endpoint.nameLifetime, 300);
}

}  // namespace
