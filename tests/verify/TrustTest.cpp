// Proxies that read or change what passes through them, met on loopback: an HTTPS
// origin whose certificate comes from a CA the test makes with openssl, clean proxies
// (tinyproxy with CONNECT, danted and microsocks with SOCKS5), mitmproxy intercepting
// TLS with its own CA, and mitmproxy with a script of the test's that changes HTML on
// plain HTTP (appends a script, or rewrites one byte and keeps the length).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ShortTimeouts.h"
#include "support/TempDir.h"
#include "verify/EngineResult.h"
#include "verify/HostPeers.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"
#include "verify/PageSeal.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

namespace {

// An HTTPS origin, on a second port a proxy that refuses every CONNECT with 403, and on
// a third the origin's page over plain HTTP.
constexpr const char* kOriginScript = R"PY(
import http.server, socketserver, ssl, sys, threading
port, refuse_port, cert, key, plain_port = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
PAGE = b"<html><body>\r\n<p>TrustOrigin</p>\r\n</body></html>\r\n"

class Page(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *args):
        pass
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

class Refuse(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_CONNECT(self):
        self.send_error(403)
    do_GET = do_CONNECT

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

refuse = Server(("127.0.0.1", refuse_port), Refuse)
threading.Thread(target=refuse.serve_forever, daemon=True).start()
# The same page over plain HTTP, sealing nothing: any site's page.
plain = Server(("127.0.0.1", plain_port), Page)
threading.Thread(target=plain.serve_forever, daemon=True).start()
origin = Server(("127.0.0.1", port), Page)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
origin.socket = context.wrap_socket(origin.socket, server_side=True)
origin.serve_forever()
)PY";

// mitmproxy's addon: HTML answers of plain requests are changed by their path.
constexpr const char* kTamperScript = R"PY(
def response(flow):
    if "text/html" not in flow.response.headers.get("content-type", ""):
        return
    path = flow.request.path
    if path.startswith("/inject"):
        flow.response.content = flow.response.content + b"<script src=\"http://127.0.0.1:9/miner.js\"></script>\r\n"
    elif path.startswith("/flood"):
        flow.response.content = flow.response.content + b"<!-- " + b"x" * (2 << 20) + b" -->"
    elif path.startswith("/flip"):
        flow.response.content = flow.response.content.replace(b"Proxy judge", b"Proxy judgf", 1)
)PY";

std::string Texts(const VerifyResult& r) {
  std::string out;
  for (const std::string& t : r.texts) out += (out.empty() ? "" : " | ") + t;
  return out;
}

std::string ProgramPath(const char* name) {
  return QStandardPaths::findExecutable(QString::fromLatin1(name)).toStdString();
}

// Runs a command to its end; its standard error when it failed.
std::string RunToEnd(const std::string& program, const std::vector<std::string>& args) {
  QProcess p;
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  p.start(QString::fromStdString(program), list);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return program + " failed: " + p.readAllStandardError().toStdString();
  return {};
}

// Everything the tests share, made once: the CA, the origin, mitmproxy.
struct TrustPeers {
  qbtest::TempDir dir;
  std::string problem;
  std::string mitmMissing;
  hosttest::Daemon origin, mitm, microsocks;
  int originPort = 0, refusePort = 0, plainPort = 0, mitmPort = 0, microsocksPort = 0;
  std::string originSha256;

