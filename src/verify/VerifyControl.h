// The run control of verification: hands the rows of the proxy list to a pool of
// workers, writes their results into the rows, shows progress, stops, replaces hung
// workers, and ends a run (sort, save, automatic favourites).
//
// It holds no widget and says nothing to the user. What the window shows leaves as
// signals by meaning (the run's state, progress, the result window, why a run could
// not start); the window words them and maps them onto its controls. Everything here
// runs on the thread that owns the object (the user-interface thread), which never
// waits for a worker: tasks go out as values and results come back as values over
// queued signals.
//
// A run holds the proxies it verifies by identity, never by row: the list may be
// sorted, reloaded or added to while it runs, and each result still lands on its own
// proxy (or nowhere, when the proxy left the list meanwhile).
#pragma once

#include <QtGlobal>

#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "history/History.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyId.h"
#include "settings/Options.h"
#include "verify/HostResolver.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"
#include "verify/VerifyTask.h"

namespace qb {

class CHistoryRecorder;
class CProxyListModel;
class CSettings;
class DataDir;

// The table of worker slots has room for this many; a worker's slot is its place in it.
inline constexpr int kVerifySlots = 105;
// The most checks the engine holds in flight for one run.
inline constexpr int kMaxEngineChecks = 10000;

// Where a run stands. Running hands out rows; Stopping lets the tasks in flight finish
// and hands out nothing more; Idle has no task in flight.
enum class RunState { Idle, Running, Stopping };

// The timers' ids as OnTimer knows them.
inline constexpr int TIMER_RECYCLE_THREADS = 2;
inline constexpr int TIMER_AUTO_VERIFY = 3;
inline constexpr int TIMER_HINT = 4;
inline constexpr int TIMER_WATCHDOG_BASE = 1100;
inline constexpr int kRecyclePeriodMs = 2700000;
inline constexpr int kAutoVerifyPeriodMs = 10800000;
inline constexpr int kHintPeriodMs = 5400000;
inline constexpr int kWatchdogPeriodMs = 90000;

// Why a run could not start, or had to give up: the caller words it.
enum class RunNotice {
  EmptyList,       // a run over all rows of an empty list
  NoSelection,     // a run over the selection with nothing selected
  NoHttpResource,  // no HTTP resource is ticked
  PleaseWait,      // a start while a stopped run still winds down
  WorkerFailed,    // a worker (or the engine) could not be made: nothing started
  WorkerLost,      // a hung worker could not be replaced: the run was given up
};

// The FTP resource used when none is ticked: the log-on to a public anonymous server,
// whose greeting starts with "220".
inline constexpr const char* kFallbackFtpUrl = "ftp://ftp.gnu.org/";
inline constexpr const char* kFallbackFtpFeature = "220";

// The row text for a worker's result.
std::string VerifyResultText(int status, double seconds);
// The CA file and pin the options give an https:// resource's host, set in it.
void ApplyResourceTrust(const VerifyOptions& options, VerifyResource& resource);

class CVerifyControl : public QObject {
  Q_OBJECT

 public:
  // A run of the data directory's own list: the list and settings are the
  // directory's, the log-ons are read from it when a run starts, and the end of a run
  // saves the list into it.
  CVerifyControl(DataDir& dir, QObject* parent = nullptr);
  // A run of any list (a file's proxies): nothing is saved; log-ons come from
  // SetCredentials.
  CVerifyControl(CProxyListModel& list, CSettings& settings, QObject* parent = nullptr);
  // Gives up every worker at once (see Shutdown) without waiting for any.
  ~CVerifyControl() override;

  // --- Handlers ---
  // Button 1045: starts a run over all rows, or requests a stop while a run is active.
  void OnVerifyAll();
  // Button 1002: the same over the selected rows.
  void OnVerifySelected();
  // The timers' ticks; each also has the tray icon refreshed.
  //
  // Idle workers are given up now and then, so that none lives for ever.
  void OnRecycleTimer();
  // The periodic run over all rows, when the settings ask for one and none runs.
  void OnAutoVerifyTimer();
  // The periodic hint about choosing several rows.
  void OnHintTimer();
  // A slot's worker has taken too long: it is replaced.
  void OnWatchdogTimer(int slot);
  // A tick by its id: TIMER_RECYCLE_THREADS, TIMER_AUTO_VERIFY, TIMER_HINT or
  // TIMER_WATCHDOG_BASE + slot; other ids only refresh the tray icon.
  void OnTimer(int id);

