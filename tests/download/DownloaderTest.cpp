#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "base/Text.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"
#include "sources/SourceDownloader.h"
#include "support/PageOrigin.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"
#include "ui/Messages.h"

using namespace qb;

using qbtest::OriginPage;

namespace {

// n proxies a colon apart, one per line, none of them in the list yet; pages made
// with different firsts share none.
std::string StrictProxies(int n, int first = 0) {
  std::string s = "<html><body><pre>\n";
  for (int i = first; i < first + n; ++i) s += qb::Format("10.0.%d.%d:8080\n", i / 250, i % 250 + 1);
  return s + "</pre>\n";
}
// An address and its port in two table cells: only the fuzzy pass finds it.
const char* const kCellProxy = "<table><tr><td>172.16.5.9</td><td>3128</td></tr></table>\n";

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    options.startPauseMs = 0;
    options.limits.receiveMs = 3000;
  }

  // Runs one download to its end and records what the window would see.
  void Run(const std::vector<CProxySource>& sources, bool ambiguous = false) {
    CSourceDownloader d;
    d.SetOptions(options);
    Watch(d);
    ASSERT_TRUE(d.Start(sources, list, ambiguous, Saver()));
    Wait(d);
    // The downloader reports; only the window speaks.
    EXPECT_TRUE(prompt.messages.empty());
  }

  void Watch(CSourceDownloader& d) {
    QObject::connect(&d, &CSourceDownloader::SourceStarted,
                     [this](int, const QString& name) { started.push_back(name.toStdString()); });
    QObject::connect(&d, &CSourceDownloader::NothingDownloaded,
                     [this](const SourceReport& r) { nothing.push_back(r); });
    QObject::connect(&d, &CSourceDownloader::SourceFinished, [this](const SourceReport& r) {
      reports.push_back(r);
      nothingBefore.push_back(static_cast<int>(nothing.size()));
    });
    QObject::connect(&d, &CSourceDownloader::Progress, [this](int done, int count, qint64, qint64) {
      progress.push_back({done, count});
    });
    QObject::connect(&d, &CSourceDownloader::Finished, [this] {
      ++finished;
      downloadingAtFinish = g_bDownloading.load();
    });
  }

  void Wait(CSourceDownloader& d) {
    QEventLoop loop;
    QObject::connect(&d, &CSourceDownloader::Finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (d.IsRunning()) loop.exec();
    ASSERT_FALSE(d.IsRunning()) << "the download did not end";
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int r = 0; r < list.RowCount(); ++r) rows.push_back(list.GetProxyLine(r));
    return rows;
  }
  std::string ListFile() const { return qbtest::ReadFile(dir.File("Proxies.pro")); }
  std::vector<std::string> NothingFrom() const {
    std::vector<std::string> names;
    for (const SourceReport& r : nothing) names.push_back(r.name);
    return names;
  }

  CSourceDownloader::Options options;
  qbtest::PageOrigin origin;
  qbtest::ScriptedPrompt prompt;
  qbtest::TempDir dir;
  std::unique_ptr<DataDir> data = qbtest::OpenTestDir(dir.Path());
  CProxyListModel& list = data->List();
  // What the window does after each page: the log-ons, then the list.
  CSourceDownloader::ListSaver Saver() {
    return [this](const FoundCredentialList& logOns) { return data->SaveList(logOns); };
  }
  std::vector<std::string> started;
  std::vector<SourceReport> reports;
  std::vector<SourceReport> nothing;          // the sources that brought no proxy, as said
  std::vector<int> nothingBefore;             // of them, those said before each source finished
  std::vector<std::pair<int, int>> progress;  // sources done, of count
  int finished = 0;
  bool downloadingAtFinish = true;
};

// The window and the command line word the refusals (MainWindowSourcesTest,
// CliDownloadTest).
TEST_F(Download, StepOneRefusals) {
  EXPECT_EQ(CheckDownloadSources(std::vector<CProxySource>{}), DownloadRefusal::NoSources);
  EXPECT_EQ(CheckDownloadSources({{"a", "x", false}, {"b", "y", false}}), DownloadRefusal::NoneTicked);
  EXPECT_EQ(CheckDownloadSources({{"a", "x", false}, {"b", "y", true}}), DownloadRefusal::None);
  g_bDownloading = true;
  EXPECT_EQ(CheckDownloadSources({{"a", "x", true}}), DownloadRefusal::Downloading);
  EXPECT_EQ(CheckDownloadSources(std::vector<CProxySource>{}), DownloadRefusal::Downloading);
  g_bDownloading = false;
  EXPECT_TRUE(prompt.messages.empty());
  CSourceDownloader d;
  EXPECT_FALSE(d.Start({{"a", origin.Url("/p"), false}}, list, false, Saver()));
  EXPECT_FALSE(d.IsRunning());
  EXPECT_FALSE(g_bDownloading.load());
}

