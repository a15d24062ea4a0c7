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

// Asks the system to back the whole huge pages within [data, data + bytes) by huge
// pages, for a vector of millions of rows about to be filled: each 4 KiB page would
// be a fault of its own. A hint: nothing changes where the system does not take it.
void AskHugePages(void* data, std::size_t bytes);

// Pages of their own, taken from the system zeroed. A table or store of millions of
// rows touches its pages one by one: in 4 KiB pages that is one fault per page (the
// larger part of filling it on a virtual machine), so the pages are asked to be huge
// where the system allows, and a fresh block is never cleared by hand.
class ZeroedPages {
 public:
  ZeroedPages() = default;
  // Throws std::bad_alloc when the system has no room.
  explicit ZeroedPages(std::size_t bytes);
  ~ZeroedPages();
  ZeroedPages(ZeroedPages&& other) noexcept;
  ZeroedPages& operator=(ZeroedPages&& other) noexcept;
  ZeroedPages(const ZeroedPages&) = delete;
  ZeroedPages& operator=(const ZeroedPages&) = delete;

  void* data() const { return m_data; }
  std::size_t bytes() const { return m_bytes; }

 private:
  void* m_data = nullptr;
  std::size_t m_bytes = 0;
};

}  // namespace qb
