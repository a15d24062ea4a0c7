// The application: one instance per user, curl's global set-up, the main window.
#pragma once

#include <QApplication>

#include <memory>

#include "base/CurlTransfer.h"
#include "base/Language.h"

namespace qb {

class CMainDlg;
class DataDir;
class CSingleInstance;
struct LinkMessage;

// The exit code of a start that found the program running on another data directory.
inline constexpr int kExitOtherDataDir = 4;
// The exit code of a start that found its data directory held by a command that
// writes it (the window starts when the command has finished).
inline constexpr int kExitDataDirBusy = 5;

// What `quillberry --help` prints; also the source of the manual page.
inline constexpr const char* kWindowUsage = QT_TRANSLATE_NOOP(
    "QuillberryHelp",
    "Usage: quillberry [--data-dir DIR] [--lang zh|en] [--verify-all | --cancel-proxy]\n"
    "       quillberry --help | --version\n"
    "\n"
    "Opens the window of the proxy list: verification, the system proxy, the proxy\n"
    "sources and the tray menu of favourites. One window runs per user: a later start\n"
    "brings the running one forward.\n"
    "\n"
    "--data-dir DIR   the directory of Proxies.pro, Setting.dat and the other data files\n"
    "                 (default: the executable's directory when it is writable and not\n"
    "                 an installed program's, otherwise ~/.local/share/Quillberry/)\n"
    "--lang zh|en     the interface's language: Chinese or English (default: the\n"
    "                 setting \"language\" of ~/.config/Quillberry/interface.ini, else\n"
    "                 Chinese for a Chinese locale and English for any other)\n"
    "--verify-all     verify the whole list, as the button \"验证全部\" does, in the running\n"
    "                 window (one is started in the tray when none runs)\n"
    "--cancel-proxy   clear the desktop's system proxy, as \"取消IE代理\" does, in the\n"
    "                 running window (one is started in the tray when none runs)\n"
    "--help           print this text\n"
    "--version        print the version\n"
    "\n"
    "Exit status: 0 when the window ran and was closed, or a running window was asked\n"
    "to show itself or to do the work; 1 when it could not start (no data directory it\n"
    "may use, or the instance's private directory is held by someone else); 4 when a\n"
    "window runs on another data directory than the one asked for (it is brought\n"
    "forward, and both directories are named); 5 when a command was writing the data\n"
    "directory and did not finish within five seconds.\n");

// Printed after kWindowUsage, whose translation it leaves as it is.
inline constexpr const char* kWindowUsageMore =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "It also exits 1 when there is no display to show the window on (the message names\n"
                      "DISPLAY and WAYLAND_DISPLAY; quillberry-cli does the program's jobs without one),\n"
                      "and 2 for an unknown option or a --lang other than zh or en.\n");

class CProxyApp : public QApplication {
  Q_OBJECT

 public:
  CProxyApp(int& argc, char** argv);
  ~CProxyApp() override;

  // Runs the program; returns the exit code.
  int Run();

 private:
  // SIGTERM and SIGHUP (the desktop session ending) end the window as its exit does.
  void WatchStopSignals();
  // A command's request, answered by the window.
  LinkMessage Answer(const LinkMessage& request, const QString& dataDir);

  std::unique_ptr<CSingleInstance> m_instance;
  std::unique_ptr<DataDir> m_dir;
  std::unique_ptr<qb::CurlGlobal> m_curl;
  std::unique_ptr<CLanguageCatalogues> m_catalogues;
  CMainDlg* m_mainDlg = nullptr;
};

}  // namespace qb
