// The resource dialog and the resource list of the settings dialog: the commands
// reached through buttons, double clicks and check boxes, with their messages.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <functional>

#include "settingdlg/SettingDlgFixture.h"
#include "ui/DialogUnits.h"
#include "ui/VerifySourceDlg.h"

using namespace qb;

using namespace settingdlgtest;
using qbtest::ReadFile;
using qbtest::WriteFile;

namespace {

// Acts on the resource dialog once it runs modally, and counts how many ran.
class ResourceDialogScript {
 public:
  void Then(std::function<void(CVerifySourceDlg&)> act) {
    QTimer::singleShot(0, qApp, [this, act] {
      auto* dlg = qobject_cast<CVerifySourceDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      ++shown;
      act(*dlg);
      // A script that left the dialog open would hang the test; close it.
      if (dlg->isVisible()) dlg->reject();
    });
  }
  int shown = 0;
};

void Fill(CVerifySourceDlg& d, const char* name, const char* url, const char* feature) {
  d.NameEdit()->setText(QString::fromUtf8(name));
  d.UrlEdit()->setText(QString::fromUtf8(url));
  d.FeatureEdit()->setText(QString::fromUtf8(feature));
}

// What a person's double click delivers: a click, then the double click and its release.
void DoubleClick(QWidget* w, QPoint pos) {
  QTest::mouseClick(w, Qt::LeftButton, {}, pos);
  QTest::mouseDClick(w, Qt::LeftButton, {}, pos);
  QTest::mouseRelease(w, Qt::LeftButton, {}, pos);
}

std::vector<std::string> Urls(const CSettings& s) {
  std::vector<std::string> out;
  for (const CVerifySource& v : s.m_aVerifySources) out.push_back(v.m_sUrl);
  return out;
}

TEST(VerifySourceDlg, RefusesEachMissingPieceWithItsMessageAndFocus) {
  qbtest::ScriptedPrompt prompt;
  CVerifySourceDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "验证资源信息");
  EXPECT_EQ(dlg.size(), qb::DluToPixels(dlg.font(), 0, 0, 293, 99).size());
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(dlg.NameEdit()->geometry(), qb::DluToPixels(dlg.font(), 65, 7, 118, 14));
  EXPECT_EQ(dlg.UrlEdit()->geometry(), qb::DluToPixels(dlg.font(), 65, 29, 221, 14));
  EXPECT_EQ(dlg.FeatureEdit()->geometry(), qb::DluToPixels(dlg.font(), 65, 51, 118, 14));
  EXPECT_EQ(Control<QWidget>(dlg, 1)->geometry(), qb::DluToPixels(dlg.font(), 87, 78, 50, 14));
  EXPECT_EQ(Control<QWidget>(dlg, 2)->geometry(), qb::DluToPixels(dlg.font(), 156, 78, 50, 14));

