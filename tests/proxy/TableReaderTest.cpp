// Proxy tables read as rows: the layouts a header or data-title names, tables read by
// their content, what is no proxy table, reading in parts, and the fuzzy pass beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "proxy/FileImport.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"
#include "proxy/ProxyTables.h"
#include "support/PasteDecoded.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

using Lines = std::vector<std::string>;

// The rows' lines; each row's key must be its line's.
Lines RowsOf(const std::string& text) {
  Lines out;
  for (const TableRow& r : ReadProxyTables(text)) {
    ProxyFields f;
    EXPECT_TRUE(ParseProxyLine(r.line, f)) << r.line;
    EXPECT_EQ(r.key, PackedProxyKey(f)) << r.line;
    out.push_back(r.line);
  }
  return out;
}

Lines Fuzzy(const std::string& text) {
  Lines out;
  ExtractWholeText(text, true, [&](std::string_view l) { out.emplace_back(l); });
  return out;
}

// A table of the given header cells and rows of cells, each cell as written.
std::string Table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                  const std::string& cellTag = "td") {
  std::string t = "<table class=\"list\">\n";
  if (!header.empty()) {
    t += "<tr>";
    for (const std::string& h : header) t += "<" + cellTag + ">" + h + "</" + cellTag + ">";
    t += "</tr>\n";
  }
  for (const auto& row : rows) {
    t += "<tr>";
    for (const std::string& c : row) t += "<td>" + c + "</td>";
    t += "</tr>\n";
  }
  return t + "</table>\n";
}

}  // namespace

TEST(TableColumnNames, ChineseAndEnglishHeaders) {
  for (const char* h : {"IP", "ip地址", "IP地址", "Host", "地址", "IP Address", "Proxy IP", "代理IP",
                        "服务器地址", "IPv4", " IP： "})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Address) << h;
  for (const char* h : {"端口", "Port", "PORT", "端口号", "port:"})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Port) << h;
  for (const char* h : {"类型", "Type", "Protocol", "协议", "代理类型", "Proxy Type"})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Type) << h;
  for (const char* h : {"匿名度", "Anonymity", "匿名", "Level"})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Anonymity) << h;
  for (const char* h : {"国家", "Country", "位置", "IP归属地", "Location"})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Country) << h;
  // Words that only hold the letters "ip" name nothing.
  for (const char* h : {"Zip", "Description", "速度", "最后验证时间", "", "Tip"})
    EXPECT_EQ(TableColumnNamed(h), TableColumn::Other) << h;
}

TEST(TableLayouts, HeaderNamesTheColumnsInAnyOrder) {
  const std::vector<std::vector<std::string>> rows = {{"1.2.3.4", "8080", "HTTP", "高匿", "中国"},
                                                      {"5.6.7.8", "1080", "socks5", "透明", "美国"}};
  const Lines want{"1.2.3.4:8080@HTTP$#", "5.6.7.8:1080@SOCKS5$#"};
  EXPECT_EQ(RowsOf(Table({"IP地址", "端口", "类型", "匿名度", "国家"}, rows)), want);
  EXPECT_EQ(RowsOf(Table({"IP", "Port", "Type", "Anonymity", "Country"}, rows, "th")), want);
  EXPECT_EQ(RowsOf(Table({"Host", "PORT", "Protocol", "Anonymity", "位置"}, rows)), want);
  EXPECT_EQ(RowsOf(Table({"地址", "端口", "协议", "匿名", "Country"}, rows, "th")), want);
  // The same cells in another order, named by the header: port first, type last.
  EXPECT_EQ(RowsOf(Table({"端口", "国家", "IP", "匿名度", "类型"},
                         {{"8080", "中国", "1.2.3.4", "高匿", "HTTP"},
                          {"1080", "美国", "5.6.7.8", "透明", "socks5"}})),
            want);
  // Extra columns before, between and after, and rows with more cells than the header.
  EXPECT_EQ(
      RowsOf(Table({"#", "IP", "速度", "Port", "最后验证"},
                   {{"1", "1.2.3.4", "0.3秒", "8080", "1分钟前", "more"}, {"2", "5.6.7.8", "1秒", "1080"}})),
      (Lines{"1.2.3.4:8080@HTTP$#", "5.6.7.8:1080@HTTP$#"}));
}