  std::string CaFile() const { return dir.File("ca.pem"); }
  std::string MitmCaFile() const { return dir.File("mitm/mitmproxy-ca-cert.pem"); }
  std::string OriginUrl() const { return "https://127.0.0.1:" + std::to_string(originPort) + "/"; }
  std::string PlainUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(plainPort) + path;
  }

  TrustPeers() {
    const std::string openssl = ProgramPath("openssl");
    const std::string python = ProgramPath("python3");
    if (openssl.empty() || python.empty()) {
      problem = "openssl and python3 are needed";
      return;
    }
    qbtest::WriteFile(dir.File("ext.cnf"),
                      "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                      "extendedKeyUsage=serverAuth\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", dir.File("ca.key"), "-out", CaFile(), "-days", "2", "-subj", "/CN=Trust test CA",
              "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
              "keyUsage=critical,keyCertSign,cRLSign"},
             {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
              dir.File("origin.key"), "-out", dir.File("origin.csr"), "-subj", "/CN=127.0.0.1"},
             {"x509", "-req", "-in", dir.File("origin.csr"), "-CA", CaFile(), "-CAkey", dir.File("ca.key"),
              "-CAcreateserial", "-out", dir.File("origin.pem"), "-days", "2", "-extfile",
              dir.File("ext.cnf")},
             {"x509", "-in", dir.File("origin.pem"), "-outform", "DER", "-out", dir.File("origin.der")}}) {
      problem = RunToEnd(openssl, args);
      if (!problem.empty()) return;
    }
    originSha256 = Sha256Hex(qbtest::ReadFile(dir.File("origin.der")));

    qbtest::WriteFile(dir.File("origin.py"), kOriginScript);
    originPort = hosttest::FreeDualPort();
    refusePort = hosttest::FreeDualPort();
    plainPort = hosttest::FreeDualPort();
    if (!origin.Start(python,
                      {dir.File("origin.py"), std::to_string(originPort), std::to_string(refusePort),
                       dir.File("origin.pem"), dir.File("origin.key"), std::to_string(plainPort)},
                      "127.0.0.1", originPort) ||
        !hosttest::WaitForPort("127.0.0.1", refusePort, 10000) ||
        !hosttest::WaitForPort("127.0.0.1", plainPort, 10000)) {
      problem = "origin: " + origin.Problem();
      return;
    }

    if (const std::string socks = ProgramPath("microsocks"); !socks.empty()) {
      microsocksPort = hosttest::FreeDualPort();
      if (!microsocks.Start(socks, {"-i", "127.0.0.1", "-p", std::to_string(microsocksPort)}, "127.0.0.1",
                            microsocksPort))
        microsocksPort = 0;
    }

    const std::string mitmdump = ProgramPath("mitmdump");
    if (mitmdump.empty()) {
      mitmMissing =
          "mitmdump is not installed (Debian package mitmproxy; scripts/install-deps.sh installs it)";
      return;
    }
    qbtest::WriteFile(dir.File("tamper.py"), kTamperScript);
    mitmPort = hosttest::FreeDualPort();
    // Its CA is made in the test's own directory, and it checks nothing upstream, as a
    // proxy that reads everything would not either.
    if (!mitm.Start(
            mitmdump,
            {"--listen-host", "127.0.0.1", "--listen-port", std::to_string(mitmPort), "--set",
             "confdir=" + dir.File("mitm"), "--set", "ssl_insecure=true", "-q", "-s", dir.File("tamper.py")},
            "127.0.0.1", mitmPort))
      problem = "mitmdump: " + mitm.Problem();
  }
};

TrustPeers* g_peers = nullptr;

TrustPeers& Peers() {
  if (!g_peers) g_peers = new TrustPeers;
  return *g_peers;
}

// The peers stop and their directory (keys, mitmproxy's CA) goes when the tests end,
// while the application object the processes belong to still exists.
class StopTrustPeers : public ::testing::Environment {
 public:
  void TearDown() override {
    delete g_peers;
    g_peers = nullptr;
  }
};
[[maybe_unused]] ::testing::Environment* const g_stopTrustPeers =
    ::testing::AddGlobalTestEnvironment(new StopTrustPeers);

#define REQUIRE_TRUST_PEERS()       \
  do {                              \
    ASSERT_EQ(Peers().problem, ""); \
  } while (0)
#define REQUIRE_MITM()                                                     \
  do {                                                                     \
    REQUIRE_TRUST_PEERS();                                                 \
    if (!Peers().mitmMissing.empty()) GTEST_SKIP() << Peers().mitmMissing; \
  } while (0)

VerifyTask Task(ProxyKind kind, int port, const std::string& url, const std::string& feature) {
  VerifyTask t;
  t.kind = kind;
  t.address = "127.0.0.1";
  t.port = static_cast<std::uint16_t>(port);
  t.resource = {url, feature, {}, {}};
  t.connectTimeoutMs = 3000;
  t.replyTimeoutMs = 3000;
  t.transferCapMs = 15000;
  return t;
}

VerifyResult OnThread(const VerifyTask& t) {
  CVerifyProxyThread worker;
  return worker.Verify(t);
}

VerifyResult OnEngine(const VerifyTask& t) {
  return qbtest::ResultOnEngine(t, std::chrono::seconds(30));
}

// Both drivers run the same step; each case is checked through each.
std::vector<std::pair<const char*, VerifyResult>> BothWays(const VerifyTask& t) {
  return {{"thread", OnThread(t)}, {"engine", OnEngine(t)}};
}

