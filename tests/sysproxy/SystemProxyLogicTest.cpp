// The system-proxy logic against the recording stand-in for the desktop.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "SysProxyTestUtil.h"
#include "proxy/ProxyListModel.h"
#include "sysproxy/ProxyAutoConfig.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

using Kind = CRecordingProxyPlatform::CallKind;

// LAN settings as the desktop holds them before a test, without an HTTP log-on.
ConnectionProxySettings StoredLan(std::string server, std::string autoConfigUrl, std::string bypass,
                                  std::uint32_t flags) {
  ConnectionProxySettings s;
  s.server = std::move(server);
  s.autoConfigUrl = std::move(autoConfigUrl);
  s.bypass = std::move(bypass);
  s.flags = flags;
  return s;
}

class SystemProxyLogicTest : public sptest::SysProxyTest {
 protected:
  void SetUp() override {
    SysProxyTest::SetUp();
    auto rec = std::make_unique<CRecordingProxyPlatform>();
    platform = rec.get();
    proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()), std::move(rec));
  }

  // The settings of the last write to the LAN.
  ConnectionProxySettings LastLan() const {
    for (auto it = platform->calls.rbegin(); it != platform->calls.rend(); ++it) {
      if (it->kind == Kind::Write && it->connection.empty()) return it->settings;
    }
    ADD_FAILURE() << "the LAN was never written";
    return {};
  }

  CRecordingProxyPlatform* platform = nullptr;
  std::unique_ptr<CSystemProxy> proxy;
};

TEST_F(SystemProxyLogicTest, BareAddressIsSetAsHttpProxyWithTheBypassListKept) {
  platform->stored[""] = StoredLan("", "", "localhost;*.corp.example", kProxyTypeDirect);
  EXPECT_TRUE(ReportProxyChange(proxy->SetIEProxy("  10.1.2.3:8080 \t")));

  const ConnectionProxySettings lan = LastLan();
  EXPECT_EQ(lan.server, "10.1.2.3:8080");
  EXPECT_EQ(lan.flags, kProxyTypeDirect | kProxyTypeProxy);
  EXPECT_EQ(lan.bypass, "localhost;*.corp.example");
  EXPECT_EQ(lan.autoConfigUrl, PacDataUrl(""));
  EXPECT_EQ(proxy->m_sIEProxy, "10.1.2.3:8080@HTTP");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SystemProxyLogicTest, ServerStringPerProxyType) {
  const struct {
    const char* line;
    const char* server;
  } cases[] = {
      {"1.2.3.4:80@HTTP", "1.2.3.4:80"},
      {"1.2.3.4:443@HTTPS", "https=1.2.3.4:443"},
      {"1.2.3.4:21@ftp", "ftp=1.2.3.4:21"},
      // SOCKS goes to the socks entry, never as an HTTP proxy.
      {"1.2.3.4:1080@SOCKS4", "socks=1.2.3.4:1080"},
      {"proxy-1.example.net:1080@SOCKS5$0.4#remark", "socks=proxy-1.example.net:1080"},
      // Hosts as the list writes them, whatever their spelling here.
      {"[2001:DB8:0::1]:8080@HTTP", "[2001:db8::1]:8080"},
      {"[::1]:443@HTTPS", "https=[::1]:443"},
      {"GW.Example.:1080@SOCKS5", "socks=gw.example:1080"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ReportProxyChange(proxy->SetIEProxy(c.line));
    EXPECT_EQ(LastLan().server, c.server);
    EXPECT_EQ(LastLan().flags, kProxyTypeDirect | kProxyTypeProxy);
  }
}

TEST_F(SystemProxyLogicTest, FlagsFollowTheModeAndAClearIsDirectInEveryMode) {
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), "return \"MyProxy\";\n");
    proxy->SetAutoProxyConfig(mode);
    ReportProxyChange(proxy->SetIEProxy("1.2.3.4:3128@HTTP"));
    EXPECT_EQ(LastLan().flags, mode == 0 ? kProxyTypeDirect | kProxyTypeProxy : kProxyTypeAutoProxyUrl);
    EXPECT_EQ(LastLan().server, "1.2.3.4:3128");

    ReportProxyChange(proxy->OnCancelIEProxy());
    EXPECT_EQ(LastLan().flags, kProxyTypeDirect);
    EXPECT_EQ(LastLan().server, "");
    EXPECT_EQ(proxy->m_sIEProxy, "");
  }
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SystemProxyLogicTest, TextsThatAreNoValidProxyClearIt) {
  proxy->SetAutoProxyConfig(1);
  const char* invalid[] = {
      ":8080",                      // the ":" is the first character: no "@HTTP"
      "1.2.3.4:0",                  // port 0
      "1.2.3.4:65536@HTTP",         // port out of range
      "1.2.3.4:80@SOCKS",           // not a type a line may carry
      "1.2.3.4\";}alert(1);//:80",  // a host that would end the script's string
      "1.2.3.4 5.6.7.8:80@HTTP",    // blanks inside the host
      "999.1.1.1:80@HTTP",          // looks like an address but is none
      "foo=1.2.3.4:80",             // not a scheme the desktop knows
      "::1:8080",                   // an IPv6 address without brackets has no port to tell
      "[fe80::1%eth0]:80@HTTP",     // an address that means something on one machine only
      "[gw.example]:80@HTTP",       // brackets around a name
      "[::1]]:80@HTTP",             // a bracket too many
  };
  for (const char* text : invalid) {
    SCOPED_TRACE(text);
    proxy->m_sIEProxy = "stale";
    ReportProxyChange(proxy->SetIEProxy(text));
    EXPECT_EQ(LastLan().server, "");
    EXPECT_EQ(LastLan().flags, kProxyTypeDirect);
    EXPECT_EQ(proxy->m_sIEProxy, "");
    EXPECT_EQ(PacText(), "function FindProxyForURL(url, host)\r\n{\r\n    return \"DIRECT\";\r\n}\r\n");
  }
}

