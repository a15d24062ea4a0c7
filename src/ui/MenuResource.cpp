#include "ui/MenuResource.h"

#include <charconv>

#include "base/Text.h"

namespace qb {

namespace {

// A cursor over one line of a layout.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : m_s(line) {}

  void SkipBlanks() {
    while (m_pos < m_s.size() && qb::IsCSpace(static_cast<unsigned char>(m_s[m_pos]))) ++m_pos;
  }
  bool AtEnd() {
    SkipBlanks();
    return m_pos >= m_s.size();
  }
  // A word of letters, digits and underscores (a keyword or a number).
  std::string_view Word() {
    SkipBlanks();
    const std::size_t start = m_pos;
    while (m_pos < m_s.size()) {
      const char c = m_s[m_pos];
      if (!(qb::IsDigit(static_cast<unsigned char>(c)) || c == '_' || (c >= 'A' && c <= 'Z') ||
            (c >= 'a' && c <= 'z') || c == '-')) {
        break;
      }
      ++m_pos;
    }
    return m_s.substr(start, m_pos - start);
  }
  bool Take(char c) {
    SkipBlanks();
    if (m_pos < m_s.size() && m_s[m_pos] == c) {
      ++m_pos;
      return true;
    }
    return false;
  }
  std::optional<std::string> QuotedText() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (m_pos < m_s.size()) {
      const char c = m_s[m_pos++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_pos >= m_s.size()) return std::nullopt;
      const char e = m_s[m_pos++];
      if (e == 't') {
        out += '\t';
      } else if (e == '"' || e == '\\') {
        out += e;
      } else {
        return std::nullopt;
      }
    }
    return std::nullopt;  // no closing quote
  }

 private:
  std::string_view m_s;
  std::size_t m_pos = 0;
};

std::optional<int> ParseNumber(std::string_view s) {
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0 || v > 0xFFFF) return std::nullopt;
  return v;
}

bool IsCommentOrEmpty(std::string_view line) {
  const std::string_view t = qb::Trim(line);
  return t.empty() || t.front() == '#';
}

void SetError(std::string* error, int lineNo, const char* what) {
  if (error) *error = qb::Format("line %d: %s", lineNo, what);
}

}  // namespace

std::optional<std::vector<MenuTemplateItem>> ParseMenuTemplate(std::string_view text, std::string* error) {
  std::vector<MenuTemplateItem> top;
  // The item lists being filled: the top level, then one per open popup.
  std::vector<std::vector<MenuTemplateItem>*> open{&top};
  bool expectBegin = false;
  int lineNo = 0;
  bool ok = true;

  qb::ForEachLine(text, [&](std::string_view line) {
    ++lineNo;
    if (!ok || IsCommentOrEmpty(line)) return;
    LineReader r(line);
    const std::string_view keyword = r.Word();
    if (expectBegin) {
      if ((keyword == "BEGIN" || (keyword.empty() && r.Take('{'))) && r.AtEnd()) {
        expectBegin = false;
        open.push_back(&open.back()->back().children);
        return;
      }
      SetError(error, lineNo, "BEGIN expected after POPUP");
      ok = false;
      return;
    }
    if (keyword == "END" || (keyword.empty() && r.Take('}'))) {
      if (open.size() < 2 || !r.AtEnd()) {
        SetError(error, lineNo, "END without POPUP");
        ok = false;
        return;
      }
      open.pop_back();
      return;
    }
    if (keyword != "POPUP" && keyword != "MENUITEM") {
      SetError(error, lineNo, "POPUP, MENUITEM, BEGIN or END expected");
      ok = false;
      return;
    }

    MenuTemplateItem item;
    if (keyword == "MENUITEM" && r.Word() == "SEPARATOR") {
      item.flags = kMenuSeparator;
      if (!r.AtEnd()) {
        SetError(error, lineNo, "text after SEPARATOR");
        ok = false;
        return;
      }
      open.back()->push_back(std::move(item));
      return;
    }
    LineReader again(line);
    again.Word();
    const auto itemText = again.QuotedText();
    if (!itemText) {
      SetError(error, lineNo, "quoted text expected");
      ok = false;
      return;
    }
    item.text = *itemText;
    if (keyword == "POPUP") {
      item.flags = kMenuPopup;
    } else {
      if (!again.Take(',')) {
        SetError(error, lineNo, "command expected");
        ok = false;
        return;
      }
      const auto command = ParseNumber(again.Word());
      if (!command) {
        SetError(error, lineNo, "command must be a number from 0 to 65535");
        ok = false;
        return;
      }
      item.command = *command;
    }
    while (again.Take(',')) {
      const std::string_view option = again.Word();
      if (option == "GRAYED") {
        item.flags |= kMenuGrayed;
      } else if (option == "DISABLED") {
        item.flags |= kMenuDisabled;
      } else if (option == "CHECKED") {
        item.flags |= kMenuChecked;
      } else {
        SetError(error, lineNo, "unknown option");
        ok = false;
        return;
      }
    }
    if (!again.AtEnd()) {
      SetError(error, lineNo, "unexpected text at the end");
      ok = false;
      return;
    }
    const bool popup = keyword == "POPUP";
    open.back()->push_back(std::move(item));
    expectBegin = popup;
  });

  if (ok && (expectBegin || open.size() != 1)) {
    SetError(error, lineNo, "a POPUP is not closed by END");
    ok = false;
  }
  if (!ok) return std::nullopt;
  return top;
}

std::optional<ToolbarTemplate> ParseToolbarTemplate(std::string_view text, std::string* error) {
  ToolbarTemplate out;
  int lineNo = 0;
  bool ok = true;
  qb::ForEachLine(text, [&](std::string_view line) {
    ++lineNo;
    if (!ok || IsCommentOrEmpty(line)) return;
    const std::string_view t = qb::Trim(line);
    if (t == "SEPARATOR") {
      out.buttons.push_back({0, -1});
      return;
    }
    std::size_t gap = 0;
    while (gap < t.size() && !qb::IsCSpace(static_cast<unsigned char>(t[gap]))) ++gap;
    const auto command = ParseNumber(t.substr(0, gap));
    const std::string_view file = qb::Trim(t.substr(gap));
    if (!command || *command == 0 || file.empty()) {
      SetError(error, lineNo, "a command number and an image file expected");
      ok = false;
      return;
    }
    out.buttons.push_back({*command, static_cast<int>(out.images.size())});
    out.images.emplace_back(file);
  });
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace qb
