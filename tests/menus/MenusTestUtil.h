// Shared helpers of the menu tests: resources, shown menus and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTest>

#include <vector>

#include "ui/OwnerDrawMenu.h"
#include "ui/Resources.h"

using namespace qb;

namespace mtest {

class MenuTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qb::InitResources(); }
  void SetUp() override {
    saved = OwnerDrawMenu::Settings();
    OwnerDrawMenu::SetFlatStyle(true);
  }
  void TearDown() override { OwnerDrawMenu::Settings() = saved; }

  OwnerDrawMenuSettings saved;
};

// The texts of a menu's items, separators as "-".
inline std::vector<QString> Texts(const QMenu& menu) {
  std::vector<QString> out;
  for (const QAction* a : menu.actions()) out.push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

// Shows a menu and waits until it is on screen, so that its geometry is final.
inline void ShowMenu(QMenu& menu, QPoint at = QPoint(40, 40)) {
  menu.popup(at);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
}

// The menu as it is drawn now; also saved under the build directory for a person to
// look at.
inline QImage Screenshot(QMenu& menu, const QString& name) {
  const QImage image = menu.grab().toImage();
  const QString dir = QStringLiteral(QB_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  EXPECT_TRUE(image.save(dir + "/" + name + ".png")) << name.toStdString();
  return image;
}

}  // namespace mtest