TEST(TableLayouts, MarkupInsideAndAroundTheCells) {
  const Lines want{"1.2.3.4:8080@HTTPS$#", "9.8.7.6:3128@HTTP$#"};
  // Nested tags, attributes, blanks and no-break spaces in cells.
  EXPECT_EQ(RowsOf("<table><thead><tr><th class=\"a\">IP</th><th>端口</th><th>类型</th></tr></thead><tbody>\n"
                   "<tr class=\"odd\"><td><span class=\"ip\">1.2.3.4</span></td><td> <b>8080</b> </td>"
                   "<td><a href=\"/t/https\">HTTPS</a></td></tr>\n"
                   "<tr><td>&nbsp;9.8.7.6&nbsp;</td><td>\n3128\n</td><td></td></tr></tbody></table>"),
            want);
  // Upper-case tags and missing end tags: the next cell, row or table ends them.
  EXPECT_EQ(RowsOf("<TABLE><TR><TH>IP<TH>PORT<TH>TYPE\n<TR><TD>1.2.3.4<TD>8080<TD>https\n"
                   "<TR><TD>9.8.7.6<TD>3128<TD>\n</TABLE>"),
            want);
  // A row spread over several lines.
  EXPECT_EQ(
      RowsOf(
          "<table>\n<tr>\n<th>IP</th>\n<th>Port</th>\n</tr>\n<tr>\n<td>1.2.3.4</td>\n<td>8080</td>\n</tr>\n"
          "</table>"),
      Lines{"1.2.3.4:8080@HTTP$#"});
}

// A row end left open ("</tr" with the next row on the line after) ends that row where
// the next tag begins: the rows stay apart and in order, and both are read.
TEST(TableLayouts, ARowEndLeftOpenKeepsTheRowsApart) {
  const std::string text =
      "<table><tr><th>IP</th><th>Port</th><th>Type</th></tr>\n"
      "<tr><td>1.2.3.4</td><td>8080</td><td>socks5</td></tr\n"
      "<TR><TD><span>5.6.7.8</span><TD>80\n</table>";
  const std::vector<TableRow> rows = ReadProxyTables(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].line, "1.2.3.4:8080@SOCKS5$#");
  EXPECT_EQ(rows[1].line, "5.6.7.8:80@HTTP$#");
  EXPECT_LE(rows[0].end, rows[1].begin);
  EXPECT_EQ(text.substr(rows[1].begin, 4), "<TR>");
}

TEST(TableLayouts, DataTitleNamesEachCell) {
  // The header of a narrow layout sits in every cell; no header row at all.
  const std::string page =
      "<table><tr><td data-title=\"PORT\">8000</td><td data-title=\"IP\">101.0.0.26</td>"
      "<td data-title=\"Type\">SOCKS4</td></tr>\n"
      "<tr><td DATA-TITLE='Port'>3128</td><td data-title='IP地址'>9.8.7.6</td><td "
      "data-title=Type>http</td></tr>"
      "</table>";
  EXPECT_EQ(RowsOf(page), (Lines{"101.0.0.26:8000@SOCKS4$#", "9.8.7.6:3128@HTTP$#"}));
  // data-label serves as well.
  EXPECT_EQ(RowsOf("<tr><td data-label=\"Port\">81</td><td data-label=\"Host\">2.3.4.5</td></tr>"),
            Lines{"2.3.4.5:81@HTTP$#"});
}

