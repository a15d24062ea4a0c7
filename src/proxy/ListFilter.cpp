#include "proxy/ListFilter.h"

#include <algorithm>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qb {

CListFilter::CListFilter(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  m_needle.assign(text);
  for (char& c : m_needle) c = qb::AsciiLower(c);
}

bool CListFilter::In(std::string_view field) const {
  if (field.size() < m_needle.size()) return false;
  // Only ASCII letters fold: the bytes of a Chinese remark compare as they are.
  return std::search(field.begin(), field.end(), m_needle.begin(), m_needle.end(),
                     [](char a, char b) { return qb::AsciiLower(a) == b; }) != field.end();
}

bool CListFilter::Matches(const CProxyEntry& e, std::string_view extra) const {
  if (Empty()) return true;
  const std::string status = e.TimeStatus();
  // The status also by its English word, which the English interface shows.
  return In(e.Addr()) || In(e.Type()) || In(status) || In(ProxyState(status)) || In(e.Remark()) ||
         (!extra.empty() && In(extra));
}

std::vector<char> FilterRows(const CProxyListModel& list, std::string_view text,
                             const std::function<std::string(const CProxyEntry&)>& extra) {
  const CListFilter filter(text);
  std::vector<char> shown(static_cast<std::size_t>(list.RowCount()), 1);
  if (filter.Empty()) return shown;
  for (int row = 0; row < list.RowCount(); ++row) {
    const CProxyEntry& e = *list.Entry(row);
    bool match = filter.Matches(e);
    if (!match && extra) match = filter.In(extra(e));
    shown[static_cast<std::size_t>(row)] = match ? 1 : 0;
  }
  return shown;
}

}  // namespace qb
