// The check engine over large loopback farms of fake HTTP proxies, through the same
// control and list the command line uses; run by bench/engine-farm.sh, which puts the
// figures side by side.
//
//   EngineFarmBench engine N C [REFUSE% SILENT% CONNECT_MS REPLY_MS]
//       N proxies on 127.x.y.z answering after 200 ms, C checks at once. Prints the
//       wall time and its ratio to the floor N x 0.2 s / C, the CPU time per proxy and
//       the memory per check in flight (peak RSS growth during the run / C).
//   EngineFarmBench floor N C
//       The same farm and request through the least a client can do (plain sockets on
//       one epoll loop per processor, no HTTP parsing, no list): the ratio this machine
//       and farm allow at all.
//   EngineFarmBench curl N C
//       The same through bare libcurl multi loops, one per processor, with a fresh easy
//       handle per check and the engine's options: what libcurl's transfer costs.
//   EngineFarmBench aiohttp N C REFUSE% SILENT% CONNECT_MS REPLY_MS
//       The same farm checked by bench/engine_farm_aiohttp.py.
//   EngineFarmBench timeout MS
//       One silent proxy (accepts, never answers) with a reply time-out of MS: the thread
//       worker, the engine, curl --max-time and curl --speed-time.
//   EngineFarmBench farm FROM TO DELAY_MS REFUSE% SILENT%
//       A share of the farm (started by the modes above): prints "READY <port>", serves
//       until standard input closes. Of every ten addresses the first REFUSE%/10 have no
//       listener and the next SILENT%/10 accept and never answer.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <curl/curl.h>

#include "LoopbackFarm.h"
#include "base/CurlTransfer.h"
#include "base/Text.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"
#include "verify/VerifyControl.h"
#include "verify/VerifyEngine.h"
#include "verify/VerifyProxyThread.h"

using namespace qb;

namespace {

constexpr double kDelaySeconds = 0.2;
constexpr const char* kFeature = bench::kFarmFeature;
constexpr const char* kResourceUrl = bench::kFarmResourceUrl;

// 127.a.b.c, none of them 127.0.0.1, for up to 250^3 proxies.
std::string FarmAddress(int i) {
  return qb::Format("127.%d.%d.%d", i / 62500 + 1, (i / 250) % 250 + 1, i % 250 + 1);
}

bench::FarmKind KindOf(int i, int refusePct, int silentPct) {
  const int k = i % 10;
  if (k < refusePct / 10) return bench::FarmKind::Refuses;
  if (k < (refusePct + silentPct) / 10) return bench::FarmKind::Silent;
  return bench::FarmKind::Answers;
}

void RaiseFileLimit(rlim_t want) {
  rlimit lim{want, want};
  if (setrlimit(RLIMIT_NOFILE, &lim) == 0) return;
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);
}

// Serves the proxies [from, to).
int RunFarm(int from, int to, int delayMs, int refusePct, int silentPct) {
  RaiseFileLimit(static_cast<rlim_t>(to - from) + 30000);
  bench::FarmShare share;
  share.from = from;
  share.to = to;
  share.address = FarmAddress;
  share.kind = [refusePct, silentPct](int i) { return KindOf(i, refusePct, silentPct); };
  share.delayMs = delayMs;
  share.bindAttempts = 20;
  // bench/shards_ssh.sh runs a farm in each host's network namespace, all on one port.
  if (const char* port = std::getenv("QB_FARM_PORT")) share.port = std::atoi(port);
  share.backlog = 4096;
  share.eventBatch = 4096;
  return bench::ServeFarm(share);
}

