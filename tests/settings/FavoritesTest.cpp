#include <gtest/gtest.h>

#include <QSettings>

#include "base/Text.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

std::vector<int> Ticked(const CProxyListModel& list) {
  std::vector<int> rows;
  for (int i = 0; i < list.RowCount(); ++i)
    if (list.IsFavorite(i)) rows.push_back(i);
  return rows;
}

void Fill(CProxyListModel& list, int rows) {
  for (int i = 0; i < rows; ++i) ASSERT_EQ(list.AddProxyLine(qb::Format("10.0.0.%d:80@HTTP", i + 1), 0), 1);
}

TEST(Favorites, TextListsTheTickedRowsAndReadsBackFromTheProfile) {
  qbtest::TempDir config;
  ScopedEnv xdg("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path() + "cfg"));
  CProxyListModel list;
  Fill(list, 9);
  EXPECT_EQ(FavoritesText(list), "");
  for (int row : {0, 3, 7}) list.SetFavorite(row, true);
  EXPECT_EQ(FavoritesText(list), " 0 3 7");

  const std::string ini = config.Path() + "cfg/test_settings.INI";
  EXPECT_EQ(FavoritesProfilePath(), ini);
  ASSERT_TRUE(WriteFavoritesProfile(ini, FavoritesText(list)));
  const std::string text = qbtest::ReadFile(ini);
  EXPECT_NE(text.find("[Quillberry]"), std::string::npos) << text;
  EXPECT_NE(text.find("FavoriteProxies"), std::string::npos) << text;

  CProxyListModel restored;
  Fill(restored, 9);
  ApplyFavoritesText(restored, ReadFavoritesProfile(ini));
  EXPECT_EQ(Ticked(restored), (std::vector<int>{0, 3, 7}));

  // No ticks saved: an empty value, and nothing ticked on the way back.
  CProxyListModel none;
  Fill(none, 9);
  ASSERT_TRUE(WriteFavoritesProfile(ini, FavoritesText(none)));
  CProxyListModel again;
  Fill(again, 9);
  ApplyFavoritesText(again, ReadFavoritesProfile(ini));
  EXPECT_TRUE(Ticked(again).empty());
}

// The profile may be the user's own INI file with other sections: writing the marks
// changes their one line and keeps every other, and the INI reader reads it back.
TEST(Favorites, WritingTheMarksKeepsTheRestOfTheProfile) {
  const std::string old =
      "; my settings\r\n[Other]\r\nFavoriteProxies=5\r\n[Quillberry]\r\nZoom=2\r\nFavoriteProxies= 9\r\n"
      "[Last]\r\nKey=v\r\n";
  EXPECT_EQ(WithFavoritesText(old, " 0 3"),
            "; my settings\r\n[Other]\r\nFavoriteProxies=5\r\n[Quillberry]\r\nZoom=2\r\n"
            "FavoriteProxies=\" 0 3\"\r\n[Last]\r\nKey=v\r\n");
  // A profile without the section gets it at its end; an empty one is made.
  EXPECT_EQ(WithFavoritesText("[Other]\nA=1", " 1"),
            "[Other]\r\nA=1\r\n[Quillberry]\r\nFavoriteProxies=\" 1\"\r\n");
  EXPECT_EQ(WithFavoritesText("", ""), "[Quillberry]\r\nFavoriteProxies=\r\n");
  // A section without the key gets it before the next section.
  EXPECT_EQ(WithFavoritesText("[Quillberry]\r\nZoom=1\r\n[B]\r\n", " 2"),
            "[Quillberry]\r\nZoom=1\r\nFavoriteProxies=\" 2\"\r\n[B]\r\n");

  qbtest::TempDir dir;
  const std::string ini = dir.File("mine.INI");
  qbtest::WriteFile(ini, old);
  ASSERT_TRUE(WriteFavoritesProfile(ini, " 0 3"));
  EXPECT_EQ(ReadFavoritesProfile(ini), " 0 3");
  EXPECT_EQ(
      QSettings(QString::fromStdString(ini), QSettings::IniFormat).value("Other/FavoriteProxies").toString(),
      "5");
}

TEST(Favorites, AHandWrittenProfileIsReadWithTheOldRules) {
  qbtest::TempDir dir;
  const std::string ini = dir.File("old.INI");
  qbtest::WriteFile(ini, "[Other]\r\nFavoriteProxies=5\r\n[Quillberry]\r\nFavoriteProxies= 1 2\r\n");
  CProxyListModel list;
  Fill(list, 6);
  ApplyFavoritesText(list, ReadFavoritesProfile(ini));
  EXPECT_EQ(Ticked(list), (std::vector<int>{1, 2}));
}

TEST(Favorites, ParsingStopsAtADoubleBlankAndReadsNumbersLikeAtoi) {
  struct Case {
    const char* text;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {"  2 5  ", {2, 5}}, {"1  4", {1}}, {"x 3", {0, 3}},   {"99 -1 2", {2}}, {"", {}},
      {"\t3\t", {3}},      {"0\t3", {0}}, {" 4x 1", {1, 4}},
  };
  for (const Case& c : cases) {
    CProxyListModel list;
    Fill(list, 6);
    ApplyFavoritesText(list, c.text);
    EXPECT_EQ(Ticked(list), c.rows) << '"' << c.text << '"';
  }
  // Rows the text does not name keep their tick.
  CProxyListModel list;
  Fill(list, 6);
  list.SetFavorite(5, true);
  ApplyFavoritesText(list, " 1");
  EXPECT_EQ(Ticked(list), (std::vector<int>{1, 5}));
}

class AutoFavorites : public ::testing::Test {
 protected:
  // Rows as a verification run over the whole list leaves them, sorted by time.
  void Add(const char* line, const char* time, bool ticked) {
    ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line;
    const int row = list.RowCount() - 1;
    list.SetTimeStatus(row, time);
    list.SetFavorite(row, ticked);
  }
  CProxyListModel list;
  CSettings settings;
};

TEST_F(AutoFavorites, TheFastestHttpRowsUnderAMinuteBecomeTheFavourites) {
  Add("1.0.0.1:80@HTTP", "0.5", false);                                    // 0 chosen
  Add("1.0.0.2:80@SOCKS5", "0.7", true);                                   // 1 keeps its tick, not counted
  Add("1.0.0.3:80@SOCKS4", "0.8", false);                                  // 2 keeps no tick
  ASSERT_EQ(list.AddParsedProxy({"1.0.0.4", "80", "", "1.0", ""}, 0), 1);  // 3 no type counts as HTTP
  Add("1.0.0.5:80@HTTPS", "2.0", false);                                   // 4 chosen: the third
  Add("1.0.0.6:80@SOCKS5", "3.0", true);  // 5 after the last choice: unticked
  Add("1.0.0.7:80@HTTP", "4.0", true);    // 6 unticked
  Add("1.0.0.8:80@HTTP", "超时", true);   // 7 a status reads as 0
  settings.m_nFavorites = 3;
  ChooseFavorites(list, settings);
  EXPECT_EQ(Ticked(list), (std::vector<int>{0, 1, 3, 4}));
}

TEST_F(AutoFavorites, AProxyFasterThanATwentiethOfASecondIsTimedAndStatusTextsAreNot) {
  Add("1.0.0.1:80@HTTP", "验证异常", true);     // 0 a status, unticked
  Add("1.0.0.2:80@HTTP", "0.0", false);         // 1 the fastest: chosen
  Add("1.0.0.3:80@HTTPS", "密码不匹配", true);  // 2 unticked
  Add("1.0.0.4:80@HTTP", "whatever", true);     // 3 unticked
  Add("1.0.0.5:80@HTTP", "0.1", false);         // 4 chosen
  Add("1.0.0.6:80@HTTP", "0.2", false);         // 5 past the count
  settings.m_nFavorites = 2;
  ChooseFavorites(list, settings);
  EXPECT_EQ(Ticked(list), (std::vector<int>{1, 4}));
}

TEST_F(AutoFavorites, SlowAndFailedRowsAreNeverChosenAndTheSwitchTurnsItOff) {
  Add("1.0.0.1:80@FTP", "0.3", true);
  Add("1.0.0.2:80@HTTP", "59.9", false);
  Add("1.0.0.3:80@HTTP", "60.0", true);
  Add("1.0.0.4:80@HTTP", "75.5", true);
  Add("1.0.0.5:80@HTTP", "连接失败", true);
  settings.m_nFavorites = 15;

  settings.m_bAutoAddToFavorite = 0;
  ChooseFavorites(list, settings);
  EXPECT_EQ(Ticked(list), (std::vector<int>{0, 2, 3, 4}));

  settings.m_bAutoAddToFavorite = 1;
  ChooseFavorites(list, settings);
  EXPECT_EQ(Ticked(list), (std::vector<int>{0, 1}));
}

}  // namespace
