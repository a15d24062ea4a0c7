#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/FixedPool.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/PastedText.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyTables.h"
#include "ui/Messages.h"

namespace qb::cli {

namespace {

// The input, held once: a regular file is mapped (its pages are let go as the parts
// are done), anything else is read whole. The parts of a mapped file are read into
// memory of their own: on a virtual machine the faults that map a file's pages cost
// more than copying the bytes, and the mapping then only serves the few look-ups
// around the parts' boundaries.
class InputText {
 public:
  InputText() = default;
  ~InputText() {
    if (m_map) ::munmap(m_map, m_mapBytes);
    if (m_fd >= 0) ::close(m_fd);
  }
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;

  // False when fd cannot be read (a directory, a read error).
  bool Load(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
      // Standard input may have been read from already: it starts where it stands.
      const off_t at = ::lseek(fd, 0, SEEK_CUR);
      const std::size_t size = static_cast<std::size_t>(st.st_size);
      void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        m_map = map;
        m_mapBytes = size;
        const std::size_t skip = at > 0 ? std::min(size, static_cast<std::size_t>(at)) : 0;
        m_text = std::string_view(static_cast<const char*>(map) + skip, size - skip);
        m_textOffset = skip;
        m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        return true;
      }
    }
    char block[1 << 16];
    for (;;) {
      const ssize_t n = ::read(fd, block, sizeof block);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      m_owned.append(block, static_cast<std::size_t>(n));
    }
    m_text = m_owned;
    return true;
  }

  std::string_view Text() const { return m_text; }
  // The mapped file and where the text begins in it; -1 when the text is not a file's.
  int Fd() const { return m_fd; }
  std::uint64_t TextOffset() const { return m_textOffset; }

  // Text()[offset, offset + length) read into buffer, which is grown as needed; an
  // empty view when the text is not a file's or the read comes up short (the caller
  // then reads the text itself).
  struct Buffer {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
  };
  std::string_view Read(std::size_t offset, std::size_t length, Buffer& buffer) const {
    if (m_fd < 0) return {};
    if (buffer.capacity < length) {
      // With room to spare: the parts differ in length by their last lines.
      buffer.capacity = length + length / 4;
      buffer.bytes.reset(new char[buffer.capacity]);
    }
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(m_fd, buffer.bytes.get() + done, length - done,
                                static_cast<off_t>(m_textOffset + offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return {};
      done += static_cast<std::size_t>(n);
    }
    return {buffer.bytes.get(), length};
  }

  // Whether the text holds one of the end tags that make it markup. A mapped file is
  // searched in blocks read with pread: a page of the mapping costs this virtual
  // machine more to touch the first time than to copy, and a text without an end tag
  // (a plain list) is searched to its end.
  bool HasMarkupEndTag() const {
    if (m_fd < 0) return qb::HasMarkupEndTag(m_text);
    // A tag ("</" and at most five letters and ">") that straddles two blocks is found
    // whole in the second, which begins that much before the first ends.
    constexpr std::size_t kBlock = std::size_t{1} << 20, kOverlap = 7;
    Buffer block;
    for (std::size_t at = 0; at < m_text.size(); at += kBlock - kOverlap) {
      const std::size_t length = std::min(kBlock, m_text.size() - at);
      const std::string_view bytes = Read(at, length, block);
      if (bytes.size() != length) return qb::HasMarkupEndTag(m_text.substr(at));
      if (qb::HasMarkupEndTag(bytes)) return true;
      if (at + length == m_text.size()) break;
    }
    return false;
  }

  // The text before offset will not be read again soon: a mapped file's pages there
  // leave this process (they stay in the page cache).
  void Release(std::size_t offset) {
    if (!m_map) return;
    const std::size_t base = static_cast<std::size_t>(m_text.data() - static_cast<const char*>(m_map));
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t upTo = (base + std::min(offset, m_text.size())) / page * page;
    if (upTo > 0) ::madvise(m_map, upTo, MADV_DONTNEED);
  }

 private:
  void* m_map = nullptr;
  std::size_t m_mapBytes = 0;
  int m_fd = -1;                 // the mapped file, for reading its parts
  std::size_t m_textOffset = 0;  // where the text begins in it
  std::string m_owned;
  std::string_view m_text;
};

// Words on zeroed pages of their own (ZeroedPages): a fresh table is never cleared by
// hand, and its pages are asked to be huge.
class ZeroedWords {
 public:
  ZeroedWords() = default;
  explicit ZeroedWords(std::size_t count) : m_pages(count * sizeof(std::uint64_t)), m_count(count) {}

