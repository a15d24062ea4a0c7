#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

using namespace qb;

namespace {

struct Parsed {
  bool ok;
  ProxyFields f;
};

Parsed Parse(std::string_view line) {
  Parsed p;
  p.ok = ParseProxyLine(line, p.f);
  return p;
}

TEST(ParseProxyLine, NeedsTypeAndTakesStatusOnlyWithRemark) {
  EXPECT_FALSE(Parse("61.50.172.138:80").ok);

  auto p = Parse("61.50.172.138:80@http");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.f.addr, "61.50.172.138");
  EXPECT_EQ(p.f.port, "80");
  EXPECT_EQ(p.f.type, "HTTP");

  p = Parse("61.50.172.138:80@HTTP$1.2#fast");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.f.timeStatus, "1.2");
  EXPECT_EQ(p.f.remark, "fast");

  // Without "#" there is no time-or-status.
  p = Parse("61.50.172.138:80@HTTP$1.2");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.f.timeStatus, "");
  EXPECT_EQ(p.f.type, "HTTP");

  // The remark is trimmed; the status is not.
  p = Parse(" 1.2.3.4 : 8080 @ socks5 $ 未验证 #  中国 北京  ");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.f.addr, "1.2.3.4");
  EXPECT_EQ(p.f.port, "8080");
  EXPECT_EQ(p.f.type, "SOCKS5");
  EXPECT_EQ(p.f.timeStatus, " 未验证 ");
  EXPECT_EQ(p.f.remark, "中国 北京");
}

TEST(ParseProxyLine, TypeIsCutToTypeLettersAndMustBeOneOfSix) {
  EXPECT_EQ(Parse("61.50.172.138:80@httpx").f.type, "HTTP");
  EXPECT_TRUE(Parse("61.50.172.138:80@httpx").ok);
  EXPECT_FALSE(Parse("61.50.172.138:80@HTTPSOCKS").ok);
  EXPECT_FALSE(Parse("61.50.172.138:80@SOCKS").ok);
  EXPECT_FALSE(Parse("61.50.172.138:80@TELNET").ok);
  EXPECT_FALSE(Parse("61.50.172.138:80@").ok);
  for (const char* t : kProxyTypes) {
    EXPECT_TRUE(Parse(std::string("1.2.3.4:80@") + t).ok) << t;
  }
}

TEST(ParseProxyLine, PortRange) {
  EXPECT_EQ(Parse("61.50.172.138:8080abc@HTTP").f.port, "8080");
  EXPECT_TRUE(Parse("61.50.172.138:8080abc@HTTP").ok);
  EXPECT_FALSE(Parse("61.50.172.138:0@HTTP").ok);
  EXPECT_FALSE(Parse("61.50.172.138:65536@HTTP").ok);
  EXPECT_TRUE(Parse("61.50.172.138:65535@HTTP").ok);
  EXPECT_FALSE(Parse("61.50.172.138:99999999999999999999@HTTP").ok);
  EXPECT_FALSE(Parse("61.50.172.138:@HTTP").ok);
  // Leading zeros are kept: no numeric normalisation.
  EXPECT_EQ(Parse("61.50.172.138:0080@HTTP").f.port, "0080");
}

TEST(ParseProxyLine, SeparatorPositions) {
  EXPECT_FALSE(Parse("#61.50.172.138:80@HTTP").ok);
  EXPECT_FALSE(Parse("@HTTP").ok);
  EXPECT_FALSE(Parse(":80@HTTP").ok);
  EXPECT_FALSE(Parse("  :80@HTTP").ok);
  EXPECT_FALSE(Parse("").ok);
  // A "#" inside the type part ends the line there: the remark follows.
  auto p = Parse("h:1@FTP#x@y$z");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.f.remark, "x@y$z");
  EXPECT_EQ(p.f.timeStatus, "");
  // Any non-empty text is an address.
  EXPECT_EQ(Parse("proxy.example:3128@HTTP").f.addr, "proxy.example");
}

