// An up-down control: a pair of arrow buttons that step the whole number in a buddy
// edit, and let the arrow keys in that edit do the same.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace qb {

class CSpinButtonCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CSpinButtonCtrl(QWidget* parent = nullptr);

  void SetBuddy(QLineEdit* buddy);
  QLineEdit* GetBuddy() const { return m_buddy; }
  void SetRange(int lower, int upper);
  int Lower() const { return m_lower; }
  int Upper() const { return m_upper; }

  // Moves the buddy's number by delta steps towards the upper end (negative: towards
  // the lower end), never past either end.
  void Step(int delta);

  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* m_buddy = nullptr;
  QToolButton* m_up;
  QToolButton* m_down;
  int m_lower = 0;
  int m_upper = 100;
};

}  // namespace qb
