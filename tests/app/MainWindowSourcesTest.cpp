// The proxy sources on the main window: the source dialog driven as a user drives it,
// add, modify (button and double click), delete, ticks and "Sources.dat", and the
// download button against a small origin on 127.0.0.1; and the data files that another
// program changes behind the window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEventLoop>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "proxy/ProxyExtractor.h"
#include "settings/Settings.h"
#include "sources/SourceDownloader.h"
#include "support/PageOrigin.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/Messages.h"
#include "ui/ProxySourceDlg.h"
#include "ui/TextProgressCtrl.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

class WindowSources : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n");
  }

  void Open() {
    MainDlgOptions o;
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    dlg = qbtest::OpenTestWindow(data.Path(), config.File("quillberry-test.INI"), std::move(o));
    CSourceDownloader::Options options;
    options.startPauseMs = 0;
    options.limits.connectMs = 2000;
    options.limits.receiveMs = 3000;
    dlg->Downloader().SetOptions(options);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }

  // Acts on the source dialog as soon as it is open, from inside its exec().
  void WhenDialogOpens(std::function<void(CProxySourceDlg&)> act) {
    auto* timer = new QTimer(dlg.get());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [this, timer, act] {
      auto* d = dlg->findChild<CProxySourceDlg*>();
      if (!d || !d->isVisible()) return;
      timer->stop();
      timer->deleteLater();
      ++dialogsSeen;
      act(*d);
      if (d->isVisible()) {
        // Never leave the test waiting in the dialog's exec().
        ADD_FAILURE() << "the source dialog is still open";
        d->reject();
      }
    });
    timer->start();
  }
  static void Fill(CProxySourceDlg& d, const QString& name, const QString& url) {
    d.NameEdit()->setText(name);
    d.UrlEdit()->setText(url);
  }
  static void PressOk(CProxySourceDlg& d) {
    QTest::mouseClick(d.findChild<QAbstractButton*>("1"), Qt::LeftButton);
  }
  static void PressCancel(CProxySourceDlg& d) {
    QTest::mouseClick(d.findChild<QAbstractButton*>("2"), Qt::LeftButton);
  }

  void Click(int id) {
    QAbstractButton* b = dlg->Button(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  QRect CellRect(int row, int column) const {
    QTableView* v = dlg->SourceListView();
    return v->visualRect(dlg->Dir().Sources().index(row, column));
  }
  void SelectSource(int row) {
    QTest::mouseClick(dlg->SourceListView()->viewport(), Qt::LeftButton, {}, CellRect(row, 1).center());
  }
  // A click on a row's check box, where the view's style draws it.
  void ClickCheckBox(int row) {
    QTableView* v = dlg->SourceListView();
    QStyleOptionViewItem opt;
    opt.initFrom(v->viewport());
    opt.rect = CellRect(row, 0);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = dlg->Dir().Sources().data(dlg->Dir().Sources().index(row, 0)).toString();
    opt.font = v->font();
    opt.fontMetrics = v->fontMetrics();
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QRect box = v->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, v);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, box.center());
  }
  std::string SourcesFile() const { return ReadFile(data.File("Sources.dat")); }

  bool WaitDownload(int ms) {
    if (!dlg->Downloader().IsRunning()) return true;
    QEventLoop loop;
    QObject::connect(&dlg->Downloader(), &CSourceDownloader::Finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return !dlg->Downloader().IsRunning();
  }

  TempDir data;
  TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  qbtest::TestWindow dlg;
  int dialogsSeen = 0;
};

