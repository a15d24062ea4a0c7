#include "proxy/ProxyKeySet.h"

#include <cstring>
#include <string_view>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

namespace qb {

namespace {

constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;

// Eight bytes with the ASCII lower-case letters made upper case, all at once: a byte
// gets its 0x20 bit cleared when it lies in 'a'..'z'.
inline std::uint64_t UpperWord(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t low7 = w & (0x7F * kOnes);
  const std::uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;
  const std::uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;
  const std::uint64_t lower = atLeastA & ~aboveZ & ~w & (0x80 * kOnes);
  return w ^ (lower >> 2);
}

inline void Mix(std::uint64_t& h, std::uint64_t w) {
  h = (h ^ w) * kMul;
  h ^= h >> 32;
}

// A field folded eight bytes at a time, then its length, so that texts moving from one
// field to the next change the hash.
inline void HashField(std::uint64_t& h, std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    Mix(h, UpperWord(w));
  }
  if (i < s.size()) {
    // Byte by byte: a call to memcpy for a few bytes costs more than the whole hash.
    std::uint64_t w = 0;
    for (unsigned shift = 0; i < s.size(); ++i, shift += 8) {
      w |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << shift;
    }
    Mix(h, UpperWord(w));
  }
  Mix(h, s.size());
}

}  // namespace

std::uint32_t ProxyKeyHash(const CProxyEntry& e) {
  std::uint64_t h = 0x243F6A8885A308D3ull;
  HashField(h, e.m_sProxyAddr);
  HashField(h, e.m_sProxyPort);
  HashField(h, e.m_sProxyType);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

ProxyKeyRef KeyOf(const CProxyEntry* e) {
  return ProxyKeyRef{e, ProxyKeyHash(*e)};
}

bool operator==(const ProxyKeyRef& a, const ProxyKeyRef& b) {
  return a.hash == b.hash && qb::AsciiCaseEqual(a.entry->m_sProxyAddr, b.entry->m_sProxyAddr) &&
         qb::AsciiCaseEqual(a.entry->m_sProxyPort, b.entry->m_sProxyPort) &&
         qb::AsciiCaseEqual(a.entry->m_sProxyType, b.entry->m_sProxyType);
}

void ProxyKeySet::Rehash(std::size_t capacity) {
  std::vector<Slot> old;
  old.swap(m_slots);
  m_slots.assign(capacity, Slot{});
  m_mask = capacity - 1;
  m_shift = 64;
  for (std::size_t c = capacity; c > 1; c >>= 1) --m_shift;
  constexpr std::size_t kAhead = 8;  // as in InsertBatch
  for (std::size_t k = 0; k < old.size(); ++k) {
    if (k + kAhead < old.size() && old[k + kAhead].entry)
      __builtin_prefetch(&m_slots[Home(old[k + kAhead].hash)], 1);
    const Slot& s = old[k];
    if (!s.entry) continue;
    std::size_t i = Home(s.hash);
    while (m_slots[i].entry) i = (i + 1) & m_mask;
    m_slots[i] = s;
  }
}

// At most half full, so that probe runs stay short.
void ProxyKeySet::Reserve(std::size_t n) {
  std::size_t capacity = m_slots.empty() ? 64 : m_slots.size();
  while (n * 2 > capacity) capacity *= 2;
  if (capacity != m_slots.size()) Rehash(capacity);
}

bool ProxyKeySet::InsertWithRoom(ProxyKeyRef key) {
  std::size_t i = Home(key.hash);
  while (const CProxyEntry* e = m_slots[i].entry) {
    if (m_slots[i].hash == key.hash && ProxyKeyRef{e, key.hash} == key) return false;
    i = (i + 1) & m_mask;
  }
  m_slots[i] = Slot{key.entry, key.hash};
  ++m_size;
  return true;
}

bool ProxyKeySet::Insert(ProxyKeyRef key) {
  Reserve(m_size + 1);
  return InsertWithRoom(key);
}

void ProxyKeySet::InsertBatch(const ProxyKeyRef* keys, std::size_t n, std::vector<bool>& added) {
  added.assign(n, false);
  if (n == 0) return;
  Reserve(m_size + n);
  // A table of a million keys is far larger than the cache, so each key's slot is a
  // miss; fetching a few keys ahead lets those misses overlap.
  constexpr std::size_t kAhead = 12;
  for (std::size_t i = 0; i < n && i < kAhead; ++i) __builtin_prefetch(&m_slots[Home(keys[i].hash)], 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(&m_slots[Home(keys[i + kAhead].hash)], 1);
    added[i] = InsertWithRoom(keys[i]);
  }
}

const CProxyEntry* ProxyKeySet::Find(ProxyKeyRef key) const {
  if (m_size == 0) return nullptr;
  std::size_t i = Home(key.hash);
  while (const CProxyEntry* e = m_slots[i].entry) {
    if (m_slots[i].hash == key.hash && ProxyKeyRef{e, key.hash} == key) return e;
    i = (i + 1) & m_mask;
  }
  return nullptr;
}

bool ProxyKeySet::Remove(ProxyKeyRef key) {
  if (m_size == 0) return false;
  std::size_t i = Home(key.hash);
  for (;;) {
    const CProxyEntry* e = m_slots[i].entry;
    if (!e) return false;
    if (m_slots[i].hash == key.hash && ProxyKeyRef{e, key.hash} == key) break;
    i = (i + 1) & m_mask;
  }
  // Backward-shift deletion: later members of the run move into the hole, so that no
  // tombstones build up and every look-up still ends at the first free slot.
  std::size_t hole = i;
  std::size_t j = (i + 1) & m_mask;
  while (m_slots[j].entry) {
    const std::size_t home = Home(m_slots[j].hash);
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
