// The parallel import and save of lists: pieces made on several threads and used in
// order on the calling one. Each parallel path must give exactly what the plain path
// gives, with every thread's work handed over through the pipeline's own lock.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/Files.h"
#include "base/Parallel.h"
#include "proxy/FileImport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

using namespace qb;

namespace {

std::vector<std::string> Rows(const CProxyListModel& list) {
  std::vector<std::string> rows;
  for (int r = 0; r < list.RowCount(); ++r) {
    std::string row;
    for (int c = 0; c < CProxyListModel::ColumnCount; ++c) row.append(list.CellText(r, c)).push_back('\t');
    rows.push_back(std::move(row));
  }
  return rows;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// A foreign file of many parts: proxies in every form the extractor knows, repeats
// (so that the key set drops some in whatever part they land), mixed line ends, and
// lines that are no proxies at all.
std::string MixedFile(int lines, unsigned seed) {
  std::mt19937 rng(seed);
  const char* types[] = {"HTTP", "https", "SOCKS5", "socks4", "FTP", ""};
  const char* ends[] = {"\n", "\r\n", "\r"};
  std::string text;
  for (int i = 0; i < lines; ++i) {
    const unsigned n = rng() % 5000;  // repeats across the whole file
    char addr[32];
    std::snprintf(addr, sizeof addr, "10.%u.%u.%u", n / 250 % 250, n % 250, static_cast<unsigned>(rng() % 3));
    switch (rng() % 4) {
      case 0:
        text += std::string(addr) + ":" + std::to_string(1 + n % 65000) + "@" + types[rng() % 6];
        break;
      case 1:
        text += std::string(addr) + ":" + std::to_string(80 + n % 7) + "@HTTP$0." + std::to_string(n % 10) +
                "#备注 " + std::to_string(i);
        break;
      case 2:
        text += "<td>" + std::string(addr) + "</td><td>" + std::to_string(3128 + n % 3) + "</td>";
        break;
      default:
        text += "no proxy on this line " + std::to_string(i);
        break;
    }
    text += ends[rng() % 3];
  }
  return text;
}

TEST(PipelineThreads, PiecesAreUsedInOrderAndAStopEndsEveryMaker) {
  for (unsigned threads : {2u, 3u, 4u}) {
    std::vector<std::size_t> used;
    std::atomic<int> made{0};
    const bool completed = RunInOrder<std::vector<int>>(
        200, threads, 3,
        [&](std::size_t i) {
          made.fetch_add(1);
          return std::vector<int>(i % 17 + 1, static_cast<int>(i));
        },
        [&](std::size_t i, std::vector<int>& piece) {
          EXPECT_EQ(piece.size(), i % 17 + 1);
          EXPECT_EQ(piece.front(), static_cast<int>(i));
          used.push_back(i);
          return true;
        });
    EXPECT_TRUE(completed);
    ASSERT_EQ(used.size(), 200u);
    for (std::size_t i = 0; i < used.size(); ++i) EXPECT_EQ(used[i], i);
    EXPECT_EQ(made.load(), 200);

    std::size_t usedBeforeStop = 0;
    made = 0;
    const bool stopped = RunInOrder<int>(
        1000, threads, 2, [&](std::size_t i) { return made.fetch_add(1), static_cast<int>(i); },
        [&](std::size_t i, int& piece) {
          EXPECT_EQ(piece, static_cast<int>(i));
          ++usedBeforeStop;
          return i < 10;
        });
    EXPECT_FALSE(stopped);
    EXPECT_EQ(usedBeforeStop, 11u);
    // The makers stay at most `ahead` pieces in front, so a stop leaves most unmade.
    EXPECT_LE(made.load(), 11 + 2 + static_cast<int>(threads));
  }
}

TEST(PipelineThreads, ParallelImportGivesThePlainImportsRows) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("mixed.txt").toStdString();
  WriteBytes(path, MixedFile(30000, 7));

  for (bool ambiguous : {false, true}) {
    CProxyListModel plain;
    std::size_t plainFound = 0;
    {
      CProxyListModel::BulkAppend bulk(plain);
      const auto found = ExtractFile(path, ambiguous, [&](std::string_view l) { plain.AddProxyLine(l, 1); });
      ASSERT_TRUE(found.has_value());
      plainFound = *found;
    }
    ASSERT_GT(plain.RowCount(), 1000);

    for (unsigned threads : {2u, 4u}) {
      CProxyListModel parallel;
      FileImportOptions options;
      options.partBytes = 8192;  // many parts, so that the threads meet often
      options.threads = threads;
      const auto found = AddProxiesFromFile(parallel, path, ambiguous, 1, options);
      ASSERT_TRUE(found.has_value());
      EXPECT_EQ(*found, plainFound) << threads << " threads, ambiguous " << ambiguous;
      EXPECT_EQ(Rows(parallel), Rows(plain)) << threads << " threads, ambiguous " << ambiguous;
      EXPECT_EQ(parallel.SelectedRows(), plain.SelectedRows());
      EXPECT_TRUE(parallel.KeysMatchRows());
    }
  }
}

TEST(PipelineThreads, ParallelSaveLoadsBackOnSeveralThreadsToTheSameRows) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string dataDir = dir.path().toStdString();

  // Enough rows for the save to format its chunks on several threads.
  CProxyListModel list;
  {
    CProxyListModel::BulkAppend bulk(list);
    for (int i = 0; i < 70000; ++i) {
      ProxyFields f;
      f.addr = "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
               std::to_string(i % 256);
      f.port = std::to_string(1 + i % 65535);
      f.type = kProxyTypes[i % 6];
      f.timeStatus = i % 3 == 0 ? kStatusUnverified : std::to_string(i % 50) + ".5";
      f.remark = i % 5 == 0 ? "中国 北京 " + std::to_string(i) : "";
      ASSERT_EQ(list.AddParsedProxy(std::move(f), 0), 1) << i;
    }
  }
  {
    AtomicFileWriter file(dataDir + "/Proxies.pro");
    ASSERT_TRUE(WriteListFile(list, [&](std::string_view text) { return file.Write(text); }));
    ASSERT_TRUE(file.Commit());
  }

  CProxyListModel serial;
  FileImportOptions one;
  one.threads = 1;
  const auto serialRows = AddRowsFromListFile(serial, dataDir + "/Proxies.pro", one);
  ASSERT_TRUE(serialRows.has_value());
  EXPECT_EQ(*serialRows, 70000u);
  EXPECT_EQ(Rows(serial), Rows(list));

  CProxyListModel parallel;
  FileImportOptions many;
  many.threads = 4;
  many.partBytes = 64 * 1024;
  const auto parallelRows = AddRowsFromListFile(parallel, dataDir + "/Proxies.pro", many);
  ASSERT_TRUE(parallelRows.has_value());
  EXPECT_EQ(*parallelRows, 70000u);
  EXPECT_EQ(Rows(parallel), Rows(list));
  EXPECT_TRUE(parallel.KeysMatchRows());

  // Rows removed on the calling thread go back to the pool, and the next parallel
  // load makes its rows from it on other threads.
  std::vector<int> odd;
  for (int r = 1; r < parallel.RowCount(); r += 2) odd.push_back(r);
  parallel.RemoveRows(odd);
  EXPECT_EQ(parallel.RowCount(), 35000);
  EXPECT_TRUE(parallel.KeysMatchRows());
  CProxyListModel again;
  ASSERT_TRUE(AddRowsFromListFile(again, dataDir + "/Proxies.pro", many).has_value());
  EXPECT_EQ(Rows(again), Rows(list));
}

}  // namespace
