// The local endpoint with curl as its client and the loopback peers as its upstreams.
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EndpointClients.h"
#include "endpoint/Endpoint.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "support/LoopbackPeers.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"

namespace {

using eptest::Curl;
using eptest::CurlResult;
using eptest::EchoClient;
using eptest::EndWithParent;
using eptest::FreePort;
using eptest::OwnSocks;
using eptest::RawClient;
using eptest::Via;
using qb::CEndpoint;
using qb::EndpointConfig;
using qb::UpstreamProxy;
using qbtest::Peer;
using qbtest::Peers;

UpstreamProxy Upstream(int port, const char* type, double seconds = 0.5, bool logOn = false) {
  UpstreamProxy u{"127.0.0.1", std::to_string(port), type, std::nullopt, seconds};
  if (logOn) u.logOn = qb::ProxyCredentials{Peers().ProxyUser(), Peers().ProxyPassword()};
  return u;
}

struct SetAsideLog {
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

std::unique_ptr<CEndpoint> StartEndpoint(EndpointConfig config, std::vector<UpstreamProxy> pool,
                                         SetAsideLog* log = nullptr) {
  config.listen = {"127.0.0.1", 0};
  auto e = std::make_unique<CEndpoint>(config);
  if (log) log->Attach(*e);
  e->SetPool(std::move(pool));
  const qb::OpResult started = e->Start();
  EXPECT_TRUE(started.ok()) << started.Describe();
  return e;
}

TEST(EndpointRelay, EveryClientProtocolThroughEveryUpstreamProtocol) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::HttpProxyAuth);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Socks5Auth);
  const auto& peers = Peers();
  struct Case {
    UpstreamProxy upstream;
    Peer peer;
  };
  const std::vector<Case> cases = {
      {Upstream(peers.HttpProxyPort(), "HTTP"), Peer::HttpProxy},
      {Upstream(peers.HttpProxyAuthPort(), "HTTP", 0.5, true), Peer::HttpProxyAuth},
      {Upstream(peers.SocksPort(), "SOCKS4"), Peer::Socks},
      {Upstream(peers.SocksPort(), "SOCKS5"), Peer::Socks},
      {Upstream(peers.Socks5AuthPort(), "SOCKS5", 0.5, true), Peer::Socks5Auth},
  };
  for (const Case& c : cases) {
    auto endpoint = StartEndpoint({}, {c.upstream});
    for (Via via : {Via::Request, Via::Tunnel, Via::Socks5}) {
      SCOPED_TRACE(c.upstream.Line() + " via " + std::to_string(static_cast<int>(via)));
      const CurlResult r = Curl(endpoint->Port(), via, peers.OriginUrl("/echo?x=1"));
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(EchoClient(r.out), peers.OutAddress(c.peer)) << r.out;
      // The origin always sees the origin form, whoever reached it.
      EXPECT_NE(r.out.find("GET /echo?x=1 HTTP/1."), std::string::npos) << r.out;
      // Our log-on with the upstream never reaches the origin.
      EXPECT_EQ(r.out.find("Proxy-Authorization"), std::string::npos) << r.out;
    }
    const CEndpoint::Stats stats = endpoint->GetStats();
    EXPECT_EQ(stats.accepted, 3u);
    EXPECT_EQ(stats.failovers, 0u);
  }
}

TEST(EndpointRelay, UpstreamThatRefusesTheLogOnIsAnErrorForTheClient) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxyAuth);
  QB_REQUIRE_PEER(Peer::Socks5Auth);
  const auto& peers = Peers();
  auto endpoint = StartEndpoint({}, {Upstream(peers.HttpProxyAuthPort(), "HTTP")});
  CurlResult r = Curl(endpoint->Port(), Via::Tunnel, peers.OriginUrl("/echo"));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("502"), std::string::npos) << r.err;

  auto socks = StartEndpoint({}, {Upstream(peers.Socks5AuthPort(), "SOCKS5")});
  r = Curl(socks->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(r.exitCode, 0) << r.err;                    // an answer, not a hang-up...
  EXPECT_EQ(r.out.find("client="), std::string::npos);  // ...but not the page
  EXPECT_NE(r.out.find("No proxy could reach"), std::string::npos) << r.out;
}

