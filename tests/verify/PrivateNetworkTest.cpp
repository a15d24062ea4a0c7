// quillberry-cli verify inside a private network of the test's own (see HostPeers.h):
// a name server on 127.0.0.1 that says one name does not exist and never answers for
// another, a hosts file with localhost on both families, proxies on both families and
// the judge on both. Nothing asked there can leave the machine.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "support/TempDir.h"
#include "verify/HostPeers.h"

using namespace qb;

namespace {

// Answers every query for a name that begins with "stall" with nothing at all, and
// every other with "no such name"; writes each name asked to its log.
constexpr const char* kNameServer = R"PY(
import socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 53))
open(sys.argv[1], "w").close()
while True:
    data, peer = s.recvfrom(1024)
    i, labels = 12, []
    while i < len(data) and data[i]:
        labels.append(data[i + 1:i + 1 + data[i]].decode("ascii", "replace"))
        i += 1 + data[i]
    name = ".".join(labels).lower()
    with open(sys.argv[2], "a") as log:
        log.write(name + "\n")
    if name.startswith("stall"):
        continue
    s.sendto(data[:2] + struct.pack(">HHHHH", 0x8183, 1, 0, 0, 0) + data[12:i + 5], peer)
)PY";

std::string CliPath() {
  const char* cli = std::getenv("QB_CLI");
  return cli ? cli : QB_BINARY_DIR "/quillberry-cli";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  qb::ForEachLine(text, [&](std::string_view l) { lines.emplace_back(l); });
  return lines;
}