TEST(TableLayouts, TypesAndAddressesAsTypedListsReadThem) {
  const std::vector<std::string> header{"IP", "Port", "Type"};
  EXPECT_EQ(RowsOf(Table(header, {{"1.2.3.4", "80", "HTTP,HTTPS"},
                                  {"1.2.3.5", "80", "socks"},
                                  {"1.2.3.6", "80", "-"},
                                  {"001.002.003.007", "080", "socks4"}})),
            (Lines{"1.2.3.4:80@HTTPS$#", "1.2.3.5:80@SOCKS5$#", "1.2.3.6:80@HTTP$#", "1.2.3.7:80@SOCKS4$#"}));
  // A type the lists do not know drops the row, as "@高匿" drops a list line; ports up
  // to 23 are no web proxy; a port or an address out of range is no row.
  EXPECT_EQ(RowsOf(Table(header, {{"1.2.3.4", "80", "高匿"},
                                  {"1.2.3.4", "23", "HTTP"},
                                  {"1.2.3.4", "23", "SOCKS5"},
                                  {"1.2.3.4", "65536", "HTTP"},
                                  {"1.2.3.256", "80", "HTTP"},
                                  {"1.2.3", "80", "HTTP"},
                                  {"1.2.3.4:80", "80", "HTTP"}})),
            Lines{"1.2.3.4:23@SOCKS5$#"});
  // IPv6 addresses, bare or in brackets, come out in their canonical bracketed form.
  EXPECT_EQ(RowsOf(Table(header,
                         {{"2001:DB8:0::1", "8080", "HTTP"}, {"[::1]", "1080", "SOCKS5"}, {"::", "80", ""}})),
            (Lines{"[2001:db8::1]:8080@HTTP$#", "[::1]:1080@SOCKS5$#"}));
}

TEST(TableLayouts, TablesWithoutNamesAreReadByContent) {
  // An address cell and a port cell after it; a cell that is only a type's name gives the type.
  EXPECT_EQ(RowsOf("<table><tr><td>1</td><td>1.2.3.4</td><td>8080</td><td>中国</td><td>socks5</td></tr>"
                   "<tr><td>2</td><td>5.6.7.8</td><td>3128</td><td>高匿 HTTP 代理</td></tr></table>"),
            (Lines{"1.2.3.4:8080@SOCKS5$#", "5.6.7.8:3128@HTTP$#"}));
  // The port must stand right after the address.
  EXPECT_EQ(RowsOf("<table><tr><td>1.2.3.4</td><td>中国</td><td>8080</td></tr></table>"), Lines{});
}

TEST(TableLayouts, TablesThatAreNoProxyTables) {
  // A header that names no address column: nothing, whatever the cells hold.
  EXPECT_EQ(RowsOf(Table({"版本", "下载次数"}, {{"1.2.3.4", "567"}}, "th")), Lines{});
  EXPECT_EQ(RowsOf(Table({"Version", "Build", "Date"}, {{"1.2.3.4", "567", "2024"}}, "th")), Lines{});
  // A header ends with its table: the next one is read by its own.
  const std::string two =
      Table({"版本", "下载"}, {{"1.2.3.4", "567"}}, "th") + Table({}, {{"5.6.7.8", "8080"}});
  EXPECT_EQ(RowsOf(two), Lines{"5.6.7.8:8080@HTTP$#"});
  // Cells outside any row, and text that only looks like a table.
  EXPECT_EQ(RowsOf("<td>1.2.3.4</td><td>8080</td>"), Lines{});
  EXPECT_EQ(RowsOf("1.2.3.4 8080 <tr> 5.6.7.8 80"), Lines{});
  // A caption row of one header cell is no header.
  EXPECT_EQ(
      RowsOf("<table><tr><th colspan=2>免费代理</th></tr><tr><td>1.2.3.4</td><td>8080</td></tr></table>"),
      Lines{"1.2.3.4:8080@HTTP$#"});
}

