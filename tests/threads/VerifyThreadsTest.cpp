// The verification worker's transfer loop on several threads at once, and an abort
// from another thread, driven without Qt's signals: each thread runs its worker's
// Verify(task) directly. The proxy is a small HTTP proxy of this test on loopback
// that answers every request itself, so nothing is forwarded anywhere.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"
#include "verify/VerifyTask.h"

using namespace qb;

namespace {

constexpr const char* kFeature = "quillberry-threads-feature";

// Listens on 127.0.0.1 on a free port. In answer mode it reads a request head and
// sends a page with the feature string; in silent mode it takes connections and never
// sends a byte.
class LoopbackProxy {
 public:
  explicit LoopbackProxy(bool silent) : m_silent(silent) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listen, 64) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~LoopbackProxy() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    for (int fd : m_held) ::close(fd);
    if (m_listen >= 0) ::close(m_listen);
  }
  int Port() const { return m_port; }
  int Requests() const { return m_requests.load(); }

 private:
  void Serve() {
    while (!m_stop) {
      pollfd p{m_listen, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(m_listen, nullptr, nullptr);
      if (fd < 0) continue;
      if (m_silent) {
        m_held.push_back(fd);
        continue;
      }
      Answer(fd);
      ::close(fd);
    }
  }
  void Answer(int fd) {
    std::string head;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      head.append(buf, static_cast<std::size_t>(n));
    }
    m_requests.fetch_add(1);
    const std::string body = std::string("<html><body>\r\n") + kFeature + "\r\n</body></html>\r\n";
    const std::string reply =
        "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  bool m_silent;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_requests{0};
  std::vector<int> m_held;  // the silent mode's connections, touched by Serve only
  std::thread m_thread;
};

VerifyTask TaskThrough(int port, int slot) {
  VerifyTask t;
  t.id = static_cast<std::uint64_t>(slot) + 1;
  t.slot = slot;
  t.row = slot;
  t.kind = ProxyKind::Http;
  t.address = "127.0.0.1";
  t.port = static_cast<std::uint16_t>(port);
  // The proxy answers by itself; this origin is never connected to.
  t.resource = {"http://127.0.0.1:9/feature.html", kFeature, {}, {}};
  t.connectTimeoutMs = 5000;
  t.replyTimeoutMs = 10000;
  t.transferCapMs = 30000;
  return t;
}

TEST(VerifyThreads, WorkersOnSeveralThreadsEachFindTheFeature) {
  LoopbackProxy proxy(false);
  ASSERT_NE(proxy.Port(), 0);
  constexpr int kThreads = 4;
  constexpr int kTasksEach = 5;
  std::vector<std::unique_ptr<CVerifyProxyThread>> workers;
  for (int i = 0; i < kThreads; ++i) workers.push_back(std::make_unique<CVerifyProxyThread>());
  std::vector<std::vector<VerifyResult>> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < kTasksEach; ++k)
        results[i].push_back(workers[i]->Verify(TaskThrough(proxy.Port(), i)));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_EQ(results[i].size(), static_cast<std::size_t>(kTasksEach));
    for (const VerifyResult& r : results[i]) {
      EXPECT_EQ(r.status, VERIFY_OK) << "worker " << i;
      EXPECT_EQ(r.taskId, static_cast<std::uint64_t>(i) + 1);
      EXPECT_EQ(r.slot, i);
    }
  }
  EXPECT_EQ(proxy.Requests(), kThreads * kTasksEach);
}

TEST(VerifyThreads, AnAbortFromAnotherThreadEndsAHungTransferAtOnce) {
  LoopbackProxy silent(true);
  ASSERT_NE(silent.Port(), 0);
  std::vector<std::unique_ptr<CVerifyProxyThread>> workers;
  for (int i = 0; i < 3; ++i) workers.push_back(std::make_unique<CVerifyProxyThread>());
  std::vector<VerifyResult> results(workers.size());
  std::vector<double> seconds(workers.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < workers.size(); ++i) {
    threads.emplace_back([&, i] {
      const auto start = std::chrono::steady_clock::now();
      results[i] = workers[i]->Verify(TaskThrough(silent.Port(), static_cast<int>(i)));
      seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
  }
  // The transfers sit waiting for an answer that never comes (reply time-out 10 s).
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  workers[0]->Abort();
  CVerifyProxyThread::AbortAll();
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < workers.size(); ++i) {
    EXPECT_TRUE(workers[i]->Aborted());
    EXPECT_NE(results[i].status, VERIFY_OK);
    EXPECT_LT(seconds[i], 8.0) << "worker " << i << " was not woken by the abort";
  }
}

// The engine's results, gathered from its loop threads; Wait returns once n are in.
class EngineResults {
 public:
  void Take(VerifyResult r) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_results.push_back(std::move(r));
    m_changed.notify_all();
  }
  std::vector<VerifyResult> Wait(std::size_t n, std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, limit, [&] { return m_results.size() >= n; });
    return m_results;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<VerifyResult> m_results;
};

TEST(VerifyThreads, TheEngineTakesTasksFromSeveralThreadsAndAnAbortFromAnother) {
  LoopbackProxy answering(false);
  LoopbackProxy silent(true);
  ASSERT_NE(answering.Port(), 0);
  ASSERT_NE(silent.Port(), 0);
  EngineResults results;
  {
    CVerifyEngine engine([&](VerifyResult r) { results.Take(std::move(r)); }, 2);
    ASSERT_TRUE(engine.Valid());
    // Two submitting threads, each half to a proxy that answers and half to one that
    // never does (reply time-out 0.3 s); the ids tell which was which.
    constexpr int kEach = 20;
    std::vector<std::thread> submitters;
    for (int t = 0; t < 2; ++t) {
      submitters.emplace_back([&, t] {
        for (int k = 0; k < kEach; ++k) {
          const int slot = t * kEach + k;
          VerifyTask task = TaskThrough(slot % 2 ? silent.Port() : answering.Port(), slot);
          task.replyTimeoutMs = 300;
          engine.Submit(std::move(task));
        }
      });
    }
    for (std::thread& t : submitters) t.join();
    const std::vector<VerifyResult> first = results.Wait(2 * kEach, std::chrono::seconds(60));
    ASSERT_EQ(first.size(), static_cast<std::size_t>(2 * kEach));
    std::vector<int> seen(2 * kEach, 0);
    for (const VerifyResult& r : first) {
      ASSERT_GE(r.slot, 0);
      ASSERT_LT(r.slot, 2 * kEach);
      ++seen[r.slot];
      EXPECT_EQ(r.status, r.slot % 2 ? VERIFY_TIMEOUT : VERIFY_OK) << "task " << r.slot;
    }
    for (int n : seen) EXPECT_EQ(n, 1);
    EXPECT_EQ(answering.Requests(), kEach);

    // Hung checks (reply time-out 10 s), then an abort from a thread of its own: every
    // one still reports, at once and not as working.
    constexpr int kHung = 10;
    for (int k = 0; k < kHung; ++k) engine.Submit(TaskThrough(silent.Port(), 100 + k));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto start = std::chrono::steady_clock::now();
    std::thread([&] { engine.Abort(); }).join();
    const std::vector<VerifyResult> all = results.Wait(2 * kEach + kHung, std::chrono::seconds(60));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(2 * kEach + kHung));
    for (std::size_t i = 2 * kEach; i < all.size(); ++i) EXPECT_NE(all[i].status, VERIFY_OK);
    EXPECT_LT(seconds, 8.0) << "the abort did not wake the loops";
    EXPECT_TRUE(engine.Aborted());
  }
}

}  // namespace
