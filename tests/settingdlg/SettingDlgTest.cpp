#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>
#include <map>

#include "base/Files.h"
#include "base/Language.h"
#include "settingdlg/SettingDlgFixture.h"
#include "settings/AutoRun.h"
#include "sysproxy/ProxyAutoConfig.h"
#include "ui/DialogUnits.h"
#include "ui/SpinButtonCtrl.h"

using namespace qb;

using namespace settingdlgtest;
using qbtest::ReadFile;
using qbtest::WriteFile;

namespace {

struct Rect {
  int id, x, y, w, h;
};

// Every control with an id, in creation (tab) order, at its dialog-unit rectangle.
const Rect kLayout[] = {
    {1064, 210, 171, 212, 14}, {1063, 210, 187, 150, 14}, {1065, 210, 203, 141, 14},
    {1027, 226, 219, 120, 14}, {1032, 17, 39, 347, 98},   {1034, 371, 44, 47, 13},
    {1041, 371, 60, 47, 13},   {1039, 371, 76, 47, 13},   {1042, 371, 103, 47, 13},
    {1043, 371, 119, 47, 13},  {1012, 72, 21, 25, 12},    {1016, 187, 21, 25, 12},
    {1018, 299, 21, 25, 12},   {1020, 14, 162, 87, 14},   {1021, 14, 177, 121, 14},
    {1046, 14, 207, 120, 14},  {1, 123, 286, 77, 15},     {2, 233, 286, 77, 15},
    {1059, 14, 222, 84, 14},   {1067, 100, 163, 28, 12},  {1017, 117, 163, 11, 12},
    {1047, 14, 192, 120, 14},
};

TEST_F(SettingDialog, ControlsStandAtTheirPlacesInTabOrderWithTheFieldsShown) {
  const double savedScale = g_dColumnScale;
  g_dColumnScale = 1.5;
  settings.m_nConTimeout = 7;
  settings.m_nVerifyTimeout = 21;
  settings.m_nThreadNumber = 64;
  settings.m_nFavorites = 9;
  settings.m_bAutoAddToFavorite = 0;
  settings.m_bAutoTimingVerify = 1;
  settings.m_bAmbiguous = 1;
  settings.m_bAutoRun = 0;
  settings.m_bMinimize = 1;
  settings.m_nAutoProxyConfig = kAutoProxyDefaultScript;
  auto dlg = Open();
  g_dColumnScale = savedScale;

  EXPECT_EQ(dlg->windowTitle(), "参数设置");
  EXPECT_EQ(dlg->size(), qb::DluToPixels(dlg->font(), 0, 0, 435, 313).size());
  EXPECT_FALSE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(dlg->windowFlags() & Qt::WindowSystemMenuHint);
  for (const Rect& r : kLayout) {
    QWidget* w = Control<QWidget>(*dlg, r.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), qb::DluToPixels(dlg->font(), r.x, r.y, r.w, r.h)) << r.id;
    // Nothing (a group box above all) lies over a control and takes its clicks.
    QWidget* hit = dlg->childAt(w->geometry().center());
    EXPECT_TRUE(hit == w || w->isAncestorOf(hit)) << r.id;
  }

  // Tab walks the controls in creation order; labels, frames and the arrows are skipped.
  std::vector<int> order;
  QWidget* w = Control<QWidget>(*dlg, 1064);
  for (int i = 0; i < 500 && w; ++i, w = w->nextInFocusChain()) {
    bool isId = false;
    const int id = w->objectName().toInt(&isId);
    if (!isId || !(w->focusPolicy() & Qt::TabFocus)) continue;
    if (!order.empty() && id == order.front()) break;
    order.push_back(id);
  }
  EXPECT_EQ(order, (std::vector<int>{1064, 1063, 1065, 1027, 1032, 1034, 1041, 1039, 1042, 1043, 1012,
                                     1016, 1018, 1020, 1021, 1046, 1,    2,    1059, 1067, 1047}));

