#include "ui/SettingDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTableView>

#include <algorithm>
#include <optional>
#include <vector>

#include "base/Files.h"
#include "base/Language.h"
#include "base/Prompt.h"
#include "base/Translate.h"
#include "datadir/DataDir.h"
#include "settings/AutoRun.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "sysproxy/SystemProxy.h"
#include "ui/DialogUnits.h"
#include "ui/EndpointOptionsDlg.h"
#include "ui/FailureMessages.h"
#include "ui/Messages.h"
#include "ui/OpenAsText.h"
#include "ui/SpinButtonCtrl.h"
#include "ui/VerifySourceDlg.h"

namespace qb {

namespace {

constexpr const char* kRangeCaption = QT_TRANSLATE_NOOP("Quillberry", "数值范围不对");
constexpr const char* kEndpointCaption = QT_TRANSLATE_NOOP("Quillberry", "本机端口");

// What the template holds until the user writes one, so that the editor opens on a
// working script that shows where the proxy goes.
constexpr const char* kExampleTemplate =
    "// 用户自定义的代理自动配置模板（Quillberry）\r\n"
    "// 设置或取消系统代理时，程序把本模板复制为 proxy.pac，并把下面 return 语句里的\r\n"
    "// 占位词换成所选的代理（如 PROXY 1.2.3.4:8080），没有代理时换成 DIRECT。\r\n"
    "// 改动在下一次设置或取消系统代理时生效。\r\n"
    "function FindProxyForURL(url, host)\r\n"
    "{\r\n"
    "    // 本机和局域网的地址直接连接\r\n"
    "    if (isPlainHostName(host) || host == \"localhost\" || shExpMatch(host, \"127.*\") ||\r\n"
    "        shExpMatch(host, \"10.*\") || shExpMatch(host, \"192.168.*\"))\r\n"
    "        return \"DIRECT\";\r\n"
    "    return \"MyProxy\";\r\n"
    "}\r\n";

// A report list whose space bar ticks the focused row, whichever of its cells has the
// focus, as a check-box list does.
class CSourceListView : public QTableView {
 public:
  using QTableView::QTableView;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const QModelIndex current = currentIndex();
    if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) && current.isValid() &&
        event->modifiers() == Qt::NoModifier) {
      const QModelIndex box = model()->index(current.row(), 0);
      const bool ticked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
      model()->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
      event->accept();
      return;
    }
    QTableView::keyPressEvent(event);
  }
};

// The whole text as a whole number, or nothing. Only what the edit shows in full is a
// value: a number followed by other text is refused, not cut short.
std::optional<long long> WholeNumber(const QString& text) {
  static const QRegularExpression kWhole(QStringLiteral("^[+-]?[0-9]+$"));
  const QString t = text.trimmed();
  if (!kWhole.match(t).hasMatch()) return std::nullopt;
  bool ok = false;
  const long long v = t.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return v;
}

// A check box shows 0 and 1; a value beyond what a box can hold is reset to 0 when
// the dialog opens. 2 (the third state of a box) shows ticked, as every other reader
// of the settings takes it as on.
void ShowCheck(QCheckBox* box, int& field) {
  if (field < 0 || field > 2) field = 0;
  box->setChecked(field != 0);
}

// A caption of the dialog, in the interface's language.
QString Q(const char* source) {
  return qb::Tr(source);
}

}  // namespace

CSettingDlg::CSettingDlg(DataDir& dir, CSystemProxy& sysProxy, QWidget* parent)
    : QDialog(parent),
      m_dir(dir),
      m_settings(dir.Settings()),
      m_sysProxy(sysProxy),
      // A script has no program of its own on most desktops: the text editor takes it.
      m_openUrl(
          [](const QUrl& url) { return QDesktopServices::openUrl(url) || OpenAsText(url.toLocalFile()); }) {
  m_templatePath = m_dir.FilePath(DataFile::PacTemplate);
  CreateControls();
  OnInitDialog();
  // The resource list takes the room a user gives the dialog.
  m_pSourceView->horizontalHeader()->setStretchLastSection(true);
  qb::GrowFromDocumentedSize(this, m_pSourceView);
}

