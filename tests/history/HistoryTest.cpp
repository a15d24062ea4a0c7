// The verification history: the database, its batches, its repair and migration, the
// scores, the list's extra columns, the favourites by score and the history command.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFileInfo>

#include <QEventLoop>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "history/History.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/FailureMessages.h"
#include "ui/HistoryColumns.h"
#include "ui/SortListCtrl.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyTask.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

namespace fs = std::filesystem;

HistoryRecord Ok(const std::string& proxy, std::int64_t when, double seconds) {
  return {proxy, when, "http://127.0.0.1/page", VERIFY_OK, qb::Format("%.1f", seconds), seconds, {}, {}};
}
HistoryRecord Failed(const std::string& proxy, std::int64_t when) {
  return {proxy, when, "http://127.0.0.1/page", VERIFY_PROXYFAILED, "连接失败", 50.0, {}, {}};
}

int UserVersion(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
  const int v = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
  sqlite3_finalize(s);
  return v;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  qb::ForEachLine(text, [&](std::string_view l) { lines.emplace_back(l); });
  return lines;
}

std::vector<std::string> DamagedFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().rfind(std::string("History.sqlite.damaged-"), 0) == 0)
      out.push_back(e.path().string());
  }
  return out;
}

TEST(HistoryScore, UptimeAndMedianOverTheLatestTwentyChecks) {
  ProxyScore s;
  // Newest first: 3 successes (0.4, 0.2, 0.9), 2 failures.
  const std::vector<std::pair<bool, double>> five{
      {true, 0.4}, {false, 50}, {true, 0.2}, {false, 50}, {true, 0.9}};
  ScoreChecks(s, five);
  EXPECT_EQ(s.checks, 5);
  EXPECT_EQ(s.successes, 3);
  EXPECT_DOUBLE_EQ(s.Uptime(), 0.6);
  EXPECT_DOUBLE_EQ(*s.medianSeconds, 0.4);

  // An even count takes the mean of the middle two; failures never count as times.
  const std::vector<std::pair<bool, double>> four{
      {true, 1.0}, {true, 3.0}, {false, 0.1}, {true, 2.0}, {true, 9.0}};
  ScoreChecks(s, four);
  EXPECT_DOUBLE_EQ(*s.medianSeconds, 2.5);

  // Only the newest 20 count: 20 failures followed by old successes give 0.
  std::vector<std::pair<bool, double>> many(20, {false, 50});
  many.insert(many.end(), 10, {true, 0.1});
  ScoreChecks(s, many);
  EXPECT_EQ(s.checks, kScoreWindow);
  EXPECT_EQ(s.successes, 0);
  EXPECT_FALSE(s.medianSeconds);
}

TEST(HistoryStore, ResultsAndScoresReadBackNewestFirst) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  const std::string a = "127.0.0.1:8080@HTTP", b = "127.0.0.1:8080@SOCKS5";
  std::vector<HistoryRecord> batch{Ok(a, 100, 0.5), Failed(a, 200), Ok(a, 300, 1.5), Ok(b, 150, 2.0)};
  batch[2].anonymity = "elite";
  batch[2].exitAddress = "127.0.0.9";
  ASSERT_TRUE(store->Append(batch));
  // A later result without a judge keeps the last anonymity known.
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Ok(a, 400, 0.7)}));

  const auto results = store->Results(a, 0);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].when, 400);
  EXPECT_EQ(results[1].anonymity, "elite");
  EXPECT_EQ(results[1].exitAddress, "127.0.0.9");
  EXPECT_EQ(results[2].status, "连接失败");
  EXPECT_EQ(results[2].resource, "http://127.0.0.1/page");
  EXPECT_EQ(store->Results(a, 2).size(), 2u);
  // Without a type every type of the address and port.
  EXPECT_EQ(store->Results("127.0.0.1:8080", 0).size(), 5u);
  EXPECT_TRUE(store->Results("127.0.0.1:808", 0).empty());

  const auto scores = store->Scores({a, b, "10.0.0.1:1@HTTP"});
  ASSERT_EQ(scores.size(), 2u);
  const ProxyScore& sa = scores.at(a);
  EXPECT_EQ(sa.checks, 4);
  EXPECT_EQ(sa.successes, 3);
  EXPECT_DOUBLE_EQ(*sa.medianSeconds, 0.7);
  EXPECT_EQ(sa.lastStatus, "0.7");
  EXPECT_EQ(sa.anonymity, "elite");
  EXPECT_EQ(sa.exitAddress, "127.0.0.9");
  EXPECT_EQ(store->AllScores().size(), 2u);
}

