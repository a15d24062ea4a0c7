#include "proxy/FileImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/Files.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"

namespace qb {

namespace {

struct Part {
  bool failed = false;
  std::size_t found = 0;
  std::size_t named = 0;
  std::string gathered;
  CProxyListModel::PreparedRows rows;
  FoundCredentialList credentials;
  std::size_t refused = 0;
  std::vector<std::string> rejected;
  std::vector<TableRow> tableRows;  // when the part is the whole file
};

// An open file that lines can be read from (a directory opens, but reads fail).
bool Readable(const qb::UniqueFd& file, struct stat& st) {
  return file.get() >= 0 && ::fstat(file.get(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// How an open file is cut into parts, and how many threads read them.
struct PartPlan {
  std::size_t parts = 1;
  std::uint64_t partBytes = 1;
  std::uint64_t from = 0;
  unsigned threads = 1;

  PartPlan(const struct stat& st, const FileImportOptions& options, std::uint64_t start = 0) : from(start) {
    const std::uint64_t size = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
    const std::uint64_t span = size > from ? size - from : 0;
    partBytes = std::max<std::size_t>(options.partBytes, 1);
    // Only a regular file can be read in parts at their offsets.
    if (S_ISREG(st.st_mode))
      parts = static_cast<std::size_t>(std::max<std::uint64_t>(1, (span + partBytes - 1) / partBytes));
    // Past a few threads the list, which takes the parts one at a time, is the limit.
    constexpr unsigned kMaxThreads = 8;
    threads = qb::ThreadsFor(parts, options.threads, kMaxThreads);
  }
  std::uint64_t Begin(std::size_t i) const { return from + i * partBytes; }
  // The last part reads on to the end, wherever that is by then.
  std::uint64_t End(std::size_t i) const {
    return i + 1 == parts ? kToEndOfFile : from + (i + 1) * partBytes;
  }
};

}  // namespace

std::optional<std::size_t> AddProxiesFromFile(CProxyListModel& list, const std::string& path, bool ambiguous,
                                              int select, const FileImportOptions& options,
                                              FoundCredentialList* credentials, std::size_t* refused) {
  const qb::UniqueFd file = qb::OpenToRead(path);
  struct stat st {};
  if (!Readable(file, st)) return std::nullopt;
  const PartPlan plan(st, options);

  // Parts are read and parsed in any order but added strictly in file order, so that
  // of two equal proxies the first is kept, as with a read from front to back.
  auto make = [&](std::size_t i) {
    Part part;
    Overloaded sink{[&](std::string_view line, const FoundCredentials* c) {
                      part.rows.AddLine(line);
                      if (c && credentials) part.credentials.emplace_back(CredentialsKeyOfLine(line), *c);
                    },
                    [&](ProxyRefused) { ++part.refused; }};
    // One part is the whole file, which may be a pipe: it reads the tables itself.
    auto scan = ScanFileRange(file.get(), plan.Begin(i), plan.End(i), ambiguous, sink, plan.parts == 1);
    if (!scan) {
      part.failed = true;
    } else {
      part.found = scan->found;
      part.named = scan->named;
      part.gathered = std::move(scan->gathered);
      part.tableRows = std::move(scan->tableRows);
    }
    return part;
  };

  CProxyListModel::BulkAppend bulk(list);
  std::size_t found = 0, named = 0;
  std::string fuzzyText;  // the lines for the fuzzy pass, while it can still happen
  std::vector<TableRow> tableRows;
  auto use = [&](std::size_t, Part& part) {
    if (part.failed) return false;
    if (plan.parts == 1) tableRows = std::move(part.tableRows);
    list.AppendPrepared(part.rows, select);
    found += part.found;
    named += part.named;
    if (refused) *refused += part.refused;
    if (credentials)
      credentials->insert(credentials->end(), std::make_move_iterator(part.credentials.begin()),
                          std::make_move_iterator(part.credentials.end()));
    if (ambiguous && found <= kFuzzyPassLimit) fuzzyText.append(part.gathered);
    return true;
  };
  if (!qb::RunInOrder<Part>(plan.parts, plan.threads, 2 * plan.threads, make, use)) return std::nullopt;

  // A table may go on over any number of parts: one pass over the whole file reads them,
  // after every part's lines, as a read from front to back gives them; like the fuzzy
  // pass, only when the strict pass found few.
  if (found > kFuzzyPassLimit) tableRows.clear();
  if (ambiguous && plan.parts > 1 && found <= kFuzzyPassLimit) {
    std::optional<std::vector<TableRow>> rows = ReadFileTables(file.get(), plan.Begin(0));
    if (!rows) return std::nullopt;
    tableRows = std::move(*rows);
  }
  for (const TableRow& row : tableRows) list.AddProxyLine(row.line, select);
  found += tableRows.size();
  if (ambiguous && found <= kFuzzyPassLimit) {
    BlankTableRows(fuzzyText, tableRows);
    found += ScanFuzzy(fuzzyText, [&](std::string_view line) { list.AddProxyLine(line, select); });
  }
  return found + named;
}

std::optional<std::size_t> AddRowsFromListFile(CProxyListModel& list, const std::string& path,
                                               const FileImportOptions& options) {
  const qb::UniqueFd file = qb::OpenToRead(path);
  return AddRowsFromListFd(list, file.get(), 0, options);
}

std::optional<std::size_t> AddRowsFromListFd(CProxyListModel& list, int fd, std::uint64_t from,
                                             const FileImportOptions& options, ListFileRejects* rejects) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  const PartPlan plan(st, options, from);

  auto make = [&](std::size_t i) {
    Part part;
    ProxyFields fields;
    std::string decoded, scratch;
    part.failed = !qb::ForEachLineInRange(fd, plan.Begin(i), plan.End(i), [&](char* data, std::size_t n) {
      std::string_view line(data, n);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!qb::IsValidUtf8(line)) {
        decoded = qb::DecodeLegacyLine(line);
        line = decoded;
      }
      // The program's own lines first: the extractor would cut a remark at its first
      // blank and drop a status longer than nine bytes.
      if (ParseFileLine(line, fields)) {
        part.rows.AddParsed(std::move(fields));
        return;
      }
      scratch.assign(line);
      std::size_t found = 0;
      auto add = [&](std::string_view proxy) {
        if (part.rows.AddLine(proxy)) ++found;
      };
      ScanHostLine(line, add);
      ScanProxies(scratch.data(), scratch.size(), add);
      // A line that holds no proxy at all is not dropped unseen: the caller keeps it.
      if (found == 0 && rejects && !qb::Trim(line).empty()) part.rejected.emplace_back(line);
    });
    return part;
  };

  CProxyListModel::BulkAppend bulk(list);
  std::size_t added = 0;
  auto use = [&](std::size_t, Part& part) {
    if (part.failed) return false;
    added += static_cast<std::size_t>(list.AppendPrepared(part.rows, 0));
    if (rejects) {
      rejects->count += part.rejected.size();
      for (std::string& line : part.rejected) {
        if (rejects->lines.size() >= ListFileRejects::kKeptLines) break;
        rejects->lines.push_back(std::move(line));
      }
    }
    return true;
  };
  if (!qb::RunInOrder<Part>(plan.parts, plan.threads, 2 * plan.threads, make, use)) return std::nullopt;
  return added;
}

}  // namespace qb
