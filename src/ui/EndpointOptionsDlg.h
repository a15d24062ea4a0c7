// The endpoint's options beyond its address and policy (Options.ini [Endpoint] and
// [Api]), opened from the settings dialog beside the policy: its health checks and
// set-aside rules, its stickiness, and the control API the window runs beside it. The
// settings dialog's own layout has no room for them.
#pragma once

#include <QDialog>

#include "settings/Options.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace qb {

inline constexpr const char* kCaptionEndpointOptions = QT_TRANSLATE_NOOP("Quillberry", "本机端口选项");
// Said when the control API is given an address the window may not listen on.
inline constexpr const char* kMsgApiNotLoopback =
    QT_TRANSLATE_NOOP("Quillberry",
                      "控制接口在窗口中只能监听本机地址(如 127.0.0.1:8900)。\n要在其他地址上提供，请用 "
                      "quillberry-cli serve --api。");

// Said when the token holds what no request header could carry (and Options.ini could
// not keep on its line).
inline constexpr const char* kMsgApiTokenBad =
    QT_TRANSLATE_NOOP("Quillberry", "令牌不能含有空格或控制字符。");

class CEndpointOptionsDlg : public QDialog {
  Q_OBJECT
 public:
  CEndpointOptionsDlg(const EndpointOptions& options, const ApiOptions& api, QWidget* parent = nullptr);
  // The options given, with the fields the dialog shows as it shows them now.
  EndpointOptions Chosen() const;
  ApiOptions ChosenApi() const;

  // Refuses an API address that is neither empty nor a loopback address and port, and a
  // token with blanks or control characters.
  void accept() override;

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
  QCheckBox* m_keepTargets = nullptr;
  QSpinBox* m_stickyLease = nullptr;
  QLineEdit* m_apiListen = nullptr;
  QLineEdit* m_apiToken = nullptr;
};

}  // namespace qb
