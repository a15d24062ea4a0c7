// Proxy judges: the page, the server, and what the loopback proxies reveal through it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "support/LoopbackPeers.h"
#include "support/ScriptedPrompt.h"
#include "support/ShortTimeouts.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"
#include "ui/VerifyResultDlg.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

// Sends bytes to 127.0.0.1:port, closes its sending side and returns all it gets back.
std::string Exchange(int port, const std::string& request, const std::string& address = "127.0.0.1") {
  sockaddr_storage sa{};
  socklen_t len = sizeof(sockaddr_in);
  auto& a4 = reinterpret_cast<sockaddr_in&>(sa);
  auto& a6 = reinterpret_cast<sockaddr_in6&>(sa);
  if (inet_pton(AF_INET, address.c_str(), &a4.sin_addr) == 1) {
    a4.sin_family = AF_INET;
    a4.sin_port = htons(static_cast<uint16_t>(port));
  } else {
    inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr);
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof(sockaddr_in6);
  }
  const int fd = socket(sa.ss_family, SOCK_STREAM, 0);
  timeval tv{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string out;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0) {
    [[maybe_unused]] ssize_t n = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    char buf[4096];
    ssize_t got;
    while ((got = recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(got));
  }
  close(fd);
  return out;
}

bool PortOpen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

JudgeView View(std::string remote, std::vector<std::pair<std::string, std::string>> headers) {
  return JudgeView{std::move(remote), std::move(headers)};
}

}  // namespace

TEST(JudgePage, RendersEachHeaderOnItsOwnLineAndReadsBack) {
  JudgeRequest r;
  r.remoteAddr = "127.0.0.5";
  r.remotePort = 40000;
  r.method = "GET";
  r.uri = "/";
  r.protocol = "HTTP/1.1";
  r.headers = {{"Host", "127.0.0.1:8898"},
               {"Via", "1.1 squid"},
               {"X-Forwarded-For", "127.0.0.1"},
               // A value that tries to end the page and forge a line of its own.
               {"X-Evil", "a</body>\nREMOTE_ADDR = 6.6.6.6 & <b>"}};
  const std::string page = RenderJudgePage(r);
  EXPECT_NE(page.find("HTTP_X_FORWARDED_FOR = 127.0.0.1\r\n"), std::string::npos) << page;
  EXPECT_NE(page.find(kJudgeFeature), std::string::npos);
  // "</body>" only once, at the end, after the fields and the feature text.
  EXPECT_EQ(page.find("</body>"), page.rfind("</body>"));
  EXPECT_GT(page.find("</body>"), page.find(kJudgeFeature));

  const std::optional<JudgeView> v = ParseJudgePage(page);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->remoteAddr, "127.0.0.5");
  ASSERT_EQ(v->headers.size(), 4u);
  EXPECT_EQ(v->headers[1], (std::pair<std::string, std::string>{"VIA", "1.1 squid"}));
  EXPECT_EQ(v->headers[3].first, "X_EVIL");
  EXPECT_EQ(v->headers[3].second, "a</body> REMOTE_ADDR = 6.6.6.6 & <b>");

  // Other judges' layouts: fields between <br> tags or in table cells, IPv6 and
  // IPv4-mapped addresses.
  const auto br = ParseJudgePage("<html><body>REMOTE_ADDR = ::ffff:10.1.2.3<br>HTTP_VIA = 1.0 x<br></body>");
  ASSERT_TRUE(br);
  EXPECT_EQ(br->remoteAddr, "10.1.2.3");
  EXPECT_EQ(br->headers.size(), 1u);
  EXPECT_EQ(ParseJudgePage("<td>REMOTE_ADDR = 2001:DB8::1</td>")->remoteAddr, "2001:db8::1");
  // Pages that are no judge: no REMOTE_ADDR, or one that is no address.
  EXPECT_FALSE(ParseJudgePage("<html><body><p>QuillberryFeature</p></body></html>"));
  EXPECT_FALSE(ParseJudgePage("REMOTE_ADDR = unknown\r\nHTTP_VIA = x\r\n"));
}

