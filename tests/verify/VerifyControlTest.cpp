// The run control: hand-out, results, stop, watchdog, end of a run and exit, with
// real workers through the loopback peers.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "support/ListFileText.h"
#include "support/LoopbackPeers.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "ui/Messages.h"
#include "verify/VerifyControl.h"

#include "support/ShortTimeouts.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

class VerifyControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timeouts = std::make_unique<qbtest::ShortTimeouts>();
    settings.m_nThreadNumber = 10;
    settings.m_bAutoAddToFavorite = 1;
    settings.m_nFavorites = 6;
  }
  void TearDown() override {
    control.reset();
    // No test may leave a worker behind for the next one.
    EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
    timeouts.reset();
  }

  // The resource every HTTP row is tested against; the FTP one when given.
  void Resources(const std::string& httpUrl, const std::string& feature, const std::string& ftpUrl = {}) {
    settings.m_aVerifySources.clear();
    if (!httpUrl.empty()) settings.m_aVerifySources.push_back({"http", httpUrl, feature, 1});
    if (!ftpUrl.empty()) settings.m_aVerifySources.push_back({"ftp", ftpUrl, "", 1});
  }
  void Row(int port, const char* type) {
    ASSERT_EQ(list.AddProxyLine("127.0.0.1:" + std::to_string(port) + "@" + type, 0), 1);
  }
  // The same proxy as a distinct row: leading zeros make another key but the same
  // port. The remark records the row's original place.
  void SameProxyRows(int port, int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(list.AddProxyLine("127.0.0.1:" + std::string(static_cast<std::size_t>(i), '0') +
                                      std::to_string(port) + "@HTTP#" + std::to_string(i),
                                  0),
                1);
    }
  }
  CVerifyControl& Control() {
    if (!control) {
      control = std::make_unique<CVerifyControl>(*data);
      QObject::connect(control.get(), &CVerifyControl::Notice, [this](RunNotice n) { notices.push_back(n); });
    }
    return *control;
  }
  bool WaitIdle(int ms) {
    return QTest::qWaitFor([&] { return control->IsIdle(); }, ms);
  }
  std::string Text(int row) const { return list.Entry(row)->TimeStatus(); }
  static bool IsTime(const std::string& t) { return qb::IsTimeText(t); }
  // Loopback answers in far less than the 0.1 s the list shows, so that every time
  // would be "0.0"; this page takes about half a second to read.
  std::string TimedPage() const { return Peers().OriginUrl("/trickle?interval=0.01"); }

  qbtest::ScriptedPrompt prompt;
  qbtest::TempDir dir;
  // The run's list and settings are the data directory's; its end saves the list.
  std::unique_ptr<DataDir> data = qbtest::OpenTestDir(dir.Path());
  CProxyListModel& list = data->List();
  CSettings& settings = data->Settings();
  std::unique_ptr<CVerifyControl> control;
  // Why runs could not start, in order.
  std::vector<RunNotice> notices;

 private:
  std::unique_ptr<qbtest::ShortTimeouts> timeouts;
};

// Every refused start says why (for the window or the command line to word) and
// leaves the control idle; the control itself never speaks to the user.
TEST_F(VerifyControlTest, RefusedStartsSayWhyAndReturnToIdle) {
  Resources("http://127.0.0.1:9/page", "x");
  CVerifyControl& c = Control();
  QSignalSpy idle(&c, &CVerifyControl::Idle);
  int asked = 0;
  c.SetFtpFallbackQuestion([&] {
    ++asked;
    return false;
  });

  c.OnVerifyAll();  // empty list
  EXPECT_EQ(notices, std::vector<RunNotice>{RunNotice::EmptyList});
  EXPECT_TRUE(c.IsIdle());

  Row(9, "HTTP");
  Row(9, "FTP");
  c.OnVerifySelected();  // nothing selected
  EXPECT_EQ(notices.back(), RunNotice::NoSelection);

  Resources("", "");
  c.OnVerifyAll();  // no HTTP resource
  EXPECT_EQ(notices.back(), RunNotice::NoHttpResource);

  // No FTP resource and an FTP row: asked, and "No" starts nothing.
  Resources("http://127.0.0.1:9/page", "x");
  c.OnVerifyAll();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(notices.size(), 3u);
  EXPECT_EQ(Text(0), "未验证");
  EXPECT_EQ(c.Worker(0), nullptr);

  // A worker that cannot be created.
  Resources("http://127.0.0.1:9/page", "x", "ftp://127.0.0.1:9/");
  c.SetWorkerFactory([] { return nullptr; });
  c.OnVerifyAll();
  EXPECT_EQ(notices.back(), RunNotice::WorkerFailed);
  EXPECT_TRUE(c.IsIdle());
  EXPECT_EQ(Text(0), "未验证");
  EXPECT_EQ(idle.count(), 5);
  EXPECT_TRUE(prompt.messages.empty());

  // The window's and the command line's words for them.
  EXPECT_STREQ(RunNoticeText(RunNotice::EmptyList).text, "空列表，没有要验证的代理。");
  EXPECT_STREQ(RunNoticeText(RunNotice::EmptyList).caption, "验证全部");
  EXPECT_STREQ(RunNoticeText(RunNotice::NoSelection).caption, "验证选定");
  EXPECT_EQ(RunNoticeText(RunNotice::WorkerFailed).icon, qb::MsgIcon::Error);
}

