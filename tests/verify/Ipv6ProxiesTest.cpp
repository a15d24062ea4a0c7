// Proxies on IPv6 loopback, verified by their bracketed rows ("[::1]:port"), and a
// judge that listens on both families: by the thread worker and the engine alike, and
// by quillberry-cli verify.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/Text.h"
#include "support/LoopbackPeers.h"
#include "support/ShortTimeouts.h"
#include "support/TempDir.h"
#include "verify/HostPeers.h"
#include "verify/HostResolver.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

namespace {

std::vector<std::string> WithoutTimes(std::vector<std::string> texts) {
  static const std::regex time("\\([0-9]+\\.[0-9]\\)");
  for (std::string& t : texts) t = std::regex_replace(t, time, "(t)");
  return texts;
}

std::map<std::uint64_t, VerifyResult> RunOnEngine(const std::vector<VerifyTask>& tasks) {
  std::mutex lock;
  std::condition_variable arrived;
  std::map<std::uint64_t, VerifyResult> results;
  CVerifyEngine engine([&](VerifyResult r) {
    std::lock_guard<std::mutex> g(lock);
    results[r.taskId] = std::move(r);
    arrived.notify_all();
  });
  for (const VerifyTask& t : tasks) engine.Submit(t);
  std::unique_lock<std::mutex> g(lock);
  arrived.wait_for(g, std::chrono::seconds(30), [&] { return results.size() == tasks.size(); });
  return results;
}

#define REQUIRE_IPV6_PROXIES(proxies)                                      \
  do {                                                                     \
    if (!(proxies).Missing().empty()) GTEST_SKIP() << (proxies).Missing(); \
    ASSERT_EQ((proxies).Problem(), "");                                    \
  } while (0)

TEST(Ipv6Proxies, BracketedRowsOnEveryRouteByThreadAndEngine) {
  hosttest::Ipv6Proxies proxies;
  REQUIRE_IPV6_PROXIES(proxies);
  qbtest::ShortTimeouts timeouts{3000};
  CJudgeServer judge{"localhost", 0};
  ASSERT_TRUE(judge.Start().ok());
  ASSERT_EQ(judge.Listening().size(), 2u) << "no IPv6 loopback";
  const std::string judge4 = "http://127.0.0.1:" + std::to_string(judge.Port()) + "/";
  const std::string judge6 = "http://[::1]:" + std::to_string(judge.Port()) + "/";
  const std::string http = "[::1]:" + std::to_string(proxies.HttpPort());
  const std::string socks = "[::1]:" + std::to_string(proxies.Socks5Port());
  const std::string dead = "[::1]:" + std::to_string(hosttest::FreeDualPort());

  struct Case {
    std::string line, url;
    int status;
    std::string exit;
  };
  const std::vector<Case> cases = {
      {http + "@HTTP", judge4, VERIFY_OK, "127.0.0.1"},
      {http + "@HTTP", judge6, VERIFY_OK, "::1"},
      {socks + "@SOCKS5", judge6, VERIFY_OK, "::1"},
      {socks + "@SOCKS5", judge4, VERIFY_OK, "127.0.0.1"},
      // microsocks speaks SOCKS5 only.
      {socks + "@SOCKS4", judge4, VERIFY_PROXYFAILED, ""},
      {dead + "@HTTP", judge6, VERIFY_PROXYFAILED, ""},
      {dead + "@SOCKS5", judge6, VERIFY_PROXYFAILED, ""},
  };
  std::vector<VerifyTask> tasks;
  for (const Case& c : cases) {
    VerifyTask t = qbtest::TaskFor(c.line, c.url, "REMOTE_ADDR");
    ASSERT_EQ(t.address, "[::1]") << c.line;
    t.id = tasks.size() + 1;
    tasks.push_back(std::move(t));
  }
  // A task made by hand with a bare IPv6 address is spoken to the same way.
  VerifyTask bare = qbtest::TaskFor(http + "@HTTP", judge6, "REMOTE_ADDR");
  bare.address = "::1";
  bare.id = tasks.size() + 1;
  tasks.push_back(bare);

  std::vector<VerifyResult> byThread;
  {
    auto own = std::make_shared<COwnAddresses>();
    CVerifyProxyThread worker;
    for (VerifyTask t : tasks) {
      t.ownAddresses = own;
      byThread.push_back(worker.Verify(t));
    }
  }
  auto own = std::make_shared<COwnAddresses>();
  for (VerifyTask& t : tasks) t.ownAddresses = own;
  const std::map<std::uint64_t, VerifyResult> byEngine = RunOnEngine(tasks);
  ASSERT_EQ(byEngine.size(), tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const Case& c = i < cases.size() ? cases[i] : cases[1];
    const VerifyResult& a = byThread[i];
    const VerifyResult& b = byEngine.at(tasks[i].id);
    const std::string what = tasks[i].address + " " + c.line + " " + c.url;
    EXPECT_EQ(a.status, c.status) << what;
    EXPECT_EQ(a.exitAddress, c.exit) << what;
    EXPECT_EQ(b.status, a.status) << what;
    EXPECT_EQ(WithoutTimes(b.texts), WithoutTimes(a.texts)) << what;
    EXPECT_EQ(b.exitAddress, a.exitAddress) << what;
    // The judge is named by its address: it is asked over that family alone.
    EXPECT_EQ(b.exitAddresses, a.exitAddresses) << what;
    EXPECT_EQ(a.exitAddresses, c.exit.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.exit})
        << what;
    EXPECT_EQ(b.anonymity, a.anonymity) << what;
    // Both leave from the address the direct request came from.
    EXPECT_EQ(a.anonymity, c.status == VERIFY_OK ? "transparent" : "") << what;
  }
}

