// The check engine against the thread worker: the same tasks through the same loopback
// peers must give the same results, with every task of the engine in flight at once.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackPeers.h"
#include "support/PageOrigin.h"
#include "support/ShortTimeouts.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

using qbtest::Peer;
using qbtest::Peers;

namespace {

// Runs tasks on an engine and waits for all their results, by task id.
std::map<std::uint64_t, VerifyResult> RunOnEngine(const std::vector<VerifyTask>& tasks, int waitMs = 30000) {
  std::mutex lock;
  std::condition_variable arrived;
  std::map<std::uint64_t, VerifyResult> results;
  {
    CVerifyEngine engine([&](VerifyResult r) {
      std::lock_guard<std::mutex> g(lock);
      results[r.taskId] = std::move(r);
      arrived.notify_all();
    });
    EXPECT_TRUE(engine.Valid());
    for (const VerifyTask& t : tasks) engine.Submit(t);
    std::unique_lock<std::mutex> g(lock);
    arrived.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return results.size() == tasks.size(); });
  }
  return results;
}

// The measured times differ from run to run; everything else must not.
std::vector<std::string> WithoutTimes(std::vector<std::string> texts) {
  static const std::regex time("\\([0-9]+\\.[0-9]\\)");
  for (std::string& t : texts) t = std::regex_replace(t, time, "(t)");
  return texts;
}

std::string Line(int port, const char* type) {
  return "127.0.0.1:" + std::to_string(port) + "@" + type;
}

// HTTP proxies each on a loopback address of its own (127.77.x.y), as in a real list,
// where every proxy is a host of its own. The answering ones hold every request until
// all of them have one, then answer all at once, so that the transfers end in the same
// rounds of the engine's loop; each page names its proxy, and every fourth closes
// without a word instead. The silent ones take the connection and never answer.
class BurstProxies {
 public:
  BurstProxies(int answering, int silent) : m_answering(answering) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < answering + silent; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in a = AddressOf(i, 0);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        m_ok = false;
        return;
      }
      socklen_t len = sizeof a;
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
      m_ports.push_back(ntohs(a.sin_port));
      m_listeners.push_back(fd);
      Watch(fd, Tag(Kind::Listener, i));
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~BurstProxies() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
    for (int fd : m_listeners) ::close(fd);
    for (const auto& [fd, proxy] : m_open) ::close(fd);
    ::close(m_epoll);
  }
  bool Ok() const { return m_ok; }
  std::string Line(int i) const {
    return Host(i) + ":" + std::to_string(m_ports[static_cast<std::size_t>(i)]) + "@HTTP";
  }
  static std::string Token(int i) { return "burst-page-" + std::to_string(i); }
  // Of the answering ones every fourth closes the connection instead, in the same burst.
  static bool Closes(int i) { return i % 4 == 3; }
  int Accepted() const { return m_accepted.load(); }

 private:
  enum class Kind : std::uint64_t { Listener, Connection };
  static std::uint64_t Tag(Kind k, int proxy) {
    return static_cast<std::uint64_t>(proxy) << 1 | static_cast<std::uint64_t>(k);
  }
  static std::string Host(int i) {
    return "127.77." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
  }
  static sockaddr_in AddressOf(int i, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, Host(i).c_str(), &a.sin_addr);
    return a;
  }
  void Watch(int fd, std::uint64_t tag) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tag | static_cast<std::uint64_t>(fd) << 32;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
  }
  void Run() {
    std::vector<epoll_event> events(256);
    std::map<int, std::string> heads;
    std::vector<std::pair<int, int>> held;  // (descriptor, proxy)
    while (!m_stop.load()) {
      const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 50);
      for (int k = 0; k < n; ++k) {
        const std::uint64_t data = events[static_cast<std::size_t>(k)].data.u64;
        const int fd = static_cast<int>(data >> 32);
        const int proxy = static_cast<int>((data & 0xffffffffu) >> 1);
        if (static_cast<Kind>(data & 1) == Kind::Listener) {
          for (int c; (c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            ++m_accepted;
            m_open[c] = proxy;
            Watch(c, Tag(Kind::Connection, proxy));
          }
          continue;
        }
        char buf[4096];
        const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
        if (got <= 0) {
          ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
          continue;
        }
        std::string& head = heads[fd];
        const bool had = head.find("\r\n\r\n") != std::string::npos;
        head.append(buf, static_cast<std::size_t>(got));
        if (!had && head.find("\r\n\r\n") != std::string::npos && proxy < m_answering)
          held.push_back({fd, proxy});
      }
      if (static_cast<int>(held.size()) == m_answering) {
        for (const auto& [fd, proxy] : held) {
          if (Closes(proxy)) {
            ::shutdown(fd, SHUT_RDWR);
            continue;
          }
          const std::string body = "<html><body>\r\n" + Token(proxy) + "\r\n</body></html>\r\n";
          const std::string reply =
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n" + body;
          [[maybe_unused]] ssize_t w = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
          ::shutdown(fd, SHUT_WR);
        }
        held.clear();
      }
    }
  }

  int m_answering;
  int m_epoll = -1;
  bool m_ok = true;
  std::vector<int> m_listeners;
  std::vector<int> m_ports;
  std::map<int, int> m_open;  // every accepted connection, by descriptor; the thread's until it ends
  std::atomic<int> m_accepted{0};
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

