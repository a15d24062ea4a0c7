// Which rows of the list a filter text leaves in view: the window's filter field.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class CProxyEntry;
class CProxyListModel;

class CListFilter {
 public:
  // Blanks at the ends are no part of the text; letters match in either case.
  explicit CListFilter(std::string_view text);

  bool Empty() const { return m_needle.empty(); }
  // Whether the address, the type, the stored status (or its English state word), the
  // remark or the extra text (a
  // column outside the row, such as the country) holds the text.
  bool Matches(const CProxyEntry& e, std::string_view extra = {}) const;
  // Whether one text holds it.
  bool In(std::string_view field) const;

 private:
  std::string m_needle;  // ASCII letters in lower case
};

// One flag a row, 1 where the row is shown. extra, when given, names a row's text
// beyond its five fields; it is asked only of rows the fields do not match.
std::vector<char> FilterRows(const CProxyListModel& list, std::string_view text,
                             const std::function<std::string(const CProxyEntry&)>& extra = {});

}  // namespace qb
