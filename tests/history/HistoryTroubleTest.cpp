// The history when something is wrong with it: damage inside its pages, another
// program holding it, a full disk, a directory that cannot be written. Nothing a run
// records may vanish without a word, and nothing sound may be moved aside.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "datadir/DataDir.h"
#include "history/History.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "ui/Messages.h"
#include "verify/VerifyTask.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> DamagedBeside(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("History.sqlite.damaged-", 0) == 0 && name.find("-wal") == std::string::npos &&
        name.find("-shm") == std::string::npos)
      out.push_back(e.path().string());
  }
  return out;
}

// A history of `count` results over 300 proxies, closed (and so checkpointed).
void MakeHistory(const std::string& path, int count) {
  auto store = CHistoryStore::Open(path);
  ASSERT_TRUE(store);
  std::vector<HistoryRecord> records;
  for (int i = 0; i < count; ++i)
    records.push_back({"127.0.0.1:" + std::to_string(1 + i % 300) + "@HTTP",
                       HistoryNow() - i,
                       "http://127.0.0.1/page",
                       VERIFY_OK,
                       "0.5",
                       0.5,
                       {},
                       {}});
  ASSERT_TRUE(store->Append(records));
}

// Writes garbage over the first page of the index on the results: the rows themselves
// stay readable, the file is damaged.
void DamageTheIndex(const std::string& path) {
  int page = 0, pageSize = 0;
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name='result_by_proxy'", -1, &s,
                       nullptr);
    if (sqlite3_step(s) == SQLITE_ROW) page = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &s, nullptr);
    if (sqlite3_step(s) == SQLITE_ROW) pageSize = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
  }
  ASSERT_GT(page, 1);
  ASSERT_GT(pageSize, 0);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(page - 1) * pageSize);
  const std::string junk(static_cast<std::size_t>(pageSize), '\xA5');
  f.write(junk.data(), pageSize);
  ASSERT_TRUE(f.good());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// A data directory of two proxies that `verify` checks against the loopback origin.
struct VerifiedDir {
  std::string dir;
  std::string dead, http;
  qbtest::CliResult Verify() const {
    const auto& p = Peers();
    return qbtest::RunCli({"--lang", "en", "--data-dir", dir, "verify", "--connect-timeout", "2",
                           "--verify-timeout", "2", "--http", p.OriginUrl("/feature.html"), p.Feature()});
  }
  qbtest::CliResult History(std::vector<std::string> extra = {}) const {
    std::vector<std::string> a{"--lang", "en", "--data-dir", dir, "history"};
    a.insert(a.end(), extra.begin(), extra.end());
    return qbtest::RunCli(a);
  }
};

VerifiedDir TwoProxiesIn(const std::string& dir) {
  const auto& p = Peers();
  VerifiedDir v{dir, "127.0.0.1:" + std::to_string(p.DeadPort()) + "@HTTP",
                "127.0.0.1:" + std::to_string(p.HttpProxyPort()) + "@HTTP"};
  qbtest::WriteFile(dir + "/Proxies.pro", v.dead + "\r\n" + v.http + "\r\n");
  return v;
}

// How many checks `history` says each proxy has, by name.
std::map<std::string, std::string> ChecksOf(const std::string& out) {
  std::map<std::string, std::string> checks;
  for (const std::string& line : Lines(out)) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= line.size()) {
      const std::size_t end = line.find(' ', start);
      words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (words.size() >= 4) checks[words[0]] = words[3];
  }
  return checks;
}

}  // namespace

