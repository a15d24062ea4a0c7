// One client connection, from its first byte to its close.
//
// It goes through three parts, each an object of its own: the client's head
// (ClientHandshake), then an attempt through one upstream proxy after another
// (UpstreamPool::Get, one UpstreamHandshake each) until one is through, then the relay
// (Relay). The session moves the connection from part to part by swapping the handler
// of each socket's watch, and is the one that decides: when an attempt has failed and
// the next proxy is to be tried, and when the client is refused.
//
// The client's head and the first attempt may overlap: a SOCKS5 client's upstream is
// reached while the client still answers our greeting, so that the round trips of the
// two overlap. An attempt ready for the target before the client has named it waits
// (and its time-out with it) until the client has.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "endpoint/ClientHandshake.h"
#include "endpoint/Endpoint.h"
#include "endpoint/EventLoop.h"
#include "endpoint/Relay.h"
#include "endpoint/StickyTable.h"
#include "endpoint/UpstreamHandshake.h"
#include "endpoint/UpstreamPool.h"

namespace qb {

class Session;

// Looks up the names of targets that connections reach directly, each on a thread of
// its own, so that the loop never waits for a name server; the answers wait here until
// the loop takes them (it is woken for each).
class TargetLookups : public std::enable_shared_from_this<TargetLookups> {
 public:
  struct Answer {
    uint64_t id = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
    std::string error;  // empty when the name gave an address
  };
  explicit TargetLookups(std::function<void()> wake) : m_wake(std::move(wake)) {}
  void Start(uint64_t id, const std::string& host, int port);
  std::vector<Answer> Take();
  // The loop is going: answers still to come are dropped, and nobody is woken.
  void Close();

 private:
  std::mutex m_mutex;
  std::vector<Answer> m_answers;
  std::function<void()> m_wake;
  bool m_closed = false;
};

class Session {
 public:
  using Clock = std::chrono::steady_clock;

  // What the sessions of one endpoint share; used on the loop's thread but for the
  // counters, which are read from any.
  struct Shared {
    Shared(const EndpointConfig& config, EventLoop& loop, UpstreamPool& pool)
        : config(config), loop(loop), pool(pool), sticky(std::chrono::milliseconds(config.stickyLeaseMs)) {}
    const EndpointConfig& config;
    EventLoop& loop;
    UpstreamPool& pool;
    // Which upstream each named session, and each target when targets are kept, was
    // carried through.
    StickyTable sticky;
    std::atomic<uint64_t> accepted{0}, active{0}, failovers{0}, refused{0}, direct{0}, tunnelsClosed{0};
    // EndpointConfig::goDirect, switched while the endpoint runs.
    std::atomic<bool> goDirect{false};
    std::shared_ptr<TargetLookups> lookups;
    // Sessions waiting for their target's address, by the lookup's id.
    std::unordered_map<uint64_t, Session*> resolving;
    uint64_t nextLookup = 1;
    std::unordered_set<Session*> live;
    std::vector<Session*> closed;  // freed once the events of one wait are handled
    // Sessions with no proxy to try while the pool's names are looked up for the first
    // time: tried again as answers come.
    std::unordered_set<Session*> parked;
    size_t handshaking = 0;  // live sessions not yet relaying: they have deadlines
    // When a client last asked to be carried somewhere (a status request is no use of
    // the pool): the health checks rest when this is long past.
    Clock::time_point lastUse{};
    char chunk[Relay::kChunk];  // one read's worth, for whichever session reads
  };

  // Takes over client, an accepted connection, and waits for its head. A local client
  // (on loopback) may ask for the endpoint's status.
  Session(Shared& shared, int client, bool local);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Whether a deadline has passed (the client's for its head, or the attempt's), and
  // what follows from that.
  bool Late(Clock::time_point now) const;
  void TimeOut(Clock::time_point now);
  // Closes both sockets and hands the session to shared.closed. Its watches ignore
  // whatever this wait still reports.
  void Close();
  // The address of the target this session goes to directly.
  void LookedUp(const TargetLookups::Answer& answer);
  // The pool has changed (names answered, a new pool): a parked session tries again.
  void Resume();
  // Whether its connection is open and carried through u.
  bool Through(const Upstream* u) const { return !m_closed && m_relay && m_via.get() == u; }

