// A verification worker: tests one proxy at a time on a thread of its own.
//
// The control sets a task by direct calls while the worker is idle (or blocked in its
// done report), then posts it a request. The worker fetches the verification resource
// with libcurl through the proxy under test only, and reports back; the done report
// blocks the worker until the control has read the result and set the next task.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

class QThread;

// The worker's result codes; the values are the contract with the control.
enum VerifyStatus {
  VERIFY_NONE = 0,
  VERIFY_ERROR = 1,
  VERIFY_UNSUPPORTED = 2,
  VERIFY_BADURL = 3,
  VERIFY_PROXYFAILED = 4,
  VERIFY_PASSWORD = 7,
  VERIFY_MISMATCH = 8,
  VERIFY_OK = 9,
};

// Requests posted to a worker and reports it sends, by their historic numbers.
inline constexpr unsigned WM_VERIFYPROXY = 4045;
inline constexpr unsigned WM_QUITVERIFY = 4046;
inline constexpr unsigned WM_VERIFYSTATUS = 5034;
inline constexpr unsigned WM_VERIFYDONE = 5035;

// The slot number of a worker that has not been given a target yet.
inline constexpr int kNoWorkerId = 99999;

// Capture of the fetched page for the result window. The flag is read by workers
// while the control may change it, hence atomic; the page is only touched on the
// user-interface thread (a worker captures into its own buffer, which the control
// appends here while the worker waits in its done report).
extern std::atomic<bool> g_bCaptureVerifyPage;
extern std::string g_sVerifyPage;

// The overall limit of one transfer in milliseconds. It lies below the control's
// 90-second watchdog so that a worker normally ends a hung transfer by itself and the
// watchdog stays the last resort. Tests may change it.
extern std::atomic<int> g_nVerifyCapMs;
inline constexpr int kDefaultVerifyCapMs = 80000;

// The progress texts a worker reports.
inline constexpr const char* kTextBadUrl = "地址无效    (%s)";
inline constexpr const char* kTextConnectingSite = "连接站点%d    (%s)";
inline constexpr const char* kTextError = "异常错误";
inline constexpr const char* kTextAvailable = "可用(%.1f)";
inline constexpr const char* kTextMismatch = "不匹配(%.1f)";
inline constexpr const char* kTextProxyUnreachable = "无法连接代理";
inline constexpr const char* kTextProxyConnectFailed = "代理连接失败";
inline constexpr const char* kTextWrongPassword = "密码错误";

// One verification resource as handed to a worker.
struct VerifyItem {
  std::string m_sUrl;
  std::string m_sFeature;
  int m_nStatus = VERIFY_NONE;
  double m_dTime = 50.0;
};

class CVerifyProxyThread : public QObject {
  Q_OBJECT

 public:
  // Index 0 to 7 of m_nProxyType.
  static constexpr const char* ProxyTypeNames[8] = {"",       "HTTP",   "HTTPS", "SOCKS",
                                                    "SOCKS4", "SOCKS5", "FTP",   "GOPHER"};
  static constexpr int kMaxVerifyItems = 1;

  CVerifyProxyThread();
  ~CVerifyProxyThread() override;
  CVerifyProxyThread(const CVerifyProxyThread&) = delete;
  CVerifyProxyThread& operator=(const CVerifyProxyThread&) = delete;

  // --- Called on the control's thread while no task is in flight. ---

  // Where the reports go: notify == nullptr means do not report. The message numbers
  // are kept for the record; the reports arrive as the signals below.
  void SetTarget(QObject* notify, unsigned statusMsg, unsigned doneMsg, int nID, int lParam);
  bool SetProxy(const std::string& line);
  bool SetProxyFields(const std::string& addr, const std::string& port, const std::string& type);
  void ClearVerifyItems() { m_nVerifyItems = 0; }
  bool AddVerifyItem(const std::string& url, const std::string& feature);

  // Creates the worker's thread and starts its event loop. False when the thread
  // could not be started; the object is then still owned by the caller. On success
  // the object frees itself (on the thread that created it) once its thread has
  // ended after a quit request.
  bool CreateThread();
  bool ThreadStarted() const { return m_pThread != nullptr; }
  // Queues WM_VERIFYPROXY or WM_QUITVERIFY. False for another number or when the
  // thread was never started.
  bool PostThreadMessage(unsigned msg);

  // Ends the transfer in progress at once and makes every later transfer of this
  // worker end at once too; for a worker that is being given up or at exit. Safe to
  // call from any thread while the object exists.
  void Abort();
  bool Aborted() const { return m_bAbort.load(std::memory_order_relaxed); }