TEST(HistoryStore, ThinningDeletesOldResultsAtMostOnceADay) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  const std::int64_t now = 400 * 86400;
  const std::string p = "127.0.0.1:1@HTTP", gone = "127.0.0.1:2@HTTP";
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{
      Ok(gone, now - 95 * 86400, 1), Ok(p, now - 91 * 86400, 1), Ok(p, now - 89 * 86400, 1), Ok(p, now, 1)}));
  store->ThinIfDue(now, 90);
  EXPECT_EQ(store->ResultCount(), 2);
  // The proxy left without results is gone too.
  EXPECT_TRUE(store->Scores({gone}).empty());
  // Within the day the next start does not thin again.
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Ok(p, now - 200 * 86400, 1)}));
  store->ThinIfDue(now + 3600, 90);
  EXPECT_EQ(store->ResultCount(), 3);
  store->ThinIfDue(now + 86400, 90);
  EXPECT_EQ(store->ResultCount(), 2);
}

// A resumed run passes over what was checked since a point: any result at or after it
// counts, a failure too, and what was only checked before it does not.
TEST(HistoryStore, ProxiesCheckedSinceAPoint) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  const std::int64_t now = 1'800'000'000;
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{
      Ok("127.0.0.1:1@HTTP", now - 10 * 3600, 1), Ok("127.0.0.1:1@HTTP", now - 3600, 1),
      Failed("127.0.0.1:2@SOCKS5", now - 2 * 3600), Ok("127.0.0.1:3@HTTP", now - 3 * 3600, 1),
      Ok("127.0.0.1:4@HTTP", now - 30 * 86400, 1)}));
  auto since = [&](std::int64_t t) {
    std::vector<std::string> names = store->ProxiesCheckedSince(t);
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(since(now - 3 * 3600),
            (std::vector<std::string>{"127.0.0.1:1@HTTP", "127.0.0.1:2@SOCKS5", "127.0.0.1:3@HTTP"}));
  EXPECT_EQ(since(now - 3 * 3600 + 1), (std::vector<std::string>{"127.0.0.1:1@HTTP", "127.0.0.1:2@SOCKS5"}));
  EXPECT_EQ(since(now - 3599), std::vector<std::string>{});
  EXPECT_EQ(since(0).size(), 4u);

  EXPECT_EQ(ParseHistorySince("36h", now), now - 36 * 3600);
  EXPECT_EQ(ParseHistorySince("36", now), now - 36 * 3600);
  EXPECT_EQ(ParseHistorySince("90m", now), now - 90 * 60);
  EXPECT_EQ(ParseHistorySince(" 7d ", now), now - 7 * 86400);
  EXPECT_EQ(ParseHistorySince("1.5d", now), now - 36 * 3600);
  EXPECT_EQ(ParseHistorySince("2w", now), now - 14 * 86400);
  EXPECT_EQ(ParseHistorySince("2026-12-01T08:30:00Z", now), 1796113800);
  EXPECT_EQ(ParseHistorySince("2026-12-01T08:30", now),
            QDateTime(QDate(2026, 12, 1), QTime(8, 30)).toSecsSinceEpoch());
  EXPECT_EQ(ParseHistorySince("2026-12-01", now), QDate(2026, 12, 1).startOfDay().toSecsSinceEpoch());
  for (const char* bad : {"", "h", "-3h", "3y", "yesterday", "2026-13-01", "3 h"})
    EXPECT_EQ(ParseHistorySince(bad, now), std::nullopt) << bad;
}

