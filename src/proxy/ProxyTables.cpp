#include "proxy/ProxyTables.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyExtractor.h"

namespace qb {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// A cell's text is kept up to this many bytes: an address, a port or a header name is
// far shorter, and a long cell (a description) must not make a part's pending rows large.
constexpr std::size_t kLongestCellText = 256;

enum class Tag : unsigned char { Other, Table, TableEnd, Section, Row, RowEnd, Cell, HeaderCell, CellEnd };

struct TagAt {
  Tag kind = Tag::Other;
  std::size_t begin = 0;       // the "<"
  std::size_t end = 0;         // after the ">", or the text's end when it is never closed
  std::size_t attributes = 0;  // where the attributes of an opening cell tag begin
};

inline bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What the tag at text[lt] ("<") is; Other for every tag a table's rows do not turn on.
// A tag's name packed into an integer, one lower-case letter a byte, so that it is
// compared in one step (compared as a text from a buffer just written, it stalled on
// the store).
constexpr std::uint64_t PackName(std::string_view s) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    key |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << (8 * i);
  return key;
}

Tag KindOf(std::string_view text, std::size_t lt, std::size_t& nameEnd) {
  std::size_t i = lt + 1;
  const bool closing = i < text.size() && text[i] == '/';
  if (closing) ++i;
  std::uint64_t name = 0;
  std::size_t n = 0;
  while (i < text.size() && IsAsciiLetter(text[i])) {
    if (n == 5) return Tag::Other;  // "table", "thead", "tbody", "tfoot" are the longest
    name |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i++] | 0x20)) << (8 * n++);
  }
  // The name ends at a blank, "/", ">" or the text's end, never at a digit ("<h1>").
  if (n == 0 ||
      (i < text.size() && !IsCSpace(static_cast<unsigned char>(text[i])) && text[i] != '>' && text[i] != '/'))
    return Tag::Other;
  nameEnd = i;
  switch (name) {
    case PackName("td"):
      return closing ? Tag::CellEnd : Tag::Cell;
    case PackName("th"):
      return closing ? Tag::CellEnd : Tag::HeaderCell;
    case PackName("tr"):
      return closing ? Tag::RowEnd : Tag::Row;
    case PackName("table"):
      return closing ? Tag::TableEnd : Tag::Table;
    case PackName("thead"):
    case PackName("tbody"):
    case PackName("tfoot"):
      return Tag::Section;
    default:
      return Tag::Other;
  }
}

// The first ch at or after pos, or npos. In a table the next "<" or ">" is mostly a few
// bytes away, nearer than a call of memchr pays for itself.
inline std::size_t FindByte(std::string_view text, std::size_t pos, char ch) {
  const std::size_t near = std::min(text.size(), pos + 16);
  for (; pos < near; ++pos) {
    if (text[pos] == ch) return pos;
  }
  if (pos >= text.size()) return npos;
  const void* hit = std::memchr(text.data() + pos, ch, text.size() - pos);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : npos;
}

// The next tag of a table's structure at or after pos.
TagAt NextTag(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    const std::size_t lt = FindByte(text, pos, '<');
    if (lt == npos) break;
    std::size_t nameEnd = 0;
    const Tag kind = KindOf(text, lt, nameEnd);
    if (kind == Tag::Other) {
      pos = lt + 1;
      continue;
    }
    const std::size_t gt = FindByte(text, nameEnd, '>');
    return TagAt{kind, lt, gt == npos ? text.size() : gt + 1, nameEnd};
  }
  return TagAt{Tag::Other, text.size(), text.size(), text.size()};
}

