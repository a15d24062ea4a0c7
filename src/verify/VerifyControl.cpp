#include "verify/VerifyControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <new>

#include "base/Prompt.h"
#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/ProgramDir.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"

CVerifyProxyThread* g_apVerifyThreads[kVerifySlots] = {};
bool g_bListSortable = true;

std::string VerifyResultText(int status, double seconds) {
  switch (status) {
    case VERIFY_ERROR:
      return kStatusException;
    case VERIFY_UNSUPPORTED:
      return kStatusUnsupported;
    case VERIFY_PROXYFAILED:
      return kStatusConnectFailed;
    case VERIFY_PASSWORD:
      return kStatusPasswordMismatch;
    case VERIFY_MISMATCH:
      return kStatusMismatch;
    case VERIFY_OK:
      return qb::Format("%.1f", seconds);
    default:
      return kStatusTimeout;
  }
}

CVerifyControl::CVerifyControl(CProxyListModel& list, CSettings& settings, QObject* parent)
    : QObject(parent), m_list(list), m_settings(settings) {
  m_inFlight.fill(-1);
  m_factory = [] { return new (std::nothrow) CVerifyProxyThread; };
  m_recycleTimer.setInterval(kRecyclePeriodMs);
  m_autoVerifyTimer.setInterval(kAutoVerifyPeriodMs);
  m_hintTimer.setInterval(kHintPeriodMs);
  connect(&m_recycleTimer, &QTimer::timeout, this, [this] { OnTimer(TIMER_RECYCLE_THREADS); });
  connect(&m_autoVerifyTimer, &QTimer::timeout, this, [this] { OnTimer(TIMER_AUTO_VERIFY); });
  connect(&m_hintTimer, &QTimer::timeout, this, [this] { OnTimer(TIMER_HINT); });
}

CVerifyControl::~CVerifyControl() {
  Shutdown();
}

void CVerifyControl::StartTimers() {
  m_recycleTimer.start();
  m_autoVerifyTimer.start();
  m_hintTimer.start();
}

void CVerifyControl::SetFtpFallback(std::string url, std::string feature) {
  m_sFallbackFtpUrl = std::move(url);
  m_sFallbackFtpFeature = std::move(feature);
}

int CVerifyControl::ThreadNumber() const {
  // The slot table has room for 105; a number outside the settings' range must not
  // reach past it.
  return std::clamp(m_settings.m_nThreadNumber, kMinThreadNumber, kMaxThreadNumber);
}

CVerifyControl::Resources CVerifyControl::ChooseResources() const {
  const CheckedVerifySources c = GetCheckedVerifySources(m_settings);
  Resources r{c.httpUrl, c.httpFeature, c.ftpUrl, c.ftpFeature, false};
  if (r.ftpUrl.empty()) {
    r.ftpUrl = m_sFallbackFtpUrl;
    r.ftpFeature = m_sFallbackFtpFeature;
    r.ftpFallback = true;
  }
  return r;
}

bool CVerifyControl::RowSelected(int row) const {
  return m_list.selectionModel()->isRowSelected(row, QModelIndex());
}

CVerifyProxyThread* CVerifyControl::CreateWorker() {
  CVerifyProxyThread* w = m_factory ? m_factory() : nullptr;
  if (!w) return nullptr;
  // The worker waits in its done report until this object has handled it.
  connect(w, &CVerifyProxyThread::DoneReport, this, &CVerifyControl::OnVerifyDone,
          Qt::BlockingQueuedConnection);
  connect(w, &CVerifyProxyThread::StatusReport, this, &CVerifyControl::OnWorkerStatus, Qt::QueuedConnection);
  return w;
}

void CVerifyControl::DisposeWorker(CVerifyProxyThread* w) {
  if (!w) return;
  // A started worker ends its thread and frees itself; one that never ran is ours.
  if (w->ThreadStarted()) {
    w->PostThreadMessage(WM_QUITVERIFY);
  } else {
    delete w;
  }
}