int CountCommit(void* count) {
  ++*static_cast<int*>(count);
  return 0;
}

TEST(HistoryRecorder, OneTransactionPerBatch) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  int commits = 0;
  sqlite3_commit_hook(store->Handle(), CountCommit, &commits);
  {
    CHistoryRecorder recorder(*store);
    for (int i = 0; i < 1234; ++i)
      recorder.Add(Ok("127.0.0.1:" + std::to_string(1 + i % 300) + "@HTTP", i, 0.1));
    EXPECT_EQ(commits, 2);
    EXPECT_EQ(recorder.Pending(), 234u);
    EXPECT_EQ(store->ResultCount(), 1000);
    recorder.Flush();
    EXPECT_EQ(commits, 3);
    // An old buffer goes out with the next result, whatever its size.
    recorder.Add(Ok("127.0.0.1:1@HTTP", 5000, 0.1));
    QTest::qWait(static_cast<int>(CHistoryRecorder::kBatchAge.count()) + 50);
    recorder.Add(Ok("127.0.0.1:1@HTTP", 5001, 0.1));
    EXPECT_EQ(commits, 4);
    EXPECT_EQ(recorder.Pending(), 0u);
  }
  EXPECT_EQ(store->ResultCount(), 1236);
  sqlite3_commit_hook(store->Handle(), nullptr, nullptr);
}

TEST(HistoryStore, ADamagedFileIsMovedAsideAndRebuiltWithAMessage) {
  qbtest::ScriptedPrompt prompt;
  qbtest::TempDir dir;
  const std::string path = dir.File("History.sqlite");

  // Not a database at all: the directory moves it aside, the window says so.
  qbtest::WriteFile(path, std::string(4096, 'x'));
  auto data = qbtest::OpenTestDir(dir.Path());
  const HistoryOpening opening = data->OpenHistory();
  EXPECT_TRUE(ReportHistoryOpening(opening, path));
  std::unique_ptr<CHistoryStore> store;
  ASSERT_TRUE(data->History());
  ASSERT_EQ(prompt.messages.size(), 1u);
  const auto damaged = DamagedFiles(dir.Path());
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_NE(prompt.messages[0].text.find(damaged[0]), std::string::npos) << prompt.messages[0].text;
  EXPECT_EQ(qbtest::ReadFile(damaged[0]), std::string(4096, 'x'));
  EXPECT_TRUE(data->History()->Append(std::vector<HistoryRecord>{Ok("127.0.0.1:1@HTTP", 1, 0.1)}));
  data.reset();

  // A schema from a newer program.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  CHistoryStore::OpenReport report;
  store = CHistoryStore::Open(dir.File("History.sqlite"), &report);
  ASSERT_TRUE(store);
  EXPECT_FALSE(report.movedAside.empty());
  EXPECT_NE(report.reason.find("newer"), std::string::npos) << report.reason;
  EXPECT_EQ(store->ResultCount(), 0);
  EXPECT_EQ(UserVersion(store->Handle()), HistoryMigrations().back().version);
  store.reset();

  // Another program's database.
  fs::remove(path);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  store = CHistoryStore::Open(dir.File("History.sqlite"), &report);
  ASSERT_TRUE(store);
  EXPECT_FALSE(report.movedAside.empty());
  EXPECT_EQ(DamagedFiles(dir.Path()).size(), 3u);

  // A healthy one is opened as it is, silently.
  store.reset();
  prompt.messages.clear();
  data = qbtest::OpenTestDir(dir.Path());
  EXPECT_TRUE(ReportHistoryOpening(data->OpenHistory(), path));
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(DamagedFiles(dir.Path()).size(), 3u);
}

