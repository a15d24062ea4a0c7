// The pool given as the list's packed rows, whose proxies get their state only when
// first used: it must choose, judge, carry over and show exactly what the same proxies
// given whole do, under every policy, and find a proxy by its line byte for byte.
#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "endpoint/Endpoint.h"
#include "endpoint/PoolMetrics.h"
#include "endpoint/UpstreamPool.h"
#include "proxy/GeoLocation.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/VerifyStatus.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

namespace {

using qb::CProxyEntry;
using qb::EndpointPolicy;
using qb::UpstreamPool;
using qb::UpstreamProxy;
using qb::UpstreamRef;
using qb::UpstreamRows;
using Outcome = UpstreamPool::Outcome;
using Clock = UpstreamPool::Clock;
using std::chrono::milliseconds;

std::string LineOf(const UpstreamRef& u) {
  return u ? u->Proxy().Line() : "none";
}

// A pool with its announcements noted and its names answered as the test says.
struct Noted {
  explicit Noted(EndpointPolicy policy) : pool(Rules(policy)) {
    pool.OnSetAside([this](const std::string& line, const std::string& reason) {
      said.push_back("aside " + line + " " + reason);
    });
    pool.OnUnresolved([this](const std::string& line, const std::string& error) {
      said.push_back("unresolved " + line + " " + error);
    });
    pool.OnLookup([this](const std::string& name) { asked.push_back(name); });
  }
  static UpstreamPool::Rules Rules(EndpointPolicy policy) {
    UpstreamPool::Rules rules;
    rules.policy = policy;
    rules.failuresToSetAside = 2;
    rules.setAside = milliseconds(5000);
    return rules;
  }
  // Names ending in an even digit give loopback addresses; the others none.
  void AnswerNames(Clock::time_point now) {
    for (const std::string& name : asked) {
      qb::NameResolver::Answer a;
      a.name = name;
      if ((name.back() - '0') % 2 == 0) {
        a.addresses.push_back(*qb::NumericAddress("127.0.0.2", 0));
      } else {
        a.error = "Name or service not known";
        a.lasting = true;
      }
      pool.Resolved(a, now);
    }
    asked.clear();
  }
  UpstreamPool pool;
  std::vector<std::string> said;
  std::vector<std::string> asked;
};

// Working and failed rows of every kind the pool must tell apart: addresses that are
// read at once and IPv6 ones, host names, ports of no use ("0", "99999") and "080",
// types in any case and ones the endpoint cannot use, times finer than a millisecond
// and equal times, repeats.
std::vector<CProxyEntry> MakeRows(std::mt19937& rng, int count) {
  static const char* const kTypes[] = {"HTTP", "https", "SOCKS4", "SOCKS5", "socks5", "FTP"};
  static const char* const kStatus[] = {"0.5", "0.25", "1.5", "0.0005", "2", "连接失败", "超时", "0.125"};
  std::vector<CProxyEntry> rows;
  for (int i = 0; i < count; ++i) {
    const unsigned kind = static_cast<unsigned>(rng()) % 20;
    std::string addr = "127.0.0." + std::to_string(1 + static_cast<unsigned>(rng()) % 200);
    if (kind == 0) addr = "::1";
    if (kind == 1) addr = "gw" + std::to_string(static_cast<unsigned>(rng()) % 4) + ".test";
    std::string port = std::to_string(1 + static_cast<unsigned>(rng()) % 60000);
    if (kind == 2) port = "0";
    if (kind == 3) port = "080";
    if (kind == 4) port = "99999";
    std::string status = kStatus[static_cast<unsigned>(rng()) % 8];
    if (status[0] != '0' && status[0] != '1' && status[0] != '2') {
      // a failure
    } else if (static_cast<unsigned>(rng()) % 3 == 0) {
      status = std::to_string(static_cast<unsigned>(rng()) % 3) + "." +
               std::to_string(static_cast<unsigned>(rng()) % 1000);
    }
    rows.emplace_back(addr, port, kTypes[static_cast<unsigned>(rng()) % 6], status, "");
    if (static_cast<unsigned>(rng()) % 25 == 0)
      rows.push_back(rows[static_cast<unsigned>(rng()) % rows.size()]);
  }
  return rows;
}

// What the history would say of a few proxies, the tampering ones among them.
std::optional<qb::VerifiedFacts> Facts(const std::string& line) {
  const std::size_t h = std::hash<std::string>()(line);
  if (h % 7 == 0) return qb::VerifiedFacts{"198.51.100." + std::to_string(h % 3), "elite", "clean"};
  if (h % 11 == 0) return qb::VerifiedFacts{"", "transparent", qb::TrustWord(qb::Trust::Modified)};
  return std::nullopt;
}

std::string Describe(const qb::UpstreamState& s) {
  return qb::Format(
      "%s %s %s latency=%g failures=%d uptime=%g exit=%s country=%s anonymity=%s trust=%s network=%s "
      "connections=%llu failed=%llu",
      s.line.c_str(), s.type.c_str(), s.state.c_str(), s.latency, s.failures, s.uptime, s.exitAddress.c_str(),
      s.country.c_str(), s.anonymity.c_str(), s.trust.c_str(), s.network.c_str(),
      static_cast<unsigned long long>(s.connections), static_cast<unsigned long long>(s.failuresTotal));
}

// Empty when both views are the same; else the first proxy they differ on.
std::string Differences(const std::vector<qb::UpstreamState>& a, const std::vector<qb::UpstreamState>& b) {
  if (a.size() != b.size()) return qb::Format("%zu proxies against %zu", a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i]))
      return qb::Format("row %zu: %s\nagainst %s", i, Describe(a[i]).c_str(), Describe(b[i]).c_str());
  }
  return {};
}

