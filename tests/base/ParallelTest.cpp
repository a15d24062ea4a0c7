// Pieces made on several threads and used in order, and the atomic writer that the
// chunked save feeds piece by piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/Files.h"
#include "base/Parallel.h"
#include "support/TempDir.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

// A piece that counts how many pieces exist at once (moved-from shells excluded), to
// check the bound on pieces waiting for their turn.
std::atomic<int> g_livePieces{0};

class TrackedPiece {
 public:
  explicit TrackedPiece(std::size_t index) : m_index(index), m_owns(true) { ++g_livePieces; }
  TrackedPiece(TrackedPiece&& other) noexcept : m_index(other.m_index), m_owns(other.m_owns) {
    other.m_owns = false;
  }
  TrackedPiece& operator=(TrackedPiece&& other) noexcept {
    if (this != &other) {
      if (m_owns) --g_livePieces;
      m_index = other.m_index;
      m_owns = other.m_owns;
      other.m_owns = false;
    }
    return *this;
  }
  TrackedPiece(const TrackedPiece&) = delete;
  TrackedPiece& operator=(const TrackedPiece&) = delete;
  ~TrackedPiece() {
    if (m_owns) --g_livePieces;
  }
  std::size_t index() const { return m_index; }

 private:
  std::size_t m_index;
  bool m_owns;
};

// Uneven work, so that pieces finish out of order.
void Pause(std::size_t i) {
  if (i % 9 == 3) std::this_thread::sleep_for(std::chrono::microseconds(50));
  if (i % 5 == 1) std::this_thread::yield();
}

std::vector<std::size_t> Iota(std::size_t n) {
  std::vector<std::size_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

}  // namespace

TEST(Parallel, PiecesAreUsedInOrderOnTheCallingThreadAndMakersStayWithinAhead) {
  const std::thread::id caller = std::this_thread::get_id();
  constexpr std::size_t kCount = 100;
  for (unsigned threads : {1u, 2u, 3u, 5u, 8u}) {
    for (std::size_t ahead : {1u, 2u, 3u, 16u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(ahead) + " ahead");
      std::vector<std::atomic<int>> made(kCount);
      std::atomic<std::size_t> usedSoFar{0};
      std::atomic<int> beyondAhead{0};
      std::atomic<int> maxLive{0};
      std::mutex lock;
      std::set<std::thread::id> makerThreads;
      std::vector<std::size_t> order;
      bool useOnOtherThread = false;

      auto make = [&](std::size_t i) {
        made[i]++;
        // The piece i may only be started while fewer than `ahead` pieces before it
        // wait to be used, i.e. i < used + ahead.
        if (i >= usedSoFar.load() + ahead) beyondAhead++;
        {
          std::lock_guard guard(lock);
          makerThreads.insert(std::this_thread::get_id());
        }
        TrackedPiece piece(i);
        int live = g_livePieces.load();
        for (int m = maxLive.load(); live > m && !maxLive.compare_exchange_weak(m, live);) {
        }
        Pause(i);
        return piece;
      };
      auto use = [&](std::size_t i, TrackedPiece& piece) {
        if (std::this_thread::get_id() != caller) useOnOtherThread = true;
        EXPECT_EQ(piece.index(), i);
        order.push_back(i);
        // A slow user now and then, so that the makers run into the bound.
        Pause(i + 2);
        usedSoFar.store(i + 1);
        return true;
      };
      EXPECT_TRUE(qb::RunInOrder<TrackedPiece>(kCount, threads, ahead, make, use));

      EXPECT_EQ(order, Iota(kCount));
      EXPECT_FALSE(useOnOtherThread);
      for (std::size_t i = 0; i < kCount; ++i) EXPECT_EQ(made[i].load(), 1) << "piece " << i;
      EXPECT_EQ(beyondAhead.load(), 0);
      EXPECT_EQ(g_livePieces.load(), 0);
      if (threads == 1) {
        // Everything on the calling thread, one piece at a time.
        EXPECT_EQ(makerThreads, std::set<std::thread::id>{caller});
        EXPECT_EQ(maxLive.load(), 1);
      } else {
        EXPECT_LE(makerThreads.size(), threads);
        EXPECT_LE(maxLive.load(), static_cast<int>(ahead));
      }
    }
  }
}

TEST(Parallel, UseReturningFalseStopsAndNothingAfterItIsUsed) {
  constexpr std::size_t kCount = 60;
  for (unsigned threads : {1u, 2u, 4u}) {
    for (std::size_t ahead : {1u, 3u, 8u}) {
      for (std::size_t stopAt : {std::size_t{0}, std::size_t{7}, kCount - 1}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(ahead) + " ahead, stop at " +
                     std::to_string(stopAt));
        std::atomic<std::size_t> madeCount{0};
        std::vector<std::size_t> used;
        auto make = [&](std::size_t i) {
          madeCount++;
          Pause(i);
          return TrackedPiece(i);
        };
        auto use = [&](std::size_t i, TrackedPiece&) {
          used.push_back(i);
          return i != stopAt;
        };
        EXPECT_FALSE(qb::RunInOrder<TrackedPiece>(kCount, threads, ahead, make, use));
        EXPECT_EQ(used, Iota(stopAt + 1));
        // Pieces made but never used are dropped, and none is made far past the stop.
        EXPECT_EQ(g_livePieces.load(), 0);
        if (threads == 1) {
          EXPECT_EQ(madeCount.load(), stopAt + 1);
        } else {
          EXPECT_LE(madeCount.load(), std::min(kCount, stopAt + 1 + ahead));
        }
      }
    }
  }
}

