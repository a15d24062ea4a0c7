// The about box (dialog 100), opened from the tray menu's first item.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace qb {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // The maker's address, shown read-only so that it can be copied.
  QString m_sEmail;

  int exec() override;

  QLineEdit* EmailEdit() const { return m_email; }

 private:
  QLineEdit* m_email;
};

// The about command: a fresh box each time, modal; its result does not matter.
void ShowAboutBox(QWidget* parent);

}  // namespace qb
