// The control API against a pool of the test's own, through real sockets: curl, a
// Python client and a raw socket for what well-behaved clients never send.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <chrono>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "EndpointClients.h"
#include "endpoint/ControlApi.h"
#include "endpoint/PoolMetrics.h"

namespace {

using qb::UpstreamState;

UpstreamState Upstream(const std::string& line, const std::string& state, double latency = 0,
                       const std::string& country = {}, const std::string& anonymity = {}) {
  UpstreamState u;
  u.line = line;
  u.type = line.substr(line.rfind('@') + 1);
  u.state = state;
  u.latency = latency;
  u.country = country;
  u.anonymity = anonymity;
  return u;
}

class FakePool : public qb::PoolControl {
 public:
  std::vector<UpstreamState> Upstreams() const override {
    std::lock_guard lock(m_mutex);
    return pool;
  }
  bool MarkBad(const std::string& line) override {
    std::lock_guard lock(m_mutex);
    for (UpstreamState& u : pool) {
      if (u.line == line) {
        u.state = "aside";
        marked.push_back(line);
        return true;
      }
    }
    return false;
  }
  bool CheckNow(const std::string& line) override {
    std::lock_guard lock(m_mutex);
    const bool known =
        line.empty() || std::any_of(pool.begin(), pool.end(), [&](auto& u) { return u.line == line; });
    if (known && !checksOff) checked.push_back(line);
    return known && !checksOff;
  }
  qb::CEndpoint::Stats GetStats() const override {
    std::lock_guard lock(m_mutex);
    return stats;
  }
  qb::EndpointPolicy Policy() const override { return policy; }

  void Set(std::vector<UpstreamState> fresh) {
    std::lock_guard lock(m_mutex);
    pool = std::move(fresh);
  }
  std::vector<std::string> Marked() const {
    std::lock_guard lock(m_mutex);
    return marked;
  }
  std::vector<std::string> Checked() const {
    std::lock_guard lock(m_mutex);
    return checked;
  }

