// quillberry-cli refresh against real loopback peers: a page origin serving the
// sources, tinyproxy and microsocks as the proxies, 'quillberry-cli judge' as the
// verification resource, the window in a process of its own, and 'serve' reading the
// list the refresh leaves.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "endpoint/Endpoint.h"
#include "history/History.h"
#include "proxy/ProxyEntry.h"
#include "proxy/VerifyStatus.h"
#include "settings/VerifySource.h"
#include "support/LoopbackPeers.h"
#include "support/PageOrigin.h"
#include "support/ScratchMount.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/WindowProcess.h"

using qbtest::OriginPage;
using qbtest::Peer;
using qbtest::Peers;
using qbtest::ReadFile;
using qbtest::RunCli;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

QString CliPath() {
  const char* cli = std::getenv("QB_CLI");
  return cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
}

QStringList Args(const std::vector<std::string>& args) {
  QStringList out;
  for (const std::string& a : args) out << QString::fromStdString(a);
  return out;
}

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// 'quillberry-cli judge' on a free loopback port, for as long as the object lives.
class Judge {
 public:
  Judge() {
    m_process.start(CliPath(), {"judge", "--listen", "127.0.0.1:0"});
    if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(5000)) return;
    const std::string line = m_process.readLine().trimmed().toStdString();
    const std::string prefix = "judge: listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) m_port = std::atoi(line.c_str() + prefix.size());
  }
  ~Judge() {
    qbtest::SignalProcess(m_process, SIGTERM);
    m_process.waitForFinished(5000);
  }
  int Port() const { return m_port; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

 private:
  QProcess m_process;
  int m_port = 0;
};

// Setting.dat with the judge as the one ticked resource and short time-outs.
std::string JudgeSettings(const Judge& judge) {
  return qb::EncodeVerifySourceText("judge", judge.Url(), "REMOTE_ADDR") +
         "$1\r\nm_nThreadNumber=20\r\nm_nConTimeout=2\r\nm_nVerifyTimeout=2\r\n"
         "m_bAutoTimingVerify=0\r\nm_bAutoRun=0\r\nm_bMinimize=0\r\n";
}

// The list file's rows by identity ("address:port@TYPE"), and their statuses.
struct ListRows {
  std::vector<std::string> keys;
  std::map<std::string, std::string> status;
  // Every line a proxy, the last one ended: a list that was written whole.
  bool whole = true;
};

// Read line by line as the list's loader reads them: a line that holds no proxy (or a
// part of one) means the file was not written whole.
ListRows ReadRows(const std::string& text) {
  ListRows rows;
  if (!text.empty() && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") != 0) rows.whole = false;
  std::size_t at = 0;
  qb::ProxyFields f;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    if (line.empty()) continue;
    if (!qb::ParseFileLine(line, f) && !qb::ParseProxyLine(line, f)) {
      rows.whole = false;
      continue;
    }
    const std::string key = f.addr + ":" + f.port + "@" + f.type;
    rows.keys.push_back(key);
    rows.status[key] = f.timeStatus;
  }
  return rows;
}

bool IsTime(const std::string& status) {
  return qb::IsTimeText(status);
}

// A results row of the history, at a given age.
qb::HistoryRecord OldResult(const std::string& proxy, std::int64_t ageDays) {
  qb::HistoryRecord r;
  r.proxy = proxy;
  r.when = qb::HistoryNow() - ageDays * 86400;
  r.resource = "http://127.0.0.1:9/";
  r.code = qb::VERIFY_PROXYFAILED;
  r.status = qb::kStatusConnectFailed;
  return r;
}

