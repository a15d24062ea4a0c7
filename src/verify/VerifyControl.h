// The run control of verification: hands the rows of the proxy list to a pool of
// workers, writes their results into the rows, shows progress, stops, replaces hung
// workers, and ends a run (sort, save, automatic favourites).
//
// It holds no widget. What the window shows leaves as signals (button states and
// captions by control id, the progress bar, the result window); messages go through
// qb::Prompt(). Everything here runs on the thread that owns the object (the
// user-interface thread), which never waits for a worker.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "verify/VerifyProxyThread.h"

class CProxyListModel;
class CSettings;

// The slot table: index = the worker's nID.
inline constexpr int kVerifySlots = 105;
extern CVerifyProxyThread* g_apVerifyThreads[kVerifySlots];
// Column sorting of the proxy list is allowed only while this is set; a run addresses
// rows by index, so they must not move.
extern bool g_bListSortable;

// Control ids of the main window that a run enables, disables or relabels.
namespace verifyid {
inline constexpr int kProxyList = 1000;
inline constexpr int kVerifySelected = 1002;
inline constexpr int kButton1009 = 1009;
inline constexpr int kAdd = 1034;
inline constexpr int kDelete = 1039;
inline constexpr int kProgress = 1040;
inline constexpr int kModify = 1041;
inline constexpr int kImport = 1042;
inline constexpr int kButton1043 = 1043;
inline constexpr int kClean = 1044;
inline constexpr int kVerifyAll = 1045;
inline constexpr int kPaste = 1046;
inline constexpr int kSettings = 1049;
inline constexpr int kDownload = 1050;
}  // namespace verifyid

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
inline constexpr const char* kCaptionVerifyAll = "验证全部";
inline constexpr const char* kCaptionVerifySelected = "验证选定";
inline constexpr const char* kCaptionStopVerify = "停止验证";
inline constexpr const char* kCaptionStopping1 = "停止中...";
inline constexpr const char* kCaptionStopping2 = "...停止中";
inline constexpr const char* kMsgEmptyList = "空列表，没有要验证的代理。";
inline constexpr const char* kMsgNoSelection = "没有选择要验证的代理！";
inline constexpr const char* kMsgNoHttpSource = "没有设定http验证资源，无法验证http代理服务器。";
inline constexpr const char* kMsgNoFtpSource =
    "没有设定ftp验证资源，无法验证ftp代理服务器。\n请进入设置在ftp验证资源前打勾。继续吗？";
