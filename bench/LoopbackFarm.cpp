#include "LoopbackFarm.h"

#include <QByteArray>
#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qb::bench {

namespace {

std::string FarmReply() {
  const std::string body = std::string("<html><head><title>farm</title></head><body>\n<p>") + kFarmFeature +
                           "</p>\n</body></html>\n";
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

int ServeFarm(const FarmShare& share) {
  std::vector<int> listeners;
  std::unordered_set<int> silentListeners;
  int port = share.port;
  for (int attempt = 0; attempt < share.bindAttempts && listeners.empty(); ++attempt) {
    bool ok = true;
    for (int i = share.from; i < share.to && ok; ++i) {
      const FarmKind kind = share.kind(i);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET, share.address(i).c_str(), &a.sin_addr);
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      if (ok && port == 0) {
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
      }
      if (ok && kind == FarmKind::Refuses) {
        close(fd);
        continue;
      }
      if (ok) ok = listen(fd, share.backlog) == 0;
      if (ok) {
        listeners.push_back(fd);
        if (kind == FarmKind::Silent) silentListeners.insert(fd);
      } else if (fd >= 0) {
        close(fd);
      }
    }
    if (!ok) {
      for (int fd : listeners) close(fd);
      listeners.clear();
      silentListeners.clear();
      port = share.port;
    }
  }
  if (listeners.empty()) return 1;

  const int ep = epoll_create1(EPOLL_CLOEXEC);
  struct Conn {
    std::string head;
    bool replied = false;
    bool silent = false;
  };
  std::unordered_map<int, Conn> conns;
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

  std::vector<epoll_event> events(static_cast<std::size_t>(share.eventBatch));
  for (;;) {
    int timeout = -1;
    if (!due.empty()) {
      const auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(due.front().first - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, wait.count() + 1));
    }
    const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), timeout);
    for (int k = 0; k < n; ++k) {
      const int fd = events[static_cast<std::size_t>(k)].data.fd;
      if (fd == STDIN_FILENO) {
        char buf[256];
        if (read(STDIN_FILENO, buf, sizeof buf) <= 0) return 0;
        continue;
      }
      if (isListener.count(fd)) {
        const bool silent = silentListeners.count(fd) != 0;
        for (;;) {
          const int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (c < 0) break;
          conns[c].silent = silent;
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
      if (it->second.replied || it->second.silent) continue;
      it->second.head.append(buf, static_cast<std::size_t>(got));
      if (it->second.head.find("\r\n\r\n") != std::string::npos) {
        it->second.replied = true;
        due.emplace_back(Clock::now() + std::chrono::milliseconds(share.delayMs), fd);
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

void StartFarm(QProcess& process, const QStringList& args) {
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(QCoreApplication::applicationFilePath(), args);
}

int WaitForFarm(QProcess& process, int readyTimeoutMs) {
  if (!process.waitForStarted(5000)) return 0;
  while (process.waitForReadyRead(readyTimeoutMs)) {
    const QByteArray line = process.readLine().trimmed();
    if (line.startsWith("READY ")) return line.mid(6).toInt();
  }
  return 0;
}

void StopFarm(QProcess& process, int waitMs) {
  process.closeWriteChannel();
  if (!process.waitForFinished(waitMs)) {
    process.kill();
    process.waitForFinished(3000);
  }
}

}  // namespace qb::bench
