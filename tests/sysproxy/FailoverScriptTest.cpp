// The failover script: the chosen proxy, then the favourites, per scheme, evaluated by
// a JavaScript engine; and the data URL that publishes it.
#include <gtest/gtest.h>

#include <QByteArray>

#include "SysProxyTestUtil.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

const std::vector<std::string> kUrls = {
    "http://www.example.com/",
    "https://secure.example.com/",
    "ftp://files.example.com/",
};

class FailoverScriptTest : public sptest::SysProxyTest {
 protected:
  void SetUp() override {
    SysProxyTest::SetUp();
    auto rec = std::make_unique<CRecordingProxyPlatform>();
    platform = rec.get();
    proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()), std::move(rec));
    proxy->SetFavoritesSource([this] { return favorites; });
    proxy->SetAutoProxyConfig(kAutoProxyDefaultScript);
  }
  std::vector<std::string> Set(const std::string& line) {
    EXPECT_TRUE(proxy->SetIEProxy(line).ok()) << line;
    return sptest::EvaluatePac(data.File("proxy.pac"), kUrls);
  }

  std::vector<std::string> favorites;
  CRecordingProxyPlatform* platform = nullptr;
  std::unique_ptr<CSystemProxy> proxy;
};

TEST_F(FailoverScriptTest, ChainListsTheChosenProxyFirstThenTheFavouritesThatCarryEachScheme) {
  // The chosen proxy is a favourite too; it is listed once, first.
  favorites = {"10.0.0.2:443@HTTPS", "10.0.0.3:1080@SOCKS5", "10.0.0.1:3128@HTTP", "10.0.0.4:1080@SOCKS4",
               "10.0.0.5:21@FTP"};
  const std::string a = "PROXY 10.0.0.1:3128", b = "PROXY 10.0.0.2:443", c = "SOCKS5 10.0.0.3:1080",
                    d = "SOCKS 10.0.0.4:1080", e = "PROXY 10.0.0.5:21";

  // Without failover the proxy stands alone whatever the favourites.
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"), std::vector<std::string>(3, a));

  proxy->SetScriptOptions({.failover = true, .allowDirect = false});
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"),
            (std::vector<std::string>{a + "; " + c + "; " + d, a + "; " + b + "; " + c + "; " + d,
                                      a + "; " + c + "; " + d + "; " + e}));

  // A one-scheme proxy chosen: first for its scheme, the others keep their chains.
  EXPECT_EQ(Set("10.0.0.2:443@HTTPS"),
            (std::vector<std::string>{c + "; " + a + "; " + d, b + "; " + c + "; " + a + "; " + d,
                                      c + "; " + a + "; " + d + "; " + e}));

  proxy->SetScriptOptions({.failover = true, .allowDirect = true});
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"),
            (std::vector<std::string>{a + "; " + c + "; " + d + "; DIRECT",
                                      a + "; " + b + "; " + c + "; " + d + "; DIRECT",
                                      a + "; " + c + "; " + d + "; " + e + "; DIRECT"}));

  // The direct mode has no script; the desktop gets the chosen proxy alone.
  proxy->SetAutoProxyConfig(kAutoProxyDirect);
  ASSERT_TRUE(proxy->SetIEProxy("10.0.0.1:3128@HTTP").ok());
  EXPECT_EQ(PacText(), "");
  EXPECT_EQ(platform->stored[""].server, "10.0.0.1:3128");
}

TEST_F(FailoverScriptTest, WithoutFavouritesOrAProxyNoDirectIsAddedUnasked) {
  proxy->SetScriptOptions({.failover = true, .allowDirect = false});
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"), std::vector<std::string>(3, "PROXY 10.0.0.1:3128"));
  // A scheme no member carries goes direct as with the one proxy alone.
  favorites = {"10.0.0.5:21@FTP"};
  EXPECT_EQ(Set("10.0.0.2:443@HTTPS"),
            (std::vector<std::string>{"DIRECT", "PROXY 10.0.0.2:443", "PROXY 10.0.0.5:21"}));
  // Cleared, the browsers go direct: the user asked for no proxy.
  ASSERT_TRUE(proxy->OnCancelIEProxy().ok());
  EXPECT_EQ(sptest::EvaluatePac(data.File("proxy.pac"), kUrls), std::vector<std::string>(3, "DIRECT"));
}