TEST(TableFuzzy, TheRowBeforeADecoyIsNotLost) {
  // The number before the table took the first address for its port: "7.6.18.77:101".
  // Now the row is read as a row, and what stands outside the table is read by the
  // fuzzy rules alone: "7.6.18.77" is followed by nothing but blanks, so it is no proxy.
  const std::string page =
      "<p>v7.6.18.77 before</p>\n"
      "<tr><td data-title=\"IP\">101.0.0.26</td><td data-title=\"PORT\">8000</td><td "
      "data-title=\"Type\">HTTP</td></tr>\n";
  EXPECT_EQ(Fuzzy(page), Lines{"101.0.0.26:8000@HTTP$#"});
  // The same with a header row and without any names.
  EXPECT_EQ(Fuzzy("<p>v7.6.18.77 before</p>\n" + Table({"IP", "PORT"}, {{"101.0.0.26", "8000"}})),
            Lines{"101.0.0.26:8000@HTTP$#"});
  EXPECT_EQ(Fuzzy("<p>v7.6.18.77 before</p>\n" + Table({}, {{"101.0.0.26", "8000"}, {"101.0.0.27", "8001"}})),
            (Lines{"101.0.0.26:8000@HTTP$#", "101.0.0.27:8001@HTTP$#"}));
  // Without the fuzzy pass tables are not read: the strict pass is what it was.
  EXPECT_EQ(Lines{}, [&] {
    Lines out;
    ExtractWholeText(page, false, [&](std::string_view l) { out.emplace_back(l); });
    return out;
  }());
}

TEST(TableFuzzy, DecoysOutsideTablesNeverTakeACellAndFollowTheFuzzyRules) {
  // A decoy after a table reads on into the text after the table, never into its rows:
  // the rows are blanked for the fuzzy pass. Beside few rows the fuzzy pass still runs
  // over the rest of the page by its documented rules ("1.2.3.4.83 page 2024" is
  // "2.3.4.83:2024" there, as it always was).
  const std::string table = Table({"IP", "Port"}, {{"10.0.0.1", "8080"}, {"10.0.0.2", "3128"}});
  EXPECT_EQ(Fuzzy("<p>1.2.3.4.83 page</p>\n" + table + "<p>2024-05-01</p>\n"),
            (Lines{"10.0.0.1:8080@HTTP$#", "10.0.0.2:3128@HTTP$#", "2.3.4.83:2024@HTTP$#"}));
  // With more than kFuzzyPassLimit rows read from tables, no fuzzy pass runs, as after a
  // strict pass that found that many: no decoy becomes a proxy.
  std::string page;
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 201; ++i) rows.push_back({qb::Format("10.1.%d.%d", i / 100, i % 100), "8080"});
  for (int t = 0; t < 3; ++t)
    page += qb::Format("<p>%d.2.3.4.83 page 2024-05-0%d</p>\n", t + 1, t + 1) + Table({"IP", "端口"}, rows);
  const Lines found = Fuzzy(page);
  EXPECT_EQ(found.size(), 3u * 201u);
  for (const std::string& l : found) EXPECT_EQ(l.rfind("10.1.", 0), 0u) << l;
}

TEST(TableParts, ReadingInPartsGivesTheRowsOfOneReading) {
  // Tables whose header, rows and cells fall on both sides of every possible cut.
  std::string text = "<p>1.2.3.4.5 intro</p>\n";
  text += Table({"端口", "IP"}, {{"8080", "1.1.1.1"}, {"8081", "1.1.1.2"}, {"8082", "1.1.1.3"}}, "th");
  text += "<table><tr>\n<td data-title=\"IP\">2.2.2.1</td>\n<td data-title=\"Port\">81</td></tr>\n";
  text += Table({"Version", "Size"}, {{"3.3.3.3", "99"}}, "th");
  text += Table({}, {{"4.4.4.1", "8000", "socks4"}, {"4.4.4.2", "8001"}});
  text += "<tr><td>5.5.5.1</td><td>90";  // a row that the text's end ends
  const Lines whole = RowsOf(text);
  ASSERT_EQ(whole.size(), 7u);
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    // Two stretches at every cut and three at some, given their columns in text order.
    for (std::size_t second : {text.size(), std::min(text.size(), cut + 37)}) {
      std::vector<std::size_t> at{0, cut, second, text.size()};
      TableColumns columns;
      Lines got;
      for (std::size_t k = 0; k + 1 < at.size(); ++k) {
        if (at[k] >= at[k + 1] && k + 2 < at.size()) continue;
        TablePart part;
        ReadTablePart(text, at[k], at[k + 1], part);
        part.Resolve(columns);
        if (part.setsColumns) columns = part.columns;
        for (const TableRow& r : part.rows) got.push_back(r.line);
      }
      ASSERT_EQ(got, whole) << "cut at " << cut << " and " << second;
    }
  }
}