TEST_F(VerifyControlTest, HandOutFillsSlotsInOrderAndReusesTheReportingSlot) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(p.OriginUrl("/feature.html"), p.Feature());
  SameProxyRows(p.DeadPort(), 5);
  settings.m_nThreadNumber = 2;
  std::vector<int> handedOut;
  QObject::connect(&list, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex&) {
    if (list.Entry(from.row())->TimeStatus() == "验证中...") handedOut.push_back(from.row());
  });
  CVerifyControl& c = Control();
  QSignalSpy range(&c, &CVerifyControl::ProgressRange);
  QSignalSpy progress(&c, &CVerifyControl::ProgressCounts);
  c.OnVerifyAll();
  // Two slots, rows 0 and 1 at once; the rest waits.
  EXPECT_EQ(c.RowInFlight(0), 0);
  EXPECT_EQ(c.RowInFlight(1), 1);
  EXPECT_EQ(c.Worker(2), nullptr);
  EXPECT_EQ(Text(2), "未验证");
  ASSERT_EQ(range.count(), 1);
  EXPECT_EQ(range[0][1].toInt(), 5);

  ASSERT_TRUE(WaitIdle(5000));
  EXPECT_EQ(handedOut, (std::vector<int>{0, 1, 2, 3, 4}));
  for (int r = 0; r < 5; ++r) EXPECT_EQ(Text(r), "连接失败");
  ASSERT_FALSE(progress.isEmpty());
  EXPECT_EQ(progress.last()[0].toInt(), 5);
  EXPECT_EQ(progress.last()[1].toInt(), 5);
  EXPECT_FALSE(progress.last()[2].toBool());
}

TEST_F(VerifyControlTest, ThreadsNeverExceedTheRows) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(p.OriginUrl("/feature.html"), p.Feature());
  for (int i = 0; i < 3; ++i) Row(p.SilentPort(), i == 0 ? "HTTP" : i == 1 ? "HTTPS" : "SOCKS5");
  settings.m_nThreadNumber = 50;
  CVerifyControl& c = Control();
  QSignalSpy range(&c, &CVerifyControl::ProgressRange);
  c.OnVerifyAll();
  for (int k = 0; k < 3; ++k) EXPECT_NE(c.Worker(k), nullptr) << k;
  EXPECT_EQ(c.Worker(3), nullptr);
  EXPECT_EQ(c.BusyWorkers(), 3);
  ASSERT_EQ(range.count(), 1);
  EXPECT_EQ(range[0][0].toInt(), 0);
  EXPECT_EQ(range[0][1].toInt(), 3);
}

