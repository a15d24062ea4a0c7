// The worker's task set-up: proxies, items and verification URLs, without a network.
#include <gtest/gtest.h>

#include "verify/VerifyControl.h"
#include "verify/VerifyProxyThread.h"

namespace {

TEST(WorkerTask, SetProxyAcceptsListTypesAndRejectsBadLines) {
  CVerifyProxyThread w;
  EXPECT_FALSE(w.SetProxy("61.50.172.138:80"));  // no type
  EXPECT_EQ(w.m_bProxySet, 0);
  EXPECT_TRUE(w.SetProxy("61.50.172.138:8080@socks5$1.2#fast"));
  EXPECT_EQ(w.m_sProxyAddr, "61.50.172.138");
  EXPECT_EQ(w.m_sProxyPort, "8080");
  EXPECT_EQ(w.m_nProxyType, 5);
  EXPECT_TRUE(w.SetProxy("10.0.0.1:21@FTP"));
  EXPECT_EQ(w.m_nProxyType, 6);
  EXPECT_TRUE(w.SetProxy("10.0.0.1:70@gopher"));
  EXPECT_EQ(w.m_nProxyType, 7);
}

TEST(WorkerTask, SetProxyFieldsValidatesPortAndType) {
  CVerifyProxyThread w;
  // The bare SOCKS type and the empty type are the worker's own.
  EXPECT_TRUE(w.SetProxyFields("h", " 1080 ", "socks"));
  EXPECT_EQ(w.m_nProxyType, 3);
  EXPECT_EQ(w.m_sProxyPort, "1080");
  EXPECT_TRUE(w.SetProxyFields("h", "80", ""));
  EXPECT_EQ(w.m_nProxyType, 0);

  CVerifyProxyThread v;
  EXPECT_FALSE(v.SetProxyFields("a.b", "0", "HTTP"));
  EXPECT_EQ(v.m_sProxyAddr, "a.b");  // kept although the call failed
  EXPECT_EQ(v.m_bProxySet, 0);
  EXPECT_FALSE(v.SetProxyFields("a.b", "65536", "HTTP"));
  EXPECT_FALSE(v.SetProxyFields("a.b", "80", "TELNET"));
  EXPECT_EQ(v.m_bProxySet, 0);
  EXPECT_TRUE(v.SetProxyFields("a.b", "65535", "https"));
  EXPECT_EQ(v.m_nProxyType, 2);
}

TEST(WorkerTask, OneItemPerTaskWithHttpOrFtpScheme) {
  CVerifyProxyThread w;
  EXPECT_FALSE(w.AddVerifyItem("https://x/", "f"));
  EXPECT_FALSE(w.AddVerifyItem(" http://x/", "f"));
  EXPECT_TRUE(w.AddVerifyItem("HtTp://Host/Page", "feat"));
  EXPECT_EQ(w.m_aVerifyItems[0].m_sUrl, "HtTp://Host/Page");  // stored unchanged
  EXPECT_EQ(w.m_aVerifyItems[0].m_dTime, 50.0);
  EXPECT_FALSE(w.AddVerifyItem("ftp://other/", ""));
  EXPECT_EQ(w.m_aVerifyItems[0].m_sUrl, "HtTp://Host/Page");
  w.ClearVerifyItems();
  EXPECT_TRUE(w.AddVerifyItem("ftp://other/", ""));
  EXPECT_EQ(w.m_nVerifyItems, 1);
}

TEST(WorkerTask, SplitUrlFillsEveryPart) {
  CVerifyProxyThread w;
  ASSERT_TRUE(w.SplitUrl("  http://me:pw@example.org:8080/a/b.html"));
  EXPECT_EQ(w.m_nUrlScheme, 1);
  EXPECT_EQ(w.m_sUser, "me");
  EXPECT_EQ(w.m_sPassword, "pw");
  EXPECT_EQ(w.m_sHost, "example.org");
  EXPECT_EQ(w.m_nPort, 8080);
  EXPECT_EQ(w.m_sObject, "/a/b.html");

  ASSERT_TRUE(w.SplitUrl("http://example.org"));
  EXPECT_EQ(w.m_nPort, 0);
  EXPECT_EQ(w.m_sObject, "");
  EXPECT_EQ(w.m_sUser, "");  // cleared from the previous split

  ASSERT_TRUE(w.SplitUrl("FTP://anon@files.example/pub"));
  EXPECT_EQ(w.m_nUrlScheme, 2);
  EXPECT_EQ(w.m_sUser, "anon");
  EXPECT_EQ(w.m_sPassword, "");

  // Another scheme is not a failure: the route then finds nothing it can carry.
  ASSERT_TRUE(w.SplitUrl("gopher://h/"));
  EXPECT_EQ(w.m_nUrlScheme, 0);

  // The port keeps its low 16 bits, as the Windows version's conversion did.
  ASSERT_TRUE(w.SplitUrl("http://h:65617/"));
  EXPECT_EQ(w.m_nPort, 81);
}

TEST(WorkerTask, SplitUrlFailures) {
  CVerifyProxyThread w;
  EXPECT_FALSE(w.SplitUrl(""));
  EXPECT_FALSE(w.SplitUrl("   "));
  EXPECT_FALSE(w.SplitUrl("example.org/page"));
  EXPECT_FALSE(w.SplitUrl("http://h:0/"));
  EXPECT_FALSE(w.SplitUrl("http://h:abc/"));
  EXPECT_FALSE(w.SplitUrl("http://h:65536/"));  // low 16 bits are 0
}

// A task is refused without touching the network and still ends with one done report.
TEST(WorkerTask, TaskWithoutProxyItemOrTargetVerifiesNothing) {
  CVerifyProxyThread w;
  int reports = 0;
  QObject::connect(&w, &CVerifyProxyThread::DoneReport, [&](CVerifyProxyThread*, int, int) { ++reports; });
  w.AddVerifyItem("http://127.0.0.1:1/", "x");
  w.SetProxy("127.0.0.1:1@HTTP");
  w.m_aVerifyItems[0].m_nStatus = VERIFY_OK;
  w.OnVerify();  // no target yet: nID is still 99999, and no window to report to
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(w.m_aVerifyItems[0].m_nStatus, VERIFY_NONE);
  EXPECT_EQ(w.m_bRunning, 0);

  QObject receiver;
  w.SetTarget(&receiver, WM_VERIFYSTATUS, WM_VERIFYDONE, 3, 7);
  w.ClearVerifyItems();
  w.OnVerify();
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(w.m_bRunning, 0);
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
    QObject receiver;
    std::vector<QString> texts;
    QObject::connect(&w, &CVerifyProxyThread::StatusReport,
                     [&](CVerifyProxyThread*, int, int, const QString& t) { texts.push_back(t); });
    w.SetTarget(&receiver, WM_VERIFYSTATUS, WM_VERIFYDONE, 0, 0);
    ASSERT_TRUE(w.SetProxy(c.proxy));
    ASSERT_TRUE(w.AddVerifyItem(c.url, "x"));
    w.OnVerify();
    EXPECT_EQ(w.m_aVerifyItems[0].m_nStatus, VERIFY_UNSUPPORTED) << c.proxy << " " << c.url;
    EXPECT_TRUE(texts.empty()) << c.proxy;
  }
}

