// Real browsers (chromium and firefox-esr, headless) reading the desktop's GNOME proxy
// settings that `quillberry-cli proxy set` wrote in failover mode: the page comes
// through the first favourite, then through the second once the first is gone, and
// not at all once both are gone, unless the user allowed going direct. The same for a
// proxy on the IPv6 loopback ([::1]) and one named localhost, set directly and as a
// failover chain.
//
// Chromium never sends loopback URLs to a proxy, whatever the script says, so the page
// is asked for as http://origin.test:PORT/. The proxies never resolve that name: each
// hands it to the loopback origin as its upstream, and refuses every other host
// unresolved, so that the browsers' own background requests end at the proxies. The
// browsers themselves resolve every name to loopback (chromium's resolver rules, which
// leave the loopback addresses and localhost to the hosts file; firefox's forced
// resolution), so that nothing leaves the machine when they go direct.
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

int FreePort(const QHostAddress& address) {
  QTcpServer server;
  if (!server.listen(address, 0)) return 0;
  return server.serverPort();
}

bool Listening(const QHostAddress& address, int port, int waitMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < waitMs) {
    QTcpSocket s;
    s.connectToHost(address, static_cast<quint16>(port));
    if (s.waitForConnected(200)) return true;
    QThread::msleep(50);
  }
  return false;
}

