#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "base/Language.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "ui/DialogUnits.h"
#include "ui/QtPrompt.h"
#include "ui/SortListCtrl.h"
#include "ui/TextProgressCtrl.h"

using namespace qb;

namespace {

class SortList : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* l : {"3.3.3.3:80@HTTP$2.0#", "1.1.1.1:80@HTTP$超时#", "2.2.2.2:80@HTTP$0.5#"}) {
      ASSERT_EQ(model.AddProxyLine(l, 0), 1);
    }
    view.setModel(&model);
    view.resize(600, 300);
  }
  std::string Addr(int row) { return model.CellText(row, CProxyListModel::ColAddr); }

  CProxyListModel model;
  CSortListCtrl view;
};

TEST_F(SortList, ClicksAlternateDirectionAndMoveTheTriangle) {
  CSortHeaderCtrl* h = view.SortHeader();
  EXPECT_EQ(h->GetSortColumn(), -1);
  view.OnColumnClick(1);
  EXPECT_EQ(h->GetSortColumn(), 1);
  EXPECT_TRUE(h->IsSortAscending());
  EXPECT_EQ(Addr(0), "1.1.1.1");
  view.OnColumnClick(1);
  EXPECT_FALSE(h->IsSortAscending());
  EXPECT_EQ(Addr(0), "3.3.3.3");
  view.OnColumnClick(1);
  EXPECT_TRUE(h->IsSortAscending());
  // Another column starts ascending; the old one stays drawn by us, without triangle.
  view.OnColumnClick(3);
  EXPECT_EQ(h->GetSortColumn(), 3);
  EXPECT_TRUE(h->IsSortAscending());
  EXPECT_EQ(Addr(0), "2.2.2.2");
  EXPECT_EQ(Addr(2), "1.1.1.1");
  EXPECT_TRUE(h->IsOwnerDrawn(1));
  EXPECT_EQ(h->SetSortImage(0, true), 3);
}

TEST_F(SortList, ClickRefusedWhileNotAllowed) {
  bool allowed = false;
  view.SetSortAllowed([&] { return allowed; });
  view.OnColumnClick(1);
  EXPECT_EQ(view.SortHeader()->GetSortColumn(), -1);
  EXPECT_EQ(Addr(0), "3.3.3.3");
  allowed = true;
  view.OnColumnClick(1);
  EXPECT_EQ(Addr(0), "1.1.1.1");
}

TEST_F(SortList, HeaderRendersWithTriangle) {
  view.OnColumnClick(1);
  view.show();
  QImage img(view.size(), QImage::Format_ARGB32);
  view.render(&img);
  EXPECT_FALSE(img.isNull());
}

TEST(SortListCtrl, UnsortableListIgnoresClicks) {
  QStandardItemModel m(2, 1);
  m.setItem(0, 0, new QStandardItem("b"));
  m.setItem(1, 0, new QStandardItem("a"));
  CSortListCtrl view(false);
  view.setModel(&m);
  EXPECT_FALSE(view.SortColumn(0, true));
  view.OnColumnClick(0);
  EXPECT_EQ(m.item(0, 0)->text(), "b");
}

TEST(TextProgressCtrl, PercentageWindowTextAndEconomy) {
  CTextProgressCtrl bar;
  bar.resize(200, 20);
  bar.show();
  bar.SetRange(0, 4);
  const int before = bar.RepaintRequests();
  EXPECT_EQ(bar.SetPos(1), 0);
  EXPECT_EQ(bar.BarWidth(), 50);
  EXPECT_EQ(bar.DisplayedText(), "25%");
  EXPECT_EQ(bar.RepaintRequests(), before + 1);
  // Same filled width: no repaint.
  bar.SetPos(1);
  EXPECT_EQ(bar.RepaintRequests(), before + 1);

  bar.SetWindowText("验证中 1/4");
  bar.SetWindowText("验证中 1/4");
  EXPECT_EQ(bar.RepaintRequests(), before + 2);
  EXPECT_EQ(bar.DisplayedText(), "验证中 1/4");
  bar.SetWindowText("");
  EXPECT_EQ(bar.DisplayedText(), "25%");

  // A finer range whose step does not move a pixel.
  bar.SetRange(0, 1000);
  bar.SetPos(250);
  const int after = bar.RepaintRequests();
  bar.SetPos(251);
  EXPECT_EQ(bar.RepaintRequests(), after);
}

