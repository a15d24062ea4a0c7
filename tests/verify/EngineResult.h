// A task's result as the engine gives it, for the tests that check one step both ways.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "verify/VerifyEngine.h"
#include "verify/VerifyTask.h"

namespace qbtest {

// The engine's result for task, or an empty result when none came within wait.
inline qb::VerifyResult ResultOnEngine(const qb::VerifyTask& task,
                                       std::chrono::seconds wait = std::chrono::seconds(30)) {
  std::mutex lock;
  std::condition_variable arrived;
  std::optional<qb::VerifyResult> result;
  qb::CVerifyEngine engine([&](qb::VerifyResult r) {
    std::lock_guard<std::mutex> g(lock);
    result = std::move(r);
    arrived.notify_all();
  });
  engine.Submit(task);
  std::unique_lock<std::mutex> g(lock);
  arrived.wait_for(g, wait, [&] { return result.has_value(); });
  return result.value_or(qb::VerifyResult{});
}

}  // namespace qbtest
