// The desktop's own setting from before the program changed it: kept on the first
// change, given back by a cancel, and never confused with a setting of the program's
// own endpoint. Against the recording stand-in, and against the real GNOME settings
// read back by gsettings and libproxy.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "SysProxyTestUtil.h"
#include "sysproxy/DesktopRecord.h"
#include "sysproxy/GSettingsProxyPlatform.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/FailureMessages.h"
#include "ui/Messages.h"

using namespace qb;

namespace {

using Kind = CRecordingProxyPlatform::CallKind;

ConnectionProxySettings Lan(std::string server, std::uint32_t flags, std::string bypass = {},
                            std::string url = {}) {
  ConnectionProxySettings s;
  s.server = std::move(server);
  s.flags = flags;
  s.bypass = std::move(bypass);
  s.autoConfigUrl = std::move(url);
  return s;
}

class DesktopRecordTest : public sptest::SysProxyTest {
 protected:
  void SetUp() override {
    SysProxyTest::SetUp();
    auto rec = std::make_unique<CRecordingProxyPlatform>();
    platform = rec.get();
    proxy = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()), std::move(rec));
    proxy->SetEndpointListen("127.0.0.1:8899");
  }
  std::string RecordPath() const { return data.File(kDesktopRecordFileName); }

  CRecordingProxyPlatform* platform = nullptr;
  std::unique_ptr<CSystemProxy> proxy;
};

// A company's proxy, with its log-on and its bypass list, is the user's own: setting a
// proxy of the list keeps it, and cancelling gives it back whole instead of "no proxy".
TEST_F(DesktopRecordTest, TheUsersOwnProxyComesBackOnCancel) {
  ConnectionProxySettings company =
      Lan("10.9.8.7:3128", kProxyTypeDirect | kProxyTypeProxy, "localhost;*.corp");
  company.httpUser = "alice";
  company.httpPassword = "pa ss\nword";
  platform->stored[""] = company;

  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80")));
  ASSERT_TRUE(proxy->ChangedDesktop());
  struct stat st {};
  ASSERT_EQ(::stat(RecordPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the log-on is in it
  const std::optional<DesktopRecord> record = proxy->Record();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->before, company);
  EXPECT_EQ(record->line, "1.2.3.4:80@HTTP");
  EXPECT_FALSE(record->endpoint);
  EXPECT_TRUE(SettingsHold(platform->stored[""], record->set));

  // A second proxy changes what was set, not what the user had.
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("5.6.7.8:81@HTTP")));
  EXPECT_EQ(proxy->Record()->before, company);
  EXPECT_EQ(proxy->Record()->line, "5.6.7.8:81@HTTP");

  const ProxyChangeResult r = proxy->OnCancelIEProxy();
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(platform->stored[""], company);
  EXPECT_EQ(proxy->m_sIEProxy, "10.9.8.7:3128");
  EXPECT_FALSE(proxy->ChangedDesktop());
  EXPECT_FALSE(std::filesystem::exists(RecordPath()));
  EXPECT_TRUE(prompt.messages.empty());
}

// Without a change of the program's, a cancel clears as it always did, and a start's
// writing back of what the desktop holds is no change.
TEST_F(DesktopRecordTest, WithoutAChangeOfOursCancelClears) {
  platform->stored[""] = Lan("10.9.8.7:3128", kProxyTypeDirect | kProxyTypeProxy);
  ASSERT_TRUE(proxy->GetIEProxy());
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy)));
  EXPECT_FALSE(proxy->ChangedDesktop());

  const ProxyChangeResult r = proxy->OnCancelIEProxy();
  EXPECT_TRUE(r.ok());
  EXPECT_FALSE(r.restored);
  EXPECT_EQ(platform->stored[""].flags, kProxyTypeDirect);
  EXPECT_EQ(proxy->m_sIEProxy, "");
  // A clear that changed the desktop is a change of ours too: the proxy can be had back.
  EXPECT_TRUE(proxy->ChangedDesktop());
  EXPECT_EQ(proxy->Record()->before.server, "10.9.8.7:3128");
}

// Automatic detection and a script of the user's are settings too, and come back as
// they were, however the start's writing back under the direct mode changed them.
TEST_F(DesktopRecordTest, AutomaticDetectionAndTheUsersScriptComeBack) {
  for (const ConnectionProxySettings& own :
       {Lan("", kProxyTypeDirect | kProxyTypeAutoDetect, "localhost"),
        Lan("", kProxyTypeDirect | kProxyTypeAutoProxyUrl, "", "http://wpad.corp.example/wpad.dat")}) {
    SCOPED_TRACE(own.autoConfigUrl);
    platform->stored[""] = own;
    ASSERT_TRUE(proxy->GetIEProxy());
    ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy(proxy->m_sIEProxy)));
    EXPECT_EQ(platform->stored[""].flags, kProxyTypeDirect);
    ASSERT_TRUE(proxy->ChangedDesktop());
    ASSERT_TRUE(ReportProxyChange(proxy->OnCancelIEProxy()));
    EXPECT_EQ(platform->stored[""], own);
    EXPECT_FALSE(proxy->ChangedDesktop());
  }
}

