#include <gtest/gtest.h>

#include <QDir>

#include <sys/resource.h>
#include <csignal>

#include "base/Text.h"
#include "datadir/DataDir.h"
#include "settings/Settings.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "ui/FailureMessages.h"

using namespace qb;

namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    g_nConnectTimeoutMs = kDefaultConnectTimeoutMs;
    g_nVerifyTimeoutMs = kDefaultVerifyTimeoutMs;
  }
  std::string Path() const { return dir.File("Setting.dat"); }
  // Loads a file of the given text into settings.
  bool Load(const std::string& text) {
    qbtest::WriteFile(Path(), text);
    return data->LoadSettings(&defaultsInstalled).ok();
  }
  // The directory opened again, as the next start or command opens it.
  std::unique_ptr<DataDir> Reopen() const { return DataDir::Open(dir.Path(), DataDir::Access::Read); }

  qbtest::TempDir dir;
  qbtest::ScriptedPrompt prompt;
  std::unique_ptr<DataDir> data = Reopen();
  CSettings& settings = data->Settings();
  bool defaultsInstalled = false;
};

const std::vector<std::string> kDefaultSettingLines = {
    "m_nThreadNumber=50",    "m_nConTimeout=5", "m_nVerifyTimeout=25", "m_bAutoAddToFavorite=1",
    "m_bAutoTimingVerify=1", "m_bAutoRun=1",    "m_bMinimize=1",       "m_bAmbiguous=0",
    "m_nAutoProxyConfig=0",  "m_nFavorites=6"};

TEST_F(SettingsFile, FirstStartInstallsTheBuiltInResourcesSavesThemAndSaysSoOnce) {
  ASSERT_TRUE(data->LoadSettings(&defaultsInstalled));
  // The loader says so; the window and the command line word it.
  EXPECT_TRUE(defaultsInstalled);
  EXPECT_TRUE(prompt.messages.empty());

  ASSERT_EQ(settings.m_aVerifySources.size(), 11u);
  std::vector<int> ticked;
  for (int i = 0; i < 11; ++i)
    if (settings.m_aVerifySources[i].m_bChecked) ticked.push_back(i);
  EXPECT_EQ(ticked, (std::vector<int>{0, 9}));
  EXPECT_EQ(settings.m_nCheckedHttpIndex, 0);
  EXPECT_EQ(settings.m_nCheckedFtpIndex, 9);

  const std::string text = qbtest::ReadFile(Path());
  // Every line ends in CR LF.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));
  EXPECT_TRUE(text.ends_with("\r\n"));
  const auto lines = SplitCrLf(text);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "中文Google@http://www.google.com/intl/zh-CN/%手气不错$1");
  EXPECT_EQ(lines[1], "Microsoft Corporation@http://www.microsoft.com%Microsoft Corporation$0");
  EXPECT_EQ(lines[9], "GlobalSCAPE FTP@ftp://ftp.globalscape.com%GlobalSCAPE$1");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 11, lines.end()), kDefaultSettingLines);

  // The loaded reply time-out (the default 25 s) is in effect at once.
  EXPECT_EQ(g_nConnectTimeoutMs, 5000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 25000);

  // The next start finds them and says nothing.
  const std::unique_ptr<DataDir> againDir = Reopen();
  bool againInstalled = true;
  ASSERT_TRUE(againDir->LoadSettings(&againInstalled));
  CSettings& again = againDir->Settings();
  EXPECT_FALSE(againInstalled);
  EXPECT_EQ(again.m_aVerifySources, settings.m_aVerifySources);
}

TEST_F(SettingsFile, KeysAreFoundAnywhereInTheLineInTheirFixedOrderAndReadLikeAtoi) {
  ASSERT_TRUE(
      Load("R@http://r.example/%r$1\r\n"
           "m_nThreadNumber=200\r\n"                 // no range check when loading
           "some text m_nConTimeout=7\r\n"           // the key may stand anywhere
           "m_nVerifyTimeout:12\r\n"                 // the character after the key is skipped unread
           "m_bAutoRun\r\n"                          // the key alone gives 0
           "m_nFavorites= -3abc\r\n"                 // atoi: blanks, sign, digits, then anything
           "m_nAutoProxyConfig=2 m_bMinimize=4\r\n"  // m_bMinimize is searched first
           "M_BAMBIGUOUS=1\r\n"                      // keys are case-sensitive
           "nothing to see here\r\n"));
  EXPECT_EQ(settings.m_nThreadNumber, 200);
  EXPECT_EQ(settings.m_nConTimeout, 7);
  EXPECT_EQ(settings.m_nVerifyTimeout, 12);
  EXPECT_EQ(settings.m_bAutoRun, 0);
  EXPECT_EQ(settings.m_nFavorites, -3);
  EXPECT_EQ(settings.m_bMinimize, 4);
  EXPECT_EQ(settings.m_nAutoProxyConfig, 0);
  EXPECT_EQ(settings.m_bAmbiguous, 0);
  EXPECT_EQ(settings.m_bAutoTimingVerify, 1);  // missing key: default stands
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(g_nConnectTimeoutMs, 7000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 12000);
}