TEST(ProxyKey, IgnoresCaseButNotLeadingZeros) {
  EXPECT_EQ(ProxyKey("Host.Example", "80", "http"), "HOST.EXAMPLE:80@HTTP");
  EXPECT_NE(ProxyKey("1.2.3.4", "080", "HTTP"), ProxyKey("1.2.3.4", "80", "HTTP"));
}

TEST(FileLine, WritesOptionalPartsAndReadsItselfBack) {
  CProxyEntry e("1.2.3.4", "80", "HTTP", "密码不匹配", "中国 北京");
  EXPECT_EQ(FormatFileLine(e), "1.2.3.4:80@HTTP$密码不匹配#中国 北京");
  EXPECT_EQ(FormatProxyLine(e), "1.2.3.4:80@HTTP");

  ProxyFields f;
  ASSERT_TRUE(ParseFileLine(FormatFileLine(e), f));
  EXPECT_EQ(f.addr, "1.2.3.4");
  EXPECT_EQ(f.timeStatus, "密码不匹配");
  EXPECT_EQ(f.remark, "中国 北京");

  CProxyEntry bare("1.2.3.4", "80", "SOCKS5", "", "");
  EXPECT_EQ(FormatFileLine(bare), "1.2.3.4:80@SOCKS5");

  // Remarks may hold the separators when the extractor let them through.
  CProxyEntry odd("1.2.3.4", "80", "HTTP", "1.5", "a#b$c@d");
  ASSERT_TRUE(ParseFileLine(FormatFileLine(odd), f));
  EXPECT_EQ(f.timeStatus, "1.5");
  EXPECT_EQ(f.remark, "a#b$c@d");
}

// Rows keep dotted addresses, ports, types, status words and times packed and other
// texts as they are; whichever form a field takes, it must come back byte for byte,
// and so must the row's list file line and what the columns order by.
struct Row {
  std::string addr, port, type, status, remark;
};

std::string FileLineOf(const Row& r) {
  std::string line = r.addr + ":" + r.port + "@" + r.type;
  if (!r.status.empty()) line += "$" + r.status;
  if (!r.remark.empty()) line += "#" + r.remark;
  return line;
}

::testing::AssertionResult ComesBack(const CProxyEntry& e, const Row& r) {
  const std::string line = FileLineOf(r);
  if (e.Addr() != r.addr || e.Port() != r.port || e.Type() != r.type || e.TimeStatus() != r.status ||
      e.Remark() != r.remark || FormatFileLine(e) != line) {
    return ::testing::AssertionFailure() << "\"" << line << "\" came back as \"" << FormatFileLine(e) << "\"";
  }
  // The documented orders: the address split at its first three dots, each part as by
  // atoi; the port as by atoi; the time-or-status by TimeStatusRank.
  int parts[4];
  e.AddressParts(parts);
  std::string_view rest = r.addr;
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? rest.find('.') : std::string_view::npos;
    if (parts[i] != CAtoi(rest.substr(0, dot)))
      return ::testing::AssertionFailure() << r.addr << " part " << i;
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  }
  const double rank = e.StatusRank(), want = TimeStatusRank(r.status);
  if (e.PortNumber() != CAtoi(r.port) || std::memcmp(&rank, &want, sizeof rank) != 0 ||
      e.HasTime() != IsTimeText(r.status) || (e.HasTime() && e.TimeValue() != CAtof(r.status))) {
    return ::testing::AssertionFailure() << "\"" << line << "\" orders differently";
  }
  return ::testing::AssertionSuccess();
}

const std::vector<std::string> kAddrs = {
    "1.2.3.4", "0.0.0.0",     "255.255.255.255", "01.2.3.4", "1.2.3.04",          "1.2.3.256",
    "1.2.3",   "1.2.3.4.5",   "1..3.4",          "a",        "proxy.example.net", "Host-A_b.Example",
    "::1",     "2001:db8::1", "[2001:db8::1]",   "-1.2.3.4"};
const std::vector<std::string> kPorts = {"80",    "1",     "65535", "080",   "0",
                                         "65536", "99999", "",      "8080x", "00001"};
const std::vector<std::string> kTypes = {"HTTP",   "HTTPS", "SOCKS4", "SOCKS5", "FTP",
                                         "GOPHER", "",      "http",   "Socks5", "HTTP-ELITE"};