std::vector<std::string> Lines(const std::vector<UpstreamRef>& refs) {
  std::vector<std::string> lines;
  for (const UpstreamRef& u : refs) lines.push_back(LineOf(u));
  return lines;
}

TEST(UpstreamPoolRows, PackedRowsAndWholeProxiesAreHandedOutJudgedAndShownAlike) {
  qbtest::TempDir dir;
  ASSERT_TRUE(qbtest::StoreLogOn(dir.Path(), qb::CredentialsKey("127.0.0.9", "8080", "HTTP"),
                                 qb::ProxyCredentials{"u", "p"})
                  .ok());
  const qb::CProxyCredentialStore logOns = qbtest::OpenTestDir(dir.Path())->Credentials();
  for (const EndpointPolicy policy :
       {EndpointPolicy::Failover, EndpointPolicy::RoundRobin, EndpointPolicy::Fastest}) {
    std::mt19937 rng(11 + static_cast<int>(policy));
    Noted packed(policy), whole(policy);
    Clock::time_point now = Clock::now();
    const auto give = [&](std::vector<CProxyEntry> rows) {
      rows.emplace_back("127.0.0.9", "8080", "HTTP", "0.3", "");  // the one with a log-on
      std::vector<UpstreamProxy> proxies = qb::UpstreamsFromEntries(rows, logOns, {});
      qb::DescribeUpstreams(proxies, Facts, {});
      qb::LeaveOutTampering(proxies);
      whole.pool.SetPool(std::move(proxies));
      packed.pool.SetPool(qb::UpstreamRowsFromEntries(std::move(rows), logOns, {}, Facts, true, {}));
      ASSERT_TRUE(whole.pool.TakePending(now));
      ASSERT_TRUE(packed.pool.TakePending(now));
      ASSERT_EQ(std::multiset<std::string>(packed.asked.begin(), packed.asked.end()),
                std::multiset<std::string>(whole.asked.begin(), whole.asked.end()));
      packed.AnswerNames(now);
      whole.AnswerNames(now);
    };
    std::vector<CProxyEntry> rows = MakeRows(rng, 400);
    give(rows);
    ASSERT_GT(packed.pool.Size(), 100u);
    ASSERT_EQ(Differences(packed.pool.States(now), whole.pool.States(now)), "");
    // Found by its line (which makes its state, in both alike), with its log-on.
    EXPECT_EQ(packed.pool.Find("127.0.0.9:8080@HTTP")->Proxy().logOn, (qb::ProxyCredentials{"u", "p"}));
    EXPECT_EQ(whole.pool.Find("127.0.0.9:8080@HTTP")->Proxy().logOn, (qb::ProxyCredentials{"u", "p"}));
    std::vector<UpstreamRef> triedPacked, triedWhole;
    for (int step = 0; step < 1500; ++step) {
      const unsigned r = static_cast<unsigned>(rng()) % 100;
      if (r < 5) {
        triedPacked.clear();
        triedWhole.clear();
      }
      if (step == 700) {
        // A fresh list: some rows gone, some with new times, the rest in another order.
        std::shuffle(rows.begin(), rows.end(), rng);
        rows.resize(rows.size() * 3 / 4);
        for (std::size_t i = 0; i < rows.size(); i += 9) rows[i].SetTimeStatus("0.75");
        give(rows);
        triedPacked.clear();
        triedWhole.clear();
      }
      const UpstreamRef a = packed.pool.Get(triedPacked, now);
      const UpstreamRef b = whole.pool.Get(triedWhole, now);
      ASSERT_EQ(LineOf(a), LineOf(b)) << "step " << step;
      if (a) {
        ASSERT_EQ(a->Proxy().logOn, b->Proxy().logOn);
        ASSERT_EQ(a->Proxy().exitAddress, b->Proxy().exitAddress);
        const double seconds = 0.05 * (1 + static_cast<unsigned>(rng()) % 40);
        const Outcome outcome = r < 45 ? Outcome::Failed : r < 90 ? Outcome::Ok : Outcome::Unjudged;
        packed.pool.Release(a, outcome, seconds, "refused", now);
        whole.pool.Release(b, outcome, seconds, "refused", now);
        if (outcome == Outcome::Failed) {
          triedPacked.push_back(a);
          triedWhole.push_back(b);
        }
      }
      if (r % 10 == 3) {
        now += milliseconds(static_cast<unsigned>(rng()) % 4000);
        packed.pool.Expire(now);
        whole.pool.Expire(now);
      }
      if (r % 17 == 0) {
        const std::string line = qb::FormatProxyLine(rows[static_cast<unsigned>(rng()) % rows.size()]);
        const std::string upper =
            line.substr(0, line.rfind('@') + 1) + qb::AsciiUpper(line.substr(line.rfind('@') + 1));
        ASSERT_EQ(packed.pool.MarkBad(upper, "marked bad", now),
                  whole.pool.MarkBad(upper, "marked bad", now));
      }
      if (r % 13 == 0) {
        const auto duePacked = packed.pool.DueForCheck(now, std::chrono::seconds(30), 4);
        const auto dueWhole = whole.pool.DueForCheck(now, std::chrono::seconds(30), 4);
        ASSERT_EQ(Lines(duePacked), Lines(dueWhole)) << "step " << step;
        for (std::size_t i = 0; i < duePacked.size(); ++i) {
          const bool ok = (static_cast<unsigned>(rng()) % 2) == 0;
          // The same proxy: a repeated line has a state of its own in each pool alike.
          packed.pool.CheckStarted(duePacked[i]);
          packed.pool.Checked(duePacked[i], ok, 0.2, "no answer", now);
          whole.pool.CheckStarted(dueWhole[i]);
          whole.pool.Checked(dueWhole[i], ok, 0.2, "no answer", now);
        }
      }
      if (r % 50 == 1) {
        ASSERT_EQ(Differences(packed.pool.States(now), whole.pool.States(now)), "") << "step " << step;
        ASSERT_EQ(packed.pool.Usable(), whole.pool.Usable());
        ASSERT_EQ(packed.pool.Unresolved(), whole.pool.Unresolved());
      }
    }
    EXPECT_EQ(packed.said, whole.said);
    EXPECT_GT(packed.said.size(), 20u);
    EXPECT_EQ(Differences(packed.pool.States(now), whole.pool.States(now)), "");
  }
}

