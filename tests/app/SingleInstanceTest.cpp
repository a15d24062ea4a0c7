#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocalServer>
#include <QSignalSpy>
#include <QUuid>

#include "app/SingleInstance.h"

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
    ASSERT_TRUE(leftover.listen(key));
    leftover.close();
  }
  CSingleInstance instance(key);
  EXPECT_TRUE(instance.Claim());
  QSignalSpy shown(&instance, &CSingleInstance::ShowRequested);
  CSingleInstance again(key);
  EXPECT_FALSE(again.Claim());
  EXPECT_TRUE(shown.wait(3000));
}

}  // namespace
