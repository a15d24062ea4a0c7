// Verification driven through the real main window against the loopback peers: a
// whole run, a stop, exit while busy, the result window and the header during a run;
// and the single-instance rule with two real processes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "base/Text.h"
#include "proxy/ProxyListFile.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/ListFileText.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "support/WindowProcess.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/SortListCtrl.h"
#include "ui/TextProgressCtrl.h"
#include "ui/VerifyResultDlg.h"
#include "verify/VerifyControl.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;
using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

// The buttons a run locks, besides the other verify button.
const int kLockedButtons[] = {1049, 1034, 1041, 1039, 1044, 1042, 1046, 1050};
const int kAllButtons[] = {1045, 1002, 1009, 1034, 1041, 1039, 1044, 1042, 1046, 1043, 1049, 1050};

class WindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    m_connect = g_nConnectTimeoutMs;
    m_verify = g_nVerifyTimeoutMs;
  }
  void TearDown() override {
    dlg.reset();
    // No test may leave a worker behind for the next one.
    EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
    g_nConnectTimeoutMs = m_connect;
    g_nVerifyTimeoutMs = m_verify;
  }

  // Setting.dat with one ticked HTTP resource and short time-outs, as a user would
  // have set them in the settings dialog.
  void WriteSettings(const std::string& resourceUrl, int threads) {
    WriteFile(data.File("Setting.dat"),
              EncodeVerifySourceText("本地", resourceUrl, Peers().Feature()) + "$1\r\n" +
                  "m_nThreadNumber=" + std::to_string(threads) +
                  "\r\nm_nConTimeout=2\r\nm_nVerifyTimeout=2\r\nm_bAutoAddToFavorite=1\r\n"
                  "m_bAutoTimingVerify=0\r\nm_bAutoRun=0\r\nm_bMinimize=0\r\nm_nFavorites=6\r\n");
  }
  static std::string Line(int port, const char* type, const std::string& remark = {}) {
    return "127.0.0.1:" + std::to_string(port) + "@" + type + "$未验证" +
           (remark.empty() ? "" : "#" + remark) + "\r\n";
  }
  // The same proxy as several rows: leading zeros make other keys for the same port.
  // The remark records the row's original place.
  static std::string SameProxyLines(int port, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      out += "127.0.0.1:" + std::string(static_cast<std::size_t>(i), '0') + std::to_string(port) +
             "@HTTP$未验证#" + std::to_string(i) + "\r\n";
    }
    return out;
  }

  void Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    dlg = qbtest::OpenTestWindow(data.Path(), ini, std::move(o));
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }

  void Click(int id) {
    QAbstractButton* b = dlg->Button(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  // A click on a header section, as the user does it.
  void ClickHeader(int column) {
    QHeaderView* h = dlg->ListView()->horizontalHeader();
    const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
  }
  // A click on a row's address cell: selects that row only.
  void ClickRow(int row) {
    CSortListCtrl* v = dlg->ListView();
    const QRect r = v->visualRect(dlg->Dir().List().index(row, CProxyListModel::ColAddr));
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, r.center());
  }
  bool Idle() const { return dlg->Verifier().IsIdle(); }
  bool WaitIdle(int ms) {
    return QTest::qWaitFor([&] { return Idle(); }, ms);
  }
  std::string Text(int row) const { return dlg->Dir().List().Entry(row)->TimeStatus(); }
  std::string Caption(int id) const { return dlg->Button(id)->text().toStdString(); }
  static bool IsTime(const std::string& t) { return qb::CAtof(t) > 0; }
  // The rows' addresses, ports and types in list order.
  std::vector<std::string> Order() const {
    std::vector<std::string> out;
    for (int r = 0; r < dlg->Dir().List().RowCount(); ++r) out.push_back(dlg->Dir().List().GetProxyLine(r));
    return out;
  }
  void ExpectIdleButtons() {
    EXPECT_EQ(Caption(1045), "验证全部");
    EXPECT_EQ(Caption(1002), "验证选定");
    for (int id : kAllButtons) EXPECT_TRUE(dlg->Button(id)->isEnabled()) << id;
    EXPECT_TRUE(dlg->ListView()->isEnabled());
  }

  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  std::string ini = config.File("quillberry-test.INI");
  qbtest::ScriptedPrompt prompt;
  qbtest::TestWindow dlg;

 private:
  int m_connect = 0, m_verify = 0;
};

