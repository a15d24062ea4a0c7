#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/Text.h"
#include "proxy/IpLocation.h"
#include "proxy/IpLocationWriter.h"
#include "support/TempDir.h"

using namespace qb;

namespace {

std::string Dotted(std::uint32_t v) {
  return qb::Format("%u.%u.%u.%u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
}

std::string MakeFile(const std::vector<IpLocationRange>& ranges) {
  std::string bytes;
  std::string error;
  EXPECT_TRUE(qb::BuildIpLocationFile(ranges, bytes, error)) << error;
  return bytes;
}

// count ranges of 256 addresses each, with a gap of 256 between neighbours, starting
// at 10.0.0.0; texts name the range's index.
std::vector<IpLocationRange> Ranges(int count) {
  std::vector<IpLocationRange> ranges;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t first = (10u << 24) + std::uint32_t(i) * 512;
    ranges.push_back(
        {Dotted(first), Dotted(first + 255), "C" + std::to_string(i), "A" + std::to_string(i), "x"});
  }
  return ranges;
}

struct Found {
  bool ok = false;
  std::string country = "<untouched>";
  std::string area = "<untouched>";
};

Found Lookup(const std::string& file, const std::string& address) {
  Found f;
  f.ok = LookupIpLocation(file, address, f.country, f.area);
  return f;
}

void PutLe(std::string& bytes, std::size_t at, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 255);
}

TEST(IpLocationKey, TakesLeadingDigitsBlanksAndDotsAndPadsEachPart) {
  std::string a, b;
  ASSERT_TRUE(qb::IpLocationKey(" 61.50.172.138:80", a));
  ASSERT_TRUE(qb::IpLocationKey("61.50.172.138", b));
  EXPECT_EQ(a, "061.050.172.138");
  EXPECT_EQ(b, a);

  std::string k;
  ASSERT_TRUE(qb::IpLocationKey("1.2.3.4.5", k));
  EXPECT_EQ(k, "001.002.003.004");  // the fourth part is atol of "4.5"
  ASSERT_TRUE(qb::IpLocationKey("1..3.", k));
  EXPECT_EQ(k, "001.000.003.000");
  ASSERT_TRUE(qb::IpLocationKey("1.2.3.99999999999999", k));
  EXPECT_EQ(k, "001.002.003.2147483647");

  k = "unchanged";
  EXPECT_FALSE(qb::IpLocationKey("1.2.3", k));
  EXPECT_FALSE(qb::IpLocationKey("   ", k));
  EXPECT_FALSE(qb::IpLocationKey("", k));
  EXPECT_FALSE(qb::IpLocationKey("host.example.com", k));
  EXPECT_FALSE(qb::IpLocationKey("1.2:3.4.5", k));  // the run ends at ':'
  EXPECT_EQ(k, "unchanged");
}

TEST(IpLocation, EveryRangeIsFoundAtItsEdgesAndInsideForEveryFileSize) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  // Small sizes cover the sentinel arithmetic (the search probes 1..N-1 only);
  // the larger ones cover deep searches.
  for (int count : {1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 100, 257}) {
    SCOPED_TRACE("ranges: " + std::to_string(count));
    qbtest::WriteFile(file, MakeFile(Ranges(count)));
    for (int i = 0; i < count; ++i) {
      const std::uint32_t first = (10u << 24) + std::uint32_t(i) * 512;
      for (std::uint32_t a : {first, first + 1, first + 128, first + 255}) {
        const Found f = Lookup(file, Dotted(a));
        ASSERT_TRUE(f.ok) << Dotted(a);
        EXPECT_EQ(f.country, "C" + std::to_string(i));
        EXPECT_EQ(f.area, "A" + std::to_string(i));
      }
      // The gap after each range and the address just before it.
      EXPECT_FALSE(Lookup(file, Dotted(first + 256)).ok) << Dotted(first + 256);
      EXPECT_FALSE(Lookup(file, Dotted(first + 511)).ok) << Dotted(first + 511);
      EXPECT_FALSE(Lookup(file, Dotted(first - 1)).ok) << Dotted(first - 1);
    }
    EXPECT_FALSE(Lookup(file, "0.0.0.0").ok);
    EXPECT_FALSE(Lookup(file, "255.255.255.255").ok);
    EXPECT_FALSE(Lookup(file, "999.999.999.999").ok);
    EXPECT_FALSE(Lookup(file, "1000.0.0.0").ok);
  }
}

