// What a save may touch and who may read its result: the data directory can hold names
// planted by someone else, and Setting.dat can hold log-on names and passwords.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/Files.h"
#include "support/TempDir.h"

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

mode_t PermissionsOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TEST(AtomicSave, APlantedLinkIsReplacedAndItsTargetKeepsItsBytes) {
  TempDir outside;
  TempDir data;
  const std::string target = outside.File("precious");
  WriteFile(target, "kept bytes\n");
  ::chmod(target.c_str(), 0644);

  // Both ways of saving, each through a link of its own.
  const std::string whole = data.File("Setting.dat");
  const std::string pieces = data.File("Proxies.pro");
  std::filesystem::create_symlink(target, whole);
  std::filesystem::create_symlink(target, pieces);

  std::string error;
  EXPECT_TRUE(qb::WriteFileAtomically(whole, "new settings\r\n", &error)) << error;
  {
    qb::AtomicFileWriter writer(pieces);
    EXPECT_TRUE(writer.Write("1.2.3.4:80"));
    EXPECT_TRUE(writer.Write("\r\n"));
    EXPECT_TRUE(writer.Commit()) << writer.Error();
  }

  EXPECT_EQ(ReadFile(target), "kept bytes\n");
  EXPECT_EQ(PermissionsOf(target), 0644u);
  EXPECT_TRUE(IsRegularFile(whole));
  EXPECT_TRUE(IsRegularFile(pieces));
  EXPECT_EQ(ReadFile(whole), "new settings\r\n");
  EXPECT_EQ(ReadFile(pieces), "1.2.3.4:80\r\n");

  // A link to a file that does not exist yet is not a way to create one outside either.
  const std::string dangling = outside.File("not-yet");
  const std::string pac = data.File("proxy.pac");
  std::filesystem::create_symlink(dangling, pac);
  EXPECT_TRUE(qb::WriteFileAtomically(pac, "function FindProxyForURL(u, h) {}"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dangling)));
  EXPECT_TRUE(IsRegularFile(pac));
}

TEST(AtomicSave, FilesAreForTheOwnerOnlyAndAStricterOldModeIsKept) {
  TempDir data;
  const std::string fresh = data.File("Sources.dat");
  ASSERT_TRUE(qb::WriteFileAtomically(fresh, "a"));
  EXPECT_EQ(PermissionsOf(fresh), 0600u);

  // An old file readable by everyone is narrowed.
  const std::string wide = data.File("Setting.dat");
  WriteFile(wide, "old");
  ::chmod(wide.c_str(), 0666);
  ASSERT_TRUE(qb::WriteFileAtomically(wide, "new"));
  EXPECT_EQ(PermissionsOf(wide), 0600u);
  EXPECT_EQ(ReadFile(wide), "new");

  // An old read-only file stays read-only, for the streaming writer too.
  const std::string strict = data.File("Proxies.pro");
  WriteFile(strict, "old");
  ::chmod(strict.c_str(), 0400);
  {
    qb::AtomicFileWriter writer(strict);
    EXPECT_TRUE(writer.Write("new"));
    EXPECT_TRUE(writer.Commit()) << writer.Error();
  }
  EXPECT_EQ(PermissionsOf(strict), 0400u);
  EXPECT_EQ(ReadFile(strict), "new");

  // A link's target's mode is not copied.
  TempDir outside;
  const std::string target = outside.File("shared");
  WriteFile(target, "x");
  ::chmod(target.c_str(), 0644);
  const std::string linked = data.File("proxy.pac");
  std::filesystem::create_symlink(target, linked);
  ASSERT_TRUE(qb::WriteFileAtomically(linked, "y"));
  EXPECT_EQ(PermissionsOf(linked), 0600u);
}
