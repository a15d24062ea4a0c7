#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "base/ProgramDir.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListFile.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/TestWindow.h"
#include "sysproxy/ProxyAutoConfig.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/HistoryColumns.h"
#include "ui/IpAddressCtrl.h"
#include "ui/Messages.h"
#include "ui/OwnerDrawMenu.h"
#include "ui/ProxyInfoDlg.h"
#include "ui/SortListCtrl.h"
#include "ui/TextProgressCtrl.h"
#include "verify/VerifyControl.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::ScriptedPrompt;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

// A data directory with a known list and settings, a private profile and a desktop
// proxy store that lives in memory.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(data.File("Proxies.pro"),
              "1.1.1.1:80@HTTP$0.5#fast\r\n"
              "2.2.2.2:8080@HTTP$连接失败\r\n"
              "3.3.3.3:1080@SOCKS5$超时#!keep\r\n"
              "4.4.4.4:3128@HTTPS$未验证\r\n");
    WriteFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
    QSettings profile(QString::fromStdString(ini), QSettings::IniFormat);
    profile.setValue("Quillberry/FavoriteProxies", " 0 3");
    // The choice for when the proxy is down is made: its question is tested elsewhere.
    ExtraOptions options;
    options.SetWhenDown(WhenProxyDown::Block);
    ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
  }

  qbtest::TestWindow Open() {
    MainDlgOptions o;
    auto platform = std::make_unique<CRecordingProxyPlatform>();
    recorder = platform.get();
    o.platform = std::move(platform);
    o.applyAutoRun = false;
    o.forceNoTray = forceNoTray;
    o.windowStateIni = windowState;
    return qbtest::OpenTestWindow(data.Path(), ini, std::move(o));
  }

  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  std::string ini = config.File("quillberry-test.INI");
  ScriptedPrompt prompt;
  CRecordingProxyPlatform* recorder = nullptr;
  bool forceNoTray = true;
  std::string windowState;  // empty: the window's size is not remembered
};

TEST_F(MainWindow, StartUpLoadsRowsFavouritesAndStatusLine) {
  auto dlg = Open();
  EXPECT_EQ(dlg->windowTitle(), "Ostrel代理验证（Quillberry）1.8");
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
  EXPECT_TRUE(dlg->Dir().List().IsFavorite(0));
  EXPECT_FALSE(dlg->Dir().List().IsFavorite(1));
  EXPECT_TRUE(dlg->Dir().List().IsFavorite(3));
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), " 选定 0 / 共 4 个;    IE: no proxy");
  EXPECT_EQ(dlg->TrayIconId(), IDR_MAINFRAME);
  EXPECT_EQ(dlg->TrayIcon()->toolTip(), "Ostrel代理验证（Quillberry）");
  // Every control is reachable by its id.
  for (const char* id : {"1045", "1002", "1009", "1011", "1034", "1041", "1039", "1044", "1042", "1046",
                         "1043", "1049", "1000", "1040", "1010", "1051", "1050", "1027", "1028", "1029"}) {
    EXPECT_NE(dlg->findChild<QWidget*>(id), nullptr) << id;
  }
  EXPECT_EQ(dlg->Button(1045)->text(), "验证全部");
  EXPECT_FALSE(dlg->findChild<QWidget*>("1051")->isVisible());
  EXPECT_TRUE(prompt.messages.empty());
}

