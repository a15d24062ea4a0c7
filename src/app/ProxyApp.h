// The application: one instance per user, curl's global set-up, the main window.
#pragma once

#include <QApplication>

#include <memory>

#include "base/CurlTransfer.h"

namespace qb {

class CDataDirLock;
class CMainDlg;
class CSingleInstance;
struct LinkMessage;

// The exit code of a start that found the program running on another data directory.
inline constexpr int kExitOtherDataDir = 4;
// The exit code of a start that found its data directory held by a command that
// writes it (the window starts when the command has finished).
inline constexpr int kExitDataDirBusy = 5;

class CProxyApp : public QApplication {
  Q_OBJECT

 public:
  CProxyApp(int& argc, char** argv);
  ~CProxyApp() override;

  // Runs the program; returns the exit code.
  int Run();

 private:
  // A command's request, answered by the window.
  LinkMessage Answer(const LinkMessage& request, const QString& dataDir);

  std::unique_ptr<CSingleInstance> m_instance;
  std::unique_ptr<CDataDirLock> m_dataLock;
  std::unique_ptr<qb::CurlGlobal> m_curl;
  CMainDlg* m_mainDlg = nullptr;
};

}  // namespace qb
