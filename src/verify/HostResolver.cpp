#include "verify/HostResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

// How often a blocked Wait asks whether it is being given up.
constexpr auto kAbortLook = std::chrono::milliseconds(20);

}  // namespace

struct CHostResolver::State {
  struct Name {
    bool queued = false;
    bool settled = false;
    // Its look-up ran past the time-out; the thread in it no longer counts in the pool.
    bool overdue = false;
    std::vector<std::string> addresses;
    std::vector<SettledFn> waiting;
    std::multimap<Clock::time_point, std::string>::iterator deadline;
  };

  LookupFn lookup;
  std::chrono::milliseconds timeout{0};
  int pool = kResolverThreads;

  std::mutex lock;
  std::condition_variable work;     // the pool's threads wait here for names
  std::condition_variable timer;    // the watch waits here for the next deadline
  std::condition_variable changed;  // a name was settled, a callback returned, a thread ended
  bool stopped = false;
  std::unordered_map<std::string, Name> names;
  std::deque<std::string> queue;
  // The deadlines of the look-ups in progress.
  std::multimap<Clock::time_point, std::string> deadlines;
  int alive = 0;
  int idle = 0;
  int overdue = 0;
  int started = 0;
  int calling = 0;
  bool watching = false;

  // Settles a name and calls those waiting for it, outside the lock (which the caller
  // holds on entry and on return).
  void Settle(std::unique_lock<std::mutex>& g, Name& n, std::vector<std::string> addresses,
              const std::string& name) {
    n.settled = true;
    n.addresses = std::move(addresses);
    std::vector<SettledFn> waiting;
    waiting.swap(n.waiting);
    changed.notify_all();
    if (waiting.empty() || stopped) return;
    ++calling;
    g.unlock();
    for (const SettledFn& f : waiting) f(name);
    g.lock();
    --calling;
    changed.notify_all();
  }

  // Threads for the queued names, within the pool and the cap.
  void Staff(const std::shared_ptr<State>& self) {
    if (queue.empty()) return;
    if (idle > 0) {
      work.notify_one();
      return;
    }
    if (alive - overdue >= pool || alive >= kMaxResolverThreads) return;
    ++alive;
    std::thread([self] { self->Serve(self); }).detach();
    if (!watching) {
      watching = true;
      std::thread([self] { self->Watch(self); }).detach();
    }
  }

  void Serve(const std::shared_ptr<State>& self) {
    std::unique_lock<std::mutex> g(lock);
    for (;;) {
      while (!stopped && queue.empty()) {
        ++idle;
        work.wait(g);
        --idle;
      }
      // A thread that outlived its look-up's time comes back to a full pool: it goes.
      if (stopped || alive - overdue > pool) break;
      const std::string name = std::move(queue.front());
      queue.pop_front();
      Name& n = names[name];
      if (n.settled) continue;
      ++started;
      n.deadline = deadlines.emplace(Clock::now() + timeout, name);
      timer.notify_one();
      g.unlock();
      std::vector<std::string> addresses = lookup(name);
      g.lock();
      if (n.overdue) {
        --overdue;
      } else {
        deadlines.erase(n.deadline);
      }
      if (!n.settled) Settle(g, n, std::move(addresses), name);
      if (alive - overdue > pool) break;
    }
    --alive;
    changed.notify_all();
    (void)self;
  }

  // Settles the names whose look-up ran out of time, and has others take their place.
  void Watch(const std::shared_ptr<State>& self) {
    std::unique_lock<std::mutex> g(lock);
    while (!stopped) {
      if (deadlines.empty()) {
        timer.wait(g);
        continue;
      }
      const Clock::time_point next = deadlines.begin()->first;
      if (Clock::now() < next) {
        timer.wait_until(g, next);
        continue;
      }
      const std::string name = deadlines.begin()->second;
      deadlines.erase(deadlines.begin());
      Name& n = names[name];
      n.overdue = true;
      ++overdue;
      Settle(g, n, {}, name);
      Staff(self);
    }
    watching = false;
  }
};

CHostResolver::CHostResolver(int timeoutMs, LookupFn lookup, int threads)
    : m_state(std::make_shared<State>()) {
  m_state->lookup = lookup ? std::move(lookup) : LookupFn(&SystemLookup);
  m_state->timeout = std::chrono::milliseconds(std::max(1, timeoutMs));
  m_state->pool = std::clamp(threads, 1, kMaxResolverThreads);
}

CHostResolver::~CHostResolver() {
  std::unique_lock<std::mutex> g(m_state->lock);
  m_state->stopped = true;
  for (auto& [name, n] : m_state->names) n.waiting.clear();
  m_state->work.notify_all();
  m_state->timer.notify_all();
  // Callbacks already under way finish first: none is called into an owner that is gone.
  m_state->changed.wait(g, [this] { return m_state->calling == 0; });
}

std::optional<std::vector<std::string>> CHostResolver::Find(const std::string& name, SettledFn settled) {
  std::unique_lock<std::mutex> g(m_state->lock);
  State::Name& n = m_state->names[name];
  if (n.settled) return n.addresses;
  if (settled) n.waiting.push_back(std::move(settled));
  if (!n.queued) {
    n.queued = true;
    m_state->queue.push_back(name);
    m_state->Staff(m_state);
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> CHostResolver::Wait(const std::string& name,
                                                            const std::function<bool()>& aborted) {
  if (std::optional<std::vector<std::string>> known = Find(name)) return known;
  std::unique_lock<std::mutex> g(m_state->lock);
  for (;;) {
    const State::Name& n = m_state->names[name];
    if (n.settled) return n.addresses;
    if (aborted && aborted()) return std::nullopt;
    m_state->changed.wait_for(g, kAbortLook);
  }
}

int CHostResolver::LookupsStarted() const {
  std::lock_guard<std::mutex> g(m_state->lock);
  return m_state->started;
}

int CHostResolver::ThreadsAlive() const {
  std::lock_guard<std::mutex> g(m_state->lock);
  return m_state->alive;
}

std::vector<std::string> SystemLookup(const std::string& name) {
  std::vector<std::string> out;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return out;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    char buf[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (a->ai_family == AF_INET) raw = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
    if (a->ai_family == AF_INET6) raw = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
    if (!raw || !::inet_ntop(a->ai_family, raw, buf, sizeof buf)) continue;
    if (std::find(out.begin(), out.end(), buf) == out.end()) out.emplace_back(buf);
  }
  ::freeaddrinfo(list);
  return out;
}

}  // namespace qb
