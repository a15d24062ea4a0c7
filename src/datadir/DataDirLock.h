// Who may write a data directory's files.
//
// The window keeps its list in memory and rewrites Proxies.pro whole, so a second
// writer's rows would be lost at its next save. One process at a time holds the lock
// file inside the data directory: the window for as long as it runs, a command for as
// long as it may write. The others hand their work to the holder or refuse. Only
// DataDir takes it.
#pragma once

#include <QLockFile>

#include <cstdint>
#include <memory>
#include <string>

namespace qb {

class DataDirLock {
 public:
  // lockPath: the lock file, inside the directory it guards.
  explicit DataDirLock(const std::string& lockPath);
  ~DataDirLock();
  DataDirLock(const DataDirLock&) = delete;
  DataDirLock& operator=(const DataDirLock&) = delete;

  enum class Outcome {
    Ours,    // this process holds the lock until it is destroyed
    Held,    // a live process holds it: HolderPid() and HolderName() say which
    Failed,  // the lock file could not be made: Error() says why
  };
  // Waits up to waitMs for a holder to let go. A lock left by a process that is gone
  // is taken over, and so is one that a writer killed while making it left unnamed.
  Outcome TryLock(int waitMs = 0);

  // The holder, as far as its lock file tells: 0 and empty when unknown.
  qint64 HolderPid() const;
  // The holder's executable name ("quillberry" for the window).
  std::string HolderName() const;
  // "the Quillberry window (process N)" or "quillberry-cli (process N)", for messages.
  std::string HolderText() const;
  std::string Path() const { return m_path; }
  std::string Error() const { return m_error; }

 private:
  bool RemoveUnwrittenLock();

  std::string m_path;
  std::string m_error;
  std::unique_ptr<QLockFile> m_lock;
};

// The executable name the window's lock carries.
inline constexpr const char* kWindowExecutable = "quillberry";

}  // namespace qb
