#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"

using namespace qb;

namespace {

std::uint64_t OfFields(std::string_view line) {
  ProxyFields f;
  if (!ParseProxyLine(line, f)) return 0;
  return PackedProxyKey(f);
}

// Every line the extractor writes takes the short way, to the key its fields pack to.
TEST(PackedProxyKey, ExtractorLinesPackAsTheirFields) {
  std::string text =
      "<td>61.50.172.138</td><td>8080</td> 1.2.3.4:80 socks5://u:p@9.9.9.9:1080 "
      "10.0.0.1:3128@HTTPS$1.25#备注 200.1.2.3:21@ftp 5.6.7.8:70@gopher 4.3.2.1:1080@socks4 "
      "255.255.255.255:65535 0.0.0.0:24\n";
  std::vector<std::string> lines;
  ScanProxies(text.data(), text.size(), [&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_GE(lines.size(), 8u);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const std::uint64_t key = PackedProxyKeyOfLine(line);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(key, OfFields(line));
  }
}

// Lines in any other form say so (0), so that the caller parses them in full; none of
// them may pack to a word another key has.
TEST(PackedProxyKey, OtherFormsDoNotPack) {
  for (const char* line :
       {"01.2.3.4:80@HTTP$#", "1.2.3.4:080@HTTP$#", "1.2.3.4:0@HTTP$#", "1.2.3.4:65536@HTTP$#",
        "256.2.3.4:80@HTTP$#", "1.2.3:80@HTTP$#", "1.2.3.4.5:80@HTTP$#", "1.2.3.4:80@http$#",
        "1.2.3.4:80@ HTTP$#", "1.2.3.4:80@HTTP", "1.2.3.4:80@HTTPS5$#", "1.2.3.4:80@SOCKS$#",
        " 1.2.3.4:80@HTTP$#", "1.2.3.4 :80@HTTP$#", "1.2.3.4:80 @HTTP$#", "host:80@HTTP$#", "",
        "1.2.3.4:123456@HTTP$#", "1111.2.3.4:80@HTTP$#"}) {
    EXPECT_EQ(PackedProxyKeyOfLine(line), 0u) << line;
  }
  // The parser upper-cases a type: the full parse packs it as its upper-case twin.
  EXPECT_EQ(OfFields("1.2.3.4:80@socks5$#"), PackedProxyKeyOfLine("1.2.3.4:80@SOCKS5$#"));
}

TEST(PackedProxyKey, DifferentKeysPackDifferently) {
  const std::vector<std::string> lines = {"1.2.3.45:6@HTTP$#",
                                          "1.2.34.5:6@HTTP$#",
                                          "1.2.3.4:56@HTTP$#",
                                          "1.2.3.4:5@HTTP$#",
                                          "1.2.3.4:5@HTTPS$#",
                                          "1.2.3.4:5@SOCKS4$#",
                                          "1.2.3.4:5@SOCKS5$#",
                                          "1.2.3.4:5@FTP$#",
                                          "1.2.3.4:5@GOPHER$#",
                                          "0.0.0.0:1@HTTP$#",
                                          "255.255.255.255:65535@GOPHER$#"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_NE(PackedProxyKeyOfLine(lines[i]), 0u) << lines[i];
    for (std::size_t j = i + 1; j < lines.size(); ++j)
      EXPECT_NE(PackedProxyKeyOfLine(lines[i]), PackedProxyKeyOfLine(lines[j]))
          << lines[i] << " " << lines[j];
  }
  // Status and remark are no part of the key.
  EXPECT_EQ(PackedProxyKeyOfLine("1.2.3.4:5@HTTP$1.5#a"), PackedProxyKeyOfLine("1.2.3.4:5@HTTP$#"));
}

}  // namespace
