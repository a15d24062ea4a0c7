// The check engine over large loopback farms of fake HTTP proxies, through the same
// control and list the command line uses; run by bench/engine-farm.sh, which puts the
// figures side by side.
//
//   EngineFarmBench engine N C [REFUSE% SILENT% CONNECT_MS REPLY_MS]
//       N proxies on 127.x.y.z answering after 200 ms, C checks at once. Prints the
//       wall time and its ratio to the floor N x 0.2 s / C, the CPU time per proxy and
//       the memory per check in flight (peak RSS growth during the run / C).
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
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
  control.SetSaveDir(std::nullopt);
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
  t.resource = {kResourceUrl, kFeature};
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
  if (mode == "aiohttp")
    return RunAiohttp(Arg(argc, argv, 2, 10000), Arg(argc, argv, 3, 1000), Arg(argc, argv, 4, 30),
                      Arg(argc, argv, 5, 10), Arg(argc, argv, 6, 1000), Arg(argc, argv, 7, 1000));
  if (mode == "timeout") return RunTimeout(Arg(argc, argv, 2, 3000));
  std::fprintf(stderr, "usage: EngineFarmBench engine|aiohttp|timeout|farm ... (see the source's head)\n");
  return 2;
}