TEST(JudgePage, ClassifiesByOwnAddressesAndProxyHeaders) {
  const std::vector<std::string> own{"127.0.0.1", "192.0.2.7"};
  auto cls = [&](JudgeView v) { return std::string(AnonymityName(ClassifyJudgeView(v, own))); };

  EXPECT_EQ(cls(View("127.0.0.5", {{"VIA", "1.1 squid"}, {"X_FORWARDED_FOR", "127.0.0.1"}})), "transparent");
  EXPECT_EQ(cls(View("198.51.100.1", {{"X_TINYPROXY", "192.0.2.7"}})), "transparent");
  EXPECT_EQ(cls(View("198.51.100.1", {{"FORWARDED", "for=\"[::ffff:192.0.2.7]:4711\";proto=http"}})),
            "transparent");
  // Any header counts, not only the known ones, and a port does not hide the address.
  EXPECT_EQ(cls(View("198.51.100.1", {{"X_WHATEVER", "client 192.0.2.7:5555"}})), "transparent");
  // The exit address being the user's own hides nothing either.
  EXPECT_EQ(cls(View("192.0.2.7", {})), "transparent");

  // The target's own address in Host and its kin says nothing about the user, even
  // when the judge runs on the user's machine.
  EXPECT_EQ(cls(View("127.0.0.4", {{"HOST", "127.0.0.1:8898"},
                                   {"X_FORWARDED_HOST", "127.0.0.1:8898"},
                                   {"FORWARDED", "by=127.0.0.4;host=127.0.0.1:8898"}})),
            "anonymous");
  EXPECT_EQ(cls(View("127.0.0.4", {{"VIA", "1.1 tinyproxy (tinyproxy/1.11.1)"}})), "anonymous");
  EXPECT_EQ(cls(View("127.0.0.4", {{"X_FORWARDED_FOR", "unknown"}})), "anonymous");
  EXPECT_EQ(cls(View("127.0.0.4", {{"PROXY_CONNECTION", "keep-alive"}})), "anonymous");
  // A neighbour of an own address is not it.
  EXPECT_EQ(cls(View("127.0.0.4", {{"CLIENT_IP", "127.0.0.10"}})), "anonymous");

  EXPECT_EQ(cls(View("127.0.0.7", {{"HOST", "127.0.0.1:8898"},
                                   {"USER_AGENT", "Mozilla/4.0 (compatible; MSIE 5.0; Win32)"},
                                   {"ACCEPT", "text/*"},
                                   {"CACHE_CONTROL", "no-cache"}})),
            "elite");
  EXPECT_EQ(AddressesIn("1.1 proxy, 10.0.0.1, [2001:db8::2]:80, 300.1.1.1, 1.2.3"),
            (std::vector<std::string>{"10.0.0.1", "2001:db8::2"}));
}

class JudgeServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start().ok()); }
  CJudgeServer server{"127.0.0.1", 0};
};

