// The loopback peers, used the way the verification engine uses them: libcurl with
// the proxy set per handle, CURLOPT_NOPROXY "" and a no_proxy=127.0.0.1 environment
// that must not let any request bypass its proxy.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackPeers.h"

namespace {

using qbtest::Peer;
using qbtest::Peers;

struct Options {
  bool emptyNoProxy = true;
  bool connectOnly = false;
  long lowSpeedSeconds = 10;
};

struct Result {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  double seconds = 0;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

Result Fetch(const std::string& url, const std::string& proxy, const Options& opt = {}) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Result r;
  CURL* h = curl_easy_init();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
  if (opt.emptyNoProxy) curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, opt.lowSpeedSeconds);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.body);
  if (opt.connectOnly) curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
  const auto start = std::chrono::steady_clock::now();
  r.code = curl_easy_perform(h);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
  curl_easy_cleanup(h);
  return r;
}

std::string Describe(const Result& r) {
  return std::string(curl_easy_strerror(r.code)) + ", status " + std::to_string(r.status) + ", " +
         std::to_string(r.seconds) + " s, body: " + r.body.substr(0, 300);
}

// The body cut into lines at LF, as the verification engine reads it.
std::vector<std::string> Lines(const std::string& body) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t nl = body.find('\n', pos);
    if (nl == std::string::npos) nl = body.size();
    lines.push_back(body.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

int FirstLineWith(const std::vector<std::string>& lines, const std::string& text) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

class PeersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // What a developer's shell often has: every loopback request would go direct.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  }
};

TEST_F(PeersTest, StartsQuicklyAndReportsEveryPeer) {
  const auto& peers = Peers();
  for (Peer p : {Peer::HttpProxy, Peer::Socks, Peer::Socks5Only, Peer::Squid, Peer::Ftp, Peer::Origin}) {
    if (peers.Missing(p)) {
      std::printf("[peers] %s\n", peers.Problem(p).c_str());
      continue;
    }
    EXPECT_EQ(peers.Problem(p), "") << qbtest::PeerName(p);
  }
  EXPECT_GT(peers.DeadPort(), 0);
  EXPECT_GT(peers.SilentPort(), 0);
  EXPECT_EQ(peers.Feature(), "QuillberryFeature");
  EXPECT_LT(peers.StartupSeconds(), 10.0);
  std::printf("[peers] started in %.2f s\n", peers.StartupSeconds());
}

TEST_F(PeersTest, TinyproxyCarriesThePageFromItsOwnAddress) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::HttpProxy);
  const auto& peers = Peers();
  Result r = Fetch(peers.OriginUrl("/feature.html"), peers.HttpProxyUrl());
  ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find(peers.Feature()), std::string::npos) << r.body;

  r = Fetch(peers.OriginUrl("/echo"), peers.HttpProxyUrl());
  ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
  EXPECT_NE(r.body.find("client=" + peers.OutAddress(Peer::HttpProxy) + "\r\n"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("Via: "), std::string::npos) << r.body;
}

TEST_F(PeersTest, NoProxyEnvironmentBypassesUnlessTheOptionIsEmpty) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  const std::string deadProxy = "http://127.0.0.1:" + std::to_string(peers.DeadPort());
  // The control: left alone, libcurl obeys no_proxy and goes straight to the origin,
  // which would turn a test of a dead proxy green.
  Options bypass;
  bypass.emptyNoProxy = false;
  Result r = Fetch(peers.OriginUrl("/echo"), deadProxy, bypass);
  ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
  EXPECT_NE(r.body.find("client=127.0.0.1\r\n"), std::string::npos) << r.body;

  r = Fetch(peers.OriginUrl("/echo"), deadProxy);
  EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT) << Describe(r);
  EXPECT_EQ(r.body, "");
}

TEST_F(PeersTest, DanteCarriesPagesOverSocks4AndSocks5) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::Socks);
  const auto& peers = Peers();
  for (int version : {4, 5}) {
    SCOPED_TRACE("SOCKS" + std::to_string(version));
    Result r = Fetch(peers.OriginUrl("/feature.html"), peers.SocksProxyUrl(version));
    ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
    EXPECT_NE(r.body.find(peers.Feature()), std::string::npos);
    r = Fetch(peers.OriginUrl("/echo"), peers.SocksProxyUrl(version));
    EXPECT_NE(r.body.find("client=" + peers.OutAddress(Peer::Socks) + "\r\n"), std::string::npos) << r.body;
  }
}

