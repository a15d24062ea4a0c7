#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QStyleOptionMenuItem>
#include <QTest>

#include "MenusTestUtil.h"
#include "support/TempDir.h"
#include "ui/MenuResource.h"
#include "ui/OwnerDrawMenu.h"

using namespace qb;

namespace {

using mtest::MenuTest;
using mtest::Texts;

// --- Layout files ----------------------------------------------------------------

TEST(MenuLayout, ParsesPopupsOptionsAndEscapes) {
  const char* text =
      "# comment\r\n"
      "POPUP \"Top\"\r\n"
      "BEGIN\r\n"
      "  MENUITEM \"复制代理 (&C) \", 32771\r\n"
      "  MENUITEM SEPARATOR\r\n"
      "  MENUITEM \"Say \\\"hi\\\"\\tCtrl+H\", 7, GRAYED, CHECKED\r\n"
      "  POPUP \"Inner\"\n"
      "  {\n"
      "    MENUITEM \"Deep\", 9, DISABLED\n"
      "  }\n"
      "END\n"
      "POPUP \"Second\"\nBEGIN\nEND";
  std::string error;
  const auto items = ParseMenuTemplate(text, &error);
  ASSERT_TRUE(items) << error;
  ASSERT_EQ(items->size(), 2u);
  const MenuTemplateItem& top = (*items)[0];
  EXPECT_EQ(top.text, "Top");
  EXPECT_EQ(top.flags, kMenuPopup);
  ASSERT_EQ(top.children.size(), 4u);
  EXPECT_EQ(top.children[0].text, "复制代理 (&C) ");  // the trailing blank is kept
  EXPECT_EQ(top.children[0].command, 32771);
  EXPECT_EQ(top.children[1].flags, kMenuSeparator);
  EXPECT_EQ(top.children[2].text, "Say \"hi\"\tCtrl+H");
  EXPECT_EQ(top.children[2].flags, kMenuGrayed | kMenuChecked);
  ASSERT_EQ(top.children[3].children.size(), 1u);
  EXPECT_EQ(top.children[3].children[0].flags, kMenuDisabled);
  EXPECT_TRUE((*items)[1].children.empty());
}

TEST(MenuLayout, RefusesBrokenLayoutsAndSaysWhere) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"POPUP \"a\"\nBEGIN\nMENUITEM \"x\", 1\n", "line 3"},     // never closed
      {"MENUITEM \"x\", 1\nEND\n", "line 2"},                    // END without POPUP
      {"POPUP \"a\"\nBEGIN\nMENUITEM \"x, 1\nEND\n", "line 3"},  // open quote
      {"MENUITEM \"x\", 70000\n", "line 1"},                     // command out of range
      {"MENUITEM \"x\", 1, BOLD\n", "line 1"},                   // unknown option
      {"MENUITEM \"bad \\q\", 1\n", "line 1"},                   // unknown escape
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseMenuTemplate(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.line), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(MenuLayout, ToolbarStripNumbersImagesAndSkipsSeparators) {
  const auto strip = ParseToolbarTemplate("# x\n5 a.svg\nSEPARATOR\n6  dir/b c.svg \n");
  ASSERT_TRUE(strip);
  ASSERT_EQ(strip->buttons.size(), 3u);
  EXPECT_EQ(strip->buttons[1].command, 0);
  EXPECT_EQ(strip->buttons[2].command, 6);
  EXPECT_EQ(strip->buttons[2].image, 1);
  EXPECT_EQ(strip->images, (std::vector<std::string>{"a.svg", "dir/b c.svg"}));
  EXPECT_FALSE(ParseToolbarTemplate("5\n"));
  EXPECT_FALSE(ParseToolbarTemplate("0 a.svg\n"));
  EXPECT_FALSE(ParseToolbarTemplate("x a.svg\n"));
}

// --- Menus built from the resources ----------------------------------------------

// The image of an icon as the menus draw it.
QImage ImageOf(const QIcon& icon) {
  return icon.pixmap(QSize(16, 15)).toImage();
}

