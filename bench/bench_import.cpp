// Import of a large proxy-list web page, end to end the way the window imports a file:
// read the file, extract line by line, add every found line to the list in one bulk
// append and save the list. Also the parts separately, to show where the time goes.
//
//   bench_import [--input=FILE | --size-mb=N] [benchmark options]
//   bench_import --generate=FILE [--size-mb=N]     (only writes the page)
//   bench_import --input=FILE --once-into=DIR        (one import in a fresh process)
//
// Without --input a page of --size-mb MiB (default 100) is generated into a temporary
// file and removed afterwards.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/Files.h"
#include "datadir/DataDir.h"
#include "proxy/FileImport.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

std::string g_path;
std::size_t g_bytes = 0;

// A proxy-list page: a table with one unique proxy per row and the usual columns.
std::string MakePage(std::size_t targetBytes) {
  static const char* const kTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5"};
  static const char* const kAnonymity[] = {"transparent", "anonymous", "elite proxy"};
  static const char* const kCountries[] = {"United States", "China", "Germany", "Brazil",      "Russia",
                                           "Indonesia",     "India", "France",  "Netherlands", "Japan"};
  static const unsigned kPorts[] = {80, 3128, 8080, 1080, 8888, 9999, 443, 8000, 53281, 4145};
  std::string page;
  page.reserve(targetBytes + 4096);
  page +=
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Free proxy list</title>\n</head>\n"
      "<body>\n<table class=\"table table-striped\">\n<thead><tr><th>IP Address:Port</th><th>Protocol</th>"
      "<th>Anonymity</th><th>Country</th><th>Last Checked</th></tr></thead>\n<tbody>\n";
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  char row[512];
  for (std::uint32_t i = 0; page.size() < targetBytes; ++i) {
    // Address bytes taken from the row number keep every proxy unique.
    const unsigned a = 1 + (i >> 16) % 223, b = (i >> 8) & 0xFF, c = i & 0xFF, d = 1 + next() % 254;
    const int n = std::snprintf(row, sizeof row,
                                "<tr><td>%u.%u.%u.%u:%u</td><td>%s</td><td>%s</td><td>%s</"
                                "td><td>2024-%02u-%02u %02u:%02u:%02u</td></tr>\n",
                                a, b, c, d, kPorts[next() % 10], kTypes[next() % 4], kAnonymity[next() % 3],
                                kCountries[next() % 10], 1 + next() % 12, 1 + next() % 28, next() % 24,
                                next() % 60, next() % 60);
    page.append(row, static_cast<std::size_t>(n));
  }
  page += "</tbody>\n</table>\n</body>\n</html>\n";
  return page;
}

std::string ReadInput() {
  auto bytes = qb::ReadWholeFile(g_path);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s\n", g_path.c_str());
    std::exit(2);
  }
  return std::move(*bytes);
}

