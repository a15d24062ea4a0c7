// Real browsers (chromium and firefox-esr, headless) reading the desktop's GNOME proxy
// settings that `quillberry-cli proxy set` wrote in failover mode: the page comes
// through the first favourite, then through the second once the first is gone, and
// not at all once both are gone, unless the user allowed going direct.
//
// Chromium never sends loopback URLs to a proxy, whatever the script says, so the page
// is asked for as http://origin.test:PORT/. The proxies never resolve that name: each
// hands it to the loopback origin as its upstream, and refuses every other host
// unresolved, so that the browsers' own background requests end at the proxies. The
// browsers themselves resolve every name to loopback (chromium's resolver rules,
// firefox's forced resolution), so that nothing leaves the machine when they go direct.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <string>

#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "support/ListFileText.h"
#include "support/PageOrigin.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

namespace {

constexpr const char* kHost = "origin.test";
// Browsers start slowly on a loaded machine. Headless firefox never finishes a
// screenshot of its page for a failed proxy; a load that must fail is given a while
// many times what a load that works takes here (a few seconds), then ended.
constexpr int kBrowserMs = 180000;
constexpr int kFailingLoadMs = 30000;

int FreePort() {
  QTcpServer server;
  if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
  return server.serverPort();
}

bool Listening(int port, int waitMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < waitMs) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    if (s.waitForConnected(200)) return true;
    QThread::msleep(50);
  }
  return false;
}

// A tinyproxy of its own on a free loopback port, in the foreground so that it can be
// stopped by its process.
class Tinyproxy {
 public:
  Tinyproxy(const qbtest::TempDir& dir, const std::string& name, int originPort) {
    m_port = FreePort();
    m_log = dir.File(name + ".log");
    const std::string filter = dir.File(name + ".filter");
    qbtest::WriteFile(filter, "^origin\\.test$\n");
    std::string conf;
    // tinyproxy run by root drops to nobody, who must still write the log.
    if (::geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    conf += "Port " + std::to_string(m_port) + "\nListen 127.0.0.1\nTimeout 60\nLogLevel Info\n";
    conf += "LogFile \"" + m_log + "\"\nMaxClients 50\nAllow 127.0.0.0/8\n";
    conf += "Filter \"" + filter + "\"\nFilterType ere\nFilterDefaultDeny Yes\n";
    conf += "Upstream http 127.0.0.1:" + std::to_string(originPort) + " \"" + kHost + "\"\n";
    qbtest::WriteFile(dir.File(name + ".conf"), conf);
    qbtest::WriteFile(m_log, "");
    ::chmod(m_log.c_str(), 0666);
    ::chmod(dir.Path().c_str(), 0777);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start("tinyproxy", {"-d", "-c", QString::fromStdString(dir.File(name + ".conf"))});
    m_ok = m_port != 0 && m_process.waitForStarted(10000) && Listening(m_port, 10000);
  }
  ~Tinyproxy() { Stop(); }

  bool Ok() const { return m_ok; }
  int Port() const { return m_port; }
  std::string Line() const { return "127.0.0.1:" + std::to_string(m_port) + "@HTTP"; }
  // Whether the proxy carried a request for the URL.
  bool Carried(const std::string& url) const {
    return qbtest::ReadFile(m_log).find("GET " + url + " HTTP/") != std::string::npos;
  }
  std::string Log() const { return qbtest::ReadFile(m_log); }
  void Stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
      m_process.kill();
      m_process.waitForFinished();
    }
  }

 private:
  QProcess m_process;
  int m_port = 0;
  std::string m_log;
  bool m_ok = false;
};

class BrowserFailoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"tinyproxy", "chromium", "firefox-esr", "gsettings"}) {
      if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    }
    first = std::make_unique<Tinyproxy>(run, "first", origin.Port());
    second = std::make_unique<Tinyproxy>(run, "second", origin.Port());
    ASSERT_TRUE(first->Ok() && second->Ok());

    // Both proxies favourites, the second one faster: the chain is the proxy set, then
    // the other favourite.
    qb::CProxyListModel list;
    list.AddProxyLine(first->Line(), 0);
    list.AddProxyLine(second->Line(), 0);
    list.SetTimeStatus(0, "1.5");
    list.SetTimeStatus(1, "0.2");
    list.SetFavorite(0, true);
    list.SetFavorite(1, true);
    qbtest::WriteFile(data.File("Proxies.pro"), qbtest::ListFileText(list));
    ASSERT_TRUE(qb::WriteFavoritesProfile(data.File("quillberry.INI"), qb::FavoritesText(list)));
    SetProxy(false);
  }

  QProcessEnvironment Env(const std::string& home) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.Path()));
    env.insert("GSETTINGS_BACKEND", "keyfile");
    env.insert("XDG_CURRENT_DESKTOP", "GNOME");
    env.insert("HOME", QString::fromStdString(home));
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    for (const char* v : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                          "ALL_PROXY", "NO_PROXY"})
      env.remove(v);
    return env;
  }

  void SetProxy(bool allowDirect) {
    qb::ExtraOptions options;
    options.script = {.failover = true, .allowDirect = allowDirect};
    ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
    const qbtest::CliResult r = qbtest::RunCli(
        {"--data-dir", data.Path(), "proxy", "set", first->Line(), "--mode", "1"}, {}, Env(run.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string pac = qbtest::ReadFile(data.File("proxy.pac"));
    const std::string chain = "PROXY 127.0.0.1:" + std::to_string(first->Port()) +
                              "; PROXY 127.0.0.1:" + std::to_string(second->Port()) +
                              (allowDirect ? "; DIRECT" : "");
    ASSERT_NE(pac.find("\"" + chain + "\""), std::string::npos) << pac;
  }

  // Serves the page under both forms a request for it takes: through a proxy (the
  // whole URL) and direct (the path).
  std::string Page(const std::string& path) {
    const std::string url = "http://" + std::string(kHost) + ":" + std::to_string(origin.Port()) + path;
    const std::string body = "<html><body><p>arrived " + path + "</p></body></html>";
    origin.Serve(url, body);
    origin.Serve(path, body);
    return url;
  }
  int ProxiedHits(const std::string& url) const { return origin.Hits(url); }

  // Loads the URL in a fresh browser of that kind; returns what chromium printed of the
  // page (firefox prints nothing: the origin tells whether the page came).
  std::string Load(const std::string& browser, const std::string& url, bool mustFail = false) {
    static int launch = 0;
    const std::string home = run.File(browser + std::to_string(++launch));
    QDir().mkpath(QString::fromStdString(home));
    QProcess p;
    p.setProcessEnvironment(Env(home));
    QStringList args;
    if (browser == "chromium") {
      args << "--no-sandbox"
           << "--headless=new"
           << "--disable-gpu"
           << "--disable-background-networking"
           << "--disable-component-update"
           << "--disable-sync"
           << "--no-first-run"
           << "--disable-default-apps"
           << "--disable-domain-reliability"
           << "--disable-breakpad"
           << "--metrics-recording-only"
           << "--no-pings"
           << "--disable-client-side-phishing-detection"
           << "--disable-component-extensions-with-background-pages"
           << "--disable-features=OptimizationHints,MediaRouter,Translate,AutofillServerCommunication,"
              "CertificateTransparencyComponentUpdater"
           << "--host-resolver-rules=MAP origin.test 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"
           << "--user-data-dir=" + QString::fromStdString(home + "/profile") << "--dump-dom"
           << QString::fromStdString(url);
    } else {
      const std::string profile = home + "/profile";
      QDir().mkpath(QString::fromStdString(profile));
      qbtest::WriteFile(profile + "/user.js", FirefoxPrefs());
      args << "--headless"
           << "--no-remote"
           << "--profile" << QString::fromStdString(profile) << "--screenshot"
           << QString::fromStdString(home + "/shot.png") << QString::fromStdString(url);
    }
    // Unread, their chatter would fill the pipe and stall them.
    p.setStandardErrorFile(QProcess::nullDevice());
    if (browser != "chromium") p.setStandardOutputFile(QProcess::nullDevice());
    p.start(QString::fromStdString(browser), args);
    EXPECT_TRUE(p.waitForStarted(30000)) << browser;
    if (!p.waitForFinished(mustFail ? kFailingLoadMs : kBrowserMs)) {
      p.kill();
      p.waitForFinished();
      if (!mustFail) ADD_FAILURE() << browser << " did not finish";
    }
    return browser == "chromium" ? p.readAllStandardOutput().toStdString() : std::string();
  }

  static std::string FirefoxPrefs() {
    std::string out;
    auto pref = [&out](const std::string& name, const std::string& value) {
      out += "user_pref(\"" + name + "\", " + value + ");\n";
    };
    pref("network.proxy.type", "5");  // the system's settings
    pref("network.dns.forceResolve", "\"127.0.0.1\"");
    pref("network.trr.mode", "5");
    pref("network.dns.disablePrefetch", "true");
    pref("network.prefetch-next", "false");
    pref("network.predictor.enabled", "false");
    pref("network.http.speculative-parallel-limit", "0");
    pref("network.captive-portal-service.enabled", "false");
    pref("network.connectivity-service.enabled", "false");
    pref("network.http.http3.enable", "false");
    pref("app.update.enabled", "false");
    pref("app.update.auto", "false");
    pref("app.normandy.enabled", "false");
    pref("app.normandy.api_url", "\"\"");
    pref("app.shield.optoutstudies.enabled", "false");
    pref("services.settings.server", "\"http://127.0.0.1:9/\"");
    pref("toolkit.telemetry.enabled", "false");
    pref("toolkit.telemetry.unified", "false");
    pref("toolkit.telemetry.server", "\"\"");
    pref("datareporting.healthreport.uploadEnabled", "false");
    pref("datareporting.policy.dataSubmissionEnabled", "false");
    pref("datareporting.usage.uploadEnabled", "false");
    pref("browser.safebrowsing.malware.enabled", "false");
    pref("browser.safebrowsing.phishing.enabled", "false");
    pref("browser.safebrowsing.downloads.enabled", "false");
    pref("browser.safebrowsing.downloads.remote.enabled", "false");
    pref("browser.safebrowsing.provider.google4.updateURL", "\"\"");
    pref("browser.safebrowsing.provider.mozilla.updateURL", "\"\"");
    pref("dom.push.enabled", "false");
    pref("dom.push.serverURL", "\"\"");
    pref("extensions.update.enabled", "false");
    pref("extensions.getAddons.cache.enabled", "false");
    pref("extensions.systemAddon.update.enabled", "false");
    pref("browser.shell.checkDefaultBrowser", "false");
    pref("browser.startup.homepage_override.mstone", "\"ignore\"");
    pref("browser.startup.page", "0");
    pref("browser.newtabpage.enabled", "false");
    pref("browser.aboutwelcome.enabled", "false");
    pref("browser.region.network.url", "\"\"");
    pref("browser.region.update.enabled", "false");
    pref("geo.provider.network.url", "\"\"");
    pref("media.gmp-manager.url", "\"\"");
    pref("security.OCSP.enabled", "0");
    pref("messaging-system.rsexperimentloader.enabled", "false");
    pref("browser.discovery.enabled", "false");
    return out;
  }

  void FollowsTheChain(const std::string& browser, bool printsPage) {
    const std::string one = Page("/one");
    const std::string out = Load(browser, one);
    if (printsPage) {
      EXPECT_NE(out.find("arrived /one"), std::string::npos) << out;
    }
    EXPECT_EQ(ProxiedHits(one), 1);
    EXPECT_TRUE(first->Carried(one)) << first->Log();
    EXPECT_FALSE(second->Carried(one));

    first->Stop();
    const std::string two = Page("/two");
    Load(browser, two);
    EXPECT_EQ(ProxiedHits(two), 1);
    EXPECT_TRUE(second->Carried(two)) << second->Log();

    // Both gone and DIRECT not allowed: the page must not come, by any way.
    second->Stop();
    const std::string three = Page("/three");
    const std::string none = Load(browser, three, true);
    if (printsPage) {
      EXPECT_EQ(none.find("arrived /three"), std::string::npos) << none;
    }
    EXPECT_EQ(origin.Hits(three) + origin.Hits("/three"), 0);

    // The same with DIRECT allowed comes straight from the origin: the refusal above
    // was the script's doing, not a page that could not have come anyway.
    SetProxy(true);
    const std::string four = Page("/four");
    Load(browser, four);
    EXPECT_EQ(origin.Hits("/four"), 1);
    EXPECT_EQ(origin.Hits(four), 0);
  }

  qbtest::TempDir run;
  qbtest::TempDir data;
  qbtest::TempDir config;
  qbtest::PageOrigin origin;
  std::unique_ptr<Tinyproxy> first;
  std::unique_ptr<Tinyproxy> second;
};

TEST_F(BrowserFailoverTest, ChromiumFollowsTheChainAndNeverGoesDirectUnasked) {
  FollowsTheChain("chromium", true);
}

TEST_F(BrowserFailoverTest, FirefoxFollowsTheChainAndNeverGoesDirectUnasked) {
  FollowsTheChain("firefox-esr", false);
}

}  // namespace
