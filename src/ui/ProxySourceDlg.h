// The dialog of one proxy source: its name and the address of its page.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace qb {

class CProxySourceDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CProxySourceDlg(QWidget* parent = nullptr);

  // Set before exec() to pre-fill; trimmed after it returned Accepted.
  QString m_sSourceName;
  QString m_sSourceUrl;

  int exec() override;
  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* UrlEdit() const { return m_url; }

 public slots:
  void accept() override;

 private:
  QLineEdit* m_name;
  QLineEdit* m_url;
};

}  // namespace qb
