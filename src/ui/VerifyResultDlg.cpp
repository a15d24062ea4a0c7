#include "ui/VerifyResultDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "base/Translate.h"
#include "ui/DialogUnits.h"
#include "ui/Messages.h"
#include "verify/Judge.h"

namespace qb {

QString ResultStatusText(const QString& rowText, const QString& anonymity, const QString& exitAddress) {
  return qb::Tr(kResultStatusPrefix) + qb::TrLines(rowText.toStdString()) +
         JudgedStatusText(anonymity.toStdString(), exitAddress.toStdString());
}

CVerifyResultDlg::CVerifyResultDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("165");
  setWindowTitle(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "验证结果")));
  setModal(false);
  const QRect size = qb::DluToPixels(font(), 0, 0, 349, 245);
  resize(size.size());

  m_status = new QLabel(this);
  m_status->setObjectName("1053");
  qb::PlaceControl(m_status, 7, 7, 280, 12);
  m_page = new QPlainTextEdit(this);
  m_page->setObjectName("1012");
  m_page->setReadOnly(true);
  m_page->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  qb::PlaceControl(m_page, 7, 22, 335, 200);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  qb::PlaceControl(ok, 292, 226, 50, 14);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CVerifyResultDlg::SetStatus(const QString& text) {
  m_status->setText(text);
}
void CVerifyResultDlg::SetPage(const QString& text) {
  m_page->setPlainText(text);
}
QString CVerifyResultDlg::Status() const {
  return m_status->text();
}
QString CVerifyResultDlg::Page() const {
  return m_page->toPlainText();
}

}  // namespace qb