TEST_F(WindowSources, AddRefusesBlanksThenAppendsUntickedAndSaves) {
  WriteFile(data.File("Sources.dat"), "one http://127.0.0.1:1/a.html 1\n");
  Open();
  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 1);

  bool stillOpenAfterRefusals = false;
  WhenDialogOpens([&](CProxySourceDlg& d) {
    EXPECT_EQ(d.objectName(), "157");
    EXPECT_EQ(d.windowTitle(), "代理资源");
    EXPECT_EQ(d.NameEdit()->text(), "");
    EXPECT_EQ(d.UrlEdit()->text(), "");
    Fill(d, "my list", "127.0.0.1:2/b.html");
    PressOk(d);
    Fill(d, "two", "127.0.0.1:2/b html");
    PressOk(d);
    stillOpenAfterRefusals = d.isVisible();
    // Blanks at the ends are no fault; they are trimmed away.
    Fill(d, "  two ", " 127.0.0.1:2/b.html  ");
    PressOk(d);
  });
  Click(1027);
  EXPECT_EQ(dialogsSeen, 1);
  EXPECT_TRUE(stillOpenAfterRefusals);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].text, "名称不能为空或含空格符。");
  EXPECT_EQ(prompt.messages[0].caption, "输入错误");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
  EXPECT_EQ(prompt.messages[1].text, "网页地址不能为空或含空格符。");
  EXPECT_EQ(prompt.messages[1].caption, "输入错误");

  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 2);
  const CProxySource* added = dlg->Dir().Sources().Source(1);
  EXPECT_EQ(added->m_sName, "two");
  EXPECT_EQ(added->m_sUrl, "127.0.0.1:2/b.html");
  // Ticked: the next download takes it.
  EXPECT_TRUE(added->m_bEnabled);
  const QModelIndexList selected = dlg->SourceListView()->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected[0].row(), 1);
  EXPECT_EQ(SourcesFile(), "one http://127.0.0.1:1/a.html 1\r\ntwo 127.0.0.1:2/b.html 1\r\n");

  // Cancel adds nothing and writes nothing.
  WriteFile(data.File("Sources.dat"), "marker\n");
  WhenDialogOpens([&](CProxySourceDlg& d) {
    Fill(d, "three", "x");
    PressCancel(d);
  });
  Click(1027);
  EXPECT_EQ(dlg->Dir().Sources().RowCount(), 2);
  EXPECT_EQ(SourcesFile(), "marker\n");
}

TEST_F(WindowSources, ModifyByButtonAndDoubleClickKeepsTheTick) {
  WriteFile(data.File("Sources.dat"), "one http://127.0.0.1:1/a.html 1\ntwo 127.0.0.1:2/b.html 0\n");
  Open();

  // Nothing selected: the button does nothing.
  Click(1028);
  EXPECT_EQ(dialogsSeen, 0);

  SelectSource(1);
  WhenDialogOpens([&](CProxySourceDlg& d) {
    EXPECT_EQ(d.NameEdit()->text(), "two");
    EXPECT_EQ(d.UrlEdit()->text(), "127.0.0.1:2/b.html");
    Fill(d, "zwei", "127.0.0.1:2/c.html");
    PressOk(d);
  });
  Click(1028);
  EXPECT_EQ(dialogsSeen, 1);
  EXPECT_EQ(SourcesFile(), "one http://127.0.0.1:1/a.html 1\r\nzwei 127.0.0.1:2/c.html 0\r\n");

  // A double click on a row modifies that row; its tick stays.
  WhenDialogOpens([&](CProxySourceDlg& d) {
    EXPECT_EQ(d.NameEdit()->text(), "one");
    Fill(d, "eins", "http://127.0.0.1:1/z.html");
    PressOk(d);
  });
  // A double click as the window system delivers it: press and release, then the
  // second press as a double click.
  const QPoint at = CellRect(0, 1).center();
  QTest::mouseClick(dlg->SourceListView()->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(dlg->SourceListView()->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(dlg->SourceListView()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(dialogsSeen, 2);
  EXPECT_EQ(SourcesFile(), "eins http://127.0.0.1:1/z.html 1\r\nzwei 127.0.0.1:2/c.html 0\r\n");
  EXPECT_TRUE(dlg->Dir().Sources().Source(0)->m_bEnabled);
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(WindowSources, DeleteAsksFirst) {
  WriteFile(data.File("Sources.dat"), "one http://127.0.0.1:1/a.html 1\ntwo 127.0.0.1:2/b.html 0\n");
  Open();
  const std::string loaded = SourcesFile();

  Click(1029);  // nothing selected: no question
  EXPECT_TRUE(prompt.messages.empty());

  SelectSource(0);
  prompt.answers = {qb::MsgResult::No};
  Click(1029);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "确实要删除选定的资源吗？");
  EXPECT_EQ(prompt.messages[0].caption, "删除资源");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Question);
  EXPECT_EQ(prompt.messages[0].buttons, qb::MsgButtons::YesNo);
  EXPECT_EQ(dlg->Dir().Sources().RowCount(), 2);
  EXPECT_EQ(SourcesFile(), loaded);

  // The Delete key asks the same question.
  prompt.answers = {qb::MsgResult::Yes};
  dlg->SourceListView()->setFocus();
  QTest::keyClick(dlg->SourceListView(), Qt::Key_Delete);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].caption, "删除资源");
  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 1);
  EXPECT_EQ(dlg->Dir().Sources().Source(0)->m_sName, "two");
  EXPECT_EQ(SourcesFile(), "two 127.0.0.1:2/b.html 0\r\n");
}