  EXPECT_EQ(Control<QLineEdit>(*dlg, 1012)->text(), "7");
  EXPECT_EQ(Control<QLineEdit>(*dlg, 1016)->text(), "21");
  EXPECT_EQ(Control<QLineEdit>(*dlg, 1018)->text(), "64");
  EXPECT_EQ(Control<QLineEdit>(*dlg, 1067)->text(), "9");
  EXPECT_FALSE(Control<QCheckBox>(*dlg, 1020)->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*dlg, 1021)->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*dlg, 1047)->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(*dlg, 1046)->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*dlg, 1059)->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(*dlg, 1064)->isChecked());
  EXPECT_TRUE(Control<QRadioButton>(*dlg, 1063)->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(*dlg, 1065)->isChecked());
  EXPECT_EQ(Control<QCheckBox>(*dlg, 1020)->text(), "自动选择速度最快的");
  EXPECT_EQ(Control<QAbstractButton>(*dlg, 1)->text(), "确认");
  EXPECT_EQ(Control<QAbstractButton>(*dlg, 2)->text(), "取消");

  QTableView* view = dlg->SourceView();
  ASSERT_EQ(view->model()->rowCount(), 4);
  EXPECT_EQ(view->model()->index(2, 1).data().toString(), "ftp://127.0.0.1:9");
  EXPECT_EQ(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(view->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "[验证]资源名称");
  EXPECT_EQ(view->columnWidth(0), static_cast<int>(137 * 1.5));
  EXPECT_EQ(view->columnWidth(1), static_cast<int>(218 * 1.5));
  EXPECT_EQ(view->columnWidth(2), static_cast<int>(146 * 1.5));
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
  // Opening records the ticks that Cancel returns to.
  EXPECT_EQ(settings.m_nCheckedHttpIndex, 0);
  EXPECT_EQ(settings.m_nCheckedFtpIndex, 2);
  EXPECT_EQ(dlg->FavoritesSpin()->Lower(), 1);
  EXPECT_EQ(dlg->FavoritesSpin()->Upper(), 15);
  EXPECT_EQ(dlg->FavoritesSpin()->GetBuddy(), Control<QLineEdit>(*dlg, 1067));
}

// The four number fields with their limits and messages, in the order OK checks them.
struct NumberField {
  int id;
  int high;
  const char* message;
  int CSettings::*field;
};
const NumberField kNumbers[] = {
    {1012, 15, "连接超时时间应在1~15！", &CSettings::m_nConTimeout},
    {1016, 30, "验证超时时间应在1~30！", &CSettings::m_nVerifyTimeout},
    {1018, 100, "验证线程数目应在1~100！", &CSettings::m_nThreadNumber},
    {1067, 15, "常用代理数目应在1~15！", &CSettings::m_nFavorites},
};

TEST_F(SettingDialog, EachNumberIsAcceptedUpToItsLimitAndRefusedBeyondIt) {
  for (const NumberField& f : kNumbers) {
    for (const QString& text : {QString::number(f.high), QString("1")}) {
      auto dlg = Open();
      SetText(*dlg, f.id, text);
      Click(*dlg, 1);
      EXPECT_EQ(dlg->result(), QDialog::Accepted) << f.id << " " << text.toStdString();
      EXPECT_EQ(settings.*f.field, text.toInt()) << f.id;
    }
  }
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(g_nConnectTimeoutMs, 1000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 1000);

  for (const NumberField& f : kNumbers) {
    for (const QString& text : {QString::number(f.high + 1), QString("0"), QString()}) {
      prompt.messages.clear();
      const int before = settings.*f.field;
      auto dlg = Open();
      ShowActive(*dlg);
      SetText(*dlg, f.id, text);
      Click(*dlg, 1);
      EXPECT_TRUE(dlg->isVisible()) << f.id << " '" << text.toStdString() << "'";
      ASSERT_EQ(prompt.messages.size(), 1u);
      EXPECT_EQ(prompt.messages[0].text, f.message);
      EXPECT_EQ(prompt.messages[0].caption, "数值范围不对");
      EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
      EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(*dlg, f.id));
      EXPECT_EQ(settings.*f.field, before);
    }
  }
}

