// Popup menus whose items carry 16-pixel images from a toolbar strip and are drawn
// flat, with an image column at the left. The proxy list's context menu and the tray
// menu are both of this class and share one style.
#pragma once

#include <QColor>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>
#include <QVariant>

#include <memory>
#include <vector>

#include "ui/MenuResource.h"

namespace qb {

// The images of one toolbar strip, in the strip's order.
using OwnerDrawImageList = QList<QIcon>;

// What the menu knows of one item besides the action that shows it.
struct OwnerDrawMenuItem {
  QString text;  // "&" marks the shortcut letter; a tab starts the right-aligned column
  unsigned flags = kMenuOwnerDraw;
  int command = 0;  // 0 for separators and popups
  int imageIndex = -1;
  std::shared_ptr<const OwnerDrawImageList> imageList;
  QPointer<QAction> action;
};

// Settings shared by every menu of the process.
struct OwnerDrawMenuSettings {
  int imageWidth = 16;
  int imageHeight = 15;
  // The flat style was once chosen per system: the first switch for one themed
  // system, the second for all others. No desktop here is that themed system, so the
  // second switch decides.
  int flatStyleThemed = 1;
  int flatStyleElsewhere = 0;
  // Widens the gap beside the image column from 4 to 7 pixels and lifts the image of
  // a selected item.
  int raisedImages = 1;
  // When 0 a disabled item is never drawn selected.
  int selectDisabled = 0;
};

class OwnerDrawMenu : public QMenu {
  Q_OBJECT

 public:
  explicit OwnerDrawMenu(QWidget* parent = nullptr);
  ~OwnerDrawMenu() override;

  static OwnerDrawMenuSettings& Settings();
  // Sets both flat-style switches; the program does so before it shows a popup.
  static void SetFlatStyle(bool flat);
  // Whether items are drawn flat now: never on a palette display (8 bits or fewer).
  static bool UseFlatStyle(const QWidget* widget);

  // Builds the menu from a layout: the resource of that number, a file, or parsed
  // items. Items already in the menu stay. False when the layout cannot be read.
  bool LoadMenuResource(int id);
  bool LoadMenuFile(const QString& path);
  void LoadMenuTemplate(const std::vector<MenuTemplateItem>& items);
  // Attaches the images of a toolbar strip to the items (in this menu and its
  // popups) whose commands the strip names. False when the strip cannot be read.
  bool LoadToolbarImages(int id);
  bool LoadToolbarFile(const QString& path);

  // Adds an item: command 0 makes a separator, kMenuPopup an empty popup (reach it
  // with GetSubMenu or the action's menu()). kMenuGrayed or kMenuDisabled disable
  // it, kMenuChecked ticks it. imageIndex -1 (or no image list) gives no image.
  QAction* AppendItem(const QString& text, unsigned flags, int command, int imageIndex = -1,
                      std::shared_ptr<const OwnerDrawImageList> images = nullptr);
  // Inserts before the item at position; -1 or a position past the end appends.
  QAction* InsertItem(int position, const QString& text, unsigned flags, int command, int imageIndex = -1,
                      std::shared_ptr<const OwnerDrawImageList> images = nullptr);
  // The popup at a position, or nullptr when that item is no popup of this class.
  OwnerDrawMenu* GetSubMenu(int position) const;
  // Rebuilds the item records from the menu's actions position by position, so that
  // actions added with the plain QMenu calls are drawn and found like the others.
  void SyncItems();
  // The item a typed character chooses: the first whose text, in lower case,
  // contains "&" and the character in lower case; -1 when none does.
  int FindShortcut(QChar c);

  const std::vector<OwnerDrawMenuItem>& Items() const { return m_items; }
  // The action of a command, searched in this menu and its popups; nullptr if none.
  QAction* ItemOfCommand(int command) const;
  // The command of an action of this menu or its popups; 0 when unknown.
  int CommandOf(const QAction* action) const;
  // Tick or enable the item of a command; false when no item has it.
  bool CheckMenuItem(int command, bool checked);
  bool EnableMenuItem(int command, bool enabled);
  // The same for one item, for items that share a command.
  bool CheckItem(QAction* action, bool checked);
  bool EnableItem(QAction* action, bool enabled);
  bool IsItemChecked(int command) const;

 signals:
  // An item was chosen: its command and the data its action carries. Emitted by the
  // menu that was shown (a popup's choice reaches its own signal).
  void commandChosen(int command, const QVariant& data);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  OwnerDrawMenuItem* RecordOf(const QAction* action);
  const OwnerDrawMenuItem* FindRecord(const QAction* action) const;
  void ApplyRecord(OwnerDrawMenuItem& item);
  void AttachImages(const ToolbarTemplate& strip, const std::shared_ptr<const OwnerDrawImageList>& images);
  void OnTriggered(QAction* action);

  std::vector<OwnerDrawMenuItem> m_items;
};

// Colour helpers of the flat look: each of red, green and blue moves the fraction f of
// the way to 255 (lighten) or to 0 (darken), truncated.
QColor Lighten(const QColor& c, double f);
QColor Darken(const QColor& c, double f);

// The colours of the flat look, from a palette.
struct FlatMenuColours {
  QColor background;    // window colour darkened by 0.02
  QColor imageColumn;   // button face lightened by 0.25
  QColor selectFill;    // highlight lightened by 0.85
  QColor selectFrame;   // highlight
  QColor text;          // menu text
  QColor disabledText;  // grey text, lightened by 0.4 while not selected
  QColor disabledTextSelected;
  QColor checkFill;          // highlight lightened by 0.85
  QColor checkFillSelected;  // by 0.55
  QColor checkFrame;         // highlight
};
FlatMenuColours FlatColours(const QPalette& palette);

// The flat look, drawn for every widget it is set on (only menus get it). With the
// flat style switched off, the base style draws.
class FlatMenuStyle : public QProxyStyle {
  Q_OBJECT

 public:
  FlatMenuStyle();
  // The one instance the menus share.
  static FlatMenuStyle* Instance();

  // The gap beside the image column, and the column's width.
  static int Gap();
  static int ImageColumnWidth();

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override;
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                QStyleHintReturn* returnData = nullptr) const override;

 private:
  void DrawFlatItem(const QStyleOptionMenuItem* item, QPainter* p, const QWidget* widget) const;
};

}  // namespace qb