TEST_F(SettingsFile, ResourceLinesTheirTicksSchemesAndWhereTheKeyBlockStands) {
  ASSERT_TRUE(
      Load("m_nFavorites=3\n"
           "A@http://a.example/%fa$\n"
           "B@http://b.example/%fb$0\n"
           "m_bMinimize=0\n"
           "C@http://c.example/%fc$2\n"
           "D@www.d.example%fd$0\n"
           "E@FtP://E.example%fe$1\n"
           "  F  @  http://f.example/  %  ff  $ 0 \n"
           "G@http://g.example/%fg\n"   // no "$": not a resource
           "m_nThreadNumber=9@x%y$0\n"  // all three: a resource, never a key line
           "A@http://a.example/%fa$\n"  // loaded twice, no duplicate check here
           "m_nConTimeout=9\n"));
  const std::vector<CVerifySource> expected = {
      {"A", "http://a.example/", "fa", 1},       {"B", "http://b.example/", "fb", 0},
      {"C", "http://c.example/", "fc", 1},       {"D", "http://www.d.example", "fd", 0},
      {"E", "FtP://E.example", "fe", 1},         {"F", "http://f.example/", "ff", 0},
      {"m_nThreadNumber=9", "http://x", "y", 0}, {"A", "http://a.example/", "fa", 1}};
  EXPECT_EQ(settings.m_aVerifySources, expected);
  EXPECT_EQ(settings.m_nThreadNumber, 50);
  EXPECT_EQ(settings.m_nFavorites, 3);
  EXPECT_EQ(settings.m_bMinimize, 0);
  EXPECT_EQ(settings.m_nConTimeout, 9);

  ASSERT_TRUE(data->SaveSettings());
  const auto lines = SplitCrLf(qbtest::ReadFile(Path()));
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[2], "C@http://c.example/%fc$1");  // any tick but "0" is written back as 1
  EXPECT_EQ(lines[3], "D@http://www.d.example%fd$0");
}

TEST_F(SettingsFile, LinesEndInCrLfLfOrACrAlone) {
  ASSERT_TRUE(
      Load("A@http://a.example/%fa$0\rm_nFavorites=4\rB@http://b.example/%fb$1\r\nm_nThreadNumber=9\n"
           "m_bMinimize=0\r"));
  const std::vector<CVerifySource> expected = {{"A", "http://a.example/", "fa", 0},
                                               {"B", "http://b.example/", "fb", 1}};
  EXPECT_EQ(settings.m_aVerifySources, expected);
  EXPECT_EQ(settings.m_nFavorites, 4);
  EXPECT_EQ(settings.m_nThreadNumber, 9);
  EXPECT_EQ(settings.m_bMinimize, 0);
}

TEST_F(SettingsFile, LegacyGbkFileIsRead) {
  ASSERT_TRUE(Load(qb::EncodeGb18030("北京大学@http://www.pku.edu.cn/%北京大学$1\r\nm_nFavorites=4\r\n")));
  ASSERT_EQ(settings.m_aVerifySources.size(), 1u);
  EXPECT_EQ(settings.m_aVerifySources[0],
            (CVerifySource{"北京大学", "http://www.pku.edu.cn/", "北京大学", 1}));
  EXPECT_EQ(settings.m_nFavorites, 4);
}