TEST(IpLocation, OutsideEveryRangeLeavesTheTextsUntouched) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  qbtest::WriteFile(file,
                    MakeFile({{"1.0.0.0", "1.0.0.255", "a", "b", ""}, {"3.0.0.0", "3.0.0.0", "c", "d", ""}}));
  for (const char* addr : {"0.255.255.255", "1.0.1.0", "2.200.0.0", "3.0.0.1", "200.1.1.1"}) {
    const Found f = Lookup(file, addr);
    EXPECT_FALSE(f.ok) << addr;
    EXPECT_EQ(f.country, "<untouched>");
    EXPECT_EQ(f.area, "<untouched>");
  }
  EXPECT_TRUE(Lookup(file, "3.0.0.0").ok);
  EXPECT_TRUE(Lookup(file, "  1.0.0.7:8080@HTTP").ok);
}

TEST(IpLocation, EmptyFileWithOnlySentinelsFindsNothing) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  qbtest::WriteFile(file, MakeFile({}));
  for (const char* addr : {"0.0.0.0", "000.000.000.000", "999.999.999.999", "1.2.3.4"})
    EXPECT_FALSE(Lookup(file, addr).ok) << addr;
}

TEST(IpLocation, UnsortedInputIsSortedAndOverlapsAreRefused) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  qbtest::WriteFile(file, MakeFile({{"9.0.0.0", "9.255.255.255", "nine", "", ""},
                                    {"2.0.0.0", "2.0.0.9", "two", "", ""},
                                    {"100.0.0.0", "100.0.0.0", "hundred", "", ""}}));
  EXPECT_EQ(Lookup(file, "2.0.0.5").country, "two");
  EXPECT_EQ(Lookup(file, "9.1.2.3").country, "nine");
  EXPECT_EQ(Lookup(file, "100.0.0.0").country, "hundred");
  // Byte-wise order of the padded texts is numeric order: 100 sorts after 9.
  EXPECT_FALSE(Lookup(file, "10.0.0.0").ok);

  std::string bytes, error;
  EXPECT_FALSE(qb::BuildIpLocationFile(
      {{"1.0.0.0", "1.0.0.10", "", "", ""}, {"1.0.0.10", "1.0.0.20", "", "", ""}}, bytes, error));
  EXPECT_NE(error.find("overlap"), std::string::npos) << error;
  EXPECT_FALSE(qb::BuildIpLocationFile({{"1.0.0.9", "1.0.0.1", "", "", ""}}, bytes, error));
  EXPECT_FALSE(qb::BuildIpLocationFile({{"1.0.0.256", "1.0.1.0", "", "", ""}}, bytes, error));
  EXPECT_FALSE(qb::BuildIpLocationFile({{"1.0.0", "1.0.0.1", "", "", ""}}, bytes, error));
}

TEST(IpLocation, AddressWithoutThreeDotsFailsEvenAgainstACatchAllRange) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  qbtest::WriteFile(file, MakeFile({{"0.0.0.0", "255.255.255.255", "all", "all", ""}}));
  EXPECT_TRUE(Lookup(file, "0.0.0.0").ok);
  EXPECT_TRUE(Lookup(file, "...").ok);  // three dots: key 000.000.000.000
  for (const char* addr : {"1.2.3", "1.2", "", "   ", "abc", "1.2.3x.4"}) {
    const Found f = Lookup(file, addr);
    EXPECT_FALSE(f.ok) << addr;
    EXPECT_EQ(f.country, "<untouched>");
  }
}

