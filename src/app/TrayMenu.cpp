#include "app/TrayMenu.h"

#include <QCursor>

#include "app/WindowActions.h"
#include "base/Prompt.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "proxy/ProxyListModel.h"
#include "sysproxy/SystemProxy.h"
#include "ui/ActionRegistry.h"
#include "ui/FailureMessages.h"
#include "ui/OwnerDrawMenu.h"
#include "ui/Resources.h"

namespace qb {

namespace {

constexpr const char* kTrayTipText = QT_TRANSLATE_NOOP("Quillberry", "Ostrel代理验证（Quillberry）");
constexpr const char* kFavoriteSeparator = "┇";
constexpr std::size_t kRemarkWidth = 8;

// Item texts made of data: an "&" in a remark is shown, not taken as a shortcut.
QString MenuText(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()))
      .replace(QLatin1Char('&'), QStringLiteral("&&"));
}

std::string_view CutBefore(std::string_view s, char c) {
  const std::size_t at = s.find(c);
  return at == std::string_view::npos ? s : s.substr(0, at);
}

// The endpoint's items close the menu, below the favourites, so that the menu's
// familiar part keeps its places.
void AppendEndpointItems(OwnerDrawMenu& popup, const TrayMenuState& state, std::string_view curAddress) {
  popup.AppendItem(QString(), kMenuSeparator, 0);
  QAction* endpoint = popup.AppendItem(state.endpointAddress.empty()
                                           ? qb::Tr(kEndpointOffText)
                                           : qb::Tr(kEndpointItemText).arg(MenuText(state.endpointAddress)),
                                       0, ID_ENDPOINT_SWITCH);
  popup.CheckItem(endpoint, !state.endpointAddress.empty());
  QAction* via = popup.AppendItem(qb::Tr(kViaEndpointText), 0, ID_VIA_ENDPOINT);
  popup.CheckItem(via,
                  !state.endpointAddress.empty() && qb::AsciiCaseEqual(curAddress, state.endpointAddress));
}

}  // namespace

std::string TrayCurrentProxy(std::string_view ieProxy) {
  const std::size_t eq = ieProxy.find('=');
  std::string cur(eq == std::string_view::npos ? ieProxy : ieProxy.substr(eq + 1));
  if (cur.empty()) cur = "no proxy";
  return cur;
}

std::string TrayHeadText(std::string_view ieProxy, int autoProxyConfig, int runningThreads) {
  // The documented "<IE: …>" in Chinese; the English says what it is on Linux.
  std::string head = qb::TrStd(QT_TRANSLATE_NOOP("Quillberry", "<IE: ")) + TrayCurrentProxy(ieProxy) + ">";
  head += autoProxyConfig == 0 ? " 1" : autoProxyConfig == 1 ? " 2" : " 3";
  if (runningThreads > 0) head += qb::TrStd(QT_TRANSLATE_NOOP("Quillberry", " 验证中..."));
  return head;
}

std::string FavoriteItemText(const CProxyListModel& list, int row) {
  const std::string line = list.GetProxyLine(row);
  // The type beside the address: the desktop carries an HTTP and a SOCKS proxy
  // differently, and two favourites may share an address.
  std::string text(CutBefore(line, '@'));
  if (const size_t at = line.find('@'); at != std::string::npos) text += " " + line.substr(at + 1);
  const std::string remarkText = list.CellText(row, CProxyListModel::ColRemark);
  std::string_view remark = remarkText;
  while (!remark.empty() && remark.front() == '!') remark.remove_prefix(1);
  remark = qb::CutToLegacyWidth(remark, kRemarkWidth);
  if (!remark.empty()) {
    text += kFavoriteSeparator;
    text += remark;
  }
  return text;
}

