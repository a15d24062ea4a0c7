// The text a saved list file holds for a list's rows, built row by row: the reference
// that tests hold the program's chunked save against.
#pragma once

#include <string>

#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qbtest {

inline std::string ListFileText(const qb::CProxyListModel& list) {
  std::string out;
  for (int r = 0; r < list.RowCount(); ++r) out += qb::FormatFileLine(*list.Entry(r)) + "\r\n";
  return out;
}

}  // namespace qbtest