TEST_F(SettingDialog, OnlyTheFirstFieldOutOfRangeIsReportedAndNothingIsApplied) {
  const std::string before = FormatSettingsFile(settings);
  auto dlg = Open();
  ShowActive(*dlg);
  SetText(*dlg, 1016, "31");
  SetText(*dlg, 1018, "0");
  SetText(*dlg, 1067, "16");
  Control<QCheckBox>(*dlg, 1059)->setChecked(false);
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "验证超时时间应在1~30！");
  EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(*dlg, 1016));

  SetText(*dlg, 1012, "99");
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "连接超时时间应在1~15！");
  EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(*dlg, 1012));

  SetText(*dlg, 1012, "3");
  SetText(*dlg, 1016, "3");
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 3u);
  EXPECT_EQ(prompt.messages[2].text, "验证线程数目应在1~100！");

  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(FormatSettingsFile(settings), before);
  EXPECT_TRUE(recorder->calls.empty());
  EXPECT_FALSE(Saved());
  EXPECT_FALSE(qb::FileExists(AutostartFile()));
  EXPECT_EQ(g_nConnectTimeoutMs, savedConnect);
}

// Text after the digits used to pass the range check and then stop the conversion
// half-way, after which the half-taken values were applied and saved all the same.
TEST_F(SettingDialog, NumberEditsTakeOnlyDigitsAndATextThatIsNoNumberStopsEverything) {
  auto dlg = Open();
  ShowActive(*dlg);
  QLineEdit* con = Control<QLineEdit>(*dlg, 1012);
  con->clear();
  QTest::keyClicks(con, "7x 1");
  EXPECT_EQ(con->text(), "71");
  QApplication::clipboard()->setText("12abc");
  QLineEdit* threads = Control<QLineEdit>(*dlg, 1018);
  threads->selectAll();
  QTest::keyClick(threads, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(threads->text(), "50");

  // A value that reaches the edit some other way is refused as a whole.
  SetText(*dlg, 1012, "9");
  SetText(*dlg, 1018, "12abc");
  Control<QCheckBox>(*dlg, 1046)->setChecked(false);
  const std::string before = FormatSettingsFile(settings);
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "验证线程数目应在1~100！");
  EXPECT_EQ(QApplication::focusWidget(), threads);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(FormatSettingsFile(settings), before);
  EXPECT_EQ(settings.m_nConTimeout, 5);
  EXPECT_EQ(g_nConnectTimeoutMs, savedConnect);
  EXPECT_TRUE(recorder->calls.empty());
  EXPECT_FALSE(Saved());

  // So is a number too long for any setting.
  SetText(*dlg, 1018, "99999999999999999999");
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "验证线程数目应在1~100！");
  EXPECT_FALSE(Saved());
}

TEST_F(SettingDialog, OkWithNothingChangedStillReappliesTheProxyAutorunAndFile) {
  settings.m_bAutoRun = 1;
  WriteFile(data.File("Setting.dat"), "stale\r\n");
  auto dlg = Open();
  QSignalSpy status(dlg.get(), &CSettingDlg::StatusLineChanged);
  Click(*dlg, 1);

  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ReadFile(data.File("Setting.dat")), FormatSettingsFile(settings));
  EXPECT_NE(ReadFile(data.File("Setting.dat")).find("m_nThreadNumber=50\r\n"), std::string::npos);
  const std::string entry = ReadFile(AutostartFile());
  EXPECT_NE(entry.find("Exec=" + DesktopExecValue(ExecutablePath())), std::string::npos) << entry;

  // The desktop's proxy was read and written back to the LAN under mode 0.
  const auto writes = recorder->CallsOf(CRecordingProxyPlatform::CallKind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].connection, "");
  EXPECT_EQ(writes[0].settings.server, "127.0.0.1:3128");
  EXPECT_EQ(writes[0].settings.flags, kProxyTypeDirect | kProxyTypeProxy);
  EXPECT_FALSE(recorder->CallsOf(CRecordingProxyPlatform::CallKind::Query).empty());
  EXPECT_EQ(recorder->CallsOf(CRecordingProxyPlatform::CallKind::Announce).size(), 1u);
  EXPECT_EQ(status.count(), 1);
  EXPECT_EQ(g_nConnectTimeoutMs, 5000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 25000);

  // Turning autorun off removes the entry.
  auto again = Open();
  Control<QCheckBox>(*again, 1046)->setChecked(false);
  Click(*again, 1);
  EXPECT_EQ(settings.m_bAutoRun, 0);
  EXPECT_FALSE(qb::FileExists(AutostartFile()));
  EXPECT_NE(ReadFile(data.File("Setting.dat")).find("m_bAutoRun=0\r\n"), std::string::npos);
}