TEST_F(JudgeServerTest, AnswersGetWithThePageAndRefusesBadInput) {
  const std::string page =
      Exchange(server.Port(),
               "GET /any/path?x=1 HTTP/1.1\r\nHost: judge\r\nX-Forwarded-For: 10.9.8.7\r\n"
               " , 10.9.8.6\r\n\r\n");
  ASSERT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << page;
  const std::optional<JudgeView> v = ParseJudgePage(page);
  ASSERT_TRUE(v) << page;
  EXPECT_EQ(v->remoteAddr, "127.0.0.1");
  EXPECT_NE(page.find("REQUEST_URI = /any/path?x=1\r\n"), std::string::npos);
  EXPECT_NE(page.find("HTTP_X_FORWARDED_FOR = 10.9.8.7 , 10.9.8.6\r\n"), std::string::npos) << page;

  const std::string head = Exchange(server.Port(), "HEAD / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.0 200 OK", 0), 0u);
  EXPECT_EQ(head.find("REMOTE_ADDR"), std::string::npos) << "HEAD has no body";

  EXPECT_EQ(Exchange(server.Port(), "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").rfind("HTTP/1.0 405", 0),
            0u);
  EXPECT_EQ(Exchange(server.Port(), "\x16\x03\x01 garbage\r\n\r\n").rfind("HTTP/1.0 400", 0), 0u);
  EXPECT_EQ(Exchange(server.Port(), "GET / HTTP/1.1\r\nno colon here\r\n\r\n").rfind("HTTP/1.0 400", 0), 0u);
  EXPECT_EQ(
      Exchange(server.Port(), "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a')).rfind("HTTP/1.0 431", 0),
      0u);
  // A client that says nothing and leaves costs nothing.
  EXPECT_EQ(Exchange(server.Port(), ""), "");
  EXPECT_EQ(server.Refused(), 4u);
  // Still serving after all that.
  EXPECT_TRUE(ParseJudgePage(Exchange(server.Port(), "GET / HTTP/1.0\r\n\r\n")));
  EXPECT_EQ(server.Served(), 3u);
}

// What each loopback proxy reveals to the judge, through the worker as a run uses it.
class JudgeThroughProxies : public JudgeServerTest {
 protected:
  struct Seen {
    int status = -1;
    std::string anonymity;
    std::string exit;
  };
  Seen Through(const std::string& proxyLine, const std::string& feature = "REMOTE_ADDR",
               const std::string& user = {}, const std::string& password = {}) {
    VerifyTask t = qbtest::TaskFor(proxyLine, JudgeUrl(), feature);
    t.proxyUser = user;
    t.proxyPassword = password;
    t.ownAddresses = own;
    CVerifyProxyThread w;
    const VerifyResult r = w.Verify(t);
    return {r.status, r.anonymity, r.exitAddress};
  }
  std::string JudgeUrl() const { return "http://127.0.0.1:" + std::to_string(server.Port()) + "/"; }
  static std::string Line(int port, const char* type) {
    return "127.0.0.1:" + std::to_string(port) + "@" + type;
  }

  qbtest::ShortTimeouts timeouts{3000};
  std::shared_ptr<COwnAddresses> own = std::make_shared<COwnAddresses>();
};

TEST_F(JudgeThroughProxies, PeersOfTheTestSuite) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Squid);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Socks5Auth);
  QB_REQUIRE_PEER(Peer::HttpProxyAuth);
  const auto& p = Peers();
  struct Case {
    std::string line;
    Peer peer;
    const char* anonymity;
    std::string user, password;
  };
  const std::vector<Case> cases = {
      // tinyproxy names itself in Via and adds nothing about its client.
      {Line(p.HttpProxyPort(), "HTTP"), Peer::HttpProxy, "anonymous", {}, {}},
      {Line(p.HttpProxyAuthPort(), "HTTP"), Peer::HttpProxyAuth, "anonymous", p.ProxyUser(),
       p.ProxyPassword()},
      // squid's default X-Forwarded-For carries the client's address.
      {Line(p.SquidPort(), "HTTP"), Peer::Squid, "transparent", {}, {}},
      // A SOCKS proxy only carries bytes.
      {Line(p.SocksPort(), "SOCKS4"), Peer::Socks, "elite", {}, {}},
      {Line(p.SocksPort(), "SOCKS5"), Peer::Socks, "elite", {}, {}},
      {Line(p.Socks5AuthPort(), "SOCKS5"), Peer::Socks5Auth, "elite", p.ProxyUser(), p.ProxyPassword()},
  };
  for (const Case& c : cases) {
    const Seen s = Through(c.line, "REMOTE_ADDR", c.user, c.password);
    EXPECT_EQ(s.status, VERIFY_OK) << c.line;
    EXPECT_EQ(s.anonymity, c.anonymity) << c.line;
    EXPECT_EQ(s.exit, p.OutAddress(c.peer)) << c.line;
  }
  // The user's own address was learned once for all of them, by one direct request.
  EXPECT_EQ(server.Served(), cases.size() + 1);
  const std::vector<std::string> mine = own->For(JudgeUrl(), {});
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.front(), "127.0.0.1");

  // Our own judge's text as the feature works as well; a feature the page lacks
  // fails the proxy and judges nothing; a page that is no judge judges nothing.
  EXPECT_EQ(Through(cases[2].line, kJudgeFeature).anonymity, "transparent");
  const Seen mismatch = Through(cases[2].line, "not on the page");
  EXPECT_EQ(mismatch.status, VERIFY_MISMATCH);
  EXPECT_EQ(mismatch.anonymity, "");
  VerifyTask plain = qbtest::TaskFor(cases[0].line, p.OriginUrl("/feature.html"), p.Feature());
  CVerifyProxyThread w;
  const VerifyResult r = w.Verify(plain);
  EXPECT_EQ(r.status, VERIFY_OK);
  EXPECT_EQ(r.anonymity, "");
  EXPECT_EQ(r.exitAddress, "");
}

