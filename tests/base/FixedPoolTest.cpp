#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "base/FixedPool.h"
#include "proxy/ProxyEntry.h"

#if defined(__SANITIZE_ADDRESS__)
#define QB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_TEST_ASAN 1
#endif
#endif

using namespace qb;

namespace {

// Every slot handed out is a distinct, aligned, writable block; a freed slot comes
// back only after it was freed, and never twice at once.
TEST(FixedPool, SlotsNeverOverlapAndFreedSlotsAreReused) {
  qb::FixedPool pool(40);
  EXPECT_EQ(pool.SlotSize(), 48u);
  constexpr int kSlots = 50000;  // more than one run holds
  std::vector<char*> live;
  for (int i = 0; i < kSlots; ++i) {
    char* p = static_cast<char*>(pool.Allocate());
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    std::memset(p, i & 0xFF, 40);
    live.push_back(p);
  }
  std::vector<char*> sorted = live;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 1; i < sorted.size(); ++i) ASSERT_GE(sorted[i] - sorted[i - 1], 48) << i;
  for (int i = 0; i < kSlots; ++i) ASSERT_EQ(live[i][39], static_cast<char>(i & 0xFF)) << "slot overwritten";

  const std::set<char*> before(live.begin(), live.end());
  for (char* p : live) pool.Free(p);
  std::set<char*> again;
  for (int i = 0; i < kSlots; ++i) again.insert(static_cast<char*>(pool.Allocate()));
  EXPECT_EQ(again.size(), static_cast<std::size_t>(kSlots));
  // The freed memory serves again: at most the rest of the thread's current run of
  // one megabyte is new.
  std::size_t fresh = 0;
  for (char* p : again) fresh += before.count(p) == 0 ? 1 : 0;
  EXPECT_LE(fresh, (std::size_t{1} << 20) / 48);
  for (char* p : again) pool.Free(p);
}

// Objects made on some threads and destroyed on others (an import's workers make the
// rows, the window's thread deletes them), with threads ending in between: no slot is
// ever held by two objects at once.
TEST(FixedPool, MadeAndFreedOnDifferentThreads) {
  qb::FixedPool pool(64);
  constexpr int kRounds = 6, kPerThread = 30000, kThreads = 3;
  std::set<void*> everSeen;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::vector<std::uint64_t*>> made(kThreads);
    std::vector<std::thread> makers;
    for (int t = 0; t < kThreads; ++t) {
      makers.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) {
          auto* p = static_cast<std::uint64_t*>(pool.Allocate());
          p[0] = static_cast<std::uint64_t>(t) << 32 | static_cast<std::uint64_t>(i);
          p[7] = ~p[0];
          made[t].push_back(p);
        }
      });
    }
    for (auto& m : makers) m.join();
    std::set<std::uint64_t*> all;
    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < kPerThread; ++i) {
        std::uint64_t* p = made[t][i];
        ASSERT_EQ(p[0], static_cast<std::uint64_t>(t) << 32 | static_cast<std::uint64_t>(i));
        ASSERT_EQ(p[7], ~p[0]);
        ASSERT_TRUE(all.insert(p).second) << "one slot handed out twice";
      }
    }
    everSeen.insert(all.begin(), all.end());
    // Half freed here, half by a thread that then ends.
    std::thread freer([&] {
      for (int t = 0; t < kThreads; t += 2) {
        for (auto* p : made[t]) pool.Free(p);
      }
    });
    for (int t = 1; t < kThreads; t += 2) {
      for (auto* p : made[t]) pool.Free(p);
    }
    freer.join();
  }
  // Rounds reuse what earlier rounds freed: far fewer distinct slots than objects made.
  EXPECT_LT(everSeen.size(), static_cast<std::size_t>(kRounds * kPerThread * kThreads) / 2);
}

TEST(FixedPool, ProxyEntriesComeFromThePoolAndLiveLikeAnyObject) {
  std::vector<std::unique_ptr<CProxyEntry>> entries;
  for (int i = 0; i < 5000; ++i) {
    entries.push_back(std::make_unique<CProxyEntry>("10.0.0." + std::to_string(i % 250), std::to_string(i),
                                                    "HTTP", "未验证", std::string(100, 'r')));
  }
  for (int i = 0; i < 5000; ++i) {
    EXPECT_EQ(entries[i]->Port(), std::to_string(i));
    EXPECT_EQ(entries[i]->Remark().size(), 100u);
  }
  entries.clear();
}

#ifdef QB_TEST_ASAN

// Under AddressSanitizer the pool poisons what is not in a caller's hands, so a row
// read after it was deleted, or a read past a slot into memory not yet handed out,
// is reported instead of returning stale bytes.
int ReadByte(const void* p) {
  return *static_cast<const volatile char*>(p);
}

TEST(FixedPoolDeathTest, ReadingADeletedRowIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A short remark lives inside the entry, so its bytes are the slot's own.
  auto* entry = new CProxyEntry("10.9.8.7", "8080", "HTTP", "未验证", "r");
  const char* stale = entry->Remark().data();
  EXPECT_EQ(ReadByte(stale), 'r');
  delete entry;
  EXPECT_DEATH(ReadByte(stale), "use-after-poison");
}

TEST(FixedPoolDeathTest, ReadingAFreedSlotOrUnusedPoolMemoryIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static FixedPool pool(64);
  char* slot = static_cast<char*>(pool.Allocate());
  slot[63] = 1;
  EXPECT_EQ(ReadByte(slot + 63), 1);
  // The slot after it has not been handed out.
  EXPECT_DEATH(ReadByte(slot + pool.SlotSize()), "use-after-poison");
  pool.Free(slot);
  EXPECT_DEATH(ReadByte(slot + 40), "use-after-poison");
  // Handed out again, it may be used again.
  char* again = static_cast<char*>(pool.Allocate());
  EXPECT_EQ(again, slot);
  again[40] = 2;
  EXPECT_EQ(ReadByte(again + 40), 2);
  pool.Free(again);
}

#endif  // QB_TEST_ASAN

}  // namespace