TEST_F(Download, PlainTextAndTableCellsWithAndWithoutFuzzyPass) {
  // The 404 status does not matter: the page is what counts.
  origin.Serve("/plain", OriginPage{"1.2.3.4:8080\r\n5.6.7.8:3128@HTTPS$#fast\r\n", OriginPage::Whole, 404});
  origin.Serve("/cells", kCellProxy);
  // "http://" may be left out; "HTTP://" in capitals is used as written.
  Run({{"plain", origin.HostPath("/plain"), true}, {"cells", "HTTP://" + origin.HostPath("/cells"), true}});
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1.2.3.4:8080@HTTP", "5.6.7.8:3128@HTTPS"}));
  EXPECT_EQ(list.SelectedCount(), 2);
  EXPECT_EQ(ListFile(), "1.2.3.4:8080@HTTP$未验证\r\n5.6.7.8:3128@HTTPS$未验证#fast\r\n");
  ASSERT_EQ(nothing.size(), 1u);
  EXPECT_EQ(nothing[0].name, "cells");
  EXPECT_EQ(nothing[0].index, 1);
  EXPECT_EQ(nothing[0].status, FetchStatus::Ok);
  EXPECT_EQ(nothing[0].found, 0);
  EXPECT_EQ(nothingBefore, (std::vector<int>{0, 1}));
  EXPECT_EQ(started, (std::vector<std::string>{"plain", "cells"}));
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), std::make_pair(0, 2));
  EXPECT_EQ(progress.back(), std::make_pair(2, 2));
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(downloadingAtFinish);

  nothing.clear();
  Run({{"cells", origin.Url("/cells"), true}}, /*ambiguous=*/true);
  EXPECT_TRUE(nothing.empty());
  EXPECT_EQ(list.RowCount(), 3);
  EXPECT_EQ(list.GetProxyLine(2), "172.16.5.9:3128@HTTP");
  EXPECT_EQ(origin.Hits("/cells"), 2);
}

TEST_F(Download, ReadingStopsAfterTheLowerCaseBodyTagOnly) {
  origin.Serve("/lower", "<html><body>1.1.1.1:8080</p>\n</body>\n2.2.2.2:8080\n");
  // The last line counts without its line feed.
  origin.Serve("/upper", "<HTML><BODY>3.3.3.3:8080</P>\n</BODY>\n4.4.4.4:8080</HTML>");
  Run({{"lower", origin.Url("/lower"), true}, {"upper", origin.Url("/upper"), true}});
  EXPECT_EQ(Rows(),
            (std::vector<std::string>{"1.1.1.1:8080@HTTP", "3.3.3.3:8080@HTTP", "4.4.4.4:8080@HTTP"}));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0].status == FetchStatus::Ok && reports[1].status == FetchStatus::Ok);
}

TEST_F(Download, NothingFoundIsSaidAndSavesNothingButKnownProxiesCount) {
  origin.Serve("/none", "<html><body>no proxies today</body></html>\n");
  Run({{"none", origin.Url("/none"), true}});
  EXPECT_EQ(NothingFrom(), (std::vector<std::string>{"none"}));
  EXPECT_EQ(ListFile(), "<missing>");

  // Every proxy of the page is in the list already: found, nothing said, saved.
  list.AddProxyLine("9.8.7.6:80", 0);
  origin.Serve("/known", "9.8.7.6:80\n");
  nothing.clear();
  Run({{"known", origin.Url("/known"), true}});
  EXPECT_TRUE(nothing.empty());
  EXPECT_EQ(list.RowCount(), 1);
  ASSERT_EQ(reports.back().found, 1);
  EXPECT_EQ(ListFile(), "9.8.7.6:80@HTTP$未验证\r\n");
}

TEST_F(Download, FuzzyPassRunsAfterTwoHundredStrictFindsButNotAfterTwoHundredAndOne) {
  origin.Serve("/200", StrictProxies(200) + kCellProxy);
  Run({{"200", origin.Url("/200"), true}}, true);
  EXPECT_EQ(list.RowCount(), 201);
  EXPECT_EQ(reports.back().found, 201);

  list.Clear();
  origin.Serve("/201", StrictProxies(201) + kCellProxy);
  Run({{"201", origin.Url("/201"), true}}, true);
  EXPECT_EQ(list.RowCount(), 201);
  EXPECT_FALSE(list.ContainsKey("172.16.5.9:3128@HTTP"));
}