TEST_F(WindowSources, OnlyTheUsersTickRewritesTheFile) {
  // Odd spacing and LF line ends: any rewrite would show.
  const std::string handWritten =
      "a   http://127.0.0.1:1/1   1\nb http://127.0.0.1:1/2 0\n\nc http://127.0.0.1:1/3 1\n";
  WriteFile(data.File("Sources.dat"), handWritten);
  Open();
  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 2);  // the blank line ends the file
  EXPECT_TRUE(dlg->Dir().Sources().Source(0)->m_bEnabled);
  EXPECT_FALSE(dlg->Dir().Sources().Source(1)->m_bEnabled);
  QTest::qWait(50);
  EXPECT_EQ(SourcesFile(), handWritten);

  ClickCheckBox(1);
  ASSERT_TRUE(dlg->Dir().Sources().Source(1)->m_bEnabled);
  EXPECT_EQ(SourcesFile(), "a http://127.0.0.1:1/1 1\r\nb http://127.0.0.1:1/2 1\r\n");
  ClickCheckBox(0);
  ASSERT_FALSE(dlg->Dir().Sources().Source(0)->m_bEnabled);
  EXPECT_EQ(SourcesFile(), "a http://127.0.0.1:1/1 0\r\nb http://127.0.0.1:1/2 1\r\n");

  // A click beside the box selects the row and leaves the file alone.
  WriteFile(data.File("Sources.dat"), "marker\n");
  SelectSource(0);
  EXPECT_EQ(SourcesFile(), "marker\n");
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(WindowSources, DownloadRefusals) {
  Open();
  Click(1050);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "没有下载资源，请先添加。");
  EXPECT_EQ(prompt.messages[0].caption, "下载资源");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);

  WhenDialogOpens([&](CProxySourceDlg& d) {
    Fill(d, "one", "127.0.0.1:1/a.html");
    PressOk(d);
  });
  Click(1027);
  // A source just added is ticked, so the download takes it at once; unticked, the
  // download says so.
  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 1);
  EXPECT_TRUE(dlg->Dir().Sources().Source(0)->m_bEnabled);
  dlg->Dir().Sources().SetEnabled(0, false);
  Click(1050);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1].text, "没有选择下载资源，请打勾。");
  EXPECT_EQ(prompt.messages[1].caption, "下载资源");
  EXPECT_FALSE(dlg->Downloader().IsRunning());
  EXPECT_EQ(dlg->Button(1050)->text(), "▲下载代理资源");
}

