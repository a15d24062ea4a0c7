// A data directory, a private autostart directory, a desktop proxy store in memory
// and four loopback resources, for the tests of the settings dialog.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

#include "base/ProgramDir.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "sysproxy/SystemProxy.h"
#include "ui/SettingDlg.h"

using namespace qb;

namespace settingdlgtest {

// The control with the given id; fails the test when there is none.
template <class T>
T* Control(QWidget& parent, int id) {
  T* c = parent.findChild<T*>(QString::number(id));
  EXPECT_NE(c, nullptr) << "no control " << id;
  return c;
}

// Where a click ticks the box of a row.
inline QPoint CheckBoxCentre(QTableView* view, int row) {
  const QModelIndex index = view->model()->index(row, 0);
  QStyleOptionViewItem opt;
  opt.initFrom(view->viewport());
  opt.rect = view->visualRect(index);
  opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  opt.text = index.data().toString();
  opt.font = view->font();
  opt.fontMetrics = view->fontMetrics();
  return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, view).center();
}

// Where a click selects a row without touching its box: the middle of its URL cell.
inline QPoint UrlCellCentre(QTableView* view, int row) {
  return view->visualRect(view->model()->index(row, 1)).center();
}

class SettingDialog : public ::testing::Test {
 protected:
  SettingDialog() {
    auto platform = std::make_unique<CRecordingProxyPlatform>();
    recorder = platform.get();
    // proxy.pac and the template lie in the data directory.
    sysProxy = std::make_unique<CSystemProxy>(*dir, std::move(platform));
  }

  void SetUp() override {
    AddVerifySource(settings, "本地甲", "http://127.0.0.1:9/a.html", "Alpha", 1);
    AddVerifySource(settings, "本地乙", "http://127.0.0.1:9/b.html", "Beta", 0);
    AddVerifySource(settings, "本地FTP", "ftp://127.0.0.1:9", "FtpOne", 1);
    AddVerifySource(settings, "备用FTP", "ftp://127.0.0.1:10", "FtpTwo", 0);
    ConnectionProxySettings lan;
    lan.server = "127.0.0.1:3128";
    lan.flags = kProxyTypeDirect | kProxyTypeProxy;
    recorder->stored[""] = lan;
    sysProxy->m_sIEProxy = lan.server;
  }

  void TearDown() override {
    g_nConnectTimeoutMs = savedConnect;
    g_nVerifyTimeoutMs = savedVerify;
  }

  std::unique_ptr<CSettingDlg> Open() {
    auto dlg = std::make_unique<CSettingDlg>(*dir, *sysProxy);
    dlg->SetUrlOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
    return dlg;
  }

  // Shows the dialog as the active window, so that focus moves as it does on screen.
  static void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  }

  static void Click(QWidget& dlg, int id) {
    QAbstractButton* b = Control<QAbstractButton>(dlg, id);
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
  }

  static void SetText(QWidget& dlg, int id, const QString& text) {
    QLineEdit* e = Control<QLineEdit>(dlg, id);
    ASSERT_NE(e, nullptr);
    e->setText(text);
  }

  std::vector<int> Ticks() const {
    std::vector<int> t;
    for (const CVerifySource& v : settings.m_aVerifySources) t.push_back(v.m_bChecked);
    return t;
  }

  std::string AutostartFile() const { return config.File("autostart/Quillberry.desktop"); }
  bool Saved() const { return qbtest::ReadFile(data.File("Setting.dat")) != "<missing>"; }

  qbtest::TempDir data;
  qbtest::TempDir config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  // The settings the dialog shows are the data directory's.
  std::unique_ptr<DataDir> dir = qbtest::OpenTestDir(data.Path());
  CSettings& settings = dir->Settings();
  CRecordingProxyPlatform* recorder = nullptr;
  std::unique_ptr<CSystemProxy> sysProxy;
  std::vector<QUrl> opened;
  int savedConnect = g_nConnectTimeoutMs;
  int savedVerify = g_nVerifyTimeoutMs;
};

}  // namespace settingdlgtest
