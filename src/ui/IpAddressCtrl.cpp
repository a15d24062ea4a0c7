#include "ui/IpAddressCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStackedLayout>

#include "base/ProxyHost.h"
#include "proxy/ProxyListCommands.h"

namespace qb {

namespace {

// A port as a list writes it: one to five digits.
bool IsPortText(const QString& text) {
  static const QRegularExpression port(QStringLiteral("^\\d{1,5}$"));
  return port.match(text).hasMatch();
}

// A key that no dotted address has, but a name or an IPv6 address may: it turns the
// fields into text. Blanks and control keys stay with the fields.
bool StartsHostText(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = key.text();
  if (text.size() != 1) return false;
  const QChar c = text.front();
  return c.isPrint() && !c.isSpace() && !c.isDigit() && c != QLatin1Char('.');
}

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QWidget(parent) {
  m_fieldsBox = new QWidget(this);
  auto* layout = new QHBoxLayout(m_fieldsBox);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < 4; ++i) {
    auto* edit = new QLineEdit(m_fieldsBox);
    edit->setObjectName(QStringLiteral("field%1").arg(i));
    edit->setValidator(new QIntValidator(0, 255, edit));
    edit->setMaxLength(3);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFrame(false);
    edit->installEventFilter(this);
    m_fields[static_cast<std::size_t>(i)] = edit;
    layout->addWidget(edit, 1);
    if (i < 3) layout->addWidget(new QLabel(QStringLiteral("."), m_fieldsBox));
    // Three digits complete a field: go on to the next, as the address control does.
    if (i < 3) {
      connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
        if (text.size() != 3) return;
        m_dotAfter[static_cast<std::size_t>(i)] = false;
        m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
      });
    }
  }

  m_text = new QLineEdit(this);
  m_text->setObjectName(QStringLiteral("host"));
  m_text->setFrame(false);
  m_text->setMaxLength(300);
  m_text->installEventFilter(this);
  // Emptied, the line gives the four fields back, so that a dotted address is typed
  // as before.
  connect(m_text, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (text.isEmpty()) ShowFields();
  });

  m_stack = new QStackedLayout(this);
  m_stack->setContentsMargins(0, 0, 0, 0);
  m_stack->addWidget(m_fieldsBox);
  m_stack->addWidget(m_text);
  setFocusProxy(m_fields[0]);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == m_text) {
    // "host:port" pasted into the line fills the port field too.
    if (key->matches(QKeySequence::Paste)) {
      if (const QClipboard* clipboard = QGuiApplication::clipboard();
          clipboard && PasteAddress(clipboard->text()))
        return true;
    }
    return QWidget::eventFilter(watched, event);
  }
  int i = 0;
  while (i < 4 && watched != m_fields[static_cast<std::size_t>(i)]) ++i;
  if (i == 4) return QWidget::eventFilter(watched, event);
  QLineEdit* field = m_fields[static_cast<std::size_t>(i)];

  if (key->matches(QKeySequence::Paste)) {
    // A whole address (with its port) lands in all four fields at once, a name or an
    // IPv6 address in the text; anything else is pasted into the field as usual, where
    // the validator judges it.
    if (const QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard && PasteAddress(clipboard->text()))
      return true;
    return QWidget::eventFilter(watched, event);
  }
  if (key->text() == QLatin1String(".")) {
    // A dot ends a field that has digits. In an empty field it does nothing: after
    // three digits moved on by themselves, the dot the user types next must not move
    // on once more. After the fourth field's digits it starts a fifth part, which only
    // a name has ("1.2.3.4.example").
    if (field->text().isEmpty()) return true;
    if (i < 3) {
      m_dotAfter[static_cast<std::size_t>(i)] = true;
      m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
      m_fields[static_cast<std::size_t>(i + 1)]->selectAll();
    } else {
      int cursor = 0;
      const QString text = FieldsText(i, key->text(), cursor);
      ShowText(text, cursor);
    }
    return true;
  }
  if (key->text() == QLatin1String(":") && i == 3 && !field->text().isEmpty() &&
      field->cursorPosition() == field->text().size()) {
    // After four numbers a colon can only begin the port (an IPv6 address has at most
    // four digits before its first colon, and three fill a field).
    emit PortNext();
    return true;
  }
  if (StartsHostText(*key)) {
    int cursor = 0;
    const QString text = FieldsText(i, key->text(), cursor);
    ShowText(text, cursor);
    return true;
  }
  if (key->key() == Qt::Key_Backspace && i > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) {
    // Back over the dot into the field before, as typing forward went.
    QLineEdit* before = m_fields[static_cast<std::size_t>(i - 1)];
    before->setFocus();
    before->end(false);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

QString CIpAddressCtrl::FieldsText(int i, const QString& typed, int& cursor) const {
  QString out;
  int last = -1;  // the field last put into out
  cursor = 0;
  for (int f = 0; f < 4; ++f) {
    const QLineEdit* edit = m_fields[static_cast<std::size_t>(f)];
    QString part = edit->text();
    int at = -1;
    if (f == i) {
      const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
      const int length = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
      part = part.left(start) + typed + part.mid(start + length);
      at = start + static_cast<int>(typed.size());
    }
    if (part.isEmpty()) continue;
    // Fields next to each other keep the way the user went from one to the other.
    if (last >= 0 && (f != last + 1 || m_dotAfter[static_cast<std::size_t>(last)])) out += QLatin1Char('.');
    if (at >= 0) cursor = static_cast<int>(out.size()) + at;
    out += part;
    last = f;
  }
  return out;
}

void CIpAddressCtrl::ShowText(const QString& text, int cursor) {
  for (QLineEdit* f : m_fields) f->clear();
  m_dotAfter = {true, true, true};
  m_text->setText(text);
  m_text->setCursorPosition(cursor < 0 ? static_cast<int>(text.size()) : cursor);
  const bool hadFocus = m_fieldsBox->isAncestorOf(QApplication::focusWidget());
  m_stack->setCurrentWidget(m_text);
  setFocusProxy(m_text);
  if (hadFocus) m_text->setFocus();
}

void CIpAddressCtrl::ShowFields() {
  const bool hadFocus = m_text->hasFocus();
  m_text->clear();
  m_stack->setCurrentWidget(m_fieldsBox);
  setFocusProxy(m_fields[0]);
  if (hadFocus) m_fields[0]->setFocus();
}

bool CIpAddressCtrl::IsHostText() const {
  return m_stack->currentWidget() == m_text;
}

QString CIpAddressCtrl::HostText() const {
  return m_text->text().trimmed();
}

void CIpAddressCtrl::SetHost(const QString& host) {
  static const QRegularExpression dotted(QStringLiteral("^[0-9.]+$"));
  if (host.isEmpty() || dotted.match(host).hasMatch()) {
    SetAddress(SplitAddressFields(host.toStdString()));
  } else {
    // From its start: a long IPv6 address is wider than the control, and its first
    // groups tell it apart.
    ShowText(host, 0);
  }
}

bool CIpAddressCtrl::PasteAddress(const QString& text, bool portRequired) {
  static const QRegularExpression address(
      QStringLiteral("^\\s*(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})(?::(\\d{1,5}))?\\s*$"));
  const QRegularExpressionMatch m = address.match(text);
  if (m.hasMatch()) {
    std::array<int, 4> fields{};
    for (int f = 0; f < 4; ++f) {
      fields[static_cast<std::size_t>(f)] = m.captured(f + 1).toInt();
      if (fields[static_cast<std::size_t>(f)] > 255) return false;
    }
    SetAddress(fields);
    m_fields[3]->setFocus();
    m_fields[3]->end(false);
    if (m.hasCaptured(5)) emit PortPasted(m.captured(5));
    return true;
  }

  // A name or an IPv6 address, and its port: "gw.example:8080", "[2001:db8::1]:8080".
  // A bare IPv6 address is an address whole: its last group is no port.
  const std::string trimmed = text.trimmed().toStdString();
  std::string host = trimmed;
  QString port;
  const std::size_t colon = HostColon(trimmed);
  if (colon != std::string::npos && colon > 0 &&
      (trimmed.front() == '[' || trimmed.find(':', colon + 1) == std::string::npos)) {
    const QString after = QString::fromStdString(trimmed.substr(colon + 1));
    if (IsPortText(after)) {
      host = trimmed.substr(0, colon);
      port = after;
    }
  }
  if (portRequired && port.isEmpty()) return false;
  const std::optional<ProxyHost> parsed = ParseProxyHost(host);
  if (!parsed || parsed->kind == HostKind::Ipv4) return false;
  ShowText(QString::fromStdString(host));
  if (!port.isEmpty()) emit PortPasted(port);
  return true;
}

std::array<int, 4> CIpAddressCtrl::GetAddress() const {
  std::array<int, 4> out{};
  for (std::size_t i = 0; i < 4; ++i) out[i] = m_fields[i]->text().toInt();
  return out;
}

void CIpAddressCtrl::SetAddress(const std::array<int, 4>& fields) {
  ShowFields();
  m_dotAfter = {true, true, true};
  for (std::size_t i = 0; i < 4; ++i) m_fields[i]->setText(QString::number(fields[i] & 0xFF));
}

void CIpAddressCtrl::ClearAddress() {
  ShowFields();
  m_dotAfter = {true, true, true};
  for (QLineEdit* f : m_fields) f->clear();
}

}  // namespace qb