bool BuildTrayMenu(OwnerDrawMenu& popup, const TrayMenuState& state) {
  const std::string cur = TrayCurrentProxy(state.ieProxy);
  popup.InsertItem(1, MenuText(TrayHeadText(state.ieProxy, state.autoProxyConfig, state.runningThreads)),
                   kMenuByPosition, ID_TRAY_HEAD);

  // What the desktop hands back is "A:P"; right after a proxy was set it is still the
  // proxy line "A:P@TYPE". Both name the same favourite.
  const std::string_view curAddress = CutBefore(cur, '@');
  bool anyFavorite = false;
  if (state.list) {
    const CProxyListModel& list = *state.list;
    for (int row = list.RowCount() - 1; row >= 0; --row) {
      if (!list.IsFavorite(row)) continue;
      const std::string text = FavoriteItemText(list, row);
      const std::string address(CutBefore(list.GetProxyLine(row), '@'));
      QAction* item = popup.AppendItem(MenuText(text), 0, ID_FAVORITE_FIRST);
      item->setData(row);
      if (qb::AsciiCaseEqual(address, curAddress)) popup.CheckItem(item, true);
      anyFavorite = true;
    }
  }

  // The proxy settings are read only to tell the user when they cannot be.
  if (state.queryProxy && !state.queryProxy()) {
    qb::ShowMessage(kMsgQueryFailed, QT_TRANSLATE_NOOP("Quillberry", "添加菜单项"), qb::MsgIcon::Warning);
    AppendEndpointItems(popup, state, curAddress);
    return false;
  }
  if (!anyFavorite) popup.AppendItem(qb::Tr(kNoFavoriteText), 0, ID_TRAY_SHOW);
  AppendEndpointItems(popup, state, curAddress);
  return true;
}

std::unique_ptr<OwnerDrawMenu> CreateTrayMenu(const TrayMenuState& state) {
  OwnerDrawMenu::SetFlatStyle(true);
  auto menu = std::make_unique<OwnerDrawMenu>();
  if (!menu->LoadMenuResource(IDR_TRAYMENU)) return nullptr;
  menu->LoadToolbarImages(IDR_TRAYBAR);
  OwnerDrawMenu* popup = menu->GetSubMenu(0);
  if (!popup) return nullptr;
  if (state.ieProxy.empty()) popup->CheckMenuItem(ID_CANCEL_IE_PROXY, true);
  BuildTrayMenu(*popup, state);
  return menu;
}

bool SetFavoriteProxy(const CProxyListModel& list, CSystemProxy& sysProxy, int row) {
  // A row gone since the menu was built names no proxy; clearing the system proxy
  // instead of setting the chosen one would be the opposite of what was asked.
  if (row < 0 || row >= list.RowCount()) return false;
  if (!ConfirmProxyStatus(list.Entry(row)->TimeStatus())) return false;
  return ReportProxyChange(sysProxy.SetIEProxy(list.GetProxyLine(row)));
}

// ---------------------------------------------------------------------------------

CTrayController::CTrayController(CProxyListModel& list, CSystemProxy& sysProxy, QObject* parent)
    : QObject(parent),
      m_nTrayIcon(IDR_MAINFRAME),
      m_list(list),
      m_sys(sysProxy),
      m_tray(new QSystemTrayIcon(this)),
      m_actions(new ActionRegistry(this)) {
  m_actions->Add(ActionOfMenuCommand(ID_APP_ABOUT), this, &CTrayController::aboutRequested);
  m_actions->Add(ActionOfMenuCommand(ID_TRAY_EXIT), this, &CTrayController::exitRequested);
  m_actions->Add(ActionOfMenuCommand(ID_TRAY_SHOW), this, &CTrayController::showDialogRequested);
  m_actions->Add(ActionOfMenuCommand(ID_ENDPOINT_SWITCH), this, &CTrayController::endpointSwitchRequested);
  m_actions->Add(ActionOfMenuCommand(ID_VIA_ENDPOINT), this, &CTrayController::viaEndpointRequested);
  // The system proxy announces the change; a window refreshes its status line and
  // the icon on it.
  m_actions->Add(ActionOfMenuCommand(ID_CANCEL_IE_PROXY), this,
                 [this] { ReportProxyChange(m_sys.OnCancelIEProxy()); });
  m_tray->setToolTip(qb::Tr(kTrayTipText));
  m_tray->setIcon(qb::ResourceIcon(m_nTrayIcon));
  connect(m_tray, &QSystemTrayIcon::activated, this, &CTrayController::OnTrayNotify);
}

