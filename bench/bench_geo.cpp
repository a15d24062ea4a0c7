// The cost of locating one address, as a country column pays it for every row.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "base/Text.h"
#include "proxy/GeoLocation.h"

namespace {

// Addresses spread over the whole space, so that the trees are walked to varying depths.
std::string Address(std::uint32_t i) {
  const std::uint32_t v = i * 2654435761u;
  return qb::Format("%u.%u.%u.%u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
}

void SystemDatabase(benchmark::State& state) {
  QTemporaryDir empty;
  const std::string dir = empty.path().toStdString();
  std::uint32_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(qb::LocateAddress(dir, Address(++i), qb::UiLanguage::Chinese));
}
BENCHMARK(SystemDatabase);

void SystemDatabaseV6(benchmark::State& state) {
  QTemporaryDir empty;
  const std::string dir = empty.path().toStdString();
  std::uint32_t i = 0;
  for (auto _ : state) {
    const std::uint32_t v = ++i * 2654435761u;
    benchmark::DoNotOptimize(
        qb::LocateAddress(dir, qb::Format("2a%02x:%x::1", v >> 24, v & 0xffff), qb::UiLanguage::Chinese));
  }
}
BENCHMARK(SystemDatabaseV6);

// A data directory with a MaxMind database in front of the system's.
void MmdbThenSystem(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString();
  const std::string command = "/usr/bin/perl " QB_SOURCE_DIR "/tests/support/make-mmdb.pl " + path +
                              "/city.mmdb Test-City 1700000000";
  if (std::system(command.c_str()) != 0) {
    state.SkipWithError("cannot make the database (libmaxmind-db-writer-perl)");
    return;
  }
  std::uint32_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(qb::LocateAddress(path, Address(++i), qb::UiLanguage::Chinese));
}
BENCHMARK(MmdbThenSystem);

}  // namespace

BENCHMARK_MAIN();