  std::vector<UpstreamState> pool;
  qb::CEndpoint::Stats stats;
  qb::EndpointPolicy policy = qb::EndpointPolicy::Failover;
  // As an endpoint without a check resource.
  bool checksOff = false;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> marked, checked;
};

std::vector<UpstreamState> SamplePool() {
  return {
      Upstream("127.0.0.1:3128@HTTP", "ok", 0.40, "美国", "elite"),
      Upstream("[2001:db8::1]:1080@SOCKS5", "ok", 0.15, "DE", "anonymous"),
      Upstream("gw.test:8080@HTTP", "ok", 0.0, "美国", "transparent"),
      Upstream("127.0.0.2:1080@SOCKS4", "aside", 0.05, "美国", "elite"),
      Upstream("name.invalid:3128@HTTPS", "unresolved"),
  };
}

struct Reply {
  int status = 0;
  std::string body;
  std::string headers;
  QJsonObject Json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

// curl against the API: the status, the headers and the body.
Reply CurlApi(int port, const std::string& pathAndQuery, QStringList extra = {}) {
  QStringList args{"-sS", "--max-time", "10", "--noproxy", "*", "-D", "-", "-o", "-"};
  args << extra << QString::fromStdString("http://127.0.0.1:" + std::to_string(port) + pathAndQuery);
  QProcess p;
  QProcessEnvironment env;
  env.insert("PATH", "/usr/bin:/bin");
  p.setProcessEnvironment(env);
  p.start("/usr/bin/curl", args);
  Reply r;
  if (!p.waitForStarted(5000) || !p.waitForFinished(20000) || p.exitCode() != 0) return r;
  const std::string out = p.readAllStandardOutput().toStdString();
  const size_t end = out.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  r.headers = out.substr(0, end);
  r.body = out.substr(end + 4);
  r.status = std::stoi(r.headers.substr(9, 3));
  return r;
}

// The status line of what the server sends a raw client before it closes.
std::string StatusLine(const std::string& response) {
  return response.substr(0, response.find("\r\n"));
}

class ControlApiTest : public ::testing::Test {
 protected:
  void StartApi(qb::ControlApiConfig config = {}) {
    pool.pool = SamplePool();
    api = std::make_unique<qb::ControlApi>(config, pool);
    ASSERT_TRUE(api->Start().ok());
    port = api->Port();
    ASSERT_GT(port, 0);
  }
  FakePool pool;
  std::unique_ptr<qb::ControlApi> api;
  int port = 0;
};

TEST_F(ControlApiTest, PoolAndCountReportEveryUpstreamWithUnknownsAsNull) {
  StartApi();
  const Reply r = CurlApi(port, "/pool");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_NE(r.headers.find("Content-Type: application/json"), std::string::npos);
  const QJsonArray list = r.Json()["upstreams"].toArray();
  ASSERT_EQ(list.size(), 5);
  // In the pool's order, the lines as the list writes them, brackets and all.
  EXPECT_EQ(list[0]["line"].toString(), "127.0.0.1:3128@HTTP");
  EXPECT_EQ(list[1]["line"].toString(), "[2001:db8::1]:1080@SOCKS5");
  EXPECT_EQ(list[1]["type"].toString(), "SOCKS5");
  EXPECT_DOUBLE_EQ(list[1]["latency"].toDouble(), 0.15);
  EXPECT_EQ(list[1]["anonymity"].toString(), "anonymous");
  EXPECT_EQ(list[3]["state"].toString(), "aside");
  // Not measured, never checked, never located: null, never a 0 a script would average in.
  EXPECT_TRUE(list[4]["latency"].isNull());
  EXPECT_TRUE(list[4]["uptime"].isNull());
  EXPECT_TRUE(list[4]["last_check_ago_ms"].isNull());
  EXPECT_TRUE(list[4]["country"].isNull());
  EXPECT_EQ(r.Json()["policy"].toString(), "failover");

  const QJsonObject counts = CurlApi(port, "/count").Json();
  EXPECT_EQ(counts["total"].toInt(), 5);
  EXPECT_EQ(counts["ok"].toInt(), 3);
  EXPECT_EQ(counts["aside"].toInt(), 1);
  EXPECT_EQ(counts["unresolved"].toInt(), 1);
}

// A pool is read a page at a time: at most limit proxies from offset on, with how many
// the pool has; past the end is an empty page, not an error.
TEST_F(ControlApiTest, PoolIsReadAPageAtATime) {
  StartApi();
  const auto page = [&](const std::string& query) {
    const Reply r = CurlApi(port, "/pool" + query);
    std::vector<std::string> lines;
    for (const auto& u : r.Json()["upstreams"].toArray())
      lines.push_back(u.toObject()["line"].toString().toStdString());
    EXPECT_EQ(r.status, 200) << query << r.body;
    EXPECT_EQ(r.Json()["total"].toInt(), 5) << query;
    return lines;
  };
  using Lines = std::vector<std::string>;
  EXPECT_EQ(page("?offset=1&limit=2"), (Lines{"[2001:db8::1]:1080@SOCKS5", "gw.test:8080@HTTP"}));
  EXPECT_EQ(page("?offset=3"), (Lines{"127.0.0.2:1080@SOCKS4", "name.invalid:3128@HTTPS"}));
  EXPECT_EQ(page("?limit=1"), (Lines{"127.0.0.1:3128@HTTP"}));
  EXPECT_EQ(page("?limit=0"), Lines{});
  EXPECT_EQ(page("?offset=5&limit=9"), Lines{});
  EXPECT_EQ(page("?offset=18446744073709551615&limit=18446744073709551615"), Lines{});
  EXPECT_EQ(page("").size(), 5u);
  EXPECT_EQ(CurlApi(port, "/pool?offset=2").Json()["offset"].toInt(), 2);
  for (const char* bad : {"?offset=-1", "?limit=x", "?limit=1.5", "?offset=", "?limit=%201", "?limit=+1",
                          "?offset=18446744073709551616", "?offset=1&offset=2", "?page=1"}) {
    const Reply r = CurlApi(port, std::string("/pool") + bad);
    EXPECT_EQ(r.status, 400) << bad << " " << r.body;
  }
}

TEST_F(ControlApiTest, GetChoosesAMatchingUsableUpstreamAsThePolicyWould) {
  StartApi();
  // Failover: the first usable in the pool's order, never one set aside (the faster
  // SOCKS4 one is).
  EXPECT_EQ(CurlApi(port, "/get").Json()["line"].toString(), "127.0.0.1:3128@HTTP");
  EXPECT_EQ(CurlApi(port, "/get?type=socks5").Json()["line"].toString(), "[2001:db8::1]:1080@SOCKS5");
  EXPECT_EQ(CurlApi(port, "/get?type=SOCKS4").status, 404);
  // A country code finds the country named in Chinese, a name finds itself.
  EXPECT_EQ(CurlApi(port, "/get?country=de").Json()["line"].toString(), "[2001:db8::1]:1080@SOCKS5");
  EXPECT_EQ(CurlApi(port, "/get?country=US&anonymity=transparent").Json()["line"].toString(),
            "gw.test:8080@HTTP");
  EXPECT_EQ(CurlApi(port, "/get?country=%E7%BE%8E%E5%9B%BD&type=HTTP").Json()["line"].toString(),
            "127.0.0.1:3128@HTTP");
  EXPECT_EQ(CurlApi(port, "/get?country=FR").status, 404);

  // Fastest: the shortest time among the usable; an unmeasured one (0) never wins.
  pool.policy = qb::EndpointPolicy::Fastest;
  EXPECT_EQ(CurlApi(port, "/get").Json()["line"].toString(), "[2001:db8::1]:1080@SOCKS5");
  EXPECT_EQ(CurlApi(port, "/get?type=HTTP").Json()["line"].toString(), "127.0.0.1:3128@HTTP");

  // Round-robin: each call the next of those that match.
  pool.policy = qb::EndpointPolicy::RoundRobin;
  std::set<QString> seen;
  for (int i = 0; i < 3; ++i) seen.insert(CurlApi(port, "/get").Json()["line"].toString());
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(ControlApiTest, MarkBadAndCheckTakeTheLineFromQueryFormOrJson) {
  StartApi();
  Reply r = CurlApi(port, "/mark-bad", {"--data-urlencode", "line=127.0.0.1:3128@http"});
  EXPECT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.Json()["marked"].toString(), "127.0.0.1:3128@HTTP");
  r = CurlApi(port, "/mark-bad",
              {"-H", "Content-Type: application/json", "--data", R"({"line":"[2001:db8::1]:1080@SOCKS5"})"});
  EXPECT_EQ(r.status, 200) << r.body;
  r = CurlApi(port, "/mark-bad?line=gw.test%3A8080%40HTTP", {"-X", "POST"});
  EXPECT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(pool.Marked(), (std::vector<std::string>{"127.0.0.1:3128@HTTP", "[2001:db8::1]:1080@SOCKS5",
                                                     "gw.test:8080@HTTP"}));
  // Every usable one is aside now.
  EXPECT_EQ(CurlApi(port, "/get").status, 404);

  EXPECT_EQ(CurlApi(port, "/mark-bad", {"--data", "line=10.9.9.9:1@HTTP"}).status, 404);
  EXPECT_EQ(CurlApi(port, "/mark-bad", {"-X", "POST"}).status, 400);
  EXPECT_EQ(CurlApi(port, "/mark-bad", {"--data", "lines=10.9.9.9:1@HTTP"}).status, 400);
  EXPECT_EQ(CurlApi(port, "/mark-bad?line=a:1@HTTP", {"--data", "line=b:1@HTTP"}).status, 400);
  EXPECT_EQ(
      CurlApi(port, "/mark-bad", {"-H", "Content-Type: application/json", "--data", "{\"line\":1}"}).status,
      400);
  EXPECT_EQ(CurlApi(port, "/mark-bad", {"-H", "Content-Type: application/json", "--data", "{line"}).status,
            400);
  EXPECT_EQ(CurlApi(port, "/mark-bad", {"-H", "Content-Type: text/xml", "--data", "<line/>"}).status, 415);
  r = CurlApi(port, "/mark-bad?line=127.0.0.1:3128@HTTP");
  EXPECT_EQ(r.status, 405);
  EXPECT_NE(r.headers.find("Allow: POST"), std::string::npos);
  EXPECT_EQ(pool.Marked().size(), 3u);

  r = CurlApi(port, "/check", {"-X", "POST"});
  EXPECT_EQ(r.status, 202);
  EXPECT_EQ(r.Json()["checking"].toString(), "all");
  EXPECT_EQ(CurlApi(port, "/check", {"--data", "line=127.0.0.2:1080@SOCKS4"}).status, 202);
  EXPECT_EQ(CurlApi(port, "/check", {"--data", "line=127.0.0.3:1080@SOCKS4"}).status, 404);
  EXPECT_EQ(pool.Checked(), (std::vector<std::string>{"", "127.0.0.2:1080@SOCKS4"}));
  // Nothing to check with: said as such, not as an unknown upstream.
  pool.checksOff = true;
  r = CurlApi(port, "/check", {"--data", "line=127.0.0.2:1080@SOCKS4"});
  EXPECT_EQ(r.status, 409);
  EXPECT_NE(r.Json()["error"].toString().indexOf("health checks are off"), -1) << r.body;
  EXPECT_EQ(CurlApi(port, "/check", {"-X", "POST"}).status, 409);
  EXPECT_EQ(CurlApi(port, "/check", {"--data", "line=127.0.0.3:1080@SOCKS4"}).status, 404);
}

TEST(ControlApiToken, MatchesOnlyTheWholeToken) {
  EXPECT_TRUE(qb::TokensMatch("s3cret", "s3cret"));
  EXPECT_FALSE(qb::TokensMatch("s3cre", "s3cret"));
  EXPECT_FALSE(qb::TokensMatch("s3cret!", "s3cret"));
  EXPECT_FALSE(qb::TokensMatch("S3cret", "s3cret"));
  EXPECT_FALSE(qb::TokensMatch("", ""));
  // A presented token padded with what the comparison pads the shorter one with.
  EXPECT_FALSE(qb::TokensMatch(std::string("ab\0", 3), "ab"));
}

TEST_F(ControlApiTest, WithATokenEveryRouteWantsIt) {
  qb::ControlApiConfig config;
  config.token = "t0k-en";
  StartApi(config);
  for (const std::string path : {"/pool", "/count", "/get", "/metrics", "/nowhere"}) {
    const Reply r = CurlApi(port, path);
    EXPECT_EQ(r.status, 401) << path;
    EXPECT_NE(r.headers.find("WWW-Authenticate: Bearer"), std::string::npos) << path;
  }
  EXPECT_EQ(CurlApi(port, "/mark-bad", {"--data", "line=127.0.0.1:3128@HTTP"}).status, 401);
  EXPECT_EQ(
      CurlApi(port, "/mark-bad", {"-H", "Authorization: Bearer t0k-e", "--data", "line=127.0.0.1:3128@HTTP"})
          .status,
      401);
  EXPECT_EQ(CurlApi(port, "/check?token=t0k-en2", {"-X", "POST"}).status, 401);
  EXPECT_TRUE(pool.Marked().empty());
  EXPECT_TRUE(pool.Checked().empty());

  EXPECT_EQ(CurlApi(port, "/pool", {"-H", "Authorization: Bearer t0k-en"}).status, 200);
  EXPECT_EQ(CurlApi(port, "/pool?token=t0k-en").status, 200);
  EXPECT_EQ(CurlApi(port, "/mark-bad?token=t0k-en", {"--data", "line=127.0.0.1:3128@HTTP"}).status, 200);
  EXPECT_EQ(pool.Marked().size(), 1u);
}

TEST_F(ControlApiTest, BadRequestsGetFourHundredsOrACloseAndDisturbNothing) {
  qb::ControlApiConfig config;
  config.requestTimeoutMs = 600;
  StartApi(config);
  EXPECT_EQ(CurlApi(port, "/").status, 404);
  EXPECT_EQ(CurlApi(port, "/pool/").status, 404);
  EXPECT_EQ(CurlApi(port, "/pool?x=1").status, 400);
  EXPECT_EQ(CurlApi(port, "/get?type=FTP").status, 400);
  EXPECT_EQ(CurlApi(port, "/get?anonymity=high").status, 400);
  EXPECT_EQ(CurlApi(port, "/get?type=%zz").status, 400);
  EXPECT_EQ(CurlApi(port, "/get?type=HTTP&type=SOCKS5").status, 400);
  EXPECT_EQ(CurlApi(port, "/get?country=%0A").status, 400);
  EXPECT_EQ(CurlApi(port, "/pool", {"-X", "DELETE"}).status, 405);

  {
    // A slow client holding its connection open does not keep others waiting.
    eptest::RawClient slow(port, 3000);
    slow.Send("GET /pool HTTP/1.1\r\nHost: x\r\n");
    EXPECT_EQ(CurlApi(port, "/count").status, 200);
    const auto started = std::chrono::steady_clock::now();
    const std::string answer = slow.Receive();
    EXPECT_EQ(StatusLine(answer), "HTTP/1.1 408 Request Timeout");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
  }
  {
    eptest::RawClient big(port);
    big.Send("GET /pool HTTP/1.1\r\nX: " + std::string(qb::ControlApi::kMaxHead, 'a') + "\r\n\r\n");
    EXPECT_EQ(StatusLine(big.Receive()), "HTTP/1.1 431 Request Header Fields Too Large");
  }
  {
    eptest::RawClient noEnd(port);
    noEnd.Send("GET /pool HTTP/1.1\r\nX: " + std::string(qb::ControlApi::kMaxHead + 10, 'a'));
    EXPECT_EQ(StatusLine(noEnd.Receive()), "HTTP/1.1 431 Request Header Fields Too Large");
  }
  {
    eptest::RawClient body(port);
    body.Send("POST /mark-bad HTTP/1.1\r\nContent-Length: 100000\r\n\r\nline=");
    EXPECT_EQ(StatusLine(body.Receive()), "HTTP/1.1 413 Content Too Large");
  }
  {
    eptest::RawClient chunked(port);
    chunked.Send("POST /mark-bad HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nline=\r\n0\r\n\r\n");
    EXPECT_EQ(StatusLine(chunked.Receive()), "HTTP/1.1 411 Length Required");
  }
  for (const std::string& request :
       {std::string("GET pool HTTP/1.1\r\n\r\n"), std::string("GET /pool\r\n\r\n"),
        std::string("GET /pool HTTP/2.0\r\n\r\n"), std::string("GET /pool HTTP/1.1\r\nno colon\r\n\r\n"),
        std::string("POST /check HTTP/1.1\r\nContent-Length: 1x\r\n\r\n")}) {
    eptest::RawClient c(port);
    c.Send(request);
    EXPECT_EQ(StatusLine(c.Receive()), "HTTP/1.1 400 Bad Request") << request;
  }
  // Bytes that are no HTTP at all: a SOCKS5 greeting, a TLS hello, a lower-case word.
  for (const std::string& garbage :
       {std::string("\x05\x01\x00", 3), std::string("\x16\x03\x01\x02\x00\x01", 6),
        std::string("get /pool\r\n\r\n")}) {
    eptest::RawClient c(port);
    c.Send(garbage);
    EXPECT_EQ(c.Receive(), "");
  }
  EXPECT_TRUE(pool.Marked().empty());
  EXPECT_TRUE(pool.Checked().empty());
  EXPECT_EQ(CurlApi(port, "/pool").Json()["upstreams"].toArray().size(), 5);
}

TEST_F(ControlApiTest, ClientsBeyondTheLimitWaitForAPlace) {
  qb::ControlApiConfig config;
  config.maxClients = 4;
  config.requestTimeoutMs = 3000;
  StartApi(config);
  std::vector<std::unique_ptr<eptest::RawClient>> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<eptest::RawClient>(port, 500));
  // The four hold every place: a fifth waits in the backlog, unanswered and not closed,
  // until one of them goes.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  eptest::RawClient waiting(port, 400);
  waiting.Send("GET /count HTTP/1.1\r\n\r\n");
  EXPECT_EQ(waiting.Receive(), "");
  EXPECT_FALSE(waiting.ClosedByPeer());
  idle.front().reset();
  std::string answer;
  for (int i = 0; i < 20 && !waiting.ClosedByPeer(); ++i) answer += waiting.Receive();
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
}

TEST_F(ControlApiTest, APythonClientReadsThePoolAndMarksOneBad) {
  StartApi();
  const char* script = R"(
import http.client, json, sys
port = int(sys.argv[1])
def ask(method, path, body=None, headers={}):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.request(method, path, body=body, headers=headers)
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, r.getheader("Content-Type"), data
status, ctype, data = ask("GET", "/pool")
pool = json.loads(data)
line = pool["upstreams"][1]["line"]
status2, _, data2 = ask("POST", "/mark-bad", json.dumps({"line": line}), {"Content-Type": "application/json"})
status3, _, data3 = ask("GET", "/count")
print(status, ctype, line, status2, json.loads(data2)["marked"], json.loads(data3)["aside"])
)";
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, QString::number(port)});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.readAllStandardOutput().toStdString(),
            "200 application/json [2001:db8::1]:1080@SOCKS5 200 [2001:db8::1]:1080@SOCKS5 2\n")
      << p.readAllStandardError().toStdString();
}

