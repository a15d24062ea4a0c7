// A run of 100 workers over a loopback farm of 2,000 fake HTTP proxies that answer
// after 200 ms, through the same control the window uses; and the same farm fetched
// with `xargs -P 100 curl -x ...` for comparison.
//
// The floor of a run is 2000 x 0.2 s / 100 = 4 s; the counters give the wall time,
// its ratio to that floor, the CPU time per verified proxy and the peak memory.
//
// With history=1 every result also goes to a History.sqlite in a temporary directory,
// as in the window: compare its wall_s with history=0 (the cost of the history on the
// thread that runs the verification).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LoopbackFarm.h"
#include "base/CurlTransfer.h"
#include "base/Text.h"
#include "history/History.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "verify/VerifyControl.h"

using namespace qb;

namespace {

constexpr int kProxies = 2000;
constexpr int kThreads = 100;
constexpr double kDelaySeconds = 0.2;
constexpr double kFloorSeconds = kProxies * kDelaySeconds / kThreads;
constexpr const char* kFeature = bench::kFarmFeature;
constexpr const char* kResourceUrl = bench::kFarmResourceUrl;

std::string FarmAddress(int i) {
  return qb::Format("127.0.%d.%d", i / 250 + 1, i % 250 + 1);
}

// Listens on one port of kProxies loopback addresses (every second one left without a
// listener when refuseHalf), reads each request head, answers after kDelaySeconds and
// closes. Prints "READY <port>" and serves until standard input closes.
int RunFarm(bool refuseHalf) {
  bench::FarmShare share;
  share.from = 0;
  share.to = kProxies;
  share.address = FarmAddress;
  share.kind = [refuseHalf](int i) {
    return refuseHalf && i % 2 == 1 ? bench::FarmKind::Refuses : bench::FarmKind::Answers;
  };
  share.delayMs = static_cast<int>(kDelaySeconds * 1000);
  share.bindAttempts = 50;
  share.backlog = 512;
  share.eventBatch = 1024;
  return bench::ServeFarm(share);
}

// The farm process for the length of one benchmark: this executable run with --farm.
class Farm {
 public:
  explicit Farm(bool refuseHalf) {
    QStringList args{"--farm"};
    if (refuseHalf) args << "--refuse-half";
    bench::StartFarm(m_process, args);
    m_port = bench::WaitForFarm(m_process, 30000);
  }
  ~Farm() { bench::StopFarm(m_process, 3000); }
  int Port() const { return m_port; }

 private:
  QProcess m_process;
  int m_port = 0;
};

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_maxrss;
}

void BM_VerifyFarm(benchmark::State& state) {
  const bool refuseHalf = state.range(0) != 0;
  const bool withHistory = state.range(1) != 0;
  Farm farm(refuseHalf);
  if (!farm.Port()) {
    state.SkipWithError("the proxy farm did not start");
    return;
  }
  QTemporaryDir historyDir;
  std::unique_ptr<CHistoryStore> history;
  if (withHistory) {
    history = CHistoryStore::Open(historyDir.path().toStdString());
    if (!history) {
      state.SkipWithError("the history could not be made");
      return;
    }
  }
  CSettings settings;
  settings.m_nThreadNumber = kThreads;
  settings.m_bAutoAddToFavorite = 1;
  settings.m_aVerifySources.push_back({"farm", kResourceUrl, kFeature, 1});
  g_nConnectTimeoutMs = 5000;
  g_nVerifyTimeoutMs = 10000;

  double wall = 0, cpu = 0;
  int ok = 0, failed = 0, runs = 0;
  for (auto _ : state) {
    CProxyListModel list;
    {
      CProxyListModel::BulkAppend bulk(list);
      for (int i = 0; i < kProxies; ++i)
        list.AddProxyLine(FarmAddress(i) + ":" + std::to_string(farm.Port()) + "@HTTP", 0);
    }
    std::optional<CHistoryRecorder> recorder;
    if (history) recorder.emplace(*history);
    CVerifyControl control(list, settings);
    if (recorder) control.SetHistory(&*recorder);
    QEventLoop loop;
    QObject::connect(&control, &CVerifyControl::RunEnded, &loop, &QEventLoop::quit);

    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    control.OnVerifyAll();
    loop.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpuUsed = CpuSeconds(RUSAGE_SELF) - cpu0;
    state.SetIterationTime(seconds);

    wall += seconds;
    cpu += cpuUsed;
    ++runs;
    ok = failed = 0;
    for (int r = 0; r < list.RowCount(); ++r) {
      const double t = qb::CAtof(list.Entry(r)->TimeStatus());
      (t > 0 ? ok : failed)++;
    }
    // Let the workers of this run end before the next one starts.
    CVerifyControl::DrainWorkers(3000);
  }
  state.counters["wall_s"] = wall / runs;
  state.counters["floor_ratio"] = wall / runs / kFloorSeconds;
  state.counters["cpu_ms_per_proxy"] = 1000.0 * cpu / runs / kProxies;
  state.counters["peak_rss_MB"] = PeakRssKb(RUSAGE_SELF) / 1024.0;
  state.counters["ok"] = ok;
  state.counters["failed"] = failed;
  if (history) state.counters["history_rows"] = static_cast<double>(history->ResultCount());
}

// The same farm with one curl process per proxy, 100 at a time.
void BM_CurlXargsFarm(benchmark::State& state) {
  const bool refuseHalf = state.range(0) != 0;
  Farm farm(refuseHalf);
  if (!farm.Port()) {
    state.SkipWithError("the proxy farm did not start");
    return;
  }
  QTemporaryDir dir;
  const std::string listPath = dir.path().toStdString() + "/proxies.txt";
  {
    std::ofstream out(listPath);
    for (int i = 0; i < kProxies; ++i) out << FarmAddress(i) << ":" << farm.Port() << "\n";
  }
  const std::string command =
      "xargs -P " + std::to_string(kThreads) +
      " -I{} curl -s -o /dev/null --noproxy '' --connect-timeout 5 -m 10 -x http://{} " + kResourceUrl +
      " < " + listPath;
  double wall = 0, cpu = 0;
  int runs = 0;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // xargs ends with 123 when some curl failed, which the refusing farm makes certain.
    if (rc == -1 || !WIFEXITED(rc)) {
      state.SkipWithError("xargs could not run");
      return;
    }
    state.SetIterationTime(seconds);
    wall += seconds;
    cpu += CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    ++runs;
  }
  state.counters["wall_s"] = wall / runs;
  state.counters["floor_ratio"] = wall / runs / kFloorSeconds;
  state.counters["cpu_ms_per_proxy"] = 1000.0 * cpu / runs / kProxies;
}

}  // namespace

BENCHMARK(BM_VerifyFarm)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"refuse_half", "history"})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlXargsFarm)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("refuse_half")
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qb::CurlGlobal curl;
  if (argc >= 2 && std::string(argv[1]) == "--farm") {
    return RunFarm(argc >= 3 && std::string(argv[2]) == "--refuse-half");
  }
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
