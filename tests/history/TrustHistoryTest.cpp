// The checks' trust verdicts as the history keeps them, and what leaves out the proxies
// caught tampering: the favourites, the failover script's chain and the endpoint's pool.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "app/MainDlg.h"
#include "base/Translate.h"
#include "endpoint/Endpoint.h"
#include "history/History.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "proxy/VerifyStatus.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/HistoryColumns.h"
#include "ui/SortListCtrl.h"

using namespace qb;

namespace {

HistoryRecord Check(const std::string& proxy, std::int64_t when, int code, const char* trust,
                    const char* cert = "") {
  HistoryRecord r{proxy, when, "https://127.0.0.1/", code, code == VERIFY_OK ? "0.3" : "x", 0.3, {}, {}};
  r.trust = trust;
  r.certSha256 = cert;
  return r;
}

std::vector<std::string> Column(sqlite3* db, const char* sql) {
  std::vector<std::string> out;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
    return {"<" + std::string(sqlite3_errmsg(db)) + ">"};
  while (sqlite3_step(s) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(s, 0);
    out.emplace_back(t ? reinterpret_cast<const char*>(t) : "NULL");
  }
  sqlite3_finalize(s);
  return out;
}

bool Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A check that could not tell leaves the verdict; a later one replaces it, a result
// merged from elsewhere that is older than what the history holds does not.
TEST(HistoryTrust, TheLatestVerdictStandsAndOneThatCouldNotTellLeavesIt) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  const std::string a = "127.0.0.1:1@HTTP", b = "127.0.0.1:2@HTTP";
  const std::string cert(64, 'a');
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Check(a, 10, VERIFY_OK, "clean", cert.c_str()),
                                                       Check(b, 10, VERIFY_OK, "")}));
  auto scores = store->Scores({a, b});
  EXPECT_EQ(scores[a].trust, "clean");
  EXPECT_EQ(scores[b].trust, "");
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Check(a, 20, VERIFY_OK, "")}));
  EXPECT_EQ(store->Scores({a})[a].trust, "clean");
  EXPECT_TRUE(store->TamperingProxies().empty());

  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{Check(a, 30, VERIFY_MODIFIED, "modified")}));
  EXPECT_EQ(store->Scores({a})[a].trust, "modified");
  EXPECT_EQ(store->TamperingProxies(), (std::unordered_set<std::string>{a}));
  std::int64_t added = 0;
  ASSERT_TRUE(store->AppendNew(std::vector<HistoryRecord>{Check(a, 25, VERIFY_OK, "clean")}, &added));
  EXPECT_EQ(added, 1);
  EXPECT_EQ(store->Scores({a})[a].trust, "modified") << "an older result merged later is not the latest";
  ASSERT_TRUE(
      store->AppendNew(std::vector<HistoryRecord>{Check(b, 40, VERIFY_TLS_INTERCEPTED, "tls-intercepted")}));
  EXPECT_EQ(store->TamperingProxies(), (std::unordered_set<std::string>{a, b}));

  const std::vector<HistoryRecord> results = store->Results(a, 0);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].trust, "modified");
  EXPECT_EQ(results[2].trust, "");
  EXPECT_EQ(results[3].trust, "clean");
  EXPECT_EQ(results[3].certSha256, cert);
  EXPECT_EQ(results[2].certSha256, "");
}

