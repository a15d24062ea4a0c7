#include "datadir/DataDirLock.h"

#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace qb {

namespace {

// A live writer names itself in its lock file within microseconds of making it.
constexpr std::int64_t kUnwrittenLockAgeMs = 1000;

std::int64_t AgeMs(const struct stat& st) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t ms = (static_cast<std::int64_t>(now.tv_sec) - st.st_mtim.tv_sec) * 1000 +
                          (now.tv_nsec - st.st_mtim.tv_nsec) / 1000000;
  return ms < 0 ? -ms : ms;
}

}  // namespace

DataDirLock::DataDirLock(const std::string& lockPath)
    : m_path(lockPath), m_lock(std::make_unique<QLockFile>(QString::fromStdString(m_path))) {
  // Never stale by age: a verification run may hold it for hours. A holder that died
  // is recognised by its process id.
  m_lock->setStaleLockTime(0);
}

DataDirLock::~DataDirLock() = default;

DataDirLock::Outcome DataDirLock::TryLock(int waitMs) {
  if (m_lock->isLocked()) return Outcome::Ours;
  // Whoever made a pipe, a socket or a folder at the lock's name, no writer made it; and
  // reading who holds a pipe would wait for a writer at its other end.
  struct stat there {};
  if (::lstat(m_path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode)) {
    m_error = "cannot create " + m_path + ": something other than a file is there";
    return Outcome::Failed;
  }
  if (m_lock->tryLock(waitMs)) return Outcome::Ours;
  if (m_lock->error() == QLockFile::LockFailedError && RemoveUnwrittenLock() && m_lock->tryLock(0))
    return Outcome::Ours;
  switch (m_lock->error()) {
    case QLockFile::LockFailedError:
      return Outcome::Held;
    case QLockFile::PermissionError:
      m_error = "cannot create " + m_path + ": permission denied";
      return Outcome::Failed;
    default:
      m_error = "cannot create " + m_path;
      return Outcome::Failed;
  }
}

// A writer killed after it made the lock file and before it wrote its name there left a
// lock that names no one. Qt recognises a dead holder only by the name, and otherwise
// by age, which this lock never takes (see the constructor), so such a file would keep
// every writer out for good. Nobody holds its flock, as a live holder does from the
// moment it made the file; one that has also stayed unnamed for a second is removed,
// under its flock, so that no other remover can take a newer lock away meanwhile.
bool DataDirLock::RemoveUnwrittenLock() {
  if (m_lock->getLockInfo(nullptr, nullptr, nullptr)) return false;
  const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  bool removed = false;
  struct stat opened {};
  struct stat named {};
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
      AgeMs(opened) > kUnwrittenLockAgeMs && !m_lock->getLockInfo(nullptr, nullptr, nullptr) &&
      ::lstat(m_path.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
    removed = ::unlink(m_path.c_str()) == 0;
  ::close(fd);
  return removed;
}

qint64 DataDirLock::HolderPid() const {
  qint64 pid = 0;
  QString host, app;
  if (!m_lock->getLockInfo(&pid, &host, &app)) return 0;
  return pid;
}

std::string DataDirLock::HolderName() const {
  qint64 pid = 0;
  QString host, app;
  if (!m_lock->getLockInfo(&pid, &host, &app)) return {};
  return app.toStdString();
}

std::string DataDirLock::HolderText() const {
  const qint64 pid = HolderPid();
  std::string name = HolderName();
  if (name == kWindowExecutable) name = "the Quillberry window";
  if (name.empty()) name = "another process";
  return pid > 0 ? name + " (process " + std::to_string(pid) + ")" : name;
}

}  // namespace qb