// The filter field: Ctrl+F reaches it, the rows that do not hold the text leave the
// view and the selection, the counts name what is shown, and a sort or a new row is
// filtered again.
TEST_F(MainWindow, TheFilterShowsOnlyMatchingRowsAndCommandsActOnThoseAlone) {
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  CProxyListModel& list = dlg->Dir().List();
  QTableView* view = dlg->findChild<QTableView*>("1000");
  ASSERT_NE(view, nullptr);
  QLineEdit* filter = dlg->FilterField();
  ASSERT_NE(filter, nullptr);
  // It stands on the strip's line, inside the window, right-aligned with the list.
  EXPECT_EQ(filter->geometry().right(), view->geometry().right());
  EXPECT_FALSE(filter->geometry().intersects(dlg->StatusStrip()->geometry()));

  view->setFocus();
  QTest::keySequence(dlg.get(), QKeySequence::Find);
  EXPECT_TRUE(filter->hasFocus());
  list.SelectRow(0);
  list.SelectRow(2);
  QTest::keyClicks(filter, "SOCKS");
  auto hidden = [&] {
    std::string h;
    for (int r = 0; r < list.RowCount(); ++r) h += view->isRowHidden(r) ? '-' : '+';
    return h;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == 1; }, 2000));
  EXPECT_EQ(hidden(), "--+-");
  // The hidden selected row left the selection.
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{2});
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), " 选定 1 / 显示 1 / 共 4 个;    IE: no proxy");

  // A status, in the stored word or in English, and a remark.
  filter->setText("failed");
  ASSERT_TRUE(QTest::qWaitFor([&] { return hidden() == "-+--"; }, 2000)) << hidden();
  filter->setText("FAST");
  ASSERT_TRUE(QTest::qWaitFor([&] { return hidden() == "+---"; }, 2000)) << hidden();

  // Select all takes only what is shown, and the delete question counts those.
  // "s": in "fast", "SOCKS5" and "HTTPS", nowhere in the second row.
  filter->setText("s");
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == 3; }, 2000));
  EXPECT_EQ(hidden(), "+-++");
  dlg->OnSelectAll();
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{0, 2, 3}));
  prompt.answers = {qb::MsgResult::Yes};
  dlg->OnDeleteSelected();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "确实要删除选定的 3 个代理吗？删除数据后不能恢复！");
  ASSERT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.Entry(0)->Addr(), "2.2.2.2");
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == 0; }, 2000));
  EXPECT_EQ(hidden(), "-");

  // A new row that matches comes into view; a sort keeps the filter on the right rows.
  list.AddProxyLine("5.5.5.5:80@HTTPS$0.2", 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == 1; }, 2000));
  EXPECT_EQ(hidden(), "-+");
  list.SortRows(CProxyListModel::ColTimeStatus, true);
  EXPECT_EQ(list.Entry(0)->Addr(), "5.5.5.5");
  EXPECT_EQ(hidden(), "+-");

  // Emptied, every row is back and the counts lose the shown figure.
  filter->clear();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == -1; }, 2000));
  EXPECT_EQ(hidden(), "++");
  EXPECT_TRUE(dlg->StatusStrip()->GetWindowText().startsWith(" 选定 "));
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText().indexOf("显示"), -1);
}

// The history's five columns shown at once: the window widens as far as its screen
// lets it and the columns share the rest, so the list has no horizontal scroll bar.
TEST_F(MainWindow, ShownColumnsFitWithoutAHorizontalScrollBar) {
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QTableView* view = dlg->findChild<QTableView*>("1000");
  ASSERT_NE(view, nullptr);
  const int widthBefore = dlg->width();
  const int addressBefore = view->columnWidth(CProxyListModel::ColAddr);
  for (int c = 0; c < CHistoryColumns::Count_; ++c) dlg->SetHistoryColumnShown(c, true);
  QCoreApplication::processEvents();
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_LE(view->horizontalHeader()->length(), view->viewport()->width());
  // Never narrower than before.
  EXPECT_GE(dlg->width(), widthBefore);
  // A window that grew stays on its screen (the offscreen one is narrower than the
  // documented size, so there the columns give way).
  if (dlg->width() > widthBefore)
    EXPECT_LE(dlg->frameGeometry().width(), dlg->screen()->availableGeometry().width());
  // Either the window grew or the columns gave way.
  EXPECT_TRUE(dlg->width() > widthBefore || view->columnWidth(CProxyListModel::ColAddr) < addressBefore);
  for (int c = 0; c < CHistoryColumns::Count_; ++c)
    EXPECT_GT(view->columnWidth(CProxyListModel::ColumnCount + c), 0) << c;
}

TEST_F(MainWindow, DeleteCleanAndSelectionRewriteTheFile) {
  auto dlg = Open();
  CProxyListModel& list = dlg->Dir().List();
  list.SelectRow(1);
  prompt.answers = {qb::MsgResult::No};
  dlg->OnDeleteSelected();
  EXPECT_EQ(list.RowCount(), 4);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "删除选定");
  // The question says how many rows go.
  EXPECT_EQ(prompt.messages[0].text, "确实要删除选定的 1 个代理吗？删除数据后不能恢复！");
  list.SelectRow(2, false);
  list.SelectRow(3, false);
  prompt.answers = {qb::MsgResult::No};
  dlg->OnDeleteSelected();
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "确实要删除选定的 3 个代理吗？删除数据后不能恢复！");
  EXPECT_EQ(list.RowCount(), 4);
  list.selectionModel()->clearSelection();
  list.SelectRow(1);

  prompt.answers = {qb::MsgResult::Yes};
  dlg->OnDeleteSelected();
  EXPECT_EQ(list.RowCount(), 3);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")).find("2.2.2.2"), std::string::npos);

  // Clean keeps the "!" row.
  list.SetTimeStatus(0, "不匹配");
  prompt.answers = {qb::MsgResult::Yes};
  dlg->OnClean();
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_EQ(prompt.messages.back().caption, "清理");
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")),
            "3.3.3.3:1080@SOCKS5$超时#!keep\r\n4.4.4.4:3128@HTTPS$未验证\r\n");

  dlg->OnSelectAll();
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), " 选定 2 / 共 2 个;    IE: no proxy");
}

