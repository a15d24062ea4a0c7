#include "ui/AboutDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Translate.h"
#include "ui/DialogUnits.h"
#include "ui/Resources.h"

namespace qb {

namespace {

constexpr const char* kMaker = QT_TRANSLATE_NOOP("Quillberry", "Quillberry 开发组 出品");
constexpr const char* kMotto =
    QT_TRANSLATE_NOOP("Quillberry", "每一个代理，都要亲自验过；\n每一次切换，只需轻点两下。");
constexpr const char* kProductLine = QT_TRANSLATE_NOOP(
    "Quillberry", "Ostrel代理验证（Quillberry） 1.8版(Build: 20050312)\n© Quillberry 开发组，保留所有权利。");
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
  label(kProductLine, 46, 45, 262, 19);
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
