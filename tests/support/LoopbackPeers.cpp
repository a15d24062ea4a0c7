#include "support/LoopbackPeers.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace qbtest {

namespace {

// Debian's interpreter: pyftpdlib is installed for it, not for other Pythons on PATH.
constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 60000;
// Longer than any test executable runs; the script stops itself after this.
constexpr int kMaxSeconds = 900;

LoopbackPeers* g_peers = nullptr;
bool g_stopped = false;

// Stops the peers when the tests end, while the application object still exists.
class PeersEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (g_peers) g_peers->Stop();
  }
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new PeersEnvironment);

}  // namespace

struct LoopbackPeers::Process {
  QProcess process;
};

const char* PeerName(Peer peer) {
  switch (peer) {
    case Peer::HttpProxy:
      return "HTTP_PROXY";
    case Peer::Socks:
      return "SOCKS";
    case Peer::Socks5Only:
      return "SOCKS5_ONLY";
    case Peer::Squid:
      return "SQUID";
    case Peer::Ftp:
      return "FTP";
    case Peer::Origin:
      return "ORIGIN";
    case Peer::HttpProxyAuth:
      return "HTTP_PROXY_AUTH";
    case Peer::Socks5Auth:
      return "SOCKS5_AUTH";
  }
  return "?";
}

LoopbackPeers& LoopbackPeers::Instance() {
  if (!g_peers) {
    g_peers = new LoopbackPeers;
    if (g_stopped) {
      g_peers->m_startError = "the peers were already stopped";
    } else {
      g_peers->Start();
    }
  }
  return *g_peers;
}

void LoopbackPeers::Start() {
  const QString script = QStringLiteral(QB_SUPPORT_DIR "/peers.py");
  if (!QFileInfo(kPython).isExecutable()) {
    m_scriptMissing = true;
    m_startError = std::string(kPython) + " is not installed";
    return;
  }
  m_process = new Process;
  QProcess& p = m_process->process;
  p.setProgram(kPython);
  // -I: the Python environment variables of the caller must not leak into Debian's
  // interpreter.
  p.setArguments({"-I", script, "--max-seconds", QString::number(kMaxSeconds)});
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QElapsedTimer timer;
  timer.start();
  p.start();
  if (!p.waitForStarted(10000)) {
    m_startError = "cannot start " + script.toStdString() + ": " + p.errorString().toStdString();
    return;
  }
  bool ready = false;
  std::string pending;
  while (!ready && timer.elapsed() < kStartTimeoutMs) {
    if (!p.canReadLine() && !p.waitForReadyRead(static_cast<int>(kStartTimeoutMs - timer.elapsed()))) break;
    while (p.canReadLine()) {
      std::string line = p.readLine().trimmed().toStdString();
      if (line == "READY") {
        ready = true;
        break;
      }
      const auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      if (key == "MISSING" || key == "FAILED") {
        const auto blank = value.find(' ');
        const std::string name = value.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : value.substr(blank + 1);
        (key == "MISSING" ? m_missing : m_failed)[name] = rest;
      } else {
        m_values[key] = value;
      }
    }
  }
  m_startupSeconds = timer.elapsed() / 1000.0;
  if (!ready) {
    m_startError = "the peers did not report ready within " + std::to_string(kStartTimeoutMs / 1000) +
                   " s (exit code " + std::to_string(p.exitCode()) + ")";
    Stop();
    return;
  }
  std::fprintf(stderr, "[peers] ready in %.2f s (script's own count: %s ms) in %s\n", m_startupSeconds,
               Value("STARTUP_MS").c_str(), Directory().c_str());
}

void LoopbackPeers::Stop() {
  g_stopped = true;
  if (!m_process) return;
  QProcess& p = m_process->process;
  if (p.state() != QProcess::NotRunning) {
    // End of input is the script's signal to stop its peers and remove its files.
    p.closeWriteChannel();
    if (!p.waitForFinished(15000)) {
      p.terminate();
      if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
      }
    }
  }
  delete m_process;
  m_process = nullptr;
  if (m_startError.empty()) m_startError = "the peers were stopped";
  m_values.clear();
}

std::string LoopbackPeers::Problem(Peer peer) const {
  const std::string name = PeerName(peer);
  if (m_scriptMissing) return m_startError + ": cannot run the loopback peers";
  if (m_values.empty() && !m_startError.empty()) return m_startError;
  if (auto it = m_missing.find(name); it != m_missing.end())
    return it->second + " is not installed: cannot run the " + name + " peer";
  if (auto it = m_failed.find(name); it != m_failed.end()) return name + " peer failed: " + it->second;
  if (Port(name) <= 0) return name + " peer reported no port";
  return "";
}

bool LoopbackPeers::Missing(Peer peer) const {
  return m_scriptMissing || m_missing.count(PeerName(peer)) > 0;
}

int LoopbackPeers::Port(const std::string& key) const {
  auto it = m_values.find(key + "_PORT");
  return it == m_values.end() ? 0 : std::atoi(it->second.c_str());
}

std::string LoopbackPeers::Value(const std::string& key) const {
  auto it = m_values.find(key);
  return it == m_values.end() ? std::string() : it->second;
}

std::string LoopbackPeers::OutAddress(Peer peer) const {
  const std::string out = Value(std::string(PeerName(peer)) + "_OUT");
  return out.empty() ? "127.0.0.1" : out;
}

std::string LoopbackPeers::Url(const char* scheme, int port) {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

std::string LoopbackPeers::OriginUrl(std::string_view path) const {
  return Url("http", OriginPort()) + std::string(path);
}

namespace {

std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string LoopbackPeers::FtpUrl(std::string_view user, std::string_view password,
                                  std::string_view path) const {
  std::string auth;
  if (!user.empty()) {
    auth = PercentEncode(user);
    if (!password.empty()) auth += ":" + PercentEncode(password);
    auth += "@";
  }
  return "ftp://" + auth + "127.0.0.1:" + std::to_string(FtpPort()) + std::string(path);
}

}  // namespace qbtest
