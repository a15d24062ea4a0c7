#include "ExtractCheck.h"

#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/ProxyHost.h"
#include "proxy/FileImport.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"

namespace qbfuzz {

namespace {

using Lines = std::vector<std::string>;

std::string Joined(const Lines& lines) {
  std::string s;
  for (const std::string& l : lines) s.append(l).push_back('\n');
  return s;
}

}  // namespace

void CheckExtraction(std::string_view bytes, bool ambiguous) {
  // A whole text, as a paste or a download hands it over.
  Lines whole;
  std::vector<std::uint64_t> keys;
  const std::size_t wholeFound = qb::ExtractWholeText(
      std::string(bytes), ambiguous, [&](std::string_view l, const qb::FoundCredentials*, std::uint64_t key) {
        whole.emplace_back(l);
        keys.push_back(key);
      });
  if (wholeFound != whole.size()) Fail("the count differs from the lines handed over");
  for (std::size_t i = 0; i < whole.size(); ++i) {
    const std::string& line = whole[i];
    // The normal form always carries the four separators, in order.
    const std::size_t colon = line.find(':');
    const std::size_t at = line.find('@', colon);
    const std::size_t dollar = line.find('$', at);
    const std::size_t hash = line.find('#', dollar);
    if (colon == std::string::npos || at == std::string::npos || dollar == std::string::npos ||
        hash == std::string::npos) {
      Fail("a found line is not in the normal form", line);
    }
    qb::ProxyFields f;
    if (!qb::ParseProxyLine(line, f)) Fail("a found line is refused by the parser", line);
    // A dotted address packs; a bracketed IPv6 address is kept as text (key 0).
    if ((keys[i] == 0) != (line.front() == '[') || keys[i] != qb::PackedProxyKey(f))
      Fail("a found line comes with another key", line);
  }
  // The same text as a list: the lines named by host names come in addition, and
  // every line of the page's reading is found in the same order.
  Lines list;
  qb::ExtractWholeText(
      std::string(bytes), ambiguous, [&](std::string_view l) { list.emplace_back(l); }, qb::kNoProxyLimit,
      nullptr, qb::TextKind::List);
  std::size_t next = 0;
  for (const std::string& l : list) {
    if (next < whole.size() && l == whole[next]) {
      ++next;
    } else if (l.front() == '[' || qb::HostKindOf(l.substr(0, l.find(':'))) != qb::HostKind::Name) {
      Fail("reading a list finds an address proxy that the page's reading does not", l);
    }
  }
  if (next != whole.size()) Fail("reading a list loses a proxy that the page's reading finds", Joined(whole));
  if (!ambiguous) {
    std::string text(bytes);
    qb::ExtractProxies(text);
    if (qb::g_aExtractedLines != whole) Fail("ExtractProxies differs from the strict pass", Joined(whole));
  }

  // The same bytes as a file: in memory line by line, read in blocks, and imported in
  // parts on two threads, which must all agree with the plain import.
  Lines inMemory;
  qb::ExtractFileText(bytes, ambiguous, [&](std::string_view l) { inMemory.emplace_back(l); });
  const std::string path = WriteScratchFile("import.txt", bytes);
  Lines fromFile;
  const std::optional<std::size_t> fileFound =
      qb::ExtractFile(path, ambiguous, [&](std::string_view l) { fromFile.emplace_back(l); });
  if (!fileFound || *fileFound != fromFile.size()) Fail("the file read failed or miscounted");
  if (fromFile != inMemory)
    Fail("the file read in blocks differs from the same bytes in memory", Joined(inMemory));

  qb::CProxyListModel plain;
  {
    qb::CProxyListModel::BulkAppend bulk(plain);
    for (const std::string& l : fromFile) plain.AddProxyLine(l, 1);
  }
  for (unsigned threads : {1u, 2u}) {
    qb::CProxyListModel parallel;
    qb::FileImportOptions options;
    options.partBytes = 16;  // a part boundary every few bytes, inside lines and line ends
    options.threads = threads;
    const std::optional<std::size_t> found = qb::AddProxiesFromFile(parallel, path, ambiguous, 1, options);
    if (!found || *found != fromFile.size()) Fail("the import in parts found another number of proxies");
    if (RowsOf(parallel) != RowsOf(plain)) Fail("the import in parts gives other rows than the plain import");
    if (parallel.SelectedRows() != plain.SelectedRows()) Fail("the import in parts selects other rows");
    if (!parallel.KeysMatchRows()) Fail("the key set differs from the rows after the import in parts");
  }
}

}  // namespace qbfuzz