  std::uint64_t& operator[](std::size_t i) { return Words()[i]; }
  const std::uint64_t& operator[](std::size_t i) const { return Words()[i]; }
  std::size_t size() const { return m_count; }
  const std::uint64_t* begin() const { return Words(); }
  const std::uint64_t* end() const { return Words() + m_count; }

 private:
  std::uint64_t* Words() const { return static_cast<std::uint64_t*>(m_pages.data()); }
  qb::ZeroedPages m_pages;
  std::size_t m_count = 0;
};

// The packed keys seen so far: open addressing over one array of words, at most 70 %
// full, so that a look-up is one miss in memory most of the time and the whole set
// goes with a single free.
class PackedKeySet {
 public:
  PackedKeySet() : m_slots(std::size_t{1} << kFirstBits), m_shift(64 - kFirstBits) {}
  // A table far larger than the cache makes every insertion a miss: asking for the
  // slots of the keys ahead lets those misses overlap.
  void Prefetch(std::uint64_t key) const { __builtin_prefetch(&m_slots[Home(key)], 1); }
  // False when the key was there already.
  bool Insert(std::uint64_t key) {
    if (Full(m_size + 1, m_slots.size())) Grow(m_slots.size() * 2);
    std::size_t i = Home(key);
    const std::size_t mask = m_slots.size() - 1;
    while (m_slots[i] != 0) {
      if (m_slots[i] == key) return false;
      i = (i + 1) & mask;
    }
    m_slots[i] = key;
    ++m_size;
    return true;
  }
  std::size_t size() const { return m_size; }
  // Room for `keys` keys at once, in at most maxBytes: every doubling on the way would
  // take fresh pages from the system, each cleared, and move every key again.
  void Reserve(std::size_t keys, std::size_t maxBytes) {
    std::size_t words = m_slots.size();
    while (Full(keys, words) && words * 2 * sizeof(std::uint64_t) <= maxBytes) words *= 2;
    if (words > m_slots.size()) Grow(words);
  }

 private:
  // 512 words: one page to start with, for the many inputs that hold a few proxies.
  static constexpr unsigned kFirstBits = 9;

  // At most seven keys in ten slots: a probe that misses its home goes on within the
  // same cache line most of the time, and a list of millions of proxies fits a table
  // half the size that a half-full one would need.
  static bool Full(std::size_t keys, std::size_t words) { return keys * 10 > words * 7; }

  std::size_t Home(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> m_shift);
  }
  void Grow(std::size_t words) {
    ZeroedWords old(words);
    std::swap(old, m_slots);
    m_shift = 64 - static_cast<unsigned>(__builtin_ctzll(words));
    const std::size_t mask = m_slots.size() - 1;
    for (std::uint64_t key : old) {
      if (key == 0) continue;
      std::size_t i = Home(key);
      while (m_slots[i] != 0) i = (i + 1) & mask;
      m_slots[i] = key;
    }
  }
  ZeroedWords m_slots;
  unsigned m_shift;
  std::size_t m_size = 0;
};

