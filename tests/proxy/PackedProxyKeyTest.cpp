#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// The scanner hands every line the key its fields pack to, so that a caller never has
// to split the line again for it.
TEST(PackedProxyKey, TheScannerHandsEachLineTheKeyOfItsFields) {
  std::string text =
      "<td>61.50.172.138</td><td>8080</td> 1.2.3.4:80 socks5://u:p@9.9.9.9:1080 "
      "10.0.0.1:3128@HTTPS$1.25#备注 200.1.2.3:21@ftp 5.6.7.8:70@gopher 4.3.2.1:1080@socks4 "
      "255.255.255.255:65535 0.0.0.0:24 https://7.7.7.7:443 6.6.6.6:1080@socks "
      "3.3.3.3:8080@transparent-https\n";
  std::vector<std::pair<std::string, std::uint64_t>> lines;
  ScanProxies(text.data(), text.size(),
              [&](std::string_view line, const FoundCredentials*, std::uint64_t key) {
                lines.emplace_back(line, key);
              });
  ASSERT_GE(lines.size(), 11u);
  for (const auto& [line, key] : lines) {
    SCOPED_TRACE(line);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(key, OfFields(line));
  }
}

// Fields whose text stands for no packed key say so (0), so that the caller keeps
// the key as text; none of them may pack to a word another key has.
TEST(PackedProxyKey, OtherFormsDoNotPack) {
  const std::vector<std::vector<std::string>> fields = {
      {"01.2.3.4", "80"},   {"1.2.3.4", "080"},    {"1.2.3.4", "65536"}, {"256.2.3.4", "80"},
      {"1.2.3", "80"},      {"1.2.3.4.5", "80"},   {"1.2.3.4 ", "80"},   {"host", "80"},
      {"1111.2.3.4", "80"}, {"1.2.3.4", "123456"}, {"1.2.3.4", ""},      {"", "80"}};
  for (const auto& f : fields) {
    ProxyFields p{f[0], f[1], "HTTP", "", ""};
    EXPECT_EQ(PackedProxyKey(p), 0u) << f[0] << ":" << f[1];
  }
  for (const char* type : {"HTTPS5", "SOCKS", " HTTP", ""}) {
    ProxyFields p{"1.2.3.4", "80", type, "", ""};
    EXPECT_EQ(PackedProxyKey(p), 0u) << type;
  }
  // Fields as numbers take the type only as the extractor writes it.
  EXPECT_EQ(PackedProxyKeyOf(0x01020304, 80, "http"), 0u);
  EXPECT_EQ(PackedProxyKeyOf(0x01020304, 65536, "HTTP"), 0u);
  // The parser upper-cases a type: the text and the numbers pack alike.
  EXPECT_EQ(OfFields("1.2.3.4:80@socks5$#"), PackedProxyKeyOf(0x01020304, 80, "SOCKS5"));
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
    ASSERT_NE(OfFields(lines[i]), 0u) << lines[i];
    for (std::size_t j = i + 1; j < lines.size(); ++j)
      EXPECT_NE(OfFields(lines[i]), OfFields(lines[j])) << lines[i] << " " << lines[j];
  }
  // Status and remark are no part of the key.
  EXPECT_EQ(OfFields("1.2.3.4:5@HTTP$1.5#a"), OfFields("1.2.3.4:5@HTTP$#"));
}

}  // namespace
