// merge over outputs of several MiB, which it reads in parts on several threads and
// keeps as packed rows: each case is checked against rows worked out here the plain
// way (a map of key texts, the last result winning unless it is unverified, a stable
// sort by the time column's rank).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

struct Row {
  std::string written;  // the host as the line writes it
  std::string host;     // its canonical text, as merge prints it
  std::string port, type, status, remark;
  std::optional<std::pair<std::string, std::string>> judged;
};

std::string Key(const Row& r) {
  return qb::AsciiUpper(r.host) + ":" + r.port + "@" + qb::AsciiUpper(r.type);
}

bool Unverified(const std::string& status) {
  return status.empty() || status == qb::kStatusUnverified || status == qb::kStatusVerifying;
}

std::string LineOf(const Row& r, const std::string& host) {
  std::string line = host + ":" + r.port + "@" + r.type;
  if (!r.status.empty()) line += "$" + r.status;
  if (!r.remark.empty()) line += "#" + r.remark;
  if (r.judged) line += "\t" + r.judged->first + "\t" + r.judged->second;
  return line;
}

// The rows merge makes of rows read in this order, in the order it prints them.
std::vector<Row> Merged(const std::vector<Row>& read) {
  std::map<std::string, std::size_t> at;
  std::vector<Row> rows;
  for (const Row& r : read) {
    const auto [it, fresh] = at.emplace(Key(r), rows.size());
    if (fresh) {
      rows.push_back(r);
    } else if (!Unverified(r.status) || Unverified(rows[it->second].status)) {
      rows[it->second] = r;
    }
  }
  for (Row& r : rows) {
    if (r.status.empty()) r.status = qb::kStatusUnverified;
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return qb::TimeStatusRank(a.status) < qb::TimeStatusRank(b.status);
  });
  return rows;
}

// As merge prints them: the judge's columns only after a measured time.
std::string Printed(const std::vector<Row>& rows) {
  std::string out;
  for (Row r : rows) {
    if (!qb::IsTimeText(r.status)) r.judged.reset();
    out += LineOf(r, r.host) + "\n";
  }
  return out;
}

// Rows of outputs as runs on several machines write them: mostly IPv4 addresses, some
// IPv6 addresses and host names (names written in capitals now and then),
// times and failure words, some unverified, remarks short and long, the judge's
// columns on a few; about one row in five a proxy seen before.
std::vector<Row> MakeRows(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::vector<std::string> types{"HTTP", "HTTPS", "SOCKS4", "SOCKS5"};
  const std::vector<std::string> failures{qb::kStatusConnectFailed, qb::kStatusTimeout, qb::kStatusMismatch,
                                          qb::kStatusUnresolved, qb::kStatusException};
  const std::vector<std::string> remarks{"北京", "US", "a remark with blanks in it",
                                         "a remark longer than the fifteen bytes a row keeps inside itself"};
  std::vector<Row> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    Row r;
    if (!rows.empty() && pick(5) == 0) {
      r = rows[pick(rows.size())];
      if (pick(4) == 0 && r.host.front() != '[') r.written = qb::AsciiUpper(r.written);
    } else {
      const std::size_t kind = pick(50);
      if (kind == 0) {
        r.host = qb::Format("[2001:db8::%zx:%zx]", (i >> 16) + 1, i & 0xFFFF);
        r.written = r.host;
      } else if (kind == 1) {
        r.host = qb::Format("gw-%zu.merge.test", i % 997);
        r.written = pick(2) ? r.host : qb::AsciiUpper(r.host);
      } else {
        r.host = qb::Format("%zu.%zu.%zu.%zu", 1 + i % 223, (i >> 16) & 255, (i >> 8) & 255, i & 255);
        r.written = r.host;
      }
      r.port = std::to_string(1 + pick(65535));
      r.type = types[pick(types.size())];
    }
    const std::size_t result = pick(10);
    r.status = result < 4   ? qb::Format("%zu.%zu", pick(10), pick(100))
               : result < 8 ? failures[pick(failures.size())]
               : result < 9 ? std::string(qb::kStatusUnverified)
                            : std::string();
    r.remark = pick(3) == 0 ? remarks[pick(remarks.size())] : std::string();
    r.judged.reset();
    if (pick(20) == 0)
      r.judged = std::make_pair(std::string("elite"), qb::Format("203.0.113.%zu", pick(256)));
    rows.push_back(std::move(r));
  }
  return rows;
}

