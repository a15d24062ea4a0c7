// The application: one instance per user, curl's global set-up, the main window.
#pragma once

#include <QApplication>

#include <memory>

class CMainDlg;
class CSingleInstance;

class CProxyApp : public QApplication {
  Q_OBJECT

 public:
  CProxyApp(int& argc, char** argv);
  ~CProxyApp() override;

  // Runs the program; returns the exit code.
  int Run();

 private:
  std::unique_ptr<CSingleInstance> m_instance;
  CMainDlg* m_mainDlg = nullptr;
};
