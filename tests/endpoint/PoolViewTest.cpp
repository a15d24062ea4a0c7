// The endpoint's view of its pool (CEndpoint::Upstreams, MarkBad) with curl as the
// client and tinyproxy and microsocks as the upstreams, all on loopback.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EndpointClients.h"
#include "endpoint/Endpoint.h"
#include "support/LoopbackPeers.h"

namespace {

using eptest::Curl;
using eptest::CurlResult;
using eptest::EchoClient;
using eptest::OwnSocks;
using eptest::OwnTinyproxy;
using eptest::Via;
using qb::CEndpoint;
using qb::EndpointConfig;
using qb::UpstreamProxy;
using qb::UpstreamState;
using qbtest::Peer;
using qbtest::Peers;

UpstreamProxy Upstream(int port, const char* type, double seconds) {
  return UpstreamProxy{"127.0.0.1", std::to_string(port), type, std::nullopt, seconds};
}

const UpstreamState* StateOf(const std::vector<UpstreamState>& states, const std::string& line) {
  for (const UpstreamState& s : states) {
    if (s.line == line) return &s;
  }
  return nullptr;
}

std::unique_ptr<CEndpoint> Started(EndpointConfig config, std::vector<UpstreamProxy> pool) {
  config.listen = {"127.0.0.1", 0};
  auto e = std::make_unique<CEndpoint>(config);
  e->SetPool(std::move(pool));
  EXPECT_TRUE(e->Start().ok());
  return e;
}

TEST(EndpointPoolView, CountsEachUpstreamsConnectionsFailuresAndBytes) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnTinyproxy http("127.0.0.1");
  OwnSocks socks("127.0.0.41");
  ASSERT_TRUE(http.Ready() && socks.Ready());
  const UpstreamProxy dead = Upstream(peers.DeadPort(), "SOCKS5", 0.1);
  const UpstreamProxy viaSocks = Upstream(socks.Port(), "SOCKS5", 0.2);
  const UpstreamProxy viaHttp = Upstream(http.Port(), "HTTP", 0.3);
  EndpointConfig config;
  config.failuresToSetAside = 100;  // the dead one stays first and fails every time
  auto endpoint = Started(config, {dead, viaSocks, viaHttp});

  size_t received = 0;
  for (int i = 0; i < 3; ++i) {
    const CurlResult r = Curl(endpoint->Port(), i == 1 ? Via::Tunnel : Via::Socks5, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EchoClient(r.out), "127.0.0.41");
    received += r.out.size();
  }
  auto states = endpoint->Upstreams();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0].line, dead.Line());  // the pool's order
  const UpstreamState* d = StateOf(states, dead.Line());
  const UpstreamState* s = StateOf(states, viaSocks.Line());
  const UpstreamState* h = StateOf(states, viaHttp.Line());
  ASSERT_TRUE(d && s && h);
  EXPECT_EQ(d->connections, 0u);
  EXPECT_EQ(d->failuresTotal, 3u);
  EXPECT_EQ(d->failures, 3);
  EXPECT_EQ(d->state, "ok");
  EXPECT_EQ(s->connections, 3u);
  EXPECT_EQ(s->failuresTotal, 0u);
  EXPECT_EQ(s->type, "SOCKS5");
  // The origin's answers, heads and all, came down through it; the requests went up.
  EXPECT_GE(s->bytesDown, received);
  EXPECT_GT(s->bytesUp, 3 * std::string("GET /echo HTTP/1.1\r\n").size());
  EXPECT_GT(s->latency, 0);
  EXPECT_EQ(h->connections, 0u);
  EXPECT_EQ(h->bytesUp + h->bytesDown, 0u);

  // A forwarded request through tinyproxy counts on tinyproxy alone.
  endpoint->SetPool({viaHttp, viaSocks});
  const CurlResult r = Curl(endpoint->Port(), Via::Request, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  states = endpoint->Upstreams();
  ASSERT_EQ(states.size(), 2u);
  h = StateOf(states, viaHttp.Line());
  s = StateOf(states, viaSocks.Line());
  ASSERT_TRUE(h && s);
  EXPECT_EQ(h->connections, 1u);
  EXPECT_GE(h->bytesDown, r.out.size());
  // What a proxy carried counts from when it joined, across fresh pools that keep it.
  EXPECT_EQ(s->connections, 3u);
  EXPECT_GE(s->bytesDown, received);
}

// An origin that answers its one request with a page of size bytes.
class BulkOrigin {
 public:
  explicit BulkOrigin(size_t size) {
    m_listener = eptest::BoundSocket("127.0.0.1", 0, m_port);
    if (m_listener < 0 || listen(m_listener, 4) != 0) return;
    m_thread = std::thread([this, size] {
      const int fd = accept(m_listener, nullptr, nullptr);
      if (fd < 0) return;
      std::string head;
      char c;
      while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) head += c;
      const std::string answer =
          "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" + std::string(size, 'x');
      send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      close(fd);
    });
  }
  ~BulkOrigin() {
    shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable()) m_thread.join();
    close(m_listener);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

 private:
  int m_listener = -1, m_port = 0;
  std::thread m_thread;
};

