// The real window in a process of its own, for tests of what two processes do to one
// data directory. It gets a home, a configuration and a temporary directory of its
// own (its lock file and socket live there, apart from a Quillberry the user may be
// running), the offscreen platform and a desktop proxy store in memory.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <string>

#include "support/TempDir.h"

namespace qbtest {

class WindowProcess {
 public:
  WindowProcess();
  ~WindowProcess();
  WindowProcess(const WindowProcess&) = delete;
  WindowProcess& operator=(const WindowProcess&) = delete;

  static QString Program();
  static bool Built();

  // The environment of the window, and of a command that is to find it.
  QProcessEnvironment Env() const;
  // Where the window's socket is.
  QString SocketPath() const;
  std::string TempPath() const { return m_tmp.Path(); }

  // Starts the window on dataDir (Launch: without waiting for anything else).
  bool Launch(const std::string& dataDir);
  // ... and waits until it answers on its socket.
  bool Start(const std::string& dataDir);
  // True while a connection to its socket succeeds.
  bool Answers() const;
  QProcess& Process() { return m_process; }

 private:
  TempDir m_home;
  TempDir m_tmp;
  QProcess m_process;
};

}  // namespace qbtest
