// The main window over a data directory of a test's own, opened as the program opens
// them: the directory first (its lock taken), the window on it, and the window gone
// before the directory lets go.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/MainDlg.h"
#include "datadir/DataDir.h"
#include "support/TestDataDir.h"

namespace qbtest {

class TestWindow {
 public:
  TestWindow() = default;
  TestWindow(std::unique_ptr<qb::DataDir> dir, qb::MainDlgOptions options)
      : m_dir(std::move(dir)), m_dlg(std::make_unique<qb::CMainDlg>(*m_dir, std::move(options))) {}
  TestWindow(TestWindow&& other) noexcept = default;
  TestWindow& operator=(TestWindow&& other) noexcept {
    reset();
    m_dir = std::move(other.m_dir);
    m_dlg = std::move(other.m_dlg);
    return *this;
  }
  ~TestWindow() { reset(); }

  qb::CMainDlg* operator->() const { return m_dlg.get(); }
  qb::CMainDlg& operator*() const { return *m_dlg; }
  qb::CMainDlg* get() const { return m_dlg.get(); }
  explicit operator bool() const { return m_dlg != nullptr; }
  qb::DataDir& Dir() const { return *m_dir; }
  // The window closes, then the directory lets go of its lock.
  void reset() {
    m_dlg.reset();
    m_dir.reset();
  }

 private:
  std::unique_ptr<qb::DataDir> m_dir;
  std::unique_ptr<qb::CMainDlg> m_dlg;
};

// Opens dataDir for writing, as the program does, with its favourite marks in
// favoritesIni (empty: the documented place), and the window on it.
inline TestWindow OpenTestWindow(const std::string& dataDir, const std::string& favoritesIni,
                                 qb::MainDlgOptions options) {
  qb::DataDir::OpenOptions dirOptions;
  dirOptions.favoritesProfile = favoritesIni;
  dirOptions.lockWaitMs = 0;
  return TestWindow(qb::DataDir::Open(dataDir, qb::DataDir::Access::Write, nullptr, dirOptions),
                    std::move(options));
}

}  // namespace qbtest
