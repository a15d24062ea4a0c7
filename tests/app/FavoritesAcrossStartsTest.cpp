// The favourite marks survive a sort: a user sorts the list by a column, ticks a
// proxy and exits; the next program to read the directory finds the tick on that same
// proxy, never on the proxy that stood at its place in the file.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QProcessEnvironment>
#include <QTest>

#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "proxy/ProxyListModel.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/SortListCtrl.h"

using namespace qb;
using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

// Four proxies in the file's order; the dead one is last, and a sort by port puts the
// fast one first.
const char* const kList =
    "127.0.0.3:3003@HTTP$0.9#slow\r\n"
    "127.0.0.2:2002@HTTP$0.7#middle\r\n"
    "127.0.0.1:1001@HTTP$0.2#fast\r\n"
    "127.0.0.4:4004@HTTP$连接失败#dead\r\n";

class FavoritesAcrossStarts : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(data.File("Proxies.pro"), kList);
    WriteFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n");
  }
  // The window as the program opens it, on the marks the command line reads too.
  qbtest::TestWindow Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), data.File("quillberry.INI"), std::move(o));
  }
  static void ClickHeader(CMainDlg& dlg, int column) {
    QHeaderView* h = dlg.ListView()->horizontalHeader();
    const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
  }
  static std::vector<std::string> Ticked(const CProxyListModel& list) {
    std::vector<std::string> out;
    for (int r = 0; r < list.RowCount(); ++r) {
      if (list.IsFavorite(r)) out.emplace_back(list.Entry(r)->Remark());
    }
    return out;
  }

  TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
};

TEST_F(FavoritesAcrossStarts, ATickGivenAfterASortStaysOnItsProxy) {
  {
    qbtest::TestWindow dlg = Open();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    CProxyListModel& list = dlg->Dir().List();
    ClickHeader(*dlg, CProxyListModel::ColPort);
    ASSERT_EQ(list.Entry(0)->Remark(), "fast");
    // The box of the first row as the list shows it now.
    ASSERT_TRUE(list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole));
    ASSERT_EQ(Ticked(list), std::vector<std::string>{"fast"});
    ASSERT_TRUE(dlg->OnTrayExit());
  }
  // The exit did not rewrite the list: the file keeps its order, and the marks name
  // the place of the ticked proxy in it (third), which an older version reads too.
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), kList);
  EXPECT_NE(ReadFile(data.File("quillberry.INI")).find("FavoriteProxies=\" 2\""), std::string::npos)
      << ReadFile(data.File("quillberry.INI"));

  // Another process reads the directory: the command line's failover script lists the
  // favourites after the proxy it is made for, and the dead proxy is not among them.
  ExtraOptions options;
  options.script.failover = true;
  ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.Path()));
  env.insert("GSETTINGS_BACKEND", "keyfile");
  env.insert("XDG_CURRENT_DESKTOP", "");
  const qbtest::CliResult r =
      qbtest::RunCli({"--data-dir", data.Path(), "proxy", "set", "127.0.0.9:9999", "--mode", "1"}, {}, env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string script = ReadFile(data.File("proxy.pac"));
  EXPECT_NE(script.find("\"PROXY 127.0.0.9:9999; PROXY 127.0.0.1:1001\""), std::string::npos) << script;
  EXPECT_EQ(script.find("4004"), std::string::npos) << script;

  // And the next start shows the tick where it was given.
  qbtest::TestWindow again = Open();
  EXPECT_EQ(Ticked(again->Dir().List()), std::vector<std::string>{"fast"});
}

// Once the list was saved in its sorted order, the marks are positions in that order.
TEST_F(FavoritesAcrossStarts, AListSavedAfterTheSortKeepsItsMarksInTheNewOrder) {
  {
    qbtest::TestWindow dlg = Open();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    CProxyListModel& list = dlg->Dir().List();
    ClickHeader(*dlg, CProxyListModel::ColPort);
    ASSERT_EQ(list.Entry(1)->Remark(), "middle");
    list.SetFavorite(1, true);
    ASSERT_TRUE(dlg->Dir().SaveList());
    list.SetFavorite(0, true);  // "fast"
    ASSERT_TRUE(dlg->OnTrayExit());
  }
  EXPECT_NE(ReadFile(data.File("quillberry.INI")).find("FavoriteProxies=\" 0 1\""), std::string::npos)
      << ReadFile(data.File("quillberry.INI"));
  qbtest::TestWindow again = Open();
  EXPECT_EQ(Ticked(again->Dir().List()), (std::vector<std::string>{"fast", "middle"}));
}

}  // namespace
