// The verification history's costs: what a batch of results costs the thread that
// writes it, and how many bytes a result takes on disk, from which the size of a
// year's history follows.
//
// Rows are written as runs write them: every proxy once per run, in batches of
// CHistoryRecorder::kBatchSize, 10,000 proxies, with the status texts of real runs
// (about a third working).
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Text.h"
#include "history/History.h"
#include "verify/VerifyTask.h"

using namespace qb;

namespace {

constexpr int kProxies = 10000;

HistoryRecord Result(int proxy, int run) {
  HistoryRecord r;
  r.proxy = qb::Format("10.%d.%d.%d:%d@%s", proxy / 65536 % 256, proxy / 256 % 256, proxy % 256,
                       1080 + proxy % 7000, proxy % 3 ? "HTTP" : "SOCKS5");
  r.when = 1'700'000'000 + static_cast<std::int64_t>(run) * 3 * 3600 + proxy / 100;
  r.resource = "http://127.0.0.1/feature.html";
  const bool ok = (proxy + run) % 3 == 0;
  r.code = ok ? VERIFY_OK : VERIFY_PROXYFAILED;
  r.seconds = ok ? 0.3 + (proxy % 50) / 10.0 : 50.0;
  r.status = ok ? qb::Format("%.1f", r.seconds) : "连接失败";
  if (ok && proxy % 2) {
    r.anonymity = "anonymous";
    r.exitAddress = qb::Format("10.200.%d.%d", proxy / 256 % 256, proxy % 256);
  }
  return r;
}

std::uintmax_t DiskBytes(const std::string& dir) {
  std::uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) total += e.file_size();
  return total;
}

// The history file of a scratch directory, as a data directory names it.
std::string HistoryPath(const QTemporaryDir& dir) {
  return dir.filePath("History.sqlite").toStdString();
}

// One batch as a run writes it.
void BM_HistoryBatch(benchmark::State& state) {
  QTemporaryDir dir;
  auto store = CHistoryStore::Open(HistoryPath(dir));
  if (!store) {
    state.SkipWithError("the history cannot be opened");
    return;
  }
  std::vector<HistoryRecord> batch;
  int run = 0, next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    batch.clear();
    for (std::size_t i = 0; i < CHistoryRecorder::kBatchSize; ++i) {
      batch.push_back(Result(next, run));
      if (++next == kProxies) next = 0, ++run;
    }
    state.ResumeTiming();
    if (!store->Append(batch)) state.SkipWithError("append failed");
  }
  state.counters["us_per_result"] =
      benchmark::Counter(static_cast<double>(state.iterations() * CHistoryRecorder::kBatchSize),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 100,000 results (ten runs over 10,000 proxies): bytes per result on disk, after a
// checkpoint, and the year's size from it: 8 runs a day over 10,000 proxies, all kept
// and thinned to the default 90 days.
void BM_HistoryBytesPerResult(benchmark::State& state) {
  const int runs = 10;
  double perRow = 0;
  for (auto _ : state) {
    QTemporaryDir dir;
    {
      auto store = CHistoryStore::Open(HistoryPath(dir));
      if (!store) {
        state.SkipWithError("the history cannot be opened");
        return;
      }
      std::vector<HistoryRecord> batch;
      for (int run = 0; run < runs; ++run) {
        for (int p = 0; p < kProxies; ++p) {
          batch.push_back(Result(p, run));
          if (batch.size() == CHistoryRecorder::kBatchSize) {
            store->Append(batch);
            batch.clear();
          }
        }
      }
      store->Append(batch);
      sqlite3_wal_checkpoint_v2(store->Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
    perRow = static_cast<double>(DiskBytes(dir.path().toStdString())) / (runs * kProxies);
  }
  const double rowsPerYear = 8.0 * 365 * kProxies;
  state.counters["bytes_per_result"] = perRow;
  state.counters["year_MB_kept_all"] = perRow * rowsPerYear / 1e6;
  state.counters["year_MB_thinned_90d"] = perRow * 8.0 * kDefaultKeepDays * kProxies / 1e6;
}

}  // namespace

BENCHMARK(BM_HistoryBatch)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_HistoryBytesPerResult)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
