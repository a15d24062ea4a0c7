// quillberry-cli proxy: get, set and clear against a keyfile store of its own.
#include <gtest/gtest.h>

#include <QDir>
#include <QTcpServer>

#include <cstdlib>
#include <memory>

#include "SysProxyTestUtil.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Options.h"
#include "support/ListFileText.h"
#include "sysproxy/ProxyAutoConfig.h"

using namespace qb;

namespace {

class CliProxyTest : public sptest::SysProxyTest {
 protected:
  sptest::ProgramResult Cli(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    const char* cli = std::getenv("QB_CLI");
    args.insert(args.begin(), {"--data-dir", data.Path()});
    env.emplace("GSETTINGS_BACKEND", "keyfile");
    env.emplace("XDG_CONFIG_HOME", config.Path());
    env.emplace("XDG_CURRENT_DESKTOP", "");
    return sptest::RunProgram(cli ? cli : QB_BINARY_DIR "/quillberry-cli", args, env);
  }
  std::string Get(const std::string& key) {
    return sptest::GSettingsGet(config.Path(), "org.gnome.system.proxy", key);
  }
  std::string HttpHost() {
    return sptest::GSettingsGet(config.Path(), "org.gnome.system.proxy.http", "host");
  }

  qbtest::TempDir config;
};

TEST_F(CliProxyTest, SetGetClear) {
  auto r = Cli({"proxy", "set", " 10.0.0.1:3128 ", "--mode", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "10.0.0.1:3128@HTTP\n");
  EXPECT_EQ(Get("mode"), "'auto'");
  EXPECT_EQ(PacText(),
            "function FindProxyForURL(url, host)\r\n{\r\n    return \"PROXY 10.0.0.1:3128\";\r\n}\r\n");

  r = Cli({"proxy", "get"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "10.0.0.1:3128\n");

  r = Cli({"proxy", "clear", "--mode=0"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Get("mode"), "'none'");
  EXPECT_EQ(PacText(), "");
  r = Cli({"proxy", "get"});
  EXPECT_EQ(r.out, "\n");
}

// A text the desktop cannot take is refused, and what the desktop had stays, script and
// all; what is printed is what was set, not the text given.
TEST_F(CliProxyTest, RefusedTextsLeaveTheDesktopAsItWas) {
  auto r = Cli({"proxy", "set", "10.0.0.1:3128@http$0.52#fast one", "--mode", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "10.0.0.1:3128@HTTP\n");
  const std::string mode = Get("mode");
  const std::string host = HttpHost();
  EXPECT_EQ(mode, "'manual'");
  EXPECT_EQ(host, "'10.0.0.1'");
  const std::string pac = PacText();

  for (const std::vector<std::string>& refused : {std::vector<std::string>{"proxy", "set", "10.0.0.1:99999"},
                                                  {"proxy", "set", "no proxy here"},
                                                  {"proxy", "set", "1.2.3.4:80@GOPHER", "--mode", "0"}}) {
    r = Cli(refused);
    EXPECT_EQ(r.exitCode, 1) << refused[2];
    EXPECT_EQ(r.out, "") << refused[2];
    EXPECT_NE(r.err.find("left as they were"), std::string::npos) << r.err;
    EXPECT_EQ(Get("mode"), mode) << refused[2];
    EXPECT_EQ(HttpHost(), host) << refused[2];
    EXPECT_EQ(PacText(), pac) << refused[2];
  }
  EXPECT_NE(Cli({"proxy", "set", "no proxy here"}).err.find("not a valid proxy: no proxy here"),
            std::string::npos);
  EXPECT_NE(Cli({"proxy", "set", "1.2.3.4:80@GOPHER", "--mode", "0"}).err.find("GOPHER"), std::string::npos);

  // Through a script a GOPHER proxy has a place: URLs of its own scheme.
  r = Cli({"proxy", "set", "1.2.3.4:80@GOPHER", "--mode", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1.2.3.4:80@GOPHER\n");
  EXPECT_EQ(Get("mode"), "'auto'");
}

// An IPv6 proxy and a named one are set, read back and printed as the list writes them.
TEST_F(CliProxyTest, Ipv6AndNamedProxiesAsTheListWritesThem) {
  auto r = Cli({"proxy", "set", "[0:0::1]:8080", "--mode", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "[::1]:8080@HTTP\n");
  EXPECT_EQ(HttpHost(), "'[::1]'");
  r = Cli({"proxy", "get"});
  EXPECT_EQ(r.out, "[::1]:8080\n");

  r = Cli({"proxy", "set", "GW.Example:8080@socks5", "--mode", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "gw.example:8080@SOCKS5\n");
  EXPECT_EQ(Get("mode"), "'auto'");
  EXPECT_NE(PacText().find("return \"SOCKS5 gw.example:8080\";"), std::string::npos) << PacText();
  r = Cli({"proxy", "get"});
  EXPECT_EQ(r.out, "socks=gw.example:8080\n");

  // Without brackets no port can be told from an IPv6 address: refused, nothing changed.
  r = Cli({"proxy", "set", "::1:8080"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("not a valid proxy"), std::string::npos) << r.err;
  EXPECT_EQ(Cli({"proxy", "get"}).out, "socks=gw.example:8080\n");
}

// A desktop left on an IPv6 proxy of the list is repaired as one on a dotted address:
// left alone while the proxy answers, given back once nothing does.
TEST_F(CliProxyTest, RepairProbesAnIpv6Proxy) {
  ExtraOptions options;
  options.SetWhenDown(WhenProxyDown::Direct);
  ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());
  auto peer = std::make_unique<QTcpServer>();
  if (!peer->listen(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "no IPv6 loopback here";
  const std::string line = "[::1]:" + std::to_string(peer->serverPort()) + "@HTTP";
  auto r = Cli({"proxy", "set", line, "--mode", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Cli({"proxy", "repair"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(HttpHost(), "'[::1]'");

  peer.reset();
  r = Cli({"proxy", "repair"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
  EXPECT_EQ(Get("mode"), "'none'");
  EXPECT_EQ(HttpHost(), "''");
}

TEST_F(CliProxyTest, ModeComesFromTheSettingsFile) {
  qbtest::WriteFile(data.File("Setting.dat"),
                    "Test@http://127.0.0.1/%feature$1\r\nm_nThreadNumber=50\r\nm_nAutoProxyConfig=2\r\n");
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), "return \"MyProxy\";\n");
  auto r = Cli({"proxy", "set", "10.0.0.1:1080@SOCKS5"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(PacText(), "return \"SOCKS5 10.0.0.1:1080\";\r\n");
  EXPECT_EQ(Get("mode"), "'auto'");
  // The look-up leaves the settings file as it was.
  EXPECT_EQ(qbtest::ReadFile(data.File("Setting.dat")),
            "Test@http://127.0.0.1/%feature$1\r\nm_nThreadNumber=50\r\nm_nAutoProxyConfig=2\r\n");
}

// The chain comes from the data directory's list and its favourites profile, as the
// window would make it; the desktop is given the same script as proxy.pac.
TEST_F(CliProxyTest, FailoverListsTheDataDirectorysFavouritesFastestFirst) {
  CProxyListModel list;
  for (const char* line : {"10.0.0.2:8080@HTTP", "10.0.0.3:8080@HTTP", "10.0.0.4:8080@HTTP"})
    list.AddProxyLine(line, 0);
  list.SetTimeStatus(0, "3.0");
  list.SetTimeStatus(2, "0.4");
  list.SetFavorite(0, true);
  list.SetFavorite(2, true);
  qbtest::WriteFile(data.File("Proxies.pro"), qbtest::ListFileText(list));
  ASSERT_TRUE(WriteFavoritesProfile(data.File("quillberry.INI"), FavoritesText(list)));
  ExtraOptions options;
  options.script.failover = true;
  ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), options).ok());

  const auto r = Cli({"proxy", "set", "10.0.0.1:3128", "--mode", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(PacText().find("\"PROXY 10.0.0.1:3128; PROXY 10.0.0.4:8080; PROXY 10.0.0.2:8080\""),
            std::string::npos)
      << PacText();
  EXPECT_EQ(Get("autoconfig-url"), "'" + PacDataUrl(PacText()) + "'");
}

TEST_F(CliProxyTest, Usage) {
  EXPECT_EQ(Cli({"proxy"}).exitCode, 2);
  EXPECT_EQ(Cli({"proxy", "set"}).exitCode, 2);
  EXPECT_EQ(Cli({"proxy", "set", "1.2.3.4:80", "--mode", "3"}).exitCode, 2);
  EXPECT_EQ(Cli({"proxy", "get", "--mode", "1"}).exitCode, 2);
  EXPECT_EQ(Cli({"proxy", "toggle"}).exitCode, 2);
  const auto help = Cli({"proxy", "--help", "--lang=en"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("proxy set TEXT"), std::string::npos);
}

TEST_F(CliProxyTest, MissingSchemaIsReportedNotACrash) {
  qbtest::TempDir noSchemas;
  const std::map<std::string, std::string> env = {
      {"XDG_DATA_DIRS", noSchemas.Path()}, {"XDG_DATA_HOME", noSchemas.Path()}, {"GSETTINGS_SCHEMA_DIR", ""}};
  auto r = Cli({"proxy", "get"}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "获取IE代理: Query option failed!\n");

  r = Cli({"proxy", "set", "10.0.0.1:3128", "--mode", "1"}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "获取IE代理: Query option failed!\n错误: 设置代理失败！\n");
  // The script is written all the same.
  EXPECT_NE(PacText().find("PROXY 10.0.0.1:3128"), std::string::npos);
}

TEST_F(CliProxyTest, UnwritableStoreIsReportedNotACrash) {
  qbtest::WriteFile(config.File("file"), "");
  auto r = Cli({"proxy", "set", "10.0.0.1:3128"}, {{"XDG_CONFIG_HOME", config.File("file")}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("错误: 设置代理失败！"), std::string::npos) << r.err;
}

// The desktop's own store commits through its service on the session bus. Without a
// bus GIO accepts every write and drops it: the command must say so, not print the
// proxy as set, and a second process must indeed find nothing stored.
TEST_F(CliProxyTest, AStoreThatDropsTheWritesIsAFailure) {
  if (!sptest::GioHasSettingsBackend("dconf")) GTEST_SKIP() << "GIO has no dconf back end on this machine";
  qbtest::TempDir runtime;
  // A bus address that leads nowhere, and no display to start a bus for: nothing can
  // reach a real settings service.
  const std::map<std::string, std::string> env = {
      {"GSETTINGS_BACKEND", "dconf"},
      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime.File("no-bus")},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},
      {"XDG_RUNTIME_DIR", runtime.Path()}};
  auto r = Cli({"proxy", "set", "127.0.0.1:8080", "--mode", "0"}, env);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, "");
  // GIO's own warnings come from its worker thread and may land between the two lines.
  const std::size_t said = r.err.find("错误: 设置代理失败！\n");
  const std::size_t why = r.err.find(
      "\nproxy: the desktop did not keep the setting: no session bus or settings service stored it\n");
  EXPECT_NE(said, std::string::npos) << r.err;
  EXPECT_NE(why, std::string::npos) << r.err;
  EXPECT_LT(said, why) << r.err;
  r = Cli({"proxy", "get"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\n");

  // Clearing what the store never held needs no keeping.
  r = Cli({"proxy", "clear", "--mode", "0"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;

  // The same command against a store that keeps it succeeds: the read-back is no
  // obstacle in itself.
  r = Cli({"proxy", "set", "127.0.0.1:8080", "--mode", "0"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "127.0.0.1:8080@HTTP\n");
}

TEST_F(CliProxyTest, AScriptThatCannotBeWrittenIsNamedWithItsOwnStatus) {
  // A directory where proxy.pac belongs: the desktop is still set, the script is not.
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(data.File("proxy.pac"))));
  auto r = Cli({"proxy", "set", "10.0.0.1:3128", "--mode", "1"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("proxy: cannot write " + data.File("proxy.pac")), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "10.0.0.1:3128@HTTP\n");
  EXPECT_EQ(Get("mode"), "'auto'");

  // A template that cannot be read: an empty script, and the template named.
  ASSERT_TRUE(QDir().rmdir(QString::fromStdString(data.File("proxy.pac"))));
  r = Cli({"proxy", "set", "10.0.0.1:3128", "--mode", "2"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("proxy: cannot read " + data.File("UserdefinedTemplate.pac")), std::string::npos)
      << r.err;
  EXPECT_EQ(PacText(), "");
}

}  // namespace
