#include "proxy/ProxyKeySet.h"

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

namespace {

// FNV-1a over the upper-cased key text "address:port@type", without building it.
inline void HashFold(std::uint64_t& h, std::string_view s) {
  for (char c : s) {
    h ^= static_cast<unsigned char>(qb::AsciiUpper(c));
    h *= 1099511628211ull;
  }
}

}  // namespace

std::uint32_t ProxyKeyHash(const CProxyEntry& e) {
  std::uint64_t h = 14695981039346656037ull;
  HashFold(h, e.m_sProxyAddr);
  h ^= ':';
  h *= 1099511628211ull;
  HashFold(h, e.m_sProxyPort);
  h ^= '@';
  h *= 1099511628211ull;
  HashFold(h, e.m_sProxyType);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

ProxyKeyRef KeyOf(const CProxyEntry* e) { return ProxyKeyRef{e, ProxyKeyHash(*e)}; }

bool operator==(const ProxyKeyRef& a, const ProxyKeyRef& b) {
  return a.hash == b.hash && qb::AsciiCaseEqual(a.entry->m_sProxyAddr, b.entry->m_sProxyAddr) &&
         qb::AsciiCaseEqual(a.entry->m_sProxyPort, b.entry->m_sProxyPort) &&
         qb::AsciiCaseEqual(a.entry->m_sProxyType, b.entry->m_sProxyType);
}

void ProxyKeySet::Grow() {
  const std::size_t capacity = m_slots.empty() ? 64 : m_slots.size() * 2;
  std::vector<Slot> old;
  old.swap(m_slots);
  m_slots.assign(capacity, Slot{});
  m_mask = capacity - 1;
  m_shift = 64;
  for (std::size_t c = capacity; c > 1; c >>= 1) --m_shift;
  for (const Slot& s : old) {
    if (!s.entry) continue;
    std::size_t i = Home(s.hash);
    while (m_slots[i].entry) i = (i + 1) & m_mask;
    m_slots[i] = s;
  }
}

bool ProxyKeySet::Insert(ProxyKeyRef key) {
  // At most half full, so that probe runs stay short.
  if ((m_size + 1) * 2 > m_slots.size()) Grow();
  std::size_t i = Home(key.hash);
  while (const CProxyEntry* e = m_slots[i].entry) {
    if (m_slots[i].hash == key.hash && ProxyKeyRef{e, key.hash} == key) return false;
    i = (i + 1) & m_mask;
  }
  m_slots[i] = Slot{key.entry, key.hash};
  ++m_size;
  return true;
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
