// The commands of a window by name: one QAction per command holds whether the command
// may run now and what it does; the buttons, menu items and keys that give the command
// are views of it. A view never decides on its own: it triggers its action, and it is
// enabled exactly while its action is.
#pragma once

#include <QAction>
#include <QHash>
#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <vector>

class QAbstractButton;
class QKeyEvent;

namespace qb {

class OwnerDrawMenu;

// A key a widget takes for an action: a standard key (with its platform variants, as
// QKeyEvent::matches has them), or plain key combinations matched exactly, modifiers
// and keypad included.
struct KeyBinding {
  QKeySequence::StandardKey standard = QKeySequence::UnknownKey;
  std::vector<QKeyCombination> plain;
  QString action;

  bool Matches(const QKeyEvent& event) const;
};

// The name of the action a menu layout's command stands for; empty for none.
using MenuCommandNames = std::function<QString(int command)>;

class ActionRegistry : public QObject {
  Q_OBJECT

 public:
  explicit ActionRegistry(QObject* parent = nullptr);
  ~ActionRegistry() override;

  // Registers the command name, run by slot of receiver (or by a functor with receiver
  // as its context), and returns its action. A name is registered once; a second
  // registration returns nullptr and leaves the first.
  template <typename Receiver, typename Slot>
  QAction* Add(const QString& name, const Receiver* receiver, Slot slot) {
    QAction* action = Add(name);
    if (action) connect(action, &QAction::triggered, receiver, slot);
    return action;
  }
  // Registers a name without a handler yet; nullptr when it is taken.
  QAction* Add(const QString& name);

  // The action of a name; nullptr (and a warning, as a misspelt name is a bug) when
  // none is registered.
  QAction* Action(const QString& name) const;
  bool Contains(const QString& name) const { return m_actions.contains(name); }
  // Every registered name, in the order of registration.
  QStringList Names() const { return m_order; }
  bool IsEnabled(const QString& name) const;
  void SetEnabled(const QString& name, bool enabled);
  void SetEnabled(std::initializer_list<const char*> names, bool enabled);
  // Runs the command when it may run now; false when it may not (or is unknown).
  bool Trigger(const QString& name);

  // --- Views ---
  // The button runs the action when clicked, and is enabled while it is. A button
  // that is enabled or disabled directly takes its action with it, so that whatever
  // locks a button locks the keys and items of its command too. Binding again moves
  // the button to another action (a run's button becomes its stop button).
  void BindButton(QAbstractButton* button, const QString& name);
  // The action a button runs now; empty for a button bound to none.
  QString ActionOf(const QAbstractButton* button) const;
  // The items of a menu whose commands name an action are enabled while it is, for as
  // long as the menu lives. With dispatch, choosing such an item runs the action, once
  // the menu has closed (so that a message box it opens never runs inside the menu's
  // own event handling).
  enum class MenuChoice { Ignored, Dispatched };
  void BindMenu(OwnerDrawMenu& menu, const MenuCommandNames& names, MenuChoice choice);
  // The keys a widget takes while it has the focus: each runs its action when the
  // action may run and is swallowed when it may not, so that a locked command's key
  // does nothing else either.
  void BindKeys(QWidget* widget, std::vector<KeyBinding> keys);
  // The action a key pressed in a widget stands for; empty when the widget does not
  // take it.
  QString ActionOfKey(const QWidget* widget, const QKeyEvent& event) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct ButtonLink {
    QString name;
    QMetaObject::Connection clicked;
    QMetaObject::Connection follows;
  };

  QHash<QString, QAction*> m_actions;
  QStringList m_order;
  QHash<const QObject*, ButtonLink> m_buttons;
  QHash<const QWidget*, std::vector<KeyBinding>> m_keys;
};

}  // namespace qb