// The columns are added beside the schema: an older version, which names the columns
// it writes and reads, goes on using the file; a file it made is read and gains them.
TEST(HistoryTrust, AFileOfTheOlderSchemaStaysOneBothVersionsUse) {
  qbtest::TempDir dir;
  const std::string path = dir.File("History.sqlite");
  const std::string a = "127.0.0.1:1@HTTP";
  // What the older version made: the first schema step alone, and one result.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_TRUE(
        Exec(db, std::string("BEGIN;") + HistoryMigrations()[0].sql + ";PRAGMA user_version=1;COMMIT;"));
    ASSERT_TRUE(
        Exec(db, "INSERT INTO proxy(name) VALUES('" + a +
                     "');"
                     "INSERT INTO result(proxy_id, at, code, status, seconds) VALUES(1, 5, 9, '0.2', 0.2)"));
    sqlite3_close(db);
  }
  // Read as it is: nothing is added by a reader, and nothing is a verdict.
  {
    auto reader = CHistoryStore::Open(path, nullptr, HistoryMigrations(), CHistoryStore::Mode::Read);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Results(a, 0).size(), 1u);
    EXPECT_EQ(reader->Results(a, 0)[0].trust, "");
    EXPECT_EQ(reader->Scores({a})[a].trust, "");
    EXPECT_TRUE(reader->TamperingProxies().empty());
    EXPECT_EQ(
        Column(reader->Handle(), "SELECT name FROM pragma_table_info('result') WHERE name='trust'").size(),
        0u);
  }
  // Written to: the columns come, the version stays, the old result stays.
  {
    auto writer = CHistoryStore::Open(path);
    ASSERT_TRUE(writer);
    EXPECT_EQ(Column(writer->Handle(), "PRAGMA user_version"), std::vector<std::string>{"1"});
    ASSERT_TRUE(writer->Append(std::vector<HistoryRecord>{Check(a, 10, VERIFY_MODIFIED, "modified")}));
    EXPECT_EQ(writer->Results(a, 0).size(), 2u);
    EXPECT_EQ(writer->TamperingProxies().size(), 1u);
  }
  // The older version's own statements still work on it.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_TRUE(
        Exec(db,
             "INSERT INTO result(proxy_id, at, resource_id, code, status, seconds, anonymity, exit_address)"
             " VALUES(1, 20, NULL, 9, '0.1', 0.1, NULL, NULL);"
             "UPDATE proxy SET anonymity='elite', exit_address='127.0.0.1' WHERE id=1"));
    EXPECT_EQ(Column(db, "SELECT count(*) FROM result"), std::vector<std::string>{"3"});
    sqlite3_close(db);
  }
  // A damaged file's results are copied into the new one by their columns' names,
  // verdicts included; a column of a name this version does not have (a later
  // version's, or one made to break the copy's statement) is passed over.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_TRUE(Exec(db, "ALTER TABLE result ADD COLUMN \"x\"\") VALUES(1); --\" TEXT"));
    sqlite3_close(db);
  }
  CHistoryStore::OpenReport report;
  auto rebuilt = CHistoryStore::Rebuild(path, &report);
  ASSERT_TRUE(rebuilt) << report.reason;
  EXPECT_EQ(report.salvaged, 3);
  EXPECT_EQ(rebuilt->Scores({a})[a].trust, "modified");
}

// What a proxy caught tampering is left out of, unless Options.ini lets it in.
TEST(TrustLeftOut, FavouritesTheScriptsChainAndThePool) {
  const ExtraOptions defaults = ParseOptionsFile("");
  EXPECT_TRUE(defaults.verify.leaveOutTampering);
  EXPECT_FALSE(defaults.verify.directReference);
  EXPECT_EQ(FormatOptionsFile(defaults).find("[Verify]"), std::string::npos) << "no section for the defaults";
  const ExtraOptions set = ParseOptionsFile("[Verify]\nLeaveOutTampering=0\nDirectReference=1\n");
  EXPECT_FALSE(set.verify.leaveOutTampering);
  EXPECT_TRUE(set.verify.directReference);
  EXPECT_EQ(ParseOptionsFile(FormatOptionsFile(set)), set);

  CProxyListModel list;
  for (const char* line : {"127.0.0.1:1@HTTP", "127.0.0.1:2@HTTP", "127.0.0.1:3@HTTP"}) {
    list.AddProxyLine(line, 0);
    list.SetTimeStatus(list.RowCount() - 1, "0." + std::to_string(list.RowCount()));
  }
  const std::unordered_set<std::string> tampering{"127.0.0.1:1@HTTP"};
  const RowLeftOut leftOut = [&](const CProxyEntry& e) { return tampering.count(FormatProxyLine(e)) > 0; };
  CSettings settings;
  settings.m_bAutoAddToFavorite = 1;
  settings.m_nFavorites = 2;
  ChooseFavorites(list, settings, leftOut);
  EXPECT_FALSE(list.IsFavorite(0));
  EXPECT_TRUE(list.IsFavorite(1));
  EXPECT_TRUE(list.IsFavorite(2));
  ChooseFavoritesByScore(list, settings, {}, leftOut);
  EXPECT_FALSE(list.IsFavorite(0));
  EXPECT_TRUE(list.IsFavorite(1));
  // Ticked by hand, it still stays out of the chain.
  list.SetFavorite(0, true);
  EXPECT_EQ(FavoriteProxyLines(list, leftOut),
            (std::vector<std::string>{"127.0.0.1:2@HTTP", "127.0.0.1:3@HTTP"}));
  EXPECT_EQ(FavoriteProxyLines(list).size(), 3u);

  std::vector<UpstreamProxy> pool(4);
  const char* verdicts[] = {"clean", "", "modified", "tls-intercepted"};
  for (int i = 0; i < 4; ++i) {
    pool[static_cast<std::size_t>(i)].addr = "127.0.0.1";
    pool[static_cast<std::size_t>(i)].port = std::to_string(i + 1);
    pool[static_cast<std::size_t>(i)].type = "HTTP";
    pool[static_cast<std::size_t>(i)].trust = verdicts[i];
  }
  EXPECT_EQ(LeaveOutTampering(pool), 2u);
  ASSERT_EQ(pool.size(), 2u);
  EXPECT_EQ(pool[0].port, "1");
  EXPECT_EQ(pool[1].port, "2");
}