TEST_F(JudgeThroughProxies, ARunAsksForTheOwnAddressOnceAndTheResultWindowTells) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Squid);
  QB_REQUIRE_PEER(Peer::Socks);
  const auto& p = Peers();
  qbtest::ScriptedPrompt prompt;
  CProxyListModel list;
  CSettings settings;
  settings.m_nThreadNumber = 3;
  settings.m_aVerifySources = {{"judge", JudgeUrl(), "REMOTE_ADDR", 1}};
  const std::string squid = Line(p.SquidPort(), "HTTP");
  for (const std::string& line : {Line(p.HttpProxyPort(), "HTTP"), squid, Line(p.SocksPort(), "SOCKS5")})
    ASSERT_EQ(list.AddProxyLine(line, 0), 1);
  CVerifyControl c(list, settings);
  c.OnVerifyAll();
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.IsIdle(); }, 10000));
  EXPECT_EQ(server.Served(), 3u + 1u);

  int row = 0;
  while (row < list.RowCount() && list.GetProxyLine(row).rfind(squid, 0) != 0) ++row;
  ASSERT_LT(row, list.RowCount());
  list.selectionModel()->clear();
  list.SelectRow(row);
  QSignalSpy shown(&c, &CVerifyControl::VerifyResultShown);
  c.OnVerifySelected();
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.IsIdle(); }, 10000));
  ASSERT_EQ(shown.count(), 1);
  EXPECT_EQ(shown[0][0].toString().toStdString(), list.Entry(row)->TimeStatus());
  EXPECT_EQ(shown[0][1].toString(), "transparent");
  // The window's status line for it.
  EXPECT_EQ(
      ResultStatusText(shown[0][0].toString(), shown[0][1].toString(), shown[0][2].toString()).toStdString(),
      "验证状态：" + list.Entry(row)->TimeStatus() + "    匿名程度：透明    出口地址：" +
          p.OutAddress(Peer::Squid));
  // A new run asks again.
  EXPECT_EQ(server.Served(), 4u + 2u);
  EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
}

