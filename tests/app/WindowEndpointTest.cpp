// The window's local endpoint: switched on from Options.ini, made the desktop's proxy
// from the tray, carrying connections through the list's working proxies, and marking
// the row of a proxy it had to set aside.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include "../endpoint/EndpointClients.h"
#include "app/EndpointHost.h"
#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/SettingDlg.h"

using namespace qb;
using qbtest::Peer;

namespace {

int FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// What the origin's echo page says when fetched through the endpoint; empty on failure.
QString FetchThrough(const std::string& endpoint, const std::string& url) {
  QProcess curl;
  curl.start("curl", {"-sS", "--max-time", "10", "-x", QString::fromStdString("http://" + endpoint),
                      QString::fromStdString(url)});
  if (!curl.waitForFinished(15000) || curl.exitCode() != 0) return {};
  return QString::fromUtf8(curl.readAllStandardOutput());
}

// A data directory, a config home and a prompt of the test's own, and the window opened
// on them with the options given: no tray, a recording desktop, autorun left alone.
struct WindowDir {
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;

  qbtest::TestWindow Open(const ExtraOptions& options) {
    EXPECT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), config.File("fav.INI"), std::move(o));
  }
};

TEST(WindowEndpoint, TheDesktopGoesThroughTheEndpointAndADeadProxyIsMarked) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = qbtest::Peers();
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  // The dead proxy is the fastest, so the failover policy tries it first every time.
  qbtest::WriteFile(data.File("Proxies.pro"), "127.0.0.1:" + std::to_string(peers.DeadPort()) +
                                                  "@HTTP$0.2#dead\r\n" +
                                                  "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) +
                                                  "@HTTP$0.9#live\r\n" + "127.0.0.1:9@HTTP$连接失败\r\n");
  qbtest::WriteFile(data.File("Setting.dat"), "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
  const int port = FreePort();
  ExtraOptions options;
  options.endpoint.enabled = true;
  // Setting.dat holds only the built-in resources, public sites: no check may go there.
  options.endpoint.healthChecks = false;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(port);
  ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());

  MainDlgOptions o;
  auto platform = std::make_unique<CRecordingProxyPlatform>();
  o.platform = std::move(platform);
  o.applyAutoRun = false;
  o.forceNoTray = true;
  qbtest::TestWindow window = qbtest::OpenTestWindow(data.Path(), config.File("fav.INI"), std::move(o));
  CMainDlg& dlg = *window;

  const std::string address = "127.0.0.1:" + std::to_string(port);
  ASSERT_TRUE(dlg.Endpoint().Running());
  EXPECT_EQ(dlg.Endpoint().Address(), address);
  EXPECT_EQ(dlg.Endpoint().PoolSize(), 2);  // the failed row is no candidate
  EXPECT_EQ(dlg.Tray().MenuState().endpointAddress, address);

  dlg.OnViaEndpoint();
  EXPECT_EQ(dlg.SystemProxy().m_sIEProxy.substr(0, address.size()), address);

  // Every request arrives, through the live proxy, however often the dead one fails.
  for (int i = 0; i < 4; ++i) {
    const QString echo = FetchThrough(address, peers.OriginUrl("/echo"));
    EXPECT_TRUE(echo.startsWith(QString::fromStdString("client=" + peers.OutAddress(Peer::HttpProxy))))
        << i << ": " << echo.toStdString();
  }
  // Set aside, the dead proxy's row says so, and the list file too.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dlg.Dir().List().CellText(0, CProxyListModel::ColTimeStatus) == kStatusConnectFailed; },
      5000));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return qbtest::ReadFile(data.File("Proxies.pro")).find("@HTTP$连接失败#dead") != std::string::npos;
      },
      5000));
  EXPECT_EQ(dlg.Dir().List().CellText(1, CProxyListModel::ColTimeStatus), "0.9");

  // Switching it off under a desktop that goes through it is asked first.
  const std::size_t said = prompt.messages.size();
  prompt.answers.push_back(qb::MsgResult::No);
  dlg.OnEndpointSwitch();
  EXPECT_TRUE(dlg.Endpoint().Running());
  ASSERT_EQ(prompt.messages.size(), said + 1);
  EXPECT_EQ(prompt.messages.back().text, kMsgEndpointInUse);
  prompt.answers.push_back(qb::MsgResult::Yes);
  dlg.OnEndpointSwitch();
  EXPECT_FALSE(dlg.Endpoint().Running());
  EXPECT_TRUE(dlg.Tray().MenuState().endpointAddress.empty());
  qb::OpResult loaded;
  const ExtraOptions saved = qbtest::LoadOptionsFrom(data.Path(), &loaded);
  ASSERT_TRUE(loaded.ok());
  EXPECT_FALSE(saved.endpoint.enabled);
  // Nothing listens there any more: the desktop fails closed, it does not go direct.
  EXPECT_TRUE(FetchThrough(address, peers.OriginUrl("/echo")).isEmpty());
}