  // A stop request that can only stop (the exit command, Ctrl-C): unlike a second
  // press of the run's button it never starts anything.
  void RequestStop();
  // Gives the run up at once: rows in flight go back to "未验证", their workers are
  // aborted, and the control is idle without the run's ending (no sort, no save).
  void AbandonVerification();
  // For exit: every worker's transfer is aborted, every slot emptied, the timers
  // stopped. Later results are ignored. Rows in flight keep "验证中...".
  void Shutdown();
  // At exit, after Shutdown: runs the event loop (so that the threads of finished
  // workers are freed) until every worker thread has ended or graceMs has passed.
  // Never blocks on a worker. True when none is left running; otherwise the caller
  // must end the process without running static destructors.
  static bool DrainWorkers(int graceMs);

  // Starts the timers 2, 3 and 4 (the window does this at start-up).
  void StartTimers();

  // --- Settings of the control itself ---
  void SetWatchdogPeriod(int ms) { m_watchdogMs = ms; }
  int WatchdogPeriod() const { return m_watchdogMs; }
  // The longest a single transfer may take; see VerifyTask::transferCapMs.
  void SetTransferCap(int ms) { m_transferCapMs = ms; }
  void SetFtpFallback(std::string url, std::string feature);
  // How https:// resources are trusted (CA files and pins by host); without it, the
  // data directory's Options.ini, or the system's store alone.
  void SetVerifyOptions(VerifyOptions options) { m_verifyOptions = std::move(options); }
  // What a run does with FTP rows while no FTP resource is ticked. The window asks
  // (the question answers whether to check them against the fallback resource); a
  // caller that cannot ask (the command line) skips them instead: they keep their
  // texts, and nothing is sent to the fallback server, which is a public one.
  enum class FtpWithoutResource { AskForFallback, Skip };
  void SetFtpWithoutResource(FtpWithoutResource how) { m_ftpWithoutResource = how; }
  // The question asked before FTP rows are checked against the fallback resource;
  // without one they are not.
  void SetFtpFallbackQuestion(std::function<bool()> ask) { m_askFtpFallback = std::move(ask); }
  // The end of a run saves the data directory's list (the default for a run of it);
  // false never saves.
  void SetSavesList(bool saves) { m_savesList = saves && m_dir != nullptr; }
  // The log-ons of a file's proxies, for a run that is not the directory's.
  void SetCredentials(CProxyCredentialStore store) { m_credentials = std::move(store); }
  // Where every result goes besides its row (nullptr: nowhere). Whatever it holds is
  // written when a run ends or is given up, before RunEnded.
  void SetHistory(CHistoryRecorder* history) { m_history = history; }
  // The automatic favourites of a run over all rows ranked by the history's scores
  // (see ChooseFavoritesByScore); needs a history.
  void SetFavoritesByScore(bool on) { m_favoritesByScore = on; }
  // Makes the workers; returning nullptr counts as a worker that cannot be created.
  void SetWorkerFactory(std::function<CVerifyProxyThread*()> factory) { m_factory = std::move(factory); }
  // Runs the tasks on the check engine instead of worker threads, this many at once
  // (1 to kMaxEngineChecks; 0 goes back to the threads and the settings' number). The
  // engine ends every transfer by the transfer cap itself, so no watchdog is kept.
  void SetEngineChecks(int checks) { m_engineChecks = std::clamp(checks, 0, kMaxEngineChecks); }
  int EngineChecks() const { return m_engineChecks; }
  // How a run looks host names up (the system's resolver unless set; tests set one
  // they control). Each run looks each distinct name up once, within the connection
  // time-out; a proxy is handed to a worker only once its name is settled, so that it
  // holds no place among the checks in flight while it waits, and its time starts at
  // its connection.
  void SetNameLookup(CHostResolver::LookupFn lookup) { m_nameLookup = std::move(lookup); }