TEST(HistoryStore, AnOlderVersionIsMigratedKeepingItsResults) {
  qbtest::TempDir dir;
  {
    auto v1 = CHistoryStore::Open(dir.File("History.sqlite"));
    ASSERT_TRUE(v1);
    EXPECT_EQ(UserVersion(v1->Handle()), 1);
    ASSERT_TRUE(v1->Append(std::vector<HistoryRecord>{Ok("127.0.0.1:1@HTTP", 10, 0.3)}));
  }
  // The next version's step, as a later program would add it.
  std::vector<HistoryMigration> steps(HistoryMigrations().begin(), HistoryMigrations().end());
  steps.push_back({2, "ALTER TABLE result ADD COLUMN note TEXT; UPDATE result SET note = 'old'"});
  CHistoryStore::OpenReport report;
  auto v2 = CHistoryStore::Open(dir.File("History.sqlite"), &report, steps);
  ASSERT_TRUE(v2);
  EXPECT_TRUE(report.movedAside.empty()) << report.reason;
  EXPECT_EQ(UserVersion(v2->Handle()), 2);
  EXPECT_EQ(v2->ResultCount(), 1);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(v2->Handle(), "SELECT note FROM result", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "old");
  sqlite3_finalize(s);
  // WAL, so that the command line can read while the window writes.
  sqlite3_prepare_v2(v2->Handle(), "PRAGMA journal_mode", -1, &s, nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "wal");
  sqlite3_finalize(s);
}

TEST(HistoryOptions, TheHistorySectionOfOptionsIni) {
  ExtraOptions o = ParseOptionsFile("[History]\nKeepDays=30\nFavoritesByScore=1\n");
  EXPECT_EQ(o.history.keepDays, 30);
  EXPECT_TRUE(o.history.favoritesByScore);
  EXPECT_EQ(ParseOptionsFile(FormatOptionsFile(o)), o);
  o = ParseOptionsFile("[History]\nKeepDays=-3\nFavoritesByScore=maybe\n");
  EXPECT_EQ(o.history.keepDays, kDefaultKeepDays);
  EXPECT_FALSE(o.history.favoritesByScore);
}

// The list's five columns stay as they were; the history's follow them only when
// attached, and sort by their values.
TEST(HistoryColumns, ExtraColumnsShowAndSortTheScores) {
  CProxyListModel list;
  for (const char* line : {"127.0.0.1:1@HTTP", "127.0.0.1:2@HTTP", "127.0.0.1:3@HTTP"})
    list.AddProxyLine(line, 0);
  list.SetTimeStatus(0, "0.5");
  EXPECT_EQ(list.columnCount(), CProxyListModel::ColumnCount);

  CHistoryColumns columns;
  std::unordered_map<std::string, ProxyScore> scores;
  auto score = [](const char* proxy, int ok, int checks, double median, const char* anonymity) {
    ProxyScore s;
    s.proxy = proxy;
    s.successes = ok;
    s.checks = checks;
    s.medianSeconds = median;
    s.anonymity = anonymity;
    return s;
  };
  scores["127.0.0.1:1@HTTP"] = score("127.0.0.1:1@HTTP", 5, 10, 0.4, "transparent");
  scores["127.0.0.1:2@HTTP"] = score("127.0.0.1:2@HTTP", 9, 10, 0.8, "elite");
  columns.SetScores(scores);
  list.SetExtraColumns(&columns);
  ASSERT_EQ(list.columnCount(), CProxyListModel::ColumnCount + CHistoryColumns::Count_);
  const int uptime = CProxyListModel::ColumnCount + CHistoryColumns::Uptime;
  const int median = CProxyListModel::ColumnCount + CHistoryColumns::Median;
  EXPECT_EQ(list.headerData(uptime, Qt::Horizontal).toString(), qb::Tr(kHeaderUptime));
  EXPECT_EQ(list.data(list.index(0, uptime)).toString(), "50% (5/10)");
  EXPECT_EQ(list.data(list.index(0, median)).toString(), "0.4");
  EXPECT_TRUE(list.data(list.index(2, uptime)).toString().isEmpty());
  EXPECT_EQ(list.data(list.index(0, CProxyListModel::ColTimeStatus)).toString(), "0.5");

  // Best first: the highest uptime; a proxy without history last.
  list.sort(uptime, Qt::AscendingOrder);
  EXPECT_EQ(list.GetProxyLine(0), "127.0.0.1:2@HTTP");
  EXPECT_EQ(list.GetProxyLine(2), "127.0.0.1:3@HTTP");
  list.sort(median, Qt::AscendingOrder);
  EXPECT_EQ(list.GetProxyLine(0), "127.0.0.1:1@HTTP");
  list.sort(CProxyListModel::ColumnCount + CHistoryColumns::Anonymity, Qt::AscendingOrder);
  EXPECT_EQ(list.GetProxyLine(0), "127.0.0.1:2@HTTP");

  list.SetExtraColumns(nullptr);
  EXPECT_EQ(list.columnCount(), CProxyListModel::ColumnCount);
}