TEST(Refresh, DownloadsVerifiesAndThinsInOneRunWithoutTheWindow) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  QB_REQUIRE_PEER(Peer::Socks5Auth);
  const auto& peers = Peers();
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  qbtest::PageOrigin origin;
  TempDir data;
  const std::string http = "127.0.0.1:" + std::to_string(peers.HttpProxyPort());
  const std::string socks = "127.0.0.1:" + std::to_string(peers.Socks5AuthPort());
  const std::string dead = "127.0.0.1:" + std::to_string(peers.DeadPort());
  // The SOCKS5 proxy's log-on comes with it on the page; the download keeps it for the
  // verification.
  origin.Serve("/list", http + "\nsocks5://" + peers.ProxyUser() + ":" + peers.ProxyPassword() + "@" + socks +
                            "\n" + dead + "\n");
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  WriteFile(data.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\nmissing 127.0.0.1:" +
                                          std::to_string(qbtest::DeadLoopbackPort()) + "/gone 1\r\noff " +
                                          origin.Url("/off") + " 0\r\n");
  // A row already in the list that no source names any more is verified too.
  WriteFile(data.File("Proxies.pro"),
            "127.0.0.1:" + std::to_string(peers.SilentPort()) + "@HTTP$0.5#kept\r\n");
  WriteFile(data.File("Options.ini"), "[History]\nKeepDays=30\n");
  {
    auto store = qb::CHistoryStore::Open(data.File("History.sqlite"));
    ASSERT_TRUE(store);
    const qb::HistoryRecord records[] = {OldResult(dead + "@HTTP", 45), OldResult(dead + "@HTTP", 40),
                                         OldResult(dead + "@HTTP", 10)};
    ASSERT_TRUE(store->Append(records));
  }

  const auto r =
      RunCli({"--data-dir", data.Path(), "refresh", "--connect-timeout", "1", "--verify-timeout", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Holds(r.out, "list: 3 proxies found\n")) << r.out;
  EXPECT_TRUE(Holds(r.out, "missing: download failed")) << r.out;
  EXPECT_FALSE(Holds(r.out, "off:")) << r.out;
  EXPECT_TRUE(Holds(r.out, "verified 4 proxies: 2 working, 2 failed, 0 not verified\n")) << r.out;
  EXPECT_TRUE(Holds(r.out, "history: 2 results older than 30 days removed\n")) << r.out;
  EXPECT_EQ(origin.Hits("/off"), 0);
  // No line per proxy: a journal gets what went wrong, not the list.
  EXPECT_FALSE(Holds(r.err, http)) << r.err;

  const ListRows rows = ReadRows(ReadFile(data.File("Proxies.pro")));
  ASSERT_TRUE(rows.whole);
  EXPECT_EQ(rows.keys.size(), 4u);
  EXPECT_TRUE(IsTime(rows.status.at(http + "@HTTP"))) << rows.status.at(http + "@HTTP");
  EXPECT_TRUE(IsTime(rows.status.at(socks + "@SOCKS5"))) << rows.status.at(socks + "@SOCKS5");
  EXPECT_EQ(rows.status.at(dead + "@HTTP"), qb::kStatusConnectFailed);
  EXPECT_FALSE(IsTime(rows.status.at("127.0.0.1:" + std::to_string(peers.SilentPort()) + "@HTTP")));
  // Sorted by time, as the button leaves it: the working ones first.
  EXPECT_TRUE(IsTime(rows.status.at(rows.keys[0])) && IsTime(rows.status.at(rows.keys[1])));

  // Every result of the run is in the history, beside the one the thinning kept.
  auto store = qb::CHistoryStore::Open(data.File("History.sqlite"), nullptr, qb::HistoryMigrations(),
                                       qb::CHistoryStore::Mode::Read);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->ResultCount(), 1 + 4);
  const auto deadResults = store->Results(dead + "@HTTP", 0);
  ASSERT_EQ(deadResults.size(), 2u);
  EXPECT_GT(deadResults[0].when, qb::HistoryNow() - 600);
  EXPECT_LT(deadResults[1].when, qb::HistoryNow() - 9 * 86400);
}

