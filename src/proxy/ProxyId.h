// A proxy's identity: its address, port and type, compared ignoring ASCII case.
//
// Rows move: a sort reorders them, a reload replaces them, another program adds to
// the file. Whatever must find a proxy again later (a run's queue and its checks in
// flight, the favourite marks, the history's figures) holds this, never a row's
// position or its entry, and asks the list where the proxy is now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qb {

class CProxyEntry;

class ProxyId {
 public:
  ProxyId() = default;
  explicit ProxyId(const CProxyEntry& e);
  ProxyId(std::string_view addr, std::string_view port, std::string_view type);
  // The proxy a list line names ("address:port@type", the "$" and "#" fields ignored);
  // empty when the line has no port.
  static ProxyId OfLine(std::string_view line);

  bool Empty() const { return m_packed == 0 && !m_key; }
  // "ADDR:PORT@TYPE", upper-cased: the key the log-on store and the history use.
  std::string Key() const;
  // The three fields, address and type upper-cased.
  std::string Addr() const;
  std::string Port() const;
  std::string Type() const;

  friend bool operator==(const ProxyId& a, const ProxyId& b) {
    if (a.m_packed != b.m_packed) return false;
    if (a.m_packed != 0) return true;
    if (!a.m_key || !b.m_key) return a.m_key == b.m_key;
    return *a.m_key == *b.m_key;
  }
  std::size_t Hash() const;

 private:
  // Most proxies are an IPv4 address, a decimal port and one of the six types: they
  // are held as one number (see PackedProxyKey), so that a run's queue of a million
  // proxies costs no text per proxy. Any other key is held as its text.
  std::uint64_t m_packed = 0;
  std::shared_ptr<const std::string> m_key;
};

struct ProxyIdHash {
  std::size_t operator()(const ProxyId& id) const { return id.Hash(); }
};

}  // namespace qb
