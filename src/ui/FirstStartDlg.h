// The welcome of a first start: what the program does, the main job in three steps,
// and the two settings that change the user's system (start at log-in, a verification
// every three hours), shown ticked as their defaults before anything is written.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPushButton;

namespace qb {

struct FirstStartChoices {
  bool autoRun = true;
  bool autoVerify = true;
};

class CFirstStartDlg : public QDialog {
  Q_OBJECT

 public:
  // choices: as the settings stand (their defaults on a first start); startsMinimised:
  // whether later starts go to the tray, which the welcome says; resourceHosts: the
  // sites the ticked verification resources reach.
  CFirstStartDlg(const FirstStartChoices& choices, bool startsMinimised, const QStringList& resourceHosts,
                 QWidget* parent = nullptr);

  // What the boxes say now; closing the welcome in any way keeps what it showed.
  FirstStartChoices Choices() const;

  QCheckBox* AutoRunBox() const { return m_autoRun; }
  QCheckBox* AutoVerifyBox() const { return m_autoVerify; }
  QPushButton* StartButton() const { return m_start; }
  QLabel* ResourcesLabel() const { return m_resources; }

 private:
  QCheckBox* m_autoRun;
  QCheckBox* m_autoVerify;
  QPushButton* m_start;
  QLabel* m_resources;
};

}  // namespace qb
