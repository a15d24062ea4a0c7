// Peers for the tests of proxies named by an IPv6 address or a host name.
//
// LoopbackPeers listen on 127.0.0.1 alone; these add an HTTP proxy (tinyproxy) that
// listens on [::1] and 127.0.0.1 and reaches both families, and a SOCKS5 proxy
// (microsocks) on [::1]. Each is started by the test that needs it and stopped with it
// (and with the test executable, should that die).
//
// A name that must not resolve, or a name server that never answers, is only ever met
// inside a private network: RunInPrivateNetwork runs a script in network, mount and
// process namespaces of its own, with only a loopback interface and with hosts and
// resolv.conf files of the test's own at /etc, so that no query can leave the machine
// whatever the code under test does.
#pragma once

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace hosttest {

// A port that was free on both 127.0.0.1 and ::1 when asked.
int FreeDualPort();
// Whether something accepts connections at address:port within ms.
bool WaitForPort(const std::string& address, int port, int ms);

// A program the test runs for as long as the object lives.
class Daemon {
 public:
  Daemon() = default;
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Starts the program and waits until address:port accepts connections; false (with
  // Problem() saying why) otherwise.
  bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& address,
             int port);
  const std::string& Problem() const { return m_problem; }

 private:
  std::unique_ptr<QProcess> m_process;
  std::string m_problem;
};

// tinyproxy on [::1] and 127.0.0.1, microsocks on [::1]. Missing() names a program
// that is not installed (the test skips); Problem() why a peer did not start.
class Ipv6Proxies {
 public:
  Ipv6Proxies();
  std::string Missing() const { return m_missing; }
  std::string Problem() const { return m_problem; }
  int HttpPort() const { return m_httpPort; }
  int Socks5Port() const { return m_socksPort; }

 private:
  qbtest::TempDir m_dir;
  Daemon m_http;
  Daemon m_socks;
  int m_httpPort = 0;
  int m_socksPort = 0;
  std::string m_missing;
  std::string m_problem;
};

// The configuration of a tinyproxy that listens on [::1] and 127.0.0.1 at port and
// may connect to loopback destinations only; its filter file goes to filterPath.
std::string TinyproxyConfig(int port, const std::string& filterPath);
// The filter that configuration reads.
std::string TinyproxyLoopbackFilter();

// What a script run in a private network did.
struct PrivateRun {
  // False when the namespaces could not be made here (the test skips, saying why).
  bool made = false;
  std::string why;
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs script (bash) in namespaces of its own: its network has only loopback (up), its
// /etc/hosts and /etc/resolv.conf are the texts given, and every process it leaves
// behind ends with it. dir holds the files; the script finds it as $DIR.
PrivateRun RunInPrivateNetwork(const qbtest::TempDir& dir, const std::string& script,
                               const std::string& hosts, const std::string& resolvConf, int timeoutMs);

}  // namespace hosttest