// The command reads the tables in parts of a quarter MiB on several threads: a table
// far longer than a part, its header parts away from most rows, rows spread over lines
// that a part's end cuts, and Chinese headers in GBK give what one reading of the
// decoded page gives, each proxy once, and nothing of the decoys around the tables.
TEST(TableCli, ExtractFuzzyReadsTablesInPartsAsOneReading) {
  std::mt19937 engine(5);
  // The engine's numbers as the unsigned that "%u" reads.
  auto rng = [&] { return static_cast<unsigned>(engine()); };
  auto address = [&] {
    return qb::Format("%u.%u.%u.%u", 1 + rng() % 223, rng() % 256, rng() % 256, 1 + rng() % 254);
  };
  std::string page = "<html><body>\n";
  // One table of about 1.5 MiB with its header at the top, rows on three lines each.
  page += EncodeGb18030(
      "<p>v7.6.18.77 共 12 页</p>\n<table><tr><th>序号</th><th>端口</th><th>IP地址</th><th>类型</th></tr>\n");
  for (int r = 0; page.size() < (std::size_t{3} << 19); ++r)
    page +=
        EncodeGb18030(qb::Format("<tr><td>%d</td>\n<td>%u</td>\n<td>%s</td><td>%s</td></tr>\n", r,
                                 1024 + rng() % 60000, address().c_str(), r % 3 == 0 ? "socks5" : "HTTP"));
  page += "</table>\n";
  // Then many small tables of other layouts, each after a decoy.
  while (page.size() < (std::size_t{3} << 20)) {
    page += qb::Format("<p>%u.2.3.4.83 page 2024-05-01</p>\n", 1 + rng() % 9);
    const int layout = static_cast<int>(rng() % 3);
    page += "<table>\n";
    if (layout == 0) page += EncodeGb18030("<tr><td>地址</td><td>端口号</td><td>匿名度</td></tr>\n");
    for (int r = 0; r < 20; ++r) {
      const std::string a = address();
      const unsigned port = 1024 + rng() % 60000;
      if (layout == 2)
        page += qb::Format("<TR><TD DATA-TITLE=\"Port\">%u<TD data-title=\"IP\"><span>%s</span></TR>\n", port,
                           a.c_str());
      else
        page += EncodeGb18030(qb::Format("<tr><td>%s</td><td>%u</td><td>高匿</td></tr>\n", a.c_str(), port));
    }
    page += "</table>\n";
  }
  page += "</body></html>\n";

  const std::string decoded = qbtest::PasteDecoded(page);
  std::string expected;
  std::set<std::string> keys;
  for (const TableRow& row : ReadProxyTables(decoded)) {
    ProxyFields f;
    ASSERT_TRUE(ParseProxyLine(row.line, f)) << row.line;
    if (keys.insert(ProxyKey(f.addr, f.port, f.type)).second) expected += row.line + "\n";
  }
  ASSERT_GT(keys.size(), 20000u);
  EXPECT_NE(expected.find("@SOCKS5$#"), std::string::npos);

  qbtest::TempDir dir;
  const std::string path = dir.File("tables.html");
  qbtest::WriteFile(path, page);
  const qbtest::CliResult r = qbtest::RunCli({"extract", "--fuzzy", path});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out == expected) << "the command's rows differ from one reading of the page";
  // More rows than the fuzzy pass allows for: no decoy is read, and without --fuzzy
  // the tables give nothing.
  EXPECT_EQ(r.out.find("2.3.4.83"), std::string::npos);
  EXPECT_EQ(qbtest::RunCli({"extract", path}).out, "");
}

