#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

#include <cstdlib>

#include "base/Files.h"

namespace qb {

namespace {
constexpr int kConnectTimeoutMs = 1000;
// A request is one line: "show", a tab, and the data directory the new start wants.
// The answer is one line too: "dir", a tab, and the running instance's directory.
const QByteArray kShowRequest = "show";
const QByteArray kDirAnswer = "dir";

QString WithSlash(QString dir) {
  if (!dir.endsWith('/')) dir += '/';
  return dir;
}

}  // namespace

std::optional<QString> PrivateRuntimeDir(QString* why) {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
    std::string path(runtime);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (EnsurePrivateDir(path, LooseMode::Refuse, nullptr)) return WithSlash(QString::fromStdString(path));
  }
  const std::string own =
      QDir(QDir::tempPath()).filePath(QStringLiteral("quillberry-%1").arg(::getuid())).toStdString();
  std::string reason;
  if (!EnsurePrivateDir(own, LooseMode::Refuse, &reason)) {
    if (why) *why = QString::fromStdString(own + " " + reason);
    return std::nullopt;
  }
  return WithSlash(QString::fromStdString(own));
}

CSingleInstance::CSingleInstance(QString key, QObject* parent) : QObject(parent) {
  if (key.isEmpty()) key = QStringLiteral("Quillberry");
  if (QDir::isAbsolutePath(key)) {
    m_path = key;
  } else if (const std::optional<QString> dir = PrivateRuntimeDir(&m_error)) {
    m_path = *dir + key;
  }
}

CSingleInstance::~CSingleInstance() {
  if (m_server) m_server->close();
}

bool CSingleInstance::AskRunningInstance() {
  QLocalSocket socket;
  socket.connectToServer(m_path);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(kShowRequest + '\t' + m_dataDir.toUtf8() + '\n');
  socket.waitForBytesWritten(kConnectTimeoutMs);
  // The answer names the running instance's list; an older or busy instance may not
  // answer, which still counts as running.
  while (!socket.canReadLine() && socket.waitForReadyRead(kConnectTimeoutMs)) {
  }
  if (socket.canReadLine()) {
    const QByteArray line = socket.readLine().trimmed();
    if (line.startsWith(kDirAnswer + '\t'))
      m_runningDataDir = QString::fromUtf8(line.mid(kDirAnswer.size() + 1));
  }
  socket.disconnectFromServer();
  return true;
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
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        while (s->canReadLine()) {
          const QByteArray line = s->readLine().trimmed();
          if (!line.startsWith(kShowRequest)) continue;
          s->write(kDirAnswer + '\t' + m_dataDir.toUtf8() + '\n');
          s->flush();
          const QString requested = line.startsWith(kShowRequest + '\t')
                                        ? QString::fromUtf8(line.mid(kShowRequest.size() + 1))
                                        : QString();
          emit ShowRequested();
          if (!requested.isEmpty() && requested != m_dataDir) emit OtherDataDirRequested(requested);
        }
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace qb