TEST(VerifyEngine, GivesTheThreadWorkersResultsOnEveryRoute) {
  for (Peer peer : {Peer::HttpProxy, Peer::Socks, Peer::Socks5Only, Peer::Squid, Peer::Ftp, Peer::Origin,
                    Peer::HttpProxyAuth, Peer::Socks5Auth})
    QB_REQUIRE_PEER(peer);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{3000};
  g_nVerifyTimeoutMs = 1000;

  qbtest::PageOrigin origin;
  // "测试" in the legacy encoding, on a page that says nothing of its charset.
  origin.Serve("/legacy.html", std::string("<html><body>\r\n\xB2\xE2\xCA\xD4\r\n</body></html>\r\n"));
  origin.Serve("/stall.html", qbtest::OriginPage{"<html><body>\r\n", qbtest::OriginPage::Stall});
  CJudgeServer judge{"127.0.0.1", 0};
  ASSERT_TRUE(judge.Start().ok());
  const std::string judgeUrl = "http://127.0.0.1:" + std::to_string(judge.Port()) + "/";

  struct Case {
    std::string line, url, feature;
    // No log-on unless the case gives one.
    std::string user = {}, password = {};
    bool capture = false;
  };
  const std::string feature = p.OriginUrl("/feature.html");
  const std::vector<Case> cases = {
      {Line(p.HttpProxyPort(), "HTTP"), feature, p.Feature(), {}, {}, true},
      {Line(p.HttpProxyPort(), "HTTPS"), p.OriginUrl("/after.html"), p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), origin.Url("/legacy.html"), "测试"},
      {Line(p.HttpProxyPort(), "HTTP"), origin.Url("/stall.html"), p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), "ftp://127.0.0.1/", ""},
      {Line(p.HttpProxyPort(), "GOPHER"), feature, p.Feature()},
      {Line(p.HttpProxyPort(), "HTTP"), "gopher://127.0.0.1/", ""},
      {Line(p.DeadPort(), "HTTP"), feature, p.Feature()},
      {Line(p.DeadPort(), "SOCKS5"), feature, p.Feature()},
      {Line(p.SilentPort(), "HTTP"), feature, p.Feature()},
      {Line(p.SocksPort(), "SOCKS4"), feature, p.Feature()},
      {Line(p.Socks5OnlyPort(), "SOCKS4"), feature, p.Feature()},
      {Line(p.Socks5AuthPort(), "SOCKS5"), feature, p.Feature(), p.ProxyUser(), p.ProxyPassword()},
      {Line(p.Socks5AuthPort(), "SOCKS5"), feature, p.Feature(), p.ProxyUser(), "wrong"},
      {Line(p.HttpProxyAuthPort(), "HTTP"), feature, p.Feature()},
      {Line(p.HttpProxyAuthPort(), "HTTP"), feature, p.Feature(), p.ProxyUser(), p.ProxyPassword()},
      {Line(p.SquidPort(), "FTP"), p.FtpUrl(), ""},
      {Line(p.SquidPort(), "FTP"), p.FtpUrl(p.FtpUser(), "wrong"), ""},
      {Line(p.SocksPort(), "SOCKS5"), p.FtpUrl(p.FtpUser(), p.FtpPassword()), ""},
      {Line(p.SquidPort(), "GOPHER"), p.FtpUrl(), ""},
      // Judges: the user's own addresses are learned once for all of them.
      {Line(p.SquidPort(), "HTTP"), judgeUrl, "REMOTE_ADDR"},
      {Line(p.HttpProxyPort(), "HTTP"), judgeUrl, "REMOTE_ADDR"},
      {Line(p.SocksPort(), "SOCKS5"), judgeUrl, "REMOTE_ADDR"},
  };
  std::vector<VerifyTask> tasks;
  for (const Case& c : cases) {
    VerifyTask t = qbtest::TaskFor(c.line, c.url, c.feature);
    t.id = tasks.size() + 1;
    t.row = static_cast<int>(tasks.size());
    t.proxyUser = c.user;
    t.proxyPassword = c.password;
    t.capturePage = c.capture;
    tasks.push_back(std::move(t));
  }

  std::vector<VerifyResult> byThread;
  {
    auto own = std::make_shared<COwnAddresses>();
    CVerifyProxyThread worker;
    for (VerifyTask t : tasks) {
      t.ownAddresses = own;
      byThread.push_back(worker.Verify(t));
    }
  }
  auto own = std::make_shared<COwnAddresses>();
  for (VerifyTask& t : tasks) t.ownAddresses = own;
  const std::size_t judgeRequests = judge.Served();
  const std::map<std::uint64_t, VerifyResult> byEngine = RunOnEngine(tasks);
  ASSERT_EQ(byEngine.size(), tasks.size());
  // Three proxies and one direct request, however many judge tasks ran at once.
  EXPECT_EQ(judge.Served() - judgeRequests, 4u);

  std::map<int, int> statuses;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const VerifyResult& a = byThread[i];
    const VerifyResult& b = byEngine.at(tasks[i].id);
    const std::string what = cases[i].line + " " + cases[i].url;
    EXPECT_EQ(b.row, tasks[i].row) << what;
    EXPECT_EQ(a.status, b.status) << what;
    EXPECT_EQ(WithoutTimes(a.texts), WithoutTimes(b.texts)) << what;
    EXPECT_EQ(a.page, b.page) << what;
    EXPECT_EQ(a.anonymity, b.anonymity) << what;
    EXPECT_EQ(a.exitAddress, b.exitAddress) << what;
    EXPECT_EQ(a.status == VERIFY_OK || a.status == VERIFY_MISMATCH, b.seconds < 50.0) << what;
    ++statuses[b.status];
  }
  // The cases reach every result a proxy can have, so agreeing means something.
  for (int status : {VERIFY_OK, VERIFY_MISMATCH, VERIFY_UNSUPPORTED, VERIFY_BADURL, VERIFY_PROXYFAILED,
                     VERIFY_TIMEOUT, VERIFY_PASSWORD})
    EXPECT_GT(statuses[status], 0) << status;
  EXPECT_EQ(byEngine.at(tasks[2].id).status, VERIFY_OK);
  EXPECT_EQ(byEngine.at(tasks[20].id).anonymity, "transparent");
  EXPECT_EQ(byEngine.at(tasks[22].id).anonymity, "elite");
}

