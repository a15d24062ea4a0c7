// The interface in English: which language a user gets, and that every text of every
// window, dialog, menu and message box reaches the screen translated and fits.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "base/Language.h"
#include "base/Translate.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"
#include "ui/Messages.h"
#include "ui/OwnerDrawMenu.h"
#include "ui/ProxyInfoDlg.h"
#include "ui/ProxySourceDlg.h"
#include "ui/QtPrompt.h"
#include "ui/SettingDlg.h"
#include "ui/VerifyResultDlg.h"
#include "ui/VerifySourceDlg.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyTask.h"

using namespace qb;

using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

TEST(InterfaceLanguage, TheOptionThenTheSettingThenTheLocaleDecide) {
  const auto none = std::nullopt;
  for (const char* chinese : {"zh-CN", "zh_CN.UTF-8", "zh-TW", "zh-Hant-HK", "zh"})
    EXPECT_EQ(ChooseLanguage(none, none, {chinese}), UiLanguage::Chinese) << chinese;
  for (const QStringList& other : {QStringList{"en-US"}, QStringList{"C"}, QStringList{"de-DE", "zh-CN"},
                                   QStringList{"zhx"}, QStringList{}})
    EXPECT_EQ(ChooseLanguage(none, none, other), UiLanguage::English) << other.join(',').toStdString();

  EXPECT_EQ(ChooseLanguage("en", none, {"zh-CN"}), UiLanguage::English);
  EXPECT_EQ(ChooseLanguage(none, "zh", {"en-GB"}), UiLanguage::Chinese);
  EXPECT_EQ(ChooseLanguage("zh", "en", {"en-GB"}), UiLanguage::Chinese);
  // What is not a language of the interface is passed over, not taken for English.
  EXPECT_EQ(ChooseLanguage("fr", "zh", {"en-GB"}), UiLanguage::Chinese);
  EXPECT_EQ(ChooseLanguage(none, "klingon", {"zh-CN"}), UiLanguage::Chinese);
}

TEST(InterfaceLanguage, TheSettingLivesInTheUsersConfiguration) {
  TempDir config;
  ScopedEnv xdg("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
  EXPECT_EQ(LanguageSetting(), std::nullopt);
  ASSERT_TRUE(SaveLanguageSetting(UiLanguage::English));
  EXPECT_EQ(LanguageSetting(), "en");
  EXPECT_NE(qbtest::ReadFile(config.File("Quillberry/interface.ini")).find("language=en"), std::string::npos);
  ASSERT_TRUE(SaveLanguageSetting(std::nullopt));
  EXPECT_EQ(LanguageSetting(), std::nullopt);
}

bool HasHan(const QString& text) {
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF00 && u <= 0xFFEF))
      return true;
  }
  return false;
}

// Every text a user can read in a tree of widgets, named by where it shows.
struct ShownText {
  QString where;
  QString text;
};

void CollectMenu(const QMenu& menu, const QString& where, std::vector<ShownText>& out) {
  out.push_back({where + " title", menu.title()});
  for (const QAction* a : menu.actions()) {
    out.push_back({where + " item", a->text()});
    if (a->menu()) CollectMenu(*a->menu(), where + " > " + a->text(), out);
  }
}

std::vector<ShownText> CollectTexts(QWidget& root) {
  std::vector<ShownText> out;
  QList<QWidget*> widgets = root.findChildren<QWidget*>();
  widgets.prepend(&root);
  for (QWidget* w : widgets) {
    const QString where = QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
    if (w->isWindow()) out.push_back({where + " title", w->windowTitle()});
    out.push_back({where + " tip", w->toolTip()});
    if (auto* b = qobject_cast<QAbstractButton*>(w)) out.push_back({where, b->text()});
    if (auto* l = qobject_cast<QLabel*>(w)) out.push_back({where, l->text()});
    if (auto* g = qobject_cast<QGroupBox*>(w)) out.push_back({where, g->title()});
    if (auto* m = qobject_cast<QMenu*>(w)) CollectMenu(*m, where, out);
    if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
      const QAbstractItemModel& model = *v->model();
      for (int c = 0; c < model.columnCount(); ++c)
        out.push_back({where + " header", model.headerData(c, Qt::Horizontal).toString()});
    }
  }
  return out;
}

// The single-line texts that would be cut: a control narrower than its text needs.
std::vector<QString> ClippedControls(QWidget& root) {
  std::vector<QString> out;
  for (QWidget* w : root.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&root)) continue;
    const auto* label = qobject_cast<QLabel*>(w);
    const auto* button = qobject_cast<QAbstractButton*>(w);
    // A tool button shows a sign, not a caption.
    if (!(label && !label->wordWrap() && label->pixmap().isNull()) &&
        !(button && !qobject_cast<QToolButton*>(w)))
      continue;
    const QString text = label ? label->text() : button->text();
    if (text.isEmpty() || text.contains('\n')) continue;
    // A push button's hint holds the style's minimum width; what the caption needs is less.
    const auto* push = qobject_cast<const QPushButton*>(w);
    const int needed = push ? ButtonWidthNeeded(*push) : w->sizeHint().width();
    if (needed > w->width() + 1)
      out.push_back(QStringLiteral("\"%1\" needs %2 px, has %3").arg(text).arg(needed).arg(w->width()));
  }
  return out;
}

