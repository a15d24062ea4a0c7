#include "app/MainDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <unordered_set>

#include "app/EndpointHost.h"
#include "app/TrayMenu.h"
#include "app/WindowActions.h"
#include "base/Files.h"
#include "base/Prompt.h"
#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "endpoint/Endpoint.h"
#include "proxy/GeoLocation.h"
#include "proxy/ListFilter.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "settings/AutoRun.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "sources/ProxySource.h"
#include "sources/SourceDownloader.h"
#include "ui/DesktopNotifier.h"
#include "ui/DialogUnits.h"
#include "ui/FailureMessages.h"
#include "ui/FirstStartDlg.h"
#include "ui/HelpLink.h"
#include "ui/Messages.h"
#include "ui/OwnerDrawMenu.h"
#include "ui/ProxyInfoDlg.h"
#include "ui/ProxySourceDlg.h"
#include "ui/SettingDlg.h"
#include "ui/SortListCtrl.h"
#include "ui/TextProgressCtrl.h"
#include "ui/VerifyResultDlg.h"
#include "verify/VerifyControl.h"

namespace qb {

namespace {

constexpr const char* kFrameName = "Frame";
// The buttons whose captions change with the window's state, by their layout ids.
constexpr int kIdVerifyAll = 1045;
constexpr int kIdVerifySelected = 1002;
constexpr int kIdDownload = 1050;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

CMainDlg::CMainDlg(DataDir& dir, MainDlgOptions options, QWidget* parent)
    : QDialog(parent),
      m_dir(dir),
      m_forceNoTray(options.forceNoTray),
      m_applyAutoRun(options.applyAutoRun),
      m_windowStateIni(std::move(options.windowStateIni)),
      m_list(dir.List()),
      m_settings(dir.Settings()),
      m_sources(dir.Sources()),
      m_options(dir.Options()),
      m_sysProxy(std::make_unique<CSystemProxy>(dir, std::move(options.platform))),
      m_actions(new ActionRegistry(this)) {
  // The settings are read (and the built-in resources installed) before anything is
  // on screen. A first start writes neither them nor the start-at-log-in entry until
  // the user has seen the welcome, which asks about both.
  m_welcomePending = m_dir.FirstStart() && !m_dir.Exists(DataFile::Settings);
  LoadSettings();
  if (options.applyAutoRun && !m_welcomePending) ApplyAutoRun(m_settings, {}, m_dir.Path());
  m_sysProxy->SetAutoProxyConfig(m_settings.m_nAutoProxyConfig);
  // Options.ini that cannot be read leaves the defaults: the chosen proxy alone.
  ReportSettingsLoad(m_dir.LoadOptions());
  m_sysProxy->SetScriptOptions(m_options.script);
  m_sysProxy->SetEndpointListen(m_options.endpoint.listen);
  // Every script lists the favourites ticked at the moment it is made, whichever of
  // the buttons, the tray or the settings dialog makes it.
  m_sysProxy->SetFavoritesSource([this] {
    if (!m_dir.Options().verify.leaveOutTampering) return FavoriteProxyLines(m_list);
    return FavoriteProxyLines(m_list,
                              [this](const CProxyEntry& e) { return Tampers(m_historyColumns.TrustOf(e)); });
  });
  m_notifier = std::make_unique<CDesktopNotifier>(
      options.notificationBus.empty()
          ? QDBusConnection::sessionBus()
          : QDBusConnection::connectToBus(QString::fromStdString(options.notificationBus),
                                          QStringLiteral("quillberry-notifications")));
  auto* watch = new QTimer(this);
  watch->setInterval(options.watchMs);
  connect(watch, &QTimer::timeout, this, &CMainDlg::WatchProxy);
  watch->start();

  m_verify = new CVerifyControl(m_dir, this);
  m_verify->SetFtpFallbackQuestion([] {
    return qb::Prompt().Message(kMsgNoFtpSource, kCaptionVerifyAll, qb::MsgIcon::Warning,
                                qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
  });
  // A damaged history is moved aside with a message; without any the window runs on.
  ReportHistoryOpening(m_dir.OpenHistory(), m_dir.FilePath(DataFile::History));
  if (m_dir.Recorder()) {
    m_verify->SetHistory(m_dir.Recorder());
    m_verify->SetFavoritesByScore(m_options.history.favoritesByScore);
  }
  m_historyColumns.SetLocationDir(m_dir.Path());
  // A named proxy's country arrives with its name's address.
  m_historyColumns.SetOnNamesResolved([this] { m_list.ExtraColumnsChanged(); });
  m_list.SetExtraColumns(&m_historyColumns);

  AddWindowActions(*m_actions, *this);
  CreateControls();
  OnInitDialog();
  FitButtonCaptions();
  for (QObject* child : children()) {
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) m_baseGeometry.insert(w, w->geometry());
  }
  RefreshHistoryColumns();
  RestoreWindowState();
}

namespace {

// The store's key of the proxy the dialog shows, and its log-on (none without a user).
std::string DialogKey(const CProxyInfoDlg& dlg) {
  return CredentialsKey(dlg.m_sAddress.toStdString(), dlg.m_sPort.toStdString(), dlg.m_sType.toStdString());
}
std::optional<ProxyCredentials> DialogLogOn(const CProxyInfoDlg& dlg) {
  if (dlg.m_sUser.isEmpty()) return std::nullopt;
  return ProxyCredentials{dlg.m_sUser.toStdString(), dlg.m_sPassword.toStdString()};
}

}  // namespace

std::string WindowStatePath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!base.startsWith('/')) base = QDir::homePath() + QStringLiteral("/.config");
  return (base + QStringLiteral("/Quillberry/window.ini")).toStdString();
}

void CMainDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  ArrangeForSize(event->size());
}

void CMainDlg::ArrangeForSize(const QSize& size) {
  if (m_baseGeometry.isEmpty()) return;
  const int dx = std::max(0, size.width() - m_baseSize.width());
  const int dy = std::max(0, size.height() - m_baseSize.height());
  // The proxy list takes most of the height it gains, the source list the rest, in
  // the proportion of their documented heights.
  const QRect list = m_baseGeometry.value(m_pList);
  const QRect sources = m_baseGeometry.value(m_pSourceList);
  const int dyList = dy * list.height() / std::max(1, list.height() + sources.height());
  const int rightEdge = list.right();
  const int bandTop = list.bottom();
  for (auto it = m_baseGeometry.cbegin(); it != m_baseGeometry.cend(); ++it) {
    QWidget* w = it.key();
    QRect r = it.value();
    if (w == m_pList) {
      r.setSize(r.size() + QSize(dx, dyList));
    } else if (w == m_pSourceList) {
      r.translate(0, dyList);
      r.setSize(r.size() + QSize(dx, dy - dyList));
    } else if (w->objectName() == QLatin1String(kFrameName)) {
      r.setSize(r.size() + QSize(dx, dy));  // around everything
    } else if (w == m_pProgress) {
      r.setWidth(r.width() + dx);
    } else {
      // Right of the lists (or ending at their right edge): keeps to the right.
      if (r.right() >= rightEdge - 1) r.translate(dx, 0);
      // Below the proxy list: goes down with it.
      if (r.top() > bandTop) r.translate(0, dyList);
    }
    w->setGeometry(r);
  }
}

void CMainDlg::FitButtonCaptions() {
  // The column of buttons right of the lists: full-width buttons, and pairs of half
  // ones side by side.
  const QAbstractButton* first = m_buttons.value(kIdVerifyAll);
  const int columnLeft = first->x();
  const int fullWidth = first->width();
  int extra = 0;
  for (const QAbstractButton* b : std::as_const(m_buttons)) {
    if (b->x() < columnLeft) continue;
    const int lack = qb::ButtonWidthNeeded(*b) - b->width();
    const bool half = 2 * b->width() < fullWidth + 1;
    if (lack > 0) extra = std::max(extra, half ? 2 * lack : lack);
  }
  // A longer caption than the documented ones (the English ones, or a larger font)
  // widens the column, and the window with it, rather than being cut.
  if (extra > 0) {
    for (QAbstractButton* b : std::as_const(m_buttons)) {
      if (b->x() < columnLeft) continue;
      QRect r = b->geometry();
      if (2 * r.width() < fullWidth + 1) {
        if (r.x() > columnLeft + 1) r.translate(extra / 2, 0);
        r.setWidth(r.width() + extra / 2);
      } else {
        r.setWidth(r.width() + extra);
      }
      b->setGeometry(r);
    }
    if (auto* frame = findChild<QWidget*>(QLatin1String(kFrameName)))
      frame->resize(frame->size() + QSize(extra, 0));
    m_baseSize += QSize(extra, 0);
    setMinimumSize(m_baseSize);
    resize(m_baseSize);
  }
  // The download button ends where the proxy list ends; it grows to the left.
  if (QAbstractButton* download = m_buttons.value(kIdDownload)) {
    if (const int lack = qb::ButtonWidthNeeded(*download) - download->width(); lack > 0)
      download->setGeometry(download->geometry().adjusted(-lack, 0, 0, 0));
  }
}

void CMainDlg::RestoreWindowState() {
  if (m_windowStateIni.empty()) return;
  const QSettings state(QString::fromStdString(m_windowStateIni), QSettings::IniFormat);
  const QSize size = state.value(QStringLiteral("Window/Size")).toSize();
  if (size.isValid()) resize(size.expandedTo(m_baseSize));
  const QStringList widths = state.value(QStringLiteral("Window/ProxyColumns")).toStringList();
  for (int c = 0; c < widths.size() && c < CProxyListModel::ColumnCount; ++c) {
    if (const int w = widths[c].toInt(); w > 0) m_pList->setColumnWidth(c, w);
  }
  const QStringList shown = state.value(QStringLiteral("Window/HistoryColumns")).toStringList();
  const QStringList historyWidths = state.value(QStringLiteral("Window/HistoryColumnWidths")).toStringList();
  for (int c = 0; c < CHistoryColumns::Count_; ++c) {
    if (c < historyWidths.size()) {
      if (const int w = historyWidths[c].toInt(); w > 0)
        m_pList->setColumnWidth(CProxyListModel::ColumnCount + c, w);
    }
    m_pList->setColumnHidden(CProxyListModel::ColumnCount + c, !shown.contains(QString::number(c)));
  }
}