TEST_F(MainWindow, PasteCopyAndExport) {
  auto dlg = Open();
  QGuiApplication::clipboard()->setText("see 9.8.7.6:3128 and 1.1.1.1:80 here");
  dlg->OnPaste();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 5);
  EXPECT_NE(ReadFile(data.File("Proxies.pro")).find("9.8.7.6:3128@HTTP$未验证"), std::string::npos);
  EXPECT_TRUE(prompt.messages.empty());
  // The user is told what the paste did, for a few seconds; then the counts are back.
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), "新增 1 个，重复 1 个");
  dlg->UpdateStatusLine();  // a click meanwhile leaves the notice
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), "新增 1 个，重复 1 个");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dlg->StatusStrip()->GetWindowText().startsWith(" 选定 1 / 共 5 个;"); }, 8000))
      << dlg->StatusStrip()->GetWindowText().toStdString();

  // What looked like a proxy but cannot be one is counted, not dropped unseen.
  QGuiApplication::clipboard()->setText(
      "socks5://9.8.7.5:1080\nrtsp://9.8.7.4:554\nsocks5://9.8.7.3:70000\n");
  dlg->OnPaste();
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), "新增 1 个，重复 0 个，无法识别 2 行");

  QGuiApplication::clipboard()->setText("nothing at all");
  dlg->OnPaste();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "粘贴完毕");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Information);

  // Copy takes the first selected row (the pasted ones are selected).
  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(2);
  dlg->OnCopyProxy();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "3.3.3.3:1080");

  prompt.files = {data.File("out.txt")};
  dlg->OnExport();
  EXPECT_EQ(ReadFile(data.File("out.txt")), "3.3.3.3:1080\r\n");
  ASSERT_EQ(prompt.fileDialogs.size(), 1u);
  EXPECT_EQ(prompt.fileDialogs[0].title, "存盘");

  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->OnExport();
  EXPECT_EQ(prompt.messages.back().caption, "导出选定");
}

// The file type chosen in the chooser decides what the export writes; a name ending
// in .csv or .json decides it without one.
TEST_F(MainWindow, ExportWritesTheFileTypeChosen) {
  auto dlg = Open();
  dlg->Dir().List().SelectRow(2);
  dlg->Dir().List().SelectRow(0);
  prompt.fileTypes = {2, 1, -1};
  prompt.files = {data.File("list.txt"), data.File("urls.txt"), data.File("rows.JSON")};
  dlg->OnExport();
  EXPECT_EQ(ReadFile(data.File("list.txt")),
            "address,port,type,status,remark,state\r\n1.1.1.1,80,HTTP,0.5,fast,ok\r\n3.3.3.3,1080,SOCKS5,"
            "超时,!keep,timeout\r\n");
  dlg->OnExport();
  EXPECT_EQ(ReadFile(data.File("urls.txt")), "http://1.1.1.1:80\r\nsocks5://3.3.3.3:1080\r\n");
  dlg->OnExport();
  EXPECT_EQ(ReadFile(data.File("rows.JSON")).rfind("[\r\n{\"address\":\"1.1.1.1\",\"port\":80,", 0), 0u);
  ASSERT_EQ(prompt.fileDialogs.size(), 3u);
  EXPECT_EQ(prompt.fileDialogs[0].defaultExtension, "pro");
  EXPECT_TRUE(prompt.messages.empty());

  // A row with a log-on: the user is asked each time whether it goes into the file.
  ASSERT_TRUE(dlg->Dir().StoreCredentials("3.3.3.3:1080@SOCKS5", ProxyCredentials{"alice", "pw"}).ok());
  prompt.fileTypes = {1, 1};
  prompt.files = {data.File("asked.txt"), data.File("refused.txt")};
  prompt.answers = {qb::MsgResult::Yes, qb::MsgResult::No};
  dlg->OnExport();
  dlg->OnExport();
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, QString(kMsgExportLogOns).arg(1).toStdString());
  EXPECT_EQ(ReadFile(data.File("asked.txt")), "http://1.1.1.1:80\r\nsocks5://alice:pw@3.3.3.3:1080\r\n");
  EXPECT_EQ(ReadFile(data.File("refused.txt")), "http://1.1.1.1:80\r\nsocks5://3.3.3.3:1080\r\n");
}

TEST_F(MainWindow, HeaderClickSortsOnlyWhileSortable) {
  auto dlg = Open();
  bool sortable = false;
  dlg->ListView()->SetSortAllowed([&] { return sortable; });
  dlg->ListView()->OnColumnClick(3);
  EXPECT_EQ(dlg->Dir().List().CellText(0, 1), "1.1.1.1");
  EXPECT_EQ(dlg->ListView()->SortHeader()->GetSortColumn(), -1);
  sortable = true;
  dlg->ListView()->OnColumnClick(1);
  dlg->ListView()->OnColumnClick(1);
  EXPECT_EQ(dlg->Dir().List().CellText(0, 1), "4.4.4.4");
  EXPECT_FALSE(dlg->ListView()->SortHeader()->IsSortAscending());
}