TEST_F(WindowSources, DownloadAddsRowsReportsFailuresAndRestoresTheButtons) {
  qbtest::PageOrigin origin;
  ASSERT_NE(origin.Port(), 0);
  origin.Serve("/list.html",
               "<html><body><pre>\n192.0.2.10:8080\n192.0.2.11:3128@HTTPS\nsome text 192.0.2.12:80 here\n"
               "rtsp://192.0.2.13:554/live\n</pre></body></html>\n");
  origin.Serve("/none.html", "<html><body>no proxies today</body></html>\n");
  origin.Serve("/skip.html", "<html><body>192.0.2.99:8080</body></html>\n");
  WriteFile(data.File("Proxies.pro"), "192.0.2.1:80@HTTP$0.5\r\n");
  WriteFile(data.File("Sources.dat"),
            "dead 127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/x.html 1\n" +
                // Without "http://": the download puts it in front.
                "good " + origin.HostPath("/list.html") + " 1\n" + "skipped " + origin.Url("/skip.html") +
                " 0\n" + "empty " + origin.Url("/none.html") + " 1\n");
  Open();
  ASSERT_EQ(dlg->Dir().Sources().RowCount(), 4);
  const std::string sourcesBefore = SourcesFile();

  struct Seen {
    std::string text;
    bool verifyAll, verifySelected, download, progressShown;
  };
  std::vector<Seen> seen;
  QObject::connect(&dlg->Downloader(), &CSourceDownloader::SourceStarted, [&](int, const QString&) {
    seen.push_back({dlg->Button(1050)->text().toStdString(), dlg->Button(1045)->isEnabled(),
                    dlg->Button(1002)->isEnabled(), dlg->Button(1050)->isEnabled(),
                    dlg->findChild<QWidget*>("1051")->isVisible()});
  });
  // What the list held when each message came up: messages arrive in source order.
  // And the messages said by then: a source's own message comes before its report.
  std::vector<int> rowsAtReport;
  std::vector<std::size_t> messagesAtReport;
  QObject::connect(&dlg->Downloader(), &CSourceDownloader::SourceFinished, [&](const SourceReport&) {
    rowsAtReport.push_back(dlg->Dir().List().RowCount());
    messagesAtReport.push_back(prompt.messages.size());
  });

  Click(1050);
  ASSERT_TRUE(WaitDownload(20000)) << "the download did not end";

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].text, "dead...");
  EXPECT_EQ(seen[1].text, "good...");
  EXPECT_EQ(seen[2].text, "empty...");
  for (const Seen& s : seen) {
    EXPECT_FALSE(s.verifyAll);
    EXPECT_FALSE(s.verifySelected);
    EXPECT_FALSE(s.download);
    EXPECT_TRUE(s.progressShown);
  }
  EXPECT_EQ(rowsAtReport, (std::vector<int>{1, 4, 4}));
  EXPECT_EQ(messagesAtReport, (std::vector<std::size_t>{1, 1, 2}));

  // The unreachable source and the page without proxies, each by name.
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0].caption, "下载异常: dead");
  EXPECT_EQ(prompt.messages[0].text, kMsgNoProxyDownloaded);
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Information);
  EXPECT_EQ(prompt.messages[1].caption, "下载异常: empty");
  EXPECT_EQ(prompt.messages[1].text, kMsgNoProxyDownloaded);
  EXPECT_EQ(prompt.messages[1].icon, qb::MsgIcon::Information);
  EXPECT_EQ(prompt.messages[1].buttons, qb::MsgButtons::Ok);

  // The rows of the good page, selected, and in the list file.
  ASSERT_EQ(dlg->Dir().List().RowCount(), 4);
  EXPECT_EQ(dlg->Dir().List().GetProxyLine(1), "192.0.2.10:8080@HTTP");
  EXPECT_EQ(dlg->Dir().List().GetProxyLine(2), "192.0.2.11:3128@HTTPS");
  EXPECT_EQ(dlg->Dir().List().GetProxyLine(3), "192.0.2.12:80@HTTP");
  EXPECT_EQ(dlg->Dir().List().SelectedRows(), (std::vector<int>{1, 2, 3}));
  const std::string list = ReadFile(data.File("Proxies.pro"));
  EXPECT_NE(list.find("192.0.2.11:3128@HTTPS$未验证"), std::string::npos) << list;
  EXPECT_EQ(origin.Hits("/list.html"), 1);
  EXPECT_EQ(origin.Hits("/none.html"), 1);
  EXPECT_EQ(origin.Hits("/skip.html"), 0);
  EXPECT_EQ(origin.RequestOrder(), (std::vector<std::string>{"/list.html", "/none.html"}));

  // Idle again: the text and the buttons are back, the status strip says what the
  // download added, then counts the rows.
  EXPECT_EQ(dlg->Button(1050)->text(), "▲下载代理资源");
  for (int id : {1045, 1002, 1050}) EXPECT_TRUE(dlg->Button(id)->isEnabled()) << id;
  EXPECT_FALSE(dlg->findChild<QWidget*>("1051")->isVisible());
  EXPECT_EQ(dlg->StatusStrip()->GetWindowText(), "新增 3 个，重复 0 个，无法识别 1 行");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dlg->StatusStrip()->GetWindowText() == " 选定 3 / 共 4 个;    IE: no proxy"; }, 8000))
      << dlg->StatusStrip()->GetWindowText().toStdString();
  EXPECT_FALSE(g_bDownloading.load());
  EXPECT_EQ(SourcesFile(), sourcesBefore);

  // A second press downloads again; nothing new, but the good page still counts.
  prompt.messages.clear();
  Click(1050);
  ASSERT_TRUE(WaitDownload(20000));
  EXPECT_EQ(dlg->Dir().List().RowCount(), 4);
  EXPECT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(origin.Hits("/list.html"), 2);
}