// A desktop left pointing at the endpoint by a crash is not the user's own: given back
// it would strand the desktop again.
TEST_F(DesktopRecordTest, AStaleEndpointIsNotKeptAsTheUsersSetting) {
  platform->stored[""] = Lan("127.0.0.1:8899", kProxyTypeDirect | kProxyTypeProxy, "localhost");
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80")));
  EXPECT_EQ(proxy->Record()->before, Lan("", kProxyTypeDirect, "localhost"));

  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("127.0.0.1:8899@HTTP")));
  EXPECT_TRUE(proxy->Record()->endpoint);
  EXPECT_TRUE(proxy->IsEndpointLine("127.0.0.1:8899"));
  EXPECT_FALSE(proxy->IsEndpointLine("127.0.0.1:8899@SOCKS5"));
  EXPECT_FALSE(proxy->IsEndpointLine("127.0.0.1:8898@HTTP"));
  ASSERT_TRUE(ReportProxyChange(proxy->OnCancelIEProxy()));
  EXPECT_EQ(platform->stored[""].flags, kProxyTypeDirect);
}

// The endpoint listening on an IPv6 address or a name is recognised however the
// address is spelt, and a desktop left pointing at it is not the user's own either.
TEST_F(DesktopRecordTest, AnEndpointOnIpv6OrANameIsRecognised) {
  proxy->SetEndpointListen("[::1]:8899");
  EXPECT_TRUE(proxy->IsEndpointLine("[::1]:8899@HTTP"));
  EXPECT_TRUE(proxy->IsEndpointLine("[0:0::1]:8899"));
  EXPECT_FALSE(proxy->IsEndpointLine("[::2]:8899@HTTP"));
  EXPECT_FALSE(proxy->IsEndpointLine("127.0.0.1:8899@HTTP"));
  platform->stored[""] = Lan("[::1]:8899", kProxyTypeDirect | kProxyTypeProxy, "localhost");
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80")));
  EXPECT_EQ(proxy->Record()->before, Lan("", kProxyTypeDirect, "localhost"));
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("[::1]:8899@HTTP")));
  EXPECT_TRUE(proxy->Record()->endpoint);

  proxy->SetEndpointListen("LocalHost:08899");
  EXPECT_TRUE(proxy->IsEndpointLine("localhost:8899@HTTP"));
  EXPECT_FALSE(proxy->IsEndpointLine("localhost.localdomain:8899@HTTP"));
}

// Another program's change is told from ours; it can be undone, or let stand, after
// which a cancel clears as for a desktop this program never changed.
TEST_F(DesktopRecordTest, AnotherProgramsChangeIsToldAndCanBeUndone) {
  platform->stored[""] = Lan("", kProxyTypeDirect);
  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("1.2.3.4:80")));
  EXPECT_TRUE(proxy->DesktopHoldsRecorded());

  platform->stored[""] = Lan("6.6.6.6:66", kProxyTypeDirect | kProxyTypeProxy);
  ASSERT_TRUE(proxy->GetIEProxy());
  EXPECT_FALSE(proxy->DesktopHoldsRecorded());
  ASSERT_TRUE(ReportProxyChange(proxy->ReapplyRecorded()));
  EXPECT_EQ(platform->stored[""].server, "1.2.3.4:80");
  EXPECT_TRUE(proxy->DesktopHoldsRecorded());
  EXPECT_EQ(proxy->m_sIEProxy, "1.2.3.4:80@HTTP");

  platform->stored[""] = Lan("6.6.6.6:66", kProxyTypeDirect | kProxyTypeProxy);
  ASSERT_TRUE(proxy->ForgetRecord());
  EXPECT_FALSE(proxy->ChangedDesktop());
  EXPECT_FALSE(proxy->OnCancelIEProxy().restored);
  EXPECT_EQ(platform->stored[""].flags, kProxyTypeDirect);
}