// A header click with every shown row selected: the same proxies stay selected, the
// current row stays on its proxy, and the filter's rows and counts stay right.
TEST_F(MainWindow, HeaderClickKeepsTheSelectionTheCurrentProxyAndTheCounts) {
  auto dlg = Open();
  CProxyListModel& list = dlg->Dir().List();
  QTableView* view = dlg->ListView();
  auto selected = [&] {
    std::vector<std::string> out;
    for (int r : list.SelectedRows()) out.push_back(list.Entry(r)->Addr());
    std::sort(out.begin(), out.end());
    return out;
  };
  auto current = [&] { return list.Entry(view->selectionModel()->currentIndex().row())->Addr(); };

  dlg->OnSelectAll();
  view->selectionModel()->setCurrentIndex(list.index(2, 0), QItemSelectionModel::NoUpdate);
  for (int column : {0, 0, 3, 1}) {
    dlg->ListView()->OnColumnClick(column);
    EXPECT_EQ(list.SelectedCount(), 4) << column;
    EXPECT_EQ(current(), "3.3.3.3") << column;
  }

  // "s": in "fast", "SOCKS5" and "HTTPS", nowhere in 2.2.2.2's row.
  dlg->FilterField()->setText("s");
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->ShownRows() == 3; }, 2000));
  dlg->OnSelectAll();
  const std::vector<std::string> shown{"1.1.1.1", "3.3.3.3", "4.4.4.4"};
  ASSERT_EQ(selected(), shown);
  for (int column : {3, 0, 0, 2}) {
    dlg->ListView()->OnColumnClick(column);
    EXPECT_EQ(selected(), shown) << column;
    for (int r = 0; r < list.RowCount(); ++r)
      EXPECT_EQ(view->isRowHidden(r), list.Entry(r)->Addr() == "2.2.2.2") << column << " row " << r;
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), " 选定 3 / 显示 3 / 共 4 个;    IE: no proxy") << column;
  }
}

TEST_F(MainWindow, SetAndCancelSystemProxySwitchTheTrayIcon) {
  auto dlg = Open();
  dlg->Dir().List().SelectRow(1);
  prompt.answers.push_back(qb::MsgResult::Yes);  // it failed its last verification
  dlg->OnSetIEProxy();
  // The status line reads the desktop back: its server string for an HTTP proxy.
  EXPECT_EQ(dlg->SystemProxy().m_sIEProxy, "2.2.2.2:8080");
  EXPECT_TRUE(dlg->Dir().List().IsFavorite(1));
  EXPECT_EQ(dlg->TrayIconId(), IDI_IEPROXY);
  EXPECT_NE(dlg->StatusStrip()->GetWindowText().indexOf("2.2.2.2:8080"), -1);
  EXPECT_FALSE(recorder->calls.empty());
  dlg->OnCancelIEProxy();
  EXPECT_EQ(dlg->TrayIconId(), IDR_MAINFRAME);
  EXPECT_TRUE(dlg->StatusStrip()->GetWindowText().endsWith("no proxy"));
}

TEST_F(MainWindow, TheScriptIsWrittenIntoTheGivenDataDirectoryOnly) {
  WriteFile(data.File("Setting.dat"),
            "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
            "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_nAutoProxyConfig=1\r\n");
  auto dlg = Open();
  dlg->Dir().List().SelectRow(0);
  dlg->OnSetIEProxy();
  EXPECT_NE(ReadFile(data.File("proxy.pac")).find("PROXY 1.1.1.1:80"), std::string::npos);
  // The browsers are given that very script.
  ASSERT_FALSE(recorder->calls.empty());
  EXPECT_EQ(recorder->stored[""].autoConfigUrl, PacDataUrl(ReadFile(data.File("proxy.pac"))));
  // Beside the executable, the default data directory, nothing was written.
  EXPECT_EQ(ReadFile(ProgramDir() + "proxy.pac"), "<missing>");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(MainWindow, FailedReadsAndWritesShowTheProgramsOwnMessages) {
  // Directories where the list and the script belong: neither can be written.
  ASSERT_TRUE(QDir().remove(QString::fromStdString(data.File("Proxies.pro"))));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(data.File("Proxies.pro"))));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(data.File("proxy.pac"))));
  auto dlg = Open();
  // Start-up writes the script back for the desktop's proxy.
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "创建自动代理脚本失败！");
  EXPECT_EQ(prompt.messages[0].caption, "创建");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);

  QGuiApplication::clipboard()->setText("5.5.5.5:8080");
  dlg->OnPaste();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 1);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[1].caption, "存盘");
  EXPECT_EQ(prompt.messages[1].icon, qb::MsgIcon::Error);
  dlg.reset();

  // A settings file that cannot be read is said at once; the window still opens.
  ASSERT_TRUE(QDir().remove(QString::fromStdString(data.File("Setting.dat"))));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(data.File("Setting.dat"))));
  prompt.messages.clear();
  dlg = Open();
  ASSERT_GE(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开设置文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "初始化");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
}

