#include <glib.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "base/ProgramDir.h"
#include "settings/AutoRun.h"
#include "settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

// What a desktop reads from the entry: the Exec value through GLib's key-file
// reader, field codes expanded, then split into arguments as GLib does.
std::vector<std::string> ExecArgv(const std::string& entryPath) {
  std::vector<std::string> out;
  GKeyFile* kf = g_key_file_new();
  if (!g_key_file_load_from_file(kf, entryPath.c_str(), G_KEY_FILE_NONE, nullptr)) {
    g_key_file_free(kf);
    return out;
  }
  gchar* exec = g_key_file_get_string(kf, "Desktop Entry", "Exec", nullptr);
  g_key_file_free(kf);
  if (!exec) return out;
  std::string expanded;
  for (const char* p = exec; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') ++p;
    expanded += *p;
  }
  g_free(exec);
  gchar** argv = nullptr;
  if (g_shell_parse_argv(expanded.c_str(), nullptr, &argv, nullptr)) {
    for (gchar** a = argv; *a; ++a) out.push_back(*a);
    g_strfreev(argv);
  }
  return out;
}

class AutoRun : public ::testing::Test {
 protected:
  std::string Entry() const { return home.Path() + "cfg/autostart/Quillberry.desktop"; }
  qbtest::TempDir home;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(home.Path() + "cfg")};
  qbtest::ScriptedPrompt prompt;
  CSettings settings;
};

TEST_F(AutoRun, WritesTheEntryWhenOnAndRemovesItWhenOff) {
  EXPECT_EQ(AutostartEntryPath(), Entry());
  ApplyAutoRun(settings, "/usr/lib/quillberry/quillberry");
  EXPECT_EQ(qbtest::ReadFile(Entry()),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Quillberry\n"
            "Exec=/usr/lib/quillberry/quillberry\n"
            "Terminal=false\n");
  settings.m_bAutoRun = 0;
  ApplyAutoRun(settings, "/usr/lib/quillberry/quillberry");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Entry())));
  ApplyAutoRun(settings);  // nothing to remove: still silent
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(AutoRun, WithoutAnAbsoluteConfigHomeTheEntryGoesUnderHome) {
  ScopedEnv homeVar("HOME", QByteArray::fromStdString(home.Path() + "h"));
  {
    ScopedEnv unset("XDG_CONFIG_HOME", QByteArray());
    EXPECT_EQ(AutostartEntryPath(), home.Path() + "h/.config/autostart/Quillberry.desktop");
  }
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg");
  ApplyAutoRun(settings, "/bin/q");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(home.Path() + "h/.config/autostart/Quillberry.desktop")));
}

TEST_F(AutoRun, ExecQuotesAndEscapesOnlyWhatNeedsIt) {
  EXPECT_EQ(DesktopExecValue("/usr/bin/quillberry"), "/usr/bin/quillberry");
  // A real reader gets every odd path back as one argument.
  const char* paths[] = {
      "/opt/my apps/quillberry", "/tmp/a$HOME/q", "/tmp/back\\slash/q",      "/tmp/quo\"te/q",
      "/tmp/tick`id`/q",         "/tmp/50%/q",    "/tmp/it's;(x)|&<>*?#~/q", "/tmp/tab\there/q",
      "/tmp/new\nline/q",        "/tmp/中文/q"};
  for (const char* path : paths) {
    ApplyAutoRun(settings, path);
    EXPECT_EQ(ExecArgv(Entry()), std::vector<std::string>{path}) << path;
  }
}

TEST_F(AutoRun, FailuresAreSilent) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home.Path() + "cfg")));
  qbtest::WriteFile(home.Path() + "cfg/autostart", "a file where the directory belongs");
  ApplyAutoRun(settings, "/bin/q");
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(qbtest::ReadFile(home.Path() + "cfg/autostart"), "a file where the directory belongs");
}

}  // namespace

namespace {

// At log-on the entry opens the list it was ticked from: another data directory
// travels as --data-dir (absolute, whatever its characters), the default one not.
TEST_F(AutoRun, TheEntryStartsTheListItWasTickedFrom) {
  qbtest::TempDir data;
  const std::string odd = data.Path() + "列表 \"$HOME\" 100%/";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(odd)));
  ApplyAutoRun(settings, "/bin/q", odd);
  EXPECT_EQ(ExecArgv(Entry()), (std::vector<std::string>{"/bin/q", "--data-dir", AbsoluteDataDir(odd)}));
  EXPECT_EQ(AbsoluteDataDir(odd).back(), '/');

  ApplyAutoRun(settings, "/bin/q", ProgramDir());
  EXPECT_EQ(ExecArgv(Entry()), std::vector<std::string>{"/bin/q"});
}

}  // namespace

namespace {

// Desktops skip an entry that their own checker refuses; the one made for a data
// directory with blanks, quotes and Chinese characters must pass it without a word.
TEST_F(AutoRun, TheEntryPassesTheDesktopsChecker) {
  const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
  if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
  ApplyAutoRun(settings, "/opt/my apps/quillberry", home.Path() + "数据 \"目录\"/");
  QProcess check;
  check.start(validator, {QString::fromStdString(Entry())});
  ASSERT_TRUE(check.waitForFinished(10000));
  EXPECT_EQ(check.exitCode(), 0);
  EXPECT_EQ(check.readAll().toStdString(), "");
}

}  // namespace