CSettingDlg::~CSettingDlg() = default;

void CSettingDlg::CreateControls() {
  setObjectName("CSettingDlg");
  setWindowTitle(Q(QT_TRANSLATE_NOOP("Quillberry", "参数设置")));
  // A caption bar, but neither a system menu nor a close box: the dialog ends through
  // its two buttons (or Esc).
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  resize(qb::DluToPixels(font(), 0, 0, 435, 283 + kScriptRows).size());

  // Group boxes frame controls created before them; they stay beneath those controls
  // so that they never take their clicks.
  std::vector<QWidget*> frames;
  auto groupBox = [&](const char* title, int x, int y, int w, int h) {
    auto* g = new QGroupBox(Q(title), this);
    qb::PlaceControl(g, x, y, w, h);
    frames.push_back(g);
  };
  auto label = [this](const char* text, int x, int y, int w, int h) {
    auto* l = new QLabel(Q(text), this);
    qb::PlaceControl(l, x, y, w, h);
    return l;
  };
  auto button = [this](int id, const char* text, int x, int y, int w, int h) {
    auto* b = new QPushButton(Q(text), this);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    qb::PlaceControl(b, x, y, w, h);
    return b;
  };
  auto check = [this](int id, const char* text, int x, int y, int w, int h) {
    auto* c = new QCheckBox(Q(text), this);
    c->setObjectName(QString::number(id));
    qb::PlaceControl(c, x, y, w, h);
    return c;
  };
  auto number = [this](int id, int x, int y, int w, int h) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::number(id));
    // Digits only, typed or pasted: text after a number can never reach OK.
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    qb::PlaceControl(e, x, y, w, h);
    return e;
  };

  // Creation order is the tab order.
  m_pProxyMode = new QButtonGroup(this);
  auto radio = [&](int id, int mode, const char* text, int x, int y, int w, int h) {
    auto* r = new QRadioButton(Q(text), this);
    r->setObjectName(QString::number(id));
    qb::PlaceControl(r, x, y, w, h);
    m_pProxyMode->addButton(r, mode);
  };
  radio(1064, kAutoProxyDirect, QT_TRANSLATE_NOOP("Quillberry", "1.直接设置或取消代理（写入桌面的代理设置）"),
        210, 171, 212, 14);
  radio(1063, kAutoProxyDefaultScript, QT_TRANSLATE_NOOP("Quillberry", "2.使用最简单的代理自动配置脚本"), 210,
        187, 150, 14);
  radio(1065, kAutoProxyUserScript, QT_TRANSLATE_NOOP("Quillberry", "3.使用自定义的代理自动配置脚本"), 210,
        203, 141, 14);
  connect(button(1027, QT_TRANSLATE_NOOP("Quillberry", "编辑自定义的代理自动配置模板"), 226, 219, 120, 14),
          &QPushButton::clicked, this, &CSettingDlg::EditPacTemplate);
  // Options.ini's script options, under the two modes they apply to; the rows below
  // move down by their height.
  m_pFailover = check(0, kCaptionFailover, 226, 235, 190, 14);
  m_pFailover->setObjectName("ScriptFailover");
  m_pAllowDirect = check(0, kCaptionAllowDirect, 226, 250, 190, 14);
  m_pAllowDirect->setObjectName("ScriptAllowDirect");
  connect(m_pProxyMode, &QButtonGroup::idToggled, this, [this] { EnableScriptOptions(); });
  connect(m_pFailover, &QCheckBox::toggled, this, [this] { EnableScriptOptions(); });
  groupBox(QT_TRANSLATE_NOOP("Quillberry", "上网方式"), 203, 156, 220, 86 + kScriptRows);

  m_pSourceView = new CSourceListView(this);
  m_pSourceView->setObjectName("1032");
  qb::PlaceControl(m_pSourceView, 17, 39, 347, 98);
  connect(button(1034, QT_TRANSLATE_NOOP("Quillberry", "添加验证"), 371, 44, 47, 13), &QPushButton::clicked,
          this, &CSettingDlg::OnAddSource);
  connect(button(1041, QT_TRANSLATE_NOOP("Quillberry", "修改验证"), 371, 60, 47, 13), &QPushButton::clicked,
          this, &CSettingDlg::OnModifySource);
  connect(button(1039, QT_TRANSLATE_NOOP("Quillberry", "删除验证"), 371, 76, 47, 13), &QPushButton::clicked,
          this, &CSettingDlg::OnDeleteSource);
  connect(button(1042, QT_TRANSLATE_NOOP("Quillberry", "导入"), 371, 103, 47, 13), &QPushButton::clicked,
          this, &CSettingDlg::OnImportSources);
  connect(button(1043, QT_TRANSLATE_NOOP("Quillberry", "导出"), 371, 119, 47, 13), &QPushButton::clicked,
          this, &CSettingDlg::OnExportSources);
  groupBox(QT_TRANSLATE_NOOP("Quillberry", "验证参数"), 7, 10, 421, 135);

  label(QT_TRANSLATE_NOOP("Quillberry", "连接超时时间:"), 17, 23, 54, 10);
  m_pConTimeout = number(1012, 72, 21, 25, 12);
  label(QT_TRANSLATE_NOOP("Quillberry", "秒"), 103, 23, 9, 10);
  label(QT_TRANSLATE_NOOP("Quillberry", "验证超时时间:"), 132, 23, 52, 10);
  m_pVerifyTimeout = number(1016, 187, 21, 25, 12);
  label(QT_TRANSLATE_NOOP("Quillberry", "秒"), 219, 23, 9, 10);
  label(QT_TRANSLATE_NOOP("Quillberry", "并发线程数目:"), 244, 23, 54, 10);
  m_pThreadNumber = number(1018, 299, 21, 25, 12);
  label(QT_TRANSLATE_NOOP("Quillberry", "个"), 328, 23, 9, 10);

  m_pAutoAddToFavorite = check(1020, QT_TRANSLATE_NOOP("Quillberry", "自动选择速度最快的"), 14, 162, 87, 14);
  m_pAutoTimingVerify =
      check(1021, QT_TRANSLATE_NOOP("Quillberry", "每隔3小时自动验证全部代理"), 14, 177, 121, 14);
  m_pAutoRun = check(1046, QT_TRANSLATE_NOOP("Quillberry", "用户登录计算机后自动启动"), 14, 207, 120, 14);
  QPushButton* ok = button(1, QT_TRANSLATE_NOOP("Quillberry", "确认"), 123, 256 + kScriptRows, 77, 15);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CSettingDlg::accept);
  connect(button(2, QT_TRANSLATE_NOOP("Quillberry", "取消"), 233, 256 + kScriptRows, 77, 15),
          &QPushButton::clicked, this, &CSettingDlg::reject);
  // The location databases are files the user fetches; the dialog says where they go.
  QPushButton* geo =
      button(0, QT_TRANSLATE_NOOP("Quillberry", "位置数据库..."), 318, 256 + kScriptRows, 105, 15);
  geo->setObjectName("GeoDatabases");
  connect(geo, &QPushButton::clicked, this, [this] {
    qb::ShowMessage(std::string(kMsgGeoDatabases) + "\n" + m_dir.Path(), kCaptionGeoDatabases,
                    qb::MsgIcon::Information);
  });
  m_pMinimize = check(1059, QT_TRANSLATE_NOOP("Quillberry", "启动时最小化"), 14, 222, 84, 14);
  groupBox("", 7, 147, 421, 100 + kScriptRows);
  QLabel* favoritesLabel = label(QT_TRANSLATE_NOOP("Quillberry", "个代理为常用代理"), 131, 162, 67, 14);
  m_pAutoAddToFavorite->setToolTip(qb::Tr(kTipAutoFavorites));
  favoritesLabel->setToolTip(qb::Tr(kTipAutoFavorites));
  m_pFavorites = number(1067, 100, 163, 28, 12);
  m_pFavorites->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_pSpin = new CSpinButtonCtrl(this);
  m_pSpin->setObjectName("1017");
  qb::PlaceControl(m_pSpin, 117, 163, 11, 12);
  // The arrows sit at the right end of the count's box; the box gives them that room.
  m_pFavorites->setTextMargins(0, 0, m_pSpin->width(), 0);
  m_pSpin->SetBuddy(m_pFavorites);
  m_pAmbiguous = check(1047, QT_TRANSLATE_NOOP("Quillberry", "启用模糊匹配抓取代理"), 14, 192, 120, 14);
  // The local endpoint, in the room the script options made below the documented
  // boxes; kept in Options.ini.
  m_pEndpoint = check(0, QT_TRANSLATE_NOOP("Quillberry", "本机端口:"), 14, 239, 50, 14);
  m_pEndpoint->setObjectName("EndpointEnabled");
  m_pEndpointListen = new QLineEdit(this);
  m_pEndpointListen->setObjectName("EndpointListen");
  qb::PlaceControl(m_pEndpointListen, 66, 240, 72, 12);
  label(QT_TRANSLATE_NOOP("Quillberry", "策略:"), 26, 257, 38, 10);
  m_pEndpointPolicy = new QComboBox(this);
  m_pEndpointPolicy->setObjectName("EndpointPolicy");
  for (const char* policy :
       {QT_TRANSLATE_NOOP("Quillberry", "故障转移"), QT_TRANSLATE_NOOP("Quillberry", "轮流使用"),
        QT_TRANSLATE_NOOP("Quillberry", "最快优先")})
    m_pEndpointPolicy->addItem(Q(policy));
  qb::PlaceControl(m_pEndpointPolicy, 66, 255, 72, 14);
  QPushButton* more = button(0, QT_TRANSLATE_NOOP("Quillberry", "更多选项..."), 141, 255, 62, 14);
  more->setObjectName("EndpointMore");
  connect(more, &QPushButton::clicked, this, [this] {
    CEndpointOptionsDlg dlg(m_endpointOptions, m_apiOptions, this);
    if (dlg.exec() != QDialog::Accepted) return;
    m_endpointOptions = dlg.Chosen();
    m_apiOptions = dlg.ChosenApi();
  });

  // Beside the buttons, where the documented layout leaves room: a setting of this
  // program only, kept apart from Setting.dat.
  label(QT_TRANSLATE_NOOP("Quillberry", "界面语言:"), 7, 258 + kScriptRows, 40, 10)
      ->setObjectName("LanguageLabel");
  m_pLanguage = new QComboBox(this);
  m_pLanguage->setObjectName("Language");
  // A language's own name reads the same in either interface.
  m_pLanguage->addItem(Q(QT_TRANSLATE_NOOP("Quillberry", "跟随系统")));
  m_pLanguage->addItem(QStringLiteral("中文"), QStringLiteral("zh"));
  m_pLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
  qb::PlaceControl(m_pLanguage, 48, 256 + kScriptRows, 68, 14);

  for (QWidget* frame : frames) frame->lower();

  // Report mode: grid lines, check boxes, whole rows selected, several at a time, the
  // selection shown even without the focus.
  m_pSourceView->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_pSourceView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pSourceView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pSourceView->setShowGrid(true);
  m_pSourceView->setWordWrap(false);
  m_pSourceView->setTextElideMode(Qt::ElideRight);
  m_pSourceView->verticalHeader()->hide();
  m_pSourceView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_pSourceView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  m_pSourceView->horizontalHeader()->setHighlightSections(false);
  m_pSourceView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette pal = m_pSourceView->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  m_pSourceView->setPalette(pal);
  connect(m_pSourceView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    // Only a double click on a row modifies; one on the empty space below does not.
    if (index.isValid()) OnModifySource();
  });
}

