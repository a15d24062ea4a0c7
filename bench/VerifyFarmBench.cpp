// A run of 100 workers over a loopback farm of 2,000 fake HTTP proxies that answer
// after 200 ms, through the same control the window uses; and the same farm fetched
// with `xargs -P 100 curl -x ...` for comparison.
//
// The floor of a run is 2000 x 0.2 s / 100 = 4 s; the counters give the wall time,
// its ratio to that floor, the CPU time per verified proxy and the peak memory.
//
// With history=1 every result also goes to a History.sqlite in a temporary directory,
// as in the window: compare its wall_s with history=0 (the cost of the history on the
// thread that runs the verification).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/CurlTransfer.h"
#include "base/Text.h"
#include "history/History.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "verify/VerifyControl.h"

using namespace qb;

namespace {

constexpr int kProxies = 2000;
constexpr int kThreads = 100;
constexpr double kDelaySeconds = 0.2;
constexpr double kFloorSeconds = kProxies * kDelaySeconds / kThreads;
constexpr const char* kFeature = "FarmFeature-7f3a";
// Never fetched directly: the proxy under test answers for it.
constexpr const char* kResourceUrl = "http://127.0.0.1/farm.html";

std::string FarmAddress(int i) {
  return qb::Format("127.0.%d.%d", i / 250 + 1, i % 250 + 1);
}

// --- The farm: one epoll process serving every fake proxy. ---

struct FarmConn {
  std::string head;
  bool replied = false;
};

std::string FarmReply() {
  const std::string body =
      std::string("<html><head><title>farm</title></head><body>\n<p>") + kFeature + "</p>\n</body></html>\n";
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// Listens on one port of kProxies loopback addresses (every second one left without a
// listener when refuseHalf), reads each request head, answers after kDelaySeconds and
// closes. Prints "READY <port>" and serves until standard input closes.
int RunFarm(bool refuseHalf) {
  std::vector<int> listeners;
  int port = 0;
  for (int attempt = 0; attempt < 50 && listeners.empty(); ++attempt) {
    bool ok = true;
    for (int i = 0; i < kProxies && ok; ++i) {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET, FarmAddress(i).c_str(), &a.sin_addr);
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      if (ok && i == 0) {
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
      }
      // A refusing address is only checked for being free.
      if (ok && refuseHalf && i % 2 == 1) {
        close(fd);
        continue;
      }
      if (ok) ok = listen(fd, 512) == 0;
      if (ok) {
        listeners.push_back(fd);
      } else {
        close(fd);
      }
    }
    if (!ok) {
      for (int fd : listeners) close(fd);
      listeners.clear();
      port = 0;
    }
  }
  if (listeners.empty()) return 1;

  const int ep = epoll_create1(EPOLL_CLOEXEC);
  std::unordered_map<int, FarmConn> conns;
  std::unordered_set<int> isListener(listeners.begin(), listeners.end());
  for (int fd : listeners) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
  }
  epoll_event stdinEv{};
  stdinEv.events = EPOLLIN;
  stdinEv.data.fd = STDIN_FILENO;
  epoll_ctl(ep, EPOLL_CTL_ADD, STDIN_FILENO, &stdinEv);

  const std::string reply = FarmReply();
  using Clock = std::chrono::steady_clock;
  // The delay is the same for every request, so due replies come out in arrival order.
  std::deque<std::pair<Clock::time_point, int>> due;
  std::printf("READY %d\n", port);
  std::fflush(stdout);

  std::vector<epoll_event> events(1024);
  for (;;) {
    int timeout = -1;
    if (!due.empty()) {
      const auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(due.front().first - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, wait.count() + 1));
    }
    const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), timeout);
    for (int k = 0; k < n; ++k) {
      const int fd = events[k].data.fd;
      if (fd == STDIN_FILENO) {
        char buf[256];
        if (read(STDIN_FILENO, buf, sizeof buf) <= 0) return 0;
        continue;
      }
      if (isListener.count(fd)) {
        for (;;) {
          const int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (c < 0) break;
          conns[c];
          epoll_event ev{};
          ev.events = EPOLLIN | EPOLLRDHUP;
          ev.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
        }
        continue;
      }
      auto it = conns.find(fd);
      if (it == conns.end()) continue;
      char buf[4096];
      const ssize_t got = read(fd, buf, sizeof buf);
      if (got <= 0) {
        epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
        conns.erase(it);
        continue;
      }
      if (it->second.replied) continue;
      it->second.head.append(buf, static_cast<std::size_t>(got));
      if (it->second.head.find("\r\n\r\n") != std::string::npos) {
        it->second.replied = true;
        due.emplace_back(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(kDelaySeconds)),
                         fd);
      }
    }
    const auto now = Clock::now();
    while (!due.empty() && due.front().first <= now) {
      const int fd = due.front().second;
      due.pop_front();
      if (conns.count(fd)) {
        [[maybe_unused]] ssize_t w = write(fd, reply.data(), reply.size());
        epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
        conns.erase(fd);
      }
    }
  }
}

