#include "ui/EndpointHealthDlg.h"

#include <QCheckBox>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

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

}  // namespace

CEndpointHealthDlg::CEndpointHealthDlg(const EndpointOptions& options, QWidget* parent)
    : QDialog(parent), m_options(options) {
  setWindowTitle(T(QT_TRANSLATE_NOOP("Quillberry", "端点健康检查")));
  auto* layout = new QVBoxLayout(this);
  m_checks = new QCheckBox(T(QT_TRANSLATE_NOOP("Quillberry", "定期检查使用中的代理")), this);
  m_checks->setObjectName("HealthChecks");
  m_checks->setChecked(options.healthChecks);
  layout->addWidget(m_checks);
  auto* form = new QFormLayout;
  m_interval = Number(this, "CheckInterval", 1, kMaxCheckInterval, options.checkInterval);
  m_timeout = Number(this, "CheckTimeout", 1, kMaxCheckTimeout, options.checkTimeout);
  m_lazyAfter = Number(this, "LazyAfter", 0, kMaxLazyAfter, options.lazyAfter);
  m_tolerance = Number(this, "Tolerance", 0, kMaxTolerance, options.tolerance);
  m_failures = Number(this, "FailuresToSetAside", 1, kMaxFailuresToSetAside, options.failuresToSetAside);
  m_setAside = Number(this, "SetAside", 1, kMaxSetAside, options.setAside);
  m_setAsideMax = Number(this, "SetAsideMax", 1, kMaxSetAside, options.setAsideMax);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "检查间隔(秒):")), m_interval);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "检查超时(秒):")), m_timeout);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "无客户端多久后停止检查(秒, 0=不停):")), m_lazyAfter);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "最快优先的容差(毫秒):")), m_tolerance);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "连续失败几次后搁置:")), m_failures);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "首次搁置(秒):")), m_setAside);
  form->addRow(T(QT_TRANSLATE_NOOP("Quillberry", "最长搁置(秒):")), m_setAsideMax);
  layout->addLayout(form);
  m_closeTunnels = new QCheckBox(T(QT_TRANSLATE_NOOP("Quillberry", "搁置时关闭经由它的连接")), this);
  m_closeTunnels->setObjectName("CloseTunnels");
  m_closeTunnels->setChecked(options.closeTunnels);
  layout->addWidget(m_closeTunnels);
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

EndpointOptions CEndpointHealthDlg::Chosen() const {
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
  return o;
}

}  // namespace qb