  dlg.m_sName = "旧名";
  dlg.m_sUrl = "http://127.0.0.1/old";
  dlg.m_sFeature = "Old";
  struct Step {
    const char* name;
    const char* url;
    const char* feature;
    const char* message;
    int focus;
  };
  // Each problem the store's check finds, in the dialog's words; the focus moves to
  // the edit at fault.
  const Step steps[] = {
      {"  ", "http://127.0.0.1/", "F", "验证资源名称不能为空。", 1012},
      {"名@", "http://127.0.0.1/", "F", "验证资源名称不能含有字符@和%。", 1012},
      {"名", " ", "F", "验证资源网址不能为空。", 1013},
      {"名", "gopher://127.0.0.1/", "F", "请添加协议头http://或ftp://。", 1013},
      {"名", "FtP://127.0.0.1", "", "验证特征串不能为空。", 1014},
  };
  QTimer::singleShot(0, &dlg, [&] {
    // Filled from the strings the caller set.
    EXPECT_EQ(dlg.NameEdit()->text(), "旧名");
    EXPECT_EQ(dlg.UrlEdit()->text(), "http://127.0.0.1/old");
    EXPECT_EQ(dlg.FeatureEdit()->text(), "Old");
    dlg.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    for (const Step& s : steps) {
      Fill(dlg, s.name, s.url, s.feature);
      QTest::mouseClick(Control<QWidget>(dlg, 1), Qt::LeftButton);
      EXPECT_TRUE(dlg.isVisible()) << s.message;
      EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(dlg, s.focus)) << s.message;
    }
    Fill(dlg, "  本地 资源 ", " HTTP://127.0.0.1/x ", " 特征 ");
    QTest::mouseClick(Control<QWidget>(dlg, 1), Qt::LeftButton);
  });
  ASSERT_EQ(dlg.exec(), QDialog::Accepted);
  ASSERT_EQ(prompt.messages.size(), std::size(steps));
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(prompt.messages[i].text, steps[i].message);
    EXPECT_EQ(prompt.messages[i].caption, "验证资源错误");
    EXPECT_EQ(prompt.messages[i].icon, qb::MsgIcon::Warning);
  }
  EXPECT_EQ(dlg.m_sName, "本地 资源");
  EXPECT_EQ(dlg.m_sUrl, "HTTP://127.0.0.1/x");
  EXPECT_EQ(dlg.m_sFeature, "特征");
}

using SourceList = SettingDialog;

TEST_F(SourceList, AddAppendsAnUntickedRowUnlessTheUrlIsThereAlready) {
  auto dlg = Open();
  ResourceDialogScript script;
  script.Then([](CVerifySourceDlg& d) {
    EXPECT_TRUE(d.NameEdit()->text().isEmpty());
    Fill(d, " 新资源 ", "ftp://127.0.0.1:21", "Hello");
    d.accept();
  });
  Click(*dlg, 1034);
  ASSERT_EQ(script.shown, 1);
  ASSERT_EQ(settings.m_aVerifySources.size(), 5u);
  EXPECT_EQ(settings.m_aVerifySources[4], (CVerifySource{"新资源", "ftp://127.0.0.1:21", "Hello", 0}));
  EXPECT_EQ(dlg->SourceView()->model()->index(4, 0).data().toString(), "新资源");
  EXPECT_EQ(dlg->SourceView()->model()->index(4, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);

  // The same URL in other letter case is a duplicate.
  script.Then([](CVerifySourceDlg& d) {
    Fill(d, "again", "HTTP://127.0.0.1:9/A.HTML", "x");
    d.accept();
  });
  Click(*dlg, 1034);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "已经存在该验证资源网址。");
  EXPECT_EQ(prompt.messages[0].caption, "验证资源重复");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);

  // Cancel adds nothing.
  script.Then([](CVerifySourceDlg& d) {
    Fill(d, "n", "http://127.0.0.1:1/", "f");
    d.reject();
  });
  Click(*dlg, 1034);
  EXPECT_EQ(script.shown, 3);
  EXPECT_EQ(settings.m_aVerifySources.size(), 5u);
  EXPECT_EQ(dlg->SourceView()->model()->rowCount(), 5);
}

