#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "support/ScriptedPrompt.h"
#include "ui/IpAddressCtrl.h"
#include "ui/Messages.h"
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

namespace {

// A host is a name or an IPv6 address as often as a dotted address: what no dotted
// address has turns the fields into one line holding what was typed, and OK hands the
// host on as the list writes it.
TEST_F(TypedAddress, ANameOrAnIpv6AddressTypedBecomesOneLine) {
  CIpAddressCtrl* ctrl = dlg.AddressCtrl();
  auto empty = [&] {
    ctrl->TextField()->selectAll();
    QTest::keyClick(ctrl->TextField(), Qt::Key_Backspace);
  };
  Type("gw.Example");
  EXPECT_TRUE(ctrl->IsHostText());
  EXPECT_EQ(ctrl->HostText(), "gw.Example");
  EXPECT_EQ(QApplication::focusWidget(), ctrl->TextField());
  // Emptied, the line gives back the fields, and a dotted address is typed as ever.
  empty();
  EXPECT_FALSE(ctrl->IsHostText());
  EXPECT_EQ(QApplication::focusWidget(), ctrl->Field(0));
  Type("10.0.0.1");
  EXPECT_FALSE(ctrl->IsHostText());
  EXPECT_EQ(Address(), (std::array<int, 4>{10, 0, 0, 1}));

  // Three digits filled a field and moved on; the line joins them back without a dot.
  ctrl->ClearAddress();
  ctrl->Field(0)->setFocus();
  Type("2001:db8::1");
  EXPECT_EQ(ctrl->HostText(), "2001:db8::1");
  empty();
  Type("fe80::1");
  EXPECT_EQ(ctrl->HostText(), "fe80::1");
  empty();
  // A fifth part belongs to a name only.
  Type("1.2.3.4.example");
  EXPECT_EQ(ctrl->HostText(), "1.2.3.4.example");
  empty();
  Type("[::1]");
  EXPECT_EQ(ctrl->HostText(), "[::1]");
  empty();
  // After four numbers a colon leads to the port.
  Type("10.0.0.1:8080");
  EXPECT_FALSE(ctrl->IsHostText());
  EXPECT_EQ(Address(), (std::array<int, 4>{10, 0, 0, 1}));
  EXPECT_EQ(dlg.PortEdit()->text(), "8080");
}

TEST_F(TypedAddress, APastedNameOrIpv6AddressFillsTheLineAndItsPortThePortField) {
  CIpAddressCtrl* ctrl = dlg.AddressCtrl();
  QGuiApplication::clipboard()->setText(" [2001:DB8::1]:8080 ");
  QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
  EXPECT_TRUE(ctrl->IsHostText());
  EXPECT_EQ(ctrl->HostText(), "[2001:DB8::1]");
  EXPECT_EQ(dlg.PortEdit()->text(), "8080");

  // A bare IPv6 address is an address whole: its last group is no port.
  QGuiApplication::clipboard()->setText("2001:db8::1:80");
  QTest::keySequence(ctrl->TextField(), QKeySequence::Paste);
  EXPECT_EQ(ctrl->HostText(), "2001:db8::1:80");
  EXPECT_EQ(dlg.PortEdit()->text(), "8080");

  // Into the port field, a name with its port is the whole proxy; a bare number or a
  // bare name is pasted there as usual.
  QGuiApplication::clipboard()->setText("gw.example:3128");
  dlg.PortEdit()->setFocus();
  QTest::keySequence(dlg.PortEdit(), QKeySequence::Paste);
  EXPECT_EQ(ctrl->HostText(), "gw.example");
  EXPECT_EQ(dlg.PortEdit()->text(), "3128");
  for (const char* text : {"other.example", "1080"}) {
    QGuiApplication::clipboard()->setText(text);
    dlg.PortEdit()->selectAll();
    QTest::keySequence(dlg.PortEdit(), QKeySequence::Paste);
    EXPECT_EQ(ctrl->HostText(), "gw.example") << text;
  }
  EXPECT_EQ(dlg.PortEdit()->text(), "1080");

  // A dotted address pasted into the line gives the fields back.
  QGuiApplication::clipboard()->setText("1.2.3.4:80");
  ctrl->TextField()->setFocus();
  QTest::keySequence(ctrl->TextField(), QKeySequence::Paste);
  EXPECT_FALSE(ctrl->IsHostText());
  EXPECT_EQ(Address(), (std::array<int, 4>{1, 2, 3, 4}));
  EXPECT_EQ(dlg.PortEdit()->text(), "80");
}

TEST(ProxyInfoDlg, HostsTypedAsTextAreHandedOnAsTheListWritesThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"[2001:DB8:0::1]", "[2001:db8::1]"}, {"2001:db8::1", "[2001:db8::1]"}, {" GW.Example. ", "gw.example"},
      {"例子.cn", "xn--fsqu00a.cn"},        {"localhost", "localhost"},
  };
  for (const auto& [typed, handed] : cases) {
    CProxyInfoDlg dlg;
    dlg.m_sPort = "8080";
    QTimer::singleShot(0, &dlg, [&dlg, typed = typed] {
      dlg.AddressCtrl()->SetHost(QString::fromUtf8(typed));
      dlg.accept();
    });
    ASSERT_EQ(dlg.exec(), QDialog::Accepted) << typed;
    EXPECT_EQ(dlg.m_sAddress.toStdString(), handed) << typed;
  }
}