TEST(Ipv6Proxies, AJudgeWithBothFamiliesIsAskedOverEach) {
  hosttest::Ipv6Proxies proxies;
  REQUIRE_IPV6_PROXIES(proxies);
  QB_REQUIRE_PEER(qbtest::Peer::Socks);
  qbtest::ShortTimeouts timeouts{3000};
  CJudgeServer judge{"localhost", 0};
  ASSERT_TRUE(judge.Start().ok());
  ASSERT_EQ(judge.Listening().size(), 2u) << "no IPv6 loopback";
  // The run's resolver says localhost has both families (this machine's hosts file
  // may give it one); the proxies and libcurl look it up themselves for the first
  // request, which the hosts file answers.
  auto resolver = std::make_shared<CHostResolver>(2000, [](const std::string& name) {
    return name == "localhost" ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector<std::string>{};
  });
  const std::string url = "http://localhost:" + std::to_string(judge.Port()) + "/";
  struct Case {
    std::string line;
    std::vector<std::string> exits;
  };
  const std::vector<Case> cases = {
      {"[::1]:" + std::to_string(proxies.HttpPort()) + "@HTTP", {"127.0.0.1", "::1"}},
      {"[::1]:" + std::to_string(proxies.Socks5Port()) + "@SOCKS5", {"127.0.0.1", "::1"}},
      // SOCKS4 carries no IPv6 address, and this dante leaves from 127.0.0.2 alone.
      {"127.0.0.1:" + std::to_string(qbtest::Peers().SocksPort()) + "@SOCKS4",
       {qbtest::Peers().OutAddress(qbtest::Peer::Socks)}},
  };
  std::vector<VerifyTask> tasks;
  for (const Case& c : cases) {
    VerifyTask t = qbtest::TaskFor(c.line, url, "REMOTE_ADDR");
    t.id = tasks.size() + 1;
    t.resolver = resolver;
    tasks.push_back(std::move(t));
  }
  std::vector<VerifyResult> byThread;
  {
    auto own = std::make_shared<COwnAddresses>();
    CVerifyProxyThread worker;
    for (VerifyTask t : tasks) {
      t.ownAddresses = own;
      byThread.push_back(worker.Verify(t));
    }
  }
  const std::uint64_t served = judge.Served();
  auto own = std::make_shared<COwnAddresses>();
  for (VerifyTask& t : tasks) t.ownAddresses = own;
  const std::map<std::uint64_t, VerifyResult> byEngine = RunOnEngine(tasks);
  ASSERT_EQ(byEngine.size(), tasks.size());
  // Twice through each of the first two proxies, once through dante (its IPv6 attempt
  // never reaches the judge), and the direct request.
  EXPECT_EQ(judge.Served() - served, 6u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    for (const VerifyResult& r : {byThread[i], byEngine.at(tasks[i].id)}) {
      EXPECT_EQ(r.status, VERIFY_OK) << cases[i].line;
      EXPECT_EQ(r.exitAddresses, cases[i].exits) << cases[i].line;
      // The first answer's exit, one address, for what locates the proxy by it.
      EXPECT_NE(std::find(cases[i].exits.begin(), cases[i].exits.end(), r.exitAddress), cases[i].exits.end())
          << cases[i].line;
      // The second request is no part of the proxy's time.
      EXPECT_LT(r.seconds, 1.0) << cases[i].line;
    }
  }
}