TEST_F(Download, UnreachableSourceIsSaidAndTheNextOneFollows) {
  origin.Serve("/good", "1.2.3.4:8080\n");
  const std::string dead = "127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/";
  Run({{"dead", dead, true},
       {"off", origin.Url("/off"), false},
       {"badport", "127.0.0.1:99999/x", true},
       {"scheme", "https://127.0.0.1/x", true},
       {"good", origin.Url("/good"), true}});
  ASSERT_EQ(NothingFrom(), (std::vector<std::string>{"dead"}));
  EXPECT_EQ(nothing[0].status, FetchStatus::ConnectionFailed);
  EXPECT_FALSE(nothing[0].error.empty());
  // It was said (and the window's message answered) before the next source was fetched.
  EXPECT_EQ(nothingBefore, (std::vector<int>{1, 1, 1, 1}));
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0].status, FetchStatus::ConnectionFailed);
  // Addresses that cannot be split into a server and a port are skipped silently.
  EXPECT_EQ(reports[1].status, FetchStatus::BadUrl);
  EXPECT_EQ(reports[2].status, FetchStatus::BadUrl);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1.2.3.4:8080@HTTP"}));
  // The unticked source is neither downloaded nor mentioned.
  EXPECT_EQ(origin.Hits("/off"), 0);
  EXPECT_EQ(started, (std::vector<std::string>{"dead", "badport", "scheme", "good"}));
  EXPECT_EQ(finished, 1);
}

TEST_F(Download, StalledAndDrippingPagesTimeOutWithoutBeingExtracted) {
  // A page that stops sending ends after the receive time-out...
  options.limits.receiveMs = 400;
  options.limits.overallMs = 20000;
  origin.Serve("/stall", OriginPage{"1.2.3.4:8080\n", OriginPage::Stall});
  QElapsedTimer clock;
  clock.start();
  Run({{"stall", origin.Url("/stall"), true}});
  EXPECT_LT(clock.elapsed(), 3000);
  // ...and one that keeps dripping below it, after the time the whole page is given.
  options.limits.overallMs = 1500;
  origin.Serve("/drip", OriginPage{"5.6.7.8:8080\n", OriginPage::Drip, 200, 50});
  clock.restart();
  Run({{"drip", origin.Url("/drip"), true}});
  EXPECT_GE(clock.elapsed(), 1400);
  EXPECT_LT(clock.elapsed(), 5000);

  EXPECT_EQ(NothingFrom(), (std::vector<std::string>{"stall", "drip"}));
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(ListFile(), "<missing>");
}

TEST_F(Download, PageLargerThanTheCapIsCutAtItsLastWholeLine) {
  options.limits.maxPageBytes = 64 * 1024;
  // The second proxy runs into the cap: cut there it would read 7.7.7.7:80.
  std::string body = "1.2.3.4:8080\n";
  body += std::string(options.limits.maxPageBytes - body.size() - 11, 'p') + "\n";
  body += "7.7.7.7:8080\n";
  origin.Serve("/big", body);
  origin.Serve("/endless", OriginPage{"9.9.9.9:3128\n", OriginPage::Endless});
  Run({{"big", origin.Url("/big"), true}, {"endless", origin.Url("/endless"), true}});
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1.2.3.4:8080@HTTP", "9.9.9.9:3128@HTTP"}));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0].cut && reports[1].cut);
  EXPECT_FALSE(reports[0].proxiesCapped || reports[1].proxiesCapped);
  EXPECT_EQ(reports[1].status, FetchStatus::Ok);
  EXPECT_TRUE(nothing.empty());
  // The window's words name the size limit, and only that one.
  EXPECT_EQ(PageLimitText(reports[0]), "网页超过了下载的大小上限，只读取了上限以内的完整行。");
}

