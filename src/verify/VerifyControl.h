// The run control of verification: hands the rows of the proxy list to a pool of
// workers, writes their results into the rows, shows progress, stops, replaces hung
// workers, and ends a run (sort, save, automatic favourites).
//
// It holds no widget. What the window shows leaves as signals by meaning (the run's
// state, progress, the result window); the window maps them onto its controls.
// Messages go through qb::Prompt(). Everything here runs on the thread that owns the
// object (the user-interface thread), which never waits for a worker: tasks go out as
// values and results come back as values over queued signals.
#pragma once

#include <QtGlobal>

#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "proxy/ProxyCredentials.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"
#include "verify/VerifyTask.h"

namespace qb {

class CHistoryRecorder;
class CProxyListModel;
class CSettings;

// The table of worker slots has room for this many; a worker's slot is its place in it.
inline constexpr int kVerifySlots = 105;
// The most checks the engine holds in flight for one run.
inline constexpr int kMaxEngineChecks = 10000;

// Where a run stands. Running hands out rows; Stopping lets the tasks in flight finish
// and hands out nothing more; Idle has no task in flight.
enum class RunState { Idle, Running, Stopping };

// Timer ids, kept as the names the handlers know them by.
inline constexpr int TIMER_RECYCLE_THREADS = 2;
inline constexpr int TIMER_AUTO_VERIFY = 3;
inline constexpr int TIMER_HINT = 4;
inline constexpr int TIMER_WATCHDOG_BASE = 1100;
inline constexpr int kRecyclePeriodMs = 2700000;
inline constexpr int kAutoVerifyPeriodMs = 10800000;
inline constexpr int kHintPeriodMs = 5400000;
inline constexpr int kWatchdogPeriodMs = 90000;

// Texts of the run.
inline constexpr const char* kCaptionVerifyAll = QT_TRANSLATE_NOOP("Quillberry", "验证全部");
inline constexpr const char* kCaptionVerifySelected = QT_TRANSLATE_NOOP("Quillberry", "验证选定");
inline constexpr const char* kCaptionStopVerify = QT_TRANSLATE_NOOP("Quillberry", "停止验证");
inline constexpr const char* kCaptionStopping1 = QT_TRANSLATE_NOOP("Quillberry", "停止中...");
inline constexpr const char* kCaptionStopping2 = QT_TRANSLATE_NOOP("Quillberry", "...停止中");
inline constexpr const char* kMsgEmptyList = QT_TRANSLATE_NOOP("Quillberry", "空列表，没有要验证的代理。");
inline constexpr const char* kMsgNoSelection = QT_TRANSLATE_NOOP("Quillberry", "没有选择要验证的代理！");
inline constexpr const char* kMsgNoHttpSource =
    QT_TRANSLATE_NOOP("Quillberry", "没有设定http验证资源，无法验证http代理服务器。");
inline constexpr const char* kMsgNoFtpSource = QT_TRANSLATE_NOOP(
    "Quillberry", "没有设定ftp验证资源，无法验证ftp代理服务器。\n请进入设置在ftp验证资源前打勾。继续吗？");
inline constexpr const char* kMsgWorkerFailed = QT_TRANSLATE_NOOP("Quillberry", "创建验证线程中发生异常");
inline constexpr const char* kCaptionVerifyFailed = QT_TRANSLATE_NOOP("Quillberry", "验证失败");
inline constexpr const char* kMsgPleaseWait = QT_TRANSLATE_NOOP("Quillberry", "请耐心等待验证的完成");
inline constexpr const char* kCaptionCannotStart = QT_TRANSLATE_NOOP("Quillberry", "无法开启新的验证");
inline constexpr const char* kCaptionWaitForEnd = QT_TRANSLATE_NOOP("Quillberry", "等待验证完成");
inline constexpr const char* kTextHint = "Multiple choice: 'Shift/Ctrl' + left button of mouse";
inline constexpr const char* kResultStatusPrefix = QT_TRANSLATE_NOOP("Quillberry", "验证状态：");
// The FTP resource used when none is ticked: the log-on to a public anonymous server,
// whose greeting starts with "220".
inline constexpr const char* kFallbackFtpUrl = "ftp://ftp.gnu.org/";
inline constexpr const char* kFallbackFtpFeature = "220";

// The row text for a worker's result.
std::string VerifyResultText(int status, double seconds);

class CVerifyControl : public QObject {
  Q_OBJECT

 public:
  CVerifyControl(CProxyListModel& list, CSettings& settings, QObject* parent = nullptr);
  // Gives up every worker at once (see Shutdown) without waiting for any.
  ~CVerifyControl() override;

