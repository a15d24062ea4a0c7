// The import of a file in parts on several threads, and what it is built from: file
// ranges, rows prepared away from the list, batch insertion into the key set, the
// shortcut of the line parser, and the chunked save of a large list. The parallel
// paths are checked against the plain ones, which they must match exactly.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/Files.h"
#include "base/Text.h"
#include "proxy/FileImport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyKeySet.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

using namespace qb;

using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

using Lines = std::vector<std::string>;

// The reference: the file read front to back, every line found added on its own.
std::optional<std::size_t> PlainImport(CProxyListModel& list, const std::string& path, bool ambiguous,
                                       int select) {
  CProxyListModel::BulkAppend bulk(list);
  return ExtractFile(path, ambiguous, [&](std::string_view l) { list.AddProxyLine(l, select); });
}

// Rows, selection, current row and key set of two lists must agree exactly.
::testing::AssertionResult SameLists(const CProxyListModel& got, const CProxyListModel& want) {
  if (got.RowCount() != want.RowCount()) {
    return ::testing::AssertionFailure() << "rows: " << got.RowCount() << " instead of " << want.RowCount();
  }
  for (int r = 0; r < got.RowCount(); ++r) {
    for (int c = 0; c < CProxyListModel::ColumnCount; ++c) {
      if (got.CellText(r, c) != want.CellText(r, c)) {
        return ::testing::AssertionFailure() << "row " << r << " column " << c << ": \"" << got.CellText(r, c)
                                             << "\" instead of \"" << want.CellText(r, c) << "\"";
      }
    }
  }
  if (got.SelectedRows() != want.SelectedRows()) {
    return ::testing::AssertionFailure()
           << "selection: " << got.SelectedCount() << " rows instead of " << want.SelectedCount();
  }
  if (got.selectionModel()->currentIndex().row() != want.selectionModel()->currentIndex().row()) {
    return ::testing::AssertionFailure() << "current row " << got.selectionModel()->currentIndex().row()
                                         << " instead of " << want.selectionModel()->currentIndex().row();
  }
  if (!got.KeysMatchRows()) return ::testing::AssertionFailure() << "key set differs from the rows";
  return ::testing::AssertionSuccess();
}

// Rows a list had before an import; some share their keys with proxies of the
// generated files, with other statuses and remarks.
void AddExistingRows(CProxyListModel& list) {
  for (const char* line : {"10.0.0.1:80@HTTP$9.9#existing", "10.1.2.3:8080@HTTP$超时#existing too",
                           "10.2.3.4:3128@SOCKS5$0.1#", "192.168.7.7:8080@HTTPS$1#only here"}) {
    ASSERT_EQ(list.AddProxyLine(line, 0), 1) << line;
  }
}

// Files of proxy lines in the shapes found in the wild, from a small pool of
// addresses so that duplicates come both close together and far apart.
class ProxyFileMaker {
 public:
  explicit ProxyFileMaker(unsigned seed) : m_rng(seed) {}

  std::string Make(int lines) {
    std::string out;
    for (int i = 0; i < lines; ++i) {
      out += Line();
      out += Pick(5) < 2 ? "\r\n" : "\n";
    }
    // Half of the files end in a line without a line break.
    if (Pick(2)) out += Proxy() + "#last";
    return out;
  }

 private:
  std::size_t Pick(std::size_t n) { return m_rng() % n; }
  std::string Address() { return qb::Format("10.%zu.%zu.%zu", Pick(3), Pick(4), 1 + Pick(6)); }
  std::string Port() {
    static const char* const kPorts[] = {"80", "8080", "3128", "1080", "8000", "65535"};
    return kPorts[Pick(6)];
  }
  std::string Proxy() { return Address() + ":" + Port(); }
  std::string Full() {
    static const char* const kTypes[] = {"HTTP", "https", "Socks4", "SOCKS5", "ftp", "GOPHER"};
    static const char* const kStatus[] = {"", "1.2", "超时", "未验证", "0.35"};
    static const char* const kRemarks[] = {"", "r", "中国北京", "备注", "x-y"};
    return Proxy() + "@" + kTypes[Pick(6)] + "$" + kStatus[Pick(5)] + "#" + kRemarks[Pick(5)];
  }
  std::string Filler(std::size_t min) {
    std::string s;
    const std::size_t n = min + Pick(400);
    while (s.size() < n) s += Pick(3) ? "xyz " : "中文";
    return s;
  }

  std::string Line() {
    std::string line;
    switch (Pick(13)) {
      case 0:
        line = Proxy();
        break;
      case 1:
        line = Full();
        break;
      case 2:
        line = "<tr><td>" + Proxy() + "</td><td>HTTP</td></tr>";
        break;
      case 3:
        line = "<tr><td>" + Address() + "</td><td>" + Port() + "</td></tr>";
        break;
      case 4:
        line = qb::EncodeGb18030(Proxy() + "@HTTP$超时#中文备注");
        break;
      case 5:
        line = Filler(1001) + " " + Proxy() + " " + Filler(0);
        break;
      case 6:
        line = "";
        break;
      case 7:
        line = "no proxy on this line";
        break;
      case 8:
        // The same line again, one of the last few or any earlier one.
        if (!m_lines.empty()) {
          const std::size_t back =
              Pick(2) ? Pick(std::min<std::size_t>(3, m_lines.size())) : Pick(m_lines.size());
          line = m_lines[m_lines.size() - 1 - back];
        }
        break;
      case 9:
        line = Proxy() + " " + Full();
        break;
      case 10:
        line = Address() + " " + Port();
        break;
      case 11:
        line = "note: " + std::string("\xff\xfe bytes ") + Proxy();
        break;
      default:
        line = Full();
        break;
    }
    m_lines.push_back(line);
    return line;
  }

  std::mt19937 m_rng;
  Lines m_lines;
};

// Imports the file in parts into a list made by `setUp`, and checks it against the
// plain path on another such list. Returns the rows the plain path appended.
template <class SetUp>
int ExpectSameAsPlain(const std::string& path, bool ambiguous, int select, const FileImportOptions& options,
                      SetUp setUp) {
  CProxyListModel want;
  setUp(want);
  const int before = want.RowCount();
  const std::optional<std::size_t> wantFound = PlainImport(want, path, ambiguous, select);

  CProxyListModel got;
  setUp(got);
  std::vector<const CProxyEntry*> old;
  for (int r = 0; r < before; ++r) old.push_back(got.Entry(r));
  QSignalSpy inserted(&got, &QAbstractItemModel::rowsInserted);
  const std::optional<std::size_t> found = AddProxiesFromFile(got, path, ambiguous, select, options);

  const std::string where = qb::Format("part %zu bytes, %u threads, ambiguous %d, select %d",
                                       options.partBytes, options.threads, ambiguous, select);
  EXPECT_EQ(found, wantFound) << where;
  EXPECT_TRUE(SameLists(got, want)) << where;
  // The existing rows are the very same entries, and the new rows arrive at once.
  for (int r = 0; r < before; ++r) EXPECT_EQ(got.Entry(r), old[static_cast<std::size_t>(r)]) << where;
  if (got.RowCount() > before) {
    EXPECT_EQ(inserted.count(), 1) << where;
    if (inserted.count() == 1) {
      EXPECT_EQ(inserted[0][1].toInt(), before) << where;
      EXPECT_EQ(inserted[0][2].toInt(), got.RowCount() - 1) << where;
    }
  } else {
    EXPECT_EQ(inserted.count(), 0) << where;
  }
  return want.RowCount() - before;
}