// The byte cap does not bound the rows: a page of short proxy lines would fill the
// list with millions. One page adds at most the limit's number, and the report says
// that this limit, not the size, was hit.
TEST_F(Download, APageAddsNoMoreProxiesThanItsLimit) {
  options.limits.maxPageProxies = 50;
  origin.Serve("/many", StrictProxies(51));
  origin.Serve("/exact", StrictProxies(50, 1000));
  Run({{"many", origin.Url("/many"), true}, {"exact", origin.Url("/exact"), true}});
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].found, 50);
  EXPECT_TRUE(reports[0].proxiesCapped);
  EXPECT_FALSE(reports[0].cut);
  // A page with just as many as it may add lost nothing.
  EXPECT_EQ(reports[1].found, 50);
  EXPECT_FALSE(reports[1].proxiesCapped);
  ASSERT_EQ(list.RowCount(), 100);
  EXPECT_EQ(list.GetProxyLine(49), "10.0.0.50:8080@HTTP");
  EXPECT_EQ(list.GetProxyLine(50), "10.0.4.1:8080@HTTP");
  // The 51st proxy of the first page is nowhere, not in the list and not in its file.
  EXPECT_EQ(ListFile().find("10.0.0.51:"), std::string::npos);
  EXPECT_NE(ListFile().find("10.0.4.50:8080"), std::string::npos);
  EXPECT_TRUE(nothing.empty());
  EXPECT_NE(PageLimitText(reports[0]).find("只添加了前 50 个"), std::string::npos)
      << PageLimitText(reports[0]);
  EXPECT_EQ(PageLimitText(reports[1]), "");

  // The fuzzy pass counts against the same limit.
  reports.clear();
  list.Clear();
  origin.Serve("/mixed", StrictProxies(49, 2000) + kCellProxy + "<td>172.16.5.10</td><td>3129</td>\n");
  Run({{"mixed", origin.Url("/mixed"), true}}, true);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].found, 50);
  EXPECT_TRUE(reports[0].proxiesCapped);
  EXPECT_EQ(list.RowCount(), 50);
}

TEST_F(Download, EndlessPageStopsAtSixtyFourMebibytesByDefault) {
  origin.Serve("/endless", OriginPage{"9.9.9.9:3128\n", OriginPage::Endless});
  CDownloadSession session;
  const PageFetchResult r = session.Fetch(origin.Url("/endless"));
  EXPECT_EQ(r.status, FetchStatus::Ok);
  EXPECT_TRUE(r.cut);
  EXPECT_EQ(r.bytes, std::int64_t{64} << 20);
  EXPECT_TRUE(r.page.starts_with("9.9.9.9:3128\r\n"));
}

TEST_F(Download, GoesStraightToTheServerWithTheDocumentedRequest) {
  const std::string bogus = "http://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort());
  ScopedEnv e1("http_proxy", bogus.c_str()), e2("HTTP_PROXY", bogus.c_str()), e3("ALL_PROXY", bogus.c_str()),
      e4("all_proxy", bogus.c_str()), e5("no_proxy", QByteArray());
  // A line in the legacy encoding arrives in UTF-8.
  origin.Serve("/page", "1.2.3.4:8080@HTTP$#" + qb::EncodeGb18030("高速") + "\n");
  CDownloadSession session;
  const PageFetchResult r = session.Fetch(origin.HostPath("/page"));
  ASSERT_EQ(r.status, FetchStatus::Ok) << r.error;
  EXPECT_EQ(r.page, "1.2.3.4:8080@HTTP$#高速\r\n");
  const std::string head = origin.LastRequestHead("/page");
  EXPECT_TRUE(head.starts_with("GET /page HTTP/1.1\r\n")) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"), std::string::npos);
  EXPECT_NE(head.find("\r\nAccept: text/*"), std::string::npos);
}

TEST_F(Download, EveryWayOutEndsWithFinished) {
  // Cancelled in the middle of a transfer (the window closing).
  origin.Serve("/stall", OriginPage{"1.2.3.4:8080\n", OriginPage::Stall});
  {
    CSourceDownloader d;
    d.SetOptions(options);
    Watch(d);
    QObject::connect(&d, &CSourceDownloader::SourceStarted, &d,
                     [&d] { QTimer::singleShot(200, &d, [&d] { d.Cancel(); }); });
    ASSERT_TRUE(d.Start({{"stall", origin.Url("/stall"), true}, {"next", origin.Url("/next"), true}}, list,
                        false, Saver()));
    EXPECT_TRUE(g_bDownloading.load());
    Wait(d);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(downloadingAtFinish);
  EXPECT_EQ(origin.Hits("/next"), 0);
  // Destroyed during the pause before the first source.
  {
    options.startPauseMs = 5000;
    CSourceDownloader d;
    d.SetOptions(options);
    Watch(d);
    ASSERT_TRUE(d.Start({{"stall", origin.Url("/stall"), true}}, list, false, Saver()));
  }
  EXPECT_EQ(finished, 2);
  EXPECT_FALSE(g_bDownloading.load());
  EXPECT_TRUE(nothing.empty());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(list.RowCount(), 0);
}

}  // namespace