std::string Judge(const CJudgeServer& judge, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(judge.Port()) + path;
}

// The seal on its own: what it says about pages changed in each way.
TEST(PageSeal, AnUntouchedPageIsIntactAndEachChangeIsFoundWhereItIs) {
  const std::string page = "<html>\r\n<p>one</p>\r\n<p>two</p>\r\n</html>\r\n";
  const std::string token = NewSealToken();
  ASSERT_TRUE(IsSealToken(token));
  const std::string sealed = SealPage(page, token);
  const std::size_t head = sealed.size() - page.size();

  const std::optional<SealCheck> same = CheckSealedBody(sealed, token);
  ASSERT_TRUE(same);
  EXPECT_TRUE(same->intact);
  EXPECT_EQ(CheckSealedBody(page, token), std::nullopt) << "no seal: nothing can be said";

  struct Case {
    const char* what;
    std::string body;
    std::size_t offset;
    std::string came;
  };
  std::string flipped = sealed;
  flipped[head + 11] = 'X';  // "<p>one" -> "<p>Xne"
  std::string removed = sealed;
  removed.erase(head + 8, 12);  // the line "<p>one</p>\r\n"
  const std::vector<Case> cases = {
      {"appended", sealed + "<script>x</script>", page.size(), "<script>x</script>"},
      {"line inserted", sealed.substr(0, head + 8) + "<script>y</script>\r\n" + sealed.substr(head + 8), 8,
       "<script>y</script>\r\n"},
      {"one byte rewritten", flipped, 8, "<p>Xne</p>\r\n"},
      {"line removed", removed, 8, "<p>two</p>\r\n"},
      {"prepended", "<b>hi</b>" + sealed, 0, "<b>hi</b>"},
      {"cut short", sealed.substr(0, sealed.size() - 9), 32, ""},
      {"another request's seal", SealPage(page, NewSealToken()), 0, ""},
  };
  for (const Case& c : cases) {
    const std::optional<SealCheck> check = CheckSealedBody(c.body, token);
    ASSERT_TRUE(check) << c.what;
    EXPECT_FALSE(check->intact) << c.what;
    EXPECT_EQ(check->tamper.offset, c.offset) << c.what;
    if (!c.came.empty()) EXPECT_EQ(check->tamper.came.substr(0, c.came.size()), c.came) << c.what;
  }
  EXPECT_FALSE(IsSealToken("abc")) << "too short";
  EXPECT_FALSE(IsSealToken("0123456789abcdef -->")) << "would forge the seal line";
}

// The judge seals only when asked, with a well-formed token, and the page still reads
// as a judge page.
TEST(PageSeal, TheJudgeSealsWhenAskedAndStaysAJudge) {
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  qbtest::ShortTimeouts timeouts{3000};
  const auto& peers = qbtest::Peers();
  QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
  VerifyTask t = Task(ProxyKind::Http, peers.HttpProxyPort(), Judge(judge, "/"), kJudgeFeature);
  t.capturePage = true;
  const VerifyResult r = OnThread(t);
  ASSERT_EQ(r.status, VERIFY_OK) << (r.texts.empty() ? "" : r.texts.back());
  EXPECT_NE(r.page.find("<!-- qb-seal "), std::string::npos) << r.page;
  EXPECT_EQ(r.exitAddress, peers.OutAddress(qbtest::Peer::HttpProxy)) << "REMOTE_ADDR still read";
  EXPECT_FALSE(r.anonymity.empty());
  EXPECT_FALSE(r.tamper);
}

