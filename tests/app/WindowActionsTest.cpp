// The window's commands by name: every button of the layout, every item of its menus
// and every key of its lists runs an action of the window's registry, and one action
// locks its button, its menu item and its key together.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <string>

#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "app/WindowActions.h"
#include "settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/ActionRegistry.h"
#include "ui/OwnerDrawMenu.h"
#include "ui/SortListCtrl.h"
#include "verify/VerifyControl.h"

using namespace qb;

using qbtest::ScriptedPrompt;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

class WindowActions : public ::testing::Test {
 protected:
  void SetUp() override {
    m_connect = g_nConnectTimeoutMs;
    m_verify = g_nVerifyTimeoutMs;
    // A proxy that takes the connection and never answers: a run over it stays
    // running until its time-out, long enough to look at the window meanwhile.
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const std::string proxy = "127.0.0.1:" + std::to_string(silent.serverPort());
    WriteFile(data.File("Proxies.pro"), proxy + "@HTTP$未验证#one\r\n" + proxy + "@HTTPS$未验证#two\r\n");
    WriteFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_nThreadNumber=2\r\nm_nConTimeout=2\r\nm_nVerifyTimeout=2\r\n"
              "m_bAutoTimingVerify=0\r\nm_bMinimize=0\r\nm_bAutoRun=0\r\n");
  }
  void TearDown() override {
    dlg.reset();
    EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
    g_nConnectTimeoutMs = m_connect;
    g_nVerifyTimeoutMs = m_verify;
  }

  void Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    dlg = qbtest::OpenTestWindow(data.Path(), config.File("quillberry-test.INI"), std::move(o));
  }
  ActionRegistry& Actions() const { return dlg->Actions(); }
  QAction* MenuItem(int command) const { return dlg->ContextMenu()->ItemOfCommand(command); }
  int DeleteQuestions() const {
    int n = 0;
    for (const auto& m : prompt.messages) n += m.caption == "删除选定" ? 1 : 0;
    return n;
  }

  QTcpServer silent;
  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  ScriptedPrompt prompt;
  qbtest::TestWindow dlg;

 private:
  int m_connect = 0, m_verify = 0;
};

TEST_F(WindowActions, EveryButtonOfTheLayoutRunsARegisteredAction) {
  Open();
  int buttons = 0;
  for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
    bool byId = false;
    const int id = b->objectName().toInt(&byId);
    if (!byId) continue;
    EXPECT_EQ(dlg->Button(id), b) << id;
    const QString action = Actions().ActionOf(b);
    // The dialog's OK button is never shown and runs nothing.
    if (id == 1) {
      EXPECT_TRUE(action.isEmpty());
      continue;
    }
    ++buttons;
    EXPECT_FALSE(action.isEmpty()) << id;
    EXPECT_TRUE(Actions().Contains(action)) << id << " " << action.toStdString();
  }
  EXPECT_EQ(buttons, 16);
  // Each button a command of its own.
  QStringList bound;
  for (int id :
       {1045, 1002, 1009, 1011, 1034, 1041, 1039, 1044, 1042, 1046, 1043, 1049, 1050, 1027, 1028, 1029})
    bound << Actions().ActionOf(dlg->Button(id));
  bound.removeDuplicates();
  EXPECT_EQ(bound.size(), 16);

  // A click runs the button's action: export with nothing selected says so.
  QSignalSpy exported(Actions().Action("export-selected"), &QAction::triggered);
  dlg->Button(1043)->click();
  EXPECT_EQ(exported.count(), 1);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "导出选定");
}