// A list whose statuses are every word the verification stores, remarks without
// Chinese (a remark is the user's own text, never translated).
std::string ListWithEveryStatus() {
  const char* statuses[] = {kStatusUnverified,       kStatusConnectFailed, kStatusTimeout,   kStatusMismatch,
                            kStatusPasswordMismatch, kStatusUnsupported,   kStatusException, "0.8"};
  std::string out;
  int i = 0;
  for (const char* s : statuses) {
    ++i;
    out += "127.0.0." + std::to_string(i) + ":8080@HTTP$" + s + (i % 2 ? "#office" : "") + "\r\n";
  }
  return out;
}

class EnglishInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(data.File("Proxies.pro"), ListWithEveryStatus());
    WriteFile(data.File("Sources.dat"), "local http://127.0.0.1:9/list.html 1\r\n");
  }
  qbtest::TestWindow OpenWindow() {
    MainDlgOptions o;
    o.windowStateIni = config.File("window.ini");
    o.platform = std::make_unique<CRecordingProxyPlatform>();
    o.applyAutoRun = false;
    o.forceNoTray = true;
    return qbtest::OpenTestWindow(data.Path(), config.File("q.INI"), std::move(o));
  }
  // Expects no Chinese anywhere in the window, and no text cut short.
  void ExpectEnglish(QWidget& w, const char* name) {
    for (const ShownText& t : CollectTexts(w))
      EXPECT_FALSE(HasHan(t.text)) << name << ": " << t.where.toStdString() << ": " << t.text.toStdString();
    for (const QString& clipped : ClippedControls(w)) ADD_FAILURE() << name << ": " << clipped.toStdString();
  }

  TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  CLanguageCatalogues english{UiLanguage::English};
};

TEST_F(EnglishInterface, EveryWindowDialogAndMenuSpeaksEnglishAndFits) {
  ASSERT_TRUE(english.ProgramCatalogueLoaded());
  qbtest::TestWindow window = OpenWindow();
  CMainDlg& dlg = *window;
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  ExpectEnglish(dlg, "main window");
  // The stored statuses show translated, and sort as the stored words do.
  const QAbstractItemModel& model = dlg.Dir().List();
  for (int r = 0; r < model.rowCount(); ++r)
    EXPECT_FALSE(HasHan(model.index(r, CProxyListModel::ColTimeStatus).data().toString())) << r;
  ASSERT_NE(dlg.ContextMenu(), nullptr);
  ExpectEnglish(*dlg.ContextMenu(), "context menu");

  TrayMenuState state;
  state.list = &dlg.Dir().List();
  const std::unique_ptr<OwnerDrawMenu> tray = CreateTrayMenu(state);
  ASSERT_NE(tray, nullptr);
  ExpectEnglish(*tray, "tray menu");

  CSystemProxy sysProxy(dlg.Dir(), std::make_unique<CRecordingProxyPlatform>());
  CSettingDlg settingDlg(dlg.Dir(), sysProxy);
  settingDlg.show();
  ExpectEnglish(settingDlg, "settings");
  CProxyInfoDlg info;
  info.show();
  ExpectEnglish(info, "proxy");
  CProxySourceDlg source;
  source.show();
  ExpectEnglish(source, "proxy source");
  CVerifySourceDlg resource;
  resource.show();
  ExpectEnglish(resource, "verification resource");
  CAboutDlg about;
  about.show();
  ExpectEnglish(about, "about");
  CVerifyResultDlg result;
  result.show();
  ExpectEnglish(result, "verification result");
}

// A message box, composed of the core's texts and a path, and Qt's own buttons.
TEST_F(EnglishInterface, MessageBoxesSpeakEnglish) {
  QtPrompt qtPrompt;
  std::vector<ShownText> texts;
  QTimer::singleShot(0, qApp, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    texts = CollectTexts(*box);
    texts.push_back({"box text", box->text()});
    box->reject();
  });
  qtPrompt.Message(std::string(kMsgOpenFileFailed) + "\n/tmp/lists/Proxies.pro", kCaptionSave, MsgIcon::Error,
                   MsgButtons::YesNo);
  ASSERT_FALSE(texts.empty());
  bool sawText = false;
  for (const ShownText& t : texts) {
    if (t.where == "box text") {
      sawText = true;
      // The path is data, kept as it is.
      EXPECT_EQ(t.text, "Could not open the file!\n/tmp/lists/Proxies.pro");
    } else {
      EXPECT_FALSE(HasHan(t.text)) << t.where.toStdString() << ": " << t.text.toStdString();
    }
  }
  EXPECT_TRUE(sawText);
}

// What the program writes never depends on the language it speaks.
TEST(InterfaceLanguageFiles, AListSavedInEnglishIsTheListSavedInChinese) {
  TempDir chineseDir, englishDir;
  const std::string list = ListWithEveryStatus();
  auto loadAndSave = [&](const TempDir& dir) {
    WriteFile(dir.File("Proxies.pro"), list);
    CProxyListModel model;
    ASSERT_TRUE(qbtest::ReadListFrom(dir.Path(), model).ok());
    model.SetTimeStatus(0, kStatusTimeout);
    model.SetTimeStatus(1, VerifyResultText(VERIFY_MISMATCH, 0));
    ASSERT_TRUE(qbtest::WriteListIn(dir.Path(), model).ok());
  };
  loadAndSave(chineseDir);
  {
    CLanguageCatalogues english(UiLanguage::English);
    ASSERT_TRUE(english.ProgramCatalogueLoaded());
    loadAndSave(englishDir);
  }
  EXPECT_EQ(qbtest::ReadFile(englishDir.File("Proxies.pro")),
            qbtest::ReadFile(chineseDir.File("Proxies.pro")));
  EXPECT_NE(qbtest::ReadFile(englishDir.File("Proxies.pro")).find(kStatusTimeout), std::string::npos);
}

}  // namespace
