// The result window of a single-proxy verification: the status and the page that
// came back through the proxy.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace qb {

// The window's status line for a finished check: "验证状态：" and the row's text, then
// what a judge saw of the proxy (nothing when the resource is no judge).
QString ResultStatusText(const QString& rowText, const QString& anonymity, const QString& exitAddress);

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
