#include "ui/ActionRegistry.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include "ui/OwnerDrawMenu.h"

namespace qb {

bool KeyBinding::Matches(const QKeyEvent& event) const {
  if (standard != QKeySequence::UnknownKey) return event.matches(standard);
  const QKeyCombination pressed = event.keyCombination();
  for (const QKeyCombination& key : plain) {
    if (key == pressed) return true;
  }
  return false;
}

ActionRegistry::ActionRegistry(QObject* parent) : QObject(parent) {}

ActionRegistry::~ActionRegistry() = default;

QAction* ActionRegistry::Add(const QString& name) {
  if (name.isEmpty() || m_actions.contains(name)) {
    qWarning("ActionRegistry: the action name \"%s\" is empty or taken", qPrintable(name));
    return nullptr;
  }
  auto* action = new QAction(this);
  action->setObjectName(name);
  m_actions.insert(name, action);
  m_order << name;
  return action;
}

QAction* ActionRegistry::Action(const QString& name) const {
  QAction* action = m_actions.value(name);
  if (!action) qWarning("ActionRegistry: no action is named \"%s\"", qPrintable(name));
  return action;
}

bool ActionRegistry::IsEnabled(const QString& name) const {
  const QAction* action = Action(name);
  return action && action->isEnabled();
}

void ActionRegistry::SetEnabled(const QString& name, bool enabled) {
  if (QAction* action = Action(name)) action->setEnabled(enabled);
}

void ActionRegistry::SetEnabled(std::initializer_list<const char*> names, bool enabled) {
  for (const char* name : names) SetEnabled(QString::fromLatin1(name), enabled);
}

bool ActionRegistry::Trigger(const QString& name) {
  QAction* action = Action(name);
  if (!action || !action->isEnabled()) return false;
  action->trigger();
  return true;
}

void ActionRegistry::BindButton(QAbstractButton* button, const QString& name) {
  QAction* action = Action(name);
  if (!button || !action) return;
  auto it = m_buttons.find(button);
  if (it != m_buttons.end()) {
    disconnect(it->clicked);
    disconnect(it->follows);
  } else {
    // The filter hears the button being switched directly (see eventFilter).
    button->installEventFilter(this);
    connect(button, &QObject::destroyed, this, [this, button] { m_buttons.remove(button); });
    it = m_buttons.insert(button, {});
  }
  // The link is in place before the button takes the action's state, so that the
  // state the button reports back goes to its new action, not to the old one.
  it->name = name;
  it->clicked = connect(button, &QAbstractButton::clicked, action, [action] { action->trigger(); });
  it->follows = connect(action, &QAction::enabledChanged, button, &QWidget::setEnabled);
  button->setEnabled(action->isEnabled());
}

QString ActionRegistry::ActionOf(const QAbstractButton* button) const {
  return m_buttons.value(button).name;
}

void ActionRegistry::BindMenu(OwnerDrawMenu& menu, const MenuCommandNames& names, MenuChoice choice) {
  const QList<QAction*> items = menu.actions();
  for (QAction* item : items) {
    if (auto* popup = qobject_cast<OwnerDrawMenu*>(item->menu())) {
      BindMenu(*popup, names, choice);
      continue;
    }
    const QString name = names(menu.CommandOf(item));
    if (name.isEmpty()) continue;
    const QAction* action = Action(name);
    if (!action) continue;
    menu.EnableItem(item, action->isEnabled());
    QPointer<QAction> shown(item);
    connect(action, &QAction::enabledChanged, &menu, [&menu, shown](bool enabled) {
      if (shown) menu.EnableItem(shown, enabled);
    });
  }
  if (choice == MenuChoice::Dispatched) {
    connect(
        &menu, &OwnerDrawMenu::commandChosen, this,
        [this, names](int command, const QVariant&) {
          if (const QString name = names(command); !name.isEmpty()) Trigger(name);
        },
        Qt::QueuedConnection);
  }
}

void ActionRegistry::BindKeys(QWidget* widget, std::vector<KeyBinding> keys) {
  if (!widget) return;
  for (const KeyBinding& key : keys) Action(key.action);  // a misspelt name is said now, not at the first key
  if (!m_keys.contains(widget)) {
    widget->installEventFilter(this);
    connect(widget, &QObject::destroyed, this, [this, widget] { m_keys.remove(widget); });
  }
  m_keys.insert(widget, std::move(keys));
}

QString ActionRegistry::ActionOfKey(const QWidget* widget, const QKeyEvent& event) const {
  const auto it = m_keys.constFind(widget);
  if (it == m_keys.constEnd()) return {};
  for (const KeyBinding& key : *it) {
    if (key.Matches(event)) return key.action;
  }
  return {};
}

bool ActionRegistry::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    const QString name = ActionOfKey(static_cast<QWidget*>(watched), *static_cast<QKeyEvent*>(event));
    if (!name.isEmpty()) {
      Trigger(name);
      return true;
    }
  } else if (event->type() == QEvent::EnabledChange) {
    // Only the button's own switch counts: a button greyed with its whole window has
    // not locked its command.
    const auto it = m_buttons.constFind(watched);
    if (it != m_buttons.constEnd()) {
      if (QAction* action = m_actions.value(it->name)) {
        action->setEnabled(!static_cast<QWidget*>(watched)->testAttribute(Qt::WA_ForceDisabled));
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qb
