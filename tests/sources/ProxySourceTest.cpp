#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

#include <sys/resource.h>
#include <csignal>

#include "base/Text.h"
#include "datadir/DataDir.h"
#include "sources/ProxySource.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

class SourcesFile : public ::testing::Test {
 protected:
  std::string Path() const { return dir.File("Sources.dat"); }
  bool Load(const std::string& text) {
    qbtest::WriteFile(Path(), text);
    return data->LoadSources().ok();
  }
  std::unique_ptr<DataDir> Reopen() const { return DataDir::Open(dir.Path(), DataDir::Access::Read); }
  qbtest::TempDir dir;
  qbtest::ScriptedPrompt prompt;
  std::unique_ptr<DataDir> data = Reopen();
  CProxySourceListModel& list = data->Sources();
};

TEST_F(SourcesFile, ReadsNameUrlAndTickWithTheFilesQuirks) {
  QSignalSpy ticked(&list, &CProxySourceListModel::SourceTicked);
  ASSERT_TRUE(
      Load("one http://one.example/list 1\r\n"
           "  two\thttp://two.example/  0  \r\n"
           "lonely\r\n"                   // one item: skipped
           "three www.three.example\r\n"  // no tick given: the user meant it
           "four http://four.example/ 5 extra\n"
           "five http://five.example/ -0\n"
           "six http://six.example/ abc\n"
           "   \n"  // the first blank line ends the file
           "seven http://seven.example/ 1\n"));
  const std::vector<CProxySource> expected = {
      {"one", "http://one.example/list", true}, {"two", "http://two.example/", false},
      {"three", "www.three.example", true},     {"four", "http://four.example/", true},
      {"five", "http://five.example/", false},  {"six", "http://six.example/", true}};
  EXPECT_EQ(list.Sources(), expected);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ticked.count(), 0);  // loading ticks rows without saving
  EXPECT_EQ(qbtest::ReadFile(Path()).find("seven") != std::string::npos, true);
}

TEST_F(SourcesFile, LinesEndInCrLfLfOrACrAlone) {
  ASSERT_TRUE(
      Load("one http://one.example/ 1\rtwo http://two.example/ 0\r\n"
           "three http://three.example/ 1\nfour http://four.example/ 0\r"));
  const std::vector<CProxySource> expected = {{"one", "http://one.example/", true},
                                              {"two", "http://two.example/", false},
                                              {"three", "http://three.example/", true},
                                              {"four", "http://four.example/", false}};
  EXPECT_EQ(list.Sources(), expected);
}

// A second mark after the file's own (or one starting a later line) would otherwise
// stay in the name, and be taken for the file's mark once that name is saved first.
TEST_F(SourcesFile, ByteOrderMarksAreNoPartOfAName) {
  ASSERT_TRUE(
      Load("\xEF\xBB\xBF\xEF\xBB\xBFone http://one.example/ 1\r\n\xEF\xBB\xBFtwo http://two.example/ 0\r\n"));
  const std::vector<CProxySource> expected = {{"one", "http://one.example/", true},
                                              {"two", "http://two.example/", false}};
  EXPECT_EQ(list.Sources(), expected);
  ASSERT_TRUE(data->SaveSources());
  const std::unique_ptr<DataDir> back = Reopen();
  ASSERT_TRUE(back->LoadSources());
  EXPECT_EQ(back->Sources().Sources(), expected);
}

TEST_F(SourcesFile, MissingFileIsSilentAndLegacyGbkNamesAreRead) {
  EXPECT_TRUE(data->LoadSources());
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_TRUE(prompt.messages.empty());

  ASSERT_TRUE(Load(qb::EncodeGb18030("代理列表 http://daili.example/ 1\n")));
  ASSERT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.Source(0)->m_sName, "代理列表");
}

