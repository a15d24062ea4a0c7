// What the fuzz targets share: a private scratch directory for the file readers, and
// the rows of a list as plain values to compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/ProxyEntry.h"

namespace qb {
class CProxyListModel;
}

namespace qbfuzz {

// A directory of this process, made on first use and removed at exit.
const std::string& ScratchDir();

// Writes bytes to ScratchDir()/name and returns the path; aborts when it cannot.
std::string WriteScratchFile(const std::string& name, std::string_view bytes);

// The five fields and the favourite mark of every row, in list order.
struct Row {
  std::string addr, port, type, timeStatus, remark;
  bool operator==(const Row&) const = default;
};
std::vector<Row> RowsOf(const qb::CProxyListModel& list);

// Ends the run with a message naming the property that failed; libFuzzer keeps the
// input as a crash.
[[noreturn]] void Fail(const char* what, std::string_view detail = {});

}  // namespace qbfuzz

namespace qbfuzz {

// Takes the messages the loaders would show, so that a run is not flooded with them.
void SilencePrompts();

}  // namespace qbfuzz