TEST(PrivateNetwork, NamesUnresolvedNamedProxiesAndExitsOverBothFamilies) {
  for (const char* program : {"microsocks", "tinyproxy", "python3"}) {
    if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
  }
  qbtest::TempDir dir;
  // tinyproxy reads its filter after it has become nobody.
  ::chmod(dir.Path().c_str(), 0755);
  qbtest::WriteFile(dir.File("dns.py"), kNameServer);
  qbtest::WriteFile(dir.File("filter"), hosttest::TinyproxyLoopbackFilter());
  qbtest::WriteFile(dir.File("tinyproxy.conf"), hosttest::TinyproxyConfig(8080, dir.File("filter")));
  const std::vector<std::string> rows = {
      "gone.test:1080@SOCKS5", "stall.test:1080@SOCKS5", "127.0.0.1:1080@SOCKS5",
      "[::1]:1080@SOCKS5",     "localhost:1080@SOCKS5",  "127.0.0.1:8080@HTTP",
      "[::1]:8080@HTTP",       "localhost:8080@HTTP",    "127.0.0.1:9999@HTTP",
  };
  std::string list;
  for (const std::string& r : rows) list += r + "\r\n";
  ::mkdir(dir.File("data").c_str(), 0755);
  qbtest::WriteFile(dir.File("data/Proxies.pro"), list);
  qbtest::WriteFile(dir.File("list.txt"), list);

  const std::string cli = CliPath();
  const std::string verify = "\"" + cli +
                             "\" --data-dir \"$DIR/data\" verify --connect-timeout 2 --verify-timeout 2 "
                             "--threads 4 --http http://localhost:8898/ REMOTE_ADDR";
  const std::string script =
      "wait_port() { for i in $(seq 200); do (exec 3<>/dev/tcp/$1/$2) 2>/dev/null && return 0; sleep 0.05; "
      "done; "
      "echo \"nothing on $1 $2\" >&2; return 1; }\n"
      "python3 \"$DIR/dns.py\" \"$DIR/dns.ready\" \"$DIR/dns.log\" &\n"
      "microsocks -i 127.0.0.1 -p 1080 >/dev/null 2>&1 &\n"
      "microsocks -i ::1 -p 1080 >/dev/null 2>&1 &\n"
      "tinyproxy -d -c \"$DIR/tinyproxy.conf\" >/dev/null 2>&1 &\n"
      "\"" +
      cli +
      "\" judge >/dev/null &\n"
      "for i in $(seq 200); do [ -e \"$DIR/dns.ready\" ] && break; sleep 0.05; done\n"
      "wait_port 127.0.0.1 1080 && wait_port ::1 1080 && wait_port 127.0.0.1 8080 && wait_port ::1 8080 && "
      "wait_port 127.0.0.1 8898 && wait_port ::1 8898 || exit 98\n"
      "start=$(date +%s%N)\n" +
      verify +
      " --format jsonl > \"$DIR/run.jsonl\" 2> \"$DIR/run.err\"\n"
      "echo \"verify=$? ms=$(( ($(date +%s%N) - start) / 1000000 ))\"\n" +
      verify +
      " --format csv \"$DIR/list.txt\" > \"$DIR/run.csv\" 2>> \"$DIR/run.err\"\n"
      "echo \"csv=$?\"\n"
      "\"" +
      cli +
      "\" merge --format json \"$DIR/run.csv\" > \"$DIR/merged.json\"\n"
      "\"" +
      cli + "\" --data-dir \"$DIR/data\" history --format csv > \"$DIR/history.csv\"\n";
  const hosttest::PrivateRun run =
      hosttest::RunInPrivateNetwork(dir, script, "127.0.0.1 localhost\n::1 localhost\n",
                                    "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n", 120000);
  if (!run.made) GTEST_SKIP() << "no private network here: " << run.why;
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err << qbtest::ReadFile(dir.File("run.err"));
  ASSERT_NE(run.out.find("verify=0 "), std::string::npos) << run.out << qbtest::ReadFile(dir.File("run.err"));
  EXPECT_NE(run.out.find("csv=0"), std::string::npos) << run.out;
  // The stalled name took the connection time-out, no more.
  const long ms = std::atol(run.out.c_str() + run.out.find(" ms=") + 4);
  EXPECT_GE(ms, 2000);
  EXPECT_LT(ms, 8000);

  // jsonl: each proxy as it finished; the stalled name last, and every proxy with an
  // address (or the name localhost) before it.
  const std::vector<std::string> jsonl = Lines(qbtest::ReadFile(dir.File("run.jsonl")));
  ASSERT_EQ(jsonl.size(), rows.size()) << qbtest::ReadFile(dir.File("run.jsonl"));
  std::map<std::string, QJsonObject> byProxy;
  for (const std::string& line : jsonl) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    byProxy[o.value("address").toString().toStdString() + ":" + std::to_string(o.value("port").toInteger()) +
            "@" + o.value("type").toString().toStdString()] = o;
  }
  EXPECT_NE(jsonl.back().find("\"stall.test\""), std::string::npos) << jsonl.back();
  for (const char* name : {"gone.test:1080@SOCKS5", "stall.test:1080@SOCKS5"}) {
    EXPECT_EQ(byProxy[name].value("status").toString().toStdString(), kStatusUnresolved) << name;
    EXPECT_EQ(byProxy[name].value("state").toString().toStdString(), "unresolved") << name;
    EXPECT_FALSE(byProxy[name].contains("exit")) << name;
  }
  for (const std::string& row : {rows[2], rows[3], rows[4], rows[5], rows[6], rows[7]}) {
    EXPECT_EQ(byProxy[row].value("state").toString().toStdString(), "ok") << row;
    // Both proxies reach the judge over both families.
    EXPECT_EQ(byProxy[row].value("exit").toString().toStdString(), "127.0.0.1, ::1") << row;
  }
  EXPECT_EQ(byProxy["127.0.0.1:9999@HTTP"].value("state").toString().toStdString(), "failed");

  // The list holds the same words.
  const std::string saved = qbtest::ReadFile(dir.File("data/Proxies.pro"));
  EXPECT_NE(saved.find("gone.test:1080@SOCKS5$" + std::string(kStatusUnresolved) + "\r\n"), std::string::npos)
      << saved;
  EXPECT_NE(saved.find("stall.test:1080@SOCKS5$" + std::string(kStatusUnresolved) + "\r\n"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("127.0.0.1:9999@HTTP$" + std::string(kStatusConnectFailed) + "\r\n"),
            std::string::npos)
      << saved;

  // csv: the two exit addresses in one quoted field, which merge reads back as one.
  const std::string csv = qbtest::ReadFile(dir.File("run.csv"));
  EXPECT_NE(csv.find("127.0.0.1,8080,HTTP,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",\"127.0.0.1, ::1\",ok\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("stall.test,1080,SOCKS5," + std::string(kStatusUnresolved) + ",,,,unresolved\r\n"),
            std::string::npos)
      << csv;
  const std::string merged = qbtest::ReadFile(dir.File("merged.json"));
  EXPECT_NE(merged.find("\"exit\":\"127.0.0.1, ::1\""), std::string::npos) << merged;
  EXPECT_NE(merged.find("\"state\":\"unresolved\""), std::string::npos) << merged;

  // The history has the new status, and one exit address per proxy: the first
  // answer's, which is what the window locates a proxy by.
  const std::string history = qbtest::ReadFile(dir.File("history.csv"));
  for (const char* name : {"gone.test:1080@SOCKS5", "stall.test:1080@SOCKS5"})
    EXPECT_NE(history.find(name + std::string(",0.000,0,1,,1,") + kStatusUnresolved + ",,,unresolved"),
              std::string::npos)
        << history;
  EXPECT_NE(history.find(",transparent,127.0.0.1,ok"), std::string::npos) << history;
  EXPECT_NE(history.find(",transparent,::1,ok"), std::string::npos) << history;
  EXPECT_EQ(history.find("127.0.0.1, ::1"), std::string::npos) << history;

  // Each run asked the name server about its two names once (A and AAAA), never about
  // localhost, which the hosts file has.
  const std::vector<std::string> asked = Lines(qbtest::ReadFile(dir.File("dns.log")));
  std::map<std::string, int> count;
  for (const std::string& name : asked) ++count[name];
  EXPECT_EQ(count["localhost"], 0);
  EXPECT_GE(count["gone.test"], 2);
  EXPECT_LE(count["gone.test"], 4);
  EXPECT_GE(count["stall.test"], 2);
  EXPECT_LE(count["stall.test"], 4);
}

}  // namespace
