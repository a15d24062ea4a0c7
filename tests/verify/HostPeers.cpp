#include "verify/HostPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <cstring>

namespace hosttest {

namespace {

bool IsRoot() {
  return ::geteuid() == 0;
}

// A socket bound to the address; its port, or 0.
int BindPort(const std::string& address, int port, int* fd) {
  sockaddr_storage sa{};
  socklen_t len = 0;
  auto& a4 = reinterpret_cast<sockaddr_in&>(sa);
  auto& a6 = reinterpret_cast<sockaddr_in6&>(sa);
  if (inet_pton(AF_INET, address.c_str(), &a4.sin_addr) == 1) {
    a4.sin_family = AF_INET;
    a4.sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof a4;
  } else if (inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr) == 1) {
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof a6;
  } else {
    return 0;
  }
  *fd = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (*fd < 0) return 0;
  if (::bind(*fd, reinterpret_cast<sockaddr*>(&sa), len) != 0) return 0;
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  ::getsockname(*fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  return bound.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port)
                                    : ntohs(reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
}

}  // namespace

int FreeDualPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd4 = -1;
    int fd6 = -1;
    const int port = BindPort("127.0.0.1", 0, &fd4);
    const bool both = port != 0 && BindPort("::1", port, &fd6) == port;
    if (fd4 >= 0) ::close(fd4);
    if (fd6 >= 0) ::close(fd6);
    if (both) return port;
  }
  return 0;
}

bool WaitForPort(const std::string& address, int port, int ms) {
  QElapsedTimer clock;
  clock.start();
  do {
    sockaddr_storage sa{};
    socklen_t len = sizeof(sockaddr_in);
    auto& a4 = reinterpret_cast<sockaddr_in&>(sa);
    auto& a6 = reinterpret_cast<sockaddr_in6&>(sa);
    if (inet_pton(AF_INET, address.c_str(), &a4.sin_addr) == 1) {
      a4.sin_family = AF_INET;
      a4.sin_port = htons(static_cast<uint16_t>(port));
    } else if (inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr) == 1) {
      a6.sin6_family = AF_INET6;
      a6.sin6_port = htons(static_cast<uint16_t>(port));
      len = sizeof(sockaddr_in6);
    } else {
      return false;
    }
    const int fd = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0;
    if (fd >= 0) ::close(fd);
    if (ok) return true;
    QThread::msleep(20);
  } while (clock.elapsed() < ms);
  return false;
}

Daemon::~Daemon() {
  if (!m_process || m_process->state() == QProcess::NotRunning) return;
  m_process->terminate();
  if (!m_process->waitForFinished(3000)) {
    m_process->kill();
    m_process->waitForFinished(3000);
  }
}

bool Daemon::Start(const std::string& program, const std::vector<std::string>& args,
                   const std::string& address, int port) {
  m_process = std::make_unique<QProcess>();
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  m_process->setStandardOutputFile(QProcess::nullDevice());
  m_process->setStandardErrorFile(QProcess::nullDevice());
  // The daemon ends with the test executable, should that die first.
  m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  m_process->start(QString::fromStdString(program), list);
  if (!m_process->waitForStarted(5000)) {
    m_problem = program + " did not start";
    return false;
  }
  if (!WaitForPort(address, port, 10000)) {
    m_problem = program + " does not listen on " + address + ":" + std::to_string(port);
    return false;
  }
  return true;
}

std::string TinyproxyLoopbackFilter() {
  return "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$\n^\\[?::1\\]?$\n^localhost$\n";
}

