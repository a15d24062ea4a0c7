#include "support/WindowProcess.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QTest>

#include <unistd.h>

namespace qbtest {

WindowProcess::WindowProcess() {
  m_process.setProcessEnvironment(Env());
  m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

WindowProcess::~WindowProcess() {
  if (m_process.state() != QProcess::NotRunning) {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
}

QString WindowProcess::Program() {
  return QStringLiteral(QB_BINARY_DIR "/quillberry");
}

bool WindowProcess::Built() {
  return QFileInfo(Program()).isExecutable();
}

QProcessEnvironment WindowProcess::Env() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const QString home = QString::fromStdString(m_home.Path());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", home);
  env.insert("XDG_CONFIG_HOME", home + ".config");
  env.insert("XDG_DATA_HOME", home + ".local/share");
  env.insert("XDG_CACHE_HOME", home + ".cache");
  // Without a runtime directory the lock file and the socket live in a private
  // directory of the temporary directory.
  env.remove("XDG_RUNTIME_DIR");
  env.insert("TMPDIR", QString::fromStdString(m_tmp.Path()));
  env.insert("GSETTINGS_BACKEND", "memory");
  env.remove("XDG_CURRENT_DESKTOP");
  env.remove("KDE_FULL_SESSION");
  env.remove("DESKTOP_SESSION");
  return env;
}

QString WindowProcess::SocketPath() const {
  return QString::fromStdString(m_tmp.Path()) + QStringLiteral("quillberry-%1/Quillberry").arg(::getuid());
}

bool WindowProcess::Answers() const {
  QLocalSocket s;
  s.connectToServer(SocketPath());
  const bool ok = s.waitForConnected(500);
  s.abort();
  return ok;
}

bool WindowProcess::Launch(const std::string& dataDir) {
  m_process.start(Program(), {"--data-dir", QString::fromStdString(dataDir)});
  return m_process.waitForStarted(5000);
}

bool WindowProcess::Start(const std::string& dataDir) {
  if (!Launch(dataDir)) return false;
  return QTest::qWaitFor([this] { return Answers() || m_process.state() == QProcess::NotRunning; }, 15000) &&
         Answers();
}

}  // namespace qbtest