  // --- State ---
  RunState State() const { return m_state; }
  bool IsIdle() const { return m_state == RunState::Idle; }
  // Tasks in flight.
  int BusyWorkers() const { return m_busy; }
  // Proxies of the run whose host name is still being looked up.
  int AwaitingNames() const { return m_awaiting; }
  // Whether the run (or the last one) covers all rows rather than the selection.
  bool VerifiesAll() const { return m_verifyAll; }
  // Proxies whose result came in during the current (or last) run.
  int FinishedCount() const { return m_finished; }
  // The worker in a slot, or nullptr.
  CVerifyProxyThread* Worker(int slot) const;
  // The row of the proxy a slot has in flight, where it is now; -1 for none.
  int RowInFlight(int slot) const;

 signals:
  // The run's state changed (also re-announced whenever the control returns to idle).
  void RunStateChanged(RunState state);
  // While stopping, each result that comes in: the stop caption alternates with it.
  void StoppingPulse(bool alternate);
  void ProgressRange(int lower, int upper);
  void ProgressPos(int pos);
  // A run over all rows: how many of total are finished, and whether the run is
  // ending (stopped, waiting for the checks in flight).
  void ProgressCounts(int total, int finished, bool ending);
  // The periodic hint about choosing several rows is due.
  void HintDue();
  // The run could not start or had to give up.
  void Notice(qb::RunNotice notice);
  // The single-proxy result window: open (or activate) it while its proxy is checked.
  void ResultViewOpened();
  // The result of that proxy: its row text, what a judge saw (empty when the resource
  // is no judge) and the page's text.
  void VerifyResultShown(const QString& rowText, const QString& anonymity, const QString& exitAddress,
                         const QString& page);
  // The window refreshes its status line and its tray icon.
  void StatusLineChanged();
  void TrayIconRefresh();
  // The list was sorted (the header shows the order).
  void ListSorted(int column, bool ascending);
  // Just before RowVerified: when the row's proxy was checked (UTC seconds, the time
  // the history records) and against which resource (its URL without a log-on), so
  // that an output read on another machine can be recorded there as the same check.
  void RowChecked(int row, qint64 when, const QString& resource);
  // A result was written into a row.
  void RowVerified(int row, const QString& text);
  // A result that is taken into its row, just before it is; result.row is the row
  // where the proxy is now.
  void ResultArrived(const qb::VerifyResult& result);
  // A worker's progress text (information only).
  void WorkerStatus(int slot, int row, const QString& text);
  // The control is idle again.
  void Idle();
  // The end of a run saved the list (or could not: the result says why).
  void ListSaved(const qb::OpResult& result);
  // Results of the run that could not be written into the history, and why.
  void HistoryNotRecorded(int count, qb::HistoryProblem problem, const QString& reason);
  // A run ended normally: after the sort, the save and the favourites.
  void RunEnded(bool verifyAll);

 private:
  struct Resources {
    VerifyResource http, ftp;
    bool ftpFallback = false;
  };
  std::optional<VerifyOptions> m_verifyOptions;
  // The options set here, else the data directory's, else the defaults.
  const VerifyOptions& Trusting() const;
  // A proxy the run is to verify, and the row it was last seen in.
  struct Queued {
    ProxyId id;
    int row = -1;
  };
  // What a slot holds while its task is in flight.
  struct InFlight {
    std::uint64_t taskId = 0;
    Queued proxy;
    std::string resourceUrl;
  };
  // Where the resolver's word that a name is settled goes: to the control of the run
  // that asked, or, once that run is over, nowhere.
  struct NameNotice {
    std::mutex lock;
    CVerifyControl* control = nullptr;
  };
  // The engine's results on their way to this thread.
  struct ArrivedResults {
    std::mutex lock;
    std::vector<VerifyResult> results;
  };
  struct Slot {
    CVerifyProxyThread* worker = nullptr;
    std::optional<InFlight> task;
    QTimer* watchdog = nullptr;
  };