TEST(Ipv6Proxies, TheCommandVerifiesBracketedAndNamedRows) {
  hosttest::Ipv6Proxies proxies;
  REQUIRE_IPV6_PROXIES(proxies);
  CJudgeServer judge{"localhost", 0};
  ASSERT_TRUE(judge.Start().ok());
  const std::string judge6 = "http://[::1]:" + std::to_string(judge.Port()) + "/";
  qbtest::TempDir data;
  const std::string http = "[::1]:" + std::to_string(proxies.HttpPort()) + "@HTTP";
  const std::string socks = "[::1]:" + std::to_string(proxies.Socks5Port()) + "@SOCKS5";
  const std::string dead = "[::1]:" + std::to_string(hosttest::FreeDualPort()) + "@HTTP";
  // localhost is looked up for real (the hosts file has it); the proxy also listens on
  // 127.0.0.1.
  const std::string named = "localhost:" + std::to_string(proxies.HttpPort()) + "@HTTP";
  qbtest::WriteFile(data.File("Proxies.pro"),
                    http + "\r\n" + socks + "\r\n" + dead + "\r\n" + named + "\r\n");

  const auto r =
      qbtest::RunCli({"--data-dir", data.Path(), "verify", "--connect-timeout", "2", "--verify-timeout", "2",
                      "--http", judge6, "REMOTE_ADDR", "--format", "jsonl"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, QJsonObject> byProxy;
  qb::ForEachLine(r.out, [&](std::string_view line) {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
    byProxy[o.value("address").toString().toStdString() + ":" + std::to_string(o.value("port").toInteger()) +
            "@" + o.value("type").toString().toStdString()] = o;
  });
  ASSERT_EQ(byProxy.size(), 4u) << r.out;
  for (const std::string& line : {http, socks, named}) {
    const QJsonObject& o = byProxy[line];
    EXPECT_EQ(o.value("state").toString().toStdString(), "ok") << line << "\n" << r.out;
    EXPECT_EQ(o.value("exit").toString().toStdString(), "::1") << line;
  }
  EXPECT_EQ(byProxy[dead].value("state").toString().toStdString(), "failed");

  // The list file keeps the rows as they were written, with their results.
  const std::string saved = qbtest::ReadFile(data.File("Proxies.pro"));
  for (const std::string& line : {http, socks, named}) {
    const std::size_t at = saved.find(line + "$");
    ASSERT_NE(at, std::string::npos) << line << "\n" << saved;
    EXPECT_TRUE(IsTimeText(saved.substr(at + line.size() + 1, saved.find("\r\n", at) - at - line.size() - 1)))
        << saved;
  }
  EXPECT_NE(saved.find(dead + "$连接失败\r\n"), std::string::npos) << saved;
}

}  // namespace

namespace {

std::vector<std::string> ProxiesOf(const std::string& jsonl) {
  std::vector<std::string> out;
  qb::ForEachLine(jsonl, [&](std::string_view line) {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
    out.push_back(o.value("address").toString().toStdString() + ":" +
                  std::to_string(o.value("port").toInteger()) + "@" +
                  o.value("type").toString().toStdString());
  });
  std::sort(out.begin(), out.end());
  return out;
}

// The command's own bookkeeping of a FILE's proxies (--shard, --resume) knows a
// bracketed address and a name as the rows hold them.
TEST(Ipv6Proxies, SharesAndResumeTakeBracketedAndNamedRows) {
  qbtest::TempDir data;
  const std::string dead = std::to_string(hosttest::FreeDualPort());
  std::vector<std::string> rows = {"[::1]:" + dead + "@HTTP", "localhost:" + dead + "@HTTP",
                                   "127.0.0.1:" + dead + "@SOCKS5", "[::1]:" + dead + "@SOCKS5"};
  std::sort(rows.begin(), rows.end());
  std::string file;
  for (const std::string& r : rows) file += r + "\n";
  qbtest::WriteFile(data.File("list.txt"), file);
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"--data-dir",       data.Path(), "verify", "--connect-timeout",   "1",
                                     "--verify-timeout", "1",         "--http", "http://127.0.0.1:9/", "x",
                                     "--format",         "jsonl"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(data.File("list.txt"));
    return qbtest::RunCli(args);
  };
  // The shares together are the file, each proxy in one of them.
  std::vector<std::string> shared;
  for (const char* share : {"1/2", "2/2"}) {
    const auto r = run({"--shard", share});
    const std::vector<std::string> got = ProxiesOf(r.out);
    shared.insert(shared.end(), got.begin(), got.end());
  }
  std::sort(shared.begin(), shared.end());
  EXPECT_EQ(shared, rows);

  // A run resumed from an output that holds one of them verifies the others; one
  // resumed from a whole run's output has nothing left.
  const auto whole = run({});
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  ASSERT_EQ(ProxiesOf(whole.out), rows);
  std::string first;
  qb::ForEachLine(whole.out, [&](std::string_view line) {
    if (first.empty()) first = std::string(line) + "\n";
  });
  qbtest::WriteFile(data.File("part.jsonl"), first);
  const auto rest = run({"--resume", data.File("part.jsonl")});
  std::vector<std::string> expected = rows;
  expected.erase(std::find(expected.begin(), expected.end(), ProxiesOf(first).front()));
  EXPECT_EQ(ProxiesOf(rest.out), expected);
  qbtest::WriteFile(data.File("all.jsonl"), whole.out);
  const auto none = run({"--resume", data.File("all.jsonl")});
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.exitCode, 1) << none.err;
}

}  // namespace
