#include "ui/OwnerDrawMenu.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include "base/Translate.h"
#include "ui/Resources.h"

namespace qb {

namespace {

// The state bits of a record that the action itself holds.
constexpr unsigned kStateFlags = kMenuGrayed | kMenuDisabled | kMenuChecked | kMenuPopup | kMenuSeparator;

std::optional<QByteArray> ReadResourceFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  return f.readAll();
}

}  // namespace

// ---------------------------------------------------------------------------------
// OwnerDrawMenu

OwnerDrawMenu::OwnerDrawMenu(QWidget* parent) : QMenu(parent) {
  setStyle(FlatMenuStyle::Instance());
  connect(this, &QMenu::triggered, this, &OwnerDrawMenu::OnTriggered);
  // Items added with the plain menu calls get their records before they are shown.
  connect(this, &QMenu::aboutToShow, this, &OwnerDrawMenu::SyncItems);
}

OwnerDrawMenu::~OwnerDrawMenu() = default;

OwnerDrawMenuSettings& OwnerDrawMenu::Settings() {
  static OwnerDrawMenuSettings settings;
  return settings;
}

void OwnerDrawMenu::SetFlatStyle(bool flat) {
  Settings().flatStyleThemed = flat ? 1 : 0;
  Settings().flatStyleElsewhere = flat ? 1 : 0;
}

bool OwnerDrawMenu::UseFlatStyle(const QWidget* widget) {
  const QScreen* screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
  if (screen && screen->depth() <= 8) return false;
  return Settings().flatStyleElsewhere != 0;
}

bool OwnerDrawMenu::LoadMenuResource(int id) {
  qb::InitResources();
  return LoadMenuFile(qb::MenuResourcePath(id));
}

bool OwnerDrawMenu::LoadMenuFile(const QString& path) {
  const auto bytes = ReadResourceFile(path);
  if (!bytes) return false;
  const auto items = ParseMenuTemplate(std::string_view(bytes->constData(), bytes->size()));
  if (!items) return false;
  LoadMenuTemplate(*items);
  return true;
}

// The texts of the menu templates under res/menus, for the translation tools, which
// read only C++: a text changed there is changed here too, or it shows untranslated.
[[maybe_unused]] constexpr const char* kMenuTemplateTexts[] = {
    QT_TRANSLATE_NOOP("Quillberry", "在代理列表中点击鼠标右键"),
    QT_TRANSLATE_NOOP("Quillberry", "复制代理 (&C) "),
    QT_TRANSLATE_NOOP("Quillberry", "设为IE代理 (&S) "),
    QT_TRANSLATE_NOOP("Quillberry", "验证选定 (&V) "),
    QT_TRANSLATE_NOOP("Quillberry", "修改选定 (&M) "),
    QT_TRANSLATE_NOOP("Quillberry", "删除选定 (&D) "),
    QT_TRANSLATE_NOOP("Quillberry", "全选 (&A)"),
    QT_TRANSLATE_NOOP("Quillberry", "托盘菜单"),
    QT_TRANSLATE_NOOP("Quillberry", "关于『Ostrel代理验证』"),
    QT_TRANSLATE_NOOP("Quillberry", "退出"),
    QT_TRANSLATE_NOOP("Quillberry", "弹出对话框"),
    QT_TRANSLATE_NOOP("Quillberry", "取消IE代理"),
};

void OwnerDrawMenu::LoadMenuTemplate(const std::vector<MenuTemplateItem>& items) {
  for (const MenuTemplateItem& item : items) {
    const QString text = qb::Tr(item.text);
    QAction* action = AppendItem(text, item.flags, item.command);
    if (item.flags & kMenuPopup) {
      if (auto* sub = qobject_cast<OwnerDrawMenu*>(action->menu())) sub->LoadMenuTemplate(item.children);
    }
  }
}

bool OwnerDrawMenu::LoadToolbarImages(int id) {
  qb::InitResources();
  return LoadToolbarFile(qb::ToolbarResourcePath(id));
}

