// Where a proxy named by a host name is: where its name's address is, looked up off the
// window's thread. The test runs again in a private mount and network namespace of its
// own, with a hosts file that names the test ranges of the location database and a
// resolver on loopback that takes every question and answers none, so that no name is
// ever asked of a real resolver and a slow answer can be made to last.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/Language.h"
#include "proxy/GeoLocation.h"
#include "proxy/ProxyListModel.h"
#include "support/PrivateNames.h"
#include "support/TempDir.h"
#include "ui/HistoryColumns.h"

using namespace qb;

namespace {

constexpr const char* kPrivateHosts = "QB_PRIVATE_HOSTS";

// The questions the resolver on loopback was asked, as their raw bytes.
class SilentResolver {
 public:
  bool Listen() {
    if (!m_socket.bind(QHostAddress::LocalHost, 53)) return false;
    QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
      while (m_socket.hasPendingDatagrams()) {
        QByteArray datagram(static_cast<int>(m_socket.pendingDatagramSize()), '\0');
        m_socket.readDatagram(datagram.data(), datagram.size());
        m_questions.push_back(datagram);
      }
    });
    return true;
  }
  // Questions whose name has this label.
  int AskedAbout(const QByteArray& label) const {
    QByteArray wire;
    wire.append(static_cast<char>(label.size()));
    wire.append(label);
    int n = 0;
    for (const QByteArray& q : m_questions) n += q.contains(wire) ? 1 : 0;
    return n;
  }

 private:
  QUdpSocket m_socket;
  std::vector<QByteArray> m_questions;
};

std::string CountryAt(const std::string& dir, const char* address) {
  const std::optional<GeoResult> where = LocateAddress(dir, address, CurrentLanguage());
  return where ? where->country : std::string();
}

// The body, inside the namespaces.
void PlacedByTheirAddresses(const std::string& dir) {
  ASSERT_TRUE(qbtest::LoopbackUp());
  SilentResolver resolver;
  ASSERT_TRUE(resolver.Listen());

  CProxyListModel list;
  for (const char* line : {"gw.example:8080@HTTP", "8.8.8.8.gw.example:80@HTTP", "v6.gw.example:80@HTTP",
                           "slow.gw.example:80@HTTP", "never.gw.example:80@HTTP"})
    ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line;
  CHistoryColumns columns;
  columns.SetLocationDir(dir);
  int told = 0;
  columns.SetOnNamesResolved([&told] { ++told; });
  auto country = [&](int row) {
    return columns.Text(*list.Entry(row), CHistoryColumns::Country).toStdString();
  };

  // Nothing is known at first, and asking never waits for a resolver, even one that
  // does not answer.
  QElapsedTimer timer;
  timer.start();
  for (int row = 0; row < 4; ++row) EXPECT_EQ(country(row), "") << row;
  EXPECT_LT(timer.elapsed(), 500);
  // A sort reads every row without asking.
  EXPECT_EQ(columns.SortKey(*list.Entry(4), CHistoryColumns::Country).second, "");

  ASSERT_TRUE(QTest::qWaitFor([&] { return told > 0 && !country(0).empty() && !country(2).empty(); }, 10000));
  EXPECT_EQ(country(0), CountryAt(dir, "198.51.100.7"));
  EXPECT_EQ(columns.KnownAddressOf("gw.example"), "198.51.100.7");
  // Placed by its address, never by the address its name begins with.
  EXPECT_EQ(country(1), CountryAt(dir, "203.0.113.9"));
  EXPECT_NE(country(1), CountryAt(dir, "8.8.8.8"));
  EXPECT_EQ(country(2), CountryAt(dir, "2001:db8:1::5"));
  for (int row : {0, 1, 2}) EXPECT_FALSE(country(row).empty()) << row;

  // The name the hosts file lacks went to the resolver, which is still silent: its row
  // stays unknown, and asking about it still does not wait.
  EXPECT_GT(resolver.AskedAbout("slow"), 0);
  timer.restart();
  EXPECT_EQ(country(3), "");
  EXPECT_LT(timer.elapsed(), 500);
  EXPECT_EQ(resolver.AskedAbout("never"), 0);
}

TEST(NamedProxyLocation, IsWhereItsNameResolvesAndNeverWhereItsTextPoints) {
  if (const QByteArray dir = qgetenv(kPrivateHosts); !dir.isEmpty()) {
    PlacedByTheirAddresses(dir.toStdString());
    return;
  }
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("hosts"),
                    "127.0.0.1 localhost\n"
                    "198.51.100.7 gw.example\n"
                    "203.0.113.9 8.8.8.8.gw.example\n"
                    "2001:db8:1::5 v6.gw.example\n");
  qbtest::WriteFile(dir.File("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:3 attempts:1\n");
  QProcess perl;
  perl.start("/usr/bin/perl",
             {QB_SOURCE_DIR "/tests/support/make-mmdb.pl", QString::fromStdString(dir.File("test-city.mmdb")),
              "Test-City", "1700000000"});
  ASSERT_TRUE(perl.waitForFinished(60000));
  ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(kPrivateHosts, QString::fromStdString(dir.Path()));
  qbtest::RunInPrivateNames(dir.File("hosts"), dir.File("resolv.conf"), "NamedProxyLocation.*", env);
}

}  // namespace