// Damage inside the pages is found when the history is opened; the file is kept aside
// and every result that can still be read goes into the new one. `history --check`
// does the same from the command line and then finds the new one sound.
TEST(HistoryTrouble, DamageInsideIsFoundAndTheReadableResultsAreKept) {
  qbtest::TempDir dir;
  const std::string path = dir.File("History.sqlite");
  MakeHistory(path, 3000);
  DamageTheIndex(path);

  auto data = qbtest::OpenTestDir(dir.Path());
  const HistoryOpening opening = data->OpenHistory();
  ASSERT_TRUE(opening.open) << opening.reason;
  ASSERT_FALSE(opening.movedAside.empty()) << "the damage was not found at open";
  EXPECT_EQ(opening.salvaged, 3000);
  ASSERT_TRUE(data->History());
  EXPECT_EQ(data->History()->ResultCount(), 3000);
  EXPECT_TRUE(data->History()->Check().empty());
  EXPECT_EQ(DamagedBeside(dir.Path()), std::vector<std::string>{opening.movedAside});
  // The person is told where the old file went and how much of it was saved.
  const QString said = HistoryOpeningText(opening, path);
  EXPECT_TRUE(said.contains(QString::fromStdString(opening.movedAside))) << said.toStdString();
  EXPECT_TRUE(said.contains("3000")) << said.toStdString();
  data.reset();

  qbtest::TempDir other;
  MakeHistory(other.File("History.sqlite"), 3000);
  DamageTheIndex(other.File("History.sqlite"));
  auto r = qbtest::RunCli({"--lang", "en", "--data-dir", other.Path(), "history", "--check"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("3000 results copied"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(DamagedBeside(other.Path()).size(), 1u);
  r = qbtest::RunCli({"--lang", "en", "--data-dir", other.Path(), "history", "--check"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("sound"), std::string::npos) << r.out;
  r = qbtest::RunCli({"--data-dir", other.Path(), "history"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 300u);
  // A sound one is not moved.
  EXPECT_EQ(DamagedBeside(other.Path()).size(), 1u);
}

// Another program holding the history: the run goes on, its results are said to be
// unrecorded and the status says so; the history itself is left as it was.
TEST(HistoryTrouble, AHistoryHeldByAnotherProgramIsLeftAloneAndTheLossIsSaid) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  qbtest::TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  const VerifiedDir v = TwoProxiesIn(data.Path());
  auto r = v.Verify();
  ASSERT_EQ(r.exitCode, 0) << r.err;

  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(data.File("History.sqlite").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  r = v.Verify();
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_NE(r.err.find("held by another program"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(data.File("History.sqlite")), std::string::npos) << r.err;
  // The results themselves were not lost: the list has them.
  EXPECT_NE(r.out.find(v.http), std::string::npos) << r.out;

  EXPECT_TRUE(DamagedBeside(data.Path()).empty());
  r = v.History();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto checks = ChecksOf(r.out);
  EXPECT_EQ(checks.at(v.http), "1") << r.out;
  EXPECT_EQ(checks.at(v.dead), "1") << r.out;
}

// A full disk: the history is kept whole (nothing moved aside, nothing half written),
// the run says its results went unrecorded, and once there is room again the next run
// records as before.
TEST(HistoryTrouble, AFullDiskKeepsTheHistoryAndTheRunSaysSo) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Origin);
  qbtest::ScratchMount disk(std::size_t{4} << 20);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  qbtest::TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  const VerifiedDir v = TwoProxiesIn(disk.Path());
  auto r = v.Verify();
  ASSERT_EQ(r.exitCode, 0) << r.err;

  disk.Fill();
  r = v.Verify();
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_NE(r.err.find("disk is full"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(disk.File("History.sqlite")), std::string::npos) << r.err;
  EXPECT_TRUE(DamagedBeside(disk.Path()).empty());

  fs::remove(disk.File(".filler"));
  r = v.History({"--check"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  r = v.History();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ChecksOf(r.out).at(v.http), "1") << r.out;
  r = v.Verify();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ChecksOf(v.History().out).at(v.http), "2");
}

// A directory nobody may write (a read-only medium, a backup mounted so): the history
// is still read, and nothing is made beside it.
TEST(HistoryTrouble, AHistoryOnAReadOnlyDiskIsRead) {
  qbtest::ScratchMount disk(std::size_t{4} << 20);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  MakeHistory(disk.File("History.sqlite"), 600);
  ASSERT_TRUE(disk.MakeReadOnly());
  auto r = qbtest::RunCli({"--lang", "en", "--data-dir", disk.Path(), "history"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 300u);
  EXPECT_EQ(ChecksOf(r.out).at("127.0.0.1:1@HTTP"), "2");
  r = qbtest::RunCli({"--lang", "en", "--data-dir", disk.Path(), "history", "--check"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(disk.File("History.sqlite-wal")));
}
