#include "app/WindowActions.h"

#include <QClipboard>
#include <QGuiApplication>

#include "app/MainDlg.h"
#include "app/TrayMenu.h"
#include "proxy/ProxyListCommands.h"
#include "proxy/ProxyListModel.h"
#include "ui/AboutDlg.h"

namespace qb {

QString ActionOfMenuCommand(int command) {
  switch (command) {
    // The proxy list's menu (res/menus/139.menu).
    case 32771:
      return QStringLiteral("copy-proxy");
    case 1009:
      return QStringLiteral("set-system-proxy");
    case 1002:
      return QStringLiteral("verify-selected");
    case 1041:
      return QStringLiteral("modify-selected");
    case 1039:
      return QStringLiteral("delete-selected");
    case 32791:
      return QStringLiteral("select-all");
    // The tray's menu (res/menus/156.menu, and the items added when it opens).
    case ID_APP_ABOUT:
      return QStringLiteral("about");
    case ID_TRAY_EXIT:
      return QStringLiteral("exit");
    case ID_TRAY_SHOW:
      return QStringLiteral("show-window");
    case ID_CANCEL_IE_PROXY:
      return QStringLiteral("cancel-system-proxy");
    case ID_ENDPOINT_SWITCH:
      return QStringLiteral("endpoint-switch");
    case ID_VIA_ENDPOINT:
      return QStringLiteral("via-endpoint");
    default:
      return {};
  }
}

namespace {

// Enter as the list has always taken it: the main keyboard's and the keypad's key
// without modifiers.
KeyBinding Enter(const char* action) {
  return {QKeySequence::UnknownKey,
          {QKeyCombination(Qt::Key_Return), QKeyCombination(Qt::Key_Enter)},
          QString::fromLatin1(action)};
}
KeyBinding Standard(QKeySequence::StandardKey key, const char* action) {
  return {key, {}, QString::fromLatin1(action)};
}

}  // namespace

std::vector<KeyBinding> ProxyListKeys() {
  return {Standard(QKeySequence::Delete, "delete-selected"),
          Standard(QKeySequence::Paste, "paste"),
          Standard(QKeySequence::SelectAll, "select-all"),
          // The whole lines of every selected row, which paste brings back as they
          // were; the menu's copy takes the first row's address only.
          Standard(QKeySequence::Copy, "copy-lines"),
          Enter("modify-selected"),
          // Only ever a start: while a run goes on, verify-selected may not run, and
          // the run's button (the stop) is another action.
          {QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_F5)}, QStringLiteral("verify-selected")}};
}

std::vector<KeyBinding> SourceListKeys() {
  return {Standard(QKeySequence::Delete, "delete-source"), Enter("modify-source")};
}

std::vector<std::pair<QString, QKeySequence>> ListMenuKeys() {
  // Ctrl+C stands beside the menu's copy as the list's copy key, though the key takes
  // whole lines.
  return {{QStringLiteral("copy-proxy"), QKeySequence(QKeySequence::Copy)},
          {QStringLiteral("verify-selected"), QKeySequence(Qt::Key_F5)},
          {QStringLiteral("modify-selected"), QKeySequence(Qt::Key_Return)},
          {QStringLiteral("delete-selected"), QKeySequence(QKeySequence::Delete)},
          {QStringLiteral("select-all"), QKeySequence(QKeySequence::SelectAll)}};
}

void AddWindowActions(ActionRegistry& actions, CMainDlg& window) {
  CMainDlg* w = &window;
  actions.Add(QStringLiteral("verify-all"), w, &CMainDlg::OnVerifyAll);
  actions.Add(QStringLiteral("verify-selected"), w, &CMainDlg::OnVerifySelected);
  // A stop that can only stop: pressed twice quickly it never starts a new run.
  actions.Add(QStringLiteral("stop-verify"), w, [w] { w->Verifier().RequestStop(); });
  actions.Add(QStringLiteral("set-system-proxy"), w, &CMainDlg::OnSetIEProxy);
  actions.Add(QStringLiteral("cancel-system-proxy"), w, &CMainDlg::OnCancelIEProxy);
  actions.Add(QStringLiteral("add-proxy"), w, &CMainDlg::OnAddProxy);
  actions.Add(QStringLiteral("modify-selected"), w, &CMainDlg::OnModifySelected);
  actions.Add(QStringLiteral("delete-selected"), w, &CMainDlg::OnDeleteSelected);
  actions.Add(QStringLiteral("clean"), w, &CMainDlg::OnClean);
  actions.Add(QStringLiteral("import"), w, &CMainDlg::OnImport);
  actions.Add(QStringLiteral("paste"), w, &CMainDlg::OnPaste);
  actions.Add(QStringLiteral("export-selected"), w, &CMainDlg::OnExport);
  actions.Add(QStringLiteral("settings"), w, &CMainDlg::OnSettings);
  actions.Add(QStringLiteral("download-sources"), w, &CMainDlg::OnDownloadSources);
  actions.Add(QStringLiteral("add-source"), w, &CMainDlg::OnAddSource);
  actions.Add(QStringLiteral("modify-source"), w, &CMainDlg::OnModifySource);
  actions.Add(QStringLiteral("delete-source"), w, &CMainDlg::OnDeleteSource);
  actions.Add(QStringLiteral("copy-proxy"), w, &CMainDlg::OnCopyProxy);
  actions.Add(QStringLiteral("copy-lines"), w, [w] {
    const CProxyListModel& list = w->Dir().List();
    const std::string text = ProxyLinesText(list, list.SelectedRows());
    if (!text.empty()) QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  });
  actions.Add(QStringLiteral("select-all"), w, &CMainDlg::OnSelectAll);
  actions.Add(QStringLiteral("about"), w, [w] { ShowAboutBox(w); });
  actions.Add(QStringLiteral("exit"), w, &CMainDlg::OnTrayExit);
  actions.Add(QStringLiteral("show-window"), w, &CMainDlg::OnShowDialog);
  actions.Add(QStringLiteral("endpoint-switch"), w, &CMainDlg::OnEndpointSwitch);
  actions.Add(QStringLiteral("via-endpoint"), w, &CMainDlg::OnViaEndpoint);
}

void EnableForState(ActionRegistry& actions, RunState run, bool downloading) {
  const bool idle = run == RunState::Idle;
  // A run's start is refused while anything runs: the button of the run stops it, by
  // the stop action, and only while the run hands out rows.
  actions.SetEnabled({"verify-all", "verify-selected"}, idle && !downloading);
  actions.SetEnabled("stop-verify", run == RunState::Running);
  // The results of a run are written into the list and saved at its end: nothing
  // may change the list or the settings meanwhile.
  actions.SetEnabled(
      {"settings", "add-proxy", "modify-selected", "delete-selected", "clean", "import", "paste"}, idle);
  actions.SetEnabled("download-sources", idle && !downloading);
}

QString RunButtonAction(bool allButton, RunState run, bool runVerifiesAll) {
  if (run != RunState::Idle && allButton == runVerifiesAll) return QStringLiteral("stop-verify");
  return allButton ? QStringLiteral("verify-all") : QStringLiteral("verify-selected");
}

}  // namespace qb
