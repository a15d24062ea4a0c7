// The window's and the command line's own options: what a desktop, a package and a
// terminal ask of the executables before any window is open.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

#include <string>

#include "support/PageOrigin.h"
#include "support/TempDir.h"
#include "support/WindowProcess.h"

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WindowProcess;
using qbtest::WriteFile;

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

// With no display and no platform chosen: a terminal over ssh, a package check.
Outcome Headless(const QString& program, const QStringList& args) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  Outcome r;
  if (!p.waitForFinished(10000)) return r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

TEST(CommandLine, BothExecutablesAnswerVersionAndHelpWithoutADisplay) {
  const QString window = WindowProcess::Program();
  const QString cli = QStringLiteral(QB_BINARY_DIR "/quillberry-cli");
  const std::string version = QUILLBERRY_VERSION;

  Outcome r = Headless(window, {"--version"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "quillberry " + version + "\n");
  r = Headless(window, {"--lang", "en", "--help"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* part : {"Usage: quillberry [--data-dir DIR]", "--lang zh|en", "--verify-all",
                           "--cancel-proxy", "Exit status"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;

  r = Headless(cli, {"--version"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "quillberry-cli " + version + "\n");
  r = Headless(cli, {"--lang=en", "--help"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* part :
       {"Usage: quillberry-cli [--data-dir DIR] [--lang zh|en] COMMAND", "download", "4 the data directory"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
}

// The help speaks the locale's language (the tests run in a Chinese one), and --lang
// overrides it; the options and commands themselves are never translated.
TEST(CommandLine, HelpInTheLocalesLanguage) {
  const QString window = WindowProcess::Program();
  const QString cli = QStringLiteral(QB_BINARY_DIR "/quillberry-cli");
  Outcome r = Headless(window, {"--help"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("用法: quillberry [--data-dir 目录] [--lang zh|en]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--verify-all"), std::string::npos) << r.out;
  r = Headless(cli, {"--help"});
  EXPECT_NE(r.out.find("命令:\n  extract   列出文本或网页中找到的代理\n"), std::string::npos) << r.out;
  r = Headless(cli, {"--help", "--lang", "en"});
  EXPECT_NE(r.out.find("Commands:\n  extract   print the proxies found"), std::string::npos) << r.out;
}

// The exit codes a script relies on: a mistake on the line is 2 and says which word it
// was; a window that cannot be shown is 1 and says why, instead of aborting.
TEST(CommandLine, MistakesAndAMissingDisplayEndWithTheDocumentedCodes) {
  const QString window = WindowProcess::Program();
  const QString cli = QStringLiteral(QB_BINARY_DIR "/quillberry-cli");
  TempDir data;

  Outcome r = Headless(window, {"--bogus"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("unknown option or argument: --bogus"), std::string::npos) << r.err;
  r = Headless(window, {"--lang", "fr"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("--lang fr: not a language of the interface"), std::string::npos) << r.err;
  r = Headless(window, {"--data-dir"});
  EXPECT_EQ(r.exitCode, 2) << r.err;

  r = Headless(window, {"--data-dir", QString::fromStdString(data.Path())});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err.rfind("quillberry: cannot open the window: there is no display", 0), 0u) << r.err;
  // A display named but not there: the platform's failure is turned into the same code.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  env.insert("DISPLAY", ":97");
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(window, {"--data-dir", QString::fromStdString(data.Path())});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 1);
  const std::string err = p.readAllStandardError().toStdString();
  EXPECT_NE(err.find("quillberry: cannot open the window: no display could be reached (DISPLAY=:97"),
            std::string::npos)
      << err;
  // Nothing was made in the data directory by a start that showed nothing.
  EXPECT_EQ(ReadFile(data.File("Setting.dat")), "<missing>");

  r = Headless(cli, {"--lang", "fr", "parse", "1.2.3.4:80@HTTP"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("--lang fr: not a language of the interface (use zh or en)"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
  r = Headless(cli, {"--bogus"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  r = Headless(cli, {"--data-dir", "/nonexistent", "settings"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(r.err, "settings: the data directory /nonexistent/ does not exist\n");
}

// The desktop entry's action reaches the running window, which verifies its list
// without being brought forward.
TEST(CommandLine, TheVerifyActionReachesTheRunningWindow) {
  if (!WindowProcess::Built()) GTEST_SKIP() << "not built";
  TempDir data;
  WriteFile(data.File("Setting.dat"),
            "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
            "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\nm_nConTimeout=1\r\n");
  // Nothing listens there: each row fails at once.
  const std::string http = "127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "@HTTP";
  const std::string socks = "127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "@SOCKS5";
  WriteFile(data.File("Proxies.pro"), http + "\r\n" + socks + "\r\n");
  WindowProcess window;
  ASSERT_TRUE(window.Start(data.Path()));
  QTest::qWait(500);
  ASSERT_EQ(ReadFile(data.File("Proxies.pro")).find("连接失败"), std::string::npos) << "verified unasked";

  QProcess action;
  action.setProcessEnvironment(window.Env());
  action.start(WindowProcess::Program(), {"--verify-all"});
  ASSERT_TRUE(action.waitForFinished(10000));
  EXPECT_EQ(action.exitCode(), 0) << action.readAllStandardError().toStdString();
  // The run ends by saving the list with its results.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const std::string list = ReadFile(data.File("Proxies.pro"));
        return list.find(http + "$连接失败") != std::string::npos &&
               list.find(socks + "$连接失败") != std::string::npos;
      },
      20000))
      << ReadFile(data.File("Proxies.pro"));
  EXPECT_EQ(window.Process().state(), QProcess::Running);
}

}  // namespace
