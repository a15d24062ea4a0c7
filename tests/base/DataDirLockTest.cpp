// The lock of a data directory, the messages of the window's socket, and how a
// process tells its own saves from another program's.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include <string>

#include "base/Files.h"
#include "base/InstanceLink.h"
#include "datadir/DataDir.h"
#include "support/TempDir.h"

using namespace qb;
using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

TEST(DataDirLock, OneWriterAtATimeAndALockOfADeadProcessIsTakenOver) {
  TempDir dir;
  const std::string lockFile = dir.File(".quillberry.lock");
  DataDir::OpenOptions quick;
  quick.lockWaitMs = 50;
  std::string lockText;
  {
    DataDir::OpenReport first;
    const auto writer = DataDir::Open(dir.Path(), DataDir::Access::Write, &first, quick);
    ASSERT_EQ(first.holder, DataDir::Holder::Us);
    EXPECT_TRUE(writer->Writable());
    lockText = ReadFile(lockFile);

    DataDir::OpenReport second;
    const auto other = DataDir::Open(dir.Path(), DataDir::Access::Write, &second, quick);
    EXPECT_EQ(second.holder, DataDir::Holder::Command);
    EXPECT_FALSE(other->Writable());
    EXPECT_NE(second.holderText.find("(process " + std::to_string(::getpid()) + ")"), std::string::npos)
        << second.holderText;
    // A reader takes nothing and is refused nothing.
    DataDir::OpenReport reader;
    (void)DataDir::Open(dir.Path(), DataDir::Access::Read, &reader);
    EXPECT_EQ(reader.holder, DataDir::Holder::None);
  }
  // Let go with its holder.
  EXPECT_EQ(ReadFile(lockFile), "<missing>");

  // The same lock, left by a process that has ended.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::size_t firstLineEnd = lockText.find('\n');
  ASSERT_NE(firstLineEnd, std::string::npos);
  WriteFile(lockFile, std::to_string(child) + lockText.substr(firstLineEnd));
  DataDir::OpenReport later;
  (void)DataDir::Open(dir.Path(), DataDir::Access::Write, &later, quick);
  EXPECT_EQ(later.holder, DataDir::Holder::Us);
}

// A writer killed between making its lock file and naming itself in it leaves an
// empty file, which named no one and so kept every writer out for good.
TEST(DataDirLock, AnUnnamedLockIsTakenOverOnceNoOneHoldsItAndItHasAged) {
  TempDir dir;
  const std::string lockFile = dir.File(".quillberry.lock");
  DataDir::OpenOptions quick;
  quick.lockWaitMs = 50;
  const auto age = [&](int seconds) {
    const timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, lockFile.c_str(), times, 0), 0);
  };
  const auto open = [&](const DataDir::OpenOptions& options) {
    DataDir::OpenReport report;
    (void)DataDir::Open(dir.Path(), DataDir::Access::Write, &report, options);
    return report.holder;
  };
  WriteFile(lockFile, "");
  age(10);
  EXPECT_EQ(open(quick), DataDir::Holder::Us);
  EXPECT_EQ(ReadFile(lockFile), "<missing>");

  // One that a live writer holds (its flock) is its, however old and empty.
  WriteFile(lockFile, "");
  age(10);
  const int held = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(open(quick), DataDir::Holder::Command);
  EXPECT_EQ(ReadFile(lockFile), "");
  ::close(held);

  // A fresh one may be a writer's that is naming itself right now: left until it ages.
  WriteFile(lockFile, "");
  EXPECT_EQ(open(quick), DataDir::Holder::Command);
  EXPECT_EQ(ReadFile(lockFile), "");
  DataDir::OpenOptions patient;
  patient.lockWaitMs = 1500;
  EXPECT_EQ(open(patient), DataDir::Holder::Us);

  // A lock that names a live process stays its, however old.
  WriteFile(lockFile, std::to_string(::getpid()) + "\n" +
                          QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString() + "\n");
  age(10);
  EXPECT_EQ(open(quick), DataDir::Holder::Command);
  ::unlink(lockFile.c_str());
}