// The farm processes for the length of one measurement. Without the privilege to
// raise the hard open-file limit (20,000 here), one process holds only so many
// listeners, so the farm is cut into shares of a process each.
class Farm {
 public:
  static constexpr int kShare = 15000;
  Farm(int proxies, int refusePct, int silentPct) {
    for (int from = 0; from < proxies; from += kShare) {
      auto p = std::make_unique<QProcess>();
      bench::StartFarm(*p, {"farm", QString::number(from), QString::number(std::min(proxies, from + kShare)),
                            QString::number(static_cast<int>(kDelaySeconds * 1000)),
                            QString::number(refusePct), QString::number(silentPct)});
      m_processes.push_back(std::move(p));
    }
    for (auto& p : m_processes) {
      const int port = bench::WaitForFarm(*p, 60000);
      if (!port) m_ok = false;
      m_ports.push_back(port);
    }
  }
  ~Farm() {
    // Every share is told to end before any is waited for, so that they end together.
    for (auto& p : m_processes) p->closeWriteChannel();
    for (auto& p : m_processes) bench::StopFarm(*p, 5000);
  }
  bool Ok() const { return m_ok && !m_ports.empty(); }
  int PortOf(int i) const { return m_ports[static_cast<std::size_t>(i / kShare)]; }

 private:
  std::vector<std::unique_ptr<QProcess>> m_processes;
  std::vector<int> m_ports;
  bool m_ok = true;
};

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  }
  return 0;
}

int RunEngine(int proxies, int checks, int refusePct, int silentPct, int connectMs, int replyMs) {
  Farm farm(proxies, refusePct, silentPct);
  if (!farm.Ok()) {
    std::fprintf(stderr, "the proxy farm did not start\n");
    return 1;
  }
  CSettings settings;
  settings.m_bAutoAddToFavorite = 0;
  settings.m_aVerifySources.push_back({"farm", kResourceUrl, kFeature, 1});
  g_nConnectTimeoutMs = connectMs;
  g_nVerifyTimeoutMs = replyMs;

  CProxyListModel list;
  {
    CProxyListModel::BulkAppend bulk(list);
    for (int i = 0; i < proxies; ++i)
      list.AddProxyLine(FarmAddress(i) + ":" + std::to_string(farm.PortOf(i)) + "@HTTP", 0);
  }
  const int fit = FitOpenFileLimit(checks);
  CVerifyControl control(list, settings);
  control.SetEngineChecks(fit);
  QEventLoop loop;
  QObject::connect(&control, &CVerifyControl::RunEnded, &loop, &QEventLoop::quit);

  // The peak is measured from here: writing 5 resets the process's high-water mark.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long rssBefore = StatusKb("VmRSS");
  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  const auto t0 = std::chrono::steady_clock::now();
  control.OnVerifyAll();
  loop.exec();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  const long peak = StatusKb("VmHWM");

  int ok = 0, failed = 0;
  for (int r = 0; r < list.RowCount(); ++r) (qb::CAtof(list.Entry(r)->TimeStatus()) > 0 ? ok : failed)++;
  const double floor = proxies * kDelaySeconds / fit;
  std::printf(
      "engine proxies=%d checks=%d refuse=%d%% silent=%d%% wall_s=%.3f floor_s=%.3f ratio=%.3f "
      "cpu_ms_per_proxy=%.4f kb_per_check=%.1f ok=%d failed=%d\n",
      proxies, fit, refusePct, silentPct, wall, floor, wall / floor, 1000.0 * cpu / proxies,
      static_cast<double>(peak - rssBefore) / fit, ok, failed);
  return 0;
}

// Runs one client loop per processor, the checks shared out among them, and prints the
// wall time against the floor and the CPU per proxy.
template <class Loop>
int RunLoops(const char* label, int proxies, int checks, const std::atomic<int>& ok, Loop loop) {
  const int loops = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < loops; ++t) threads.emplace_back(loop, checks / loops + (t < checks % loops ? 1 : 0));
  for (std::thread& t : threads) t.join();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  const double floor = proxies * kDelaySeconds / checks;
  std::printf("%s proxies=%d checks=%d wall_s=%.3f floor_s=%.3f ratio=%.3f cpu_ms_per_proxy=%.4f ok=%d\n",
              label, proxies, checks, wall, floor, wall / floor, 1000.0 * cpu / proxies, ok.load());
  return 0;
}

