#include "endpoint/NameResolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>

namespace qb {

namespace {

// More addresses than this are more than any proxy needs tried in one attempt.
constexpr size_t kMaxAddresses = 8;

}  // namespace

// Shared with the lookup threads, which may outlive the resolver.
struct NameResolver::State {
  std::mutex mutex;
  std::function<void()> wake;
  Lookup lookup;
  size_t maxThreads = kThreads;
  size_t threads = 0;
  bool closed = false;
  std::deque<std::string> queue;
  // Asked for and not yet answered, queued or being looked up.
  std::unordered_set<std::string> open;
  std::vector<Answer> answers;

  static void Work(const std::shared_ptr<State>& self) {
    std::unique_lock lock(self->mutex);
    while (!self->closed && !self->queue.empty()) {
      std::string name = std::move(self->queue.front());
      self->queue.pop_front();
      const Lookup lookup = self->lookup;
      lock.unlock();
      Answer answer = lookup(name);
      answer.name = name;
      lock.lock();
      self->open.erase(name);
      if (self->closed) break;
      self->answers.push_back(std::move(answer));
      // Under the lock: Close, once it returns, must know that nobody calls wake any more.
      self->wake();
    }
    --self->threads;
  }
};

NameResolver::Answer NameResolver::SystemLookup(const std::string& name) {
  Answer answer;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  // Every family: a family this machine cannot reach fails at once on connect, and the
  // next address is tried then.
  hints.ai_family = AF_UNSPEC;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    answer.error = gai_strerror(rc);
    answer.lasting = rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_ADDRFAMILY;
    return answer;
  }
  for (const addrinfo* a = found; a && answer.addresses.size() < kMaxAddresses; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    SocketAddress address = AddressOf(a->ai_addr, a->ai_addrlen);
    if (std::find(answer.addresses.begin(), answer.addresses.end(), address) == answer.addresses.end())
      answer.addresses.push_back(address);
  }
  freeaddrinfo(found);
  if (answer.addresses.empty()) {
    answer.error = "no address";
    answer.lasting = true;
  }
  return answer;
}

NameResolver::NameResolver(std::function<void()> wake, Lookup lookup, size_t threads)
    : m_state(std::make_shared<State>()) {
  m_state->wake = std::move(wake);
  m_state->lookup = std::move(lookup);
  m_state->maxThreads = std::max<size_t>(1, threads);
}

NameResolver::~NameResolver() {
  Close();
}

void NameResolver::Ask(const std::string& name) {
  std::lock_guard lock(m_state->mutex);
  if (m_state->closed || !m_state->open.insert(name).second) return;
  m_state->queue.push_back(name);
  if (m_state->threads >= m_state->maxThreads) return;
  ++m_state->threads;
  std::thread([self = m_state] { State::Work(self); }).detach();
}

std::vector<NameResolver::Answer> NameResolver::Take() {
  std::lock_guard lock(m_state->mutex);
  return std::exchange(m_state->answers, {});
}

void NameResolver::Close() {
  std::lock_guard lock(m_state->mutex);
  m_state->closed = true;
  m_state->wake = nullptr;
  m_state->queue.clear();
  m_state->answers.clear();
}

}  // namespace qb
