// The table of sessions and targets bound to upstreams: leases renewed by use and
// forgotten after, and a bound size whatever keys clients invent.
#include <gtest/gtest.h>

#include <string>

#include "endpoint/StickyTable.h"

namespace {

using qb::StickyTable;
using Clock = StickyTable::Clock;
using std::chrono::seconds;

TEST(StickyTable, UseRenewsTheLeaseAndAnUnusedKeyIsForgotten) {
  const Clock::time_point t0{};
  StickyTable table(seconds(60));
  table.Bind(StickyTable::SessionKey("a"), {"127.0.0.1:1080@SOCKS5", "10.0.0.1"}, t0);
  table.Bind(StickyTable::TargetKey("a"), {"127.0.0.1:3128@HTTP", ""}, t0);
  // A session and a target of the same text are two keys.
  ASSERT_NE(table.Find(StickyTable::SessionKey("a"), t0 + seconds(50)), nullptr);
  EXPECT_EQ(table.Find(StickyTable::SessionKey("a"), t0 + seconds(50))->line, "127.0.0.1:1080@SOCKS5");
  EXPECT_EQ(table.Find(StickyTable::TargetKey("a"), t0 + seconds(59))->line, "127.0.0.1:3128@HTTP");
  // Renewed at 50 s, the session lives to 110 s; the target, renewed at 59 s, to 119 s.
  EXPECT_NE(table.Find(StickyTable::SessionKey("a"), t0 + seconds(109)), nullptr);
  table.Expire(t0 + seconds(170));
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(table.Find(StickyTable::SessionKey("a"), t0 + seconds(170)), nullptr);

  // Found past its lease without an Expire in between: gone all the same.
  table.Bind("k", {"x", ""}, t0);
  EXPECT_EQ(table.Find("k", t0 + seconds(60)), nullptr);
  EXPECT_EQ(table.Size(), 0u);
}

TEST(StickyTable, BindingAgainMovesTheKeyAndRestartsItsLease) {
  const Clock::time_point t0{};
  StickyTable table(seconds(10));
  table.Bind("k", {"one", "10.0.0.1"}, t0);
  table.Bind("k", {"two", "10.0.0.1"}, t0 + seconds(8));
  const StickyTable::Binding* b = table.Find("k", t0 + seconds(17));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->line, "two");
  EXPECT_EQ(table.Size(), 1u);
}

TEST(StickyTable, FullTableGivesUpTheLeastRecentlyUsedKey) {
  const Clock::time_point t0{};
  StickyTable table(seconds(600), 3);
  for (int i = 0; i < 3; ++i)
    table.Bind("k" + std::to_string(i), {"u" + std::to_string(i), ""}, t0 + seconds(i));
  // k0 is used again, so k1 is now the one used longest ago.
  ASSERT_NE(table.Find("k0", t0 + seconds(5)), nullptr);
  table.Bind("k3", {"u3", ""}, t0 + seconds(6));
  EXPECT_EQ(table.Size(), 3u);
  EXPECT_EQ(table.Find("k1", t0 + seconds(7)), nullptr);
  for (const char* kept : {"k0", "k2", "k3"}) EXPECT_NE(table.Find(kept, t0 + seconds(7)), nullptr) << kept;

  // A client inventing keys by the thousand cannot make it grow.
  for (int i = 0; i < 5000; ++i) table.Bind("flood" + std::to_string(i), {"u", ""}, t0 + seconds(8));
  EXPECT_EQ(table.Size(), 3u);
  // And Expire stops at the first key whose lease runs on.
  table.Expire(t0 + seconds(100));
  EXPECT_EQ(table.Size(), 3u);
}

}  // namespace