TEST_F(VerifyControlTest, RunOverAllRowsSortsSavesAndChoosesFavourites) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks);
  QB_REQUIRE_PEER(Peer::Socks5Only);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(TimedPage(), p.Feature());
  Row(p.DeadPort(), "HTTP");          // 连接失败
  Row(p.HttpProxyPort(), "HTTP");     // a time
  Row(p.SocksPort(), "SOCKS5");       // a time
  Row(p.Socks5OnlyPort(), "SOCKS4");  // 连接失败
  Row(p.HttpProxyPort(), "HTTPS");    // a time
  list.SetFavorite(0, true);
  CVerifyControl& c = Control();
  QSignalSpy sorted(&c, &CVerifyControl::ListSorted);
  QSignalSpy ended(&c, &CVerifyControl::RunEnded);
  c.OnVerifyAll();
  ASSERT_TRUE(WaitIdle(8000));
  ASSERT_EQ(ended.count(), 1);
  EXPECT_TRUE(ended[0][0].toBool());
  ASSERT_EQ(sorted.count(), 1);
  EXPECT_EQ(sorted[0][0].toInt(), 3);

  // Times first, fastest first, then the failures.
  ASSERT_EQ(list.RowCount(), 5);
  for (int r = 0; r < 3; ++r) EXPECT_TRUE(IsTime(Text(r))) << r << " " << Text(r);
  EXPECT_LE(qb::CAtof(Text(0)), qb::CAtof(Text(1)));
  EXPECT_LE(qb::CAtof(Text(1)), qb::CAtof(Text(2)));
  EXPECT_EQ(Text(3), "连接失败");
  EXPECT_EQ(Text(4), "连接失败");
  EXPECT_EQ(qbtest::ReadFile(dir.File("Proxies.pro")), qbtest::ListFileText(list));

  // The HTTP and HTTPS proxies that answered are the favourites; the dead one lost its
  // tick and the SOCKS5 proxy got none.
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(list.IsFavorite(r), list.Entry(r)->Type().rfind("HTTP", 0) == 0 && IsTime(Text(r))) << r;
  }
}

// A proxy that takes the connection and then stays silent is told apart from one that
// refuses it; cleaning the list removes both.
TEST_F(VerifyControlTest, ASilentProxyTimesOutWhereADeadOneFailsToConnect) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  g_nVerifyTimeoutMs = 1000;
  Resources(p.OriginUrl("/feature.html"), p.Feature());
  Row(p.SilentPort(), "HTTP");
  Row(p.DeadPort(), "HTTP");
  Row(p.SilentPort(), "HTTPS");
  // Silent in the middle of the SOCKS greeting, which libcurl counts as connecting.
  Row(p.SilentPort(), "SOCKS5");
  Row(p.SilentPort(), "SOCKS4");
  Row(p.DeadPort(), "SOCKS5");
  for (int r = 0; r < 6; ++r) list.SelectRow(r);
  CVerifyControl& c = Control();
  c.OnVerifySelected();
  ASSERT_TRUE(WaitIdle(8000));
  EXPECT_EQ(Text(0), "超时");
  EXPECT_EQ(Text(1), "连接失败");
  EXPECT_EQ(Text(2), "超时");
  EXPECT_EQ(Text(3), "超时");
  EXPECT_EQ(Text(4), "超时");
  EXPECT_EQ(Text(5), "连接失败");
  EXPECT_EQ(CleanProxyList(list), 6);
}

TEST_F(VerifyControlTest, SelectedRunVerifiesOnlyTheSelectionAndDoesNotSort) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(TimedPage(), p.Feature());
  Row(p.DeadPort(), "HTTP");
  Row(p.HttpProxyPort(), "HTTP");
  Row(p.DeadPort(), "HTTPS");
  Row(p.HttpProxyPort(), "HTTPS");
  list.SelectRow(2);
  list.SelectRow(3);
  CVerifyControl& c = Control();
  QSignalSpy range(&c, &CVerifyControl::ProgressRange);
  QSignalSpy progress(&c, &CVerifyControl::ProgressCounts);
  QSignalSpy view(&c, &CVerifyControl::ResultViewOpened);
  c.OnVerifySelected();
  ASSERT_TRUE(WaitIdle(5000));
  EXPECT_EQ(Text(0), "未验证");
  EXPECT_EQ(Text(1), "未验证");
  EXPECT_EQ(Text(2), "连接失败");  // not sorted: the rows kept their places
  EXPECT_TRUE(IsTime(Text(3)));
  ASSERT_EQ(range.count(), 1);
  EXPECT_EQ(range[0][1].toInt(), 2);
  EXPECT_EQ(progress.count(), 0);
  EXPECT_EQ(view.count(), 0);  // two rows: no result window
  EXPECT_EQ(qbtest::ReadFile(dir.File("Proxies.pro")), qbtest::ListFileText(list));
}

