#include <gtest/gtest.h>

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

}  // namespace
