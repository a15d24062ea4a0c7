#include "ui/EndpointOptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Prompt.h"
#include "base/Translate.h"

namespace qb {

namespace {

QString T(const char* text) {
  return Tr(text);
}

QSpinBox* Number(QWidget* parent, const char* name, int lo, int hi, int value) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(lo, hi);
  box->setValue(value);
  return box;
}

QLineEdit* Text(QWidget* parent, const char* name, const std::string& value) {
  auto* edit = new QLineEdit(QString::fromStdString(value), parent);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

CEndpointOptionsDlg::CEndpointOptionsDlg(const EndpointOptions& options, const ApiOptions& api,
                                         QWidget* parent)
    : QDialog(parent), m_options(options) {
  setWindowTitle(T(kCaptionEndpointOptions));
  auto* layout = new QVBoxLayout(this);

  auto* health = new QGroupBox(T(QT_TRANSLATE_NOOP("Quillberry", "健康检查")), this);
  auto* healthLayout = new QVBoxLayout(health);
  m_checks = new QCheckBox(T(QT_TRANSLATE_NOOP("Quillberry", "定期检查使用中的代理")), health);
  m_checks->setObjectName("HealthChecks");
  m_checks->setChecked(options.healthChecks);
  healthLayout->addWidget(m_checks);
  auto* form = new QFormLayout;
  m_interval = Number(health, "CheckInterval", 1, kMaxCheckInterval, options.checkInterval);
  m_timeout = Number(health, "CheckTimeout", 1, kMaxCheckTimeout, options.checkTimeout);
  m_lazyAfter = Number(health, "LazyAfter", 0, kMaxLazyAfter, options.lazyAfter);
  m_tolerance = Number(health, "Tolerance", 0, kMaxTolerance, options.tolerance);
  m_failures = Number(health, "FailuresToSetAside", 1, kMaxFailuresToSetAside, options.failuresToSetAside);
  m_setAside = Number(health, "SetAside", 1, kMaxSetAside, options.setAside);
  m_setAsideMax = Number(health, "SetAsideMax", 1, kMaxSetAside, options.setAsideMax);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "检查间隔(秒):")), m_interval);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "检查超时(秒):")), m_timeout);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "无客户端多久后停止检查(秒, 0=不停):")), m_lazyAfter);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "最快优先的容差(毫秒):")), m_tolerance);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "连续失败几次后搁置:")), m_failures);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "首次搁置(秒):")), m_setAside);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "最长搁置(秒):")), m_setAsideMax);
  healthLayout->addLayout(form);
  m_closeTunnels = new QCheckBox(T(QT_TRANSLATE_NOOP("Quillberry", "搁置时关闭经由它的连接")), health);
  m_closeTunnels->setObjectName("CloseTunnels");
  m_closeTunnels->setChecked(options.closeTunnels);
  healthLayout->addWidget(m_closeTunnels);
  layout->addWidget(health);

  auto* sticky = new QGroupBox(T(QT_TRANSLATE_NOOP("Quillberry", "粘性")), this);
  auto* stickyLayout = new QFormLayout(sticky);
  m_keepTargets = new QCheckBox(T(QT_TRANSLATE_NOOP("Quillberry", "同一目标主机始终经由同一代理")), sticky);
  m_keepTargets->setObjectName("KeepTargets");
  m_keepTargets->setChecked(options.keepTargets);
  stickyLayout->addRow(m_keepTargets);
  m_stickyLease = Number(sticky, "StickyLease", 1, kMaxStickyLease, options.stickyLease);
  stickyLayout->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "闲置多久后解除绑定(秒):")), m_stickyLease);
  // Session keys need no switch: a client asks for one by its log-on or a header.
  auto* sessionHint =
      new QLabel(T(QT_TRANSLATE_NOOP("Quillberry",
                                     "客户端以用户名 session-KEY 或请求头 X-Quillberry-Session 绑定会话。")),
                 sticky);
  sessionHint->setWordWrap(true);
  stickyLayout->addRow(sessionHint);
  layout->addWidget(sticky);

  auto* control = new QGroupBox(T(QT_TRANSLATE_NOOP("Quillberry", "控制接口")), this);
  auto* controlLayout = new QFormLayout(control);
  m_apiListen = Text(control, "ApiListen", api.listen);
  m_apiListen->setPlaceholderText(T(QT_TRANSLATE_NOOP("Quillberry", "留空则关闭，如 127.0.0.1:8900")));
  m_apiToken = Text(control, "ApiToken", api.token);
  m_apiToken->setPlaceholderText(T(QT_TRANSLATE_NOOP("Quillberry", "留空则不要求")));
  m_apiToken->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  controlLayout->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "监听地址:")), m_apiListen);
  controlLayout->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "令牌:")), m_apiToken);
  layout->addWidget(control);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // The interval and the rest mean nothing while no checks run.
  const auto enable = [this] {
    for (QWidget* w : {static_cast<QWidget*>(m_interval), static_cast<QWidget*>(m_timeout),
                       static_cast<QWidget*>(m_lazyAfter)})
      w->setEnabled(m_checks->isChecked());
  };
  connect(m_checks, &QCheckBox::toggled, this, enable);
  enable();
}

EndpointOptions CEndpointOptionsDlg::Chosen() const {
  EndpointOptions o = m_options;
  o.healthChecks = m_checks->isChecked();
  o.checkInterval = m_interval->value();
  o.checkTimeout = m_timeout->value();
  o.lazyAfter = m_lazyAfter->value();
  o.tolerance = m_tolerance->value();
  o.failuresToSetAside = m_failures->value();
  o.setAside = m_setAside->value();
  // The ceiling is never below the first time.
  o.setAsideMax = std::max(m_setAside->value(), m_setAsideMax->value());
  o.closeTunnels = m_closeTunnels->isChecked();
  o.keepTargets = m_keepTargets->isChecked();
  o.stickyLease = m_stickyLease->value();
  return o;
}

ApiOptions CEndpointOptionsDlg::ChosenApi() const {
  return {m_apiListen->text().trimmed().toStdString(), m_apiToken->text().toStdString()};
}

void CEndpointOptionsDlg::accept() {
  const std::string listen = ChosenApi().listen;
  if (!listen.empty()) {
    const std::optional<ListenAddress> address = ParseListenAddress(listen);
    if (!address || !IsLoopbackHost(address->host)) {
      ShowMessage(kMsgApiNotLoopback, kCaptionEndpointOptions, MsgIcon::Warning);
      m_apiListen->setFocus();
      m_apiListen->selectAll();
      return;
    }
  }
  const std::string token = ChosenApi().token;
  if (std::any_of(token.begin(), token.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; })) {
    ShowMessage(kMsgApiTokenBad, kCaptionEndpointOptions, MsgIcon::Warning);
    m_apiToken->setFocus();
    m_apiToken->selectAll();
    return;
  }
  QDialog::accept();
}

}  // namespace qb
