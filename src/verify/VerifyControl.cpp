#include "verify/VerifyControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <mutex>
#include <new>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "datadir/DataDir.h"
#include "history/History.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "verify/Judge.h"
#include "verify/PageSeal.h"

namespace qb {

std::string VerifyResultText(int status, double seconds) {
  switch (status) {
    case VERIFY_ERROR:
      return kStatusException;
    case VERIFY_UNSUPPORTED:
      return kStatusUnsupported;
    case VERIFY_PROXYFAILED:
      return kStatusConnectFailed;
    case VERIFY_UNRESOLVED:
      return kStatusUnresolved;
    case VERIFY_TLS_INTERCEPTED:
      return kStatusTlsIntercepted;
    case VERIFY_MODIFIED:
      return kStatusModified;
    case VERIFY_PASSWORD:
      return kStatusPasswordMismatch;
    case VERIFY_MISMATCH:
      return kStatusMismatch;
    case VERIFY_TIMEOUT:
      return kStatusTimeout;
    case VERIFY_OK:
      return qb::Format("%.1f", seconds);
    default:
      return kStatusTimeout;
  }
}

void ApplyResourceTrust(const VerifyOptions& options, VerifyResource& resource) {
  const std::optional<VerifyUrl> url = SplitVerifyUrl(resource.url);
  if (!url || url->scheme != VerifyUrl::Https) return;
  const std::string host = qb::AsciiLower(url->host);
  if (const auto ca = options.caFiles.find(host); ca != options.caFiles.end()) resource.caFile = ca->second;
  if (const auto pin = options.pins.find(host); pin != options.pins.end()) resource.pinSha256 = pin->second;
}

CVerifyControl::CVerifyControl(DataDir& dir, QObject* parent)
    : CVerifyControl(dir.List(), dir.Settings(), parent) {
  m_dir = &dir;
  m_savesList = true;
}

CVerifyControl::CVerifyControl(CProxyListModel& list, CSettings& settings, QObject* parent)
    : QObject(parent), m_list(list), m_settings(settings) {
  qRegisterMetaType<VerifyResult>();
  m_factory = [] { return new (std::nothrow) CVerifyProxyThread; };
  m_recycleTimer.setInterval(kRecyclePeriodMs);
  m_autoVerifyTimer.setInterval(kAutoVerifyPeriodMs);
  m_hintTimer.setInterval(kHintPeriodMs);
  connect(&m_recycleTimer, &QTimer::timeout, this, &CVerifyControl::OnRecycleTimer);
  connect(&m_autoVerifyTimer, &QTimer::timeout, this, &CVerifyControl::OnAutoVerifyTimer);
  connect(&m_hintTimer, &QTimer::timeout, this, &CVerifyControl::OnHintTimer);
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

CVerifyProxyThread* CVerifyControl::Worker(int slot) const {
  return slot >= 0 && slot < SlotCount() ? m_slots[static_cast<std::size_t>(slot)].worker : nullptr;
}

int CVerifyControl::RowInFlight(int slot) const {
  if (slot < 0 || slot >= SlotCount()) return -1;
  auto& task = m_slots[static_cast<std::size_t>(slot)].task;
  return task ? m_list.FindRow(task->proxy.id, task->proxy.row) : -1;
}

int CVerifyControl::RowOf(Queued& proxy) const {
  proxy.row = m_list.FindRow(proxy.id, proxy.row);
  return proxy.row;
}

int CVerifyControl::ThreadNumber() const {
  if (m_engineChecks > 0) return m_engineChecks;
  // The slot table has room for 105; a number outside the settings' range must not
  // reach past it.
  return std::clamp(m_settings.m_nThreadNumber, kMinThreadNumber, kMaxThreadNumber);
}

CVerifyControl::Resources CVerifyControl::ChooseResources() const {
  const CheckedVerifySources c = GetCheckedVerifySources(m_settings);
  Resources r{{c.httpUrl, c.httpFeature, {}, {}}, {c.ftpUrl, c.ftpFeature, {}, {}}, false};
  ApplyResourceTrust(Trusting(), r.http);
  if (r.ftp.url.empty() && m_ftpWithoutResource == FtpWithoutResource::AskForFallback) {
    r.ftp = {m_sFallbackFtpUrl, m_sFallbackFtpFeature, {}, {}};
    r.ftpFallback = true;
  }
  return r;
}

const VerifyOptions& CVerifyControl::Trusting() const {
  static const VerifyOptions kDefaults;
  return m_verifyOptions ? *m_verifyOptions : m_dir ? m_dir->Options().verify : kDefaults;
}

void CVerifyControl::SetState(RunState state) {
  m_state = state;
  emit RunStateChanged(state);
}

CVerifyProxyThread* CVerifyControl::CreateWorker() {
  CVerifyProxyThread* w = m_factory ? m_factory() : nullptr;
  if (!w) return nullptr;
  connect(w, &CVerifyProxyThread::Finished, this, &CVerifyControl::OnWorkerFinished, Qt::QueuedConnection);
  connect(w, &CVerifyProxyThread::StatusText, this, &CVerifyControl::OnWorkerStatus, Qt::QueuedConnection);
  return w;
}

void CVerifyControl::DisposeWorker(CVerifyProxyThread* w) {
  if (!w) return;
  // A started worker ends its thread and frees itself; one that never ran is ours.
  if (w->ThreadStarted()) {
    w->PostQuit();
  } else {
    delete w;
  }
}

void CVerifyControl::DisposeAllWorkers() {
  // The engine's loops end here; results they had already sent are recognised as late
  // by their task ids.
  m_engine.reset();
  for (int k = 0; k < SlotCount(); ++k) {
    Slot& s = m_slots[static_cast<std::size_t>(k)];
    StopWatchdog(k);
    s.task.reset();
    DisposeWorker(s.worker);
    s.worker = nullptr;
  }
}

void CVerifyControl::StartWatchdog(int slot) {
  QTimer*& t = m_slots[static_cast<std::size_t>(slot)].watchdog;
  if (!t) {
    t = new QTimer(this);
    t->setSingleShot(true);
    // A coarse timer may fire up to 5 % early and give up a worker that was still
    // inside its time.
    t->setTimerType(Qt::PreciseTimer);
    connect(t, &QTimer::timeout, this, [this, slot] { OnWatchdogTimer(slot); });
  }
  t->start(m_watchdogMs);
}

void CVerifyControl::StopWatchdog(int slot) {
  if (QTimer* t = m_slots[static_cast<std::size_t>(slot)].watchdog) t->stop();
}

std::optional<CVerifyControl::Queued> CVerifyControl::TakeQueued() {
  if (!m_named.empty()) {
    Queued q = m_named.front();
    m_named.pop_front();
    return q;
  }
  if (m_next < m_queue.size()) return m_queue[m_next++];
  return std::nullopt;
}

std::optional<VerifyTask> CVerifyControl::HandNext(int slot, const Resources& res) {
  Slot& s = m_slots[static_cast<std::size_t>(slot)];
  const bool engine = m_engine != nullptr;
  if (!engine && !s.worker) return std::nullopt;
  while (std::optional<Queued> taken = TakeQueued()) {
    Queued& proxy = *taken;
    // A proxy that left the list since the run began is passed over.
    const int r = RowOf(proxy);
    const CProxyEntry* e = m_list.Entry(r);
    if (!e) continue;
    const std::optional<ProxyKind> kind = ProxyKindFromType(e->Type());
    const std::optional<std::uint16_t> port = ProxyPortFromText(e->Port());
    if (!kind || !port) continue;
    // Only when FTP rows are to be skipped is there no FTP resource at all.
    if (*kind == ProxyKind::Ftp && res.ftp.url.empty()) continue;

    // A name not yet settled waits aside, holding no slot; a row with an address goes
    // out meanwhile.
    std::string address = e->Addr();
    std::optional<std::vector<std::string>> found;
    if (HostKindOf(address) == HostKind::Name) {
      auto waiting = m_awaitingName.find(address);
      if (waiting == m_awaitingName.end()) {
        found = m_resolver->Find(address, [notice = m_nameNotice](const std::string& name) {
          std::lock_guard<std::mutex> g(notice->lock);
          if (CVerifyControl* control = notice->control)
            QMetaObject::invokeMethod(
                control, [control, name] { control->OnNameSettled(name); }, Qt::QueuedConnection);
        });
        if (!found) waiting = m_awaitingName.try_emplace(address).first;
      }
      if (!found) {
        waiting->second.push_back(proxy);
        ++m_awaiting;
        continue;
      }
    }
    if (!engine && !s.worker->ThreadStarted() && !s.worker->CreateThread()) continue;

    VerifyTask task;
    task.id = ++m_lastTaskId;
    task.slot = slot;
    task.row = r;
    task.kind = *kind;
    task.address = std::move(address);
    task.port = *port;
    if (found) {
      task.addresses = std::move(*found);
      task.nameUnresolved = task.addresses.empty();
    }
    task.resolver = m_resolver;
    if (const std::optional<ProxyCredentials> logOn = m_credentials.Find(*e)) {
      task.proxyUser = logOn->user;
      task.proxyPassword = logOn->password;
    }
    task.resource = *kind == ProxyKind::Ftp ? res.ftp : res.http;
    // Read here, on the thread that owns them, and carried by value: a worker never
    // reads a setting the window may be changing.
    task.connectTimeoutMs = g_nConnectTimeoutMs;
    task.replyTimeoutMs = g_nVerifyTimeoutMs;
    task.transferCapMs = m_transferCapMs;
    task.ownAddresses = m_ownAddresses;
    if (m_referencePages && *kind != ProxyKind::Ftp) task.referencePages = m_referencePages;
    if (m_captureSingle &&
        (*kind == ProxyKind::Http || *kind == ProxyKind::Https || *kind == ProxyKind::Socks4 ||
         *kind == ProxyKind::Socks5 || *kind == ProxyKind::Socks)) {
      m_capturePage = true;
      m_verifyPage.clear();
      task.capturePage = true;
      emit ResultViewOpened();
    }
    m_captureSingle = false;

    m_list.SetTimeStatus(r, kStatusVerifying);
    if (!engine) StartWatchdog(slot);
    // The history keeps the resource without its log-on: a password goes nowhere it
    // was not given to.
    s.task = InFlight{task.id, proxy, qb::UrlWithoutLogOn(task.resource.url)};
    ++m_busy;
    return task;
  }
  return std::nullopt;
}

void CVerifyControl::OnVerifyAll() {
  StartRun(true);
}
void CVerifyControl::OnVerifySelected() {
  StartRun(false);
}

void CVerifyControl::StartRun(bool all) {
  if (m_shutDown) return;

  // A start while a stopped run is still winding down: wait for it. Turning the stop
  // back into a run here would make the stopped run hand out rows again.
  if (m_state == RunState::Stopping) {
    FinishVerification();
    return;
  }
  if (m_state == RunState::Running) {
    // A run was active: this press asks it to stop.
    RequestStop();
    return;
  }
  // A store that cannot be read leaves the proxies without log-ons; those that need
  // one then say so in their status. Read now, so that one added since counts.
  if (m_dir) m_credentials = m_dir->Credentials();
  // Running from here on, though the window hears of it only once the start is sure.
  m_state = RunState::Running;

  // The proxies of the run, taken now: what is selected later, or where the rows move
  // meanwhile, changes nothing about which proxies this run checks.
  std::vector<Queued> queue;
  if (all) {
    queue.reserve(static_cast<std::size_t>(m_list.RowCount()));
    for (int r = 0; r < m_list.RowCount(); ++r) queue.push_back({ProxyId(*m_list.Entry(r)), r});
  } else {
    for (int r : m_list.SelectedRows()) queue.push_back({ProxyId(*m_list.Entry(r)), r});
  }
  if (queue.empty()) {
    emit Notice(all ? RunNotice::EmptyList : RunNotice::NoSelection);
    FinishVerification();
    return;
  }

  const Resources res = ChooseResources();
  const bool ftpRow = std::any_of(queue.begin(), queue.end(), [&](const Queued& q) {
    const CProxyEntry* e = m_list.Entry(q.row);
    return e && qb::AsciiCaseEqual(e->Type(), "FTP");
  });
  if (res.http.url.empty()) {
    emit Notice(RunNotice::NoHttpResource);
    FinishVerification();
    return;
  }
  if (res.ftpFallback && ftpRow && !(m_askFtpFallback && m_askFtpFallback())) {
    FinishVerification();
    return;
  }
  if (m_busy != 0) {
    FinishVerification();
    return;
  }

  m_verifyAll = all;
  m_ownAddresses = std::make_shared<COwnAddresses>();
  m_referencePages = Trusting().directReference ? std::make_shared<CReferencePages>() : nullptr;
  m_queue = std::move(queue);
  m_next = 0;
  EndNameLookups();
  // A name that has not answered within the connection time-out has no address for
  // this run.
  m_resolver = std::make_shared<CHostResolver>(g_nConnectTimeoutMs, m_nameLookup);
  m_nameNotice = std::make_shared<NameNotice>();
  m_nameNotice->control = this;
  SetState(RunState::Running);

  const int total = static_cast<int>(m_queue.size());
  const int n = std::min(total, ThreadNumber());
  m_runSlots = n;
  m_captureSingle = !all && total == 1;
  if (m_engineChecks > 0) {
    if (SlotCount() < n) m_slots.resize(static_cast<std::size_t>(n));
    // Results that come in together are taken together: one event for a burst
    // rather than a wake-up of this thread per result.
    auto arrived = std::make_shared<ArrivedResults>();
    m_engine = std::make_unique<CVerifyEngine>([this, arrived](VerifyResult r) {
      bool first = false;
      {
        std::lock_guard<std::mutex> g(arrived->lock);
        first = arrived->results.empty();
        arrived->results.push_back(std::move(r));
      }
      if (!first) return;
      QMetaObject::invokeMethod(
          this,
          [this, arrived] {
            std::vector<VerifyResult> batch;
            {
              std::lock_guard<std::mutex> g(arrived->lock);
              batch.swap(arrived->results);
            }
            for (const VerifyResult& result : batch) OnWorkerFinished(result);
          },
          Qt::QueuedConnection);
    });
    if (!m_engine->Valid()) {
      m_engine.reset();
      emit Notice(RunNotice::WorkerFailed);
      FinishVerification();
      return;
    }
  }
  for (int k = 0; k < n && !m_engine; ++k) {
    Slot& s = m_slots[static_cast<std::size_t>(k)];
    if (s.worker) continue;
    s.worker = CreateWorker();
    if (!s.worker) {
      emit Notice(RunNotice::WorkerFailed);
      FinishVerification();
      return;
    }
  }

  std::vector<VerifyTask> tasks;
  for (int k = 0; k < n; ++k) {
    std::optional<VerifyTask> task = HandNext(k, res);
    if (!task) break;
    tasks.push_back(std::move(*task));
  }

  if (m_busy == 0 && m_awaiting == 0) {
    // No worker could take a row: nothing would ever report and end the run.
    FinishVerification();
    return;
  }
  for (VerifyTask& task : tasks) Dispatch(std::move(task));
  m_finished = 0;
  emit ProgressRange(0, total);
}

void CVerifyControl::Dispatch(VerifyTask task) {
  if (m_engine) {
    m_engine->Submit(std::move(task));
  } else if (CVerifyProxyThread* w = m_slots[static_cast<std::size_t>(task.slot)].worker) {
    w->Post(std::move(task));
  }
}

void CVerifyControl::OnWorkerFinished(const VerifyResult& result) {
  if (result.slot < 0 || result.slot >= SlotCount()) return;
  Slot& s = m_slots[static_cast<std::size_t>(result.slot)];
  // Only the answer to the task a slot has in flight counts: a worker that was given
  // up may still answer late, after its slot went on with another task.
  if (!s.task || s.task->taskId != result.taskId) return;
  if (const int row = RowOf(s.task->proxy); row >= 0) {
    VerifyResult here = result;
    here.row = row;
    emit ResultArrived(here);
  }
  TakeResult(result.slot, result);
}

void CVerifyControl::TakeResult(int slot, const VerifyResult& result) {
  Slot& s = m_slots[static_cast<std::size_t>(slot)];
  InFlight done = *s.task;
  s.task.reset();
  m_captionToggle = !m_captionToggle;
  if (m_state == RunState::Stopping) emit StoppingPulse(!m_captionToggle);

  StopWatchdog(slot);
  --m_busy;
  ++m_finished;

  const std::string text = VerifyResultText(result.status, result.seconds);
  if (const int row = RowOf(done.proxy); row >= 0) {
    m_list.SetTimeStatus(row, text);
    const std::int64_t when = HistoryNow();
    if (m_history) {
      m_history->Add({m_list.GetProxyLine(row), when, done.resourceUrl, result.status, text, result.seconds,
                      result.anonymity, result.exitAddress,
                      result.trust == Trust::Unchecked ? std::string() : TrustWord(result.trust),
                      result.certSha256});
    }
    emit RowChecked(row, when, QString::fromStdString(done.resourceUrl));
    emit RowVerified(row, QString::fromStdString(text));
  }
  if (m_capturePage) {
    m_verifyPage += result.page;
    m_capturePage = false;
    emit VerifyResultShown(QString::fromStdString(text), QString::fromStdString(result.anonymity),
                           QString::fromStdString(result.exitAddress), QString::fromStdString(m_verifyPage));
  }

  std::optional<VerifyTask> next;
  if (m_state == RunState::Running) {
    next = HandNext(slot, ChooseResources());
  } else {
    m_next = m_queue.size();
    DropAwaitingNames();
  }

  if (m_verifyAll) {
    emit ProgressCounts(static_cast<int>(m_queue.size()), m_finished, m_state != RunState::Running);
    emit ProgressPos(m_finished);
  }

  if (next) Dispatch(std::move(*next));
  EndIfDone();
}

void CVerifyControl::OnNameSettled(const std::string& name) {
  const auto it = m_awaitingName.find(name);
  if (it == m_awaitingName.end()) return;
  for (const Queued& q : it->second) m_named.push_back(q);
  m_awaiting -= static_cast<int>(it->second.size());
  m_awaitingName.erase(it);
  if (m_state == RunState::Running) FillFreeSlots();
  EndIfDone();
}

void CVerifyControl::FillFreeSlots() {
  const Resources res = ChooseResources();
  for (int k = 0; k < std::min(m_runSlots, SlotCount()); ++k) {
    if (m_slots[static_cast<std::size_t>(k)].task) continue;
    std::optional<VerifyTask> task = HandNext(k, res);
    if (!task) break;
    Dispatch(std::move(*task));
  }
}

void CVerifyControl::DropAwaitingNames() {
  m_awaitingName.clear();
  m_named.clear();
  m_awaiting = 0;
}

void CVerifyControl::EndIfDone() {
  if (m_state == RunState::Idle || m_busy > 0 || m_awaiting > 0 || !m_named.empty() ||
      m_next < m_queue.size())
    return;
  EndOfRun();
}

void CVerifyControl::EndNameLookups() {
  DropAwaitingNames();
  if (m_nameNotice) {
    std::lock_guard<std::mutex> g(m_nameNotice->lock);
    m_nameNotice->control = nullptr;
  }
  m_nameNotice.reset();
  m_resolver.reset();
}

void CVerifyControl::EndOfRun() {
  m_queue = {};
  emit StatusLineChanged();
  emit ProgressPos(0);
  FinishVerification();
  FlushHistory();
  const bool all = m_verifyAll;
  if (all) {
    m_verifyAll = false;
    m_list.SortRows(CProxyListModel::ColTimeStatus, true);
    emit ListSorted(CProxyListModel::ColTimeStatus, true);
  }
  if (m_savesList) emit ListSaved(m_dir->SaveList());
  if (all && m_settings.m_bAutoAddToFavorite && m_list.RowCount() > 0) {
    // A proxy caught tampering in this run has no time; one caught before, and timed
    // now against a resource that cannot tell, is passed over too.
    std::unordered_set<std::string> tampering;
    if (Trusting().leaveOutTampering && m_history) tampering = m_history->Store().TamperingProxies();
    RowLeftOut leftOut;
    if (!tampering.empty())
      leftOut = [&tampering](const CProxyEntry& e) { return tampering.count(FormatProxyLine(e)) > 0; };
    if (m_favoritesByScore && m_history) {
      std::vector<std::string> names;
      names.reserve(static_cast<std::size_t>(m_list.RowCount()));
      for (int r = 0; r < m_list.RowCount(); ++r) names.push_back(m_list.GetProxyLine(r));
      ChooseFavoritesByScore(m_list, m_settings, m_history->Store().Scores(names), leftOut);
    } else {
      ChooseFavorites(m_list, m_settings, leftOut);
    }
  }
  emit RunEnded(all);
}

void CVerifyControl::FlushHistory() {
  if (!m_history) return;
  m_history->Finish();
  // The results are in the list either way; that some did not reach the history is
  // said, so that nobody relies on figures that lack them.
  if (m_history->Lost() == 0) return;
  const HistoryWrite problem = m_history->LastProblem();
  emit HistoryNotRecorded(static_cast<int>(m_history->Lost()), problem.problem,
                          QString::fromStdString(problem.reason));
  m_history->Forget();
}

bool CVerifyControl::FinishVerification() {
  if (m_busy > 0) {
    emit Notice(RunNotice::PleaseWait);
    return false;
  }
  DisposeAllWorkers();
  EndNameLookups();
  m_capturePage = false;
  SetState(RunState::Idle);
  emit Idle();
  return true;
}

void CVerifyControl::AbandonVerification() {
  for (Slot& s : m_slots) {
    if (!s.task) continue;
    // Only rows still in flight lose their text; finished rows keep their results.
    if (const int row = RowOf(s.task->proxy); row >= 0) m_list.SetTimeStatus(row, kStatusUnverified);
    s.task.reset();
    if (s.worker) s.worker->Abort();
  }
  if (m_engine) m_engine->Abort();
  m_busy = 0;
  m_queue = {};
  m_next = 0;
  EndNameLookups();
  FinishVerification();
  FlushHistory();
}

void CVerifyControl::RequestStop() {
  if (m_state != RunState::Running) return;
  SetState(RunState::Stopping);
  // Rows that only wait for their names never start; with nothing in flight the run
  // ends here, as it would with the last result.
  m_next = m_queue.size();
  DropAwaitingNames();
  EndIfDone();
}

void CVerifyControl::Watchdog(int slot) {
  StopWatchdog(slot);
  Slot& s = m_slots[static_cast<std::size_t>(slot)];
  CVerifyProxyThread* old = s.worker;
  if (!old) return;
  // Give the hung worker up: its transfer ends at once, its thread then ends and frees
  // the object; whatever it answers meanwhile is not taken for the new worker's.
  old->Abort();
  DisposeWorker(old);
  s.worker = nullptr;

  CVerifyProxyThread* w = CreateWorker();
  if (!w) {
    emit Notice(RunNotice::WorkerLost);
    AbandonVerification();
    return;
  }
  s.worker = w;
  if (!w->CreateThread()) {
    emit Notice(RunNotice::WorkerLost);
    AbandonVerification();
    return;
  }
  if (!s.task) return;
  // The row the hung worker had counts as timed out.
  VerifyResult timedOut;
  timedOut.taskId = s.task->taskId;
  timedOut.slot = slot;
  timedOut.row = s.task->proxy.row;
  TakeResult(slot, timedOut);
}

void CVerifyControl::OnRecycleTimer() {
  if (m_shutDown) return;
  // A run waiting only for host names has nothing in flight, but still needs its workers.
  if (m_busy == 0 && IsIdle()) DisposeAllWorkers();
  emit TrayIconRefresh();
}

void CVerifyControl::OnAutoVerifyTimer() {
  if (m_shutDown) return;
  if (m_settings.m_bAutoTimingVerify && IsIdle()) OnVerifyAll();
  emit TrayIconRefresh();
}

void CVerifyControl::OnHintTimer() {
  if (m_shutDown) return;
  emit HintDue();
  emit TrayIconRefresh();
}

void CVerifyControl::OnWatchdogTimer(int slot) {
  if (m_shutDown) return;
  emit TrayIconRefresh();
  if (slot >= 0 && slot < SlotCount()) Watchdog(slot);
}

void CVerifyControl::OnTimer(int id) {
  if (id == TIMER_RECYCLE_THREADS) {
    OnRecycleTimer();
  } else if (id == TIMER_AUTO_VERIFY) {
    OnAutoVerifyTimer();
  } else if (id == TIMER_HINT) {
    OnHintTimer();
  } else if (id >= TIMER_WATCHDOG_BASE) {
    OnWatchdogTimer(id - TIMER_WATCHDOG_BASE);
  } else if (!m_shutDown) {
    emit TrayIconRefresh();
  }
}

void CVerifyControl::OnWorkerStatus(quint64 taskId, int slot, int row, const QString& text) {
  if (slot < 0 || slot >= SlotCount()) return;
  const auto& task = m_slots[static_cast<std::size_t>(slot)].task;
  if (task && task->taskId == taskId) emit WorkerStatus(slot, row, text);
}

void CVerifyControl::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  m_recycleTimer.stop();
  m_autoVerifyTimer.stop();
  m_hintTimer.stop();
  CVerifyProxyThread::AbortAll();
  if (m_engine) m_engine->Abort();
  DisposeAllWorkers();
  EndNameLookups();
  m_busy = 0;
  m_state = RunState::Idle;
  m_capturePage = false;
  m_queue = {};
}

bool CVerifyControl::DrainWorkers(int graceMs) {
  CVerifyProxyThread::AbortAll();
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    // The thread objects of finished workers are freed by deferred deletes.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (CVerifyProxyThread::LiveThreadCount() == 0) return true;
    if (clock.elapsed() >= graceMs) return false;
    QThread::msleep(2);
  }
}

}  // namespace qb
