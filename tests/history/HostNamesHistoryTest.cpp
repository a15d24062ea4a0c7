// Proxies named by host names and IPv6 addresses in what is kept and passed on: the
// history and its command, merged outputs of several machines, the exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/History.h"
#include "proxy/ListExport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/VerifyStatus.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

HistoryRecord Result(const std::string& proxy, std::int64_t when, int code, double seconds = 0) {
  HistoryRecord r;
  r.proxy = proxy;
  r.when = when;
  r.resource = "http://127.0.0.1/page";
  r.code = code;
  r.status = code == VERIFY_OK ? "1.0" : kStatusUnresolved;
  r.seconds = seconds;
  return r;
}

std::string Data(const qbtest::TempDir& d, const std::string& name) {
  return qbtest::ReadFile(d.File(name));
}

}  // namespace

TEST(HostNamesHistory, TheCommandFindsAHostWhateverItsSpelling) {
  qbtest::TempDir data;
  {
    auto store = CHistoryStore::Open(data.File("History.sqlite"));
    ASSERT_TRUE(store);
    ASSERT_TRUE(
        store->Append(std::vector<HistoryRecord>{Result("[2001:db8::1]:8080@SOCKS5", 100, VERIFY_OK, 1.0),
                                                 Result("gw.example:1080@HTTP", 100, VERIFY_OK, 2.0),
                                                 Result("gw.example:1080@HTTP", 200, VERIFY_UNRESOLVED)}));
  }
  auto history = [&](const std::string& proxy) {
    return qbtest::RunCli({"--data-dir", data.Path(), "history", "--format", "json", proxy});
  };
  for (const char* spelling : {"[2001:DB8:0::1]:8080", "[2001:db8::1]:8080@socks5"}) {
    const auto r = history(spelling);
    EXPECT_EQ(r.exitCode, 0) << spelling << r.err;
    EXPECT_NE(r.out.find("\"[2001:db8::1]:8080@SOCKS5\""), std::string::npos) << r.out;
  }
  const auto named = history("GW.Example.:1080@HTTP");
  ASSERT_EQ(named.exitCode, 0) << named.err;
  // Newest first, the failed resolution under its own word.
  EXPECT_LT(named.out.find("unresolved"), named.out.find("\"ok\"")) << named.out;
  // A bracket that never closes, a zone index: no proxy, a usage error.
  EXPECT_EQ(history("[2001:db8::1:8080").exitCode, 2);
}

TEST(HostNamesHistory, MergeMakesOneRowOfEachHostFromEveryMachine) {
  qbtest::TempDir data, out;
  // Machine one wrote list lines, the first of them an IPv6 proxy (not a JSON array);
  // machine two wrote jsonl with the address bare and spelt otherwise.
  qbtest::WriteFile(out.File("one.txt"),
                    "[2001:DB8::1]:8080@SOCKS5$1.5#\nGW.example:1080@HTTP$2.0#\n1.2.3.4:80@HTTP$3.0#\n");
  qbtest::WriteFile(
      out.File("two.jsonl"),
      "{\"address\":\"2001:db8:0:0::1\",\"port\":8080,\"type\":\"SOCKS5\",\"status\":\"0.9\","
      "\"remark\":\"\"}\n"
      "{\"address\":\"gw.example\",\"port\":1080,\"type\":\"HTTP\",\"status\":\"1.1\",\"remark\":\"\"}\n");
  const auto r = qbtest::RunCli(
      {"--data-dir", data.Path(), "merge", "--into-list", out.File("one.txt"), out.File("two.jsonl")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("JSON array"), std::string::npos) << r.err;
  const std::string list = Data(data, "Proxies.pro");
  EXPECT_EQ(list.find("[2001:db8::1]:8080@SOCKS5$"), 0u) << list;
  EXPECT_NE(list.find("gw.example:1080@HTTP$"), std::string::npos) << list;
  // Three proxies, however many spellings.
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;
  EXPECT_EQ(list.find("DB8"), std::string::npos) << list;
  EXPECT_EQ(list.find("GW"), std::string::npos) << list;
}

TEST(HostNamesHistory, ExportsBracketAnIpv6HostAndKeepNames) {
  std::vector<std::unique_ptr<CProxyEntry>> owned;
  owned.push_back(std::make_unique<CProxyEntry>("[2001:db8::1]", "8080", "SOCKS5", "1.5", ""));
  owned.push_back(std::make_unique<CProxyEntry>("gw.example", "1080", "HTTP", "", ""));
  std::vector<const CProxyEntry*> rows{owned[0].get(), owned[1].get()};
  ExportOptions urls;
  urls.format = ExportFormat::Urls;
  EXPECT_EQ(ExportRows(rows, urls), "socks5://[2001:db8::1]:8080\nhttp://gw.example:1080\n");
  ExportOptions lines;
  lines.format = ExportFormat::Lines;
  EXPECT_EQ(ExportRows(rows, lines), "[2001:db8::1]:8080@SOCKS5$1.5\ngw.example:1080@HTTP\n");
}
