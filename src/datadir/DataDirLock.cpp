#include "datadir/DataDirLock.h"

#include <QString>

namespace qb {

DataDirLock::DataDirLock(const std::string& lockPath)
    : m_path(lockPath), m_lock(std::make_unique<QLockFile>(QString::fromStdString(m_path))) {
  // Never stale by age: a verification run may hold it for hours. A holder that died
  // is recognised by its process id.
  m_lock->setStaleLockTime(0);
}

DataDirLock::~DataDirLock() = default;

DataDirLock::Outcome DataDirLock::TryLock(int waitMs) {
  if (m_lock->isLocked()) return Outcome::Ours;
  if (m_lock->tryLock(waitMs)) return Outcome::Ours;
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
