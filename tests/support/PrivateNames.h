// A test that looks host names up runs again in a private mount and network namespace
// of its own, with a hosts file and a resolv.conf of its own bind-mounted over the
// system's, so that no name ever reaches a real resolver and a name server that never
// answers can be a socket of the test's on loopback.
//
//   TEST(Suite, Case) {
//     if (qbtest::InPrivateNames()) { Body(); return; }
//     qbtest::RunInPrivateNames(hostsFile, resolvConf, "Suite.*", extraEnvironment);
//   }
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace qbtest {

inline constexpr const char* kPrivateNamesVariable = "QB_IN_PRIVATE_NAMES";

inline bool InPrivateNames() {
  return !qgetenv(kPrivateNamesVariable).isEmpty();
}

// A new network namespace has its loopback down.
inline bool LoopbackUp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return ok;
}

// Runs this test binary's tests matching filter in the namespaces, with env added to
// its environment, and expects them to pass; skips where namespaces are not allowed.
inline void RunInPrivateNames(const std::string& hostsFile, const std::string& resolvConf, const char* filter,
                              QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
  env.insert(kPrivateNamesVariable, "1");
  QProcess child;
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start("unshare", {"--mount", "--net", "--map-root-user", "sh", "-c",
                          "mount --bind \"$0\" /etc/hosts && mount --bind \"$1\" /etc/resolv.conf && "
                          "exec \"$2\" --gtest_filter=\"$3\"",
                          QString::fromStdString(hostsFile), QString::fromStdString(resolvConf),
                          QCoreApplication::applicationFilePath(), QString::fromLatin1(filter)});
  if (!child.waitForStarted(10000)) GTEST_SKIP() << "unshare cannot be started";
  ASSERT_TRUE(child.waitForFinished(120000));
  const std::string out = child.readAll().toStdString();
  if (child.exitCode() != 0 && out.find("[ RUN      ]") == std::string::npos)
    GTEST_SKIP() << "no private mount and network namespace here: " << out;
  EXPECT_EQ(child.exitCode(), 0) << out;
  EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
  EXPECT_EQ(out.find("[  FAILED  ]"), std::string::npos) << out;
}

}  // namespace qbtest
