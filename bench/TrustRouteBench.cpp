// What a check over HTTPS costs beside the same check over plain HTTP, through one
// proxy on loopback: the engine runs N checks of each, C at once, and the processor
// time and wall time of each batch are printed.
//
//   TrustRouteBench PROXY_PORT KIND PLAIN_URL HTTPS_URL CA_FILE FEATURE [N] [C]
//
// KIND is http or socks5. bench/trust_https.sh starts the origin and the proxy and
// runs it; nothing leaves 127.0.0.1.
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "verify/VerifyEngine.h"
#include "verify/VerifyTask.h"

using namespace qb;

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Batch {
  double wall = 0, cpu = 0;
  std::map<int, int> statuses;
};

Batch Run(const VerifyTask& model, int n, int concurrent) {
  std::mutex lock;
  std::condition_variable done;
  Batch b;
  int finished = 0, submitted = 0;
  CVerifyEngine* enginePtr = nullptr;
  const VerifyTask* modelPtr = &model;
  auto submit = [&](CVerifyEngine& engine) {
    VerifyTask t = *modelPtr;
    t.id = static_cast<std::uint64_t>(++submitted);
    engine.Submit(t);
  };
  const double cpu0 = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  {
    CVerifyEngine engine([&](VerifyResult r) {
      std::lock_guard<std::mutex> g(lock);
      ++b.statuses[r.status];
      ++finished;
      if (submitted < n) submit(*enginePtr);
      done.notify_all();
    });
    enginePtr = &engine;
    {
      std::lock_guard<std::mutex> g(lock);
      while (submitted < std::min(n, concurrent)) submit(engine);
    }
    std::unique_lock<std::mutex> g(lock);
    done.wait(g, [&] { return finished == n; });
  }
  b.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  b.cpu = CpuSeconds() - cpu0;
  return b;
}

void Print(const char* name, const Batch& b, int n) {
  std::printf("%-6s %d checks: wall %.2f s, CPU %.3f ms per check, statuses", name, n, b.wall,
              b.cpu * 1000.0 / n);
  for (const auto& [status, count] : b.statuses) std::printf(" %d x%d", status, count);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s PROXY_PORT KIND PLAIN_URL HTTPS_URL CA_FILE FEATURE [N] [C]\n", argv[0]);
    return 2;
  }
  const int n = argc > 7 ? std::atoi(argv[7]) : 1000;
  const int concurrent = argc > 8 ? std::atoi(argv[8]) : 10;
  VerifyTask t;
  t.kind = std::string(argv[2]) == "socks5" ? ProxyKind::Socks5 : ProxyKind::Http;
  t.address = "127.0.0.1";
  t.port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  t.connectTimeoutMs = 5000;
  t.replyTimeoutMs = 5000;
  VerifyTask plain = t, tls = t;
  plain.resource = {argv[3], argv[6], {}, {}};
  tls.resource = {argv[4], argv[6], argv[5], {}};
  // Turn and turn about, so that the machine's other load falls on both alike.
  for (int round = 0; round < 2; ++round) {
    Print("plain", Run(plain, n, concurrent), n);
    Print("https", Run(tls, n, concurrent), n);
  }
  return 0;
}
