// The desktop is never left pointing at a proxy of this program that is gone: the
// exit, a killed endpoint and another program's change, against GNOME's real settings
// (a keyfile store of the test's own, read and written with gsettings as a user would).
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>

#include "app/EndpointHost.h"
#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "base/Files.h"
#include "base/Translate.h"
#include "endpoint/Endpoint.h"
#include "settings/Options.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "support/TestWindow.h"
#include "support/WindowProcess.h"
#include "sysproxy/DesktopRecord.h"
#include "sysproxy/GSettingsProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/Messages.h"
#include "ui/TextProgressCtrl.h"

using namespace qb;

namespace {

constexpr const char* kRoot = "org.gnome.system.proxy";

int FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

bool HasMessage(const qbtest::ScriptedPrompt& prompt, const char* source) {
  // The start of the source, before any %1, identifies the message.
  const std::string head = TrStd(source).substr(0, TrStd(source).find("%1"));
  for (const auto& m : prompt.messages)
    if (m.text.rfind(head, 0) == 0) return true;
  return false;
}

class DesktopNeverStranded : public ::testing::Test {
 protected:
  void SetUp() override {
    port = FreePort();
    endpointLine = "127.0.0.1:" + std::to_string(port) + "@HTTP";
    // A whole Setting.dat: a window process would stop at the message about a damaged one.
    qbtest::WriteFile(data.File("Setting.dat"),
                      "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
                      "m_bMinimize=0\r\nm_bAutoRun=0\r\n");
    qbtest::WriteFile(data.File("Proxies.pro"), "127.0.0.1:9@HTTP$0.5\r\n");
    // The user's own company proxy, set as in the desktop's settings.
    ASSERT_TRUE(Set(std::string(kRoot) + ".http", "host", "'proxy.corp.example'"));
    ASSERT_TRUE(Set(std::string(kRoot) + ".http", "port", "3128"));
    ASSERT_TRUE(Set(kRoot, "mode", "'manual'"));
  }

  QProcessEnvironment GnomeEnv() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GSETTINGS_BACKEND", "keyfile");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.Path()));
    env.insert("XDG_CURRENT_DESKTOP", "GNOME");
    return env;
  }
  std::string Run(const QString& program, const QStringList& args, int* exitCode = nullptr) const {
    QProcess p;
    p.setProcessEnvironment(GnomeEnv());
    p.start(program, args);
    p.waitForFinished(20000);
    if (exitCode) *exitCode = p.exitCode();
    return p.readAllStandardOutput().trimmed().toStdString();
  }
  bool Set(const std::string& schema, const char* key, const std::string& value) const {
    int rc = -1;
    Run("gsettings", {"set", QString::fromStdString(schema), key, QString::fromStdString(value)}, &rc);
    return rc == 0;
  }
  std::string Get(const std::string& schema, const char* key) const {
    return Run("gsettings", {"get", QString::fromStdString(schema), key});
  }
  // Where the desktop sends a browser: "manual host:port", or the mode alone.
  std::string Desktop() const {
    const std::string mode = Get(kRoot, "mode");
    if (mode != "'manual'") return mode;
    const std::string http = std::string(kRoot) + ".http";
    return "manual " + Get(http, "host") + ":" + Get(http, "port");
  }
  static std::string Manual(int p) { return "manual '127.0.0.1':" + std::to_string(p); }
  static constexpr const char* kCompany = "manual 'proxy.corp.example':3128";