// What the window and the command line show of the proxy set, and what is recorded,
// names its host as the list does.
TEST_F(SystemProxyLogicTest, TheProxySetIsRememberedInTheListsSpelling) {
  const struct {
    const char* text;
    const char* checked;     // CheckProxyText
    const char* remembered;  // m_sIEProxy and the record's line
  } cases[] = {
      {"[0:0::1]:8080", "[::1]:8080@HTTP", "[::1]:8080@HTTP"},
      {" GW.Example:1080@SOCKS5 ", "gw.example:1080@SOCKS5", "gw.example:1080@SOCKS5"},
      {"https=[2001:DB8::1]:443", "[2001:db8::1]:443@HTTPS", "[2001:db8::1]:443@HTTPS"},
      {"例子.cn:3128@HTTP", "xn--fsqu00a.cn:3128@HTTP", "xn--fsqu00a.cn:3128@HTTP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string why;
    EXPECT_EQ(proxy->CheckProxyText(c.text, &why), c.checked) << why;
    ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy(c.text)));
    EXPECT_EQ(proxy->m_sIEProxy, c.remembered);
    ASSERT_TRUE(proxy->Record());
    EXPECT_EQ(proxy->Record()->line, c.remembered);
    EXPECT_TRUE(proxy->DesktopHoldsRecorded());
  }
  std::string why;
  EXPECT_FALSE(proxy->CheckProxyText("::1:8080", &why));
  EXPECT_NE(why.find("not a valid proxy"), std::string::npos) << why;
}

