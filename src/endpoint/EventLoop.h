// The endpoint's thread: one epoll set for the listening socket, a wake-up descriptor
// and the sockets of every connection, with a tick for deadlines while anything has one.
//
// A connection hands the loop Watch objects, one per socket, and says through Want
// which events it waits for; the loop calls the watch's OnReady, whatever that does in
// the connection's present phase. Accepting, waking and ticking go to the Owner.
// Everything but Start, StopThread, Close and Wake runs on the loop's thread.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "base/OpResult.h"
#include "settings/Options.h"

namespace qb {

class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  // How often deadlines are looked at while any connection has one.
  static constexpr std::chrono::milliseconds kTick{100};

  // A descriptor the loop reports on; events is what epoll was last asked for.
  class Watch {
   public:
    int fd = -1;
    uint32_t events = 0;
    virtual void OnReady(uint32_t events) = 0;

   protected:
    ~Watch() = default;
  };

  // What the loop serves; called on the loop's thread.
  class Owner {
   public:
    // A client connection, non-blocking, from peer.
    virtual void Accepted(int fd, const sockaddr_storage& peer) = 0;
    // After Wake, and once as the thread starts.
    virtual void Woken() = 0;
    // Whether anything waits for a time rather than an event; Tick then runs every kTick.
    virtual bool NeedsTicks() const = 0;
    virtual void Tick(Clock::time_point now) = 0;
    // After the events of one wait are handled: none of them refers to anything any more.
    virtual void Settled() = 0;

   protected:
    ~Owner() = default;
  };

  explicit EventLoop(Owner& owner) : m_owner(owner) {}
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Binds and listens on listen and starts the thread. On failure (the port taken, an
  // address that is not one) nothing runs and the result says why. While the thread
  // runs, it does nothing.
  OpResult Start(const ListenAddress& listen);
  // Ends the thread; false when it was not running. The descriptors stay open until
  // Close, so that connections can still be taken off epoll.
  bool StopThread();
  void Close();
  // Has Owner::Woken called on the loop's thread soon; from any thread, running or not.
  void Wake();
  // The bound port; 0 while not listening.
  int Port() const { return m_port; }

  // Asks epoll for wanted events of w; 0 takes w off.
  void Want(Watch& w, uint32_t wanted);

 private:
  void Run();
  void Accept();

  Owner& m_owner;
  int m_listen = -1, m_epoll = -1;
  // Written by Wake from any thread, so opened and closed under the mutex.
  std::mutex m_wakeMutex;
  int m_wake = -1;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_port{0};
  Clock::time_point m_nextTick{};
  // Out of descriptors, the port rests a while rather than be reported again at once.
  bool m_listenPaused = false;
  Clock::time_point m_listenResumes{};
};

}  // namespace qb
