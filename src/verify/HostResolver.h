// The addresses of the host names a run meets (proxies named by name, a judge's name),
// looked up beside the checks.
//
// libcurl would look a proxy's name up inside its check, with a thread of its own per
// check: the look-up would count in the proxy's time, a name server that answers
// slowly would hold a check's place meanwhile, and a list of a thousand rows of one
// name would ask a thousand times. Here a run looks each distinct name up once, on a
// small pool of threads, and hands each check the addresses (which libcurl then takes
// as they are, see CVerifyStep). The run control keeps a row out of the checks in
// flight until its name is settled, so that names waiting for a slow name server
// never hold a place that a row with an address could use.
//
// A look-up that has not answered within the time-out settles its name as having no
// address. The thread stays in the system's resolver until that returns (it cannot be
// called off), but no longer counts towards the pool: another thread takes its place,
// up to kMaxResolverThreads in all, so that a name server that never answers delays
// the names behind it by one time-out each round rather than for ever.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb {

// Look-ups at once.
inline constexpr int kResolverThreads = 16;
// Threads at most, those still waiting in look-ups that timed out included.
inline constexpr int kMaxResolverThreads = 64;

class CHostResolver {
 public:
  // The addresses of a name as numeric texts (IPv6 ones without brackets), in the
  // resolver's order; empty when the name has none. It may block for as long as the
  // system's resolver takes.
  using LookupFn = std::function<std::vector<std::string>(const std::string& name)>;
  // A name was settled; called on one of the resolver's threads, never after the
  // resolver is destroyed.
  using SettledFn = std::function<void(const std::string& name)>;

  // timeoutMs: how long one look-up may take; lookup: the system's resolver unless
  // another is given (tests give one they control).
  explicit CHostResolver(int timeoutMs, LookupFn lookup = {}, int threads = kResolverThreads);
  // Does not wait for a look-up in progress; its thread ends by itself when the system
  // answers.
  ~CHostResolver();
  CHostResolver(const CHostResolver&) = delete;
  CHostResolver& operator=(const CHostResolver&) = delete;

  // The addresses once the name is settled (empty: none, or no answer in time).
  // Otherwise nullopt: the look-up is started if it was not, and settled, when given,
  // is called once it is settled. Never blocks.
  std::optional<std::vector<std::string>> Find(const std::string& name, SettledFn settled = {});
  // Blocks until the name is settled, or until aborted says so (asked now and then),
  // which gives nullopt.
  std::optional<std::vector<std::string>> Wait(const std::string& name,
                                               const std::function<bool()>& aborted = {});

  // Look-ups started, and threads alive (for tests).
  int LookupsStarted() const;
  int ThreadsAlive() const;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

// The system's resolver (getaddrinfo, TCP addresses of either family).
std::vector<std::string> SystemLookup(const std::string& name);

}  // namespace qb