inline constexpr const char* kMsgWorkerFailed = "创建验证线程中发生异常";
inline constexpr const char* kCaptionVerifyFailed = "验证失败";
inline constexpr const char* kMsgPleaseWait = "请耐心等待验证的完成";
inline constexpr const char* kCaptionCannotStart = "无法开启新的验证";
inline constexpr const char* kCaptionWaitForEnd = "等待验证完成";
inline constexpr const char* kTextHint = "Multiple choice: 'Shift/Ctrl' + left button of mouse";
inline constexpr const char* kResultStatusPrefix = "验证状态：";
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
  // WM_VERIFYDONE. The worker waits inside this call (blocking connection) when it
  // comes from a worker; the watchdog calls it directly.
  void OnVerifyDone(CVerifyProxyThread* worker, int nID, int row);
  // Any of the timers 2, 3, 4 and 1100 + slot.
  void OnTimer(int id);

  bool LockControls();
  bool FinishVerification();
  void AbandonVerification();
  void ShowVerifyResult(const std::string& text);

  // A stop request that can only stop (the exit command, Ctrl-C): unlike a second
  // press of the run's button it never starts anything.
  void RequestStop();
  // For exit: every worker's transfer is aborted, every slot emptied, the timers
  // stopped. Later reports are ignored. Rows in flight keep "验证中...".
  void Shutdown();
  // At exit, after Shutdown: runs the event loop (so that workers blocked in a report
  // are released) until every worker thread has ended or graceMs has passed. Never
  // blocks on a worker. True when none is left running; otherwise the caller must
  // end the process without running static destructors.
  static bool DrainWorkers(int graceMs);

  // Starts the timers 2, 3 and 4 (the window does this at start-up).
  void StartTimers();

  // --- Settings of the control itself ---
  void SetWatchdogPeriod(int ms) { m_nWatchdogMs = ms; }
  int WatchdogPeriod() const { return m_nWatchdogMs; }
  void SetFtpFallback(std::string url, std::string feature);
  // Where the end of a run saves the list: an empty text means ProgramDir() (the
  // default), nullopt never saves.
  void SetSaveDir(std::optional<std::string> dir) { m_saveDir = std::move(dir); }
  // Makes the workers; returning nullptr counts as a worker that cannot be created.
  void SetWorkerFactory(std::function<CVerifyProxyThread*()> factory) { m_factory = std::move(factory); }

  // --- State ---
  int m_nRunningThreads = 0;
  int m_nNextItem = 0;
  int m_bVerifyAll = 1;
  int m_nFinished = 0;
  int m_bIdle = 1;
  bool IsBusy() const { return m_nRunningThreads > 0; }
  // The row slot nID has in flight, or -1.
  int RowInFlight(int nID) const { return nID >= 0 && nID < kVerifySlots ? m_inFlight[nID] : -1; }

 signals:
  void ControlEnabled(int id, bool enabled);
  void ControlText(int id, const QString& text);
  void ProgressRange(int lower, int upper);
  void ProgressPos(int pos);
  void ProgressText(const QString& text);
  // The single-proxy result window: open (or activate) it with these texts.
  void ResultViewOpened(const QString& status, const QString& page);
  // ShowVerifyResult: the result window's status line and page text.
  void VerifyResultShown(const QString& status, const QString& page);
  // The window refreshes its status line and its tray icon.
  void StatusLineChanged();
  void TrayIconRefresh();
  // The list was sorted (the header shows the order).
  void ListSorted(int column, bool ascending);
  // A report wrote a result into a row.
  void RowVerified(int row, const QString& text);
  // A worker's progress text (information only).
  void WorkerStatus(int nID, int row, const QString& text);
  // The control is idle again (FinishVerification succeeded).
  void Idle();
  // A run ended normally: after the sort, the save and the favourites.
  void RunEnded(bool verifyAll);

 private:
  struct Resources {
    std::string httpUrl, httpFeature, ftpUrl, ftpFeature;
    bool ftpFallback = false;
  };
  Resources ChooseResources() const;
  int ThreadNumber() const;
  void StartRun(bool all);
  CVerifyProxyThread* CreateWorker();
  void DisposeWorker(CVerifyProxyThread* w);
  // Hands row r to slot nID. True when the row is now in flight.
  bool HandRow(int nID, int r, bool atStart, const Resources& res);
  void StartWatchdog(int nID);
  void StopWatchdog(int nID);
  void Watchdog(int nID);
  void EndOfRun();
  void RecycleThreads();
  void OnWorkerStatus(CVerifyProxyThread* worker, int nID, int row, const QString& text);
  bool RowSelected(int row) const;

  CProxyListModel& m_list;
  CSettings& m_settings;
  std::optional<std::string> m_saveDir = std::string();
  std::function<CVerifyProxyThread*()> m_factory;
  std::string m_sFallbackFtpUrl = kFallbackFtpUrl;
  std::string m_sFallbackFtpFeature = kFallbackFtpFeature;
  int m_nWatchdogMs = kWatchdogPeriodMs;
  bool m_bCaptionToggle = false;
  bool m_bShutDown = false;
  std::array<int, kVerifySlots> m_inFlight;
  std::array<QTimer*, kVerifySlots> m_watchdogs{};
  QTimer m_recycleTimer;
  QTimer m_autoVerifyTimer;
  QTimer m_hintTimer;
};