// Where two long texts part, or "" when they are equal (not the texts themselves,
// which would flood the output).
std::string FirstDifference(const std::string& got, const std::string& want) {
  if (got == want) return "";
  const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  const std::size_t at = static_cast<std::size_t>(g - got.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  return qb::Format("sizes %zu and %zu, first difference at byte %zu: \"%s\" instead of \"%s\"", got.size(),
                    want.size(), at, got.substr(from, 80).c_str(), want.substr(from, 80).c_str());
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v(static_cast<std::size_t>(std::max(0, to - from)));
  std::iota(v.begin(), v.end(), from);
  return v;
}

}  // namespace

TEST(FileImport, SameRowsAndCountAsReadingFrontToBack) {
  TempDir dir;
  const std::string path = dir.File("proxies.txt");
  int appended = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    ProxyFileMaker maker(seed);
    const std::string bytes = maker.Make(seed <= 2 ? 10 : seed <= 6 ? 16 : 40);
    WriteFile(path, bytes);
    const bool existing = seed % 2 == 0;
    const int select = seed % 3 == 0 ? 0 : 1;
    auto setUp = [&](CProxyListModel& list) {
      if (existing) AddExistingRows(list);
    };
    for (bool ambiguous : {false, true}) {
      // The tiniest parts only for the short files: each part costs a read of its
      // own, and here there is a part for every byte or every few bytes.
      for (std::size_t partBytes : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1000}}) {
        if ((partBytes == 1 && seed > 2) || (partBytes == 7 && seed > 6)) continue;
        for (unsigned threads : {1u, 2u, 3u, 5u}) {
          SCOPED_TRACE(qb::Format("seed %u", seed));
          appended +=
              ExpectSameAsPlain(path, ambiguous, select, FileImportOptions{partBytes, threads}, setUp);
          if (HasFailure()) return;  // one report per fault is enough
        }
      }
    }
    // The default options too: parts of megabytes, a thread per processor.
    appended += ExpectSameAsPlain(path, true, select, FileImportOptions{}, setUp);
  }
  // The files really held proxies (a generator gone wrong would compare empty lists).
  EXPECT_GT(appended, 1000);
}

TEST(FileImport, FuzzyPassOnlyWhileTheStrictPassFoundAtMost200) {
  TempDir dir;
  const std::string path = dir.File("page.html");
  // strict lines, some of them duplicates (counted all the same), mixed with lines
  // that only the fuzzy pass reads: an address and a port apart, or on two lines.
  for (int strict : {0, 3, 199, 200, 201, 260}) {
    std::string bytes;
    for (int i = 0; i < strict; ++i) {
      const int k = i % 10 == 9 ? i - 5 : i;
      bytes += qb::Format("10.7.%d.%d:8080@HTTP$1#s\n", k / 200, k % 200 + 1);
      if (i % 20 == 0) bytes += qb::Format("10.8.0.%d 3128\r\n", i / 20 + 1);
    }
    bytes += "<tr><td>10.9.0.1</td>\r\n<td>8000</td></tr>\n10.9.0.2   81\n";
    WriteFile(path, bytes);

    CProxyListModel strictOnly;
    const auto strictFound = PlainImport(strictOnly, path, false, 0);
    ASSERT_EQ(strictFound, std::optional<std::size_t>(strict));
    for (std::size_t partBytes : {std::size_t{7}, std::size_t{64}, std::size_t{1000}}) {
      if (partBytes == 7 && strict > 3) continue;  // see above: a read per part
      for (unsigned threads : {1u, 2u, 3u, 5u}) {
        SCOPED_TRACE(qb::Format("%d strict", strict));
        const int rows =
            ExpectSameAsPlain(path, true, 1, FileImportOptions{partBytes, threads}, [](CProxyListModel&) {});
        // The file was made so that the fuzzy pass finds more when it runs at all.
        if (strict <= 200) {
          EXPECT_GT(rows, strictOnly.RowCount());
        } else {
          EXPECT_EQ(rows, strictOnly.RowCount());
        }
        if (HasFailure()) return;
      }
    }
  }
}

TEST(FileImport, PartsSpanningSeveralReadBlocks) {
  // Parts larger than the blocks the reader fetches, so that part ends and line ends
  // fall in later blocks than the part's start; lines of all lengths cross the block
  // boundaries, and a line longer than a block crosses a part boundary too.
  std::mt19937 rng(9);
  std::string bytes;
  for (int k = 0; bytes.size() < (3u << 20); ++k) {
    bytes += std::string(rng() % 3000, 'x') + qb::Format(" 10.%d.%d.1:8080#r%d", k / 250, k % 250, k);
    bytes += rng() % 2 ? "\r\n" : "\n";
    if (k == 700) bytes += std::string((1 << 20) + 5000, 'y') + " 9.9.9.9:3128\n";
  }
  bytes += "<td>8.8.8.8</td><td>53</td>";
  TempDir dir;
  const std::string path = dir.File("big.txt");
  WriteFile(path, bytes);
  for (bool ambiguous : {false, true}) {
    for (std::size_t partBytes : {(std::size_t{1} << 20) + 13, std::size_t{3} << 19}) {
      for (unsigned threads : {2u, 3u}) {
        EXPECT_GT(ExpectSameAsPlain(path, ambiguous, 1, FileImportOptions{partBytes, threads},
                                    [](CProxyListModel&) {}),
                  1000);
      }
    }
  }
}

TEST(FileImport, AddsAfterExistingRowsAndSelectsExactlyTheNewOnes) {
  TempDir dir;
  const std::string path = dir.File("in.txt");
  WriteFile(path,
            "10.0.0.1:80#from file\r\n"  // in the list already: the list's row stays
            "10.0.0.2:80\n"
            "10.0.0.2:80@HTTP$1#again\n"  // in the file twice: the first is kept
            "\n"
            "10.0.0.3:3128@SOCKS5$0.5#中国北京\n"
            "10.0.0.1:80@HTTP$2#and again");
  for (int select : {0, 1}) {
    for (unsigned threads : {1u, 3u}) {
      CProxyListModel list;
      ASSERT_EQ(list.AddProxyLine("10.0.0.1:80@HTTP$9.9#existing", 0), 1);
      ASSERT_EQ(list.AddProxyLine("10.0.0.9:80@HTTP$9.9#other", 0), 1);
      const CProxyEntry* first = list.Entry(0);
      const auto found = AddProxiesFromFile(list, path, false, select, FileImportOptions{7, threads});
      ASSERT_EQ(found, std::optional<std::size_t>(5));
      ASSERT_EQ(list.RowCount(), 4);
      EXPECT_EQ(list.Entry(0), first);
      EXPECT_EQ(list.CellText(0, CProxyListModel::ColTimeStatus), "9.9");
      EXPECT_EQ(list.CellText(0, CProxyListModel::ColRemark), "existing");
      EXPECT_EQ(list.GetProxyLine(2), "10.0.0.2:80@HTTP");
      EXPECT_EQ(list.CellText(2, CProxyListModel::ColTimeStatus), kStatusUnverified);
      EXPECT_EQ(list.CellText(2, CProxyListModel::ColRemark), "");
      EXPECT_EQ(list.GetProxyLine(3), "10.0.0.3:3128@SOCKS5");
      EXPECT_EQ(list.CellText(3, CProxyListModel::ColRemark), "中国北京");
      EXPECT_EQ(list.SelectedRows(), select ? Range(2, 4) : std::vector<int>{});
      EXPECT_TRUE(list.KeysMatchRows());

      // The same file again adds nothing, counts the same, and selects nothing more.
      list.selectionModel()->clearSelection();
      EXPECT_EQ(AddProxiesFromFile(list, path, false, select, FileImportOptions{7, threads}), found);
      EXPECT_EQ(list.RowCount(), 4);
      EXPECT_TRUE(list.SelectedRows().empty());
      EXPECT_TRUE(list.KeysMatchRows());
    }
  }
}