TEST(EndpointFailover, NextProxyCarriesTheConnectionAndTheFailingOneIsSetAside) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  EndpointConfig config;
  config.connectTimeoutMs = 400;
  SetAsideLog log;
  const UpstreamProxy dead = Upstream(peers.DeadPort(), "SOCKS5", 0.1);
  const UpstreamProxy silent = Upstream(peers.SilentPort(), "HTTP", 0.2);
  const UpstreamProxy live = Upstream(peers.HttpProxyPort(), "HTTP", 0.3);
  auto endpoint = StartEndpoint(config, {dead, silent, live}, &log);
  // Refused at once, then no answer within the time-out: each request still arrives.
  for (int i = 0; i < 3; ++i) {
    const CurlResult r = Curl(endpoint->Port(), i % 2 ? Via::Socks5 : Via::Tunnel, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EchoClient(r.out), peers.OutAddress(Peer::HttpProxy));
  }
  EXPECT_EQ(endpoint->GetStats().failovers, 6u);
  auto calls = log.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, dead.Line());
  EXPECT_EQ(calls[1].first, silent.Line());
  EXPECT_NE(calls[1].second, "");

  // Set aside, they cost nothing more.
  ASSERT_EQ(Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo")).exitCode, 0);
  EXPECT_EQ(endpoint->GetStats().failovers, 6u);

  // The same results again (the list saved for another reason) leave them aside...
  endpoint->SetPool({dead, silent, live});
  ASSERT_EQ(Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo")).exitCode, 0);
  EXPECT_EQ(endpoint->GetStats().failovers, 6u);
  // ...and fresh verification results take them back.
  UpstreamProxy verified = dead;
  verified.seconds = 0.15;
  endpoint->SetPool({verified, live});
  ASSERT_EQ(Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo")).exitCode, 0);
  EXPECT_EQ(endpoint->GetStats().failovers, 7u);
  calls = log.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2], std::make_pair(dead.Line(), std::string()));
}

TEST(EndpointFailover, ProxyStoppedMidRunIsReplacedBeforeTheClientNotices) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks first("127.0.0.21"), second("127.0.0.22");
  auto endpoint =
      StartEndpoint({}, {Upstream(first.Port(), "SOCKS5", 0.1), Upstream(second.Port(), "SOCKS5", 0.2)});
  CurlResult r = Curl(endpoint->Port(), Via::Socks5, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), "127.0.0.21");
  first.Stop();
  r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), "127.0.0.22");
  EXPECT_EQ(endpoint->GetStats().failovers, 1u);

  // With nothing left to try, the client gets an error, not a hang.
  second.Stop();
  r = Curl(endpoint->Port(), Via::Socks5, peers.OriginUrl("/echo"));
  EXPECT_NE(r.exitCode, 0);
  r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_NE(r.out.find("No proxy could reach"), std::string::npos) << r.out << r.err;
}