bool CMainDlg::HistoryColumnShown(int column) const {
  return !m_pList->isColumnHidden(CProxyListModel::ColumnCount + column);
}

void CMainDlg::SetHistoryColumnShown(int column, bool shown) {
  if (column < 0 || column >= CHistoryColumns::Count_) return;
  m_pList->setColumnHidden(CProxyListModel::ColumnCount + column, !shown);
  if (shown) FitColumns();
  SaveWindowState();
}

void CMainDlg::FitColumns() {
  // In the order shown: the sections a user sees need not be in the model's order.
  std::vector<int> shown;
  const QHeaderView* header = m_pList->horizontalHeader();
  for (int v = 0; v < m_list.columnCount(); ++v) {
    const int c = header->logicalIndex(v);
    if (c >= 0 && !m_pList->isColumnHidden(c)) shown.push_back(c);
  }
  if (shown.empty()) return;
  // The last column stretches over what is left, so its own width says nothing of
  // what it needs: it wants its starting width.
  const int last = shown.back();
  const int lastWants = static_cast<int>(
      (last < CProxyListModel::ColumnCount ? CProxyListModel::kBaseWidths[last] : 80) * g_dColumnScale);
  int others = 0;
  for (const int c : shown) {
    if (c != last) others += m_pList->columnWidth(c);
  }
  const int available =
      m_pList->width() - 2 * m_pList->frameWidth() -
      (m_pList->verticalScrollBar()->isVisible() ? m_pList->verticalScrollBar()->width() : 0);
  int lack = others + lastWants - available;
  if (lack <= 0) return;
  // The window widens first, as far as its screen lets it.
  const QScreen* screen = this->screen();
  const int room = isMaximized() || isFullScreen() || !screen
                       ? 0
                       : std::max(0, screen->availableGeometry().width() - frameGeometry().width());
  if (const int widen = std::min(lack, room); widen > 0) {
    resize(width() + widen, height());
    lack -= widen;
  }
  // What the screen cannot give, the other columns share, each by its part.
  if (lack <= 0 || others <= 0) return;
  const int least = m_pList->horizontalHeader()->minimumSectionSize();
  for (const int c : shown) {
    if (c == last) continue;
    const int w = m_pList->columnWidth(c);
    m_pList->setColumnWidth(
        c, std::max(least, w - static_cast<int>(static_cast<long long>(lack) * w / others) - 1));
  }
}

QMenu* CMainDlg::HistoryColumnsMenu() {
  if (!m_historyMenu) {
    m_historyMenu = new QMenu(this);
    for (int c = 0; c < CHistoryColumns::Count_; ++c) {
      QAction* a = m_historyMenu->addAction(m_historyColumns.Header(c));
      a->setCheckable(true);
      connect(a, &QAction::toggled, this, [this, c](bool on) { SetHistoryColumnShown(c, on); });
    }
  }
  // The check marks follow the columns, which RestoreWindowState may have changed.
  const QList<QAction*> actions = m_historyMenu->actions();
  for (int c = 0; c < actions.size(); ++c) {
    const QSignalBlocker quiet(actions[c]);
    actions[c]->setChecked(HistoryColumnShown(c));
  }
  return m_historyMenu;
}

void CMainDlg::RefreshHistoryColumns() {
  if (!m_dir.History()) return;
  m_historyColumns.Refresh(*m_dir.History(), m_list);
  m_list.ExtraColumnsChanged();
}

void CMainDlg::SaveWindowState() const {
  if (m_windowStateIni.empty()) return;
  QDir().mkpath(QFileInfo(QString::fromStdString(m_windowStateIni)).path());
  QSettings state(QString::fromStdString(m_windowStateIni), QSettings::IniFormat);
  state.setValue(QStringLiteral("Window/Size"), isMaximized() ? normalGeometry().size() : size());
  QStringList widths;
  for (int c = 0; c < CProxyListModel::ColumnCount; ++c) widths << QString::number(m_pList->columnWidth(c));
  state.setValue(QStringLiteral("Window/ProxyColumns"), widths);
  QStringList shown;
  QStringList historyWidths;
  for (int c = 0; c < CHistoryColumns::Count_; ++c) {
    if (!m_pList->isColumnHidden(CProxyListModel::ColumnCount + c)) shown << QString::number(c);
    historyWidths << QString::number(
        m_pList->horizontalHeader()->sectionSize(CProxyListModel::ColumnCount + c));
  }
  state.setValue(QStringLiteral("Window/HistoryColumns"), shown);
  state.setValue(QStringLiteral("Window/HistoryColumnWidths"), historyWidths);
}

CMainDlg::~CMainDlg() {
  // Workers are given up, never waited for.
  if (m_verify) m_verify->Shutdown();
}

QAbstractButton* CMainDlg::AddButton(int id, const char* action, const char* text, int x, int y, int w,
                                     int h) {
  auto* b = new QPushButton(qb::Tr(text), this);
  b->setObjectName(QString::number(id));
  b->setAutoDefault(false);
  b->setDefault(false);
  qb::PlaceControl(b, x, y, w, h);
  m_buttons.insert(id, b);
  if (action) m_actions->BindButton(b, QString::fromLatin1(action));
  return b;
}