bool OwnerDrawMenu::LoadToolbarFile(const QString& path) {
  const auto bytes = ReadResourceFile(path);
  if (!bytes) return false;
  const auto strip = ParseToolbarTemplate(std::string_view(bytes->constData(), bytes->size()));
  if (!strip) return false;

  auto images = std::make_shared<OwnerDrawImageList>();
  const QDir base = QFileInfo(path).dir();
  for (const std::string& file : strip->images) {
    const QString imagePath = QDir::cleanPath(base.filePath(QString::fromStdString(file)));
    if (!QFile::exists(imagePath)) return false;
    QIcon icon(imagePath);
    if (icon.isNull()) return false;
    images->push_back(icon);
  }
  AttachImages(*strip, images);
  return true;
}

void OwnerDrawMenu::AttachImages(const ToolbarTemplate& strip,
                                 const std::shared_ptr<const OwnerDrawImageList>& images) {
  for (OwnerDrawMenuItem& item : m_items) {
    if (item.command != 0) {
      for (const ToolbarTemplate::Button& b : strip.buttons) {
        if (b.command == 0 || b.command != item.command) continue;
        item.imageIndex = b.image;
        item.imageList = images;
        ApplyRecord(item);
        break;
      }
    }
    if (item.action) {
      if (auto* sub = qobject_cast<OwnerDrawMenu*>(item.action->menu())) sub->AttachImages(strip, images);
    }
  }
}

QAction* OwnerDrawMenu::AppendItem(const QString& text, unsigned flags, int command, int imageIndex,
                                   std::shared_ptr<const OwnerDrawImageList> images) {
  return InsertItem(-1, text, flags & ~kMenuByPosition, command, imageIndex, std::move(images));
}

QAction* OwnerDrawMenu::InsertItem(int position, const QString& text, unsigned flags, int command,
                                   int imageIndex, std::shared_ptr<const OwnerDrawImageList> images) {
  const QList<QAction*> present = actions();
  QAction* before = (position >= 0 && position < present.size()) ? present[position] : nullptr;

  OwnerDrawMenuItem item;
  item.text = text;
  item.flags = flags | kMenuOwnerDraw;
  if (position >= 0) item.flags |= kMenuByPosition;
  QAction* action = nullptr;
  if (flags & kMenuPopup) {
    auto* sub = new OwnerDrawMenu(this);
    sub->setTitle(text);
    action = sub->menuAction();
    item.flags &= ~kMenuSeparator;
    command = 0;
  } else if (command == 0 || (flags & kMenuSeparator)) {
    action = new QAction(this);
    action->setSeparator(true);
    item.flags |= kMenuSeparator;
    item.text.clear();
    command = 0;
    imageIndex = -1;
  } else {
    action = new QAction(text, this);
  }
  insertAction(before, action);
  item.command = command;
  item.imageIndex = imageIndex;
  item.imageList = std::move(images);
  item.action = action;
  m_items.push_back(item);
  ApplyRecord(m_items.back());
  SyncItems();
  return action;
}

OwnerDrawMenu* OwnerDrawMenu::GetSubMenu(int position) const {
  const QList<QAction*> present = actions();
  if (position < 0 || position >= present.size()) return nullptr;
  return qobject_cast<OwnerDrawMenu*>(present[position]->menu());
}

void OwnerDrawMenu::ApplyRecord(OwnerDrawMenuItem& item) {
  QAction* a = item.action;
  if (!a || a->isSeparator()) return;
  if (!a->menu()) a->setText(item.text);
  a->setEnabled(!(item.flags & (kMenuGrayed | kMenuDisabled)));
  // Only a ticked item is checkable: a checkable action would toggle itself when
  // chosen, and an unticked one would reserve a check box in the plain style.
  const bool checked = item.flags & kMenuChecked;
  a->setCheckable(checked);
  a->setChecked(checked);
  if (item.imageList && item.imageIndex >= 0 && item.imageIndex < item.imageList->size()) {
    a->setIcon(item.imageList->at(item.imageIndex));
  } else if (item.imageList || item.imageIndex >= 0) {
    a->setIcon(QIcon());
  }
}