TEST_F(MenuTest, ContextMenuFromItsLayoutAndStrip) {
  OwnerDrawMenu menu;
  ASSERT_TRUE(menu.LoadMenuResource(IDR_LISTMENU));
  ASSERT_TRUE(menu.LoadToolbarImages(IDR_LISTBAR));
  OwnerDrawMenu* popup = menu.GetSubMenu(0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->title(), "在代理列表中点击鼠标右键");
  EXPECT_EQ(Texts(*popup), (std::vector<QString>{"复制代理 (&C) ", "设为IE代理 (&S) ", "-", "验证选定 (&V) ",
                                                 "-", "修改选定 (&M) ", "删除选定 (&D) ", "-", "全选 (&A)"}));

  const int commands[] = {32771, 1009, 1002, 1041, 1039, 32791};
  const char* files[] = {"cmd-copy",   "cmd-setproxy", "cmd-verify",
                         "cmd-modify", "cmd-delete",   "cmd-selectall"};
  for (int i = 0; i < 6; ++i) {
    QAction* a = menu.ItemOfCommand(commands[i]);
    ASSERT_NE(a, nullptr) << commands[i];
    EXPECT_EQ(menu.CommandOf(a), commands[i]);
    ASSERT_FALSE(a->icon().isNull()) << commands[i];
    EXPECT_EQ(ImageOf(a->icon()), ImageOf(QIcon(QStringLiteral(":/icons/%1.svg").arg(files[i])))) << files[i];
  }
  // The records know the image by its position in the strip.
  int withImage = 0;
  for (const OwnerDrawMenuItem& item : popup->Items()) {
    EXPECT_TRUE(item.flags & kMenuOwnerDraw);
    if (item.command == 0) {
      EXPECT_EQ(item.imageIndex, -1);
      continue;
    }
    EXPECT_EQ(item.imageIndex, withImage++);
  }
  EXPECT_EQ(withImage, 6);
}

TEST_F(MenuTest, TrayMenuFromItsLayoutAndStrip) {
  OwnerDrawMenu menu;
  ASSERT_TRUE(menu.LoadMenuResource(IDR_TRAYMENU));
  ASSERT_TRUE(menu.LoadToolbarImages(IDR_TRAYBAR));
  OwnerDrawMenu* popup = menu.GetSubMenu(0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->title(), "托盘菜单");
  EXPECT_EQ(Texts(*popup),
            (std::vector<QString>{"关于『Ostrel代理验证』", "-", "退出", "弹出对话框", "-", "取消IE代理"}));
  EXPECT_FALSE(menu.ItemOfCommand(100)->icon().isNull());
  EXPECT_FALSE(menu.ItemOfCommand(1011)->icon().isNull());
  EXPECT_FALSE(menu.ItemOfCommand(32784)->icon().isNull());
  EXPECT_TRUE(menu.ItemOfCommand(32783)->icon().isNull());  // exit has no image in the strip
  EXPECT_EQ(menu.GetSubMenu(1), nullptr);
}

TEST_F(MenuTest, MissingLayoutOrImageLoadsNothing) {
  OwnerDrawMenu menu;
  EXPECT_FALSE(menu.LoadMenuResource(4711));
  EXPECT_TRUE(menu.actions().isEmpty());

  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("m.menu"), "MENUITEM \"a\", 5\nMENUITEM \"b\", 6\n");
  qbtest::WriteFile(dir.File("good.svg"),
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"15\"><rect width=\"16\" "
                    "height=\"15\" fill=\"#f00\"/></svg>");
  qbtest::WriteFile(dir.File("bad.toolbar"), "5 good.svg\n6 missing.svg\n");
  qbtest::WriteFile(dir.File("good.toolbar"), "SEPARATOR\n6 good.svg\n99 good.svg\n");
  ASSERT_TRUE(menu.LoadMenuFile(QString::fromStdString(dir.File("m.menu"))));
  EXPECT_FALSE(menu.LoadToolbarFile(QString::fromStdString(dir.File("bad.toolbar"))));
  EXPECT_TRUE(menu.ItemOfCommand(5)->icon().isNull());
  // Images are found beside the strip; buttons of commands the menu lacks are skipped.
  ASSERT_TRUE(menu.LoadToolbarFile(QString::fromStdString(dir.File("good.toolbar"))));
  EXPECT_TRUE(menu.ItemOfCommand(5)->icon().isNull());
  EXPECT_FALSE(menu.ItemOfCommand(6)->icon().isNull());
  EXPECT_EQ(menu.Items()[1].imageIndex, 0);
}

