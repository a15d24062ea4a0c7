// The endpoint's health checks and set-aside rules (Options.ini [Endpoint]), opened
// from the settings dialog beside the endpoint's policy: the settings dialog's own
// layout has no room for nine more controls.
#pragma once

#include <QDialog>

#include "settings/Options.h"

class QCheckBox;
class QSpinBox;

namespace qb {

class CEndpointHealthDlg : public QDialog {
  Q_OBJECT
 public:
  CEndpointHealthDlg(const EndpointOptions& options, QWidget* parent = nullptr);
  // The options given, with the health fields as the dialog shows them now.
  EndpointOptions Chosen() const;

 private:
  EndpointOptions m_options;
  QCheckBox* m_checks = nullptr;
  QSpinBox* m_interval = nullptr;
  QSpinBox* m_timeout = nullptr;
  QSpinBox* m_lazyAfter = nullptr;
  QSpinBox* m_tolerance = nullptr;
  QSpinBox* m_failures = nullptr;
  QSpinBox* m_setAside = nullptr;
  QSpinBox* m_setAsideMax = nullptr;
  QCheckBox* m_closeTunnels = nullptr;
};

}  // namespace qb