void OwnerDrawMenu::SyncItems() {
  std::vector<OwnerDrawMenuItem> rebuilt;
  const QList<QAction*> present = actions();
  rebuilt.reserve(present.size());
  for (QAction* a : present) {
    OwnerDrawMenuItem item;
    if (const OwnerDrawMenuItem* old = FindRecord(a)) {
      item = *old;
    } else {
      item.flags = kMenuOwnerDraw;
    }
    item.action = a;
    if (!a->isSeparator()) item.text = a->menu() ? a->menu()->title() : a->text();
    unsigned state = 0;
    if (a->isSeparator()) state |= kMenuSeparator;
    if (a->menu()) state |= kMenuPopup;
    if (!a->isEnabled()) {
      const unsigned off = item.flags & (kMenuGrayed | kMenuDisabled);
      state |= off ? off : kMenuGrayed;
    }
    if (a->isCheckable() && a->isChecked()) state |= kMenuChecked;
    item.flags = (item.flags & ~kStateFlags) | state | kMenuOwnerDraw;
    rebuilt.push_back(std::move(item));
  }
  m_items.swap(rebuilt);
}

int OwnerDrawMenu::FindShortcut(QChar c) {
  if (static_cast<int>(m_items.size()) != actions().size()) SyncItems();
  const QString pair = QStringLiteral("&") + c.toLower();
  for (std::size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i].text.toLower().contains(pair)) return static_cast<int>(i);
  }
  return -1;
}

void OwnerDrawMenu::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  const Qt::KeyboardModifiers others =
      event->modifiers() & ~(Qt::ShiftModifier | Qt::AltModifier | Qt::KeypadModifier);
  if (typed.size() == 1 && typed[0].isPrint() && !typed[0].isSpace() && others == Qt::NoModifier) {
    const int i = FindShortcut(typed[0]);
    if (i >= 0) {
      // The first item with the letter is chosen at once, even when another item has
      // the same letter; a disabled one swallows the key.
      QAction* a = actions().value(i);
      if (a && a->isEnabled() && !a->isSeparator()) {
        setActiveAction(a);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QMenu::keyPressEvent(&enter);
      }
      event->accept();
      return;
    }
  }
  QMenu::keyPressEvent(event);
}

const OwnerDrawMenuItem* OwnerDrawMenu::FindRecord(const QAction* action) const {
  for (const OwnerDrawMenuItem& item : m_items) {
    if (item.action == action) return &item;
  }
  return nullptr;
}

OwnerDrawMenuItem* OwnerDrawMenu::RecordOf(const QAction* action) {
  return const_cast<OwnerDrawMenuItem*>(FindRecord(action));
}

QAction* OwnerDrawMenu::ItemOfCommand(int command) const {
  if (command == 0) return nullptr;
  for (const OwnerDrawMenuItem& item : m_items) {
    if (!item.action) continue;
    if (item.command == command) return item.action;
    if (auto* sub = qobject_cast<OwnerDrawMenu*>(item.action->menu())) {
      if (QAction* a = sub->ItemOfCommand(command)) return a;
    }
  }
  return nullptr;
}

int OwnerDrawMenu::CommandOf(const QAction* action) const {
  if (const OwnerDrawMenuItem* item = FindRecord(action)) return item->command;
  for (const OwnerDrawMenuItem& item : m_items) {
    if (!item.action) continue;
    if (auto* sub = qobject_cast<OwnerDrawMenu*>(item.action->menu())) {
      if (const int c = sub->CommandOf(action)) return c;
    }
  }
  return 0;
}

bool OwnerDrawMenu::CheckMenuItem(int command, bool checked) {
  return CheckItem(ItemOfCommand(command), checked);
}

bool OwnerDrawMenu::EnableMenuItem(int command, bool enabled) {
  return EnableItem(ItemOfCommand(command), enabled);
}

