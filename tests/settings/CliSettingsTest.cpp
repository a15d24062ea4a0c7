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

// A command never writes the settings: the window's first start saves them once the
// user has chosen, and would not be a first start any more if a command had.
TEST_F(CliSettings, WithoutSettingsPrintsTheBuiltInOnesAndWritesNothing) {
  auto r = qbtest::RunCli({"settings", "--data-dir", data.Path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "settings: no Setting.dat in " + data.Path() +
                       " yet: these are the built-in settings and resources (nothing was written)\n");
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 21u) << r.out;
  EXPECT_EQ(lines[0], "m_nThreadNumber=50");
  EXPECT_EQ(lines[9], "m_nFavorites=6");
  EXPECT_EQ(lines[10], "1\t中文Google\thttp://www.google.com/intl/zh-CN/\t手气不错");
  EXPECT_EQ(lines[11], "0\tMicrosoft Corporation\thttp://www.microsoft.com\tMicrosoft Corporation");
  EXPECT_EQ(qbtest::ReadFile(data.File("Setting.dat")), "<missing>");
  // The command line never touches autorun, although it is on by default.
  EXPECT_FALSE(
      QDirIterator(QString::fromStdString(home.Path()), QDir::Files, QDirIterator::Subdirectories).hasNext());

  auto again = qbtest::RunCli({"--data-dir", data.Path(), "settings"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err, r.err);
  EXPECT_EQ(again.out, r.out);

  // A file that lost its resources is printed with the built-in ones, and left as it is.
  qbtest::WriteFile(data.File("Setting.dat"), "m_nThreadNumber=7\r\n");
  auto mended = qbtest::RunCli({"--data-dir", data.Path(), "settings"});
  EXPECT_EQ(mended.exitCode, 0);
  EXPECT_NE(mended.err.find("Setting.dat holds no verification resource"), std::string::npos) << mended.err;
  EXPECT_EQ(Lines(mended.out).size(), 21u);
  EXPECT_EQ(Lines(mended.out)[0], "m_nThreadNumber=7");
  EXPECT_EQ(qbtest::ReadFile(data.File("Setting.dat")), "m_nThreadNumber=7\r\n");
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

// A directory named on the line that is not there is a mistake on the line: said, and
// nothing is made.
TEST_F(CliSettings, ADataDirectoryThatDoesNotExistIsBadUsage) {
  const std::string missing = data.File("not/there/");
  const auto r = qbtest::RunCli({"settings", "--data-dir", missing});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "settings: the data directory " + missing + " does not exist\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(QDir(QString::fromStdString(missing)).exists());
  // A file where the directory should be is no directory either.
  qbtest::WriteFile(data.File("plain"), "x");
  EXPECT_EQ(qbtest::RunCli({"--data-dir", data.File("plain"), "history"}).exitCode, 2);
  // Commands that need no data directory do not look at it.
  const auto parsed = qbtest::RunCli({"--data-dir", missing, "parse", "1.2.3.4:80"});
  EXPECT_EQ(parsed.exitCode, 0) << parsed.err;
}

}  // namespace
