// The set of proxy keys of the list: an open-addressing table of (entry, hash) pairs.
//
// A million rows make a million random look-ups per import, and with a node-based or
// offset-indexed table each of them costs several cache misses. Here a probe touches
// one 16-byte slot and compares the stored hash before it ever reads an entry, and
// growing the table never reads an entry either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qb {

class CProxyEntry;

// A key of the set: the entry it stands for and the hash of that entry's key.
struct ProxyKeyRef {
  const CProxyEntry* entry;
  std::uint32_t hash;
};
// Same address, port and type, ignoring ASCII case.
bool operator==(const ProxyKeyRef& a, const ProxyKeyRef& b);
// The hash of an entry's key, ignoring ASCII case.
std::uint32_t ProxyKeyHash(const CProxyEntry& e);
ProxyKeyRef KeyOf(const CProxyEntry* e);

class ProxyKeySet {
 public:
  // Adds the key; false (and nothing changes) when an equal key is in the set.
  bool Insert(ProxyKeyRef key);
  // Adds the keys in their order, exactly as Insert one after the other would, and
  // tells in added[i] whether keys[i] went in. Faster for many keys: the slots of the
  // keys ahead are fetched from memory while the current one is placed.
  void InsertBatch(const ProxyKeyRef* keys, std::size_t n, std::vector<bool>& added);
  // Makes room for n keys in all without growing on the way.
  void Reserve(std::size_t n);
  // The entry whose key equals this one, or nullptr.
  const CProxyEntry* Find(ProxyKeyRef key) const;
  bool Contains(ProxyKeyRef key) const { return Find(key) != nullptr; }
  // Removes the key equal to this one; false when there is none.
  bool Remove(ProxyKeyRef key);
  void Clear();
  std::size_t size() const { return m_size; }

 private:
  struct Slot {
    const CProxyEntry* entry = nullptr;  // nullptr: free
    std::uint32_t hash = 0;
  };
  std::size_t Home(std::uint32_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> m_shift);
  }
  void Rehash(std::size_t capacity);
  bool InsertWithRoom(ProxyKeyRef key);

  std::vector<Slot> m_slots;
  std::size_t m_size = 0;
  std::size_t m_mask = 0;
  unsigned m_shift = 64;
};

}  // namespace qb