TEST(IpLocation, MissingOrUnreadableFileFindsNothing) {
  qbtest::TempDir dir;
  EXPECT_FALSE(Lookup(dir.File("wry.dll"), "1.2.3.4").ok);
  EXPECT_FALSE(Lookup(dir.Path(), "1.2.3.4").ok);  // a directory

  // Without --wry the command line reads wry.dll from the data directory it was given;
  // without one there, the other sources (here none) are asked, without a complaint.
  const auto none =
      qbtest::RunCli({"--data-dir", dir.Path(), "lookup", "--geoip-dir", dir.Path(), "1.2.3.4"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, "");
  qbtest::WriteFile(dir.File(kIpLocationFileName), MakeFile({{"1.2.3.0", "1.2.3.255", "here", "there", ""}}));
  const auto found = qbtest::RunCli({"--data-dir", dir.Path(), "lookup", "1.2.3.4"});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(found.out, "here there\nsource: wry.dll\n");
}

TEST(IpLocation, ChineseTextsRoundTripAndAreCutAtWholeCharacters) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  const std::string longCountry = "中华人民共和国北京市";  // 20 GB18030 bytes
  const std::string longArea = "北京市海淀区中关村大街一号楼三单元五层甲乙丙丁戊己庚辛壬癸子丑";  // 62
  qbtest::WriteFile(file, MakeFile({{"61.50.172.0", "61.50.172.255", "中国", "北京市 联通ADSL", "备注"},
                                    {"61.50.173.0", "61.50.173.255", longCountry, longArea, ""},
                                    {"61.50.174.0", "61.50.174.255", "A中国", "😀😀😀😀😀😀😀😀😀😀😀😀", ""}}));
  Found f = Lookup(file, " 61.50.172.138:80");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.country, "中国");
  EXPECT_EQ(f.area, "北京市 联通ADSL");

  f = Lookup(file, "61.50.173.1");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.country, "中华人民共和");  // 12 bytes: a seventh character would need 14
  EXPECT_EQ(f.area, "北京市海淀区中关村大街一号楼三单元五层甲乙丙丁");  // 46 bytes exactly

  f = Lookup(file, "61.50.174.1");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.country, "A中国");
  EXPECT_EQ(f.area, "😀😀😀😀😀😀😀😀😀😀😀");  // four bytes each in GB18030: 11 fit in 46

  EXPECT_EQ(qb::Gb18030Field("中国", 3).size(), 2u);
  EXPECT_EQ(qb::Gb18030Field("ab", 13), "ab");
}

TEST(IpLocation, HostileHeadersReturnFalseWithoutReadingOutOfBounds) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  const std::string good = MakeFile(Ranges(40));
  const std::string addr = "10.0.40.5";  // record 21 of 41: the first probe
  qbtest::WriteFile(file, good);
  ASSERT_TRUE(Lookup(file, addr).ok);

  struct Patch {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int bytes;
  };
  const Patch patches[] = {
      {"N zero", 4, 0, 4},
      {"N negative", 4, 0xFFFFFFFFu, 4},
      {"N most negative", 4, 0x80000000u, 4},
      {"N huge", 4, 0x7FFFFFFFu, 4},
      {"D beyond the file", 8, 0xFFFF, 2},
      {"L zero", 10, 0, 2},
      {"L 104", 10, 104, 2},
      {"L huge", 10, 0xFFFF, 2},
  };
  for (const Patch& p : patches) {
    std::string bytes = good;
    PutLe(bytes, p.at, p.value, p.bytes);
    qbtest::WriteFile(file, bytes);
    const Found f = Lookup(file, addr);
    EXPECT_FALSE(f.ok) << p.what;
    EXPECT_EQ(f.country, "<untouched>") << p.what;
  }

  // Cut anywhere: either the probed records are still whole and the answer is the
  // right one, or the lookup gives up.
  for (std::size_t len = 0; len < good.size(); len += 7) {
    qbtest::WriteFile(file, good.substr(0, len));
    const Found f = Lookup(file, addr);
    if (f.ok) {
      EXPECT_EQ(f.country, "C20") << len;
    }
    EXPECT_FALSE(Lookup(file, "10.0.80.0").ok) << len;  // beyond every range
  }
  qbtest::WriteFile(file, good.substr(0, 12 + 105 * 22 - 1));  // record 21 short by one byte
  EXPECT_FALSE(Lookup(file, addr).ok);
}

