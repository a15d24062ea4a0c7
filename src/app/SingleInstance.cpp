#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <memory>

#include <unistd.h>

#include <cstdlib>

#include "base/Files.h"

namespace qb {

namespace {
constexpr int kConnectTimeoutMs = 1000;
}  // namespace

CSingleInstance::CSingleInstance(QString key, QObject* parent) : QObject(parent) {
  m_path = InstanceServerPath(key, &m_error);
}

CSingleInstance::~CSingleInstance() {
  if (m_server) m_server->close();
}

bool CSingleInstance::AskRunningInstance() {
  QLocalSocket socket;
  socket.connectToServer(m_path);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  LinkMessage request{{link::kShow, m_anyDataDir ? QByteArray() : m_dataDir.toUtf8()}, {}};
  if (!m_action.isEmpty()) request.header.push_back(m_action.toUtf8());
  socket.write(EncodeLinkMessage(request));
  socket.waitForBytesWritten(kConnectTimeoutMs);
  // The answer names the running instance's list; an older or busy instance may not
  // answer, which still counts as running.
  LinkReader reader;
  std::optional<LinkMessage> answer;
  while (!answer && socket.waitForReadyRead(kConnectTimeoutMs)) {
    reader.Append(socket.readAll());
    answer = reader.Take();
  }
  if (answer && answer->Verb() == link::kDir) m_runningDataDir = QString::fromUtf8(answer->Field(1));
  socket.disconnectFromServer();
  return true;
}

LinkMessage CSingleInstance::Answer(const LinkMessage& request) {
  if (request.Verb() == link::kShow) {
    const QString requested = QString::fromUtf8(request.Field(1));
    const QString action = QString::fromUtf8(request.Field(2));
    // Done after the answer has gone out, so that the later start is not kept waiting
    // by a message box.
    QMetaObject::invokeMethod(
        this,
        [this, requested, action] {
          if (!requested.isEmpty() && requested != m_dataDir) {
            // Neither the work nor the window is for the list asked for.
            emit ShowRequested();
            emit OtherDataDirRequested(requested);
          } else if (!action.isEmpty()) {
            emit ActionRequested(action);
          } else {
            emit ShowRequested();
          }
        },
        Qt::QueuedConnection);
    return {{link::kDir, m_dataDir.toUtf8()}, {}};
  }
  if (m_handler) return m_handler(request);
  return {{link::kRefused, link::kBadRequest}, {}};
}

bool CSingleInstance::Claim() {
  if (m_path.isEmpty()) return false;  // no private place for the instance: m_error says why
  if (AskRunningInstance()) return false;

  m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
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
    if (!m_lock->removeStaleLockFile() || !m_lock->tryLock(0)) {
      m_error = QStringLiteral("%1 is held by a process that does not answer").arg(m_lock->fileName());
      return false;
    }
  }

  // Nobody answered and the lock is ours: whatever socket file is left came from a
  // crashed run.
  QLocalServer::removeServer(m_path);
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_server->listen(m_path)) return true;  // still the one instance, just unreachable
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
      auto reader = std::make_shared<LinkReader>();
      connect(s, &QLocalSocket::readyRead, this, [this, s, reader] {
        reader->Append(s->readAll());
        while (std::optional<LinkMessage> request = reader->Take()) {
          s->write(EncodeLinkMessage(Answer(*request)));
          s->flush();
        }
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace qb
