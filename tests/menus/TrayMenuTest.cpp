#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "MenusTestUtil.h"
#include "app/TrayMenu.h"
#include "base/Text.h"
#include "proxy/ProxyListModel.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"

using namespace qb;

namespace {

using Kind = CRecordingProxyPlatform::CallKind;
using mtest::Texts;

class TrayMenuTest : public mtest::MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    for (int i = 0; i < 7; ++i) {
      ASSERT_EQ(list.AddProxyLine(qb::Format("10.0.0.%d:80%d@HTTP$1.%d#r%d", i, i, i, i), 0), 1);
    }
    auto rec = std::make_unique<CRecordingProxyPlatform>();
    platform = rec.get();
    sys = std::make_unique<CSystemProxy>(qbtest::KeptTestDir(data.Path()),
                                         std::move(rec));  // proxy.pac goes there
  }

  TrayMenuState State(std::string ieProxy = {}, int mode = 0, int running = 0) {
    TrayMenuState s;
    s.list = &list;
    s.ieProxy = std::move(ieProxy);
    s.autoProxyConfig = mode;
    s.runningThreads = running;
    return s;
  }
  // The popup of a freshly built tray menu, kept alive by holder.
  OwnerDrawMenu* Build(const TrayMenuState& state) {
    holder = CreateTrayMenu(state);
    return holder ? holder->GetSubMenu(0) : nullptr;
  }
  std::vector<QAction*> Favorites(OwnerDrawMenu* popup) {
    std::vector<QAction*> out;
    for (QAction* a : popup->actions()) {
      if (popup->CommandOf(a) == ID_FAVORITE_FIRST) out.push_back(a);
    }
    return out;
  }
  ConnectionProxySettings LastLan() const {
    for (auto it = platform->calls.rbegin(); it != platform->calls.rend(); ++it) {
      if (it->kind == Kind::Write && it->connection.empty()) return it->settings;
    }
    ADD_FAILURE() << "the LAN was never written";
    return {};
  }

  qbtest::TempDir data;
  qbtest::ScriptedPrompt prompt;
  CProxyListModel list;
  CRecordingProxyPlatform* platform = nullptr;
  std::unique_ptr<CSystemProxy> sys;
  std::unique_ptr<OwnerDrawMenu> holder;
};