// Prometheus's text format, line by line: a comment or "name{labels} value", the
// label values escaped as the format says. Returns the samples, labels decoded.
struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};
std::vector<Sample> ParseExposition(const std::string& text, std::string& fault) {
  static const std::regex kSample(
      R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*",?)*)\})? (\S+)$)");
  static const std::regex kLabel(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)")re");
  static const std::regex kComment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .*$)");
  std::vector<Sample> samples;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      fault = "the text does not end with a line break";
      return {};
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    std::smatch m;
    if (line.rfind('#', 0) == 0) {
      if (!std::regex_match(line, kComment)) fault = "bad comment: " + line;
      continue;
    }
    if (!std::regex_match(line, m, kSample)) {
      fault = "bad sample: " + line;
      continue;
    }
    Sample s;
    s.name = m[1];
    s.value = std::stod(m[4]);
    const std::string labels = m[3];
    for (auto it = std::sregex_iterator(labels.begin(), labels.end(), kLabel); it != std::sregex_iterator();
         ++it) {
      std::string value, raw = (*it)[2];
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\') {
          ++i;
          value += raw[i] == 'n' ? '\n' : raw[i];
        } else {
          value += raw[i];
        }
      }
      s.labels[(*it)[1]] = value;
    }
    samples.push_back(std::move(s));
  }
  return samples;
}

