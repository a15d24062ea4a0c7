// Clients kept on one upstream: by the session they name (SOCKS5 or HTTP log-on, or
// the session header) and, when asked, by their target; and where a key goes when its
// upstream stops. The upstreams are microsocks leaving from addresses of their own, so
// the origin's echo tells which one carried a request.
#include <QProcess>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EndpointClients.h"
#include "endpoint/Endpoint.h"
#include "settings/Options.h"
#include "support/LoopbackPeers.h"
#include "support/TempDir.h"

namespace {

using eptest::EchoClient;
using eptest::EndWithParent;
using eptest::FreePort;
using eptest::OwnSocks;
using qb::CEndpoint;
using qb::EndpointConfig;
using qb::UpstreamProxy;
using qbtest::Peer;
using qbtest::Peers;

UpstreamProxy Socks(const OwnSocks& s, const std::string& exit = {}) {
  UpstreamProxy u{"127.0.0.1", std::to_string(s.Port()), "SOCKS5", std::nullopt, 0.5};
  u.exitAddress = exit;
  return u;
}

std::unique_ptr<CEndpoint> Start(EndpointConfig config, std::vector<UpstreamProxy> pool) {
  config.listen = {"127.0.0.1", 0};
  auto e = std::make_unique<CEndpoint>(config);
  e->SetPool(std::move(pool));
  EXPECT_TRUE(e->Start().ok());
  return e;
}

// The address the origin saw, for a request through the endpoint as the proxy URL
// says (its scheme and log-on), with curl's further arguments.
std::string ExitOf(const CEndpoint& e, const std::string& proxy, const std::string& url,
                   const QStringList& more = {}) {
  const std::string at = "127.0.0.1:" + std::to_string(e.Port());
  QStringList args{"-sS", "--max-time", "10", "--noproxy", "", "-x", QString::fromStdString(proxy + at)};
  args << more << QString::fromStdString(url);
  QProcess p;
  QProcessEnvironment env;
  env.insert("PATH", "/usr/bin:/bin");
  p.setProcessEnvironment(env);
  p.start("/usr/bin/curl", args);
  if (!p.waitForStarted(5000) || !p.waitForFinished(20000)) return "no curl";
  return EchoClient(p.readAllStandardOutput().toStdString());
}

std::set<std::string> Exits(const CEndpoint& e, const std::string& proxy, const std::string& url, int times,
                            const QStringList& more = {}) {
  std::set<std::string> seen;
  for (int i = 0; i < times; ++i) seen.insert(ExitOf(e, proxy, url, more));
  return seen;
}

TEST(EndpointSticky, ANamedSessionStaysOnItsUpstreamAndMovesWhenItStops) {
  QB_REQUIRE_PEER(Peer::Origin);
  const std::string url = Peers().OriginUrl("/echo");
  std::map<std::string, std::unique_ptr<OwnSocks>> upstreams;
  std::vector<UpstreamProxy> pool;
  for (const char* out : {"127.0.0.41", "127.0.0.42", "127.0.0.43"}) {
    upstreams[out] = std::make_unique<OwnSocks>(out);
    ASSERT_TRUE(upstreams[out]->Ready());
    pool.push_back(Socks(*upstreams[out]));
  }
  EndpointConfig config;
  config.policy = qb::EndpointPolicy::RoundRobin;
  auto e = Start(config, pool);

  // Without a session, round robin spreads the requests.
  EXPECT_EQ(Exits(*e, "socks5h://", url, 3).size(), 3u);
  // Each way of naming a session keeps it on one upstream, whatever the password.
  const std::set<std::string> a = Exits(*e, "socks5h://session-a:any@", url, 4);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_TRUE(upstreams.count(*a.begin())) << *a.begin();
  const std::set<std::string> b = Exits(*e, "http://user-session-b-ttl-5:x@", url, 4);
  EXPECT_EQ(b.size(), 1u);
  const std::set<std::string> c =
      Exits(*e, "http://", url, 4, {"-p", "--proxy-header", "X-Quillberry-Session: c"});
  EXPECT_EQ(c.size(), 1u);
  // Sessions are kept apart: the round robin went on between them.
  EXPECT_EQ(ExitOf(*e, "socks5h://session-a:other@", url), *a.begin());

  // Its upstream stops: the session goes on through another, and stays there.
  upstreams[*a.begin()]->Stop();
  const std::set<std::string> moved = Exits(*e, "socks5h://session-a:any@", url, 4);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_NE(*moved.begin(), *a.begin());
  EXPECT_TRUE(upstreams.count(*moved.begin())) << *moved.begin();
}

TEST(EndpointSticky, AMovedSessionPrefersAnUpstreamWithTheSameExitAddress) {
  QB_REQUIRE_PEER(Peer::Origin);
  const std::string url = Peers().OriginUrl("/echo");
  OwnSocks first("127.0.0.44"), other("127.0.0.45"), twin("127.0.0.46");
  ASSERT_TRUE(first.Ready() && other.Ready() && twin.Ready());
  // first and twin leave from one address (as two ports of one proxy host do); the
  // policy alone would go from first to other.
  EndpointConfig config;
  config.policy = qb::EndpointPolicy::Failover;
  auto e = Start(config, {Socks(first, "192.0.2.7"), Socks(other, "192.0.2.8"), Socks(twin, "192.0.2.7")});
  ASSERT_EQ(ExitOf(*e, "socks5h://session-k:x@", url), "127.0.0.44");
  first.Stop();
  EXPECT_EQ(Exits(*e, "socks5h://session-k:x@", url, 3), std::set<std::string>{"127.0.0.46"});
  // A client without a session gets the policy's choice.
  EXPECT_EQ(ExitOf(*e, "socks5h://", url), "127.0.0.45");
}

TEST(EndpointSticky, KeptTargetsEachStayOnTheirUpstream) {
  QB_REQUIRE_PEER(Peer::Origin);
  const std::string url = Peers().OriginUrl("/echo");
  // The same origin by another name is another target.
  std::string byName = url;
  byName.replace(byName.find("127.0.0.1"), 9, "localhost");
  OwnSocks a("127.0.0.47"), b("127.0.0.48");
  ASSERT_TRUE(a.Ready() && b.Ready());
  EndpointConfig config;
  config.policy = qb::EndpointPolicy::RoundRobin;
  config.keepTargets = true;
  auto e = Start(config, {Socks(a), Socks(b)});
  const std::set<std::string> one = Exits(*e, "socks5h://", url, 3);
  const std::set<std::string> two = Exits(*e, "http://", byName, 3);
  EXPECT_EQ(one.size(), 1u);
  EXPECT_EQ(two.size(), 1u);
  // Round robin handed the second target the other upstream.
  EXPECT_NE(one, two);
  // A named session still goes its own way: no target binds it.
  EXPECT_EQ(Exits(*e, "socks5h://session-s:x@", url, 2).size(), 1u);
}

// Options.ini holds the two choices, and serve follows them or its own options.
TEST(EndpointSticky, OptionsFileAndServeKeepTargets) {
  qb::ExtraOptions o;
  EXPECT_FALSE(o.endpoint.keepTargets);
  EXPECT_EQ(o.endpoint.stickyLease, 600);
  o.endpoint.keepTargets = true;
  o.endpoint.stickyLease = 90;
  const std::string text = qb::FormatOptionsFile(o);
  EXPECT_NE(text.find("\nKeepTargets=1\nStickyLease=90\n"), std::string::npos) << text;
  EXPECT_EQ(qb::ParseOptionsFile(text), o);
  for (const char* bad : {"0", "86401", "1h", ""})
    EXPECT_EQ(qb::ParseOptionsFile(std::string("[Endpoint]\nStickyLease=") + bad + "\n").endpoint.stickyLease,
              600)
        << bad;

  QB_REQUIRE_PEER(Peer::Origin);
  OwnSocks a("127.0.0.49"), b("127.0.0.50");
  ASSERT_TRUE(a.Ready() && b.Ready());
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("Proxies.pro"), "127.0.0.1:" + std::to_string(a.Port()) +
                                                 "@SOCKS5$0.1\r\n127.0.0.1:" + std::to_string(b.Port()) +
                                                 "@SOCKS5$0.2\r\n");
  const char* cli = std::getenv("QB_CLI");
  const QString program = cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
  // The options file's choice, the command line's on top of another file's, and the
  // command line turning the file's choice off.
  struct Run {
    const char* ini;
    QStringList flags;
    size_t exits;
  };
  for (const Run& run : {Run{"KeepTargets=1\nStickyLease=60\n", {}, 1},
                         Run{"KeepTargets=0\n", {"--keep-targets", "yes", "--sticky-lease", "60"}, 1},
                         Run{"KeepTargets=1\n", {"--keep-targets=no"}, 2}}) {
    SCOPED_TRACE(run.ini + run.flags.join(' ').toStdString());
    qbtest::WriteFile(dir.File("Options.ini"), std::string("[Endpoint]\nPolicy=round-robin\n") + run.ini);
    const int port = FreePort();
    QProcess serve;
    EndWithParent(serve);
    serve.start(program, QStringList{"serve", "--data-dir", QString::fromStdString(dir.Path()), "--listen",
                                     "127.0.0.1:" + QString::number(port)}
                             << run.flags);
    ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
    EXPECT_EQ(serve.readLine().toStdString(),
              "serve: listening on 127.0.0.1:" + std::to_string(port) + " with 2 proxies (round-robin)\n");
    std::set<std::string> seen;
    for (int i = 0; i < 4; ++i) {
      QProcess curl;
      curl.start("/usr/bin/curl",
                 {"-sS", "--max-time", "10", "--noproxy", "", "--socks5-hostname",
                  "127.0.0.1:" + QString::number(port), QString::fromStdString(Peers().OriginUrl("/echo"))});
      ASSERT_TRUE(curl.waitForFinished(20000));
      seen.insert(EchoClient(curl.readAllStandardOutput().toStdString()));
    }
    EXPECT_EQ(seen.size(), run.exits);
    EXPECT_TRUE(seen.count("127.0.0.49") || seen.count("127.0.0.50")) << *seen.begin();
    serve.terminate();
    EXPECT_TRUE(serve.waitForFinished(10000));
  }
  // Out of range or not yes/no: refused before anything listens.
  for (const QStringList& bad :
       {QStringList{"--sticky-lease", "0"}, QStringList{"--keep-targets", "maybe"}}) {
    QProcess serve;
    serve.start(program, QStringList{"serve", "--data-dir", QString::fromStdString(dir.Path())} << bad);
    ASSERT_TRUE(serve.waitForFinished(10000));
    EXPECT_EQ(serve.exitCode(), 2) << bad.join(' ').toStdString();
  }
}

}  // namespace