// A record that cannot be written is said, and the desktop is changed all the same; a
// restore the desktop did not keep leaves the record for the next try.
TEST_F(DesktopRecordTest, ARecordThatCannotBeKeptIsSaid) {
  platform->stored[""] = Lan("10.9.8.7:3128", kProxyTypeDirect | kProxyTypeProxy);
  std::filesystem::create_directory(RecordPath());  // nothing can be renamed over it
  const ProxyChangeResult r = proxy->SetIEProxy("1.2.3.4:80");
  EXPECT_EQ(r.record.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(r.record.path, RecordPath());
  EXPECT_EQ(platform->stored[""].server, "1.2.3.4:80");
  EXPECT_FALSE(ReportProxyChange(r));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text.rfind(kMsgRecordFailed, 0), 0u) << prompt.messages[0].text;
  std::filesystem::remove(RecordPath());

  ASSERT_TRUE(ReportProxyChange(proxy->SetIEProxy("1.2.3.5:80")));
  platform->dropWrites = true;
  const ProxyChangeResult lost = proxy->OnCancelIEProxy();
  EXPECT_EQ(lost.kept.status, qb::OpStatus::ApplyFailed);
  EXPECT_TRUE(proxy->ChangedDesktop());
  platform->dropWrites = false;
  ASSERT_TRUE(ReportProxyChange(proxy->OnCancelIEProxy()));
  // What stood before the recorded change: the unrecorded one is what the message warned of.
  EXPECT_EQ(platform->stored[""].server, "1.2.3.4:80");
  EXPECT_FALSE(proxy->ChangedDesktop());
}

TEST(DesktopRecordFile, EveryValueComesBackAsWritten) {
  DesktopRecord r;
  r.before =
      Lan("https=h:1;socks=s:2", kProxyTypeDirect | kProxyTypeAutoDetect, " a;b ", "data:x;base64,AA==");
  r.before.httpUser = "u\\ser";
  r.before.httpPassword = "line\nbreak\r=x ";
  r.set = Lan("1.2.3.4:80", kProxyTypeDirect | kProxyTypeProxy);
  r.line = "1.2.3.4:80@HTTP";
  r.endpoint = true;
  const std::optional<DesktopRecord> back = ParseDesktopRecord(FormatDesktopRecord(r));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, r);
  EXPECT_FALSE(ParseDesktopRecord("[Set]\nServer=1.2.3.4:80\n"));
  EXPECT_EQ(DecideRepair(true, false, true), RepairAction::Restore);
  EXPECT_EQ(DecideRepair(true, false, false), RepairAction::Keep);
  EXPECT_EQ(DecideRepair(true, true, true), RepairAction::None);
  EXPECT_EQ(DecideRepair(false, false, true), RepairAction::None);
}

// The real desktop: a company's manual proxy, then GNOME's automatic detection, set with
// gsettings as a user would, come back after the program's proxy was cancelled.
TEST_F(DesktopRecordTest, GnomeGetsTheUsersSettingBack) {
  qbtest::TempDir config;
  const std::string home = config.Path();
  const std::string root = "org.gnome.system.proxy";
  ASSERT_TRUE(sptest::GSettingsSet(home, root + ".http", "host", "'proxy.corp.example'"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root + ".http", "port", "3128"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root + ".https", "host", "'proxy.corp.example'"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root + ".https", "port", "3128"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root, "ignore-hosts", "['intranet.corp.example']"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root, "mode", "'manual'"));

  auto open = [&] {
    auto gsettings = CreateGSettingsProxyPlatform({sptest::KeyfileFor(home), ""});
    EXPECT_TRUE(gsettings) << "the org.gnome.system.proxy schema is not installed";
    return std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()), std::move(gsettings));
  };
  {
    auto desktop = open();
    ASSERT_TRUE(ReportProxyChange(desktop->SetIEProxy("127.0.0.1:8123@HTTP")));
    EXPECT_EQ(sptest::LibproxyFor(home, {"http://www.example.com/"}),
              std::vector<std::string>{"http://127.0.0.1:8123"});
  }
  // Another start, as after a crash: the record is on disk, not in memory.
  {
    auto desktop = open();
    ASSERT_TRUE(ReportProxyChange(desktop->OnCancelIEProxy()));
  }
  EXPECT_EQ(sptest::GSettingsGet(home, root, "mode"), "'manual'");
  EXPECT_EQ(sptest::GSettingsGet(home, root + ".http", "host"), "'proxy.corp.example'");
  EXPECT_EQ(sptest::LibproxyFor(home, {"http://www.example.com/", "http://intranet.corp.example/"}),
            (std::vector<std::string>{"http://proxy.corp.example:3128", "direct://"}));

  ASSERT_TRUE(sptest::GSettingsSet(home, root, "mode", "'auto'"));
  ASSERT_TRUE(sptest::GSettingsSet(home, root, "autoconfig-url", "''"));
  {
    auto desktop = open();
    ASSERT_TRUE(ReportProxyChange(desktop->SetIEProxy("127.0.0.1:8123@HTTP")));
    EXPECT_EQ(sptest::GSettingsGet(home, root, "mode"), "'manual'");
    ASSERT_TRUE(ReportProxyChange(desktop->OnCancelIEProxy()));
  }
  EXPECT_EQ(sptest::GSettingsGet(home, root, "mode"), "'auto'");
  EXPECT_EQ(sptest::GSettingsGet(home, root, "autoconfig-url"), "''");
}

}  // namespace
