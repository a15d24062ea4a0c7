// Menu layouts and toolbar strips kept as text in res/: what a menu holds and which
// image each command shows, readable and editable without a resource compiler.
//
// A menu layout:
//   POPUP "托盘菜单"
//   BEGIN
//       MENUITEM "退出", 32783
//       MENUITEM "取消IE代理", 1011, CHECKED
//       MENUITEM SEPARATOR
//   END
// Options after the command: GRAYED, DISABLED, CHECKED. Texts are UTF-8 in double
// quotes; \" \\ and \t (the accelerator column) are escapes. "#" starts a comment
// line.
//
// A toolbar strip: one button per line, its command and its image file (relative to
// the strip's own file), or SEPARATOR.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// Menu item flags, with the values menus have always used.
inline constexpr unsigned kMenuGrayed = 0x1;
inline constexpr unsigned kMenuDisabled = 0x2;
inline constexpr unsigned kMenuChecked = 0x8;
inline constexpr unsigned kMenuPopup = 0x10;
inline constexpr unsigned kMenuOwnerDraw = 0x100;
inline constexpr unsigned kMenuByPosition = 0x400;
inline constexpr unsigned kMenuSeparator = 0x800;

struct MenuTemplateItem {
  std::string text;
  unsigned flags = 0;
  int command = 0;  // 0 for separators and popups
  std::vector<MenuTemplateItem> children;
};

struct ToolbarTemplate {
  struct Button {
    int command = 0;  // 0: a separator, which has no image
    int image = -1;   // index into images
  };
  std::vector<std::string> images;  // image files, in the strip's order
  std::vector<Button> buttons;
};

// The items of a menu layout, or nothing when the text is not one (error, when given,
// then says which line is wrong).
std::optional<std::vector<MenuTemplateItem>> ParseMenuTemplate(std::string_view text,
                                                               std::string* error = nullptr);
std::optional<ToolbarTemplate> ParseToolbarTemplate(std::string_view text, std::string* error = nullptr);

}  // namespace qb
