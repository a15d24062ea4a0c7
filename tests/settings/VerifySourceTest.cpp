#include <gtest/gtest.h>

#include <QSignalSpy>

#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

std::vector<int> TickedRows(const CSettings& s) {
  std::vector<int> rows;
  for (int i = 0; i < static_cast<int>(s.m_aVerifySources.size()); ++i)
    if (s.m_aVerifySources[i].m_bChecked) rows.push_back(i);
  return rows;
}

std::vector<std::string> Names(const CSettings& s) {
  std::vector<std::string> names;
  for (const auto& v : s.m_aVerifySources) names.push_back(v.m_sName);
  return names;
}

TEST(VerifySource, ProtocolFollowsTheSchemeInAnyCase) {
  EXPECT_EQ(GetUrlProtocol("http://a"), 1);
  EXPECT_EQ(GetUrlProtocol("HtTp://a"), 1);
  EXPECT_EQ(GetUrlProtocol("fTP://a"), 2);
  EXPECT_EQ(GetUrlProtocol("HTTPS://a"), 1);
  EXPECT_EQ(GetUrlProtocol("httpx://a"), 0);
  EXPECT_EQ(GetUrlProtocol("http:/a"), 0);
  EXPECT_EQ(GetUrlProtocol("ftp:"), 0);
  EXPECT_EQ(GetUrlProtocol(""), 0);
}

TEST(VerifySource, BuiltInResourcesAreElevenWithOneHttpAndOneFtpTicked) {
  CSettings s;
  InstallDefaultVerifySources(s);
  ASSERT_EQ(s.m_aVerifySources.size(), 11u);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(GetUrlProtocol(s.m_aVerifySources[i].m_sUrl), i < 9 ? 1 : 2) << i;
  EXPECT_EQ(TickedRows(s), (std::vector<int>{0, 9}));
}

TEST(VerifySource, TheLastTickedResourceOfEachProtocolIsUsed) {
  CSettings s;
  s.m_aVerifySources = {{"h1", "http://h1", "f1", 1},
                        {"x", "gopher://x", "fx", 1},
                        {"f1", "ftp://f1", "g1", 1},
                        {"h2", "HTTP://h2", "f2", 1},
                        {"h3", "http://h3", "f3", 0}};
  const auto c = GetCheckedVerifySources(s);
  EXPECT_EQ(c.httpUrl, "HTTP://h2");
  EXPECT_EQ(c.httpFeature, "f2");
  EXPECT_EQ(c.ftpUrl, "ftp://f1");
  EXPECT_EQ(c.ftpFeature, "g1");
  RecordCheckedSources(s);
  EXPECT_EQ(s.m_nCheckedHttpIndex, 3);
  EXPECT_EQ(s.m_nCheckedFtpIndex, 2);

  CSettings none;
  none.m_aVerifySources = {{"h", "http://h", "f", 0}};
  EXPECT_TRUE(GetCheckedVerifySources(none).httpUrl.empty());
  RecordCheckedSources(none);
  EXPECT_EQ(none.m_nCheckedHttpIndex, -1);
}

// The dialog words each problem (tests/settingdlg/SourceListTest.cpp).
TEST(VerifySource, DialogChecksInOrderWithTheirProblemsAndFocus) {
  struct Case {
    std::string name, url, feature;
    VerifySourceProblem problem;
    int focus;
  };
  const Case cases[] = {
      {" ", "", "", VerifySourceProblem::NoName, 1012},
      {"a@b", "", "", VerifySourceProblem::NameHasSeparator, 1012},
      {"a%b", "http://a", "f", VerifySourceProblem::NameHasSeparator, 1012},
      {"a", " ", "", VerifySourceProblem::NoUrl, 1013},
      {"a", "gopher://a", "f", VerifySourceProblem::NoScheme, 1013},
      {"a", "HTTP://a", " \t", VerifySourceProblem::NoFeature, 1014},
  };
  for (Case c : cases) {
    const std::string what = c.name + "|" + c.url + "|" + c.feature;
    const VerifySourceCheck r = ValidateVerifySource(c.name, c.url, c.feature);
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.problem, c.problem) << what;
    EXPECT_EQ(r.focusId, c.focus) << what;
  }
  std::string name = "  my name  ", url = " FtP://host ", feature = " a b ";
  const VerifySourceCheck fine = ValidateVerifySource(name, url, feature);
  EXPECT_TRUE(fine.ok);
  EXPECT_EQ(fine.problem, VerifySourceProblem::None);
  EXPECT_EQ(name, "my name");
  EXPECT_EQ(url, "FtP://host");
  EXPECT_EQ(feature, "a b");
}

