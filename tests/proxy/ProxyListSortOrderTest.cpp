// Every column's sort puts the rows in the order of the list's comparison, equal rows
// staying in their places, whatever shortcut the sort takes for speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

TEST(ProxyListSortOrder, EveryColumnAndDirectionFollowsCompareItems) {
  // Texts where folding to upper and to lower case would differ ("_" and "[" lie
  // between the two alphabets), prefixes, CJK bytes, and many equal keys.
  const char* texts[] = {"",    "a", "A",  "_x",        "[y",   "ab",    "AB",
                         "abc", "Z", "z_", "中国 北京", "中国", "!keep", "~"};
  const char* types[] = {"HTTP", "http", "HTTPS", "SOCKS4", "socks5", "FTP", "Gopher", "https"};
  const char* status[] = {"0.5", "12.0", "未验证", "连接失败", "超时", "不匹配", "x", "0.50"};
  std::mt19937 rng(7);
  CProxyListModel m;
  for (int i = 0; i < 600; ++i) {
    const std::string line = std::to_string(1 + rng() % 4) + "." + std::to_string(rng() % 3) + ".0." +
                             std::to_string(i % 250) + ":" + std::to_string(1 + rng() % 5) + "@" +
                             types[rng() % 8] + "$" + status[rng() % 8];
    if (m.AddProxyLine(line, 0) == 1) m.SetRemark(m.RowCount() - 1, texts[rng() % 14]);
  }
  ASSERT_GT(m.RowCount(), 300);

  for (int column = 0; column < CProxyListModel::ColumnCount; ++column) {
    for (bool ascending : {true, false}) {
      std::vector<const CProxyEntry*> expected;
      for (int r = 0; r < m.RowCount(); ++r) expected.push_back(m.Entry(r));
      std::stable_sort(expected.begin(), expected.end(), [&](const CProxyEntry* a, const CProxyEntry* b) {
        return CProxyListModel::CompareItems(*a, *b, column, ascending) < 0;
      });
      m.SortRows(column, ascending);
      for (int r = 0; r < m.RowCount(); ++r) {
        ASSERT_EQ(m.Entry(r), expected[static_cast<std::size_t>(r)])
            << "column " << column << (ascending ? " ascending" : " descending") << ", row " << r;
      }
    }
  }
}

}  // namespace
