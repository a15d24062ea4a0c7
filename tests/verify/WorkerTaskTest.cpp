// A worker's task: the proxy's kind and port, verification URLs, and tasks that end
// without a network.
#include <gtest/gtest.h>

#include "support/ShortTimeouts.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

using qbtest::TaskFor;

namespace {

TEST(WorkerTask, ProxyKindsOfTheListAndOfTheWorker) {
  EXPECT_EQ(ProxyKindFromType("socks5"), ProxyKind::Socks5);
  EXPECT_EQ(ProxyKindFromType("FTP"), ProxyKind::Ftp);
  EXPECT_EQ(ProxyKindFromType("gopher"), ProxyKind::Gopher);
  EXPECT_EQ(ProxyKindFromType("https"), ProxyKind::Https);
  // The bare SOCKS type and the empty type are the worker's own.
  EXPECT_EQ(ProxyKindFromType("socks"), ProxyKind::Socks);
  EXPECT_EQ(ProxyKindFromType(""), ProxyKind::Any);
  EXPECT_EQ(ProxyKindFromType("TELNET"), std::nullopt);
  EXPECT_EQ(ProxyKindFromType("HTTP "), std::nullopt);
}

TEST(WorkerTask, PortsFromOneTo65535) {
  EXPECT_EQ(ProxyPortFromText(" 1080 "), 1080);
  EXPECT_EQ(ProxyPortFromText("65535"), 65535);
  EXPECT_EQ(ProxyPortFromText("0"), std::nullopt);
  EXPECT_EQ(ProxyPortFromText("65536"), std::nullopt);
  EXPECT_EQ(ProxyPortFromText("-80"), std::nullopt);
  EXPECT_EQ(ProxyPortFromText(""), std::nullopt);
}

TEST(WorkerTask, OnlyHttpHttpsAndFtpResourcesCanBeVerified) {
  EXPECT_TRUE(IsVerifiableUrl("HTTPS://x/"));
  EXPECT_FALSE(IsVerifiableUrl("gopher://x/"));
  EXPECT_FALSE(IsVerifiableUrl(" http://x/"));
  EXPECT_FALSE(IsVerifiableUrl("http:/x/"));
  EXPECT_TRUE(IsVerifiableUrl("HtTp://Host/Page"));
  EXPECT_TRUE(IsVerifiableUrl("ftp://other/"));
}

TEST(WorkerTask, SplitUrlFillsEveryPart) {
  auto u = SplitVerifyUrl("  http://me:pw@example.org:8080/a/b.html");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->scheme, VerifyUrl::Http);
  EXPECT_EQ(u->user, "me");
  EXPECT_EQ(u->password, "pw");
  EXPECT_EQ(u->host, "example.org");
  EXPECT_EQ(u->port, 8080);
  EXPECT_EQ(u->object, "/a/b.html");

  u = SplitVerifyUrl("http://example.org");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->port, 0);
  EXPECT_EQ(u->object, "");
  EXPECT_EQ(u->user, "");

  u = SplitVerifyUrl("FTP://anon@files.example/pub");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->scheme, VerifyUrl::Ftp);
  EXPECT_EQ(u->user, "anon");
  EXPECT_EQ(u->password, "");

  // Another scheme is not a failure: the route then finds nothing it can carry.
  u = SplitVerifyUrl("gopher://h/");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->scheme, VerifyUrl::Other);

  // The port keeps its low 16 bits, as the Windows version's conversion did.
  u = SplitVerifyUrl("http://h:65617/");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->port, 81);
}

TEST(WorkerTask, SplitUrlFailures) {
  EXPECT_FALSE(SplitVerifyUrl(""));
  EXPECT_FALSE(SplitVerifyUrl("   "));
  EXPECT_FALSE(SplitVerifyUrl("example.org/page"));
  EXPECT_FALSE(SplitVerifyUrl("http://h:0/"));
  EXPECT_FALSE(SplitVerifyUrl("http://h:abc/"));
  EXPECT_FALSE(SplitVerifyUrl("http://h:65536/"));  // low 16 bits are 0
}

