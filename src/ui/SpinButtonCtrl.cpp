#include "ui/SpinButtonCtrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace qb {

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent) : QWidget(parent) {
  auto arrow = [this](Qt::ArrowType type, int delta) {
    auto* b = new QToolButton(this);
    b->setArrowType(type);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(b, &QToolButton::clicked, this, [this, delta] { Step(delta); });
    return b;
  };
  m_up = arrow(Qt::UpArrow, 1);
  m_down = arrow(Qt::DownArrow, -1);
  setFocusPolicy(Qt::NoFocus);
}

void CSpinButtonCtrl::SetBuddy(QLineEdit* buddy) {
  if (m_buddy) m_buddy->removeEventFilter(this);
  m_buddy = buddy;
  if (m_buddy) m_buddy->installEventFilter(this);
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
  m_lower = std::min(lower, upper);
  m_upper = std::max(lower, upper);
}

void CSpinButtonCtrl::Step(int delta) {
  if (!m_buddy) return;
  // Whatever the edit holds (empty, out of range, a number too long for an int) is
  // first brought into the range, so one click always lands on a number it allows.
  bool ok = false;
  const qlonglong typed = m_buddy->text().trimmed().toLongLong(&ok);
  const qlonglong current = ok ? std::clamp<qlonglong>(typed, m_lower, m_upper) : m_lower;
  const qlonglong next = std::clamp<qlonglong>(current + delta, m_lower, m_upper);
  m_buddy->setText(QString::number(next));
}

bool CSpinButtonCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent* event) {
  const int half = height() / 2;
  m_up->setGeometry(0, 0, width(), half);
  m_down->setGeometry(0, half, width(), height() - half);
  QWidget::resizeEvent(event);
}

}  // namespace qb