TEST_F(VerifyControlTest, OneSelectedProxyShowsTheFetchedPage) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Squid);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(TimedPage(), p.Feature(), p.FtpUrl());
  Row(p.HttpProxyPort(), "HTTP");
  Row(p.SquidPort(), "FTP");
  list.SelectRow(0);
  CVerifyControl& c = Control();
  QSignalSpy opened(&c, &CVerifyControl::ResultViewOpened);
  QSignalSpy shown(&c, &CVerifyControl::VerifyResultShown);
  c.OnVerifySelected();
  ASSERT_EQ(opened.count(), 1);
  ASSERT_TRUE(WaitIdle(5000));
  ASSERT_EQ(shown.count(), 1);
  EXPECT_EQ(shown[0][0].toString().toStdString(), Text(0));
  const std::string page = shown[0][3].toString().toStdString();
  EXPECT_EQ(page, "<html><body>\r\n<p>" + p.Feature() + "</p>\r\n</body></html>\r\n");

  // An FTP row alone opens no result window.
  list.selectionModel()->clear();
  list.SelectRow(1);
  c.OnVerifySelected();
  ASSERT_TRUE(WaitIdle(5000));
  EXPECT_EQ(opened.count(), 1);
  EXPECT_EQ(shown.count(), 1);  // nothing captured for it either
  EXPECT_EQ(Text(1).find_first_not_of("0123456789."), std::string::npos) << Text(1);
}

TEST_F(VerifyControlTest, StopWithSeveralWorkersBusy) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  // About 1.5 s per proxy.
  Resources(p.OriginUrl("/trickle?interval=0.03"), p.Feature());
  SameProxyRows(p.HttpProxyPort(), 6);
  settings.m_nThreadNumber = 3;
  CVerifyControl& c = Control();
  // What the window shows of the run, as the states and stop pulses it hears of.
  std::vector<std::string> events;
  QObject::connect(&c, &CVerifyControl::RunStateChanged, [&](RunState state) {
    events.push_back(state == RunState::Running    ? "running"
                     : state == RunState::Stopping ? "stopping"
                                                   : "idle");
  });
  QObject::connect(&c, &CVerifyControl::StoppingPulse,
                   [&](bool alternate) { events.push_back(alternate ? "...停止中" : "停止中..."); });
  QSignalSpy progress(&c, &CVerifyControl::ProgressCounts);
  c.OnVerifyAll();
  ASSERT_EQ(c.BusyWorkers(), 3);
  EXPECT_EQ(events.back(), "running");
  EXPECT_TRUE(c.VerifiesAll());
  events.clear();

  c.OnVerifyAll();  // the same button again: stop
  EXPECT_EQ(c.State(), RunState::Stopping);
  EXPECT_EQ(events, (std::vector<std::string>{"stopping"}));
  events.clear();

  // A start request while the stopped run winds down only asks for patience; it must
  // not turn the stop back into a run.
  c.OnVerifyAll();
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.back(), RunNotice::PleaseWait);
  EXPECT_EQ(c.State(), RunState::Stopping);
  EXPECT_TRUE(events.empty());

  ASSERT_TRUE(WaitIdle(8000));
  for (int r = 0; r < 6; ++r) {
    const CProxyEntry* e = list.Entry(r);
    const int original = qb::CAtoi(e->Remark());
    // The three rows in flight were finished; the others kept their text.
    if (original < 3) {
      EXPECT_TRUE(IsTime(e->TimeStatus())) << original << " " << e->TimeStatus();
    } else {
      EXPECT_EQ(e->TimeStatus(), "未验证") << original;
    }
  }
  // One pulse per report, alternating, then idle.
  EXPECT_EQ(events, (std::vector<std::string>{"停止中...", "...停止中", "停止中...", "idle"}));
  ASSERT_FALSE(progress.isEmpty());
  EXPECT_TRUE(progress.last()[2].toBool());  // the run is ending
}

