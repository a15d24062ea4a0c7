// A large list: adding, saving, loading, sorting and the memory per row.
//
// Run: build/bench/bench_list [--rows N] [--keep DIR] (a million rows by default; with
// --keep the list is saved in DIR and left there, and --load DIR loads it alone). Prints one line per
// operation; the figures go into the closing notes, never into timed tests.
//
// The load is measured in a process of its own (this program started again with
// --load), so that its resident memory holds nothing but the loaded list: the rows'
// pool keeps the slots of the first list for reuse, and the first process would count
// them twice.

#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "base/Files.h"
#include "base/Prompt.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A figure of /proc/self/status in bytes ("VmRSS", "VmHWM"). The rows' entries come
// from their own pool rather than from the general allocator, so the allocator's
// statistics would miss them.
std::size_t StatusBytes(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  std::size_t kb = 0;
  const std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      kb = std::strtoull(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}

// Typical rows: a dotted address, a common port, a type, a time ("12.3") or a status, a short
// remark on a third of them; one row in a hundred names its proxy by a host name and
// carries a remark too long to keep inside the row.
class LineMaker {
 public:
  std::string Line(int i) {
    static const char* kTypes[] = {"HTTP", "HTTP", "HTTP", "HTTPS", "SOCKS4", "SOCKS5"};
    static const char* kStatus[] = {"未验证", "连接失败", "超时", "不匹配", "", ""};
    static const int kPorts[] = {80, 3128, 8080, 8000, 1080, 8888, 9050};
    char buf[256];
    const unsigned a = 1 + m_rng() % 223, b = m_rng() % 256;
    const unsigned c = (static_cast<unsigned>(i) >> 8) & 0xFF, d = static_cast<unsigned>(i) & 0xFF;
    const char* status = kStatus[m_rng() % 6];
    char time[16];
    std::snprintf(time, sizeof time, "%.1f", (m_rng() % 300) / 10.0);  // as verification writes it
    const std::string st = *status ? status : time;
    const int port = kPorts[m_rng() % 7];
    const char* type = kTypes[m_rng() % 6];
    if (i % 100 == 99) {
      std::snprintf(buf, sizeof buf, "proxy-%u-%u.example.net:%d@%s$%s#%s", a, i, port, type, st.c_str(),
                    "广东省深圳市 电信 机房 高匿名");
    } else {
      std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%d@%s$%s#%s", a, b, c, d, port, type, st.c_str(),
                    (i % 3 == 0) ? "中国 北京" : "");
    }
    return buf;
  }

 private:
  std::mt19937 m_rng{12345};
};

int Load(const std::string& dir, int expected) {
  malloc_trim(0);
  const struct mallinfo2 m0 = mallinfo2();
  std::printf("allocator before: %.1f MiB in use, %.1f MiB mapped\n", m0.uordblks / 1048576.0,
              m0.hblkhd / 1048576.0);
  const std::size_t before = StatusBytes("VmRSS");
  auto data = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  CProxyListModel& list = data->List();
  const auto t = std::chrono::steady_clock::now();
  const bool ok = data->LoadList().ok();
  const double seconds = Seconds(t);
  const std::size_t after = StatusBytes("VmRSS");
  const double rows = list.RowCount() > 0 ? list.RowCount() : 1;
  std::printf("LoadProxyList  %9d rows  %.3f s%s\n", list.RowCount(), seconds, ok ? "" : "  FAILED");
  std::printf("load memory    %.1f bytes per row; resident %.1f MiB in all, peak %.1f MiB\n",
              static_cast<double>(after - before) / rows, after / 1048576.0,
              StatusBytes("VmHWM") / 1048576.0);
  // The loaded rows saved again must give the very same file.
  QTemporaryDir again;
  const std::string againDir = again.path().toStdString() + "/";
  const bool resaved = qb::WriteFileAtomically(qb::JoinPath(againDir, "Proxies.pro"), [&] {
    std::string text;
    qb::WriteListFile(list, [&](std::string_view piece) {
      text.append(piece);
      return true;
    });
    return text;
  }());
  const auto first = qb::ReadWholeFile(qb::JoinPath(dir, "Proxies.pro"));
  const auto second = resaved ? qb::ReadWholeFile(qb::JoinPath(againDir, "Proxies.pro")) : std::nullopt;
  const bool same = first && second && *first == *second;
  std::printf("saved again    %s\n",
              same ? "byte for byte the file loaded" : "DIFFERENT from the file loaded");
  const struct mallinfo2 mi = mallinfo2();
  std::printf("allocator      %.1f MiB in use, %.1f MiB free in the heap, %.1f MiB mapped\n",
              mi.uordblks / 1048576.0, mi.fordblks / 1048576.0, mi.hblkhd / 1048576.0);
  return ok && same && list.RowCount() == expected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rows = 1000000;
  const char* loadDir = nullptr;
  const char* keepDir = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--load") == 0) loadDir = argv[i + 1];
    if (std::strcmp(argv[i], "--keep") == 0) keepDir = argv[i + 1];  // save there, and leave it
  }
  if (loadDir) return Load(loadDir, rows);

  QTemporaryDir tmp;
  const std::string dir = keepDir ? std::string(keepDir) + "/" : tmp.path().toStdString() + "/";

  LineMaker maker;
  const std::size_t residentBefore = StatusBytes("VmRSS");
  auto* data = qb::DataDir::Open(dir, qb::DataDir::Access::Read).release();
  CProxyListModel* list = &data->List();
  double addSeconds = 0;
  {
    CProxyListModel::BulkAppend bulk(*list);
    std::string line;
    for (int i = 0; i < rows; ++i) {
      line = maker.Line(i);
      const auto t = std::chrono::steady_clock::now();
      list->AddProxyLine(line, 0);
      addSeconds += Seconds(t);
    }
  }
  const std::size_t residentAfter = StatusBytes("VmRSS");
  const int added = list->RowCount();
  std::printf("AddProxyLine   %9d rows  %.3f s\n", added, addSeconds);
  std::printf("add memory     %.1f bytes per row, resident\n",
              static_cast<double>(residentAfter - residentBefore) / (added > 0 ? added : 1));

  auto t = std::chrono::steady_clock::now();
  const bool saved = data->SaveList().ok();
  std::printf("SaveProxyList  %.3f s%s\n", Seconds(t), saved ? "" : "  FAILED");

  for (int column : {CProxyListModel::ColTimeStatus, CProxyListModel::ColAddr, CProxyListModel::ColRemark}) {
    t = std::chrono::steady_clock::now();
    list->SortRows(column, true);
    std::printf("sort column %d  %.3f s\n", column, Seconds(t));
  }
  delete data;

  // The load in a fresh process.
  std::fflush(stdout);
  const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
  const std::string run = self + " --rows " + std::to_string(added) + " --load \"" + dir + "\"";
  return std::system(run.c_str()) == 0 ? 0 : 1;
}
