#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "MenusTestUtil.h"
#include "support/TempDir.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"
#include "ui/HelpLink.h"

using namespace qb;

namespace {

using qbtest::TempDir;
using qbtest::WriteFile;

class HelpLinkTest : public mtest::MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    link.SetOpener([this](const QUrl& url) {
      opened.push_back(url);
      return openerAnswer;
    });
    link.SetHandlerCheck([this](const QString&) { return hasHandler; });
    link.resize(32, 32);
  }
  QUrl FileUrl(const std::string& name) const {
    return QUrl::fromLocalFile(QString::fromStdString(dir.File(name)));
  }
  void Click() { QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(10, 10)); }

  TempDir dir;
  CHelpLink link;
  std::vector<QUrl> opened;
  bool openerAnswer = true;
  bool hasHandler = false;
};

TEST_F(HelpLinkTest, ShowsIconHandAndCaption) {
  EXPECT_EQ(link.objectName(), "1058");
  EXPECT_FALSE(link.pixmap().isNull());
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  link.SetLinkUrl(QString::fromStdString(dir.File("QuillberryHelp.chm")));
  EXPECT_TRUE(link.toolTip().startsWith("帮助（"));
  EXPECT_TRUE(link.toolTip().endsWith("）"));
  EXPECT_GT(link.toolTip().size(), 4);
}

TEST_F(HelpLinkTest, ClickOpensTheHtmlHelpWhenTheChmCannotBeOpened) {
  link.SetLinkUrl(QString::fromStdString(dir.File("QuillberryHelp.chm")));
  WriteFile(dir.File("QuillberryHelp.html"), "<html></html>");

  // No .chm at all.
  Click();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.back(), FileUrl("QuillberryHelp.html"));

  // A .chm that nothing on the desktop opens.
  WriteFile(dir.File("QuillberryHelp.chm"), "ITSF");
  Click();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened.back(), FileUrl("QuillberryHelp.html"));

  // A viewer exists: the .chm itself.
  hasHandler = true;
  Click();
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened.back(), FileUrl("QuillberryHelp.chm"));

  // The viewer could not be started: the HTML next.
  openerAnswer = false;
  Click();
  ASSERT_EQ(opened.size(), 5u);
  EXPECT_EQ(opened[3], FileUrl("QuillberryHelp.chm"));
  EXPECT_EQ(opened[4], FileUrl("QuillberryHelp.html"));
}

TEST_F(HelpLinkTest, OtherLinksAreOpenedAsGiven) {
  link.SetLinkUrl("https://example.org/help");
  EXPECT_TRUE(link.OpenLink());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("https://example.org/help"));

  // Nothing to fall back to: the help file is asked for all the same, and the
  // desktop says what it says.
  link.SetLinkUrl(QString::fromStdString(dir.File("QuillberryHelp.chm")));
  link.OpenLink();
  EXPECT_EQ(opened.back(), FileUrl("QuillberryHelp.chm"));

  // Data files kept apart from the program: the HTML help installed beside the
  // executable is found there.
  const QString besideProgram = QCoreApplication::applicationDirPath() + "/QuillberryHelp.html";
  ASSERT_FALSE(QFile::exists(besideProgram));
  WriteFile(besideProgram.toStdString(), "<html></html>");
  link.OpenLink();
  QFile::remove(besideProgram);
  EXPECT_EQ(opened.back(), QUrl::fromLocalFile(besideProgram));

  // A press outside, released outside, is no click.
  const size_t before = opened.size();
  QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(&link, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(opened.size(), before);
}

