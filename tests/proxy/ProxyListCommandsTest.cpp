#include <gtest/gtest.h>

#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListModel.h"
#include "support/ScriptedPrompt.h"

using namespace qb;

using qbtest::ScriptedPrompt;

namespace {

TEST(CheckProxyInfo, NormalisesThenChecksInOrder) {
  ProxyInfo info{"  ", {1, 2, 3, 4}, " 0080 ", "  note "};
  ProxyInfoCheck c = CheckProxyInfo(info);
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(info.type, "HTTP");
  EXPECT_EQ(info.port, "0080");  // checked as 80, handed on as typed
  EXPECT_EQ(info.remark, "note");

  // Every field wrong: only the first failure (the type) is reported.
  ProxyInfo bad{"TELNET", {0, 0, 0, 0}, "0", "a b"};
  c = CheckProxyInfo(bad);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.focus, ProxyInfoField::Type);

  bad.type = "SOCKS5";
  c = CheckProxyInfo(bad);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.focus, ProxyInfoField::Address);

  bad.address = {0, 0, 0, 1};
  c = CheckProxyInfo(bad);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.focus, ProxyInfoField::Port);
  bad.port = "65536";
  EXPECT_EQ(CheckProxyInfo(bad).focus, ProxyInfoField::Port);

  bad.port = "65535";
  c = CheckProxyInfo(bad);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.focus, ProxyInfoField::Remark);
  for (const char* r : {"a:b", "a@b", "a$b", "a#b", "a\tb", "a<b", "a>b"}) {
    bad.remark = r;
    c = CheckProxyInfo(bad);
    EXPECT_FALSE(c.ok) << r;
    EXPECT_EQ(c.focus, ProxyInfoField::Remark) << r;
  }
  bad.remark = "中国北京!";
  c = CheckProxyInfo(bad);
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.focus, ProxyInfoField::None);
}

// The window words the duplicate (see MainDlgTest); the command only reports it.
TEST(ProxyListCommands, AddFromDialogReportsDuplicates) {
  ScriptedPrompt prompt;
  CProxyListModel list;
  EXPECT_EQ(AddProxyFromDialog(list, "HTTP", "1.2.3.4", "80", ""), 1);
  EXPECT_EQ(list.SelectedCount(), 1);
  EXPECT_EQ(AddProxyFromDialog(list, "HTTP", "1.2.3.4", "80", "other"), 0);
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.CellText(0, 4), "");
  EXPECT_TRUE(prompt.messages.empty());
}

class ModifyRow : public ::testing::Test {
 protected:
  void SetUp() override {
    list.AddProxyLine("1.2.3.4:80@HTTP$1.5#fast", 0);
    list.AddProxyLine("5.6.7.8:80@HTTP$2.5#", 0);
    list.SetFavorite(0, true);
  }
  LocationLookup lookup = [](const std::string& a) {
    return a == "9.9.9.9" ? std::string("中国 北京") : std::string();
  };
  CProxyListModel list;
  ScriptedPrompt prompt;
};

TEST_F(ModifyRow, RemarkOnlyKeepsStatusAndFavourite) {
  EXPECT_EQ(ModifyProxyRow(list, 0, "HTTP", "1.2.3.4", "80", "slow", lookup), ModifyOutcome::Changed);
  EXPECT_EQ(list.CellText(0, 3), "1.5");
  EXPECT_EQ(list.CellText(0, 4), "slow");
  EXPECT_TRUE(list.IsFavorite(0));
  EXPECT_EQ(ModifyProxyRow(list, 0, "HTTP", "1.2.3.4", "80", "slow", lookup), ModifyOutcome::Unchanged);
}

TEST_F(ModifyRow, NewPortResetsStatusAndClearsFavourite) {
  EXPECT_EQ(ModifyProxyRow(list, 0, "HTTP", "1.2.3.4", "8080", "fast", lookup), ModifyOutcome::Changed);
  EXPECT_EQ(list.CellText(0, 2), "8080");
  EXPECT_EQ(list.CellText(0, 3), "未验证");
  EXPECT_FALSE(list.IsFavorite(0));
  EXPECT_TRUE(list.ContainsKey("1.2.3.4:8080@HTTP"));
  EXPECT_FALSE(list.ContainsKey("1.2.3.4:80@HTTP"));
  EXPECT_TRUE(list.KeysMatchRows());
}

TEST_F(ModifyRow, EmptyRemarkTakesTheLocation) {
  EXPECT_EQ(ModifyProxyRow(list, 1, "HTTP", "9.9.9.9", "80", "", lookup), ModifyOutcome::Changed);
  EXPECT_EQ(list.CellText(1, 4), "中国 北京");
}

TEST_F(ModifyRow, DuplicateIsRefusedButTheNewRemarkStays) {
  EXPECT_EQ(ModifyProxyRow(list, 1, "HTTP", "1.2.3.4", "80", "mine", lookup), ModifyOutcome::Duplicate);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(list.CellText(1, 1), "5.6.7.8");
  EXPECT_EQ(list.CellText(1, 4), "mine");
  EXPECT_TRUE(list.KeysMatchRows());
}

TEST(ProxyListCommands, CleanKeepsProtectedAndOtherRows) {
  CProxyListModel list;
  list.AddProxyLine("1.0.0.1:80@HTTP$连接失败#", 0);
  list.AddProxyLine("1.0.0.2:80@HTTP$不匹配#x", 0);
  list.AddProxyLine("1.0.0.3:80@HTTP$超时#!mine", 0);
  list.AddProxyLine("1.0.0.4:80@HTTP$密码不匹配#", 0);
  list.AddProxyLine("1.0.0.5:80@HTTP$1.5#", 0);
  list.AddProxyLine("1.0.0.6:80@HTTP$ 超时 #", 0);
  EXPECT_EQ(CleanProxyList(list), 3);
  ASSERT_EQ(list.RowCount(), 3);
  EXPECT_EQ(list.CellText(0, 1), "1.0.0.3");
  EXPECT_EQ(list.CellText(1, 1), "1.0.0.4");
  EXPECT_EQ(list.CellText(2, 1), "1.0.0.5");
  EXPECT_TRUE(list.KeysMatchRows());
  EXPECT_EQ(list.AddProxyLine("1.0.0.1:80@HTTP", 0), 1);
}

TEST(ProxyListCommands, CopyGivesAddressAndPortOnly) {
  CProxyListModel list;
  list.AddProxyLine("61.50.172.138:8080@SOCKS5$1.0#remark", 0);
  list.AddProxyLine("a:1@HTTP", 0);
  EXPECT_EQ(CopyProxyText(list, 0), "61.50.172.138:8080");
  EXPECT_EQ(CopyProxyText(list, 1), "");  // "@" too early: nothing is copied
  EXPECT_EQ(CopyProxyText(list, 5), "");
}

TEST(ProxyListCommands, AddressFieldsRoundTrip) {
  EXPECT_EQ(SplitAddressFields("61.50.172.300"), (std::array<int, 4>{61, 50, 172, 300 & 0xFF}));
  EXPECT_EQ(SplitAddressFields("1.2"), (std::array<int, 4>{1, 2, 0, 0}));
  EXPECT_EQ(FormatAddress({10, 0, 0, 1}), "10.0.0.1");
}

}  // namespace