TEST_F(PeersTest, Socks5OnlyDanteRefusesSocks4) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::Socks5Only);
  const auto& peers = Peers();
  Result r = Fetch(peers.OriginUrl("/feature.html"), peers.Socks5OnlyProxyUrl(4));
  EXPECT_NE(r.code, CURLE_OK) << Describe(r);
  EXPECT_EQ(r.body, "");

  r = Fetch(peers.OriginUrl("/echo"), peers.Socks5OnlyProxyUrl(5));
  ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
  EXPECT_NE(r.body.find("client=" + peers.OutAddress(Peer::Socks5Only) + "\r\n"), std::string::npos)
      << r.body;
}

TEST_F(PeersTest, SquidServesFtpUrlsAndRefusesBadLogOns) {
  QB_REQUIRE_PEER(Peer::Ftp);
  QB_REQUIRE_PEER(Peer::Squid);
  const auto& peers = Peers();
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"anonymous", "guest@"}, {peers.FtpUser(), peers.FtpPassword()}}) {
    SCOPED_TRACE("user '" + user + "'");
    const Result r = Fetch(peers.FtpUrl(user, password), peers.SquidProxyUrl());
    ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
    EXPECT_GE(r.status, 200);
    EXPECT_LT(r.status, 300);
    EXPECT_NE(r.body.find("readme.txt"), std::string::npos) << r.body;
  }
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {peers.FtpUser(), "wrong"}, {"nobody-here", peers.FtpPassword()}}) {
    SCOPED_TRACE("user '" + user + "' password '" + password + "'");
    const Result r = Fetch(peers.FtpUrl(user, password), peers.SquidProxyUrl());
    ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
    EXPECT_TRUE(r.status < 200 || r.status >= 300) << Describe(r);
  }
}

TEST_F(PeersTest, SquidAlsoCarriesPages) {
  QB_REQUIRE_PEER(Peer::Origin);
  QB_REQUIRE_PEER(Peer::Squid);
  const auto& peers = Peers();
  const Result r = Fetch(peers.OriginUrl("/echo"), peers.SquidProxyUrl());
  ASSERT_EQ(r.code, CURLE_OK) << Describe(r);
  EXPECT_NE(r.body.find("client=" + peers.OutAddress(Peer::Squid) + "\r\n"), std::string::npos) << r.body;
}

TEST_F(PeersTest, FtpLogOnThroughDanteWithConnectOnly) {
  QB_REQUIRE_PEER(Peer::Ftp);
  QB_REQUIRE_PEER(Peer::Socks);
  const auto& peers = Peers();
  Options connectOnly;
  connectOnly.connectOnly = true;
  for (int version : {5, 4}) {
    SCOPED_TRACE("SOCKS" + std::to_string(version));
    Result r =
        Fetch(peers.FtpUrl(peers.FtpUser(), peers.FtpPassword()), peers.SocksProxyUrl(version), connectOnly);
    EXPECT_EQ(r.code, CURLE_OK) << Describe(r);
    r = Fetch(peers.FtpUrl(), peers.SocksProxyUrl(version), connectOnly);
    EXPECT_EQ(r.code, CURLE_OK) << Describe(r);
    r = Fetch(peers.FtpUrl(peers.FtpUser(), "wrong"), peers.SocksProxyUrl(version), connectOnly);
    EXPECT_EQ(r.code, CURLE_LOGIN_DENIED) << Describe(r);
    r = Fetch(peers.FtpUrl("nobody-here", "pass"), peers.SocksProxyUrl(version), connectOnly);
    EXPECT_EQ(r.code, CURLE_LOGIN_DENIED) << Describe(r);
  }
  // Through the dead port nothing logs on: the result above came through dante.
  const Result r = Fetch(peers.FtpUrl(peers.FtpUser(), peers.FtpPassword()),
                         "socks5://127.0.0.1:" + std::to_string(peers.DeadPort()), connectOnly);
  EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT) << Describe(r);
}

