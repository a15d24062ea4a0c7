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

#include <functional>

#include <memory>
#include <optional>

#include "base/InstanceLink.h"

class QLocalServer;

namespace qb {

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
  // A later start that asks the running instance to do something ("verify-all",
  // "cancel-proxy") rather than to show itself. anyDataDir: the work is for whichever
  // list the running instance has open.
  void SetAction(QString action, bool anyDataDir) {
    m_action = std::move(action);
    m_anyDataDir = anyDataDir;
  }

  // True when this process is the one instance; false when another one runs (it has
  // been asked to show itself: RunningDataDir() says which list it has open) or the
  // instance could not be claimed (Error() says why).
  bool Claim();

  // Answers the requests of commands (every verb but "show"): the answer to send
  // back. Without a handler they are refused.
  using RequestHandler = std::function<LinkMessage(const LinkMessage& request)>;
  void SetRequestHandler(RequestHandler handler) { m_handler = std::move(handler); }

  QString ServerName() const { return m_path; }
  QString RunningDataDir() const { return m_runningDataDir; }
  QString Error() const { return m_error; }

 signals:
  // Another start asked this instance to show its window.
  void ShowRequested();
  // ... and asked for another data directory than this instance's.
  void OtherDataDirRequested(const QString& requested);
  // Another start asked this instance to do something without showing its window.
  void ActionRequested(const QString& action);

 private:
  bool AskRunningInstance();
  LinkMessage Answer(const LinkMessage& request);

  QString m_path;
  QString m_dataDir;
  QString m_runningDataDir;
  QString m_action;
  bool m_anyDataDir = false;
  QString m_error;
  std::unique_ptr<QLockFile> m_lock;
  QLocalServer* m_server = nullptr;
  RequestHandler m_handler;
};

}  // namespace qb