TEST(WindowEndpoint, AnAddressInUseIsSaidAndTheEndpointStaysOff) {
  WindowDir dir;
  qbtest::TempDir& data = dir.data;
  qbtest::ScriptedPrompt& prompt = dir.prompt;
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  qbtest::WriteFile(data.File("Setting.dat"), "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
  ExtraOptions options;
  options.endpoint.enabled = true;
  // Setting.dat holds only the built-in resources, public sites: no check may go there.
  options.endpoint.healthChecks = false;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(taken.serverPort());
  qbtest::TestWindow window = dir.Open(options);
  CMainDlg& dlg = *window;
  EXPECT_FALSE(dlg.Endpoint().Running());
  bool said = false;
  for (const auto& m : prompt.messages) said = said || m.text.rfind(kMsgEndpointFailed, 0) == 0;
  EXPECT_TRUE(said);
}

}  // namespace

namespace {

// Options.ini asking for an address others on the network may reach: the window asks
// as the settings dialog asks when it is chosen there, and "No" leaves the endpoint off
// for the run without changing the file.
TEST(WindowEndpoint, AnAddressBeyondLoopbackFromTheFileIsAskedAbout) {
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::WriteFile(data.File("Setting.dat"), "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
  ExtraOptions options;
  options.endpoint.enabled = true;
  // Setting.dat holds only the built-in resources, public sites: no check may go there.
  options.endpoint.healthChecks = false;
  // A documentation address: no interface of this machine has it, so even the "Yes"
  // below binds nothing.
  options.endpoint.listen = "192.0.2.1:" + std::to_string(FreePort());
  ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
  auto open = [&] {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), config.File("fav.INI"), std::move(o));
  };
  {
    qbtest::ScriptedPrompt prompt;
    prompt.answers = {qb::MsgResult::No};
    qbtest::TestWindow window = open();
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_EQ(prompt.messages.back().text, kMsgEndpointNotLoopback);  // and nothing was tried after it
    EXPECT_EQ(prompt.messages.back().buttons, qb::MsgButtons::YesNo);
    EXPECT_FALSE(window->Endpoint().Running());
    EXPECT_TRUE(qbtest::LoadOptionsFrom(data.Path()).endpoint.enabled);
  }
  {
    qbtest::ScriptedPrompt prompt;
    prompt.answers = {qb::MsgResult::Yes};
    qbtest::TestWindow window = open();
    ASSERT_GE(prompt.messages.size(), 2u);
    const auto& asked = prompt.messages[prompt.messages.size() - 2];
    EXPECT_EQ(asked.text, kMsgEndpointNotLoopback);
    // Started as asked: here that fails, and says so.
    EXPECT_EQ(prompt.messages.back().text.rfind(kMsgEndpointFailed, 0), 0u) << prompt.messages.back().text;
  }
}

}  // namespace

