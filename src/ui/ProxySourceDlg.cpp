#include "ui/ProxySourceDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Prompt.h"
#include "base/Translate.h"
#include "sources/ProxySource.h"
#include "ui/DialogUnits.h"
#include "ui/Messages.h"

namespace qb {

namespace {

// What OK says of the edit ValidateProxySource refused.
constexpr const char* kMsgBadSourceName = QT_TRANSLATE_NOOP("Quillberry", "名称不能为空或含空格符。");
constexpr const char* kMsgBadSourceUrl = QT_TRANSLATE_NOOP("Quillberry", "网页地址不能为空或含空格符。");

}  // namespace

CProxySourceDlg::CProxySourceDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("157");
  setWindowTitle(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "代理资源")));
  const QRect size = qb::DluToPixels(font(), 0, 0, 300, 68);
  setFixedSize(size.size());
  auto* nameLabel = new QLabel(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "名称：")), this);
  qb::PlaceControl(nameLabel, 7, 9, 42, 10);
  m_name = new QLineEdit(this);
  m_name->setObjectName("1012");
  qb::PlaceControl(m_name, 52, 7, 240, 12);
  auto* urlLabel = new QLabel(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "网页地址：")), this);
  qb::PlaceControl(urlLabel, 7, 27, 42, 10);
  m_url = new QLineEdit(this);
  m_url->setObjectName("1013");
  qb::PlaceControl(m_url, 52, 25, 240, 12);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  qb::PlaceControl(ok, 90, 47, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CProxySourceDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName("2");
  qb::PlaceControl(cancel, 160, 47, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CProxySourceDlg::exec() {
  m_name->setText(m_sSourceName);
  m_url->setText(m_sSourceUrl);
  return QDialog::exec();
}

void CProxySourceDlg::accept() {
  std::string name = m_name->text().toStdString();
  std::string url = m_url->text().toStdString();
  const ProxySourceCheck check = ValidateProxySource(name, url);
  m_sSourceName = QString::fromStdString(name);
  m_sSourceUrl = QString::fromStdString(url);
  if (!check.ok) {
    qb::ShowMessage(check.focusId == kSourceUrlEditId ? kMsgBadSourceUrl : kMsgBadSourceName,
                    kCaptionInputError, qb::MsgIcon::Warning);
    (check.focusId == kSourceUrlEditId ? m_url : m_name)->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace qb