  void SaveOptions(bool endpointOn, std::optional<WhenProxyDown> when, bool reapply = false) {
    ExtraOptions o;
    o.endpoint.enabled = endpointOn;
    o.endpoint.listen = "127.0.0.1:" + std::to_string(port);
    if (when) o.SetWhenDown(*when);
    o.systemProxy.reapply = reapply;
    ASSERT_TRUE(qbtest::SaveOptionsIn(data.Path(), o).ok());
  }
  qbtest::TestWindow Open(int watchMs = 0) {
    MainDlgOptions o;
    if (watchMs > 0) o.watchMs = watchMs;
    o.platform = CreateGSettingsProxyPlatform({qb::JoinPath(config.Path(), "glib-2.0/settings/keyfile"), ""});
    EXPECT_TRUE(o.platform) << "the org.gnome.system.proxy schema is not installed";
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), config.File("fav.INI"), std::move(o));
  }

  qbtest::TempDir data, config;
  qbtest::ScriptedPrompt prompt;
  int port = 0;
  std::string endpointLine;
};

// Asked once, the choice is kept; going direct, the exit gives the user's company proxy
// back instead of leaving the desktop at an endpoint that stops with the window.
TEST_F(DesktopNeverStranded, TheChoiceIsAskedOnceAndGoingDirectTheExitGivesTheUsersProxyBack) {
  SaveOptions(true, std::nullopt);
  {
    qbtest::TestWindow window = Open();
    prompt.answers = {MsgResult::Yes};  // go direct
    window->OnViaEndpoint();
    EXPECT_TRUE(HasMessage(prompt, kMsgWhenDownQuestion));
    EXPECT_EQ(Desktop(), Manual(port));
    const auto status = ProbeEndpoint({"127.0.0.1", port}, 2000);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->goDirect);  // the endpoint follows the answer at once
    prompt.messages.clear();
    window->OnViaEndpoint();
    window->Tray().OnTrayCommand(ID_FAVORITE_FIRST, 0);
    EXPECT_FALSE(HasMessage(prompt, kMsgWhenDownQuestion));
    window->OnViaEndpoint();
    ASSERT_TRUE(window->OnTrayExit());
  }
  EXPECT_EQ(Desktop(), kCompany);
  EXPECT_FALSE(std::filesystem::exists(data.File(kDesktopRecordFileName)));
  EXPECT_FALSE(HasMessage(prompt, kMsgExitBlocks));
  const std::string ini = qbtest::ReadFile(data.File("Options.ini"));
  EXPECT_NE(ini.find("WhenDown=direct"), std::string::npos) << ini;
  EXPECT_NE(ini.find("AllowDirect=1"), std::string::npos) << ini;
}

// The status strip says that the desktop goes through the endpoint and whether it answers.
TEST_F(DesktopNeverStranded, TheStatusStripSaysTheEndpointAnswers) {
  SaveOptions(true, WhenProxyDown::Direct);
  qbtest::TestWindow window = Open(100);
  window->OnViaEndpoint();
  ASSERT_EQ(Desktop(), Manual(port));
  const QString answering = Tr(kStatusViaEndpoint) + Tr(kStatusAnswers);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return window->StatusStrip()->GetWindowText().endsWith(answering); }, 5000))
      << window->StatusStrip()->GetWindowText().toStdString();
  window->OnCancelIEProxy();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return !window->StatusStrip()->GetWindowText().contains(Tr(kStatusAnswers)); }, 5000))
      << window->StatusStrip()->GetWindowText().toStdString();
}

// A favourite chosen in the tray is a first proxy set as much as the button's.
TEST_F(DesktopNeverStranded, TheTraysFavouriteAsksTheChoiceToo) {
  SaveOptions(false, std::nullopt);
  qbtest::TestWindow window = Open();
  prompt.answers = {MsgResult::No};  // block
  window->Tray().OnTrayCommand(ID_FAVORITE_FIRST, 0);
  EXPECT_TRUE(HasMessage(prompt, kMsgWhenDownQuestion));
  EXPECT_EQ(Desktop(), "manual '127.0.0.1':9");
  const std::string ini = qbtest::ReadFile(data.File("Options.ini"));
  EXPECT_NE(ini.find("WhenDown=block"), std::string::npos) << ini;
}

