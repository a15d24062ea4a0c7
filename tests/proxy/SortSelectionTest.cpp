// The selection through a sort: the same proxies stay selected, as whole runs of the
// new order, and the current row stays on its proxy, whatever the selection's shape.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include <set>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

// Columns after the five, as the window shows the history's: the selection of a whole
// row then reaches further than the list's own columns.
class TwoExtraColumns : public IExtraColumns {
 public:
  int Count() const override { return 2; }
  QString Header(int) const override { return QStringLiteral("x"); }
  QString Text(const CProxyEntry&, int) const override { return {}; }
  std::pair<double, std::string> SortKey(const CProxyEntry& e, int) const override {
    return {0, std::string(e.Remark())};
  }
};

// Rows whose types, ports and times are spread so that every sort moves them.
void Fill(CProxyListModel& m, int n) {
  static const char* kTypes[] = {"HTTP", "SOCKS5", "https", "SOCKS4", "HTTPS", "http"};
  for (int i = 0; i < n; ++i) {
    const std::string line =
        qb::Format("10.%d.%d.%d:%d@%s$%d.%d#r%d", (i * 7919) % 200, i / 250, i % 250, 1000 + (i * 37) % 5000,
                   kTypes[(i * 5) % 6], (i * 13) % 30, i % 10, (i * 31) % 97);
    ASSERT_EQ(m.AddProxyLine(line, 0), 1) << line;
  }
}

std::set<std::string> SelectedProxies(const CProxyListModel& m) {
  std::set<std::string> out;
  for (int r : m.SelectedRows()) out.insert(m.GetProxyLine(r));
  return out;
}

// The runs of consecutive selected rows: the fewest ranges the selection can be.
int Runs(const std::vector<int>& rows) {
  int runs = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i == 0 || rows[i] != rows[i - 1] + 1) ++runs;
  }
  return runs;
}

struct SortStep {
  int column;
  bool ascending;
};
const SortStep kSorts[] = {{CProxyListModel::ColType, true},       {CProxyListModel::ColPort, false},
                           {CProxyListModel::ColTimeStatus, true}, {CProxyListModel::ColAddr, false},
                           {CProxyListModel::ColRemark, true},     {CProxyListModel::ColumnCount, false},
                           {CProxyListModel::ColType, false}};

class SortSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    m.SetExtraColumns(&extra);
    Fill(m, 3000);
  }
  TwoExtraColumns extra;
  CProxyListModel m;
};

TEST_F(SortSelection, EveryRowSelectedStaysEveryRowAndTheCurrentRowItsProxy) {
  m.SelectAll();
  const QModelIndex current = m.index(1234, 0);
  m.selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  const std::string currentProxy = m.GetProxyLine(1234);
  QSignalSpy changed(m.selectionModel(), &QItemSelectionModel::selectionChanged);
  for (const SortStep& s : kSorts) {
    m.SortRows(s.column, s.ascending);
    EXPECT_EQ(m.SelectedCount(), m.RowCount()) << "column " << s.column;
    // One range, not one per row: a repaint asks each range of every cell shown.
    EXPECT_EQ(m.selectionModel()->selection().size(), 1) << "column " << s.column;
    EXPECT_EQ(m.GetProxyLine(m.selectionModel()->currentIndex().row()), currentProxy)
        << "column " << s.column;
  }
  // The same proxies are selected: nothing listening has anything to redo.
  EXPECT_EQ(changed.count(), 0);
  // The selection still covers the columns it covered.
  EXPECT_TRUE(m.selectionModel()->isSelected(m.index(0, CProxyListModel::ColRemark)));
  EXPECT_TRUE(m.selectionModel()->isSelected(m.index(m.RowCount() - 1, CProxyListModel::ColType)));
}

TEST_F(SortSelection, ScatteredRowsStayTheSameProxiesAsTheFewestRanges) {
  // Every third row, a block, and rows picked one by one as a click picks them (whole
  // rows, the extra columns too).
  QItemSelection pick;
  for (int r = 0; r < m.RowCount(); r += 3)
    pick.select(m.index(r, 0), m.index(r, CProxyListModel::ColumnCount - 1));
  pick.select(m.index(1000, 0), m.index(1499, CProxyListModel::ColumnCount - 1));
  m.selectionModel()->select(pick, QItemSelectionModel::Select);
  m.SelectRow(2801, false);
  m.SelectRow(2999, false);
  const std::set<std::string> before = SelectedProxies(m);
  ASSERT_GT(before.size(), 1300u);
  for (const SortStep& s : kSorts) {
    m.SortRows(s.column, s.ascending);
    const std::vector<int> rows = m.SelectedRows();
    EXPECT_EQ(SelectedProxies(m), before) << "column " << s.column;
    EXPECT_EQ(static_cast<int>(rows.size()), m.SelectedCount());
    EXPECT_EQ(m.selectionModel()->selection().size(), Runs(rows)) << "column " << s.column;
  }
  EXPECT_TRUE(m.KeysMatchRows());
}

TEST_F(SortSelection, WhatTheLayoutChangeFindsIsTheWholeSelection) {
  // The window counts the selection for its status line while the new order is
  // announced; it must not find the selection half restored.
  m.SelectAll();
  int seen = -1;
  QObject::connect(&m, &QAbstractItemModel::layoutChanged, [&] { seen = m.SelectedCount(); });
  m.SortRows(CProxyListModel::ColType, true);
  EXPECT_EQ(seen, m.RowCount());
}

TEST_F(SortSelection, NothingSelectedStaysNothingSelected) {
  m.selectionModel()->setCurrentIndex(m.index(7, 2), QItemSelectionModel::NoUpdate);
  const std::string currentProxy = m.GetProxyLine(7);
  m.SortRows(CProxyListModel::ColPort, true);
  EXPECT_EQ(m.SelectedCount(), 0);
  EXPECT_TRUE(m.selectionModel()->selection().isEmpty());
  EXPECT_EQ(m.GetProxyLine(m.selectionModel()->currentIndex().row()), currentProxy);
  EXPECT_EQ(m.selectionModel()->currentIndex().column(), 2);
}

// Ranges of one row may overlap (cells picked in parts, a row picked twice): each row
// is counted and listed once, in order.
TEST(SelectedRows, OverlappingRangesCountEachRowOnce) {
  CProxyListModel m;
  Fill(m, 40);
  QItemSelection pick;
  pick.select(m.index(2, 0), m.index(5, 1));
  pick.select(m.index(4, 2), m.index(8, 3));
  pick.select(m.index(20, 4), m.index(20, 4));
  pick.select(m.index(9, 0), m.index(9, 0));
  m.selectionModel()->select(pick, QItemSelectionModel::Select);
  m.selectionModel()->select(QItemSelection(m.index(3, 4), m.index(3, 4)), QItemSelectionModel::Select);
  EXPECT_EQ(m.SelectedRows(), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 20}));
  EXPECT_EQ(m.SelectedCount(), 9);
}

}  // namespace
