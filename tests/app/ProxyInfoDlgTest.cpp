#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
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

// Each field the check refuses is named in its own words, a warning under "输入错误",
// and gets the focus; only the first wrong field is named.
TEST(ProxyInfoDlg, EachRefusedFieldIsNamedAndGetsTheFocus) {
  ScriptedPrompt prompt;
  CProxyInfoDlg dlg;
  std::vector<QWidget*> focused;
  QTimer::singleShot(0, &dlg, [&] {
    dlg.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.TypeCombo()->setCurrentText("TELNET");
    dlg.PortEdit()->setText("0");
    dlg.RemarkEdit()->setText("a b");
    dlg.accept();
    focused.push_back(QApplication::focusWidget());
    dlg.TypeCombo()->setCurrentText("SOCKS5");
    dlg.AddressCtrl()->SetAddress({10, 0, 0, 1});
    dlg.accept();
    focused.push_back(QApplication::focusWidget());
    dlg.PortEdit()->setText("1080");
    dlg.accept();
    focused.push_back(QApplication::focusWidget());
    EXPECT_TRUE(dlg.isVisible());
    dlg.RemarkEdit()->setText("ab");
    dlg.accept();
  });
  ASSERT_EQ(dlg.exec(), QDialog::Accepted);
  ASSERT_EQ(prompt.messages.size(), 3u);
  EXPECT_EQ(prompt.messages[0].text, "代理服务器类型错误。");
  EXPECT_EQ(prompt.messages[1].text, "端口不能小于0，也不能大于65535。");
  EXPECT_EQ(prompt.messages[2].text, "备注栏不能有分隔符：:、@、$、#、<、>、Tab和空格。");
  for (const auto& m : prompt.messages) {
    EXPECT_EQ(m.caption, "输入错误");
    EXPECT_EQ(m.icon, qb::MsgIcon::Warning);
    EXPECT_EQ(m.buttons, qb::MsgButtons::Ok);
  }
  ASSERT_EQ(focused.size(), 3u);
  EXPECT_TRUE(focused[0] == dlg.TypeCombo() || dlg.TypeCombo()->isAncestorOf(focused[0]));
  EXPECT_EQ(focused[1], dlg.PortEdit());
  EXPECT_EQ(focused[2], dlg.RemarkEdit());
  EXPECT_EQ(dlg.m_sRemark, "ab");
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

namespace {

// Keys go where the focus is, as they do for a user typing.
void Type(const QString& text) {
  for (const QChar c : text) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, c.toLatin1());
  }
}

class TypedAddress : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.AddressCtrl()->Field(0)->setFocus();
  }
  std::array<int, 4> Address() const { return dlg.AddressCtrl()->GetAddress(); }
  CProxyInfoDlg dlg;
};

TEST_F(TypedAddress, ThreeDigitsMoveOnAndTheDotTypedNextDoesNotMoveAgain) {
  Type("127.100.200.5");
  EXPECT_EQ(Address(), (std::array<int, 4>{127, 100, 200, 5}));
  // Short fields end with their dot, and a dot in an empty field is nothing.
  dlg.AddressCtrl()->ClearAddress();
  dlg.AddressCtrl()->Field(0)->setFocus();
  Type("10..0.0.1");
  EXPECT_EQ(Address(), (std::array<int, 4>{10, 0, 0, 1}));
  // Backspace at the start of a field goes back into the one before.
  dlg.AddressCtrl()->ClearAddress();
  dlg.AddressCtrl()->Field(0)->setFocus();
  Type("192.168");  // the focus is in the third field by now
  // Into the second field, through "168", into the first, and its last digit.
  for (int i = 0; i < 6; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  Type("3.4.5.6");
  EXPECT_EQ(Address(), (std::array<int, 4>{193, 4, 5, 6}));
}

TEST_F(TypedAddress, APastedAddressFillsTheFieldsAndItsPortThePortField) {
  QGuiApplication::clipboard()->setText(" 61.50.172.138:8080 ");
  QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
  EXPECT_EQ(Address(), (std::array<int, 4>{61, 50, 172, 138}));
  EXPECT_EQ(dlg.PortEdit()->text(), "8080");

  // Into the port field, an address with its port is the whole proxy.
  QGuiApplication::clipboard()->setText("1.2.3.4:3128");
  dlg.PortEdit()->setFocus();
  QTest::keySequence(dlg.PortEdit(), QKeySequence::Paste);
  EXPECT_EQ(Address(), (std::array<int, 4>{1, 2, 3, 4}));
  EXPECT_EQ(dlg.PortEdit()->text(), "3128");

  // Anything else is pasted as usual, and never half an address.
  QGuiApplication::clipboard()->setText("1.2.3.400");
  dlg.AddressCtrl()->Field(0)->setFocus();
  QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
  EXPECT_EQ(Address()[1], 2);
  EXPECT_EQ(Address()[3], 4);
}

}  // namespace
