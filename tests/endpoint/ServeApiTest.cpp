// quillberry-cli serve with its control API, end to end: real upstreams (tinyproxy and a
// microsocks of the test's own), curl as the endpoint's client and the API's.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include "EndpointClients.h"
#include "datadir/DataDir.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/LoopbackPeers.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

namespace {

using eptest::Curl;
using eptest::EchoClient;
using eptest::FreePort;
using eptest::Via;
using qbtest::Peer;
using qbtest::Peers;

struct ApiReply {
  int status = 0;
  std::string body;
  QJsonObject Json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

ApiReply AskApi(int port, const std::string& path, QStringList extra = {}) {
  QStringList args{"-sS", "--max-time", "10", "--noproxy", "*", "-w", "\n%{http_code}"};
  args << extra << QString::fromStdString("http://127.0.0.1:" + std::to_string(port) + path);
  QProcess p;
  QProcessEnvironment env;
  env.insert("PATH", "/usr/bin:/bin");
  p.setProcessEnvironment(env);
  p.start("/usr/bin/curl", args);
  ApiReply r;
  if (!p.waitForStarted(5000) || !p.waitForFinished(20000)) return r;
  const std::string out = p.readAllStandardOutput().toStdString();
  const size_t nl = out.rfind('\n');
  if (nl == std::string::npos) return r;
  r.body = out.substr(0, nl);
  r.status = std::atoi(out.c_str() + nl + 1);
  return r;
}

QJsonObject FindUpstream(const QJsonObject& pool, const std::string& line) {
  for (const QJsonValue& u : pool["upstreams"].toArray()) {
    if (u["line"].toString().toStdString() == line) return u.toObject();
  }
  return {};
}

// The value of the sample whose line is exactly name{labels} in the metrics' text.
double Metric(const std::string& text, const std::string& sample) {
  const size_t at = text.find("\n" + sample + " ");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + sample.size() + 2);
}

QString Cli() {
  const char* cli = std::getenv("QB_CLI");
  return cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
}

TEST(ServeApi, ThePoolAndTheMetricsFollowTheTrafficAndMarkBadTakesAnUpstreamOut) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  eptest::OwnSocks socks("127.0.0.7");
  ASSERT_TRUE(socks.Ready());
  const std::string socksLine = "127.0.0.1:" + std::to_string(socks.Port()) + "@SOCKS5";
  const std::string httpLine = "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) + "@HTTP";
  qbtest::TempDir dir;
  // The SOCKS5 one is the faster: failover takes it first.
  qbtest::WriteFile(dir.File("Proxies.pro"), socksLine + "$0.2\r\n" + httpLine + "$0.4\r\n");
  {
    // The only verification resource is the local origin's: whatever serve checks its
    // upstreams against stays on loopback.
    const auto data = qb::DataDir::Open(dir.Path(), qb::DataDir::Access::Write);
    ASSERT_TRUE(data);
    data->Settings().m_aVerifySources.clear();
    qb::AddVerifySource(data->Settings(), "local", peers.OriginUrl("/feature.html"), peers.Feature(), 1);
    ASSERT_TRUE(data->SaveSettings().ok());
  }
  const int port = FreePort();
  const int apiPort = FreePort();
  QProcess serve;
  eptest::EndWithParent(serve);
  serve.start(Cli(), {"serve", "--data-dir", QString::fromStdString(dir.Path()), "--listen",
                      "127.0.0.1:" + QString::number(port), "--api", "127.0.0.1:" + QString::number(apiPort),
                      "--api-token", "tok"});
  ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
  std::string out = serve.readAll().toStdString();
  for (int i = 0; i < 20 && out.find("control API") == std::string::npos; ++i) {
    serve.waitForReadyRead(100);
    out += serve.readAll().toStdString();
  }
  EXPECT_NE(out.find("serve: control API on 127.0.0.1:" + std::to_string(apiPort) + " (token required)\n"),
            std::string::npos)
      << out;
  const QStringList auth{"-H", "Authorization: Bearer tok"};
  EXPECT_EQ(AskApi(apiPort, "/pool").status, 401);

