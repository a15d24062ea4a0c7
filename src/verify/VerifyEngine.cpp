#include "verify/VerifyEngine.h"

#include <curl/curl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <queue>
#include <thread>
#include <unordered_map>
#include <utility>

#include "verify/VerifyStep.h"

namespace qb {

namespace {

using Clock = CVerifyStep::Clock;

// A task waiting for another task's direct request to the judge looks again this often.
constexpr auto kParkedLook = std::chrono::milliseconds(10);
// libcurl's receive buffer per transfer. Its default of 16 KB is most of what a check
// in flight costs; a verification page is read line by line, so smaller reads only
// mean more of them.
constexpr long kReceiveBuffer = 4096;
// Descriptors a check may hold at once: its connection, and a resolver's pair while a
// proxy's host name is looked up.
constexpr int kFilesPerCheck = 2;
// Descriptors left for everything else of the process.
constexpr int kFilesReserved = 128;
// Transfers at most on one connection cache (see ConnectionCaches).
constexpr int kTransfersPerCache = 32;

int MsUntil(Clock::time_point t, Clock::time_point now) {
  if (t <= now) return 0;
  // Rounded up: waking a little early would only spin.
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - now).count();
  return static_cast<int>(std::min<long long>((us + 999) / 1000, 60000));
}

// libcurl keeps every connection it opens in a cache, in use or not, grouped by host
// (for a plain HTTP proxy, the proxy's host). By default that is the multi handle's one
// cache, and with thousands of checks in flight, each proxy a host of its own, every
// connection opened looks its host up along a hash chain of a hundredth of them, and
// every one closed walks the cache to find its emptied group (libcurl 7.88): the
// transfer's cost grows with the number in flight. Nothing here is ever reused, so
// the transfers are spread over share handles that each bring a cache of their own
// and serve a few transfers at a time.
class ConnectionCaches {
 public:
  ConnectionCaches() = default;
  ~ConnectionCaches() { Clear(); }
  ConnectionCaches(const ConnectionCaches&) = delete;
  ConnectionCaches& operator=(const ConnectionCaches&) = delete;

  // Puts the transfer on a cache with room. Returns the cache's index, or -1 when no
  // share handle could be made (the transfer then uses the multi handle's cache).
  int Take(CURL* easy) {
    if (m_room.empty() && !Add()) return -1;
    const int index = m_room.back();
    Cache& cache = m_caches[static_cast<std::size_t>(index)];
    if (curl_easy_setopt(easy, CURLOPT_SHARE, cache.share) != CURLE_OK) return -1;
    if (++cache.transfers == kTransfersPerCache) m_room.pop_back();
    return index;
  }

  // After the transfer left the multi handle.
  void Give(CURL* easy, int index) {
    if (index < 0) return;
    curl_easy_setopt(easy, CURLOPT_SHARE, nullptr);
    Cache& cache = m_caches[static_cast<std::size_t>(index)];
    if (cache.transfers-- == kTransfersPerCache) m_room.push_back(index);
  }

  // Once no transfer uses any of them.
  void Clear() {
    for (Cache& cache : m_caches) curl_share_cleanup(cache.share);
    m_caches.clear();
    m_room.clear();
  }

 private:
  struct Cache {
    CURLSH* share = nullptr;
    int transfers = 0;
  };

  bool Add() {
    CURLSH* share = curl_share_init();
    if (!share) return false;
    if (curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK) {
      curl_share_cleanup(share);
      return false;
    }
    m_room.push_back(static_cast<int>(m_caches.size()));
    m_caches.push_back({share, 0});
    return true;
  }

  std::vector<Cache> m_caches;
  std::vector<int> m_room;  // the caches below kTransfersPerCache
};

}  // namespace

