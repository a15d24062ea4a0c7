#include <gtest/gtest.h>

#include <QSignalSpy>

#include <memory>
#include <string>
#include <vector>

#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

std::vector<std::string> Column(const CProxyListModel& m, int column) {
  std::vector<std::string> out;
  for (int r = 0; r < m.RowCount(); ++r) out.push_back(m.CellText(r, column));
  return out;
}

TEST(ProxyListModel, AddReportsInvalidDuplicateAndAdded) {
  CProxyListModel m;
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:80", 0), -1);
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:80@HTTP", 0), 1);
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:80@http#other$x", 0), 0);
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:80@HTTP$1.0#another remark", 0), 0);
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:80@HTTPS", 0), 1);
  EXPECT_EQ(m.AddProxyLine("61.50.172.138:080@HTTP", 0), 1);  // no numeric normalisation
  EXPECT_EQ(m.RowCount(), 3);
  EXPECT_EQ(m.KeyCount(), 3);
  EXPECT_TRUE(m.KeysMatchRows());
  // A line without a time-or-status shows "未验证"; a given one is kept as it is.
  EXPECT_EQ(m.CellText(0, CProxyListModel::ColTimeStatus), "未验证");
  EXPECT_EQ(m.AddProxyLine("9.9.9.9:1@FTP$whatever#r", 0), 1);
  EXPECT_EQ(m.CellText(3, CProxyListModel::ColTimeStatus), "whatever");
  EXPECT_EQ(m.CellText(3, 9), "");
  EXPECT_EQ(m.CellText(99, 0), "");
}

// Ten million rows must fit in a gigabyte: a typical row, with its entry, its place in
// the row vector and its share of the key set, takes at most 100 bytes.
TEST(ProxyListModel, TypicalRowsTakeAtMostAHundredBytes) {
  CProxyListModel m;
  CProxyListModel::PreparedRows rows;
  constexpr int kRows = 200000;
  for (int i = 0; i < kRows; ++i) {
    const std::string line = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 0xFF) + "." +
                             std::to_string(i & 0xFF) + ":" + std::to_string(1024 + i % 60000) + "@" +
                             (i % 2 ? "HTTP" : "SOCKS5") + "$" + (i % 3 ? "12.3" : kStatusConnectFailed) +
                             "#" + (i % 4 ? "中国 北京" : "广东省深圳市 电信");
    ASSERT_TRUE(rows.AddLine(line));
  }
  {
    CProxyListModel::BulkAppend bulk(m);
    ASSERT_EQ(m.AppendPrepared(rows, 0), kRows);
  }
  ASSERT_EQ(m.RowCount(), kRows);
  EXPECT_LE(m.MemoryBytes(), std::size_t{100} * kRows);
  EXPECT_TRUE(m.KeysMatchRows());
}