const std::vector<std::string> kStatuses = {"",
                                            "0.0",
                                            "0.05",
                                            "12.3",
                                            "12.30",
                                            "7",
                                            "100",
                                            "268435455",
                                            "268435456",
                                            "999999999999",
                                            "12.",
                                            ".5",
                                            "012.3",
                                            "00",
                                            "1.2345",
                                            "1.2.3",
                                            "1e3",
                                            kStatusUnverified,
                                            kStatusVerifying,
                                            kStatusConnectFailed,
                                            kStatusTimeout,
                                            kStatusMismatch,
                                            kStatusPasswordMismatch,
                                            kStatusUnsupported,
                                            kStatusException,
                                            "可用(1.2)",
                                            "超时 ",
                                            "whatever",
                                            std::string(64, 's')};
const std::vector<std::string> kRemarks = {"",
                                           "中国 北京",
                                           "!keep",
                                           "a#b$c@d",
                                           std::string(31, 'r'),
                                           std::string(32, 'r'),
                                           "广东省深圳市 电信 机房 高匿名 长备注 还有更多的字"};

TEST(ProxyEntryStorage, EveryFieldAndTheFileLineComeBackIdentical) {
  ASSERT_TRUE(ComesBack(CProxyEntry(), Row{}));
  for (const auto& a : kAddrs) {
    for (const auto& p : kPorts) {
      for (const auto& t : kTypes) {
        for (const auto& s : kStatuses) {
          for (const auto& r : kRemarks) {
            const Row row{a, p, t, s, r};
            const CProxyEntry e(a, p, t, s, r);
            ASSERT_TRUE(ComesBack(e, row));
            // Lines the file form takes read back to the same fields.
            ProxyFields f;
            if (ParseFileLine(FormatFileLine(e), f)) {
              ASSERT_TRUE(ComesBack(CProxyEntry(f.addr, f.port, f.type, f.timeStatus, f.remark), row));
            }
          }
        }
      }
    }
  }
}

// Changing one field keeps the other four and the favourite mark, whether the row
// moves between its packed and its out-of-line form or not; copies are whole.
TEST(ProxyEntryStorage, SettersCopiesAndMovesKeepTheOtherFields) {
  for (const auto& base : {Row{"1.2.3.4", "80", "HTTP", "1.5", "中国 北京"},
                           Row{"host.example", "080", "http", "whatever", std::string(40, 'x')}}) {
    CProxyEntry e(base.addr, base.port, base.type, base.status, base.remark);
    e.SetFavorite(true);
    for (const auto& a : kAddrs) {
      Row want = base;
      want.addr = a;
      e.SetProxyAddr(a);
      ASSERT_TRUE(ComesBack(e, want));
      for (const auto& s : kStatuses) {
        want.status = s;
        e.SetTimeStatus(s);
        ASSERT_TRUE(ComesBack(e, want));
      }
      for (const auto& r : kRemarks) {
        want.remark = r;
        e.SetRemark(e.Remark());  // a view of itself
        e.SetRemark(r);
        ASSERT_TRUE(ComesBack(e, want));
      }
      for (const auto& p : kPorts) {
        want.port = p;
        e.SetProxyPort(p);
        ASSERT_TRUE(ComesBack(e, want));
      }
      for (const auto& t : kTypes) {
        want.type = t;
        e.SetProxyType(t);
        ASSERT_TRUE(ComesBack(e, want));
      }
      ASSERT_TRUE(e.IsFavorite());
      const CProxyEntry copy(e);
      ASSERT_TRUE(ComesBack(copy, want));
      CProxyEntry moved(std::move(CProxyEntry(copy)));
      ASSERT_TRUE(ComesBack(moved, want));
      moved = copy;
      ASSERT_TRUE(ComesBack(moved, want));
      e.SetProxyAddr(base.addr);
      e.SetProxyPort(base.port);
      e.SetProxyType(base.type);
      e.SetTimeStatus(base.status);
      e.SetRemark(base.remark);
      ASSERT_TRUE(ComesBack(e, base));
    }
  }
}