class CVerifyEngine::Loop {
 public:
  Loop(CVerifyEngine& engine) : m_engine(engine) {}
  ~Loop() {
    Stop();
    for (auto& [id, check] : m_checks) {
      if (check->easy) Remove(*check);
    }
    m_checks.clear();
    m_caches.Clear();
    if (m_multi) curl_multi_cleanup(m_multi);
    if (m_wake >= 0) ::close(m_wake);
    if (m_epoll >= 0) ::close(m_epoll);
  }

  bool Start() {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_multi = curl_multi_init();
    if (m_epoll < 0 || m_wake < 0 || !m_multi) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_wake;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev) != 0) return false;
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &Loop::OnSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &Loop::OnTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_thread = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    if (!m_thread.joinable()) return;
    m_stop.store(true);
    Wake();
    m_thread.join();
  }

  void Submit(VerifyTask task) {
    m_inFlight.fetch_add(1);
    bool first = false;
    {
      std::lock_guard<std::mutex> g(m_inboxLock);
      first = m_inbox.empty();
      m_inbox.push_back(std::move(task));
    }
    // The loop empties the whole inbox once woken; one wake-up serves a burst.
    if (first) Wake();
  }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
  }

  int InFlight() const { return m_inFlight.load(); }

 private:
  struct Check {
    std::unique_ptr<CVerifyStep> step;
    CURL* easy = nullptr;  // the transfer on the multi handle, or nullptr
    int cache = -1;        // its connection cache in m_caches
    Clock::time_point replyLook{};
    bool parked = false;
  };
  using Look = std::pair<Clock::time_point, std::uint64_t>;

  static int OnSocket(CURL*, curl_socket_t s, int what, void* self, void* known) {
    auto* loop = static_cast<Loop*>(self);
    if (what == CURL_POLL_REMOVE) {
      ::epoll_ctl(loop->m_epoll, EPOLL_CTL_DEL, s, nullptr);
      curl_multi_assign(loop->m_multi, s, nullptr);
      return 0;
    }
    epoll_event ev{};
    ev.data.fd = s;
    if (what & CURL_POLL_IN) ev.events |= EPOLLIN;
    if (what & CURL_POLL_OUT) ev.events |= EPOLLOUT;
    int op = known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(loop->m_epoll, op, s, &ev) != 0) {
      // A descriptor closed and reused behind libcurl's back still has, or lost, its entry.
      op = errno == EEXIST ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
      ::epoll_ctl(loop->m_epoll, op, s, &ev);
    }
    if (!known) curl_multi_assign(loop->m_multi, s, loop);
    return 0;
  }

  static int OnTimer(CURLM*, long ms, void* self) {
    auto* loop = static_cast<Loop*>(self);
    loop->m_curlTimerSet = ms >= 0;
    if (ms >= 0) loop->m_curlTimer = Clock::now() + std::chrono::milliseconds(ms);
    return 0;
  }

  void Run() {
    std::vector<epoll_event> events(1024);
    std::vector<VerifyTask> taken;
    while (!m_stop.load()) {
      const Clock::time_point now = Clock::now();
      int waitMs = 1000;
      if (m_curlTimerSet) waitMs = std::min(waitMs, MsUntil(m_curlTimer, now));
      if (!m_looks.empty()) waitMs = std::min(waitMs, MsUntil(m_looks.top().first, now));
      if (m_parked > 0) waitMs = std::min(waitMs, static_cast<int>(kParkedLook.count()));
      const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), waitMs);
      int running = 0;
      for (int i = 0; i < n; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == m_wake) {
          std::uint64_t count = 0;
          [[maybe_unused]] ssize_t r = ::read(m_wake, &count, sizeof count);
          continue;
        }
        const std::uint32_t e = events[static_cast<std::size_t>(i)].events;
        int flags = 0;
        if (e & (EPOLLIN | EPOLLHUP)) flags |= CURL_CSELECT_IN;
        if (e & EPOLLOUT) flags |= CURL_CSELECT_OUT;
        if (e & EPOLLERR) flags |= CURL_CSELECT_ERR;
        curl_multi_socket_action(m_multi, fd, flags, &running);
      }
      if (m_curlTimerSet && m_curlTimer <= Clock::now()) {
        m_curlTimerSet = false;
        curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
      }
      TakeFinished();
      LookAtReplies();
      if (m_engine.Aborted()) AbortTransfers();
      if (m_parked > 0) WakeParked();
      {
        std::lock_guard<std::mutex> g(m_inboxLock);
        taken.swap(m_inbox);
      }
      for (VerifyTask& task : taken) Begin(std::move(task));
      taken.clear();
    }
  }

  void Begin(VerifyTask task) {
    const std::uint64_t id = ++m_lastId;
    auto check = std::make_unique<Check>();
    check->step = std::make_unique<CVerifyStep>(task, [this] { return m_engine.Aborted(); });
    Check* c = check.get();
    m_checks.emplace(id, std::move(check));
    Advance(id, *c);
  }

  // Takes the check to its next transfer, or to its end.
  void Advance(std::uint64_t id, Check& c) {
    for (;;) {
      const CVerifyStep::Want want = c.step->Next();
      if (want == CVerifyStep::Want::Wait) {
        if (!c.parked) ++m_parked;
        c.parked = true;
        return;
      }
      if (c.parked) --m_parked;
      c.parked = false;
      if (want == CVerifyStep::Want::Done) {
        VerifyResult result = c.step->TakeResult();
        m_checks.erase(id);
        m_inFlight.fetch_sub(1);
        if (m_engine.m_done) m_engine.m_done(std::move(result));
        return;
      }
      CURL* easy = c.step->Easy();
      curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
      curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)));
      if (m_engine.Aborted()) {
        c.step->Finish(CURLE_ABORTED_BY_CALLBACK);
        continue;
      }
      c.cache = m_caches.Take(easy);
      if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        m_caches.Give(easy, c.cache);
        c.cache = -1;
        c.step->Finish(CURLE_FAILED_INIT);
        continue;
      }
      c.easy = easy;
      const Clock::time_point now = Clock::now();
      c.step->ReplyExpired(now, c.replyLook);
      m_looks.push({c.replyLook, id});
      return;
    }
  }

  void Remove(Check& c) {
    curl_multi_remove_handle(m_multi, c.easy);
    m_caches.Give(c.easy, c.cache);
    c.easy = nullptr;
    c.cache = -1;
  }

  void End(std::uint64_t id, Check& c, int code) {
    Remove(c);
    c.step->Finish(code);
    Advance(id, c);
  }

  // Every message is read before any transfer is removed: removing one looks through
  // the messages still queued, and a round in which thousands end together would look
  // through thousands for each.
  void TakeFinished() {
    int queued = 0;
    m_finished.clear();
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
      if (msg->msg == CURLMSG_DONE) m_finished.push_back({msg->easy_handle, msg->data.result});
    }
    for (const auto& [easy, code] : m_finished) {
      void* priv = nullptr;
      curl_easy_getinfo(easy, CURLINFO_PRIVATE, &priv);
      const auto id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(priv));
      const auto it = m_checks.find(id);
      if (it == m_checks.end() || it->second->easy != easy) {
        curl_multi_remove_handle(m_multi, easy);
        continue;
      }
      End(id, *it->second, code);
    }
  }

  // The reply time-outs that fell due: each check says whether it heard nothing for
  // its time, or when to look again.
  void LookAtReplies() {
    const Clock::time_point now = Clock::now();
    while (!m_looks.empty() && m_looks.top().first <= now) {
      const Look look = m_looks.top();
      m_looks.pop();
      const auto it = m_checks.find(look.second);
      if (it == m_checks.end()) continue;
      Check& c = *it->second;
      if (!c.easy || c.replyLook != look.first) continue;
      if (c.step->ReplyExpired(now, c.replyLook)) {
        End(look.second, c, CURLE_OPERATION_TIMEDOUT);
      } else {
        m_looks.push({c.replyLook, look.second});
      }
    }
  }

  void AbortTransfers() {
    ForEachCheck([](const Check& c) { return c.easy != nullptr; },
                 [this](std::uint64_t id, Check& c) { End(id, c, CURLE_ABORTED_BY_CALLBACK); });
  }

  void WakeParked() {
    ForEachCheck([](const Check& c) { return c.parked; },
                 [this](std::uint64_t id, Check& c) { Advance(id, c); });
  }

  // Acts on each check that matches. The ids are taken first: acting may end a check,
  // or finish one and report it, which changes the map; a check that stops matching
  // before its turn is passed over.
  template <class Match, class Act>
  void ForEachCheck(Match match, Act act) {
    std::vector<std::uint64_t> ids;
    for (const auto& [id, check] : m_checks) {
      if (match(*check)) ids.push_back(id);
    }
    for (std::uint64_t id : ids) {
      const auto it = m_checks.find(id);
      if (it != m_checks.end() && match(*it->second)) act(id, *it->second);
    }
  }

  CVerifyEngine& m_engine;
  int m_epoll = -1;
  int m_wake = -1;
  CURLM* m_multi = nullptr;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_inFlight{0};

  std::mutex m_inboxLock;
  std::vector<VerifyTask> m_inbox;

  // Everything below belongs to the loop's thread.
  std::unordered_map<std::uint64_t, std::unique_ptr<Check>> m_checks;
  std::uint64_t m_lastId = 0;
  int m_parked = 0;
  bool m_curlTimerSet = false;
  Clock::time_point m_curlTimer{};
  std::priority_queue<Look, std::vector<Look>, std::greater<Look>> m_looks;
  std::vector<std::pair<CURL*, int>> m_finished;
  ConnectionCaches m_caches;
};