void CVerifyControl::StartWatchdog(int nID) {
  QTimer*& t = m_watchdogs[static_cast<std::size_t>(nID)];
  if (!t) {
    t = new QTimer(this);
    t->setSingleShot(true);
    // A coarse timer may fire up to 5 % early and give up a worker that was still
    // inside its time.
    t->setTimerType(Qt::PreciseTimer);
    connect(t, &QTimer::timeout, this, [this, nID] { OnTimer(TIMER_WATCHDOG_BASE + nID); });
  }
  t->start(m_nWatchdogMs);
}

void CVerifyControl::StopWatchdog(int nID) {
  if (QTimer* t = m_watchdogs[static_cast<std::size_t>(nID)]) t->stop();
}

bool CVerifyControl::HandRow(int nID, int r, bool atStart, const Resources& res) {
  CVerifyProxyThread* w = g_apVerifyThreads[nID];
  const std::string line = m_list.GetProxyLine(r);
  w->SetTarget(this, WM_VERIFYSTATUS, WM_VERIFYDONE, nID, r);
  m_nNextItem = r + 1;
  if (!w->SetProxy(line)) return false;
  w->ClearVerifyItems();
  ProxyFields f;
  ParseProxyLine(line, f);
  if (qb::AsciiUpper(f.type) == "FTP") {
    w->AddVerifyItem(res.ftpUrl, res.ftpFeature);
  } else {
    w->AddVerifyItem(res.httpUrl, res.httpFeature);
  }
  if (atStart && !w->ThreadStarted() && !w->CreateThread()) return false;
  m_list.SetTimeStatus(r, kStatusVerifying);
  StartWatchdog(nID);
  m_inFlight[static_cast<std::size_t>(nID)] = r;
  ++m_nRunningThreads;
  return true;
}

void CVerifyControl::OnVerifyAll() {
  StartRun(true);
}
void CVerifyControl::OnVerifySelected() {
  StartRun(false);
}

void CVerifyControl::StartRun(bool all) {
  if (m_bShutDown) return;
  const int button = all ? verifyid::kVerifyAll : verifyid::kVerifySelected;
  const int other = all ? verifyid::kVerifySelected : verifyid::kVerifyAll;
  g_bListSortable = false;

  // A start while a stopped run is still winding down: wait for it. Flipping the flag
  // back here would make the stopped run hand out rows again.
  if (m_bIdle && m_nRunningThreads > 0) {
    FinishVerification();
    return;
  }
  m_bIdle = !m_bIdle;
  if (m_bIdle) {
    // A run was active: this press asks it to stop.
    emit ControlEnabled(button, false);
    emit ControlText(button, QString::fromUtf8(kCaptionStopping1));
    return;
  }

  const int rows = m_list.RowCount();
  int first = 0;
  int selected = 0;
  if (all) {
    if (rows == 0) {
      qb::ShowMessage(kMsgEmptyList, kCaptionVerifyAll, qb::MsgIcon::Warning);
      FinishVerification();
      return;
    }
  } else {
    const std::vector<int> sel = m_list.SelectedRows();
    if (sel.empty()) {
      qb::ShowMessage(kMsgNoSelection, kCaptionVerifySelected, qb::MsgIcon::Warning);
      FinishVerification();
      return;
    }
    first = sel.front();
    selected = static_cast<int>(sel.size());
  }

  const Resources res = ChooseResources();
  bool ftpRow = false;
  for (int r = first; r < rows && !ftpRow; ++r) {
    if (!all && !RowSelected(r)) continue;
    ProxyFields f;
    ParseProxyLine(m_list.GetProxyLine(r), f);
    ftpRow = qb::AsciiUpper(f.type) == "FTP";
  }
  if (res.httpUrl.empty()) {
    qb::ShowMessage(kMsgNoHttpSource, kCaptionVerifyAll, qb::MsgIcon::Warning);
    FinishVerification();
    return;
  }
  if (res.ftpFallback && ftpRow &&
      qb::Prompt().Message(kMsgNoFtpSource, kCaptionVerifyAll, qb::MsgIcon::Warning, qb::MsgButtons::YesNo) !=
          qb::MsgResult::Yes) {
    FinishVerification();
    return;
  }
  if (m_nRunningThreads != 0) {
    FinishVerification();
    return;
  }

  emit ControlText(button, QString::fromUtf8(kCaptionStopVerify));
  emit ControlEnabled(other, false);
  LockControls();

  m_nNextItem = all ? 0 : first;
  const int n = std::min(all ? rows : selected, ThreadNumber());
  for (int k = 0; k < n; ++k) {
    if (g_apVerifyThreads[k]) continue;
    g_apVerifyThreads[k] = CreateWorker();
    if (!g_apVerifyThreads[k]) {
      qb::ShowMessage(kMsgWorkerFailed, kCaptionVerifyFailed, qb::MsgIcon::Error);
      FinishVerification();
      return;
    }
  }

  for (int k = 0; k < n; ++k) {
    bool inFlight = false;
    while (!inFlight && m_nNextItem < rows) {
      if (!all && !RowSelected(m_nNextItem)) {
        ++m_nNextItem;
        continue;
      }
      inFlight = HandRow(k, m_nNextItem, true, res);
    }
    if (!inFlight) break;
  }

  m_bVerifyAll = all ? 1 : 0;
  if (m_nRunningThreads == 0) {
    // No worker could take a row: nothing would ever report and end the run.
    FinishVerification();
    return;
  }
  if (!all && selected == 1 && m_nRunningThreads == 1) {
    ProxyFields f;
    ParseProxyLine(m_list.GetProxyLine(m_inFlight[0]), f);
    const std::string type = qb::AsciiUpper(f.type);
    if (type == "HTTP" || type == "HTTPS" || type == "SOCKS4" || type == "SOCKS5" || type == "SOCKS") {
      g_bCaptureVerifyPage = true;
      g_sVerifyPage.clear();
      emit ResultViewOpened(QString::fromUtf8(kResultStatusPrefix) + QString::fromUtf8(kStatusVerifying),
                            QString::fromStdString(g_sVerifyPage));
    }
  }
  for (int k = 0; k < kVerifySlots; ++k) {
    if (m_inFlight[static_cast<std::size_t>(k)] >= 0) g_apVerifyThreads[k]->PostThreadMessage(WM_VERIFYPROXY);
  }
  m_nFinished = 0;
  emit ProgressRange(0, all ? rows : selected);
}

