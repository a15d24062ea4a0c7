// The result window of a single-proxy verification: the status and the page that
// came back through the proxy.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace qb {

class CVerifyResultDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CVerifyResultDlg(QWidget* parent = nullptr);

  void SetStatus(const QString& text);
  void SetPage(const QString& text);
  QString Status() const;
  QString Page() const;

 private:
  QLabel* m_status;
  QPlainTextEdit* m_page;
};

}  // namespace qb