namespace {

// The control API beside the window's own endpoint, from Options.ini: on when it names
// a loopback address; said and left off when it cannot start, with the endpoint
// running on without it.
TEST(WindowEndpoint, TheControlApiRunsBesideTheEndpointWhenOptionsNameIt) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = qbtest::Peers();
  WindowDir dir;
  qbtest::TempDir& data = dir.data;
  qbtest::ScriptedPrompt& prompt = dir.prompt;
  const std::string live = "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) + "@HTTP";
  qbtest::WriteFile(data.File("Proxies.pro"), live + "$0.9\r\n127.0.0.1:9@HTTP$连接失败\r\n");
  qbtest::WriteFile(data.File("Setting.dat"), "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  const int apiPort = FreePort();
  for (const std::string& api :
       {"127.0.0.1:" + std::to_string(apiPort), "127.0.0.1:" + std::to_string(taken.serverPort()),
        std::string("0.0.0.0:") + std::to_string(apiPort)}) {
    SCOPED_TRACE(api);
    ExtraOptions options;
    options.endpoint.enabled = true;
    options.endpoint.listen = "127.0.0.1:" + std::to_string(FreePort());
    options.api.listen = api;
    prompt.messages.clear();
    qbtest::TestWindow window = dir.Open(options);
    CMainDlg& dlg = *window;
    ASSERT_TRUE(dlg.Endpoint().Running());
    bool said = false;
    for (const auto& m : prompt.messages) said = said || m.text.rfind(kMsgApiFailed, 0) == 0;
    if (api.find(std::to_string(apiPort)) == std::string::npos || api.rfind("0.0.0.0", 0) == 0) {
      EXPECT_TRUE(said);
      EXPECT_EQ(dlg.Endpoint().ApiPort(), 0);
      continue;
    }
    EXPECT_FALSE(said);
    ASSERT_EQ(dlg.Endpoint().ApiPort(), apiPort);
    // The pool reaches the endpoint's thread a moment after the window hands it over.
    std::string pool;
    for (int i = 0; i < 20 && pool.find(live) == std::string::npos; ++i) {
      if (i) QTest::qWait(100);
      QProcess curl;
      curl.start("curl", {"-sS", "--max-time", "10", "--noproxy", "*",
                          QString::fromStdString("http://127.0.0.1:" + std::to_string(apiPort) + "/pool")});
      ASSERT_TRUE(curl.waitForFinished(15000));
      pool = curl.readAllStandardOutput().toStdString();
    }
    // The working row only: the failed one is no candidate.
    EXPECT_NE(pool.find("\"line\":\"" + live + "\""), std::string::npos) << pool;
    EXPECT_EQ(pool.find("127.0.0.1:9@HTTP"), std::string::npos) << pool;
  }
}

// A proxy the endpoint set aside is checked on, though its row now says it failed, and
// its row gets its time back when a check brings it back; saving the list meanwhile
// brings nothing back early.
TEST(WindowEndpoint, ARowMarkedForASetAsideGetsItsTimeBackWhenACheckPasses) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = qbtest::Peers();
  eptest::OwnSocks hung("127.0.0.71"), live("127.0.0.72");
  ASSERT_TRUE(hung.Ready() && live.Ready());
  WindowDir dir;
  qbtest::TempDir& data = dir.data;
  const std::string hungLine = "127.0.0.1:" + std::to_string(hung.Port()) + "@SOCKS5";
  qbtest::WriteFile(data.File("Proxies.pro"), hungLine + "$0.1#hung\r\n127.0.0.1:" +
                                                  std::to_string(live.Port()) + "@SOCKS5$0.2#live\r\n");
  CSettings settings;
  settings.m_bMinimize = 0;
  settings.m_bAutoRun = 0;
  settings.m_nConTimeout = 1;
  AddVerifySource(settings, "local", peers.OriginUrl("/feature.html"), peers.Feature(), 1);
  qbtest::WriteFile(data.File("Setting.dat"), FormatSettingsFile(settings));
  ExtraOptions options;
  options.endpoint.enabled = true;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(FreePort());
  options.endpoint.checkInterval = 1;
  options.endpoint.checkTimeout = 2;
  options.endpoint.lazyAfter = 0;
  options.endpoint.failuresToSetAside = 2;
  options.endpoint.setAside = 1;
  options.endpoint.setAsideMax = 2;
  // The pool's view, should the row not come back.
  const int apiPort = FreePort();
  options.api.listen = "127.0.0.1:" + std::to_string(apiPort);

  hung.Freeze(true);
  qbtest::TestWindow window = dir.Open(options);
  CMainDlg& dlg = *window;
  ASSERT_TRUE(dlg.Endpoint().Running());
  CProxyListModel& list = dlg.Dir().List();
  // The checks alone find it: no client comes.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return list.CellText(0, CProxyListModel::ColTimeStatus) == kStatusConnectFailed; }, 30000));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return qbtest::ReadFile(data.File("Proxies.pro")).find("$连接失败#hung") != std::string::npos; },
      5000));
  EXPECT_EQ(list.CellText(1, CProxyListModel::ColTimeStatus), "0.2");
  // A change to another row rebuilds the pool: that brings it back not even for a
  // moment while it still hangs.
  bool cameBack = false;
  const auto watch = QObject::connect(&list, &QAbstractItemModel::dataChanged, [&] {
    cameBack = cameBack || list.CellText(0, CProxyListModel::ColTimeStatus) != kStatusConnectFailed;
  });
  list.SetRemark(1, "still live");
  QTest::qWait(4000);
  QObject::disconnect(watch);
  EXPECT_FALSE(cameBack);
  EXPECT_EQ(list.CellText(0, CProxyListModel::ColTimeStatus), kStatusConnectFailed);
  EXPECT_EQ(dlg.Endpoint().PoolSize(), 2);

  hung.Freeze(false);
  if (!QTest::qWaitFor([&] { return list.CellText(0, CProxyListModel::ColTimeStatus) == "0.1"; }, 30000)) {
    QProcess curl;
    curl.start("curl", {"-sS", "--max-time", "5", "--noproxy", "*",
                        QString::fromStdString("http://127.0.0.1:" + std::to_string(apiPort) + "/pool")});
    curl.waitForFinished(10000);
    ADD_FAILURE() << "the row says " << list.CellText(0, CProxyListModel::ColTimeStatus)
                  << "; the pool: " << curl.readAllStandardOutput().toStdString();
  }
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return qbtest::ReadFile(data.File("Proxies.pro")).find("@SOCKS5$0.1#hung") != std::string::npos;
      },
      5000));
}