TEST_F(SettingDialog, ChoosingTheUserScriptSwitchesTheSystemProxyAtOnce) {
  WriteFile(data.File("UserdefinedTemplate.pac"),
            "function FindProxyForURL(url, host) { return \"MyProxy\"; }\r\n");
  auto dlg = Open();
  QTest::mouseClick(Control<QRadioButton>(*dlg, 1065), Qt::LeftButton);
  Click(*dlg, 1);

  EXPECT_EQ(settings.m_nAutoProxyConfig, kAutoProxyUserScript);
  EXPECT_EQ(sysProxy->AutoProxyConfig(), kAutoProxyUserScript);
  const auto writes = recorder->CallsOf(CRecordingProxyPlatform::CallKind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].settings.flags, kProxyTypeAutoProxyUrl);
  EXPECT_EQ(writes[0].settings.autoConfigUrl, PacDataUrl(ReadFile(data.File("proxy.pac"))));
  EXPECT_EQ(ReadFile(data.File("proxy.pac")),
            "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:3128\"; }\r\n");
  EXPECT_NE(ReadFile(data.File("Setting.dat")).find("m_nAutoProxyConfig=2\r\n"), std::string::npos);
}

TEST_F(SettingDialog, FailoverAppliesOnlyToTheScriptModesTheChoiceToAllAndBothReachTheSystemProxyOnOk) {
  settings.m_nAutoProxyConfig = kAutoProxyDirect;
  sysProxy->SetScriptOptions({.failover = false, .allowDirect = true});
  sysProxy->SetFavoritesSource([] { return std::vector<std::string>{"127.0.0.2:8080@HTTP"}; });
  auto dlg = Open();
  auto* failover = dlg->findChild<QCheckBox*>("ScriptFailover");
  auto* allowDirect = dlg->findChild<QCheckBox*>("ScriptAllowDirect");
  ASSERT_TRUE(failover && allowDirect);
  EXPECT_FALSE(failover->isChecked());
  EXPECT_TRUE(allowDirect->isChecked());
  EXPECT_FALSE(failover->isEnabled());
  // Going direct or blocking also decides the endpoint and the exit: open in every mode.
  EXPECT_TRUE(allowDirect->isEnabled());
  QTest::mouseClick(Control<QRadioButton>(*dlg, 1063), Qt::LeftButton);
  EXPECT_TRUE(failover->isEnabled());
  EXPECT_TRUE(allowDirect->isEnabled());
  QTest::mouseClick(failover, Qt::LeftButton);
  EXPECT_TRUE(allowDirect->isEnabled());
  QTest::mouseClick(allowDirect, Qt::LeftButton);
  Click(*dlg, 1);

  const ScriptOptions chosen{.failover = true, .allowDirect = false};
  EXPECT_EQ(dlg->ChosenScriptOptions(), chosen);
  EXPECT_EQ(sysProxy->GetScriptOptions(), chosen);
  // Re-applied at once under the new options: the chain without DIRECT.
  EXPECT_NE(ReadFile(data.File("proxy.pac")).find("\"PROXY 127.0.0.1:3128; PROXY 127.0.0.2:8080\""),
            std::string::npos)
      << ReadFile(data.File("proxy.pac"));
}

