// The GNOME desktop back end through the real GIO, with a keyfile store in a
// temporary configuration directory, read back by gsettings and by libproxy.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <filesystem>

#include "SysProxyTestUtil.h"
#include "proxy/ProxyCredentials.h"
#include "sysproxy/GSettingsProxyPlatform.h"
#include "sysproxy/ProxyAutoConfig.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"
#include "ui/Messages.h"

using namespace qb;

namespace {

constexpr const char* kRoot = "org.gnome.system.proxy";

// The first proxy libproxy offers for each URL.
std::vector<std::string> FirstProxies(const std::string& configHome, const std::vector<std::string>& urls) {
  std::vector<std::string> out;
  for (const std::string& line : sptest::LibproxyFor(configHome, urls))
    out.push_back(line.substr(0, line.find(' ')));
  return out;
}

class GSettingsTest : public sptest::SysProxyTest {
 protected:
  void SetUp() override {
    SysProxyTest::SetUp();
    home = config.Path();
    Open();
  }
  // A fresh program start: a new connection to the store, as the program makes one.
  void Open() {
    proxy.reset();
    auto gsettings = CreateGSettingsProxyPlatform({sptest::KeyfileFor(home), ""});
    ASSERT_TRUE(gsettings) << "the org.gnome.system.proxy schema is not installed";
    auto rec = std::make_unique<CRecordingProxyPlatform>(std::move(gsettings));
    platform = rec.get();
    proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()), std::move(rec));
  }
  std::string Get(const std::string& key, const std::string& schema = kRoot) {
    return sptest::GSettingsGet(home, schema, key);
  }
  std::string Entry(const char* scheme) {
    const std::string schema = std::string(kRoot) + "." + scheme;
    return Get("host", schema) + " " + Get("port", schema);
  }

  qbtest::TempDir config;
  std::string home;
  CRecordingProxyPlatform* platform = nullptr;
  std::unique_ptr<CSystemProxy> proxy;
};

TEST_F(GSettingsTest, DirectModeWritesEachProxyTypeWhereConsumersFindIt) {
  const std::vector<std::string> urls = {"http://www.example.com/", "https://www.example.com/",
                                         "ftp://ftp.example.com/"};
  const std::string H = "http://10.0.0.1:3128", S = "socks://10.0.0.1:1080", D = "direct://";
  struct Case {
    const char* line;
    const char* http;
    const char* https;
    const char* ftp;
    const char* socks;
    std::vector<std::string> firstProxies;  // for http, https and ftp URLs; empty: not checked
  } cases[] = {
      {"10.0.0.1:3128@HTTP", "'10.0.0.1' 3128", "'10.0.0.1' 3128", "'10.0.0.1' 3128", "'' 0", {H, H, H}},
      {"10.0.0.1:3128@HTTPS", "'' 0", "'10.0.0.1' 3128", "'' 0", "'' 0", {D, H}},
      {"10.0.0.1:3128@FTP", "'' 0", "'' 0", "'10.0.0.1' 3128", "'' 0", {D, D, H}},
      {"10.0.0.1:1080@SOCKS4", "'' 0", "'' 0", "'' 0", "'10.0.0.1' 1080", {S, S, S}},
      {"10.0.0.1:1080@SOCKS5", "'' 0", "'' 0", "'' 0", "'10.0.0.1' 1080", {S, S, S}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    platform->calls.clear();
    EXPECT_TRUE(ReportProxyChange(proxy->SetIEProxy(c.line)));
    EXPECT_EQ(platform->WrittenConnections(), std::vector<std::string>{""});
    EXPECT_EQ(Get("mode"), "'manual'");
    EXPECT_EQ(Entry("http"), c.http);
    EXPECT_EQ(Entry("https"), c.https);
    EXPECT_EQ(Entry("ftp"), c.ftp);
    EXPECT_EQ(Entry("socks"), c.socks);
    std::vector<std::string> got = FirstProxies(home, urls);
    got.resize(c.firstProxies.size());
    EXPECT_EQ(got, c.firstProxies);

    ReportProxyChange(proxy->OnCancelIEProxy());
    EXPECT_EQ(Get("mode"), "'none'");
    EXPECT_EQ(Entry("http") + Entry("socks"), "'' 0'' 0");
    EXPECT_EQ(FirstProxies(home, urls), (std::vector<std::string>{D, D, D}));
  }
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GSettingsTest, ScriptModesPointTheDesktopAtTheScript) {
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"),
                    "function FindProxyForURL(url, host) { return \"PROXY MyProxy\"; }\n");
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    proxy->SetAutoProxyConfig(mode);
    ReportProxyChange(proxy->SetIEProxy("10.0.0.1:1080@SOCKS5"));
    EXPECT_EQ(Get("mode"), "'auto'");
    EXPECT_EQ(Get("autoconfig-url"), "'" + PacDataUrl(PacText()) + "'");
    // The server is stored as well, so that the next start re-applies it.
    EXPECT_EQ(Entry("socks"), "'10.0.0.1' 1080");
    EXPECT_EQ(sptest::EvaluatePac(data.File("proxy.pac"), {"http://www.example.com/"}),
              std::vector<std::string>{"SOCKS5 10.0.0.1:1080"});

    ReportProxyChange(proxy->OnCancelIEProxy());
    EXPECT_EQ(Get("mode"), "'none'");
    EXPECT_EQ(sptest::EvaluatePac(data.File("proxy.pac"), {"http://www.example.com/"}),
              std::vector<std::string>{"DIRECT"});
  }
}