// A small page: the rows, then the fuzzy pass over what is not a table.
TEST(TableCli, ExtractFuzzyOnASmallGbkPage) {
  qbtest::TempDir dir;
  const std::string path = dir.File("page.html");
  qbtest::WriteFile(path,
                    EncodeGb18030("<p>v7.6.18.77 before</p>\n"
                                  "<tr><td data-title=\"IP\">101.0.0.26</td><td data-title=\"PORT\">8000</td>"
                                  "<td data-title=\"类型\">socks4</td></tr>\n"
                                  "<p>代理 5.6.7.8:3128 备用 9.9.9.9 8080</p>\n"));
  const qbtest::CliResult r = qbtest::RunCli({"extract", "--fuzzy", path});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "5.6.7.8:3128@HTTP$#\n101.0.0.26:8000@SOCKS4$#\n9.9.9.9:8080@HTTP$#\n");
}

// A file import with fuzzy matching reads the tables of a saved page as a paste does:
// in memory, read in blocks, in parts on several threads with tables across the parts,
// and from a pipe, which cannot be read twice.
TEST(TableImport, AFileReadsTheTablesOfASavedPage) {
  std::string page =
      EncodeGb18030("<p>共 12 页</p>\n<table>\n<tr><th>端口</th><th>IP地址</th><th>类型</th></tr>\n");
  Lines want;
  for (int r = 0; r < 150; ++r) {
    page += EncodeGb18030(qb::Format("<tr><td>%d</td>\r\n<td>10.2.%d.%d</td><td>%s</td></tr>\n", 1000 + r,
                                     r / 100, r % 100 + 1, r % 2 ? "socks5" : "高匿 HTTP"));
    want.push_back(
        qb::Format("10.2.%d.%d:%d@%s$#", r / 100, r % 100 + 1, 1000 + r, r % 2 ? "SOCKS5" : "HTTP"));
  }
  page += "</table>\n<p>9.9.9.9 8080</p>\n";
  Lines wantFuzzy = want;
  wantFuzzy.push_back("9.9.9.9:8080@HTTP$#");

  Lines inMemory;
  ExtractFileText(page, true, [&](std::string_view l) { inMemory.emplace_back(l); });
  EXPECT_EQ(inMemory, wantFuzzy);
  Lines strictOnly;
  ExtractFileText(page, false, [&](std::string_view l) { strictOnly.emplace_back(l); });
  EXPECT_EQ(strictOnly, Lines{});

  qbtest::TempDir dir;
  const std::string path = dir.File("saved.html");
  qbtest::WriteFile(path, page);
  Lines fromFile;
  ASSERT_EQ(ExtractFile(path, true, [&](std::string_view l) { fromFile.emplace_back(l); }),
            std::optional<std::size_t>(wantFuzzy.size()));
  EXPECT_EQ(fromFile, wantFuzzy);

  auto rowsOf = [](const CProxyListModel& list) {
    Lines rows;
    for (int r = 0; r < list.RowCount(); ++r) {
      const CProxyEntry* e = list.Entry(r);
      rows.push_back(std::string(e->Addr()) + ":" + std::string(e->Port()) + "@" + std::string(e->Type()) +
                     "$#");
    }
    return rows;
  };
  for (std::size_t partBytes : {std::size_t{100}, std::size_t{4096}, std::size_t{1} << 20}) {
    for (unsigned threads : {1u, 3u}) {
      CProxyListModel list;
      const auto found = AddProxiesFromFile(list, path, true, 1, FileImportOptions{partBytes, threads});
      EXPECT_EQ(found, std::optional<std::size_t>(wantFuzzy.size())) << partBytes << " " << threads;
      EXPECT_EQ(rowsOf(list), wantFuzzy) << partBytes << " " << threads;
    }
  }

  // A pipe: one part, read once.
  const std::string fifo = dir.File("page.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    std::FILE* f = std::fopen(fifo.c_str(), "wb");
    std::fwrite(page.data(), 1, page.size(), f);
    std::fclose(f);
  });
  CProxyListModel piped;
  const auto found = AddProxiesFromFile(piped, fifo, true, 1, FileImportOptions{4096, 2});
  writer.join();
  EXPECT_EQ(found, std::optional<std::size_t>(wantFuzzy.size()));
  EXPECT_EQ(rowsOf(piped), wantFuzzy);
}
