// Filtering a large list as the window's filter field does: which rows hold a text in
// their address, type, status, remark or country.
//
// Run: build/bench/bench_filter [--rows N] (a million rows by default). Prints one line
// per filter text: the rows shown and the time taken, the best of three runs.

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "proxy/ListFilter.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Rows as a day's list has them: addresses over the whole space, common ports, every
// type, times and the failure texts, a remark (a place) on a third of them.
void Fill(CProxyListModel& list, int rows) {
  static const char* const kTypes[] = {"HTTP", "HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP"};
  static const char* const kStatus[] = {"0.8", "1.4", "12.5", "连接失败", "超时", "不匹配", "未验证", "3.0"};
  static const char* const kRemarks[] = {"中国 北京", "美国", "Deutschland", "日本 东京", ""};
  static const int kPorts[] = {80, 8080, 3128, 1080, 443};
  CProxyListModel::PreparedRows prepared;
  std::uint32_t seed = 12345;
  for (int i = 0; i < rows; ++i) {
    seed = seed * 1664525u + 1013904223u;
    std::string line = std::to_string(1 + (seed >> 24) % 223) + "." + std::to_string((seed >> 16) & 255) +
                       "." + std::to_string((seed >> 8) & 255) + "." + std::to_string(i & 255) + ":" +
                       std::to_string(kPorts[i % 5] + (i / 256) % 7) + "@" + kTypes[i % 6] + "$" +
                       kStatus[i % 8];
    // The status is kept only with a remark separator; a remark on a third of them.
    line += std::string("#") + (i % 3 == 0 ? kRemarks[(i / 3) % 5] : "");
    prepared.AddLine(line);
  }
  list.AppendPrepared(prepared, 0);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rows = 1000000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
  }
  CProxyListModel list;
  auto start = std::chrono::steady_clock::now();
  Fill(list, rows);
  std::printf("rows: %d (made in %.2f s)\n", list.RowCount(), Seconds(start));

  // The country comes from outside the row; here a cheap stand-in of the same shape.
  const std::function<std::string(const CProxyEntry&)> country = [](const CProxyEntry& e) {
    return e.Type() == "SOCKS5" ? std::string("Netherlands") : std::string("中国");
  };
  for (const char* text : {"socks5", "1.2", "超时", "北京", "timeout", "no such text", "netherlands"}) {
    double best = 1e9;
    long shown = 0;
    for (int run = 0; run < 3; ++run) {
      start = std::chrono::steady_clock::now();
      const std::vector<char> flags = FilterRows(list, text, country);
      best = std::min(best, Seconds(start));
      shown = std::count(flags.begin(), flags.end(), 1);
    }
    std::printf("filter %-14s shown %8ld  %.3f s\n", text, shown, best);
  }
  return 0;
}