TEST_F(FailoverScriptTest, MembersWithALogOnOrNoValidProxyAreLeftOut) {
  ASSERT_TRUE(qbtest::StoreLogOn(data.Path(), "10.0.0.2:8080@HTTP", ProxyCredentials{"alice", "pw"}).ok());
  favorites = {"10.0.0.2:8080@HTTP", "not a proxy", "10.0.0.3:99999@HTTP", "10.0.0.4:8080@HTTP"};
  proxy->SetScriptOptions({.failover = true, .allowDirect = false});
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"),
            std::vector<std::string>(3, "PROXY 10.0.0.1:3128; PROXY 10.0.0.4:8080"));

  // The chosen proxy with a log-on is refused as without a chain: nothing changes.
  const std::string before = PacText();
  const ProxyChangeResult refused = proxy->SetIEProxy("10.0.0.2:8080@HTTP");
  EXPECT_TRUE(refused.refusedLogOn);
  EXPECT_EQ(PacText(), before);
}

// The browsers read "PROXY [2001:db8::1]:8080" as they read a URL's host; a favourite
// spelt otherwise is the same proxy and is listed once.
TEST_F(FailoverScriptTest, Ipv6AndNamedMembersAreListedAsTheBrowsersReadThem) {
  favorites = {"gw.example:1080@SOCKS5", "[2001:db8:0:0::1]:8080@HTTP", "[::1]:443@HTTPS",
               "GW.Example:1080@SOCKS5"};
  proxy->SetScriptOptions({.failover = true, .allowDirect = false});
  const std::string chosen = "PROXY [2001:db8::1]:8080", socks = "SOCKS5 gw.example:1080";
  EXPECT_EQ(Set("[2001:DB8::1]:8080@HTTP"),
            (std::vector<std::string>{chosen + "; " + socks, chosen + "; " + socks + "; PROXY [::1]:443",
                                      chosen + "; " + socks}));
  EXPECT_EQ(platform->stored[""].server, "[2001:db8::1]:8080");
  // A bare IPv6 address has no port to tell: it is no member.
  favorites = {"::1:8080"};
  EXPECT_EQ(Set("gw.example:3128@HTTP"), std::vector<std::string>(3, "PROXY gw.example:3128"));
}

TEST_F(FailoverScriptTest, TemplatePlaceholderBecomesTheWholeChain) {
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"),
                    "function FindProxyForURL(url, host)\n{\n"
                    "    if (isPlainHostName(host))\n        return \"DIRECT\";\n"
                    "    return \"PROXY MyProxy\";\n}\n");
  proxy->SetAutoProxyConfig(kAutoProxyUserScript);
  proxy->SetScriptOptions({.failover = true, .allowDirect = true});
  favorites = {"10.0.0.2:443@HTTPS", "10.0.0.3:8080@HTTP"};
  const std::string chain = "PROXY 10.0.0.1:3128; PROXY 10.0.0.3:8080; DIRECT";
  EXPECT_EQ(Set("10.0.0.1:3128@HTTP"),
            (std::vector<std::string>{
                chain, "PROXY 10.0.0.1:3128; PROXY 10.0.0.2:443; PROXY 10.0.0.3:8080; DIRECT", chain}));
  EXPECT_EQ(sptest::EvaluatePac(data.File("proxy.pac"), {"http://intranet/"}),
            std::vector<std::string>{"DIRECT"});
}

TEST_F(FailoverScriptTest, DesktopGetsTheScriptItselfAsADataUrl) {
  proxy->SetScriptOptions({.failover = true, .allowDirect = false});
  favorites = {"10.0.0.4:8080@HTTP"};
  Set("10.0.0.1:3128@HTTP");
  const std::string url = platform->stored[""].autoConfigUrl;
  const std::string prefix = "data:application/x-ns-proxy-autoconfig;base64,";
  ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
  EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(url.substr(prefix.size()))).toStdString(),
            PacText());
  EXPECT_NE(PacText().find("PROXY 10.0.0.1:3128; PROXY 10.0.0.4:8080"), std::string::npos);
}

TEST(FavoriteProxyLines, TickedRowsFastestFirstThenTheUntimedInListOrder) {
  CProxyListModel list;
  const char* rows[][2] = {{"10.0.0.1:80@HTTP", "2.5"},  {"10.0.0.2:80@HTTP", "连接失败"},
                           {"10.0.0.3:80@HTTP", "0.75"}, {"10.0.0.4:80@HTTP", "0.5"},
                           {"10.0.0.5:80@HTTP", ""},     {"10.0.0.6:80@HTTP", "10"}};
  for (const auto& [line, time] : rows) {
    list.AddProxyLine(line, 0);
    list.SetTimeStatus(list.RowCount() - 1, time);
  }
  for (int row : {0, 1, 2, 4, 5}) list.SetFavorite(row, true);
  EXPECT_EQ(FavoriteProxyLines(list),
            (std::vector<std::string>{"10.0.0.3:80@HTTP", "10.0.0.1:80@HTTP", "10.0.0.6:80@HTTP",
                                      "10.0.0.2:80@HTTP", "10.0.0.5:80@HTTP"}));
}

}  // namespace