TEST_F(MainWindow, ExitSavesFavouritesOnceAndNeverTheEmptiedList) {
  auto dlg = Open();
  dlg->Dir().List().SetFavorite(1, true);
  const std::string before = ReadFile(data.File("Proxies.pro"));
  EXPECT_TRUE(dlg->OnTrayExit());
  EXPECT_EQ(dlg->Dir().List().RowCount(), 0);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), before);
  QSettings profile(QString::fromStdString(ini), QSettings::IniFormat);
  EXPECT_EQ(profile.value("Quillberry/FavoriteProxies").toString(), " 0 1 3");
  dlg->CloseTray();  // a second time does nothing
  EXPECT_EQ(QSettings(QString::fromStdString(ini), QSettings::IniFormat)
                .value("Quillberry/FavoriteProxies")
                .toString(),
            " 0 1 3");
}

TEST_F(MainWindow, SessionEndKeepsRowsAndSavesFavourites) {
  auto dlg = Open();
  dlg->Dir().List().SetFavorite(2, true);
  dlg->OnSessionEnd();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
  QSettings profile(QString::fromStdString(ini), QSettings::IniFormat);
  EXPECT_EQ(profile.value("Quillberry/FavoriteProxies").toString(), " 0 2 3");
}

TEST_F(MainWindow, EnterDoesNothingEscAndCloseNeverEndTheProgramByAccident) {
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  bool exited = false;
  QObject::connect(dlg.get(), &CMainDlg::ExitRequested, [&] { exited = true; });
  QTest::keyClick(dlg.get(), Qt::Key_Return);
  EXPECT_TRUE(dlg->isVisible());
  QTest::keyClick(dlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(exited);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
}

TEST_F(MainWindow, WithoutTrayTheCloseBoxRunsTheExitSequence) {
  auto dlg = Open();
  dlg->show();
  bool exited = false;
  QObject::connect(dlg.get(), &CMainDlg::ExitRequested, [&] { exited = true; });
  dlg->close();
  EXPECT_TRUE(exited);
}

}  // namespace

namespace {

// In the direct mode the desktop has no entry a GOPHER proxy could go to: the button
// refuses it with a message and leaves the desktop, the script and the marks alone.
TEST_F(MainWindow, TheButtonRefusesAGopherProxyInTheDirectMode) {
  WriteFile(data.File("Proxies.pro"),
            "1.1.1.1:80@HTTP$0.5#fast\r\n"
            "5.5.5.5:70@GOPHER$未验证\r\n");
  auto dlg = Open();
  dlg->Dir().List().SelectRow(0);
  dlg->OnSetIEProxy();
  ASSERT_TRUE(prompt.messages.empty());
  const ConnectionProxySettings before = recorder->stored[""];
  const std::size_t writes = recorder->CallsOf(CRecordingProxyPlatform::CallKind::Write).size();
  const std::string pac = ReadFile(data.File("proxy.pac"));

  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(1);
  dlg->OnSetIEProxy();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text,
            "GOPHER代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。");
  EXPECT_EQ(prompt.messages[0].caption, "设为IE代理");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
  EXPECT_EQ(recorder->CallsOf(CRecordingProxyPlatform::CallKind::Write).size(), writes);
  EXPECT_EQ(recorder->stored[""], before);
  EXPECT_EQ(recorder->stored[""].server, "1.1.1.1:80");
  EXPECT_EQ(ReadFile(data.File("proxy.pac")), pac);
  EXPECT_FALSE(dlg->Dir().List().IsFavorite(1));
  EXPECT_NE(dlg->StatusStrip()->GetWindowText().indexOf("1.1.1.1:80"), -1);
}

// A desktop that accepts the change and does not keep it: the window says so, and the
// status line and the tray icon do not claim the proxy is set.
TEST_F(MainWindow, AProxyTheDesktopDidNotKeepIsSaidAndNotShownAsSet) {
  auto dlg = Open();
  ASSERT_TRUE(prompt.messages.empty());
  recorder->dropWrites = true;
  dlg->Dir().List().SelectRow(0);
  dlg->OnSetIEProxy();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "设置代理失败！\n桌面没有保存该设置：没有会话总线或设置服务保存它。");
  EXPECT_EQ(prompt.messages[0].caption, "错误");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_EQ(dlg->TrayIconId(), IDR_MAINFRAME);
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText().indexOf("1.1.1.1:80"), -1);
}

