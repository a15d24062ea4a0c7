#include "ui/IpAddressCtrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

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
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 3; ++i) {
      // A dot moves on to the next field.
      if (watched == m_fields[static_cast<std::size_t>(i)] && key->text() == QLatin1String(".")) {
        m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
        m_fields[static_cast<std::size_t>(i + 1)]->selectAll();
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
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