CVerifyEngine::CVerifyEngine(Done done, int loops) : m_done(std::move(done)) {
  if (loops <= 0) loops = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int i = 0; i < loops; ++i) {
    auto loop = std::make_unique<Loop>(*this);
    if (!loop->Start()) break;
    m_loops.push_back(std::move(loop));
  }
}

CVerifyEngine::~CVerifyEngine() {
  m_abort.store(true);
  // Each loop ends its thread before any is freed: none calls back into a gone one.
  for (auto& loop : m_loops) loop->Stop();
  m_loops.clear();
}

void CVerifyEngine::Submit(VerifyTask task) {
  if (m_loops.empty()) return;
  Loop* best = m_loops.front().get();
  for (auto& loop : m_loops) {
    if (loop->InFlight() < best->InFlight()) best = loop.get();
  }
  best->Submit(std::move(task));
}

void CVerifyEngine::Abort() {
  m_abort.store(true);
  for (auto& loop : m_loops) loop->Wake();
}

int CVerifyEngine::InFlight() const {
  int n = 0;
  for (const auto& loop : m_loops) n += loop->InFlight();
  return n;
}

int FitOpenFileLimit(int checks) {
  const rlim_t want = static_cast<rlim_t>(checks) * kFilesPerCheck + kFilesReserved;
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return checks;
  if (lim.rlim_cur < want) {
    rlimit raised = lim;
    // The hard limit moves only with privilege; where it does, ask for enough.
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < want) {
      raised.rlim_max = want;
      raised.rlim_cur = want;
      if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) raised = lim;
    }
    if (raised.rlim_cur < want) {
      raised.rlim_cur = raised.rlim_max == RLIM_INFINITY ? want : std::min<rlim_t>(want, raised.rlim_max);
      ::setrlimit(RLIMIT_NOFILE, &raised);
    }
    ::getrlimit(RLIMIT_NOFILE, &lim);
  }
  if (lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur >= want) return checks;
  const long long fit = (static_cast<long long>(lim.rlim_cur) - kFilesReserved) / kFilesPerCheck;
  return static_cast<int>(std::clamp<long long>(fit, 1, checks));
}

}  // namespace qb