TEST(EndpointPoolView, BulkBytesThroughTheSplicedPathAreCounted) {
  OwnSocks socks("127.0.0.42");
  ASSERT_TRUE(socks.Ready());
  const UpstreamProxy u = Upstream(socks.Port(), "SOCKS5", 0.1);
  auto endpoint = Started({}, {u});
  // A page of a few hundred kilobytes moves through the relay's pipes, not its buffer.
  BulkOrigin origin(400000);
  const CurlResult r = Curl(endpoint->Port(), Via::Socks5, origin.Url());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.size(), 400000u);
  const auto states = endpoint->Upstreams();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_GE(states[0].bytesDown, r.out.size());
  EXPECT_LT(states[0].bytesDown, r.out.size() + 4096);
}

TEST(EndpointPoolView, MarkedBadIsSetAsideAtOnceAndClientsGoThroughAnother) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  OwnSocks first("127.0.0.43"), second("127.0.0.44");
  ASSERT_TRUE(first.Ready() && second.Ready());
  const UpstreamProxy a = Upstream(first.Port(), "SOCKS5", 0.1);
  const UpstreamProxy b = Upstream(second.Port(), "SOCKS5", 0.2);
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> announced;
  EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  CEndpoint endpoint(config);
  endpoint.OnSetAside([&](const std::string& line, const std::string& reason) {
    std::lock_guard lock(mutex);
    announced.emplace_back(line, reason);
  });
  endpoint.SetPool({a, b});
  // Before the loop runs the pool is read and marked all the same.
  EXPECT_EQ(endpoint.Upstreams().size(), 2u);
  EXPECT_FALSE(endpoint.MarkBad("127.0.0.1:1@SOCKS5"));
  ASSERT_TRUE(endpoint.Start().ok());

  CurlResult r = Curl(endpoint.Port(), Via::Socks5, peers.OriginUrl("/echo"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(EchoClient(r.out), "127.0.0.43");

  EXPECT_TRUE(endpoint.MarkBad(a.Line()));
  EXPECT_FALSE(endpoint.MarkBad(a.Line() + "x"));
  auto states = endpoint.Upstreams();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(StateOf(states, a.Line())->state, "aside");
  EXPECT_EQ(StateOf(states, b.Line())->state, "ok");
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::make_pair(a.Line(), std::string("marked bad")));
  }
  for (int i = 0; i < 2; ++i) {
    r = Curl(endpoint.Port(), i ? Via::Request : Via::Socks5, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EchoClient(r.out), "127.0.0.44");
  }
  EXPECT_EQ(endpoint.GetStats().failovers, 0u);  // nothing was tried through the bad one

  // Many threads asking at once while clients come and go each get the whole pool.
  std::vector<std::thread> askers;
  std::atomic<int> whole{0};
  for (int t = 0; t < 4; ++t) {
    askers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) whole += endpoint.Upstreams().size() == 2 ? 1 : 0;
    });
  }
  r = Curl(endpoint.Port(), Via::Tunnel, peers.OriginUrl("/echo"));
  for (std::thread& t : askers) t.join();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(whole.load(), 200);

  // A stopped endpoint still answers, from its kept pool.
  endpoint.Stop();
  states = endpoint.Upstreams();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(StateOf(states, b.Line())->connections, 3u);
}

TEST(EndpointPoolView, VerifiedFactsReachTheView) {
  std::vector<UpstreamProxy> pool = {Upstream(1080, "SOCKS5", 0.1), Upstream(3128, "HTTP", 0.2)};
  qb::DescribeUpstreams(pool,
                        [](const std::string& line) -> std::optional<qb::VerifiedFacts> {
                          if (line != "127.0.0.1:3128@HTTP") return std::nullopt;
                          return qb::VerifiedFacts{"198.51.100.7", "elite"};
                        },
                        {});
  EXPECT_EQ(pool[0].exitAddress, "");
  EXPECT_EQ(pool[1].exitAddress, "198.51.100.7");
  EXPECT_EQ(pool[1].anonymity, "elite");
  EXPECT_EQ(pool[1].country, "");  // no location looked up without a directory
  CEndpoint endpoint({});
  endpoint.SetPool(pool);
  const auto states = endpoint.Upstreams();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[1].exitAddress, "198.51.100.7");
  EXPECT_EQ(states[1].anonymity, "elite");
  EXPECT_EQ(states[0].state, "ok");
  EXPECT_EQ(states[0].uptime, -1);
}

}  // namespace