TEST(EndpointPolicy, RoundRobinSpreadsAndFastestFollowsTheTimes) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks a("127.0.0.31"), b("127.0.0.32"), c("127.0.0.33");
  const std::vector<UpstreamProxy> pool = {Upstream(a.Port(), "SOCKS5", 0.3),
                                           Upstream(b.Port(), "SOCKS5", 0.1),
                                           Upstream(c.Port(), "SOCKS5", 0.2)};
  EndpointConfig config;
  config.policy = qb::EndpointPolicy::RoundRobin;
  auto roundRobin = StartEndpoint(config, pool);
  std::map<std::string, int> seen;
  for (int i = 0; i < 6; ++i)
    ++seen[EchoClient(Curl(roundRobin->Port(), Via::Socks5, peers.OriginUrl("/echo")).out)];
  EXPECT_EQ(seen, (std::map<std::string, int>{{"127.0.0.31", 2}, {"127.0.0.32", 2}, {"127.0.0.33", 2}}));

  config.policy = qb::EndpointPolicy::Fastest;
  auto fastest = StartEndpoint(config, pool);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(EchoClient(Curl(fastest->Port(), Via::Socks5, peers.OriginUrl("/echo")).out), "127.0.0.32");
  }
  // A failure weighs like a time-out: the next fastest takes over.
  b.Stop();
  EXPECT_EQ(EchoClient(Curl(fastest->Port(), Via::Socks5, peers.OriginUrl("/echo")).out), "127.0.0.33");
  EXPECT_EQ(EchoClient(Curl(fastest->Port(), Via::Socks5, peers.OriginUrl("/echo")).out), "127.0.0.33");
}

// Bytes whose place in the stream shows in their value, so that a lost, doubled or
// reordered piece is seen.
char PatternByte(size_t i) {
  return static_cast<char>((i * 7 + i / 4099) & 0xFF);
}