// --- Items -----------------------------------------------------------------------

TEST_F(MenuTest, AppendInsertPopupsAndStates) {
  OwnerDrawMenu menu;
  menu.AppendItem("first", 0, 11);
  menu.AppendItem(QString(), 0, 0);  // command 0: a separator
  menu.AppendItem("last", kMenuGrayed, 13);
  menu.InsertItem(1, "inserted", kMenuByPosition | kMenuChecked, 12);
  menu.InsertItem(-1, "end", 0, 14);
  menu.InsertItem(99, "past the end", 0, 15);
  QAction* popupAction = menu.AppendItem("sub", kMenuPopup, 0);
  auto* sub = qobject_cast<OwnerDrawMenu*>(popupAction->menu());
  ASSERT_NE(sub, nullptr);
  sub->AppendItem("inner", 0, 21);

  EXPECT_EQ(Texts(menu),
            (std::vector<QString>{"first", "inserted", "-", "last", "end", "past the end", "sub"}));
  EXPECT_EQ(menu.GetSubMenu(6), sub);
  EXPECT_EQ(menu.Items()[1].flags & kMenuByPosition, kMenuByPosition);
  EXPECT_EQ(menu.Items()[2].flags & kMenuSeparator, kMenuSeparator);
  EXPECT_TRUE(menu.IsItemChecked(12));
  EXPECT_FALSE(menu.IsItemChecked(11));
  EXPECT_FALSE(menu.ItemOfCommand(13)->isEnabled());
  EXPECT_EQ(menu.CommandOf(menu.ItemOfCommand(21)), 21);  // found inside the popup

  EXPECT_TRUE(menu.CheckMenuItem(21, true));
  EXPECT_TRUE(menu.IsItemChecked(21));
  EXPECT_TRUE(menu.EnableMenuItem(13, true));
  EXPECT_TRUE(menu.ItemOfCommand(13)->isEnabled());
  EXPECT_TRUE(menu.EnableMenuItem(11, false));
  EXPECT_FALSE(menu.ItemOfCommand(11)->isEnabled());
  EXPECT_FALSE(menu.CheckMenuItem(999, true));
}

TEST_F(MenuTest, ChoosingReportsCommandAndDataAndKeepsTheTick) {
  OwnerDrawMenu menu;
  QAction* ticked = menu.AppendItem("ticked", kMenuChecked, 40);
  QAction* plain = menu.AppendItem("plain", 0, 41);
  plain->setData(5001);
  QSignalSpy spy(&menu, &OwnerDrawMenu::commandChosen);

  ticked->trigger();
  plain->trigger();
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy[0][0].toInt(), 40);
  EXPECT_EQ(spy[1][0].toInt(), 41);
  EXPECT_EQ(spy[1][1].toInt(), 5001);
  // Choosing a ticked item does not untick it: the program sets the ticks.
  EXPECT_TRUE(menu.IsItemChecked(40));
  EXPECT_FALSE(menu.IsItemChecked(41));
}

TEST_F(MenuTest, SyncItemsTakesInActionsAddedWithoutTheMenu) {
  OwnerDrawMenu menu;
  ASSERT_TRUE(menu.LoadMenuResource(IDR_LISTMENU));
  ASSERT_TRUE(menu.LoadToolbarImages(IDR_LISTBAR));
  OwnerDrawMenu* popup = menu.GetSubMenu(0);
  QAction* foreign = popup->addAction("外来 (&X)");
  popup->removeAction(popup->actions().at(0));  // "复制代理"
  popup->SyncItems();

  ASSERT_EQ(popup->Items().size(), static_cast<size_t>(popup->actions().size()));
  EXPECT_EQ(popup->Items().front().command, 1009);  // kept with its image
  EXPECT_EQ(popup->Items().front().imageIndex, 1);
  EXPECT_EQ(popup->Items().back().action, foreign);
  EXPECT_EQ(popup->Items().back().command, 0);
  EXPECT_EQ(popup->Items().back().text, "外来 (&X)");
  EXPECT_EQ(popup->FindShortcut('x'), popup->actions().size() - 1);
}

