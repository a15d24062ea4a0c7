// Looks up the host names of upstream proxies on threads of its own, so that the loop
// never waits for a name server: the loop asks, and is woken when an answer waits.
//
//   NameResolver resolver([&] { loop.Wake(); });
//   resolver.Ask("gw.provider.example");     // the loop's thread; returns at once
//   ...woken...
//   for (NameResolver::Answer& a : resolver.Take()) ...
//
// At most a few lookups run at once (a list of a thousand names must not start a
// thousand threads); the rest wait their turn. A name already asked for and not yet
// answered is not asked again. A lookup cannot be called off: one that hangs keeps its
// thread until the system's resolver gives up, which is why whoever asks keeps its own
// time-out (UpstreamPool's) rather than waiting for the answer.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "endpoint/Net.h"

namespace qb {

class NameResolver {
 public:
  struct Answer {
    std::string name;
    // Without a port (0): each proxy of the name sets its own.
    std::vector<SocketAddress> addresses;
    // Why there is none.
    std::string error;
    // The name has no address, as opposed to the name servers not answering: a name
    // that had one before does not keep it then.
    bool lasting = false;
  };
  // Looks one name up, blocking; SystemLookup asks getaddrinfo.
  using Lookup = std::function<Answer(const std::string& name)>;
  static Answer SystemLookup(const std::string& name);

  static constexpr size_t kThreads = 4;

  // wake is called from a lookup's thread whenever an answer is ready to be taken.
  explicit NameResolver(std::function<void()> wake, Lookup lookup = SystemLookup, size_t threads = kThreads);
  // Closes: lookups still running end on their own and their answers are dropped.
  ~NameResolver();
  NameResolver(const NameResolver&) = delete;
  NameResolver& operator=(const NameResolver&) = delete;

  void Ask(const std::string& name);
  // The answers that came since the last call.
  std::vector<Answer> Take();
  // From now on nobody is woken, and nothing more is looked up or answered.
  void Close();

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace qb