TEST_F(MainWindow, StatusLineRefreshDoesNotNagWhenTheDesktopCannotBeRead) {
  auto dlg = Open();
  dlg->Dir().List().SelectRow(0);
  dlg->OnSetIEProxy();
  const std::size_t before = prompt.messages.size();
  recorder->failQuery = true;
  dlg->UpdateStatusLine();
  dlg->OnSelectAll();
  EXPECT_EQ(prompt.messages.size(), before);
  EXPECT_NE(dlg->StatusStrip()->GetWindowText().indexOf("1.1.1.1:80"), -1);
}

}  // namespace

namespace {

// Marks are row positions, so the marks of the user's own list must never tick rows
// of a list in another directory; that list keeps its marks beside it.
TEST_F(MainWindow, FavouriteMarksBelongToTheListOfTheirDirectory) {
  const std::string userProfile = FavoritesProfilePath();
  ASSERT_EQ(userProfile.rfind(config.Path(), 0), 0u) << userProfile;
  QSettings(QString::fromStdString(userProfile), QSettings::IniFormat)
      .setValue("Quillberry/FavoriteProxies", " 1 2");
  {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    // Not the default directory, and no profile named: the directory's own.
    qbtest::TestWindow dlg = qbtest::OpenTestWindow(data.Path(), {}, std::move(o));
    for (int r = 0; r < 4; ++r) EXPECT_FALSE(dlg->Dir().List().IsFavorite(r)) << r;
    dlg->Dir().List().SetFavorite(3, true);
    dlg->CloseTray();
  }
  const std::string own = data.File(userProfile.substr(userProfile.rfind('/') + 1));
  EXPECT_EQ(QSettings(QString::fromStdString(own), QSettings::IniFormat)
                .value("Quillberry/FavoriteProxies")
                .toString(),
            " 3");
  EXPECT_EQ(QSettings(QString::fromStdString(userProfile), QSettings::IniFormat)
                .value("Quillberry/FavoriteProxies")
                .toString(),
            " 1 2");
}

}  // namespace

namespace {

// A proxy that failed its last verification becomes the system proxy only when the
// user says so; a working or unverified one needs no question.
TEST_F(MainWindow, AFailedProxyIsSetOnlyAfterAQuestion) {
  WriteFile(data.File("Proxies.pro"),
            "1.1.1.1:80@HTTP$连接失败\r\n"
            "2.2.2.2:80@HTTP$超时\r\n"
            "3.3.3.3:80@HTTP$未验证\r\n");
  auto dlg = Open();
  dlg->Dir().List().SelectRow(0);
  dlg->OnSetIEProxy();  // answered No
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "该代理上次验证失败，仍然设为系统代理吗？");
  EXPECT_EQ(prompt.messages[0].caption, "设为IE代理");
  EXPECT_NE(recorder->stored[""].server, "1.1.1.1:80");

  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(1);
  prompt.answers.push_back(qb::MsgResult::Yes);
  dlg->OnSetIEProxy();
  EXPECT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(recorder->stored[""].server, "2.2.2.2:80");

  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(2);
  dlg->OnSetIEProxy();
  EXPECT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(recorder->stored[""].server, "3.3.3.3:80");
}

}  // namespace

namespace {

// With a tray, the window hides at start when the setting says so; never on the
// first start, and never without a tray to find the program in again.
TEST(StartUp, TheFirstStartAlwaysShowsTheWindow) {
  EXPECT_FALSE(StartsInTray(false, true, /*firstStart=*/true, true));
  EXPECT_TRUE(StartsInTray(false, true, false, true));
  EXPECT_FALSE(StartsInTray(false, false, false, true));
  EXPECT_FALSE(StartsInTray(true, true, false, /*hasTray=*/false));
  // A desktop action starts the program for one piece of work, first start or not.
  EXPECT_TRUE(StartsInTray(/*minimisedAsked=*/true, false, true, true));
}

}  // namespace