  Resources ChooseResources() const;
  int ThreadNumber() const;
  void StartRun(bool all);
  void SetState(RunState state);
  bool FinishVerification();
  CVerifyProxyThread* CreateWorker();
  void DisposeWorker(CVerifyProxyThread* w);
  void DisposeAllWorkers();
  // Builds the task for the next queued proxy that can be verified and marks its row
  // in flight in the slot; the caller posts it. nullopt when the queue is done.
  std::optional<VerifyTask> HandNext(int slot, const Resources& res);
  // Where a queued proxy is now (and remembers it); -1 when it left the list.
  int RowOf(Queued& proxy) const;
  // The next proxy to hand out: one whose name was settled first, then the queue's.
  std::optional<Queued> TakeQueued();
  // A name of the run was settled: its proxies go out to the free slots.
  void OnNameSettled(const std::string& name);
  // Hands the next proxies to the slots with nothing in flight.
  void FillFreeSlots();
  // Forgets the proxies whose names are not settled yet (a stopped run never starts them).
  void DropAwaitingNames();
  // Ends the run when nothing is left to hand out or in flight.
  void EndIfDone();
  // The run's resolver goes, and no word of it reaches this control any more.
  void EndNameLookups();
  void OnWorkerFinished(const VerifyResult& result);
  // Takes a result into its row and hands the slot the next row.
  void TakeResult(int slot, const VerifyResult& result);
  // Hands the task to the slot's worker or to the engine.
  void Dispatch(VerifyTask task);
  int SlotCount() const { return static_cast<int>(m_slots.size()); }
  void StartWatchdog(int slot);
  void StopWatchdog(int slot);
  void Watchdog(int slot);
  void EndOfRun();
  // Writes what the history still holds back, and says what it could not write.
  void FlushHistory();
  void OnWorkerStatus(quint64 taskId, int slot, int row, const QString& text);

  DataDir* m_dir = nullptr;
  CProxyListModel& m_list;
  CSettings& m_settings;
  bool m_savesList = false;
  CProxyCredentialStore m_credentials;
  std::function<bool()> m_askFtpFallback;
  std::function<CVerifyProxyThread*()> m_factory;
  CHistoryRecorder* m_history = nullptr;
  bool m_favoritesByScore = false;
  std::string m_sFallbackFtpUrl = kFallbackFtpUrl;
  std::string m_sFallbackFtpFeature = kFallbackFtpFeature;
  FtpWithoutResource m_ftpWithoutResource = FtpWithoutResource::AskForFallback;
  int m_watchdogMs = kWatchdogPeriodMs;
  int m_transferCapMs = kDefaultVerifyCapMs;

  RunState m_state = RunState::Idle;
  bool m_verifyAll = true;
  int m_busy = 0;
  // The run's proxies in the order they are handed out, and the next to hand out.
  std::vector<Queued> m_queue;
  std::size_t m_next = 0;
  // The run's host names: the resolver, the proxies waiting for a name (by name), and
  // those whose name was settled and that wait for a slot.
  CHostResolver::LookupFn m_nameLookup;
  std::shared_ptr<CHostResolver> m_resolver;
  std::shared_ptr<NameNotice> m_nameNotice;
  std::map<std::string, std::vector<Queued>> m_awaitingName;
  std::deque<Queued> m_named;
  int m_awaiting = 0;
  // The slots the run uses, and whether its one proxy's page is to be shown.
  int m_runSlots = 0;
  bool m_captureSingle = false;
  int m_finished = 0;
  std::uint64_t m_lastTaskId = 0;
  bool m_captionToggle = false;
  bool m_shutDown = false;
  // The one-proxy result window: its page is gathered while its task runs.
  bool m_capturePage = false;
  std::string m_verifyPage;

  // The user's own addresses, learned once per run when its resource is a judge.
  std::shared_ptr<COwnAddresses> m_ownAddresses;
  std::shared_ptr<CReferencePages> m_referencePages;

  int m_engineChecks = 0;
  std::unique_ptr<CVerifyEngine> m_engine;
  std::vector<Slot> m_slots = std::vector<Slot>(kVerifySlots);
  QTimer m_recycleTimer;
  QTimer m_autoVerifyTimer;
  QTimer m_hintTimer;
};

}  // namespace qb