// Blocking, the exit says that programs will fail and asks; kept, the next start finds
// nothing answering there and says so, and once the choice is going direct the start
// gives the earlier setting back.
TEST_F(DesktopNeverStranded, BlockingTheExitAsksAndAStartRepairsOnlyAsChosen) {
  SaveOptions(true, WhenProxyDown::Block);
  {
    qbtest::TestWindow window = Open();
    window->OnViaEndpoint();
    EXPECT_FALSE(HasMessage(prompt, kMsgWhenDownQuestion));
    prompt.answers = {MsgResult::No};  // stay blocked
    ASSERT_TRUE(window->OnTrayExit());
    EXPECT_TRUE(HasMessage(prompt, kMsgExitBlocks));
  }
  EXPECT_EQ(Desktop(), Manual(port));

  // The endpoint off in this start: nothing answers where the desktop points.
  SaveOptions(false, WhenProxyDown::Block);
  prompt.messages.clear();
  { qbtest::TestWindow window = Open(); }
  EXPECT_TRUE(HasMessage(prompt, kMsgStaleKept));
  EXPECT_EQ(Desktop(), Manual(port));

  SaveOptions(false, WhenProxyDown::Direct);
  prompt.messages.clear();
  {
    qbtest::TestWindow window = Open();
    EXPECT_TRUE(HasMessage(prompt, kMsgStaleRestored));
    EXPECT_EQ(window->SystemProxy().Record(), std::nullopt);
  }
  EXPECT_EQ(Desktop(), kCompany);

  // Asked again at the exit and answered yes, the earlier setting comes back too.
  SaveOptions(true, WhenProxyDown::Block);
  {
    qbtest::TestWindow window = Open();
    window->OnViaEndpoint();
    prompt.answers = {MsgResult::Yes};
    ASSERT_TRUE(window->OnTrayExit());
  }
  EXPECT_EQ(Desktop(), kCompany);
}

// The endpoint's service killed outright: the desktop set by the command line still
// points at it, and the window's next start repairs it as chosen. With the window's own
// endpoint on at that address nothing needs repairing.
TEST_F(DesktopNeverStranded, AKilledServiceIsRepairedAtTheNextStart) {
  SaveOptions(false, WhenProxyDown::Direct);
  const QString cli = QStringLiteral(QB_BINARY_DIR "/quillberry-cli");
  const QString dir = QString::fromStdString(data.Path());
  QProcess serve;
  serve.setProcessEnvironment(GnomeEnv());
  serve.start(cli, {"--data-dir", dir, "serve"});
  ASSERT_TRUE(serve.waitForStarted(5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ProbeEndpoint({"127.0.0.1", port}, 200).has_value(); }, 10000));
  int rc = -1;
  Run(cli, {"--data-dir", dir, "proxy", "set", QString::fromStdString(endpointLine)}, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(Desktop(), Manual(port));
  const auto record = LoadDesktopRecord(data.Path());
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->endpoint);

  ::kill(static_cast<pid_t>(serve.processId()), SIGKILL);
  serve.waitForFinished(5000);
  EXPECT_EQ(Desktop(), Manual(port));  // nobody gave it back

  { qbtest::TestWindow window = Open(); }
  EXPECT_TRUE(HasMessage(prompt, kMsgStaleRestored));
  EXPECT_EQ(Desktop(), kCompany);

  // The same desktop, the window's own endpoint starting there: it answers again.
  Run(cli, {"--data-dir", dir, "proxy", "set", QString::fromStdString(endpointLine)}, &rc);
  ASSERT_EQ(rc, 0);
  SaveOptions(true, WhenProxyDown::Direct);
  prompt.messages.clear();
  {
    qbtest::TestWindow window = Open();
    EXPECT_TRUE(window->Endpoint().Running());
    EXPECT_FALSE(HasMessage(prompt, kMsgStaleRestored));
    EXPECT_EQ(Desktop(), Manual(port));
    // Cancelled from the command line's twin, the button, the user's proxy comes back.
    window->OnCancelIEProxy();
  }
  EXPECT_EQ(Desktop(), kCompany);
}

