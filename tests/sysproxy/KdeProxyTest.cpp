// KDE's kioslaverc, written by hand in the forms KDE reads, and the session-bus
// signal that makes KDE programs re-read it.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "SysProxyTestUtil.h"
#include "sysproxy/DesktopProxyPlatform.h"
#include "sysproxy/KdeProxyPlatform.h"
#include "sysproxy/ProxyAutoConfig.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

class KdeProxyTest : public sptest::SysProxyTest {
 protected:
  // The script as the browsers get it: proxy.pac's text itself.
  std::string Url() const { return PacDataUrl(PacText()); }
  std::unique_ptr<CSystemProxy> ProxyFor(const std::string& path) {
    return std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()),
                                          std::make_unique<CKdeProxyPlatform>(path));
  }

  qbtest::TempDir config;
};

TEST_F(KdeProxyTest, WritesTheProxyGroupAndKeepsEverythingElse) {
  const std::string path = config.File("kioslaverc");
  qbtest::WriteFile(path,
                    "[General]\n"
                    "httpProxy=not ours\n"
                    "\n"
                    "[Proxy Settings]\n"
                    "AuthMode=0\n"
                    "httpProxy=http://old.example 1\n"
                    "NoProxyFor=localhost,127.0.0.1,.corp\\,example\n"
                    "ReversedException=false\n"
                    "\n"
                    "[Other]\n"
                    "x=y\n");
  auto proxy = ProxyFor(path);
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:3128@HTTP"));
  EXPECT_EQ(qbtest::ReadFile(path),
            "[General]\n"
            "httpProxy=not ours\n"
            "\n"
            "[Proxy Settings]\n"
            "AuthMode=0\n"
            "ReversedException=false\n"
            "ProxyType=1\n"
            "httpProxy=http://10.0.0.1 3128\n"
            "httpsProxy=http://10.0.0.1 3128\n"
            "ftpProxy=http://10.0.0.1 3128\n"
            "socksProxy=\n"
            "Proxy Config Script=" +
                Url() +
                "\n"
                "NoProxyFor=localhost,127.0.0.1,.corp\\,example\n"
                "\n"
                "[Other]\n"
                "x=y\n");
  EXPECT_EQ(proxy->m_sProxyBypass, "localhost;127.0.0.1;.corp,example");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(KdeProxyTest, EachTypeAndModeInKdesForms) {
  const std::string path = config.File("sub/dir/kioslaverc");  // the directory is made
  auto proxy = ProxyFor(path);
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:1080@SOCKS5"));
  std::string text = qbtest::ReadFile(path);
  EXPECT_EQ(text.find("[Proxy Settings]\nProxyType=1\n"), 0u) << text;
  EXPECT_NE(text.find("\nsocksProxy=socks://10.0.0.1 1080\n"), std::string::npos);
  EXPECT_NE(text.find("\nhttpProxy=\n"), std::string::npos);

  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:443@HTTPS"));
  text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("\nhttpsProxy=http://10.0.0.1 443\n"), std::string::npos);
  EXPECT_NE(text.find("\nsocksProxy=\n"), std::string::npos);

  proxy->SetAutoProxyConfig(1);
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:8080"));
  text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("\nProxyType=2\n"), std::string::npos);
  EXPECT_NE(text.find("\nProxy Config Script=" + Url() + "\n"), std::string::npos);

  ReportProxyChange(proxy->OnCancelIEProxy());
  text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("\nProxyType=0\n"), std::string::npos);
  EXPECT_NE(text.find("\nhttpProxy=\n"), std::string::npos);
  // One group, written once, however often it was rewritten.
  EXPECT_EQ(text.find("[Proxy Settings]", 1), std::string::npos);
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(KdeProxyTest, ReadsWhatKdeWrites) {
  const ConnectionProxySettings s = CKdeProxyPlatform::SettingsFromFileText(
      "[Proxy Settings]\r\n"
      "ProxyType=1\r\n"
      "httpProxy=http://proxy.example:8080/\r\n"
      "httpsProxy=http://proxy.example 8080\r\n"
      "ftpProxy[$e]=proxy.example:8080\r\n"
      "socksProxy=socks://bad\"host 1080\r\n"
      "NoProxyFor=\\slocal\\s,*.lan\r\n"
      "[Other]\r\n"
      "ProxyType=2\r\n");
  EXPECT_EQ(s.server, "proxy.example:8080");
  EXPECT_EQ(s.flags, kProxyTypeDirect | kProxyTypeProxy);
  EXPECT_EQ(s.bypass, "local;*.lan");
}