bool OwnerDrawMenu::CheckItem(QAction* action, bool checked) {
  auto* owner = action ? qobject_cast<OwnerDrawMenu*>(action->parent()) : nullptr;
  OwnerDrawMenuItem* item = owner ? owner->RecordOf(action) : nullptr;
  if (!item) return false;
  item->flags = checked ? (item->flags | kMenuChecked) : (item->flags & ~kMenuChecked);
  owner->ApplyRecord(*item);
  return true;
}

bool OwnerDrawMenu::EnableItem(QAction* action, bool enabled) {
  auto* owner = action ? qobject_cast<OwnerDrawMenu*>(action->parent()) : nullptr;
  OwnerDrawMenuItem* item = owner ? owner->RecordOf(action) : nullptr;
  if (!item) return false;
  item->flags = enabled ? (item->flags & ~(kMenuGrayed | kMenuDisabled)) : (item->flags | kMenuGrayed);
  owner->ApplyRecord(*item);
  return true;
}

bool OwnerDrawMenu::IsItemChecked(int command) const {
  const QAction* a = ItemOfCommand(command);
  return a && a->isCheckable() && a->isChecked();
}

void OwnerDrawMenu::OnTriggered(QAction* action) {
  // A tick is the program's to set, not the user's to toggle by choosing the item.
  if (OwnerDrawMenuItem* item = RecordOf(action)) {
    const bool checked = item->flags & kMenuChecked;
    if (action->isChecked() != checked) action->setChecked(checked);
  }
  emit commandChosen(CommandOf(action), action->data());
}

// ---------------------------------------------------------------------------------
// Colours

QColor Lighten(const QColor& c, double f) {
  auto up = [f](int v) { return static_cast<int>(v + (255 - v) * f); };
  return QColor(up(c.red()), up(c.green()), up(c.blue()));
}

QColor Darken(const QColor& c, double f) {
  auto down = [f](int v) { return static_cast<int>(v - v * f); };
  return QColor(down(c.red()), down(c.green()), down(c.blue()));
}

FlatMenuColours FlatColours(const QPalette& palette) {
  const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
  const QColor grey = palette.color(QPalette::Disabled, QPalette::Text);
  FlatMenuColours c;
  c.background = Darken(palette.color(QPalette::Active, QPalette::Base), 0.02);
  c.imageColumn = Lighten(palette.color(QPalette::Active, QPalette::Button), 0.25);
  c.selectFill = Lighten(highlight, 0.85);
  c.selectFrame = highlight;
  c.text = palette.color(QPalette::Active, QPalette::Text);
  c.disabledText = Lighten(grey, 0.4);
  c.disabledTextSelected = grey;
  c.checkFill = Lighten(highlight, 0.85);
  c.checkFillSelected = Lighten(highlight, 0.55);
  c.checkFrame = highlight;
  return c;
}

// ---------------------------------------------------------------------------------
// FlatMenuStyle

namespace {

bool Flat(const QWidget* widget) {
  return qobject_cast<const QMenu*>(widget) && OwnerDrawMenu::UseFlatStyle(widget);
}

// The height the system gives a menu line, from the menu font.
int MenuLineHeight(const QFontMetrics& fm) {
  return fm.height() + 6;
}

// Right of the text: room for the popup arrow, or a margin.
constexpr int kArrowRoom = 16;
constexpr int kRightMargin = 10;
constexpr int kTextOffset = 8;

}  // namespace

FlatMenuStyle::FlatMenuStyle() = default;

FlatMenuStyle* FlatMenuStyle::Instance() {
  static QPointer<FlatMenuStyle> instance;
  if (!instance) {
    instance = new FlatMenuStyle;
    // Gone with the application, after its menus.
    if (qApp) instance->setParent(qApp);
  }
  return instance;
}

int FlatMenuStyle::Gap() {
  return OwnerDrawMenu::Settings().raisedImages ? 7 : 4;
}