// The reply time-out counts in milliseconds in both drivers: libcurl's speed check
// would round 0.3 s up to a whole second and overshoot that.
TEST(VerifyEngine, ReplyTimeOutIsNotRoundedToSecondsAndAbortEndsAtOnce) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  qbtest::ShortTimeouts timeouts{2000};
  g_nVerifyTimeoutMs = 300;
  VerifyTask t = qbtest::TaskFor(Line(p.SilentPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
  t.id = 1;

  QElapsedTimer clock;
  clock.start();
  CVerifyProxyThread worker;
  const VerifyResult r = worker.Verify(t);
  EXPECT_EQ(r.status, VERIFY_TIMEOUT);
  EXPECT_LT(clock.elapsed(), 900);
  EXPECT_GE(clock.elapsed(), 250);

  clock.restart();
  const auto results = RunOnEngine({t});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results.at(1).status, VERIFY_TIMEOUT);
  EXPECT_LT(clock.elapsed(), 900);
  EXPECT_GE(clock.elapsed(), 250);

  // Hung checks end as soon as the engine is told to give them up.
  g_nVerifyTimeoutMs = 30000;
  std::vector<VerifyTask> hung;
  for (std::uint64_t id = 1; id <= 20; ++id) {
    VerifyTask h = qbtest::TaskFor(Line(p.SilentPort(), "HTTP"), p.OriginUrl("/feature.html"), p.Feature());
    h.id = id;
    hung.push_back(h);
  }
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<VerifyResult> done;
  CVerifyEngine engine([&](VerifyResult res) {
    std::lock_guard<std::mutex> g(lock);
    done.push_back(std::move(res));
    arrived.notify_all();
  });
  for (const VerifyTask& h : hung) engine.Submit(h);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(engine.InFlight(), 20);
  clock.restart();
  engine.Abort();
  std::unique_lock<std::mutex> g(lock);
  EXPECT_TRUE(arrived.wait_for(g, std::chrono::seconds(2), [&] { return done.size() == hung.size(); }));
  EXPECT_LT(clock.elapsed(), 500);
  for (const VerifyResult& res : done) EXPECT_EQ(res.status, VERIFY_PROXYFAILED);
}