TEST_F(MenuTest, ShortcutLettersChooseTheFirstItemAtOnce) {
  OwnerDrawMenu menu;
  menu.AppendItem("&Alpha", 0, 1);
  menu.AppendItem("&Another", 0, 2);
  menu.AppendItem("Grey (&G)", kMenuGrayed, 3);
  menu.AppendItem("Tab\tCtrl+&Q", 0, 4);
  EXPECT_EQ(menu.FindShortcut('a'), 0);
  EXPECT_EQ(menu.FindShortcut('A'), 0);
  EXPECT_EQ(menu.FindShortcut('q'), 3);
  EXPECT_EQ(menu.FindShortcut('z'), -1);
  // Items added behind the menu's back are counted before the search.
  menu.addAction("&Zulu");
  EXPECT_EQ(menu.FindShortcut('z'), 4);

  QSignalSpy spy(&menu, &OwnerDrawMenu::commandChosen);
  mtest::ShowMenu(menu);
  // Two items share "a": the first is chosen, not merely selected.
  QTest::keyClick(&menu, Qt::Key_A, Qt::ShiftModifier);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toInt(), 1);
  EXPECT_FALSE(menu.isVisible());

  // A disabled item's letter does nothing and leaves the menu open.
  mtest::ShowMenu(menu);
  QTest::keyClick(&menu, Qt::Key_G);
  EXPECT_EQ(spy.count(), 1);
  EXPECT_TRUE(menu.isVisible());
  menu.hide();
}

// --- The flat look -----------------------------------------------------------------

TEST(FlatColours, LightenAndDarkenMoveTowardsWhiteAndBlackTruncated) {
  EXPECT_EQ(qb::Lighten(QColor(0, 100, 200), 0.5), QColor(127, 177, 227));
  EXPECT_EQ(qb::Lighten(QColor(10, 20, 30), 0.0), QColor(10, 20, 30));
  EXPECT_EQ(qb::Lighten(QColor(10, 20, 30), 1.0), QColor(255, 255, 255));
  EXPECT_EQ(qb::Darken(QColor(199, 100, 1), 0.02), QColor(195, 98, 0));
  EXPECT_EQ(qb::Darken(QColor(255, 255, 255), 0.02), QColor(249, 249, 249));

  QPalette pal;
  pal.setColor(QPalette::Base, QColor(255, 255, 255));
  pal.setColor(QPalette::Button, QColor(212, 208, 200));
  pal.setColor(QPalette::Highlight, QColor(10, 36, 106));
  pal.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
  const qb::FlatMenuColours c = qb::FlatColours(pal);
  EXPECT_EQ(c.background, QColor(249, 249, 249));
  EXPECT_EQ(c.imageColumn, QColor(222, 219, 213));
  EXPECT_EQ(c.selectFill, QColor(218, 222, 232));
  EXPECT_EQ(c.checkFillSelected, QColor(144, 156, 187));
  EXPECT_EQ(c.selectFrame, QColor(10, 36, 106));
  EXPECT_EQ(c.disabledText, QColor(178, 178, 178));
}

class FlatLook : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    ASSERT_TRUE(menu.LoadMenuResource(IDR_LISTMENU));
    ASSERT_TRUE(menu.LoadToolbarImages(IDR_LISTBAR));
    popup = menu.GetSubMenu(0);
    QPalette pal = popup->palette();
    pal.setColor(QPalette::Base, QColor(255, 255, 255));
    pal.setColor(QPalette::Button, QColor(212, 208, 200));
    pal.setColor(QPalette::Highlight, QColor(10, 36, 106));
    popup->setPalette(pal);
    colours = qb::FlatColours(pal);
  }
  QRect Geometry(int command) { return popup->actionGeometry(popup->ItemOfCommand(command)); }

  OwnerDrawMenu menu;
  OwnerDrawMenu* popup = nullptr;
  qb::FlatMenuColours colours;
};

