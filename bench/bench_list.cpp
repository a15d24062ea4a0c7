// A list of a million rows: adding, saving, loading, sorting and the memory per row.
//
// Run: build/bench_list [--rows N]. Prints one line per operation; the figures go into
// the closing notes, never into timed tests.

#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/Prompt.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Resident memory of the process. The rows' entries come from their own pool rather
// than from the general allocator, so the allocator's statistics would miss them.
std::size_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long pages = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &pages, &resident);
  std::fclose(f);
  return n == 2 ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

std::vector<std::string> MakeLines(int n) {
  // Typical rows: a dotted address, a common port, a type, a time or a status, and
  // a short remark on some.
  static const char* kTypes[] = {"HTTP", "HTTP", "HTTP", "HTTPS", "SOCKS4", "SOCKS5"};
  static const char* kStatus[] = {"未验证", "连接失败", "超时", "不匹配", "", ""};
  static const int kPorts[] = {80, 3128, 8080, 8000, 1080, 8888, 9050};
  std::mt19937 rng(12345);
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    char buf[128];
    const unsigned a = 1 + rng() % 223, b = rng() % 256;
    const unsigned c = (static_cast<unsigned>(i) >> 8) & 0xFF, d = static_cast<unsigned>(i) & 0xFF;
    const char* status = kStatus[rng() % 6];
    std::string st = *status ? status : std::to_string((rng() % 300) / 10.0).substr(0, 3);
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%d@%s$%s#%s", a, b, c, d, kPorts[rng() % 7],
                  kTypes[rng() % 6], st.c_str(), (i % 3 == 0) ? "中国 北京" : "");
    lines.emplace_back(buf);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rows = 1000000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
  }
  QTemporaryDir tmp;
  const std::string dir = tmp.path().toStdString() + "/";
  const std::vector<std::string> lines = MakeLines(rows);

  const std::size_t residentBefore = ResidentBytes();
  auto* list = new CProxyListModel;
  auto t = std::chrono::steady_clock::now();
  {
    CProxyListModel::BulkAppend bulk(*list);
    for (const auto& l : lines) list->AddProxyLine(l, 0);
  }
  const double addSeconds = Seconds(t);
  const std::size_t residentAfter = ResidentBytes();
  std::printf("AddProxyLine   %8d rows  %.3f s  (target 1.5 s)\n", list->RowCount(), addSeconds);
  std::printf("memory         %.0f bytes per row, resident (target 300)\n",
              static_cast<double>(residentAfter - residentBefore) / list->RowCount());

  t = std::chrono::steady_clock::now();
  const bool saved = SaveProxyList(*list, dir).ok();
  std::printf("SaveProxyList  %.3f s  (target 1 s)%s\n", Seconds(t), saved ? "" : "  FAILED");

  t = std::chrono::steady_clock::now();
  list->SortRows(CProxyListModel::ColTimeStatus, true);
  std::printf("sort column 3  %.3f s  (target 1 s)\n", Seconds(t));

  delete list;
  CProxyListModel loaded;
  t = std::chrono::steady_clock::now();
  LoadProxyList(loaded, dir);
  std::printf("LoadProxyList  %8d rows  %.3f s  (target 2 s)\n", loaded.RowCount(), Seconds(t));
  return loaded.RowCount() == rows ? 0 : 1;
}
