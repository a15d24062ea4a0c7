#include "ui/AboutDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "BuildInfo.h"
#include "base/Translate.h"
#include "base/Version.h"
#include "ui/DialogUnits.h"
#include "ui/Resources.h"

namespace qb {

namespace {

constexpr const char* kMaker = QT_TRANSLATE_NOOP("Quillberry", "Quillberry 开发组 出品");
constexpr const char* kMotto =
    QT_TRANSLATE_NOOP("Quillberry", "每一个代理，都要亲自验过；\n每一次切换，只需轻点两下。");
// %1: the version, %2: the date of the build (YYYYMMDD).
constexpr const char* kProductLine =
    QT_TRANSLATE_NOOP("Quillberry", "Ostrel代理验证（Quillberry） %1版(Build: %2)");
// The notice an interactive program under the GPL shows where its rights line stood.
constexpr const char* kLicenceLine =
    QT_TRANSLATE_NOOP("Quillberry", "自由软件，依照 GPL-3.0-or-later 发布，不提供任何担保。");
constexpr const char* kEmail = "quillberry@example.org";

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_sEmail(QString::fromUtf8(kEmail)) {
  setObjectName("100");
  setWindowTitle(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "关于 Ostrel代理验证（Quillberry）")));
  const QRect size = qb::DluToPixels(font(), 0, 0, 323, 98);
  setFixedSize(size.width(), size.height());

  auto* frame = new QGroupBox(this);
  qb::PlaceControl(frame, 7, 3, 309, 63);
  auto* mailFrame = new QGroupBox(this);
  qb::PlaceControl(mailFrame, 7, 67, 240, 26);

  auto* icon = new QLabel(this);
  icon->setObjectName("128");
  icon->setPixmap(qb::ResourceIcon(IDR_MAINFRAME).pixmap(32, 32));
  icon->setAlignment(Qt::AlignCenter);
  qb::PlaceControl(icon, 14, 12, 24, 22);

  auto label = [this](const char* text, int x, int y, int w, int h) {
    auto* l = new QLabel(qb::Tr(text), this);
    l->setWordWrap(true);
    qb::PlaceControl(l, x, y, w, h);
    return l;
  };
  label(kMaker, 46, 11, 262, 10);
  label(kMotto, 46, 23, 262, 20);
  QLabel* product = label(kProductLine, 46, 45, 262, 19);
  product->setObjectName("ProductLine");
  product->setText(
      qb::Tr(kProductLine).arg(QString::fromLatin1(kVersion), QString::fromLatin1(QUILLBERRY_BUILD_DATE)) +
      "\n" + qb::Tr(kLicenceLine));
  label("E-mail: ", 14, 78, 30, 10);

  m_email = new QLineEdit(this);
  m_email->setObjectName("1016");
  m_email->setReadOnly(true);
  qb::PlaceControl(m_email, 46, 76, 192, 12);

  auto* ok = new QPushButton(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "确定")), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  qb::PlaceControl(ok, 258, 73, 58, 15);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

int CAboutDlg::exec() {
  m_email->setText(m_sEmail);
  return QDialog::exec();
}

void ShowAboutBox(QWidget* parent) {
  CAboutDlg dlg(parent);
  dlg.exec();
}

}  // namespace qb