// The country column names where a proxy's traffic comes out: the exit address a judge
// saw when there is one, else the proxy's own address (the system's country database).
TEST(HistoryColumnsView, TheCountryIsThatOfTheExitAddressElseOfTheProxy) {
  if (!QFileInfo::exists(QStringLiteral("/usr/share/GeoIP/GeoIP.dat")))
    GTEST_SKIP() << "the system's country database is not installed";
  CProxyListModel list;
  for (const char* line : {"8.8.8.8:80@HTTP", "127.0.0.1:2@HTTP", "127.0.0.1:3@HTTP"})
    list.AddProxyLine(line, 0);
  CHistoryColumns columns;
  ProxyScore judged;
  judged.exitAddress = "8.8.4.4";
  columns.SetScores({{"127.0.0.1:2@HTTP", judged}});
  list.SetExtraColumns(&columns);
  const int country = CProxyListModel::ColumnCount + CHistoryColumns::Country;
  EXPECT_EQ(list.headerData(country, Qt::Horizontal).toString(), qb::Tr(kHeaderCountry));
  EXPECT_EQ(list.data(list.index(0, country)).toString(), "美国");
  EXPECT_EQ(list.data(list.index(1, country)).toString(), "美国");
  EXPECT_TRUE(list.data(list.index(2, country)).toString().isEmpty());
  // Rows without a known country sort last.
  list.sort(country, Qt::AscendingOrder);
  EXPECT_EQ(list.GetProxyLine(2), "127.0.0.1:3@HTTP");
  list.SetExtraColumns(nullptr);
}

TEST(HistoryFavorites, ByScoreRanksUptimeThenMedian) {
  CProxyListModel list;
  // Sorted by this run's time; the last one failed now and is never chosen.
  const char* rows[][2] = {{"127.0.0.1:1@HTTP", "0.2"},
                           {"127.0.0.1:2@HTTP", "0.3"},
                           {"127.0.0.1:3@HTTP", "0.4"},
                           {"127.0.0.1:4@SOCKS5", "0.5"},
                           {"127.0.0.1:5@HTTP", "连接失败"}};
  for (const auto& [line, status] : rows) {
    list.AddProxyLine(line, 0);
    list.SetTimeStatus(list.RowCount() - 1, status);
  }
  CSettings settings;
  settings.m_bAutoAddToFavorite = 1;
  settings.m_nFavorites = 2;
  std::unordered_map<std::string, ProxyScore> scores;
  auto put = [&](const std::string& p, int ok, double median) {
    ProxyScore& s = scores[p];
    s.proxy = p;
    s.checks = 10;
    s.successes = ok;
    s.medianSeconds = median;
  };
  put("127.0.0.1:1@HTTP", 4, 0.2);
  put("127.0.0.1:2@HTTP", 9, 0.9);
  put("127.0.0.1:3@HTTP", 9, 0.5);
  put("127.0.0.1:5@HTTP", 10, 0.1);
  ChooseFavoritesByScore(list, settings, scores);
  EXPECT_FALSE(list.IsFavorite(0));
  EXPECT_TRUE(list.IsFavorite(1));
  EXPECT_TRUE(list.IsFavorite(2));
  EXPECT_FALSE(list.IsFavorite(4));
  // The documented rule would have taken the two fastest of this run.
  ChooseFavorites(list, settings);
  EXPECT_TRUE(list.IsFavorite(0));
  EXPECT_TRUE(list.IsFavorite(1));
  EXPECT_FALSE(list.IsFavorite(2));
}

