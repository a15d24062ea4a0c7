// What the local endpoint costs a client, on loopback, through one upstream proxy
// (microsocks, started here on a free port; tinyproxy too for the throughput) to an
// origin of this program's own:
//
//   (a) the median time of sequential small requests (SOCKS5 connect, ask for 64
//       bytes, read them) straight through the upstream and through the endpoint
//       in front of it; the difference is what the endpoint adds (target <= 0.2 ms);
//   (b) 1 GiB downloaded each way, as throughput (target: via >= 90 % of direct);
//   (c) 1,000 client connections held open through `quillberry-cli serve`: the
//       serving process's resident memory (target < 100 MB);
//   (d) a request when the first proxy of the pool refuses connections against one
//       where it works (about one refused connect more), with set-aside turned off
//       so that every request pays it.
//
//   endpoint_bench [--requests N] [--gib G] [--connections N]
// quillberry-cli is looked for beside this program's directory (the build tree).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "endpoint/Endpoint.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int Listen(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4096) != 0) {
    std::perror("origin");
    std::exit(1);
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int FreePort() {
  int port = 0;
  close(Listen(port));
  return port;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool ReadExactly(int fd, char* buf, size_t n) {
  while (n > 0) {
    const ssize_t r = recv(fd, buf, n, 0);
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool SendAll(int fd, const void* data, size_t n) {
  return send(fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// The origin: a client sends the number of bytes it wants and a line break, and gets
// them; one that sends nothing is held. A thread of small stack per connection.
void* ServeOne(void* arg) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  std::string line;
  char c;
  while (recv(fd, &c, 1, 0) == 1 && c != '\n') line += c;
  long long want = std::atoll(line.c_str());
  static char data[256 * 1024];
  while (want > 0) {
    const ssize_t n =
        send(fd, data, static_cast<size_t>(std::min<long long>(want, sizeof data)), MSG_NOSIGNAL);
    if (n <= 0) break;
    want -= n;
  }
  char sink[64];
  while (recv(fd, sink, sizeof sink, 0) > 0) {
  }
  close(fd);
  return nullptr;
}

void RunOrigin(int listener) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    pthread_t t;
    pthread_create(&t, &attr, ServeOne, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  }
}

// SOCKS5 without a log-on to 127.0.0.1:targetPort through the proxy on port; the
// connected socket, or -1.
int Socks5(int port, int targetPort) {
  const int fd = Connect(port);
  if (fd < 0) return -1;
  char reply[10];
  const unsigned char request[] = {
      5, 1, 0, 1, 127, 0, 0, 1, uint8_t(targetPort >> 8), uint8_t(targetPort & 0xFF)};
  if (!SendAll(fd, "\x05\x01\x00", 3) || !ReadExactly(fd, reply, 2) || reply[1] != 0 ||
      !SendAll(fd, request, sizeof request) || !ReadExactly(fd, reply, 10) || reply[1] != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// An HTTP CONNECT tunnel to 127.0.0.1:targetPort through the proxy on port.
int Tunnel(int port, int targetPort) {
  const int fd = Connect(port);
  if (fd < 0) return -1;
  const std::string ask = "CONNECT 127.0.0.1:" + std::to_string(targetPort) + " HTTP/1.1\r\n\r\n";
  std::string head;
  char c;
  const bool sent = SendAll(fd, ask.data(), ask.size());
  while (sent && head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) head += c;
  if (head.find(" 200 ") == std::string::npos) {
    close(fd);
    return -1;
  }
  return fd;
}

// One small request; its seconds, or a negative number when it failed.
double SmallRequest(int port, int origin) {
  const auto start = Clock::now();
  const int fd = Socks5(port, origin);
  if (fd < 0) return -1;
  char buf[64];
  const bool ok = SendAll(fd, "64\n", 3) && ReadExactly(fd, buf, sizeof buf);
  close(fd);
  return ok ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The median of n small requests; the count of failures goes to *failed.
double MedianRequest(int port, int origin, int n, int* failed) {
  std::vector<double> times;
  for (int i = 0; i < n; ++i) {
    const double t = SmallRequest(port, origin);
    if (t < 0) {
      ++*failed;
    } else {
      times.push_back(t);
    }
  }
  return Median(times);
}

double Download(int port, int origin, long long bytes, bool tunnel = false) {
  const int fd = tunnel ? Tunnel(port, origin) : Socks5(port, origin);
  if (fd < 0) return 0;
  const auto start = Clock::now();
  const std::string ask = std::to_string(bytes) + "\n";
  SendAll(fd, ask.data(), ask.size());
  static char buf[256 * 1024];
  long long got = 0;
  while (got < bytes) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got += n;
  }
  close(fd);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return got == bytes ? bytes / seconds / (1 << 20) : 0;
}

// Starts a program with its output thrown away (microsocks logs every connection).
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

bool WaitForPort(int port) {
  for (int i = 0; i < 200; ++i) {
    const int fd = Connect(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

std::unique_ptr<qb::CEndpoint> StartEndpoint(std::vector<qb::UpstreamProxy> pool,
                                             int failuresToSetAside = 3) {
  qb::EndpointConfig config;
  config.listen = {"127.0.0.1", 0};
  config.failuresToSetAside = failuresToSetAside;
  auto e = std::make_unique<qb::CEndpoint>(config);
  e->SetPool(std::move(pool));
  if (!e->Start().ok()) {
    std::fprintf(stderr, "endpoint_bench: the endpoint did not start\n");
    std::exit(1);
  }
  return e;
}

qb::UpstreamProxy Socks5Upstream(int port) {
  return {"127.0.0.1", std::to_string(port), "SOCKS5", std::nullopt, 0.1};
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 2000, connections = 1000;
  double gib = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--requests") requests = std::atoi(argv[i + 1]);
    if (a == "--gib") gib = std::atof(argv[i + 1]);
    if (a == "--connections") connections = std::atoi(argv[i + 1]);
  }
  std::signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  int origin = 0;
  const int listener = Listen(origin);
  std::thread(RunOrigin, listener).detach();

  const int socksPort = FreePort();
  const pid_t socks = Spawn({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(socksPort)});
  if (socks < 0 || !WaitForPort(socksPort)) {
    std::fprintf(stderr, "endpoint_bench: microsocks did not start\n");
    return 1;
  }
  auto endpoint = StartEndpoint({Socks5Upstream(socksPort)});

  // (a) Interleaved rounds, so that a busy moment of the machine falls on both.
  int failed = 0;
  std::vector<double> direct, via;
  for (int round = 0; round < 10; ++round) {
    direct.push_back(MedianRequest(socksPort, origin, requests / 10, &failed));
    via.push_back(MedianRequest(endpoint->Port(), origin, requests / 10, &failed));
  }
  const double directMs = Median(direct) * 1000, viaMs = Median(via) * 1000;
  std::printf("(a) %d small requests each: median direct %.3f ms, via endpoint %.3f ms, added %.3f ms%s\n",
              requests, directMs, viaMs, viaMs - directMs, failed ? " (some failed!)" : "");

  // (b) In rounds, alternating, for the same reason; each side's best round counts.
  const long long bytes = static_cast<long long>(gib * (1LL << 30));
  double directMiB = 0, viaMiB = 0;
  for (int round = 0; round < 4; ++round) {
    directMiB = std::max(directMiB, Download(socksPort, origin, bytes / 4));
    viaMiB = std::max(viaMiB, Download(endpoint->Port(), origin, bytes / 4));
  }
  std::printf(
      "(b) %.2f GiB each in 4 rounds through microsocks: direct %.0f MiB/s, via endpoint %.0f MiB/s "
      "(%.0f %%)\n",
      gib, directMiB, viaMiB, directMiB > 0 ? 100 * viaMiB / directMiB : 0);
  // The same through tinyproxy (HTTP CONNECT on both legs), when it is installed.
  if (access("/usr/bin/tinyproxy", X_OK) == 0) {
    const std::string conf =
        std::filesystem::temp_directory_path() / ("endpoint-bench-" + std::to_string(getpid()) + ".conf");
    const int httpPort = FreePort();
    std::ofstream(conf)
        << (getuid() == 0 ? "User nobody\nGroup nogroup\n" : "") << "Port " << httpPort
        << "\nListen 127.0.0.1\nTimeout 600\nMaxClients 100\nLogLevel Critical\nAllow 127.0.0.1\n";
    const pid_t http = Spawn({"/usr/bin/tinyproxy", "-d", "-c", conf});
    if (http > 0 && WaitForPort(httpPort)) {
      auto viaHttp = StartEndpoint({{"127.0.0.1", std::to_string(httpPort), "HTTP", std::nullopt, 0.1}});
      double d = 0, v = 0;
      for (int round = 0; round < 4; ++round) {
        d = std::max(d, Download(httpPort, origin, bytes / 4, true));
        v = std::max(v, Download(viaHttp->Port(), origin, bytes / 4, true));
      }
      std::printf(
          "(b) %.2f GiB each in 4 rounds through tinyproxy: direct %.0f MiB/s, via endpoint %.0f MiB/s "
          "(%.0f %%)\n",
          gib, d, v, d > 0 ? 100 * v / d : 0);
    }
    Stop(http);
    std::filesystem::remove(conf);
  }

  // (d) Interleaved rounds again, on one endpoint whose pool changes between them, so
  // that both sides run on the same loop thread wherever the scheduler put it.
  const int deadPort = FreePort();
  auto probe = StartEndpoint({}, 1 << 30);
  failed = 0;
  const int dn = std::min(requests, 500);
  std::vector<double> live, dead;
  for (int round = 0; round < 10; ++round) {
    probe->SetPool({Socks5Upstream(socksPort)});
    live.push_back(MedianRequest(probe->Port(), origin, dn / 10, &failed));
    probe->SetPool({Socks5Upstream(deadPort), Socks5Upstream(socksPort)});
    dead.push_back(MedianRequest(probe->Port(), origin, dn / 10, &failed));
  }
  const double liveMs = Median(live) * 1000, deadMs = Median(dead) * 1000;
  std::printf(
      "(d) %d requests each: median with a working first proxy %.3f ms, with a refusing one %.3f ms "
      "(%+.3f ms; %llu failovers)%s\n",
      dn, liveMs, deadMs, deadMs - liveMs, static_cast<unsigned long long>(probe->GetStats().failovers),
      failed ? " (some failed!)" : "");
  probe.reset();
  endpoint.reset();

  // (c) the command as a user runs it.
  const std::string cli = std::filesystem::path(argv[0]).parent_path().parent_path() / "quillberry-cli";
  const std::string dir =
      std::filesystem::temp_directory_path() / ("endpoint-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/Proxies.pro") << "127.0.0.1:" << socksPort << "@SOCKS5$0.1\n";
  const int servePort = FreePort();
  const pid_t serve =
      Spawn({cli, "--data-dir", dir, "serve", "--listen", "127.0.0.1:" + std::to_string(servePort)});
  if (serve < 0 || !WaitForPort(servePort)) {
    std::fprintf(stderr, "endpoint_bench: %s serve did not start\n", cli.c_str());
    Stop(socks);
    return 1;
  }
  const long idleKiB = ResidentKiB(serve);
  std::vector<int> held;
  for (int i = 0; i < connections; ++i) {
    const int fd = Socks5(servePort, origin);
    if (fd >= 0) held.push_back(fd);
  }
  // Each also moves a little data, so that a buffer that stays after use would show.
  int answered = 0;
  for (int fd : held) {
    char buf[64];
    answered += SendAll(fd, "64\n", 3) && ReadExactly(fd, buf, sizeof buf);
  }
  const long heldKiB = ResidentKiB(serve);
  std::printf("(c) %zu of %d connections held open (%d answered): serve resident %.1f MB (%.1f MB idle)\n",
              held.size(), connections, answered, heldKiB / 1024.0, idleKiB / 1024.0);
  for (int fd : held) close(fd);
  Stop(serve);
  Stop(socks);
  std::filesystem::remove_all(dir);
  return 0;
}
