// The main window: the proxy list with its commands, verification, the system proxy,
// the proxy sources, the tray icon and the favourites.
#pragma once

#include <QtGlobal>

#include <QDialog>
#include <QElapsedTimer>
#include <QHash>
#include <QItemSelection>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>

#include "datadir/DataDir.h"
#include "endpoint/Endpoint.h"
#include "sysproxy/SystemProxy.h"
#include "ui/HistoryColumns.h"
#include "ui/Resources.h"
#include "verify/VerifyControl.h"

class QAbstractButton;
class QLineEdit;
class QSystemTrayIcon;
class QTableView;
class QTimer;

namespace qb {

class ActionRegistry;
class CDesktopNotifier;
class CEndpointHost;
class CFirstStartDlg;
class CHelpLink;
class CSortListCtrl;
class CSourceDownloader;
class CTrayController;
class OwnerDrawMenu;
class CTextProgressCtrl;
class CVerifyControl;
class CVerifyResultDlg;

// What a test or an unusual start changes; the program uses the defaults.
struct MainDlgOptions {
  std::unique_ptr<ISystemProxyPlatform> platform;  // null: the desktop's back ends
  bool applyAutoRun = true;                        // the start-at-log-on entry follows the setting
  bool forceNoTray = false;                        // behave as if the desktop had no tray
  // Where the window's size and the list's column widths are remembered (an INI
  // file); empty: not remembered. The program uses WindowStatePath().
  std::string windowStateIni;
  // The bus of the desktop's notification service (a D-Bus address); empty: the
  // session's bus.
  std::string notificationBus;
  // How often the proxy the desktop goes through and the endpoint's pool are checked.
  int watchMs = 15000;
};

// The per-user file that remembers the window's size and the column widths
// ($XDG_CONFIG_HOME/Quillberry/window.ini): the user's, not the data directory's.
std::string WindowStatePath();

// Whether a start leaves the window hidden in the tray: only with a tray to find it
// in again, and never on the first start (no Setting.dat before it), when a new user
// would otherwise see nothing but a message box and an icon.
bool StartsInTray(bool minimisedAsked, bool minimiseSetting, bool firstStart, bool hasTray);

// What adding rows did, shown in the status strip for kNoticeMs: %1 new, %2 already there.
inline constexpr const char* kNoticeRefused = QT_TRANSLATE_NOOP("Quillberry", "，无法识别 %1 行");
inline constexpr const char* kNoticeAdded = QT_TRANSLATE_NOOP("Quillberry", "新增 %1 个，重复 %2 个");
inline constexpr int kNoticeMs = 5000;
// The address column is at least as wide as this text: a typical IPv6 address, as a
// row writes it.
inline constexpr const char* kTypicalIpv6Address = "[2001:db8:85a3::8a2e:370:7334]";

inline constexpr const char* kMainCaption =
    QT_TRANSLATE_NOOP("Quillberry", "Ostrel代理验证（Quillberry）1.8");
inline constexpr const char* kMsgExitWhileBusy = QT_TRANSLATE_NOOP(
    "Quillberry", "尚有线程在运行，请等现有的线程停止后再退出。\n不再启动新的线程，停止中...");
inline constexpr const char* kCaptionExitWarning = QT_TRANSLATE_NOOP("Quillberry", "退出警告");

class CMainDlg : public QDialog {
  Q_OBJECT