void CMainDlg::CreateControls() {
  setObjectName("102");
  setWindowTitle(qb::Tr(kMainCaption));
  setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  const QRect size = qb::DluToPixels(font(), 0, 0, 445, 305);
  // The documented size is the first and the smallest; the window grows from it.
  m_baseSize = size.size();
  resize(m_baseSize);
  setMinimumSize(m_baseSize);
  setSizeGripEnabled(true);
  g_dColumnScale = qb::ColumnScale(font());

  auto* frame = new QGroupBox(this);
  frame->setObjectName(QLatin1String(kFrameName));
  qb::PlaceControl(frame, 5, 0, 434, 299);
  frame->lower();

  AddButton(1045, "verify-all", QT_TRANSLATE_NOOP("Quillberry", "验证全部"), 382, 32, 50, 15);
  AddButton(1002, "verify-selected", QT_TRANSLATE_NOOP("Quillberry", "验证选定"), 382, 50, 50, 15);
  AddButton(1009, "set-system-proxy", QT_TRANSLATE_NOOP("Quillberry", "设为IE代理"), 382, 72, 50, 15);
  AddButton(1011, "cancel-system-proxy", QT_TRANSLATE_NOOP("Quillberry", "取消IE代理"), 382, 90, 50, 15);
  AddButton(1034, "add-proxy", QT_TRANSLATE_NOOP("Quillberry", "添加代理"), 382, 112, 50, 15);
  AddButton(1041, "modify-selected", QT_TRANSLATE_NOOP("Quillberry", "修改选定"), 382, 130, 50, 15);
  AddButton(1039, "delete-selected", QT_TRANSLATE_NOOP("Quillberry", "删除"), 382, 148, 24, 15);
  AddButton(1044, "clean", QT_TRANSLATE_NOOP("Quillberry", "清理"), 408, 148, 24, 15);
  AddButton(1042, "import", QT_TRANSLATE_NOOP("Quillberry", "导入"), 382, 170, 24, 15);
  AddButton(1046, "paste", QT_TRANSLATE_NOOP("Quillberry", "粘贴"), 408, 170, 24, 15);
  AddButton(1043, "export-selected", QT_TRANSLATE_NOOP("Quillberry", "导出选定"), 382, 188, 50, 15);
  AddButton(1049, "settings", QT_TRANSLATE_NOOP("Quillberry", "【设置】"), 382, 12, 50, 15);
  AddButton(1050, "download-sources", QT_TRANSLATE_NOOP("Quillberry", "▲下载代理资源"), 311, 208, 62, 15);
  AddButton(1027, "add-source", QT_TRANSLATE_NOOP("Quillberry", "添加资源"), 382, 232, 50, 15);
  AddButton(1028, "modify-source", QT_TRANSLATE_NOOP("Quillberry", "修改资源"), 382, 250, 50, 15);
  AddButton(1029, "delete-source", QT_TRANSLATE_NOOP("Quillberry", "删除资源"), 382, 268, 50, 15);
  // The dialog's OK button exists but is never seen or used: Enter does nothing.
  QAbstractButton* ok = AddButton(1, nullptr, "OK", 97, 209, 26, 13);
  ok->hide();
  ok->setEnabled(false);

  auto* listLabel = new QLabel(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "代理列表:")), this);
  qb::PlaceControl(listLabel, 11, 13, 38, 13);
  m_pProgress = new CTextProgressCtrl(this);
  m_pProgress->setObjectName("1040");
  qb::PlaceControl(m_pProgress, 50, 13, 233, 13);
  // The filter shares the strip's line, at the list's right edge, so that it moves
  // with the list when the window grows.
  m_pFilter = new QLineEdit(this);
  m_pFilter->setObjectName("ListFilter");
  m_pFilter->setClearButtonEnabled(true);
  m_pFilter->setPlaceholderText(qb::Tr(kFilterPlaceholder));
  m_pFilter->setToolTip(qb::Tr(kFilterTip));
  qb::PlaceControl(m_pFilter, 286, 12, 87, 15);
  m_filterTimer = new QTimer(this);
  m_filterTimer->setSingleShot(true);
  m_filterTimer->setInterval(150);
  connect(m_filterTimer, &QTimer::timeout, this, &CMainDlg::ApplyFilter);
  connect(m_pFilter, &QLineEdit::textChanged, m_filterTimer, qOverload<>(&QTimer::start));
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    m_pFilter->setFocus(Qt::ShortcutFocusReason);
    m_pFilter->selectAll();
  });

  m_pList = new CSortListCtrl(true, this);
  m_pList->setObjectName("1000");
  m_pList->setModel(&m_list);
  m_pList->setSelectionModel(m_list.selectionModel());
  connect(m_list.selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) { DeselectHiddenRows(selected); });
  // New, removed, re-sorted or re-verified rows are filtered again.
  const auto refilterSoon = [this] {
    if (m_shownRows >= 0) m_filterTimer->start();
  };
  const auto refilterNow = [this] {
    if (m_shownRows >= 0) ApplyFilter();
  };
  connect(&m_list, &QAbstractItemModel::rowsInserted, this, refilterSoon);
  connect(&m_list, &QAbstractItemModel::rowsRemoved, this, refilterSoon);
  connect(&m_list, &QAbstractItemModel::dataChanged, this, refilterSoon);
  connect(&m_list, &QAbstractItemModel::layoutChanged, this, refilterNow);
  connect(&m_list, &QAbstractItemModel::modelReset, this, refilterNow);
  m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
  qb::PlaceControl(m_pList, 11, 31, 362, 172);
  connect(m_pList, &QWidget::customContextMenuRequested, this, &CMainDlg::ShowContextMenu);
  m_pList->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_pList->horizontalHeader(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    HistoryColumnsMenu()->popup(m_pList->horizontalHeader()->mapToGlobal(at));
  });
  m_actions->BindKeys(m_pList, ProxyListKeys());
  connect(m_pList, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
    // A double click on the check box only ticks it.
    if (i.isValid()) m_actions->Trigger(QStringLiteral("modify-selected"));
  });
  connect(m_pList, &QAbstractItemView::clicked, this, [this] { UpdateStatusLine(); });
  connect(m_list.selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    // Coalesced: selecting thousands of rows refreshes the line once.
    if (m_bStatusLinePending) return;
    m_bStatusLinePending = true;
    QTimer::singleShot(0, this, [this] {
      m_bStatusLinePending = false;
      UpdateStatusLine();
    });
  });

  auto* sourceLabel = new QLabel(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "获取代理网址:")), this);
  qb::PlaceControl(sourceLabel, 11, 211, 53, 9);
  m_pDownloadProgress = new CTextProgressCtrl(this);
  m_pDownloadProgress->setObjectName("1051");
  qb::PlaceControl(m_pDownloadProgress, 66, 209, 26, 13);

  m_pSourceList = new QTableView(this);
  m_pSourceList->setObjectName("1010");
  m_pSourceList->setModel(&m_sources);
  m_pSourceList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_pSourceList->setShowGrid(true);
  m_pSourceList->verticalHeader()->hide();
  m_pSourceList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_pSourceList->verticalHeader()->setDefaultSectionSize(m_pList->verticalHeader()->defaultSectionSize());
  m_pSourceList->setWordWrap(false);
  m_pSourceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  qb::PlaceControl(m_pSourceList, 11, 227, 362, 65);
  m_actions->BindKeys(m_pSourceList, SourceListKeys());
  connect(m_pSourceList, &QAbstractItemView::doubleClicked, this,
          [this] { m_actions->Trigger(QStringLiteral("modify-source")); });
  // Only a tick by the user changes the file; the program's own ticks do not.
  connect(&m_sources, &CProxySourceListModel::SourceTicked, this,
          [this] { ReportSourcesSave(m_dir.SaveSources()); });

  m_downloader = new CSourceDownloader(this);
  connect(m_downloader, &CSourceDownloader::Started, this, [this] {
    m_rowsBeforeDownload = m_list.RowCount();
    m_foundByDownload = 0;
    m_refusedByDownload = 0;
    EnableActions();
    m_pDownloadProgress->SetRange(0, 100);
    m_pDownloadProgress->SetPos(0);
    m_pDownloadProgress->show();
  });
  connect(m_downloader, &CSourceDownloader::SourceStarted, this, [this](int, const QString& name) {
    m_buttons.value(kIdDownload)->setText(name + QStringLiteral("..."));
  });
  connect(m_downloader, &CSourceDownloader::Progress, this, [this](int done, int count, qint64, qint64) {
    m_pDownloadProgress->SetRange(0, qMax(1, count));
    m_pDownloadProgress->SetPos(done);
  });
  connect(m_downloader, &CSourceDownloader::NothingDownloaded, this, [](const SourceReport& report) {
    qb::ShowMessage(kMsgNoProxyDownloaded, qb::TrStd(kCaptionDownloadFailed) + report.name,
                    qb::MsgIcon::Information);
  });
  connect(m_downloader, &CSourceDownloader::SourceFinished, this, [this](const SourceReport& report) {
    if (report.status == FetchStatus::Ok) {
      m_foundByDownload += report.found;
      m_refusedByDownload += report.refused;
    }
    ReportListSave(report.save);
    // A page taken only in part must not pass for the whole page.
    if (const std::string cut = PageLimitText(report); !cut.empty())
      qb::ShowMessage(cut, qb::TrStd(kCaptionPageCut) + report.name, qb::MsgIcon::Information);
  });
  connect(m_downloader, &CSourceDownloader::Finished, this, &CMainDlg::EndDownload);

  m_helpLink = new CHelpLink(this);
  qb::PlaceControl(m_helpLink, 385, 206, 20, 20);
  // Without a tray the favourites, About and Exit would hide in the window's
  // background menu: this button shows them.
  auto* menuButton = new QToolButton(this);
  menuButton->setObjectName(QStringLiteral("TrayMenuButton"));
  menuButton->setText(QStringLiteral("☰"));
  menuButton->setToolTip(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "菜单：收藏的代理、关于、退出")));
  menuButton->setAutoRaise(true);
  qb::PlaceControl(menuButton, 374, 208, 10, 15);
  connect(menuButton, &QToolButton::clicked, this,
          [this] { m_trayCtl->ShowTrayMenu(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height()))); });
  m_menuButton = menuButton;

  m_trayCtl = new CTrayController(m_list, *m_sysProxy, this);
  m_trayCtl->SetRunningThreads([this] { return m_verify->BusyWorkers(); });
  m_trayCtl->UseActions(*m_actions);
  connect(m_trayCtl, &CTrayController::statusLineUpdateNeeded, this, &CMainDlg::UpdateStatusLine);
  connect(m_trayCtl, &CTrayController::switched, this, &CMainDlg::NotifyTraySwitch);
  // The tray menu is also the window's own context menu, so that favourites can be
  // switched on a desktop without a tray.
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { m_trayCtl->ShowTrayMenu(mapToGlobal(pos)); });

  ConnectVerifier();
  connect(m_sysProxy.get(), &CSystemProxy::ieProxyChanged, this, [this] {
    UpdateStatusLine();
    UpdateTrayIcon();
  });
  // The proxy may be changed elsewhere (the desktop's settings, another program):
  // the status line and the tray icon follow it. A change touches several keys at
  // once; they are read once it has settled.
  auto* desktopSettled = new QTimer(this);
  desktopSettled->setSingleShot(true);
  desktopSettled->setInterval(100);
  connect(desktopSettled, &QTimer::timeout, this, [this] {
    (void)m_sysProxy->GetIEProxy();
    UpdateStatusLine();
    UpdateTrayIcon();
    GuardDesktop();
  });
  connect(m_sysProxy.get(), &CSystemProxy::desktopProxyChanged, desktopSettled, qOverload<>(&QTimer::start));
  m_sysProxy->WatchDesktop();
}

