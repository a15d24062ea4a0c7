#include "endpoint/Relay.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "endpoint/Net.h"

namespace qb {

Relay::Relay(int client, int upstream, std::string toUpstream, std::string toClient, bool endsWithAnswer)
    : m_endsWithAnswer(endsWithAnswer) {
  m_up.from = client;
  m_up.to = upstream;
  m_up.buf = std::move(toUpstream);
  m_down.from = upstream;
  m_down.to = client;
  m_down.buf = std::move(toClient);
}

Relay::~Relay() {
  for (int fd : {m_up.pipe.r, m_up.pipe.w, m_down.pipe.r, m_down.pipe.w}) {
    if (fd >= 0) close(fd);
  }
}

bool Relay::Pump(std::span<char> chunk) {
  if (!m_up.Move(chunk) || !m_down.Move(chunk)) return false;
  if (m_up.shut && m_down.shut) return false;
  // The upstream is done and the client has all of it: a client that keeps its side
  // open has nothing more to wait for.
  return !(m_endsWithAnswer && m_down.ended && m_down.shut && !m_up.Waiting());
}

uint32_t Relay::ClientEvents() const {
  // A side is read only while the other can take what it sends.
  return (!m_up.ended && !m_up.Waiting() ? EPOLLIN : 0u) | (m_down.Waiting() ? EPOLLOUT : 0u);
}

uint32_t Relay::UpstreamEvents() const {
  return (!m_down.ended && !m_down.Waiting() ? EPOLLIN : 0u) | (m_up.Waiting() ? EPOLLOUT : 0u);
}

bool Relay::Direction::Drain(bool& broken) {
  while (pipe.bytes > 0) {
    size_t n = 0;
    const Io io = Splice(pipe.r, to, pipe.bytes, n);
    if (io != Io::Moved) {
      broken = io == Io::Broken;
      return false;
    }
    pipe.bytes -= n;
  }
  return true;
}

bool Relay::Direction::Move(std::span<char> chunk) {
  // What waits goes first; then reads go straight on to the other side, and only what
  // that side cannot take at once is kept.
  bool broken = false;
  if (!buf.empty() && !Flush(to, buf, off, broken)) return !broken;
  if (!Drain(broken)) return !broken;
  for (int i = 0; i < 8 && !ended; ++i) {
    const bool bulk = pipe.r >= 0;
    const size_t most = bulk ? kPipeChunk : kChunk;
    size_t n = 0;
    const Io read = bulk ? Splice(from, pipe.w, most, n) : Receive(from, chunk.data(), most, n);
    if (read == Io::End) {
      ended = true;
      break;
    }
    if (read == Io::Broken) return false;
    if (read == Io::Blocked) break;
    carried += n;
    if (bulk) {
      pipe.bytes = n;
      if (!Drain(broken)) return !broken;
    } else {
      size_t sent = 0;
      const Io write = SendSome(to, {chunk.data(), n}, sent);
      if (write == Io::Broken) return false;
      if (write != Io::Moved) {
        buf.assign(chunk.data() + sent, n - sent);
        return true;
      }
    }
    if (n < most) break;
    // A whole chunk: bulk data, spliced from now on.
    int fds[2];
    if (!bulk && pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      pipe.r = fds[0];
      pipe.w = fds[1];
    }
  }
  if (ended && !shut && !Waiting()) {
    shutdown(to, SHUT_WR);
    shut = true;
  }
  return true;
}

}  // namespace qb
