// Memory for many small objects of one size, made and destroyed on any threads.
//
// An import makes a million rows on several threads at once. Through the general
// allocator each of them pays for its bookkeeping, a header, and the allocator's
// locks and heap growth shared between the threads; here a thread takes its slots
// from a run of its own and gives freed ones back in batches, so that the threads
// meet only once per few thousand objects.
//
// Freed slots are kept for reuse and never returned to the system.
#pragma once

#include <cstddef>

namespace qb {

class FixedPool {
 public:
  // slotSize: the size of every object, rounded up to a multiple of 16.
  explicit FixedPool(std::size_t slotSize);
  FixedPool(const FixedPool&) = delete;
  FixedPool& operator=(const FixedPool&) = delete;

  void* Allocate();
  void Free(void* p) noexcept;

  std::size_t SlotSize() const { return m_slotSize; }

  // Per-thread state, public only so that the implementation can name it.
  struct ThreadCache;

 private:
  struct Shared;
  ThreadCache& Cache();
  void Refill(ThreadCache& cache);

  const std::size_t m_slotSize;
  Shared* const m_shared;  // never destroyed: threads may give slots back at any exit
};

}  // namespace qb
