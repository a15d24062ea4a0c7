// A progress bar that paints its own bar and a line of text over it, the text
// changing colour where the bar ends. The main window uses it both for the
// verification progress and as its status line.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace qb {

class CTextProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);

  void SetRange(int min, int max);
  // Returns the previous position. Repaints at once, and only when the filled width
  // in pixels changes.
  int SetPos(int pos);
  int GetPos() const { return m_nPos; }
  int GetMin() const { return m_nMin; }
  int GetMax() const { return m_nMax; }
  void SetShowText(bool show);
  void SetBkColour(const QColor& colour) { m_crBk = colour; }
  void SetBarColour(const QColor& colour) { m_crBar = colour; }
  void SetTextColours(const QColor& onBk, const QColor& onBar) {
    m_crTextOnBk = onBk;
    m_crTextOnBar = onBar;
  }

  // The window text: shown instead of the percentage when not empty. Setting the
  // text it already has does not repaint.
  void SetWindowText(const QString& text);
  QString GetWindowText() const { return m_sText; }
  // What the bar shows now: the window text, or the percentage.
  QString DisplayedText() const;
  // The width of the filled part when last computed (-1 = to be computed).
  int BarWidth() const { return m_nBarWidth; }
  // How many repaints the control has asked for (for tests of its economy).
  int RepaintRequests() const { return m_nRepaintRequests; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  double Fraction() const;
  void RequestRepaint(bool now);

  int m_nPos = 0;
  int m_nMax = 100;
  int m_nMin = 0;
  QString m_sText;
  bool m_bShowText = true;
  int m_nBarWidth = -1;
  QColor m_crBar;
  QColor m_crBk;
  QColor m_crTextOnBk;
  QColor m_crTextOnBar;
  int m_nRepaintRequests = 0;
};

}  // namespace qb
