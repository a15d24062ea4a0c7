#include "base/InstanceLink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/Files.h"

namespace qb {

namespace {

QString WithSlash(QString dir) {
  if (!dir.endsWith('/')) dir += '/';
  return dir;
}

// How many body lines follow a header; -1 for a header that cannot be understood.
qsizetype BodyLines(const QList<QByteArray>& header) {
  const QByteArray verb = header.value(0);
  int field = 0;
  if (verb == link::kAdd) field = 2;
  if (verb == link::kAdded) field = 1;
  if (field == 0) return 0;
  bool ok = false;
  const qsizetype n = header.value(field).toLongLong(&ok);
  return ok && n >= 0 ? n : -1;
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

QString InstanceServerPath(const QString& keyIn, QString* why) {
  const QString key = keyIn.isEmpty() ? QStringLiteral("Quillberry") : keyIn;
  if (QDir::isAbsolutePath(key)) return key;
  if (const std::optional<QString> dir = PrivateRuntimeDir(why)) return *dir + key;
  return {};
}

QByteArray EncodeLinkMessage(const LinkMessage& message) {
  QByteArray out = message.header.join('\t') + '\n';
  for (const QByteArray& line : message.body) {
    // A line break inside a field would end the message early.
    QByteArray clean = line;
    clean.replace('\n', ' ').replace('\r', ' ');
    out += clean + '\n';
  }
  return out;
}

std::optional<LinkMessage> LinkReader::Take() {
  const qsizetype headerEnd = m_buffer.indexOf('\n');
  if (headerEnd < 0) return std::nullopt;
  LinkMessage message;
  message.header = m_buffer.left(headerEnd).split('\t');
  qsizetype lines = BodyLines(message.header);
  if (lines < 0) lines = 0;  // the handler refuses it; its body, if any, is not read
  qsizetype pos = headerEnd + 1;
  message.body.reserve(lines);
  for (qsizetype i = 0; i < lines; ++i) {
    const qsizetype end = m_buffer.indexOf('\n', pos);
    if (end < 0) return std::nullopt;  // the body is still coming
    message.body.push_back(m_buffer.mid(pos, end - pos));
    pos = end + 1;
  }
  m_buffer.remove(0, pos);
  return message;
}

std::optional<LinkMessage> AskRunningWindow(const QString& serverPath, const LinkMessage& request,
                                            int replyMs) {
  if (serverPath.isEmpty()) return std::nullopt;
  QLocalSocket socket;
  socket.connectToServer(serverPath);
  if (!socket.waitForConnected(1000)) return std::nullopt;
  socket.write(EncodeLinkMessage(request));
  QElapsedTimer clock;
  clock.start();
  LinkReader reader;
  while (clock.elapsed() < replyMs) {
    if (socket.bytesToWrite() > 0) socket.waitForBytesWritten(100);
    if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(100)) reader.Append(socket.readAll());
    if (std::optional<LinkMessage> reply = reader.Take()) return reply;
    if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0) break;
  }
  return std::nullopt;
}

}  // namespace qb