TEST(TrustHttps, CleanProxiesCarryTheCheckAndRecordTheOriginsCertificate) {
  REQUIRE_TRUST_PEERS();
  QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
  QB_REQUIRE_PEER(qbtest::Peer::Socks);
  const auto& peers = qbtest::Peers();
  const TrustPeers& p = Peers();
  std::vector<std::pair<std::string, VerifyTask>> tasks = {
      {"tinyproxy CONNECT", Task(ProxyKind::Http, peers.HttpProxyPort(), p.OriginUrl(), "TrustOrigin")},
      {"danted SOCKS5", Task(ProxyKind::Socks5, peers.SocksPort(), p.OriginUrl(), "TrustOrigin")},
  };
  if (p.microsocksPort != 0)
    tasks.emplace_back("microsocks", Task(ProxyKind::Socks5, p.microsocksPort, p.OriginUrl(), "TrustOrigin"));
  for (auto& [name, t] : tasks) {
    t.resource.caFile = p.CaFile();
    for (const std::string& pin : {std::string(), p.originSha256}) {
      t.resource.pinSha256 = pin;
      for (const auto& [driver, r] : BothWays(t)) {
        const std::string what = name + " " + driver + (pin.empty() ? "" : " pinned");
        EXPECT_EQ(r.status, VERIFY_OK) << what << ": " << Texts(r) << " " << r.tlsProblem;
        EXPECT_EQ(r.certSha256, p.originSha256) << what;
        EXPECT_EQ(r.trust, Trust::Clean) << what;
        EXPECT_LT(r.seconds, 15.0) << what;
      }
    }
  }
}

TEST(TrustHttps, AnInterceptingProxyIsTlsInterceptedAndNeverWorks) {
  REQUIRE_MITM();
  const TrustPeers& p = Peers();
  VerifyTask t = Task(ProxyKind::Http, p.mitmPort, p.OriginUrl(), "TrustOrigin");
  t.resource.caFile = p.CaFile();
  for (const auto& [driver, r] : BothWays(t)) {
    EXPECT_EQ(r.status, VERIFY_TLS_INTERCEPTED) << driver << ": " << Texts(r);
    EXPECT_EQ(VerifyResultText(r.status, r.seconds), kStatusTlsIntercepted) << driver;
    EXPECT_EQ(ProxyState(VerifyResultText(r.status, r.seconds)), std::string("tls-intercepted"));
    EXPECT_TRUE(IsFailedStatus(VerifyResultText(r.status, r.seconds)));
    EXPECT_NE(r.tlsProblem.find("certificate not trusted"), std::string::npos) << r.tlsProblem;
    EXPECT_EQ(r.trust, Trust::TlsIntercepted) << driver;
    EXPECT_EQ(r.certSha256, "") << "no fingerprint for a certificate that was refused";
  }
}

// A proxy whose CA the user trusts (installed once, or a company's) passes the store;
// only the pin catches it.
TEST(TrustHttps, ACaTheUserTrustsIsCaughtByThePinAlone) {
  REQUIRE_MITM();
  const TrustPeers& p = Peers();
  const std::string bundle = p.dir.File("both.pem");
  qbtest::WriteFile(bundle, qbtest::ReadFile(p.CaFile()) + qbtest::ReadFile(p.MitmCaFile()));
  VerifyTask t = Task(ProxyKind::Http, p.mitmPort, p.OriginUrl(), "TrustOrigin");
  t.resource.caFile = bundle;
  const VerifyResult trusted = OnThread(t);
  EXPECT_EQ(trusted.status, VERIFY_OK) << Texts(trusted);
  EXPECT_EQ(trusted.certSha256.size(), 64u);
  EXPECT_NE(trusted.certSha256, p.originSha256) << "mitmproxy's own certificate";

  t.resource.pinSha256 = qb::AsciiUpper(p.originSha256);
  for (const auto& [driver, r] : BothWays(t)) {
    EXPECT_EQ(r.status, VERIFY_TLS_INTERCEPTED) << driver << ": " << Texts(r);
    EXPECT_NE(r.tlsProblem.find("instead of the pinned " + p.originSha256), std::string::npos)
        << r.tlsProblem;
    EXPECT_EQ(r.certSha256, trusted.certSha256);
    EXPECT_EQ(r.trust, Trust::TlsIntercepted) << driver;
  }
}