TEST(FileImport, MissingFileOrDirectoryIsNotReadEmptyFileFindsNothing) {
  TempDir dir;
  CProxyListModel list;
  ASSERT_EQ(list.AddProxyLine("10.0.0.1:80@HTTP$1#keep", 0), 1);
  for (bool ambiguous : {false, true}) {
    for (unsigned threads : {1u, 4u}) {
      const FileImportOptions options{16, threads};
      EXPECT_EQ(AddProxiesFromFile(list, dir.File("missing.txt"), ambiguous, 1, options), std::nullopt);
      EXPECT_EQ(AddProxiesFromFile(list, dir.Path(), ambiguous, 1, options), std::nullopt);
      WriteFile(dir.File("empty.txt"), "");
      EXPECT_EQ(AddProxiesFromFile(list, dir.File("empty.txt"), ambiguous, 1, options),
                std::optional<std::size_t>(0));
      WriteFile(dir.File("blank.txt"), "\r\n\n   \n");
      EXPECT_EQ(AddProxiesFromFile(list, dir.File("blank.txt"), ambiguous, 1, options),
                std::optional<std::size_t>(0));
    }
  }
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.CellText(0, CProxyListModel::ColRemark), "keep");
  EXPECT_TRUE(list.SelectedRows().empty());
  EXPECT_TRUE(list.KeysMatchRows());
}

namespace {

struct RangeScan {
  bool ok = false;
  std::size_t found = 0;
  std::string gathered;
  Lines lines;
};

RangeScan ScanRange(int fd, std::uint64_t begin, std::uint64_t end, bool gather) {
  RangeScan out;
  const auto scan =
      ScanFileRange(fd, begin, end, gather, [&](std::string_view l) { out.lines.emplace_back(l); });
  if (scan) {
    out.ok = true;
    out.found = scan->found;
    out.gathered = scan->gathered;
  }
  return out;
}

// Ranges side by side, their outputs joined in order.
RangeScan ScanRanges(int fd, const std::vector<std::uint64_t>& cuts, bool gather) {
  RangeScan all;
  all.ok = true;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    RangeScan part = ScanRange(fd, cuts[i], cuts[i + 1], gather);
    all.ok = all.ok && part.ok;
    all.found += part.found;
    all.gathered += part.gathered;
    all.lines.insert(all.lines.end(), part.lines.begin(), part.lines.end());
  }
  return all;
}

class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~OpenFile() {
    if (m_fd >= 0) ::close(m_fd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

TEST(FileImportRanges, RangesSideBySideHandEveryLineToExactlyOne) {
  TempDir dir;
  const std::string path = dir.File("ranges.txt");
  // Short lines, CR LF, empty lines, a line in GBK, a line without a colon that only
  // the fuzzy pass wants, a long line, and a last line without a line break.
  const std::string bytes =
      "1.1.1.1:80\r\n\n\n2.2.2.2:8080@SOCKS5$1#a\n" + qb::EncodeGb18030("3.3.3.3:3128@HTTP$超时#备注\r\n") +
      "<td>4.4.4.4</td><td>81</td>\n\r\n" + std::string(150, 'x') + " 5.5.5.5:8000 6.6.6.6:8001 " +
      std::string(90, 'y') + "\n7.7.7.7:1080\n1.1.1.1:80\n8.8.8.8:3128#end";
  WriteFile(path, bytes);
  OpenFile file(path);
  ASSERT_GE(file.fd(), 0);
  const std::uint64_t size = bytes.size();

  for (bool gather : {false, true}) {
    const RangeScan whole = ScanRange(file.fd(), 0, kToEndOfFile, gather);
    ASSERT_TRUE(whole.ok);
    // The whole range is what the plain file read gives.
    Lines plain;
    ASSERT_EQ(ExtractFile(path, false, [&](std::string_view l) { plain.emplace_back(l); }),
              std::optional<std::size_t>(whole.found));
    EXPECT_EQ(whole.lines, plain);
    ASSERT_EQ(whole.lines.size(), 8u);
    if (gather) {
      EXPECT_NE(whole.gathered.find("4.4.4.4"), std::string::npos);
    } else {
      EXPECT_EQ(whole.gathered, "");
    }

    // Two ranges, cut at every byte, the second to the end of the file or to its size.
    for (std::uint64_t cut = 0; cut <= size + 1; ++cut) {
      for (std::uint64_t end : {kToEndOfFile, size}) {
        const RangeScan two = ScanRanges(file.fd(), {0, cut, end}, gather);
        ASSERT_TRUE(two.ok);
        ASSERT_EQ(two.lines, whole.lines) << "cut at " << cut << " end " << end;
        ASSERT_EQ(two.found, whole.found) << "cut at " << cut;
        ASSERT_EQ(two.gathered, whole.gathered) << "cut at " << cut;
      }
    }
  }

  // Three ranges at many pairs of cuts, empty ranges included.
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t a = rng() % (size + 2), b = rng() % (size + 2);
    if (a > b) std::swap(a, b);
    const RangeScan three = ScanRanges(file.fd(), {0, a, b, kToEndOfFile}, true);
    const RangeScan whole = ScanRange(file.fd(), 0, kToEndOfFile, true);
    ASSERT_EQ(three.lines, whole.lines) << a << "," << b;
    ASSERT_EQ(three.found, whole.found) << a << "," << b;
    ASSERT_EQ(three.gathered, whole.gathered) << a << "," << b;
  }

  // Nothing starts at or after the end of the file.
  EXPECT_TRUE(ScanRange(file.fd(), size, kToEndOfFile, true).lines.empty());
  EXPECT_TRUE(ScanRange(file.fd(), size + 100, kToEndOfFile, true).lines.empty());
  // A descriptor that cannot be read.
  EXPECT_FALSE(ScanRange(-1, 0, kToEndOfFile, false).ok);
  OpenFile directory(dir.Path());
  EXPECT_FALSE(ScanRange(directory.fd(), 0, kToEndOfFile, false).ok);
}

namespace {

// The raw lines that ranges side by side hand out, in order.
Lines RawLines(int fd, const std::vector<std::uint64_t>& cuts) {
  Lines lines;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    EXPECT_TRUE(ForEachLineInRange(fd, cuts[i], cuts[i + 1],
                                   [&](char* data, std::size_t n) { lines.emplace_back(data, n); }));
  }
  return lines;
}

}  // namespace