TEST_F(SettingDialog, CancelKeepsTheSettingsAndPutsTheTicksBack) {
  const std::string before = FormatSettingsFile(settings);
  {
    auto dlg = Open();
    ShowActive(*dlg);
    SetText(*dlg, 1012, "9");
    Control<QCheckBox>(*dlg, 1020)->setChecked(false);
    QTest::mouseClick(Control<QRadioButton>(*dlg, 1063), Qt::LeftButton);
    QTableView* view = dlg->SourceView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 2));
    ASSERT_EQ(Ticks(), (std::vector<int>{0, 1, 0, 0}));
    // The ticks take effect for verification before the dialog closes.
    EXPECT_EQ(GetCheckedVerifySources(settings).httpUrl, "http://127.0.0.1:9/b.html");
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_FALSE(dlg->isVisible());
  }
  EXPECT_EQ(FormatSettingsFile(settings), before);
  EXPECT_EQ(Ticks(), (std::vector<int>{1, 0, 1, 0}));
  EXPECT_TRUE(recorder->calls.empty());
  EXPECT_FALSE(Saved());

  auto reopened = Open();
  EXPECT_EQ(Control<QLineEdit>(*reopened, 1012)->text(), "5");
  EXPECT_TRUE(Control<QCheckBox>(*reopened, 1020)->isChecked());
  EXPECT_TRUE(Control<QRadioButton>(*reopened, 1064)->isChecked());
  EXPECT_EQ(reopened->SourceView()->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);

  // The button does the same as Esc.
  QTest::mouseClick(reopened->SourceView()->viewport(), Qt::LeftButton, {},
                    CheckBoxCentre(reopened->SourceView(), 3));
  ASSERT_EQ(Ticks(), (std::vector<int>{1, 0, 0, 1}));
  Click(*reopened, 2);
  EXPECT_EQ(reopened->result(), QDialog::Rejected);
  EXPECT_EQ(Ticks(), (std::vector<int>{1, 0, 1, 0}));
}

TEST_F(SettingDialog, AModeOrSwitchTheDialogCannotShowFromTheFile) {
  WriteFile(data.File("Setting.dat"),
            "本地@http://127.0.0.1:9/a.html%Alpha$1\r\n"
            "m_nAutoProxyConfig=7\r\nm_bMinimize=5\r\nm_bAmbiguous=2\r\nm_nFavorites=-1\r\n");
  const auto loadedDir = qbtest::OpenTestDir(data.Path());
  ASSERT_TRUE(loadedDir->LoadSettings());
  CSettings& loaded = loadedDir->Settings();
  ASSERT_EQ(loaded.m_nAutoProxyConfig, 7);
  {
    CSettingDlg dlg(*loadedDir, *sysProxy);
    for (int id : {1064, 1063, 1065}) EXPECT_FALSE(Control<QRadioButton>(dlg, id)->isChecked()) << id;
    EXPECT_FALSE(Control<QCheckBox>(dlg, 1059)->isChecked());
    EXPECT_EQ(loaded.m_bMinimize, 0);
    EXPECT_TRUE(Control<QCheckBox>(dlg, 1047)->isChecked());
    // The count is shown unsigned, and refused until the user mends it.
    EXPECT_EQ(Control<QLineEdit>(dlg, 1067)->text(), "4294967295");
    Click(dlg, 1);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "常用代理数目应在1~15！");
    SetText(dlg, 1067, "6");
    Click(dlg, 1);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  EXPECT_EQ(loaded.m_nAutoProxyConfig, -1);
  EXPECT_EQ(loaded.m_bAmbiguous, 1);
  EXPECT_NE(ReadFile(data.File("Setting.dat")).find("m_nAutoProxyConfig=-1\r\n"), std::string::npos);
  // No mode of the three: the script the browsers are pointed at sends everything direct.
  EXPECT_EQ(ReadFile(data.File("proxy.pac")), "");
}