// What fails before the handshake keeps the failures it always had.
TEST(TrustHttps, ProxiesThatFailBeforeTheHandshakeAreNoInterceptors) {
  REQUIRE_TRUST_PEERS();
  QB_REQUIRE_PEER(qbtest::Peer::Origin);
  const auto& peers = qbtest::Peers();
  const TrustPeers& p = Peers();
  struct Case {
    const char* what;
    ProxyKind kind;
    int port;
    int status;
  };
  for (const Case& c : {Case{"refuses CONNECT", ProxyKind::Http, p.refusePort, VERIFY_PROXYFAILED},
                        Case{"nothing listens", ProxyKind::Http, peers.DeadPort(), VERIFY_PROXYFAILED},
                        Case{"never answers", ProxyKind::Socks5, peers.SilentPort(), VERIFY_TIMEOUT}}) {
    VerifyTask t = Task(c.kind, c.port, p.OriginUrl(), "TrustOrigin");
    t.resource.caFile = p.CaFile();
    t.connectTimeoutMs = t.replyTimeoutMs = 1500;
    const VerifyResult r = OnThread(t);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << Texts(r);
    EXPECT_EQ(r.trust, Trust::Unchecked) << c.what;
  }
  // A CA file that cannot be read is this machine's fault, not the proxy's.
  VerifyTask t = Task(ProxyKind::Http, peers.HttpProxyPort(), p.OriginUrl(), "TrustOrigin");
  t.resource.caFile = p.dir.File("missing.pem");
  const VerifyResult r = OnThread(t);
  EXPECT_EQ(r.status, VERIFY_ERROR) << Texts(r);
}

TEST(TrustContent, AProxyThatAppendsAScriptIsContentModifiedWithTheScriptKept) {
  REQUIRE_MITM();
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const VerifyTask t = Task(ProxyKind::Http, Peers().mitmPort, Judge(judge, "/inject"), kJudgeFeature);
  for (const auto& [driver, r] : BothWays(t)) {
    ASSERT_EQ(r.status, VERIFY_MODIFIED) << driver << ": " << Texts(r);
    EXPECT_EQ(VerifyResultText(r.status, r.seconds), kStatusModified);
    EXPECT_EQ(ProxyState(VerifyResultText(r.status, r.seconds)), std::string("modified"));
    ASSERT_TRUE(r.tamper);
    EXPECT_EQ(r.tamper->came.rfind("<script src=\"http://127.0.0.1:9/miner.js\">", 0), 0u) << r.tamper->came;
    EXPECT_EQ(r.tamper->expected, "") << "nothing stood there";
    EXPECT_GT(r.tamper->offset, 100u);
    EXPECT_TRUE(r.anonymity.empty()) << "a proxy that tampers gets no grade";
    EXPECT_EQ(r.trust, Trust::Modified) << driver;
  }
}

// More than any judge page is long: the check stops reading and still calls it changed.
TEST(TrustContent, AProxyThatAppendsMegabytesIsContentModified) {
  REQUIRE_MITM();
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const VerifyTask t = Task(ProxyKind::Http, Peers().mitmPort, Judge(judge, "/flood"), kJudgeFeature);
  for (const auto& [driver, r] : BothWays(t)) {
    ASSERT_EQ(r.status, VERIFY_MODIFIED) << driver << ": " << Texts(r);
    ASSERT_TRUE(r.tamper);
    EXPECT_EQ(r.tamper->came.rfind("<!-- xxxx", 0), 0u) << r.tamper->came;
  }
}

TEST(TrustContent, AProxyThatRewritesOneByteIsContentModified) {
  REQUIRE_MITM();
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const VerifyTask t = Task(ProxyKind::Http, Peers().mitmPort, Judge(judge, "/flip"), kJudgeFeature);
  for (const auto& [driver, r] : BothWays(t)) {
    ASSERT_EQ(r.status, VERIFY_MODIFIED) << driver << ": " << Texts(r);
    ASSERT_TRUE(r.tamper);
    EXPECT_NE(r.tamper->came.find("Proxy judgf"), std::string::npos) << r.tamper->came;
  }
}

// The same proxies leave other pages alone: neither mitmproxy on a path it does not
// change nor the clean proxies are taken for tamperers.
TEST(TrustContent, ProxiesThatLeaveThePageAloneStayWorking) {
  REQUIRE_TRUST_PEERS();
  QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
  QB_REQUIRE_PEER(qbtest::Peer::Socks);
  const auto& peers = qbtest::Peers();
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  std::vector<std::pair<std::string, VerifyTask>> tasks = {
      {"tinyproxy", Task(ProxyKind::Http, peers.HttpProxyPort(), Judge(judge, "/inject"), kJudgeFeature)},
      {"danted", Task(ProxyKind::Socks5, peers.SocksPort(), Judge(judge, "/inject"), kJudgeFeature)},
  };
  if (Peers().mitmMissing.empty())
    tasks.emplace_back("mitmproxy",
                       Task(ProxyKind::Http, Peers().mitmPort, Judge(judge, "/plain"), kJudgeFeature));
  for (const auto& [name, t] : tasks) {
    for (const auto& [driver, r] : BothWays(t)) {
      EXPECT_EQ(r.status, VERIFY_OK) << name << " " << driver << ": " << Texts(r);
      EXPECT_FALSE(r.tamper) << name;
      EXPECT_EQ(r.trust, Trust::Clean) << name << ": the judge's seal held";
      EXPECT_FALSE(r.exitAddress.empty()) << name;
    }
  }
}