// The rows come fastest first, equal times in the list's order, as the whole proxies
// do: times of whole milliseconds (any number of seconds, past 65.536 s too) and, in a
// list of its own, times finer than that.
TEST(UpstreamPoolRows, RowsAreOrderedByTimeAsTheWholeProxiesAre) {
  std::mt19937 rng(3);
  for (const bool finer : {false, true}) {
    std::vector<CProxyEntry> rows;
    for (int i = 0; i < 5000; ++i) {
      const unsigned ms = static_cast<unsigned>(rng()) % 4 == 0 ? static_cast<unsigned>(rng()) % 200000
                                                                : static_cast<unsigned>(rng()) % 3000;
      std::string time = qb::Format("%u.%03u", ms / 1000, ms % 1000);
      if (finer && i % 100 == 0) time += "5";
      rows.emplace_back("127.0.2." + std::to_string(i % 250), std::to_string(1 + i), "HTTP", time, "");
    }
    const std::vector<UpstreamProxy> whole = qb::UpstreamsFromEntries(rows, qb::CProxyCredentialStore(), {});
    const UpstreamRows packed =
        qb::UpstreamRowsFromEntries(rows, qb::CProxyCredentialStore(), {}, {}, true, {});
    ASSERT_EQ(packed.rows.size(), whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
      ASSERT_EQ(qb::FormatProxyLine(packed.rows[i]), whole[i].Line()) << i << (finer ? " finer" : "");
    }
  }
}