 public:
  // The window of the data directory dir, which it reads at once and writes from then
  // on; dir outlives the window.
  explicit CMainDlg(DataDir& dir, MainDlgOptions options = {}, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Shows the window, or, with the start-minimised setting (or minimised) and a tray
  // to go to, leaves it hidden. A first start shows the window and the welcome over it.
  void StartUp(bool minimised = false);
  // The welcome of a first start, while it is open (window-modal, never blocking).
  CFirstStartDlg* Welcome() const { return m_welcome; }
  // The filter field above the list (Ctrl+F), and the rows it leaves in view (-1
  // while it is empty).
  QLineEdit* FilterField() const { return m_pFilter; }
  int ShownRows() const { return m_shownRows; }
  // Hides the rows the filter field's text does not match (all shown when it is
  // empty) and takes hidden rows out of the selection, so that no command acts on a
  // row the user cannot see. The field calls it a moment after the last key.
  void ApplyFilter();
  // Whether this start has not yet saved the settings the welcome lets the user choose.
  bool WelcomePending() const { return m_welcomePending; }
  // Work asked for by a desktop action: "verify-all" (when nothing runs yet) or
  // "cancel-proxy". Unknown names are ignored.
  void RunAction(const QString& action);

  // --- Proxy list commands ---
  void OnAddProxy();
  void OnDeleteSelected();
  void OnModifySelected();
  void OnClean();
  void OnPaste();
  void OnCopyProxy();
  void OnSelectAll();
  void OnImport();
  void OnExport();
  // --- Settings ---
  void OnSettings();
  // --- Proxy sources ---
  void OnAddSource();
  void OnModifySource();
  void OnDeleteSource();
  void OnDownloadSources();
  void EndDownload();
  CSourceDownloader& Downloader() { return *m_downloader; }
  QTableView* SourceListView() const { return m_pSourceList; }
  // --- Verification ---
  void OnVerifyAll();
  void OnVerifySelected();
  // --- System proxy ---
  void OnSetIEProxy();
  void OnCancelIEProxy();
  // --- The local endpoint ---
  // Switches the endpoint on or off and keeps the choice in Options.ini.
  void OnEndpointSwitch();
  // Makes the endpoint the system proxy, switching it on first when it is off.
  void OnViaEndpoint();
  CEndpointHost& Endpoint() { return *m_endpointHost; }
  // --- Tray and life cycle ---
  void OnShowDialog();
  // The tray's "退出": refused while workers are busy; otherwise ends the program.
  bool OnTrayExit();
  // Writes the favourites and removes the tray icon and the rows, once per process.
  void CloseTray();
  // The session is ending: the favourites are saved, the rows stay.
  void OnSessionEnd();
  // SIGTERM or SIGHUP: ends the program as its exit does, without asking: the rows in
  // flight are reset and the list saved.
  void OnTerminate();

  void UpdateStatusLine();
  void UpdateTrayIcon();

  // --- Work handed over by commands, and files changed behind the window ---
  // Adds the proxy lines a command handed to this window (each proxy once), saves the
  // list and returns the lines that were new; save receives how saving went (the
  // window also says it, after the command has its answer).
  // logOns are the log-ons that came with the lines, kept with the list.
  std::vector<std::string> AddHandedRows(const std::vector<std::string>& lines,
                                         const FoundCredentialList& logOns, qb::OpResult* save);
  // A refresh handed to this window: verifies the whole list as "验证全部" does, and
  // thins the history when due. True when the run starts now; false when a run or a
  // download is going on, after which it starts (once, however often it was asked).
  bool VerifyAllWhenIdle();
  // Another program changed a data file: reloaded at once while nothing runs, or
  // when the verification or the download that is running ends (rows another
  // program added meanwhile are then added to the list; none is thrown away).
  void OnDataFileChangedBehind(DataFile file);

  // --- Access for the other windows and for tests ---
  // The data directory: the list, the settings, the sources and the other stores.
  DataDir& Dir() { return m_dir; }
  CSystemProxy& SystemProxy() { return *m_sysProxy; }
  CVerifyControl& Verifier() { return *m_verify; }
  CSortListCtrl* ListView() const { return m_pList; }
  CTextProgressCtrl* StatusStrip() const { return m_pProgress; }
  CVerifyResultDlg* ResultDlg() const;
  QAbstractButton* Button(int id) const { return m_buttons.value(id); }
  // The window's commands by name (see WindowActions.h): what its buttons, menus and
  // keys run.
  ActionRegistry& Actions() const { return *m_actions; }
  QSystemTrayIcon* TrayIcon() const;
  int TrayIconId() const;
  CTrayController& Tray() { return *m_trayCtl; }
  bool HasTray() const;
  OwnerDrawMenu* ContextMenu() const { return m_contextPopup; }
  // Opens the tray's menu (favourites, About, Exit) where a desktop has no tray.
  QAbstractButton* MenuButton() const { return m_menuButton; }
  // The history's columns (CHistoryColumns::Column): hidden until the user shows them
  // through the list header's menu; the choice is kept in window.ini.
  bool HistoryColumnShown(int column) const;
  // Showing a column makes room for it: the window widens as far as its screen lets
  // it, and the columns share what is still missing, so no horizontal scroll bar
  // comes with it.
  void SetHistoryColumnShown(int column, bool shown);
  // The menu of the list header that shows and hides them.
  QMenu* HistoryColumnsMenu();
  const CHistoryColumns& HistoryColumns() const { return m_historyColumns; }

 signals:
  // The program should end now (the exit sequence has run).
  void ExitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  void CreateControls();
  // Starts the endpoint when Options.ini has it switched on.
  void StartEndpoint();
  // Starts, restarts or stops the endpoint as m_options says; false (said) when it
  // could not start.
  bool ApplyEndpoint();
  void ReportOptionsSave(const qb::OpResult& result);
  // Says what the run control reports: why a run could not start.
  void ShowRunNotice(RunNotice notice);
  // Whether the desktop's proxy is the running endpoint.
  bool ViaEndpoint() const;
  // --- When the proxy can no longer work (Options.ini's SystemProxy) ---
  bool GoDirect() const { return m_options.WhenDown() == WhenProxyDown::Direct; }
  // Asks once, before the window first sets a proxy, whether the desktop blocks or goes
  // direct when that proxy can no longer work, and keeps the answer.
  void EnsureWhenDownChosen();
  // At the exit: a desktop going through the window's own endpoint, which stops with
  // it, gets its earlier setting back under going direct; under blocking the user is
  // told that programs will fail and asked (when asking is allowed).
  void ReleaseDesktopAtExit(bool mayAsk);
  // At start: a desktop left pointing at an endpoint or proxy of this program that does
  // not answer is repaired as chosen, and said. True when it was given back.
  bool RepairDesktopAtStart();
  // The desktop's proxy changed: when another program replaced this program's setting,
  // says so and offers to set it again (or does so unasked, as Options.ini allows).
  void GuardDesktop();
  // --- Notifications ---
  // The state the desktop is in now, in words.
  QString DesktopStateText() const;
  void NotifyTraySwitch();
  // Checks whether the desktop's proxy answers and how the endpoint's pool stands, and
  // tells of a change for the worse.
  void WatchProxy();
  struct WatchRound {
    std::optional<bool> answers;           // the desktop's proxy, when one of ours is held
    std::optional<EndpointStatus> status;  // the running endpoint's
  };
  void NotifyProxyState(const std::string& line, bool endpoint, bool answers);
  void NotifyPoolState(int usable);
  void NotifyRunDone();
  void OnInitDialog();
  void ConnectVerifier();
  // The run's state on the buttons' captions, and on what may run.
  void ShowRunState(RunState state);
  // What may run as the run and the download stand now.
  void EnableActions();
  // The button of the current (or last) run: "验证全部" or "验证选定".
  QAbstractButton* RunButton() const;
  void ShowContextMenu(const QPoint& pos);
  void SaveList();
  // Reads Proxies.pro and says what it could not do, and where lines that hold no
  // proxy were kept.
  void LoadList();
  // Reads Setting.dat and says what it could not do, and that the built-in resources
  // were installed when it had none.
  void LoadSettings();
  // Opens the welcome over the window; its end saves the settings with the choices.
  void OpenWelcome();
  void EndWelcome();
  // The line the strip shows when a run ends: what works, what failed, the fastest
  // time and how long the run took.
  void ShowRunSummary();
  void FitColumns();
  void DeselectHiddenRows(const QItemSelection& selected);
  bool Busy() const;
  // The window grows from its documented size: the lists take the extra space, the
  // buttons keep to the right edge and the sources to the bottom.
  // Widens the buttons whose captions would be cut, and the window with them.
  void FitButtonCaptions();
  void ArrangeForSize(const QSize& size);
  void RestoreWindowState();
  void SaveWindowState() const;
  // Says in the status strip, for a few seconds, what adding rows did: "新增 N 个，重复
  // M 个" (found counts every proxy found, duplicates included).
  void ShowAddedNotice(int found, int added, int refused = 0);
  // Shows a notice in the status strip for a few seconds.
  void ShowNotice(const QString& text);
  // Reloads what changed behind the window while it was busy.
  void CatchUpWithDisk();
  void ReloadList();
  void ReloadSettings();
  // A button of the layout: id is its object name, action what it runs (none: nullptr).
  QAbstractButton* AddButton(int id, const char* action, const char* text, int x, int y, int w, int h);

  DataDir& m_dir;
  bool m_forceNoTray;
  bool m_applyAutoRun;
  // A first start: the settings (the built-in resources, the start-at-log-in entry)
  // are held until the user has seen the welcome.
  bool m_welcomePending = false;
  CFirstStartDlg* m_welcome = nullptr;
  QElapsedTimer m_runClock;  // since the run now going on started
  QLineEdit* m_pFilter = nullptr;
  QTimer* m_filterTimer = nullptr;  // a burst of changes to the rows filters once
  int m_shownRows = -1;             // rows the filter leaves in view; -1 without one
  std::string m_windowStateIni;
  QSize m_baseSize;                       // the documented size, in pixels
  QHash<QWidget*, QRect> m_baseGeometry;  // every control at the documented size

  // The directory's stores, by their parts the window uses most.
  CProxyListModel& m_list;
  CSettings& m_settings;
  CProxySourceListModel& m_sources;
  // What Options.ini holds: the script's failover and the local endpoint.
  ExtraOptions& m_options;
  std::unique_ptr<CSystemProxy> m_sysProxy;
  ActionRegistry* m_actions;
  CEndpointHost* m_endpointHost = nullptr;
  CVerifyControl* m_verify = nullptr;
  // Every result of a run also goes to History.sqlite; its figures are extra columns.
  CHistoryColumns m_historyColumns;
  QMenu* m_historyMenu = nullptr;
  void RefreshHistoryColumns();
  CSourceDownloader* m_downloader = nullptr;

  CSortListCtrl* m_pList = nullptr;
  QTableView* m_pSourceList = nullptr;
  CTextProgressCtrl* m_pProgress = nullptr;
  CTextProgressCtrl* m_pDownloadProgress = nullptr;
  QHash<int, QAbstractButton*> m_buttons;
  OwnerDrawMenu* m_contextMenu = nullptr;  // menu 139; its first popup is shown
  OwnerDrawMenu* m_contextPopup = nullptr;
  CTrayController* m_trayCtl = nullptr;
  CHelpLink* m_helpLink = nullptr;
  QAbstractButton* m_menuButton = nullptr;
  // Changed behind the window while it was busy: the list file as it was then (its
  // rows are added when the run ends), and whether the settings and the sources are
  // to be read again.
  bool m_listBehind = false;
  bool m_settingsBehind = false;
  bool m_sourcesBehind = false;
  // A refresh asked for a verification of the whole list while the window was busy.
  bool m_verifyAllWhenIdle = false;
  QPointer<CVerifyResultDlg> m_pResultDlg;

  bool m_bTrayClosed = false;
  bool m_guardAsking = false;
  std::unique_ptr<CDesktopNotifier> m_notifier;
  std::optional<bool> m_proxyAnswered;  // at the last check; unset while none of ours is set
  bool m_answeredIsEndpoint = false;    // what m_proxyAnswered is about
  int m_lastUsable = -1;                // the endpoint's usable proxies at the last check
  QElapsedTimer m_notifyRunClock;       // the run's length for its notification, kept apart
                                        // from the summary line's so neither ends the other
  bool m_watching = false;              // a round of WatchProxy is running on the pool
  bool m_bStatusLinePending = false;
  QTimer* m_noticeTimer = nullptr;  // running while a notice holds the status strip
  int m_rowsBeforeDownload = 0;
  int m_foundByDownload = 0;
  int m_refusedByDownload = 0;
};

}  // namespace qb