TEST(Refresh, JsonSaysWhatTheRunDidInOneObject) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  qbtest::PageOrigin origin;
  TempDir data;
  const std::string http = "127.0.0.1:" + std::to_string(peers.HttpProxyPort());
  origin.Serve("/list", http + "\n");
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  WriteFile(data.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");

  auto r = RunCli({"--data-dir", data.Path(), "refresh", "--format", "json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"sources\":[{\"name\":\"list\",\"url\":\"" + origin.Url("/list") +
                "\",\"status\":\"ok\",\"found\":1,\"error\":\"\"}],\"added\":1,\"handed_to_window\":false,"
                "\"window_verification\":null,\"verified\":{\"proxies\":1,\"working\":1,\"failed\":0,"
                "\"unverified\":0},\"history\":{\"removed\":0,\"keep_days\":90},\"exit\":0}\n");

  // Run again: the proxy is in the list already, nothing is added, it is verified again.
  r = RunCli({"--data-dir", data.Path(), "refresh", "--format=json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Holds(r.out, "\"added\":0,")) << r.out;
  EXPECT_TRUE(Holds(r.out, "\"verified\":{\"proxies\":1,\"working\":1,")) << r.out;

  // The opening of the history thins it once a day; a run every hour thins each time.
  {
    auto store = qb::CHistoryStore::Open(data.File("History.sqlite"));
    ASSERT_TRUE(store);
    const qb::HistoryRecord old[] = {OldResult(http + "@HTTP", 91)};
    ASSERT_TRUE(store->Append(old));
  }
  r = RunCli({"--data-dir", data.Path(), "refresh", "--format=json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Holds(r.out, "\"history\":{\"removed\":1,\"keep_days\":90}")) << r.out;
}

TEST(Refresh, WithoutTickedSourcesTheListIsStillVerified) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  TempDir data;
  const std::string http = "127.0.0.1:" + std::to_string(peers.HttpProxyPort());
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  WriteFile(data.File("Sources.dat"), "off http://127.0.0.1:9/ 0\r\n");
  WriteFile(data.File("Proxies.pro"), http + "@HTTP$未验证\r\n");
  const auto r = RunCli({"--data-dir", data.Path(), "refresh"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(
      Holds(r.err, "refresh: no source is ticked in Sources.dat; the list is verified without a download"))
      << r.err;
  EXPECT_TRUE(Holds(r.out, "verified 1 proxy: 1 working, 0 failed")) << r.out;
  EXPECT_TRUE(IsTime(ReadRows(ReadFile(data.File("Proxies.pro"))).status.at(http + "@HTTP")))
      << ReadFile(data.File("Proxies.pro"));

  // An empty list cannot be verified: the run says so and fails.
  TempDir empty;
  WriteFile(empty.File("Setting.dat"), JudgeSettings(judge));
  const auto e = RunCli({"--data-dir", empty.Path(), "refresh"});
  EXPECT_EQ(e.exitCode, 1) << e.err;
}

TEST(Refresh, BadUsageIsRefusedBeforeAnythingIsDownloaded) {
  qbtest::PageOrigin origin;
  origin.Serve("/list", "127.0.0.1:1\n");
  TempDir data;
  WriteFile(data.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");
  const std::vector<std::vector<std::string>> bad{
      {"--format", "csv"},   {"--format"},          {"--threads", "0"}, {"--connect-timeout", "x"},
      {"--http", "ftp://x"}, {"some-file.txt"},     {"--shard", "1/2"}, {"--working"},
      {"--type", "HTTP"},    {"--resume", "x.json"}};
  for (const auto& args : bad) {
    std::vector<std::string> line{"--data-dir", data.Path(), "refresh"};
    line.insert(line.end(), args.begin(), args.end());
    const auto r = RunCli(line);
    EXPECT_EQ(r.exitCode, 2) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err.rfind("refresh: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(origin.Hits("/list"), 0);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), "<missing>");
  // The help in both languages of the interface.
  auto help = RunCli({"--lang", "en", "refresh", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Holds(help.out, "Exit status:")) << help.out;
  help = RunCli({"--lang", "zh", "refresh", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Holds(help.out, "退出状态")) << help.out;
}

TEST(Refresh, HandedToTheRunningWindowWhichVerifiesTheListItself) {
  if (!qbtest::WindowProcess::Built())
    GTEST_SKIP() << "not built: " << qbtest::WindowProcess::Program().toStdString();
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  qbtest::PageOrigin origin;
  TempDir data;
  const std::string http = "127.0.0.1:" + std::to_string(peers.HttpProxyPort());
  const std::string silent = "127.0.0.1:" + std::to_string(peers.SilentPort());
  origin.Serve("/list", http + "\n");
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  WriteFile(data.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");
  // The silent proxy holds the window's run for its reply time-out (2 s).
  WriteFile(data.File("Proxies.pro"), silent + "@HTTP$未验证\r\n");

  qbtest::WindowProcess window;
  ASSERT_TRUE(window.Start(data.Path())) << "the window never opened its server";
  auto r = RunCli({"--data-dir", data.Path(), "refresh"}, {}, window.Env());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Holds(r.out, "list: 1 proxy found\n")) << r.out;
  EXPECT_TRUE(Holds(r.out, "1 new proxy was added to the list of the running window (" + data.Path() +
                               "); it verifies the whole list now\n"))
      << r.out;
  // Asked again while that run goes on: the window verifies once it has ended.
  r = RunCli({"--data-dir", data.Path(), "refresh", "--format", "json"}, {}, window.Env());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Holds(
      r.out, "\"added\":0,\"handed_to_window\":true,\"window_verification\":\"queued\",\"verified\":null"))
      << r.out;

  // The window saves its results when its run ends: the proxy the refresh found is
  // verified, and so is the row that was there before.
  QElapsedTimer clock;
  clock.start();
  ListRows rows;
  while (clock.elapsed() < 30000) {
    rows = ReadRows(ReadFile(data.File("Proxies.pro")));
    if (rows.status.count(http + "@HTTP") && IsTime(rows.status[http + "@HTTP"]) &&
        rows.status[silent + "@HTTP"] != "未验证")
      break;
    QTest::qWait(200);
  }
  ASSERT_TRUE(rows.whole);
  EXPECT_TRUE(IsTime(rows.status[http + "@HTTP"])) << rows.status[http + "@HTTP"];
  EXPECT_EQ(rows.status[silent + "@HTTP"], qb::kStatusTimeout);
  EXPECT_EQ(window.Process().state(), QProcess::Running);
  // The queued run comes after the first: the judge was asked twice through tinyproxy.
  clock.restart();
  std::string echoed;
  while (clock.elapsed() < 15000) {
    auto store = qb::CHistoryStore::Open(data.File("History.sqlite"), nullptr, qb::HistoryMigrations(),
                                         qb::CHistoryStore::Mode::Read);
    if (store && store->Results(http + "@HTTP", 0).size() >= 2) {
      echoed = "twice";
      break;
    }
    QTest::qWait(200);
  }
  EXPECT_EQ(echoed, "twice") << "the queued verification never ran";
}

// The list of the kill test: rows that refuse at once, so that a run is short, and
// many of them, so that each save takes a while.
std::string RefusingRows(int count, int first) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    const int n = first + i;
    out += "127.1." + std::to_string((n / 250) % 250) + "." + std::to_string(n % 250 + 1) + ":" +
           std::to_string(1000 + n / 62500) + "@HTTP$未验证\r\n";
  }
  return out;
}

TEST(Refresh, KilledAtAnyMomentItLeavesTheListWholeAndLosesNoRow) {
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  qbtest::PageOrigin origin;
  TempDir data;
  const std::string before = RefusingRows(100000, 0);
  const ListRows old = ReadRows(before);
  ASSERT_EQ(old.keys.size(), 100000u);
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  std::string page;
  for (const std::string& line : ReadRows(RefusingRows(100000, 100000)).keys) page += line + "\n";
  origin.Serve("/a", page.substr(0, page.size() / 2));
  origin.Serve("/b", page.substr(page.size() / 2));
  WriteFile(data.File("Sources.dat"), "a " + origin.Url("/a") + " 1\r\nb " + origin.Url("/b") + " 1\r\n");
  WriteFile(data.File("Proxies.pro"), before);

  // Killed early, in the download, between the saves and in the verification.
  int sawNew = 0;
  std::string seen;
  std::vector<int> moments{30, 100, 150, 200, 250, 300, 350, 400, 500, 600, 800, 1000, 1500, 2500};
  for (std::size_t k = 0; k < moments.size(); ++k) {
    const int afterMs = moments[k];
    QProcess refresh;
    refresh.start(CliPath(), Args({"--data-dir", data.Path(), "refresh", "--threads", "200"}));
    ASSERT_TRUE(refresh.waitForStarted(5000));
    QTest::qWait(afterMs);
    const bool killed = qbtest::KillAndReap(refresh, 5000);
    ASSERT_EQ(refresh.state(), QProcess::NotRunning);
    const std::string text = ReadFile(data.File("Proxies.pro"));
    const ListRows now = ReadRows(text);
    EXPECT_TRUE(now.whole) << "killed after " << afterMs << " ms";
    const std::set<std::string> keys(now.keys.begin(), now.keys.end());
    for (const std::string& key : old.keys) {
      if (!keys.count(key)) {
        ADD_FAILURE() << "killed after " << afterMs << " ms: " << key << " was lost";
        break;
      }
    }
    if (text != before) ++sawNew;
    seen += " " + std::to_string(afterMs) + (killed ? " ms killed" : " ms ended") +
            (text != before ? " (saved)," : ",");
    if (!killed) break;  // it finished before the kill: later moments say no more
    // On a slow or busy machine no save may have come yet: later, until one has.
    if (k + 1 == moments.size() && sawNew == 0 && afterMs < 40000) moments.push_back(afterMs * 3 / 2);
  }
  // At least one kill came after a save, so that a list it wrote was checked.
  EXPECT_GT(sawNew, 0) << "after" << seen;
  // The lock of a killed run is taken over by the next writer.
  const auto r = RunCli({"--data-dir", data.Path(), "download"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadRows(ReadFile(data.File("Proxies.pro"))).keys.size(), 200000u);
}

TEST(Refresh, ASecondRefreshWaitsThenRefusesClearly) {
  qbtest::PageOrigin origin;
  TempDir data;
  // A source that sends its lines and then holds the connection: the first refresh
  // stays in its download, holding the directory.
  origin.Serve("/stall", OriginPage{"127.0.0.1:1\n", OriginPage::Stall});
  WriteFile(data.File("Sources.dat"), "stall " + origin.Url("/stall") + " 1\r\n");
  WriteFile(data.File("Proxies.pro"), "127.0.0.1:2@HTTP$未验证\r\n");
  QProcess first;
  first.start(CliPath(), Args({"--data-dir", data.Path(), "refresh"}));
  ASSERT_TRUE(first.waitForStarted(5000));
  QElapsedTimer clock;
  clock.start();
  while (origin.Hits("/stall") == 0 && clock.elapsed() < 10000) QTest::qWait(50);
  ASSERT_EQ(origin.Hits("/stall"), 1);

  clock.restart();
  const auto second = RunCli({"--data-dir", data.Path(), "refresh"});
  EXPECT_EQ(second.exitCode, 4) << second.err;
  EXPECT_GE(clock.elapsed(), 1500) << "it did not wait for the other run";
  EXPECT_TRUE(Holds(second.err, "refresh: the data directory " + data.Path() + " is being written by"))
      << second.err;
  EXPECT_TRUE(Holds(second.err, "nothing was changed")) << second.err;
  EXPECT_EQ(origin.Hits("/stall"), 1) << "the refused run downloaded";
  EXPECT_EQ(first.state(), QProcess::Running);
  qbtest::SignalProcess(first, SIGKILL);
  first.waitForFinished(5000);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")), "127.0.0.1:2@HTTP$未验证\r\n");
}

TEST(Refresh, AReadOnlyOrFullDirectoryIsAFailure) {
  qbtest::PageOrigin origin;
  origin.Serve("/list", "127.0.0.1:1\n127.0.0.1:3\n");
  const std::string list = "127.0.0.1:2@HTTP$未验证\r\n";
  {
    qbtest::ScratchMount disk(1 << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    WriteFile(disk.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");
    WriteFile(disk.File("Proxies.pro"), list);
    ASSERT_TRUE(disk.MakeReadOnly());
    const auto r = RunCli({"--data-dir", disk.Path(), "refresh"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(Holds(r.err, "refresh: " + disk.Path() + " cannot be written")) << r.err;
    EXPECT_EQ(origin.Hits("/list"), 0);
    EXPECT_EQ(ReadFile(disk.File("Proxies.pro")), list);
  }
  {
    // Full: not even the lock can be made, and the run stops before it downloads.
    qbtest::ScratchMount disk(256 << 10);
    ASSERT_TRUE(disk.Mounted()) << disk.Why();
    WriteFile(disk.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");
    WriteFile(disk.File("Proxies.pro"), list);
    disk.Fill();
    const auto r = RunCli({"--data-dir", disk.Path(), "refresh"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Holds(r.err, "refresh: " + disk.Path() + " cannot be written")) << r.err;
    EXPECT_EQ(origin.Hits("/list"), 0);
    EXPECT_EQ(ReadFile(disk.File("Proxies.pro")), list);
  }
  {
    // Room for the lock, none for the longer list: the download's save fails, the old
    // list stays, and nothing is verified against a list that is not on disk.
    qbtest::ScratchMount disk(256 << 10);
    ASSERT_TRUE(disk.Mounted()) << disk.Why();
    std::string page;
    for (int i = 1; i <= 2000; ++i)
      page += "127.0.2." + std::to_string(i % 250 + 1) + ":" + std::to_string(2000 + i) + "\n";
    origin.Serve("/many", page);
    WriteFile(disk.File("Sources.dat"), "many " + origin.Url("/many") + " 1\r\n");
    WriteFile(disk.File("Proxies.pro"), list);
    WriteFile(disk.File("room"), std::string(8192, 'x'));
    disk.Fill();
    ASSERT_EQ(std::remove(disk.File("room").c_str()), 0);
    const auto r = RunCli({"--data-dir", disk.Path(), "refresh"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Holds(r.err, "refresh: cannot write " + disk.File("Proxies.pro"))) << r.err;
    EXPECT_TRUE(Holds(r.err, "refresh: nothing was verified, as Proxies.pro could not be saved")) << r.err;
    EXPECT_EQ(origin.Hits("/many"), 1);
    EXPECT_EQ(ReadFile(disk.File("Proxies.pro")), list);
    EXPECT_EQ(ReadFile(disk.File("History.sqlite")), "<missing>");
  }
}

TEST(Refresh, ARunningServePicksUpTheNewList) {
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  Judge judge;
  ASSERT_NE(judge.Port(), 0);
  qbtest::PageOrigin origin;
  TempDir data;
  const std::string http = "127.0.0.1:" + std::to_string(peers.HttpProxyPort());
  origin.Serve("/list", http + "\n");
  WriteFile(data.File("Setting.dat"), JudgeSettings(judge));
  WriteFile(data.File("Sources.dat"), "list " + origin.Url("/list") + " 1\r\n");
  WriteFile(data.File("Proxies.pro"), "");

  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const int port = probe.serverPort();
  probe.close();
  QProcess serve;
  serve.start(CliPath(),
              Args({"--data-dir", data.Path(), "serve", "--listen", "127.0.0.1:" + std::to_string(port)}));
  ASSERT_TRUE(serve.waitForReadyRead(10000)) << serve.readAllStandardError().toStdString();
  const qb::ListenAddress at{"127.0.0.1", port};
  auto status = qb::ProbeEndpoint(at, 2000);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->pool, 0);

  const auto r = RunCli({"--data-dir", data.Path(), "refresh"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 10000) {
    status = qb::ProbeEndpoint(at, 2000);
    if (status && status->pool == 1) break;
    QTest::qWait(100);
  }
  ASSERT_TRUE(status);
  EXPECT_EQ(status->pool, 1);
  EXPECT_EQ(status->usable, 1);
  qbtest::SignalProcess(serve, SIGTERM);
  EXPECT_TRUE(serve.waitForFinished(5000));
}

// The timer and its service as the package installs them, checked by systemd's own
// verifier against the built program, by a user manager of the test's own.
TEST(RefreshTimer, TheUnitsPassSystemdsVerifier) {
  const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
  if (analyze.isEmpty()) GTEST_SKIP() << "systemd-analyze is not installed";
  TempDir scratch;
  ASSERT_EQ(::mkdir(scratch.File("run").c_str(), 0700), 0);
  const std::string units = QB_SOURCE_DIR "/packaging/systemd/";
  std::string service = ReadFile(units + "quillberry-refresh.service");
  const std::string timer = ReadFile(units + "quillberry-refresh.timer");
  const std::string exec = "ExecStart=/usr/bin/quillberry-cli refresh\n";
  ASSERT_TRUE(Holds(service, exec)) << service;
  service.replace(service.find(exec), exec.size(), "ExecStart=" + CliPath().toStdString() + " refresh\n");
  WriteFile(scratch.File("quillberry-refresh.service"), service);
  WriteFile(scratch.File("quillberry-refresh.timer"), timer);

  auto verify = [&](const std::vector<std::string>& files) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(scratch.File("run")));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{"--user", "--man=no", "verify"};
    for (const std::string& f : files) args << QString::fromStdString(scratch.File(f));
    p.start(analyze, args);
    p.waitForFinished(30000);
    return std::make_pair(p.exitCode(), p.readAll().toStdString());
  };
  const auto [code, out] = verify({"quillberry-refresh.service", "quillberry-refresh.timer"});
  if (Holds(out, "Failed to connect") || Holds(out, "Failed to initialize manager"))
    GTEST_SKIP() << "systemd-analyze cannot run a user manager here: " << out;
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out, "");
  // The service is started by the timer alone: enabling it makes no run at log-in.
  EXPECT_FALSE(Holds(service, "[Install]"));
  EXPECT_TRUE(Holds(timer, "WantedBy=timers.target"));
  // The verifier reads what the service runs: a program that is not there fails it.
  std::string missing = service;
  missing.replace(missing.find(CliPath().toStdString()), CliPath().size(), scratch.File("no-such-program"));
  WriteFile(scratch.File("quillberry-refresh.service"), missing);
  EXPECT_NE(verify({"quillberry-refresh.service", "quillberry-refresh.timer"}).first, 0);
}

}  // namespace