// A resource the worker cannot use ends the task at once with a result (the row then
// reads "超时"), instead of leaving its slot silent until the watchdog.
TEST(WorkerTask, UnusableResourceEndsTheTaskAtOnce) {
  CVerifyProxyThread w;
  VerifyTask t = TaskFor("127.0.0.1:1@HTTP", "gopher://127.0.0.1:1/", "x");
  t.id = 42;
  t.slot = 3;
  t.row = 7;
  const VerifyResult r = w.Verify(t);
  EXPECT_EQ(r.taskId, 42u);
  EXPECT_EQ(r.slot, 3);
  EXPECT_EQ(r.row, 7);
  EXPECT_EQ(r.status, VERIFY_BADURL);
  EXPECT_EQ(VerifyResultText(r.status, r.seconds), "超时");
  EXPECT_EQ(r.texts, std::vector<std::string>{"地址无效    (gopher://127.0.0.1:1/)"});

  // What an older version made of an https:// resource, read by the same splitting:
  // its host is "https" with an empty port, so each proxy ends as "超时".
  const VerifyResult old = w.Verify(TaskFor("127.0.0.1:1@HTTP", "http://https://127.0.0.1:1/", "x"));
  EXPECT_EQ(old.status, VERIFY_BADURL);
  EXPECT_EQ(VerifyResultText(old.status, old.seconds), "超时");
}

TEST(WorkerTask, RoutesRefuseSchemesTheirProxyCannotCarry) {
  // No request is made for these, so no peer is needed: an HTTP proxy never carries
  // ftp, an FTP proxy never carries http, and nothing carries another scheme.
  struct Case {
    const char* proxy;
    const char* url;
  } cases[] = {{"127.0.0.1:9@HTTP", "ftp://127.0.0.1/"},
               {"127.0.0.1:9@HTTPS", "ftp://127.0.0.1/"},
               {"127.0.0.1:9@FTP", "http://127.0.0.1/"}};
  for (const Case& c : cases) {
    CVerifyProxyThread w;
    std::vector<QString> signalled;
    QObject::connect(&w, &CVerifyProxyThread::StatusText,
                     [&](quint64, int, int, const QString& t) { signalled.push_back(t); });
    const VerifyResult r = w.Verify(TaskFor(c.proxy, c.url, "x"));
    EXPECT_EQ(r.status, VERIFY_UNSUPPORTED) << c.proxy << " " << c.url;
    EXPECT_TRUE(r.texts.empty()) << c.proxy;
    EXPECT_TRUE(signalled.empty()) << c.proxy;
  }
}

TEST(WorkerTask, BadUrlAndMissingHost) {
  CVerifyProxyThread w;
  std::vector<QString> signalled;
  QObject::connect(&w, &CVerifyProxyThread::StatusText,
                   [&](quint64, int, int, const QString& t) { signalled.push_back(t); });
  VerifyResult r = w.Verify(TaskFor("127.0.0.1:9@SOCKS5", "http://127.0.0.1:0/x", "x"));
  EXPECT_EQ(r.status, VERIFY_BADURL);
  ASSERT_EQ(r.texts.size(), 1u);
  EXPECT_EQ(r.texts[0], "地址无效    (http://127.0.0.1:0/x)");
  ASSERT_EQ(signalled.size(), 1u);
  EXPECT_EQ(signalled[0].toStdString(), r.texts[0]);

  // A URL without a host cannot even open a connection object.
  r = w.Verify(TaskFor("127.0.0.1:9@SOCKS5", "http:///x", "x"));
  EXPECT_EQ(r.status, VERIFY_ERROR);
  ASSERT_FALSE(r.texts.empty());
  EXPECT_EQ(r.texts.back(), "异常错误");
}

TEST(WorkerTask, ResultTextsOfTheList) {
  EXPECT_EQ(VerifyResultText(VERIFY_OK, 1.234), "1.2");
  EXPECT_EQ(VerifyResultText(VERIFY_ERROR, 0), "验证异常");
  EXPECT_EQ(VerifyResultText(VERIFY_UNSUPPORTED, 0), "不支持此协议");
  EXPECT_EQ(VerifyResultText(VERIFY_PROXYFAILED, 0), "连接失败");
  EXPECT_EQ(VerifyResultText(VERIFY_PASSWORD, 0), "密码不匹配");
  EXPECT_EQ(VerifyResultText(VERIFY_MISMATCH, 3.0), "不匹配");
  EXPECT_EQ(VerifyResultText(VERIFY_TLS_INTERCEPTED, 1.0), "TLS被拦截");
  EXPECT_EQ(VerifyResultText(VERIFY_MODIFIED, 1.0), "内容被篡改");
  for (int other : {0, 3, 5, 6, 42}) EXPECT_EQ(VerifyResultText(other, 1.0), "超时");
}

}  // namespace
