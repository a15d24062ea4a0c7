// The tray icon and its menu: the current system proxy at the head, the favourite
// proxies (the ticked rows of the proxy list) to switch to with two clicks, and the
// commands to show the window, open the about box, clear the proxy and exit.
#pragma once

#include <QtGlobal>

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qb {

class ActionRegistry;
class CProxyListModel;
class CSystemProxy;
class OwnerDrawMenu;

// Commands of the tray menu.
inline constexpr int ID_APP_ABOUT = 100;  // opens the about box (dialog 100)
inline constexpr int ID_TRAY_HEAD = 128;  // the head item; choosing it does nothing
inline constexpr int ID_CANCEL_IE_PROXY = 1011;
// Every favourite item has this command; its action's data() is the row index, so
// that a row of any index can be chosen.
inline constexpr int ID_FAVORITE_FIRST = 1124;
// The local endpoint: switch it on or off, and make it the system proxy.
inline constexpr int ID_ENDPOINT_SWITCH = 1130;
inline constexpr int ID_VIA_ENDPOINT = 1131;
inline constexpr int ID_TRAY_EXIT = 32783;
inline constexpr int ID_TRAY_SHOW = 32784;

inline constexpr const char* kEndpointItemText = QT_TRANSLATE_NOOP("Quillberry", "本机端口 %1");
inline constexpr const char* kEndpointOffText = QT_TRANSLATE_NOOP("Quillberry", "本机端口（未开启）");
inline constexpr const char* kViaEndpointText = QT_TRANSLATE_NOOP("Quillberry", "经由本机端口");
inline constexpr const char* kNoFavoriteText = QT_TRANSLATE_NOOP("Quillberry", "请选择常用代理（要打勾）");

// What the menu is built from: the main window's state when the menu opens.
struct TrayMenuState {
  const CProxyListModel* list = nullptr;
  std::string ieProxy;      // m_sIEProxy
  int autoProxyConfig = 0;  // m_nAutoProxyConfig
  int runningThreads = 0;   // m_nRunningThreads
  // Reads the desktop's proxy settings; false when they cannot be read. Without it
  // nothing is read.
  std::function<bool()> queryProxy;
  // The local endpoint's address while it runs; empty when it is off.
  std::string endpointAddress;
};

// The proxy the head names and the favourites are compared with: m_sIEProxy after its
// first "=" ("https=A:P" gives "A:P"), or "no proxy".
std::string TrayCurrentProxy(std::string_view ieProxy);
// "<IE: cur>" with the mode digit (1, 2, 3) and " 验证中..." while workers run.
std::string TrayHeadText(std::string_view ieProxy, int autoProxyConfig, int runningThreads);
// A favourite's text: address:port and the type, then "┇" and the remark without leading "!" cut
// to 8 legacy bytes, when that is not empty.
std::string FavoriteItemText(const CProxyListModel& list, int row);

// Adds the head item and the favourites (and, without favourites, the item that
// opens the window) to the tray popup. False when the proxy settings could not be
// read; the message has been shown and the menu is still usable.
bool BuildTrayMenu(OwnerDrawMenu& popup, const TrayMenuState& state);
// The whole tray menu, flat, with its images, "取消IE代理" ticked when no proxy is set,
// and built as above. Show GetSubMenu(0) of the result; nullptr when the menu layout
// is missing.
std::unique_ptr<OwnerDrawMenu> CreateTrayMenu(const TrayMenuState& state);

// The favourite of a row becomes the system proxy (the row's tick stays). A row that
// is no longer in the list changes nothing; false then, or when setting it failed
// (each failure has been shown).
bool SetFavoriteProxy(const CProxyListModel& list, CSystemProxy& sysProxy, int row);

// The tray icon of the main window, its notifications and its menu's commands.
class CTrayController : public QObject {
  Q_OBJECT

 public:
  CTrayController(CProxyListModel& list, CSystemProxy& sysProxy, QObject* parent = nullptr);
  ~CTrayController() override;

  // The busy count of the verification (m_nRunningThreads); none means idle.
  void SetRunningThreads(std::function<int()> running) { m_runningThreads = std::move(running); }
  // Read while the menu is built; see TrayMenuState::queryProxy.
  void SetProxyQuery(std::function<bool()> query) { m_queryProxy = std::move(query); }
  // The local endpoint's address while it runs, empty when off; read when the menu opens.
  void SetEndpointAddress(std::function<std::string()> address) { m_endpointAddress = std::move(address); }
  // Called before a favourite becomes the system proxy (the window asks its one
  // question about a proxy that stops working there).
  void SetBeforeFavorite(std::function<void()> before) { m_beforeFavorite = std::move(before); }
  // The menu's commands run the actions of these names (see ActionOfMenuCommand), and
  // their items are enabled while the actions are. Until a window hands over its
  // own, the controller's actions announce each command by its signal.
  void UseActions(ActionRegistry& actions) { m_actions = &actions; }

  // Shows the icon (start-up), with the icon that UpdateTrayIcon would choose.
  void AddTrayIcon();
  // 170 while m_sIEProxy is not empty, 128 otherwise.
  void UpdateTrayIcon();
  void UpdateTrayIcon(bool proxySet);
  // Hides the icon for good (CloseTray).
  void RemoveTrayIcon();

  int m_nTrayIcon;
  QSystemTrayIcon* TrayIcon() const { return m_tray; }

  TrayMenuState MenuState() const;
  // Builds the menu afresh and shows it at a global position; it deletes itself when
  // it closes and its command arrives through OnTrayCommand. Also the way to the menu
  // from the window when the desktop has no tray. Returns the shown popup.
  OwnerDrawMenu* ShowTrayMenu(const QPoint& globalPos);
  // The menu shown last, while it is open.
  OwnerDrawMenu* OpenMenu() const;

 public slots:
  // Left click or double click: show the window; right click: the menu.
  void OnTrayNotify(QSystemTrayIcon::ActivationReason reason);
  // A command of the tray menu, with the data of its item: a favourite's row, or the
  // action the command names.
  void OnTrayCommand(int command, const QVariant& data);
  // Sets the favourite of a row as the system proxy, then asks for the status line
  // and refreshes the icon.
  void OnFavoriteProxy(int row);
  void OnShowDialog();

 signals:
  // The commands as the controller's own actions announce them (see UseActions).
  void showDialogRequested();
  void aboutRequested();
  void exitRequested();
  // The system proxy changed through a favourite: refresh the status line.
  void statusLineUpdateNeeded();
  // A command of the tray menu may have switched the system proxy or the endpoint: the
  // state after it is worth telling.
  void switched();
  // The local endpoint's items: switch it on or off; make it the system proxy.
  void endpointSwitchRequested();
  void viaEndpointRequested();

 private:
  CProxyListModel& m_list;
  CSystemProxy& m_sys;
  QSystemTrayIcon* m_tray;
  ActionRegistry* m_actions;
  std::function<int()> m_runningThreads;
  std::function<bool()> m_queryProxy;
  std::function<std::string()> m_endpointAddress;
  std::function<void()> m_beforeFavorite;
  QPointer<OwnerDrawMenu> m_openMenu;   // the popup shown
  QPointer<OwnerDrawMenu> m_openOwner;  // the menu object that holds it
};

}  // namespace qb