// About half a second per proxy on loopback, so that every working proxy gets a time
// above the "0.0" that counts as no time.
std::string HalfSecondPage() {
  return Peers().OriginUrl("/trickle?interval=0.01");
}
// About one and a half seconds per proxy.
std::string SlowPage() {
  return Peers().OriginUrl("/trickle?interval=0.03");
}

TEST_F(WindowRun, VerifyAllEndsSortedSavedWithFavouritesAndIdle) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  WriteSettings(HalfSecondPage(), 10);
  WriteFile(data.File("Proxies.pro"),
            Line(p.DeadPort(), "HTTP", "dead") + Line(p.HttpProxyPort(), "HTTP", "tiny") +
                Line(p.SocksPort(), "SOCKS5", "dante") + Line(p.HttpProxyPort(), "HTTPS", "tinys"));
  // The dead proxy was a favourite; the run's choice must take that back.
  QSettings(QString::fromStdString(ini), QSettings::IniFormat).setValue("Quillberry/FavoriteProxies", " 0");
  Open();
  ASSERT_EQ(dlg->Dir().List().RowCount(), 4);
  ASSERT_TRUE(dlg->Dir().List().IsFavorite(0));
  EXPECT_EQ(g_nConnectTimeoutMs, 2000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 2000);
  const std::string fileBefore = ReadFile(data.File("Proxies.pro"));

  Click(1045);
  // Running: the run's button stops, everything that changes the list is locked.
  EXPECT_EQ(Caption(1045), "停止验证");
  EXPECT_TRUE(dlg->Button(1045)->isEnabled());
  EXPECT_FALSE(dlg->Button(1002)->isEnabled());
  for (int id : kLockedButtons) EXPECT_FALSE(dlg->Button(id)->isEnabled()) << id;
  EXPECT_EQ(Text(0), "验证中...");

  // The rows may be sorted while the run goes on: they move, and each result still
  // lands on its own proxy (the dead one's below, whatever its place by then).
  const std::vector<std::string> before = Order();
  ClickHeader(CProxyListModel::ColPort);
  const std::vector<std::string> ascending = Order();
  ClickHeader(CProxyListModel::ColPort);
  EXPECT_EQ(dlg->ListView()->SortHeader()->GetSortColumn(), CProxyListModel::ColPort);
  EXPECT_TRUE(Order() != before || ascending != before);

  ASSERT_TRUE(WaitIdle(10000));
  ExpectIdleButtons();

  // Sorted by the time column: the three times ascending, then the failure.
  const CSortHeaderCtrl* header = dlg->ListView()->SortHeader();
  EXPECT_EQ(header->GetSortColumn(), CProxyListModel::ColTimeStatus);
  EXPECT_TRUE(header->IsSortAscending());
  ASSERT_EQ(dlg->Dir().List().RowCount(), 4);
  for (int r = 0; r < 3; ++r) EXPECT_TRUE(IsTime(Text(r))) << r << " " << Text(r);
  EXPECT_LE(qb::CAtof(Text(0)), qb::CAtof(Text(1)));
  EXPECT_LE(qb::CAtof(Text(1)), qb::CAtof(Text(2)));
  EXPECT_EQ(Text(3), "连接失败");
  EXPECT_EQ(dlg->Dir().List().Entry(3)->Remark(), "dead");

  // Saved as the window shows it.
  const std::string file = ReadFile(data.File("Proxies.pro"));
  EXPECT_NE(file, fileBefore);
  EXPECT_EQ(file, qbtest::ListFileText(dlg->Dir().List()));

  // Favourites: the HTTP and HTTPS proxies that answered; not the SOCKS5 one, and no
  // longer the dead one.
  for (int r = 0; r < 4; ++r) {
    const CProxyEntry* e = dlg->Dir().List().Entry(r);
    EXPECT_EQ(dlg->Dir().List().IsFavorite(r), e->Remark() == "tiny" || e->Remark() == "tinys")
        << e->Remark();
  }
  // The strip sums the run up (the three proxies that answered, the dead one), then
  // goes back to the status line.
  const QString summary = dlg->StatusStrip()->GetWindowText();
  EXPECT_TRUE(summary.startsWith("验证完毕: 可用 3 个，失败 1 个，最快 ")) << summary.toStdString();
  EXPECT_TRUE(summary.contains(QRegularExpression("最快 \\d+\\.\\d 秒，用时 \\d+\\.\\d 秒$")))
      << summary.toStdString();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dlg->StatusStrip()->GetWindowText() == " 选定 0 / 共 4 个;    IE: no proxy"; }, 8000))
      << dlg->StatusStrip()->GetWindowText().toStdString();
  EXPECT_TRUE(prompt.messages.empty());

  // Sortable again: a click on the port header sorts by it.
  ClickHeader(CProxyListModel::ColPort);
  EXPECT_EQ(header->GetSortColumn(), CProxyListModel::ColPort);
  EXPECT_EQ(dlg->Dir().List().Entry(0)->Port(),
            std::to_string(std::min({p.DeadPort(), p.HttpProxyPort(), p.SocksPort()})));
}