TEST_F(FlatLook, ImageColumnSelectionAndSeparator) {
  popup->EnableMenuItem(1041, false);
  popup->EnableMenuItem(1039, false);
  mtest::ShowMenu(*popup);
  popup->setActiveAction(popup->ItemOfCommand(1009));
  const QImage shot = mtest::Screenshot(*popup, "context-menu");

  const int column = FlatMenuStyle::ImageColumnWidth();
  EXPECT_EQ(column, 16 + 7);
  const QRect copy = Geometry(32771);
  EXPECT_GE(copy.height(), 15 + 7);
  // An unselected item: the image column at the left, the background to the right.
  EXPECT_EQ(QColor(shot.pixel(copy.left() + 1, copy.top() + 1)), colours.imageColumn);
  EXPECT_EQ(QColor(shot.pixel(copy.right() - 2, copy.top() + 1)), colours.background);
  // The selected item is filled and framed over its whole width, image column too.
  const QRect set = Geometry(1009);
  EXPECT_EQ(QColor(shot.pixel(set.left() + 1, set.top() + 1)), colours.selectFill);
  EXPECT_EQ(QColor(shot.pixel(set.right() - 2, set.center().y())), colours.selectFill);
  EXPECT_EQ(QColor(shot.pixel(set.left(), set.center().y())), colours.selectFrame);
  // A separator is three pixels high with the column and the etched line.
  const QAction* sep = popup->actions().at(2);
  const QRect sepRect = popup->actionGeometry(const_cast<QAction*>(sep));
  EXPECT_EQ(sepRect.height(), 3);
  EXPECT_EQ(QColor(shot.pixel(sepRect.left() + 1, sepRect.top() + 1)), colours.imageColumn);
  EXPECT_NE(QColor(shot.pixel(sepRect.center().x(), sepRect.top() + 1)), colours.background);

  popup->hide();
}

TEST_F(FlatLook, DisabledItemIsDrawnSelectedOnlyWhenAllowed) {
  QStyleOptionMenuItem opt;
  opt.initFrom(popup);
  opt.rect = QRect(0, 0, 200, 22);
  opt.state = QStyle::State_Selected;  // selected, not enabled
  opt.menuItemType = QStyleOptionMenuItem::Normal;
  opt.text = "灰色";
  auto draw = [&] {
    QImage image(200, 22, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    FlatMenuStyle::Instance()->drawControl(QStyle::CE_MenuItem, &opt, &p, popup);
    return QColor(image.pixel(190, 2));
  };
  EXPECT_EQ(draw(), colours.background);
  OwnerDrawMenu::Settings().selectDisabled = 1;
  EXPECT_EQ(draw(), colours.selectFill);
  opt.state |= QStyle::State_Enabled;
  OwnerDrawMenu::Settings().selectDisabled = 0;
  EXPECT_EQ(draw(), colours.selectFill);
}

TEST_F(FlatLook, TickedItemsShowASquareOrACheckMark) {
  popup->CheckMenuItem(1009, true);                               // with an image
  QAction* plain = popup->AppendItem("plain", kMenuChecked, 77);  // without
  mtest::ShowMenu(*popup);
  const QImage shot = popup->grab().toImage();
  const QRect set = Geometry(1009);
  // The square around the image: highlight frame, light highlight fill.
  const int column = FlatMenuStyle::ImageColumnWidth();
  const QRect image((column - 16) / 2 + set.left(), set.top() + (set.height() - 15) / 2, 16, 15);
  EXPECT_EQ(QColor(shot.pixel(image.left() - 2, image.center().y())), colours.checkFrame);
  EXPECT_EQ(QColor(shot.pixel(image.left() - 1, image.top() - 1)), colours.checkFill);
  // The check mark of an item without image is drawn in the text colour.
  const QRect plainRect = popup->actionGeometry(plain);
  const QImage column2 = shot.copy(plainRect.left(), plainRect.top(), column, plainRect.height());
  int dark = 0;
  for (int y = 0; y < column2.height(); ++y) {
    for (int x = 0; x < column2.width(); ++x) {
      if (QColor(column2.pixel(x, y)).lightness() < 100) ++dark;
    }
  }
  EXPECT_GT(dark, 5);
  popup->hide();
}

TEST_F(FlatLook, WithTheFlatStyleOffTheBaseStyleDraws) {
  OwnerDrawMenu::SetFlatStyle(false);
  mtest::ShowMenu(*popup);
  const QImage shot = popup->grab().toImage();
  const QRect copy = Geometry(32771);
  EXPECT_NE(QColor(shot.pixel(copy.left() + 1, copy.top() + 1)), colours.imageColumn);
  popup->hide();
}

}  // namespace