// What one part found, ready for the calling thread to take in order.
struct FoundPart {
  struct Item {
    std::uint64_t key;   // 0: the key text is in otherKeys
    std::size_t end;     // the line is lines[previous end, end)
    std::int32_t logOn;  // index into logOns, or -1
    bool accepted;       // passes the type and working filters
  };
  std::size_t found = 0;
  std::size_t refused = 0;
  std::string lines;
  std::vector<Item> items;
  std::vector<std::string> otherKeys;
  std::vector<FoundCredentials> logOns;

  // Empty again, its buffers kept.
  void Clear() {
    found = refused = 0;
    lines.clear();
    items.clear();
    otherKeys.clear();
    logOns.clear();
  }
};

// The parts' buffers go round between the threads that fill them and the one that
// takes them: a buffer of megabytes freed and asked for again would come back as
// fresh pages, each paid for with a fault.
class FoundPartPool {
 public:
  FoundPart Take() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_free.empty()) return {};
    FoundPart part = std::move(m_free.back());
    m_free.pop_back();
    return part;
  }
  void Give(FoundPart&& part) {
    part.Clear();
    std::lock_guard<std::mutex> g(m_lock);
    m_free.push_back(std::move(part));
  }

 private:
  std::mutex m_lock;
  std::vector<FoundPart> m_free;
};

}  // namespace

