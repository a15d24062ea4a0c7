#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    lines.push_back(text.substr(pos, nl - pos));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return lines;
}

class CliSettings : public ::testing::Test {
 protected:
  qbtest::TempDir data;
  qbtest::TempDir home;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(home.Path() + "cfg")};
  ScopedEnv homeVar{"HOME", QByteArray::fromStdString(home.Path())};
};

TEST_F(CliSettings, FirstRunInstallsTheResourcesAndPrintsSettingsThenResources) {
  auto r = qbtest::RunCli({"settings", "--data-dir", data.Path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("没有验证资源，将自动装载缺省设置。"), std::string::npos) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 21u) << r.out;
  EXPECT_EQ(lines[0], "m_nThreadNumber=50");
  EXPECT_EQ(lines[9], "m_nFavorites=6");
  EXPECT_EQ(lines[10], "1\t中文Google\thttp://www.google.com/intl/zh-CN/\t手气不错");
  EXPECT_EQ(lines[11], "0\tMicrosoft Corporation\thttp://www.microsoft.com\tMicrosoft Corporation");
  EXPECT_NE(qbtest::ReadFile(data.File("Setting.dat")), "<missing>");
  // The command line never touches autorun, although it is on by default.
  EXPECT_FALSE(
      QDirIterator(QString::fromStdString(home.Path()), QDir::Files, QDirIterator::Subdirectories).hasNext());

  auto again = qbtest::RunCli({"--data-dir", data.Path(), "settings"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(again.out, r.out);
}

TEST_F(CliSettings, PrintsWhatTheFileHoldsAndReportsAnUnreadableFile) {
  qbtest::WriteFile(data.File("Setting.dat"), "m_nThreadNumber=7\r\nR@ftp://r%x$0\r\nS@s.example%y z$\r\n");
  auto r = qbtest::RunCli({"settings", "--data-dir", data.Path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 12u) << r.out;
  EXPECT_EQ(lines[0], "m_nThreadNumber=7");
  EXPECT_EQ(lines[10], "0\tR\tftp://r\tx");
  EXPECT_EQ(lines[11], "1\tS\thttp://s.example\ty z");

  qbtest::TempDir broken;
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(broken.File("Setting.dat"))));
  auto bad = qbtest::RunCli({"settings", "--data-dir", broken.Path()});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("打开设置文件失败！"), std::string::npos) << bad.err;

  EXPECT_EQ(qbtest::RunCli({"settings", "extra", "--data-dir", data.Path()}).exitCode, 2);
}

TEST_F(CliSettings, FirstStartThatCannotSaveNamesTheFileAndStillPrints) {
  // No such directory: the built-in resources cannot be saved into it.
  const std::string missing = data.File("not/there/");
  const auto r = qbtest::RunCli({"settings", "--data-dir", missing});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("settings: cannot write " + missing + "Setting.dat"), std::string::npos) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 21u) << r.out;
  EXPECT_FALSE(QDir(QString::fromStdString(missing)).exists());
}

TEST_F(CliSettings, AFileWithoutResourcesIsKeptBeforeTheBuiltInOnesReplaceIt) {
  // A file the user mistyped holds settings but no resource line that reads.
  const std::string typed = "m_nThreadNumber=7\r\nR ftp://r x\r\n";
  qbtest::WriteFile(data.File("Setting.dat"), typed);
  const auto r = qbtest::RunCli({"settings", "--data-dir", data.Path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const QStringList kept =
      QDir(QString::fromStdString(data.Path())).entryList({"Setting.dat.damaged-*"}, QDir::Files);
  ASSERT_EQ(kept.size(), 1) << r.err;
  EXPECT_EQ(qbtest::ReadFile(data.File(kept[0].toStdString())), typed);
  EXPECT_NE(r.err.find("原来的 Setting.dat 已另存为 " + data.File(kept[0].toStdString())), std::string::npos)
      << r.err;
  EXPECT_EQ(Lines(r.out).size(), 21u) << r.out;

  // The file now holds the built-in resources: nothing more is kept at the next start.
  const auto again = qbtest::RunCli({"settings", "--data-dir", data.Path()});
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(
      QDir(QString::fromStdString(data.Path())).entryList({"Setting.dat.damaged-*"}, QDir::Files).size(), 1);
}

}  // namespace
