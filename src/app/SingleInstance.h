// One running Quillberry per user: a second start asks the first to show its window
// and ends.
//
// The lock file and the local socket live in a directory only this user can reach
// ($XDG_RUNTIME_DIR, or a private directory of mode 0700 in the temporary directory),
// so that another local user can neither take the instance's place nor make the
// program exit at start by planting files there.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QLocalServer;

namespace qb {

// The user's private runtime directory, ending in "/": $XDG_RUNTIME_DIR when it is an
// absolute directory owned by this user that nobody else may enter, otherwise
// <temporary directory>/quillberry-<uid>/ (created with mode 0700; one that exists
// must be a real directory of this user that nobody else may enter). nullopt, with
// the reason in *why, when neither can be had.
std::optional<QString> PrivateRuntimeDir(QString* why = nullptr);

class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  // key names the instance inside the private runtime directory (default
  // "Quillberry"); an absolute path is used as it is.
  explicit CSingleInstance(QString key = QString(), QObject* parent = nullptr);
  ~CSingleInstance() override;

  // The data directory of this instance, told to a later start and compared with the
  // one it asks for.
  void SetDataDir(QString dir) { m_dataDir = std::move(dir); }

  // True when this process is the one instance; false when another one runs (it has
  // been asked to show itself: RunningDataDir() says which list it has open) or the
  // instance could not be claimed (Error() says why).
  bool Claim();

  QString ServerName() const { return m_path; }
  QString RunningDataDir() const { return m_runningDataDir; }
  QString Error() const { return m_error; }

 signals:
  // Another start asked this instance to show its window.
  void ShowRequested();
  // ... and asked for another data directory than this instance's.
  void OtherDataDirRequested(const QString& requested);

 private:
  bool AskRunningInstance();

  QString m_path;
  QString m_dataDir;
  QString m_runningDataDir;
  QString m_error;
  std::unique_ptr<QLockFile> m_lock;
  QLocalServer* m_server = nullptr;
};

}  // namespace qb