// A tinyproxy of its own on a free loopback port, in the foreground so that it can be
// stopped by its process. It listens on 127.0.0.1 or on ::1, and the list names it by
// lineHost ("127.0.0.1", "[::1]", "localhost").
class Tinyproxy {
 public:
  Tinyproxy(const qbtest::TempDir& dir, const std::string& name, int originPort, bool ipv6 = false,
            std::string lineHost = "127.0.0.1")
      : m_lineHost(std::move(lineHost)) {
    const QHostAddress address = ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
    m_port = FreePort(address);
    m_log = dir.File(name + ".log");
    const std::string filter = dir.File(name + ".filter");
    qbtest::WriteFile(filter, "^origin\\.test$\n");
    std::string conf;
    // tinyproxy run by root drops to nobody, who must still write the log.
    if (::geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    conf += "Port " + std::to_string(m_port) + "\nListen " + (ipv6 ? "::1" : "127.0.0.1") +
            "\nTimeout 60\nLogLevel Info\n";
    // No Allow lines: tinyproxy 1.11 can misread a concurrent IPv6 client's address
    // and refuse it; listening on loopback keeps it private.
    conf += "LogFile \"" + m_log + "\"\nMaxClients 50\n";
    conf += "Filter \"" + filter + "\"\nFilterType ere\nFilterDefaultDeny Yes\n";
    conf += "Upstream http 127.0.0.1:" + std::to_string(originPort) + " \"" + kHost + "\"\n";
    qbtest::WriteFile(dir.File(name + ".conf"), conf);
    qbtest::WriteFile(m_log, "");
    ::chmod(m_log.c_str(), 0666);
    ::chmod(dir.Path().c_str(), 0777);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start("tinyproxy", {"-d", "-c", QString::fromStdString(dir.File(name + ".conf"))});
    m_ok = m_port != 0 && m_process.waitForStarted(10000) && Listening(address, m_port, 10000);
  }
  ~Tinyproxy() { Stop(); }

  bool Ok() const { return m_ok; }
  int Port() const { return m_port; }
  std::string Line() const { return m_lineHost + ":" + std::to_string(m_port) + "@HTTP"; }
  // What a script names it by.
  std::string Directive() const { return "PROXY " + m_lineHost + ":" + std::to_string(m_port); }
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
  std::string m_lineHost;
  int m_port = 0;
  std::string m_log;
  bool m_ok = false;
};

// What every run needs: the data directory, the desktop's settings, the origin, and a
// browser started with them.
class BrowserTest : public ::testing::Test {
 protected:
  // False when a program the runs need is missing (the test is skipped).
  bool HavePrograms() {
    for (const char* program : {"tinyproxy", "chromium", "firefox-esr", "gsettings"}) {
      if (QStandardPaths::findExecutable(program).isEmpty()) {
        missing = program;
        return false;
      }
    }
    return true;
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

  // The favourites of the data directory's list, fastest first, by their lines.
  void WriteFavorites(const std::vector<std::string>& fastestFirst) {
    qb::CProxyListModel list;
    for (std::size_t i = 0; i < fastestFirst.size(); ++i) {
      list.AddProxyLine(fastestFirst[i], 0);
      list.SetTimeStatus(static_cast<int>(i), std::to_string(i + 1) + ".0");
      list.SetFavorite(static_cast<int>(i), true);
    }
    qbtest::WriteFile(data.File("Proxies.pro"), qbtest::ListFileText(list));
    ASSERT_TRUE(qb::WriteFavoritesProfile(data.File("quillberry.INI"), qb::FavoritesText(list)));
  }

  // `proxy set LINE --mode MODE` with failover on; in the script modes the script must
  // hand the browsers the chain given.
  void SetProxy(const std::string& line, int mode, bool allowDirect, const std::string& chain) {
    qb::ExtraOptions options;
    options.script = {.failover = true, .allowDirect = allowDirect};
    ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
    const qbtest::CliResult r =
        qbtest::RunCli({"--data-dir", data.Path(), "proxy", "set", line, "--mode", std::to_string(mode)}, {},
                       Env(run.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    if (mode == 0) return;
    const std::string pac = qbtest::ReadFile(data.File("proxy.pac"));
    ASSERT_NE(pac.find("\"" + chain + (allowDirect ? "; DIRECT" : "") + "\""), std::string::npos) << pac;
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
           << "--host-resolver-rules=MAP origin.test 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE "
              "::1, "
              "EXCLUDE localhost"
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

  std::string FirefoxPrefs() const {
    std::string out;
    auto pref = [&out](const std::string& name, const std::string& value) {
      out += "user_pref(\"" + name + "\", " + value + ");\n";
    };
    pref("network.proxy.type", "5");  // the system's settings
    pref("network.dns.forceResolve", "\"" + firefoxResolvesTo + "\"");
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

  qbtest::TempDir run;
  qbtest::TempDir data;
  qbtest::TempDir config;
  qbtest::PageOrigin origin;
  std::string missing;
  // Firefox resolves every name to this address, so that nothing leaves the machine when
  // it goes direct. The forced address stands for an address literal in a script too.
  std::string firefoxResolvesTo = "127.0.0.1";
};

class BrowserFailoverTest : public BrowserTest {
 protected:
  void SetUp() override {
    if (!HavePrograms()) GTEST_SKIP() << missing << " is not installed";
    first = std::make_unique<Tinyproxy>(run, "first", origin.Port());
    second = std::make_unique<Tinyproxy>(run, "second", origin.Port());
    ASSERT_TRUE(first->Ok() && second->Ok());
    // Both proxies favourites, the second one faster: the chain is the proxy set, then
    // the other favourite.
    WriteFavorites({second->Line(), first->Line()});
    SetProxy(false);
  }

  void SetProxy(bool allowDirect) {
    BrowserTest::SetProxy(first->Line(), 1, allowDirect, first->Directive() + "; " + second->Directive());
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

  std::unique_ptr<Tinyproxy> first;
  std::unique_ptr<Tinyproxy> second;
};

TEST_F(BrowserFailoverTest, ChromiumFollowsTheChainAndNeverGoesDirectUnasked) {
  FollowsTheChain("chromium", true);
}

TEST_F(BrowserFailoverTest, FirefoxFollowsTheChainAndNeverGoesDirectUnasked) {
  FollowsTheChain("firefox-esr", false);
}

// A proxy on the IPv6 loopback, named [::1] in the list, and one on 127.0.0.1 named
// localhost: set directly, each carries the page (the desktop's host fields hold them
// as the browsers read them); as a failover chain the page comes through the first,
// then the second, then not at all.
class BrowserHostsTest : public BrowserTest {
 protected:
  void SetUp() override {
    if (!HavePrograms()) GTEST_SKIP() << missing << " is not installed";
    if (!QTcpServer().listen(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "no IPv6 loopback here";
    v6 = std::make_unique<Tinyproxy>(run, "v6", origin.Port(), true, "[::1]");
    named = std::make_unique<Tinyproxy>(run, "named", origin.Port(), false, "localhost");
    ASSERT_TRUE(v6->Ok() && named->Ok());
    // Firefox's forced resolution would turn the script's [::1] into 127.0.0.1; it never
    // touches localhost, which Firefox resolves itself.
    firefoxResolvesTo = "::1";
  }

  void CarriesThePage(const std::string& browser, bool printsPage) {
    struct Step {
      std::string path;
      Tinyproxy* through;  // nullptr: the page must not come
    };
    auto load = [&](const Step& step) {
      SCOPED_TRACE(step.path);
      const std::string url = Page(step.path);
      const std::string out = Load(browser, url, step.through == nullptr);
      if (printsPage) {
        EXPECT_EQ(out.find("arrived " + step.path) != std::string::npos, step.through != nullptr) << out;
      }
      EXPECT_EQ(ProxiedHits(url), step.through ? 1 : 0);
      EXPECT_EQ(origin.Hits(step.path), 0);  // never direct
      for (Tinyproxy* p : {v6.get(), named.get()}) {
        EXPECT_EQ(p->Carried(url), p == step.through) << p->Line() << "\n" << p->Log();
      }
    };

    SetProxy(v6->Line(), 0, false, {});
    load({"/direct-v6", v6.get()});
    SetProxy(named->Line(), 0, false, {});
    load({"/direct-named", named.get()});

    WriteFavorites({named->Line()});
    SetProxy(v6->Line(), 1, false, v6->Directive() + "; " + named->Directive());
    load({"/chain-v6", v6.get()});
    v6->Stop();
    load({"/chain-named", named.get()});
    named->Stop();
    load({"/chain-none", nullptr});
  }

  std::unique_ptr<Tinyproxy> v6;
  std::unique_ptr<Tinyproxy> named;
};

TEST_F(BrowserHostsTest, ChromiumGoesThroughIpv6AndNamedProxies) {
  CarriesThePage("chromium", true);
}

TEST_F(BrowserHostsTest, FirefoxGoesThroughIpv6AndNamedProxies) {
  CarriesThePage("firefox-esr", false);
}

}  // namespace
