#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include "support/ScriptedPrompt.h"
#include "ui/IpAddressCtrl.h"
#include "ui/ProxyInfoDlg.h"

using namespace qb;

using qbtest::ScriptedPrompt;

namespace {

TEST(ProxyInfoDlg, PrefillsAndReturnsWhatTheUserConfirmed) {
  CProxyInfoDlg dlg;
  dlg.m_sType = "SOCKS5";
  dlg.m_sAddress = "61.50.172.138";
  dlg.m_sPort = "1080";
  dlg.m_sRemark = "old";
  QTimer::singleShot(0, &dlg, [&] {
    EXPECT_EQ(dlg.TypeCombo()->currentText(), "SOCKS5");
    EXPECT_EQ(dlg.AddressCtrl()->GetAddress(), (std::array<int, 4>{61, 50, 172, 138}));
    dlg.PortEdit()->setText("0080");
    dlg.RemarkEdit()->setText("  new ");
    dlg.accept();
  });
  ASSERT_EQ(dlg.exec(), QDialog::Accepted);
  EXPECT_EQ(dlg.m_sType, "SOCKS5");
  EXPECT_EQ(dlg.m_sAddress, "61.50.172.138");
  EXPECT_EQ(dlg.m_sPort, "0080");
  EXPECT_EQ(dlg.m_sRemark, "new");
}

TEST(ProxyInfoDlg, RefusesBadInputAndStaysOpen) {
  ScriptedPrompt prompt;
  CProxyInfoDlg dlg;
  QTimer::singleShot(0, &dlg, [&] {
    dlg.TypeCombo()->setCurrentText("");
    dlg.accept();  // empty address
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.TypeCombo()->currentText(), "HTTP");
    dlg.AddressCtrl()->SetAddress({10, 0, 0, 1});
    dlg.PortEdit()->setText("70000");
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible());
    dlg.PortEdit()->setText("8080");
    dlg.accept();
  });
  ASSERT_EQ(dlg.exec(), QDialog::Accepted);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, "代理服务器地址错误。");
  EXPECT_EQ(prompt.messages[0].caption, "输入错误");
  EXPECT_EQ(prompt.messages[1].text, "端口不能小于0，也不能大于65535。");
  EXPECT_EQ(dlg.m_sType, "HTTP");
  EXPECT_EQ(dlg.m_sAddress, "10.0.0.1");
}

TEST(ProxyInfoDlg, TypeIsUpperCasedAsTyped) {
  CProxyInfoDlg dlg;
  dlg.show();
  QLineEdit* edit = dlg.TypeCombo()->lineEdit();
  edit->clear();
  emit edit->textEdited("socks4");
  EXPECT_EQ(dlg.TypeCombo()->currentText(), "SOCKS4");
}

}  // namespace