TEST_F(SystemProxyLogicTest, EveryConnectionIsWrittenOncePerCallAndFailuresAreEachReported) {
  platform->connections = {"Dial A", "拨号 B"};
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80@HTTP"));
  ReportProxyChange(proxy->SetIEProxy("5.6.7.8:80@HTTP"));
  const std::vector<std::string> once = {"Dial A", "拨号 B", ""};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(platform->WrittenConnections(), twice);
  EXPECT_EQ(proxy->m_saConnections, once);

  platform->calls.clear();
  platform->failWrites = {"Dial A", ""};
  EXPECT_FALSE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80@HTTP")));
  // Every connection is still tried, each failure has its own message, and the
  // change is announced as usual.
  EXPECT_EQ(platform->WrittenConnections(), once);
  ASSERT_EQ(prompt.messages.size(), 2u);
  for (const auto& m : prompt.messages) {
    EXPECT_EQ(m.text, "设置代理失败！");
    EXPECT_EQ(m.caption, "错误");
    EXPECT_EQ(m.icon, qb::MsgIcon::Error);
  }
  ASSERT_FALSE(platform->calls.empty());
  EXPECT_EQ(platform->calls.back().kind, Kind::Announce);
  EXPECT_EQ(proxy->m_sIEProxy, "1.2.3.4:80@HTTP");
}

TEST_F(SystemProxyLogicTest, AConnectionListThatCannotBeReadLeavesTheLanSilently) {
  platform->connections = {"Dial A"};
  platform->failEnum = true;
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80@HTTP"));
  EXPECT_EQ(platform->WrittenConnections(), std::vector<std::string>{""});
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SystemProxyLogicTest, OperationsComeInTheirOrderWithTheScriptBeforeAnyConnection) {
  // Records what proxy.pac held when each connection was written.
  class PacWatcher : public CRecordingProxyPlatform {
   public:
    explicit PacWatcher(std::string pac) : pacPath(std::move(pac)) {}
    bool WriteConnection(const std::string& c, const ConnectionProxySettings& s) override {
      pacAtWrite.push_back(qbtest::ReadFile(pacPath));
      return CRecordingProxyPlatform::WriteConnection(c, s);
    }
    std::string pacPath;
    std::vector<std::string> pacAtWrite;
  };
  auto watcher = std::make_unique<PacWatcher>(data.File("proxy.pac"));
  PacWatcher* w = watcher.get();
  w->connections = {"Dial A"};
  const auto pDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy p(*pDir, std::move(watcher));
  p.SetAutoProxyConfig(1);
  ReportProxyChange(p.SetIEProxy("1.2.3.4:80@HTTP"));

  std::vector<Kind> kinds;
  for (const auto& c : w->calls) kinds.push_back(c.kind);
  // The settings are read back last, after the announcement has flushed them.
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Query, Kind::Enum, Kind::Write, Kind::Write, Kind::Announce,
                                      Kind::Query}));
  ASSERT_EQ(w->pacAtWrite.size(), 2u);
  EXPECT_NE(w->pacAtWrite[0].find("PROXY 1.2.3.4:80"), std::string::npos);
}

TEST_F(SystemProxyLogicTest, AFailedQueryIsReportedAndChangesNothingRemembered) {
  proxy->m_sIEProxy = "1.1.1.1:80@HTTP";
  proxy->m_sProxyBypass = "<local>";
  platform->stored[""] = StoredLan("9.9.9.9:99", "", "other", kProxyTypeDirect);
  platform->failQuery = true;

  EXPECT_FALSE(ReportProxyQuery(proxy->GetIEProxy()));
  EXPECT_EQ(proxy->m_sIEProxy, "1.1.1.1:80@HTTP");
  EXPECT_EQ(proxy->m_sProxyBypass, "<local>");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "Query option failed!");
  EXPECT_EQ(prompt.messages[0].caption, "获取IE代理");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);

  // Setting goes on with the bypass list it remembered.
  ReportProxyChange(proxy->SetIEProxy("2.2.2.2:8080"));
  EXPECT_EQ(LastLan().bypass, "<local>");
  EXPECT_EQ(proxy->m_sIEProxy, "2.2.2.2:8080@HTTP");
}