// A row's host comes back where it was typed: a dotted address in the fields, anything
// else in the line.
TEST(ProxyInfoDlg, PrefillsANamedOrIpv6Row) {
  for (const char* address : {"[2001:db8::1]", "gw.example"}) {
    CProxyInfoDlg dlg;
    dlg.m_sType = "SOCKS5";
    dlg.m_sAddress = address;
    dlg.m_sPort = "1080";
    QTimer::singleShot(0, &dlg, [&dlg, address] {
      EXPECT_TRUE(dlg.AddressCtrl()->IsHostText());
      EXPECT_EQ(dlg.AddressCtrl()->HostText(), address);
      dlg.accept();
    });
    ASSERT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_sAddress, address);
  }
}

// Each way a text is no host is said in its own words, and the line keeps the focus.
TEST(ProxyInfoDlg, ABadHostIsRefusedWithItsReason) {
  ScriptedPrompt prompt;
  CProxyInfoDlg dlg;
  dlg.m_sPort = "8080";
  const std::pair<std::string, const char*> cases[] = {
      {"fe80::1%eth0", kMsgHostZoneIndex},
      {"[gw.example]", kMsgHostBadIpv6},
      {"2001:db8::g", kMsgHostBadIpv6},
      {"gw_1.example", kMsgHostBadName},
      {"gw.123", kMsgHostBadName},
      {std::string(64, 'a') + ".example", kMsgHostLabelTooLong},
      {std::string(250, 'a')
               .replace(50, 1, ".")
               .replace(100, 1, ".")
               .replace(150, 1, ".")
               .replace(200, 1, ".") +
           ".example",
       kMsgHostTooLong},
      {"1.2.3.256.5", kMsgBadAddress},
      {"::", kMsgBadAddress},
  };
  std::vector<bool> focused;
  QTimer::singleShot(0, &dlg, [&] {
    dlg.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    for (const auto& c : cases) {
      // As the user edits the line.
      dlg.AddressCtrl()->SetHost("gw.example");
      dlg.AddressCtrl()->TextField()->setText(QString::fromStdString(c.first));
      dlg.PortEdit()->setFocus();
      dlg.accept();
      EXPECT_TRUE(dlg.isVisible()) << c.first;
      focused.push_back(QApplication::focusWidget() == dlg.AddressCtrl()->TextField());
    }
    dlg.reject();
  });
  dlg.exec();
  ASSERT_EQ(prompt.messages.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(prompt.messages[i].text, cases[i].second) << cases[i].first;
    EXPECT_EQ(prompt.messages[i].caption, "输入错误");
    EXPECT_TRUE(focused[i]) << cases[i].first;
  }
}

}  // namespace