class ResourceList : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.m_aVerifySources = {{"H0", "http://h0/", "a", 1},
                                 {"F1", "ftp://f1", "b", 1},
                                 {"H2", "http://h2/", "c", 0},
                                 {"F3", "ftp://f3", "d", 0},
                                 {"H4", "http://h4/", "e", 0}};
    model = std::make_unique<CVerifySourceListModel>(settings);
  }
  bool UserTick(int row, bool on) {
    return model->setData(model->index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
  }
  // Row i shows record i.
  void ExpectRowsMatchRecords() {
    ASSERT_EQ(model->rowCount(), static_cast<int>(settings.m_aVerifySources.size()));
    for (int i = 0; i < model->rowCount(); ++i) {
      const auto& v = settings.m_aVerifySources[i];
      EXPECT_EQ(model->data(model->index(i, 0)).toString().toStdString(), v.m_sName);
      EXPECT_EQ(model->data(model->index(i, 1)).toString().toStdString(), v.m_sUrl);
      EXPECT_EQ(model->data(model->index(i, 2)).toString().toStdString(), v.m_sFeature);
      EXPECT_EQ(model->data(model->index(i, 0), Qt::CheckStateRole).toInt(),
                v.m_bChecked ? Qt::Checked : Qt::Unchecked);
    }
  }

  qbtest::ScriptedPrompt prompt;
  CSettings settings;
  std::unique_ptr<CVerifySourceListModel> model;
};

TEST_F(ResourceList, AUserTickKeepsOneResourcePerProtocolAndActsOnItsOwnRow) {
  QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
  ASSERT_TRUE(UserTick(4, true));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{1, 4}));  // H0 off, FTP untouched
  EXPECT_GE(changed.count(), 2);                              // both rows repaint
  ExpectRowsMatchRecords();

  ASSERT_TRUE(UserTick(3, true));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{3, 4}));

  // Unticking the only HTTP resource leaves none.
  ASSERT_TRUE(UserTick(4, false));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{3}));
  EXPECT_TRUE(GetCheckedVerifySources(settings).httpUrl.empty());

  // A tick that changes nothing changes nothing else either.
  settings.m_aVerifySources[0].m_bChecked = 1;
  settings.m_aVerifySources[2].m_bChecked = 1;  // two HTTP ticks, as a loaded file may have
  ASSERT_TRUE(UserTick(2, true));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{0, 2, 3}));
}

// The settings dialog words the refusals and asks the question
// (tests/settingdlg/SourceListTest.cpp); the list only reports and asks through it.
using Edit = CVerifySourceListModel::Edit;

TEST_F(ResourceList, AddAppendsUntickedAndRefusesAUrlThatDiffersOnlyInCase) {
  QSignalSpy inserted(model.get(), &QAbstractItemModel::rowsInserted);
  EXPECT_EQ(model->Add("New", "HTTP://new/", "n"), Edit::Done);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(settings.m_aVerifySources.back(), (CVerifySource{"New", "HTTP://new/", "n", 0}));
  ExpectRowsMatchRecords();

  EXPECT_EQ(model->Add("Again", "http://H2/", "x"), Edit::DuplicateUrl);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(settings.m_aVerifySources.size(), 6u);
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(ResourceList, ModifyKeepsPlaceAndTickAndRefusesAnotherRowsUrl) {
  EXPECT_EQ(model->Modify(0, "H0 renamed", "http://H0/", "z"), Edit::Done);  // its own URL in other case
  EXPECT_EQ(settings.m_aVerifySources[0], (CVerifySource{"H0 renamed", "http://H0/", "z", 1}));
  EXPECT_EQ(model->Modify(0, "x", "http://h4/", "y"), Edit::DuplicateUrl);
  EXPECT_EQ(settings.m_aVerifySources[0], (CVerifySource{"H0 renamed", "http://H0/", "z", 1}));
  EXPECT_EQ(model->Modify(5, "x", "http://x/", "y"), Edit::NoSuchRow);
  EXPECT_EQ(model->Modify(-1, "x", "http://x/", "y"), Edit::NoSuchRow);
  EXPECT_EQ(settings.m_aVerifySources.size(), 5u);
  EXPECT_TRUE(prompt.messages.empty());
  // A ticked HTTP resource changed to FTP stays ticked beside the ticked FTP one.
  EXPECT_EQ(model->Modify(0, "now ftp", "ftp://new", "y"), Edit::Done);
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{0, 1}));
  ExpectRowsMatchRecords();
}