TEST_F(GSettingsTest, BypassListAndUnrelatedKeysAreKept) {
  proxy.reset();
  ASSERT_TRUE(
      sptest::GSettingsSet(home, kRoot, "ignore-hosts", "['intranet.example', '10.0.0.0/8', '*.lan']"));
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "authentication-user", "'alice'"));
  Open();
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:8080"));
  ReportProxyChange(proxy->OnCancelIEProxy());
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:8080"));
  EXPECT_EQ(proxy->m_sProxyBypass, "intranet.example;10.0.0.0/8;*.lan");
  EXPECT_EQ(Get("ignore-hosts"), "['intranet.example', '10.0.0.0/8', '*.lan']");
  EXPECT_EQ(Get("authentication-user", std::string(kRoot) + ".http"), "'alice'");
  // The bypass list reaches the consumers.
  EXPECT_EQ(sptest::LibproxyFor(home, {"http://intranet.example/", "http://www.example.com/"}),
            (std::vector<std::string>{"direct://", "http://1.2.3.4:8080"}));
}

TEST_F(GSettingsTest, StartUpReappliesAStoredButDisabledProxy) {
  proxy.reset();
  for (const char* scheme : {"http", "https", "ftp"}) {
    ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + "." + scheme, "host", "'192.168.7.7'"));
    ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + "." + scheme, "port", "8118"));
  }
  ASSERT_EQ(Get("mode"), "'none'");
  ASSERT_EQ(sptest::LibproxyFor(home, {"http://www.example.com/"}), std::vector<std::string>{"direct://"});
  Open();

  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "192.168.7.7:8118");
  ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy));
  EXPECT_EQ(Get("mode"), "'manual'");
  EXPECT_EQ(sptest::LibproxyFor(home, {"http://www.example.com/"}),
            std::vector<std::string>{"http://192.168.7.7:8118"});

  // What the program set reads back as the desktop's server string after a restart.
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:443@HTTPS"));
  Open();
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "https=10.0.0.1:443");
  ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy));
  EXPECT_EQ(Entry("https"), "'10.0.0.1' 443");
  EXPECT_EQ(Entry("http"), "'' 0");
  EXPECT_TRUE(prompt.messages.empty());
}

