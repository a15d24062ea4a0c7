#include "ui/ProxyInfoDlg.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "base/Prompt.h"
#include "base/Translate.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListCommands.h"
#include "ui/DialogUnits.h"
#include "ui/IpAddressCtrl.h"
#include "ui/Messages.h"

namespace qb {

CProxyInfoDlg::CProxyInfoDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("135");
  setWindowTitle(qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "代理信息")));
  const QRect size = qb::DluToPixels(font(), 0, 0, 296, 97);
  setFixedSize(size.width(), size.height());

  auto label = [this](const char* text, int x, int y, int w, int h) {
    auto* l = new QLabel(qb::Tr(text), this);
    qb::PlaceControl(l, x, y, w, h);
  };
  label(QT_TRANSLATE_NOOP("Quillberry", "协议:"), 7, 7, 20, 12);
  m_type = new QComboBox(this);
  m_type->setObjectName("1035");
  m_type->setEditable(true);
  for (const char* t : kProxyTypes) m_type->addItem(QString::fromLatin1(t));
  // The type is always upper case, whatever is typed.
  connect(m_type->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
    const int pos = m_type->lineEdit()->cursorPosition();
    m_type->lineEdit()->setText(text.toUpper());
    m_type->lineEdit()->setCursorPosition(pos);
  });
  qb::PlaceControl(m_type, 31, 7, 43, 12);

  label(QT_TRANSLATE_NOOP("Quillberry", "服务器地址:"), 79, 7, 46, 12);
  m_address = new CIpAddressCtrl(this);
  m_address->setObjectName("1033");
  qb::PlaceControl(m_address, 129, 7, 78, 12);

  label(QT_TRANSLATE_NOOP("Quillberry", "服务端口:"), 211, 7, 41, 12);
  m_port = new QLineEdit(this);
  m_port->setObjectName("1037");
  m_port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_port));
  qb::PlaceControl(m_port, 256, 7, 33, 12);
  connect(m_address, &CIpAddressCtrl::PortPasted, m_port, &QLineEdit::setText);
  connect(m_address, &CIpAddressCtrl::PortNext, this, [this] {
    m_port->setFocus();
    m_port->selectAll();
  });
  // "a.b.c.d:port" or "host:port" pasted into the port field is the whole proxy, not a
  // port.
  m_port->installEventFilter(this);

  label(QT_TRANSLATE_NOOP("Quillberry", "备注:"), 7, 33, 20, 12);
  m_remark = new QLineEdit(this);
  m_remark->setObjectName("1038");
  qb::PlaceControl(m_remark, 31, 33, 177, 12);

  // The proxy's own log-on, for the proxies that ask for one; kept apart from the
  // list, in the data directory's store.
  label(QT_TRANSLATE_NOOP("Quillberry", "用户名:"), 7, 51, 24, 12);
  m_user = new QLineEdit(this);
  m_user->setObjectName("User");
  qb::PlaceControl(m_user, 31, 51, 77, 12);
  label(QT_TRANSLATE_NOOP("Quillberry", "密码:"), 111, 51, 36, 12);
  m_password = new QLineEdit(this);
  m_password->setObjectName("Password");
  m_password->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  qb::PlaceControl(m_password, 148, 51, 60, 12);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  qb::PlaceControl(ok, 86, 76, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CProxyInfoDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName("2");
  qb::PlaceControl(cancel, 159, 76, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &CProxyInfoDlg::reject);
}

int CProxyInfoDlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CProxyInfoDlg::OnInitDialog() {
  m_type->setCurrentText(m_sType);
  m_port->setText(m_sPort);
  m_remark->setText(m_sRemark);
  m_user->setText(m_sUser);
  m_password->setText(m_sPassword);
  if (m_sAddress.isEmpty()) {
    m_address->ClearAddress();
  } else {
    m_address->SetHost(m_sAddress);
  }
}

void CProxyInfoDlg::accept() {
  ProxyInfo info{m_type->currentText().toStdString(), m_address->GetAddress(), m_port->text().toStdString(),
                 m_remark->text().toStdString(),
                 m_address->IsHostText() ? m_address->HostText().toStdString() : std::string()};
  const bool typeWasEmpty = m_type->currentText().trimmed().isEmpty();
  const ProxyInfoCheck check = CheckProxyInfo(info);
  if (typeWasEmpty) m_type->setCurrentText(QStringLiteral("HTTP"));
  if (check.ok) {
    // A password needs its user name; neither may hold a control character, which
    // no log-on has and which would break the store.
    const ProxyCredentials logOn{m_user->text().trimmed().toStdString(), m_password->text().toStdString()};
    if ((logOn.user.empty() && !logOn.password.empty()) ||
        (!logOn.user.empty() && !ValidCredentials(logOn))) {
      qb::ShowMessage(kMsgBadLogOn, kCaptionInputError, qb::MsgIcon::Warning);
      m_user->setFocus();
      return;
    }
  }
  if (!check.ok) {
    qb::ShowMessage(ProxyInfoCheckText(check, info.host), kCaptionInputError, qb::MsgIcon::Warning);
    switch (check.focus) {
      case ProxyInfoField::Type:
        m_type->setFocus();
        break;
      case ProxyInfoField::Address:
        m_address->setFocus();
        break;
      case ProxyInfoField::Port:
        m_port->setFocus();
        break;
      case ProxyInfoField::Remark:
        m_remark->setFocus();
        break;
      default:
        break;
    }
    return;
  }
  m_sType = m_type->currentText();
  m_sAddress = QString::fromStdString(info.host.empty() ? FormatAddress(info.address) : info.host);
  m_sPort = m_port->text();
  m_sRemark = m_remark->text().trimmed();
  m_sUser = m_user->text().trimmed();
  m_sPassword = m_user->text().trimmed().isEmpty() ? QString() : m_password->text();
  QDialog::accept();
}

bool CProxyInfoDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_port && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard && m_address->PasteAddress(clipboard->text(), true)) return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace qb