void CMainDlg::OnInitDialog() {
  for (int c = 0; c < CProxyListModel::ColumnCount; ++c) {
    m_pList->setColumnWidth(c, static_cast<int>(CProxyListModel::kBaseWidths[c] * g_dColumnScale));
  }
  for (int c = 0; c < CHistoryColumns::Count_; ++c) {
    m_pList->setColumnWidth(CProxyListModel::ColumnCount + c, static_cast<int>(80 * g_dColumnScale));
    m_pList->setColumnHidden(CProxyListModel::ColumnCount + c, true);
  }
  // Trust reads best beside anonymity; the network is already beside the country.
  m_pList->horizontalHeader()->moveSection(CProxyListModel::ColumnCount + CHistoryColumns::Trust,
                                           CProxyListModel::ColumnCount + CHistoryColumns::Anonymity + 1);
  // Wide enough for the longest usual content, whatever the font: a typical IPv6
  // address (longer than any dotted one; a long name is cut short like a long remark),
  // a five-digit port, the text of a row being verified.
  const QFontMetrics metrics(m_pList->font());
  const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
  for (const auto& [column, sample] : {std::pair{CProxyListModel::ColAddr, kTypicalIpv6Address},
                                       std::pair{CProxyListModel::ColPort, "65535"}}) {
    const int needed = metrics.horizontalAdvance(QString::fromLatin1(sample)) + padding;
    if (m_pList->columnWidth(column) < needed) m_pList->setColumnWidth(column, needed);
  }
  // Every status word whole, in the language shown.
  for (const char* status : {kStatusVerifying, kStatusUnverified, kStatusConnectFailed, kStatusTimeout,
                             kStatusMismatch, kStatusPasswordMismatch, kStatusUnsupported, kStatusException,
                             kStatusUnresolved, kStatusTlsIntercepted, kStatusModified}) {
    const int needed = metrics.horizontalAdvance(qb::Tr(status)) + padding;
    if (m_pList->columnWidth(CProxyListModel::ColTimeStatus) < needed)
      m_pList->setColumnWidth(CProxyListModel::ColTimeStatus, needed);
  }
  // The remark, last, stretches over what the list leaves it; at its usual width beside
  // an address column wide enough for IPv6 it would push the list sideways. It starts
  // with what is left, down to a country and its capital.
  int others = 0;
  for (int c = 0; c < CProxyListModel::ColRemark; ++c) others += m_pList->columnWidth(c);
  const int left = m_pList->width() - 2 * m_pList->frameWidth() -
                   m_pList->verticalScrollBar()->sizeHint().width() - others;
  const int remarkLeast = metrics.horizontalAdvance(QStringLiteral("中国 北京")) + padding;
  m_pList->setColumnWidth(
      CProxyListModel::ColRemark,
      std::clamp(left, remarkLeast, std::max(remarkLeast, m_pList->columnWidth(CProxyListModel::ColRemark))));
  LoadList();
  // Before the desktop's proxy is applied again: it may point at the endpoint.
  StartEndpoint();

  m_pProgress->SetBkColour(palette().color(QPalette::Button));
  // Read the desktop's proxy and write it back, so that every connection and the
  // script agree with it.
  // A desktop given back its own setting keeps it as it is: written again under the
  // mode, it would become this program's setting once more.
  if (!RepairDesktopAtStart()) {
    ReportProxyQuery(m_sysProxy->GetIEProxy());
    ReportProxyChange(m_sysProxy->SetIEProxy(m_sysProxy->m_sIEProxy));
  }
  UpdateStatusLine();

  m_pDownloadProgress->hide();
  m_dir.RestoreFavorites();

  m_contextMenu = new OwnerDrawMenu(this);
  m_contextMenu->LoadMenuResource(IDR_LISTMENU);
  m_contextMenu->LoadToolbarImages(IDR_LISTBAR);
  m_contextPopup = m_contextMenu->GetSubMenu(0);
  if (m_contextPopup) {
    m_contextPopup->setObjectName("139");
    // The list's keys, shown beside the items that do the same; the list's keys do
    // the work, and an open menu takes them only while it has the focus.
    for (const auto& [action, key] : ListMenuKeys()) {
      for (QAction* item : m_contextPopup->actions()) {
        if (ActionOfMenuCommand(m_contextPopup->CommandOf(item)) != action) continue;
        item->setShortcut(key);
        item->setShortcutContext(Qt::WidgetShortcut);
        item->setShortcutVisibleInContextMenu(true);
      }
    }
    m_actions->BindMenu(*m_contextPopup, ActionOfMenuCommand, ActionRegistry::MenuChoice::Dispatched);
  }
  EnableActions();

  m_verify->StartTimers();

  if (!m_forceNoTray) m_trayCtl->AddTrayIcon();
  m_menuButton->setVisible(!HasTray());
  m_trayCtl->UpdateTrayIcon();

  m_pSourceList->setColumnWidth(0, static_cast<int>(150 * g_dColumnScale));
  m_pSourceList->setColumnWidth(1, static_cast<int>(373 * g_dColumnScale));
  // No empty band right of the last column: it takes what is left.
  m_pList->horizontalHeader()->setStretchLastSection(true);
  m_pSourceList->horizontalHeader()->setStretchLastSection(true);
  ReportSourcesLoad(m_dir.LoadSources());

  m_dir.WatchFiles();
  connect(&m_dir, &DataDir::ChangedBehind, this, &CMainDlg::OnDataFileChangedBehind);
  // After the end of a run or a download has saved what it did.
  connect(m_verify, &CVerifyControl::RunStateChanged, this, [this](RunState state) {
    if (state == RunState::Running && !m_notifyRunClock.isValid()) m_notifyRunClock.start();
    if (state != RunState::Idle) return;
    QTimer::singleShot(0, this, &CMainDlg::CatchUpWithDisk);
    NotifyRunDone();
  });
  connect(m_downloader, &CSourceDownloader::Finished, this,
          [this] { QTimer::singleShot(0, this, &CMainDlg::CatchUpWithDisk); });
  m_helpLink->SetLinkUrl(QString::fromStdString(m_dir.FilePath(DataFile::Help)));
}

void CMainDlg::ConnectVerifier() {
  connect(m_verify, &CVerifyControl::RunStateChanged, this, &CMainDlg::ShowRunState);
  connect(m_verify, &CVerifyControl::StoppingPulse, this, [this](bool alternate) {
    RunButton()->setText(qb::Tr(alternate ? kCaptionStopping2 : kCaptionStopping1));
  });
  connect(m_verify, &CVerifyControl::ProgressRange, this,
          [this](int lo, int hi) { m_pProgress->SetRange(lo, hi); });
  connect(m_verify, &CVerifyControl::ProgressPos, this, [this](int pos) { m_pProgress->SetPos(pos); });
  connect(m_verify, &CVerifyControl::ProgressCounts, this, [this](int total, int finished, bool ending) {
    QString text = QString::asprintf(" Sum: %d, Finished: %d, Percentage: %.1f%%", total, finished,
                                     total > 0 ? 100.0 * finished / total : 0.0);
    if (ending) text += QStringLiteral("; Threads ending ...");
    m_pProgress->SetWindowText(text);
  });
  connect(m_verify, &CVerifyControl::HintDue, this,
          [this] { m_pProgress->SetWindowText(qb::Tr(kTextHint)); });
  connect(m_verify, &CVerifyControl::Notice, this, &CMainDlg::ShowRunNotice);
  connect(m_verify, &CVerifyControl::HistoryNotRecorded, this,
          [this](int count, HistoryProblem problem, const QString& reason) {
            qb::ShowMessage(
                HistoryLostText(count, problem, reason, m_dir.FilePath(DataFile::History)).toStdString(),
                qb::TrStd(kCaptionHistory), qb::MsgIcon::Warning);
          });
  connect(m_verify, &CVerifyControl::ResultViewOpened, this, [this] {
    if (!m_pResultDlg) m_pResultDlg = new CVerifyResultDlg(this);
    m_pResultDlg->SetStatus(qb::Tr(kResultStatusPrefix) + qb::Tr(kStatusVerifying));
    m_pResultDlg->SetPage({});
    m_pResultDlg->show();
    m_pResultDlg->raise();
    m_pResultDlg->activateWindow();
  });
  connect(m_verify, &CVerifyControl::VerifyResultShown, this,
          [this](const QString& rowText, const QString& anonymity, const QString& exitAddress,
                 const QString& page) {
            if (!m_pResultDlg) return;
            m_pResultDlg->SetStatus(ResultStatusText(rowText, anonymity, exitAddress));
            m_pResultDlg->SetPage(page);
          });
  connect(m_verify, &CVerifyControl::ListSaved, this,
          [](const qb::OpResult& result) { ReportListSave(result); });
  connect(m_verify, &CVerifyControl::StatusLineChanged, this, &CMainDlg::UpdateStatusLine);
  connect(m_verify, &CVerifyControl::TrayIconRefresh, this, &CMainDlg::UpdateTrayIcon);
  connect(m_verify, &CVerifyControl::ListSorted, this,
          [this](int column, bool ascending) { m_pList->SortHeader()->SetSortImage(column, ascending); });
  // The run wrote its results before it ended; the columns show them now.
  connect(m_verify, &CVerifyControl::RunEnded, this, [this] {
    RefreshHistoryColumns();
    ShowRunSummary();
  });
}

QAbstractButton* CMainDlg::RunButton() const {
  return m_buttons.value(m_verify->VerifiesAll() ? kIdVerifyAll : kIdVerifySelected);
}

void CMainDlg::EnableActions() {
  const RunState state = m_verify->State();
  EnableForState(*m_actions, state, m_downloader->IsRunning());
  // The run's own button becomes its stop button while the run goes on.
  const bool all = m_verify->VerifiesAll();
  m_actions->BindButton(m_buttons.value(kIdVerifyAll), RunButtonAction(true, state, all));
  m_actions->BindButton(m_buttons.value(kIdVerifySelected), RunButtonAction(false, state, all));
}

void CMainDlg::ShowRunState(RunState state) {
  EnableActions();
  switch (state) {
    case RunState::Running:
      if (!m_runClock.isValid()) m_runClock.start();
      RunButton()->setText(qb::Tr(kCaptionStopVerify));
      break;
    case RunState::Stopping:
      RunButton()->setText(qb::Tr(kCaptionStopping1));
      break;
    case RunState::Idle:
      m_pList->setEnabled(true);
      m_buttons.value(kIdVerifyAll)->setText(qb::Tr(kCaptionVerifyAll));
      m_buttons.value(kIdVerifySelected)->setText(qb::Tr(kCaptionVerifySelected));
      break;
  }
}

void CMainDlg::ShowRunSummary() {
  const double seconds = m_runClock.isValid() ? m_runClock.elapsed() / 1000.0 : 0.0;
  m_runClock.invalidate();
  std::vector<int> rows = m_list.SelectedRows();
  if (m_verify->VerifiesAll() || rows.empty()) {
    rows.resize(static_cast<std::size_t>(m_list.RowCount()));
    for (int r = 0; r < m_list.RowCount(); ++r) rows[static_cast<std::size_t>(r)] = r;
  }
  const RunTally tally = TallyRun(m_list, rows);
  const QString took = QString::number(seconds, 'f', 1);
  ShowNotice(
      tally.working > 0
          ? qb::Tr(kNoticeRunSummary).arg(tally.working).arg(tally.failed).arg(Q(tally.fastest)).arg(took)
          : qb::Tr(kNoticeRunSummaryNone).arg(tally.failed).arg(took));
}

void CMainDlg::ApplyFilter() {
  const std::string text = m_pFilter->text().toStdString();
  // The columns beyond the row's own fields: the trust verdict always, by its text and
  // its word ("modified"), so that a filter finds the tampering proxies whether the
  // column is shown or not; the country and network when shown (they cost a look-up).
  const bool country = HistoryColumnShown(CHistoryColumns::Country);
  const bool network = HistoryColumnShown(CHistoryColumns::Network);
  const std::function<std::string(const CProxyEntry&)> extra = [this, country,
                                                                network](const CProxyEntry& e) {
    const Trust trust = m_historyColumns.TrustOf(e);
    std::string more = TrustText(trust).toStdString() + '\t' + TrustWord(trust);
    if (country) more += '\t' + m_historyColumns.Text(e, CHistoryColumns::Country).toStdString();
    if (network) more += '\t' + m_historyColumns.Text(e, CHistoryColumns::Network).toStdString();
    return more;
  };
  const std::vector<char> shown = FilterRows(m_list, text, extra);
  const bool active = !CListFilter(text).Empty();
  int count = 0;
  m_pList->setUpdatesEnabled(false);
  for (int row = 0; row < static_cast<int>(shown.size()); ++row) {
    const bool hide = !shown[static_cast<std::size_t>(row)];
    if (m_pList->isRowHidden(row) != hide) m_pList->setRowHidden(row, hide);
    if (!hide) ++count;
  }
  m_pList->setUpdatesEnabled(true);
  m_shownRows = active ? count : -1;
  if (active) DeselectHiddenRows(m_list.selectionModel()->selection());
  UpdateStatusLine();
}