// A worker that does not report is given up: its row shows "超时", the slot goes on
// with a new worker, and the old worker's late report is not taken for the new one's.
TEST_F(VerifyControlTest, WatchdogReplacesAHungWorker) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  g_nVerifyTimeoutMs = 30000;
  Resources(TimedPage(), p.Feature());
  Row(p.SilentPort(), "HTTP");     // hangs
  Row(p.HttpProxyPort(), "HTTP");  // about 0.5 s
  settings.m_nThreadNumber = 1;
  const int liveBefore = CVerifyProxyThread::LiveThreadCount();
  CVerifyControl& c = Control();
  c.SetWatchdogPeriod(1200);
  QElapsedTimer clock;
  clock.start();
  c.OnVerifyAll();
  CVerifyProxyThread* first = c.Worker(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.Worker(0) != first; }, 3000));
  EXPECT_GE(clock.elapsed(), 1150);
  ASSERT_TRUE(WaitIdle(6000));
  EXPECT_EQ(list.Entry(1)->Port(), std::to_string(p.SilentPort()));  // sorted last
  EXPECT_EQ(Text(1), "超时");
  EXPECT_TRUE(IsTime(Text(0))) << Text(0);
  EXPECT_EQ(c.FinishedCount(), 2);
  // The given-up worker ended its thread instead of hanging for 30 s.
  EXPECT_TRUE(QTest::qWaitFor([&] { return CVerifyProxyThread::LiveThreadCount() == liveBefore; }, 2000));
}

// When the watchdog cannot replace a worker, the run is given up: rows in flight go
// back to "未验证", finished rows keep their results.
// A run holds its proxies by identity: the list may be sorted or replaced by a
// reload while checks are in flight, and every result lands on its own proxy, or
// nowhere when the proxy left the list meanwhile.
TEST_F(VerifyControlTest, ResultsFollowTheirProxiesThroughASortAndAReload) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(TimedPage(), p.Feature());
  auto line = [](int port, const char* type, const char* remark) {
    return "127.0.0.1:" + std::to_string(port) + "@" + type + "$未验证#" + remark;
  };
  ASSERT_EQ(list.AddProxyLine(line(p.HttpProxyPort(), "HTTP", "works"), 0), 1);
  ASSERT_EQ(list.AddProxyLine(line(p.DeadPort(), "HTTP", "dead"), 0), 1);
  ASSERT_EQ(list.AddProxyLine(line(p.SilentPort(), "HTTP", "silent"), 0), 1);
  ASSERT_EQ(list.AddProxyLine(line(p.HttpProxyPort(), "HTTPS", "works too"), 0), 1);
  settings.m_nThreadNumber = 4;
  settings.m_bAutoAddToFavorite = 0;
  CVerifyControl& c = Control();
  c.OnVerifyAll();
  ASSERT_EQ(c.BusyWorkers(), 4);

  // Sorted descending by port while everything is in flight, then replaced by another
  // program's list: the dead proxy is gone, the others come back in another order.
  list.SortRows(CProxyListModel::ColPort, false);
  list.Clear();
  for (const std::string& l :
       {line(p.HttpProxyPort(), "HTTPS", "works too"), line(p.SilentPort(), "HTTP", "silent"),
        line(p.HttpProxyPort(), "HTTP", "works")})
    ASSERT_EQ(list.AddProxyLine(l, 0), 1);

  ASSERT_TRUE(WaitIdle(8000));
  ASSERT_EQ(list.RowCount(), 3);
  std::map<std::string, std::string> byRemark;
  for (int r = 0; r < list.RowCount(); ++r)
    byRemark[std::string(list.Entry(r)->Remark())] = list.Entry(r)->TimeStatus();
  EXPECT_TRUE(IsTime(byRemark["works"])) << byRemark["works"];
  EXPECT_TRUE(IsTime(byRemark["works too"])) << byRemark["works too"];
  EXPECT_EQ(byRemark["silent"], "超时");
  EXPECT_EQ(byRemark.count("dead"), 0u);
  EXPECT_TRUE(list.KeysMatchRows());
}