namespace {

// The list's keys do what the buttons do, and nothing the buttons would refuse.
TEST_F(MainWindow, TheListsKeysDoWhatTheButtonsDo) {
  auto dlg = Open();
  QWidget* list = dlg->ListView();
  list->setFocus();
  // The list's menu names the keys beside its items; what follows shows that a key
  // still does its work once.
  ASSERT_NE(dlg->ContextMenu(), nullptr);
  for (const auto& [command, key] :
       {std::pair{32771, QKeySequence(QKeySequence::Copy)}, std::pair{1002, QKeySequence(Qt::Key_F5)},
        std::pair{1041, QKeySequence(Qt::Key_Return)}, std::pair{1039, QKeySequence(QKeySequence::Delete)},
        std::pair{32791, QKeySequence(QKeySequence::SelectAll)}}) {
    const QAction* item = dlg->ContextMenu()->ItemOfCommand(command);
    ASSERT_NE(item, nullptr) << command;
    EXPECT_EQ(item->shortcut(), key) << command;
    EXPECT_TRUE(item->isShortcutVisibleInContextMenu()) << command;
  }

  dlg->Dir().List().SelectRow(0);
  dlg->Dir().List().SelectRow(2);
  QTest::keySequence(list, QKeySequence::Copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            "1.1.1.1:80@HTTP$0.5#fast\n3.3.3.3:1080@SOCKS5$超时#!keep\n");

  QTest::keySequence(list, QKeySequence::SelectAll);
  EXPECT_EQ(dlg->Dir().List().SelectedCount(), 4);
  EXPECT_NE(dlg->StatusStrip()->GetWindowText().indexOf(" 选定 4 / 共 4 个;"), -1);

  // Delete asks first; No keeps the rows.
  QTest::keyClick(list, Qt::Key_Delete);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "删除选定");
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(3);
  prompt.answers.push_back(qb::MsgResult::Yes);
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 3);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")).find("4.4.4.4"), std::string::npos);

  // What Ctrl+C took, Ctrl+V brings back, every field with it.
  QGuiApplication::clipboard()->setText("9.9.9.9:8080@HTTPS$1.5#mine\n");
  QTest::keySequence(list, QKeySequence::Paste);
  ASSERT_EQ(dlg->Dir().List().RowCount(), 4);
  EXPECT_EQ(dlg->Dir().List().Entry(3)->TimeStatus(), "1.5");
  EXPECT_EQ(dlg->Dir().List().Entry(3)->Remark(), "mine");

  // While the paste button is locked (a run), the key is too.
  dlg->Button(1046)->setEnabled(false);
  QGuiApplication::clipboard()->setText("8.8.8.8:80\n");
  QTest::keySequence(list, QKeySequence::Paste);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
}

}  // namespace

namespace {

// Without a tray, a button beside the help link opens the tray's menu: the
// favourites, About and Exit are in sight, not only in the background's menu.
TEST_F(MainWindow, WithoutATrayAButtonOpensTheTraysMenu) {
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QAbstractButton* button = dlg->MenuButton();
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->isVisible());
  QTest::mouseClick(button, Qt::LeftButton);
  QMenu* menu = dlg->Tray().OpenMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
  QStringList texts;
  for (QAction* a : menu->actions()) texts << a->text();
  EXPECT_TRUE(texts.contains("退出")) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.contains("1.1.1.1:80 HTTP┇fast")) << texts.join('|').toStdString();  // a favourite
  menu->hide();
}

}  // namespace

namespace {

// The window grows from its documented size: the lists take the room, the buttons
// keep to the right edge, the sources to the bottom; the size and the column widths
// are the user's, remembered for the next start.
TEST_F(MainWindow, TheWindowGrowsAndRemembersItsSize) {
  windowState = config.File("Quillberry/window.ini");
  auto dlg = Open();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  const QSize base = dlg->size();
  EXPECT_EQ(dlg->minimumSize(), base);
  QWidget* list = dlg->ListView();
  QWidget* sources = dlg->SourceListView();
  QWidget* verifyAll = dlg->Button(1045);
  QWidget* deleteSource = dlg->Button(1029);
  const QRect list0 = list->geometry(), sources0 = sources->geometry();
  const QRect verify0 = verifyAll->geometry(), delete0 = deleteSource->geometry();
  // A full address fits its column.
  const int addressWidth = dlg->ListView()->columnWidth(CProxyListModel::ColAddr);
  EXPECT_GT(addressWidth, dlg->ListView()->fontMetrics().horizontalAdvance("255.255.255.255"));

  dlg->resize(base + QSize(300, 200));
  QCoreApplication::processEvents();
  EXPECT_EQ(list->width(), list0.width() + 300);
  EXPECT_GT(list->height(), list0.height() + 100);
  EXPECT_EQ(sources->width(), sources0.width() + 300);
  EXPECT_EQ(sources->geometry().bottom() - sources0.bottom(), 200);
  EXPECT_EQ(verifyAll->geometry(), verify0.translated(300, 0));
  EXPECT_EQ(deleteSource->geometry().left(), delete0.left() + 300);
  EXPECT_GT(deleteSource->geometry().top(), delete0.top());
  EXPECT_LT(list->geometry().bottom(), sources->geometry().top());
  for (QWidget* w : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isVisible()) EXPECT_TRUE(dlg->rect().contains(w->geometry())) << w->objectName().toStdString();
  }

  dlg->ListView()->setColumnWidth(CProxyListModel::ColRemark - 1, 123);
  dlg->CloseTray();
  dlg.reset();
  auto again = Open();
  EXPECT_EQ(again->size(), base + QSize(300, 200));
  EXPECT_EQ(again->ListView()->columnWidth(CProxyListModel::ColRemark - 1), 123);
}

}  // namespace