// No Allow lines: under concurrent connections tinyproxy 1.11 can read an IPv6
// client's address wrongly ("::7424:63a2:5356:0") and refuse it with a page of its own,
// which looks like a proxy that answers wrongly. Listening on loopback only keeps it
// as private.
std::string TinyproxyConfig(int port, const std::string& filterPath) {
  std::string conf;
  if (IsRoot()) conf += "User nobody\nGroup nogroup\n";
  conf += "Port " + std::to_string(port) +
          "\n"
          "Listen ::1\n"
          "Listen 127.0.0.1\n"
          "Timeout 30\n"
          "MaxClients 100\n"
          "ViaProxyName \"tinyproxy\"\n"
          "Filter \"" +
          filterPath +
          "\"\n"
          "FilterType ere\n"
          "FilterDefaultDeny Yes\n";
  return conf;
}

Ipv6Proxies::Ipv6Proxies() {
  const QString tinyproxy = QStandardPaths::findExecutable("tinyproxy");
  const QString microsocks = QStandardPaths::findExecutable("microsocks");
  if (tinyproxy.isEmpty()) m_missing = "tinyproxy";
  if (microsocks.isEmpty()) m_missing += (m_missing.empty() ? "" : ", ") + std::string("microsocks");
  if (!m_missing.empty()) return;
  // tinyproxy reads its filter after it has become nobody.
  ::chmod(m_dir.Path().c_str(), 0755);
  qbtest::WriteFile(m_dir.File("filter"), TinyproxyLoopbackFilter());
  m_httpPort = FreeDualPort();
  qbtest::WriteFile(m_dir.File("tinyproxy.conf"), TinyproxyConfig(m_httpPort, m_dir.File("filter")));
  if (!m_http.Start(tinyproxy.toStdString(), {"-d", "-c", m_dir.File("tinyproxy.conf")}, "::1", m_httpPort)) {
    m_problem = m_http.Problem();
    return;
  }
  m_socksPort = FreeDualPort();
  if (!m_socks.Start(microsocks.toStdString(), {"-i", "::1", "-p", std::to_string(m_socksPort)}, "::1",
                     m_socksPort))
    m_problem = m_socks.Problem();
}

PrivateRun RunInPrivateNetwork(const qbtest::TempDir& dir, const std::string& script,
                               const std::string& hosts, const std::string& resolvConf, int timeoutMs) {
  PrivateRun run;
  if (QStandardPaths::findExecutable("unshare").isEmpty() || QStandardPaths::findExecutable("ip").isEmpty()) {
    run.why = "unshare or ip is not installed";
    return run;
  }
  qbtest::WriteFile(dir.File("hosts"), hosts);
  qbtest::WriteFile(dir.File("resolv.conf"), resolvConf);
  qbtest::WriteFile(dir.File("script.sh"), script);
  qbtest::WriteFile(dir.File("prelude.sh"),
                    "set -u\n"
                    "ip link set lo up || { echo 'private network: no loopback' >&2; exit 97; }\n"
                    "mount --bind \"$DIR/hosts\" /etc/hosts && mount --bind \"$DIR/resolv.conf\" "
                    "/etc/resolv.conf || { echo 'private network: /etc cannot be replaced' >&2; exit 97; }\n"
                    ". \"$DIR/script.sh\"\n");
  QStringList args = {"--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc"};
  // Root needs no user namespace, and without one the daemons can still become nobody.
  if (!IsRoot()) args << "--map-root-user";
  args << "--"
       << "/bin/bash" << QString::fromStdString(dir.File("prelude.sh"));
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DIR", QString::fromStdString(dir.Path()));
  p.setProcessEnvironment(env);
  p.start("unshare", args);
  if (!p.waitForStarted(5000)) {
    run.why = "unshare did not start";
    return run;
  }
  if (!p.waitForFinished(timeoutMs)) {
    // Its first process ends, and with it every process of the namespace.
    p.kill();
    p.waitForFinished(5000);
  }
  run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  run.out = p.readAllStandardOutput().toStdString();
  run.err = p.readAllStandardError().toStdString();
  if (run.exitCode == 97 || (run.exitCode == 1 && run.err.rfind("unshare:", 0) == 0)) {
    run.why = run.err;
    return run;
  }
  run.made = true;
  return run;
}

}  // namespace hosttest