// A page with more proxies than one page may add: the window adds the limit's number
// and says which limit cut the page.
TEST_F(WindowSources, APageCutAtItsLimitOfProxiesIsSaid) {
  qbtest::PageOrigin origin;
  ASSERT_NE(origin.Port(), 0);
  origin.Serve("/many.html",
               "<html><body><pre>\n192.0.2.30:8080\n192.0.2.31:8080\n192.0.2.32:8080\n192.0.2.33:8080\n"
               "</pre></body></html>\n");
  WriteFile(data.File("Sources.dat"), "many " + origin.Url("/many.html") + " 1\n");
  Open();
  CSourceDownloader::Options options = dlg->Downloader().GetOptions();
  options.limits.maxPageProxies = 3;
  dlg->Downloader().SetOptions(options);

  Click(1050);
  ASSERT_TRUE(WaitDownload(20000)) << "the download did not end";

  EXPECT_EQ(dlg->Dir().List().RowCount(), 3);
  EXPECT_EQ(ReadFile(data.File("Proxies.pro")).find("192.0.2.33"), std::string::npos);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "网页中的代理超过了每个网页 3 个的上限，只添加了前 3 个。");
  EXPECT_EQ(prompt.messages[0].caption, "网页被截断: many");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Information);
}

TEST_F(WindowSources, AListThatCannotBeSavedAfterAPageIsSaidBeforeTheNextSource) {
  qbtest::PageOrigin origin;
  ASSERT_NE(origin.Port(), 0);
  origin.Serve("/a.html", "<html><body>192.0.2.20:8080</body></html>\n");
  origin.Serve("/b.html", "<html><body>192.0.2.21:8080</body></html>\n");
  WriteFile(data.File("Sources.dat"),
            "a " + origin.Url("/a.html") + " 1\nb " + origin.Url("/b.html") + " 1\n");
  // A directory where the list belongs: loaded as empty, never replaced.
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(data.File("Proxies.pro"))));
  Open();
  std::vector<std::size_t> messagesAtStart;
  QObject::connect(&dlg->Downloader(), &CSourceDownloader::SourceStarted,
                   [&](int, const QString&) { messagesAtStart.push_back(prompt.messages.size()); });

  Click(1050);
  ASSERT_TRUE(WaitDownload(20000)) << "the download did not end";

  EXPECT_EQ(dlg->Dir().List().RowCount(), 2);
  ASSERT_EQ(prompt.messages.size(), 2u);
  for (const auto& m : prompt.messages) {
    EXPECT_EQ(m.text, "打开文件失败！");
    EXPECT_EQ(m.caption, "存盘");
    EXPECT_EQ(m.icon, qb::MsgIcon::Error);
  }
  // The first page's failure was shown before the second source began.
  EXPECT_EQ(messagesAtStart, (std::vector<std::size_t>{0, 1}));
}

}  // namespace

namespace {

// Another program's save: a new file renamed over the old one.
void ReplaceFile(const std::string& path, const std::string& bytes) {
  WriteFile(path + ".other", bytes);
  ASSERT_EQ(std::rename((path + ".other").c_str(), path.c_str()), 0);
}

std::vector<std::string> Lines(const CProxyListModel& list) {
  std::vector<std::string> out;
  for (int row = 0; row < list.RowCount(); ++row) out.push_back(list.GetProxyLine(row));
  return out;
}

TEST_F(WindowSources, FilesChangedBehindTheWindowAreReloadedAndItsOwnSavesAreNot) {
  const std::string list = data.File("Proxies.pro");
  WriteFile(list, "192.0.2.1:80@HTTP$0.5\r\n192.0.2.2:80@HTTP$1.5\r\n");
  WriteFile(data.File("Sources.dat"), "one http://127.0.0.1:9/a 1\r\n");
  Open();
  dlg->Dir().List().SetFavorite(1, true);
  QSignalSpy behind(&dlg->Dir(), &DataDir::ChangedBehind);

  // Rows a command hands over: only the new ones count, and the window saves them.
  qb::OpResult saved;
  EXPECT_EQ(dlg->AddHandedRows({"192.0.2.3:80@SOCKS5", "192.0.2.1:80@HTTP", "no proxy"}, {}, &saved),
            (std::vector<std::string>{"192.0.2.3:80@SOCKS5"}));
  EXPECT_TRUE(saved);
  EXPECT_NE(ReadFile(list).find("192.0.2.3:80@SOCKS5"), std::string::npos);
  // The window's own save is no change behind it.
  dlg->Dir().CheckFilesNow();
  EXPECT_EQ(behind.count(), 0);
  EXPECT_EQ(dlg->Dir().List().RowCount(), 3);

  // A list saved by another program is read again; the mark stays with its proxy.
  ReplaceFile(list, "192.0.2.9:80@HTTP$未验证\r\n192.0.2.2:80@HTTP$1.5\r\n");
  dlg->Dir().CheckFilesNow();
  ASSERT_EQ(behind.count(), 1);
  EXPECT_EQ(behind.takeFirst().at(0).value<DataFile>(), DataFile::ProxyList);
  EXPECT_EQ(Lines(dlg->Dir().List()), (std::vector<std::string>{"192.0.2.9:80@HTTP", "192.0.2.2:80@HTTP"}));
  EXPECT_FALSE(dlg->Dir().List().IsFavorite(0));
  EXPECT_TRUE(dlg->Dir().List().IsFavorite(1));

  // A file written in place is a change too.
  WriteFile(list, "192.0.2.10:80@HTTP\r\n192.0.2.9:80@HTTP\r\n192.0.2.2:80@HTTP\r\n");
  dlg->Dir().CheckFilesNow();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 3);

