// Renders the main window to PNG files under the build directory, so that a person
// can look at it: a list of a few dozen rows on a typical day, and a run in progress;
// and the main window, the settings dialog and a message box in both languages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "app/MainDlg.h"
#include "base/Language.h"
#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListModel.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/Messages.h"
#include "ui/QtPrompt.h"
#include "ui/SettingDlg.h"
#include "ui/TextProgressCtrl.h"

using namespace qb;

using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

std::string TypicalList() {
  const char* types[] = {"HTTP", "HTTP", "HTTPS", "SOCKS5", "HTTP", "SOCKS4"};
  const char* status[] = {"0.8",    "1.4",    "2.9", "连接失败", "超时",
                          "不匹配", "未验证", "0.5", "4.2",      "密码不匹配"};
  const char* remarks[] = {"中国 北京", "", "美国", "!自己的", "日本 东京", "", "德国", ""};
  std::string out;
  for (int i = 0; i < 36; ++i) {
    out += "198.51.100." + std::to_string(10 + i) + ":" + std::to_string(i % 3 == 0 ? 8080 : 3128) + "@" +
           types[i % 6] + "$" + status[i % 10];
    if (*remarks[i % 8]) out += std::string("#") + remarks[i % 8];
    out += "\r\n";
  }
  return out;
}

// A window on the data directory, without a tray or log-on entry, its favourites
// marks in the configuration directory.
qbtest::TestWindow ShotWindow(const TempDir& data, const TempDir& config) {
  MainDlgOptions o;
  o.platform = std::make_unique<CRecordingProxyPlatform>();
  o.applyAutoRun = false;
  o.forceNoTray = true;
  return qbtest::OpenTestWindow(data.Path(), config.File("q.INI"), std::move(o));
}

// Under a scale factor (the run of these tests with QT_SCALE_FACTOR=2), the shots get
// its name: "x2-main-window.png".
QString ShotPath(const char* name) {
  const QString dir = QStringLiteral(QB_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
  return dir + "/" + (scale.isEmpty() || scale == "1" ? QString() : "x" + scale + "-") + name;
}

TEST(Screenshots, MainWindowOnATypicalDay) {
  TempDir data, config;
  ScopedEnv xdg("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
  qbtest::ScriptedPrompt prompt;
  WriteFile(data.File("Proxies.pro"), TypicalList());
  WriteFile(data.File("Sources.dat"),
            "示例代理列表 http://127.0.0.1:8/list.html 1\r\n本地测试页 127.0.0.1:8/b.html 0\r\n");
  qbtest::TestWindow window = ShotWindow(data, config);
  CMainDlg& dlg = *window;
  for (int r : {0, 1, 7}) dlg.Dir().List().SetFavorite(r, true);
  dlg.Dir().List().SelectRow(2);
  dlg.Dir().List().SelectRow(3);
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  QImage idle = dlg.grab().toImage();
  ASSERT_FALSE(idle.isNull());
  EXPECT_TRUE(idle.save(ShotPath("main-window.png")));

  // A run in progress, as the verification shows it in the strip.
  dlg.StatusStrip()->SetRange(0, 36);
  dlg.StatusStrip()->SetPos(14);
  dlg.StatusStrip()->SetWindowText("验证中... 14/36  线程: 20");
  for (int r = 14; r < 20; ++r) dlg.Dir().List().SetTimeStatus(r, "验证中...");
  QImage busy = dlg.grab().toImage();
  EXPECT_TRUE(busy.save(ShotPath("main-window-verifying.png")));
  EXPECT_NE(idle, busy);

  // Grown by a user: the lists take the room.
  dlg.resize(dlg.size() + QSize(400, 250));
  QCoreApplication::processEvents();
  QImage large = dlg.grab().toImage();
  EXPECT_EQ(large.deviceIndependentSize(), idle.deviceIndependentSize() + QSizeF(400, 250));
  EXPECT_TRUE(large.save(ShotPath("main-window-large.png")));
}

// docs/main-window-en.png and docs/settings-en.png of the README are these shots.
TEST(Screenshots, TheWindowsInBothLanguages) {
  for (const UiLanguage language : {UiLanguage::Chinese, UiLanguage::English}) {
    const CLanguageCatalogues catalogues(language);
    const std::string prefix = std::string(LanguageCode(language)) + "-";
    qbtest::ScriptedPrompt prompt;
    TempDir data, config;
    ScopedEnv xdg("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
    WriteFile(data.File("Proxies.pro"), TypicalList());
    WriteFile(data.File("Sources.dat"), "proxies http://127.0.0.1:8/list.html 1\r\n");
    qbtest::TestWindow window = ShotWindow(data, config);
    CMainDlg& dlg = *window;
    for (int r : {0, 1, 7}) dlg.Dir().List().SetFavorite(r, true);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_TRUE(dlg.grab().toImage().save(ShotPath((prefix + "main-window.png").c_str())));
    // The list filtered: the HTTPS rows of the typical day, one in six.
    dlg.FilterField()->setText(QStringLiteral("https"));
    dlg.ApplyFilter();
    EXPECT_EQ(dlg.ShownRows(), 6);
    EXPECT_TRUE(dlg.grab().toImage().save(ShotPath((prefix + "filtered-list.png").c_str())));
    dlg.FilterField()->clear();
    dlg.ApplyFilter();

    CSystemProxy sysProxy(dlg.Dir(), std::make_unique<CRecordingProxyPlatform>());
    CSettingDlg settingDlg(dlg.Dir(), sysProxy);
    settingDlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&settingDlg));
    EXPECT_TRUE(settingDlg.grab().toImage().save(ShotPath((prefix + "settings.png").c_str())));

    QtPrompt qtPrompt(&dlg);
    bool shot = false;
    QTimer::singleShot(0, qApp, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      shot = box->grab().toImage().save(ShotPath((prefix + "message-box.png").c_str()));
      box->reject();
    });
    qtPrompt.Message(kMsgConfirmClean, kCaptionClean, MsgIcon::Question, MsgButtons::YesNo);
    EXPECT_TRUE(shot);
  }
}

}  // namespace
