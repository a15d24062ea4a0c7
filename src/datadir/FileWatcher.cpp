#include "datadir/FileWatcher.h"

namespace qb {

namespace {
constexpr int kSettleMs = 250;
}

FileWatcher::FileWatcher(const std::string& dir, const std::vector<std::string>& names, QObject* parent)
    : QObject(parent), m_dir(dir) {
  for (const std::string& name : names) m_known[name] = StatFileIdentity(JoinPath(m_dir, name));
  m_settle.setSingleShot(true);
  m_settle.setInterval(kSettleMs);
  connect(&m_settle, &QTimer::timeout, this, &FileWatcher::CheckNow);
  // A save by renaming a new file over the old one is seen on the directory only: the
  // watch on the old file ends with it.
  connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
  connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { m_settle.start(); });
  Rewatch();
}

void FileWatcher::Rewatch() {
  const QString dir = QString::fromStdString(m_dir.empty() ? std::string(".") : m_dir);
  if (!m_watcher.directories().contains(dir)) m_watcher.addPath(dir);
  for (const auto& [name, identity] : m_known) {
    const QString path = QString::fromStdString(JoinPath(m_dir, name));
    if (identity && !m_watcher.files().contains(path)) m_watcher.addPath(path);
  }
}

void FileWatcher::Acknowledge(const std::string& name) {
  m_known[name] = StatFileIdentity(JoinPath(m_dir, name));
}

void FileWatcher::CheckNow() {
  m_settle.stop();
  for (auto& [name, known] : m_known) {
    const std::string path = JoinPath(m_dir, name);
    const std::optional<FileIdentity> now = StatFileIdentity(path);
    if (now == known) continue;
    known = now;
    if (!now) continue;
    if (now == OwnSavedIdentity(path)) continue;
    emit ChangedBehind(name);
  }
  Rewatch();
}

}  // namespace qb