TEST_F(TrayMenuTest, WithoutFavoritesTheLastItemOpensTheWindow) {
  OwnerDrawMenu* popup = Build(State());
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(Texts(*popup), (std::vector<QString>{"关于『Ostrel代理验证』", "<IE: no proxy> 1", "-", "退出",
                                                 "弹出对话框", "-", "取消IE代理", "请选择常用代理（要打勾）",
                                                 "-", "本机端口（未开启）", "经由本机端口"}));
  EXPECT_EQ(popup->CommandOf(popup->actions().at(1)), ID_TRAY_HEAD);
  EXPECT_TRUE(popup->actions().at(1)->icon().isNull());
  EXPECT_EQ(popup->CommandOf(popup->actions().at(7)), ID_TRAY_SHOW);
  EXPECT_FALSE(popup->IsItemChecked(ID_ENDPOINT_SWITCH));
  EXPECT_FALSE(popup->IsItemChecked(ID_VIA_ENDPOINT));
  // No system proxy: "取消IE代理" carries the tick.
  EXPECT_TRUE(popup->IsItemChecked(ID_CANCEL_IE_PROXY));
  EXPECT_TRUE(Favorites(popup).empty());
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(TrayMenuTest, FavoritesFollowFromTheLastTickedRowWithTheirRows) {
  list.SetFavorite(2, true);
  list.SetFavorite(5, true);
  OwnerDrawMenu* popup = Build(State("10.0.0.9:9"));
  const auto fav = Favorites(popup);
  ASSERT_EQ(fav.size(), 2u);
  EXPECT_EQ(popup->actions().indexOf(fav[0]), 7);     // right after "取消IE代理"
  EXPECT_EQ(fav[0]->text(), "10.0.0.5:805 HTTP┇r5");  // with its type
  EXPECT_EQ(fav[0]->data().toInt(), 5);
  EXPECT_EQ(fav[1]->text(), "10.0.0.2:802 HTTP┇r2");
  EXPECT_EQ(fav[1]->data().toInt(), 2);
  EXPECT_NE(popup->actions().last()->text(), "请选择常用代理（要打勾）");
  EXPECT_FALSE(popup->IsItemChecked(ID_CANCEL_IE_PROXY));
  EXPECT_FALSE(fav[0]->isChecked());
  EXPECT_FALSE(fav[1]->isChecked());
}

TEST_F(TrayMenuTest, TheSystemProxysFavoriteIsTicked) {
  list.SetFavorite(1, true);
  list.SetFavorite(3, true);
  ASSERT_EQ(list.AddProxyLine("Proxy.Example:3128@HTTPS$2.0#", 0), 1);
  list.SetFavorite(7, true);
  // As the desktop reports it, in the per-scheme form, in the form SetIEProxy leaves
  // behind, and with the host name in other letter case.
  const struct {
    const char* ieProxy;
    int tickedRow;
    const char* head;
  } cases[] = {
      {"10.0.0.3:803", 3, "<IE: 10.0.0.3:803> 1"},
      {"https=10.0.0.1:801", 1, "<IE: 10.0.0.1:801> 1"},
      {"10.0.0.3:803@HTTP", 3, "<IE: 10.0.0.3:803@HTTP> 1"},
      {"https=proxy.example:3128", 7, "<IE: proxy.example:3128> 1"},
      {"10.0.0.4:804", -1, "<IE: 10.0.0.4:804> 1"},
  };
  for (const auto& c : cases) {
    OwnerDrawMenu* popup = Build(State(c.ieProxy));
    EXPECT_EQ(popup->actions().at(1)->text().toStdString(), c.head);
    for (QAction* a : Favorites(popup)) {
      EXPECT_EQ(a->isChecked(), a->data().toInt() == c.tickedRow)
          << c.ieProxy << " row " << a->data().toInt();
    }
  }
}

TEST_F(TrayMenuTest, RemarksAreCutToEightBytesWithoutBreakingACharacter) {
  const struct {
    const char* remark;
    const char* shown;
  } cases[] = {
      {"!!中国北京市电信", "中国北京"},  // leading "!" go, then 8 bytes
      {"abc中文字", "abc中文"},          // 3 + 2 + 2; the next character would need 2 more
      {"ab中文字", "ab中文字"},          // exactly 8
      {"!", ""},                         // nothing left: no separator either
      {"a&b", "a&&b"},                   // an ampersand is shown, not a shortcut
  };
  for (const auto& c : cases) {
    CProxyListModel one;
    ASSERT_EQ(one.AddProxyLine("1.2.3.4:80@SOCKS5", 0), 1);
    one.SetRemark(0, c.remark);
    one.SetFavorite(0, true);
    TrayMenuState state = State();
    state.list = &one;
    OwnerDrawMenu* popup = Build(state);
    const auto fav = Favorites(popup);
    ASSERT_EQ(fav.size(), 1u);
    const std::string expected = std::string("1.2.3.4:80 SOCKS5") + (*c.shown ? "┇" : "") + c.shown;
    EXPECT_EQ(fav[0]->text().toStdString(), expected) << c.remark;
    EXPECT_TRUE(qb::IsValidUtf8(fav[0]->text().toStdString()));
  }
}

TEST_F(TrayMenuTest, HeadNamesTheModeAndARunningVerification) {
  EXPECT_EQ(TrayHeadText("", 0, 0), "<IE: no proxy> 1");
  EXPECT_EQ(TrayHeadText("", 2, 3), "<IE: no proxy> 3 验证中...");
  EXPECT_EQ(TrayHeadText("", -1, 0), "<IE: no proxy> 3");
  OwnerDrawMenu* popup = Build(State("", 2, 1));
  EXPECT_EQ(popup->actions().at(1)->text(), "<IE: no proxy> 3 验证中...");
}

TEST_F(TrayMenuTest, UnreadableProxySettingsAreReportedAndTheMenuStillShown) {
  TrayMenuState state = State();
  state.queryProxy = [] { return false; };
  holder = std::make_unique<OwnerDrawMenu>();
  ASSERT_TRUE(holder->LoadMenuResource(IDR_TRAYMENU));
  OwnerDrawMenu* popup = holder->GetSubMenu(0);
  EXPECT_FALSE(BuildTrayMenu(*popup, state));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "Query option failed!");
  EXPECT_EQ(prompt.messages[0].caption, "添加菜单项");
  EXPECT_EQ(prompt.messages[0].icon, qb::MsgIcon::Warning);
  // The head and the endpoint's items, but not the fallback item.
  EXPECT_EQ(popup->actions().size(), 10);
  EXPECT_EQ(popup->actions().at(6)->text(), "取消IE代理");

  state.queryProxy = [] { return true; };
  // While the endpoint runs and the desktop goes through it, both its items are ticked.
  state.endpointAddress = "127.0.0.1:8899";
  state.ieProxy = "127.0.0.1:8899@HTTP";
  OwnerDrawMenu* again = Build(state);
  EXPECT_EQ(again->actions().at(7)->text(), "请选择常用代理（要打勾）");
  EXPECT_EQ(again->actions().at(9)->text(), "本机端口 127.0.0.1:8899");
  EXPECT_TRUE(again->IsItemChecked(ID_ENDPOINT_SWITCH));
  EXPECT_TRUE(again->IsItemChecked(ID_VIA_ENDPOINT));
  EXPECT_EQ(prompt.messages.size(), 1u);
}