TEST_F(WindowRun, StopAlternatesTheCaptionAndReturnsToIdle) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  WriteSettings(SlowPage(), 3);
  WriteFile(data.File("Proxies.pro"), SameProxyLines(p.HttpProxyPort(), 6));
  Open();
  ASSERT_EQ(dlg->Dir().List().RowCount(), 6);

  // The caption of 1045 as each report arrives (the window has relabelled the button
  // by the time the row's result is announced).
  std::vector<std::string> captions;
  QObject::connect(&dlg->Verifier(), &CVerifyControl::RowVerified,
                   [&](int, const QString&) { captions.push_back(Caption(1045)); });
  // The status strip's progress texts, as each report sets them.
  std::vector<std::string> strip;
  QObject::connect(&dlg->Verifier(), &CVerifyControl::ProgressPos, [&](int) {
    const std::string text = dlg->StatusStrip()->GetWindowText().toStdString();
    if (text.rfind(" Sum:", 0) == 0) strip.push_back(text);
  });

  Click(1045);
  ASSERT_EQ(dlg->Verifier().BusyWorkers(), 3);
  EXPECT_EQ(Caption(1045), "停止验证");

  Click(1045);  // the same button again: stop
  EXPECT_EQ(Caption(1045), "停止中...");
  EXPECT_FALSE(dlg->Button(1045)->isEnabled());
  EXPECT_FALSE(dlg->Button(1002)->isEnabled());
  EXPECT_EQ(dlg->Verifier().State(), RunState::Stopping);

  ASSERT_TRUE(WaitIdle(8000));
  EXPECT_EQ(captions, (std::vector<std::string>{"停止中...", "...停止中", "停止中..."}));
  ExpectIdleButtons();
  EXPECT_EQ(strip, (std::vector<std::string>{" Sum: 6, Finished: 1, Percentage: 16.7%; Threads ending ...",
                                             " Sum: 6, Finished: 2, Percentage: 33.3%; Threads ending ...",
                                             " Sum: 6, Finished: 3, Percentage: 50.0%; Threads ending ..."}));
  // After the run the strip sums up what was reached, then shows the status line again.
  EXPECT_TRUE(dlg->StatusStrip()->GetWindowText().startsWith("验证完毕: "))
      << dlg->StatusStrip()->GetWindowText().toStdString();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dlg->StatusStrip()->GetWindowText() == " 选定 0 / 共 6 个;    IE: no proxy"; }, 8000))
      << dlg->StatusStrip()->GetWindowText().toStdString();
  // The three rows in flight were finished; the others were never handed out.
  for (int r = 0; r < 6; ++r) {
    const CProxyEntry* e = dlg->Dir().List().Entry(r);
    if (qb::CAtoi(e->Remark()) < 3) {
      EXPECT_TRUE(IsTime(e->TimeStatus())) << e->Remark() << " " << e->TimeStatus();
    } else {
      EXPECT_EQ(e->TimeStatus(), "未验证") << e->Remark();
    }
  }
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(WindowRun, ExitWhileBusyIsRefusedAndStopsTheRun) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  WriteSettings(SlowPage(), 2);
  WriteFile(data.File("Proxies.pro"), SameProxyLines(p.HttpProxyPort(), 4));
  QSettings(QString::fromStdString(ini), QSettings::IniFormat).setValue("Quillberry/FavoriteProxies", " 3");
  Open();
  int exits = 0;
  QObject::connect(dlg.get(), &CMainDlg::ExitRequested, [&] { ++exits; });

  Click(1045);
  ASSERT_EQ(dlg->Verifier().BusyWorkers(), 2);
  EXPECT_FALSE(dlg->OnTrayExit());
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text,
            "尚有线程在运行，请等现有的线程停止后再退出。\n不再启动新的线程，停止中...");
  EXPECT_EQ(prompt.messages[0].caption, "退出警告");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Information);
  EXPECT_EQ(exits, 0);
  // The refusal asked the run to stop.
  EXPECT_EQ(dlg->Verifier().State(), RunState::Stopping);
  EXPECT_EQ(Caption(1045), "停止中...");
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);

  // A second exit while the workers wind down is refused the same way.
  EXPECT_FALSE(dlg->OnTrayExit());
  EXPECT_EQ(prompt.messages.size(), 2u);

  ASSERT_TRUE(WaitIdle(8000));
  ExpectIdleButtons();
  // The stopped run still ended as a run does: the two finished rows first, the two
  // never handed out after them, and the list saved.
  EXPECT_TRUE(IsTime(Text(0))) << Text(0);
  EXPECT_TRUE(IsTime(Text(1))) << Text(1);
  EXPECT_EQ(Text(2), "未验证");
  EXPECT_EQ(Text(3), "未验证");
  const std::string file = ReadFile(data.File("Proxies.pro"));
  EXPECT_EQ(file, qbtest::ListFileText(dlg->Dir().List()));

  // Now it exits: the favourites the run chose are written, the list file is not
  // touched, and the rows are gone.
  EXPECT_TRUE(dlg->OnTrayExit());
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), file);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 0);
  EXPECT_EQ(QSettings(QString::fromStdString(ini), QSettings::IniFormat)
                .value("Quillberry/FavoriteProxies")
                .toString(),
            " 0 1");
}

