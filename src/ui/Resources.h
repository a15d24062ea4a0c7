// The program's built-in resources: icons, menu layouts and toolbar strips compiled
// into the program, addressed by the numbers the windows have always used.
#pragma once

#include <QIcon>
#include <QString>

namespace qb {

// Icons.
inline constexpr int IDR_MAINFRAME = 128;  // the program icon; also the tray icon without a system proxy
inline constexpr int IDI_IEPROXY = 170;    // the tray icon while a system proxy is set
inline constexpr int IDI_HELP = 158;       // the help link's icon

// Menu layouts and their toolbar strips.
inline constexpr int IDR_LISTMENU = 139;  // the proxy list's context menu
inline constexpr int IDR_LISTBAR = 153;
inline constexpr int IDR_TRAYMENU = 156;
inline constexpr int IDR_TRAYBAR = 166;

// The resources live in a static library, whose initialiser the linker would drop
// unless something calls it: every program and test that shows a window calls this
// once, before the first icon or menu is loaded.
void InitResources();

// ":/icons/app.svg" and the like for an icon number; empty for an unknown number.
QString ResourceIconPath(int id);
// The icon of a number; a null icon for an unknown number.
QIcon ResourceIcon(int id);

// ":/menus/139.menu", ":/toolbars/153.toolbar".
QString MenuResourcePath(int id);
QString ToolbarResourcePath(int id);

}  // namespace qb