TEST_F(SettingDialog, TheSpinStepsTheCountBetweenOneAndFifteen) {
  auto dlg = Open();
  ShowActive(*dlg);
  QLineEdit* count = Control<QLineEdit>(*dlg, 1067);
  CSpinButtonCtrl* spin = dlg->FavoritesSpin();
  QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
  EXPECT_EQ(count->text(), "7");
  count->setText("15");
  QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
  EXPECT_EQ(count->text(), "15");
  count->setText("2");
  QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
  QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
  EXPECT_EQ(count->text(), "1");
  count->setFocus();
  QTest::keyClick(count, Qt::Key_Up);
  QTest::keyClick(count, Qt::Key_Up);
  EXPECT_EQ(count->text(), "3");
  QTest::keyClick(count, Qt::Key_Down);
  EXPECT_EQ(count->text(), "2");
  // Out of range or empty, the first step lands inside.
  count->setText("40");
  QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
  EXPECT_EQ(count->text(), "14");
  count->clear();
  QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
  EXPECT_EQ(count->text(), "2");

  // A typed 16 gets past the arrows but not past OK.
  count->selectAll();
  QTest::keyClicks(count, "16");
  Click(*dlg, 1);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "常用代理数目应在1~15！");
  count->setText("12");
  Click(*dlg, 1);
  EXPECT_EQ(settings.m_nFavorites, 12);
}

TEST_F(SettingDialog, TheTemplateButtonOpensTheTemplateWritingAnExampleFirst) {
  auto dlg = Open();
  Click(*dlg, 1027);
  ASSERT_EQ(opened.size(), 1u);
  const std::string path = data.File("UserdefinedTemplate.pac");
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(path)));
  const std::string example = ReadFile(path);
  EXPECT_NE(example.find("FindProxyForURL(url, host)\r\n"), std::string::npos);
  // The example is a working template: the proxy lands in its return statement.
  const std::string script = BuildTemplatePacScript(example, PacRoutesFor("10.1.2.3:8080", "HTTP"));
  EXPECT_NE(script.find("return \"PROXY 10.1.2.3:8080\";"), std::string::npos) << script;

  // A template of the user's own is opened as it is.
  WriteFile(path, "mine\n");
  Click(*dlg, 1027);
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(ReadFile(path), "mine\n");
  EXPECT_TRUE(prompt.messages.empty());
}

}  // namespace

namespace {

// No program opens the template: the user is told where it is and may take its path.
TEST_F(SettingDialog, ATemplateNothingCanOpenIsNamedAndItsPathOffered) {
  auto dlg = Open();
  dlg->SetUrlOpener([](const QUrl&) { return false; });
  prompt.answers.push_back(qb::MsgResult::Yes);
  dlg->EditPacTemplate();
  const QString path =
      QFileInfo(QString::fromStdString(data.File("UserdefinedTemplate.pac"))).absoluteFilePath();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "编辑模板");
  EXPECT_NE(prompt.messages[0].text.find(path.toStdString()), std::string::npos) << prompt.messages[0].text;
  EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
  EXPECT_TRUE(QFileInfo::exists(path));  // the example is there to edit

  // Opened: nothing to say.
  dlg->SetUrlOpener([](const QUrl&) { return true; });
  dlg->EditPacTemplate();
  EXPECT_EQ(prompt.messages.size(), 1u);
}

}  // namespace

namespace {

// A user may make the dialog larger: the resource list takes the room, the buttons
// beside it keep to the right edge, what is below keeps to the bottom; nothing
// leaves the dialog or lies over the list.
TEST_F(SettingDialog, TheDialogGrowsAroundItsResourceList) {
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  const QSize base = dlg->size();
  EXPECT_EQ(dlg->minimumSize(), base);
  std::map<int, QRect> before;
  for (const Rect& r : kLayout) before[r.id] = Control<QWidget>(*dlg, r.id)->geometry();

  dlg->resize(base + QSize(200, 150));
  QCoreApplication::processEvents();
  QWidget* list = Control<QWidget>(*dlg, 1032);
  EXPECT_EQ(list->size(), before[1032].size() + QSize(200, 150));
  EXPECT_EQ(Control<QWidget>(*dlg, 1034)->geometry(), before[1034].translated(200, 0));
  EXPECT_EQ(Control<QWidget>(*dlg, 1)->geometry(), before[1].translated(0, 150));
  EXPECT_EQ(Control<QWidget>(*dlg, 2)->geometry(), before[2].translated(0, 150));
  for (const Rect& r : kLayout) {
    const QRect g = Control<QWidget>(*dlg, r.id)->geometry();
    EXPECT_TRUE(dlg->rect().contains(g)) << r.id;
    if (r.id != 1032) EXPECT_FALSE(g.intersects(list->geometry())) << r.id;
  }
}

}  // namespace

