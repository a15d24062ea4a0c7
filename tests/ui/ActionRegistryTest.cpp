// The registry of named commands on its own: a button, a menu item and a key are views
// of one action, each enabled while it is, each running it only while it may run.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <memory>

#include "ui/ActionRegistry.h"
#include "ui/OwnerDrawMenu.h"

using namespace qb;

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    actions.Add(QStringLiteral("remove"), &window, [this] { ++removed; });
    actions.Add(QStringLiteral("stop"), &window, [this] { ++stopped; });
  }

  QWidget window;
  ActionRegistry actions;
  int removed = 0;
  int stopped = 0;
};

TEST_F(Registry, ANameIsRegisteredOnceAndRunsOnlyWhileEnabled) {
  EXPECT_EQ(actions.Add(QStringLiteral("remove")), nullptr);  // the first stays
  EXPECT_EQ(actions.Names(), QStringList({"remove", "stop"}));
  EXPECT_EQ(actions.Action("remove")->objectName(), "remove");
  EXPECT_EQ(actions.Action("missing"), nullptr);
  EXPECT_FALSE(actions.Trigger("missing"));

  EXPECT_TRUE(actions.Trigger("remove"));
  EXPECT_EQ(removed, 1);
  actions.SetEnabled({"remove", "stop"}, false);
  EXPECT_FALSE(actions.Trigger("remove"));
  EXPECT_FALSE(actions.Trigger("stop"));
  // Not even a trigger of the action itself gets past the lock.
  actions.Action("remove")->trigger();
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(stopped, 0);
}

TEST_F(Registry, AButtonFollowsItsActionAndLocksItWhenSwitchedDirectly) {
  auto* button = new QPushButton(&window);
  actions.BindButton(button, "remove");
  EXPECT_EQ(actions.ActionOf(button), "remove");
  button->click();
  EXPECT_EQ(removed, 1);

  actions.SetEnabled("remove", false);
  EXPECT_FALSE(button->isEnabled());
  actions.SetEnabled("remove", true);
  EXPECT_TRUE(button->isEnabled());

  // Switched off by hand, the button takes its command with it, and back.
  button->setEnabled(false);
  EXPECT_FALSE(actions.IsEnabled("remove"));
  button->setEnabled(true);
  EXPECT_TRUE(actions.IsEnabled("remove"));

  // Greyed with its window, the button has not locked its command.
  window.setEnabled(false);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(actions.IsEnabled("remove"));
  window.setEnabled(true);
}

TEST_F(Registry, ABoundAgainButtonRunsAndFollowsOnlyItsNewAction) {
  auto* button = new QPushButton(&window);
  actions.BindButton(button, "remove");
  actions.SetEnabled("stop", false);
  actions.BindButton(button, "stop");
  EXPECT_EQ(actions.ActionOf(button), "stop");
  EXPECT_FALSE(button->isEnabled());
  // Taking the new action's state did not write it into the old action.
  EXPECT_TRUE(actions.IsEnabled("remove"));
  actions.SetEnabled("remove", false);
  actions.SetEnabled("stop", true);
  EXPECT_TRUE(button->isEnabled());
  button->click();
  EXPECT_EQ(stopped, 1);
  EXPECT_EQ(removed, 0);
}

TEST_F(Registry, AKeyRunsItsActionOrIsSwallowedWhileTheActionIsLocked) {
  auto* view = new QTableView(&window);
  actions.BindKeys(view, {{QKeySequence::Delete, {}, QStringLiteral("remove")},
                          {QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_F5)}, QStringLiteral("stop")}});
  QTest::keyClick(view, Qt::Key_Delete);
  QTest::keyClick(view, Qt::Key_F5);
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(stopped, 1);
  // A plain key is matched with its modifiers: Ctrl+F5 is not F5.
  QTest::keyClick(view, Qt::Key_F5, Qt::ControlModifier);
  EXPECT_EQ(stopped, 1);

  actions.SetEnabled("remove", false);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  EXPECT_EQ(actions.ActionOfKey(view, press), "remove");
  QTest::keyClick(view, Qt::Key_Delete);
  EXPECT_EQ(removed, 1);
  // Other widgets' keys are not the registry's.
  QWidget other(&window);
  EXPECT_TRUE(actions.ActionOfKey(&other, press).isEmpty());
}

TEST_F(Registry, AMenuItemFollowsItsActionAndRunsItOnceTheMenuHasClosed) {
  OwnerDrawMenu menu;
  menu.LoadMenuTemplate({{"删除", 0, 7, {}}, {"", 0, 0, {}}, {"其他", 0, 8, {}}});
  const MenuCommandNames names = [](int command) {
    return command == 7 ? QStringLiteral("remove") : QString();
  };
  actions.SetEnabled("remove", false);
  actions.BindMenu(menu, names, ActionRegistry::MenuChoice::Dispatched);
  EXPECT_FALSE(menu.ItemOfCommand(7)->isEnabled());
  EXPECT_TRUE(menu.ItemOfCommand(8)->isEnabled());  // no action: left as it was
  actions.SetEnabled("remove", true);
  EXPECT_TRUE(menu.ItemOfCommand(7)->isEnabled());

  menu.ItemOfCommand(7)->trigger();
  EXPECT_EQ(removed, 0);  // queued behind the menu's own handling
  QCoreApplication::processEvents();
  EXPECT_EQ(removed, 1);
  menu.ItemOfCommand(8)->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(removed, 1);
}

}  // namespace