TEST_F(ResourceList, DeleteAsksAndRemovesExactlyTheGivenRows) {
  int asked = 0;
  bool answer = false;
  auto confirm = [&] {
    ++asked;
    return answer;
  };
  EXPECT_FALSE(model->Delete({}, confirm));
  EXPECT_FALSE(model->Delete({5, -1}, confirm));  // no row of the list: nothing to ask
  EXPECT_EQ(asked, 0);

  EXPECT_FALSE(model->Delete({1, 3}, confirm));  // answered No
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(settings.m_aVerifySources.size(), 5u);
  EXPECT_FALSE(model->Delete({1, 3}, nullptr));  // nobody to say yes
  EXPECT_EQ(settings.m_aVerifySources.size(), 5u);

  answer = true;
  EXPECT_TRUE(model->Delete({3, 1, 3, 99}, confirm));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Names(settings), (std::vector<std::string>{"H0", "H2", "H4"}));
  ExpectRowsMatchRecords();
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(ResourceList, CancelRestoresTheTicksOfOpeningTimeAndKeepsAdditions) {
  UserTick(2, true);
  UserTick(3, true);
  model->Add("New", "http://new/", "n");
  RestoreCheckedSources(settings);
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{0, 1}));
  EXPECT_EQ(settings.m_aVerifySources.size(), 6u);
  ExpectRowsMatchRecords();
}

TEST_F(ResourceList, CancelAfterDeletionsTicksTheSameRecordsAndNothingElse) {
  // Ticks at opening: H0 (0) and F1 (1). Move them to the end of the list, then
  // delete records before them.
  settings.m_aVerifySources = {
      {"A", "http://a/", "", 0}, {"B", "ftp://b", "", 0}, {"H", "http://h/", "", 1}, {"F", "ftp://f", "", 1}};
  model->FillSourceList();
  RecordCheckedSources(settings);
  UserTick(0, true);
  const auto yes = [] { return true; };
  ASSERT_TRUE(model->Delete({0, 1}, yes));
  RestoreCheckedSources(settings);
  EXPECT_EQ(Names(settings), (std::vector<std::string>{"H", "F"}));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{0, 1}));

  // A deleted record cannot be ticked again, and nothing else is ticked in its place.
  RecordCheckedSources(settings);
  ASSERT_TRUE(model->Delete({0}, yes));
  model->Add("H again", "http://h2/", "");
  RestoreCheckedSources(settings);
  EXPECT_EQ(Names(settings), (std::vector<std::string>{"F", "H again"}));
  EXPECT_EQ(TickedRows(settings), (std::vector<int>{0}));
}

TEST_F(ResourceList, ImportSkipsDuplicatesAndOddLinesAndKeepsTheFilesOwnForm) {
  qbtest::TempDir dir;
  const std::string file = dir.File("in.dat");
  qbtest::WriteFile(file,
                    "One@http://one/%f1\r\n"
                    "Dup@HTTP://ONE/%again\r\n"   // same URL in other case: skipped
                    "Secure@https://s/%fs\n"      // kept as it is
                    "Old@http://https://o/%fo\n"  // an older version's reading of one, mended
                    "Stored@http://st/%feat$1\n"  // the settings form: "$1" stays in the feature
                    "no separators here\n"
                    "only@at sign\n"
                    "Enc@http://x/a%20b%Nice\n"  // a percent-encoded URL keeps its escapes
                    "H2@http://h2/%c\n");        // already in the list
  EXPECT_EQ(model->ImportFile(file).added, 5);
  EXPECT_TRUE(prompt.messages.empty());
  ASSERT_EQ(settings.m_aVerifySources.size(), 10u);
  EXPECT_EQ(settings.m_aVerifySources[5], (CVerifySource{"One", "http://one/", "f1", 0}));
  EXPECT_EQ(settings.m_aVerifySources[6], (CVerifySource{"Secure", "https://s/", "fs", 0}));
  EXPECT_EQ(settings.m_aVerifySources[7], (CVerifySource{"Old", "https://o/", "fo", 0}));
  EXPECT_EQ(settings.m_aVerifySources[8], (CVerifySource{"Stored", "http://st/", "feat$1", 0}));
  EXPECT_EQ(settings.m_aVerifySources[9], (CVerifySource{"Enc", "http://x/a%20b", "Nice", 0}));
  ExpectRowsMatchRecords();

  const auto none = model->ImportFile(dir.File("none.dat"));
  EXPECT_EQ(none.added, 0);
  EXPECT_EQ(none.result.status, qb::OpStatus::ReadFailed);
  EXPECT_EQ(none.result.path, dir.File("none.dat"));
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(ReportResourceImport(none.result));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "导入");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
}