// LF, CR LF and a CR alone each end one line: a CR LF pair is never two line ends (no
// empty line between), wherever the ranges are cut, a cut between its CR and its LF too.
TEST(FileImportRanges, EveryKindOfLineEndEndsOneLineWhereverTheRangesAreCut) {
  TempDir dir;
  const std::string path = dir.File("ends.txt");
  const std::string bytes = "a\rb\r\nc\n\rd\r\r\ne\n\n\r\rf\r\n\r\ng\r";
  const Lines want = {"a", "b", "c", "", "d", "", "e", "", "", "", "f", "", "g"};
  WriteFile(path, bytes);
  OpenFile file(path);
  ASSERT_GE(file.fd(), 0);
  EXPECT_EQ(RawLines(file.fd(), {0, kToEndOfFile}), want);
  const std::uint64_t size = bytes.size();
  for (std::uint64_t a = 0; a <= size + 1; ++a) {
    for (std::uint64_t b = a; b <= size + 1; ++b) {
      ASSERT_EQ(RawLines(file.fd(), {0, a, b, kToEndOfFile}), want) << "cuts " << a << ", " << b;
    }
  }
  // Text in memory is cut the same way.
  Lines text;
  ForEachLine(bytes, [&](std::string_view l) { text.emplace_back(l); });
  EXPECT_EQ(text, want);
}

// The reader's blocks are 1 MiB: a CR that is the last byte of a block waits for the next
// block to tell whether a LF completes the pair.
TEST(FileImportRanges, ACrLfPairAcrossTheReadersBlocksIsOneLineEnd) {
  TempDir dir;
  const std::string path = dir.File("pair.txt");
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::string first = "1.1.1.1:80 " + std::string(kBlock - 12, 'x');
  const std::string bytes = first + "\r\n2.2.2.2:81\r3.3.3.3:82\r";
  ASSERT_EQ(bytes[kBlock - 1], '\r');
  WriteFile(path, bytes);
  OpenFile file(path);
  ASSERT_GE(file.fd(), 0);
  const Lines want = {first, "2.2.2.2:81", "3.3.3.3:82"};
  for (std::uint64_t cut : {std::uint64_t{1}, std::uint64_t{kBlock - 1}, std::uint64_t{kBlock},
                            std::uint64_t{kBlock + 1}, std::uint64_t{kBlock + 2}}) {
    EXPECT_EQ(RawLines(file.fd(), {0, cut, kToEndOfFile}), want) << cut;
  }
  const RangeScan whole = ScanRange(file.fd(), 0, kToEndOfFile, false);
  EXPECT_EQ(whole.lines, (Lines{"1.1.1.1:80@HTTP$#", "2.2.2.2:81@HTTP$#", "3.3.3.3:82@HTTP$#"}));
}

TEST(FileImportRanges, LineLongerThanSeveralBlocksBelongsToTheRangeWhereItStarts) {
  // Longer than the reader's blocks, so that a range beginning inside it has to skip
  // more than one block before its first line.
  TempDir dir;
  const std::string path = dir.File("long.txt");
  const std::string bytes = "1.1.1.1:80\n" + std::string(3 << 20, 'z') + " 2.2.2.2:81\n3.3.3.3:82";
  WriteFile(path, bytes);
  OpenFile file(path);
  const RangeScan whole = ScanRange(file.fd(), 0, kToEndOfFile, false);
  ASSERT_EQ(whole.lines.size(), 3u);
  const std::uint64_t longStart = 11, longEnd = bytes.find(" 2.2.2.2");
  for (std::uint64_t cut : {longStart - 1, longStart, longStart + 1, std::uint64_t{1} << 20, longEnd,
                            longEnd + 12, std::uint64_t{bytes.size() - 3}}) {
    const RangeScan two = ScanRanges(file.fd(), {0, cut, kToEndOfFile}, false);
    EXPECT_EQ(two.lines, whole.lines) << cut;
    EXPECT_EQ(two.found, whole.found) << cut;
  }
  // Four ranges inside the long line: only the first of them gets it.
  const RangeScan four = ScanRanges(file.fd(), {0, 100, 1 << 20, 2 << 20, kToEndOfFile}, false);
  EXPECT_EQ(four.lines, whole.lines);
}

TEST(FileImportPreparedRows, DuplicatesInTheBatchAndInTheListAreDroppedFirstKept) {
  CProxyListModel list;
  ASSERT_EQ(list.AddProxyLine("1.1.1.1:80@HTTP$1.0#old", 0), 1);
  CProxyListModel::PreparedRows rows;
  EXPECT_TRUE(rows.AddLine("1.1.1.1:80@HTTP$2.0#new"));  // in the list
  EXPECT_TRUE(rows.AddLine("Proxy.Example:8080@socks5$#a"));
  EXPECT_TRUE(rows.AddLine("proxy.EXAMPLE:8080@SOCKS5$3#b"));  // the same, in other case
  EXPECT_FALSE(rows.AddLine("not a proxy line"));
  EXPECT_FALSE(rows.AddLine("1.2.3.4:0@HTTP"));
  EXPECT_TRUE(rows.AddLine("2.2.2.2:3128@HTTPS$#"));
  EXPECT_TRUE(rows.AddLine("2.2.2.2:3128@HTTP$#"));  // another type: another proxy
  EXPECT_EQ(rows.size(), 5u);

  EXPECT_EQ(list.AppendPrepared(rows, 1), 3);
  EXPECT_EQ(rows.size(), 0u);
  ASSERT_EQ(list.RowCount(), 4);
  EXPECT_EQ(list.CellText(0, CProxyListModel::ColRemark), "old");
  EXPECT_EQ(list.GetProxyLine(1), "Proxy.Example:8080@SOCKS5");
  EXPECT_EQ(list.CellText(1, CProxyListModel::ColTimeStatus), kStatusUnverified);
  EXPECT_EQ(list.CellText(1, CProxyListModel::ColRemark), "a");
  EXPECT_EQ(list.GetProxyLine(2), "2.2.2.2:3128@HTTPS");
  EXPECT_EQ(list.GetProxyLine(3), "2.2.2.2:3128@HTTP");
  EXPECT_EQ(list.SelectedRows(), Range(1, 4));
  EXPECT_TRUE(list.KeysMatchRows());

  // Emptied, the rows can be filled again; an empty batch appends nothing.
  EXPECT_EQ(list.AppendPrepared(rows, 1), 0);
  EXPECT_TRUE(rows.AddLine("PROXY.example:8080@Socks5"));
  EXPECT_TRUE(rows.AddLine("3.3.3.3:80@FTP$0.1#x"));
  EXPECT_EQ(list.AppendPrepared(rows, 0), 1);
  EXPECT_EQ(list.RowCount(), 5);
  EXPECT_EQ(list.CellText(4, CProxyListModel::ColTimeStatus), "0.1");
  EXPECT_EQ(list.SelectedRows(), Range(1, 4));
  EXPECT_TRUE(list.KeysMatchRows());
}