double Find(const std::vector<Sample>& samples, const std::string& name,
            const std::map<std::string, std::string>& labels, bool* found = nullptr) {
  for (const Sample& s : samples) {
    if (s.name == name && s.labels == labels) {
      if (found) *found = true;
      return s.value;
    }
  }
  if (found) *found = false;
  return -1;
}

TEST_F(ControlApiTest, MetricsAreValidExpositionTextWithTheLinesAsLabels) {
  StartApi();
  std::vector<UpstreamState> upstreams = SamplePool();
  upstreams[0].connections = 7;
  upstreams[0].failuresTotal = 2;
  upstreams[0].bytesUp = 300;
  upstreams[0].bytesDown = 4000;
  upstreams[1].connections = 1;
  // A line with every character the format escapes; no list holds one, but a label
  // must never break the text whatever a pool holds.
  UpstreamState odd = Upstream("q\"u\\o\nte:1@HTTP", "ok");
  odd.connections = 1;
  upstreams.push_back(odd);
  pool.Set(upstreams);
  pool.stats.accepted = 12;
  pool.stats.active = 3;

  const Reply r = CurlApi(port, "/metrics");
  ASSERT_EQ(r.status, 200);
  EXPECT_NE(r.headers.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
  std::string fault;
  const auto samples = ParseExposition(r.body, fault);
  EXPECT_EQ(fault, "") << r.body;
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total",
                 {{"upstream", "127.0.0.1:3128@HTTP"}, {"type", "HTTP"}}),
            7);
  EXPECT_EQ(Find(samples, "quillberry_upstream_failures_total",
                 {{"upstream", "127.0.0.1:3128@HTTP"}, {"type", "HTTP"}}),
            2);
  EXPECT_EQ(Find(samples, "quillberry_upstream_bytes_total",
                 {{"upstream", "127.0.0.1:3128@HTTP"}, {"type", "HTTP"}, {"direction", "down"}}),
            4000);
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total",
                 {{"upstream", "[2001:db8::1]:1080@SOCKS5"}, {"type", "SOCKS5"}}),
            1);
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total",
                 {{"upstream", "q\"u\\o\nte:1@HTTP"}, {"type", "HTTP"}}),
            1);
  // Upstreams that carried nothing have no series of their own.
  bool found = true;
  Find(samples, "quillberry_upstream_connections_total",
       {{"upstream", "gw.test:8080@HTTP"}, {"type", "HTTP"}}, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "ok"}}), 4);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "aside"}}), 1);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "unresolved"}}), 1);
  EXPECT_EQ(Find(samples, "quillberry_endpoint_connections_total", {}), 12);
  EXPECT_EQ(Find(samples, "quillberry_endpoint_active_connections", {}), 3);
}

