// Work cut into numbered pieces that are made on several threads and used strictly in
// their order on the calling thread (the parts of an imported file added to the list,
// the chunks of a saved list written to the file).
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qb {

// Threads to use for work of `pieces` pieces: `wanted`, or when it is 0 one per
// processor up to `limit`; never more than there are pieces.
inline unsigned ThreadsFor(std::size_t pieces, unsigned wanted = 0, unsigned limit = ~0u) {
  const unsigned threads =
      wanted != 0 ? wanted : std::clamp(std::thread::hardware_concurrency(), 1u, std::max(limit, 1u));
  return static_cast<unsigned>(std::clamp<std::size_t>(pieces, 1, threads));
}

// Makes piece i with make(i) on `threads` threads and hands each to use(i, piece) on
// the calling thread in the order 0, 1, 2, ...; use returns false to stop (pieces not
// yet used are then dropped). The makers stay at most `ahead` pieces in front of the
// user, which bounds the memory of pieces waiting their turn. With one thread
// everything happens on the calling thread. Returns false when use stopped it.
//
// make runs concurrently with itself and with use, so it may only read what use does
// not change.
template <class Piece, class Make, class Use>
bool RunInOrder(std::size_t count, unsigned threads, std::size_t ahead, Make make, Use use) {
  if (threads <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      Piece piece = make(i);
      if (!use(i, piece)) return false;
    }
    return true;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::optional<Piece>> ready(count);
  std::size_t next = 0;  // the next piece a maker takes
  std::size_t used = 0;  // pieces before this one have been used
  bool stop = false;
  ahead = std::max<std::size_t>(ahead, 1);

  auto maker = [&] {
    for (;;) {
      std::size_t i;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next >= count || next < used + ahead; });
        if (stop || next >= count) return;
        i = next++;
      }
      Piece piece = make(i);
      {
        std::lock_guard lock(mutex);
        ready[i].emplace(std::move(piece));
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> makers;
  makers.reserve(threads);
  for (unsigned t = 0; t < threads; ++t) makers.emplace_back(maker);

  bool completed = true;
  for (std::size_t i = 0; i < count; ++i) {
    std::optional<Piece> piece;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return ready[i].has_value(); });
      piece.swap(ready[i]);
    }
    const bool go_on = use(i, *piece);
    piece.reset();  // its memory is free again before the makers move on
    {
      std::lock_guard lock(mutex);
      used = i + 1;
      if (!go_on) stop = true;
    }
    changed.notify_all();
    if (!go_on) {
      completed = false;
      break;
    }
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  changed.notify_all();
  for (std::thread& t : makers) t.join();
  return completed;
}

}  // namespace qb
