// The history's figures for the rows of a list: the same proxies get the same scores
// whether the history is read name by name for each row (a short list) or gone through
// once for the rows it holds (a list longer than the history).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/History.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "proxy/VerifyStatus.h"
#include "support/TempDir.h"
#include "ui/HistoryColumns.h"

using namespace qb;

namespace {

HistoryRecord Result(const std::string& proxy, std::int64_t when, int code, double seconds) {
  HistoryRecord r;
  r.proxy = proxy;
  r.when = when;
  r.resource = "http://127.0.0.1/";
  r.code = code;
  r.status = code == VERIFY_OK ? "0.3" : "x";
  r.seconds = seconds;
  return r;
}

// What the columns hold for each row: the proxy's name in the history and its number
// of checks, or "-" for a row without figures.
std::vector<std::string> Figures(const CHistoryColumns& columns, const CProxyListModel& list) {
  std::vector<std::string> out;
  for (int r = 0; r < list.RowCount(); ++r) {
    const ProxyScore* s = columns.Find(*list.Entry(r));
    out.push_back(s ? s->proxy + " " + std::to_string(s->totalChecks) : "-");
  }
  return out;
}

TEST(ListScores, BothWaysFindExactlyTheRowsOfTheirName) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  // In the history: a proxy of the list, one under a name the list never gives it (its
  // type in small letters: a name of its own to the history), an IPv6 and a named proxy
  // of the list, and one the list does not hold.
  ASSERT_TRUE(store->Append(std::vector<HistoryRecord>{
      Result("127.0.0.1:1@HTTP", 10, VERIFY_OK, 0.2), Result("127.0.0.1:1@HTTP", 20, VERIFY_TIMEOUT, 0),
      Result("127.0.0.1:2@http", 10, VERIFY_OK, 0.4), Result("[2001:db8::1]:8080@SOCKS5", 10, VERIFY_OK, 0.5),
      Result("gw.test:3128@HTTPS", 10, VERIFY_OK, 0.6), Result("127.0.0.9:9@HTTP", 10, VERIFY_OK, 0.1)}));

  CProxyListModel list;
  for (const char* line : {"127.0.0.1:1@HTTP$0.2#", "127.0.0.1:2@HTTP$0.4#", "[2001:db8::1]:8080@SOCKS5$#",
                           "gw.test:3128@HTTPS$#", "127.0.0.3:3@HTTP$#"})
    ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line;
  const std::vector<std::string> expected{"127.0.0.1:1@HTTP 2", "-", "[2001:db8::1]:8080@SOCKS5 1",
                                          "gw.test:3128@HTTPS 1", "-"};

  // Five rows, five proxies in the history: gone through once.
  ASSERT_LE(store->ProxyCountBound(), list.RowCount());
  CHistoryColumns once;
  once.Refresh(*store, list);
  EXPECT_EQ(Figures(once, list), expected);

  // More proxies in the history than rows: looked up row by row, with the same answer.
  std::vector<HistoryRecord> more;
  for (int i = 0; i < 20; ++i)
    more.push_back(Result("127.0.1." + std::to_string(i) + ":80@HTTP", 10, VERIFY_OK, 1));
  ASSERT_TRUE(store->Append(more));
  ASSERT_GT(store->ProxyCountBound(), list.RowCount());
  CHistoryColumns byRow;
  byRow.Refresh(*store, list);
  EXPECT_EQ(Figures(byRow, list), expected);
}

TEST(ListScores, AnEmptyHistoryGivesNoFiguresAndABoundOfNone) {
  qbtest::TempDir dir;
  auto store = CHistoryStore::Open(dir.File("History.sqlite"));
  ASSERT_TRUE(store);
  EXPECT_EQ(store->ProxyCountBound(), 0);
  CProxyListModel list;
  ASSERT_EQ(list.AddProxyLine("127.0.0.1:1@HTTP$#", 0), 1);
  CHistoryColumns columns;
  columns.Refresh(*store, list);
  EXPECT_EQ(Figures(columns, list), std::vector<std::string>{"-"});
  EXPECT_TRUE(store->ScoresWhere([](const std::string&) { return true; }).empty());
}

}  // namespace
