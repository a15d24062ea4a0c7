// The pool under several threads: slots made on one thread and freed on another, and
// batches of freed slots passed between threads, never handed out twice at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/FixedPool.h"
#include "proxy/ProxyEntry.h"

using namespace qb;

namespace {

TEST(PoolThreads, SlotsMadeOnOneThreadAndFreedOnAnotherAreNeverSharedAtOnce) {
  static FixedPool pool(48);  // pools live as long as the program
  constexpr int kThreads = 4;
  constexpr int kRounds = 6;
  constexpr int kSlots = 3000;  // more than a batch, so batches change hands
  std::vector<std::vector<char*>> made(kThreads);
  std::mutex handMutex;
  std::vector<char*> handedOver;
  std::atomic<int> overwritten{0};

  auto worker = [&](int t) {
    for (int round = 0; round < kRounds; ++round) {
      std::vector<char*>& mine = made[t];
      for (int i = 0; i < kSlots; ++i) {
        char* p = static_cast<char*>(pool.Allocate());
        std::memset(p, t + 1, 48);
        mine.push_back(p);
      }
      for (char* p : mine) {
        for (int b = 0; b < 48; ++b) {
          if (p[b] != static_cast<char>(t + 1)) {
            overwritten.fetch_add(1);
            break;
          }
        }
      }
      // Half go back here, half to whichever thread takes them next.
      std::vector<char*> give(mine.begin() + kSlots / 2, mine.end());
      mine.resize(kSlots / 2);
      for (char* p : mine) pool.Free(p);
      mine.clear();
      std::vector<char*> take;
      {
        std::lock_guard lock(handMutex);
        take.swap(handedOver);
        handedOver = std::move(give);
      }
      for (char* p : take) pool.Free(p);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (std::thread& th : threads) th.join();
  for (char* p : handedOver) pool.Free(p);
  EXPECT_EQ(overwritten.load(), 0);

  // What the exited threads gave back is handed out again, each slot once.
  std::set<char*> again;
  std::vector<char*> all;
  for (int i = 0; i < kThreads * kSlots; ++i) {
    char* p = static_cast<char*>(pool.Allocate());
    all.push_back(p);
    again.insert(p);
  }
  EXPECT_EQ(again.size(), all.size());
  for (char* p : all) pool.Free(p);
}

TEST(PoolThreads, EntriesOfOneThreadAreDeletedOnAnother) {
  constexpr int kEntries = 20000;
  std::vector<std::unique_ptr<CProxyEntry>> entries(kEntries);
  std::thread maker([&] {
    for (int i = 0; i < kEntries; ++i) {
      entries[i] =
          std::make_unique<CProxyEntry>("10.0.0." + std::to_string(i % 256), std::to_string(i), "HTTP", "",
                                        "a remark long enough for the heap " + std::to_string(i));
    }
  });
  maker.join();
  std::thread deleter([&] {
    for (int i = 0; i < kEntries; i += 2) entries[i].reset();
  });
  deleter.join();
  for (int i = 1; i < kEntries; i += 2) {
    ASSERT_EQ(entries[i]->Port(), std::to_string(i));
    entries[i].reset();
  }
}

}  // namespace
