// A verification worker: tests one proxy at a time on a thread of its own.
//
// The control posts it a task value; the worker fetches the task's resource with
// libcurl through the proxy under test only, and answers with a result value over a
// queued signal. The worker never waits for the control and shares no field with it,
// so a worker that is given up can simply be left to end by itself.
#pragma once

#include <QtGlobal>

#include <QObject>
#include <QString>

#include "base/CurlTransfer.h"
#include "verify/VerifyStep.h"
#include "verify/VerifyTask.h"

class QThread;

namespace qb {

class CVerifyProxyThread : public QObject {
  Q_OBJECT

 public:
  CVerifyProxyThread();
  ~CVerifyProxyThread() override;
  CVerifyProxyThread(const CVerifyProxyThread&) = delete;
  CVerifyProxyThread& operator=(const CVerifyProxyThread&) = delete;

  // Creates the worker's thread and starts its event loop. False when the thread
  // could not be started; the object is then still owned by the caller. On success
  // the object frees itself (on the thread that created it) once its thread has
  // ended after PostQuit.
  bool CreateThread();
  bool ThreadStarted() const { return m_pThread != nullptr; }

  // Queues a task on the worker's thread; Finished follows. False when the thread was
  // never started.
  bool Post(VerifyTask task);
  // Queues the end of the worker's thread.
  bool PostQuit();

  // Runs one task to its end on the calling thread, reporting each progress text with
  // StatusText as it happens. Tests use it to take one route without a thread.
  VerifyResult Verify(const VerifyTask& task);

  // Ends the transfer in progress at once and makes every later transfer of this
  // worker end at once too; for a worker that is being given up or at exit. Safe to
  // call from any thread while the object exists.
  void Abort() { m_transfer.Abort(); }
  bool Aborted() const { return m_transfer.Aborted(); }

  // Worker threads that have not been fully ended and freed, process-wide. The
  // threads are freed by the event loop of the thread that created them. At exit the
  // program may only return normally once this is 0 (a running thread must not meet
  // the destruction of the process's statics).
  static int LiveThreadCount();
  // Abort() on every worker object that still exists, the given-up ones included.
  static void AbortAll();

 signals:
  // A progress text of the task in progress. Only information.
  void StatusText(quint64 taskId, int slot, int row, const QString& text);
  // The task's result. Emitted on the worker's thread; receivers on other threads get
  // it queued.
  void Finished(const VerifyResult& result);

 private:
  void OnQuitVerify();

  QThread* m_pThread = nullptr;
  // Holds the multi handle of this worker's transfers, so that Abort can wake one.
  qb::CurlTransfer m_transfer;
};

}  // namespace qb
