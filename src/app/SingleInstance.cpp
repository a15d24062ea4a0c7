#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace qb {

namespace {
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kShowRequest = "show\n";
}  // namespace

CSingleInstance::CSingleInstance(QString key, QObject* parent)
    : QObject(parent), m_key(key.isEmpty() ? QStringLiteral("Quillberry-%1").arg(::getuid()) : key) {}

CSingleInstance::~CSingleInstance() {
  if (m_server) m_server->close();
}

bool CSingleInstance::AskRunningInstance() const {
  QLocalSocket socket;
  socket.connectToServer(m_key);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(kShowRequest);
  socket.waitForBytesWritten(kConnectTimeoutMs);
  socket.disconnectFromServer();
  return true;
}

bool CSingleInstance::Claim() {
  if (AskRunningInstance()) return false;

  m_lock = std::make_unique<QLockFile>(QDir::temp().filePath(m_key + QStringLiteral(".lock")));
  m_lock->setStaleLockTime(0);
  // Another instance holding the lock may still be starting; give it a moment to
  // open its server, then ask it again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (m_lock->tryLock(200)) break;
    if (AskRunningInstance()) return false;
    QThread::msleep(200);
  }
  if (!m_lock->isLocked()) {
    // The lock belongs to a process that neither answers nor dies: recover it only
    // when its owner is gone.
    if (!m_lock->removeStaleLockFile() || !m_lock->tryLock(0)) return false;
  }

  // Nobody answered and the lock is ours: whatever socket file is left came from a
  // crashed run.
  QLocalServer::removeServer(m_key);
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_server->listen(m_key)) return true;  // still the one instance, just unreachable
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (s->readAll().contains("show")) emit ShowRequested();
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace qb
