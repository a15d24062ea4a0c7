// One running Quillberry per user: a second start asks the first to show its window
// and ends.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace qb {

class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  // key names the instance (default: "Quillberry" and the user id).
  explicit CSingleInstance(QString key = QString(), QObject* parent = nullptr);
  ~CSingleInstance() override;

  // True when this process is the one instance; false when another one runs (it has
  // been asked to show itself) or the instance could not be claimed.
  bool Claim();

  QString ServerName() const { return m_key; }

 signals:
  // Another start asked this instance to show its window.
  void ShowRequested();

 private:
  bool AskRunningInstance() const;

  QString m_key;
  std::unique_ptr<QLockFile> m_lock;
  QLocalServer* m_server = nullptr;
};

}  // namespace qb