TEST(FileImportPreparedRows, SameAsAddingLineByLine) {
  // Host names in mixed case, the six types in mixed case, invalid lines, and batches
  // of every size from empty to larger than the key set's growth steps.
  std::mt19937 rng(11);
  auto line = [&] {
    static const char* const kHosts[] = {
        "proxy.example", "PROXY.example", "Proxy.Example", "10.0.0.1", "10.0.0.2", "代理.example", "x"};
    static const char* const kTypes[] = {"HTTP",   "http", "HTTPS",  "socks4",
                                         "SOCKS5", "Ftp",  "gopher", "WAIS"};
    if (rng() % 15 == 0) return std::string("nothing here");
    return qb::Format("%s:%u@%s$%s#r%u", kHosts[rng() % 7], static_cast<unsigned>(80 + rng() % 40),
                      kTypes[rng() % 8], rng() % 2 ? "1.5" : "", static_cast<unsigned>(rng() % 100));
  };
  CProxyListModel prepared, plain;
  CProxyListModel::PreparedRows rows;
  for (int batch = 0; batch < 300; ++batch) {
    const int select = static_cast<int>(rng() % 2);
    const bool bulk = rng() % 2;
    const std::size_t n = batch % 50 == 0 ? 400 : rng() % 20;
    Lines lines;
    for (std::size_t i = 0; i < n; ++i) lines.push_back(line());

    int wantAppended = 0;
    {
      std::optional<CProxyListModel::BulkAppend> b;
      if (bulk) b.emplace(plain);
      for (const std::string& l : lines) wantAppended += plain.AddProxyLine(l, select) == 1;
    }
    std::size_t valid = 0;
    for (const std::string& l : lines) valid += rows.AddLine(l);
    ASSERT_EQ(rows.size(), valid);
    int appended;
    {
      std::optional<CProxyListModel::BulkAppend> b;
      if (bulk) b.emplace(prepared);
      appended = prepared.AppendPrepared(rows, select);
    }
    ASSERT_EQ(appended, wantAppended) << "batch " << batch;
    ASSERT_TRUE(SameLists(prepared, plain)) << "batch " << batch;
  }
  EXPECT_GT(plain.RowCount(), 1000);
}

namespace {

// Entries for the key set, kept alive for as long as the set refers to them.
class EntryPool {
 public:
  const CProxyEntry* Make(std::string addr, std::string port, std::string type) {
    m_entries.push_back(
        std::make_unique<CProxyEntry>(std::move(addr), std::move(port), std::move(type), "", ""));
    return m_entries.back().get();
  }

 private:
  std::vector<std::unique_ptr<CProxyEntry>> m_entries;
};

std::string FlipAsciiCase(std::string s, std::mt19937& rng) {
  for (char& c : s) {
    if (rng() % 2) c = c >= 'a' && c <= 'z' ? qb::AsciiUpper(c) : qb::AsciiLower(c);
  }
  return s;
}

}  // namespace

TEST(ProxyKeySetBatch, SameAsInsertingOneByOne) {
  std::mt19937 rng(21);
  EntryPool pool;
  // Fields shorter and longer than eight bytes, case variants, and non-ASCII bytes.
  auto field = [&](int which) {
    static const char* const kAddrs[] = {
        "10.0.0.1", "proxy.example.com", "Ab", "代理服务器.example", "é.x", "É.x", "a", ""};
    static const char* const kPorts[] = {"80", "8080", "080", "65535"};
    static const char* const kTypes[] = {"HTTP", "socks5", "GOPHER", "Über"};
    std::string s = which == 0 ? kAddrs[rng() % 8] : which == 1 ? kPorts[rng() % 4] : kTypes[rng() % 4];
    if (which == 0 && rng() % 2) s += std::to_string(rng() % 50);
    return FlipAsciiCase(s, rng);
  };
  ProxyKeySet batched, single;
  std::vector<bool> added;
  std::vector<const CProxyEntry*> inserted;
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = round % 40 == 0 ? 700 : rng() % 30;
    std::vector<ProxyKeyRef> keys;
    for (std::size_t i = 0; i < n; ++i) {
      // Now and then the very same key twice in one batch.
      if (!keys.empty() && rng() % 10 == 0) {
        keys.push_back(keys[rng() % keys.size()]);
      } else {
        keys.push_back(KeyOf(pool.Make(field(0), field(1), field(2))));
      }
    }
    batched.InsertBatch(keys.data(), keys.size(), added);
    ASSERT_EQ(added.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(added[i], single.Insert(keys[i])) << "round " << round << " key " << i;
      if (added[i]) inserted.push_back(keys[i].entry);
    }
    ASSERT_EQ(batched.size(), single.size());
  }
  // Each key finds the entry that went in first, in both sets.
  for (const CProxyEntry* e : inserted) {
    ASSERT_EQ(batched.Find(KeyOf(e)), e);
    ASSERT_EQ(single.Find(KeyOf(e)), e);
  }
  EXPECT_GT(inserted.size(), 1000u);
}