void CSettingDlg::OnInitDialog() {
  // Fields to controls.
  m_pConTimeout->setText(QString::number(m_settings.m_nConTimeout));
  m_pVerifyTimeout->setText(QString::number(m_settings.m_nVerifyTimeout));
  m_pThreadNumber->setText(QString::number(m_settings.m_nThreadNumber));
  // The count is shown as an unsigned number.
  m_pFavorites->setText(QString::number(static_cast<unsigned>(m_settings.m_nFavorites)));
  ShowCheck(m_pAutoAddToFavorite, m_settings.m_bAutoAddToFavorite);
  ShowCheck(m_pAutoTimingVerify, m_settings.m_bAutoTimingVerify);
  ShowCheck(m_pAmbiguous, m_settings.m_bAmbiguous);
  ShowCheck(m_pAutoRun, m_settings.m_bAutoRun);
  ShowCheck(m_pMinimize, m_settings.m_bMinimize);
  // A mode the dialog does not know ticks no button; OK then stores -1 unless the user
  // picks one.
  if (QAbstractButton* mode = m_pProxyMode->button(m_settings.m_nAutoProxyConfig)) mode->setChecked(true);
  m_scriptOptions = m_sysProxy.GetScriptOptions();
  m_pFailover->setChecked(m_scriptOptions.failover);
  m_pAllowDirect->setChecked(m_scriptOptions.allowDirect);
  EnableScriptOptions();
  // The defaults until the caller shows what Options.ini holds.
  SetEndpointOptions(m_endpointOptions);
  const std::optional<UiLanguage> language = ParseLanguage(LanguageSetting().value_or(""));
  m_pLanguage->setCurrentIndex(language ? m_pLanguage->findData(QString::fromLatin1(LanguageCode(*language)))
                                        : 0);

  // The resource list: the model fills its rows from the records (FillSourceList)
  // and records the ticks that Cancel returns to (RecordCheckedSources).
  m_pSources = new CVerifySourceListModel(m_settings, this);
  m_pSourceView->setModel(m_pSources);
  for (int c = 0; c < CVerifySourceListModel::ColumnCount; ++c) {
    m_pSourceView->setColumnWidth(c,
                                  static_cast<int>(CVerifySourceListModel::kBaseWidths[c] * g_dColumnScale));
  }

  m_pSpin->SetRange(kMinFavorites, kMaxFavorites);
}