// A run hands every result to the history and writes it before it ends, so that the
// favourites chosen at its end already rank by this run's results too.
TEST(HistoryRun, ARunIsWrittenBeforeItEndsAndItsFavouritesRankByScore) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  const std::string port = std::to_string(p.HttpProxyPort());
  const std::string http = "127.0.0.1:" + port + "@HTTP", https = "127.0.0.1:" + port + "@HTTPS";
  // The same proxy under two types: equally fast now, but one failed all along before.
  std::vector<HistoryRecord> past;
  for (int i = 0; i < 10; ++i) {
    past.push_back(Failed(http, HistoryNow() - 1000 + i));
    past.push_back(Ok(https, HistoryNow() - 1000 + i, 0.3));
  }
  ASSERT_TRUE(store->Append(past));

  CProxyListModel list;
  for (const std::string& line : {http, https, "127.0.0.1:" + std::to_string(p.DeadPort()) + "@HTTP"})
    list.AddProxyLine(line, 0);
  CSettings settings;
  settings.m_aVerifySources.clear();
  const std::string page = p.OriginUrl("/feature.html");
  settings.m_aVerifySources.push_back({"http", page, p.Feature(), 1});
  settings.m_nThreadNumber = 3;
  settings.m_bAutoAddToFavorite = 1;
  settings.m_nFavorites = 1;
  CHistoryRecorder recorder(*store);
  CVerifyControl control(list, settings);
  control.SetHistory(&recorder);
  control.SetFavoritesByScore(true);
  std::int64_t writtenAtEnd = -1;
  QEventLoop loop;
  QObject::connect(&control, &CVerifyControl::RunEnded, [&] {
    writtenAtEnd = store->ResultCount();
    loop.quit();
  });
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  control.OnVerifyAll();
  loop.exec();
  ASSERT_EQ(writtenAtEnd, 23);
  const auto latest = store->Results(http, 1);
  ASSERT_EQ(latest.size(), 1u);
  EXPECT_EQ(latest[0].code, VERIFY_OK);
  EXPECT_EQ(latest[0].resource, page);
  EXPECT_NEAR(latest[0].when, HistoryNow(), 30);
  EXPECT_EQ(store->Results("127.0.0.1:" + std::to_string(p.DeadPort()), 0).at(0).status, "连接失败");
  for (int r = 0; r < list.RowCount(); ++r) EXPECT_EQ(list.IsFavorite(r), list.GetProxyLine(r) == https) << r;
  CVerifyControl::DrainWorkers(3000);
}