// tinyproxy instances of the test's own, one setting apart from the suite's peer.
class OwnTinyproxy {
 public:
  OwnTinyproxy(const std::string& dir, const std::string& name, const std::string& out,
               const std::vector<std::string>& extra)
      : m_port(FreePort()), m_log(dir + name + ".log") {
    std::string conf;
    if (geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    conf += qb::Format("Port %d\nListen 127.0.0.1\nBind %s\nTimeout 30\nMaxClients 20\nAllow 127.0.0.0/8\n",
                       m_port, out.c_str());
    conf += "LogFile \"" + dir + name + ".log\"\nLogLevel Info\n";
    conf += "Filter \"" + dir + "filter\"\nFilterType ere\nFilterDefaultDeny Yes\n";
    for (const std::string& l : extra) conf += l + "\n";
    qbtest::WriteFile(dir + "filter", "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$\n");
    qbtest::WriteFile(dir + name + ".conf", conf);
    m_process.start("tinyproxy", {"-d", "-c", QString::fromStdString(dir + name + ".conf")});
    m_process.waitForStarted(5000);
    for (int i = 0; i < 300 && !PortOpen(m_port); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~OwnTinyproxy() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) m_process.kill();
    m_process.waitForFinished(3000);
  }
  int Port() const { return m_port; }
  bool Running() const { return m_process.state() == QProcess::Running && PortOpen(m_port); }
  std::string Problem() {
    return m_process.errorString().toStdString() + ": " + m_process.readAll().toStdString() +
           qbtest::ReadFile(m_log);
  }

 private:
  int m_port;
  std::string m_log;
  QProcess m_process;
};

TEST_F(JudgeThroughProxies, TinyproxyThatNamesItsClientOrNothing) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  qbtest::TempDir dir;
  // The daemon writes its log after switching to nobody.
  chmod(dir.Path().c_str(), 01777);
  // X-Tinyproxy carries the client's address.
  OwnTinyproxy revealing(dir.Path(), "revealing", "127.0.0.8", {"XTinyproxy Yes"});
  // No Via, and nothing else added.
  OwnTinyproxy silent(dir.Path(), "silent", "127.0.0.9", {"DisableViaHeader Yes"});
  ASSERT_TRUE(revealing.Running()) << revealing.Problem();
  ASSERT_TRUE(silent.Running()) << silent.Problem();

  const Seen r = Through(Line(revealing.Port(), "HTTP"));
  EXPECT_EQ(r.status, VERIFY_OK);
  EXPECT_EQ(r.anonymity, "transparent");
  EXPECT_EQ(r.exit, "127.0.0.8");
  const Seen s = Through(Line(silent.Port(), "HTTP"));
  EXPECT_EQ(s.status, VERIFY_OK);
  EXPECT_EQ(s.anonymity, "elite");
  EXPECT_EQ(s.exit, "127.0.0.9");
}

namespace {

// A squid of the test's own that drops X-Forwarded-For and keeps its Via.
class OwnSquid {
 public:
  OwnSquid(const std::string& dir, const std::string& out) : m_port(FreePort()) {
    m_service = "qbjudge" + std::to_string(getpid());
    std::string conf = qb::Format("http_port 127.0.0.1:%d\nvisible_hostname judge-test\n", m_port);
    conf += "pid_filename " + dir + "squid.pid\n";
    if (geteuid() == 0) conf += "cache_effective_user nobody\ncache_effective_group nogroup\n";
    conf += "cache deny all\ncache_mem 8 MB\naccess_log none\ncache_log " + dir +
            "cache.log\ncache_store_log none\nnetdb_filename none\ncoredump_dir " + dir +
            "\nmax_filedescriptors 1024\ndns_nameservers 127.0.0.1\npinger_enable off\nicp_port 0\n"
            "htcp_port 0\nshutdown_lifetime 0 seconds\ntcp_outgoing_address " +
            out +
            "\nacl qb_src src 127.0.0.0/8\nacl qb_dst dst 127.0.0.0/8\nhttp_access allow qb_src qb_dst\n"
            "http_access deny all\nforwarded_for delete\n";
    qbtest::WriteFile(dir + "squid.conf", conf);
    m_process.start("squid", {"-N", "-n", QString::fromStdString(m_service), "-f",
                              QString::fromStdString(dir + "squid.conf")});
    m_process.waitForStarted(5000);
    for (int i = 0; i < 1500 && !PortOpen(m_port) && m_process.state() == QProcess::Running; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~OwnSquid() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) m_process.kill();
    m_process.waitForFinished(3000);
    // Its shared memory segments are named after the service.
    for (const QString& f :
         QDir("/dev/shm").entryList({QString::fromStdString(m_service) + "-*"}, QDir::Files))
      QFile::remove("/dev/shm/" + f);
  }
  int Port() const { return m_port; }
  bool Running() const { return m_process.state() == QProcess::Running && PortOpen(m_port); }