// A batch that says which entry holds each repeat (what merge replaces in place) tells
// the entry a key went in with first, and nullptr exactly for the keys that went in; a
// set allowed to fill 70 % of its slots stays within that and takes fewer slots.
TEST(ProxyKeySetBatch, TellsTheEntryOfEachRepeatAndFillsUpToItsLimit) {
  std::mt19937 rng(22);
  EntryPool pool;
  ProxyKeySet fuller(70), half;
  std::vector<const CProxyEntry*> known;
  std::size_t repeats = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<ProxyKeyRef> keys;
    const std::size_t n = round % 50 == 0 ? 5000 : rng() % 200;
    for (std::size_t i = 0; i < n; ++i) {
      std::string addr = "10.0." + std::to_string(rng() % 60) + "." + std::to_string(rng() % 250);
      if (rng() % 8 == 0) addr = FlipAsciiCase("Gw" + std::to_string(rng() % 90) + ".Example", rng);
      keys.push_back(KeyOf(pool.Make(addr, std::to_string(1 + rng() % 4), FlipAsciiCase("socks5", rng))));
    }
    fuller.InsertBatch(keys.data(), keys.size(), known);
    ASSERT_EQ(known.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      const CProxyEntry* first = half.Find(keys[i]);
      ASSERT_EQ(half.Insert(keys[i]), first == nullptr);
      ASSERT_EQ(known[i], first) << "round " << round << " key " << i;
      if (first) ++repeats;
    }
    ASSERT_EQ(fuller.size(), half.size());
    const std::size_t capacity = fuller.MemoryBytes() / sizeof(std::uint64_t);
    ASSERT_LE(fuller.size() * 100, capacity * 70);
    ASSERT_LE(fuller.MemoryBytes(), half.MemoryBytes());
  }
  EXPECT_GT(repeats, 1000u);
  EXPECT_GT(half.size(), 20000u);

  // 2,500 keys: 4,096 slots are 61 % full, too full for the list's set.
  ProxyKeySet seventy(70), fifty;
  for (int i = 0; i < 2500; ++i) {
    const ProxyKeyRef key =
        KeyOf(pool.Make("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250), "8080", "HTTP"));
    ASSERT_TRUE(seventy.Insert(key));
    ASSERT_TRUE(fifty.Insert(key));
  }
  EXPECT_EQ(seventy.MemoryBytes(), 4096 * sizeof(std::uint64_t));
  EXPECT_EQ(fifty.MemoryBytes(), 8192 * sizeof(std::uint64_t));
}

TEST(ProxyKeySetBatch, ReserveKeepsEveryKey) {
  EntryPool pool;
  ProxyKeySet set;
  std::vector<const CProxyEntry*> entries;
  for (int i = 0; i < 100; ++i) {
    entries.push_back(pool.Make(qb::Format("10.0.%d.%d", i / 10, i % 10), "80", "HTTP"));
    ASSERT_TRUE(set.Insert(KeyOf(entries.back())));
  }
  set.Reserve(10);  // less than there is: nothing lost
  set.Reserve(5000);
  set.Reserve(0);
  ASSERT_EQ(set.size(), 100u);
  for (const CProxyEntry* e : entries) EXPECT_EQ(set.Find(KeyOf(e)), e);
  // Filling up to the reserved number and past it.
  for (int i = 100; i < 6000; ++i) {
    entries.push_back(pool.Make(qb::Format("10.0.%d.%d", i / 10, i % 10), "80", "HTTP"));
    ASSERT_TRUE(set.Insert(KeyOf(entries.back())));
    ASSERT_FALSE(set.Insert(KeyOf(pool.Make(qb::Format("10.0.%d.%d", i / 10, i % 10), "80", "http"))));
  }
  EXPECT_EQ(set.size(), 6000u);
  for (const CProxyEntry* e : entries) ASSERT_EQ(set.Find(KeyOf(e)), e);
  ProxyKeySet empty;
  empty.Reserve(100);
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(empty.Find(KeyOf(entries[0])), nullptr);
}

TEST(ProxyKeyHashCase, AsciiCaseIsIgnoredAtEveryLengthAndPosition) {
  std::mt19937 rng(5);
  const std::string alphabet = "abcxyzABCXYZ0123456789.-_@[`{~";
  EntryPool pool;
  for (int i = 0; i < 3000; ++i) {
    std::string fields[3];
    for (std::string& f : fields) {
      const std::size_t n = rng() % 41;
      for (std::size_t k = 0; k < n; ++k) f += alphabet[rng() % alphabet.size()];
    }
    const CProxyEntry* a = pool.Make(fields[0], fields[1], fields[2]);
    const CProxyEntry* b = pool.Make(FlipAsciiCase(fields[0], rng), FlipAsciiCase(fields[1], rng),
                                     FlipAsciiCase(fields[2], rng));
    ASSERT_EQ(ProxyKeyHash(*a), ProxyKeyHash(*b)) << fields[0] << "|" << fields[1] << "|" << fields[2];
    ASSERT_TRUE(KeyOf(a) == KeyOf(b));
    ProxyKeySet set;
    ASSERT_TRUE(set.Insert(KeyOf(a)));
    ASSERT_FALSE(set.Insert(KeyOf(b)));
    ASSERT_EQ(set.Find(KeyOf(b)), a);
  }
}

TEST(ProxyKeyHashCase, OtherBytesAreNotFolded) {
  // Pairs that differ in the 0x20 bit only, but are not ASCII letters: non-ASCII
  // letters (in UTF-8 and as single bytes), and ASCII punctuation. Placed in the first
  // eight bytes, past them, and in the tail of a long field.
  const std::pair<std::string, std::string> pairs[] = {
      {"É", "é"}, {"Ü", "ü"}, {"\xC1", "\xE1"}, {"\xDA", "\xFA"},
      {"@", "`"}, {"[", "{"}, {"^", "~"},       {"_", "\x7F"},
  };
  EntryPool pool;
  for (const auto& [x, y] : pairs) {
    for (const std::string& prefix : {std::string(), std::string("proxy"), std::string("proxy.example.co"),
                                      std::string("proxy.example.com.")}) {
      for (int where = 0; where < 3; ++where) {
        auto make = [&](const std::string& c) {
          std::string f[3] = {"10.0.0.1", "8080", "HTTP"};
          f[where] = prefix + c + (where == 0 ? "x" : "");
          return pool.Make(f[0], f[1], f[2]);
        };
        const CProxyEntry* a = make(x);
        const CProxyEntry* b = make(y);
        EXPECT_FALSE(KeyOf(a) == KeyOf(b)) << prefix << x << " / " << y;
        ProxyKeySet set;
        EXPECT_TRUE(set.Insert(KeyOf(a)));
        EXPECT_TRUE(set.Insert(KeyOf(b))) << prefix << x << " / " << y << " in field " << where;
        EXPECT_EQ(set.Find(KeyOf(a)), a);
        EXPECT_EQ(set.Find(KeyOf(b)), b);
        EXPECT_EQ(set.size(), 2u);
      }
    }
  }
  // Bytes moving from one field to the next, and a trailing zero byte, make other keys.
  ProxyKeySet set;
  EXPECT_TRUE(set.Insert(KeyOf(pool.Make("1.2.3.4", "80", "HTTP"))));
  EXPECT_TRUE(set.Insert(KeyOf(pool.Make("1.2.3.48", "0", "HTTP"))));
  EXPECT_TRUE(set.Insert(KeyOf(pool.Make("1.2.3.4", "80H", "TTP"))));
  EXPECT_TRUE(set.Insert(KeyOf(pool.Make("1.2.3.4", std::string("80\0", 3), "HTTP"))));
  EXPECT_EQ(set.size(), 4u);

  // Through the list: two host names that differ only in a non-ASCII letter's case.
  CProxyListModel list;
  EXPECT_EQ(list.AddProxyLine("proxyÉ.example:80@HTTP", 0), 1);
  EXPECT_EQ(list.AddProxyLine("proxyé.example:80@HTTP", 0), 1);
  EXPECT_EQ(list.AddProxyLine("PROXYé.EXAMPLE:80@http", 0), 0);
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_TRUE(list.KeysMatchRows());
}

namespace {

// Lines near the normal form, broken in the ways that matter to the shortcut.
class LineMutator {
 public:
  explicit LineMutator(unsigned seed) : m_rng(seed) {}

  std::string Random() {
    std::string s;
    const std::size_t n = Pick(30);
    for (std::size_t i = 0; i < n; ++i) s += Token();
    return s;
  }

  std::string Mutated() {
    static const char* const kAddrs[] = {
        "1.2.3.4", "255.255.255.255", "10.0.0.1", ".",   "1..2",
        "0",       "1.2.3.4 ",        " 1.2.3.4", "a.b", "12345678901234567890"};
    static const char* const kPorts[] = {"80",    "1",     "65535", "65536", "0",  "00080", "000080",
                                         "99999", "8080 ", " 8080", "",      "8a", "-80",   "+80"};
    static const char* const kTypes[] = {"HTTP",  "HTTPS",  "SOCKS4",  "SOCKS5",  "FTP",     "GOPHER",
                                         "http",  "Socks5", "SOCKS",   "HTTPX",   "SOCKS45", "HTTP ",
                                         " HTTP", "",       "GOPHER5", "SOCKS44", "H\tTTP",  "FTPS"};
    static const char* const kStatus[] = {"", "1.2", "未验证", "a@b", "x:y", "1 2", " ", "超时 ", "@HTTP"};
    static const char* const kRemarks[] = {"", "r", " 中国 北京 ", "#", "a$b", "@", "\t", "x#y", " \r"};
    std::string s = std::string(kAddrs[Pick(10)]) + Sep(':') + kPorts[Pick(14)] + Sep('@') +
                    kTypes[Pick(18)] + Sep('$') + kStatus[Pick(9)] + Sep('#') + kRemarks[Pick(9)];
    for (std::size_t m = Pick(4); m > 0 && !s.empty(); --m) {
      const std::size_t at = Pick(s.size() + 1);
      switch (Pick(4)) {
        case 0:
          s.insert(at, Token());
          break;
        case 1:
          if (at < s.size()) s.erase(at, 1);
          break;
        case 2:
          if (at < s.size()) s[at] = Token()[0];
          break;
        default:
          if (at + 1 < s.size()) std::swap(s[at], s[at + 1]);
          break;
      }
    }
    return s;
  }

 private:
  std::size_t Pick(std::size_t n) { return m_rng() % n; }
  // Mostly the separator, sometimes none, twice, or another one.
  std::string Sep(char c) {
    switch (Pick(12)) {
      case 0:
        return "";
      case 1:
        return std::string(2, c);
      case 2:
        return std::string(1, ":@$#"[Pick(4)]);
      case 3:
        return std::string(" ") + c;
      default:
        return std::string(1, c);
    }
  }
  std::string Token() {
    static const char* const kTokens[] = {
        "0",    "1",    "5",    "8",     "9",     ".",      ".",      ":",      "@",   "$",
        "#",    " ",    "\t",   "\r",    "h",     "t",      "p",      "s",      "H",   "T",
        "P",    "S",    "F",    "G",     "O",     "E",      "R",      "C",      "K",   "x",
        "4",    "5",    "-",    "HTTP",  "http",  "SOCKS4", "socks5", "GOPHER", "FTP", "HTTPS",
        "中文", "超时", "\xE4", "65535", "65536", "1.2.3.4"};
    return kTokens[Pick(sizeof kTokens / sizeof *kTokens)];
  }

  std::mt19937 m_rng;
};

}  // namespace

TEST(ParseProxyLineShortcut, AgreesWithTheGeneralRuleOnEveryLine) {
  LineMutator mutator(17);
  // The outputs are reused without clearing, as the prepared rows reuse theirs, so
  // that a field the shortcut forgets to write shows up as a stale value.
  ProxyFields fast{"stale", "stale", "stale", "stale", "stale"};
  int accepted = 0;
  for (int i = 0; i < 300000; ++i) {
    const std::string line = i % 2 ? mutator.Mutated() : mutator.Random();
    ProxyFields general{"junk", "junk", "junk", "junk", "junk"};
    const bool want = ParseProxyLineGeneral(line, general.addr, general.port, general.type,
                                            general.timeStatus, general.remark);
    const bool got = ParseProxyLine(line, fast);
    ASSERT_EQ(got, want) << "\"" << line << "\"";
    if (!got) continue;
    ++accepted;
    ASSERT_EQ(fast.addr, general.addr) << "\"" << line << "\"";
    ASSERT_EQ(fast.port, general.port) << "\"" << line << "\"";
    ASSERT_EQ(fast.type, general.type) << "\"" << line << "\"";
    ASSERT_EQ(fast.timeStatus, general.timeStatus) << "\"" << line << "\"";
    ASSERT_EQ(fast.remark, general.remark) << "\"" << line << "\"";
  }
  // Enough lines were proxies for the comparison of the fields to mean something.
  EXPECT_GT(accepted, 20000);
}

TEST(ParseProxyLineShortcut, EdgesOfTheNormalForm) {
  // Each of these is decided by the general rule; the shortcut must not decide
  // differently. Listed because random lines may not hit them often.
  const char* const lines[] = {
      "1.2.3.4:80@HTTP$#",         "1.2.3.4:80@HTTP$1.2#",
      "1.2.3.4:80@HTTP$#  r  ",    "1.2.3.4:65535@SOCKS5$x#",
      "1.2.3.4:65536@SOCKS5$x#",   "1.2.3.4:0@HTTP$#",
      "1.2.3.4:00080@HTTP$#",      "1.2.3.4:000080@HTTP$#",
      "1.2.3.4:99999@HTTP$#",      "1.2.3.4:80@HTTPS5$#",
      "1.2.3.4:80@SOCKS$#",        "1.2.3.4:80@http$#",
      "1.2.3.4:80@HTTP$a$b#c",     "1.2.3.4:80@HTTP$a#b#c",
      "1.2.3.4:80@HTTP$a@b:c#d$e", ".:80@HTTP$#",
      "1.2.3.4:80@HTTP#x",         "1.2.3.4:80@HTTP$",
      "1.2.3.4:80@HTTP $#",        "1.2.3.4: 80@HTTP$#",
      "1.2.3.4 :80@HTTP$#",        "1.2.3.4:80@ HTTP$#",
      "1.2.3.4:80@HTTP$\t#\t",     "1.2.3.4:80@GOPHER$超时#中国 北京",
      "1.2.3.4:80@FTP$#\xE4",      "1.2.3.4:8@0@HTTP$#",
      "1.2.3.4:80:81@HTTP$#",
  };
  for (const char* line : lines) {
    ProxyFields fast{"stale", "stale", "stale", "stale", "stale"}, general;
    const bool want = ParseProxyLineGeneral(line, general.addr, general.port, general.type,
                                            general.timeStatus, general.remark);
    ASSERT_EQ(ParseProxyLine(line, fast), want) << line;
    if (!want) continue;
    EXPECT_EQ(fast.addr, general.addr) << line;
    EXPECT_EQ(fast.port, general.port) << line;
    EXPECT_EQ(fast.type, general.type) << line;
    EXPECT_EQ(fast.timeStatus, general.timeStatus) << line;
    EXPECT_EQ(fast.remark, general.remark) << line;
  }
}

TEST(ProxyListFileChunked, LargeListIsSavedInRowOrderAndLoadsBack) {
  // More rows than the single-threaded limit, and not a whole number of chunks.
  constexpr int kRows = 65536 + 2 * 4096 + 123;
  qbtest::ScriptedPrompt prompt;
  CProxyListModel list;
  {
    CProxyListModel::BulkAppend bulk(list);
    static const char* const kTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};
    static const char* const kStatus[] = {"0.5", "超时", "未验证", "12.25", "连接失败"};
    for (int i = 0; i < kRows; ++i) {
      ProxyFields f;
      f.addr = qb::Format("10.%d.%d.%d", i >> 16, (i >> 8) & 255, i & 255);
      f.port = std::to_string(1 + i % 65535);
      f.type = kTypes[i % 6];
      f.timeStatus = kStatus[i % 5];
      f.remark = i % 3 == 0 ? "" : qb::Format("备注 %d x", i);
      ASSERT_EQ(list.AddParsedProxy(std::move(f), 0), 1);
    }
  }
  ASSERT_EQ(list.RowCount(), kRows);

  std::string expected;
  for (int r = 0; r < kRows; ++r) expected += FormatFileLine(*list.Entry(r)) + "\r\n";

  TempDir dir;
  WriteFile(dir.File("Proxies.pro"), "old content\r\n");
  ASSERT_TRUE(qbtest::WriteListIn(dir.Path(), list));
  const std::string saved = ReadFile(dir.File("Proxies.pro"));
  EXPECT_EQ(FirstDifference(saved, expected), "");

  CProxyListModel loaded;
  ASSERT_TRUE(qbtest::ReadListFrom(dir.Path(), loaded));
  EXPECT_TRUE(SameLists(loaded, list));
  EXPECT_TRUE(prompt.messages.empty());
}

