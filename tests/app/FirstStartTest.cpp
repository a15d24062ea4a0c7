// A first start as a new user meets it: the window and a welcome over it, and nothing
// written to the user's system (the settings, the start-at-log-in entry) before the
// user has seen the two choices that touch it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/MainDlg.h"
#include "base/Language.h"
#include "settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/FirstStartDlg.h"
#include "ui/Messages.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

class FirstStart : public ::testing::Test {
 protected:
  qbtest::TestWindow Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    // The real start-at-log-in entry, in the test's own configuration directory.
    o.applyAutoRun = true;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), config.File("q.INI"), std::move(o));
  }
  std::string AutostartEntry() const { return config.File("autostart/Quillberry.desktop"); }
  bool Exists(const std::string& path) const { return QFileInfo::exists(QString::fromStdString(path)); }

  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
};

TEST_F(FirstStart, WelcomesWithTheMainJobAndWritesNothingUntilTheChoiceIsSeen) {
  qbtest::TestWindow dlg = Open();
  // No warning box about missing resources, no file, no log-in entry yet.
  EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front().text;
  EXPECT_FALSE(Exists(data.File("Setting.dat")));
  EXPECT_FALSE(Exists(AutostartEntry()));
  EXPECT_TRUE(dlg->WelcomePending());
  // The built-in resources are in use all the same.
  EXPECT_EQ(dlg->Dir().Settings().m_aVerifySources.size(), 11u);

  // Even a start asked for the tray (a desktop action) shows a new user the window.
  dlg->StartUp(/*minimised=*/true);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  CFirstStartDlg* welcome = dlg->Welcome();
  ASSERT_NE(welcome, nullptr);
  EXPECT_TRUE(welcome->isVisible());
  EXPECT_EQ(welcome->windowModality(), Qt::WindowModal);
  // The documented defaults, ticked.
  EXPECT_TRUE(welcome->AutoRunBox()->isChecked());
  EXPECT_TRUE(welcome->AutoVerifyBox()->isChecked());
  // Which sites the default resources reach.
  const QString resources = welcome->ResourcesLabel()->text();
  EXPECT_TRUE(resources.contains("www.google.com")) << resources.toStdString();
  EXPECT_TRUE(resources.contains("ftp.globalscape.com")) << resources.toStdString();
  QString all;
  for (const QLabel* l : welcome->findChildren<QLabel*>()) all += l->text() + "\n";
  // The three steps name the buttons they need.
  for (const char* part : {"1. ", "2. ", "3. ", "粘贴", "验证全部", "系统代理"})
    EXPECT_TRUE(all.contains(QString::fromUtf8(part))) << part << "\n" << all.toStdString();
  // Still nothing on disk while the welcome is open.
  QTest::qWait(50);
  EXPECT_FALSE(Exists(data.File("Setting.dat")));
  EXPECT_FALSE(Exists(AutostartEntry()));

  QTest::mouseClick(welcome->StartButton(), Qt::LeftButton);
  EXPECT_EQ(dlg->Welcome(), nullptr);
  EXPECT_FALSE(dlg->WelcomePending());
  const std::string saved = ReadFile(data.File("Setting.dat"));
  EXPECT_NE(saved.find("中文Google@http://www.google.com/intl/zh-CN/%手气不错$1\r\n"), std::string::npos)
      << saved;
  EXPECT_NE(saved.find("m_bAutoRun=1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("m_bAutoTimingVerify=1\r\n"), std::string::npos) << saved;
  EXPECT_NE(ReadFile(AutostartEntry()).find("Exec="), std::string::npos);
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(FirstStart, TheUsersNoIsKeptAndNoLogInEntryIsEverWritten) {
  {
    qbtest::TestWindow dlg = Open();
    dlg->StartUp();
    ASSERT_NE(dlg->Welcome(), nullptr);
    dlg->Welcome()->AutoRunBox()->setChecked(false);
    dlg->Welcome()->AutoVerifyBox()->setChecked(false);
    // Closed with Esc: the choice shown is the choice kept.
    QTest::keyClick(dlg->Welcome(), Qt::Key_Escape);
    EXPECT_EQ(dlg->Welcome(), nullptr);
  }
  const std::string saved = ReadFile(data.File("Setting.dat"));
  EXPECT_NE(saved.find("m_bAutoRun=0\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("m_bAutoTimingVerify=0\r\n"), std::string::npos) << saved;
  EXPECT_FALSE(Exists(AutostartEntry()));

  // The next start is no first start: no welcome, and the choice stands.
  qbtest::TestWindow again = Open();
  EXPECT_FALSE(again->WelcomePending());
  again->StartUp();
  EXPECT_EQ(again->Welcome(), nullptr);
  EXPECT_EQ(again->Dir().Settings().m_bAutoRun, 0);
  EXPECT_EQ(again->Dir().Settings().m_bAutoTimingVerify, 0);
  EXPECT_FALSE(Exists(AutostartEntry()));
}

TEST_F(FirstStart, AWelcomeLeftUnansweredLeavesTheNextStartAFirstStart) {
  {
    qbtest::TestWindow dlg = Open();
    dlg->StartUp();
    ASSERT_NE(dlg->Welcome(), nullptr);
    // The program ends (the tray's Exit, a log-off) with the welcome still open.
  }
  EXPECT_FALSE(Exists(data.File("Setting.dat")));
  EXPECT_FALSE(Exists(AutostartEntry()));
  qbtest::TestWindow again = Open();
  EXPECT_TRUE(again->WelcomePending());
}

TEST_F(FirstStart, ASettingsFileThatLostItsResourcesIsMendedWithTheWarningAndNoWelcome) {
  WriteFile(data.File("Setting.dat"), "m_nThreadNumber=9\r\nm_bAutoRun=0\r\n");
  qbtest::TestWindow dlg = Open();
  EXPECT_FALSE(dlg->WelcomePending());
  ASSERT_EQ(prompt.messages.size(), 1u);
  // The warning, and where the file as it was is kept.
  const std::string& said = prompt.messages[0].text;
  EXPECT_EQ(said.rfind(kMsgDefaultResources, 0), 0u) << said;
  const std::string kept = dlg->Dir().SettingsKeptAs();
  ASSERT_FALSE(kept.empty());
  EXPECT_NE(said.find(kept), std::string::npos) << said;
  EXPECT_EQ(ReadFile(kept), "m_nThreadNumber=9\r\nm_bAutoRun=0\r\n");
  EXPECT_EQ(dlg->Dir().Settings().m_aVerifySources.size(), 11u);
  EXPECT_NE(ReadFile(data.File("Setting.dat")).find("m_nThreadNumber=9"), std::string::npos);
  dlg->StartUp();
  EXPECT_EQ(dlg->Welcome(), nullptr);
}

// What a person sees on a first start, in both languages, rendered under the build
// directory (screenshots/zh-first-start.png, en-first-start.png).
TEST_F(FirstStart, TheWelcomeIsRenderedInBothLanguages) {
  const QString dir = QStringLiteral(QB_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  for (const UiLanguage language : {UiLanguage::Chinese, UiLanguage::English}) {
    const CLanguageCatalogues catalogues(language);
    TempDir fresh;
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    qbtest::TestWindow dlg = qbtest::OpenTestWindow(fresh.Path(), config.File("q.INI"), std::move(o));
    dlg->StartUp();
    CFirstStartDlg* welcome = dlg->Welcome();
    ASSERT_NE(welcome, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(welcome));
    // Every line fits: the welcome is as wide as its longest step wants.
    for (const QLabel* l : welcome->findChildren<QLabel*>())
      EXPECT_LE(l->geometry().right(), welcome->width()) << l->text().toStdString();
    const QImage shot = welcome->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(dir + "/" + QString::fromLatin1(LanguageCode(language)) + "-first-start.png"));
  }
}

}  // namespace
