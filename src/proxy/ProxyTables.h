// Reads the proxy tables of an HTML page as rows: a table whose header (a row of
// "<th>" cells, or a row of "<td>" cells naming an address and a port column) or whose
// cells' data-title attributes say which column holds the address, the port and
// optionally the type, in any order, with any other columns beside them. A table
// without such names is read by its content: a row whose cell holds an address and
// whose next cell a port. A table whose header names no address column gives nothing.
//
// The fuzzy pass joins numbers across whatever stands between them, so the last number
// before a table took the first row's address for its port, and a row whose cells were
// read as a whole is no longer lost to the text around it. Rows are found in text
// order; their lines are those of a typed list ("a.b.c.d:port@TYPE$#"), the type from
// the type column as an "@type" text would give it, HTTP without one.
//
// The text is UTF-8 (decoded the way a paste is); tags and attribute names in either
// case, "</td>" and "</tr>" may be missing (the next cell, row or table ends them),
// and tags inside a cell ("<td><span>1.2.3.4</span></td>") are left out of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// What a column holds, as a header cell or a data-title names it.
enum class TableColumn : unsigned char { Other, Address, Port, Type, Anonymity, Country };

// The column a header text names ("IP地址", "Port", "协议", ...); Other for the rest.
TableColumn TableColumnNamed(std::string_view header);

// One cell of a row: its text without tags, trimmed, and the column its data-title names.
struct TableCell {
  std::string text;
  TableColumn titled = TableColumn::Other;
  bool header = false;  // a "<th>" cell
};

// The columns in effect where a row stands: unknown (no header since the table began:
// rows are read by their content), or what the last header row named.
struct TableColumns {
  bool named = false;
  std::vector<TableColumn> of;  // by cell position, when named
};

// A row read from a table: the bytes it covers in the text and its proxy line.
struct TableRow {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string line;
  std::uint64_t key = 0;  // PackedProxyKey of the line; 0 for an IPv6 address
};

// The proxy line and key of a row's cells under the given columns into row; false when
// the row holds no proxy.
bool TableRowLine(const std::vector<TableCell>& cells, const TableColumns& columns, TableRow& row);

// A stretch of text read on its own, for reading a long text in parts on several
// threads. The columns at the stretch's start are not known to it: the rows before
// its first table tag or header row are kept with their cells (pending) and given
// their lines by whoever knows those columns (the part before, in text order).
struct TablePart {
  struct Pending {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::vector<TableCell> cells;
  };
  std::vector<Pending> pending;
  std::vector<TableRow> rows;  // after the pending ones, lines known
  bool setsColumns = false;    // the stretch holds a table tag or a header row...
  TableColumns columns;        // ...and leaves these columns in effect at its end
  bool rowOpenAtEnd = false;   // the text ended inside a row: more text may finish it

  // Empty again, its buffers kept.
  void Clear();
  // The lines of the pending rows under the columns in effect at the stretch's start,
  // before the rows, in text order; the rows' lines stay where they are.
  void Resolve(const TableColumns& atStart);
};

// Reads the rows that begin in text[from, to) (positions are text's, from a line
// start); the text after `to` only finishes a row begun before it. A row that began
// before `from` is the previous stretch's and is skipped.
void ReadTablePart(std::string_view text, std::size_t from, std::size_t to, TablePart& part);

// The rows of a whole text, read as one stretch.
std::vector<TableRow> ReadProxyTables(std::string_view text);

// The rows of a text handed over a line at a time (a file read line by line): what one
// reading of all its lines gives, positions counted from the first line's start. Holds
// only the text since the last place where no row was open.
class CTableStream {
 public:
  // One line, to which a line break is added.
  void FeedLine(std::string_view line);
  // The rows of all lines fed.
  std::vector<TableRow> Finish();

 private:
  void ReadHeld(bool last);

  static constexpr std::size_t kHeld = std::size_t{64} << 10;
  std::string m_text;
  std::size_t m_base = 0;  // where m_text begins in the text fed
  std::size_t m_readAt = kHeld;
  TableColumns m_columns;
  std::vector<TableRow> m_rows;
};

// Blanks the bytes of the rows (sorted, as read) in text, so that the fuzzy pass does
// not read their numbers again; the length does not change.
void BlankTableRows(std::string& text, const std::vector<TableRow>& rows, std::size_t offset = 0);

}  // namespace qb
