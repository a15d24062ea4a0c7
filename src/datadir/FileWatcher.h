// Notices when another program changed one of a data directory's files.
//
// The window keeps the list, the settings and the sources in memory and rewrites each
// file whole; a change made behind it would be overwritten at its next save. The
// watcher tells instead, so that the window reloads. This process's own saves are
// recognised by the identity of the file they made (see OwnSavedIdentity), not by
// timing.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Files.h"

namespace qb {

class FileWatcher : public QObject {
  Q_OBJECT

 public:
  // Watches the named files of dir (ending in "/"); what they hold now counts as known.
  FileWatcher(const std::string& dir, const std::vector<std::string>& names, QObject* parent = nullptr);

  // What the named file holds now counts as known (after the caller read it).
  void Acknowledge(const std::string& name);
  // Looks at the files now rather than after the settling pause (for tests).
  void CheckNow();

 signals:
  // name (a file name of the directory) was changed or replaced by another program. A
  // file that was removed is not reported: the next save makes it again, and no row is
  // thrown away for a missing file.
  void ChangedBehind(const std::string& name);

 private:
  void Rewatch();

  std::string m_dir;
  std::map<std::string, std::optional<FileIdentity>> m_known;
  QFileSystemWatcher m_watcher;
  // An editor or a tool may write a file in several steps: look once they are done.
  QTimer m_settle;
};

}  // namespace qb