// Two rows name the same proxy exactly when their upper-cased keys are equal, whatever
// form each keeps its fields in, and then their key hashes agree.
TEST(ProxyEntryStorage, SameKeyIsTheUpperCasedKeyText) {
  std::vector<CProxyEntry> entries;
  for (const char* a : {"1.2.3.4", "01.2.3.4", "Host.Example", "host.example", "HOST.EXAMPLE", "::1"}) {
    for (const char* p : {"80", "080", "8080"}) {
      for (const char* t : {"HTTP", "http", "Http", "SOCKS5", "socks5", "", "HTTP-X", "http-x"}) {
        entries.emplace_back(a, p, t, "", "");
      }
    }
  }
  for (const auto& x : entries) {
    for (const auto& y : entries) {
      const bool same = ProxyKey(x.Addr(), x.Port(), x.Type()) == ProxyKey(y.Addr(), y.Port(), y.Type());
      ASSERT_EQ(x.SameKey(y), same) << FormatProxyLine(x) << " " << FormatProxyLine(y);
      if (same) {
        ASSERT_EQ(x.KeyHash(), y.KeyHash()) << FormatProxyLine(x) << " " << FormatProxyLine(y);
      }
    }
  }
}

// A row of the usual kind fits its entry: a dotted address, a port, a type, a time or
// a status word, and a remark of a few words take no memory outside it. What does not
// fit costs one block the size of its texts, and every text comes back whole.
TEST(ProxyEntryStorage, TypicalRowsNeedNothingOutOfLine) {
  static_assert(sizeof(CProxyEntry) == 32);
  for (const char* s :
       {"", "0.0", "12.3", "29.9", kStatusUnverified, kStatusConnectFailed, kStatusUnsupported}) {
    for (const char* r : {"", "中国 北京", "上海电信", "!keep this one"}) {
      EXPECT_EQ(CProxyEntry("123.45.67.89", "8080", "SOCKS5", s, r).OutOfLineBytes(), 0u) << s << " " << r;
    }
  }
  const std::string longRemark = "广东省深圳市 电信";
  const CProxyEntry remarked("123.45.67.89", "8080", "SOCKS5", "1.5", longRemark);
  EXPECT_GT(remarked.OutOfLineBytes(), longRemark.size());
  EXPECT_LE(remarked.OutOfLineBytes(), longRemark.size() + 24);
  EXPECT_EQ(remarked.Remark(), longRemark);
  EXPECT_EQ(remarked.TimeStatus(), "1.5");

  // Every field out of line at once, through a copy and a move.
  const CProxyEntry all("Proxy.Example.net", "080", "http-elite", "12.", std::string(300, 'r'));
  EXPECT_GT(all.OutOfLineBytes(), 300u);
  CProxyEntry copy(all);
  const CProxyEntry moved(std::move(copy));
  for (const CProxyEntry* e : {&all, &moved}) {
    EXPECT_EQ(e->Addr(), "Proxy.Example.net");
    EXPECT_EQ(e->Port(), "080");
    EXPECT_EQ(e->Type(), "http-elite");
    EXPECT_EQ(e->TimeStatus(), "12.");
    EXPECT_EQ(e->Remark(), std::string(300, 'r'));
    EXPECT_EQ(e->PortNumber(), 80);
  }
  EXPECT_TRUE(all.SameKey(CProxyEntry("proxy.example.NET", "080", "HTTP-ELITE", "", "")));
  EXPECT_FALSE(all.SameKey(CProxyEntry("proxy.example.net", "80", "http-elite", "", "")));
}

TEST(FileLine, ForeignLinesAreNotTakenForOwnLines) {
  ProxyFields f;
  EXPECT_FALSE(ParseFileLine("1.2.3.4:80", f));
  EXPECT_FALSE(ParseFileLine("1.2.3.4:80@HTTP", f));      // no status: never written so
  EXPECT_FALSE(ParseFileLine("1.2.3.4:80@http$1.0", f));  // lower-case type
  EXPECT_FALSE(ParseFileLine("1.2.3.4:80@HTTP-elite$1.0", f));
  EXPECT_FALSE(ParseFileLine("1.2.3.4: 80@HTTP$1.0", f));
  EXPECT_FALSE(ParseFileLine("1.2.3.4:0@HTTP$1.0", f));
  EXPECT_FALSE(ParseFileLine("1.2.3.4:80@HTTP$1.0# padded", f));
  EXPECT_FALSE(ParseFileLine("<td>1.2.3.4:80@HTTP$1.0", f));  // markup is not an address
}