TEST_F(SystemProxyLogicTest, StartUpReappliesWhatTheDesktopHoldsWhenItIsAValidProxy) {
  struct Case {
    const char* stored;
    int mode;
    const char* server;
    std::uint32_t flags;
    const char* pacDirective;  // mode 1 only
  } cases[] = {
      // Stored but switched off: switched on again in the direct mode.
      {"1.2.3.4:8080", 0, "1.2.3.4:8080", 3, nullptr},
      {"https=1.2.3.4:443", 0, "https=1.2.3.4:443", 3, nullptr},
      {"socks=1.2.3.4:1080", 1, "socks=1.2.3.4:1080", 4, "SOCKS5 1.2.3.4:1080"},
      {"ftp=files.example.com:2121", 1, "ftp=files.example.com:2121", 4, "PROXY files.example.com:2121"},
      // Nothing stored: every connection becomes direct.
      {"", 1, "", 1, nullptr},
      // A host that would be syntax in the script is never handed on.
      {"1.2.3.4\"; return \"DIRECT:80", 1, "", 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    platform->stored[""] = StoredLan(c.stored, "", "localhost", kProxyTypeDirect);
    proxy->SetAutoProxyConfig(c.mode);
    ASSERT_TRUE(ReportProxyQuery(proxy->GetIEProxy()));
    EXPECT_EQ(proxy->m_sIEProxy, c.stored);
    ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy));
    EXPECT_EQ(LastLan().server, c.server);
    EXPECT_EQ(LastLan().flags, c.flags);
    EXPECT_EQ(LastLan().bypass, "localhost");
    if (c.pacDirective) {
      EXPECT_NE(PacText().find(c.pacDirective), std::string::npos) << PacText();
    }
    EXPECT_EQ(PacText().find("return \"DIRECT:80"), std::string::npos);
  }
}

TEST_F(SystemProxyLogicTest, LongValuesAreNotCut) {
  std::string deep = data.Path();
  while (deep.size() < 300) deep += "a-rather-long-directory-name/";
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  auto rec = std::make_unique<CRecordingProxyPlatform>();
  platform = rec.get();
  proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(deep), std::move(rec));
  std::string host;
  for (int i = 0; i < 4; ++i) host += std::string(60, 'h') + ".";
  host += "example";
  ReportProxyChange(proxy->SetIEProxy(host + ":8080"));
  EXPECT_EQ(LastLan().server, host + ":8080");
  proxy->SetAutoProxyConfig(kAutoProxyDefaultScript);
  ReportProxyChange(proxy->SetIEProxy(host + ":8080"));
  EXPECT_EQ(LastLan().autoConfigUrl, PacDataUrl(qbtest::ReadFile(deep + "proxy.pac")));
  EXPECT_NE(qbtest::ReadFile(deep + "proxy.pac").find("PROXY " + host + ":8080"), std::string::npos);
}

TEST_F(SystemProxyLogicTest, SetCommandTicksTheFirstSelectedRowAndAsksForARefresh) {
  CProxyListModel list;
  list.AddProxyLine("1.1.1.1:80@HTTP", 0);
  list.AddProxyLine("2.2.2.2:1080@SOCKS5$0.3#fast", 0);
  list.AddProxyLine("3.3.3.3:443@HTTPS", 0);
  QSignalSpy refreshed(proxy.get(), &CSystemProxy::ieProxyChanged);

  ReportProxyChange(proxy->OnSetIEProxy(list));  // no selection: nothing at all
  EXPECT_TRUE(platform->calls.empty());
  EXPECT_EQ(refreshed.count(), 0);

  list.SelectRow(2);
  list.SelectRow(1);
  ReportProxyChange(proxy->OnSetIEProxy(list));
  EXPECT_TRUE(list.IsFavorite(1));
  EXPECT_FALSE(list.IsFavorite(2));
  EXPECT_EQ(LastLan().server, "socks=2.2.2.2:1080");
  EXPECT_EQ(proxy->m_sIEProxy, "2.2.2.2:1080@SOCKS5");
  EXPECT_EQ(refreshed.count(), 1);

  ReportProxyChange(proxy->OnCancelIEProxy());
  EXPECT_EQ(LastLan().flags, kProxyTypeDirect);
  EXPECT_EQ(proxy->m_sIEProxy, "");
  EXPECT_EQ(refreshed.count(), 2);
  EXPECT_TRUE(list.IsFavorite(1));
}