  // Worker threads that have not been fully ended and freed, process-wide. The
  // threads are freed by the event loop of the thread that created them. At exit the
  // program may only return normally once this is 0 (a running thread must not meet
  // the destruction of the process's statics).
  static int LiveThreadCount();
  // Abort() on every worker object that still exists, the given-up ones included.
  static void AbortAll();

  // Page lines captured by the last task while g_bCaptureVerifyPage was set, each
  // followed by CR LF. Read during the done report.
  const std::string& CapturedPage() const { return m_sCapturedPage; }

  // Splits a verification URL into m_nUrlScheme, m_sHost, m_nPort, m_sObject,
  // m_sUser and m_sPassword.
  bool SplitUrl(const std::string& url);

  // The fields, public as in a record: the control reads the results during the done
  // report and tests read them after a task.
  int m_nCurItem = 0;
  int m_bStop = 0;
  int m_nVerifyItems = 0;
  VerifyItem m_aVerifyItems[kMaxVerifyItems];
  int m_bProxySet = 0;
  std::string m_sProxyAddr;
  std::string m_sProxyPort;
  int m_nProxyType = 0;
  QObject* m_hNotifyWnd = nullptr;
  unsigned m_nStatusMsg = 0;
  unsigned m_nDoneMsg = 0;
  int m_nID = kNoWorkerId;
  int m_nLParam = 0;
  std::string m_sStatusText;
  int m_bRunning = 0;
  int m_nUrlScheme = 0;
  std::string m_sHost;
  unsigned short m_nPort = 0;
  std::string m_sObject;
  std::string m_sUser;
  std::string m_sPassword;

 signals:
  // WM_VERIFYSTATUS: a progress text. Only information, so it is not waited on.
  void StatusReport(CVerifyProxyThread* worker, int nID, int row, const QString& text);
  // WM_VERIFYDONE: connect with Qt::BlockingQueuedConnection; the worker waits inside
  // the emission until the receiver has handled it. The worker pointer lets the
  // receiver tell this worker from a later one in the same slot.
  void DoneReport(CVerifyProxyThread* worker, int nID, int row);

 public slots:
  // WM_VERIFYPROXY and WM_QUITVERIFY; normally reached through PostThreadMessage.
  void OnVerify();
  void OnQuitVerify();

 public:
  // The routes and the two verifications, public so that tests can take one route
  // without the thread. They run on the calling thread.
  void VerifyByHttpProxy(int item);
  void VerifyBySocksProxy(int item);
  void VerifyByFtpProxy(int item);
  void VerifyByAnyProxy(int item);
  void VerifyHttp(const std::string& proxy, int item);
  void VerifyFtp(const std::string& proxy, int item);

 private:
  void Route(const char* format, int item, bool http, bool ftp);
  void SendStatusText(std::string text);
  void SendDone();
  // The curl proxy URL for a WinINet-style proxy string ("http=A:P", "socks=A:P",
  // "ftp=A:P" or "A:P").
  std::string CurlProxyFor(const std::string& proxy) const;
  std::string CurlUrl() const;
  // Runs one easy handle to its end, honouring the abort flag at once.
  int Perform(void* easy);
  static double ElapsedSeconds(std::chrono::steady_clock::time_point start,
                               std::chrono::steady_clock::time_point end);

  static size_t WriteBody(char* data, size_t size, size_t count, void* self);
  static size_t DiscardBody(char* data, size_t size, size_t count, void* self);
  static size_t TakeHeader(char* data, size_t size, size_t count, void* self);
  static int Progress(void* self, long long, long long, long long, long long);
  void TakeLine(std::string_view line);

  QThread* m_pThread = nullptr;
  std::atomic<bool> m_bAbort{false};
  // The session of the transfer in progress (a curl multi handle holding the one easy
  // handle of the verification), else null. The easy handle is connection and request
  // at once and lives only inside VerifyHttp or VerifyFtp, so no separate connection,
  // request or FTP connection pointer is kept and a quit never finds one to release.
  // Guarded because Abort wakes it from another thread while the worker creates and
  // frees it.
  std::mutex m_sessionLock;
  void* m_pSession = nullptr;

  // State of the HTTP body reader.
  std::string m_sLineBuf;
  bool m_bFound = false;
  bool m_bBodyEnded = false;
  bool m_bAuthChallenge = false;
  std::string m_sCapturedPage;
};