// The least any client could do over the same farm: one epoll loop per processor
// connecting, sending one fixed request and reading to the close, with no HTTP, no
// libcurl and no list. Its wall time is the floor that this machine and this farm
// allow; the engine's ratio is to be read beside it.
int RunFloor(int proxies, int checks) {
  Farm farm(proxies, 0, 0);
  if (!farm.Ok()) {
    std::fprintf(stderr, "the proxy farm did not start\n");
    return 1;
  }
  const int fit = FitOpenFileLimit(checks);
  const std::string request = std::string("GET ") + kResourceUrl +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/*\r\nPragma: no-cache\r\n"
                              "Cache-Control: no-cache\r\n\r\n";
  std::atomic<int> next{0};
  std::atomic<int> ok{0};
  auto loop = [&](int concurrent) {
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    // The low bit of an event's data tells that the request went out.
    auto start = [&]() {
      const int i = next.fetch_add(1);
      if (i >= proxies) return false;
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(farm.PortOf(i)));
      inet_pton(AF_INET, FarmAddress(i).c_str(), &a.sin_addr);
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      epoll_event ev{};
      ev.events = EPOLLOUT;
      ev.data.u64 = static_cast<std::uint64_t>(fd) << 1;
      epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
      return true;
    };
    int live = 0;
    for (int k = 0; k < concurrent && start(); ++k) ++live;
    std::vector<epoll_event> events(1024);
    char buf[4096];
    while (live > 0) {
      const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), -1);
      for (int k = 0; k < n; ++k) {
        const std::uint64_t data = events[static_cast<std::size_t>(k)].data.u64;
        const int fd = static_cast<int>(data >> 1);
        if ((data & 1) == 0) {
          [[maybe_unused]] ssize_t w = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
          epoll_event ev{};
          ev.events = EPOLLIN;
          ev.data.u64 = data | 1;
          epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ev);
          continue;
        }
        const ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got > 0) {
          if (std::string_view(buf, static_cast<std::size_t>(got)).find(kFeature) != std::string_view::npos)
            ++ok;
          continue;
        }
        if (got < 0 && errno == EAGAIN) continue;
        epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
        --live;
        if (start()) ++live;
      }
    }
    close(ep);
  };
  return RunLoops("floor-client", proxies, fit, ok, loop);
}

// The least a libcurl client could do over the same farm: one bare multi handle per
// processor on epoll, a fresh easy handle per check with the engine's options, and no
// step, run control or list. Beside the floor client it shows what libcurl's own
// transfer costs; beside the engine, what the engine adds to it.
int RunCurlFloor(int proxies, int checks) {
  Farm farm(proxies, 0, 0);
  if (!farm.Ok()) {
    std::fprintf(stderr, "the proxy farm did not start\n");
    return 1;
  }
  const int fit = FitOpenFileLimit(checks);
  std::atomic<int> next{0};
  std::atomic<int> ok{0};
  struct Loop {
    int ep = -1;
    long timeoutMs = -1;
    static int OnSocket(CURL*, curl_socket_t s, int what, void* self, void*) {
      auto* l = static_cast<Loop*>(self);
      if (what == CURL_POLL_REMOVE) {
        epoll_ctl(l->ep, EPOLL_CTL_DEL, s, nullptr);
        return 0;
      }
      epoll_event ev{};
      ev.data.fd = s;
      if (what & CURL_POLL_IN) ev.events |= EPOLLIN;
      if (what & CURL_POLL_OUT) ev.events |= EPOLLOUT;
      if (epoll_ctl(l->ep, EPOLL_CTL_MOD, s, &ev) != 0) epoll_ctl(l->ep, EPOLL_CTL_ADD, s, &ev);
      return 0;
    }
    static int OnTimer(CURLM*, long ms, void* self) {
      static_cast<Loop*>(self)->timeoutMs = ms;
      return 0;
    }
  };
  auto write = +[](char* data, size_t size, size_t n, void* found) -> size_t {
    if (std::string_view(data, size * n).find(kFeature) != std::string_view::npos)
      ++*static_cast<std::atomic<int>*>(found);
    return size * n;
  };
  auto run = [&](int concurrent) {
    Loop loop;
    loop.ep = epoll_create1(EPOLL_CLOEXEC);
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Loop::OnSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, &loop);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Loop::OnTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, &loop);
    curl_slist* headers = nullptr;
    for (const char* h : {"Accept: text/*", "Pragma: no-cache", "Cache-Control: no-cache"})
      headers = curl_slist_append(headers, h);
    auto start = [&]() {
      const int i = next.fetch_add(1);
      if (i >= proxies) return false;
      CURL* e = curl_easy_init();
      const std::string proxy = "http://" + FarmAddress(i) + ":" + std::to_string(farm.PortOf(i));
      curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
      curl_easy_setopt(e, CURLOPT_URL, kResourceUrl);
      curl_easy_setopt(e, CURLOPT_NOPROXY, "");
      curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
      curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 20000L);
      curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
      curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
      curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
      curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
      curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 4096L);
      curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, write);
      curl_easy_setopt(e, CURLOPT_WRITEDATA, &ok);
      curl_multi_add_handle(multi, e);
      return true;
    };
    int live = 0;
    for (int k = 0; k < concurrent && start(); ++k) ++live;
    std::vector<epoll_event> events(1024);
    int running = 0;
    while (live > 0) {
      const int wait = loop.timeoutMs < 0 ? 1000 : static_cast<int>(loop.timeoutMs);
      const int n = epoll_wait(loop.ep, events.data(), static_cast<int>(events.size()), wait);
      if (n == 0) {
        loop.timeoutMs = -1;
        curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
      }
      for (int k = 0; k < n; ++k) {
        const epoll_event& ev = events[static_cast<std::size_t>(k)];
        int flags = 0;
        if (ev.events & (EPOLLIN | EPOLLHUP)) flags |= CURL_CSELECT_IN;
        if (ev.events & EPOLLOUT) flags |= CURL_CSELECT_OUT;
        curl_multi_socket_action(multi, ev.data.fd, flags, &running);
      }
      if (loop.timeoutMs == 0) {
        loop.timeoutMs = -1;
        curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CURL* e = msg->easy_handle;
        curl_multi_remove_handle(multi, e);
        curl_easy_cleanup(e);
        --live;
        if (start()) ++live;
      }
    }
    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);
    close(loop.ep);
  };
  return RunLoops("curl-client", proxies, fit, ok, run);
}

int RunAiohttp(int proxies, int checks, int refusePct, int silentPct, int connectMs, int replyMs) {
  Farm farm(proxies, refusePct, silentPct);
  if (!farm.Ok()) {
    std::fprintf(stderr, "the proxy farm did not start\n");
    return 1;
  }
  QTemporaryDir dir;
  const std::string listPath = dir.path().toStdString() + "/proxies.txt";
  {
    std::ofstream out(listPath);
    for (int i = 0; i < proxies; ++i) out << FarmAddress(i) << ":" << farm.PortOf(i) << "\n";
  }
  RaiseFileLimit(static_cast<rlim_t>(checks) * 2 + 1000);
  QProcess py;
  py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
  py.start("/usr/bin/python3",
           {QStringLiteral(QB_SOURCE_DIR "/bench/engine_farm_aiohttp.py"), QString::fromStdString(listPath),
            kResourceUrl, kFeature, QString::number(checks), QString::number(connectMs / 1000.0),
            QString::number(replyMs / 1000.0)});
  py.waitForFinished(-1);
  const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu0;
  std::printf("aiohttp proxies=%d checks=%d refuse=%d%% silent=%d%% %s cpu_ms_per_proxy=%.4f\n", proxies,
              checks, refusePct, silentPct, py.readAllStandardOutput().trimmed().constData(),
              1000.0 * cpu / proxies);
  return 0;
}

// A listener on loopback that accepts and never answers.
int SilentListener(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) return -1;
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int RunTimeout(int replyMs) {
  int port = 0;
  const int fd = SilentListener(port);
  if (fd < 0) return 1;
  VerifyTask t;
  t.id = 1;
  t.kind = ProxyKind::Http;
  t.address = "127.0.0.1";
  t.port = static_cast<std::uint16_t>(port);
  t.resource = {kResourceUrl, kFeature, {}, {}};
  t.connectTimeoutMs = 5000;
  t.replyTimeoutMs = replyMs;
  const auto time = [](auto&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };

  int status = 0;
  const double worker = time([&] {
    CVerifyProxyThread w;
    status = w.Verify(t).status;
  });
  std::printf("timeout T=%.3f thread_worker_s=%.3f status=%d\n", replyMs / 1000.0, worker, status);

  const double engine = time([&] {
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    CVerifyEngine e([&](VerifyResult r) {
      std::lock_guard<std::mutex> g(lock);
      status = r.status;
      done = true;
      cv.notify_all();
    });
    e.Submit(t);
    std::unique_lock<std::mutex> g(lock);
    cv.wait(g, [&] { return done; });
  });
  std::printf("timeout T=%.3f engine_s=%.3f status=%d\n", replyMs / 1000.0, engine, status);

  const std::string proxy = "http://127.0.0.1:" + std::to_string(port);
  const std::string seconds = qb::Format("%.3f", replyMs / 1000.0);
  const std::string maxTime =
      "curl -s -o /dev/null --noproxy '' -x " + proxy + " -m " + seconds + " " + kResourceUrl;
  std::printf("timeout T=%.3f curl_max_time_s=%.3f\n", replyMs / 1000.0,
              time([&] { [[maybe_unused]] int rc = std::system(maxTime.c_str()); }));
  const long whole = std::max(1L, static_cast<long>((replyMs + 999) / 1000));
  const std::string speedTime = "curl -s -o /dev/null --noproxy '' -x " + proxy + " -y " +
                                std::to_string(whole) + " -Y 1 " + kResourceUrl;
  std::printf("timeout T=%ld curl_speed_time_s=%.3f\n", whole,
              time([&] { [[maybe_unused]] int rc = std::system(speedTime.c_str()); }));
  close(fd);
  return 0;
}

int Arg(int argc, char** argv, int i, int fallback) {
  return i < argc ? std::atoi(argv[i]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  qb::CurlGlobal curl;
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (mode == "farm")
    return RunFarm(Arg(argc, argv, 2, 0), Arg(argc, argv, 3, 2000), Arg(argc, argv, 4, 200),
                   Arg(argc, argv, 5, 0), Arg(argc, argv, 6, 0));
  QCoreApplication app(argc, argv);
  if (mode == "engine")
    return RunEngine(Arg(argc, argv, 2, 10000), Arg(argc, argv, 3, 1000), Arg(argc, argv, 4, 0),
                     Arg(argc, argv, 5, 0), Arg(argc, argv, 6, 5000), Arg(argc, argv, 7, 10000));
  if (mode == "floor") return RunFloor(Arg(argc, argv, 2, 10000), Arg(argc, argv, 3, 1000));
  if (mode == "curl") return RunCurlFloor(Arg(argc, argv, 2, 10000), Arg(argc, argv, 3, 1000));
  if (mode == "aiohttp")
    return RunAiohttp(Arg(argc, argv, 2, 10000), Arg(argc, argv, 3, 1000), Arg(argc, argv, 4, 30),
                      Arg(argc, argv, 5, 10), Arg(argc, argv, 6, 1000), Arg(argc, argv, 7, 1000));
  if (mode == "timeout") return RunTimeout(Arg(argc, argv, 2, 3000));
  std::fprintf(stderr,
               "usage: EngineFarmBench engine|floor|curl|aiohttp|timeout|farm ... (see the source's head)\n");
  return 2;
}