int RunExtract(const QStringList& args, const std::string& /*dataDir*/) {
  if (WantsHelp(args)) {
    Out(Help(
        QT_TRANSLATE_NOOP("QuillberryHelp",
                          "Usage: quillberry-cli extract [--fuzzy] [FILE]\n"
                          "       quillberry-cli extract [--fuzzy] [--format FORMAT] [--type TYPE]\n"
                          "                              [--working] [FILE]\n"
                          "\n"
                          "Finds the proxies in FILE, or in standard input when FILE is missing or '-',\n"
                          "read as one text the way a paste is, and prints each proxy line that would be\n"
                          "added to an empty list, one per line, in the order found.\n"
                          "\n"
                          "--fuzzy          also find addresses and ports separated by blanks or markup\n"
                          "                 instead of ':' (runs when the strict pass found at most 200\n"
                          "                 proxies)\n"
                          "--format FORMAT  line (the proxy lines, the default), url (type://address:port),\n"
                          "                 csv (address,port,type,status,remark with a header; CR LF)\n"
                          "                 or json (an array of objects with those keys)\n"
                          "--type TYPE      only the proxies of one type (HTTP, HTTPS, SOCKS4, SOCKS5, FTP,\n"
                          "                 GOPHER)\n"
                          "--working        only the proxies whose status is a measured time\n"
                          "--credentials    with url, csv or json: also the user name and password that\n"
                          "                 came with a proxy (never unless asked)\n"
                          "\n"
                          "Exit status 0, also when nothing was found (a message then goes to standard\n"
                          "error); 2 for a bad option or format or a file that cannot be read.")));
    Out("\n" + Help(kStateHelp));
    return kExitOk;
  }

  bool fuzzy = false;
  QString file;
  bool haveFile = false;
  qb::ExportOptions output;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const OutputOption taken = TakeOutputOption("extract", args, i, output);
    if (taken == OutputOption::Bad) return kExitUsage;
    if (taken == OutputOption::Taken) continue;
    if (a == "--fuzzy") {
      fuzzy = true;
    } else if (a.startsWith("-") && a != "-") {
      Err("extract: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli extract --help' for usage.");
      return kExitUsage;
    } else if (haveFile) {
      Err("extract: only one FILE may be given");
      return kExitUsage;
    } else {
      file = a;
      haveFile = true;
    }
  }

  InputText input;
  {
    const bool fromFile = haveFile && file != "-";
    const std::string path = fromFile ? file.toStdString() : std::string();
    const int fd = fromFile ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : 0;
    const bool loaded = fd >= 0 && input.Load(fd);
    if (fromFile && fd >= 0) ::close(fd);
    if (!loaded) {
      Err(fromFile ? "extract: cannot read " + path : std::string("extract: cannot read standard input"));
      return kExitUsage;
    }
  }
  const std::string_view text = input.Text();

  // The log-ons that came with the proxies, for the formats that carry them.
  CProxyCredentialStore logOns;
  const bool keepLogOns = output.includeCredentials && output.format != qb::ExportFormat::Lines;
  output.credentials = [&logOns](const CProxyEntry& e) { return logOns.Find(e); };
  // Only the proxy lines are filtered here; the other formats' rows are filtered as
  // they are written.
  const bool filtered =
      output.format == qb::ExportFormat::Lines && (!output.type.empty() || output.workingOnly);
  qb::CListExporter exporter(output);
  std::string out;
  exporter.AppendBegin(out);

  // What AddProxyLine would add to an empty list: valid lines, each key once.
  PackedKeySet keys;
  std::unordered_set<std::string> otherKeys;  // keys that do not pack (never from the extractor)
  std::size_t refused = 0;
  ProxyFields f;
  auto take = [&](std::string_view line, std::uint64_t key, std::string&& otherKey, bool accepted,
                  const FoundCredentials* c) {
    if (c && keepLogOns) logOns.Set(CredentialsKeyOfLine(line), *c);
    if (key != 0 ? !keys.Insert(key) : !otherKeys.insert(std::move(otherKey)).second) return;
    // Proxy lines are printed as found, which is what scripts have always read.
    if (output.format == qb::ExportFormat::Lines) {
      if (accepted) out.append(line).push_back('\n');
    } else if (ParseProxyLine(line, f)) {
      exporter.AppendRow(out, CProxyEntry(f.addr, f.port, f.type, f.timeStatus, f.remark));
    }
    if (out.size() >= (std::size_t{1} << 20)) {
      OutRaw(out);
      out.clear();
    }
  };
  auto accepts = [&](const ProxyFields& g) {
    return !filtered || exporter.Accepts(CProxyEntry(g.addr, g.port, g.type, g.timeStatus, g.remark));
  };

  // The strict pass over the whole text, in parts on every processor; the parts are
  // taken in text order, so that of two equal proxies the first is kept. Parts of a
  // quarter megabyte keep every buffer a part passes through small and warm in the
  // cache: larger parts made the threads touch fresh pages, each a fault, for most of
  // the time they saved on hand-overs.
  const CPastedTextParts parts(text, std::size_t{256} << 10, input.HasMarkupEndTag(), input.Fd(),
                               input.TextOffset());
  FoundPartPool pool;
  input.Release(text.size());  // the plan read around the start of every part
  auto make = [&](std::size_t i) {
    thread_local std::string buffer;
    thread_local InputText::Buffer bytes;
    FoundPart part = pool.Take();
    ProxyFields g;
    Overloaded sink{[&](std::string_view line, const FoundCredentials* c, std::uint64_t key) {
                      // Unless the fields are filtered, the line needs no splitting into
                      // fields: the scanner hands its key along.
                      FoundPart::Item item{filtered ? 0 : key, 0, -1, true};
                      if (item.key == 0) {
                        if (!ParseProxyLine(line, g)) return;
                        item.key = PackedProxyKey(g);
                        item.accepted = accepts(g);
                        if (item.key == 0) part.otherKeys.push_back(ProxyKey(g.addr, g.port, g.type));
                      }
                      if (c && keepLogOns) {
                        item.logOn = static_cast<std::int32_t>(part.logOns.size());
                        part.logOns.push_back(*c);
                      }
                      part.lines.append(line);
                      item.end = part.lines.size();
                      part.items.push_back(item);
                    },
                    [&](ProxyRefused) { ++part.refused; }};
    const auto [first, second] = parts.Span(i);
    const std::string_view span = input.Read(first, second - first, bytes);
    part.found =
        span.size() == second - first ? parts.Scan(i, span, buffer, sink) : parts.Scan(i, buffer, sink);
    return part;
  };
  std::size_t found = 0;
  auto use = [&](std::size_t i, FoundPart& part) {
    found += part.found;
    refused += part.refused;
    std::size_t begin = 0;
    std::size_t other = 0;
    constexpr std::size_t kAhead = 8;
    const std::size_t n = part.items.size();
    for (std::size_t k = 0; k < n && k < kAhead; ++k) keys.Prefetch(part.items[k].key);
    for (std::size_t k = 0; k < n; ++k) {
      if (k + kAhead < n) keys.Prefetch(part.items[k + kAhead].key);
      const FoundPart::Item& item = part.items[k];
      const std::string_view line(part.lines.data() + begin, item.end - begin);
      begin = item.end;
      take(line, item.key, item.key == 0 ? std::move(part.otherKeys[other++]) : std::string(), item.accepted,
           item.logOn >= 0 ? &part.logOns[static_cast<std::size_t>(item.logOn)] : nullptr);
    }
    input.Release(parts.ReadFrom(i + 1));
    pool.Give(std::move(part));
    // Once a sixteenth of the text is read, the keys so far tell how many the whole
    // text will hold, and the table takes that size at once; never more than half the
    // text's bytes, so that a text whose proxies all stand at its start cannot make it
    // huge.
    const std::size_t done = parts.Span(i).second;
    if (done >= text.size() / 16 && done < text.size()) {
      const double share = static_cast<double>(text.size()) / static_cast<double>(done);
      keys.Reserve(static_cast<std::size_t>(static_cast<double>(keys.size()) * share), text.size() / 2);
    }
    return true;
  };
  const unsigned threads = qb::ThreadsFor(parts.size(), 0, 8);
  // Parts are small: a few megabytes of found lines ahead let the makers go on through
  // the moments the calling thread is not running.
  qb::RunInOrder<FoundPart>(parts.size(), threads, 8 * threads, make, use);

  // With --fuzzy, when the strict pass found few, the proxy tables come next, read in
  // the strict pass's parts: each part
  // reads the rows that begin in it and finishes its last one from the text after it;
  // the rows before its first table or header row are given their columns here, in
  // text order, from the part before.
  std::vector<qb::TableRow> tableRows;  // in the decoded text, while the fuzzy pass may still run
  if (fuzzy && found <= kFuzzyPassLimit) {
    struct TableSlice {
      qb::TablePart part;
      std::size_t decodedLength = 0;  // of the part itself, without the text read after it
      // What take() needs of the last rows of part.rows, worked out on the part's thread.
      struct Item {
        std::uint64_t key;
        bool accepted;
        std::string otherKey;
      };
      std::vector<Item> items;
    };
    ProxyFields tableFields;
    auto itemOf = [&](const qb::TableRow& row, ProxyFields& g) {
      // The row comes with its key; only a filter or an IPv6 address needs its fields.
      TableSlice::Item item{row.key, true, {}};
      if (row.key != 0 && !filtered) return item;
      if (!ParseProxyLine(row.line, g)) return TableSlice::Item{0, false, {}};
      item.accepted = accepts(g);
      if (item.key == 0) item.otherKey = ProxyKey(g.addr, g.port, g.type);
      return item;
    };
    auto makeTables = [&](std::size_t i) {
      thread_local InputText::Buffer bytes;
      thread_local std::string decoded;
      TableSlice slice;
      const std::size_t begin = i == 0 ? 0 : parts.Span(i - 1).second;
      const std::size_t end = parts.Span(i).second;
      // A row rarely runs far past the part's end; a longer one is read again with more.
      for (std::size_t after = std::size_t{64} << 10;; after *= 4) {
        std::size_t until = std::min(text.size(), end + after);
        std::string_view span = input.Read(begin, until - begin, bytes);
        if (span.size() != until - begin) span = text.substr(begin, until - begin);
        if (until < text.size()) {
          // Decoding needs whole lines.
          const std::size_t nl = span.rfind('\n');
          if (nl == std::string_view::npos || nl < end - begin) continue;
          until = begin + nl + 1;
          span = span.substr(0, nl + 1);
        }
        decoded.clear();
        AppendPastedText(span, 0, end - begin, decoded);
        slice.decodedLength = decoded.size();
        AppendPastedText(span, end - begin, span.size(), decoded);
        slice.part.Clear();
        qb::ReadTablePart(decoded, 0, slice.decodedLength, slice.part);
        if (!slice.part.rowOpenAtEnd || until == text.size()) break;
      }
      ProxyFields g;
      slice.items.reserve(slice.part.rows.size());
      for (const qb::TableRow& row : slice.part.rows) slice.items.push_back(itemOf(row, g));
      return slice;
    };
    qb::TableColumns columns;  // the text begins outside any table
    std::size_t decodedAt = 0;
    std::size_t rowsFound = 0;
    auto useTables = [&](std::size_t, TableSlice& slice) {
      const std::size_t resolvedBefore = slice.part.rows.size();
      slice.part.Resolve(columns);
      if (slice.part.setsColumns) columns = std::move(slice.part.columns);
      // The rows that were pending stand first.
      const std::size_t pending = slice.part.rows.size() - resolvedBefore;
      for (std::size_t k = 0; k < slice.part.rows.size(); ++k) {
        qb::TableRow& row = slice.part.rows[k];
        TableSlice::Item item = k < pending ? itemOf(row, tableFields) : std::move(slice.items[k - pending]);
        if (item.key == 0 && item.otherKey.empty()) continue;
        take(row.line, item.key, std::move(item.otherKey), item.accepted, nullptr);
        ++rowsFound;
        if (found + rowsFound <= kFuzzyPassLimit) {
          row.begin += decodedAt;
          row.end += decodedAt;
          tableRows.push_back(std::move(row));
        }
      }
      decodedAt += slice.decodedLength;
      return true;
    };
    qb::RunInOrder<TableSlice>(parts.size(), threads, 4 * threads, makeTables, useTables);
    found += rowsFound;
    input.Release(text.size());
  }

  // The fuzzy pass reads the text as the strict pass left it, which only a strict pass
  // over the whole text makes again, less the rows read from tables; it runs for few
  // proxies only.
  if (fuzzy && found <= kFuzzyPassLimit) {
    std::string whole;
    AppendPastedText(text, 0, text.size(), whole);
    ScanProxies(whole.data(), whole.size(), [](std::string_view) {});
    qb::BlankTableRows(whole, tableRows);
    FuzzyPrepare(whole);
    Overloaded sink{[&](std::string_view line, const FoundCredentials* c) {
                      ProxyFields g;
                      if (!ParseProxyLine(line, g)) return;
                      const std::uint64_t key = PackedProxyKey(g);
                      take(line, key, key == 0 ? ProxyKey(g.addr, g.port, g.type) : std::string(), accepts(g),
                           c);
                    },
                    [&](ProxyRefused) { ++refused; }};
    found += ScanProxies(whole.data(), whole.size(), sink);
  }
  exporter.AppendEnd(out);
  OutRaw(out);
  if (refused > 0)
    Err("extract: " + std::to_string(refused) +
        " not recognised (a scheme that names no proxy, a port out of range, or a user name or password that "
        "cannot be used)");
  if (found == 0)
    Err("extract: " + (haveFile && file != "-" ? file.toStdString() : std::string("standard input")) +
        ": no proxy found (it reads address:port, proxy URLs such as socks5://address:port, "
        "address:port:user:password and the list's own address:port@type$status#remark lines" +
        (fuzzy ? std::string(")") : std::string("; --fuzzy also finds an address and a port apart)")));
  return kExitOk;
}

}  // namespace qb::cli