// verify over the directory's list records each result; the history command reads
// them back; verify FILE records nothing.
TEST(HistoryCommand, VerifyRecordsAndHistoryPrints) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  const std::string dead = "127.0.0.1:" + std::to_string(p.DeadPort()) + "@HTTP";
  const std::string http = "127.0.0.1:" + std::to_string(p.HttpProxyPort()) + "@HTTP";
  qbtest::WriteFile(data.File("Proxies.pro"), dead + "\r\n" + http + "\r\n");
  const std::string page = p.OriginUrl("/feature.html");
  auto verify = [&](std::vector<std::string> extra) {
    std::vector<std::string> a{"--data-dir", data.Path(),        "verify", "--connect-timeout",
                               "2",          "--verify-timeout", "2",      "--http",
                               page,         p.Feature()};
    a.insert(a.end(), extra.begin(), extra.end());
    return qbtest::RunCli(a);
  };
  auto history = [&](std::vector<std::string> extra) {
    std::vector<std::string> a{"--data-dir", data.Path(), "history"};
    a.insert(a.end(), extra.begin(), extra.end());
    return qbtest::RunCli(a);
  };

  EXPECT_EQ(history({}).exitCode, 1);
  const std::string file = data.File("other.txt");
  qbtest::WriteFile(file, http + "\n");
  ASSERT_EQ(verify({file}).exitCode, 0);
  EXPECT_FALSE(fs::exists(data.File("History.sqlite")));

  for (int run = 0; run < 2; ++run) {
    const auto r = verify({});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  auto r = history({});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  // By name: the dead port and the proxy, in the order of their names.
  const std::string& deadLine = lines[0].rfind(dead, 0) == 0 ? lines[0] : lines[1];
  const std::string& httpLine = lines[0].rfind(http, 0) == 0 ? lines[0] : lines[1];
  EXPECT_EQ(deadLine, dead + " 0% - 2 连接失败 - -");
  EXPECT_EQ(httpLine.rfind(http + " 100% ", 0), 0u) << httpLine;

  r = history({http, "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto csv = Lines(r.out);
  ASSERT_EQ(csv.size(), 3u) << r.out;
  EXPECT_EQ(csv[0], "proxy,time,status,seconds,resource,anonymity,exit_address,state,trust");
  EXPECT_NE(csv[1].find("," + page + ","), std::string::npos) << csv[1];
  EXPECT_GE(csv[1].substr(http.size() + 1, 20), csv[2].substr(http.size() + 1, 20));

  r = history({"127.0.0.1:" + std::to_string(p.DeadPort()), "--format=json", "--limit", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
  EXPECT_NE(r.out.find("\"status\":\"连接失败\",\"state\":\"failed\",\"seconds\":null"), std::string::npos)
      << r.out;
  // The scores carry the state of the last result too, in both formats, and the
  // trust verdict: a plain page that seals nothing tells none.
  r = history({"--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out)[0].substr(Lines(r.out)[0].rfind(",state")), ",state,trust") << r.out;
  EXPECT_NE(r.out.find(",连接失败,,,failed,unchecked\r\n"), std::string::npos) << r.out;
  r = history({"--format", "json"});
  EXPECT_NE(r.out.find("\"last_status\":\"连接失败\",\"state\":\"failed\""), std::string::npos) << r.out;

  // A known proxy that has no results is "nothing found"; a word that is no proxy at
  // all is a mistake on the line, and says so.
  EXPECT_EQ(history({"127.0.0.1:1@HTTP"}).exitCode, 1);
  EXPECT_EQ(history({"127.0.0.1:1"}).exitCode, 1);
  for (const char* bad : {"notaproxy", "127.0.0.1", "127.0.0.1:99999", "127.0.0.1:80@HTTP$x"}) {
    r = history({bad});
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_EQ(r.err.rfind(std::string("history: ") + bad + " is no proxy", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(history({"--format", "xml"}).exitCode, 2);
  EXPECT_EQ(history({"--limit", "0"}).exitCode, 2);
}

// A FILE verified again passes over what the directory's history checked since the
// point given, and only that.
TEST(HistoryCommand, VerifyResumedFromTheHistorySkipsWhatItChecked) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  const std::string dead = "127.0.0.1:" + std::to_string(p.DeadPort()) + "@HTTP";
  const std::string http = "127.0.0.1:" + std::to_string(p.HttpProxyPort()) + "@HTTP";
  const std::string fresh = "127.0.0.2:" + std::to_string(p.DeadPort()) + "@HTTP";
  auto verify = [&](std::vector<std::string> extra) {
    std::vector<std::string> a{
        "--data-dir",       data.Path(), "verify", "--connect-timeout",          "2",
        "--verify-timeout", "2",         "--http", p.OriginUrl("/feature.html"), p.Feature()};
    a.insert(a.end(), extra.begin(), extra.end());
    return qbtest::RunCli(a);
  };
  const std::string file = data.File("list.txt");
  // The type in another case is the same proxy.
  qbtest::WriteFile(
      file, "127.0.0.1:" + std::to_string(p.HttpProxyPort()) + "@http\n" + dead + "\n" + fresh + "\n");
  // No history yet: nothing is skipped, and none is made.
  auto r = verify({"--resume-history", "1h", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
  EXPECT_FALSE(fs::exists(data.File("History.sqlite")));

  qbtest::WriteFile(data.File("Proxies.pro"), dead + "\r\n" + http + "\r\n");
  ASSERT_EQ(verify({}).exitCode, 0);
  for (const char* since : {"1h", "2000-01-01"}) {
    r = verify({"--resume-history", since, file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{fresh + "$连接失败"}) << since;
  }
  r = verify({"--resume-history", "2999-01-01", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;

  EXPECT_EQ(verify({"--resume-history", "soon", file}).exitCode, 2);
  EXPECT_EQ(verify({"--resume-history", "1h"}).exitCode, 2);
}

// The window records its runs and shows the columns only when asked, remembering it.
TEST(HistoryWindow, ColumnsHiddenByDefaultShownOnRequestAndRemembered) {
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  qbtest::WriteFile(data.File("Proxies.pro"), "127.0.0.1:1@HTTP$0.5\r\n127.0.0.1:2@HTTP$连接失败\r\n");
  qbtest::WriteFile(
      data.File("Setting.dat"),
      "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\nm_bMinimize=0\r\nm_bAutoRun=0\r\n");
  {
    auto store = CHistoryStore::Open(data.File("History.sqlite"));
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Ok("127.0.0.1:1@HTTP", HistoryNow() - 20, 0.4),
                                                         Failed("127.0.0.1:1@HTTP", HistoryNow() - 10)}));
  }
  auto open = [&] {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    o.windowStateIni = config.File("Quillberry/window.ini");
    return qbtest::OpenTestWindow(data.Path(), config.File("quillberry-test.INI"), std::move(o));
  };
  auto dlg = open();
  CSortListCtrl* view = dlg->ListView();
  for (int c = 0; c < CProxyListModel::ColumnCount; ++c) EXPECT_FALSE(view->isColumnHidden(c));
  for (int c = 0; c < CHistoryColumns::Count_; ++c) EXPECT_FALSE(dlg->HistoryColumnShown(c)) << c;
  EXPECT_EQ(dlg->ListView()->horizontalHeader()->contextMenuPolicy(), Qt::CustomContextMenu);
  // The row's figures are there before any column is shown.
  const int uptime = CProxyListModel::ColumnCount + CHistoryColumns::Uptime;
  const int row = dlg->Dir().List().GetProxyLine(0) == "127.0.0.1:1@HTTP" ? 0 : 1;
  EXPECT_EQ(dlg->Dir().List().data(dlg->Dir().List().index(row, uptime)).toString(), "50% (1/2)");

  QMenu* menu = dlg->HistoryColumnsMenu();
  ASSERT_EQ(menu->actions().size(), CHistoryColumns::Count_);
  EXPECT_EQ(menu->actions()[CHistoryColumns::Median]->text(), qb::Tr(kHeaderMedian));
  menu->actions()[CHistoryColumns::Median]->trigger();
  EXPECT_TRUE(dlg->HistoryColumnShown(CHistoryColumns::Median));
  EXPECT_FALSE(dlg->HistoryColumnShown(CHistoryColumns::Uptime));
  dlg->CloseTray();
  dlg.reset();

  auto again = open();
  EXPECT_TRUE(again->HistoryColumnShown(CHistoryColumns::Median));
  EXPECT_FALSE(again->HistoryColumnShown(CHistoryColumns::Anonymity));
  EXPECT_TRUE(again->HistoryColumnsMenu()->actions()[CHistoryColumns::Median]->isChecked());
  for (const auto& m : prompt.messages) ADD_FAILURE() << m.caption << ": " << m.text;
  again->CloseTray();
}

}  // namespace