// The rows as an output's text, each line ending in LF or CR LF at random, and the last
// one with no line end when lastEnd is false.
std::string TextOf(const std::vector<Row>& rows, std::uint32_t seed, bool lastEnd) {
  std::mt19937 rng(seed);
  std::string text;
  for (const Row& r : rows) text += LineOf(r, r.written) + (rng() % 2 ? "\r\n" : "\n");
  if (!lastEnd && !text.empty()) text.erase(text.find_last_not_of("\r\n") + 1);
  return text;
}

class MergeRows : public ::testing::Test {
 protected:
  qbtest::TempDir data;
  qbtest::TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};

  qbtest::CliResult Merge(std::vector<std::string> args) {
    args.insert(args.begin(), {"--data-dir", data.Path(), "merge"});
    return qbtest::RunCli(args);
  }
};

// Two outputs of several MiB each (parts of both end inside lines), with repeats within
// and across them: every proxy once, the last result read winning unless it is
// unverified, in the order of the time column and of first reading.
TEST_F(MergeRows, LargeOutputsGiveTheRowsOfTheirResultsInTheirOrder) {
  const std::vector<Row> first = MakeRows(120000, 1);
  std::vector<Row> second = MakeRows(120000, 2);
  // Proxies of the first output again in the second, with other results.
  for (std::size_t i = 0; i < second.size(); i += 7) {
    const std::string status = second[i].status;
    second[i] = first[(i * 31) % first.size()];
    second[i].status = status;
  }
  const std::string a = data.File("a.txt"), b = data.File("b.txt");
  qbtest::WriteFile(a, TextOf(first, 3, true));
  qbtest::WriteFile(b, TextOf(second, 4, false));
  ASSERT_GT(qbtest::ReadFile(a).size(), std::size_t{3} << 20);

  std::vector<Row> both = first;
  both.insert(both.end(), second.begin(), second.end());
  auto r = Merge({a, b});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string want = Printed(Merged(both));
  EXPECT_EQ(r.out.size(), want.size());
  EXPECT_TRUE(r.out == want) << "first difference at byte "
                             << std::mismatch(r.out.begin(), r.out.end(), want.begin(), want.end()).first -
                                    r.out.begin();

  // The other order makes other results win.
  std::vector<Row> reversed = second;
  reversed.insert(reversed.end(), first.begin(), first.end());
  r = Merge({b, a});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out == Printed(Merged(reversed)));

  // The same text from standard input, which is read whole, gives the same rows.
  const qbtest::CliResult piped =
      qbtest::RunCli({"--data-dir", data.Path(), "merge", "-"}, qbtest::ReadFile(a) + qbtest::ReadFile(b));
  ASSERT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_TRUE(piped.out == want);
}