// Rows in no order of time: the fastest policy still takes the fastest row it has not
// tried yet (of equal times, the first), without sorting the pool for it.
TEST(UpstreamPoolRows, FastestFindsTheFastestRowInRowsOfAnyOrder) {
  std::mt19937 rng(5);
  UpstreamRows rows;
  std::vector<std::pair<double, std::size_t>> byTime;
  for (std::size_t i = 0; i < 3000; ++i) {
    const unsigned ms = 1 + static_cast<unsigned>(rng()) % 900;
    rows.rows.emplace_back("127.0.1." + std::to_string(i % 250), std::to_string(1000 + i), "HTTP",
                           qb::Format("%u.%03u", ms / 1000, ms % 1000), "");
    byTime.emplace_back(ms / 1000.0, i);
  }
  std::stable_sort(byTime.begin(), byTime.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  UpstreamPool::Rules rules;
  rules.policy = EndpointPolicy::Fastest;
  rules.toleranceSeconds = 0;
  UpstreamPool pool(rules);
  const std::vector<CProxyEntry> kept = rows.rows;
  pool.SetPool(std::move(rows));
  const Clock::time_point now = Clock::now();
  ASSERT_TRUE(pool.TakePending(now));
  for (std::size_t k = 0; k < 200; ++k) {
    const UpstreamRef u = pool.Get({}, now);
    ASSERT_TRUE(u);
    ASSERT_EQ(LineOf(u), qb::FormatProxyLine(kept[byTime[k].second])) << k;
    // Measured slower than any row: the next fastest row comes next.
    pool.Release(u, Outcome::Ok, 5, {}, now);
  }
}

// A fresh pool of the same proxies in another order keeps what each one taught the
// last, by its line; a new time for one clears what was held against it.
TEST(UpstreamPoolRows, AFreshPoolInAnotherOrderKeepsWhatEachProxyTaught) {
  Noted noted(EndpointPolicy::Failover);
  const auto rowsOf = [](bool reversed, const char* thirdTime) {
    UpstreamRows rows;
    for (int i = 0; i < 5; ++i) {
      rows.rows.emplace_back("127.0.0.1", std::to_string(2000 + i), "SOCKS5", i == 2 ? thirdTime : "0.5", "");
    }
    if (reversed) std::reverse(rows.rows.begin(), rows.rows.end());
    return rows;
  };
  const Clock::time_point now = Clock::now();
  noted.pool.SetPool(rowsOf(false, "0.5"));
  ASSERT_TRUE(noted.pool.TakePending(now));
  for (int i = 0; i < 3; ++i) {
    const UpstreamRef u = noted.pool.Get({}, now);
    noted.pool.Release(u, Outcome::Failed, 0, "refused", now);
    noted.pool.Release(u, Outcome::Failed, 0, "refused", now);
  }
  const UpstreamRef worked = noted.pool.Get({}, now);
  ASSERT_EQ(LineOf(worked), "127.0.0.1:2003@SOCKS5");
  noted.pool.Release(worked, Outcome::Ok, 0.2, {}, now);
  noted.pool.Release(worked, Outcome::Ok, 0.2, {}, now);
  ASSERT_EQ(noted.pool.Usable(), 2u);

  noted.said.clear();
  noted.pool.SetPool(rowsOf(true, "0.9"));
  ASSERT_TRUE(noted.pool.TakePending(now));
  // Only the proxy with a new time is taken back, and said to be.
  EXPECT_EQ(noted.said, std::vector<std::string>{"aside 127.0.0.1:2002@SOCKS5 "});
  EXPECT_EQ(noted.pool.Usable(), 3u);
  std::map<std::string, qb::UpstreamState> states;
  for (const qb::UpstreamState& s : noted.pool.States(now)) states[s.line] = s;
  EXPECT_EQ(states["127.0.0.1:2000@SOCKS5"].state, "aside");
  EXPECT_EQ(states["127.0.0.1:2000@SOCKS5"].failuresTotal, 2u);
  EXPECT_EQ(states["127.0.0.1:2002@SOCKS5"].state, "ok");
  EXPECT_EQ(states["127.0.0.1:2002@SOCKS5"].failuresTotal, 2u);
  EXPECT_EQ(states["127.0.0.1:2003@SOCKS5"].connections, 2u);
  double measured = 0.5;  // from its verification time, then two connections of 0.2 s
  for (int i = 0; i < 2; ++i) measured = 0.7 * measured + 0.3 * 0.2;
  EXPECT_DOUBLE_EQ(states["127.0.0.1:2003@SOCKS5"].latency, measured);
  EXPECT_EQ(states["127.0.0.1:2004@SOCKS5"].connections, 0u);
  // The old pool's proxies count for nothing now, and the new order serves.
  noted.pool.Release(worked, Outcome::Failed, 0, "refused", now);
  EXPECT_EQ(LineOf(noted.pool.Get({}, now)), "127.0.0.1:2004@SOCKS5");
}

// The counts and metrics of a pool of many rows read only the proxies used, and say
// what a view of every row says.
TEST(UpstreamPoolRows, TheMetricsOfTheUsedAreTheMetricsOfEveryRow) {
  UpstreamPool::Rules rules;
  rules.failuresToSetAside = 1;
  UpstreamPool pool(rules);
  UpstreamRows rows;
  for (int i = 0; i < 50000; ++i)
    rows.rows.emplace_back("127.0.3." + std::to_string(i % 250), std::to_string(1 + i), "SOCKS5", "0.5", "");
  rows.rows.emplace_back("gw.test", "1080", "HTTP", "0.6", "");  // left out until its name answers
  rows.rows.emplace_back("::1", "1080", "HTTP", "0.7", "");      // has its address as it is
  pool.SetPool(std::move(rows));
  const Clock::time_point now = Clock::now();
  ASSERT_TRUE(pool.TakePending(now));
  const UpstreamRef first = pool.Get({}, now);
  pool.Release(first, Outcome::Failed, 0, "refused", now);
  const UpstreamRef second = pool.Get({}, now);
  pool.Release(second, Outcome::Ok, 0.2, {}, now);
  second->Carried(100, 2000);
  const qb::UpstreamSummary summary{pool.Size(), pool.UsedStates(now)};
  EXPECT_EQ(summary.members, 50002u);
  EXPECT_EQ(summary.used.size(), 3u);  // the name's, and the two handed out
  qb::CEndpoint::Stats stats;
  stats.accepted = 2;
  qb::PoolMetrics fromSummary, fromEvery;
  EXPECT_EQ(fromSummary.Scrape(summary, stats), fromEvery.Scrape(pool.States(now), stats));
  EXPECT_NE(fromSummary.Scrape(summary, stats).find("state=\"ok\"} 50000"), std::string::npos)
      << fromSummary.Scrape(summary, stats);

  // A page of the view is that part of the whole view, and asking whether a line is
  // in the pool makes no state for it.
  const std::vector<qb::UpstreamState> every = pool.States(now);
  const auto lines = [](const std::vector<qb::UpstreamState>& states) {
    std::vector<std::string> out;
    for (const qb::UpstreamState& s : states)
      out.push_back(s.line + " " + s.state + " " + std::to_string(s.connections));
    return out;
  };
  for (const auto& [offset, limit] : std::vector<std::pair<std::size_t, std::size_t>>{
           {0, 3}, {49998, 10}, {50001, 1}, {50002, 5}, {60000, 1}, {7, 0}, {0, SIZE_MAX}, {1, SIZE_MAX}}) {
    const std::size_t from = std::min(offset, every.size());
    const std::size_t to = from + std::min(limit, every.size() - from);
    EXPECT_EQ(lines(pool.States(now, offset, limit)),
              lines(std::vector<qb::UpstreamState>(every.begin() + from, every.begin() + to)))
        << offset << " " << limit;
  }
  EXPECT_TRUE(pool.Has("127.0.3.7:8@SOCKS5"));
  EXPECT_TRUE(pool.Has("::1:1080@HTTP"));
  EXPECT_FALSE(pool.Has("127.0.3.7:8@HTTP"));
  EXPECT_FALSE(pool.Has("127.0.3.7:8"));
  EXPECT_EQ(pool.UsedStates(now).size(), 3u);
}

TEST(UpstreamPoolRows, ALineIsFoundOnlyAsThePoolWritesIt) {
  UpstreamPool pool({});
  UpstreamRows rows;
  rows.rows.emplace_back("127.0.0.1", "1080", "socks5", "0.2", "");
  rows.rows.emplace_back("::1", "3128", "HTTP", "0.3", "");
  rows.rows.emplace_back("Gw.Test", "8080", "HTTP", "0.4", "");
  rows.rows.emplace_back("127.0.0.1", "080", "HTTP", "0.5", "");
  pool.SetPool(std::move(rows));
  ASSERT_TRUE(pool.TakePending());
  for (const char* line :
       {"127.0.0.1:1080@SOCKS5", "::1:3128@HTTP", "Gw.Test:8080@HTTP", "127.0.0.1:080@HTTP"}) {
    const UpstreamRef u = pool.Find(line);
    ASSERT_TRUE(u) << line;
    EXPECT_EQ(LineOf(u), line);
    EXPECT_EQ(pool.Find(line), u) << "the same state each time";
  }
  for (const char* line : {"127.0.0.1:1080@socks5", "gw.test:8080@HTTP", "127.0.0.1:80@HTTP",
                           "127.0.0.1:1080", "", "@", ":@", "127.0.0.1:1080@SOCKS4"})
    EXPECT_FALSE(pool.Find(line)) << line;
}

// The country and network of a proxy are looked up when its view is asked for, and
// say what looking them up for every proxy when the pool was made said.
TEST(UpstreamPoolRows, CountryAndNetworkWhenAskedAsWhenDescribed) {
  qbtest::TempDir data, system;
  qputenv(qb::kSystemGeoIpDirVariable, QByteArray::fromStdString(system.Path()));
  for (const auto& [file, type] : {std::pair<const char*, const char*>{"test-country.mmdb", "Test-Country"},
                                   {"test-asn.mmdb", "Test-ASN"}}) {
    QProcess perl;
    perl.start("/usr/bin/perl", {QB_SOURCE_DIR "/tests/support/make-mmdb.pl",
                                 QString::fromStdString(data.File(file)), type, "1700000000"});
    ASSERT_TRUE(perl.waitForFinished(60000));
    ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();
  }
  const std::vector<CProxyEntry> rows = {{"198.51.100.7", "1080", "SOCKS5", "0.1", ""},
                                         {"127.0.0.1", "3128", "HTTP", "0.2", ""},
                                         {"192.0.2.1", "8080", "HTTP", "0.3", ""},
                                         {"gw.test", "8080", "HTTP", "0.4", ""}};
  const auto facts = [](const std::string& line) -> std::optional<qb::VerifiedFacts> {
    if (line != "127.0.0.1:3128@HTTP") return std::nullopt;
    return qb::VerifiedFacts{"203.0.113.9", "elite", "clean"};
  };
  std::vector<UpstreamProxy> described = qb::UpstreamsFromEntries(rows, qb::CProxyCredentialStore(), {});
  qb::DescribeUpstreams(described, facts, data.Path());
  UpstreamPool packed({}), whole({});
  packed.SetPool(
      qb::UpstreamRowsFromEntries(rows, qb::CProxyCredentialStore(), {}, facts, true, data.Path()));
  whole.SetPool(described);
  ASSERT_TRUE(packed.TakePending());
  ASSERT_TRUE(whole.TakePending());
  const auto states = packed.States(Clock::now());
  EXPECT_EQ(Differences(states, whole.States(Clock::now())), "");
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states[0].country, "DE");
  EXPECT_EQ(states[1].country, "NZ");  // where its traffic comes out
  EXPECT_EQ(states[1].network, "AS64496 Example Transit");
  EXPECT_EQ(states[3].country, "");
  qunsetenv(qb::kSystemGeoIpDirVariable);
}

}  // namespace