void CMainDlg::DeselectHiddenRows(const QItemSelection& selected) {
  if (m_shownRows < 0) return;
  QItemSelection hidden;
  for (const QItemSelectionRange& range : selected) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      if (m_pList->isRowHidden(row))
        hidden.select(m_list.index(row, 0), m_list.index(row, m_list.columnCount() - 1));
    }
  }
  if (!hidden.isEmpty()) m_list.selectionModel()->select(hidden, QItemSelectionModel::Deselect);
}

bool StartsInTray(bool minimisedAsked, bool minimiseSetting, bool firstStart, bool hasTray) {
  if (!hasTray) return false;
  return minimisedAsked || (minimiseSetting && !firstStart);
}

void CMainDlg::StartUp(bool minimised) {
  if (m_welcomePending) {
    // Whatever the start asked for, a new user sees the window and the welcome.
    show();
    OpenWelcome();
    return;
  }
  if (StartsInTray(minimised, m_settings.m_bMinimize != 0, m_dir.FirstStart(), HasTray())) return;
  show();
}

void CMainDlg::OpenWelcome() {
  if (m_welcome) return;
  QStringList hosts;
  for (const std::string& host : CheckedResourceHosts(m_settings)) hosts << Q(host);
  m_welcome = new CFirstStartDlg({m_settings.m_bAutoRun != 0, m_settings.m_bAutoTimingVerify != 0},
                                 m_settings.m_bMinimize != 0 && HasTray(), hosts, this);
  m_welcome->setAttribute(Qt::WA_DeleteOnClose);
  // Closed in any way, it keeps what it showed: the user has seen the choice.
  connect(m_welcome, &QDialog::finished, this, &CMainDlg::EndWelcome);
  m_welcome->setWindowModality(Qt::WindowModal);
  m_welcome->open();
}

void CMainDlg::EndWelcome() {
  if (!m_welcome) return;
  const FirstStartChoices chosen = m_welcome->Choices();
  m_welcome = nullptr;
  if (!m_welcomePending) return;
  m_welcomePending = false;
  m_settings.m_bAutoRun = chosen.autoRun ? 1 : 0;
  m_settings.m_bAutoTimingVerify = chosen.autoVerify ? 1 : 0;
  ReportSettingsSave(m_dir.SaveSettings());
  if (m_applyAutoRun) ApplyAutoRun(m_settings, {}, m_dir.Path());
}

void CMainDlg::RunAction(const QString& action) {
  if (action == QLatin1String("verify-all")) {
    // Only ever a start, and not while a start is still being decided (its question
    // may be open) either.
    if (!Busy()) m_actions->Trigger(QStringLiteral("verify-all"));
  } else if (action == QLatin1String("cancel-proxy")) {
    m_actions->Trigger(QStringLiteral("cancel-system-proxy"));
  }
}

CVerifyResultDlg* CMainDlg::ResultDlg() const {
  return m_pResultDlg.data();
}

bool CMainDlg::HasTray() const {
  return !m_forceNoTray && QSystemTrayIcon::isSystemTrayAvailable();
}

void CMainDlg::SaveList() {
  ReportListSave(m_dir.SaveList());
}

void CMainDlg::LoadList() {
  DataDir::ListLoad load;
  if (!ReportListLoad(m_dir.LoadList(&load))) return;
  // Lines of a hand-edited list that hold no proxy are not lost with the next save.
  if (load.rejected > 0) {
    if (!load.rejectedKept) {
      ReportListSave(load.rejectedKept);
    } else {
      ShowNotice(qb::Tr(kNoticeRejectedLines)
                     .arg(load.rejected)
                     .arg(QString::fromStdString(qb::JoinPath(m_dir.Path(), kRejectedListFileName))));
    }
  }
}

void CMainDlg::LoadSettings() {
  bool defaultsInstalled = false;
  // A first start says what the built-in resources reach in its welcome, and saves
  // them when the user has seen it; a Setting.dat that lost its resources is mended
  // at once, with the warning.
  const qb::OpResult loaded =
      m_dir.LoadSettings(&defaultsInstalled, m_welcomePending ? DataDir::BuiltInResources::Hold
                                                              : DataDir::BuiltInResources::Save);
  if (defaultsInstalled && !m_welcomePending)
    qb::ShowMessage(DefaultResourcesText(m_dir.SettingsKeptAs()).toStdString(), "Quillberry",
                    qb::MsgIcon::Warning);
  ReportSettingsLoad(loaded);
}

void CMainDlg::ShowRunNotice(RunNotice notice) {
  const NoticeText t = RunNoticeText(notice);
  qb::ShowMessage(t.text, t.caption, t.icon);
}

bool CMainDlg::Busy() const {
  return !m_verify->IsIdle() || m_downloader->IsRunning();
}

std::vector<std::string> CMainDlg::AddHandedRows(const std::vector<std::string>& lines,
                                                 const FoundCredentialList& logOns, qb::OpResult* save) {
  std::vector<std::string> added;
  {
    CProxyListModel::BulkAppend bulk(m_list);
    for (const std::string& line : lines) {
      if (m_list.AddProxyLine(line, 0) == 1) added.push_back(line);
    }
  }
  qb::OpResult saved = qb::OpResult::Success();
  // A proxy handed again with another log-on takes the new one, as an import does.
  if (!added.empty() || !logOns.empty()) {
    saved = m_dir.SaveList(logOns);
    // The command is waiting for its answer; a message box would hold it up.
    if (!saved) QTimer::singleShot(0, this, [saved] { ReportListSave(saved); });
    UpdateStatusLine();
  }
  if (save) *save = saved;
  return added;
}

bool CMainDlg::VerifyAllWhenIdle() {
  // A window left open for days thins its history only at its start otherwise; the
  // refresh that a timer hands over is when a command would have done it.
  if (CHistoryStore* history = m_dir.History())
    history->ThinIfDue(HistoryNow(), m_dir.Options().history.keepDays);
  if (Busy()) {
    m_verifyAllWhenIdle = true;
    return false;
  }
  // After the answer has gone out: the command is waiting for it, and the run's start
  // may ask a question.
  QTimer::singleShot(0, this, [this] {
    if (Busy()) {
      m_verifyAllWhenIdle = true;
      return;
    }
    m_actions->Trigger(QStringLiteral("verify-all"));
  });
  return true;
}

void CMainDlg::OnDataFileChangedBehind(DataFile file) {
  if (file == DataFile::ProxyList) {
    if (!Busy()) {
      ReloadList();
      return;
    }
    // The run's or the download's saves take the other program's rows into the list
    // before they write it (DataDir::SaveList); what came after them is read when the
    // work ends.
    m_listBehind = true;
  } else if (file == DataFile::Settings) {
    m_settingsBehind = true;
    if (!Busy()) CatchUpWithDisk();
  } else if (file == DataFile::Sources) {
    m_sourcesBehind = true;
    if (!Busy()) CatchUpWithDisk();
  }
}

void CMainDlg::CatchUpWithDisk() {
  if (Busy()) return;
  if (m_verifyAllWhenIdle) {
    m_verifyAllWhenIdle = false;
    // The list read again first, so that the run verifies what the file holds now.
    QTimer::singleShot(0, this, [this] {
      if (Busy()) {
        m_verifyAllWhenIdle = true;
        return;
      }
      m_actions->Trigger(QStringLiteral("verify-all"));
    });
  }
  if (m_listBehind) {
    m_listBehind = false;
    if (m_dir.ListChangedOnDisk()) ReloadList();
    UpdateStatusLine();
    UpdateTrayIcon();
  }
  if (m_settingsBehind) {
    m_settingsBehind = false;
    ReloadSettings();
  }
  if (m_sourcesBehind) {
    m_sourcesBehind = false;
    ReportSourcesLoad(m_dir.LoadSources());
    m_dir.Acknowledge(DataFile::Sources);
  }
}

void CMainDlg::ReloadList() {
  // The marks are kept by proxy, not by row: the other program may have reordered
  // the rows.
  std::vector<std::string> favorites;
  for (int row = 0; row < m_list.RowCount(); ++row) {
    if (!m_list.IsFavorite(row)) continue;
    const CProxyEntry* e = m_list.Entry(row);
    favorites.push_back(ProxyKey(e->Addr(), e->Port(), e->Type()));
  }
  m_list.Clear();
  LoadList();
  m_dir.Acknowledge(DataFile::ProxyList);
  RefreshHistoryColumns();
  if (!favorites.empty()) {
    const std::unordered_set<std::string> marked(favorites.begin(), favorites.end());
    for (int row = 0; row < m_list.RowCount(); ++row) {
      const CProxyEntry* e = m_list.Entry(row);
      if (marked.count(ProxyKey(e->Addr(), e->Port(), e->Type()))) m_list.SetFavorite(row, true);
    }
  }
  UpdateStatusLine();
  UpdateTrayIcon();
}

void CMainDlg::ReloadSettings() {
  // A file that cannot be read leaves the settings as they were. Every line the
  // program writes is there in a file it wrote, so what is read replaces them whole.
  LoadSettings();
  m_dir.Acknowledge(DataFile::Settings);
  if (m_applyAutoRun) ApplyAutoRun(m_settings, {}, m_dir.Path());
  m_sysProxy->SetAutoProxyConfig(m_settings.m_nAutoProxyConfig);
  UpdateStatusLine();
}

void CMainDlg::ShowNotice(const QString& text) {
  if (!m_noticeTimer) {
    m_noticeTimer = new QTimer(this);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(kNoticeMs);
    connect(m_noticeTimer, &QTimer::timeout, this, &CMainDlg::UpdateStatusLine);
  }
  m_pProgress->SetWindowText(text);
  m_noticeTimer->start();
}