// --- Commands ----------------------------------------------------------------------

TEST_F(TrayMenuTest, ChoosingAFavoriteSetsItsProxyThenTheStatusLineThenTheIcon) {
  list.SetFavorite(4, true);
  CTrayController tray(list, *sys);
  ASSERT_EQ(tray.m_nTrayIcon, IDR_MAINFRAME);
  std::vector<int> iconWhenStatusAsked;
  QObject::connect(&tray, &CTrayController::statusLineUpdateNeeded,
                   [&] { iconWhenStatusAsked.push_back(tray.m_nTrayIcon); });

  OwnerDrawMenu* popup = tray.ShowTrayMenu(QPoint(30, 30));
  ASSERT_NE(popup, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
  const auto fav = Favorites(popup);
  ASSERT_EQ(fav.size(), 1u);
  QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(fav[0]).center());
  // The command runs once the menu has closed, and the menu is gone afterwards.
  EXPECT_TRUE(platform->CallsOf(Kind::Write).empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !platform->CallsOf(Kind::Write).empty(); }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return tray.OpenMenu() == nullptr; }));

  const ConnectionProxySettings lan = LastLan();
  EXPECT_EQ(lan.server, "10.0.0.4:804");
  EXPECT_EQ(lan.flags, kProxyTypeDirect | kProxyTypeProxy);
  EXPECT_EQ(sys->m_sIEProxy, "10.0.0.4:804@HTTP");
  EXPECT_EQ(iconWhenStatusAsked, std::vector<int>{IDR_MAINFRAME});
  EXPECT_EQ(tray.m_nTrayIcon, IDI_IEPROXY);
  EXPECT_TRUE(list.IsFavorite(4));  // the tick stays as it was
  EXPECT_EQ(list.SelectedCount(), 0);
}

TEST_F(TrayMenuTest, FavoriteRowsBeyondFiveThousandWork) {
  {
    CProxyListModel::BulkAppend bulk(list);
    for (int i = 7; i <= 5001; ++i) {
      ASSERT_EQ(list.AddProxyLine(qb::Format("10.%d.%d.1:8080@HTTP", i / 256, i % 256), 0), 1);
    }
  }
  ASSERT_EQ(list.RowCount(), 5002);
  list.SetFavorite(5001, true);
  CTrayController tray(list, *sys);
  OwnerDrawMenu* popup = Build(tray.MenuState());
  const auto fav = Favorites(popup);
  ASSERT_EQ(fav.size(), 1u);
  EXPECT_EQ(fav[0]->data().toInt(), 5001);
  tray.OnTrayCommand(ID_FAVORITE_FIRST, fav[0]->data());
  EXPECT_EQ(LastLan().server, list.GetProxyLine(5001).substr(0, list.GetProxyLine(5001).find('@')));
}

TEST_F(TrayMenuTest, AFavoriteWhoseRowIsGoneChangesNothing) {
  ASSERT_TRUE(sys->SetIEProxy("10.0.0.1:801@HTTP"));
  platform->calls.clear();
  CTrayController tray(list, *sys);
  QSignalSpy status(&tray, &CTrayController::statusLineUpdateNeeded);
  tray.OnFavoriteProxy(7);
  tray.OnFavoriteProxy(-1);
  EXPECT_TRUE(platform->calls.empty());
  EXPECT_EQ(sys->m_sIEProxy, "10.0.0.1:801@HTTP");
  EXPECT_EQ(status.count(), 0);
  EXPECT_FALSE(SetFavoriteProxy(list, *sys, 99));
}