TEST(EndpointRelay, BulkDataArrivesIntactBothWays) {
  constexpr size_t kBytes = 6 << 20;
  // An origin of its own: takes kBytes, checks them, sends kBytes back.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(listener, 4);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const int originPort = ntohs(a.sin_port);
  std::atomic<bool> receivedIntact{false};
  std::thread origin([&] {
    const int fd = accept(listener, nullptr, nullptr);
    std::vector<char> buf(kBytes);
    size_t got = 0;
    while (got < kBytes) {
      const ssize_t n = recv(fd, buf.data() + got, kBytes - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bool intact = got == kBytes;
    for (size_t i = 0; intact && i < kBytes; ++i) intact = buf[i] == PatternByte(i);
    receivedIntact = intact;
    for (size_t i = 0; i < kBytes; ++i) buf[i] = PatternByte(i + 1);
    send(fd, buf.data(), kBytes, MSG_NOSIGNAL);
    close(fd);
  });
  OwnSocks upstream("127.0.0.1");
  auto endpoint = StartEndpoint({}, {Upstream(upstream.Port(), "SOCKS5")});
  RawClient client(endpoint->Port());
  client.Send("CONNECT 127.0.0.1:" + std::to_string(originPort) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.Receive(39), "HTTP/1.1 200 Connection established\r\n\r\n");
  std::string out(kBytes, '\0');
  for (size_t i = 0; i < kBytes; ++i) out[i] = PatternByte(i);
  client.Send(out);
  const std::string back = client.Receive(kBytes);
  origin.join();
  close(listener);
  EXPECT_TRUE(receivedIntact);
  ASSERT_EQ(back.size(), kBytes);
  size_t wrong = 0;
  for (size_t i = 0; i < kBytes; ++i) wrong += back[i] != PatternByte(i + 1);
  EXPECT_EQ(wrong, 0u);
}

TEST(EndpointRobustness, BadClientsAreRefusedWhileOthersGoOn) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  EndpointConfig config;
  config.clientIdleMs = 300;
  SetAsideLog log;
  auto endpoint = StartEndpoint(config, {Upstream(peers.HttpProxyPort(), "HTTP")}, &log);
  const int port = endpoint->Port();

  // A tunnel opened first stays usable through everything below.
  RawClient tunnel(port);
  tunnel.Send("CONNECT 127.0.0.1:" + std::to_string(peers.OriginPort()) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(tunnel.Receive(39), "HTTP/1.1 200 Connection established\r\n\r\n");

  const auto answer = [&](const std::string& bytes) {
    RawClient c(port);
    c.Send(bytes);
    return c.Receive();
  };
  EXPECT_TRUE(answer("GARBAGE\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(answer("GET /relative HTTP/1.1\r\nHost: x\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(answer("GET https://127.0.0.1/ HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(answer("CONNECT 127.0.0.1:99999 HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(
      answer("GET http://x/ HTTP/1.1\r\nX: " + std::string(70 * 1024, 'a')).starts_with("HTTP/1.1 431"));
  // SOCKS5: only "no log-on" and a user and password (which only name a session) are
  // offered, only CONNECT is done, only known address types.
  EXPECT_EQ(answer(std::string("\x05\x01\x01", 3)), std::string("\x05\xFF", 2));
  EXPECT_EQ(answer(std::string("\x05\x01\x02\x07\x01\x61\x00", 7)), std::string("\x05\x02\x01\x01", 4));
  EXPECT_EQ(answer(std::string("\x05\x01\x00\x05\x02\x00\x01\x7f\x00\x00\x01\x00\x50", 13)).substr(0, 4),
            std::string("\x05\x00\x05\x07", 4));
  EXPECT_EQ(answer(std::string("\x05\x01\x00\x05\x01\x00\x09\x7f\x00\x00\x01\x00\x50", 13)).substr(0, 4),
            std::string("\x05\x00\x05\x08", 4));
  // A name that would end a line in the upstream's request: refused here, three times,
  // so that a proxy that got it and failed would have been set aside.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(answer(std::string("\x05\x01\x00\x05\x01\x00\x03\x05"
                                 "a\r\nb:\x00\x50",
                                 15))
                  .substr(0, 4),
              std::string("\x05\x00\x05\x01", 4));
  }
  // Gone mid-request, or mid-answer (writing to them must not raise SIGPIPE).
  for (const std::string& part :
       {std::string("\x05\x01\x00\x05\x01", 5), std::string("CONNECT 127.0.0.1:")}) {
    RawClient c(port);
    c.Send(part);
  }
  for (int i = 0; i < 5; ++i) {
    RawClient c(port);
    c.Send("GET " + peers.OriginUrl("/trickle?interval=0.01&bytes=200000") + " HTTP/1.1\r\n\r\n");
    c.Receive(100);
  }
  // Silent: closed after the idle time.
  const auto start = std::chrono::steady_clock::now();
  RawClient silent(port);
  EXPECT_EQ(silent.Receive(), "");
  EXPECT_TRUE(silent.ClosedByPeer());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // Greets, then says nothing more: its upstream, reached meanwhile, does not keep it.
  RawClient greeter(port);
  greeter.Send(std::string("\x05\x01\x00", 3));
  EXPECT_EQ(greeter.Receive(2), std::string("\x05\x00", 2));
  EXPECT_EQ(greeter.Receive(), "");
  EXPECT_TRUE(greeter.ClosedByPeer());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  tunnel.Send("GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  const std::string reply = tunnel.Receive();
  EXPECT_TRUE(reply.starts_with("HTTP/1.0 200") || reply.starts_with("HTTP/1.1 200")) << reply;
  EXPECT_EQ(EchoClient(reply), peers.OutAddress(Peer::HttpProxy));
  const CurlResult r = Curl(port, Via::Socks5, peers.OriginUrl("/echo"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GE(endpoint->GetStats().refused, 15u);
  // No client's bad input counts against the proxy.
  EXPECT_TRUE(log.Calls().empty());
  EXPECT_EQ(endpoint->GetStats().failovers, 0u);
}

TEST(EndpointWhenDown, BlockRefusesWhatNoProxyCarriesGoDirectCarriesItItself) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  EndpointConfig config;
  config.connectTimeoutMs = 400;
  const UpstreamProxy dead = Upstream(peers.DeadPort(), "SOCKS5");
  auto endpoint = StartEndpoint(config, {dead});
  CurlResult r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(r.out.find("client="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("No proxy could reach"), std::string::npos) << r.out;
  EXPECT_EQ(endpoint->GetStats().direct, 0u);

  // Switched while running: every client protocol reaches the origin from this host,
  // by address and, through SOCKS with the name, by a name looked up off the loop.
  endpoint->SetGoDirect(true);
  const std::string byName = "http://localhost:" + std::to_string(peers.OriginPort()) + "/echo";
  for (const auto& [via, url] :
       std::vector<std::pair<Via, std::string>>{{Via::Request, peers.OriginUrl("/echo")},
                                                {Via::Tunnel, peers.OriginUrl("/echo")},
                                                {Via::Socks5, peers.OriginUrl("/echo")},
                                                {Via::Socks5, byName}}) {
    r = Curl(endpoint->Port(), via, url);
    EXPECT_EQ(r.exitCode, 0) << url << ": " << r.err;
    EXPECT_EQ(EchoClient(r.out), "127.0.0.1") << url << ": " << r.out;
  }
  EXPECT_EQ(endpoint->GetStats().direct, 4u);

  // Going direct never hides that the target itself is unreachable.
  r = Curl(endpoint->Port(), Via::Request, "http://127.0.0.1:" + std::to_string(peers.DeadPort()) + "/");
  EXPECT_NE(r.out.find("Neither a proxy nor a direct connection"), std::string::npos) << r.out;
  EXPECT_EQ(endpoint->GetStats().direct, 4u);

  // A working proxy still comes first.
  QB_REQUIRE_PEER(Peer::HttpProxy);
  endpoint->SetPool({Upstream(peers.HttpProxyPort(), "HTTP")});
  r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(EchoClient(r.out), peers.OutAddress(Peer::HttpProxy));
  EXPECT_EQ(endpoint->GetStats().direct, 4u);
}

TEST(EndpointStatus, LocalClientsLearnWhoServesAndHowThePoolStands) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  EndpointConfig config;
  config.connectTimeoutMs = 400;
  config.dataDir = "/some/data dir";
  auto endpoint =
      StartEndpoint(config, {Upstream(peers.DeadPort(), "SOCKS5"), Upstream(peers.DeadPort(), "HTTP")});
  const qb::ListenAddress at{"127.0.0.1", endpoint->Port()};
  auto status = qb::ProbeEndpoint(at, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->pid, static_cast<long>(getpid()));
  EXPECT_EQ(status->dataDir, "/some/data dir");
  EXPECT_EQ(status->pool, 2);
  EXPECT_EQ(status->usable, 2);
  EXPECT_FALSE(status->goDirect);

  // Each failure of a connection sets one proxy aside until none is usable.
  for (int i = 0; i < 2 * config.failuresToSetAside; ++i)
    Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/"));
  endpoint->SetGoDirect(true);
  status = qb::ProbeEndpoint(at, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->usable, 0);
  EXPECT_TRUE(status->goDirect);
  EXPECT_EQ(qb::ParseEndpointStatus(qb::FormatEndpointStatus(*status)), status);

  // Not an endpoint, or nothing at all, is no status.
  EXPECT_FALSE(qb::ProbeEndpoint({"127.0.0.1", peers.OriginPort()}, 2000));
  EXPECT_FALSE(qb::ProbeEndpoint({"127.0.0.1", peers.DeadPort()}, 2000));
  EXPECT_FALSE(qb::ParseEndpointStatusResponse("HTTP/1.1 200 OK\r\n\r\nQuillberry\n"));

  // What a desktop points at: the endpoint's line wants the endpoint, a proxy's any taker.
  const std::string endpointLine = "127.0.0.1:" + std::to_string(endpoint->Port()) + "@HTTP";
  const std::string originLine = "127.0.0.1:" + std::to_string(peers.OriginPort()) + "@HTTP";
  EXPECT_TRUE(qb::DesktopProxyAnswers(endpointLine, true, 2000));
  EXPECT_TRUE(qb::DesktopProxyAnswers(originLine, false, 2000));
  EXPECT_FALSE(qb::DesktopProxyAnswers(originLine, true, 2000));
  EXPECT_FALSE(
      qb::DesktopProxyAnswers("127.0.0.1:" + std::to_string(peers.DeadPort()) + "@HTTP", false, 2000));
  endpoint.reset();
  EXPECT_FALSE(qb::DesktopProxyAnswers(endpointLine, true, 2000));
}

TEST(EndpointStart, TakenPortAndBadAddressSayWhy) {
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  CEndpoint first(config);
  ASSERT_TRUE(first.Start().ok());
  config.listen.port = first.Port();
  CEndpoint second(config);
  const qb::OpResult taken = second.Start();
  EXPECT_EQ(taken.status, qb::OpStatus::ListenFailed);
  EXPECT_NE(taken.Describe().find(std::strerror(EADDRINUSE)), std::string::npos) << taken.Describe();
  config.listen.host = "not-an-address";
  EXPECT_FALSE(CEndpoint(config).Start().ok());
}

TEST(EndpointPool, WorkingRowsOfUsableTypesFastestFirstWithTheirLogOns) {
  qbtest::TempDir dir;
  ASSERT_TRUE(qbtest::StoreLogOn(dir.Path(), qb::CredentialsKey("127.0.0.1", "3128", "HTTP"),
                                 qb::ProxyCredentials{"u", "p"})
                  .ok());
  const std::vector<qb::CProxyEntry> rows = {
      {"127.0.0.1", "1080", "SOCKS5", "2.5", ""},   {"127.0.0.1", "3128", "HTTP", "0.7", ""},
      {"127.0.0.1", "21", "FTP", "0.1", ""},        {"127.0.0.1", "8080", "HTTP", qb::kStatusTimeout, ""},
      {"127.0.0.1", "8081", "HTTPS", "未验证", ""}, {"127.0.0.1", "1081", "socks4", "1.0", ""},
  };
  const qb::CProxyCredentialStore logOns = qbtest::OpenTestDir(dir.Path())->Credentials();
  auto pool = qb::UpstreamsFromEntries(rows, logOns, {});
  ASSERT_EQ(pool.size(), 3u);
  EXPECT_EQ(pool[0].Line(), "127.0.0.1:3128@HTTP");
  EXPECT_EQ(pool[0].logOn, (qb::ProxyCredentials{"u", "p"}));
  EXPECT_EQ(pool[1].Line(), "127.0.0.1:1081@SOCKS4");
  EXPECT_EQ(pool[2].Line(), "127.0.0.1:1080@SOCKS5");
  EXPECT_FALSE(pool[2].logOn);
  pool = qb::UpstreamsFromEntries(rows, logOns, {"SOCKS5"});
  ASSERT_EQ(pool.size(), 1u);
  EXPECT_DOUBLE_EQ(pool[0].seconds, 2.5);
}

TEST(ServeCommand, ServesTheListFollowsItAndItsLogOnsAndEndsOnSigterm) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::HttpProxyAuth);
  const auto& peers = Peers();
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("Proxies.pro"),
                    "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) +
                        "@HTTP$0.4\r\n127.0.0.1:" + std::to_string(peers.DeadPort()) + "@HTTP$连接失败\r\n");
  const int port = FreePort();
  const char* cli = std::getenv("QB_CLI");
  QProcess serve;
  EndWithParent(serve);
  serve.start(cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli"),
              {"serve", "--data-dir", QString::fromStdString(dir.Path()), "--listen",
               "127.0.0.1:" + QString::number(port), "--policy", "round-robin"});
  ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
  EXPECT_EQ(serve.readLine().toStdString(),
            "serve: listening on 127.0.0.1:" + std::to_string(port) + " with 1 proxies (round-robin)\n");
  CurlResult r = Curl(port, Via::Tunnel, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), peers.OutAddress(Peer::HttpProxy));

  std::string err;
  const auto waitForReload = [&] {
    err.clear();
    for (int i = 0; i < 50 && err.find("list changed") == std::string::npos; ++i) {
      serve.waitForReadyRead(100);
      err += serve.readAllStandardError().toStdString();
    }
  };
  // Rewritten as a save does it (a new file renamed into place), to a proxy that wants
  // a log-on the store does not have yet.
  const std::string authProxy = "127.0.0.1:" + std::to_string(peers.HttpProxyAuthPort());
  qbtest::WriteFile(dir.File("Proxies.pro.new"), authProxy + "@HTTP$0.3\r\n");
  ASSERT_EQ(std::rename(dir.File("Proxies.pro.new").c_str(), dir.File("Proxies.pro").c_str()), 0);
  waitForReload();
  EXPECT_NE(err.find("the list changed; 1 proxies"), std::string::npos) << err;
  r = Curl(port, Via::Request, peers.OriginUrl("/echo"));
  EXPECT_NE(r.out.find("No proxy could reach"), std::string::npos) << r.out;
  // The log-on arrives in the store: used from then on.
  ASSERT_TRUE(
      qbtest::StoreLogOn(dir.Path(),
                         qb::CredentialsKey("127.0.0.1", std::to_string(peers.HttpProxyAuthPort()), "HTTP"),
                         qb::ProxyCredentials{peers.ProxyUser(), peers.ProxyPassword()})
          .ok());
  waitForReload();
  r = Curl(port, Via::Request, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), peers.OutAddress(Peer::HttpProxyAuth)) << r.out;

  ASSERT_TRUE(qbtest::SignalProcess(serve, SIGTERM));
  ASSERT_TRUE(serve.waitForFinished(5000));
  EXPECT_EQ(serve.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(serve.exitCode(), 0);
  EXPECT_FALSE(qbtest::ReadFile(dir.File("Proxies.pro")).empty());
}