void CSettingDlg::SetEndpointOptions(const EndpointOptions& options) {
  m_endpointOptions = options;
  m_pEndpoint->setChecked(options.enabled);
  m_pEndpointListen->setText(QString::fromStdString(options.listen));
  m_pEndpointPolicy->setCurrentIndex(static_cast<int>(options.policy));
}

void CSettingDlg::accept() {
  struct RangeCheck {
    QLineEdit* edit;
    int low;
    int high;
    const char* message;
  };
  const RangeCheck checks[] = {
      {m_pConTimeout, kMinConTimeout, kMaxConTimeout,
       QT_TRANSLATE_NOOP("Quillberry", "连接超时时间应在1~15！")},
      {m_pVerifyTimeout, kMinVerifyTimeout, kMaxVerifyTimeout,
       QT_TRANSLATE_NOOP("Quillberry", "验证超时时间应在1~30！")},
      {m_pThreadNumber, kMinThreadNumber, kMaxThreadNumber,
       QT_TRANSLATE_NOOP("Quillberry", "验证线程数目应在1~100！")},
      {m_pFavorites, kMinFavorites, kMaxFavorites, QT_TRANSLATE_NOOP("Quillberry", "常用代理数目应在1~15！")},
  };
  int values[4] = {};
  for (int i = 0; i < 4; ++i) {
    const RangeCheck& c = checks[i];
    // Every number is checked before any is taken, so a refused one leaves all the
    // settings, the system proxy and the file as they were.
    const std::optional<long long> v = WholeNumber(c.edit->text());
    if (!v || *v < c.low || *v > c.high) {
      qb::ShowMessage(c.message, kRangeCaption, qb::MsgIcon::Warning);
      c.edit->setFocus();
      c.edit->selectAll();
      return;
    }
    values[i] = static_cast<int>(*v);
  }
  const std::string listen = m_pEndpointListen->text().trimmed().toStdString();
  const std::optional<ListenAddress> address = ParseListenAddress(listen);
  if (!address) {
    qb::ShowMessage(kMsgEndpointAddress, kEndpointCaption, qb::MsgIcon::Warning);
    m_pEndpointListen->setFocus();
    m_pEndpointListen->selectAll();
    return;
  }
  // Only an address the user changed is asked about; one kept from Options.ini was
  // asked about when it was chosen.
  if (m_pEndpoint->isChecked() && !IsLoopbackHost(address->host) && listen != m_endpointOptions.listen &&
      qb::Prompt().Message(kMsgEndpointNotLoopback, kEndpointCaption, qb::MsgIcon::Question,
                           qb::MsgButtons::YesNo) != qb::MsgResult::Yes) {
    m_pEndpointListen->setFocus();
    return;
  }

  m_settings.m_nConTimeout = values[0];
  m_settings.m_nVerifyTimeout = values[1];
  m_settings.m_nThreadNumber = values[2];
  m_settings.m_nFavorites = values[3];
  m_settings.m_bAutoAddToFavorite = m_pAutoAddToFavorite->isChecked() ? 1 : 0;
  m_settings.m_bAutoTimingVerify = m_pAutoTimingVerify->isChecked() ? 1 : 0;
  m_settings.m_bAmbiguous = m_pAmbiguous->isChecked() ? 1 : 0;
  m_settings.m_bAutoRun = m_pAutoRun->isChecked() ? 1 : 0;
  m_settings.m_bMinimize = m_pMinimize->isChecked() ? 1 : 0;
  m_settings.m_nAutoProxyConfig = m_pProxyMode->checkedId();
  m_scriptOptions = {m_pFailover->isChecked(), m_pAllowDirect->isChecked()};
  m_endpointOptions.enabled = m_pEndpoint->isChecked();
  m_endpointOptions.listen = listen;
  m_endpointOptions.policy = static_cast<EndpointPolicy>(m_pEndpointPolicy->currentIndex());
  QDialog::accept();

  const QString language = m_pLanguage->currentData().toString();
  if (language.toStdString() != LanguageSetting().value_or("")) {
    const std::optional<UiLanguage> chosen = ParseLanguage(language.toStdString());
    SaveLanguageSetting(chosen);
    const UiLanguage next = chosen.value_or(LanguageOfLocale(QLocale::system().uiLanguages()));
    if (next != CurrentLanguage())
      qb::ShowMessage(kMsgLanguageNextStart, kCaptionLanguage, qb::MsgIcon::Information);
  }

  ApplyTimeouts(m_settings);
  ApplyAutoRun(m_settings, {}, m_dir.Path());
  // The system proxy as it stands is set again under the mode now chosen, so that a
  // changed mode takes effect at once.
  m_sysProxy.SetAutoProxyConfig(m_settings.m_nAutoProxyConfig);
  m_sysProxy.SetScriptOptions(m_scriptOptions);
  ReportProxyQuery(m_sysProxy.GetIEProxy());
  ReportProxyChange(m_sysProxy.SetIEProxy(m_sysProxy.m_sIEProxy));
  emit StatusLineChanged();
  ReportSettingsSave(m_dir.SaveSettings());
}