int FlatMenuStyle::ImageColumnWidth() {
  return OwnerDrawMenu::Settings().imageWidth + Gap();
}

void FlatMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
  if (!Flat(widget) || (element != PE_PanelMenu && element != PE_FrameMenu)) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  const qb::FlatMenuColours c = qb::FlatColours(option->palette);
  const int fw = pixelMetric(PM_MenuPanelWidth, option, widget);
  painter->save();
  if (element == PE_PanelMenu) {
    painter->fillRect(option->rect, c.background);
    painter->fillRect(
        QRect(option->rect.left() + fw, option->rect.top(), ImageColumnWidth(), option->rect.height()),
        c.imageColumn);
  } else {
    painter->setPen(option->palette.color(QPalette::Active, QPalette::Dark));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
  }
  painter->restore();
}

void FlatMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
  const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
  if (!item || !Flat(widget) || (element != CE_MenuItem && element != CE_MenuEmptyArea)) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  if (element == CE_MenuEmptyArea) {
    drawPrimitive(PE_PanelMenu, option, painter, widget);
    return;
  }
  DrawFlatItem(item, painter, widget);
}

void FlatMenuStyle::DrawFlatItem(const QStyleOptionMenuItem* item, QPainter* p, const QWidget*) const {
  const OwnerDrawMenuSettings& s = OwnerDrawMenu::Settings();
  const qb::FlatMenuColours c = qb::FlatColours(item->palette);
  const QRect r = item->rect;
  const int colW = ImageColumnWidth();
  const QRect column(r.left(), r.top(), colW, r.height());
  const bool enabled = item->state & State_Enabled;
  bool selected = item->state & State_Selected;
  if (!enabled && !s.selectDisabled) selected = false;

  p->save();
  if (item->menuItemType == QStyleOptionMenuItem::Separator) {
    p->fillRect(r, c.background);
    p->fillRect(column, c.imageColumn);
    // An etched line: shadow, then light, across the middle of the item.
    const int x0 = column.right() + 1 + Gap();
    const int y = r.top() + r.height() / 2;
    p->setPen(item->palette.color(QPalette::Active, QPalette::Dark));
    p->drawLine(x0, y, r.right(), y);
    p->setPen(item->palette.color(QPalette::Active, QPalette::Light));
    p->drawLine(x0, y + 1, r.right(), y + 1);
    p->restore();
    return;
  }

  if (selected) {
    p->fillRect(r, c.selectFill);
    p->setPen(c.selectFrame);
    p->setBrush(Qt::NoBrush);
    p->drawRect(r.adjusted(0, 0, -1, -1));
  } else {
    p->fillRect(r, c.background);
    p->fillRect(column, c.imageColumn);
  }

  const int iw = s.imageWidth;
  const int ih = s.imageHeight;
  const QRect imageRect(column.left() + (colW - iw) / 2, r.top() + (r.height() - ih) / 2, iw, ih);
  const bool checked = item->checkType != QStyleOptionMenuItem::NotCheckable && item->checked;
  if (!item->icon.isNull()) {
    if (checked) {
      const QRect square = imageRect.adjusted(-2, -2, 2, 2);
      p->fillRect(square, selected ? c.checkFillSelected : c.checkFill);
      p->setPen(c.checkFrame);
      p->setBrush(Qt::NoBrush);
      p->drawRect(square.adjusted(0, 0, -1, -1));
    }
    const QPixmap pm = item->icon.pixmap(QSize(iw, ih), p->device()->devicePixelRatioF(),
                                         enabled ? QIcon::Normal : QIcon::Disabled);
    if (s.raisedImages && selected && enabled && !checked) {
      // Raised: a shadow of the image below right, the image itself up left.
      QPixmap shadow(pm.size());
      shadow.setDevicePixelRatio(pm.devicePixelRatio());
      shadow.fill(Qt::transparent);
      QPainter sp(&shadow);
      sp.drawPixmap(0, 0, pm);
      sp.setCompositionMode(QPainter::CompositionMode_SourceIn);
      sp.fillRect(QRect(QPoint(0, 0), pm.size()), qb::Darken(c.selectFill, 0.35));
      sp.end();
      p->drawPixmap(imageRect.topLeft() + QPoint(1, 1), shadow);
      p->drawPixmap(imageRect.topLeft() - QPoint(1, 1), pm);
    } else {
      p->drawPixmap(imageRect.topLeft(), pm);
    }
  } else if (checked) {
    const QColor tick = enabled ? c.text : c.disabledText;
    QPen pen(tick, 2.0);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p->setPen(pen);
    p->setRenderHint(QPainter::Antialiasing, true);
    const QPointF o = imageRect.topLeft();
    const QPointF points[] = {o + QPointF(3.5, 7.5), o + QPointF(6.5, 10.5), o + QPointF(12.5, 4.0)};
    p->drawPolyline(points, 3);
    p->setRenderHint(QPainter::Antialiasing, false);
  }

  QColor textColour = c.text;
  if (!enabled) textColour = selected ? c.disabledTextSelected : c.disabledText;
  p->setPen(textColour);
  p->setFont(item->font);
  const bool popup = item->menuItemType == QStyleOptionMenuItem::SubMenu;
  const int right = r.right() - (popup ? kArrowRoom : kRightMargin);
  const QRect textRect(column.right() + 1 + kTextOffset, r.top(), right - column.right() - kTextOffset,
                       r.height());
  const int firstTab = item->text.indexOf(QLatin1Char('\t'));
  const QString left = firstTab < 0 ? item->text : item->text.left(firstTab);
  const int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  p->drawText(textRect, flags | Qt::AlignLeft, left);
  if (firstTab >= 0) {
    const QString rightText = item->text.mid(item->text.lastIndexOf(QLatin1Char('\t')) + 1);
    p->drawText(textRect, flags | Qt::AlignRight, rightText);
  }
  if (popup) {
    const int cx = r.right() - kArrowRoom / 2;
    const int cy = r.center().y();
    const QPointF arrow[] = {QPointF(cx - 2, cy - 4), QPointF(cx + 2, cy), QPointF(cx - 2, cy + 4)};
    p->setRenderHint(QPainter::Antialiasing, true);
    p->setPen(Qt::NoPen);
    p->setBrush(textColour);
    p->drawPolygon(arrow, 3);
  }
  p->restore();
}

