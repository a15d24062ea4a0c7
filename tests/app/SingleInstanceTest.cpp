#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "app/SingleInstance.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

QString UniqueKey() {
  return "QuillberryTest-" + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(SingleInstance, SecondClaimAsksTheFirstToShowItself) {
  const QString key = UniqueKey();
  CSingleInstance first(key);
  ASSERT_TRUE(first.Claim());
  QSignalSpy shown(&first, &CSingleInstance::ShowRequested);

  CSingleInstance second(key);
  EXPECT_FALSE(second.Claim());
  EXPECT_TRUE(shown.wait(3000));
}

TEST(SingleInstance, StaleSocketOfACrashedRunIsReplaced) {
  const QString key = UniqueKey();
  {
    // A server socket file left behind with nobody listening: simulate by listening
    // in a server that is then abandoned without a lock.
    QLocalServer leftover;
    ASSERT_TRUE(leftover.listen(CSingleInstance(key).ServerName()));
    leftover.close();
  }
  CSingleInstance instance(key);
  EXPECT_TRUE(instance.Claim());
  QSignalSpy shown(&instance, &CSingleInstance::ShowRequested);
  CSingleInstance again(key);
  EXPECT_FALSE(again.Claim());
  EXPECT_TRUE(shown.wait(3000));
}

// A later start in a thread of its own, as another process would be: the running
// instance answers on this thread's event loop meanwhile.
struct LaterStart {
  bool claimed = true;
  QString runningDataDir;
};
LaterStart StartAgain(const QString& key, const QString& dataDir) {
  LaterStart out;
  std::atomic<bool> done{false};
  std::thread t([&] {
    CSingleInstance s(key);
    s.SetDataDir(dataDir);
    out.claimed = s.Claim();
    out.runningDataDir = s.RunningDataDir();
    done = true;
  });
  QTest::qWaitFor([&] { return done.load(); }, 5000);
  t.join();
  return out;
}

// A later start learns which list the running instance has open, and the running
// one hears when another list was asked for.
TEST(SingleInstance, TheRunningInstanceNamesItsDataDirectory) {
  const QString key = UniqueKey();
  CSingleInstance first(key);
  first.SetDataDir("/data/one/");
  ASSERT_TRUE(first.Claim());
  QSignalSpy shown(&first, &CSingleInstance::ShowRequested);
  QSignalSpy other(&first, &CSingleInstance::OtherDataDirRequested);

  LaterStart same = StartAgain(key, "/data/one/");
  EXPECT_FALSE(same.claimed);
  EXPECT_EQ(same.runningDataDir, "/data/one/");
  EXPECT_TRUE(shown.count() == 1 || shown.wait(3000));
  EXPECT_EQ(other.count(), 0);

  LaterStart second = StartAgain(key, "/data/two/");
  EXPECT_FALSE(second.claimed);
  EXPECT_EQ(second.runningDataDir, "/data/one/");
  ASSERT_TRUE(other.count() == 1 || other.wait(3000));
  EXPECT_EQ(other[0][0].toString(), "/data/two/");
}

// The lock and the socket go only where nobody else can reach: a runtime directory
// that others may enter is passed over, and a planted fallback is refused.
TEST(SingleInstance, OnlyAPrivateDirectoryHoldsTheInstance) {
  qbtest::TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", QByteArray::fromStdString(tmp.Path()));
  qbtest::TempDir open;
  ASSERT_EQ(::chmod(open.Path().c_str(), 0777), 0);
  ScopedEnv runtime("XDG_RUNTIME_DIR", QByteArray::fromStdString(open.Path()));
  QString why;
  const auto dir = PrivateRuntimeDir(&why);
  ASSERT_TRUE(dir) << why.toStdString();
  const QString own =
      QStringLiteral("%1quillberry-%2/").arg(QString::fromStdString(tmp.Path())).arg(::getuid());
  EXPECT_EQ(*dir, own);
  struct stat st {};
  ASSERT_EQ(::stat(own.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Someone made the fallback open to all before us: refuse rather than use it.
  ASSERT_EQ(::chmod(own.toLocal8Bit().constData(), 0777), 0);
  EXPECT_FALSE(PrivateRuntimeDir(&why));
  EXPECT_NE(why.toStdString().find("quillberry-"), std::string::npos) << why.toStdString();
  CSingleInstance refused(UniqueKey());
  EXPECT_FALSE(refused.Claim());
  EXPECT_FALSE(refused.Error().isEmpty());
  ASSERT_EQ(::chmod(own.toLocal8Bit().constData(), 0700), 0);

  // A private runtime directory is used as it is.
  ASSERT_EQ(::chmod(open.Path().c_str(), 0700), 0);
  EXPECT_EQ(PrivateRuntimeDir(), QString::fromStdString(open.Path()));
}

}  // namespace