TEST_F(WindowRun, OneSelectedHttpProxyShowsTheResultWindow) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  WriteSettings(HalfSecondPage(), 10);
  WriteFile(data.File("Proxies.pro"), Line(p.DeadPort(), "HTTP") + Line(p.HttpProxyPort(), "HTTP"));
  Open();
  EXPECT_EQ(dlg->ResultDlg(), nullptr);

  ClickRow(1);
  ASSERT_EQ(dlg->Dir().List().SelectedRows(), std::vector<int>{1});
  Click(1002);
  EXPECT_EQ(Caption(1002), "停止验证");
  EXPECT_FALSE(dlg->Button(1045)->isEnabled());
  CVerifyResultDlg* result = dlg->ResultDlg();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->objectName(), "165");
  EXPECT_EQ(result->windowTitle(), "验证结果");
  EXPECT_TRUE(result->isVisible());
  EXPECT_EQ(result->Status(), "验证状态：验证中...");
  EXPECT_EQ(result->Page(), "");

  ASSERT_TRUE(WaitIdle(8000));
  ExpectIdleButtons();
  ASSERT_TRUE(IsTime(Text(1))) << Text(1);
  EXPECT_EQ(result->Status().toStdString(), "验证状态：" + Text(1));
  // The page as it came through the proxy, line by line.
  EXPECT_EQ(result->Page().toStdString(), "<html><body>\n<p>" + p.Feature() + "</p>\n</body></html>\n");
  // A selected run is saved in place, not sorted.
  EXPECT_EQ(Text(0), "未验证");
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), qbtest::ListFileText(dlg->Dir().List()));

  // Closed with OK, the same window comes back for the next single proxy.
  QTest::mouseClick(result->findChild<QAbstractButton*>("1"), Qt::LeftButton);
  EXPECT_FALSE(result->isVisible());
  ClickRow(0);
  ASSERT_EQ(dlg->Dir().List().SelectedRows(), std::vector<int>{0});
  Click(1002);
  EXPECT_EQ(dlg->ResultDlg(), result);
  EXPECT_TRUE(result->isVisible());
  EXPECT_EQ(result->Status(), "验证状态：验证中...");
  EXPECT_EQ(result->Page(), "");
  ASSERT_TRUE(WaitIdle(8000));
  EXPECT_EQ(result->Status(), "验证状态：连接失败");
  EXPECT_EQ(result->Page(), "");
  EXPECT_TRUE(prompt.messages.empty());
}