void CMainDlg::ShowAddedNotice(int found, int added, int refused) {
  QString text = qb::Tr(kNoticeAdded).arg(added).arg(std::max(0, found - added));
  // What looked like a proxy but cannot be one, so that nothing is dropped unseen.
  if (refused > 0) text += qb::Tr(kNoticeRefused).arg(refused);
  ShowNotice(text);
}

void CMainDlg::UpdateStatusLine() {
  // A notice keeps the strip for its few seconds; the line is brought up to date
  // when it ends.
  if (m_noticeTimer && m_noticeTimer->isActive()) return;
  std::string ieProxy;
  if (!m_sysProxy->m_sIEProxy.empty()) {
    // Quiet: this runs on every click of the list, and the failure was reported when
    // the proxy was read at start-up or set.
    (void)m_sysProxy->GetIEProxy();
    ieProxy = m_sysProxy->m_sIEProxy;
  }
  // The counts are named; what follows them is the documented strip text.
  const std::string rest = FormatStatusLine(0, 0, m_settings.m_nAutoProxyConfig, ieProxy);
  const QString counts =
      m_shownRows < 0
          ? qb::Tr(kStatusCounts).arg(m_list.SelectedCount()).arg(m_list.RowCount())
          : qb::Tr(kStatusCountsFiltered).arg(m_list.SelectedCount()).arg(m_shownRows).arg(m_list.RowCount());
  QString line = QLatin1Char(' ') + counts + QLatin1Char(';') + Q(rest.substr(rest.find(';') + 1));
  // What the desktop uses and whether it answers, once a check of this program's own
  // setting has said so.
  if (m_proxyAnswered) {
    if (m_answeredIsEndpoint) line += qb::Tr(kStatusViaEndpoint);
    line += qb::Tr(*m_proxyAnswered ? kStatusAnswers : kStatusSilent);
  }
  m_pProgress->SetWindowText(line);
}

void CMainDlg::UpdateTrayIcon() {
  m_trayCtl->UpdateTrayIcon();
}

QSystemTrayIcon* CMainDlg::TrayIcon() const {
  return m_trayCtl->TrayIcon();
}
int CMainDlg::TrayIconId() const {
  return m_trayCtl->m_nTrayIcon;
}

// ---- Proxy list commands ----

void CMainDlg::OnAddProxy() {
  CProxyInfoDlg dlg(this);
  if (dlg.exec() != QDialog::Accepted) return;
  const int r = AddProxyFromDialog(m_list, dlg.m_sType.toStdString(), dlg.m_sAddress.toStdString(),
                                   dlg.m_sPort.toStdString(), dlg.m_sRemark.toStdString());
  if (r == 0) qb::ShowMessage(kMsgProxyExists, kCaptionAddProxy, qb::MsgIcon::Warning);
  if (r != 0) {
    // The log-on first: the list's save keeps only those of its rows.
    if (!dlg.m_sUser.isEmpty()) ReportListSave(m_dir.SetLogOn(DialogKey(dlg), DialogLogOn(dlg)));
    SaveList();
    UpdateStatusLine();
  }
}

void CMainDlg::OnModifySelected() {
  if (!m_verify->IsIdle()) return;
  const std::vector<int> selected = m_list.SelectedRows();
  if (selected.empty()) return;
  const int row = selected.front();
  const CProxyEntry* e = m_list.Entry(row);

  CProxyInfoDlg dlg(this);
  dlg.m_sType = Q(std::string(e->Type()));
  dlg.m_sAddress = Q(e->Addr());
  dlg.m_sPort = Q(e->Port());
  dlg.m_sRemark = Q(std::string(e->Remark()));
  const std::optional<ProxyCredentials> logOn = m_dir.Credentials().Find(*e);
  if (logOn) {
    dlg.m_sUser = Q(logOn->user);
    dlg.m_sPassword = Q(logOn->password);
  }
  // Where a judge saw the proxy come out is where its traffic appears to be from; it
  // stands for the proxy only while the address is the one the judge saw it at.
  const std::string oldAddress = e->Addr();
  const ProxyScore* score = m_historyColumns.Find(*e);
  const std::string exitAddress = score ? score->exitAddress : std::string();
  if (dlg.exec() == QDialog::Accepted) {
    const std::string dataDir = m_dir.Path();
    const ModifyOutcome outcome = ModifyProxyRow(
        m_list, row, dlg.m_sType.toStdString(), dlg.m_sAddress.toStdString(), dlg.m_sPort.toStdString(),
        dlg.m_sRemark.toStdString(), [this, dataDir, oldAddress, exitAddress](const std::string& address) {
          std::string located = address == oldAddress && !exitAddress.empty() ? exitAddress : address;
          // A name is where its address is, if the list has looked it up already: the
          // window does not wait for a resolver here.
          if (HostKindOf(located) == HostKind::Name) located = m_historyColumns.KnownAddressOf(located);
          if (located.empty()) return std::string();
          const std::optional<GeoResult> where = LocateAddress(dataDir, located, CurrentLanguage());
          return where ? GeoRemark(*where) : std::string();
        });
    if (outcome == ModifyOutcome::Duplicate)
      qb::ShowMessage(kMsgProxyExists, kCaptionModifyProxy, qb::MsgIcon::Warning);
    // The row's log-on under its key as it now stands; the old key's goes with the save.
    const std::optional<ProxyCredentials> newLogOn = DialogLogOn(dlg);
    const bool logOnChanged = newLogOn != logOn;
    if (outcome == ModifyOutcome::Changed || logOnChanged) {
      if (ReportListSave(m_dir.SetLogOn(DialogKey(dlg), newLogOn))) SaveList();
    }
  }
  UpdateStatusLine();
}

void CMainDlg::OnDeleteSelected() {
  const std::vector<int> selected = m_list.SelectedRows();
  if (selected.empty()) return;
  // The count tells a slip of the mouse over a thousand rows from the one row meant.
  if (qb::Prompt().Message(qb::Tr(kMsgConfirmDeleteCount).arg(selected.size()).toStdString(), kCaptionDelete,
                           qb::MsgIcon::Question, qb::MsgButtons::YesNo) != qb::MsgResult::Yes) {
    return;
  }
  m_list.RemoveRows(selected);
  SaveList();
  UpdateStatusLine();
}

void CMainDlg::OnClean() {
  if (m_list.RowCount() == 0) return;
  if (qb::Prompt().Message(kMsgConfirmClean, kCaptionClean, qb::MsgIcon::Question, qb::MsgButtons::YesNo) !=
      qb::MsgResult::Yes) {
    return;
  }
  CleanProxyList(m_list);
  SaveList();
  UpdateStatusLine();
}

void CMainDlg::OnPaste() {
  const QString text = QGuiApplication::clipboard()->text();
  const int before = m_list.RowCount();
  FoundCredentialList credentials;
  std::size_t refused = 0;
  const int found = AddProxiesFromText(m_list, text.toStdString(), m_settings.m_bAmbiguous != 0,
                                       kNoProxyLimit, nullptr, &credentials, &refused, TextKind::List);
  if (found > 0) ReportListSave(m_dir.SaveList(credentials));
  UpdateStatusLine();
  if (found == 0) {
    qb::ShowMessage(kMsgNoProxyOnClipboard, kCaptionPasteDone, qb::MsgIcon::Information);
    return;
  }
  ShowAddedNotice(found, m_list.RowCount() - before, static_cast<int>(refused));
}

void CMainDlg::OnCopyProxy() {
  const std::vector<int> selected = m_list.SelectedRows();
  if (selected.empty()) return;
  const std::string text = CopyProxyText(m_list, selected.front());
  if (!text.empty()) QGuiApplication::clipboard()->setText(Q(text));
}

void CMainDlg::OnSelectAll() {
  m_list.SelectAll();
  UpdateStatusLine();
}

void CMainDlg::OnImport() {
  const auto path = qb::Prompt().OpenFile(ImportFileDialogSpec());
  if (!path) return;
  const int before = m_list.RowCount();
  const ImportResult imported = ImportProxyFile(m_list, *path, m_settings.m_bAmbiguous != 0);
  if (!ReportImport(imported)) return;
  if (imported.found > 0) {
    ReportListSave(m_dir.SaveList(imported.credentials));
  } else {
    qb::ShowMessage(kMsgNoProxyInFile, kCaptionImportDone, qb::MsgIcon::Warning);
  }
  UpdateStatusLine();
  if (imported.found > 0) ShowAddedNotice(imported.found, m_list.RowCount() - before, imported.refused);
}