namespace {

// The language is the program's own setting, in the user's configuration: never in
// Setting.dat, and in force from the next start, which the dialog says.
TEST_F(SettingDialog, TheLanguageIsChosenForTheNextStart) {
  auto language = [](QWidget& dlg) { return dlg.findChild<QComboBox*>("Language"); };
  const std::string ini = config.File("Quillberry/interface.ini");
  {
    auto dlg = Open();
    ASSERT_NE(language(*dlg), nullptr);
    EXPECT_EQ(language(*dlg)->currentIndex(), 0);  // the locale's
    language(*dlg)->setCurrentIndex(language(*dlg)->findData("en"));
    Click(*dlg, 1);
  }
  EXPECT_EQ(LanguageSetting(), "en");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, kMsgLanguageNextStart);
  EXPECT_EQ(qbtest::ReadFile(data.File("Setting.dat")).find("en"), std::string::npos);
  {
    // Shown as chosen; OK without a change says nothing.
    auto dlg = Open();
    EXPECT_EQ(language(*dlg)->currentData().toString(), "en");
    Click(*dlg, 1);
  }
  EXPECT_EQ(prompt.messages.size(), 1u);
  {
    auto dlg = Open();
    language(*dlg)->setCurrentIndex(0);
    Click(*dlg, 2);  // Cancel keeps the choice
  }
  EXPECT_EQ(LanguageSetting(), "en");
  {
    auto dlg = Open();
    language(*dlg)->setCurrentIndex(0);
    Click(*dlg, 1);
  }
  EXPECT_EQ(LanguageSetting(), std::nullopt);
  EXPECT_EQ(qbtest::ReadFile(ini).find("language"), std::string::npos);
}

}  // namespace

namespace {

// The local endpoint's row: a bad address is refused before anything is taken, one
// that opens the proxies to the network is asked about, and OK hands the choice back.
TEST_F(SettingDialog, TheEndpointsAddressIsCheckedAndANetworkAddressIsAskedAbout) {
  auto dlg = Open();
  // Beside it, the location databases: where they go, the data directory named.
  QTest::mouseClick(dlg->findChild<QPushButton*>("GeoDatabases"), Qt::LeftButton);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, std::string(kMsgGeoDatabases) + "\n" + data.Path());
  EndpointOptions shown;
  shown.listen = "127.0.0.1:8899";
  dlg->SetEndpointOptions(shown);
  auto* enabled = dlg->findChild<QCheckBox*>("EndpointEnabled");
  auto* listen = dlg->findChild<QLineEdit*>("EndpointListen");
  auto* policy = dlg->findChild<QComboBox*>("EndpointPolicy");
  ASSERT_TRUE(enabled && listen && policy);
  EXPECT_FALSE(enabled->isChecked());
  EXPECT_EQ(listen->text(), "127.0.0.1:8899");

  enabled->setChecked(true);
  listen->setText("127.0.0.1:99999");
  Click(*dlg, 1);
  EXPECT_FALSE(dlg->result() == QDialog::Accepted);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back().text, kMsgEndpointAddress);
  EXPECT_FALSE(dlg->ChosenEndpointOptions().enabled);

  listen->setText("0.0.0.0:3128");
  prompt.answers.push_back(qb::MsgResult::No);
  Click(*dlg, 1);
  EXPECT_EQ(prompt.messages.back().text, kMsgEndpointNotLoopback);
  EXPECT_FALSE(dlg->result() == QDialog::Accepted);

  prompt.answers.push_back(qb::MsgResult::Yes);
  policy->setCurrentIndex(1);
  Click(*dlg, 1);
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  const EndpointOptions& chosen = dlg->ChosenEndpointOptions();
  EXPECT_TRUE(chosen.enabled);
  EXPECT_EQ(chosen.listen, "0.0.0.0:3128");
  EXPECT_EQ(chosen.policy, EndpointPolicy::RoundRobin);
}

}  // namespace
