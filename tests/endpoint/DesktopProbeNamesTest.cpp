// Whether the desktop's proxy answers, when that proxy is named by a host name: the
// window's watch and `proxy repair` must look the name up (never take a working named
// proxy for a dead one), and must not wait on a name server past their time-out. The
// test runs again in a private mount and network namespace of its own, with a hosts
// file of its own and a name server on loopback that takes every question and answers
// none, so that no name ever reaches a real resolver.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "endpoint/Endpoint.h"
#include "support/PrivateNames.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

// A socket bound to 127.0.0.1 (TCP listening, or UDP that reads nothing); its port.
int Bound(int type, int port, int& fd) {
  fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  if (type == SOCK_STREAM && ::listen(fd, 8) != 0) return -1;
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

void ProbesByName() {
  ASSERT_TRUE(qbtest::LoopbackUp());
  int silent = -1, listener = -1;
  ASSERT_EQ(Bound(SOCK_DGRAM, 53, silent), 53);
  const int port = Bound(SOCK_STREAM, 0, listener);
  ASSERT_GT(port, 0);
  const std::string named = "gw.example:" + std::to_string(port) + "@HTTP";

  EXPECT_TRUE(DesktopProxyAnswers(named, false, 2000));
  EXPECT_TRUE(DesktopProxyAnswers("GW.Example:" + std::to_string(port) + "@HTTP", false, 2000));

  // A name the hosts file lacks goes to the silent name server: no answer, and no
  // longer a wait than the probe's own time-out (the resolver would wait 5 s).
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DesktopProxyAnswers("slow.example:" + std::to_string(port) + "@HTTP", false, 400));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));

  // The named proxy stops: it no longer answers.
  ::close(listener);
  EXPECT_FALSE(DesktopProxyAnswers(named, false, 1000));
  ::close(silent);
}

TEST(DesktopProbeNames, ANamedProxyIsLookedUpAndASilentNameServerNeverHoldsTheProbe) {
  if (qbtest::InPrivateNames()) {
    ProbesByName();
    return;
  }
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("hosts"), "127.0.0.1 localhost\n127.0.0.1 gw.example\n");
  qbtest::WriteFile(dir.File("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n");
  qbtest::RunInPrivateNames(dir.File("hosts"), dir.File("resolv.conf"), "DesktopProbeNames.*");
}

}  // namespace