TEST(ServeCommand, BadOptionsAndTakenPortAreRefused) {
  qbtest::TempDir dir;
  EXPECT_EQ(qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--policy", "random"}).exitCode, 2);
  EXPECT_EQ(qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--type", "FTP"}).exitCode, 2);
  EXPECT_EQ(qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--listen", "127.0.0.1"}).exitCode, 2);
  // The health checks' numbers keep to Options.ini's ranges.
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--check-interval", "-1"},
                                              {"--check-timeout", "0"},
                                              {"--tolerance", "fast"},
                                              {"--failures=0"},
                                              {"--set-aside-max", "86401"},
                                              {"--close-tunnels", "maybe"}}) {
    std::vector<std::string> args{"serve", "--data-dir", dir.Path()};
    args.insert(args.end(), bad.begin(), bad.end());
    const qbtest::CliResult r = qbtest::RunCli(args);
    EXPECT_EQ(r.exitCode, 2) << bad[0];
    EXPECT_NE(r.err.find(bad[0].substr(0, bad[0].find('='))), std::string::npos) << r.err;
  }
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  CEndpoint holder(config);
  ASSERT_TRUE(holder.Start().ok());
  const qbtest::CliResult taken = qbtest::RunCli(
      {"serve", "--data-dir", dir.Path(), "--listen", "127.0.0.1:" + std::to_string(holder.Port())});
  EXPECT_EQ(taken.exitCode, 1);
  EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1:"), std::string::npos) << taken.err;

  // An address others on the network may reach is served only when named on the
  // command line, never because Options.ini says so.
  for (const char* listen : {"0.0.0.0:9", "[::]:9"}) {
    qb::ExtraOptions wide;
    wide.endpoint.listen = listen;
    ASSERT_TRUE(qbtest::SaveOptionsIn(dir.Path(), wide).ok());
    const qbtest::CliResult refused = qbtest::RunCli({"serve", "--data-dir", dir.Path()});
    EXPECT_EQ(refused.exitCode, 2) << listen;
    EXPECT_NE(refused.err.find("not a loopback address"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--listen"), std::string::npos) << refused.err;
  }
}

}  // namespace
