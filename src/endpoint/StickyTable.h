// Which upstream a client's session, or a target host, is bound to, and for how long.
//
// A client that names a session (ClientRequest::sessionKey), or any client when the
// endpoint keeps targets on one upstream, is carried through the upstream its key was
// last carried through, for as long as the key keeps being used: each use renews the
// lease, a key unused for the lease time is forgotten. The table is the loop's alone
// and holds at most maxKeys keys; past that, the least recently used goes first, so a
// client inventing keys cannot make it grow without end.
//
//   StickyTable sticky(std::chrono::minutes(10));
//   if (const StickyTable::Binding* b = sticky.Find(key, now)) ...prefer b->line...
//   sticky.Bind(key, upstream.Line(), upstream.exitAddress, now);  // once it carried one
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

namespace qb {

class StickyTable {
 public:
  using Clock = std::chrono::steady_clock;

  struct Binding {
    std::string line;  // the upstream, "addr:port@TYPE"
    std::string exit;  // its exit address, when known: a successor with the same one is preferred
  };

  static constexpr size_t kDefaultMaxKeys = 100000;

  explicit StickyTable(std::chrono::milliseconds lease, size_t maxKeys = kDefaultMaxKeys);

  // The binding of key while its lease runs, renewed by the asking; null when it has none.
  const Binding* Find(const std::string& key, Clock::time_point now);
  // Binds key to an upstream (again), starting its lease.
  void Bind(const std::string& key, Binding binding, Clock::time_point now);
  // Forgets the keys whose lease is over.
  void Expire(Clock::time_point now);

  size_t Size() const { return m_keys.size(); }

  // The keys of sessions and of targets live side by side; these keep them apart.
  static std::string SessionKey(const std::string& session) { return "s " + session; }
  static std::string TargetKey(const std::string& host) { return "t " + host; }

 private:
  struct Entry {
    Binding binding;
    Clock::time_point until;
    std::list<std::string>::iterator use;
  };

  std::chrono::milliseconds m_lease;
  size_t m_maxKeys;
  std::unordered_map<std::string, Entry> m_keys;
  std::list<std::string> m_uses;  // least recently used first
};

}  // namespace qb