TEST(IpLocation, RandomGarbageNeverCrashesOrHangs) {
  qbtest::TempDir dir;
  const std::string file = dir.File("wry.dll");
  std::mt19937 rng(12345);
  const std::string good = MakeFile(Ranges(10));
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    // Keep the header plausible half of the time so the search gets going.
    const std::size_t from = (round % 2) ? 12 : 0;
    for (int k = 0; k < 20; ++k) bytes[from + rng() % (bytes.size() - from)] = static_cast<char>(rng());
    qbtest::WriteFile(file, bytes);
    Found f = Lookup(file, Dotted((10u << 24) + rng() % 6000));
    if (f.ok) {
      EXPECT_TRUE(qb::IsValidUtf8(f.country) && qb::IsValidUtf8(f.area));
    }
  }
}

TEST(IpLocationCsv, ParsesQuotedFieldsCommentsAndLegacyLines) {
  std::vector<IpLocationRange> ranges;
  std::string error;
  const std::string csv =
      "\xEF\xBB\xBF# first,last,country,area,extra\r\n"
      "1.0.0.0, 1.0.0.255 ,中国,\"北京, 海淀\"\r\n"
      "\n"
      "2.0.0.0,2.0.0.0,\"say \"\"hi\"\"\",,more\n" +
      qb::EncodeGb18030("3.0.0.0,3.0.0.1,上海,浦东") + "\n";
  ASSERT_TRUE(qb::ParseIpLocationCsv(csv, ranges, error)) << error;
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].last, "1.0.0.255");
  EXPECT_EQ(ranges[0].area, "北京, 海淀");
  EXPECT_EQ(ranges[1].country, "say \"hi\"");
  EXPECT_EQ(ranges[1].area, "");
  EXPECT_EQ(ranges[1].extra, "more");
  EXPECT_EQ(ranges[2].country, "上海");

  for (const char* bad : {"1.0.0.0,1.0.0.1,a\n", "1.0.0.0,1.0.0.1,a,b,c,d\n", "1.0.0.0,1.0.0.1,\"a,b\n",
                          "1.0.0,1.0.0.1,a,b\n"}) {
    ranges.clear();
    EXPECT_FALSE(qb::ParseIpLocationCsv(std::string("1.1.1.1,1.1.1.1,ok,ok\n") + bad, ranges, error)) << bad;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  }
}

TEST(IpLocationCli, PrintsCountryAndAreaOrExitsOneOrTwo) {
  qbtest::TempDir dir;
  const std::string file = dir.File("loc.dat");
  qbtest::WriteFile(file, MakeFile({{"61.50.172.0", "61.50.172.255", "中国", "北京市", ""}}));

  qbtest::CliResult r = qbtest::RunCli({"lookup", "--wry", file, "61.50.172.138"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "中国 北京市\nsource: loc.dat\n");

  // Not in the file, nor in the (empty) system directory.
  r = qbtest::RunCli({"lookup", "--wry", file, "--geoip-dir", dir.Path(), "61.50.173.1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");

  // Without --wry the file is wry.dll in the data directory.
  qbtest::WriteFile(dir.File("wry.dll"), qbtest::ReadFile(file));
  r = qbtest::RunCli({"--data-dir", dir.Path(), "lookup", "61.50.172.1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "中国 北京市\nsource: wry.dll\n");

  // A file that cannot be read and an input that is no address are mistakes to be told
  // about, not an address that is simply not in the file.
  r = qbtest::RunCli({"lookup", "--wry", dir.File("none"), "61.50.172.1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cannot read " + dir.File("none")), std::string::npos) << r.err;
  r = qbtest::RunCli({"lookup", "--wry", dir.Path(), "61.50.172.1"});  // a directory
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
  for (const std::string bad : {"61.50.172", "61.50.172.1x", "host.example", "61.50.172.300", ""}) {
    r = qbtest::RunCli({"lookup", "--wry", file, bad});
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_NE(r.err.find("not an IP address: " + bad), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << bad;
  }
  EXPECT_EQ(qbtest::RunCli({"lookup"}).exitCode, 2);
  EXPECT_EQ(qbtest::RunCli({"lookup", "--wry"}).exitCode, 2);
  EXPECT_EQ(qbtest::RunCli({"lookup", "1.2.3.4", "5.6.7.8"}).exitCode, 2);
  r = qbtest::RunCli({"lookup", "--help", "--lang=en"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--wry"), std::string::npos);
}

}  // namespace
