#include "proxy/FileImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "base/Files.h"
#include "base/FixedPool.h"
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

// The lines of one part of a list file: a line in the form the program writes goes to
// own with its five fields, any other line's proxies one by one to other (which says
// whether it took the proxy), and a line that holds none to none.
template <class Own, class Other, class None>
bool ForEachListLine(int fd, const PartPlan& plan, std::size_t i, Own own, Other other, None none) {
  FileLineViews fields;
  std::string decoded, scratch;
  return qb::ForEachLineInRange(fd, plan.Begin(i), plan.End(i), [&](char* data, std::size_t n) {
    std::string_view line(data, n);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!qb::IsValidUtf8(line)) {
      decoded = qb::DecodeLegacyLine(line);
      line = decoded;
    }
    // The program's own lines first: the extractor would cut a remark at its first
    // blank and drop a status longer than nine bytes.
    if (ParseFileLine(line, fields)) {
      own(fields);
      return;
    }
    scratch.assign(line);
    std::size_t found = 0;
    auto add = [&](std::string_view proxy) {
      if (other(proxy)) ++found;
    };
    ScanHostLine(line, add);
    ScanProxies(scratch.data(), scratch.size(), add);
    if (found == 0) none(line);
  });
}

// One part of a list file as the list takes it. A line that holds no proxy at all is
// not dropped unseen when asked for: the caller keeps it.
Part ReadListPart(int fd, const PartPlan& plan, std::size_t i, bool keepRejected) {
  Part part;
  part.failed = !ForEachListLine(
      fd, plan, i,
      // A line of the program's own always has a status: the entry is what NewRow makes.
      [&](const FileLineViews& f) {
        part.rows.AddEntry(std::make_unique<CProxyEntry>(f.addr, f.port, f.type, f.timeStatus, f.remark));
      },
      [&](std::string_view proxy) { return part.rows.AddLine(proxy); },
      [&](std::string_view line) {
        if (keepRejected && !qb::Trim(line).empty()) part.rejected.emplace_back(line);
      });
  return part;
}

// One part of a list file as entries of its own, in order, for a reader without a list.
struct RowsPart {
  bool failed = false;
  std::vector<CProxyEntry> rows;
};

RowsPart ReadRowsPart(int fd, const PartPlan& plan, std::size_t i) {
  RowsPart part;
  // The program writes lines of at least 34 bytes; a few spare rows cost less than a
  // vector grown row by row.
  part.rows.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(plan.partBytes, std::uint64_t{1} << 24) / 32));
  ProxyFields fields;
  part.failed = !ForEachListLine(
      fd, plan, i,
      [&](const FileLineViews& f) { part.rows.emplace_back(f.addr, f.port, f.type, f.timeStatus, f.remark); },
      [&](std::string_view proxy) {
        if (!ParseProxyLine(proxy, fields)) return false;
        part.rows.push_back(std::move(*CProxyListModel::NewRow(fields)));
        return true;
      },
      [](std::string_view) {});
  return part;
}

// Each proxy's first row, in the order read, without a list: the entries in blocks
// that never move, and a table of row numbers (four bytes a slot, at most 70 % full)
// that compares the entries themselves. Ten million rows take their entries and 64 MiB
// of table, where the list holds a pointer and an 8-byte key slot at half load per row
// besides, and tells its views of each. Both are on zeroed pages of their own: most of
// filling them was the system's faults for the pages.
class FirstRows {
 public:
  FirstRows() = default;
  FirstRows(const FirstRows&) = delete;
  FirstRows& operator=(const FirstRows&) = delete;
  ~FirstRows() { Clear(); }

