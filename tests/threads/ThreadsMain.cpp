// The tests of the code that runs on several threads. They need no window, so this
// executable links the core alone, and it is the one ThreadSanitizer builds: the
// installed Qt is not built for it, so everything judged here runs on plain threads
// and never through a queued signal.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "base/CurlTransfer.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  qb::CurlGlobal curl;
  if (!curl.Ok()) return 2;
  return RUN_ALL_TESTS();
}
