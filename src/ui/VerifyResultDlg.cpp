#include "ui/VerifyResultDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "base/Translate.h"
#include "ui/DialogUnits.h"
#include "ui/Messages.h"
#include "verify/Judge.h"

namespace qb {

namespace {

// The addition to a proxy's status when a judge page saw it: "    匿名程度：高匿    出口地址：A".
constexpr const char* kTextJudged = QT_TRANSLATE_NOOP("Quillberry", "    匿名程度：%1    出口地址：%2");
constexpr const char* kTextTransparent = QT_TRANSLATE_NOOP("Quillberry", "透明");
constexpr const char* kTextAnonymous = QT_TRANSLATE_NOOP("Quillberry", "匿名");
constexpr const char* kTextElite = QT_TRANSLATE_NOOP("Quillberry", "高匿");

// Empty when nothing was judged.
QString JudgedStatusText(const std::string& anonymity, const std::string& exitAddress) {
  if (anonymity.empty()) return {};
  const char* word = anonymity == AnonymityName(Anonymity::Transparent) ? kTextTransparent
                     : anonymity == AnonymityName(Anonymity::Anonymous) ? kTextAnonymous
                                                                        : kTextElite;
  return qb::Tr(kTextJudged).arg(qb::Tr(word), QString::fromStdString(exitAddress));
}

}  // namespace

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
