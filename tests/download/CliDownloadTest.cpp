#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>

#include "support/PageOrigin.h"
#include "support/TempDir.h"

using qbtest::OriginPage;
using qbtest::RunCli;

namespace {

TEST(CliDownload, UrlsPrintTheProxyLinesFoundEachOnce) {
  qbtest::PageOrigin origin;
  origin.Serve("/a", "1.2.3.4:8080\n5.6.7.8:1080@socks\n");
  origin.Serve("/b", "<table><tr><td>9.9.9.9</td><td>80</td></tr></table>\n");
  const std::string dead = "127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/x";

  auto r = RunCli({"download", origin.HostPath("/a"), dead, origin.Url("/b"), origin.Url("/a")});
  // The refused URL fails the run, and is named; the other pages still print.
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("download: " + dead + ": download failed"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "1.2.3.4:8080@HTTP$#\n5.6.7.8:1080@SOCKS5$#\n");
  // The page that came without a proxy is named with the cause first, on one line, and
  // what is read after it; the dead one only by its failure, with no note on formats.
  EXPECT_NE(
      r.err.find("download: " + origin.Url("/b") + ": no proxy found on the page (it reads address:port, "),
      std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find(dead + ": no proxy found"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
  EXPECT_EQ(r.err.find("下载异常"), std::string::npos) << r.err;

  r = RunCli({"download", "--fuzzy", origin.Url("/b")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "9.9.9.9:80@HTTP$#\n");
  EXPECT_EQ(r.err, "");

  EXPECT_EQ(RunCli({"download", "--slow", origin.Url("/a")}).exitCode, 2);
}

// libcurl, with the libraries it brings along, is loaded by the first transfer, not by
// every command: the dynamic loader's own trace says which libraries a run loaded.
TEST(CliDownload, OnlyACommandThatTransfersLoadsLibcurl) {
  qbtest::PageOrigin origin;
  origin.Serve("/a", "1.2.3.4:8080\n");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LD_DEBUG", "files");

  auto r = RunCli({"extract", "-"}, "5.6.7.8:3128\n", env);
  EXPECT_EQ(r.out, "5.6.7.8:3128@HTTP$#\n");
  EXPECT_NE(r.err.find("file=libQt6Core"), std::string::npos) << "no trace of the loader";
  EXPECT_EQ(r.err.find("libcurl"), std::string::npos) << "extract loaded libcurl";

  r = RunCli({"download", origin.Url("/a")}, {}, env);
  EXPECT_EQ(r.out, "1.2.3.4:8080@HTTP$#\n");
  EXPECT_NE(r.err.find("file=libcurl.so.4"), std::string::npos) << "download did not load libcurl";
}

// A JSON or CSV reader needs one whole document over every page, also when a page
// failed between the others.
TEST(CliDownload, FormatsSpanEveryPageAndNeedUrls) {
  qbtest::PageOrigin origin;
  origin.Serve("/a", "1.2.3.4:8080\n5.6.7.8:1080@socks\n");
  origin.Serve("/b", "9.9.9.9:3128@socks5\n1.2.3.4:8080\n");
  const std::string dead = "http://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/x";

  auto r = RunCli({"download", "--format", "json", origin.Url("/a"), dead, origin.Url("/b")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out,
            "[\n{\"address\":\"1.2.3.4\",\"port\":8080,\"type\":\"HTTP\",\"status\":\"\",\"state\":"
            "\"unverified\",\"remark\":\"\"},\n"
            "{\"address\":\"5.6.7.8\",\"port\":1080,\"type\":\"SOCKS5\",\"status\":\"\",\"state\":"
            "\"unverified\",\"remark\":\"\"},\n"
            "{\"address\":\"9.9.9.9\",\"port\":3128,\"type\":\"SOCKS5\",\"status\":\"\",\"state\":"
            "\"unverified\",\"remark\":\"\"}\n]\n");

  // Without URLs the command prints summaries, which have no format.
  qbtest::TempDir data;
  r = RunCli({"--data-dir", data.Path(), "download", "--format", "csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("need URLs"), std::string::npos) << r.err;
  EXPECT_EQ(origin.Hits("/a"), 1);
}

TEST(CliDownload, AUrlThatIsCutSkippedOrFailedIsNamed) {
  qbtest::PageOrigin origin;
  origin.Serve("/a", "1.2.3.4:8080\n");
  origin.Serve("/endless", OriginPage{"9.9.9.9:3128\n", OriginPage::Endless});

  // A page cut at its size limit is still a download, but not a silent one.
  auto r = RunCli({"download", origin.Url("/endless")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "9.9.9.9:3128@HTTP$#\n");
  EXPECT_NE(
      r.err.find("download: " + origin.Url("/endless") + ": 1 proxy found (page cut at its size limit)"),
      std::string::npos)
      << r.err;

  // A URL that is no HTTP address is skipped; one that answers with an error fails.
  const std::string notHttp = "ftp://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/list";
  r = RunCli({"download", notHttp, origin.Url("/a")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, "1.2.3.4:8080@HTTP$#\n");
  EXPECT_NE(r.err.find("download: " + notHttp + ": skipped"), std::string::npos) << r.err;

  const std::string dead = "http://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/x";
  r = RunCli({"download", dead});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("download: " + dead + ": download failed"), std::string::npos) << r.err;

  // A page without proxies is not a failure.
  origin.Serve("/empty", "nothing here\n");
  r = RunCli({"download", origin.Url("/empty")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// One more proxy than a page may add (the program's own limit, 100000): both ways of
// downloading take exactly the limit and say on standard error that the page was cut
// at it.
TEST(CliDownload, APageWithMoreProxiesThanItsLimitIsCutAndNamed) {
  constexpr int kLimit = 100000;
  std::string page;
  for (int i = 0; i <= kLimit; ++i) {
    page += "10." + std::to_string(i / 62500 + 1) + "." + std::to_string(i / 250 % 250 + 1) + "." +
            std::to_string(i % 250 + 1) + ":8080\n";
  }
  const std::string last = page.substr(page.rfind('\n', page.size() - 2) + 1);
  qbtest::PageOrigin origin;
  origin.Serve("/many", page);

  auto r = RunCli({"download", origin.Url("/many")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kLimit);
  EXPECT_TRUE(r.out.starts_with("10.1.1.1:8080@HTTP$#\n"));
  EXPECT_EQ(r.out.find(last.substr(0, last.find(':') + 1)), std::string::npos) << last;
  EXPECT_NE(r.err.find("download: " + origin.Url("/many") +
                       ": 100000 proxies found (page cut at its limit of 100000 proxies)\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("size limit"), std::string::npos) << r.err;

  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("Sources.dat"), "many " + origin.Url("/many") + " 1\r\n");
  r = RunCli({"--data-dir", dir.Path(), "download"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "many: 100000 proxies found (page cut at its limit of 100000 proxies)\n");
  EXPECT_NE(r.err.find("download: many: 100000 proxies found (page cut at its limit of 100000 proxies)\n"),
            std::string::npos)
      << r.err;
  const std::string file = qbtest::ReadFile(dir.File("Proxies.pro"));
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kLimit);

  auto help = RunCli({"download", "--help", "--lang=en"});
  EXPECT_NE(help.out.find("at most 100000 proxies are taken from one page"), std::string::npos) << help.out;
  help = RunCli({"download", "--help", "--lang=zh"});
  EXPECT_NE(help.out.find("取 100000 个代理"), std::string::npos) << help.out;
}

TEST(CliDownload, SourcesGoIntoTheListFile) {
  qbtest::PageOrigin origin;
  qbtest::TempDir dir;
  origin.Serve("/good", "1.2.3.4:8080\n2.2.2.2:3128\n");
  origin.Serve("/empty", "nothing\n");
  qbtest::WriteFile(dir.File("Proxies.pro"), "2.2.2.2:3128@HTTP$OK#known\r\n");
  const std::string sources = "good " + origin.HostPath("/good") + " 1\r\noff " + origin.Url("/off") +
                              " 0\r\nempty " + origin.Url("/empty") + " 1\r\n";
  qbtest::WriteFile(dir.File("Sources.dat"), sources);

  auto r = RunCli({"--data-dir", dir.Path(), "download"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "good: 2 proxies found\nempty: 0 proxies found\n");
  EXPECT_NE(r.err.find("download: empty: no proxy found on the page " + origin.Url("/empty")),
            std::string::npos)
      << r.err;
  EXPECT_EQ(qbtest::ReadFile(dir.File("Proxies.pro")),
            "2.2.2.2:3128@HTTP$OK#known\r\n1.2.3.4:8080@HTTP$未验证\r\n");
  EXPECT_EQ(origin.Hits("/off"), 0);
  EXPECT_EQ(qbtest::ReadFile(dir.File("Sources.dat")), sources);

  // Nothing ticked, or no sources at all: the refusals, and nothing is downloaded.
  qbtest::WriteFile(dir.File("Sources.dat"), "off " + origin.Url("/off") + " 0\r\n");
  r = RunCli({"--data-dir", dir.Path(), "download"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("没有选择下载资源，请打勾。"), std::string::npos);
  qbtest::TempDir empty;
  r = RunCli({"--data-dir", empty.Path(), "download"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("没有下载资源，请先添加。"), std::string::npos);
  EXPECT_EQ(origin.Hits("/off"), 0);
}

TEST(CliDownload, AListThatCannotBeSavedIsNamedAndFailsTheRun) {
  qbtest::PageOrigin origin;
  origin.Serve("/good", "1.2.3.4:8080\n");
  qbtest::TempDir dir;
  qbtest::WriteFile(dir.File("Sources.dat"), "good " + origin.Url("/good") + " 1\r\n");
  // A directory where the list belongs: read as no list, but nothing can replace it.
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(dir.File("Proxies.pro"))));

  const auto r = RunCli({"--data-dir", dir.Path(), "download"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_NE(r.err.find("download: cannot write " + dir.File("Proxies.pro")), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "good: 1 proxy found; Proxies.pro could not be saved\n");
  EXPECT_TRUE(QFileInfo(QString::fromStdString(dir.File("Proxies.pro"))).isDir());

  // A Sources.dat that cannot be read stops before anything is downloaded.
  qbtest::TempDir broken;
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(broken.File("Sources.dat"))));
  const auto unreadable = RunCli({"--data-dir", broken.Path(), "download"});
  EXPECT_EQ(unreadable.exitCode, 2);
  EXPECT_NE(unreadable.err.find("download: cannot read " + broken.File("Sources.dat")), std::string::npos)
      << unreadable.err;
  EXPECT_EQ(origin.Hits("/good"), 1);
}

}  // namespace
