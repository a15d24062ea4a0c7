#include "endpoint/EventLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "endpoint/Net.h"

namespace qb {

namespace {

// epoll's data for the two descriptors of the loop's own; any other is a Watch, whose
// address is never this small.
constexpr uint64_t kListenTag = 1, kWakeTag = 2;

}  // namespace

EventLoop::~EventLoop() {
  StopThread();
  Close();
}

OpResult EventLoop::Start(const ListenAddress& listen) {
  if (m_thread.joinable()) return OpResult::Success();
  const std::string where = HostPort(listen.host, listen.port);
  if (listen.port < 0 || listen.port > 65535) {
    return OpResult::Failure(OpStatus::ListenFailed, where, "no such port");
  }
  std::string error;
  int port = 0;
  m_listen = ListenSocket(listen.host, listen.port, 1024, port, error);
  if (m_listen < 0) return OpResult::Failure(OpStatus::ListenFailed, where, error);
  m_port = port;
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  {
    std::lock_guard lock(m_wakeMutex);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  epoll_event ev{EPOLLIN, {}};
  ev.data.u64 = kListenTag;
  epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
  ev.data.u64 = kWakeTag;
  epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
  m_stop = false;
  m_listenPaused = false;
  m_thread = std::thread([this] { Run(); });
  return OpResult::Success();
}

bool EventLoop::StopThread() {
  if (!m_thread.joinable()) return false;
  m_stop = true;
  Wake();
  m_thread.join();
  return true;
}

void EventLoop::Close() {
  if (m_listen >= 0) close(m_listen);
  if (m_epoll >= 0) close(m_epoll);
  m_listen = m_epoll = -1;
  m_port = 0;
  std::lock_guard lock(m_wakeMutex);
  if (m_wake >= 0) close(m_wake);
  m_wake = -1;
}

void EventLoop::Wake() {
  std::lock_guard lock(m_wakeMutex);
  if (m_wake < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
}

void EventLoop::Want(Watch& w, uint32_t wanted) {
  if (w.fd < 0 || wanted == w.events) return;
  epoll_event ev{wanted, {}};
  ev.data.ptr = &w;
  if (w.events == 0) {
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, w.fd, &ev);
  } else if (wanted == 0) {
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, w.fd, nullptr);
  } else {
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, w.fd, &ev);
  }
  w.events = wanted;
}

void EventLoop::Run() {
  // A signal for a peer that went away would end the process; the endpoint learns it
  // from the failed write instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  m_owner.Woken();
  epoll_event events[256];
  while (!m_stop) {
    const bool timed = m_owner.NeedsTicks() || m_listenPaused;
    const int n = epoll_wait(m_epoll, events, 256, timed ? static_cast<int>(kTick.count()) : -1);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const uint64_t tag = events[i].data.u64;
      if (tag == kListenTag) {
        Accept();
      } else if (tag == kWakeTag) {
        uint64_t v;
        [[maybe_unused]] ssize_t r = read(m_wake, &v, sizeof v);
        m_owner.Woken();
      } else {
        static_cast<Watch*>(events[i].data.ptr)->OnReady(events[i].events);
      }
    }
    m_owner.Settled();
    const auto now = Clock::now();
    if (now >= m_nextTick) {
      m_nextTick = now + kTick;
      m_owner.Tick(now);
    }
    if (m_listenPaused && now >= m_listenResumes) {
      epoll_event ev{EPOLLIN, {}};
      ev.data.u64 = kListenTag;
      epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
      m_listenPaused = false;
    }
  }
}

void EventLoop::Accept() {
  for (int i = 0; i < 64; ++i) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The waiting client would be reported again at once, over and over: the port
        // rests until descriptors may have come free.
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listen, nullptr);
        m_listenResumes = Clock::now() + kTick;
        m_listenPaused = true;
      }
      return;
    }
    m_owner.Accepted(fd, peer);
  }
}

}  // namespace qb
