#include "base/FixedPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

// The pool hands out slots of memory it took from the system in one piece, so
// AddressSanitizer would take a freed row for live memory. Under it, every byte that
// is not in a caller's hands (a freed slot, the rest of a run, a region not yet handed
// out) is poisoned, and a read or write of a freed row is reported.
#if defined(__SANITIZE_ADDRESS__)
#define QB_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_POOL_POISON 1
#endif
#endif

#ifdef QB_POOL_POISON
#include <sanitizer/asan_interface.h>
#define QB_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define QB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define QB_POISON(p, n) ((void)(p), (void)(n))
#define QB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qb {

namespace {

// Address space is taken from the system in regions, handed to threads in runs.
constexpr std::size_t kRegionBytes = std::size_t{64} << 20;
constexpr std::size_t kRunBytes = std::size_t{1} << 20;
// A thread gives its freed slots back once it holds this many.
constexpr std::size_t kBatchSlots = 1024;
// Pools are few (one per kind of object) and live as long as the program, so every
// thread has a cache for each.
constexpr int kMaxPools = 16;

struct FreeSlot {
  FreeSlot* next;       // within a batch
  FreeSlot* nextBatch;  // between batches, in the head slot only
};

std::atomic<int> g_nextPoolId{0};

// The links of the free lists live in the freed slots themselves, which stay poisoned
// in between; only the pool's own accesses lift the poison, for the one link.
FreeSlot* NextOf(FreeSlot* slot) {
  QB_UNPOISON(&slot->next, sizeof slot->next);
  FreeSlot* next = slot->next;
  QB_POISON(&slot->next, sizeof slot->next);
  return next;
}

void SetNext(FreeSlot* slot, FreeSlot* next) {
  QB_UNPOISON(&slot->next, sizeof slot->next);
  slot->next = next;
  QB_POISON(&slot->next, sizeof slot->next);
}

FreeSlot* NextBatchOf(FreeSlot* slot) {
  QB_UNPOISON(&slot->nextBatch, sizeof slot->nextBatch);
  FreeSlot* next = slot->nextBatch;
  QB_POISON(&slot->nextBatch, sizeof slot->nextBatch);
  return next;
}

void SetNextBatch(FreeSlot* slot, FreeSlot* next) {
  QB_UNPOISON(&slot->nextBatch, sizeof slot->nextBatch);
  slot->nextBatch = next;
  QB_POISON(&slot->nextBatch, sizeof slot->nextBatch);
}

}  // namespace

struct FixedPool::Shared {
  int id;
  std::mutex mutex;
  FreeSlot* batches = nullptr;
  std::vector<std::pair<char*, char*>> runs;  // parts of runs that threads left behind
  char* regionNext = nullptr;
  char* regionEnd = nullptr;
};

struct FixedPool::ThreadCache {
  Shared* shared = nullptr;
  FreeSlot* free = nullptr;
  std::size_t freed = 0;  // slots freed into `free` since it was last given back
  char* next = nullptr;
  char* end = nullptr;

  ~ThreadCache() {
    if (!shared) return;
    std::lock_guard lock(shared->mutex);
    if (free) {
      SetNextBatch(free, shared->batches);
      shared->batches = free;
    }
    if (next != end) shared->runs.emplace_back(next, end);
  }
};

namespace {
thread_local FixedPool::ThreadCache t_caches[kMaxPools];
}  // namespace

FixedPool::FixedPool(std::size_t slotSize)
    : m_slotSize(std::max<std::size_t>((slotSize + 15) / 16 * 16, sizeof(FreeSlot))), m_shared(new Shared) {
  m_shared->id = g_nextPoolId.fetch_add(1);
  if (m_shared->id >= kMaxPools) std::abort();
}

FixedPool::ThreadCache& FixedPool::Cache() {
  ThreadCache& cache = t_caches[m_shared->id];
  cache.shared = m_shared;
  return cache;
}

void FixedPool::Refill(ThreadCache& cache) {
  std::lock_guard lock(m_shared->mutex);
  if (m_shared->batches) {
    cache.free = m_shared->batches;
    m_shared->batches = NextBatchOf(cache.free);
    return;
  }
  if (!m_shared->runs.empty()) {
    std::tie(cache.next, cache.end) = m_shared->runs.back();
    m_shared->runs.pop_back();
    if (static_cast<std::size_t>(cache.end - cache.next) >= m_slotSize) return;
  }
  if (static_cast<std::size_t>(m_shared->regionEnd - m_shared->regionNext) < kRunBytes) {
    void* region = ::mmap(nullptr, kRegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) throw std::bad_alloc();
    QB_POISON(region, kRegionBytes);
    m_shared->regionNext = static_cast<char*>(region);
    m_shared->regionEnd = m_shared->regionNext + kRegionBytes;
  }
  cache.next = m_shared->regionNext;
  cache.end = cache.next + kRunBytes / m_slotSize * m_slotSize;
  m_shared->regionNext += kRunBytes;
}

void* FixedPool::Allocate() {
  ThreadCache& cache = Cache();
  for (;;) {
    if (FreeSlot* slot = cache.free) {
      cache.free = NextOf(slot);
      if (cache.freed > 0) --cache.freed;
      QB_UNPOISON(slot, m_slotSize);
      return slot;
    }
    if (static_cast<std::size_t>(cache.end - cache.next) >= m_slotSize) {
      void* slot = cache.next;
      cache.next += m_slotSize;
      QB_UNPOISON(slot, m_slotSize);
      return slot;
    }
    Refill(cache);
  }
}

void FixedPool::Free(void* p) noexcept {
  if (!p) return;
  ThreadCache& cache = Cache();
  auto* slot = static_cast<FreeSlot*>(p);
  QB_POISON(slot, m_slotSize);
  SetNext(slot, cache.free);
  cache.free = slot;
  if (++cache.freed < kBatchSlots) return;
  // A thread that only frees (the one that empties a list) hands its slots on to the
  // threads that make new objects.
  std::lock_guard lock(m_shared->mutex);
  SetNextBatch(cache.free, m_shared->batches);
  m_shared->batches = cache.free;
  cache.free = nullptr;
  cache.freed = 0;
}

void AskHugePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t from = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t to = (begin + bytes) & ~(kHuge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

ZeroedPages::ZeroedPages(std::size_t bytes) : m_bytes(bytes) {
  if (bytes == 0) return;
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
  m_data = p;
}

ZeroedPages::~ZeroedPages() {
  if (m_data) ::munmap(m_data, m_bytes);
}

ZeroedPages::ZeroedPages(ZeroedPages&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

ZeroedPages& ZeroedPages::operator=(ZeroedPages&& other) noexcept {
  std::swap(m_data, other.m_data);
  std::swap(m_bytes, other.m_bytes);
  return *this;
}

}  // namespace qb
