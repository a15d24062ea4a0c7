// The main window's commands by name. Each is one action in the window's registry;
// the buttons (which keep their layout ids as object names), the items of the menu
// layouts in res/menus and the keys of the lists are views of it. This file holds what
// binds them: the one table from a layout's command to its action, the keys, and the
// one place that says what a run and a download lock.
//
// The names: verify-all, verify-selected, stop-verify, set-system-proxy,
// cancel-system-proxy, add-proxy, modify-selected, delete-selected, clean, import,
// paste, export-selected, settings, download-sources, add-source, modify-source,
// delete-source, copy-proxy, copy-lines, select-all, about, exit, show-window,
// endpoint-switch, via-endpoint.
#pragma once

#include <QKeySequence>
#include <QString>

#include <utility>
#include <vector>

#include "ui/ActionRegistry.h"
#include "verify/VerifyControl.h"

namespace qb {

class CMainDlg;

// The action a command of the menu layouts (the list's menu and the tray's) stands for;
// empty for an item that is no command: the tray's head, and the favourites, whose
// items carry their rows.
QString ActionOfMenuCommand(int command);

// The keys of the proxy list: Delete, Ctrl+V, Ctrl+A, Ctrl+C, Enter and F5.
std::vector<KeyBinding> ProxyListKeys();
// The keys of the source list: Delete and Enter.
std::vector<KeyBinding> SourceListKeys();
// The keys the list's menu shows beside its items, by the items' actions.
std::vector<std::pair<QString, QKeySequence>> ListMenuKeys();

// Registers every command of the window with its handler.
void AddWindowActions(ActionRegistry& actions, CMainDlg& window);

// Enables what may run while the verification is in state run and a download goes
// on (or not), and disables the rest: a run locks everything that changes the list
// or the settings, and a run and a download exclude each other.
void EnableForState(ActionRegistry& actions, RunState run, bool downloading);
// The action a run's button stands for: its start, or while its own run goes on
// (allButton: the button that verifies all rows), the stop.
QString RunButtonAction(bool allButton, RunState run, bool runVerifiesAll);

}  // namespace qb