TEST(PoolMetrics, CountersNeverGoBackWhenANewPoolStartsCountingAgain) {
  qb::PoolMetrics metrics;
  UpstreamState a = Upstream("127.0.0.1:3128@HTTP", "ok");
  UpstreamState b = Upstream("127.0.0.1:1080@SOCKS5", "ok");
  qb::CEndpoint::Stats stats;
  a.connections = 10;
  b.connections = 4;
  stats.accepted = 14;
  std::string fault;
  auto samples = ParseExposition(metrics.Scrape({a, b}, stats), fault);
  const std::map<std::string, std::string> la{{"upstream", a.line}, {"type", "HTTP"}};
  const std::map<std::string, std::string> lb{{"upstream", b.line}, {"type", "SOCKS5"}};
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total", la), 10);

  // A new list: the same line joins a new pool and counts from 0 again; the endpoint
  // restarted (Stop, Start) and its totals too.
  a.connections = 3;
  stats.accepted = 2;
  a.state = "aside";
  samples = ParseExposition(metrics.Scrape({a, b}, stats), fault);
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total", la), 13);
  EXPECT_EQ(Find(samples, "quillberry_endpoint_connections_total", {}), 16);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "ok"}}), 1);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "aside"}}), 1);

  a.connections = 5;
  samples = ParseExposition(metrics.Scrape({a, b}, stats), fault);
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total", la), 15);
  EXPECT_EQ(Find(samples, "quillberry_upstream_connections_total", lb), 4);

  // A line that left the pool takes its series with it; the pool's count follows.
  samples = ParseExposition(metrics.Scrape({a}, stats), fault);
  bool found = true;
  Find(samples, "quillberry_upstream_connections_total", lb, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(Find(samples, "quillberry_pool_upstreams", {{"state", "ok"}}), 0);
  EXPECT_EQ(fault, "");
}

}  // namespace

namespace {

TEST_F(ControlApiTest, PoolTextSurvivesQuotesBackslashesControlsAndChinese) {
  StartApi();
  UpstreamState odd = Upstream("q\"u\\o\nt\te\x01:1@HTTP", "ok", 1e-7, "美国", "elite");
  odd.connections = 18446744073709551615ull;  // counts are written as integers, exactly
  odd.exitAddress = "[2001:db8::2]";
  pool.Set({odd});
  const Reply r = CurlApi(port, "/pool");
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.body), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << r.body;
  const QJsonObject u = doc.object()["upstreams"].toArray()[0].toObject();
  EXPECT_EQ(u["line"].toString().toStdString(), odd.line);
  EXPECT_EQ(u["country"].toString(), QString::fromUtf8("美国"));
  EXPECT_EQ(u["exit_address"].toString(), "[2001:db8::2]");
  EXPECT_DOUBLE_EQ(u["latency"].toDouble(), 1e-7);
  EXPECT_NE(r.body.find("\"connections\":18446744073709551615"), std::string::npos) << r.body;
  EXPECT_EQ(CurlApi(port, "/get").Json()["line"].toString().toStdString(), odd.line);
}

}  // namespace