QSize FlatMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                      const QWidget* widget) const {
  const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
  if (type != CT_MenuItem || !item || !Flat(widget)) {
    return QProxyStyle::sizeFromContents(type, option, size, widget);
  }
  const OwnerDrawMenuSettings& s = OwnerDrawMenu::Settings();
  if (item->menuItemType == QStyleOptionMenuItem::Separator) return QSize(ImageColumnWidth(), 3);
  int width = size.width() + ImageColumnWidth() + kTextOffset;
  width += item->menuItemType == QStyleOptionMenuItem::SubMenu ? kArrowRoom : kRightMargin;
  // The right-aligned column is added by the menu; keep it apart from the text.
  if (item->reservedShortcutWidth > 0) width += 2 * kTextOffset;
  const int height = std::max(MenuLineHeight(item->fontMetrics), s.imageHeight + Gap());
  return QSize(width, height);
}

int FlatMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  if (Flat(widget)) {
    switch (metric) {
      case PM_SmallIconSize:
        return OwnerDrawMenu::Settings().imageWidth;
      case PM_MenuPanelWidth:
        return 1;
      case PM_MenuHMargin:
        return 0;
      case PM_MenuVMargin:
        return 1;
      default:
        break;
    }
  }
  return QProxyStyle::pixelMetric(metric, option, widget);
}

int FlatMenuStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
  if (Flat(widget)) {
    switch (hint) {
      case SH_Menu_AllowActiveAndDisabled:
        return OwnerDrawMenu::Settings().selectDisabled;
      case SH_UnderlineShortcut:
        return 1;
      default:
        break;
    }
  }
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace qb