// The desktop has no GOPHER entry: set directly, a GOPHER proxy would leave "manual"
// with no server at all. Every way of setting it is refused before anything is read,
// written or announced; through a script it is carried.
TEST_F(SystemProxyLogicTest, AGopherProxyIsRefusedInTheDirectModeAndChangesNothing) {
  platform->stored[""] = StoredLan("9.9.9.9:99", "", "localhost", kProxyTypeDirect | kProxyTypeProxy);
  proxy->m_sIEProxy = "9.9.9.9:99@HTTP";
  qbtest::WriteFile(data.File("proxy.pac"), "the old script");
  const ConnectionProxySettings before = platform->stored[""];

  for (const char* text : {"1.2.3.4:70@GOPHER", "1.2.3.4:70@gopher$0.2#remark", "gopher=1.2.3.4:70"}) {
    SCOPED_TRACE(text);
    prompt.messages.clear();
    const ProxyChangeResult r = proxy->SetIEProxy(text);
    EXPECT_EQ(r.refusedType, "GOPHER");
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(platform->calls.empty());
    EXPECT_EQ(platform->stored[""], before);
    EXPECT_EQ(PacText(), "the old script");
    EXPECT_EQ(proxy->m_sIEProxy, "9.9.9.9:99@HTTP");
    // The command line's check and the window's refusal are one rule.
    std::string why;
    EXPECT_FALSE(proxy->CheckProxyText(text, &why));
    EXPECT_NE(why.find("no entry for a GOPHER proxy"), std::string::npos) << why;

    EXPECT_FALSE(ReportProxyChange(r));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              "GOPHER代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。");
    EXPECT_EQ(prompt.messages[0].caption, "设为IE代理");
    EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
  }

  // The row command neither sets it nor makes it a favourite, and asks for no refresh.
  CProxyListModel list;
  list.AddProxyLine("1.2.3.4:70@GOPHER", 0);
  list.SelectRow(0);
  QSignalSpy refreshed(proxy.get(), &CSystemProxy::ieProxyChanged);
  EXPECT_EQ(proxy->OnSetIEProxy(list).refusedType, "GOPHER");
  EXPECT_FALSE(list.IsFavorite(0));
  EXPECT_EQ(refreshed.count(), 0);
  EXPECT_TRUE(platform->calls.empty());

  // A script carries it, for URLs of its own scheme.
  proxy->SetAutoProxyConfig(kAutoProxyDefaultScript);
  const ProxyChangeResult viaScript = proxy->SetIEProxy("1.2.3.4:70@GOPHER");
  EXPECT_TRUE(viaScript.ok());
  EXPECT_EQ(LastLan().server, "gopher=1.2.3.4:70");
  EXPECT_EQ(LastLan().flags, kProxyTypeAutoProxyUrl);
  EXPECT_NE(PacText().find("PROXY 1.2.3.4:70"), std::string::npos) << PacText();
}