TEST_F(PeersTest, OriginPagesPutTheFeatureWhereTheVerificationTestsNeedIt) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  auto lines = [&](const char* path) {
    const Result r = Fetch(peers.OriginUrl(path), "");
    EXPECT_EQ(r.code, CURLE_OK) << path << ": " << Describe(r);
    EXPECT_EQ(r.status, 200) << path;
    return Lines(r.body);
  };
  const std::string feature = peers.Feature();

  auto l = lines("/feature.html");
  EXPECT_GE(FirstLineWith(l, feature), 0);
  EXPECT_LT(FirstLineWith(l, feature), FirstLineWith(l, "</body>"));

  l = lines("/after.html");
  EXPECT_GT(FirstLineWith(l, feature), FirstLineWith(l, "</body>"));
  EXPECT_GE(FirstLineWith(l, "</body>"), 0);

  l = lines("/sameline.html");
  EXPECT_GE(FirstLineWith(l, feature), 0);
  EXPECT_EQ(FirstLineWith(l, feature), FirstLineWith(l, "</body>"));

  l = lines("/split.html");
  EXPECT_EQ(FirstLineWith(l, feature), -1);
  std::string joined;
  for (const auto& s : l) joined += s.substr(0, s.find('\r'));
  EXPECT_NE(joined.find(feature), std::string::npos) << joined;

  EXPECT_TRUE(lines("/empty.html").empty());

  // The trickle delivers every byte when it is fast enough to watch.
  const Result quick = Fetch(peers.OriginUrl("/trickle?interval=0.02&bytes=30"), "");
  EXPECT_EQ(quick.code, CURLE_OK) << Describe(quick);
  EXPECT_EQ(quick.body.size(), 30u);
}

TEST_F(PeersTest, StalledTransfersEndWithinTheLowSpeedLimit) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  Options twoSeconds;
  twoSeconds.lowSpeedSeconds = 2;
  auto fetch = [&](std::string url, std::string proxy) {
    return std::async(std::launch::async, [=] { return Fetch(url, proxy, twoSeconds); });
  };
  // Each waits about two seconds; side by side they take two in all.
  auto trickle = fetch(peers.OriginUrl("/trickle"), "");
  std::vector<std::future<Result>> stalled;
  stalled.push_back(fetch(peers.OriginUrl("/hang"), ""));
  stalled.push_back(
      fetch(peers.OriginUrl("/feature.html"), "http://127.0.0.1:" + std::to_string(peers.SilentPort())));
  if (peers.Problem(Peer::HttpProxy).empty()) {
    stalled.push_back(fetch(peers.OriginUrl("/hang"), peers.HttpProxyUrl()));
    stalled.push_back(fetch(peers.OriginUrl("/trickle"), peers.HttpProxyUrl()));
  }

  const Result t = trickle.get();
  EXPECT_EQ(t.code, CURLE_OPERATION_TIMEDOUT) << Describe(t);
  EXPECT_EQ(t.status, 200);
  EXPECT_FALSE(t.body.empty()) << "the trickle sent nothing";
  EXPECT_LT(t.body.size(), 10u);
  std::vector<Result> results{t};
  for (auto& f : stalled) results.push_back(f.get());
  for (const Result& r : results) {
    EXPECT_EQ(r.code, CURLE_OPERATION_TIMEDOUT) << Describe(r);
    EXPECT_GE(r.seconds, 1.5) << Describe(r);
    EXPECT_LT(r.seconds, 6.0) << Describe(r);
  }
}

TEST_F(PeersTest, DeadPortRefusesAtOnce) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& peers = Peers();
  Result r = Fetch(peers.DeadUrl(), "");
  EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT) << Describe(r);
  EXPECT_LT(r.seconds, 1.0);
  r = Fetch(peers.OriginUrl("/feature.html"), "http://127.0.0.1:" + std::to_string(peers.DeadPort()));
  EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT) << Describe(r);
  EXPECT_LT(r.seconds, 1.0);
}

}  // namespace