TEST(TextProgressCtrl, TextChangesColourWhereTheBarEnds) {
  CTextProgressCtrl bar;
  bar.resize(300, 24);
  bar.SetRange(0, 2);
  bar.SetBarColour(Qt::black);
  bar.SetBkColour(Qt::white);
  bar.SetTextColours(Qt::black, Qt::white);
  bar.SetPos(1);
  bar.SetWindowText("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM");
  QImage img(bar.size(), QImage::Format_RGB32);
  bar.render(&img);
  // Over the bar (black) some text pixels are white; beyond it (white) some are black.
  bool whiteOnBar = false, blackBeyond = false;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < 140; ++x) whiteOnBar |= img.pixelColor(x, y).lightness() > 200;
    for (int x = 160; x < 300; ++x) blackBeyond |= img.pixelColor(x, y).lightness() < 60;
  }
  EXPECT_TRUE(whiteOnBar);
  EXPECT_TRUE(blackBeyond);
}

TEST(DialogUnits, ScalesWithTheFont) {
  QFont small("Sans");
  small.setPixelSize(10);
  QFont big("Sans");
  big.setPixelSize(20);
  const QRect a = qb::DluToPixels(small, 382, 32, 50, 15);
  const QRect b = qb::DluToPixels(big, 382, 32, 50, 15);
  EXPECT_GT(a.width(), 0);
  EXPECT_GT(b.width(), a.width());
  EXPECT_GT(b.height(), a.height());
  EXPECT_GT(qb::ColumnScale(big), qb::ColumnScale(small));
}

}  // namespace

namespace {

// Qt's own buttons and menus speak Chinese like the rest of the window, and go back
// to English when the catalogue is gone.
TEST(QtTranslations, StandardButtonsAndMenusAreChinese) {
  {
    const CLanguageCatalogues chinese(UiLanguage::Chinese);
    ASSERT_TRUE(chinese.QtCatalogueLoaded()) << "Qt's catalogue for Simplified Chinese is not installed";
    QMessageBox box(QMessageBox::Question, "验证全部", "确定吗？", QMessageBox::Yes | QMessageBox::No);
    const QString yes = box.button(QMessageBox::Yes)->text();
    EXPECT_FALSE(yes.contains("Yes")) << yes.toStdString();
    EXPECT_TRUE(yes.contains(QChar(0x662F))) << yes.toStdString();  // 是
    QMessageBox ok(QMessageBox::Information, "导入列表", "打开文件失败！", QMessageBox::Ok);
    EXPECT_TRUE(ok.button(QMessageBox::Ok)->text().contains(QStringLiteral("确定")))
        << ok.button(QMessageBox::Ok)->text().toStdString();
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_FALSE(menu->actions().front()->text().contains("Undo"))
        << menu->actions().front()->text().toStdString();
  }
  QMessageBox box(QMessageBox::Question, "q", "q", QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains("Yes"));
}

}  // namespace

namespace {

// The choosers: every web-page kind is offered, and "all files" means all, with or
// without an extension.
TEST(FileChoosers, FiltersNameEveryKindAndAllFilesShowsAll) {
  EXPECT_EQ(QtFilterFromWindows(ImportFileDialogSpec().filter).toStdString(),
            "Proxy or Text Files (*.pro *.txt);;Web Pages (*.htm *.html *.mht *.mhtml);;Data Files (*.dat);;"
            "All Files (*)");
  EXPECT_EQ(
      QtFilterFromWindows(ExportFileDialogSpec(QDate(2026, 1, 1)).filter).toStdString(),
      "Proxy Files (*.pro *.txt);;URL Lists (*.txt);;CSV Files (*.csv);;JSON Files (*.json);;All Files (*)");
}

// The export's chooser tells which file type was picked, and a name typed without an
// extension takes that type's.
TEST(FileChoosers, SaveChooserReportsTheTypePickedAndItsExtension) {
  QTemporaryDir dir;
  QtPrompt prompt;
  bool sawDialog = false;
  QTimer::singleShot(0, qApp, [&] {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    sawDialog = true;
    dlg->setDirectory(dir.path());
    auto* types = dlg->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    types->setCurrentIndex(2);
    // What the combo box says when the user picks an entry.
    emit types->activated(2);
    emit types->textActivated(types->itemText(2));
    dlg->selectFile("rows");
    static_cast<QDialog*>(dlg)->accept();  // as the Save button does
  });
  int chosen = -5;
  const auto path = prompt.SaveFileOfType(ExportFileDialogSpec(QDate(2026, 1, 1)), chosen);
  ASSERT_TRUE(sawDialog);
  ASSERT_TRUE(path);
  EXPECT_EQ(chosen, 2);
  EXPECT_EQ(*path, dir.filePath("rows.csv").toStdString());
  EXPECT_EQ(ExportFileTypeFor(chosen, *path), ExportFileType::Csv);
}

}  // namespace
