// The set of proxy keys of the list: an open-addressing table of entries.
//
// A million rows make a million random look-ups per import, and with a node-based or
// offset-indexed table each of them costs several cache misses. Here a probe touches
// one 8-byte slot, which holds the entry's address and 20 bits of its key's hash, and
// compares those bits before it ever reads an entry: a different key is read from
// memory about once in a million probes. The slot is half the size of an address and
// a whole hash, which matters at ten million rows; growing the table reads the full
// hash from each entry, a few entries ahead at a time.
#pragma once

#include <algorithm>
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
  // The list's set is at most half full. A set that lives only while a command merges
  // millions of rows may fill more of its slots: at 70 % a probe still reads a slot or
  // two more, and ten million keys take 128 MiB instead of 256.
  explicit ProxyKeySet(unsigned maxLoadPercent = 50) : m_maxLoad(std::clamp(maxLoadPercent, 10u, 90u)) {}
  // Adds the key; false (and nothing changes) when an equal key is in the set.
  bool Insert(ProxyKeyRef key);
  // Adds the keys in their order, exactly as Insert one after the other would, and
  // tells in added[i] whether keys[i] went in. Faster for many keys: the slots of the
  // keys ahead are fetched from memory while the current one is placed.
  void InsertBatch(const ProxyKeyRef* keys, std::size_t n, std::vector<bool>& added);
  // The same, telling in known[i] the entry whose equal key was in the set already
  // (keys[i] did not go in), or nullptr when keys[i] went in.
  void InsertBatch(const ProxyKeyRef* keys, std::size_t n, std::vector<const CProxyEntry*>& known);
  // Makes room for n keys in all without growing on the way.
  void Reserve(std::size_t n);
  // The entry whose key equals this one, or nullptr.
  const CProxyEntry* Find(ProxyKeyRef key) const;
  bool Contains(ProxyKeyRef key) const { return Find(key) != nullptr; }
  // Removes the key equal to this one; false when there is none.
  bool Remove(ProxyKeyRef key);
  void Clear();
  std::size_t size() const { return m_size; }
  // The memory the table takes.
  std::size_t MemoryBytes() const { return m_slots.capacity() * sizeof(Slot); }

 private:
  // The entry's address shifted right by four (entries are 16-byte aligned) in the low
  // 44 bits, the low 20 bits of the hash above them; 0: free.
  struct Slot {
    std::uint64_t bits = 0;
    const CProxyEntry* Entry() const {
      return reinterpret_cast<const CProxyEntry*>(static_cast<std::uintptr_t>((bits & kPointerMask) << 4));
    }
  };
  static constexpr std::uint64_t kPointerMask = (std::uint64_t{1} << 44) - 1;
  static constexpr std::uint32_t kFragmentMask = (1u << 20) - 1;
  static std::uint64_t Fragment(std::uint32_t hash) { return hash & kFragmentMask; }
  static Slot MakeSlot(ProxyKeyRef key);
  std::size_t Home(std::uint32_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> m_shift);
  }
  void Rehash(std::size_t capacity);
  // nullptr when the key went in, else the entry of the equal key there.
  const CProxyEntry* InsertWithRoom(ProxyKeyRef key);
  template <class Each>
  void InsertEach(const ProxyKeyRef* keys, std::size_t n, Each each);

  std::vector<Slot> m_slots;
  unsigned m_maxLoad;
  std::size_t m_size = 0;
  std::size_t m_mask = 0;
  unsigned m_shift = 64;
};

}  // namespace qb