namespace {

// Acts on the proxy dialog once it runs modally.
void WhenProxyDialogOpens(std::function<void(CProxyInfoDlg&)> act) {
  QTimer::singleShot(0, qApp, [act] {
    auto* dlg = qobject_cast<CProxyInfoDlg*>(QApplication::activeModalWidget());
    if (!dlg) return;
    act(*dlg);
    if (dlg->isVisible()) dlg->reject();
  });
}

// The proxy dialog's log-on goes to the store, never into the list; modifying the row
// shows it again, and emptying both fields removes it.
TEST_F(MainWindow, TheProxyDialogKeepsALogOnBesideTheList) {
  auto dlg = Open();
  WhenProxyDialogOpens([](CProxyInfoDlg& d) {
    d.TypeCombo()->setCurrentText("SOCKS5");
    d.AddressCtrl()->SetAddress(std::array<int, 4>{127, 0, 0, 9});
    d.PortEdit()->setText("1080");
    d.UserEdit()->setText("alice");
    d.PasswordEdit()->setText("pw");
    d.accept();
  });
  dlg->Button(1034)->click();
  ASSERT_EQ(dlg->Dir().List().RowCount(), 5);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")).find("alice"), std::string::npos);
  EXPECT_EQ(qbtest::StoredLogOn(data.Path(), "127.0.0.9:1080@SOCKS5"), (ProxyCredentials{"alice", "pw"}));

  const int row = dlg->Dir().List().RowCount() - 1;
  ASSERT_EQ(dlg->Dir().List().Entry(row)->Addr(), "127.0.0.9");
  dlg->Dir().List().selectionModel()->clearSelection();
  dlg->Dir().List().SelectRow(row);
  QString shownUser;
  WhenProxyDialogOpens([&](CProxyInfoDlg& d) {
    shownUser = d.UserEdit()->text();
    d.UserEdit()->clear();
    d.PasswordEdit()->clear();
    d.accept();
  });
  dlg->Button(1041)->click();
  EXPECT_EQ(shownUser, "alice");
  EXPECT_EQ(qbtest::StoredLogOn(data.Path(), "127.0.0.9:1080@SOCKS5"), std::nullopt);
  EXPECT_EQ(ReadFile(data.File("Credentials.dat")), "<missing>");

  // A password without its user name is refused, with the dialog still open.
  WhenProxyDialogOpens([](CProxyInfoDlg& d) {
    d.TypeCombo()->setCurrentText("HTTP");
    d.AddressCtrl()->SetAddress(std::array<int, 4>{127, 0, 0, 10});
    d.PortEdit()->setText("8080");
    d.PasswordEdit()->setText("pw");
    d.accept();
    EXPECT_TRUE(d.isVisible());
  });
  dlg->Button(1034)->click();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 5);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back().text, kMsgBadLogOn);
}

// A proxy the list has already is refused by the add and the modify command alike,
// each under its own caption, and the list file stays as it was.
TEST_F(MainWindow, AProxyTheListHasAlreadyIsSaidByAddAndModify) {
  auto dlg = Open();
  CProxyListModel& list = dlg->Dir().List();
  const std::string before = ReadFile(data.File("Proxies.pro"));
  auto typeIn = [](const char* type, std::array<int, 4> address, const char* port) {
    return [=](CProxyInfoDlg& d) {
      d.TypeCombo()->setCurrentText(type);
      d.AddressCtrl()->SetAddress(address);
      d.PortEdit()->setText(port);
      d.accept();
    };
  };
  WhenProxyDialogOpens(typeIn("HTTP", {1, 1, 1, 1}, "80"));
  dlg->Button(1034)->click();
  EXPECT_EQ(list.RowCount(), 4);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "这个代理服务器已经存在列表中");
  EXPECT_EQ(prompt.messages[0].caption, "添加代理");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
  EXPECT_EQ(prompt.messages[0].buttons, qb::MsgButtons::Ok);

  ASSERT_EQ(list.Entry(1)->Addr(), "2.2.2.2");
  list.selectionModel()->clearSelection();
  list.SelectRow(1);
  WhenProxyDialogOpens(typeIn("HTTP", {1, 1, 1, 1}, "80"));
  dlg->Button(1041)->click();
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "这个代理服务器已经存在列表中");
  EXPECT_EQ(prompt.messages[1].caption, "修改选定");
  EXPECT_EQ(prompt.messages[1].icon, qb::MsgIcon::Warning);
  EXPECT_EQ(list.Entry(1)->Addr(), "2.2.2.2");
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), before);

  // A proxy the list lacks is added without a word.
  WhenProxyDialogOpens(typeIn("HTTP", {127, 0, 0, 7}, "80"));
  dlg->Button(1034)->click();
  EXPECT_EQ(list.RowCount(), 5);
  EXPECT_EQ(prompt.messages.size(), 2u);
}

}  // namespace
