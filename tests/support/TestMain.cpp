// Every test executable runs inside a QApplication on the offscreen platform, so
// that model, timer and window tests behave as they do in the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "base/CurlTransfer.h"

using namespace qb;

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The window and the command line speak the locale's language; the tests read their
  // Chinese texts, and those of the English interface ask for it themselves.
  ::setenv("LANGUAGE", "zh_CN", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  qb::CurlGlobal curl;
  // The icons and menus are compiled into the user-interface library.
  Q_INIT_RESOURCE(quillberry);
  return RUN_ALL_TESTS();
}