void CVerifyControl::OnVerifyDone(CVerifyProxyThread* worker, int nID, int row) {
  m_bCaptionToggle = !m_bCaptionToggle;
  if (m_bIdle) {
    emit ControlText(m_bVerifyAll ? verifyid::kVerifyAll : verifyid::kVerifySelected,
                     QString::fromUtf8(m_bCaptionToggle ? kCaptionStopping1 : kCaptionStopping2));
  }
  // A report counts only from the worker that holds the slot now and has a row in
  // flight: a worker that was given up may still report late into a slot that a new
  // worker holds.
  if (nID < 0 || nID >= ThreadNumber() || !g_apVerifyThreads[nID] || g_apVerifyThreads[nID] != worker ||
      worker->m_nVerifyItems <= 0 || m_inFlight[static_cast<std::size_t>(nID)] < 0) {
    return;
  }
  row = m_inFlight[static_cast<std::size_t>(nID)];
  m_inFlight[static_cast<std::size_t>(nID)] = -1;

  StopWatchdog(nID);
  --m_nRunningThreads;
  ++m_nFinished;

  const VerifyItem& item = worker->m_aVerifyItems[0];
  const std::string text = VerifyResultText(item.m_nStatus, item.m_dTime);
  m_list.SetTimeStatus(row, text);
  emit RowVerified(row, QString::fromStdString(text));

  if (g_bCaptureVerifyPage) {
    g_sVerifyPage += worker->CapturedPage();
    ShowVerifyResult(text);
    g_bCaptureVerifyPage = false;
  }

  const Resources res = ChooseResources();
  const int rows = m_list.RowCount();
  bool handed = false;
  while (!handed && m_nNextItem < rows) {
    if (m_bIdle || (!m_bVerifyAll && !RowSelected(m_nNextItem))) {
      ++m_nNextItem;
      continue;
    }
    handed = HandRow(nID, m_nNextItem, false, res);
  }

  if (m_bVerifyAll) {
    std::string progress = qb::Format(" Sum: %d, Finished: %d, Percentage: %.1f%%", rows, m_nFinished,
                                      rows > 0 ? 100.0 * m_nFinished / rows : 0.0);
    if (m_bIdle) progress += "; Threads ending ...";
    emit ProgressText(QString::fromStdString(progress));
    emit ProgressPos(m_nFinished);
  }

  if (handed) {
    StartWatchdog(nID);
    worker->PostThreadMessage(WM_VERIFYPROXY);
  }
  if (m_nNextItem >= rows && m_nRunningThreads < 1) EndOfRun();
}