TEST_F(WindowActions, EveryCommandOfTheMenusNamesARegisteredAction) {
  Open();
  ASSERT_NE(dlg->ContextMenu(), nullptr);
  int items = 0;
  for (QAction* item : dlg->ContextMenu()->actions()) {
    if (item->isSeparator()) continue;
    ++items;
    const int command = dlg->ContextMenu()->CommandOf(item);
    EXPECT_TRUE(Actions().Contains(ActionOfMenuCommand(command))) << command;
  }
  EXPECT_EQ(items, 6);

  // The tray's menu (from the menu button, as there is no tray here): every command
  // but the head and the favourites, which carry rows.
  dlg->Dir().List().SetFavorite(0, true);
  OwnerDrawMenu* tray = dlg->Tray().ShowTrayMenu(QPoint(0, 0));
  ASSERT_NE(tray, nullptr);
  int commands = 0;
  for (QAction* item : tray->actions()) {
    const int command = tray->CommandOf(item);
    if (item->isSeparator() || command == ID_TRAY_HEAD || command == ID_FAVORITE_FIRST) continue;
    ++commands;
    EXPECT_TRUE(Actions().Contains(ActionOfMenuCommand(command))) << command;
  }
  EXPECT_EQ(commands, 6);  // about, exit, show, cancel, the endpoint's two
  tray->hide();
}

TEST_F(WindowActions, TheTraysCommandsRunTheWindowsActionsAndFollowThem) {
  Open();
  QSignalSpy cancelled(Actions().Action("cancel-system-proxy"), &QAction::triggered);
  dlg->Tray().OnTrayCommand(ID_CANCEL_IE_PROXY, {});
  EXPECT_EQ(cancelled.count(), 1);
  // The head item names nothing.
  dlg->Tray().OnTrayCommand(ID_TRAY_HEAD, {});
  EXPECT_EQ(cancelled.count(), 1);

  QSignalSpy shown(Actions().Action("show-window"), &QAction::triggered);
  dlg->Tray().OnTrayNotify(QSystemTrayIcon::Trigger);
  EXPECT_EQ(shown.count(), 1);
  EXPECT_TRUE(dlg->isVisible());

  Actions().SetEnabled("exit", false);
  OwnerDrawMenu* tray = dlg->Tray().ShowTrayMenu(QPoint(0, 0));
  ASSERT_NE(tray, nullptr);
  EXPECT_FALSE(tray->ItemOfCommand(ID_TRAY_EXIT)->isEnabled());
  EXPECT_TRUE(tray->ItemOfCommand(ID_APP_ABOUT)->isEnabled());
  Actions().SetEnabled("exit", true);
  EXPECT_TRUE(tray->ItemOfCommand(ID_TRAY_EXIT)->isEnabled());
  tray->hide();
}

TEST_F(WindowActions, AContextItemRunsItsActionOnceTheMenuHasClosed) {
  Open();
  QSignalSpy selected(Actions().Action("select-all"), &QAction::triggered);
  MenuItem(32791)->trigger();
  EXPECT_EQ(selected.count(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(selected.count(), 1);
  EXPECT_EQ(dlg->Dir().List().SelectedCount(), 2);
}

// The example of a run: delete-selected is locked, and with it its button, its item in
// the list's menu and the Delete key; F5 starts nothing and stops nothing; the run's
// button is the stop.
TEST_F(WindowActions, ARunLocksTheButtonTheMenuItemAndTheKeyOfAnActionTogether) {
  Open();
  QWidget* list = dlg->ListView();
  dlg->Dir().List().SelectRow(0);
  EXPECT_TRUE(dlg->Button(1039)->isEnabled());
  EXPECT_TRUE(MenuItem(1039)->isEnabled());
  QTest::keyClick(list, Qt::Key_Delete);  // asks; No keeps the row
  EXPECT_EQ(DeleteQuestions(), 1);

  dlg->Button(1045)->click();
  ASSERT_EQ(dlg->Verifier().State(), RunState::Running);
  EXPECT_FALSE(Actions().IsEnabled("delete-selected"));
  EXPECT_FALSE(dlg->Button(1039)->isEnabled());
  EXPECT_FALSE(MenuItem(1039)->isEnabled());
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(DeleteQuestions(), 1);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 2);
  // What changes the list is locked with it; what does not stays.
  for (int command : {1041, 1002}) EXPECT_FALSE(MenuItem(command)->isEnabled()) << command;
  for (int command : {32771, 1009, 32791}) EXPECT_TRUE(MenuItem(command)->isEnabled()) << command;

  EXPECT_EQ(Actions().ActionOf(dlg->Button(1045)), "stop-verify");
  EXPECT_EQ(Actions().ActionOf(dlg->Button(1002)), "verify-selected");
  QTest::keyClick(list, Qt::Key_F5);
  EXPECT_EQ(dlg->Verifier().State(), RunState::Running);

  dlg->Button(1045)->click();
  EXPECT_EQ(dlg->Verifier().State(), RunState::Stopping);
  EXPECT_FALSE(dlg->Button(1045)->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Verifier().IsIdle(); }, 15000));

  EXPECT_EQ(Actions().ActionOf(dlg->Button(1045)), "verify-all");
  EXPECT_TRUE(dlg->Button(1039)->isEnabled());
  EXPECT_TRUE(MenuItem(1039)->isEnabled());
  EXPECT_TRUE(MenuItem(1002)->isEnabled());
  dlg->Dir().List().SelectRow(0);
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(DeleteQuestions(), 2);
}