TEST(ProxyListModel, ColumnsHeadersAndCheckState) {
  CProxyListModel m;
  ASSERT_EQ(m.AddProxyLine("1.2.3.4:8080@SOCKS5$1.5#备注", 0), 1);
  EXPECT_EQ(m.columnCount(), 5);
  const char* headers[] = {"[常用]类型", "服务器地址", "端口    ", "时间(s)/状态    ", "－备注－"};
  const char* cells[] = {"SOCKS5", "1.2.3.4", "8080", "1.5", "备注"};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(m.headerData(c, Qt::Horizontal).toString().toStdString(), headers[c]);
    EXPECT_EQ(m.data(m.index(0, c)).toString().toStdString(), cells[c]);
  }
  EXPECT_TRUE(m.flags(m.index(0, 0)) & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(m.flags(m.index(0, 1)) & Qt::ItemIsUserCheckable);
  EXPECT_EQ(m.data(m.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_TRUE(m.setData(m.index(0, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_TRUE(m.IsFavorite(0));
  EXPECT_EQ(m.data(m.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_FALSE(m.data(m.index(0, 1), Qt::CheckStateRole).isValid());
}

TEST(ProxyListModel, GetProxyLine) {
  CProxyListModel m;
  m.AddProxyLine("1.2.3.4:80@HTTPS$1.0#r", 0);
  EXPECT_EQ(m.GetProxyLine(0), "1.2.3.4:80@HTTPS");
  EXPECT_EQ(m.GetProxyLine(1), "");
  EXPECT_EQ(m.GetProxyLine(-1), "");
}

TEST(ProxyListModel, KeySetFollowsDeleteModifyAndClear) {
  CProxyListModel m;
  for (int i = 0; i < 10; ++i) m.AddProxyLine("10.0.0." + std::to_string(i) + ":80@HTTP", 0);
  m.RemoveRows({7, 2, 2, 99, -1});
  EXPECT_EQ(m.RowCount(), 8);
  EXPECT_TRUE(m.KeysMatchRows());
  EXPECT_FALSE(m.ContainsKey("10.0.0.2:80@HTTP"));
  EXPECT_TRUE(m.ContainsKey("10.0.0.3:80@http"));
  // A deleted proxy can be added again.
  EXPECT_EQ(m.AddProxyLine("10.0.0.2:80@HTTP", 0), 1);

  // Modifying onto another row's key is refused and changes nothing.
  EXPECT_FALSE(m.ChangeProxy(0, "10.0.0.1", "80", "HTTP"));
  EXPECT_EQ(m.CellText(0, CProxyListModel::ColAddr), "10.0.0.0");
  EXPECT_TRUE(m.ChangeProxy(0, "10.9.9.9", "81", "SOCKS4"));
  EXPECT_TRUE(m.ContainsKey("10.9.9.9:81@SOCKS4"));
  EXPECT_FALSE(m.ContainsKey("10.0.0.0:80@HTTP"));
  // Changing only the case keeps the key.
  EXPECT_TRUE(m.ChangeProxy(0, "10.9.9.9", "81", "socks4"));
  EXPECT_TRUE(m.KeysMatchRows());

  m.Clear();
  EXPECT_EQ(m.RowCount(), 0);
  EXPECT_EQ(m.KeyCount(), 0);
  EXPECT_EQ(m.AddProxyLine("10.0.0.1:80@HTTP", 0), 1);
}

TEST(ProxyListModel, ScatteredRemovalKeepsSelectionOfSurvivors) {
  CProxyListModel m;
  for (int i = 0; i < 300; ++i)
    m.AddProxyLine("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ":80@HTTP", 0);
  m.SelectRow(1);
  m.SelectRow(299);
  std::vector<int> doomed;
  for (int i = 0; i < 300; i += 2) doomed.push_back(i);  // 150 runs: the compacting path
  m.RemoveRows(doomed);
  EXPECT_EQ(m.RowCount(), 150);
  EXPECT_TRUE(m.KeysMatchRows());
  EXPECT_EQ(m.SelectedRows(), (std::vector<int>{0, 149}));
  EXPECT_EQ(m.CellText(0, CProxyListModel::ColAddr), "10.0.0.1");
}

TEST(ProxyListModel, ChangesRepaintOnlyTheirRow) {
  CProxyListModel m;
  for (int i = 0; i < 5; ++i) m.AddProxyLine("10.0.0." + std::to_string(i) + ":80@HTTP", 0);
  QSignalSpy spy(&m, &QAbstractItemModel::dataChanged);
  m.SetTimeStatus(3, "1.5");
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].value<QModelIndex>().row(), 3);
  EXPECT_EQ(spy[0][1].value<QModelIndex>().row(), 3);
  EXPECT_EQ(spy[0][0].value<QModelIndex>().column(), 0);
  EXPECT_EQ(spy[0][1].value<QModelIndex>().column(), 4);
  EXPECT_EQ(m.CellText(3, CProxyListModel::ColTimeStatus), "1.5");
}

TEST(ProxyListModel, BulkAppendInsertsOnceAndSelectsNewRows) {
  CProxyListModel m;
  m.AddProxyLine("1.1.1.1:80@HTTP", 0);
  m.SelectRow(0);
  QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
  {
    CProxyListModel::BulkAppend bulk(m);
    for (int i = 0; i < 100; ++i) m.AddProxyLine("2.2.2." + std::to_string(i) + ":80@HTTP", 1);
    m.AddProxyLine("2.2.2.0:80@HTTP", 1);  // duplicate of a pending row
    m.AddProxyLine("3.3.3.3:80@HTTP", 0);
    EXPECT_EQ(m.RowCount(), 1);
  }
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1);
  EXPECT_EQ(inserted[0][2].toInt(), 101);
  EXPECT_EQ(m.RowCount(), 102);
  EXPECT_TRUE(m.KeysMatchRows());
  // The old selection stays and the new selected rows join it; the unselected one not.
  EXPECT_EQ(m.SelectedCount(), 101);
  EXPECT_EQ(m.selectionModel()->currentIndex().row(), 100);
}

// Sorting: a list with every kind of status.
class ProxyListSort : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* lines[] = {
        "10.0.0.1:80@HTTP$连接失败#c", "9.0.0.1:8080@https$2.5#B",     "10.0.0.10:81@SOCKS5$超时#a",
        "10.0.0.2:3128@FTP$0.7#d",     "2.200.0.1:80@HTTP$未验证#",    "10.0.0.3:80@GOPHER$不匹配#E",
        "10.0.0.4:80@HTTP$验证中...#", "10.0.0.5:80@SOCKS4$验证异常#", "10.0.0.6:80@HTTP$0.7#same",
    };
    for (const char* l : lines) ASSERT_EQ(m.AddProxyLine(l, 0), 1) << l;
  }
  CProxyListModel m;
};

TEST_F(ProxyListSort, TimeColumnAscendingAndDescending) {
  m.SortRows(CProxyListModel::ColTimeStatus, true);
  EXPECT_EQ(Column(m, 3), (std::vector<std::string>{"验证异常", "0.7", "0.7", "2.5", "验证中...", "未验证",
                                                    "超时", "不匹配", "连接失败"}));
  // Stable: the two 0.7 rows keep their order.
  EXPECT_EQ(m.CellText(1, 1), "10.0.0.2");
  EXPECT_EQ(m.CellText(2, 1), "10.0.0.6");
  m.SortRows(CProxyListModel::ColTimeStatus, false);
  EXPECT_EQ(Column(m, 3).front(), "连接失败");
  EXPECT_EQ(Column(m, 3).back(), "验证异常");
  EXPECT_TRUE(m.KeysMatchRows());
}

TEST(ProxyListTimeSort, TheFastestProxiesNeverMixWithStatusTexts) {
  CProxyListModel m;
  for (const char* l : {"10.0.0.1:80@HTTP$0.0#", "10.0.0.2:80@HTTP$密码不匹配#", "10.0.0.3:80@HTTP$0.3#",
                        "10.0.0.4:80@HTTP$0.0#", "10.0.0.5:80@HTTP$验证异常#"}) {
    ASSERT_EQ(m.AddProxyLine(l, 0), 1) << l;
  }
  m.SortRows(CProxyListModel::ColTimeStatus, true);
  EXPECT_EQ(Column(m, 3), (std::vector<std::string>{"密码不匹配", "验证异常", "0.0", "0.0", "0.3"}));
  m.SortRows(CProxyListModel::ColTimeStatus, false);
  EXPECT_EQ(Column(m, 3), (std::vector<std::string>{"0.3", "0.0", "0.0", "密码不匹配", "验证异常"}));
}

TEST_F(ProxyListSort, AddressSortsNumericallyAndPortToo) {
  m.SortRows(CProxyListModel::ColAddr, true);
  EXPECT_EQ(Column(m, 1),
            (std::vector<std::string>{"2.200.0.1", "9.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                                      "10.0.0.5", "10.0.0.6", "10.0.0.10"}));
  m.SortRows(CProxyListModel::ColPort, false);
  EXPECT_EQ(Column(m, 2).front(), "8080");
  EXPECT_EQ(Column(m, 2).back(), "80");
}

TEST_F(ProxyListSort, TextColumnsIgnoreAsciiCase) {
  m.SortRows(CProxyListModel::ColRemark, true);
  EXPECT_EQ(Column(m, 4), (std::vector<std::string>{"", "", "", "a", "B", "c", "d", "E", "same"}));
  m.SortRows(CProxyListModel::ColType, true);
  EXPECT_EQ(Column(m, 0).front(), "FTP");
  EXPECT_EQ(Column(m, 0).back(), "SOCKS5");
}

TEST_F(ProxyListSort, SelectionAndFavoritesFollowTheirRows) {
  m.SetFavorite(0, true);  // 10.0.0.1, connection failed
  m.SelectRow(1);          // 9.0.0.1
  m.SortRows(CProxyListModel::ColTimeStatus, true);
  ASSERT_EQ(m.SelectedRows().size(), 1u);
  EXPECT_EQ(m.CellText(m.SelectedRows()[0], 1), "9.0.0.1");
  EXPECT_TRUE(m.IsFavorite(m.RowCount() - 1));
  EXPECT_EQ(m.CellText(m.RowCount() - 1, 1), "10.0.0.1");
}

TEST(CompareItems, DirectionNegates) {
  CProxyEntry a("1.2.3.4", "80", "HTTP", "1.0", "x");
  CProxyEntry b("1.2.3.5", "80", "http", "超时", "X");
  EXPECT_LT(CProxyListModel::CompareItems(a, b, 1, true), 0);
  EXPECT_GT(CProxyListModel::CompareItems(a, b, 1, false), 0);
  EXPECT_EQ(CProxyListModel::CompareItems(a, b, 0, true), 0);
  EXPECT_EQ(CProxyListModel::CompareItems(a, b, 2, false), 0);
  EXPECT_LT(CProxyListModel::CompareItems(a, b, 3, true), 0);
  EXPECT_EQ(CProxyListModel::CompareItems(a, b, 4, true), 0);
  EXPECT_EQ(CProxyListModel::CompareItems(a, b, 7, true), 0);
}

}  // namespace