namespace {

// The list file read the way it was before it was read in parts: whole, line by
// line, the program's own lines with their five fields and any other through the
// extractor.
void PlainLoad(CProxyListModel& list, const std::string& path) {
  const std::string bytes = ReadFile(path);
  CProxyListModel::BulkAppend bulk(list);
  ProxyFields fields;
  qb::ForEachLine(bytes, [&](std::string_view raw) {
    std::string decoded;
    std::string_view line = raw;
    if (!qb::IsValidUtf8(raw)) {
      decoded = qb::DecodeLegacyLine(raw);
      line = decoded;
    }
    if (ParseFileLine(line, fields)) {
      list.AddParsedProxy(std::move(fields), 0);
      return;
    }
    std::string scratch(line);
    ScanProxies(scratch.data(), scratch.size(), [&](std::string_view found) { list.AddProxyLine(found, 0); });
  });
}

// A saved list with the rows a real one collects (remarks with blanks, long statuses,
// host names), followed by what a user may have pasted into the file by hand.
std::string MakeListFile(std::mt19937& rng) {
  static const char* const kTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};
  static const char* const kStatus[] = {"未验证", "密码不匹配", "连接失败", "0.35", "12.7", "不支持此协议"};
  static const char* const kRemark[] = {"", "中国 北京", "fast  one", "#hash#", "a@b$c"};
  std::string out;
  const int rows = 200 + static_cast<int>(static_cast<unsigned>(rng()) % 400);
  for (int i = 0; i < rows; ++i) {
    switch (static_cast<unsigned>(rng()) % 8) {
      case 0:  // hand-written, foreign forms
        out += qb::Format("<td>10.%u.%u.%u:%u</td> and 10.0.0.%u:8080", static_cast<unsigned>(rng()) % 4,
                          static_cast<unsigned>(rng()) % 256, static_cast<unsigned>(rng()) % 256,
                          80 + static_cast<unsigned>(rng()) % 3, static_cast<unsigned>(rng()) % 256);
        break;
      case 1:  // GBK remark: not valid UTF-8
        out += qb::Format("10.1.%u.%u:3128@HTTP$未验证#", static_cast<unsigned>(rng()) % 4,
                          static_cast<unsigned>(rng()) % 256) +
               "\xB1\xB1\xBE\xA9";
        break;
      case 2:
        out += "";
        break;
      default: {
        CProxyEntry e(static_cast<unsigned>(rng()) % 5 == 0
                          ? "proxy" + std::to_string(static_cast<unsigned>(rng()) % 50) + ".example"
                          : qb::Format("10.2.%u.%u", static_cast<unsigned>(rng()) % 4,
                                       static_cast<unsigned>(rng()) % 256),
                      std::to_string(1 + static_cast<unsigned>(rng()) % 65535),
                      kTypes[static_cast<unsigned>(rng()) % 6], kStatus[static_cast<unsigned>(rng()) % 6],
                      kRemark[static_cast<unsigned>(rng()) % 5]);
        out += FormatFileLine(e);
      }
    }
    out += static_cast<unsigned>(rng()) % 3 == 0 ? "\n" : "\r\n";
  }
  if (static_cast<unsigned>(rng()) % 2) out += "10.3.3.3:9999@SOCKS5$未验证#no line end";
  return out;
}

}  // namespace