// Texts holding the separators must come back as they were saved, and ordinary lines
// must stay what older versions wrote.
TEST_F(SettingsFile, TextsWithSeparatorsLoadBackIdenticalAndOrdinaryLinesKeepTheirOldForm) {
  const char* names[] = {"plain", "a$b", "50%", "x%40y", "名字$", "a%%b"};
  const char* urls[] = {"http://x/a%20b", "http://x/%zz",   "http://x/$p",   "ftp://u@h/",
                        "http://x/%",     "http://x/a%25b", "http://x/%%41", "HTTP://X/"};
  const char* features[] = {"Nice", "100%", "%abc", "a$b$1", "25 items", "%%", "@", "ABC", "%20", "a%2"};
  int n = 0;
  for (const char* name : names)
    for (const char* url : urls)
      for (const char* feature : features) settings.m_aVerifySources.push_back({name, url, feature, n++ % 2});
  ASSERT_TRUE(data->SaveSettings());

  const std::unique_ptr<DataDir> loadedDir = Reopen();
  ASSERT_TRUE(loadedDir->LoadSettings());
  CSettings& loaded = loadedDir->Settings();
  ASSERT_EQ(loaded.m_aVerifySources.size(), settings.m_aVerifySources.size());
  for (std::size_t i = 0; i < loaded.m_aVerifySources.size(); ++i)
    EXPECT_EQ(loaded.m_aVerifySources[i], settings.m_aVerifySources[i]) << "record " << i;

  const std::unique_ptr<DataDir> ordinaryDir = Reopen();
  CSettings& ordinary = ordinaryDir->Settings();
  ordinary.m_aVerifySources = {{"中文Google", "http://x/a%20b", "手气不错", 1},
                               {"N", "http://x/", "Facebook", 0},
                               {"N2", "http://x/%E4%B8%AD?q=1", "2024", 1}};
  ASSERT_TRUE(ordinaryDir->SaveSettings());
  const auto lines = SplitCrLf(qbtest::ReadFile(Path()));
  EXPECT_EQ(lines[0], "中文Google@http://x/a%20b%手气不错$1");
  EXPECT_EQ(lines[1], "N@http://x/%Facebook$0");
  EXPECT_EQ(lines[2], "N2@http://x/%E4%B8%AD?q=1%2024$1");
  const std::unique_ptr<DataDir> backDir = Reopen();
  ASSERT_TRUE(backDir->LoadSettings());
  CSettings& back = backDir->Settings();
  EXPECT_EQ(back.m_aVerifySources, ordinary.m_aVerifySources);
}

// Found by fuzzing: an escaped line whose escapes decode to bytes that are no UTF-8
// (the writer never makes one; an edited file can) was held as such bytes, saved raw,
// and the next load took the whole saved line for GB18030, garbling its other texts.
TEST_F(SettingsFile, EscapesOfBytesThatAreNoUtf8LoadAsLegacyTextAndSaveBackUnchanged) {
  ASSERT_TRUE(Load("名字@http://x/%E4%B8%AD%%feat%D6%D0%CE%C4%24$1\r\n"));
  ASSERT_EQ(settings.m_aVerifySources.size(), 1u);
  // %E4%B8%AD is UTF-8 and stays; %D6%D0%CE%C4 is "中文" in the legacy code page.
  EXPECT_EQ(settings.m_aVerifySources[0], (CVerifySource{"名字", "http://x/中", "feat中文$", 1}));
  EXPECT_TRUE(qb::IsValidUtf8(settings.m_aVerifySources[0].m_sFeature));

  ASSERT_TRUE(data->SaveSettings());
  const std::unique_ptr<DataDir> backDir = Reopen();
  ASSERT_TRUE(backDir->LoadSettings());
  CSettings& back = backDir->Settings();
  EXPECT_EQ(back.m_aVerifySources, settings.m_aVerifySources);
  EXPECT_EQ(FormatSettingsFile(back), FormatSettingsFile(settings));
}

// An escaped blank or control character at an end of a text is trimmed like a plain
// one: the writer leaves the ends unescaped, so it would not survive the next save.
TEST_F(SettingsFile, EscapedBlanksAtTheEndsOfATextAreTrimmed) {
  ASSERT_TRUE(Load("a%0B@http://127.0.0.1/a%20%%%20feat%09$1\r\n"));
  ASSERT_EQ(settings.m_aVerifySources.size(), 1u);
  EXPECT_EQ(settings.m_aVerifySources[0].m_sName, "a");
  EXPECT_EQ(settings.m_aVerifySources[0].m_sFeature, "feat");
  ASSERT_TRUE(data->SaveSettings());
  const std::unique_ptr<DataDir> backDir = Reopen();
  ASSERT_TRUE(backDir->LoadSettings());
  CSettings& back = backDir->Settings();
  EXPECT_EQ(FormatSettingsFile(back), FormatSettingsFile(settings));
}

// A byte-order mark inside the file (a resource whose name began with one) is no part
// of the name: otherwise the name would lose it once saved at the file's start.
TEST_F(SettingsFile, AByteOrderMarkBeforeAResourceNameIsNoPartOfIt) {
  ASSERT_TRUE(Load("本地@http://127.0.0.1/a%feat$1\r\n\xEF\xBB\xBF@ftp://user:pw@127.0.0.1/%230$0\r\n"));
  ASSERT_EQ(settings.m_aVerifySources.size(), 2u);
  EXPECT_EQ(settings.m_aVerifySources[1].m_sName, "");
  ASSERT_TRUE(data->SaveSettings());
  const std::unique_ptr<DataDir> backDir = Reopen();
  ASSERT_TRUE(backDir->LoadSettings());
  CSettings& back = backDir->Settings();
  EXPECT_EQ(FormatSettingsFile(back), FormatSettingsFile(settings));
}