// The value of a data-title (or data-label) attribute among a tag's attributes.
std::string_view TitleAttribute(std::string_view attributes) {
  for (const std::string_view name : {std::string_view("data-title"), std::string_view("data-label")}) {
    std::size_t at = 0;
    for (;;) {
      // Case does not matter to attribute names.
      std::size_t k = at;
      for (; k + name.size() <= attributes.size(); ++k) {
        if ((attributes[k] | 0x20) == 'd' && AsciiCaseEqual(attributes.substr(k, name.size()), name)) break;
      }
      if (k + name.size() > attributes.size()) break;
      std::size_t v = k + name.size();
      at = v;
      while (v < attributes.size() && IsCSpace(static_cast<unsigned char>(attributes[v]))) ++v;
      if (v >= attributes.size() || attributes[v] != '=') continue;
      ++v;
      while (v < attributes.size() && IsCSpace(static_cast<unsigned char>(attributes[v]))) ++v;
      if (v >= attributes.size()) return {};
      const char quote = attributes[v];
      if (quote == '"' || quote == '\'') {
        const std::size_t close = attributes.find(quote, v + 1);
        return attributes.substr(v + 1, close == npos ? npos : close - v - 1);
      }
      std::size_t e = v;
      while (e < attributes.size() && !IsCSpace(static_cast<unsigned char>(attributes[e])) &&
             attributes[e] != '>')
        ++e;
      return attributes.substr(v, e - v);
    }
  }
  return {};
}

// Blanks of a cell's edges: ASCII white space, a no-break space and an ideographic space.
std::string_view TrimCell(std::string_view s) {
  for (;;) {
    const std::size_t before = s.size();
    s = Trim(s);
    if (s.size() >= 2 && s.substr(0, 2) == "\xC2\xA0") s.remove_prefix(2);
    if (s.size() >= 2 && s.substr(s.size() - 2) == "\xC2\xA0") s.remove_suffix(2);
    if (s.size() >= 3 && s.substr(0, 3) == "\xE3\x80\x80") s.remove_prefix(3);
    if (s.size() >= 3 && s.substr(s.size() - 3) == "\xE3\x80\x80") s.remove_suffix(3);
    if (s.size() == before) return s;
  }
}

// A cell's text: its content without tags, "&nbsp;" as a blank, trimmed.
void CellText(std::string_view content, std::string& out) {
  out.clear();
  bool plain = true;  // no tag and no entity: a loop, not find_first_of, which calls memchr per byte
  for (const char ch : content) plain = plain && ch != '<' && ch != '&';
  if (plain) {
    content = TrimCell(content);
    out.assign(content.substr(0, kLongestCellText));
    return;
  }
  for (std::size_t i = 0; i < content.size() && out.size() < kLongestCellText;) {
    const char ch = content[i];
    if (ch == '<') {
      const std::size_t gt = content.find('>', i);
      if (gt == npos) break;
      i = gt + 1;
      continue;
    }
    if (ch == '&' && content.compare(i, 6, "&nbsp;") == 0) {
      out.push_back(' ');
      i += 6;
      continue;
    }
    out.push_back(ch);
    ++i;
  }
  const std::string_view trimmed = TrimCell(out);
  if (trimmed.size() != out.size()) out = std::string(trimmed);
}

bool Contains(std::string_view s, std::string_view part) {
  return s.find(part) != npos;
}

// "ip" as a word of its own ("IP", "IP地址", "Proxy IP"), not inside "zip" or "description".
bool HasIpWord(std::string_view s) {
  for (std::size_t at = s.find("ip"); at != npos; at = s.find("ip", at + 1)) {
    const bool before = at > 0 && IsAsciiLetter(s[at - 1]);
    const bool after = at + 2 < s.size() && IsAsciiLetter(s[at + 2]) && s[at + 2] != 'v';
    if (!before && !after) return true;
  }
  return false;
}