// Far more checks at once than one of the engine's connection caches takes, on as
// many hosts, ending together: each result stays with its own task and its own
// proxy's page, each check opens one connection of its own, the engine serves a
// second such round as it did the first, and giving up a crowd of hung checks still
// ends them all at once.
TEST(VerifyEngine, CrowdsEndingTogetherKeepEachResultWithItsProxy) {
  constexpr int kAnswering = 160, kSilent = 40, kRefusing = 40;
  qbtest::ShortTimeouts timeouts{3000};
  g_nVerifyTimeoutMs = 1000;
  const std::string url = "http://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/burst.html";

  std::mutex lock;
  std::condition_variable arrived;
  std::map<std::uint64_t, VerifyResult> results;
  CVerifyEngine engine([&](VerifyResult r) {
    std::lock_guard<std::mutex> g(lock);
    results[r.taskId] = std::move(r);
    arrived.notify_all();
  });
  // The second round runs on the caches the first one left.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    BurstProxies proxies(kAnswering, kSilent);
    ASSERT_TRUE(proxies.Ok());
    std::vector<VerifyTask> tasks;
    std::map<std::uint64_t, int> expected;
    for (int i = 0; i < kAnswering + kSilent + kRefusing; ++i) {
      // The refusing ones share the port of a listening one on an address of their own.
      const std::string listening = proxies.Line(i % (kAnswering + kSilent));
      const std::string line = i < kAnswering + kSilent ? listening
                                                        : "127.78.0." + std::to_string(i % 250 + 1) +
                                                              listening.substr(listening.find(':'));
      VerifyTask t = qbtest::TaskFor(line, url, BurstProxies::Token(i));
      t.id = static_cast<std::uint64_t>(1000 * round + i + 1);
      t.row = i;
      t.capturePage = true;
      // A proxy that closes without answering failed, as one that refused.
      if (i < kAnswering) {
        expected[t.id] = BurstProxies::Closes(i) ? VERIFY_PROXYFAILED : VERIFY_OK;
      } else {
        expected[t.id] = i < kAnswering + kSilent ? VERIFY_TIMEOUT : VERIFY_PROXYFAILED;
      }
      tasks.push_back(std::move(t));
    }
    {
      std::unique_lock<std::mutex> g(lock);
      results.clear();
    }
    for (const VerifyTask& t : tasks) engine.Submit(t);
    std::unique_lock<std::mutex> g(lock);
    ASSERT_TRUE(
        arrived.wait_for(g, std::chrono::seconds(30), [&] { return results.size() == tasks.size(); }));
    for (const VerifyTask& t : tasks) {
      const VerifyResult& r = results.at(t.id);
      EXPECT_EQ(r.row, t.row) << t.address;
      EXPECT_EQ(r.status, expected[t.id]) << t.address;
      if (expected[t.id] == VERIFY_OK) {
        EXPECT_NE(r.page.find(BurstProxies::Token(t.row)), std::string::npos) << t.address;
      }
    }
    EXPECT_EQ(proxies.Accepted(), kAnswering + kSilent);
  }
}

// A crowd of hung checks spread over many caches: giving them up ends every one, and
// the engine then closes without waiting on any.
TEST(VerifyEngine, AbortEndsACrowdOfHungChecks) {
  constexpr int kHung = 300;
  qbtest::ShortTimeouts timeouts{3000};
  g_nVerifyTimeoutMs = 30000;
  BurstProxies proxies(0, kHung);
  ASSERT_TRUE(proxies.Ok());
  const std::string url = "http://127.0.0.1:" + std::to_string(qbtest::DeadLoopbackPort()) + "/hung.html";
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<VerifyResult> done;
  QElapsedTimer clock;
  {
    CVerifyEngine engine([&](VerifyResult res) {
      std::lock_guard<std::mutex> g(lock);
      done.push_back(std::move(res));
      arrived.notify_all();
    });
    for (int i = 0; i < kHung; ++i) {
      VerifyTask t = qbtest::TaskFor(proxies.Line(i), url, "x");
      t.id = static_cast<std::uint64_t>(i + 1);
      engine.Submit(t);
    }
    for (int waited = 0; proxies.Accepted() < kHung && waited < 5000; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(proxies.Accepted(), kHung);
    EXPECT_EQ(engine.InFlight(), kHung);
    clock.start();
    engine.Abort();
    std::unique_lock<std::mutex> g(lock);
    EXPECT_TRUE(arrived.wait_for(g, std::chrono::seconds(3), [&] { return done.size() == kHung; }));
  }
  EXPECT_LT(clock.elapsed(), 1000);
  std::set<std::uint64_t> ids;
  for (const VerifyResult& res : done) {
    EXPECT_EQ(res.status, VERIFY_PROXYFAILED);
    ids.insert(res.taskId);
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kHung));
}

}  // namespace