  // A removed list file throws no row away: the next save makes it again.
  ASSERT_EQ(std::remove(list.c_str()), 0);
  dlg->Dir().CheckFilesNow();
  EXPECT_EQ(dlg->Dir().List().RowCount(), 3);

  // The settings and the sources are read again too.
  ReplaceFile(data.File("Setting.dat"),
              "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
              "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\nm_nThreadNumber=7\r\n");
  ReplaceFile(data.File("Sources.dat"), "one http://127.0.0.1:9/a 1\r\ntwo http://127.0.0.1:9/b 0\r\n");
  dlg->Dir().CheckFilesNow();
  EXPECT_EQ(dlg->Dir().Settings().m_nThreadNumber, 7);
  EXPECT_EQ(dlg->Dir().Sources().RowCount(), 2);

  // Without being told: the watcher sees a save by another program on its own.
  ReplaceFile(list, "192.0.2.11:80@HTTP\r\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->Dir().List().RowCount() == 1; }, 5000));
  EXPECT_TRUE(prompt.messages.empty());
}

// The download saves the list after each page from what it holds in memory; rows
// another program added meanwhile are added back when it ends.
TEST_F(WindowSources, RowsAddedBehindTheWindowDuringADownloadAreKept) {
  qbtest::PageOrigin origin;
  origin.Serve("/slow", qbtest::OriginPage{"192.0.2.20:80\n", qbtest::OriginPage::Stall});
  origin.Serve("/fast", "192.0.2.21:80\n");
  const std::string list = data.File("Proxies.pro");
  WriteFile(list, "192.0.2.1:80@HTTP$0.5\r\n");
  WriteFile(data.File("Sources.dat"),
            "slow " + origin.Url("/slow") + " 1\r\nfast " + origin.Url("/fast") + " 1\r\n");
  Open();

  Click(1050);
  ASSERT_TRUE(dlg->Downloader().IsRunning());
  ASSERT_TRUE(QTest::qWaitFor([&] { return origin.Hits("/slow") == 1; }, 5000));
  ReplaceFile(list, "192.0.2.1:80@HTTP$0.5\r\n192.0.2.30:80@SOCKS4$2.5#theirs\r\n");
  dlg->Dir().CheckFilesNow();
  // Not reloaded while the download holds rows that are not saved yet.
  EXPECT_EQ(dlg->Dir().List().RowCount(), 1);

  ASSERT_TRUE(WaitDownload(20000));
  auto inList = [&](const std::string& proxy) {
    for (int row = 0; row < dlg->Dir().List().RowCount(); ++row) {
      if (dlg->Dir().List().GetProxyLine(row) == proxy) return true;
    }
    return false;
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return inList("192.0.2.30:80@SOCKS4"); }, 2000));
  EXPECT_TRUE(inList("192.0.2.21:80@HTTP"));
  const std::string saved = ReadFile(list);
  for (const char* proxy : {"192.0.2.1:80@HTTP", "192.0.2.21:80@HTTP", "192.0.2.30:80@SOCKS4$2.5#theirs"}) {
    EXPECT_NE(saved.find(proxy), std::string::npos) << proxy << "\n" << saved;
  }
}

}  // namespace