// A dotted address of four numbers of up to three digits each, written without leading zeros.
bool DottedAddress(std::string_view s, std::string& out, std::uint32_t& packed) {
  unsigned parts[4];
  bool leadingZero = false;
  std::size_t i = 0;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
    std::size_t digits = 0;
    unsigned v = 0;
    while (i < s.size() && IsDigit(static_cast<unsigned char>(s[i])) && digits < 4) {
      v = v * 10 + static_cast<unsigned>(s[i++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || v > 255) return false;
    leadingZero = leadingZero || (digits > 1 && s[i - digits] == '0');
    parts[k] = v;
  }
  if (i != s.size()) return false;
  packed = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  if (!leadingZero) {
    out.assign(s);
    return true;
  }
  out = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
        std::to_string(parts[3]);
  return true;
}

// A cell that is an address: dotted, or an IPv6 address with or without brackets.
bool AddressCell(std::string_view s, std::string& host, std::uint32_t& packed) {
  if (DottedAddress(s, host, packed)) return true;
  packed = 0;
  if (s.find(':') == npos) return false;
  const std::optional<ProxyHost> h = ParseProxyHost(s);
  if (!h || h->kind != HostKind::Ipv6 || h->text == "[::]") return false;
  host = h->text;
  return true;
}

// A cell that is a port: digits only, 1 to 65535.
bool PortCell(std::string_view s, unsigned& port) {
  if (s.empty() || s.size() > 5) return false;
  unsigned v = 0;
  for (char ch : s) {
    if (!IsDigit(static_cast<unsigned char>(ch))) return false;
    v = v * 10 + static_cast<unsigned>(ch - '0');
  }
  if (v < 1 || v > 65535) return false;
  port = v;
  return true;
}

// A cell that holds nothing but a type's name, for a table without a header.
const char* TypeCell(std::string_view s) {
  static constexpr const char* kNames[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "SOCKS"};
  for (const char* name : kNames) {
    if (AsciiCaseEqual(s, name)) return ProxyTypeNamed(s);
  }
  return nullptr;
}

// A row that names the columns of the rows after it.
std::optional<TableColumns> HeaderOf(const std::vector<TableCell>& cells) {
  // Most rows hold a number in some cell (a port, a count): no header does.
  for (const TableCell& cell : cells) {
    bool number = !cell.text.empty();
    for (const char ch : cell.text)
      number = number && (IsDigit(static_cast<unsigned char>(ch)) || ch == '.' || ch == ':');
    if (number) return std::nullopt;
  }
  TableColumns columns;
  columns.named = true;
  bool address = false, port = false, allHeader = true;
  std::string ignored;
  std::uint32_t packed = 0;
  for (const TableCell& cell : cells) {
    if (AddressCell(cell.text, ignored, packed)) return std::nullopt;
    const TableColumn c = TableColumnNamed(cell.text);
    address = address || c == TableColumn::Address;
    port = port || c == TableColumn::Port;
    allHeader = allHeader && cell.header;
    columns.of.push_back(c);
  }
  // A row of "<th>" cells is a header whatever it names (a table of other things then
  // gives nothing); a single one is a caption over the table. A row of "<td>" cells is
  // one only when it names where the address and the port stand.
  if ((address && port) || (allHeader && cells.size() >= 2)) return columns;
  return std::nullopt;
}

}  // namespace

TableColumn TableColumnNamed(std::string_view header) {
  if (header.empty() || header.size() > 64) return TableColumn::Other;
  std::string s = AsciiLower(TrimCell(header));
  while (!s.empty() && (s.back() == ':' || s.back() == ' ')) s.pop_back();
  if (s.size() >= 3 && s.compare(s.size() - 3, 3, "\xEF\xBC\x9A") == 0) s.resize(s.size() - 3);  // "："
  if (s.empty()) return TableColumn::Other;
  if (Contains(s, "port") || Contains(s, "端口")) return TableColumn::Port;
  if (Contains(s, "type") || Contains(s, "类型") || Contains(s, "protocol") || Contains(s, "协议") ||
      Contains(s, "scheme"))
    return TableColumn::Type;
  if (Contains(s, "anonym") || Contains(s, "匿名") || Contains(s, "level") || Contains(s, "等级"))
    return TableColumn::Anonymity;
  if (Contains(s, "country") || Contains(s, "国家") || Contains(s, "位置") || Contains(s, "location") ||
      Contains(s, "地区") || Contains(s, "region") || Contains(s, "city") || Contains(s, "城市") ||
      Contains(s, "归属") || Contains(s, "地理"))
    return TableColumn::Country;
  if (HasIpWord(s) || Contains(s, "ipv4") || Contains(s, "ipv6") || Contains(s, "host") ||
      Contains(s, "addr") || Contains(s, "地址") || Contains(s, "服务器") || Contains(s, "server"))
    return TableColumn::Address;
  return TableColumn::Other;
}