// An IPv6 host is stored in brackets: Firefox and libproxy join the host field and the
// port as they stand, so "::1" and its port would be no address to them (Chromium takes
// either). A host stored without brackets or in capitals reads back as the list writes
// it, and is still the setting this program made.
TEST_F(GSettingsTest, Ipv6AndNamedProxiesAreStoredAsTheConsumersReadThem) {
  const std::vector<std::string> url = {"http://www.example.com/"};
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("[2001:DB8::1]:3128@HTTP")));
  EXPECT_EQ(Entry("http"), "'[2001:db8::1]' 3128");
  EXPECT_EQ(Entry("ftp"), "'[2001:db8::1]' 3128");
  EXPECT_EQ(FirstProxies(home, url), std::vector<std::string>{"http://[2001:db8::1]:3128"});

  for (const char* scheme : {"http", "https", "ftp"})
    ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + "." + scheme, "host", "'2001:DB8:0::1'"));
  Open();
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "[2001:db8::1]:3128");
  EXPECT_TRUE(proxy->DesktopHoldsRecorded());
  // Another address is another proxy: the guard must see it.
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "host", "'[2001:db8::2]'"));
  Open();
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "http=[2001:db8::2]:3128;https=[2001:db8::1]:3128;ftp=[2001:db8::1]:3128");
  EXPECT_FALSE(proxy->DesktopHoldsRecorded());

  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("GW.Example:1080@SOCKS5")));
  EXPECT_EQ(Entry("socks"), "'gw.example' 1080");
  EXPECT_EQ(Entry("http"), "'' 0");
  EXPECT_EQ(FirstProxies(home, url), std::vector<std::string>{"socks://gw.example:1080"});
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".socks", "host", "'GW.EXAMPLE'"));
  Open();
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "socks=gw.example:1080");
  EXPECT_TRUE(proxy->DesktopHoldsRecorded());
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GSettingsTest, AHostThatIsNoHostIsNeverReapplied) {
  proxy.reset();
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "host", "'1.2.3.4\"; alert(1); //'"));
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "port", "80"));
  Open();
  proxy->SetAutoProxyConfig(1);
  ReportProxyQuery(proxy->GetIEProxy());
  ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy));
  EXPECT_EQ(PacText(), "function FindProxyForURL(url, host)\r\n{\r\n    return \"DIRECT\";\r\n}\r\n");
  EXPECT_EQ(Get("mode"), "'none'");
}

TEST_F(GSettingsTest, TheDesktopStoreOfTheSessionIsUsedByDefault) {
  // The process's GSettings store is the keyfile under XDG_CONFIG_HOME (set before
  // the first use of GSettings in this process).
  const char* processHome = std::getenv("XDG_CONFIG_HOME");
  ASSERT_NE(processHome, nullptr);
  const auto desktopDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy desktop(*desktopDir);
  ReportProxyChange(desktop.SetIEProxy("172.16.0.9:8000"));
  EXPECT_EQ(sptest::GSettingsGet(processHome, kRoot, "mode"), "'manual'");
  EXPECT_EQ(sptest::LibproxyFor(processHome, {"http://www.example.com/"}),
            std::vector<std::string>{"http://172.16.0.9:8000"});
  ReportProxyChange(desktop.OnCancelIEProxy());
  EXPECT_EQ(sptest::GSettingsGet(processHome, kRoot, "mode"), "'none'");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GSettingsTest, MissingOrIncompleteSchemaMeansNoBackEnd) {
  qbtest::TempDir schemas;
  EXPECT_EQ(CreateGSettingsProxyPlatform({"", schemas.Path()}), nullptr);

  // A schema of that name that lacks a key this program writes is no better.
  qbtest::WriteFile(schemas.File("partial.gschema.xml"),
                    "<schemalist><schema id=\"org.gnome.system.proxy\" path=\"/system/proxy/\">"
                    "<key name=\"mode\" type=\"s\"><default>'none'</default></key>"
                    "</schema></schemalist>");
  ASSERT_EQ(sptest::RunProgram("glib-compile-schemas", {schemas.Path()}).exitCode, 0);
  EXPECT_EQ(CreateGSettingsProxyPlatform({"", schemas.Path()}), nullptr);

  // With no back end at all the program reports and goes on.
  const auto noneDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy none(*noneDir, std::make_unique<CCombinedProxyPlatform>(
                                  std::vector<std::unique_ptr<ISystemProxyPlatform>>{}));
  none.m_sIEProxy = "kept";
  none.SetAutoProxyConfig(1);
  EXPECT_FALSE(ReportProxyChange(none.SetIEProxy("1.2.3.4:80")));
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, "Query option failed!");
  EXPECT_EQ(prompt.messages[0].caption, "获取IE代理");
  EXPECT_EQ(prompt.messages[1].text, "设置代理失败！");
  EXPECT_EQ(prompt.messages[1].caption, "错误");
  EXPECT_NE(PacText().find("PROXY 1.2.3.4:80"), std::string::npos);
}