TEST_F(SettingsFile, DollarSignsInLegacyTextsBelongToTheTexts) {
  // A feature imported in the file's own form carries "$1"; older versions wrote it
  // as it was and then cut it at the first "$".
  ASSERT_TRUE(Load("n@http://x/%feat$1$0\r\nprice$@http://y/%f$1\r\n"));
  ASSERT_EQ(settings.m_aVerifySources.size(), 2u);
  EXPECT_EQ(settings.m_aVerifySources[0], (CVerifySource{"n", "http://x/", "feat$1", 0}));
  EXPECT_EQ(settings.m_aVerifySources[1], (CVerifySource{"price$", "http://y/", "f", 1}));
}

TEST_F(SettingsFile, OnlyTimeOutsWithinTheDialogsRangesAreApplied) {
  ASSERT_TRUE(Load("R@http://r/%r$1\r\nm_nConTimeout=15\r\nm_nVerifyTimeout=30\r\n"));
  EXPECT_EQ(g_nConnectTimeoutMs, 15000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 30000);

  SetUp();
  const std::unique_ptr<DataDir> oddDir = Reopen();
  qbtest::WriteFile(Path(), "R@http://r/%r$1\r\nm_nConTimeout=0\r\nm_nVerifyTimeout=31\r\n");
  ASSERT_TRUE(oddDir->LoadSettings());
  CSettings& odd = oddDir->Settings();
  EXPECT_EQ(odd.m_nConTimeout, 0);
  EXPECT_EQ(odd.m_nVerifyTimeout, 31);
  EXPECT_EQ(g_nConnectTimeoutMs, 5000);
  EXPECT_EQ(g_nVerifyTimeoutMs, 30000);
}

TEST_F(SettingsFile, UnreadableFileKeepsTheDefaultsInstallsNothingAndWritesNothing) {
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(Path())));
  const qb::OpResult loaded = data->LoadSettings(&defaultsInstalled);
  EXPECT_EQ(loaded.status, qb::OpStatus::ReadFailed);
  EXPECT_FALSE(defaultsInstalled);
  EXPECT_EQ(loaded.path, Path());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(ReportSettingsLoad(loaded));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开设置文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "初始化");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
  EXPECT_TRUE(settings.m_aVerifySources.empty());
  EXPECT_EQ(settings.m_nThreadNumber, 50);
  EXPECT_TRUE(QDir(QString::fromStdString(Path())).exists());
}

TEST_F(SettingsFile, FirstStartWhereNothingCanBeWrittenStillLoadsTheBuiltInResources) {
  const std::string missing = dir.File("gone/");
  const std::unique_ptr<DataDir> gone = DataDir::Open(missing, DataDir::Access::Read);
  const qb::OpResult loaded = gone->LoadSettings(&defaultsInstalled);
  EXPECT_EQ(loaded.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(loaded.path, missing + "Setting.dat");
  EXPECT_EQ(gone->Settings().m_aVerifySources.size(), 11u);
  EXPECT_TRUE(defaultsInstalled);
  // Both are the window's to say.
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(ReportSettingsLoad(loaded));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "存盘");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);
}

TEST_F(SettingsFile, SettingLinesWithoutResourcesGetTheBuiltInOnesWithTheLoadedValues) {
  ASSERT_TRUE(Load("m_nThreadNumber=77\r\n"));
  EXPECT_TRUE(defaultsInstalled);
  EXPECT_EQ(settings.m_aVerifySources.size(), 11u);
  const auto lines = SplitCrLf(qbtest::ReadFile(Path()));
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[11], "m_nThreadNumber=77");
}

TEST_F(SettingsFile, FailedSaveReportsKeepsTheOldFileAndLeavesNoTemporaryFile) {
  // No such directory: the file cannot even be created.
  const qb::OpResult noDir = DataDir::Open(dir.File("missing/"), DataDir::Access::Read)->SaveSettings();
  EXPECT_EQ(noDir.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(noDir.path, dir.File("missing/Setting.dat"));
  EXPECT_FALSE(ReportSettingsSave(noDir));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "打开文件失败！");
  EXPECT_EQ(prompt.messages[0].caption, "存盘");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Error);

  // The writes themselves fail half-way (a file size limit binds root as well).
  qbtest::WriteFile(Path(), "OLD\r\n");
  InstallDefaultVerifySources(settings);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const qb::OpResult saved = data->SaveSettings();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(saved.status, qb::OpStatus::WriteFailed);
  EXPECT_EQ(saved.path, Path());
  EXPECT_FALSE(ReportSettingsSave(saved));
  EXPECT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(qbtest::ReadFile(Path()), "OLD\r\n");
  EXPECT_EQ(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files), QStringList{"Setting.dat"});

  // And with room again it goes through.
  EXPECT_TRUE(data->SaveSettings());
  EXPECT_EQ(SplitCrLf(qbtest::ReadFile(Path())).size(), 21u);
}

}  // namespace
