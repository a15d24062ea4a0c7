// Signals a child process of a test. A QProcess that has ended gives 0 as its process
// id, and kill(0, ...) would signal the whole process group: the test runner and
// everything that started it. So a child that is gone is never signalled.
#pragma once

#include <QProcess>

#include <signal.h>
#include <sys/types.h>

namespace qbtest {

// False (and nothing is signalled) when the process no longer runs.
inline bool SignalProcess(const QProcess& process, int sig) {
  const auto pid = static_cast<pid_t>(process.processId());
  if (pid <= 0 || process.state() == QProcess::NotRunning) return false;
  return ::kill(pid, sig) == 0;
}

// Kills a child and reaps it. True only when the kill is what ended it: a child that
// has exited, but that its QProcess has not yet noticed, still takes the signal.
inline bool KillAndReap(QProcess& process, int waitMs = 30000) {
  const bool signalled = SignalProcess(process, SIGKILL);
  process.waitForFinished(waitMs);
  return signalled && process.exitStatus() == QProcess::CrashExit;
}

}  // namespace qbtest