TEST_F(GSettingsTest, AnUnwritableStoreIsReportedAsAFailedWrite) {
  // A store whose directory cannot exist: its path runs through a regular file.
  qbtest::WriteFile(config.File("not-a-directory"), "");
  auto gsettings = CreateGSettingsProxyPlatform({sptest::KeyfileFor(config.File("not-a-directory")), ""});
  ASSERT_TRUE(gsettings);
  const auto pDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy p(*pDir, std::move(gsettings));
  EXPECT_TRUE(ReportProxyQuery(p.GetIEProxy()));
  EXPECT_FALSE(ReportProxyChange(p.SetIEProxy("1.2.3.4:80")));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "设置代理失败！");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
}

}  // namespace

namespace {

// Another program (here the desktop's own command) changes the proxy: the program
// hears of it, and what it reads then is the new proxy.
TEST_F(GSettingsTest, AChangeMadeElsewhereIsTold) {
  QSignalSpy changed(proxy.get(), &CSystemProxy::desktopProxyChanged);
  proxy->WatchDesktop();
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "host", "'10.20.30.40'"));
  ASSERT_TRUE(sptest::GSettingsSet(home, std::string(kRoot) + ".http", "port", "3128"));
  ASSERT_TRUE(sptest::GSettingsSet(home, kRoot, "mode", "'manual'"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, 10000)) << "no change was told";
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        (void)proxy->GetIEProxy();
        return proxy->m_sIEProxy.find("10.20.30.40:3128") != std::string::npos;
      },
      5000))
      << proxy->m_sIEProxy;
}

}  // namespace

namespace {

// A proxy that needs a log-on: the desktop keeps it with its HTTP proxy, and stops
// using it when another proxy is set, so that it never goes to a proxy it was not
// meant for.
// Where the desktop has no place for it, nothing is changed and the user is told.
TEST_F(GSettingsTest, AnHttpProxysLogOnIsKeptWithItAndNeverPassedOn) {
  const std::string http = std::string(kRoot) + ".http";
  ASSERT_TRUE(qbtest::StoreLogOn(data.Path(), "127.0.0.1:3128@HTTP", ProxyCredentials{"alice", "p w"}).ok());
  EXPECT_TRUE(ReportProxyChange(proxy->SetIEProxy("127.0.0.1:3128@HTTP")));
  EXPECT_EQ(Get("use-authentication", http), "true");
  EXPECT_EQ(Get("authentication-user", http), "'alice'");
  EXPECT_EQ(Get("authentication-password", http), "'p w'");

  EXPECT_TRUE(ReportProxyChange(proxy->SetIEProxy("127.0.0.1:8080@HTTP")));
  EXPECT_EQ(Get("use-authentication", http), "false");
  EXPECT_TRUE(prompt.messages.empty());

  // SOCKS has no log-on on the desktop, and neither has the auto-config script.
  ASSERT_TRUE(qbtest::StoreLogOn(data.Path(), "127.0.0.1:1080@SOCKS5", ProxyCredentials{"bob", "pw"}).ok());
  platform->calls.clear();
  EXPECT_FALSE(ReportProxyChange(proxy->SetIEProxy("127.0.0.1:1080@SOCKS5")));
  proxy->SetAutoProxyConfig(kAutoProxyDefaultScript);
  EXPECT_FALSE(ReportProxyChange(proxy->SetIEProxy("127.0.0.1:3128@HTTP")));
  EXPECT_TRUE(platform->WrittenConnections().empty());
  EXPECT_EQ(Entry("http"), "'127.0.0.1' 8080");
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, kMsgLogOnNotCarried);
  std::string why;
  EXPECT_FALSE(proxy->CheckProxyText("127.0.0.1:3128@HTTP", &why));
  EXPECT_NE(why.find("user name and password"), std::string::npos) << why;
}

}  // namespace