TEST(TimeStatusRank, OrdersFailuresAfterTimes) {
  EXPECT_LT(TimeStatusRank("12.5"), TimeStatusRank(kStatusVerifying));
  EXPECT_LT(TimeStatusRank(kStatusVerifying), TimeStatusRank(kStatusUnverified));
  EXPECT_LT(TimeStatusRank(kStatusUnverified), TimeStatusRank(kStatusTimeout));
  EXPECT_LT(TimeStatusRank(kStatusTimeout), TimeStatusRank(kStatusMismatch));
  EXPECT_LT(TimeStatusRank(kStatusMismatch), TimeStatusRank(kStatusConnectFailed));
  // The other texts stay ahead of the times, but never level with the fastest one.
  EXPECT_LT(TimeStatusRank(kStatusException), TimeStatusRank("0.0"));
  EXPECT_LT(TimeStatusRank(kStatusPasswordMismatch), TimeStatusRank("0.0"));
  EXPECT_LT(TimeStatusRank("whatever"), TimeStatusRank("0.0"));
  EXPECT_LT(TimeStatusRank("0.0"), TimeStatusRank("0.1"));
}

TEST(TimeStatusRank, OnlyANumberIsATime) {
  for (const char* time : {"0.0", "0", "12.5", "75", "3."}) EXPECT_TRUE(IsTimeText(time)) << time;
  for (const char* text : {"", ".", "1.2.3", "-1.0", " 1.0", "1.0s", "超时", "连接失败", "未验证",
                           "验证中...", "验证异常", "密码不匹配"}) {
    EXPECT_FALSE(IsTimeText(text)) << text;
  }
}

// The English word other programs read beside the stored status, for every status the
// program writes and for what a user typed into the column.
TEST(ProxyState, NamesEveryStoredStatusInEnglish) {
  const std::pair<const char*, const char*> cases[] = {{"0.0", "ok"},
                                                       {"12.5", "ok"},
                                                       {"未验证", "unverified"},
                                                       {"", "unverified"},
                                                       {"验证中...", "verifying"},
                                                       {"连接失败", "failed"},
                                                       {"超时", "timeout"},
                                                       {"不匹配", "mismatch"},
                                                       {"密码不匹配", "password-mismatch"},
                                                       {"不支持此协议", "unsupported"},
                                                       {"验证异常", "error"},
                                                       {"域名无法解析", "unresolved"},
                                                       {"TLS被拦截", "tls-intercepted"},
                                                       {"内容被篡改", "modified"},
                                                       {"OK", "other"},
                                                       {"1.0s", "other"},
                                                       {"超时 ", "other"}};
  for (const auto& [status, state] : cases) EXPECT_STREQ(ProxyState(status), state) << status;
}

// The statuses of a proxy that tampers: failures that no time stands for, kept in the
// row's packed form and written back as they were, sorted after every other failure.
TEST(ProxyState, TamperingStatusesAreFailuresThatSortLast) {
  for (const char* status : {kStatusTlsIntercepted, kStatusModified}) {
    EXPECT_TRUE(IsFailedStatus(status)) << status;
    EXPECT_FALSE(IsTimeText(status)) << status;
    const CProxyEntry e("1.2.3.4", "80", "HTTP", status, "");
    EXPECT_EQ(e.TimeStatus(), status);
    ProxyFields f;
    ASSERT_TRUE(ParseFileLine(FormatFileLine(e), f)) << FormatFileLine(e);
    EXPECT_EQ(f.timeStatus, status);
    EXPECT_GT(TimeStatusRank(status), TimeStatusRank(kStatusConnectFailed)) << status;
    EXPECT_EQ(e.StatusRank(), TimeStatusRank(status));
  }
}

}  // namespace
