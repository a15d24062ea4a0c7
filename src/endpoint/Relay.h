// The bytes of an established connection, both ways between the client and its
// upstream, until both sides are done.
//
// Each direction reads from one side and writes straight to the other; only what the
// receiving side cannot take at once waits, in a buffer of the direction's own, and
// while it waits the sending side is not read. Once a read fills a whole chunk the
// direction carries bulk data, and from then on the bytes move through a pipe of the
// direction's own (splice) without being copied into this process. An end read on one
// side is passed on as a half-close of the other once everything before it went.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qb {

class Relay {
 public:
  // One read's worth of data that is not spliced, and what one splice moves at most (a
  // pipe's default capacity).
  static constexpr size_t kChunk = 32 * 1024;
  static constexpr size_t kPipeChunk = 64 * 1024;

  // toUpstream and toClient are what the handshakes left to send first. With
  // endsWithAnswer (a forwarded request) the connection ends once the upstream's
  // answer has reached the client, whatever the client does with its side.
  Relay(int client, int upstream, std::string toUpstream, std::string toClient, bool endsWithAnswer);
  // Closes its pipes; the sockets are the session's.
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Moves what both sides can take now, reading into chunk (at least kChunk bytes, and
  // shared: nothing stays in it). False once the connection is over, by both sides
  // ending or by a failure.
  bool Pump(std::span<char> chunk);

  // The bytes read so far from the client (for the upstream) and from the upstream.
  uint64_t BytesUp() const { return m_up.carried; }
  uint64_t BytesDown() const { return m_down.carried; }

  // The epoll events each side waits for now.
  uint32_t ClientEvents() const;
  uint32_t UpstreamEvents() const;

 private:
  struct Pipe {
    int r = -1, w = -1;
    size_t bytes = 0;  // in the pipe, not yet passed on
  };

  // One way through the relay.
  struct Direction {
    int from = -1, to = -1;
    std::string buf;  // what to could not take yet
    size_t off = 0;
    Pipe pipe;
    bool ended = false;    // from sent its end
    bool shut = false;     // and to was told so
    uint64_t carried = 0;  // read from from, in all

    bool Waiting() const { return !buf.empty() || pipe.bytes > 0; }
    // Moves what it can; false when the connection broke.
    bool Move(std::span<char> chunk);
    bool Drain(bool& broken);
  };

  Direction m_up, m_down;  // client to upstream, upstream to client
  bool m_endsWithAnswer;
};

}  // namespace qb