TEST_F(ResourceList, ExportedFileImportsBackToTheSameTexts) {
  qbtest::TempDir dir;
  settings.m_aVerifySources.push_back({"odd", "http://x/%zz$", "100% @ $5", 1});
  model->FillSourceList();
  ASSERT_TRUE(model->ExportFile(dir.File("out.dat")).ok());
  const std::string text = qbtest::ReadFile(dir.File("out.dat"));
  EXPECT_TRUE(text.starts_with("H0@http://h0/%a\r\nF1@ftp://f1%b\r\n"));  // ticks are not written

  // Into the same list: nothing new.
  EXPECT_EQ(model->ImportFile(dir.File("out.dat")).added, 0);

  CSettings other;
  CVerifySourceListModel otherList(other);
  EXPECT_EQ(otherList.ImportFile(dir.File("out.dat")).added, 6);
  ASSERT_EQ(other.m_aVerifySources.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    CVerifySource expected = settings.m_aVerifySources[i];
    expected.m_bChecked = 0;
    EXPECT_EQ(other.m_aVerifySources[i], expected);
  }
}

TEST_F(ResourceList, ExportReportsAFileThatCannotBeWritten) {
  qbtest::TempDir dir;
  const qb::OpResult unwritten = model->ExportFile(dir.File("missing/out.dat"));
  EXPECT_EQ(unwritten.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(unwritten.path, dir.File("missing/out.dat"));
  EXPECT_FALSE(ReportResourceExport(unwritten));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "存盘");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
}

// Setting.dat keeps its form with an https:// resource: it reads back and writes out the
// same, is the HTTP resource when ticked, and an older version's "http://https://"
// reading of one is mended.
TEST(VerifySource, HttpsResourcesKeepTheSettingFileFormAndAreTheHttpResource) {
  CSettings s;
  ReadSettingsText(s, "Own check@https://check.example:8443/page%Feature$1\r\nF@ftp://f/%f$1\r\n");
  ASSERT_EQ(s.m_aVerifySources.size(), 2u);
  EXPECT_EQ(s.m_aVerifySources[0],
            (CVerifySource{"Own check", "https://check.example:8443/page", "Feature", 1}));
  const std::string written = FormatSettingsFile(s);
  EXPECT_NE(written.find("Own check@https://check.example:8443/page%Feature$1"), std::string::npos)
      << written;
  CSettings again;
  ReadSettingsText(again, written);
  EXPECT_EQ(again.m_aVerifySources, s.m_aVerifySources);
  EXPECT_EQ(GetCheckedVerifySources(s).httpUrl, "https://check.example:8443/page");

  CSettings old;
  ReadSettingsText(old, "Own check@http://https://check.example/%Feature$1\r\n");
  ASSERT_EQ(old.m_aVerifySources.size(), 1u);
  EXPECT_EQ(old.m_aVerifySources[0].m_sUrl, "https://check.example/");
}

TEST_F(ResourceList, LoadingUnderAnOpenListKeepsRowsAndRecordsInStep) {
  ReadSettingsText(settings, "X@http://x/%x$1\r\n");
  ASSERT_EQ(settings.m_aVerifySources.size(), 1u);
  ExpectRowsMatchRecords();
  InstallDefaultVerifySources(settings);
  ExpectRowsMatchRecords();
}

}  // namespace