// The import command end to end, as the window runs it: read, extract and add the
// rows, then save Proxies.pro.
void BM_ImportFile(benchmark::State& state) {
  QTemporaryDir dataDir;
  const std::string dir = dataDir.path().toStdString() + "/";
  int found = 0;
  int rows = 0;
  for (auto _ : state) {
    auto data = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
    ImportResult imported = ImportProxyFile(data->List(), g_path, false);
    found = imported.found;
    if (found > 0 && !data->SaveList(imported.credentials)) state.SkipWithError("save failed");
    rows = data->List().RowCount();
    state.PauseTiming();
    data.reset();
    // Each import goes into an empty directory, as a user's first: a Proxies.pro left by
    // the round before would be one this list never read, which a save takes in first.
    std::remove((dir + "Proxies.pro").c_str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = found;
  state.counters["rows"] = rows;
}

// Adding the file's proxies as the import does (parts read and parsed on every
// processor), without the save of Proxies.pro; range(0) threads, 0 for one per processor.
void BM_ImportFileNoSave(benchmark::State& state) {
  FileImportOptions options;
  options.threads = static_cast<unsigned>(state.range(0));
  std::size_t found = 0;
  for (auto _ : state) {
    auto model = std::make_unique<CProxyListModel>();
    found = AddProxiesFromFile(*model, g_path, false, 1, options).value();
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = static_cast<double>(found);
}

// The plain way, for comparison: ExtractFile's lines handed one by one to AddProxyLine.
void BM_ImportLineByLine(benchmark::State& state) {
  std::size_t found = 0;
  for (auto _ : state) {
    auto model = std::make_unique<CProxyListModel>();
    {
      CProxyListModel::BulkAppend bulk(*model);
      found =
          ExtractFile(g_path, false, [&](std::string_view line) { model->AddProxyLine(line, 1); }).value();
    }
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = static_cast<double>(found);
}

// The same with the fuzzy setting on: the lines are gathered for the fuzzy pass only
// while at most 200 proxies were found, so this should cost next to nothing more.
void BM_ImportFileAmbiguous(benchmark::State& state) {
  std::size_t found = 0;
  for (auto _ : state) {
    auto model = std::make_unique<CProxyListModel>();
    found = AddProxiesFromFile(*model, g_path, true, 1).value();
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = static_cast<double>(found);
}

// The save of Proxies.pro after the import, alone.
void BM_SaveAfterImport(benchmark::State& state) {
  QTemporaryDir dataDir;
  const auto data = qb::DataDir::Open(dataDir.path().toStdString() + "/", qb::DataDir::Access::Read);
  CProxyListModel& model = data->List();
  AddProxiesFromFile(model, g_path, false, 1).value();
  for (auto _ : state) {
    if (!data->SaveList()) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["rows"] = model.RowCount();
}

// Reading and extracting only.
void BM_ReadAndExtract(benchmark::State& state) {
  std::size_t found = 0;
  for (auto _ : state) {
    std::size_t chars = 0;
    found = ExtractFile(g_path, false, [&](std::string_view line) { chars += line.size(); }).value();
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = static_cast<double>(found);
}

// Reading the whole file into one string (qb::ReadWholeFile), for comparison.
void BM_ReadOnly(benchmark::State& state) {
  for (auto _ : state) {
    const std::string bytes = ReadInput();
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
}

// Adding only: the lines the extraction found, added in one bulk append.
void BM_AddOnly(benchmark::State& state) {
  std::vector<std::string> lines;
  ExtractFileText(ReadInput(), false, [&](std::string_view line) { lines.emplace_back(line); });
  for (auto _ : state) {
    auto model = std::make_unique<CProxyListModel>();
    {
      CProxyListModel::BulkAppend bulk(*model);
      for (const std::string& l : lines) model->AddProxyLine(l, 1);
    }
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["lines"] = static_cast<double>(lines.size());
}

// A download: the whole page at once through the strict pass (the fuzzy pass is
// skipped because far more than 200 are found).
void BM_ExtractWholePage(benchmark::State& state) {
  const std::string page = ReadInput();
  std::size_t found = 0;
  for (auto _ : state) {
    found =
        ExtractWholeText(page, true, [](std::string_view line) { benchmark::DoNotOptimize(line.data()); });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes));
  state.counters["found"] = static_cast<double>(found);
}

BENCHMARK(BM_ImportFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportFileNoSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportLineByLine)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportFileAmbiguous)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAfterImport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadAndExtract)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AddOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExtractWholePage)->Unit(benchmark::kMillisecond)->UseRealTime();

// One import in this fresh process, as a user's first import after starting the
// program: the list's memory comes from the system, not from an earlier run's rows.
// Prints the milliseconds of the import, of the rows being added and of the save.
int ImportOnce(const std::string& dataDir) {
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
  };
  const auto data = qb::DataDir::Open(dataDir, qb::DataDir::Access::Read);
  CProxyListModel& model = data->List();
  const auto t0 = Clock::now();
  // As the window imports: the rows, then the list saved with their log-ons.
  const ImportResult imported = ImportProxyFile(model, g_path, false);
  const int found = imported.found;
  if (found > 0) (void)data->SaveList(imported.credentials);
  const auto t1 = Clock::now();
  if (found <= 0) {
    std::fprintf(stderr, "the import found nothing\n");
    return 2;
  }
  const auto t2 = Clock::now();
  (void)data->SaveList();  // the save again, alone, for the split below
  const auto t3 = Clock::now();
  std::printf("%.3f %.3f %d\n", ms(t0, t1), ms(t2, t3), model.RowCount());
  return 0;
}

bool TakeOption(std::string_view arg, std::string_view name, std::string& value) {
  if (arg.substr(0, name.size()) != name) return false;
  value = std::string(arg.substr(name.size()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string input, generate, sizeMb = "100", once;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (i > 0 && (TakeOption(a, "--input=", input) || TakeOption(a, "--generate=", generate) ||
                  TakeOption(a, "--size-mb=", sizeMb) || TakeOption(a, "--once-into=", once))) {
      continue;
    }
    rest.push_back(argv[i]);
  }
  const std::size_t target = static_cast<std::size_t>(std::stoul(sizeMb)) << 20;

  if (!generate.empty()) {
    if (!qb::WriteFileAtomically(generate, MakePage(target))) {
      std::fprintf(stderr, "cannot write %s\n", generate.c_str());
      return 2;
    }
    return 0;
  }

  QTemporaryDir tmp;
  if (input.empty()) {
    input = tmp.filePath("proxies.html").toStdString();
    if (!qb::WriteFileAtomically(input, MakePage(target))) {
      std::fprintf(stderr, "cannot write %s\n", input.c_str());
      return 2;
    }
  }
  g_path = input;

  if (!once.empty()) return ImportOnce(once);
  g_bytes = ReadInput().size();

  int restArgc = static_cast<int>(rest.size());
  benchmark::Initialize(&restArgc, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restArgc, rest.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