void CMainDlg::OnExport() {
  const std::vector<int> selected = m_list.SelectedRows();
  if (selected.empty()) {
    qb::ShowMessage(kMsgNothingSelected, kCaptionExport, qb::MsgIcon::Warning);
    return;
  }
  int chosenType = -1;
  qb::FileDialogSpec chooser = ExportFileDialogSpec(QDate::currentDate());
  chooser.title = kCaptionSave;
  const auto path = qb::Prompt().SaveFileOfType(chooser, chosenType);
  if (!path) return;
  const ExportFileType type = ExportFileTypeFor(chosenType, *path);
  // A password leaves the program only when the user says so, each time.
  const CProxyCredentialStore& logOns = m_dir.Credentials();
  int withLogOn = 0;
  if (type != ExportFileType::AddressLines && logOns.Size() > 0) {
    for (int row : selected) withLogOn += logOns.Find(*m_list.Entry(row)) ? 1 : 0;
  }
  const bool include =
      withLogOn > 0 &&
      qb::Prompt().Message(qb::Tr(kMsgExportLogOns).arg(withLogOn).toStdString(), kCaptionExport,
                           qb::MsgIcon::Question, qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
  ReportExport(WriteExportFile(m_list, selected, *path, type, include ? &logOns : nullptr));
}

void CMainDlg::ShowContextMenu(const QPoint& pos) {
  if (!m_contextPopup) return;
  OwnerDrawMenu::SetFlatStyle(true);
  m_contextPopup->popup(m_pList->viewport()->mapToGlobal(pos));
}

// ---- Settings ----

void CMainDlg::OnSettings() {
  CSettingDlg dlg(m_dir, *m_sysProxy, this);
  connect(&dlg, &CSettingDlg::StatusLineChanged, this, [this] {
    UpdateStatusLine();
    UpdateTrayIcon();
  });
  dlg.SetEndpointOptions(m_options.endpoint);
  dlg.SetApiOptions(m_options.api);
  if (dlg.exec() != QDialog::Accepted) return;
  ExtraOptions chosen = m_options;
  chosen.script = dlg.ChosenScriptOptions();
  chosen.endpoint = dlg.ChosenEndpointOptions();
  chosen.api = dlg.ChosenApiOptions();
  // The box is the choice for when the proxy can no longer work, seen and confirmed.
  chosen.SetWhenDown(chosen.script.allowDirect ? WhenProxyDown::Direct : WhenProxyDown::Block);
  if (chosen != m_options) {
    m_options = chosen;
    ReportOptionsSave(m_dir.SaveOptions());
  }
  m_endpointHost->SetGoDirect(GoDirect());
  m_sysProxy->SetEndpointListen(m_options.endpoint.listen);
  // Also when only the connect time-out changed: the endpoint uses it too.
  if (!ApplyEndpoint()) m_options.endpoint.enabled = false;
  UpdateTrayIcon();
}

// ---- Proxy sources ----

void CMainDlg::OnAddSource() {
  CProxySourceDlg dlg(this);
  if (dlg.exec() != QDialog::Accepted) return;
  // Ticked: a source added is one the user means to download from next.
  m_sources.Append({dlg.m_sSourceName.toStdString(), dlg.m_sSourceUrl.toStdString(), true});
  ReportSourcesSave(m_dir.SaveSources());
  const QModelIndex last = m_sources.index(m_sources.rowCount() - 1, 0);
  m_pSourceList->selectionModel()->setCurrentIndex(
      last, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CMainDlg::OnModifySource() {
  const QModelIndexList rows = m_pSourceList->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  int row = rows.front().row();
  for (const QModelIndex& i : rows) row = qMin(row, i.row());
  const CProxySource* source = m_sources.Source(row);
  if (!source) return;
  CProxySourceDlg dlg(this);
  dlg.m_sSourceName = Q(source->m_sName);
  dlg.m_sSourceUrl = Q(source->m_sUrl);
  if (dlg.exec() != QDialog::Accepted) return;
  m_sources.Modify(row, dlg.m_sSourceName.toStdString(), dlg.m_sSourceUrl.toStdString());
  ReportSourcesSave(m_dir.SaveSources());
}

void CMainDlg::OnDeleteSource() {
  std::vector<int> rows;
  for (const QModelIndex& i : m_pSourceList->selectionModel()->selectedRows()) rows.push_back(i.row());
  if (rows.empty()) return;
  if (qb::Prompt().Message(kMsgConfirmDeleteSources, kCaptionDeleteSources, qb::MsgIcon::Question,
                           qb::MsgButtons::YesNo) != qb::MsgResult::Yes)
    return;
  m_sources.RemoveRows(rows);
  ReportSourcesSave(m_dir.SaveSources());
}

void CMainDlg::OnDownloadSources() {
  if (!ReportDownloadRefusal(CheckDownloadSources(m_sources))) return;
  m_downloader->Start(m_sources.Sources(), m_list, m_settings.m_bAmbiguous != 0,
                      [this](const FoundCredentialList& logOns) { return m_dir.SaveList(logOns); });
}

void CMainDlg::EndDownload() {
  EnableActions();
  m_buttons.value(kIdDownload)->setText(qb::Tr(kDownloadButtonText));
  m_pDownloadProgress->hide();
  UpdateStatusLine();
  if (m_foundByDownload > 0)
    ShowAddedNotice(m_foundByDownload, m_list.RowCount() - m_rowsBeforeDownload, m_refusedByDownload);
}

// ---- Verification and system proxy ----

void CMainDlg::OnVerifyAll() {
  m_verify->OnVerifyAll();
}
void CMainDlg::OnVerifySelected() {
  m_verify->OnVerifySelected();
}

void CMainDlg::OnSetIEProxy() {
  const std::vector<int> selected = m_list.SelectedRows();
  if (!selected.empty()) {
    const CProxyEntry* e = m_list.Entry(*std::min_element(selected.begin(), selected.end()));
    if (e && !ConfirmProxyStatus(e->TimeStatus())) return;
  }
  EnsureWhenDownChosen();
  m_sysProxy->SetAutoProxyConfig(m_settings.m_nAutoProxyConfig);
  ReportProxyChange(m_sysProxy->OnSetIEProxy(m_list));
}

void CMainDlg::OnCancelIEProxy() {
  m_sysProxy->SetAutoProxyConfig(m_settings.m_nAutoProxyConfig);
  ReportProxyChange(m_sysProxy->OnCancelIEProxy());
}

// ---- Tray and life cycle ----

void CMainDlg::OnShowDialog() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

bool CMainDlg::OnTrayExit() {
  if (m_verify->BusyWorkers() > 0) {
    // What the run's button would do: stop a run that still hands out rows.
    m_actions->Trigger(QStringLiteral("stop-verify"));
    qb::ShowMessage(kMsgExitWhileBusy, kCaptionExitWarning, qb::MsgIcon::Information);
    return false;
  }
  ReleaseDesktopAtExit(true);
  m_downloader->Cancel();
  m_verify->Shutdown();
  CloseTray();
  hide();
  emit ExitRequested();
  return true;
}

void CMainDlg::CloseTray() {
  if (m_bTrayClosed) return;
  m_dir.SaveFavorites();
  SaveWindowState();
  m_trayCtl->RemoveTrayIcon();
  m_bTrayClosed = true;
  // The rows go with the window; the list file is already up to date and is never
  // written from here on.
  m_list.Clear();
}

void CMainDlg::OnTerminate() {
  // The desktop session ends (or the program is told to stop): nobody is there to
  // answer a question, so the work in flight is given up rather than waited for. Its
  // rows go back to "未验证" and are saved with everything else, as the exit saves.
  m_downloader->Cancel();
  if (!m_verify->IsIdle()) m_verify->AbandonVerification();
  if (!m_bTrayClosed) {
    const qb::OpResult saved = m_dir.SaveList();
    if (!saved) std::fprintf(stderr, "quillberry: %s\n", saved.Describe().c_str());
  }
  ReleaseDesktopAtExit(false);
  m_verify->Shutdown();
  CloseTray();
  hide();
  emit ExitRequested();
}

void CMainDlg::OnSessionEnd() {
  // The session may still be cancelled: keep the rows and the icon, and only make
  // sure the favourites are on disk.
  if (!m_bTrayClosed) m_dir.SaveFavorites();
}

void CMainDlg::closeEvent(QCloseEvent* event) {
  if (HasTray()) {
    event->ignore();
    hide();
    return;
  }
  if (OnTrayExit()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void CMainDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && HasTray()) {
    QTimer::singleShot(0, this, [this] {
      hide();
      setWindowState(windowState() & ~Qt::WindowMinimized);
    });
  }
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();  // Enter does nothing here
    return;
  }
  QDialog::keyPressEvent(event);
}

void CMainDlg::reject() {
  // Esc: like the close box, the window goes to the tray; without a tray it only
  // minimises, so that Esc never ends the program by surprise.
  if (HasTray()) {
    hide();
  } else {
    showMinimized();
  }
}

void CMainDlg::accept() {}

}  // namespace qb

namespace qb {

void CMainDlg::StartEndpoint() {
  m_endpointHost = new CEndpointHost(m_dir, this);
  m_endpointHost->SetBusyCheck([this] { return Busy(); });
  m_endpointHost->SetGoDirect(GoDirect());
  connect(m_endpointHost, &CEndpointHost::rowsMarked, this, &CMainDlg::SaveList);
  m_trayCtl->SetEndpointAddress([this] { return m_endpointHost->Address(); });
  m_trayCtl->SetBeforeFavorite([this] { EnsureWhenDownChosen(); });
  // An address others on the network may reach is asked about as the settings dialog
  // asks when it is chosen there: Options.ini may have been written by hand.
  if (m_options.endpoint.enabled) {
    const std::optional<ListenAddress> listen = ParseListenAddress(m_options.endpoint.listen);
    if (listen && !IsLoopbackHost(listen->host) &&
        qb::Prompt().Message(kMsgEndpointNotLoopback, kCaptionEndpoint, qb::MsgIcon::Question,
                             qb::MsgButtons::YesNo) != qb::MsgResult::Yes) {
      // Off for this run; Options.ini keeps what the user wrote.
      EndpointOptions off = m_options.endpoint;
      off.enabled = false;
      m_endpointHost->Apply(off, g_nConnectTimeoutMs);
      return;
    }
  }
  ApplyEndpoint();
}

bool CMainDlg::ApplyEndpoint() {
  m_endpointHost->SetApi(m_options.api);
  const qb::OpResult applied = m_endpointHost->Apply(m_options.endpoint, g_nConnectTimeoutMs);
  if (applied) {
    if (const qb::OpResult& api = m_endpointHost->ApiResult(); !api) {
      qb::ShowMessage(std::string(kMsgApiFailed) + "\n" + api.Describe(), kCaptionEndpoint,
                      qb::MsgIcon::Warning);
    }
    return true;
  }
  qb::ShowMessage(std::string(kMsgEndpointFailed) + "\n" + applied.Describe(), kCaptionEndpoint,
                  qb::MsgIcon::Warning);
  return false;
}

void CMainDlg::OnEndpointSwitch() {
  const bool turnOff = m_endpointHost->Running();
  // Switched off under a desktop that goes through it, the desktop reaches nothing,
  // which is safer than going out directly behind the user's back; but it is asked.
  if (turnOff && ViaEndpoint() &&
      qb::Prompt().Message(kMsgEndpointInUse, kCaptionEndpoint, qb::MsgIcon::Question,
                           qb::MsgButtons::YesNo) != qb::MsgResult::Yes) {
    return;
  }
  m_options.endpoint.enabled = !turnOff;
  if (!ApplyEndpoint()) m_options.endpoint.enabled = false;
  ReportOptionsSave(m_dir.SaveOptions());
  UpdateStatusLine();
  UpdateTrayIcon();
}

bool CMainDlg::ViaEndpoint() const {
  const std::string address = m_endpointHost->Address();
  if (address.empty()) return false;
  const std::string& cur = m_sysProxy->m_sIEProxy;
  return qb::AsciiCaseEqual(std::string_view(cur).substr(0, cur.find('@')), address);
}

void CMainDlg::OnViaEndpoint() {
  if (!m_endpointHost->Running()) {
    m_options.endpoint.enabled = true;
    if (!ApplyEndpoint()) {
      m_options.endpoint.enabled = false;
      return;
    }
    ReportOptionsSave(m_dir.SaveOptions());
  }
  EnsureWhenDownChosen();
  if (m_endpointHost->PoolSize() == 0)
    qb::ShowMessage(kMsgEndpointEmpty, kCaptionEndpoint, qb::MsgIcon::Information);
  ReportProxyChange(m_sysProxy->SetIEProxy(m_endpointHost->ProxyLine()));
  UpdateStatusLine();
  UpdateTrayIcon();
}

void CMainDlg::EnsureWhenDownChosen() {
  if (m_options.systemProxy.chosen) return;
  const bool direct = qb::Prompt().Message(kMsgWhenDownQuestion, kCaptionWhenDown, qb::MsgIcon::Question,
                                           qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
  m_options.SetWhenDown(direct ? WhenProxyDown::Direct : WhenProxyDown::Block);
  m_sysProxy->SetScriptOptions(m_options.script);
  m_endpointHost->SetGoDirect(direct);
  ReportOptionsSave(m_dir.SaveOptions());
}

void CMainDlg::ReleaseDesktopAtExit(bool mayAsk) {
  // Only the window's own endpoint stops with it; the service and a proxy of the list
  // go on answering.
  if (!m_sysProxy->ChangedDesktop() || !ViaEndpoint() || m_endpointHost->ByService()) return;
  bool restore = GoDirect();
  if (!restore && mayAsk) {
    restore = qb::Prompt().Message(kMsgExitBlocks, kCaptionExitWarning, qb::MsgIcon::Warning,
                                   qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
  }
  if (!restore) return;
  const ProxyChangeResult result = m_sysProxy->RestoreDesktop();
  // Nobody may be there to read a message at a session's end.
  if (mayAsk) {
    ReportProxyChange(result);
  } else if (!result.ok()) {
    std::fprintf(stderr, "quillberry: the desktop's earlier proxy setting could not be given back\n");
  }
}

bool CMainDlg::RepairDesktopAtStart() {
  const CSystemProxy::StaleRepair repair =
      m_sysProxy->RepairIfStale(GoDirect(), [](const DesktopRecord& record) {
        return DesktopProxyAnswers(record.line, record.endpoint, kStaleProbeMs);
      });
  if (repair.action == RepairAction::None) return false;
  const QString proxy = QString::fromStdString(repair.line);
  if (repair.action == RepairAction::Keep) {
    qb::ShowMessage(qb::Tr(kMsgStaleKept).arg(proxy).toStdString(), kCaptionSystemProxy,
                    qb::MsgIcon::Warning);
    return false;
  }
  ReportProxyChange(repair.change);
  qb::ShowMessage(qb::Tr(kMsgStaleRestored).arg(proxy).toStdString(), kCaptionSystemProxy,
                  qb::MsgIcon::Information);
  return true;
}

void CMainDlg::GuardDesktop() {
  const std::optional<DesktopRecord> record = m_sysProxy->Record();
  if (m_guardAsking || !record || m_sysProxy->DesktopHolds(*record)) return;
  if (!m_options.systemProxy.reapply) {
    m_guardAsking = true;
    const QString what = QString::fromStdString(record->line.empty() ? std::string("-") : record->line);
    const bool again =
        qb::Prompt().Message(qb::Tr(kMsgDesktopChangedElsewhere).arg(what).toStdString(), kCaptionSystemProxy,
                             qb::MsgIcon::Question, qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
    m_guardAsking = false;
    if (!again) {
      // The other program's setting stands and is the user's now.
      const qb::OpResult forgot = m_sysProxy->ForgetRecord();
      if (!forgot)
        qb::ShowMessage(std::string(kMsgRecordFailed) + "\n" + forgot.Describe(), kCaptionSystemProxy,
                        qb::MsgIcon::Warning);
      return;
    }
  }
  ReportProxyChange(m_sysProxy->ReapplyRecorded());
  UpdateStatusLine();
  UpdateTrayIcon();
}

QString CMainDlg::DesktopStateText() const {
  const std::string& cur = m_sysProxy->m_sIEProxy;
  if (cur.empty()) return qb::Tr(kNotifyStateNone);
  if (ViaEndpoint())
    return qb::Tr(kNotifyStateEndpoint).arg(QString::fromStdString(m_endpointHost->Address()));
  // The line this program set names the proxy's type, which the desktop's server
  // string does not.
  const std::optional<DesktopRecord> record = m_sysProxy->Record();
  const bool ours = record && !record->line.empty() && m_sysProxy->DesktopHolds(*record);
  const QString proxy = QString::fromStdString(ours ? record->line : cur);
  if (m_sysProxy->AutoProxyConfig() != kAutoProxyDirect) return qb::Tr(kNotifyStateScript).arg(proxy);
  return qb::Tr(kNotifyStateProxy).arg(proxy);
}

void CMainDlg::NotifyTraySwitch() {
  if (!m_options.notify.traySwitch) return;
  m_notifier->Notify(qb::Tr(kCaptionSystemProxy), DesktopStateText());
}

void CMainDlg::WatchProxy() {
  // A proxy far away that drops the connection's first packet would hold the window for
  // the whole time-out: the checks run on a thread of the pool, one round at a time.
  if (m_watching) return;
  // Only a setting of this program that the desktop still holds is watched: another's
  // proxy is none of its business, and the guard handles a replaced one.
  const std::optional<DesktopRecord> record = m_sysProxy->Record();
  const bool watchProxy = record && !record->line.empty() && m_sysProxy->DesktopHolds(*record);
  if (!watchProxy && m_proxyAnswered) {
    m_proxyAnswered.reset();
    UpdateStatusLine();
  }
  if (!m_endpointHost->Running()) m_lastUsable = -1;
  const std::optional<ListenAddress> own =
      m_endpointHost->Running() ? ParseListenAddress(m_endpointHost->Address()) : std::nullopt;
  if (!watchProxy && !own) return;
  const std::string line = watchProxy ? record->line : std::string();
  const bool endpoint = watchProxy && record->endpoint;
  m_watching = true;
  auto* watcher = new QFutureWatcher<WatchRound>(this);
  connect(watcher, &QFutureWatcher<WatchRound>::finished, this, [this, watcher, line, endpoint] {
    watcher->deleteLater();
    m_watching = false;
    const WatchRound round = watcher->result();
    if (round.answers) NotifyProxyState(line, endpoint, *round.answers);
    if (round.status) NotifyPoolState(round.status->usable);
  });
  watcher->setFuture(QtConcurrent::run([line, endpoint, own] {
    WatchRound round;
    if (!line.empty()) round.answers = DesktopProxyAnswers(line, endpoint, kStaleProbeMs);
    if (own) round.status = ProbeEndpoint(*own, kStaleProbeMs);
    return round;
  }));
}

void CMainDlg::NotifyProxyState(const std::string& line, bool endpoint, bool answers) {
  if (m_proxyAnswered.value_or(true) && !answers && m_options.notify.proxyDown) {
    const std::string what = endpoint ? qb::Tr(kCaptionEndpoint).toStdString() + " " + line : line;
    m_notifier->Notify(qb::Tr(kCaptionSystemProxy),
                       qb::Tr(kNotifyProxyDown).arg(QString::fromStdString(what)));
  }
  const bool changed = m_proxyAnswered != answers || m_answeredIsEndpoint != endpoint;
  m_proxyAnswered = answers;
  m_answeredIsEndpoint = endpoint;
  if (changed) UpdateStatusLine();
}

void CMainDlg::NotifyPoolState(int usable) {
  const int below = m_options.notify.poolLowBelow;
  // Told when it drops below, not again while it stays there (nor for a pool that
  // started small: the window said that when it was switched on).
  if (m_options.notify.poolLow && usable < below && m_lastUsable >= below) {
    m_notifier->Notify(qb::Tr(kCaptionEndpoint), qb::Tr(kNotifyPoolLow).arg(usable).arg(below));
  }
  m_lastUsable = usable;
}

void CMainDlg::NotifyRunDone() {
  if (!m_notifyRunClock.isValid()) return;
  const qint64 seconds = m_notifyRunClock.elapsed() / 1000;
  m_notifyRunClock.invalidate();
  if (!m_options.notify.runDone || isVisible() || seconds < m_options.notify.runSeconds) return;
  int working = 0;
  for (int row = 0; row < m_list.RowCount(); ++row) {
    const std::string& status = m_list.Entry(row)->TimeStatus();
    if (!status.empty() && std::isdigit(static_cast<unsigned char>(status.front()))) ++working;
  }
  m_notifier->Notify(qb::Tr(kCaptionRunDone),
                     qb::Tr(kNotifyRunDone).arg(m_list.RowCount()).arg(working).arg(seconds));
}

void CMainDlg::ReportOptionsSave(const qb::OpResult& result) {
  if (result) return;
  qb::ShowMessage(std::string(kMsgOptionsSaveFailed) + "\n" + result.Describe(), kCaptionEndpoint,
                  qb::MsgIcon::Error);
}

}  // namespace qb
