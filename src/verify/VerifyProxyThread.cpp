#include "verify/VerifyProxyThread.h"

#include <QThread>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_set>

namespace qb {

namespace {

std::atomic<int> g_liveThreads{0};

// Every worker object that exists, so that exit can stop them all without the
// control having to track the ones it gave up.
std::mutex g_registryLock;
std::unordered_set<CVerifyProxyThread*>& Registry() {
  static auto* s =
      new std::unordered_set<CVerifyProxyThread*>;  // never destroyed: workers may outlive statics
  return *s;
}

// How long a wait for another worker's direct request to the judge lasts before the
// next look.
constexpr int kWaitForOthersMs = 10;

// A worker's thread. It counts as live until its object is destroyed, which happens
// only after the thread has finished: then nothing of it can still run when the
// process ends.
class CWorkerThread : public QThread {
 public:
  CWorkerThread() { g_liveThreads.fetch_add(1); }
  ~CWorkerThread() override {
    // Reached through deleteLater after finished(); the thread is past its last
    // event, so this only lets it leave the last lines of its exit path.
    wait();
    g_liveThreads.fetch_sub(1);
  }
};

}  // namespace

CVerifyProxyThread::CVerifyProxyThread() {
  qRegisterMetaType<VerifyResult>();
  std::lock_guard<std::mutex> g(g_registryLock);
  Registry().insert(this);
}

CVerifyProxyThread::~CVerifyProxyThread() {
  std::lock_guard<std::mutex> g(g_registryLock);
  Registry().erase(this);
}

int CVerifyProxyThread::LiveThreadCount() {
  return g_liveThreads.load();
}

void CVerifyProxyThread::AbortAll() {
  std::lock_guard<std::mutex> g(g_registryLock);
  for (CVerifyProxyThread* w : Registry()) w->Abort();
}

bool CVerifyProxyThread::CreateThread() {
  if (m_pThread) return true;
  auto* thread = new CWorkerThread;
  thread->setObjectName(QStringLiteral("CVerifyProxyThread"));
  thread->start();
  if (!thread->isRunning()) {
    delete thread;
    return false;
  }
  m_pThread = thread;
  moveToThread(thread);
  // The object ends on its own thread, after its last event; the thread object ends
  // on the thread that created it, once that thread runs its loop again.
  QObject::connect(thread, &QThread::finished, this, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  return true;
}

bool CVerifyProxyThread::Post(VerifyTask task) {
  if (!m_pThread) return false;
  return QMetaObject::invokeMethod(
      this, [this, task = std::move(task)] { emit Finished(Verify(task)); }, Qt::QueuedConnection);
}

bool CVerifyProxyThread::PostQuit() {
  if (!m_pThread) return false;
  return QMetaObject::invokeMethod(this, &CVerifyProxyThread::OnQuitVerify, Qt::QueuedConnection);
}

void CVerifyProxyThread::OnQuitVerify() {
  // The network objects live only inside a task, so nothing is held here.
  if (m_pThread) m_pThread->quit();
}

VerifyResult CVerifyProxyThread::Verify(const VerifyTask& task) {
  CVerifyStep step(
      task, [this] { return Aborted(); },
      [this, &task](const std::string& text) {
        emit StatusText(task.id, task.slot, task.row, QString::fromStdString(text));
      });
  for (;;) {
    const CVerifyStep::Want want = step.Next();
    if (want == CVerifyStep::Want::Done) break;
    if (want == CVerifyStep::Want::Wait) {
      QThread::msleep(kWaitForOthersMs);
      continue;
    }
    bool expired = false;
    // Each round looks at the reply time-out and sleeps no longer than until it falls due.
    const qb::CurlTransfer::Outcome out = m_transfer.Run(step.Easy(), [&step, &expired] {
      const auto now = CVerifyStep::Clock::now();
      CVerifyStep::Clock::time_point again;
      if (step.ReplyExpired(now, again)) {
        expired = true;
        return -1;
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(again - now).count() + 1;
      return static_cast<int>(std::clamp<long long>(ms, 1, 1000));
    });
    int code = CURLE_FAILED_INIT;
    if (out.end == qb::CurlTransfer::End::Done) code = out.code;
    if (out.end == qb::CurlTransfer::End::Aborted) code = CURLE_ABORTED_BY_CALLBACK;
    if (out.end == qb::CurlTransfer::End::Stopped && expired) code = CURLE_OPERATION_TIMEDOUT;
    step.Finish(code);
  }
  return step.TakeResult();
}

}  // namespace qb