  void Reserve(std::size_t rows) {
    std::size_t capacity = m_capacity == 0 ? 1024 : m_capacity;
    while (rows * 100 > capacity * kLoadPercent) capacity *= 2;
    if (capacity == m_capacity) return;
    if (capacity > std::size_t{1} << 32) throw std::bad_alloc();  // row numbers are 32 bits
    m_table = qb::ZeroedPages(capacity * sizeof(std::uint32_t));
    m_slots = static_cast<std::uint32_t*>(m_table.data());
    m_capacity = capacity;
    m_mask = capacity - 1;
    m_shift = 64 - static_cast<unsigned>(__builtin_ctzll(capacity));
    for (std::size_t i = 0; i < m_size; ++i) {
      std::size_t slot = Home(Row(i).KeyHash());
      while (m_slots[slot] != 0) slot = (slot + 1) & m_mask;
      m_slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }

  // Keeps the entries whose proxy has no row yet, in their order, and drops the rest.
  void Add(std::vector<CProxyEntry>& entries) {
    const std::size_t n = entries.size();
    Reserve(m_size + n);
    // The table is far larger than the cache: each key's slot is fetched a few keys
    // ahead, and the entry its slot names a few keys after that.
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = 0; i < n && i < 2 * kAhead; ++i)
      __builtin_prefetch(&m_slots[Home(entries[i].KeyHash())]);
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 2 * kAhead < n) __builtin_prefetch(&m_slots[Home(entries[i + 2 * kAhead].KeyHash())]);
      if (i + kAhead < n) {
        if (const std::uint32_t at = m_slots[Home(entries[i + kAhead].KeyHash())])
          __builtin_prefetch(&Row(at - 1));
      }
      CProxyEntry& fresh = entries[i];
      const std::uint32_t hash = fresh.KeyHash();
      std::size_t slot = Home(hash);
      bool known = false;
      while (const std::uint32_t at = m_slots[slot]) {
        const CProxyEntry& there = Row(at - 1);
        if (there.KeyHash() == hash && there.SameKey(fresh)) {
          known = true;
          break;
        }
        slot = (slot + 1) & m_mask;
      }
      if (known) continue;
      m_slots[slot] = static_cast<std::uint32_t>(m_size + 1);
      if (m_size % kBlockRows == 0) m_blocks.emplace_back(kBlockRows * sizeof(CProxyEntry));
      ::new (&Row(m_size)) CProxyEntry(std::move(fresh));
      ++m_size;
    }
    entries.clear();
  }

  // The rows keep takes, in order; the table and every block go on the way.
  std::vector<CProxyEntry> Take(const std::function<bool(const CProxyEntry&)>& keep) {
    m_table = {};
    m_slots = nullptr;
    m_capacity = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_size; ++i) kept += keep(Row(i)) ? 1 : 0;
    std::vector<CProxyEntry> rows;
    rows.reserve(kept);
    qb::AskHugePages(rows.data(), kept * sizeof(CProxyEntry));
    for (std::size_t i = 0; i < m_size; ++i) {
      CProxyEntry& e = Row(i);
      if (keep(e)) rows.push_back(std::move(e));
      e.~CProxyEntry();
      if ((i + 1) % kBlockRows == 0) m_blocks[i / kBlockRows] = {};
    }
    m_blocks.clear();
    m_size = 0;
    return rows;
  }

 private:
  // 2 MiB: one huge page.
  static constexpr std::size_t kBlockRows = (std::size_t{2} << 20) / sizeof(CProxyEntry);
  static constexpr unsigned kLoadPercent = 70;
  static constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

  CProxyEntry& Row(std::size_t i) const {
    return static_cast<CProxyEntry*>(m_blocks[i / kBlockRows].data())[i % kBlockRows];
  }
  std::size_t Home(std::uint32_t hash) const { return static_cast<std::size_t>((hash * kGolden) >> m_shift); }
  void Clear() {
    for (std::size_t i = 0; i < m_size; ++i) Row(i).~CProxyEntry();
    m_blocks.clear();
    m_size = 0;
  }

  std::vector<qb::ZeroedPages> m_blocks;
  std::size_t m_size = 0;
  qb::ZeroedPages m_table;
  std::uint32_t* m_slots = nullptr;  // a row's number + 1; 0: free
  std::size_t m_capacity = 0;
  std::size_t m_mask = 0;
  unsigned m_shift = 64;
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

  auto make = [&](std::size_t i) { return ReadListPart(fd, plan, i, rejects != nullptr); };

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

std::optional<std::vector<CProxyEntry>> ReadRowsFromListFd(
    int fd, const std::function<bool(const CProxyEntry&)>& keep, const FileImportOptions& options) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  const PartPlan plan(st, options);
  FirstRows first;
  // The shortest line the program writes ("1.2.3.4:80@HTTP$1.2" and its line end): the
  // table is sized once for the most rows the file can hold, instead of being placed
  // again at each doubling.
  constexpr std::uint64_t kBytesPerRowAtLeast = 34;
  // Capped, so that a huge file of something else reserves no gigabytes.
  constexpr std::uint64_t kMaxReserved = std::uint64_t{1} << 24;
  if (S_ISREG(st.st_mode) && st.st_size > 0)
    first.Reserve(static_cast<std::size_t>(
        std::min(static_cast<std::uint64_t>(st.st_size) / kBytesPerRowAtLeast, kMaxReserved)));
  auto make = [&](std::size_t i) { return ReadRowsPart(fd, plan, i); };
  auto use = [&](std::size_t, RowsPart& part) {
    if (part.failed) return false;
    first.Add(part.rows);
    return true;
  };
  if (!qb::RunInOrder<RowsPart>(plan.parts, plan.threads, 2 * plan.threads, make, use)) return std::nullopt;
  return first.Take(keep);
}

}  // namespace qb