// The API changed alone (from the settings dialog) starts, moves or stops the API only:
// the endpoint, and the connections it carries, stay as they are.
TEST(WindowEndpoint, OnlyTheApiStartsAgainWhenOnlyItsOptionsChange) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = qbtest::Peers();
  WindowDir dir;
  qbtest::TempDir& data = dir.data;
  qbtest::WriteFile(data.File("Proxies.pro"),
                    "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) + "@HTTP$0.9\r\n");
  qbtest::WriteFile(data.File("Setting.dat"), "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
  ExtraOptions options;
  options.endpoint.enabled = true;
  options.endpoint.healthChecks = false;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(FreePort());
  qbtest::TestWindow window = dir.Open(options);
  CEndpointHost& host = window->Endpoint();
  ASSERT_TRUE(host.Running());
  EXPECT_EQ(host.ApiPort(), 0);
  // A tunnel through the endpoint, open across the changes.
  eptest::RawClient tunnel(ParseListenAddress(host.Address())->port);
  const std::string target = "127.0.0.1:" + std::to_string(peers.OriginPort());
  tunnel.Send("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
  ASSERT_TRUE(tunnel.ReceiveAnswer().starts_with("HTTP/1.1 200"));

  const int first = FreePort();
  host.SetApi({"127.0.0.1:" + std::to_string(first), "t"});
  ASSERT_TRUE(host.Apply(options.endpoint, 5000).ok());
  EXPECT_TRUE(host.ApiResult().ok());
  EXPECT_EQ(host.ApiPort(), first);
  const int second = FreePort();
  host.SetApi({"127.0.0.1:" + std::to_string(second), "t"});
  ASSERT_TRUE(host.Apply(options.endpoint, 5000).ok());
  EXPECT_EQ(host.ApiPort(), second);
  host.SetApi({});
  ASSERT_TRUE(host.Apply(options.endpoint, 5000).ok());
  EXPECT_EQ(host.ApiPort(), 0);
  // The tunnel was never cut: it still carries a request to the origin.
  tunnel.Send("GET /echo HTTP/1.1\r\nHost: " + target + "\r\nConnection: close\r\n\r\n");
  const std::string answer = tunnel.Receive();
  EXPECT_TRUE(answer.starts_with("HTTP/1.0 200")) << answer;
}

// A resource ticked in the settings after the endpoint started is the one its health
// checks ask for: the endpoint starts again with it (the API says checks can run now).
TEST(WindowEndpoint, ANewlyTickedResourceIsWhatTheChecksAskFor) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = qbtest::Peers();
  WindowDir dir;
  qbtest::TempDir& data = dir.data;
  qbtest::WriteFile(data.File("Proxies.pro"),
                    "127.0.0.1:" + std::to_string(peers.HttpProxyPort()) + "@HTTP$0.9\r\n");
  // No resource ticked: nothing to check against.
  CSettings settings;
  settings.m_bMinimize = 0;
  settings.m_bAutoRun = 0;
  AddVerifySource(settings, "local", peers.OriginUrl("/feature.html"), peers.Feature(), 0);
  qbtest::WriteFile(data.File("Setting.dat"), FormatSettingsFile(settings));
  ExtraOptions options;
  options.endpoint.enabled = true;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(FreePort());
  const int apiPort = FreePort();
  options.api.listen = "127.0.0.1:" + std::to_string(apiPort);
  qbtest::TestWindow window = dir.Open(options);
  CMainDlg& dlg = *window;
  ASSERT_TRUE(dlg.Endpoint().Running());
  const auto check = [&] {
    QProcess curl;
    curl.start("curl",
               {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "5", "--noproxy", "*", "-X",
                "POST", QString::fromStdString("http://127.0.0.1:" + std::to_string(apiPort) + "/check")});
    curl.waitForFinished(10000);
    return curl.readAllStandardOutput().toStdString();
  };
  EXPECT_EQ(check(), "409");
  // Applying the same options again changes nothing...
  ASSERT_TRUE(dlg.Endpoint().Apply(options.endpoint, 5000).ok());
  EXPECT_EQ(check(), "409");
  // ...until the resource is ticked.
  ASSERT_FALSE(dlg.Dir().Settings().m_aVerifySources.empty());
  dlg.Dir().Settings().m_aVerifySources.back().m_bChecked = 1;
  ASSERT_TRUE(dlg.Endpoint().Apply(options.endpoint, 5000).ok());
  EXPECT_EQ(check(), "202");
}

}  // namespace