// The endpoint's service of the same directory already serves: the window uses it, and
// its exit leaves the desktop going through it, since the service goes on.
TEST_F(DesktopNeverStranded, TheWindowUsesTheRunningServiceAndItsExitLeavesItSet) {
  SaveOptions(true, WhenProxyDown::Direct);
  QProcess serve;
  serve.setProcessEnvironment(GnomeEnv());
  serve.start(QStringLiteral(QB_BINARY_DIR "/quillberry-cli"),
              {"--data-dir", QString::fromStdString(data.Path()), "serve"});
  ASSERT_TRUE(serve.waitForStarted(5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ProbeEndpoint({"127.0.0.1", port}, 200).has_value(); }, 10000));
  {
    qbtest::TestWindow window = Open();
    EXPECT_TRUE(window->Endpoint().Running());
    EXPECT_TRUE(window->Endpoint().ByService());
    EXPECT_FALSE(HasMessage(prompt, kMsgEndpointFailed));
    window->OnViaEndpoint();
    EXPECT_EQ(Desktop(), Manual(port));
    const auto status = ProbeEndpoint({"127.0.0.1", port}, 2000);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->pid, static_cast<long>(serve.processId()));
    ASSERT_TRUE(window->OnTrayExit());
  }
  EXPECT_EQ(Desktop(), Manual(port));
  EXPECT_TRUE(ProbeEndpoint({"127.0.0.1", port}, 2000));
  serve.terminate();
  serve.waitForFinished(5000);
}

// At a log-in without the window, the command line repairs as chosen: going direct gives
// the user's setting back; blocking leaves it and says so; a live proxy is left alone.
TEST_F(DesktopNeverStranded, TheCommandLineRepairsAtLogInAsChosen) {
  const QString cli = QStringLiteral(QB_BINARY_DIR "/quillberry-cli");
  const QString dir = QString::fromStdString(data.Path());
  const auto runErr = [&](const QStringList& args, int* rc) {
    QProcess p;
    p.setProcessEnvironment(GnomeEnv());
    p.start(cli, QStringList{"--lang", "en", "--data-dir", dir} + args);
    p.waitForFinished(20000);
    *rc = p.exitCode();
    return p.readAllStandardError().toStdString();
  };
  int rc = -1;
  SaveOptions(false, WhenProxyDown::Block);
  // Set while nothing listens: the endpoint that served it was killed.
  Run(cli, {"--data-dir", dir, "proxy", "set", QString::fromStdString(endpointLine)}, &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(Desktop(), Manual(port));
  std::string err = runErr({"proxy", "repair"}, &rc);
  EXPECT_EQ(rc, 0) << err;
  EXPECT_NE(err.find("(block)"), std::string::npos) << err;
  EXPECT_EQ(Desktop(), Manual(port));

  SaveOptions(false, WhenProxyDown::Direct);
  err = runErr({"proxy", "repair"}, &rc);
  EXPECT_EQ(rc, 0) << err;
  EXPECT_NE(err.find("your earlier system proxy setting was given back"), std::string::npos) << err;
  EXPECT_EQ(Desktop(), kCompany);
  EXPECT_EQ(runErr({"proxy", "repair"}, &rc), "");  // nothing left to repair
  EXPECT_EQ(rc, 0);

  // A proxy of the list that answers is no matter for repair.
  QTcpServer proxy;
  ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost, 0));
  const QString live = "127.0.0.1:" + QString::number(proxy.serverPort()) + "@HTTP";
  Run(cli, {"--data-dir", dir, "proxy", "set", live}, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(runErr({"proxy", "repair"}, &rc), "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Desktop(), Manual(proxy.serverPort()));

  // The window repairs at its own start: the command refuses while it runs.
  qbtest::TestWindow window = Open();
  runErr({"proxy", "repair"}, &rc);
  EXPECT_EQ(rc, 4);
}

// The window's own process killed outright while the desktop goes through its endpoint:
// nothing gives the desktop back then, and the next start does.
TEST_F(DesktopNeverStranded, AKilledWindowIsRepairedAtTheNextStart) {
  if (!qbtest::WindowProcess::Built()) GTEST_SKIP() << "the window is not built";
  SaveOptions(true, WhenProxyDown::Direct);
  int rc = -1;
  Run(QStringLiteral(QB_BINARY_DIR "/quillberry-cli"),
      {"--data-dir", QString::fromStdString(data.Path()), "proxy", "set",
       QString::fromStdString(endpointLine)},
      &rc);
  ASSERT_EQ(rc, 0);
  qbtest::WindowProcess window;
  QProcessEnvironment env = window.Env();
  env.insert("GSETTINGS_BACKEND", "keyfile");
  env.insert("XDG_CURRENT_DESKTOP", "GNOME");
  // The window's own configuration directory is where its GNOME settings live.
  const std::string home = env.value("XDG_CONFIG_HOME").toStdString();
  std::filesystem::create_directories(home + "/glib-2.0/settings");
  std::filesystem::copy_file(config.File("glib-2.0/settings/keyfile"), home + "/glib-2.0/settings/keyfile");
  window.Process().setProcessEnvironment(env);
  ASSERT_TRUE(window.Start(data.Path()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ProbeEndpoint({"127.0.0.1", port}, 200).has_value(); }, 10000));
  window.Process().kill();  // SIGKILL
  window.Process().waitForFinished(5000);
  EXPECT_FALSE(ProbeEndpoint({"127.0.0.1", port}, 500));
  std::filesystem::copy_file(home + "/glib-2.0/settings/keyfile", config.File("glib-2.0/settings/keyfile"),
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Desktop(), Manual(port));  // left pointing at the dead endpoint

  SaveOptions(false, WhenProxyDown::Direct);
  { qbtest::TestWindow next = Open(); }
  EXPECT_TRUE(HasMessage(prompt, kMsgStaleRestored));
  EXPECT_EQ(Desktop(), kCompany);
}