// The farm process for the length of one benchmark: this executable run with --farm.
class Farm {
 public:
  explicit Farm(bool refuseHalf) {
    QStringList args{"--farm"};
    if (refuseHalf) args << "--refuse-half";
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QCoreApplication::applicationFilePath(), args);
    if (!m_process.waitForStarted(5000)) return;
    while (m_process.waitForReadyRead(30000)) {
      const QByteArray line = m_process.readLine().trimmed();
      if (line.startsWith("READY ")) {
        m_port = line.mid(6).toInt();
        break;
      }
    }
  }
  ~Farm() {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
      m_process.kill();
      m_process.waitForFinished(3000);
    }
  }
  int Port() const { return m_port; }

 private:
  QProcess m_process;
  int m_port = 0;
};

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_maxrss;
}

void BM_VerifyFarm(benchmark::State& state) {
  const bool refuseHalf = state.range(0) != 0;
  const bool withHistory = state.range(1) != 0;
  Farm farm(refuseHalf);
  if (!farm.Port()) {
    state.SkipWithError("the proxy farm did not start");
    return;
  }
  QTemporaryDir historyDir;
  std::unique_ptr<CHistoryStore> history;
  if (withHistory) {
    history = CHistoryStore::Open(historyDir.path().toStdString());
    if (!history) {
      state.SkipWithError("the history could not be made");
      return;
    }
  }
  CSettings settings;
  settings.m_nThreadNumber = kThreads;
  settings.m_bAutoAddToFavorite = 1;
  settings.m_aVerifySources.push_back({"farm", kResourceUrl, kFeature, 1});
  g_nConnectTimeoutMs = 5000;
  g_nVerifyTimeoutMs = 10000;

  double wall = 0, cpu = 0;
  int ok = 0, failed = 0, runs = 0;
  for (auto _ : state) {
    CProxyListModel list;
    {
      CProxyListModel::BulkAppend bulk(list);
      for (int i = 0; i < kProxies; ++i)
        list.AddProxyLine(FarmAddress(i) + ":" + std::to_string(farm.Port()) + "@HTTP", 0);
    }
    std::optional<CHistoryRecorder> recorder;
    if (history) recorder.emplace(*history);
    CVerifyControl control(list, settings);
    control.SetSaveDir(std::nullopt);
    if (recorder) control.SetHistory(&*recorder);
    QEventLoop loop;
    QObject::connect(&control, &CVerifyControl::RunEnded, &loop, &QEventLoop::quit);

    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    control.OnVerifyAll();
    loop.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpuUsed = CpuSeconds(RUSAGE_SELF) - cpu0;
    state.SetIterationTime(seconds);

    wall += seconds;
    cpu += cpuUsed;
    ++runs;
    ok = failed = 0;
    for (int r = 0; r < list.RowCount(); ++r) {
      const double t = qb::CAtof(list.Entry(r)->TimeStatus());
      (t > 0 ? ok : failed)++;
    }
    // Let the workers of this run end before the next one starts.
    CVerifyControl::DrainWorkers(3000);
  }
  state.counters["wall_s"] = wall / runs;
  state.counters["floor_ratio"] = wall / runs / kFloorSeconds;
  state.counters["cpu_ms_per_proxy"] = 1000.0 * cpu / runs / kProxies;
  state.counters["peak_rss_MB"] = PeakRssKb(RUSAGE_SELF) / 1024.0;
  state.counters["ok"] = ok;
  state.counters["failed"] = failed;
  if (history) state.counters["history_rows"] = static_cast<double>(history->ResultCount());
}

// The same farm with one curl process per proxy, 100 at a time.
void BM_CurlXargsFarm(benchmark::State& state) {
  const bool refuseHalf = state.range(0) != 0;
  Farm farm(refuseHalf);
  if (!farm.Port()) {
    state.SkipWithError("the proxy farm did not start");
    return;
  }
  QTemporaryDir dir;
  const std::string listPath = dir.path().toStdString() + "/proxies.txt";
  {
    std::ofstream out(listPath);
    for (int i = 0; i < kProxies; ++i) out << FarmAddress(i) << ":" << farm.Port() << "\n";
  }
  const std::string command =
      "xargs -P " + std::to_string(kThreads) +
      " -I{} curl -s -o /dev/null --noproxy '' --connect-timeout 5 -m 10 -x http://{} " + kResourceUrl +
      " < " + listPath;
  double wall = 0, cpu = 0;
  int runs = 0;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // xargs ends with 123 when some curl failed, which the refusing farm makes certain.
    if (rc == -1 || !WIFEXITED(rc)) {
      state.SkipWithError("xargs could not run");
      return;
    }
    state.SetIterationTime(seconds);
    wall += seconds;
    cpu += CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    ++runs;
  }
  state.counters["wall_s"] = wall / runs;
  state.counters["floor_ratio"] = wall / runs / kFloorSeconds;
  state.counters["cpu_ms_per_proxy"] = 1000.0 * cpu / runs / kProxies;
}

}  // namespace

BENCHMARK(BM_VerifyFarm)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"refuse_half", "history"})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlXargsFarm)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("refuse_half")
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qb::CurlGlobal curl;
  if (argc >= 2 && std::string(argv[1]) == "--farm") {
    return RunFarm(argc >= 3 && std::string(argv[2]) == "--refuse-half");
  }
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