// KDE joins a value's host and port at the blank and reads the result as a URL: an
// IPv6 host keeps its brackets. What KDE holds in any spelling reads back as the list
// writes it.
TEST_F(KdeProxyTest, Ipv6AndNamedProxiesInKdesForms) {
  const std::string path = config.File("kioslaverc");
  auto proxy = ProxyFor(path);
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("[2001:DB8::1]:3128@HTTP")));
  std::string text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("\nhttpProxy=http://[2001:db8::1] 3128\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nftpProxy=http://[2001:db8::1] 3128\n"), std::string::npos) << text;
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("GW.Example:1080@SOCKS5")));
  text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("\nsocksProxy=socks://gw.example 1080\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nhttpProxy=\n"), std::string::npos) << text;
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "socks=gw.example:1080");
  EXPECT_TRUE(proxy->DesktopHoldsRecorded());

  const ConnectionProxySettings s = CKdeProxyPlatform::SettingsFromFileText(
      "[Proxy Settings]\n"
      "ProxyType=1\n"
      "httpProxy=http://[0::1]:8080/\n"
      "httpsProxy=http://::1 8443\n"
      "ftpProxy=2001:db8::1:21\n"  // no port can be told from it
      "socksProxy=socks://GW.Example 1080\n");
  EXPECT_EQ(s.server, "http=[::1]:8080;https=[::1]:8443;socks=gw.example:1080");
}

TEST_F(KdeProxyTest, StartUpReappliesWhatKdeHolds) {
  const std::string path = config.File("kioslaverc");
  qbtest::WriteFile(path, "[Proxy Settings]\nProxyType=0\nsocksProxy=socks://10.9.8.7 1080\n");
  auto proxy = ProxyFor(path);
  ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "socks=10.9.8.7:1080");
  ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy));
  const std::string text = qbtest::ReadFile(path);
  EXPECT_NE(text.find("ProxyType=1\n"), std::string::npos);
  EXPECT_NE(text.find("socksProxy=socks://10.9.8.7 1080\n"), std::string::npos);
}

TEST_F(KdeProxyTest, AnUnreadableOrUnwritableFileIsAFailureNotACrash) {
  // A directory in place of the file can be neither read nor replaced.
  const std::string path = config.File("kioslaverc");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path)));
  auto proxy = ProxyFor(path);
  proxy->m_sIEProxy = "kept";
  EXPECT_FALSE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80")));
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, "Query option failed!");
  EXPECT_EQ(prompt.messages[1].text, "设置代理失败！");
}

TEST_F(KdeProxyTest, KdeSessionWritesKioslavercBesideGSettings) {
  {
    sptest::ScopedEnv desktop("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    sptest::ScopedEnv home("XDG_CONFIG_HOME", config.Path());
    const auto pDir = qbtest::OpenTestDir(data.Path());
    CSystemProxy p(*pDir);
    ReportProxyChange(p.SetIEProxy("10.0.0.2:3128"));
    EXPECT_EQ(qbtest::ReadFile(config.File("kioslaverc")), "<missing>");
  }
  {
    sptest::ScopedEnv desktop("XDG_CURRENT_DESKTOP", "KDE");
    sptest::ScopedEnv home("XDG_CONFIG_HOME", config.Path());
    EXPECT_TRUE(IsKdeSession());
    const auto pDir = qbtest::OpenTestDir(data.Path());
    CSystemProxy p(*pDir);
    ReportProxyChange(p.SetIEProxy("10.0.0.3:3128"));
    EXPECT_NE(qbtest::ReadFile(config.File("kioslaverc")).find("httpProxy=http://10.0.0.3 3128\n"),
              std::string::npos);
  }
  // GSettings got the proxy as well (the process's store, which stays where it was
  // when GSettings was first used).
  const char* processHome = std::getenv("XDG_CONFIG_HOME");
  EXPECT_EQ(sptest::GSettingsGet(processHome, "org.gnome.system.proxy.http", "host"), "'10.0.0.3'");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(KdeProxyTest, ChangeIsAnnouncedOnTheSessionBus) {
  QProcess bus;
  bus.start("dbus-daemon", {"--config-file=/usr/share/dbus-1/session.conf", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForStarted(10000));
  ASSERT_TRUE(bus.waitForReadyRead(10000));
  const std::string address = bus.readLine().trimmed().toStdString();
  ASSERT_FALSE(address.empty());

  QProcess monitor;
  monitor.start("dbus-monitor", {"--address", QString::fromStdString(address),
                                 "type='signal',interface='org.kde.KIO.Scheduler'"});
  ASSERT_TRUE(monitor.waitForStarted(10000));
  QString seen;
  // Wait until the monitor is connected (it reports its own name first).
  QElapsedTimer t;
  t.start();
  while (!seen.contains("NameAcquired") && !seen.contains("NameLost") && t.elapsed() < 5000) {
    monitor.waitForReadyRead(200);
    seen += QString::fromUtf8(monitor.readAll());
  }
  {
    sptest::ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address);
    CKdeProxyPlatform(config.File("kioslaverc")).AnnounceChange();
  }
  t.restart();
  while (!seen.contains("reparseSlaveConfiguration") && t.elapsed() < 5000) {
    monitor.waitForReadyRead(200);
    seen += QString::fromUtf8(monitor.readAll());
  }
  monitor.kill();
  monitor.waitForFinished();
  bus.kill();
  bus.waitForFinished();
  EXPECT_TRUE(
      seen.contains("path=/KIO/Scheduler; interface=org.kde.KIO.Scheduler; member=reparseSlaveConfiguration"))
      << seen.toStdString();
}

}  // namespace