// A store that accepts every write and keeps none (the settings service out of reach)
// must not pass for a success: the settings are read back, and what the desktop kept is
// what the program then shows.
TEST_F(SystemProxyLogicTest, AChangeTheDesktopDidNotKeepIsReported) {
  platform->stored[""] = StoredLan("9.9.9.9:99", "", "", kProxyTypeDirect | kProxyTypeProxy);
  platform->dropWrites = true;

  ProxyChangeResult r = proxy->SetIEProxy("1.2.3.4:80");
  EXPECT_TRUE(r.query.ok());
  EXPECT_TRUE(r.script.ok());
  EXPECT_TRUE(r.connections.empty());
  EXPECT_EQ(r.kept.status, qb::OpStatus::ApplyFailed);
  EXPECT_EQ(r.kept.error, kErrorSettingNotKept);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(proxy->m_sIEProxy, "9.9.9.9:99");
  ASSERT_FALSE(platform->calls.empty());
  EXPECT_EQ(platform->calls.back().kind, Kind::Query);

  EXPECT_FALSE(ReportProxyChange(r));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "设置代理失败！\n桌面没有保存该设置：没有会话总线或设置服务保存它。");
  EXPECT_EQ(prompt.messages[0].caption, "错误");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);

  // Cancelling gives back the setting the desktop had before, which it still holds:
  // nothing to report, and the record of it goes.
  EXPECT_TRUE(proxy->OnCancelIEProxy().kept.ok());
  EXPECT_FALSE(proxy->ChangedDesktop());
  // Clearing is checked alike: the desktop still holds the proxy.
  EXPECT_EQ(proxy->OnCancelIEProxy().kept.status, qb::OpStatus::ApplyFailed);
  EXPECT_EQ(proxy->m_sIEProxy, "9.9.9.9:99");
  // So is the script mode, whose URL the desktop does not hold.
  proxy->SetAutoProxyConfig(kAutoProxyDefaultScript);
  EXPECT_EQ(proxy->SetIEProxy("9.9.9.9:99").kept.status, qb::OpStatus::ApplyFailed);
  platform->stored[""] = StoredLan("9.9.9.9:99", "file:///elsewhere/proxy.pac", "", kProxyTypeAutoProxyUrl);
  EXPECT_EQ(proxy->SetIEProxy("9.9.9.9:99").kept.status, qb::OpStatus::ApplyFailed);

  // What the desktop holds already needs no keeping.
  proxy->SetAutoProxyConfig(kAutoProxyDirect);
  platform->stored[""] = StoredLan("9.9.9.9:99", "", "", kProxyTypeDirect | kProxyTypeProxy);
  EXPECT_TRUE(proxy->SetIEProxy("9.9.9.9:99").ok());
  // Nor does a proxy that a failed write has been reported for already.
  platform->failWrites = {""};
  r = proxy->SetIEProxy("1.2.3.4:80");
  EXPECT_EQ(r.connections.size(), 1u);
  EXPECT_TRUE(r.kept.ok());
}

// A back end spells what it keeps its own way (entries in another order, flags of its
// own, the bypass list re-joined); that is no loss. A read-back that fails after a
// successful read is said as a failed query.
TEST_F(SystemProxyLogicTest, AStoreThatRespellsWhatItKeepsIsNoFailure) {
  class Respelling : public CRecordingProxyPlatform {
   public:
    bool WriteConnection(const std::string& c, const ConnectionProxySettings& s) override {
      ConnectionProxySettings kept = s;
      // Every entry spelt out, last first.
      std::vector<ProxyServerEntry> entries = ParseServerString(s.server);
      std::reverse(entries.begin(), entries.end());
      kept.server.clear();
      for (const auto& e : entries) {
        if (!kept.server.empty()) kept.server += ';';
        kept.server += e.scheme + "=" + e.host + ":" + std::to_string(e.port);
      }
      kept.flags |= kProxyTypeDirect;
      kept.bypass = "<local>";
      stored[c] = kept;
      return true;
    }
    bool QueryLanSettings(ConnectionProxySettings& out) override {
      if (++queries > queriesAllowed) return false;
      return CRecordingProxyPlatform::QueryLanSettings(out);
    }
    int queries = 0;
    int queriesAllowed = 1000;
  };
  auto owned = std::make_unique<Respelling>();
  Respelling* store = owned.get();
  const auto pDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy p(*pDir, std::move(owned));
  for (int mode : {kAutoProxyDirect, kAutoProxyDefaultScript}) {
    SCOPED_TRACE(mode);
    p.SetAutoProxyConfig(mode);
    for (const char* text : {"1.2.3.4:80@HTTP", "1.2.3.4:1080@SOCKS5", "1.2.3.4:443@HTTPS", ""}) {
      SCOPED_TRACE(text);
      const ProxyChangeResult r = p.SetIEProxy(text);
      EXPECT_TRUE(r.ok()) << r.kept.Describe();
      if (std::string(text) == "1.2.3.4:80@HTTP") {
        EXPECT_EQ(store->stored[""].server, "ftp=1.2.3.4:80;https=1.2.3.4:80;http=1.2.3.4:80");
      }
    }
  }

  store->queries = 0;
  store->queriesAllowed = 1;
  const ProxyChangeResult r = p.SetIEProxy("5.6.7.8:80");
  EXPECT_TRUE(r.query.ok());
  EXPECT_EQ(r.kept.status, qb::OpStatus::QueryFailed);
  EXPECT_FALSE(ReportProxyChange(r));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "Query option failed!");
}