TEST_F(VerifyControlTest, AbandonKeepsFinishedResults) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  g_nVerifyTimeoutMs = 30000;
  Resources(p.OriginUrl("/feature.html"), p.Feature());
  Row(p.SilentPort(), "HTTP");
  Row(p.DeadPort(), "HTTP");
  Row(p.DeadPort(), "HTTPS");
  settings.m_nThreadNumber = 2;
  CVerifyControl& c = Control();
  int made = 0;
  c.SetWorkerFactory([&]() -> CVerifyProxyThread* { return ++made <= 2 ? new CVerifyProxyThread : nullptr; });
  c.SetWatchdogPeriod(600);
  c.OnVerifyAll();
  ASSERT_TRUE(WaitIdle(4000));
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.back(), RunNotice::WorkerLost);
  EXPECT_EQ(RunNoticeText(RunNotice::WorkerLost).icon, qb::MsgIcon::None);
  EXPECT_EQ(Text(0), "未验证");
  EXPECT_EQ(Text(1), "连接失败");
  EXPECT_EQ(Text(2), "连接失败");
  EXPECT_EQ(c.BusyWorkers(), 0);
}

// Exit while workers are stuck in long requests: nothing waits on a worker, no
// running thread is destroyed, and every thread is gone well within two seconds.
TEST_F(VerifyControlTest, ExitWithStuckWorkersEndsPromptly) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  g_nVerifyTimeoutMs = 30000;
  Resources(p.OriginUrl("/hang"), p.Feature());
  SameProxyRows(p.HttpProxyPort(), 2);
  Row(p.SilentPort(), "HTTP");
  Row(p.SilentPort(), "SOCKS5");
  const int liveBefore = CVerifyProxyThread::LiveThreadCount();
  CVerifyControl& c = Control();
  c.OnVerifyAll();
  EXPECT_EQ(CVerifyProxyThread::LiveThreadCount(), liveBefore + 4);
  QTest::qWait(300);
  ASSERT_EQ(c.BusyWorkers(), 4);

  QElapsedTimer clock;
  clock.start();
  control.reset();  // the window goes away
  EXPECT_LT(clock.elapsed(), 100);
  EXPECT_TRUE(CVerifyControl::DrainWorkers(2000));
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(CVerifyProxyThread::LiveThreadCount(), liveBefore);
}

TEST_F(VerifyControlTest, PeriodicTimers) {
  settings.m_bAutoTimingVerify = 1;
  CVerifyControl& c = Control();
  QSignalSpy tray(&c, &CVerifyControl::TrayIconRefresh);
  QSignalSpy progress(&c, &CVerifyControl::ProgressCounts);
  QSignalSpy hint(&c, &CVerifyControl::HintDue);
  c.OnTimer(TIMER_AUTO_VERIFY);  // like the button on an empty list
  EXPECT_EQ(notices, std::vector<RunNotice>{RunNotice::EmptyList});
  settings.m_bAutoTimingVerify = 0;
  c.OnTimer(TIMER_AUTO_VERIFY);
  EXPECT_EQ(notices.size(), 1u);
  c.OnTimer(TIMER_HINT);
  EXPECT_EQ(hint.count(), 1);
  EXPECT_EQ(progress.count(), 0);
  c.OnTimer(TIMER_RECYCLE_THREADS);
  EXPECT_EQ(tray.count(), 4);  // every tick
}

}  // namespace

namespace {

// The end of a run that cannot save the list says so, with the file it meant.
TEST_F(VerifyControlTest, EndOfRunReportsAFailedSave) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  Resources(p.OriginUrl("/feature.html"), p.Feature());
  // The list of a directory that cannot be made: its end cannot save it.
  qbtest::WriteFile(dir.File("no"), "a file where a directory should be");
  const std::string missing = dir.File("no/such-dir/");
  const auto gone = qbtest::OpenTestDir(missing);
  gone->Settings().m_aVerifySources = settings.m_aVerifySources;
  ASSERT_EQ(gone->List().AddProxyLine("127.0.0.1:" + std::to_string(p.DeadPort()) + "@HTTP", 0), 1);
  CVerifyControl c(*gone);
  std::vector<qb::OpResult> saves;
  QObject::connect(&c, &CVerifyControl::ListSaved, [&](const qb::OpResult& r) { saves.push_back(r); });
  c.OnVerifyAll();
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.IsIdle(); }, 5000));
  ASSERT_EQ(saves.size(), 1u);
  EXPECT_EQ(saves[0].status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(saves[0].path.rfind(missing, 0), 0u) << saves[0].path;
  EXPECT_EQ(gone->List().Entry(0)->TimeStatus(), "连接失败");  // the result itself stands
}

}  // namespace