bool TableRowLine(const std::vector<TableCell>& cells, const TableColumns& columns, TableRow& row) {
  std::size_t address = npos, port = npos, type = npos;
  bool titled = false;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    TableColumn c = cells[i].titled;
    if (c != TableColumn::Other) {
      titled = true;
    } else if (columns.named && i < columns.of.size()) {
      c = columns.of[i];
    }
    if (c == TableColumn::Address && address == npos) address = i;
    if (c == TableColumn::Port && port == npos) port = i;
    if (c == TableColumn::Type && type == npos) type = i;
  }
  std::string& host = row.line;
  std::uint32_t packed = 0;
  unsigned portNumber = 0;
  const char* typeName = "HTTP";
  if (address != npos || columns.named || titled) {
    if (address == npos || port == npos || !AddressCell(cells[address].text, host, packed) ||
        !PortCell(cells[port].text, portNumber))
      return false;
    if (type != npos) {
      const std::string_view t = cells[type].text;
      if (!t.empty() && t != "-") typeName = ProxyTypeNamed(t);
      if (!typeName) return false;
    }
  } else {
    // No names: an address cell with the port in the cell after it.
    for (std::size_t i = 0; i + 1 < cells.size(); ++i) {
      if (AddressCell(cells[i].text, host, packed) && PortCell(cells[i + 1].text, portNumber)) {
        address = i;
        break;
      }
    }
    if (address == npos) return false;
    for (std::size_t i = address + 2; i < cells.size(); ++i) {
      if (const char* t = TypeCell(cells[i].text)) {
        typeName = t;
        break;
      }
    }
  }
  // Ports up to 23 are not web proxies, as in every other reading.
  if (portNumber <= 23 && (std::strcmp(typeName, "HTTP") == 0 || std::strcmp(typeName, "HTTPS") == 0))
    return false;
  // The address is in row.line already.
  char portText[8];
  const int n = std::snprintf(portText, sizeof portText, ":%u@", portNumber);
  row.line.append(portText, static_cast<std::size_t>(n));
  row.line.append(typeName);
  row.line.append("$#");
  row.key = host.front() == '[' ? 0 : PackedProxyKeyOf(packed, portNumber, typeName);
  return true;
}