TEST(Parallel, NoPiecesAndMoveOnlyPieces) {
  for (unsigned threads : {1u, 3u}) {
    bool called = false;
    EXPECT_TRUE(qb::RunInOrder<int>(
        0, threads, 2,
        [&](std::size_t) {
          called = true;
          return 0;
        },
        [&](std::size_t, int&) {
          called = true;
          return true;
        }));
    EXPECT_FALSE(called);

    // A piece that can only be moved, and that has no default value: use takes its
    // contents away.
    struct Owned {
      explicit Owned(std::size_t v) : value(std::make_unique<std::size_t>(v)) {}
      std::unique_ptr<std::size_t> value;
    };
    std::vector<std::size_t> seen;
    EXPECT_TRUE(qb::RunInOrder<Owned>(
        50, threads, 4, [](std::size_t i) { return Owned(i * 3); },
        [&](std::size_t i, Owned& piece) {
          std::unique_ptr<std::size_t> taken = std::move(piece.value);
          EXPECT_TRUE(taken);
          if (taken) {
            EXPECT_EQ(*taken, i * 3);
          }
          seen.push_back(i);
          return true;
        }));
    EXPECT_EQ(seen, Iota(50));
  }
}

TEST(Parallel, ThreadsForNeverExceedsThePieces) {
  EXPECT_EQ(qb::ThreadsFor(0, 4), 1u);
  EXPECT_EQ(qb::ThreadsFor(1, 4), 1u);
  EXPECT_EQ(qb::ThreadsFor(3, 4), 3u);
  EXPECT_EQ(qb::ThreadsFor(100, 4), 4u);
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(qb::ThreadsFor(1000), std::min(1000u, processors));
  EXPECT_EQ(qb::ThreadsFor(1000, 0), std::min(1000u, processors));
  EXPECT_EQ(qb::ThreadsFor(1, 0), 1u);
}

namespace {

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(AtomicFileWriter, PiecesCommittedReplaceTheFileWithTheirConcatenation) {
  TempDir dir;
  const std::string path = dir.File("list.pro");
  WriteFile(path, "old\r\n");
  // Pieces of all sizes, an empty one, zero bytes, and more than any write buffer.
  std::vector<std::string> pieces = {"first\r\n", "", std::string("zero\0byte", 9), std::string(3 << 20, 'b'),
                                     "中文\r\n",  "x"};
  std::string expected;
  {
    qb::AtomicFileWriter writer(path);
    for (const std::string& piece : pieces) {
      EXPECT_TRUE(writer.Write(piece));
      expected += piece;
      // Nothing shows at the path before the commit.
      EXPECT_EQ(ReadFile(path), "old\r\n");
    }
    EXPECT_TRUE(writer.Commit());
  }
  EXPECT_TRUE(ReadFile(path) == expected);
  EXPECT_EQ(ReadFile(path).size(), expected.size());
  EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"list.pro"});

  // A writer with nothing written makes an empty file.
  {
    qb::AtomicFileWriter writer(path);
    EXPECT_TRUE(writer.Commit());
  }
  EXPECT_EQ(ReadFile(path), "");
}

TEST(AtomicFileWriter, WithoutCommitTheOldFileStaysAndNoTemporaryIsLeft) {
  TempDir dir;
  const std::string path = dir.File("list.pro");
  WriteFile(path, "old\r\n");
  {
    qb::AtomicFileWriter writer(path);
    EXPECT_TRUE(writer.Write("new content\r\n"));
    EXPECT_TRUE(writer.Write(std::string(2 << 20, 'n')));
  }
  EXPECT_EQ(ReadFile(path), "old\r\n");
  EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"list.pro"});

  // No old file: none appears.
  const std::string fresh = dir.File("fresh.pro");
  {
    qb::AtomicFileWriter writer(fresh);
    EXPECT_TRUE(writer.Write("never\r\n"));
  }
  EXPECT_EQ(ReadFile(fresh), "<missing>");
  EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"list.pro"});
}

TEST(AtomicFileWriter, PathInAMissingDirectoryFails) {
  TempDir dir;
  const std::string path = dir.File("no/such/dir/list.pro");
  qb::AtomicFileWriter writer(path);
  EXPECT_FALSE(writer.Write("a"));
  EXPECT_FALSE(writer.Write(""));
  EXPECT_FALSE(writer.Commit());
  EXPECT_EQ(ReadFile(path), "<missing>");
  EXPECT_TRUE(DirectoryEntries(dir.Path()).empty());
  EXPECT_FALSE(qb::WriteFileAtomically(path, "a"));
}

TEST(AtomicFileWriter, CommitOverADirectoryFailsAndLeavesIt) {
  TempDir dir;
  const std::string path = dir.File("list.pro");
  ASSERT_TRUE(std::filesystem::create_directory(path));
  WriteFile(path + "/inside", "kept");
  {
    qb::AtomicFileWriter writer(path);
    writer.Write("content");
    EXPECT_FALSE(writer.Commit());
  }
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(ReadFile(path + "/inside"), "kept");
  EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"list.pro"});
}
