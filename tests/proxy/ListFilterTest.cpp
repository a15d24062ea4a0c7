// The window's filter: which rows a text leaves in view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proxy/ListFilter.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

std::vector<char> Shown(const CProxyListModel& list, const char* text,
                        const std::function<std::string(const CProxyEntry&)>& extra = {}) {
  return FilterRows(list, text, extra);
}

TEST(ListFilter, MatchesAddressTypeStatusRemarkAndCountryInAnyCase) {
  CProxyListModel list;
  for (const char* line : {"10.1.2.3:8080@HTTP$0.5#中国 北京", "10.9.9.9:1080@SOCKS5$超时#Berlin",
                           "192.0.2.7:3128@HTTPS$连接失败#", "198.51.100.1:21@FTP$未验证#fast ONE"})
    ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line;

  using V = std::vector<char>;
  EXPECT_EQ(Shown(list, ""), (V{1, 1, 1, 1}));
  EXPECT_EQ(Shown(list, "   "), (V{1, 1, 1, 1}));
  EXPECT_EQ(Shown(list, "10."), (V{1, 1, 0, 0}));      // address
  EXPECT_EQ(Shown(list, "socks"), (V{0, 1, 0, 0}));    // type, any case
  EXPECT_EQ(Shown(list, " https "), (V{0, 0, 1, 0}));  // blanks at the ends do not count
  EXPECT_EQ(Shown(list, "超时"), (V{0, 1, 0, 0}));     // the stored status
  EXPECT_EQ(Shown(list, "Failed"), (V{0, 0, 1, 0}));   // its English word
  EXPECT_EQ(Shown(list, "北京"), (V{1, 0, 0, 0}));     // remark
  EXPECT_EQ(Shown(list, "one"), (V{0, 0, 0, 1}));
  EXPECT_EQ(Shown(list, "berlin"), (V{0, 1, 0, 0}));
  // The port is no part of it: "80" finds only what holds it elsewhere.
  EXPECT_EQ(Shown(list, "8080"), (V{0, 0, 0, 0}));
  EXPECT_EQ(Shown(list, "nowhere"), (V{0, 0, 0, 0}));

  // The country is asked only of the rows the fields leave out.
  int asked = 0;
  const auto country = [&asked](const CProxyEntry& e) {
    ++asked;
    return std::string(e.Type() == "FTP" ? "Deutschland" : "中国");
  };
  EXPECT_EQ(Shown(list, "deutsch", country), (V{0, 0, 0, 1}));
  EXPECT_EQ(asked, 4);
  asked = 0;
  EXPECT_EQ(Shown(list, "10.", country), (V{1, 1, 0, 0}));
  EXPECT_EQ(asked, 2);
}

TEST(ListFilter, OnlyAsciiLettersFoldAndTheNeedleMayBeLongerThanAField) {
  CProxyListModel list;
  ASSERT_EQ(list.AddProxyLine("1.1.1.1:80@HTTP$0.1#ÄRGER", 0), 1);
  EXPECT_EQ(Shown(list, "ÄRGER"), std::vector<char>{1});
  // Bytes of other letters compare as they are.
  EXPECT_EQ(Shown(list, "ärger"), std::vector<char>{0});
  EXPECT_EQ(Shown(list, "1.1.1.1:80@HTTP and more"), std::vector<char>{0});
  EXPECT_TRUE(CListFilter("").Empty());
  EXPECT_FALSE(CListFilter("x").Empty());
}

}  // namespace