// A refused start (here: no row selected) shows its message and leaves the window idle.
TEST_F(WindowRun, RefusedSelectedRunLeavesTheWindowIdle) {
  QB_REQUIRE_PEER(Peer::Origin);
  WriteSettings(HalfSecondPage(), 10);
  WriteFile(data.File("Proxies.pro"), Line(Peers().DeadPort(), "HTTP") + Line(Peers().DeadPort(), "HTTPS"));
  Open();
  Click(1002);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "没有选择要验证的代理！");
  EXPECT_EQ(prompt.messages[0].caption, "验证选定");
  EXPECT_EQ(dlg->ResultDlg(), nullptr);
  ExpectIdleButtons();
  ClickHeader(CProxyListModel::ColType);
  EXPECT_EQ(dlg->ListView()->SortHeader()->GetSortColumn(), CProxyListModel::ColType);
}

// Two real processes: the second start asks the first to show itself and exits at
// once; the first keeps running and keeps its server.
TEST(SingleInstanceProcesses, SecondStartExitsAndTheFirstStays) {
  if (!qbtest::WindowProcess::Built()) GTEST_SKIP() << "not built";

  TempDir data;
  WriteFile(data.File("Setting.dat"),
            "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
            "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n");
  qbtest::WindowProcess first;
  ASSERT_TRUE(first.Start(data.Path())) << "the first instance never opened its server";
  const QString program = qbtest::WindowProcess::Program();
  const QStringList args{"--data-dir", QString::fromStdString(data.Path())};

  QProcess second;
  second.setProcessEnvironment(first.Env());
  second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QElapsedTimer clock;
  clock.start();
  second.start(program, args);
  ASSERT_TRUE(second.waitForFinished(15000)) << "the second instance did not exit";
  const qint64 secondMs = clock.elapsed();
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_LT(secondMs, 5000);

  // The first is still there and still reachable: the second took nothing away.
  QTest::qWait(300);
  EXPECT_EQ(first.Process().state(), QProcess::Running);
  EXPECT_TRUE(first.Answers());

  // A start on another list brings the running window forward and says which list it
  // has open, instead of ending silently.
  TempDir otherData;
  QProcess third;
  third.setProcessEnvironment(first.Env());
  third.start(program, {"--data-dir", QString::fromStdString(otherData.Path())});
  ASSERT_TRUE(third.waitForFinished(15000)) << "the third start did not exit";
  EXPECT_EQ(third.exitCode(), 4);
  const std::string err = third.readAllStandardError().toStdString();
  EXPECT_NE(err.find("already running with the data directory " + data.Path()), std::string::npos) << err;
  EXPECT_NE(err.find(otherData.Path()), std::string::npos) << err;
  EXPECT_EQ(first.Process().state(), QProcess::Running);
}

}  // namespace