void CVerifyControl::EndOfRun() {
  g_bListSortable = true;
  emit StatusLineChanged();
  emit ProgressPos(0);
  FinishVerification();
  const bool all = m_bVerifyAll != 0;
  if (all) {
    m_bVerifyAll = 0;
    m_list.SortRows(CProxyListModel::ColTimeStatus, true);
    emit ListSorted(CProxyListModel::ColTimeStatus, true);
  }
  if (m_saveDir) SaveProxyList(m_list, m_saveDir->empty() ? ProgramDir() : *m_saveDir);
  if (all && m_settings.m_bAutoAddToFavorite && m_list.RowCount() > 0) ChooseFavorites(m_list, m_settings);
  emit RunEnded(all);
}

bool CVerifyControl::LockControls() {
  if (m_nRunningThreads > 0) {
    qb::ShowMessage(kMsgPleaseWait, kCaptionCannotStart, qb::MsgIcon::Information);
    return false;
  }
  for (int id : {verifyid::kSettings, verifyid::kAdd, verifyid::kModify, verifyid::kDelete, verifyid::kClean,
                 verifyid::kImport, verifyid::kPaste, verifyid::kDownload}) {
    emit ControlEnabled(id, false);
  }
  return true;
}

bool CVerifyControl::FinishVerification() {
  if (m_nRunningThreads > 0) {
    qb::ShowMessage(kMsgPleaseWait, kCaptionWaitForEnd, qb::MsgIcon::Information);
    return false;
  }
  for (int k = 0; k < kVerifySlots; ++k) {
    StopWatchdog(k);
    m_inFlight[static_cast<std::size_t>(k)] = -1;
    if (g_apVerifyThreads[k]) {
      DisposeWorker(g_apVerifyThreads[k]);
      g_apVerifyThreads[k] = nullptr;
    }
  }
  for (int id :
       {verifyid::kProxyList, verifyid::kSettings, verifyid::kVerifyAll, verifyid::kVerifySelected,
        verifyid::kButton1009, verifyid::kAdd, verifyid::kModify, verifyid::kDelete, verifyid::kClean,
        verifyid::kImport, verifyid::kPaste, verifyid::kButton1043, verifyid::kDownload}) {
    emit ControlEnabled(id, true);
  }
  emit ControlText(verifyid::kVerifyAll, QString::fromUtf8(kCaptionVerifyAll));
  emit ControlText(verifyid::kVerifySelected, QString::fromUtf8(kCaptionVerifySelected));
  m_bIdle = 1;
  g_bCaptureVerifyPage = false;
  // Every way back to idle leaves the list sortable, a refused start included.
  g_bListSortable = true;
  emit Idle();
  return true;
}

void CVerifyControl::AbandonVerification() {
  for (int k = 0; k < kVerifySlots; ++k) {
    const int row = m_inFlight[static_cast<std::size_t>(k)];
    if (row < 0) continue;
    // Only rows still in flight lose their text; finished rows keep their results.
    m_list.SetTimeStatus(row, kStatusUnverified);
    m_inFlight[static_cast<std::size_t>(k)] = -1;
    if (g_apVerifyThreads[k]) g_apVerifyThreads[k]->Abort();
  }
  m_nRunningThreads = 0;
  FinishVerification();
}

