// The proxy table reader over any text: every row it reads is a proxy line in the
// normal form, the rows stand in text order without overlapping, and reading the text
// in stretches cut anywhere, each given its columns by the one before, reads the same
// rows as one reading. The first input byte chooses the cuts; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "base/ProxyHost.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyTables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<qb::TableRow> whole = qb::ReadProxyTables(text);
  std::size_t last = 0;
  for (const qb::TableRow& row : whole) {
    if (row.begin < last || row.end < row.begin || row.end > text.size())
      qbfuzz::Fail("a row lies out of order or outside the text", row.line);
    last = row.end;
    qb::ProxyFields f;
    if (!qb::ParseProxyLine(row.line, f)) qbfuzz::Fail("a row is refused by the parser", row.line);
    const std::optional<qb::ProxyHost> host = qb::ParseProxyHost(f.addr);
    if (!host || host->text != f.addr || host->kind == qb::HostKind::Name)
      qbfuzz::Fail("a row's address is no canonical address", row.line);
    if (f.remark != "" || f.timeStatus != "") qbfuzz::Fail("a row carries a status or a remark", row.line);
    if (row.key != qb::PackedProxyKey(f) || (row.key == 0) != (host->kind == qb::HostKind::Ipv6))
      qbfuzz::Fail("a row comes with another key", row.line);
    const std::string again = f.addr + ":" + f.port + "@" + f.type + "$#";
    if (again != row.line) qbfuzz::Fail("a row is not in the normal form", row.line);
  }

  // Up to three cuts, spread by the first byte.
  const unsigned seed = data[0];
  std::vector<std::size_t> at{0};
  for (unsigned k = 1; k <= 1 + seed % 3; ++k) {
    const std::size_t cut = text.empty() ? 0 : (seed * 2654435761u * k) % (text.size() + 1);
    if (cut > at.back()) at.push_back(cut);
  }
  at.push_back(text.size());
  qb::TableColumns columns;
  std::vector<qb::TableRow> parts;
  for (std::size_t k = 0; k + 1 < at.size(); ++k) {
    qb::TablePart part;
    qb::ReadTablePart(text, at[k], at[k + 1], part);
    part.Resolve(columns);
    if (part.setsColumns) columns = part.columns;
    for (qb::TableRow& r : part.rows) parts.push_back(std::move(r));
  }
  if (parts.size() != whole.size()) qbfuzz::Fail("reading in stretches gives another number of rows");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].line != whole[i].line || parts[i].begin != whole[i].begin || parts[i].end != whole[i].end)
      qbfuzz::Fail("reading in stretches gives other rows", whole[i].line);
  }
  return 0;
}