 private:
  using Handler = void (Session::*)(uint32_t events);
  struct Side final : EventLoop::Watch {
    Session* session = nullptr;
    Handler handler = nullptr;
    void OnReady(uint32_t events) override { (session->*handler)(events); }
  };

  // One upstream proxy tried.
  struct Attempt {
    UpstreamRef via;
    // Which of its addresses the connection goes to (as Upstream::Address counts), and
    // how many were tried before it.
    size_t address = 0;
    size_t addressesTried = 0;
    // From the connection on.
    std::unique_ptr<UpstreamHandshake> handshake;
    std::string out;  // handshake bytes the proxy has not taken yet
    size_t outOff = 0;
    Clock::time_point start{}, deadline{}, parkedAt{};
  };

  // Until the way to the target is open: the client's head, and the attempts.
  struct Setup {
    ClientHandshake head;
    bool headDone = false;
    ClientRequest request;
    Clock::time_point clientDeadline{};
    // Off while a client that half-closed waits for its upstream: the hang-up would be
    // reported again and again.
    bool watchClient = true;
    bool earlyStarted = false;
    Attempt attempt;
    std::vector<UpstreamRef> tried;
    int attempts = 0;
    Failure lastFailure = Failure::None;
    std::string lastReason;
    // Going to the target without a proxy: no proxy could carry it, and the user chose
    // going direct over refusing.
    bool direct = false;
    // Waiting for the pool's names since, and until; once that is over it waits no more.
    Clock::time_point parkedUntil{};
    bool waitedForNames = false;
    // The key that keeps this connection on an upstream (StickyTable); empty for none.
    std::string stickyKey;
  };

  // The StickyTable key of this connection, as far as the client has told it.
  std::string StickyKey() const;
  // The client's socket: its head, then only whether it hangs up, then the relay.
  void ReadHead(uint32_t events);
  void WatchHangUp(uint32_t events);
  // The upstream's socket: the connection, then the handshake, then the relay.
  void Connected(uint32_t events);
  void ReadHandshake(uint32_t events);
  // Both, once relaying.
  void Pump(uint32_t events);
  // Adds what the relay moved since the last count to the upstream's bytes.
  void CountBytes();
  void Ignore(uint32_t events) {}

  void HeadDone();
  void StartAttempt();
  void ConnectTo(UpstreamRef next);
  // A connection to the attempt's present address; on failure the next one's, if any.
  void Dial();
  void DialFailed(const std::string& reason);
  void CloseUpstream();
  void Park();
  void Unpark();
  void StartDirect();
  void DirectFailed(const std::string& reason);
  void AnswerStatus();
  void DropUpstream();
  void SendTarget();
  void Follow(UpstreamHandshake::Want want, const std::string& out);
  void AttemptFailed(Failure failure, std::string reason);
  void Established();
  void Refuse(const std::string& answer);
  // Sends a last answer and closes.
  void Finish(const std::string& answer);
  // Asks the loop for the events the present phase waits for.
  void Rearm();

  Shared& m_shared;
  Side m_client, m_upstream;
  bool m_closed = false;
  bool m_local = false;
  bool m_parked = false;
  uint64_t m_lookup = 0;  // while the target's name is looked up
  // The present phase's own: the setup, then the relay. An open connection holds only
  // the relay's few bytes.
  std::unique_ptr<Setup> m_setup;
  std::unique_ptr<Relay> m_relay;
  // The proxy the relay goes through (null for a direct connection), and how much of
  // the relay's bytes it has been told of.
  UpstreamRef m_via;
  uint64_t m_countedUp = 0, m_countedDown = 0;
};

}  // namespace qb
