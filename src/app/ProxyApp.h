// The application: one instance per user, curl's global set-up, the main window.
#pragma once

#include <QApplication>

#include <memory>

#include "base/CurlTransfer.h"

namespace qb {

class CMainDlg;
class CSingleInstance;

// The exit code of a start that found the program running on another data directory.
inline constexpr int kExitOtherDataDir = 4;

class CProxyApp : public QApplication {
  Q_OBJECT

 public:
  CProxyApp(int& argc, char** argv);
  ~CProxyApp() override;

  // Runs the program; returns the exit code.
  int Run();

 private:
  std::unique_ptr<CSingleInstance> m_instance;
  std::unique_ptr<qb::CurlGlobal> m_curl;
  CMainDlg* m_mainDlg = nullptr;
};

}  // namespace qb
