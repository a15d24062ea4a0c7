// The generated proxy.pac: its exact texts, and what a JavaScript engine makes of it.
#include <gtest/gtest.h>

#include <filesystem>

#include "SysProxyTestUtil.h"
#include "base/Text.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

constexpr const char* kDirectScript =
    "function FindProxyForURL(url, host)\r\n{\r\n    return \"DIRECT\";\r\n}\r\n";

// A template in the style users write: local hosts direct, the rest through the proxy,
// once in the old "PROXY MyProxy" form and once as the bare word.
constexpr const char* kTemplate =
    "function FindProxyForURL(url, host)\n"
    "{\n"
    "    if (isPlainHostName(host) || dnsDomainIs(host, \".example.lan\"))\n"
    "        return \"DIRECT\";\n"
    "    if (shExpMatch(host, \"*.old.example.com\"))\n"
    "        return \"PROXY MyProxy\";\n"
    "    return \"MyProxy\";\n"
    "}\n";

const std::vector<std::string> kUrls = {
    "http://www.example.com/index.html",
    "https://secure.example.com/login",
    "ftp://files.example.com/pub/",
    "http://x.old.example.com/",
    "http://intranet/",
    "http://wiki.example.lan/",
};

class PacScriptTest : public sptest::SysProxyTest {
 protected:
  void SetUp() override {
    SysProxyTest::SetUp();
    proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()),
                                           std::make_unique<CRecordingProxyPlatform>());
  }
  std::vector<std::string> Evaluate() { return sptest::EvaluatePac(data.File("proxy.pac"), kUrls); }

  std::unique_ptr<CSystemProxy> proxy;
};

TEST_F(PacScriptTest, DefaultScriptTexts) {
  proxy->SetAutoProxyConfig(1);
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:8080@HTTP"));
  EXPECT_EQ(PacText(),
            "function FindProxyForURL(url, host)\r\n{\r\n    return \"PROXY 1.2.3.4:8080\";\r\n}\r\n");
  ReportProxyChange(proxy->OnCancelIEProxy());
  EXPECT_EQ(PacText(), kDirectScript);
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:1080@SOCKS4"));
  EXPECT_EQ(PacText(),
            "function FindProxyForURL(url, host)\r\n{\r\n    return \"SOCKS 1.2.3.4:1080\";\r\n}\r\n");
}

TEST_F(PacScriptTest, DirectModeLeavesAnEmptyScriptAfterEverySetAndClear) {
  qbtest::WriteFile(data.File("proxy.pac"), "stale script");
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:8080@HTTP"));
  EXPECT_EQ(PacText(), "");
  ReportProxyChange(proxy->OnCancelIEProxy());
  EXPECT_EQ(PacText(), "");
}