// A button locked directly (by whatever code holds it) locks its command everywhere.
TEST_F(WindowActions, AButtonLockedDirectlyLocksItsMenuItemAndItsKey) {
  Open();
  dlg->Dir().List().SelectRow(0);
  dlg->Button(1039)->setEnabled(false);
  EXPECT_FALSE(MenuItem(1039)->isEnabled());
  QTest::keyClick(dlg->ListView(), Qt::Key_Delete);
  EXPECT_EQ(DeleteQuestions(), 0);
  dlg->Button(1039)->setEnabled(true);
  EXPECT_TRUE(MenuItem(1039)->isEnabled());
  QTest::keyClick(dlg->ListView(), Qt::Key_Delete);
  EXPECT_EQ(DeleteQuestions(), 1);
}

// What a run and a download lock, state by state.
TEST(WindowActionStates, ARunAndADownloadLockWhatTheyMust) {
  QObject owner;
  ActionRegistry actions;
  for (const char* name :
       {"verify-all", "verify-selected", "stop-verify", "settings", "add-proxy", "modify-selected",
        "delete-selected", "clean", "import", "paste", "download-sources", "export-selected"})
    actions.Add(QString::fromLatin1(name), &owner, [] {});
  const auto enabled = [&](const char* name) { return actions.IsEnabled(QString::fromLatin1(name)); };

  EnableForState(actions, RunState::Running, false);
  EXPECT_FALSE(enabled("verify-all"));
  EXPECT_FALSE(enabled("verify-selected"));
  EXPECT_TRUE(enabled("stop-verify"));
  for (const char* name : {"settings", "add-proxy", "modify-selected", "delete-selected", "clean", "import",
                           "paste", "download-sources"})
    EXPECT_FALSE(enabled(name)) << name;
  EXPECT_TRUE(enabled("export-selected"));

  EnableForState(actions, RunState::Stopping, false);
  EXPECT_FALSE(enabled("stop-verify"));
  EXPECT_FALSE(enabled("delete-selected"));

  EnableForState(actions, RunState::Idle, true);  // a download
  EXPECT_FALSE(enabled("verify-all"));
  EXPECT_FALSE(enabled("verify-selected"));
  EXPECT_FALSE(enabled("download-sources"));
  EXPECT_FALSE(enabled("stop-verify"));
  EXPECT_TRUE(enabled("delete-selected"));
  EXPECT_TRUE(enabled("paste"));

  EnableForState(actions, RunState::Idle, false);
  for (const QString& name : actions.Names()) {
    EXPECT_EQ(actions.IsEnabled(name), name != "stop-verify") << name.toStdString();
  }

  EXPECT_EQ(RunButtonAction(true, RunState::Running, true), "stop-verify");
  EXPECT_EQ(RunButtonAction(false, RunState::Running, true), "verify-selected");
  EXPECT_EQ(RunButtonAction(false, RunState::Stopping, false), "stop-verify");
  EXPECT_EQ(RunButtonAction(true, RunState::Idle, true), "verify-all");
}

}  // namespace
