// The check engine: thousands of verification tasks in flight on a few event loops.
//
// A thread per task (CVerifyProxyThread) costs a stack and a context switch per
// event, which keeps the window at its 100 workers. Here each loop owns one libcurl
// multi handle driven by epoll (curl_multi_socket_action with socket and timer
// callbacks), and each task is a CVerifyStep, the same object the thread worker
// runs, so both give the same results. Results leave through a callback on the
// loop's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "verify/VerifyTask.h"

namespace qb {

class CVerifyEngine {
 public:
  // Each task's result, called on one of the engine's threads.
  using Done = std::function<void(VerifyResult)>;

  // loops <= 0: one per processor.
  explicit CVerifyEngine(Done done, int loops = 0);
  // Gives up every task still in flight (without reporting it) and ends the loops.
  ~CVerifyEngine();
  CVerifyEngine(const CVerifyEngine&) = delete;
  CVerifyEngine& operator=(const CVerifyEngine&) = delete;

  // False when no loop could be started; nothing submitted then is ever done.
  bool Valid() const { return !m_loops.empty(); }
  int Loops() const { return static_cast<int>(m_loops.size()); }

  // Hands a task to the least busy loop. Safe from any thread.
  void Submit(VerifyTask task);
  // Ends every transfer in flight at once, and every later one too; their results
  // still come (as from an aborted thread worker). Safe from any thread.
  void Abort();
  bool Aborted() const { return m_abort.load(std::memory_order_relaxed); }
  // Tasks submitted and not yet done.
  int InFlight() const;

  class Loop;

 private:
  Done m_done;
  std::atomic<bool> m_abort{false};
  std::vector<std::unique_ptr<Loop>> m_loops;
};

// The open-file limit for about `checks` transfers at once: the soft limit is raised
// as far as the hard one, and the hard one too where privilege allows. Returns how
// many checks fit under what the limit became (at least 1, at most checks).
int FitOpenFileLimit(int checks);

}  // namespace qb