TEST(ServerStringTest, HostChecksAndRoundTrips) {
  for (const char* ok : {"1.2.3.4", "255.255.255.255", "localhost", "proxy-1.example.net", "a.b-c.d", "[::1]",
                         "[2001:db8::1]"}) {
    EXPECT_TRUE(IsValidProxyHost(ok)) << ok;
  }
  // A bare IPv6 address is refused where it would stand before ":port", and brackets
  // hold an IPv6 address or nothing.
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "-a.example", "a..b", "a.", "a b", "a\"b", "a;b", "a=b",
        "例子.cn", "::1", "[::1", "[1.2.3.4]", "[gw.example]", "[fe80::1%eth0]", "[::1]:80"}) {
    EXPECT_FALSE(IsValidProxyHost(bad)) << bad;
  }
  EXPECT_EQ(ParseProxyPort("0080"), 80);
  EXPECT_EQ(ParseProxyPort("65536"), 0);
  EXPECT_EQ(ParseProxyPort("8o"), 0);

  const std::vector<ProxyServerEntry> same = ParseServerString("h.example:3128");
  ASSERT_EQ(same.size(), 3u);
  EXPECT_EQ(ComposeServerString(same), "h.example:3128");
  for (const char* s : {"https=1.2.3.4:443", "socks=1.2.3.4:1080", "http=1.2.3.4:80;https=5.6.7.8:443"}) {
    EXPECT_EQ(ComposeServerString(ParseServerString(s)), s);
  }
  // An entry that does not pass the checks is dropped, never passed on.
  EXPECT_EQ(ComposeServerString(ParseServerString("https=1.2.3.4:443;ftp=x\"y:21;socks=1.2.3.4:0")),
            "https=1.2.3.4:443");
}

// The desktop hands back hosts as somebody typed them; they come out as the list's rows
// write them, so that one proxy is one text wherever it is compared.
TEST(ServerStringTest, HostsComeOutAsTheListWritesThem) {
  EXPECT_EQ(CanonicalProxyHost("::1"), "[::1]");
  EXPECT_EQ(CanonicalProxyHost("[2001:DB8:0::1]"), "[2001:db8::1]");
  EXPECT_EQ(CanonicalProxyHost("GW.Example."), "gw.example");
  EXPECT_EQ(CanonicalProxyHost("例子.cn"), "xn--fsqu00a.cn");
  EXPECT_EQ(CanonicalProxyHost("10.0.0.1"), "10.0.0.1");
  for (const char* bad : {"", "1.2.3", "[fe80::1%eth0]", "[gw.example]", "a;b", "a b"}) {
    EXPECT_EQ(CanonicalProxyHost(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(ComposeServerString(ParseServerString("[0:0::1]:8080")), "[::1]:8080");
  EXPECT_EQ(ComposeServerString(ParseServerString("socks=[2001:db8::1]:1080;http=GW.Example:80")),
            "socks=[2001:db8::1]:1080;http=gw.example:80");
  // "::1:8080" is an address itself: no port can be told from it.
  EXPECT_TRUE(ParseServerString("::1:8080").empty());
  EXPECT_TRUE(ParseServerString("https=2001:db8::1:443").empty());
  // Two spellings of one proxy are the same setting.
  ConnectionProxySettings held, written;
  held.flags = written.flags = kProxyTypeDirect | kProxyTypeProxy;
  held.server = "socks=[0::1]:1080";
  written.server = "socks=[::1]:1080";
  EXPECT_TRUE(SettingsHold(held, written));
  held.server = "socks=[::2]:1080";
  EXPECT_FALSE(SettingsHold(held, written));
}

}  // namespace
