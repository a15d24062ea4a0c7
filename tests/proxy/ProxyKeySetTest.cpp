#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "proxy/ProxyEntry.h"
#include "proxy/ProxyKeySet.h"

using namespace qb;

namespace {

// Random inserts and removals, with many keys that differ only in case and long runs
// of neighbouring slots, checked against a plain map of upper-cased keys.
TEST(ProxyKeySet, AgreesWithAReferenceUnderInsertsAndRemovals) {
  std::mt19937 rng(7);
  std::vector<std::unique_ptr<CProxyEntry>> pool;
  std::map<std::string, const CProxyEntry*> reference;
  ProxyKeySet set;
  for (int step = 0; step < 60000; ++step) {
    const int n = static_cast<int>(rng() % 3000);
    auto e = std::make_unique<CProxyEntry>("h" + std::to_string(n) + (rng() % 2 ? "a" : "A"),
                                           std::to_string(n % 7), rng() % 2 ? "http" : "HTTP", "", "");
    const std::string key = ProxyKey(e->Addr(), e->Port(), e->Type());
    if (rng() % 3 == 0) {
      EXPECT_EQ(set.Remove(KeyOf(e.get())), reference.erase(key) == 1) << key;
    } else {
      EXPECT_EQ(set.Insert(KeyOf(e.get())), reference.emplace(key, e.get()).second) << key;
      pool.push_back(std::move(e));
    }
    ASSERT_EQ(set.size(), reference.size());
  }
  // Every key left is found, and finds the very entry that was inserted for it.
  for (const auto& [key, entry] : reference) EXPECT_EQ(set.Find(KeyOf(entry)), entry) << key;
  set.Clear();
  EXPECT_EQ(set.size(), 0u);
  EXPECT_EQ(set.Find(KeyOf(pool.front().get())), nullptr);
}

}  // namespace
