// Real network peers on 127.0.0.1 for the tests that talk through proxies.
//
// tests/support/peers.py starts them (tinyproxy, two danteds, squid, an FTP server,
// an HTTP origin with the test pages, a dead port and a silent port) on free ports
// in a private temporary directory. They are started once per test executable, on
// first use, and stopped when the tests end; if the executable dies, the script
// notices its standard input closing and stops them itself.
//
//   TEST(Verify, SomethingThroughTinyproxy) {
//     QB_REQUIRE_PEER(qbtest::Peer::HttpProxy);
//     const auto& peers = qbtest::Peers();
//     ... peers.HttpProxyPort(), peers.OriginUrl("/feature.html") ...
//   }
#pragma once

#include <map>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace qbtest {

enum class Peer {
  HttpProxy,      // tinyproxy: plain HTTP proxy
  Socks,          // danted: SOCKS4 and SOCKS5 on one port
  Socks5Only,     // danted: SOCKS5 only, a SOCKS4 request fails
  Squid,          // squid: HTTP proxy that also serves ftp:// URLs
  Ftp,            // pyftpdlib: anonymous, and FtpUser()/FtpPassword(); others refused
  Origin,         // HTTP origin with the test pages, the dead port and the silent port
  HttpProxyAuth,  // tinyproxy that asks for ProxyUser()/ProxyPassword()
  Socks5Auth,     // microsocks that asks for ProxyUser()/ProxyPassword()
};

const char* PeerName(Peer peer);

class LoopbackPeers {
 public:
  // The peers of this test executable, started on the first call.
  static LoopbackPeers& Instance();

  // Empty when the peer runs; otherwise why it does not.
  std::string Problem(Peer peer) const;
  // True when the peer's program is not installed on this machine (a reason to skip
  // a test; any other problem is a failure).
  bool Missing(Peer peer) const;

  int HttpProxyPort() const { return Port("HTTP_PROXY"); }
  int SocksPort() const { return Port("SOCKS"); }
  int Socks5OnlyPort() const { return Port("SOCKS5_ONLY"); }
  int SquidPort() const { return Port("SQUID"); }
  int FtpPort() const { return Port("FTP"); }
  int OriginPort() const { return Port("ORIGIN"); }
  int HttpProxyAuthPort() const { return Port("HTTP_PROXY_AUTH"); }
  int Socks5AuthPort() const { return Port("SOCKS5_AUTH"); }
  // Nothing listens here: connections are refused at once.
  int DeadPort() const { return Port("DEAD"); }
  // Accepts connections and never sends a byte (a proxy or server that hangs).
  int SilentPort() const { return Port("SILENT"); }

  // The loopback address from which a proxy connects onwards; the origin's /echo
  // page prints the client address, so a test can tell which peer carried a request.
  std::string OutAddress(Peer peer) const;

  // The origin's pages:
  //   /feature.html   the feature string on a line before the line holding "</body>"
  //   /after.html     the feature string only after the line holding "</body>"
  //   /split.html     the feature string cut in two by a line break
  //   /empty.html     an empty body
  //   /sameline.html  the feature string on the line that holds "</body>"
  //   /trickle        a byte a second (?interval=SECONDS&bytes=COUNT to change)
  //   /hang           reads the request and never answers
  //   /echo           the client address, the request line and the headers
  std::string OriginUrl(std::string_view path) const;
  // "ftp://[user[:password]@]127.0.0.1:port" + path; user and password are
  // percent-encoded.
  std::string FtpUrl(std::string_view user = {}, std::string_view password = {},
                     std::string_view path = "/") const;
  // Proxy URLs in libcurl's form.
  std::string HttpProxyUrl() const { return Url("http", HttpProxyPort()); }
  std::string SocksProxyUrl(int version) const {
    return Url(version == 4 ? "socks4" : "socks5", SocksPort());
  }
  std::string Socks5OnlyProxyUrl(int version) const {
    return Url(version == 4 ? "socks4" : "socks5", Socks5OnlyPort());
  }
  std::string SquidProxyUrl() const { return Url("http", SquidPort()); }
  std::string DeadUrl() const { return Url("http", DeadPort()) + "/"; }

  std::string Feature() const { return Value("FEATURE"); }
  std::string FtpUser() const { return Value("FTP_USER"); }
  std::string FtpPassword() const { return Value("FTP_PASSWORD"); }
  // The log-on of the two proxies that ask for one.
  std::string ProxyUser() const { return Value("PROXY_USER"); }
  std::string ProxyPassword() const { return Value("PROXY_PASSWORD"); }
  // Where the peers keep their configuration and logs while they run.
  std::string Directory() const { return Value("DIR"); }
  // Wall-clock time from starting the script until every peer accepted connections.
  double StartupSeconds() const { return m_startupSeconds; }

  // Stops every peer; later calls of Instance() do not restart them.
  void Stop();

 private:
  LoopbackPeers() = default;
  void Start();
  int Port(const std::string& key) const;
  std::string Value(const std::string& key) const;
  static std::string Url(const char* scheme, int port);

  std::map<std::string, std::string> m_values;
  std::map<std::string, std::string> m_missing;  // peer name -> program
  std::map<std::string, std::string> m_failed;   // peer name -> reason
  std::string m_startError;                      // the script itself did not come up
  bool m_scriptMissing = false;
  double m_startupSeconds = 0;
  struct Process;
  Process* m_process = nullptr;
};

inline LoopbackPeers& Peers() {
  return LoopbackPeers::Instance();
}

}  // namespace qbtest

// Skips the test when the peer's program is not installed, and fails it when the
// peer is installed but not running, so that a test never passes without its peer.
#define QB_REQUIRE_PEER(peer)                                             \
  do {                                                                    \
    const ::qbtest::LoopbackPeers& qb_peers_ = ::qbtest::Peers();         \
    if (qb_peers_.Missing(peer)) GTEST_SKIP() << qb_peers_.Problem(peer); \
    ASSERT_EQ(qb_peers_.Problem(peer), "");                               \
  } while (0)
