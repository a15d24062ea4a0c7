// Where the data files go when the program's own directory cannot hold them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include "base/ProgramDir.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// The user's data directory is the user's alone: made 0700, tightened when an older
// version left it open, and refused when it is not a real directory of this user.
TEST(DataDir, TheUsersDirectoryIsPrivateOrRefused) {
  qbtest::TempDir base;
  ScopedEnv xdg("XDG_DATA_HOME", QByteArray::fromStdString(base.Path() + "share"));
  const std::string dir = base.Path() + "share/Quillberry/";

  std::string why;
  EXPECT_EQ(UserDataDir(&why), dir) << why;
  EXPECT_EQ(ModeOf(dir) & 0777, 0700u);

  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  EXPECT_EQ(UserDataDir(&why), dir) << why;
  EXPECT_EQ(ModeOf(dir) & 0777, 0700u);

  // Another user's directory in its place.
  ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  EXPECT_EQ(UserDataDir(&why), "");
  EXPECT_NE(why.find(dir), std::string::npos) << why;
  ASSERT_TRUE(QDir(QString::fromStdString(dir)).removeRecursively());

  // A link planted where the directory belongs, pointing elsewhere.
  qbtest::TempDir elsewhere;
  ASSERT_EQ(::symlink(elsewhere.Path().c_str(), (base.Path() + "share/Quillberry").c_str()), 0);
  EXPECT_EQ(UserDataDir(&why), "");
  EXPECT_NE(why.find("not a directory of this user"), std::string::npos) << why;
}

TEST(DataDir, AGivenDirectoryWinsAndTheDefaultIsRecognisedHoweverSpelled) {
  qbtest::TempDir d;
  EXPECT_EQ(ChooseDataDir(d.Path().substr(0, d.Path().size() - 1)), d.Path());
  EXPECT_EQ(ChooseDataDir(std::nullopt), ProgramDir());
  EXPECT_TRUE(IsDefaultDataDir(ProgramDir() + "./"));
  EXPECT_FALSE(IsDefaultDataDir(d.Path()));
}

}  // namespace

namespace {

// A program run from where it was built (or unpacked) keeps its data beside it; an
// installed one, whose directory every user shares, never does.
TEST(DataDir, AnInstalledProgramKeepsTheDataInTheUsersDirectory) {
  qbtest::TempDir prefix, base;
  ScopedEnv xdg("XDG_DATA_HOME", QByteArray::fromStdString(base.Path() + "share"));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(prefix.Path() + "bin")));
  EXPECT_EQ(ProgramDirFor(prefix.Path() + "bin"), prefix.Path() + "bin/");

  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(prefix.Path() + kInstalledShareDir)));
  EXPECT_EQ(ProgramDirFor(prefix.Path() + "bin"), base.Path() + "share/Quillberry/");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(prefix.Path() + "bin/Setting.dat")));
}

}  // namespace