// A page that seals nothing tells nothing by itself; held against the page the site
// sends without a proxy (fetched once for all the checks), a changed one is caught.
TEST(TrustContent, AnyPageIsHeldAgainstItsDirectFetchWhenAsked) {
  REQUIRE_MITM();
  QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
  const TrustPeers& p = Peers();
  const int tinyproxy = qbtest::Peers().HttpProxyPort();
  struct Case {
    const char* what;
    int port;
    const char* path;
    int status;
    Trust trust;
  };
  for (const bool asked : {false, true}) {
    for (const Case& c : {Case{"injects", p.mitmPort, "/inject", VERIFY_MODIFIED, Trust::Modified},
                          Case{"mitmproxy leaves it", p.mitmPort, "/plain", VERIFY_OK, Trust::Clean},
                          Case{"tinyproxy", tinyproxy, "/inject", VERIFY_OK, Trust::Clean}}) {
      VerifyTask t = Task(ProxyKind::Http, c.port, p.PlainUrl(c.path), "TrustOrigin");
      const auto pages = std::make_shared<CReferencePages>();
      if (asked) t.referencePages = pages;
      for (const auto& [driver, r] : BothWays(t)) {
        const std::string what = std::string(c.what) + " " + driver + (asked ? " asked" : "");
        if (!asked) {
          EXPECT_EQ(r.status, VERIFY_OK) << what << ": " << Texts(r);
          EXPECT_EQ(r.trust, Trust::Unchecked) << what;
          continue;
        }
        EXPECT_EQ(r.status, c.status) << what << ": " << Texts(r);
        EXPECT_EQ(r.trust, c.trust) << what;
        if (c.status == VERIFY_MODIFIED) {
          ASSERT_TRUE(r.tamper) << what;
          EXPECT_EQ(r.tamper->came.rfind("<script src=", 0), 0u) << r.tamper->came;
          EXPECT_EQ(r.tamper->offset, std::string("<html><body>\r\n<p>TrustOrigin</p>\r\n").size() +
                                          std::string("</body></html>\r\n").size())
              << what;
        }
      }
      // One direct fetch served every check of the run.
      if (asked) {
        std::optional<std::string> page;
        ASSERT_EQ(pages->Ask(p.PlainUrl(c.path), page), CReferencePages::Claim::Known);
        ASSERT_TRUE(page);
        EXPECT_NE(page->find("TrustOrigin"), std::string::npos);
      }
    }
  }
  // A site that cannot be reached directly gives no reference, and no verdict.
  VerifyTask t = Task(ProxyKind::Http, tinyproxy, p.PlainUrl("/x"), "TrustOrigin");
  t.referencePages = std::make_shared<CReferencePages>();
  t.referencePages->Learn(p.PlainUrl("/x"), std::nullopt);
  const VerifyResult r = OnThread(t);
  EXPECT_EQ(r.status, VERIFY_OK) << Texts(r);
  EXPECT_EQ(r.trust, Trust::Unchecked);
}

// A proxy that sends its traffic out from another address (here microsocks bound to
// 127.0.0.3 for its outgoing connections) shows it in the judge's answer: the exit
// address the window holds against the proxy's own to mark it chained.
TEST(TrustChained, TheExitAddressIsWhereTheTrafficLeavesFrom) {
  const std::string socks = ProgramPath("microsocks");
  if (socks.empty()) GTEST_SKIP() << "microsocks is not installed";
  hosttest::Daemon behind;
  const int port = hosttest::FreeDualPort();
  ASSERT_TRUE(behind.Start(socks, {"-i", "127.0.0.1", "-p", std::to_string(port), "-b", "127.0.0.3"},
                           "127.0.0.1", port))
      << behind.Problem();
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const VerifyResult r = OnThread(Task(ProxyKind::Socks5, port, Judge(judge, "/"), kJudgeFeature));
  ASSERT_EQ(r.status, VERIFY_OK) << Texts(r);
  EXPECT_EQ(r.exitAddress, "127.0.0.3");
  EXPECT_EQ(r.trust, Trust::Clean);
}

