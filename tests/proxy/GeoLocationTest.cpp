#include <GeoIP.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "proxy/GeoLocation.h"
#include "proxy/IpLocation.h"
#include "proxy/IpLocationWriter.h"
#include "support/TempDir.h"

using namespace qb;
using qbtest::TempDir;

namespace {

const std::string kSystemDir = "/usr/share/GeoIP";

// A database written by the tests' perl script (libmaxmind-db-writer-perl).
void MakeMmdb(const std::string& path, const std::string& type, long long epoch) {
  QProcess perl;
  perl.start("/usr/bin/perl", {QB_SOURCE_DIR "/tests/support/make-mmdb.pl", QString::fromStdString(path),
                               QString::fromStdString(type), QString::number(epoch)});
  ASSERT_TRUE(perl.waitForFinished(60000));
  ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();
}

void MakeWry(const std::string& path) {
  std::string bytes, error;
  ASSERT_TRUE(BuildIpLocationFile({{"8.8.8.0", "8.8.8.255", "美国", "加利福尼亚州", ""}}, bytes, error))
      << error;
  qbtest::WriteFile(path, bytes);
}

std::string Garbage(std::size_t n) {
  std::mt19937 rng(7);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class GeoLocation : public ::testing::Test {
 protected:
  // Every test sees its own file changes at once.
  void SetUp() override { SetGeoRecheckInterval(std::chrono::milliseconds(0)); }
  void TearDown() override { SetGeoRecheckInterval(std::chrono::milliseconds(1000)); }

  GeoLookup Find(std::string_view address, UiLanguage language = UiLanguage::Chinese,
                 const std::string& systemDir = kSystemDir) {
    GeoSources s;
    s.dataDir = dir.Path();
    s.systemDir = systemDir;
    return LocateAddressIn(s, address, language);
  }

  TempDir dir;
};

TEST_F(GeoLocation, SystemCountryDatabaseAnswersIpv4AndIpv6InBothLanguages) {
  ASSERT_TRUE(qbtest::ReadFile(kSystemDir + "/GeoIP.dat") != "<missing>")
      << "geoip-database is not installed";
  EXPECT_EQ(Find("8.8.8.8").result, (GeoResult{"US", "美国", "", "GeoIP.dat"}));
  EXPECT_EQ(Find("8.8.8.8", UiLanguage::English).result, (GeoResult{"US", "United States", "", "GeoIP.dat"}));
  EXPECT_EQ(Find("2001:4860:4860::8888").result, (GeoResult{"US", "美国", "", "GeoIPv6.dat"}));
  EXPECT_EQ(Find("[2001:4860:4860::8888]").result, Find("2001:4860:4860::8888").result);
  // An IPv4 address in IPv6 form is the IPv4 address.
  EXPECT_EQ(Find("::ffff:8.8.8.8").result, Find("8.8.8.8").result);
  // The text of a proxy row: a port after the address, as the location file allows.
  EXPECT_EQ(Find(" 8.8.8.8:3128").result, Find("8.8.8.8").result);
  EXPECT_FALSE(Find("127.0.0.1").result);
  EXPECT_FALSE(Find("proxy.example").result);
  EXPECT_FALSE(Find("8.8.8.256").result);
  EXPECT_TRUE(Find("8.8.8.8").problems.empty());
  // The default system directory is Debian's.
  EXPECT_EQ(LocateAddress(dir.Path(), "8.8.8.8", UiLanguage::Chinese), Find("8.8.8.8").result);
}

TEST_F(GeoLocation, MmdbNamesFollowTheLanguageWithEnglishForAMissingChineseName) {
  MakeMmdb(dir.File("test-city.mmdb"), "Test-City", 1700000000);
  EXPECT_EQ(Find("198.51.100.7").result, (GeoResult{"DE", "德国", "黑森州 法兰克福", "test-city.mmdb"}));
  EXPECT_EQ(Find("198.51.100.7", UiLanguage::English).result,
            (GeoResult{"DE", "Germany", "Hesse Frankfurt", "test-city.mmdb"}));
  EXPECT_EQ(Find("203.0.113.9").result, (GeoResult{"NZ", "New Zealand", "Wellington", "test-city.mmdb"}));
  EXPECT_EQ(Find("2001:db8:1::5").result, (GeoResult{"JP", "日本", "东京", "test-city.mmdb"}));
  EXPECT_EQ(Find("2001:db8:1::5", UiLanguage::English).result,
            (GeoResult{"JP", "Japan", "Tokyo", "test-city.mmdb"}));
  // Only the registered country: that one.
  EXPECT_EQ(Find("192.0.2.1", UiLanguage::English).result, (GeoResult{"FR", "France", "", "test-city.mmdb"}));
  EXPECT_EQ(GeoRemark(*Find("198.51.100.7").result), "德国 黑森州 法兰克福");
  EXPECT_EQ(GeoRemark(GeoResult{"US", "美国", "", "GeoIP.dat"}), "美国");
}

// A named proxy is never placed by its name, however much the name looks like an
// address; an IPv6 row's bracketed text finds its address.
TEST_F(GeoLocation, NamesAreNeverPlacedAndIpv6RowsAre) {
  MakeWry(dir.File(kIpLocationFileName));
  MakeMmdb(dir.File("test-city.mmdb"), "Test-City", 1700000000);
  ASSERT_TRUE(Find("8.8.8.8").result);
  ASSERT_TRUE(Find("198.51.100.7").result);
  for (const char* name : {"8.8.8.8.gw.example", "198.51.100.7.nip.example", "8.8.8.8a", "gw.example"}) {
    const GeoLookup found = Find(name);
    EXPECT_FALSE(found.result) << name << ": " << found.result.value_or(GeoResult{}).source;
  }
  EXPECT_EQ(Find("[2001:db8:1::5]").result, (GeoResult{"JP", "日本", "东京", "test-city.mmdb"}));
  // The location file's own readings of an address stay.
  EXPECT_EQ(Find("008.008.008.008").result, Find("8.8.8.8").result);
  EXPECT_EQ(Find("8.8.8.8:3128").result, Find("8.8.8.8").result);
}

TEST_F(GeoLocation, ChainTriesWryThenMmdbCityBeforeCountryThenTheSystem) {
  MakeWry(dir.File(kIpLocationFileName));
  MakeMmdb(dir.File("a-country.mmdb"), "Test-Country", 1800000000);
  MakeMmdb(dir.File("b-city.mmdb"), "Test-City", 1700000000);

  // The location file first; its Chinese country name gives the code.
  EXPECT_EQ(Find("8.8.8.8").result, (GeoResult{"US", "美国", "加利福尼亚州", "wry.dll"}));
  // It knows no IPv6 and not this range: the databases answer, the city one first
  // although the country one is newer and sorts first by name.
  EXPECT_EQ(Find("198.51.100.7").result.value_or(GeoResult{}).source, "b-city.mmdb");
  ASSERT_EQ(std::remove(dir.File(kIpLocationFileName).c_str()), 0);
  EXPECT_EQ(Find("8.8.8.8").result, (GeoResult{"CH", "瑞士", "", "b-city.mmdb"}));

  // A database replaced by another is opened again.
  ASSERT_EQ(std::remove(dir.File("b-city.mmdb").c_str()), 0);
  EXPECT_EQ(Find("198.51.100.7").result, (GeoResult{"DE", "德国", "", "a-country.mmdb"}));
  MakeMmdb(dir.File("a-country.mmdb"), "Test-City", 1800000001);
  EXPECT_EQ(Find("198.51.100.7").result, (GeoResult{"DE", "德国", "黑森州 法兰克福", "a-country.mmdb"}));

  // Without the user's databases, the system's.
  ASSERT_EQ(std::remove(dir.File("a-country.mmdb").c_str()), 0);
  EXPECT_EQ(Find("8.8.8.8").result, (GeoResult{"US", "美国", "", "GeoIP.dat"}));
  // Of two city databases the newer answers.
  MakeMmdb(dir.File("old.mmdb"), "Test-City", 1600000000);
  MakeMmdb(dir.File("new.mmdb"), "Test-City", 1650000000);
  EXPECT_EQ(Find("8.8.8.8").result.value_or(GeoResult{}).source, "new.mmdb");
}

TEST_F(GeoLocation, DamagedFilesAreNamedAndPassedOver) {
  // Garbage, and a sound database cut in half (its metadata sits at the end).
  qbtest::WriteFile(dir.File("garbage.mmdb"), Garbage(4000));
  MakeMmdb(dir.File("whole.mmdb"), "Test-City", 1700000000);
  const std::string whole = qbtest::ReadFile(dir.File("whole.mmdb"));
  ASSERT_EQ(std::remove(dir.File("whole.mmdb").c_str()), 0);
  qbtest::WriteFile(dir.File("cut.mmdb"), whole.substr(0, whole.size() / 2));
  qbtest::WriteFile(dir.File("empty.mmdb"), "");

  const GeoLookup found = Find("8.8.8.8");
  EXPECT_EQ(found.result, (GeoResult{"US", "美国", "", "GeoIP.dat"}));
  ASSERT_EQ(found.problems.size(), 3u);
  for (const GeoProblem& p : found.problems)
    EXPECT_NE(p.reason.find("MaxMind"), std::string::npos) << p.reason;
  EXPECT_EQ(found.problems[0].file, dir.File("cut.mmdb"));

  // System databases damaged in the same ways; the test's own directory stands for the system's.
  TempDir system;
  qbtest::WriteFile(system.File("GeoIP.dat"), Garbage(5000));
  const std::string real = qbtest::ReadFile(kSystemDir + "/GeoIPv6.dat");
  qbtest::WriteFile(system.File("GeoIPv6.dat"), real.substr(0, real.size() / 3));
  const GeoLookup v4 = Find("8.8.8.8", UiLanguage::English, system.Path());
  EXPECT_FALSE(v4.result);
  ASSERT_EQ(v4.problems.size(), 4u);
  EXPECT_EQ(v4.problems.back().file, system.File("GeoIP.dat"));
  EXPECT_NE(v4.problems.back().reason.find("damaged"), std::string::npos);
  const GeoLookup v6 = Find("2001:4860:4860::8888", UiLanguage::English, system.Path());
  EXPECT_FALSE(v6.result);
  EXPECT_EQ(v6.problems.back().file, system.File("GeoIPv6.dat"));
  // A sound database of the other family in its place.
  qbtest::WriteFile(system.File("GeoIPv6.dat"), qbtest::ReadFile(kSystemDir + "/GeoIP.dat"));
  const GeoLookup swapped = Find("2001:4860:4860::8888", UiLanguage::English, system.Path());
  EXPECT_FALSE(swapped.result);
  EXPECT_EQ(swapped.problems.back().reason, "not a GeoIP IPv6 country database (edition 1)");

  // The command line says which file and why, and still answers from the next source.
  const qbtest::CliResult r = qbtest::RunCli({"--lang", "en", "--data-dir", dir.Path(), "lookup", "8.8.8.8"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "United States\nsource: GeoIP.dat\n");
  EXPECT_NE(r.err.find(dir.File("garbage.mmdb") + ": not a readable MaxMind database"), std::string::npos)
      << r.err;
}

TEST_F(GeoLocation, DatabaseRewrittenInPlaceUnderAnOpenOneIsNoCrash) {
  // Copying a new database over the old one truncates the same file: the open one
  // must not see it shrink under its feet until the next check.
  MakeMmdb(dir.File("city.mmdb"), "Test-City", 1700000000);
  SetGeoRecheckInterval(std::chrono::hours(1));
  const GeoResult swiss{"CH", "瑞士", "", "city.mmdb"};
  ASSERT_EQ(Find("8.8.8.8").result, swiss);
  qbtest::WriteFile(dir.File("city.mmdb"), "");
  EXPECT_EQ(Find("8.8.8.8").result, swiss);
  EXPECT_EQ(Find("2001:db8:1::1").result, (GeoResult{"JP", "日本", "东京", "city.mmdb"}));
  SetGeoRecheckInterval(std::chrono::milliseconds(0));
  const GeoLookup now = Find("8.8.8.8");
  EXPECT_EQ(now.result, (GeoResult{"US", "美国", "", "GeoIP.dat"}));
  ASSERT_EQ(now.problems.size(), 1u);
  EXPECT_EQ(now.problems[0].file, dir.File("city.mmdb"));
}

TEST_F(GeoLocation, CommandLineTakesIpv6AndNamesTheSource) {
  MakeMmdb(dir.File("test-city.mmdb"), "Test-City", 1700000000);
  qbtest::CliResult r = qbtest::RunCli({"--lang", "zh", "--data-dir", dir.Path(), "lookup", "2001:db8:1::9"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "日本 东京\nsource: test-city.mmdb\n");
  r = qbtest::RunCli({"--lang", "en", "--data-dir", dir.Path(), "lookup", "2001:db8:2::9"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  r = qbtest::RunCli({"--data-dir", dir.Path(), "lookup", "2001:db8::zz"});
  EXPECT_EQ(r.exitCode, 2);
  // The system directory can be another.
  TempDir empty;
  r = qbtest::RunCli({"--data-dir", empty.Path(), "lookup", "--geoip-dir", empty.Path(), "8.8.8.8"});
  EXPECT_EQ(r.exitCode, 1);
}

TEST_F(GeoLocation, ConcurrentLookupsAgree) {
  MakeMmdb(dir.File("test-city.mmdb"), "Test-City", 1700000000);
  SetGeoRecheckInterval(std::chrono::milliseconds(1));
  const std::vector<std::string> addresses = {"198.51.100.7", "2001:db8:1::5", "8.8.4.4", "1.1.1.1",
                                              "10.0.0.1"};
  std::vector<std::optional<GeoResult>> expected;
  for (const std::string& a : addresses) expected.push_back(Find(a).result);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::size_t k = (i + t) % addresses.size();
        if (LocateAddress(dir.Path(), addresses[k], UiLanguage::Chinese) != expected[k]) ++mismatches[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// The network beside the country: an ASN database among the data directory's files
// answers it; it is never taken for a place, and a place database knows no network.
TEST_F(GeoLocation, AnAsnDatabaseNamesTheNetworkAndNoPlace) {
  MakeMmdb(dir.File("test-asn.mmdb"), "Test-ASN", 1700000000);
  EXPECT_EQ(LocateNetwork(dir.Path(), "203.0.113.9"),
            (NetworkResult{64496, "Example Transit", "test-asn.mmdb"}));
  EXPECT_EQ(NetworkText(*LocateNetwork(dir.Path(), "203.0.113.9")), "AS64496 Example Transit");
  const std::optional<NetworkResult> v6 = LocateNetwork(dir.Path(), "[2001:db8:1::5]");
  ASSERT_TRUE(v6);
  EXPECT_EQ(NetworkText(*v6), "AS4200000000") << "a 32-bit number, and no owner";
  EXPECT_FALSE(LocateNetwork(dir.Path(), "198.51.100.1"));
  EXPECT_FALSE(LocateNetwork(dir.Path(), "gw.example"));
  EXPECT_FALSE(LocateNetwork("", "203.0.113.9"));
  EXPECT_FALSE(Find("203.0.113.9", UiLanguage::English, dir.File("none")).result) << "no country in it";

  MakeMmdb(dir.File("places.mmdb"), "Test-City", 1700000000);
  EXPECT_EQ(Find("203.0.113.9", UiLanguage::English, dir.File("none")).result->countryCode, "NZ");
  EXPECT_EQ(LocateNetwork(dir.Path(), "203.0.113.9")->source, "test-asn.mmdb");
  // A damaged ASN file is passed over.
  qbtest::WriteFile(dir.File("broken-asn.mmdb"), Garbage(4096));
  EXPECT_EQ(LocateNetwork(dir.Path(), "203.0.113.9")->asn, 64496u);
}

TEST(CountryNames, EveryCountryOfTheSystemDatabaseHasAChineseName) {
  for (unsigned id = 1; id < GeoIP_num_countries(); ++id) {
    const char* code = GeoIP_code_by_id(static_cast<int>(id));
    ASSERT_NE(code, nullptr);
    EXPECT_NE(ChineseCountryName(code), nullptr) << code;
  }
  EXPECT_STREQ(ChineseCountryName("US"), "美国");
  EXPECT_STREQ(ChineseCountryName("GB"), "英国");
  EXPECT_STREQ(ChineseCountryName("KR"), "韩国");
  EXPECT_STREQ(ChineseCountryName("KP"), "朝鲜");
  EXPECT_STREQ(ChineseCountryName("AT"), "奥地利");
  EXPECT_STREQ(ChineseCountryName("AU"), "澳大利亚");
  EXPECT_STREQ(ChineseCountryName("ZW"), "津巴布韦");
  EXPECT_EQ(ChineseCountryName("us"), nullptr);
  EXPECT_EQ(ChineseCountryName("QQ"), nullptr);
  EXPECT_EQ(CountryCodeOfChineseName("荷兰"), "NL");
  EXPECT_EQ(CountryCodeOfChineseName("北京市"), "");
}

}  // namespace