void ReadTablePart(std::string_view text, std::size_t from, std::size_t to, TablePart& part) {
  bool known = false;  // whether the columns in effect are this stretch's own
  TableColumns columns;
  bool inRow = false, inCell = false;
  std::size_t rowBegin = 0, cellBegin = 0;
  std::vector<TableCell> cells;
  std::size_t cellCount = 0;  // the cells of `cells` in use: their strings keep their room

  auto finishCell = [&](std::size_t end) {
    if (!inCell) return;
    inCell = false;
    CellText(text.substr(cellBegin, end > cellBegin ? end - cellBegin : 0), cells[cellCount - 1].text);
  };
  auto finishRow = [&](std::size_t end) {
    if (!inRow) return;
    finishCell(end);
    inRow = false;
    if (cellCount == 0) return;
    // The cells of longer rows before stay out of this one.
    cells.resize(cellCount);
    cellCount = 0;
    if (std::optional<TableColumns> header = HeaderOf(cells)) {
      columns = std::move(*header);
      known = true;
      part.setsColumns = true;
      part.columns = columns;
    } else if (!known) {
      part.pending.push_back(TablePart::Pending{rowBegin, end, cells});
    } else {
      TableRow row{rowBegin, end, {}, 0};
      if (TableRowLine(cells, columns, row)) part.rows.push_back(std::move(row));
    }
  };

  std::size_t pos = from;
  while (pos < text.size()) {
    const TagAt tag = NextTag(text, pos);
    if (tag.begin >= text.size()) break;
    // On from the tag's name, not its ">": a tag left open ("</td" then "<tr>" on the
    // next line) would hide the tags up to the next ">", and a reading that starts
    // inside it would not know.
    pos = tag.attributes;
    // Past the stretch's end only the row begun in it is finished.
    if (tag.begin >= to && !inRow) break;
    switch (tag.kind) {
      case Tag::Cell:
      case Tag::HeaderCell: {
        if (!inRow) break;
        finishCell(tag.begin);
        if (cellCount == cells.size()) cells.emplace_back();
        TableCell& cell = cells[cellCount++];
        cell.header = tag.kind == Tag::HeaderCell;
        const std::size_t close = tag.end > tag.attributes ? tag.end - 1 : tag.attributes;
        cell.titled = TableColumnNamed(TitleAttribute(text.substr(tag.attributes, close - tag.attributes)));
        inCell = true;
        cellBegin = tag.end;
        break;
      }
      case Tag::CellEnd:
        finishCell(tag.begin);
        break;
      case Tag::Row:
        finishRow(tag.begin);
        if (tag.begin >= to) return;
        inRow = true;
        rowBegin = tag.begin;
        break;
      case Tag::RowEnd:
        // A row end left open ("</tr" and the next row on the line after) ends where
        // the next tag begins, not at a ">" of some tag further on: the rows stay
        // apart, in the order they stand.
        finishRow(std::min(tag.end, FindByte(text, tag.attributes, '<')));
        if (tag.begin >= to) return;
        break;
      case Tag::Table:
      case Tag::TableEnd:
        finishRow(tag.begin);
        if (tag.begin >= to) return;
        columns = TableColumns{};
        known = true;
        part.setsColumns = true;
        part.columns = columns;
        break;
      case Tag::Section:
        finishRow(tag.begin);
        if (tag.begin >= to) return;
        break;
      case Tag::Other:
        break;
    }
  }
  part.rowOpenAtEnd = inRow;
  finishRow(text.size());
}

void TablePart::Clear() {
  pending.clear();
  rows.clear();
  setsColumns = false;
  columns = TableColumns{};
  rowOpenAtEnd = false;
}

void TablePart::Resolve(const TableColumns& atStart) {
  if (pending.empty()) return;
  std::vector<TableRow> all;
  all.reserve(pending.size() + rows.size());
  for (const Pending& p : pending) {
    TableRow row{p.begin, p.end, {}, 0};
    if (TableRowLine(p.cells, atStart, row)) all.push_back(std::move(row));
  }
  pending.clear();
  for (TableRow& r : rows) all.push_back(std::move(r));
  rows = std::move(all);
}

std::vector<TableRow> ReadProxyTables(std::string_view text) {
  TablePart part;
  ReadTablePart(text, 0, text.size(), part);
  // A text begins outside any table: no header is known there.
  part.Resolve(TableColumns{});
  return std::move(part.rows);
}

void CTableStream::FeedLine(std::string_view line) {
  m_text.append(line).push_back('\n');
  if (m_text.size() >= m_readAt) ReadHeld(false);
}

void CTableStream::ReadHeld(bool last) {
  TablePart part;
  ReadTablePart(m_text, 0, m_text.size(), part);
  // A row still open may go on in the lines to come: read again once more are held.
  if (!last && part.rowOpenAtEnd) {
    m_readAt = m_text.size() * 2;
    return;
  }
  part.Resolve(m_columns);
  if (part.setsColumns) m_columns = std::move(part.columns);
  for (TableRow& row : part.rows) {
    row.begin += m_base;
    row.end += m_base;
    m_rows.push_back(std::move(row));
  }
  m_base += m_text.size();
  m_text.clear();
  m_readAt = kHeld;
}

std::vector<TableRow> CTableStream::Finish() {
  ReadHeld(true);
  return std::move(m_rows);
}

void BlankTableRows(std::string& text, const std::vector<TableRow>& rows, std::size_t offset) {
  for (const TableRow& r : rows) {
    if (r.end <= offset) continue;
    const std::size_t b = std::max(r.begin, offset) - offset;
    const std::size_t e = std::min(r.end - offset, text.size());
    if (b < e) std::memset(text.data() + b, ' ', e - b);
  }
}

}  // namespace qb