TEST_F(SourcesFile, UnreadableFileIsReported) {
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(Path())));
  const qb::OpResult loaded = data->LoadSources();
  EXPECT_EQ(loaded.status, qb::OpStatus::ReadFailed);
  EXPECT_EQ(loaded.path, Path());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(ReportSourcesLoad(loaded));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开设置文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "初始化");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(SourcesFile, TheFileIsWrittenWholeFromTheList) {
  ASSERT_TRUE(data->LoadSources());
  list.Append({"名单", "http://a.example/p?x=1", false});
  list.Append({"b", "b.example", false});
  ASSERT_TRUE(data->SaveSources());
  EXPECT_EQ(qbtest::ReadFile(Path()), "名单 http://a.example/p?x=1 0\r\nb b.example 0\r\n");

  // A user tick goes through the list's check box and is announced for saving.
  QSignalSpy ticked(&list, &CProxySourceListModel::SourceTicked);
  ASSERT_TRUE(list.setData(list.index(1, 0), Qt::Checked, Qt::CheckStateRole));
  ASSERT_EQ(ticked.count(), 1);
  EXPECT_EQ(ticked.at(0).at(0).toInt(), 1);
  ASSERT_TRUE(data->SaveSources());
  EXPECT_EQ(qbtest::ReadFile(Path()), "名单 http://a.example/p?x=1 0\r\nb b.example 1\r\n");

  list.Modify(1, "c", "http://c.example/");
  list.RemoveRows({0});
  ASSERT_TRUE(data->SaveSources());
  EXPECT_EQ(qbtest::ReadFile(Path()), "c http://c.example/ 1\r\n");

  // Loading again replaces what the list held.
  qbtest::WriteFile(Path(), "d http://d.example/ 0\r\n");
  ASSERT_TRUE(data->LoadSources());
  EXPECT_EQ(list.Sources(), (std::vector<CProxySource>{{"d", "http://d.example/", false}}));
}

TEST_F(SourcesFile, FailedSaveKeepsTheOldFileAndSaysSo) {
  ASSERT_TRUE(Load("old http://old.example/ 1\r\n"));
  for (int i = 0; i < 20; ++i) list.Append({qb::Format("s%d", i), "http://a.long.example/page", true});
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const qb::OpResult saved = data->SaveSources();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(saved.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(saved.path, Path());
  EXPECT_FALSE(ReportSourcesSave(saved));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "存盘");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_EQ(qbtest::ReadFile(Path()), "old http://old.example/ 1\r\n");
  EXPECT_EQ(list.RowCount(), 21);

  const std::unique_ptr<DataDir> elsewhere = DataDir::Open(dir.File("no/such/dir"), DataDir::Access::Read);
  elsewhere->Sources().Append({"x", "http://x.example/", false});
  const qb::OpResult elsewhereSaved = elsewhere->SaveSources();
  EXPECT_EQ(elsewhereSaved.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(elsewhereSaved.path, dir.File("no/such/dir/Sources.dat"));
  EXPECT_FALSE(ReportSourcesSave(elsewhereSaved));
  EXPECT_EQ(prompt.messages.size(), 2u);
}

// The dialog words each refusal (tests/app/MainWindowSourcesTest.cpp).
TEST(ProxySourceDialog, RefusesEmptyTextsAndTextsWithBlanks) {
  struct Case {
    std::string name, url;
    int focus;
  };
  const Case cases[] = {
      {"my list", "http://a/", kSourceNameEditId},
      {"my\tlist", "", kSourceNameEditId},
      {" ", "http://a/", kSourceNameEditId},
      {"list", "http://a/b c", kSourceUrlEditId},
      {"list", "  ", kSourceUrlEditId},
  };
  for (Case c : cases) {
    const std::string what = c.name + "|" + c.url;
    const ProxySourceCheck r = ValidateProxySource(c.name, c.url);
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.focusId, c.focus) << what;
  }
  std::string name = "  list ", url = "\thttp://a/ ";
  EXPECT_TRUE(ValidateProxySource(name, url).ok);
  EXPECT_EQ(name, "list");
  EXPECT_EQ(url, "http://a/");
}

}  // namespace
