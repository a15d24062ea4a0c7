// The window's desktop notifications, received by a notification service of the test's
// own on a private session bus (a dbus-daemon the test starts and ends).
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <mutex>
#include <string>
#include <vector>

#include "app/EndpointHost.h"
#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "base/Translate.h"
#include "settings/Options.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/DesktopNotifier.h"
#include "ui/Messages.h"
#include "ui/Resources.h"
#include "ui/TextProgressCtrl.h"

using namespace qb;

namespace {

struct Received {
  QString app, summary, body;
};

// What a desktop's notification service does with Notify, recorded.
class FakeNotifications : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.freedesktop.Notifications\"><method name=\"Notify\">"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/><arg type=\"s\" "
        "direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/><arg type=\"as\" "
        "direction=\"in\"/>"
        "<arg type=\"a{sv}\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"u\" direction=\"out\"/></method></interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) return false;
    const QList<QVariant> a = message.arguments();
    received.push_back({a[0].toString(), a[3].toString(), a[4].toString()});
    connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(received.size()))));
    return true;
  }
  std::vector<Received> received;
};

// A session bus of the test's own with the fake service on it.
class PrivateBus {
 public:
  PrivateBus() {
    m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000)) return;
    address = QString::fromUtf8(m_daemon.readLine()).trimmed().toStdString();
    m_bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("fake-notifications")));
    ok = m_bus->isConnected() && m_bus->registerVirtualObject(kNotificationsPath, &service) &&
         m_bus->registerService(kNotificationsService);
  }
  ~PrivateBus() {
    if (m_bus) QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("quillberry-notifications"));
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
  }
  bool WaitFor(size_t count, int ms = 5000) {
    return QTest::qWaitFor([&] { return service.received.size() >= count; }, ms);
  }

  std::string address;
  bool ok = false;
  FakeNotifications service;

 private:
  QProcess m_daemon;
  std::unique_ptr<QDBusConnection> m_bus;
};

int FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

class Notifications : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus.ok) << "no private bus: " << bus.address;
    qbtest::WriteFile(data.File("Setting.dat"),
                      "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
                      "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
    qbtest::WriteFile(data.File("Proxies.pro"), "127.0.0.1:9@HTTP$0.5\r\n");
    options.SetWhenDown(WhenProxyDown::Block);
  }
  qbtest::TestWindow Open(int watchMs = 100) {
    EXPECT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    o.notificationBus = bus.address;
    o.watchMs = watchMs;
    return qbtest::OpenTestWindow(data.Path(), config.File("fav.INI"), std::move(o));
  }

  PrivateBus bus;
  qbtest::TempDir data, config;
  qbtest::ScriptedPrompt prompt;
  ExtraOptions options;
};

TEST_F(Notifications, ATraySwitchTellsTheStateItLeftUnlessTurnedOff) {
  {
    qbtest::TestWindow window = Open(60000);
    window->Tray().OnTrayCommand(ID_FAVORITE_FIRST, 0);
    ASSERT_TRUE(bus.WaitFor(1));
    EXPECT_EQ(bus.service.received[0].app, "Quillberry");
    EXPECT_EQ(bus.service.received[0].summary, Tr(kCaptionSystemProxy));
    EXPECT_EQ(bus.service.received[0].body, Tr(kNotifyStateProxy).arg("127.0.0.1:9@HTTP"));
    window->Tray().OnTrayCommand(ID_CANCEL_IE_PROXY, {});
    ASSERT_TRUE(bus.WaitFor(2));
    EXPECT_EQ(bus.service.received[1].body, Tr(kNotifyStateNone));
  }
  options.notify.traySwitch = false;
  qbtest::TestWindow window = Open(60000);
  window->Tray().OnTrayCommand(ID_FAVORITE_FIRST, 0);
  QTest::qWait(500);
  EXPECT_EQ(bus.service.received.size(), 2u);
}

TEST_F(Notifications, AProxyThatStopsAnsweringIsToldOnce) {
  QTcpServer proxy;
  ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost, 0));
  const std::string line = "127.0.0.1:" + std::to_string(proxy.serverPort()) + "@HTTP";
  qbtest::TestWindow window = Open();
  ASSERT_TRUE(window->SystemProxy().SetIEProxy(line).ok());
  QTest::qWait(400);  // answering: nothing to tell
  EXPECT_TRUE(bus.service.received.empty());
  // The strip says what the desktop uses and that it answers.
  const auto strip = [&] { return window->StatusStrip()->GetWindowText(); };
  const QString address = QString::fromStdString(line).section('@', 0, 0);
  EXPECT_TRUE(strip().endsWith(" IE: " + address + Tr(kStatusAnswers))) << strip().toStdString();
  proxy.close();
  ASSERT_TRUE(bus.WaitFor(1));
  EXPECT_EQ(bus.service.received[0].body, Tr(kNotifyProxyDown).arg(QString::fromStdString(line)));
  EXPECT_TRUE(strip().endsWith(" IE: " + address + Tr(kStatusSilent))) << strip().toStdString();
  QTest::qWait(400);  // still down: not told again
  EXPECT_EQ(bus.service.received.size(), 1u);
}

TEST_F(Notifications, TheEndpointsPoolDroppingBelowTheNumberIsTold) {
  // Two proxies where nothing listens: each connection through the endpoint fails on
  // both, and three failures set one aside.
  const int port = FreePort();
  qbtest::WriteFile(data.File("Proxies.pro"), "127.0.0.1:9@HTTP$0.5\r\n127.0.0.1:7@SOCKS5$0.6\r\n");
  options.endpoint.enabled = true;
  options.endpoint.listen = "127.0.0.1:" + std::to_string(port);
  options.notify.poolLowBelow = 2;
  qbtest::TestWindow window = Open();
  ASSERT_TRUE(window->Endpoint().Running());
  QTest::qWait(400);
  EXPECT_TRUE(bus.service.received.empty());
  for (int i = 0; i < 3; ++i) {
    QProcess curl;
    curl.start("curl",
               {"-sS", "--max-time", "5", "-x",
                QString::fromStdString("http://127.0.0.1:" + std::to_string(port)), "http://127.0.0.1:9/"});
    curl.waitForFinished(10000);
  }
  ASSERT_TRUE(bus.WaitFor(1));
  EXPECT_EQ(bus.service.received[0].summary, Tr(kCaptionEndpoint));
  // The check may fall between the two proxies being set aside.
  const QString body = bus.service.received[0].body;
  EXPECT_TRUE(body == Tr(kNotifyPoolLow).arg(1).arg(2) || body == Tr(kNotifyPoolLow).arg(0).arg(2))
      << body.toStdString();
}

TEST_F(Notifications, ALongRunThatEndedWhileHiddenGivesItsSummary) {
  options.notify.runSeconds = 0;
  qbtest::TestWindow window = Open(60000);
  ASSERT_FALSE(window->isVisible());
  window->OnVerifyAll();
  ASSERT_TRUE(bus.WaitFor(1, 30000));
  EXPECT_EQ(bus.service.received[0].summary, Tr(kCaptionRunDone));
  EXPECT_TRUE(bus.service.received[0].body.startsWith(Tr(kNotifyRunDone).arg(1).arg(0).section("%3", 0, 0)))
      << bus.service.received[0].body.toStdString();
}

}  // namespace