void CSettingDlg::EnableScriptOptions() {
  // The direct mode has no script to fail over in; DIRECT ends a chain only.
  const int mode = m_pProxyMode->checkedId();
  const bool script = mode == kAutoProxyDefaultScript || mode == kAutoProxyUserScript;
  m_pFailover->setEnabled(script);
  // The choice for when the proxy can no longer work governs the endpoint and the exit
  // as well as the script's chain: it is open in every mode.
  m_pAllowDirect->setEnabled(true);
}

void CSettingDlg::reject() {
  RestoreCheckedSources(m_settings);
  QDialog::reject();
}

void CSettingDlg::EditPacTemplate() {
  const QString path = QFileInfo(QString::fromStdString(m_templatePath)).absoluteFilePath();
  std::string error;
  if (!qb::FileExists(m_templatePath) && !qb::WriteFileAtomically(m_templatePath, kExampleTemplate, &error)) {
    ReportSettingsSave(qb::OpResult::Failure(qb::OpStatus::WriteFailed, m_templatePath, error));
    return;
  }
  if (m_openUrl && m_openUrl(QUrl::fromLocalFile(path))) return;
  // Nothing could open it: the user can still edit it with a program of their own.
  if (qb::Prompt().Message(qb::Tr(kMsgNoTemplateEditor).arg(path).toStdString(), kCaptionEditTemplate,
                           qb::MsgIcon::Question, qb::MsgButtons::YesNo) == qb::MsgResult::Yes) {
    QGuiApplication::clipboard()->setText(path);
  }
}