// What no writer can have made at the lock's name is no lock: it is said, not waited on.
TEST(DataDirLock, APipeOrAFolderAtTheLocksNameIsALockThatCannotBeMade) {
  TempDir dir;
  const std::string lockFile = dir.File(".quillberry.lock");
  ASSERT_EQ(::mkfifo(lockFile.c_str(), 0600), 0);
  DataDir::OpenReport pipe;
  (void)DataDir::Open(dir.Path(), DataDir::Access::Write, &pipe);
  EXPECT_EQ(pipe.holder, DataDir::Holder::NoLock);
  EXPECT_NE(pipe.error.find("something other than a file"), std::string::npos) << pipe.error;
  ASSERT_EQ(::unlink(lockFile.c_str()), 0);
  ASSERT_EQ(::mkdir(lockFile.c_str(), 0700), 0);
  DataDir::OpenReport folder;
  (void)DataDir::Open(dir.Path(), DataDir::Access::Write, &folder);
  EXPECT_EQ(folder.holder, DataDir::Holder::NoLock);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(lockFile)).isDir());
}

TEST(DataDirLock, ADirectoryThatCannotTakeTheLockFileSaysWhy) {
  DataDir::OpenReport report;
  const auto proc = DataDir::Open("/proc/", DataDir::Access::Write, &report);
  EXPECT_EQ(report.holder, DataDir::Holder::NoLock);
  EXPECT_NE(report.error.find("/proc/.quillberry.lock"), std::string::npos) << report.error;
  // Its saves then say for themselves what cannot be written.
  EXPECT_TRUE(proc->Writable());
}

TEST(InstanceLink, MessagesAreTakenWholeHoweverTheBytesArrive) {
  const QByteArray bytes =
      EncodeLinkMessage({{link::kAdd, "/data/", "2"}, {"1.2.3.4:80@HTTP", "5.6.7.8:1080\nx"}}) +
      EncodeLinkMessage({{link::kShow, "/data/"}, {}}) +
      EncodeLinkMessage({{link::kAdded, "0", "cannot write"}, {}});
  for (qsizetype step : {qsizetype{1}, qsizetype{7}, bytes.size()}) {
    LinkReader reader;
    std::vector<LinkMessage> got;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
      reader.Append(bytes.mid(at, step));
      while (std::optional<LinkMessage> m = reader.Take()) got.push_back(*m);
    }
    ASSERT_EQ(got.size(), 3u) << step;
    EXPECT_EQ(got[0].Verb(), link::kAdd);
    EXPECT_EQ(got[0].Field(1), "/data/");
    // A line break inside a line cannot end the message early.
    EXPECT_EQ(got[0].body, (QList<QByteArray>{"1.2.3.4:80@HTTP", "5.6.7.8:1080 x"}));
    EXPECT_EQ(got[1].header, (QList<QByteArray>{"show", "/data/"}));
    EXPECT_TRUE(got[1].body.isEmpty());
    EXPECT_EQ(got[2].Field(2), "cannot write");
  }
  // A count that is no number carries no body: the next line is a message of its own.
  LinkReader reader;
  reader.Append("add\t/d/\tmany\nshow\t/d/\n");
  EXPECT_EQ(reader.Take()->Verb(), link::kAdd);
  EXPECT_EQ(reader.Take()->Verb(), link::kShow);
  EXPECT_FALSE(reader.Take());
}

TEST(FileIdentity, OwnSavesAreToldFromAnotherProgramsWrites) {
  TempDir dir;
  const std::string path = dir.File("Proxies.pro");
  EXPECT_FALSE(StatFileIdentity(path));
  EXPECT_FALSE(OwnSavedIdentity(path));
  ASSERT_TRUE(WriteFileAtomically(path, "one\r\n"));
  ASSERT_TRUE(StatFileIdentity(path));
  EXPECT_EQ(StatFileIdentity(path), OwnSavedIdentity(path));
  ASSERT_TRUE(WriteFileAtomically(path, "two\r\n"));
  EXPECT_EQ(StatFileIdentity(path), OwnSavedIdentity(path));

  // Written in place: another version of the same file.
  WriteFile(path, "three\r\n");
  EXPECT_NE(StatFileIdentity(path), OwnSavedIdentity(path));
  // Replaced by another program's file.
  WriteFile(path + ".new", "two\r\n");
  ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_NE(StatFileIdentity(path), OwnSavedIdentity(path));
}

}  // namespace
