#include "app/DataFileWatcher.h"

namespace qb {

namespace {
constexpr int kSettleMs = 250;
}

CDataFileWatcher::CDataFileWatcher(const std::string& dataDir, const std::vector<std::string>& names,
                                   QObject* parent)
    : QObject(parent), m_dataDir(dataDir) {
  for (const std::string& name : names) m_known[name] = StatFileIdentity(JoinPath(m_dataDir, name));
  m_settle.setSingleShot(true);
  m_settle.setInterval(kSettleMs);
  connect(&m_settle, &QTimer::timeout, this, &CDataFileWatcher::CheckNow);
  // A save by renaming a new file over the old one is seen on the directory only: the
  // watch on the old file ends with it.
  connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
  connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { m_settle.start(); });
  Rewatch();
}

void CDataFileWatcher::Rewatch() {
  const QString dir = QString::fromStdString(m_dataDir.empty() ? std::string(".") : m_dataDir);
  if (!m_watcher.directories().contains(dir)) m_watcher.addPath(dir);
  for (const auto& [name, identity] : m_known) {
    const QString path = QString::fromStdString(JoinPath(m_dataDir, name));
    if (identity && !m_watcher.files().contains(path)) m_watcher.addPath(path);
  }
}

void CDataFileWatcher::Acknowledge(const std::string& name) {
  m_known[name] = StatFileIdentity(JoinPath(m_dataDir, name));
}

void CDataFileWatcher::CheckNow() {
  m_settle.stop();
  for (auto& [name, known] : m_known) {
    const std::string path = JoinPath(m_dataDir, name);
    const std::optional<FileIdentity> now = StatFileIdentity(path);
    if (now == known) continue;
    known = now;
    if (!now) continue;
    if (now == OwnSavedIdentity(path)) continue;
    emit ChangedBehind(QString::fromStdString(name));
  }
  Rewatch();
}

}  // namespace qb