// ---- The resource list's commands ----

namespace {

constexpr const char* kMsgResourceExists = QT_TRANSLATE_NOOP("Quillberry", "已经存在该验证资源网址。");
constexpr const char* kCaptionResourceExists = QT_TRANSLATE_NOOP("Quillberry", "验证资源重复");
constexpr const char* kMsgConfirmDeleteResources =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的验证资源吗？");
constexpr const char* kCaptionResources = QT_TRANSLATE_NOOP("Quillberry", "验证资源");
constexpr const char* kMsgNoResourcesToSave = QT_TRANSLATE_NOOP("Quillberry", "没有验证资源要存盘。");

// The chooser of a file of resources, to import from or to export to.
qb::FileDialogSpec ResourceFileChooser(bool save) {
  qb::FileDialogSpec chooser;
  chooser.defaultExtension = "dat";
  chooser.filter = "Data Files (*.dat)|*.dat|Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
  chooser.confirmOverwrite = save;
  return chooser;
}

void SayIfDuplicate(CVerifySourceListModel::Edit edit) {
  if (edit == CVerifySourceListModel::Edit::DuplicateUrl)
    qb::ShowMessage(kMsgResourceExists, kCaptionResourceExists, qb::MsgIcon::Warning);
}

std::vector<int> SelectedRows(const QTableView* view) {
  std::vector<int> rows;
  for (const QModelIndex& i : view->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

void CSettingDlg::OnAddSource() {
  CVerifySourceDlg dlg(this);
  if (dlg.exec() != QDialog::Accepted) return;
  SayIfDuplicate(m_pSources->Add(dlg.m_sName, dlg.m_sUrl, dlg.m_sFeature));
}

void CSettingDlg::OnModifySource() {
  const std::vector<int> rows = SelectedRows(m_pSourceView);
  if (rows.empty()) return;
  const int row = rows.front();
  const CVerifySource& v = m_settings.m_aVerifySources[static_cast<std::size_t>(row)];
  CVerifySourceDlg dlg(this);
  dlg.m_sName = v.m_sName;
  dlg.m_sUrl = v.m_sUrl;
  dlg.m_sFeature = v.m_sFeature;
  if (dlg.exec() != QDialog::Accepted) return;
  SayIfDuplicate(m_pSources->Modify(row, dlg.m_sName, dlg.m_sUrl, dlg.m_sFeature));
}

void CSettingDlg::OnDeleteSource() {
  const std::vector<int> rows = SelectedRows(m_pSourceView);
  if (rows.empty()) return;
  m_pSources->Delete(rows, [] {
    return qb::Prompt().Message(kMsgConfirmDeleteResources, kCaptionResources, qb::MsgIcon::Question,
                                qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
  });
}

void CSettingDlg::OnImportSources() {
  const auto path = qb::Prompt().OpenFile(ResourceFileChooser(false));
  if (!path) return;
  ReportResourceImport(m_pSources->ImportFile(*path).result);
}

void CSettingDlg::OnExportSources() {
  if (m_pSources->rowCount() == 0) {
    qb::ShowMessage(kMsgNoResourcesToSave, kCaptionSave, qb::MsgIcon::Warning);
    return;
  }
  const auto path = qb::Prompt().SaveFile(ResourceFileChooser(true));
  if (!path) return;
  ReportResourceExport(m_pSources->ExportFile(*path));
}

}  // namespace qb
