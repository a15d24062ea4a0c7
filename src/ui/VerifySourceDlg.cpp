#include "ui/VerifySourceDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Prompt.h"
#include "base/Translate.h"
#include "settings/VerifySource.h"
#include "ui/DialogUnits.h"

namespace qb {

namespace {

// What OK says of the text ValidateVerifySource refused, as a warning.
constexpr const char* kCaptionResourceError = QT_TRANSLATE_NOOP("Quillberry", "验证资源错误");
const char* ProblemText(VerifySourceProblem problem) {
  switch (problem) {
    case VerifySourceProblem::NoName:
      return QT_TRANSLATE_NOOP("Quillberry", "验证资源名称不能为空。");
    case VerifySourceProblem::NameHasSeparator:
      return QT_TRANSLATE_NOOP("Quillberry", "验证资源名称不能含有字符@和%。");
    case VerifySourceProblem::NoUrl:
      return QT_TRANSLATE_NOOP("Quillberry", "验证资源网址不能为空。");
    case VerifySourceProblem::NoScheme:
      return QT_TRANSLATE_NOOP("Quillberry", "请添加协议头http://或ftp://。");
    case VerifySourceProblem::NoFeature:
      return QT_TRANSLATE_NOOP("Quillberry", "验证特征串不能为空。");
    case VerifySourceProblem::None:
      break;
  }
  return "";
}

}  // namespace

CVerifySourceDlg::CVerifySourceDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("CVerifySourceDlg");
  setWindowTitle(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "验证资源信息")));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(qb::DluToPixels(font(), 0, 0, 293, 99).size());

  auto field = [this](const char* label, int id, int y, int width) {
    auto* l = new QLabel(qb::Tr(label), this);
    qb::PlaceControl(l, 7, y, 55, 14);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    qb::PlaceControl(edit, 65, y, width, 14);
    l->setBuddy(edit);
    return edit;
  };
  m_name = field(QT_TRANSLATE_NOOP("Quillberry", "验证资源名称："), kVerifyNameEditId, 7, 118);
  m_url = field(QT_TRANSLATE_NOOP("Quillberry", "验证资源网址："), kVerifyUrlEditId, 29, 221);
  m_feature = field(QT_TRANSLATE_NOOP("Quillberry", "特征字符串："), kVerifyFeatureEditId, 51, 118);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  qb::PlaceControl(ok, 87, 78, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CVerifySourceDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName("2");
  qb::PlaceControl(cancel, 156, 78, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &CVerifySourceDlg::reject);

  m_name->setFocus();
}

int CVerifySourceDlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CVerifySourceDlg::OnInitDialog() {
  m_name->setText(QString::fromStdString(m_sName));
  m_url->setText(QString::fromStdString(m_sUrl));
  m_feature->setText(QString::fromStdString(m_sFeature));
}

void CVerifySourceDlg::accept() {
  std::string name = m_name->text().toStdString();
  std::string url = m_url->text().toStdString();
  std::string feature = m_feature->text().toStdString();
  const VerifySourceCheck check = ValidateVerifySource(name, url, feature);
  if (!check.ok) {
    qb::ShowMessage(ProblemText(check.problem), kCaptionResourceError, qb::MsgIcon::Warning);
    QLineEdit* focus = check.focusId == kVerifyUrlEditId       ? m_url
                       : check.focusId == kVerifyFeatureEditId ? m_feature
                                                               : m_name;
    focus->setFocus();
    return;
  }
  m_sName = std::move(name);
  m_sUrl = std::move(url);
  m_sFeature = std::move(feature);
  QDialog::accept();
}

}  // namespace qb