// Another program replaces the setting: the window says so and offers to set it again;
// "no" lets it stand as the user's; with re-applying on, it is set again unasked.
TEST_F(DesktopNeverStranded, AnotherProgramsChangeIsSaidAndSetAgainAsAsked) {
  SaveOptions(true, WhenProxyDown::Direct);
  qbtest::TestWindow window = Open();
  window->OnViaEndpoint();
  ASSERT_EQ(Desktop(), Manual(port));

  prompt.answers = {MsgResult::Yes};
  ASSERT_TRUE(Set(kRoot, "mode", "'none'"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return HasMessage(prompt, kMsgDesktopChangedElsewhere); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Desktop() == Manual(port); }, 5000)) << Desktop();

  prompt.messages.clear();
  prompt.answers = {MsgResult::No};
  ASSERT_TRUE(Set(kRoot, "mode", "'auto'"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return HasMessage(prompt, kMsgDesktopChangedElsewhere); }, 5000));
  QTest::qWait(300);
  EXPECT_EQ(Desktop(), "'auto'");
  EXPECT_FALSE(window->SystemProxy().Record());
  // No longer this program's: the exit leaves it alone.
  ASSERT_TRUE(window->OnTrayExit());
  EXPECT_EQ(Desktop(), "'auto'");
}

TEST_F(DesktopNeverStranded, ReapplyingByItselfNeedsNoQuestion) {
  SaveOptions(true, WhenProxyDown::Block, /*reapply=*/true);
  qbtest::TestWindow window = Open();
  window->OnViaEndpoint();
  ASSERT_TRUE(Set(kRoot, "mode", "'none'"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Desktop() == Manual(port); }, 5000)) << Desktop();
  EXPECT_FALSE(HasMessage(prompt, kMsgDesktopChangedElsewhere));
}

}  // namespace