// The window: the trust column stands beside the anonymity, the network beside the
// country with the chained mark, and the filter finds proxies by their verdict.
TEST(TrustWindow, TheVerdictAndTheNetworkAreShownAndFiltered) {
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  QProcess perl;
  perl.start("/usr/bin/perl", {QB_SOURCE_DIR "/tests/support/make-mmdb.pl",
                               QString::fromStdString(data.File("test-asn.mmdb")), "Test-ASN", "1700000000"});
  ASSERT_TRUE(perl.waitForFinished(60000));
  ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();
  qbtest::WriteFile(data.File("Proxies.pro"),
                    "127.0.0.1:1@HTTP$0.5\r\n127.0.0.1:2@HTTP$0.6\r\n127.0.0.1:3@HTTP$0.7\r\n");
  qbtest::WriteFile(
      data.File("Setting.dat"),
      "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\nm_bMinimize=0\r\nm_bAutoRun=0\r\n");
  {
    auto store = CHistoryStore::Open(data.File("History.sqlite"));
    ASSERT_TRUE(store);
    HistoryRecord chained = Check("127.0.0.1:1@HTTP", HistoryNow() - 10, VERIFY_MODIFIED, "modified");
    chained.anonymity = "elite";
    chained.exitAddress = "203.0.113.9";
    HistoryRecord own = Check("127.0.0.1:2@HTTP", HistoryNow() - 10, VERIFY_OK, "clean");
    own.anonymity = "elite";
    own.exitAddress = "127.0.0.1";
    ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{chained, own}));
  }
  MainDlgOptions o;
  o.platform = std::make_unique<CRecordingProxyPlatform>();
  o.applyAutoRun = false;
  o.forceNoTray = true;
  auto dlg = qbtest::OpenTestWindow(data.Path(), config.File("quillberry-test.INI"), std::move(o));
  const QHeaderView* header = dlg->ListView()->horizontalHeader();
  const int base = CProxyListModel::ColumnCount;
  EXPECT_EQ(header->visualIndex(base + CHistoryColumns::Trust),
            header->visualIndex(base + CHistoryColumns::Anonymity) + 1);
  EXPECT_EQ(header->visualIndex(base + CHistoryColumns::Network),
            header->visualIndex(base + CHistoryColumns::Country) + 1);
  const CProxyListModel& list = dlg->Dir().List();
  auto cell = [&](const std::string& proxy, int column) {
    for (int r = 0; r < list.RowCount(); ++r)
      if (list.GetProxyLine(r) == proxy) return list.data(list.index(r, base + column)).toString();
    return QString("<no row>");
  };
  EXPECT_EQ(cell("127.0.0.1:1@HTTP", CHistoryColumns::Trust), qb::Tr(kStatusModified));
  EXPECT_EQ(cell("127.0.0.1:2@HTTP", CHistoryColumns::Trust), qb::Tr(kTrustClean));
  EXPECT_EQ(cell("127.0.0.1:3@HTTP", CHistoryColumns::Trust), qb::Tr(kTrustUnchecked));
  EXPECT_EQ(cell("127.0.0.1:1@HTTP", CHistoryColumns::Network),
            "AS64496 Example Transit (" + qb::Tr(kNetworkChained) + ")");
  EXPECT_EQ(cell("127.0.0.1:2@HTTP", CHistoryColumns::Network), "AS64511 Loopback Lab");
  EXPECT_EQ(cell("127.0.0.1:3@HTTP", CHistoryColumns::Network), "AS64511 Loopback Lab") << "its own address";

  // By the word or the text, with the column hidden.
  ASSERT_FALSE(dlg->HistoryColumnShown(CHistoryColumns::Trust));
  auto shown = [&] {
    std::string out;
    for (int r = 0; r < list.RowCount(); ++r)
      if (!dlg->ListView()->isRowHidden(r)) out += list.GetProxyLine(r) + " ";
    return out;
  };
  dlg->FilterField()->setText("modified");
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == "127.0.0.1:1@HTTP "; }, 2000)) << shown();
  dlg->FilterField()->setText(qb::Tr(kTrustClean));
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == "127.0.0.1:2@HTTP "; }, 2000)) << shown();
  dlg->FilterField()->setText("unchecked");
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == "127.0.0.1:3@HTTP "; }, 2000)) << shown();
  for (const auto& m : prompt.messages) ADD_FAILURE() << m.caption << ": " << m.text;
  dlg->CloseTray();
}

}  // namespace