void CVerifyControl::ShowVerifyResult(const std::string& text) {
  emit VerifyResultShown(QString::fromUtf8(kResultStatusPrefix) + QString::fromStdString(text),
                         QString::fromStdString(g_sVerifyPage));
}

void CVerifyControl::RequestStop() {
  if (m_bIdle) return;
  m_bIdle = 1;
  const int button = m_bVerifyAll ? verifyid::kVerifyAll : verifyid::kVerifySelected;
  emit ControlEnabled(button, false);
  emit ControlText(button, QString::fromUtf8(kCaptionStopping1));
}

void CVerifyControl::Watchdog(int nID) {
  StopWatchdog(nID);
  CVerifyProxyThread* old = g_apVerifyThreads[nID];
  if (!old) return;
  const int row = old->m_nLParam;
  const int items = old->m_nVerifyItems;
  // Give the hung worker up: its transfer ends at once, its thread then ends and frees
  // the object; whatever it reports meanwhile is not taken for the new worker's.
  old->Abort();
  DisposeWorker(old);
  g_apVerifyThreads[nID] = nullptr;

  CVerifyProxyThread* w = CreateWorker();
  if (!w) {
    qb::ShowMessage(kMsgWorkerFailed, kCaptionVerifyFailed, qb::MsgIcon::None);
    AbandonVerification();
    return;
  }
  g_apVerifyThreads[nID] = w;
  w->SetTarget(this, WM_VERIFYSTATUS, WM_VERIFYDONE, nID, row);
  w->m_nVerifyItems = items;
  if (!w->CreateThread()) {
    qb::ShowMessage(kMsgWorkerFailed, kCaptionVerifyFailed, qb::MsgIcon::None);
    AbandonVerification();
    return;
  }
  OnVerifyDone(w, nID, row);
}

void CVerifyControl::RecycleThreads() {
  for (int k = 0; k < kVerifySlots; ++k) {
    if (g_apVerifyThreads[k]) {
      DisposeWorker(g_apVerifyThreads[k]);
      g_apVerifyThreads[k] = nullptr;
    }
  }
}

void CVerifyControl::OnTimer(int id) {
  if (m_bShutDown) return;
  if (id == TIMER_RECYCLE_THREADS && m_nRunningThreads == 0) RecycleThreads();
  if (id == TIMER_AUTO_VERIFY && m_settings.m_bAutoTimingVerify && m_nRunningThreads == 0) OnVerifyAll();
  if (id == TIMER_HINT) emit ProgressText(QString::fromUtf8(kTextHint));
  emit TrayIconRefresh();
  if (id >= TIMER_WATCHDOG_BASE && id < TIMER_WATCHDOG_BASE + kVerifySlots)
    Watchdog(id - TIMER_WATCHDOG_BASE);
}

void CVerifyControl::OnWorkerStatus(CVerifyProxyThread* worker, int nID, int row, const QString& text) {
  if (nID >= 0 && nID < kVerifySlots && g_apVerifyThreads[nID] == worker) emit WorkerStatus(nID, row, text);
}

void CVerifyControl::Shutdown() {
  if (m_bShutDown) return;
  m_bShutDown = true;
  m_recycleTimer.stop();
  m_autoVerifyTimer.stop();
  m_hintTimer.stop();
  CVerifyProxyThread::AbortAll();
  for (int k = 0; k < kVerifySlots; ++k) {
    StopWatchdog(k);
    m_inFlight[static_cast<std::size_t>(k)] = -1;
    if (g_apVerifyThreads[k]) {
      DisposeWorker(g_apVerifyThreads[k]);
      g_apVerifyThreads[k] = nullptr;
    }
  }
  m_nRunningThreads = 0;
  m_bIdle = 1;
  g_bCaptureVerifyPage = false;
  g_bListSortable = true;
}

bool CVerifyControl::DrainWorkers(int graceMs) {
  CVerifyProxyThread::AbortAll();
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    // Reports of workers blocked in them are answered here, and the thread objects of
    // finished workers are freed by deferred deletes.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (CVerifyProxyThread::LiveThreadCount() == 0) return true;
    if (clock.elapsed() >= graceMs) return false;
    QThread::msleep(2);
  }
}