TEST_F(SourceList, ModifyByButtonOrDoubleClickKeepsPlaceAndTick) {
  auto dlg = Open();
  ShowActive(*dlg);
  QTableView* view = dlg->SourceView();
  ResourceDialogScript script;

  // Without a selected row nothing opens.
  script.Then([](CVerifySourceDlg&) {});
  Click(*dlg, 1041);
  QApplication::processEvents();
  EXPECT_EQ(script.shown, 0);

  script.Then([](CVerifySourceDlg& d) {
    EXPECT_EQ(d.NameEdit()->text(), "本地甲");
    EXPECT_EQ(d.UrlEdit()->text(), "http://127.0.0.1:9/a.html");
    EXPECT_EQ(d.FeatureEdit()->text(), "Alpha");
    Fill(d, "改过", "http://127.0.0.1:9/new.html", "New");
    d.accept();
  });
  DoubleClick(view->viewport(), UrlCellCentre(view, 0));
  ASSERT_EQ(script.shown, 1);
  EXPECT_EQ(settings.m_aVerifySources[0], (CVerifySource{"改过", "http://127.0.0.1:9/new.html", "New", 1}));
  EXPECT_EQ(view->model()->index(0, 1).data().toString(), "http://127.0.0.1:9/new.html");
  EXPECT_EQ(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);

  // The URL of another row is refused.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, UrlCellCentre(view, 2));
  script.Then([](CVerifySourceDlg& d) {
    Fill(d, "x", "ftp://127.0.0.1:10", "x");
    d.accept();
  });
  Click(*dlg, 1041);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "已经存在该验证资源网址。");
  EXPECT_EQ(Urls(settings),
            (std::vector<std::string>{"http://127.0.0.1:9/new.html", "http://127.0.0.1:9/b.html",
                                      "ftp://127.0.0.1:9", "ftp://127.0.0.1:10"}));
  EXPECT_EQ(Ticks(), (std::vector<int>{1, 0, 1, 0}));

  // A double click on the empty space under the rows opens nothing.
  const QPoint below(5, view->visualRect(view->model()->index(3, 0)).bottom() + 20);
  ASSERT_FALSE(view->indexAt(below).isValid());
  script.Then([](CVerifySourceDlg&) {});
  DoubleClick(view->viewport(), below);
  QApplication::processEvents();
  EXPECT_EQ(script.shown, 2);
}

TEST_F(SourceList, DeleteRemovesExactlyTheSelectedRowsAfterYes) {
  auto dlg = Open();
  QTableView* view = dlg->SourceView();
  Click(*dlg, 1039);
  EXPECT_TRUE(prompt.messages.empty());  // nothing selected, nothing asked

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, UrlCellCentre(view, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, UrlCellCentre(view, 2));
  prompt.answers = {qb::MsgResult::No, qb::MsgResult::Yes};
  Click(*dlg, 1039);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "确实要删除选定的验证资源吗？");
  EXPECT_EQ(prompt.messages[0].caption, "验证资源");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Question);
  EXPECT_EQ(prompt.messages[0].buttons, qb::MsgButtons::YesNo);
  EXPECT_EQ(settings.m_aVerifySources.size(), 4u);

  Click(*dlg, 1039);
  EXPECT_EQ(Urls(settings), (std::vector<std::string>{"http://127.0.0.1:9/b.html", "ftp://127.0.0.1:10"}));
  ASSERT_EQ(view->model()->rowCount(), 2);
  EXPECT_EQ(view->model()->index(1, 1).data().toString(), "ftp://127.0.0.1:10");

  // Cancel now ticks no other record in place of the deleted ones.
  Click(*dlg, 2);
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 0}));
}