TEST(DesktopHandler, FoundInTheMimeCacheOrTheUsersAssociations) {
  TempDir home;
  qb::DesktopAssociationDirs dirs;
  dirs.configHome = QString::fromStdString(home.File("config"));
  dirs.dataDirs = {QString::fromStdString(home.File("data")), QString::fromStdString(home.File("system"))};
  const QString chm = QString::fromStdString(home.File("QuillberryHelp.chm"));
  EXPECT_FALSE(qb::HasDesktopHandler(chm, dirs));

  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home.File("system/applications"))));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home.File("config"))));
  WriteFile(home.File("system/applications/mimeinfo.cache"),
            "[MIME Cache]\ntext/plain=editor.desktop;\napplication/vnd.ms-htmlhelp=;\n");
  EXPECT_FALSE(qb::HasDesktopHandler(chm, dirs));
  EXPECT_TRUE(qb::HasDesktopHandler(QString::fromStdString(home.File("notes.txt")), dirs));

  WriteFile(home.File("config/mimeapps.list"), "[Added Associations]\napplication/x-chm=viewer.desktop;\n");
  EXPECT_TRUE(qb::HasDesktopHandler(chm, dirs));
}

TEST(HelpDocument, ShippedBesideTheExecutables) {
  QFile help(QStringLiteral(QB_BINARY_DIR "/QuillberryHelp.html"));
  ASSERT_TRUE(help.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(help.readAll());
  for (const char* needle :
       {"代理地址:端口@协议类型$时间或状态#备注", "1. 直接设置或取消代理", "2. 使用最简单的代理自动配置脚本",
        "3. 使用自定义的代理自动配置脚本", "Proxies.pro", "Setting.dat", "Sources.dat", "验证全部",
        "取消IE代理", "▲下载代理资源", "请选择常用代理（要打勾）"}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(needle))) << needle;
  }
}

TEST(AboutDlg, OpensWithItsCaptionTextsAndAddress) {
  qb::InitResources();
  int opened = 0;
  for (int round = 0; round < 2; ++round) {
    CAboutDlg dlg;
    QTimer::singleShot(0, &dlg, [&] {
      ++opened;
      EXPECT_TRUE(dlg.isVisible());
      EXPECT_EQ(dlg.objectName(), "100");
      EXPECT_EQ(dlg.windowTitle(), "关于 Ostrel代理验证（Quillberry）");
      EXPECT_EQ(dlg.size(), qb::DluToPixels(dlg.font(), 0, 0, 323, 98).size());
      ASSERT_NE(dlg.EmailEdit(), nullptr);
      EXPECT_TRUE(dlg.EmailEdit()->isReadOnly());
      EXPECT_EQ(dlg.EmailEdit()->text(), dlg.m_sEmail);
      EXPECT_TRUE(dlg.m_sEmail.contains('@'));
      // The version and date of this build, and the licence where a rights line stood.
      const auto* product = dlg.findChild<QLabel*>("ProductLine");
      ASSERT_NE(product, nullptr);
      const QString text = product->text();
      const QRegularExpression line(QStringLiteral("^Ostrel代理验证（Quillberry） ") +
                                    QRegularExpression::escape(QString::fromLatin1(QUILLBERRY_VERSION)) +
                                    QStringLiteral("版\\(Build: (\\d{8})\\)\n.*GPL-3\\.0-or-later.*担保"));
      const QRegularExpressionMatch match = line.match(text);
      ASSERT_TRUE(match.hasMatch()) << text.toStdString();
      const QDate built = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
      EXPECT_TRUE(built.isValid()) << text.toStdString();
      EXPECT_GE(built.year(), 2026) << text.toStdString();
      EXPECT_LE(built, QDate::currentDate().addDays(1)) << text.toStdString();
      for (const QLabel* l : dlg.findChildren<QLabel*>()) EXPECT_FALSE(l->text().contains("保留所有权利"));
      const auto* icon = dlg.findChild<QLabel*>("128");
      ASSERT_NE(icon, nullptr);
      EXPECT_FALSE(icon->pixmap().isNull());
      auto* ok = dlg.findChild<QPushButton*>("1");
      ASSERT_NE(ok, nullptr);
      EXPECT_EQ(ok->text(), "确定");
      if (round == 1) {
        const QString dir = QStringLiteral(QB_BINARY_DIR "/screenshots");
        dlg.grab().save(dir + "/about-box.png");
      }
      ok->click();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
  }
  EXPECT_EQ(opened, 2);
}

}  // namespace