// Reading Proxies.pro in parts on several threads gives exactly the rows of reading it
// whole, whatever the cuts.
TEST(ListFileLoad, SameRowsAsReadingTheFileWhole) {
  TempDir dir;
  std::mt19937 rng(99);
  for (int file = 0; file < 6; ++file) {
    const std::string path = dir.File("Proxies" + std::to_string(file) + ".pro");
    WriteFile(path, MakeListFile(rng));
    CProxyListModel want;
    PlainLoad(want, path);
    ASSERT_GT(want.RowCount(), 100);
    for (std::size_t partBytes : {std::size_t{1}, std::size_t{13}, std::size_t{200}, std::size_t{4096}}) {
      for (unsigned threads : {1u, 2u, 3u}) {
        if (partBytes == 1 && file > 1) continue;  // slow, and the short cuts are covered already
        CProxyListModel got;
        FileImportOptions options;
        options.partBytes = partBytes;
        options.threads = threads;
        const auto added = AddRowsFromListFile(got, path, options);
        ASSERT_TRUE(added.has_value());
        EXPECT_EQ(*added, static_cast<std::size_t>(want.RowCount()));
        EXPECT_TRUE(SameLists(got, want))
            << "file " << file << ", parts of " << partBytes << ", " << threads << " threads";
        EXPECT_TRUE(got.SelectedRows().empty());
      }
    }
  }
}

// A reader that keeps a few kinds of rows without a list (the endpoint's working rows)
// gets exactly the rows of those kinds the list would hold: each proxy's first line
// wins, whatever case it writes its key in, even when the first line is a failure and
// a later one has a time; and the rows keep the file's order, whatever the cuts.
TEST(ListFileRows, TheRowsTheListWouldHoldOfTheKindsAskedFor) {
  TempDir dir;
  std::mt19937 rng(7);
  const auto timed = [](const CProxyEntry& e) { return e.HasTime(); };
  const auto every = [](const CProxyEntry&) { return true; };
  for (int file = 0; file < 4; ++file) {
    const std::string path = dir.File("Proxies" + std::to_string(file) + ".pro");
    // Repeats the reader must drop: a failure before a time, a name in another case,
    // a type in lower case, a line of another form naming a proxy already read.
    std::string text =
        "10.9.0.1:80@HTTP$连接失败\n"
        "Proxy.Example:8080@SOCKS5$0.25#first\n" +
        MakeListFile(rng) +
        "\n10.9.0.1:80@http$0.5\n"
        "proxy.example:8080@socks5$0.1#later\n"
        "<td>10.9.0.2:3128</td>\n"
        "10.9.0.2:3128$0.3\n";
    WriteFile(path, text);
    CProxyListModel list;
    PlainLoad(list, path);
    for (const auto& [name, keep] :
         {std::pair<const char*, std::function<bool(const CProxyEntry&)>>{"timed", timed},
          {"every", every}}) {
      std::vector<std::string> want;
      for (int row = 0; row < list.RowCount(); ++row) {
        if (keep(*list.Entry(row))) want.push_back(FormatFileLine(*list.Entry(row)));
      }
      ASSERT_FALSE(want.empty());
      for (std::size_t partBytes : {std::size_t{7}, std::size_t{300}, std::size_t{1} << 20}) {
        for (unsigned threads : {1u, 3u}) {
          FileImportOptions options;
          options.partBytes = partBytes;
          options.threads = threads;
          const qb::UniqueFd fd(qb::OpenToRead(path));
          const auto rows = ReadRowsFromListFd(fd.get(), keep, options);
          ASSERT_TRUE(rows.has_value());
          std::vector<std::string> got;
          for (const CProxyEntry& e : *rows) got.push_back(FormatFileLine(e));
          EXPECT_EQ(got, want) << "file " << file << ", " << name << ", parts of " << partBytes << ", "
                               << threads << " threads";
        }
      }
    }
    // The repeats above came after their first lines, and only the first lines count.
    const qb::UniqueFd fd(qb::OpenToRead(path));
    const auto rows = ReadRowsFromListFd(fd.get(), timed);
    ASSERT_TRUE(rows.has_value());
    std::vector<std::string> lines;
    for (const CProxyEntry& e : *rows) lines.push_back(FormatFileLine(e));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Proxy.Example:8080@SOCKS5$0.25#first"), 1);
    for (const char* repeat :
         {"10.9.0.1:80@http$0.5", "proxy.example:8080@socks5$0.1#later", "10.9.0.2:3128$0.3"})
      EXPECT_EQ(std::count(lines.begin(), lines.end(), repeat), 0) << repeat;
  }
  EXPECT_FALSE(ReadRowsFromListFd(-1, every).has_value());
  const qb::UniqueFd folder(::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_FALSE(ReadRowsFromListFd(folder.get(), every).has_value());
}

TEST(ListFileLoad, UnreadableFileIsReportedAndAMissingOneIsAnEmptyList) {
  TempDir dir;
  CProxyListModel list;
  EXPECT_FALSE(AddRowsFromListFile(list, dir.File("missing.pro")).has_value());
  EXPECT_FALSE(AddRowsFromListFile(list, dir.Path()).has_value());
  EXPECT_TRUE(qbtest::ReadListFrom(dir.Path() + "/", list));  // no Proxies.pro yet: nothing to say
  EXPECT_EQ(list.RowCount(), 0);
}