TEST_F(SourceList, ExportAndImportThroughTheButtons) {
  auto dlg = Open();
  const std::string file = data.File("resources.dat");
  // A cancelled chooser writes nothing and says nothing.
  prompt.files = {std::nullopt};
  Click(*dlg, 1043);
  ASSERT_EQ(prompt.fileDialogs.size(), 1u);
  EXPECT_EQ(ReadFile(file), "<missing>");
  EXPECT_TRUE(prompt.messages.empty());
  prompt.fileDialogs.clear();

  prompt.files = {file};
  Click(*dlg, 1043);
  ASSERT_EQ(prompt.fileDialogs.size(), 1u);
  EXPECT_EQ(prompt.fileDialogs[0].defaultExtension, "dat");
  EXPECT_EQ(prompt.fileDialogs[0].filter,
            "Data Files (*.dat)|*.dat|Text Files (*.txt)|*.txt|All Files (*.*)|*.*||");
  EXPECT_TRUE(prompt.fileDialogs[0].confirmOverwrite);
  EXPECT_EQ(ReadFile(file),
            "本地甲@http://127.0.0.1:9/a.html%Alpha\r\n"
            "本地乙@http://127.0.0.1:9/b.html%Beta\r\n"
            "本地FTP@ftp://127.0.0.1:9%FtpOne\r\n"
            "备用FTP@ftp://127.0.0.1:10%FtpTwo\r\n");

  // Importing what was exported adds nothing; a new line comes in unticked.
  WriteFile(file, ReadFile(file) + "新的@127.0.0.1:8/c.html%Gamma\n");
  prompt.files = {file};
  Click(*dlg, 1042);
  EXPECT_FALSE(prompt.fileDialogs[1].confirmOverwrite);
  ASSERT_EQ(settings.m_aVerifySources.size(), 5u);
  EXPECT_EQ(settings.m_aVerifySources[4], (CVerifySource{"新的", "http://127.0.0.1:8/c.html", "Gamma", 0}));
  EXPECT_EQ(dlg->SourceView()->model()->rowCount(), 5);
  EXPECT_TRUE(prompt.messages.empty());

  prompt.files = {data.File("missing.dat")};
  Click(*dlg, 1042);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "导入");

  settings.m_aVerifySources.clear();
  dlg->SourceModel()->FillSourceList();
  Click(*dlg, 1043);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "没有验证资源要存盘。");
  EXPECT_EQ(prompt.messages[1].caption, "存盘");
  EXPECT_EQ(prompt.messages[1].icon, qb::MsgIcon::Warning);
  EXPECT_EQ(prompt.fileDialogs.size(), 3u);  // no chooser for an empty list
}

TEST_F(SourceList, TickingKeepsOneResourcePerProtocolByMouseAndKeyboard) {
  auto dlg = Open();
  ShowActive(*dlg);
  QTableView* view = dlg->SourceView();
  auto shown = [&] {
    std::vector<int> t;
    for (int r = 0; r < view->model()->rowCount(); ++r)
      t.push_back(view->model()->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked ? 1 : 0);
    return t;
  };

  // A click on a row's text selects it and leaves its box alone.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, UrlCellCentre(view, 1));
  EXPECT_EQ(Ticks(), (std::vector<int>{1, 0, 1, 0}));

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 1));
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 1, 1, 0}));  // the FTP tick stays
  EXPECT_EQ(shown(), Ticks());

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 1));
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 0, 1, 0}));  // no HTTP resource is allowed
  EXPECT_TRUE(GetCheckedVerifySources(settings).httpUrl.empty());

  // The space bar ticks the focused row, whichever cell was clicked.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, UrlCellCentre(view, 3));
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 0, 0, 1}));
  EXPECT_EQ(shown(), Ticks());
  QTest::keyClick(view, Qt::Key_Up);
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 0, 1, 0}));
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_EQ(Ticks(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(shown(), Ticks());
}

// Renders both dialogs, for a look at the layout with Chinese text.
TEST_F(SourceList, RendersTheDialogs) {
  const QString dir = QStringLiteral(QB_BINARY_DIR "/screenshots");
  ASSERT_TRUE(QDir().mkpath(dir));
  auto dlg = Open();
  QTest::mouseClick(dlg->SourceView()->viewport(), Qt::LeftButton, {}, UrlCellCentre(dlg->SourceView(), 1));
  ShowActive(*dlg);
  const QImage shot = dlg->grab().toImage();
  EXPECT_EQ(shot.size(), dlg->size() * dlg->devicePixelRatio());
  EXPECT_TRUE(shot.save(dir + "/settings.png"));
  const QSize documented = dlg->size();
  dlg->resize(documented + QSize(240, 160));
  QCoreApplication::processEvents();
  EXPECT_TRUE(dlg->grab().toImage().save(dir + "/settings-large.png"));
  dlg->resize(documented);

  CVerifySourceDlg source(dlg.get());
  source.NameEdit()->setText("本地甲");
  source.UrlEdit()->setText("http://127.0.0.1:9/a.html");
  source.FeatureEdit()->setText("Alpha");
  ShowActive(source);
  EXPECT_TRUE(source.grab().toImage().save(dir + "/verify-source.png"));
}

}  // namespace