  // --- Handlers ---
  // Button 1045: starts a run over all rows, or requests a stop while a run is active.
  void OnVerifyAll();
  // Button 1002: the same over the selected rows.
  void OnVerifySelected();
  // Any of the timers 2, 3, 4 and 1100 + slot.
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
  // What a run does with FTP rows while no FTP resource is ticked. The window asks, and
  // on "Yes" checks them against the fallback resource; a caller that cannot ask (the
  // command line) skips them instead: they keep their texts, and nothing is sent to the
  // fallback server, which is a public one.
  enum class FtpWithoutResource { AskForFallback, Skip };
  void SetFtpWithoutResource(FtpWithoutResource how) { m_ftpWithoutResource = how; }
  // Where the end of a run saves the list; nullopt never saves.
  void SetSaveDir(std::optional<std::string> dir) { m_saveDir = std::move(dir); }
  // The log-ons of the proxies to verify: read from the store of this data directory
  // whenever a run starts, so that one added since counts.
  void SetCredentialsDir(std::string dir) { m_credentialsDir = std::move(dir); }
  // Or given, for proxies of a file that came with their log-ons.
  void SetCredentials(CProxyCredentialStore store) {
    m_credentials = std::move(store);
    m_credentialsDir.reset();
  }
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

  // --- State ---
  RunState State() const { return m_state; }
  bool IsIdle() const { return m_state == RunState::Idle; }
  // Tasks in flight.
  int BusyWorkers() const { return m_busy; }
  // Whether the run (or the last one) covers all rows rather than the selection.
  bool VerifiesAll() const { return m_verifyAll; }
  // Rows whose result came in during the current (or last) run.
  int FinishedCount() const { return m_finished; }
  // Column sorting of the list is allowed only while this holds: a run addresses
  // rows by index, so they must not move.
  bool ListSortable() const { return m_listSortable; }
  // The worker in a slot, or nullptr.
  CVerifyProxyThread* Worker(int slot) const;
  // The row a slot has in flight, or -1.
  int RowInFlight(int slot) const;

 signals:
  // The run's state changed (also re-announced whenever the control returns to idle).
  void RunStateChanged(RunState state);
  // While stopping, each result that comes in: the stop caption alternates with it.
  void StoppingPulse(bool alternate);
  void ProgressRange(int lower, int upper);
  void ProgressPos(int pos);
  void ProgressText(const QString& text);
  // The single-proxy result window: open (or activate) it with these texts.
  void ResultViewOpened(const QString& status, const QString& page);
  // The result of that proxy: the result window's status line and page text.
  void VerifyResultShown(const QString& status, const QString& page);
  // The window refreshes its status line and its tray icon.
  void StatusLineChanged();
  void TrayIconRefresh();
  // The list was sorted (the header shows the order).
  void ListSorted(int column, bool ascending);
  // A result was written into a row.
  void RowVerified(int row, const QString& text);
  // A result that is taken into its row, just before it is (the row still has its
  // index of the run).
  void ResultArrived(const qb::VerifyResult& result);
  // A worker's progress text (information only).
  void WorkerStatus(int slot, int row, const QString& text);
  // The control is idle again.
  void Idle();
  // The end of a run saved the list (or could not: the result says why).
  void ListSaved(const qb::OpResult& result);
  // A run ended normally: after the sort, the save and the favourites.
  void RunEnded(bool verifyAll);

 private:
  struct Resources {
    VerifyResource http, ftp;
    bool ftpFallback = false;
  };
  // What a slot holds while its task is in flight.
  struct InFlight {
    std::uint64_t taskId = 0;
    int row = -1;
    const void* rowKey = nullptr;
    std::string resourceUrl;
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
  // Builds the task for row r and marks the row in flight in the slot; the caller
  // posts it. nullopt when the row cannot be verified (it is skipped).
  std::optional<VerifyTask> HandRow(int slot, int r, const Resources& res);
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
  void OnWorkerStatus(quint64 taskId, int slot, int row, const QString& text);
  bool RowSelected(int row) const;
  bool IsProxyOfType(int row, std::string_view type) const;

  CProxyListModel& m_list;
  CSettings& m_settings;
  std::optional<std::string> m_saveDir;
  CProxyCredentialStore m_credentials;
  std::optional<std::string> m_credentialsDir;
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
  bool m_listSortable = true;
  int m_busy = 0;
  int m_nextRow = 0;
  int m_finished = 0;
  std::uint64_t m_lastTaskId = 0;
  bool m_captionToggle = false;
  bool m_shutDown = false;
  // The one-proxy result window: its page is gathered while its task runs.
  bool m_capturePage = false;
  std::string m_verifyPage;

  // The user's own addresses, learned once per run when its resource is a judge.
  std::shared_ptr<COwnAddresses> m_ownAddresses;

  int m_engineChecks = 0;
  std::unique_ptr<CVerifyEngine> m_engine;
  std::vector<Slot> m_slots = std::vector<Slot>(kVerifySlots);
  QTimer m_recycleTimer;
  QTimer m_autoVerifyTimer;
  QTimer m_hintTimer;
};

}  // namespace qb