 private:
  int m_port;
  std::string m_service;
  QProcess m_process;
};

}  // namespace

TEST_F(JudgeThroughProxies, SquidWithoutForwardedForIsAnonymous) {
  QB_REQUIRE_PEER(Peer::Squid);
  qbtest::TempDir dir;
  chmod(dir.Path().c_str(), 01777);
  OwnSquid squid(dir.Path(), "127.0.0.10");
  ASSERT_TRUE(squid.Running()) << qbtest::ReadFile(dir.File("cache.log"));
  const Seen s = Through(Line(squid.Port(), "HTTP"));
  EXPECT_EQ(s.status, VERIFY_OK);
  EXPECT_EQ(s.anonymity, "anonymous");
  EXPECT_EQ(s.exit, "127.0.0.10");
}

namespace {

QString CliPath() {
  const char* cli = std::getenv("QB_CLI");
  return cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
}

}  // namespace

TEST(CliJudge, ServesUntilTerminatedAndRefusesBadArguments) {
  QProcess judge;
  judge.start(CliPath(), {"judge", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(judge.waitForStarted(5000));
  ASSERT_TRUE(judge.waitForReadyRead(5000));
  const std::string line = judge.readLine().trimmed().toStdString();
  const std::string prefix = "judge: listening on 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::atoi(line.c_str() + prefix.size());
  const std::optional<JudgeView> v =
      ParseJudgePage(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\nVia: 1.1 test\r\n\r\n"));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->remoteAddr, "127.0.0.1");
  ASSERT_TRUE(qbtest::SignalProcess(judge, SIGTERM));
  ASSERT_TRUE(judge.waitForFinished(5000));
  EXPECT_EQ(judge.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(judge.exitCode(), 0);

  EXPECT_EQ(qbtest::RunCli({"judge", "--listen", "nowhere"}).exitCode, 2);
  EXPECT_EQ(qbtest::RunCli({"judge", "--bogus"}).exitCode, 2);
  // A port already taken.
  CJudgeServer taken("127.0.0.1", 0);
  ASSERT_TRUE(taken.Start().ok());
  const auto busy = qbtest::RunCli({"judge", "--listen", "127.0.0.1:" + std::to_string(taken.Port())});
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_NE(busy.err.find("judge: "), std::string::npos);
}

// localhost is both loopback families on one port; an address is listened on alone.
TEST(CliJudge, LocalhostListensOnBothFamilies) {
  QProcess judge;
  judge.start(CliPath(), {"judge", "--listen", "localhost:0"});
  ASSERT_TRUE(judge.waitForStarted(5000));
  ASSERT_TRUE(judge.waitForReadyRead(5000));
  const std::string line = judge.readLine().trimmed().toStdString();
  const std::string prefix = "judge: listening on 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::atoi(line.c_str() + prefix.size());
  EXPECT_EQ(line, prefix + std::to_string(port) + " and [::1]:" + std::to_string(port));
  for (const char* address : {"127.0.0.1", "::1"}) {
    const std::optional<JudgeView> v = ParseJudgePage(Exchange(port, "GET / HTTP/1.0\r\n\r\n", address));
    ASSERT_TRUE(v) << address;
    EXPECT_EQ(v->remoteAddr, address);
  }
  ASSERT_TRUE(qbtest::SignalProcess(judge, SIGTERM));
  ASSERT_TRUE(judge.waitForFinished(5000));
  EXPECT_EQ(judge.exitCode(), 0);

  CJudgeServer v4("127.0.0.1", 0);
  ASSERT_TRUE(v4.Start().ok());
  EXPECT_EQ(v4.Listening(), std::vector<std::string>{"127.0.0.1:" + std::to_string(v4.Port())});
  EXPECT_EQ(Exchange(v4.Port(), "GET / HTTP/1.0\r\n\r\n", "::1"), "");
  CJudgeServer v6("::1", 0);
  ASSERT_TRUE(v6.Start().ok());
  EXPECT_EQ(v6.Listening(), std::vector<std::string>{"[::1]:" + std::to_string(v6.Port())});
  EXPECT_EQ(ParseJudgePage(Exchange(v6.Port(), "GET / HTTP/1.0\r\n\r\n", "::1"))->remoteAddr, "::1");

  // A port that is taken on one family is no port for both: asked for, it fails and
  // names the family; any port, and another one is found.
  const auto taken = qbtest::RunCli({"judge", "--listen", "localhost:" + std::to_string(v6.Port())});
  EXPECT_EQ(taken.exitCode, 1);
  EXPECT_NE(taken.err.find("[::1]:" + std::to_string(v6.Port())), std::string::npos) << taken.err;
  CJudgeServer both("localhost", 0);
  ASSERT_TRUE(both.Start().ok());
  EXPECT_EQ(both.Listening().size(), 2u);
  EXPECT_NE(both.Port(), v6.Port());
}

TEST_F(JudgeThroughProxies, VerifyCommandPrintsAnonymityAndExit) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Squid);
  const auto& p = Peers();
  qbtest::TempDir data;
  const std::string dead = Line(p.DeadPort(), "HTTP");
  qbtest::WriteFile(data.File("list.txt"), Line(p.HttpProxyPort(), "HTTP") + "\r\n" +
                                               Line(p.SquidPort(), "HTTP") + "\r\n" + dead + "\r\n");
  auto run = [&](const char* format, const std::string& url, const std::string& feature) {
    return qbtest::RunCli({"--data-dir", data.Path(), "verify", "--connect-timeout", "2", "--verify-timeout",
                           "2", "--http", url, feature, "--format", format, data.File("list.txt")});
  };
  const auto csv = run("csv", JudgeUrl(), "REMOTE_ADDR");
  ASSERT_EQ(csv.exitCode, 0) << csv.err;
  EXPECT_NE(csv.out.find("address,port,type,status,remark,anonymity,exit,state\r\n"), std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find(qb::Format(",anonymous,%s,ok\r\n", p.OutAddress(Peer::HttpProxy).c_str())),
            std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find(qb::Format(",transparent,%s,ok\r\n", p.OutAddress(Peer::Squid).c_str())),
            std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find("127.0.0.1," + std::to_string(p.DeadPort()) + ",HTTP,连接失败,,,,failed\r\n"),
            std::string::npos)
      << csv.out;

  const auto lines = run("line", JudgeUrl(), "REMOTE_ADDR");
  ASSERT_EQ(lines.exitCode, 0) << lines.err;
  EXPECT_NE(lines.out.find("\tanonymous\t" + p.OutAddress(Peer::HttpProxy) + "\n"), std::string::npos)
      << lines.out;
  EXPECT_NE(lines.out.find(dead + "$连接失败\n"), std::string::npos) << lines.out;

  const auto json = run("json", JudgeUrl(), "REMOTE_ADDR");
  EXPECT_NE(json.out.find("\"anonymity\":\"transparent\",\"exit\":\"" + p.OutAddress(Peer::Squid) + "\"}"),
            std::string::npos)
      << json.out;

  // Without a judge the output is as it always was.
  const auto plain = run("csv", p.OriginUrl("/feature.html"), p.Feature());
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out.rfind("address,port,type,status,remark,state\r\n", 0), 0u) << plain.out;
  EXPECT_EQ(plain.out.find("anonym"), std::string::npos);
}