// Times are sorted as whole milliseconds when every one of them is one, and as the
// times themselves otherwise: a time finer than a millisecond, one that no packed row
// holds ("12."), and times that are equal though written apart ("1.5", "1.50") keep the
// order the time column gives them.
TEST_F(MergeRows, TimesSortExactlyWhateverTheirDigits) {
  auto row = [](std::string host, std::string status) {
    Row r;
    r.host = r.written = std::move(host);
    r.port = "8080";
    r.type = "HTTP";
    r.status = std::move(status);
    return r;
  };
  const std::vector<Row> whole{row("10.0.0.1", "1.50"), row("10.0.0.2", qb::kStatusTimeout),
                               row("10.0.0.3", "0.25"), row("10.0.0.4", "1.5"),
                               row("10.0.0.5", "12."),  row("10.0.0.6", "0"),
                               row("10.0.0.7", "3")};
  std::vector<Row> finer = whole;
  finer.push_back(row("10.0.0.8", "0.0005"));
  finer.push_back(row("10.0.0.9", "0.0001"));
  finer.push_back(row("10.0.0.10", "0.000"));
  for (const std::vector<Row>* rows : {&whole, static_cast<const std::vector<Row>*>(&finer)}) {
    const std::string file = data.File("times.txt");
    qbtest::WriteFile(file, TextOf(*rows, 1, true));
    const auto r = Merge({file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, Printed(Merged(*rows)));
  }
  // Spot checks of the reference itself: equal times in the order read, the finer
  // times between 0 and 0.25.
  const std::string printed = Printed(Merged(finer));
  EXPECT_LT(printed.find("10.0.0.1:"), printed.find("10.0.0.4:"));
  EXPECT_LT(printed.find("10.0.0.6:"), printed.find("10.0.0.9:"));
  EXPECT_LT(printed.find("10.0.0.8:"), printed.find("10.0.0.3:"));
}

// A line longer than the parts a file is read in (a remark of 3 MiB) is read whole by
// one part and skipped by the others; lines that are no proxy are counted once.
TEST_F(MergeRows, ALineLongerThanAPartIsOneRow) {
  std::vector<Row> rows = MakeRows(60000, 5);
  Row huge{"127.0.0.9", "127.0.0.9", "3128", "HTTP", "0.25", std::string(3u << 20, 'r'), std::nullopt};
  rows.insert(rows.begin() + 30000, huge);
  std::string text = TextOf(rows, 6, true);
  text.insert(text.find('\n', text.size() / 4) + 1, "no proxy here\n");
  text += "1.2.3.4:notaport@HTTP$0.5\n\n   \r\n";
  const std::string file = data.File("long.txt");
  qbtest::WriteFile(file, text);
  const auto r = Merge({file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out == Printed(Merged(rows)));
  EXPECT_NE(r.out.find("127.0.0.9:3128@HTTP$0.25#rrrr"), std::string::npos);
  EXPECT_NE(r.err.find("2 lines of " + file + " passed over"), std::string::npos) << r.err;
}

// A FILE that is a pipe (here the standard input named as a file) is read whole, once,
// and gives what the same text in a file gives.
TEST_F(MergeRows, APipeNamedAsAFileIsReadOnce) {
  const std::vector<Row> rows = MakeRows(20000, 9);
  const std::string text = TextOf(rows, 10, false);
  const auto r = qbtest::RunCli({"--data-dir", data.Path(), "merge", "/dev/stdin"}, text);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out == Printed(Merged(rows)));
}

// Outputs without rows: an empty file, blank lines, a file of line ends only.
TEST_F(MergeRows, OutputsWithoutRowsGiveNothing) {
  const std::string empty = data.File("empty.txt"), blank = data.File("blank.txt");
  qbtest::WriteFile(empty, "");
  qbtest::WriteFile(blank, "\r\n\n  \r\n\r");
  const auto r = Merge({empty, blank});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const auto one = Merge({empty, blank, data.File("missing.txt")});
  EXPECT_EQ(one.exitCode, 2);
  EXPECT_EQ(one.out, "");
}

// --into-list: a proxy the list holds (in whatever case) takes the merged result and
// keeps its remark, unless the merged row is unverified; the others are added in the
// order first read; then the list is sorted by time.
TEST_F(MergeRows, IntoListUpdatesTheListsRowsAndAddsTheOthers) {
  const std::vector<Row> read = MakeRows(100000, 7);
  // The list holds every tenth proxy read, names in capitals, with a remark of its own.
  std::vector<Row> list;
  std::map<std::string, bool> inList;
  for (std::size_t i = 0; i < read.size(); i += 10) {
    Row r = read[i];
    if (inList.count(Key(r))) continue;
    inList[Key(r)] = true;
    // (A list keeps a name as written; an IPv6 address it keeps canonical.)
    if (r.host.front() != '[') r.host = qb::AsciiUpper(r.host);
    r.status = qb::kStatusTimeout;
    r.remark = "mine";
    r.judged.reset();
    list.push_back(r);
  }
  std::string listText;
  for (const Row& r : list) listText += LineOf(r, r.host) + "\r\n";
  qbtest::WriteFile(data.File("Proxies.pro"), listText);
  const std::string file = data.File("shares.txt");
  qbtest::WriteFile(file, TextOf(read, 8, true));

  const std::vector<Row> mergedRows = Merged(read);
  std::map<std::string, const Row*> result;
  for (const Row& r : mergedRows) result[Key(r)] = &r;
  // What the list should be before its sort: its own rows updated, then the new ones in
  // the order first read.
  std::vector<Row> want;
  int updated = 0;
  for (Row r : list) {
    const Row& m = *result.at(Key(r));
    if (!Unverified(m.status)) {
      r.status = m.status;
      ++updated;
    }
    r.judged.reset();
    want.push_back(r);
  }
  std::map<std::string, bool> added;
  for (const Row& r : read) {
    if (inList.count(Key(r)) || added.count(Key(r))) continue;
    added[Key(r)] = true;
    Row m = *result.at(Key(r));
    m.judged.reset();
    want.push_back(m);
  }
  std::stable_sort(want.begin(), want.end(), [](const Row& a, const Row& b) {
    return qb::TimeStatusRank(a.status) < qb::TimeStatusRank(b.status);
  });
  std::string wantText;
  for (const Row& r : want) wantText += LineOf(r, r.host) + "\r\n";

  const auto r = Merge({"--into-list", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(qb::Format("%d rows updated, %zu added", updated, added.size())), std::string::npos)
      << r.out;
  EXPECT_TRUE(qbtest::ReadFile(data.File("Proxies.pro")) == wantText);
}

}  // namespace