// The command line takes the CA file from Options.ini by the resource's host, and says
// which proxy intercepted in its row texts and its state words.
TEST(TrustCli, VerifyReadsTheCaFileFromOptionsAndNamesTheInterceptor) {
  REQUIRE_MITM();
  QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
  const TrustPeers& p = Peers();
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::WriteFile(data.File("Options.ini"), "[Verify]\nCaFile.127.0.0.1=" + p.CaFile() + "\n");
  const std::string clean = "127.0.0.1:" + std::to_string(qbtest::Peers().HttpProxyPort()) + "@HTTP";
  const std::string mitm = "127.0.0.1:" + std::to_string(p.mitmPort) + "@HTTP";
  qbtest::WriteFile(data.File("in.txt"), clean + "\n" + mitm + "\n");
  const auto r =
      qbtest::RunCli({"--data-dir", data.Path(), "verify", "--connect-timeout", "3", "--verify-timeout", "3",
                      "--http", p.OriginUrl(), "TrustOrigin", "--format", "json", data.File("in.txt")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
  std::map<int, std::pair<std::string, std::string>> byPort;
  for (const QJsonValue& v : rows) {
    const QJsonObject o = v.toObject();
    byPort[o["port"].toVariant().toInt()] = {o["status"].toString().toStdString(),
                                             o["state"].toString().toStdString()};
  }
  ASSERT_EQ(byPort.size(), 2u) << r.out;
  EXPECT_EQ(byPort[qbtest::Peers().HttpProxyPort()].second, "ok") << r.out;
  EXPECT_EQ(byPort[p.mitmPort], (std::pair<std::string, std::string>{"TLS被拦截", "tls-intercepted"}))
      << r.out;

  // Any page, held against its direct fetch only when Options.ini asks for it; the
  // jsonl lines carry the verdict, and a merge into the list records it in the history.
  std::vector<std::string> outputs;
  for (const bool asked : {false, true}) {
    qbtest::WriteFile(data.File("Options.ini"), asked ? "[Verify]\nDirectReference=1\n" : "");
    const auto run = qbtest::RunCli({"--data-dir", data.Path(), "verify", "--connect-timeout", "3",
                                     "--verify-timeout", "3", "--http",
                                     // Another resource: the history counts a check of the
                                     // same proxy, second and resource once.
                                     p.PlainUrl(asked ? "/inject?asked" : "/inject"), "TrustOrigin",
                                     "--format", "jsonl", data.File("in.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    outputs.push_back(data.File(asked ? "asked.jsonl" : "plain.jsonl"));
    qbtest::WriteFile(outputs.back(), run.out);
    std::map<int, std::pair<std::string, std::string>> seen;
    qb::ForEachLine(run.out, [&](std::string_view line) {
      const QJsonObject o =
          QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
      seen[o["port"].toInt()] = {o["state"].toString().toStdString(), o["trust"].toString().toStdString()};
    });
    using Seen = std::pair<std::string, std::string>;
    EXPECT_EQ(seen[qbtest::Peers().HttpProxyPort()], (asked ? Seen{"ok", "clean"} : Seen{"ok", "unchecked"}))
        << run.out;
    EXPECT_EQ(seen[p.mitmPort], (asked ? Seen{"modified", "modified"} : Seen{"ok", "unchecked"})) << run.out;
  }
  // One at a time: a merge keeps one row of a proxy, and records that row's check.
  for (const std::string& output : outputs) {
    const auto merged = qbtest::RunCli({"--data-dir", data.Path(), "merge", "--into-list", output});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
  }
  const auto history = qbtest::RunCli({"--data-dir", data.Path(), "history", mitm, "--format", "json"});
  ASSERT_EQ(history.exitCode, 0) << history.err;
  const QJsonArray results = QJsonDocument::fromJson(QByteArray::fromStdString(history.out)).array();
  std::multiset<std::string> verdicts;
  for (const QJsonValue& v : results) verdicts.insert(v.toObject()["trust"].toString().toStdString());
  EXPECT_EQ(verdicts, (std::multiset<std::string>{"modified", "unchecked"})) << history.out;
  const auto scores = qbtest::RunCli({"--data-dir", data.Path(), "history", "--format", "json"});
  EXPECT_NE(scores.out.find("\"trust\":\"clean\""), std::string::npos) << scores.out;
}

}  // namespace