// A favourite the desktop has no entry for in the direct mode is refused as the
// window's button refuses it: a message, and nothing written.
TEST_F(TrayMenuTest, AGopherFavoriteIsRefusedInTheDirectMode) {
  ASSERT_TRUE(sys->SetIEProxy("10.0.0.1:801@HTTP"));
  ASSERT_EQ(list.AddProxyLine("10.0.0.9:70@GOPHER", 0), 1);
  const int row = list.RowCount() - 1;
  list.SetFavorite(row, true);
  platform->calls.clear();
  CTrayController tray(list, *sys);
  tray.OnFavoriteProxy(row);
  EXPECT_TRUE(platform->CallsOf(Kind::Write).empty());
  EXPECT_EQ(platform->stored[""].server, "10.0.0.1:801");
  EXPECT_EQ(sys->m_sIEProxy, "10.0.0.1:801@HTTP");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text,
            "GOPHER代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。");
  EXPECT_EQ(prompt.messages[0].caption, "设为IE代理");
}

TEST_F(TrayMenuTest, OtherCommandsAndTrayClicks) {
  ASSERT_TRUE(sys->SetIEProxy("10.0.0.1:801@HTTP"));
  CTrayController tray(list, *sys);
  tray.UpdateTrayIcon();
  EXPECT_EQ(tray.m_nTrayIcon, IDI_IEPROXY);
  QSignalSpy show(&tray, &CTrayController::showDialogRequested);
  QSignalSpy about(&tray, &CTrayController::aboutRequested);
  QSignalSpy exit(&tray, &CTrayController::exitRequested);
  QSignalSpy changed(sys.get(), &CSystemProxy::ieProxyChanged);

  tray.OnTrayCommand(ID_TRAY_HEAD, {});
  tray.OnTrayCommand(ID_APP_ABOUT, {});
  tray.OnTrayCommand(ID_TRAY_SHOW, {});
  tray.OnTrayCommand(ID_TRAY_EXIT, {});
  EXPECT_EQ(about.count(), 1);
  EXPECT_EQ(show.count(), 1);
  EXPECT_EQ(exit.count(), 1);

  tray.OnTrayCommand(ID_CANCEL_IE_PROXY, {});
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(LastLan().flags, kProxyTypeDirect);
  EXPECT_TRUE(sys->m_sIEProxy.empty());
  tray.UpdateTrayIcon();
  EXPECT_EQ(tray.m_nTrayIcon, IDR_MAINFRAME);

  tray.OnTrayNotify(QSystemTrayIcon::Trigger);
  tray.OnTrayNotify(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(show.count(), 3);
  tray.OnTrayNotify(QSystemTrayIcon::Context);
  ASSERT_NE(tray.OpenMenu(), nullptr);
  QAction* fallback = tray.OpenMenu()->actions().value(7);  // right after "取消IE代理"
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(fallback->text(), "请选择常用代理（要打勾）");
  // The fallback item opens the window.
  OwnerDrawMenu* popup = tray.OpenMenu();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
  QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(fallback).center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return show.count() == 4; }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return tray.OpenMenu() == nullptr; }));
}

TEST_F(TrayMenuTest, TrayMenuScreenshot) {
  list.SetFavorite(0, true);
  list.SetRemark(3, "!稳定的代理服务器");
  list.SetFavorite(3, true);
  list.SetFavorite(6, true);
  OwnerDrawMenu* popup = Build(State("10.0.0.3:803", 0, 2));
  mtest::ShowMenu(*popup);
  popup->setActiveAction(popup->ItemOfCommand(ID_TRAY_SHOW));
  const QImage shot = mtest::Screenshot(*popup, "tray-menu");
  EXPECT_GT(shot.width(), 100);
  // The ticked favourite without an image gets its check mark in the image column.
  QAction* ticked = nullptr;
  for (QAction* a : Favorites(popup)) {
    if (a->isChecked()) ticked = a;
  }
  ASSERT_NE(ticked, nullptr);
  EXPECT_EQ(ticked->text(), "10.0.0.3:803 HTTP┇稳定的代");
  popup->hide();
}

}  // namespace
