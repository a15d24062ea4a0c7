// The proxy dialog: type, address, port and remark of one proxy, and the log-on of a
// proxy that needs one.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;

namespace qb {

class CIpAddressCtrl;

class CProxyInfoDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CProxyInfoDlg(QWidget* parent = nullptr);

  // Set before exec() to pre-fill; read after it returned Accepted.
  QString m_sType;
  QString m_sAddress;
  QString m_sPort;
  QString m_sRemark;
  QString m_sUser;
  QString m_sPassword;

  int exec() override;

  QComboBox* TypeCombo() const { return m_type; }
  CIpAddressCtrl* AddressCtrl() const { return m_address; }
  QLineEdit* PortEdit() const { return m_port; }
  QLineEdit* RemarkEdit() const { return m_remark; }
  QLineEdit* UserEdit() const { return m_user; }
  QLineEdit* PasswordEdit() const { return m_password; }

 public slots:
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();

  QComboBox* m_type;
  CIpAddressCtrl* m_address;
  QLineEdit* m_port;
  QLineEdit* m_remark;
  QLineEdit* m_user;
  QLineEdit* m_password;
};

}  // namespace qb
