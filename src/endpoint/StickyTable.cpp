#include "endpoint/StickyTable.h"

#include <algorithm>

namespace qb {

StickyTable::StickyTable(std::chrono::milliseconds lease, size_t maxKeys)
    : m_lease(std::max(lease, std::chrono::milliseconds(1))), m_maxKeys(std::max<size_t>(maxKeys, 1)) {}

const StickyTable::Binding* StickyTable::Find(const std::string& key, Clock::time_point now) {
  const auto it = m_keys.find(key);
  if (it == m_keys.end()) return nullptr;
  Entry& e = it->second;
  if (e.until <= now) {
    m_uses.erase(e.use);
    m_keys.erase(it);
    return nullptr;
  }
  e.until = now + m_lease;
  m_uses.splice(m_uses.end(), m_uses, e.use);
  return &e.binding;
}

void StickyTable::Bind(const std::string& key, Binding binding, Clock::time_point now) {
  const auto it = m_keys.find(key);
  if (it != m_keys.end()) {
    it->second.binding = std::move(binding);
    it->second.until = now + m_lease;
    m_uses.splice(m_uses.end(), m_uses, it->second.use);
    return;
  }
  if (m_keys.size() >= m_maxKeys) {
    m_keys.erase(m_uses.front());
    m_uses.pop_front();
  }
  m_uses.push_back(key);
  m_keys.emplace(key, Entry{std::move(binding), now + m_lease, std::prev(m_uses.end())});
}

void StickyTable::Expire(Clock::time_point now) {
  // The least recently used is also the one whose lease ends first: every use renews
  // the lease by the same time.
  while (!m_uses.empty()) {
    const auto it = m_keys.find(m_uses.front());
    if (it->second.until > now) break;
    m_keys.erase(it);
    m_uses.pop_front();
  }
}

}  // namespace qb
