#include "ui/TextProgressCtrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

namespace qb {

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
  const QPalette pal = palette();
  m_crBar = pal.color(QPalette::Highlight);
  m_crBk = pal.color(QPalette::Base);
  m_crTextOnBk = pal.color(QPalette::Highlight);
  m_crTextOnBar = pal.color(QPalette::Base);
  // Everything is painted here, every pixel, so Qt need not clear first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTextProgressCtrl::SetRange(int min, int max) {
  m_nMin = min;
  m_nMax = max;
}

double CTextProgressCtrl::Fraction() const {
  if (m_nMin >= m_nMax) return 0.0;
  return static_cast<double>(m_nPos - m_nMin) / static_cast<double>(m_nMax - m_nMin);
}

void CTextProgressCtrl::RequestRepaint(bool now) {
  ++m_nRepaintRequests;
  if (now) {
    repaint();
  } else {
    update();
  }
}

int CTextProgressCtrl::SetPos(int pos) {
  const int previous = m_nPos;
  m_nPos = pos;
  const int width = static_cast<int>(Fraction() * rect().width());
  if (width != m_nBarWidth) {
    m_nBarWidth = width;
    RequestRepaint(true);
  }
  return previous;
}

void CTextProgressCtrl::SetShowText(bool show) {
  if (show != m_bShowText) RequestRepaint(false);
  m_bShowText = show;
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
  if (text == m_sText) return;
  m_sText = text;
  setAccessibleName(text);
  RequestRepaint(false);
}

QString CTextProgressCtrl::DisplayedText() const {
  if (!m_sText.isEmpty()) return m_sText;
  return QStringLiteral("%1%").arg(static_cast<int>(Fraction() * 100));
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_nBarWidth = -1;
}

void CTextProgressCtrl::paintEvent(QPaintEvent*) {
  // Qt paints widgets into a back buffer, so this does not flicker.
  QPainter p(this);
  const QRect client = rect();
  if (m_nMin >= m_nMax) {
    p.fillRect(client, m_crBk);
    return;
  }
  const int filled = static_cast<int>(client.width() * Fraction());
  const QRect barRect(client.left(), client.top(), qMax(0, filled), client.height());
  const QRect bkRect(client.left() + qMax(0, filled), client.top(), client.width() - qMax(0, filled),
                     client.height());
  p.fillRect(barRect, m_crBar);
  p.fillRect(bkRect, m_crBk);
  if (!m_bShowText) return;

  const QString text = DisplayedText();
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  p.save();
  p.setClipRect(barRect);
  p.setPen(m_crTextOnBar);
  p.drawText(client, flags, text);
  p.restore();
  p.setClipRect(bkRect);
  p.setPen(m_crTextOnBk);
  p.drawText(client, flags, text);
}

}  // namespace qb
