#include "ui/IpAddressCtrl.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace qb {

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < 4; ++i) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("field%1").arg(i));
    edit->setValidator(new QIntValidator(0, 255, edit));
    edit->setMaxLength(3);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFrame(false);
    edit->installEventFilter(this);
    m_fields[static_cast<std::size_t>(i)] = edit;
    layout->addWidget(edit, 1);
    if (i < 3) layout->addWidget(new QLabel(QStringLiteral("."), this));
    // Three digits complete a field: go on to the next, as the address control does.
    if (i < 3) {
      connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
        if (text.size() == 3) m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
      });
    }
  }
  setFocusProxy(m_fields[0]);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  int i = 0;
  while (i < 4 && watched != m_fields[static_cast<std::size_t>(i)]) ++i;
  if (i == 4) return QWidget::eventFilter(watched, event);
  QLineEdit* field = m_fields[static_cast<std::size_t>(i)];

  if (key->matches(QKeySequence::Paste)) {
    // A whole address (with its port) lands in all four fields at once; anything
    // else is pasted into the field as usual, where the validator judges it.
    if (const QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard && PasteAddress(clipboard->text()))
      return true;
    return QWidget::eventFilter(watched, event);
  }
  if (key->text() == QLatin1String(".")) {
    // A dot ends a field that has digits. In an empty field it does nothing: after
    // three digits moved on by themselves, the dot the user types next must not move
    // on once more.
    if (i < 3 && !field->text().isEmpty()) {
      m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
      m_fields[static_cast<std::size_t>(i + 1)]->selectAll();
    }
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

bool CIpAddressCtrl::PasteAddress(const QString& text) {
  static const QRegularExpression address(
      QStringLiteral("^\\s*(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})(?::(\\d{1,5}))?\\s*$"));
  const QRegularExpressionMatch m = address.match(text);
  if (!m.hasMatch()) return false;
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

std::array<int, 4> CIpAddressCtrl::GetAddress() const {
  std::array<int, 4> out{};
  for (std::size_t i = 0; i < 4; ++i) out[i] = m_fields[i]->text().toInt();
  return out;
}

void CIpAddressCtrl::SetAddress(const std::array<int, 4>& fields) {
  for (std::size_t i = 0; i < 4; ++i) m_fields[i]->setText(QString::number(fields[i] & 0xFF));
}

void CIpAddressCtrl::ClearAddress() {
  for (QLineEdit* f : m_fields) f->clear();
}

}  // namespace qb