TEST(WorkerTask, BadUrlAndMissingHost) {
  CVerifyProxyThread w;
  QObject receiver;
  std::vector<QString> texts;
  QObject::connect(&w, &CVerifyProxyThread::StatusReport,
                   [&](CVerifyProxyThread*, int, int, const QString& t) { texts.push_back(t); });
  w.SetTarget(&receiver, WM_VERIFYSTATUS, WM_VERIFYDONE, 0, 0);
  ASSERT_TRUE(w.SetProxy("127.0.0.1:9@SOCKS5"));
  ASSERT_TRUE(w.AddVerifyItem("http://127.0.0.1:0/x", "x"));
  w.OnVerify();
  EXPECT_EQ(w.m_aVerifyItems[0].m_nStatus, VERIFY_BADURL);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].toStdString(), "地址无效    (http://127.0.0.1:0/x)");

  // A URL without a host cannot even open a connection object.
  w.ClearVerifyItems();
  ASSERT_TRUE(w.AddVerifyItem("http:///x", "x"));
  w.OnVerify();
  EXPECT_EQ(w.m_aVerifyItems[0].m_nStatus, VERIFY_ERROR);
  EXPECT_EQ(texts.back().toStdString(), "异常错误");
}

TEST(WorkerTask, ResultTextsOfTheList) {
  EXPECT_EQ(VerifyResultText(VERIFY_OK, 1.234), "1.2");
  EXPECT_EQ(VerifyResultText(VERIFY_ERROR, 0), "验证异常");
  EXPECT_EQ(VerifyResultText(VERIFY_UNSUPPORTED, 0), "不支持此协议");
  EXPECT_EQ(VerifyResultText(VERIFY_PROXYFAILED, 0), "连接失败");
  EXPECT_EQ(VerifyResultText(VERIFY_PASSWORD, 0), "密码不匹配");
  EXPECT_EQ(VerifyResultText(VERIFY_MISMATCH, 3.0), "不匹配");
  for (int other : {0, 3, 5, 6, 42}) EXPECT_EQ(VerifyResultText(other, 1.0), "超时");
}

}  // namespace
