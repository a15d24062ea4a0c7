// Proxies named by IPv6 addresses and host names in the main window: added through the
// proxy dialog as the list writes them, shown whole, placed by their address, sorted
// after the dotted ones. The only name here is localhost, which the hosts file answers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/MainDlg.h"
#include "base/Language.h"
#include "proxy/GeoLocation.h"
#include "settings/Options.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/HistoryColumns.h"
#include "ui/IpAddressCtrl.h"
#include "ui/Messages.h"
#include "ui/ProxyInfoDlg.h"
#include "ui/SortListCtrl.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

class HostsInTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(data.File("Proxies.pro"),
              "localhost:3128@HTTP$未验证\r\n"
              "[2001:db8:1::5]:8080@SOCKS5$未验证\r\n"
              "1.1.1.1:80@HTTP$0.5#fast\r\n");
    WriteFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
    ExtraOptions options;
    options.SetWhenDown(WhenProxyDown::Block);
    ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
  }

  qbtest::TestWindow Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), ini, std::move(o));
  }

  // Acts on the proxy dialog once it runs modally.
  static void WhenProxyDialogOpens(std::function<void(CProxyInfoDlg&)> act) {
    QTimer::singleShot(0, qApp, [act] {
      auto* dlg = qobject_cast<CProxyInfoDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      act(*dlg);
      if (dlg->isVisible()) dlg->reject();
    });
  }
  static std::function<void(CProxyInfoDlg&)> TypeIn(const char* type, const char* host, const char* port) {
    return [=](CProxyInfoDlg& d) {
      d.TypeCombo()->setCurrentText(type);
      d.AddressCtrl()->SetHost(QString::fromUtf8(host));
      d.PortEdit()->setText(port);
      d.accept();
    };
  }

  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  std::string ini = config.File("quillberry-test.INI");
  qbtest::ScriptedPrompt prompt;
};

TEST_F(HostsInTheWindow, TheDialogAddsThemAsTheListWritesThem) {
  auto dlg = Open();
  CProxyListModel& list = dlg->Dir().List();
  WhenProxyDialogOpens(TypeIn("HTTP", "[2001:DB8:0::7]", "8080"));
  dlg->Button(1034)->click();
  ASSERT_EQ(list.RowCount(), 4);
  EXPECT_EQ(list.Entry(3)->Addr(), "[2001:db8::7]");
  WhenProxyDialogOpens(TypeIn("SOCKS5", "LocalHost.", "1080"));
  dlg->Button(1034)->click();
  ASSERT_EQ(list.RowCount(), 5);
  EXPECT_EQ(list.Entry(4)->Addr(), "localhost");
  const std::string saved = ReadFile(data.File("Proxies.pro"));
  EXPECT_NE(saved.find("[2001:db8::7]:8080@HTTP"), std::string::npos) << saved;
  EXPECT_NE(saved.find("localhost:1080@SOCKS5"), std::string::npos) << saved;
  EXPECT_TRUE(prompt.messages.empty());

  // The same proxy in another spelling is the one the list has.
  WhenProxyDialogOpens(TypeIn("HTTP", "2001:db8::0:7", "8080"));
  dlg->Button(1034)->click();
  EXPECT_EQ(list.RowCount(), 5);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, kMsgProxyExists);

  // Modified, a row takes a host of another kind.
  list.selectionModel()->clearSelection();
  list.SelectRow(4);
  WhenProxyDialogOpens([](CProxyInfoDlg& d) {
    EXPECT_EQ(d.AddressCtrl()->HostText(), "localhost");
    d.AddressCtrl()->SetHost("[::1]");
    d.accept();
  });
  dlg->Button(1041)->click();
  EXPECT_EQ(list.Entry(4)->Addr(), "[::1]");
  EXPECT_NE(ReadFile(data.File("Proxies.pro")).find("[::1]:1080@SOCKS5"), std::string::npos);
}

// A full IPv6 address fits its column; the country is its address's, from a location
// database that holds IPv6; the address column sorts dotted addresses, then IPv6, then
// names.
TEST_F(HostsInTheWindow, TheListShowsPlacesAndSortsThem) {
  QProcess perl;
  perl.start("/usr/bin/perl",
             {QB_SOURCE_DIR "/tests/support/make-mmdb.pl",
              QString::fromStdString(data.File("test-city.mmdb")), "Test-City", "1700000000"});
  ASSERT_TRUE(perl.waitForFinished(60000));
  ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();

  auto dlg = Open();
  CProxyListModel& list = dlg->Dir().List();
  EXPECT_GT(dlg->ListView()->columnWidth(CProxyListModel::ColAddr),
            dlg->ListView()->fontMetrics().horizontalAdvance(QString::fromLatin1(kTypicalIpv6Address)));

  const int country = CProxyListModel::ColumnCount + CHistoryColumns::Country;
  const QString japan = list.data(list.index(1, country)).toString();
  EXPECT_TRUE(japan == "日本" || japan == "Japan") << japan.toStdString();
  EXPECT_EQ(japan.toStdString(), LocateAddress(data.Path(), "2001:db8:1::5", CurrentLanguage())->country);
  // localhost is 127.0.0.1, which no database places.
  EXPECT_EQ(list.data(list.index(0, country)).toString(), "");

  dlg->ListView()->OnColumnClick(CProxyListModel::ColAddr);
  ASSERT_EQ(list.RowCount(), 3);
  EXPECT_EQ(list.Entry(0)->Addr(), "1.1.1.1");
  EXPECT_EQ(list.Entry(1)->Addr(), "[2001:db8:1::5]");
  EXPECT_EQ(list.Entry(2)->Addr(), "localhost");
}

}  // namespace