CTrayController::~CTrayController() {
  if (m_openOwner) delete m_openOwner.data();
}

void CTrayController::AddTrayIcon() {
  UpdateTrayIcon();
  // Shown even while the desktop has no tray: Qt adds it when one appears.
  m_tray->show();
}

void CTrayController::UpdateTrayIcon() {
  UpdateTrayIcon(!m_sys.m_sIEProxy.empty());
}

void CTrayController::UpdateTrayIcon(bool proxySet) {
  const int icon = proxySet ? IDI_IEPROXY : IDR_MAINFRAME;
  if (icon == m_nTrayIcon && !m_tray->icon().isNull()) return;
  m_nTrayIcon = icon;
  m_tray->setIcon(qb::ResourceIcon(m_nTrayIcon));
}

void CTrayController::RemoveTrayIcon() {
  m_tray->hide();
}

TrayMenuState CTrayController::MenuState() const {
  TrayMenuState state;
  state.list = &m_list;
  state.ieProxy = m_sys.m_sIEProxy;
  state.autoProxyConfig = m_sys.m_nAutoProxyConfig;
  state.runningThreads = m_runningThreads ? m_runningThreads() : 0;
  state.queryProxy = m_queryProxy;
  if (m_endpointAddress) state.endpointAddress = m_endpointAddress();
  return state;
}

OwnerDrawMenu* CTrayController::ShowTrayMenu(const QPoint& globalPos) {
  // One menu at a time: a menu still open from an earlier click goes.
  if (m_openOwner) delete m_openOwner.data();
  std::unique_ptr<OwnerDrawMenu> owner = CreateTrayMenu(MenuState());
  if (!owner) return nullptr;
  OwnerDrawMenu* popup = owner->GetSubMenu(0);
  m_openOwner = owner.release();
  m_openMenu = popup;
  // Queued: the command runs after the menu has closed, as a posted command would,
  // so a modal box it opens never runs inside the menu's own event handling.
  connect(popup, &OwnerDrawMenu::commandChosen, this, &CTrayController::OnTrayCommand, Qt::QueuedConnection);
  m_actions->BindMenu(*popup, ActionOfMenuCommand, ActionRegistry::MenuChoice::Ignored);
  connect(popup, &QMenu::aboutToHide, m_openOwner.data(), &QObject::deleteLater);
  popup->popup(globalPos);
  return popup;
}

OwnerDrawMenu* CTrayController::OpenMenu() const {
  return m_openMenu.data();
}

void CTrayController::OnTrayNotify(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
      OnShowDialog();
      break;
    case QSystemTrayIcon::Context:
      ShowTrayMenu(QCursor::pos());
      break;
    default:
      break;
  }
}

void CTrayController::OnTrayCommand(int command, const QVariant& data) {
  // A favourite is no command but a row to choose; every favourite's item carries its
  // own.
  if (command == ID_FAVORITE_FIRST) {
    bool ok = false;
    const int row = data.toInt(&ok);
    if (ok) OnFavoriteProxy(row);
    emit switched();
    return;
  }
  // The head item names no action, and nor does anything unknown.
  if (const QString name = ActionOfMenuCommand(command); !name.isEmpty()) m_actions->Trigger(name);
  if (command == ID_CANCEL_IE_PROXY || command == ID_VIA_ENDPOINT || command == ID_ENDPOINT_SWITCH)
    emit switched();
}

void CTrayController::OnFavoriteProxy(int row) {
  if (row < 0 || row >= m_list.RowCount()) return;
  if (m_beforeFavorite) m_beforeFavorite();
  // A connection that could not be written has been reported; the status line and the
  // icon show what the desktop holds all the same.
  SetFavoriteProxy(m_list, m_sys, row);
  emit statusLineUpdateNeeded();
  UpdateTrayIcon();
}

void CTrayController::OnShowDialog() {
  m_actions->Trigger(ActionOfMenuCommand(ID_TRAY_SHOW));
}

}  // namespace qb