// Each proxy type, in both script modes, evaluated by a JavaScript engine.
TEST_F(PacScriptTest, ScriptsRouteEachProxyTypeValidly) {
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), kTemplate);
  const std::string P = "PROXY 10.0.0.1:3128", D = "DIRECT";
  struct Case {
    const char* line;
    std::vector<std::string> mode1;  // for kUrls
    std::vector<std::string> mode2;
  } cases[] = {
      {"10.0.0.1:3128@HTTP", {P, P, P, P, P, P}, {P, P, P, P, D, D}},
      {"10.0.0.1:3128@HTTPS", {D, P, D, D, D, D}, {D, P, D, D, D, D}},
      {"10.0.0.1:3128@FTP", {D, D, P, D, D, D}, {D, D, P, D, D, D}},
      {"10.0.0.1:1080@SOCKS5",
       std::vector<std::string>(6, "SOCKS5 10.0.0.1:1080"),
       {"SOCKS5 10.0.0.1:1080", "SOCKS5 10.0.0.1:1080", "SOCKS5 10.0.0.1:1080", "SOCKS5 10.0.0.1:1080", D,
        D}},
      {"10.0.0.1:1080@SOCKS4",
       std::vector<std::string>(6, "SOCKS 10.0.0.1:1080"),
       {"SOCKS 10.0.0.1:1080", "SOCKS 10.0.0.1:1080", "SOCKS 10.0.0.1:1080", "SOCKS 10.0.0.1:1080", D, D}},
      {"", {D, D, D, D, D, D}, {D, D, D, D, D, D}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    proxy->SetAutoProxyConfig(1);
    ReportProxyChange(proxy->SetIEProxy(c.line));
    EXPECT_EQ(Evaluate(), c.mode1) << PacText();
    proxy->SetAutoProxyConfig(2);
    ReportProxyChange(proxy->SetIEProxy(c.line));
    EXPECT_EQ(Evaluate(), c.mode2) << PacText();
  }
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(PacScriptTest, GopherProxyServesGopherUrlsOnly) {
  proxy->SetAutoProxyConfig(1);
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:70@GOPHER"));
  EXPECT_EQ(
      sptest::EvaluatePac(data.File("proxy.pac"), {"gopher://g.example.com/1", "http://www.example.com/"}),
      (std::vector<std::string>{"PROXY 10.0.0.1:70", "DIRECT"}));
}

TEST_F(PacScriptTest, TemplateReplacement) {
  proxy->SetAutoProxyConfig(2);
  // Twice on a line, other letter case untouched, a bare LF and a GB18030 line
  // (written by the Windows version) both end up as UTF-8 with CR LF.
  qbtest::WriteFile(
      data.File("UserdefinedTemplate.pac"),
      "// MyProxy or MyProxy, not myproxy\n" + qb::EncodeGb18030("// 代理 MyProxy") + "\r\nlast");
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80"));
  EXPECT_EQ(PacText(),
            "// PROXY 1.2.3.4:80 or PROXY 1.2.3.4:80, not myproxy\r\n// 代理 PROXY 1.2.3.4:80\r\nlast");

  // Clearing: the placeholder, with or without its PROXY, becomes DIRECT.
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), "a \"PROXY  MyProxy\" b \"MyProxy\"\n");
  ReportProxyChange(proxy->OnCancelIEProxy());
  EXPECT_EQ(PacText(), "a \"DIRECT\" b \"DIRECT\"\r\n");

  // A placeholder across the 999th byte of a long line is replaced like any other.
  std::string longLine = "//" + std::string(993, 'x') + "MyProxy" + std::string(1200, 'y');
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), longLine + "\n");
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80"));
  EXPECT_EQ(PacText(), "//" + std::string(993, 'x') + "PROXY 1.2.3.4:80" + std::string(1200, 'y') + "\r\n");

  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"), "");
  ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80"));
  EXPECT_EQ(PacText(), "");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(PacScriptTest, TemplateWithoutFunctionStillLoads) {
  // The wrapper for a one-scheme proxy must not break a template that defines nothing.
  proxy->SetAutoProxyConfig(2);
  qbtest::WriteFile(data.File("UserdefinedTemplate.pac"),
                    "var unused = \"MyProxy\";\n"
                    "function FindProxyForURL(u, h) { return unused; }\n");
  ReportProxyChange(proxy->SetIEProxy("10.0.0.1:443@HTTPS"));
  EXPECT_EQ(sptest::EvaluatePac(data.File("proxy.pac"), {"https://a.example/", "http://a.example/"}),
            (std::vector<std::string>{"PROXY 10.0.0.1:443", "DIRECT"}));
}

TEST_F(PacScriptTest, MissingTemplateLeavesAnEmptyScriptAndTheConnectionsAreSetAnyway) {
  auto rec = std::make_unique<CRecordingProxyPlatform>();
  CRecordingProxyPlatform* platform = rec.get();
  const auto pDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy p(*pDir, std::move(rec));
  p.SetAutoProxyConfig(2);
  qbtest::WriteFile(data.File("proxy.pac"), "old");
  ReportProxyChange(p.SetIEProxy("1.2.3.4:80"));
  EXPECT_EQ(PacText(), "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开用户自定义代理自动配置模板失败！");
  EXPECT_EQ(prompt.messages[0].caption, "编辑");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_EQ(platform->WrittenConnections(), std::vector<std::string>{""});
  EXPECT_EQ(platform->stored[""].flags, kProxyTypeAutoProxyUrl);
}

TEST_F(PacScriptTest, UnwritableScriptIsReportedAndTheConnectionsAreSetAnyway) {
  auto rec = std::make_unique<CRecordingProxyPlatform>();
  CRecordingProxyPlatform* platform = rec.get();
  const auto pDir = qbtest::OpenTestDir(data.Path());
  CSystemProxy p(*pDir, std::move(rec));
  p.SetAutoProxyConfig(1);
  // A directory where the file should be cannot be replaced by a file.
  ASSERT_TRUE(std::filesystem::create_directory(data.File("proxy.pac")));
  ReportProxyChange(p.SetIEProxy("1.2.3.4:80"));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "创建自动代理脚本失败！");
  EXPECT_EQ(prompt.messages[0].caption, "创建");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_EQ(platform->stored[""].server, "1.2.3.4:80");
  EXPECT_EQ(p.m_sIEProxy, "1.2.3.4:80@HTTP");
}

}  // namespace
