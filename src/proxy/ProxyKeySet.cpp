#include "proxy/ProxyKeySet.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

namespace qb {

std::uint32_t ProxyKeyHash(const CProxyEntry& e) {
  return e.KeyHash();
}

ProxyKeyRef KeyOf(const CProxyEntry* e) {
  return ProxyKeyRef{e, e->KeyHash()};
}

bool operator==(const ProxyKeyRef& a, const ProxyKeyRef& b) {
  return a.hash == b.hash && a.entry->SameKey(*b.entry);
}

ProxyKeySet::Slot ProxyKeySet::MakeSlot(ProxyKeyRef key) {
  const auto p = reinterpret_cast<std::uintptr_t>(key.entry);
  // Entries are 16-byte aligned and user space ends below 2^48 on every system this
  // runs on; a pointer outside that would lose bits, so refuse it loudly.
  if ((p & 15) != 0 || (p >> 48) != 0) std::abort();
  return Slot{static_cast<std::uint64_t>(key.hash & kFragmentMask) << 44 | p >> 4};
}

void ProxyKeySet::Rehash(std::size_t capacity) {
  std::vector<Slot> old;
  old.swap(m_slots);
  m_slots.assign(capacity, Slot{});
  m_mask = capacity - 1;
  m_shift = 64;
  for (std::size_t c = capacity; c > 1; c >>= 1) --m_shift;
  // A slot keeps only part of its hash, so the home of each key is read from its
  // entry. Both the entry and the new slot are misses in a large table: the entries
  // are fetched kAhead slots ahead, their homes worked out and fetched kAhead/2 ahead,
  // so that many of those misses overlap.
  constexpr std::size_t kAhead = 16, kHalf = kAhead / 2;
  std::size_t homes[kHalf] = {};  // ring: the homes of the slots k .. k + kHalf - 1
  const std::size_t n = old.size();
  for (std::size_t k = 0; k < n && k < kAhead; ++k) {
    if (old[k].bits) __builtin_prefetch(old[k].Entry());
  }
  for (std::size_t k = 0; k < n && k < kHalf; ++k) {
    if (old[k].bits) homes[k] = Home(old[k].Entry()->KeyHash());
  }
  for (std::size_t k = 0; k < n; ++k) {
    if (k + kAhead < n && old[k + kAhead].bits) __builtin_prefetch(old[k + kAhead].Entry());
    const std::size_t i0 = homes[k % kHalf];
    if (k + kHalf < n && old[k + kHalf].bits) {
      const std::size_t h = Home(old[k + kHalf].Entry()->KeyHash());
      homes[k % kHalf] = h;
      __builtin_prefetch(&m_slots[h], 1);
    }
    const Slot& s = old[k];
    if (!s.bits) continue;
    std::size_t i = i0;
    while (m_slots[i].bits) i = (i + 1) & m_mask;
    m_slots[i] = s;
  }
}

// At most m_maxLoad full (half, for the list), so that probe runs stay short.
void ProxyKeySet::Reserve(std::size_t n) {
  std::size_t capacity = m_slots.empty() ? 64 : m_slots.size();
  while (n * 100 > capacity * m_maxLoad) capacity *= 2;
  if (capacity != m_slots.size()) Rehash(capacity);
}

const CProxyEntry* ProxyKeySet::InsertWithRoom(ProxyKeyRef key) {
  std::size_t i = Home(key.hash);
  const std::uint64_t fragment = Fragment(key.hash);
  while (const std::uint64_t bits = m_slots[i].bits) {
    if ((bits >> 44) == fragment && ProxyKeyRef{m_slots[i].Entry(), key.hash} == key)
      return m_slots[i].Entry();
    i = (i + 1) & m_mask;
  }
  m_slots[i] = MakeSlot(key);
  ++m_size;
  return nullptr;
}

bool ProxyKeySet::Insert(ProxyKeyRef key) {
  Reserve(m_size + 1);
  return InsertWithRoom(key) == nullptr;
}

template <class Each>
void ProxyKeySet::InsertEach(const ProxyKeyRef* keys, std::size_t n, Each each) {
  if (n == 0) return;
  Reserve(m_size + n);
  // A table of a million keys is far larger than the cache, so each key's slot is a
  // miss; fetching a few keys ahead lets those misses overlap.
  constexpr std::size_t kAhead = 12;
  for (std::size_t i = 0; i < n && i < kAhead; ++i) __builtin_prefetch(&m_slots[Home(keys[i].hash)], 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(&m_slots[Home(keys[i + kAhead].hash)], 1);
    each(i, InsertWithRoom(keys[i]));
  }
}

void ProxyKeySet::InsertBatch(const ProxyKeyRef* keys, std::size_t n, std::vector<bool>& added) {
  added.assign(n, false);
  InsertEach(keys, n, [&](std::size_t i, const CProxyEntry* known) { added[i] = known == nullptr; });
}

void ProxyKeySet::InsertBatch(const ProxyKeyRef* keys, std::size_t n,
                              std::vector<const CProxyEntry*>& known) {
  known.assign(n, nullptr);
  InsertEach(keys, n, [&](std::size_t i, const CProxyEntry* there) { known[i] = there; });
}

const CProxyEntry* ProxyKeySet::Find(ProxyKeyRef key) const {
  if (m_size == 0) return nullptr;
  std::size_t i = Home(key.hash);
  const std::uint64_t fragment = Fragment(key.hash);
  while (const std::uint64_t bits = m_slots[i].bits) {
    if ((bits >> 44) == fragment && ProxyKeyRef{m_slots[i].Entry(), key.hash} == key)
      return m_slots[i].Entry();
    i = (i + 1) & m_mask;
  }
  return nullptr;
}

bool ProxyKeySet::Remove(ProxyKeyRef key) {
  if (m_size == 0) return false;
  std::size_t i = Home(key.hash);
  const std::uint64_t fragment = Fragment(key.hash);
  for (;;) {
    const std::uint64_t bits = m_slots[i].bits;
    if (!bits) return false;
    if ((bits >> 44) == fragment && ProxyKeyRef{m_slots[i].Entry(), key.hash} == key) break;
    i = (i + 1) & m_mask;
  }
  // Backward-shift deletion: later members of the run move into the hole, so that no
  // tombstones build up and every look-up still ends at the first free slot.
  std::size_t hole = i;
  std::size_t j = (i + 1) & m_mask;
  while (m_slots[j].bits) {
    const std::size_t home = Home(m_slots[j].Entry()->KeyHash());
    // A slot stays where it is when its home lies cyclically in (hole, j].
    const bool homeAfterHole = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (!homeAfterHole) {
      m_slots[hole] = m_slots[j];
      hole = j;
    }
    j = (j + 1) & m_mask;
  }
  m_slots[hole] = Slot{};
  --m_size;
  return true;
}

void ProxyKeySet::Clear() {
  m_slots.clear();
  m_slots.shrink_to_fit();
  m_size = 0;
  m_mask = 0;
  m_shift = 64;
}

}  // namespace qb