  ApiReply pool = AskApi(apiPort, "/pool", auth);
  ASSERT_EQ(pool.status, 200) << pool.body;
  EXPECT_EQ(pool.Json()["upstreams"].toArray().size(), 2);
  EXPECT_EQ(FindUpstream(pool.Json(), socksLine)["state"].toString(), "ok") << pool.body;
  // The same, a page at a time.
  QJsonArray pages;
  for (const char* query : {"/pool?limit=1", "/pool?offset=1&limit=1", "/pool?offset=2"}) {
    const ApiReply page = AskApi(apiPort, query, auth);
    ASSERT_EQ(page.status, 200) << query << page.body;
    EXPECT_EQ(page.Json()["total"].toInt(), 2) << query;
    for (const auto& u : page.Json()["upstreams"].toArray()) pages.append(u.toObject()["line"]);
  }
  ASSERT_EQ(pages.size(), 2);
  EXPECT_EQ(pages[0], pool.Json()["upstreams"].toArray()[0].toObject()["line"]);
  EXPECT_EQ(pages[1], pool.Json()["upstreams"].toArray()[1].toObject()["line"]);

  for (int i = 0; i < 3; ++i) {
    const eptest::CurlResult r = Curl(port, Via::Tunnel, peers.OriginUrl("/echo"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EchoClient(r.out), "127.0.0.7");
  }
  pool = AskApi(apiPort, "/pool", auth);
  const QJsonObject used = FindUpstream(pool.Json(), socksLine);
  EXPECT_EQ(used["connections"].toInt(), 3) << pool.body;
  EXPECT_GT(used["bytes_down"].toDouble(), 0) << pool.body;
  EXPECT_GT(used["bytes_up"].toDouble(), 0) << pool.body;
  EXPECT_EQ(FindUpstream(pool.Json(), httpLine)["connections"].toInt(), 0) << pool.body;

  ApiReply metrics = AskApi(apiPort, "/metrics", auth);
  ASSERT_EQ(metrics.status, 200);
  EXPECT_EQ(Metric(metrics.body,
                   "quillberry_upstream_connections_total{type=\"SOCKS5\",upstream=\"" + socksLine + "\"}"),
            3)
      << metrics.body;
  EXPECT_GE(Metric(metrics.body, "quillberry_endpoint_connections_total"), 3) << metrics.body;
  EXPECT_EQ(Metric(metrics.body, "quillberry_pool_upstreams{state=\"ok\"}"), 2) << metrics.body;

  // Marked bad: out of use at once, for the endpoint and for /get alike.
  const ApiReply marked = AskApi(apiPort, "/mark-bad",
                                 QStringList(auth) << "--data-urlencode"
                                                   << "line=" + QString::fromStdString(socksLine));
  EXPECT_EQ(marked.status, 200) << marked.body;
  const eptest::CurlResult after = Curl(port, Via::Tunnel, peers.OriginUrl("/echo"));
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(EchoClient(after.out), peers.OutAddress(Peer::HttpProxy));
  EXPECT_EQ(FindUpstream(AskApi(apiPort, "/pool", auth).Json(), socksLine)["state"].toString(), "aside");
  EXPECT_EQ(AskApi(apiPort, "/get", auth).Json()["line"].toString().toStdString(), httpLine);
  EXPECT_EQ(AskApi(apiPort, "/get?type=SOCKS5", auth).status, 404);
  const QJsonObject counts = AskApi(apiPort, "/count", auth).Json();
  EXPECT_EQ(counts["ok"].toInt(), 1);
  EXPECT_EQ(counts["aside"].toInt(), 1);
  metrics = AskApi(apiPort, "/metrics", auth);
  EXPECT_EQ(Metric(metrics.body, "quillberry_pool_upstreams{state=\"aside\"}"), 1) << metrics.body;
  EXPECT_EQ(Metric(metrics.body,
                   "quillberry_upstream_connections_total{type=\"HTTP\",upstream=\"" + httpLine + "\"}"),
            1)
      << metrics.body;

  // Hostile API clients disturb neither the API nor the endpoint: one that never ends
  // its request stays open meanwhile, and noise is closed.
  eptest::RawClient stalled(apiPort, 200);
  stalled.Send("GET /pool HTTP/1.1\r\nAuthorization: Bearer tok\r\n");
  {
    eptest::RawClient noise(apiPort);
    noise.Send(std::string("\x16\x03\x01\x00\x05hello", 10));
    EXPECT_EQ(noise.Receive(), "");
    eptest::RawClient huge(apiPort);
    huge.Send("GET /pool HTTP/1.1\r\nX: " + std::string(20000, 'x') + "\r\n\r\n");
    EXPECT_EQ(huge.Receive().substr(0, 12), "HTTP/1.1 431");
  }
  const eptest::CurlResult still = Curl(port, Via::Request, peers.OriginUrl("/echo"));
  EXPECT_EQ(still.exitCode, 0) << still.err;
  EXPECT_EQ(AskApi(apiPort, "/count", auth).status, 200);

  // A check of every upstream starts (202), or, while serve has no check resource
  // configured, is refused as such (409), never taken for an unknown upstream.
  const QStringList checkAll = QStringList(auth) << "-X"
                                                 << "POST";
  const ApiReply check = AskApi(apiPort, "/check", checkAll);
  EXPECT_TRUE(check.status == 202 ||
              (check.status == 409 && check.body.find("health checks are off") != std::string::npos))
      << check.status << " " << check.body;
  const QStringList checkUnknown = QStringList(auth) << "--data"
                                                     << "line=127.0.0.1:1@HTTP";
  EXPECT_EQ(AskApi(apiPort, "/check", checkUnknown).status, 404);
  // A line the pool has is checked or refused for want of a resource, never unknown.
  const ApiReply checkKnown =
      AskApi(apiPort, "/check", QStringList(auth) << "--data" << QString::fromStdString("line=" + socksLine));
  EXPECT_EQ(checkKnown.status, check.status) << checkKnown.body;
  EXPECT_EQ(AskApi(apiPort, "/mark-bad",
                   QStringList(auth) << "--data"
                                     << "line=127.0.0.1:1@HTTP")
                .status,
            404);

  ASSERT_TRUE(qbtest::SignalProcess(serve, SIGTERM));
  ASSERT_TRUE(serve.waitForFinished(5000));
  EXPECT_EQ(serve.exitCode(), 0);
}

TEST(ServeApi, BadApiOptionsAndATakenPortAreRefused) {
  qbtest::TempDir dir;
  EXPECT_EQ(qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--api", "127.0.0.1"}).exitCode, 2);
  EXPECT_EQ(
      qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--api", "127.0.0.1:9", "--api-token", ""}).exitCode,
      2);

  // The API's port taken: nothing serves, the endpoint included.
  int taken = 0;
  const int holder = eptest::BoundSocket("127.0.0.1", 0, taken);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(listen(holder, 1), 0);
  const int port = FreePort();
  const qbtest::CliResult busy =
      qbtest::RunCli({"serve", "--data-dir", dir.Path(), "--listen", "127.0.0.1:" + std::to_string(port),
                      "--api", "127.0.0.1:" + std::to_string(taken)});
  close(holder);
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_NE(busy.err.find("127.0.0.1:" + std::to_string(taken)), std::string::npos) << busy.err;

  // A wider address only when named on the command line, never from Options.ini.
  qb::ExtraOptions wide;
  wide.api.listen = "0.0.0.0:9";
  ASSERT_TRUE(qbtest::SaveOptionsIn(dir.Path(), wide).ok());
  const qbtest::CliResult refused = qbtest::RunCli({"serve", "--data-dir", dir.Path()});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("--api"), std::string::npos) << refused.err;
}

}  // namespace
