// The local rotating endpoint: a proxy on a loopback port that browsers and tools
// point at once, and that carries each of their connections through one of the list's
// working proxies.
//
// Clients speak HTTP (absolute-URI requests and CONNECT) or SOCKS5 (no log-on,
// CONNECT only) to it; the first byte of a connection tells which. Each connection is
// carried through one upstream proxy, chosen by the policy, in that proxy's own
// protocol and with its stored log-on. When the chosen proxy cannot be reached or
// refuses, the next candidate is tried before the client sees an error; a proxy that
// keeps failing is set aside for a while.
//
// Everything runs on one thread of the endpoint's own around epoll: no thread per
// connection, relay buffers only while data flows.
//
// The parts, in this folder:
//   EventLoop          the thread, epoll, the listening socket, wake-ups, the deadline tick
//   Session            one client connection through its phases; failover and refusals
//   ClientHandshake    the client's HTTP or SOCKS5 head, and what the client is answered
//   UpstreamHandshake  one exchange per upstream protocol (HttpHandshake.cpp,
//                      Socks4Handshake.cpp, Socks5Handshake.cpp)
//   Relay              the bytes both ways once through: buffers, pipes, half-close
//   UpstreamPool       which proxy an attempt gets, failure counts, set-aside and back-off,
//                      a new pool taking over, the addresses of proxies named by a name
//   NameResolver       those names looked up on threads of its own
//   Net                socket calls and address texts the parts share
//   Endpoint.cpp       the functions below, and CEndpoint putting the parts together
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/OpResult.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "settings/Options.h"

namespace qb {

class CSettings;

// One proxy the endpoint may carry connections through.
struct UpstreamProxy {
  std::string addr, port;
  // As in the list: "HTTP", "HTTPS", "SOCKS4", "SOCKS5".
  std::string type;
  std::optional<ProxyCredentials> logOn;
  // The verification time in seconds; 0 when unknown.
  double seconds = 0;
  // What is known of it beyond the row, for the pool's view (UpstreamState); empty
  // when unknown. See DescribeUpstreams.
  std::string exitAddress{}, country{}, anonymity{};
  // The checks' verdict (a TrustWord; empty: unchecked) and the network of its exit
  // ("AS64496 Owner"), from an ASN database in the data directory.
  std::string trust{}, network{};
  // "addr:port@TYPE", the way the list names the proxy.
  std::string Line() const;
};
// The same line of a list's row.
std::string UpstreamLine(const CProxyEntry& e);

// The pool as a long list hands it over: a packed row per proxy in the pool's order
// (its address, port and type; its time is the verification time), and whole the few
// that carry more than their row (a log-on, what verification found of them) or that
// were given whole. A pool of millions costs little more than its rows this way.
struct UpstreamRows {
  std::vector<CProxyEntry> rows;
  std::unordered_map<std::uint32_t, UpstreamProxy> whole;
  // Where the country and network of a proxy are looked up when its view is asked for
  // (as DescribeUpstreams's geoDataDir); empty for none.
  std::string geoDataDir;
};

// Whether the endpoint can carry connections through a proxy of this type (upper case).
bool IsEndpointType(std::string_view type);

struct EndpointConfig {
  ListenAddress listen{"127.0.0.1", kDefaultEndpointPort};
  EndpointPolicy policy = EndpointPolicy::Failover;
  // The proxy types allowed (upper case); empty for every type the endpoint can use.
  std::vector<std::string> types;
  // How long reaching an upstream proxy and its handshake may take.
  int connectTimeoutMs = 5000;
  // How long a new client may take to send its request.
  int clientIdleMs = 30000;
  // How many candidates one client connection may try before it is refused.
  int maxAttempts = 3;
  // Failures in a row after which a proxy is set aside, and for how long at first
  // (doubled on every repeat, up to an hour).
  int failuresToSetAside = 3;
  int setAsideMs = 120000;
  // How long the addresses a proxy's host name gave are used before it is looked up
  // again (EndpointOptions::nameLifetime), and how long a lookup may take.
  int nameLifetimeMs = kDefaultNameLifetime * 1000;
  int lookupTimeoutMs = 10000;
  // How those names are looked up: the addresses a name has (as texts), or none and
  // error saying why. Runs on a lookup thread of its own, never the loop's. Empty for the
  // system's resolver; tests give names of their own.
  std::function<std::vector<std::string>(const std::string& name, std::string& error)> lookupName;
  // A connection that no proxy can carry (the pool is empty, every proxy is set aside,
  // or each one tried failed) goes to its target directly instead of being refused:
  // the user's choice of going direct when the proxies are down (WhenProxyDown).
  bool goDirect = false;
  // Keeping clients on one upstream: a client that names a session (a log-on user
  // "session-KEY", or the session header) stays on the upstream that first carried it,
  // and with keepTargets every connection to one target host does, for as long as the
  // key is used again within stickyLeaseMs. When that upstream is set aside, the key
  // moves to another, one with the same exit address if there is one.
  bool keepTargets = false;
  int stickyLeaseMs = kDefaultStickyLease * 1000;
  // Health checks (endpoint/HealthCheck.h): the verification's HTTP resource and its
  // feature string (no checks without an http:// URL), how often an upstream in use is
  // checked, how long its answer may take once the way is open (reaching the proxy and
  // its handshake have connectTimeoutMs), after how long without clients the checks
  // rest (0: never), and how many run at once.
  std::string checkUrl, checkFeature;
  int checkIntervalMs = 30000;
  int checkReplyMs = 10000;
  int lazyAfterMs = 120000;
  // 128 at once check 10,000 upstreams in use within a 30 s interval when each check
  // takes up to 0.4 s; each costs one socket.
  int maxChecks = 128;
  // The fastest policy keeps the upstream it uses until another is faster by more than
  // this.
  int toleranceMs = 150;
  // The longest an upstream is set aside at a time, the doubling's ceiling.
  int setAsideMaxMs = 3600 * 1000;
  // When an upstream is set aside, the client connections open through it are closed,
  // so that their programs connect again through one that works.
  bool closeTunnels = true;
  // The data directory served, named in the status answer so that a window can tell the
  // endpoint of its own list from another's.
  std::string dataDir;
};

// The endpoint's options as Options.ini (or serve) give them: the policy, types, name
// lifetime, health checks, tolerance, set-aside rules and closing of tunnels.
void ApplyEndpointOptions(const EndpointOptions& options, EndpointConfig& config);
// The check resource and the connection time-out from the verification's settings:
// the ticked HTTP resource and its feature string (no checks without one).
void ApplyCheckResource(const CSettings& settings, EndpointConfig& config);

// What the endpoint answers a local client that asks "GET /quillberry/status": who
// serves, and how its pool stands. A window finds the endpoint's service this way and
// watches its pool.
inline constexpr const char* kEndpointStatusPath = "/quillberry/status";
struct EndpointStatus {
  long pid = 0;
  std::string dataDir;
  int pool = 0;        // the proxies of the pool
  int usable = 0;      // of them, those with an address and not set aside
  int unresolved = 0;  // of them, those whose host name gives no address
  bool goDirect = false;

  bool operator==(const EndpointStatus&) const = default;
};
std::string FormatEndpointStatus(const EndpointStatus& status);
// nullopt when the text is not an endpoint's status (another program answered).
std::optional<EndpointStatus> ParseEndpointStatus(std::string_view text);
// The request a client sends for it, and the whole answer's body out of a response.
std::string EndpointStatusRequest(const std::string& hostPort);
std::optional<EndpointStatus> ParseEndpointStatusResponse(std::string_view response);
// Asks the endpoint at address for its status and waits at most timeoutMs; nullopt
// when nothing answers there, or something that is no endpoint of this program.
std::optional<EndpointStatus> ProbeEndpoint(const ListenAddress& address, int timeoutMs);
// Whether something accepts a connection at address within timeoutMs.
bool PeerAccepts(const ListenAddress& address, int timeoutMs);
// Whether the proxy a desktop points at ("A:P@TYPE") answers: for the endpoint's line,
// an endpoint of this program must answer its status; a proxy must take a connection.
// Long enough for a proxy on this machine or the next, which answers at once; a dead
// local one refuses at once.
inline constexpr int kStaleProbeMs = 1500;
bool DesktopProxyAnswers(const std::string& line, bool endpoint, int timeoutMs);

// The pool from the list's rows: the working rows (their status is a time) of a type
// the endpoint can use and types allows (empty: all), fastest first, each with its
// log-on from the store.
std::vector<UpstreamProxy> UpstreamsFromEntries(const std::vector<CProxyEntry>& rows,
                                                const CProxyCredentialStore& logOns,
                                                const std::vector<std::string>& types);

// The same as packed rows, in the same order, taking the rows: those the history knows
// (verified, by line) or that have a log-on go whole, with what DescribeUpstreams would
// give them but their country and network, which the pool looks up in geoDataDir when
// asked; with leaveOutTampering the proxies whose checks caught them tampering are
// left out, as LeaveOutTampering does.
struct VerifiedFacts;
UpstreamRows UpstreamRowsFromEntries(
    std::vector<CProxyEntry> rows, const CProxyCredentialStore& logOns, const std::vector<std::string>& types,
    const std::function<std::optional<VerifiedFacts>(const std::string& line)>& verified,
    bool leaveOutTampering, const std::string& geoDataDir);

// What the pool's view tells of each proxy beyond its row, which holds only its
// address, port, type, time and remark: the exit address and anonymity its latest
// verification found (verified, by line: the history's word, none when it has none),
// and the country (ISO 3166 code) of its exit address, or of its own address when no
// exit address is known, from the location databases of geoDataDir and the system's
// (LocateAddress). An empty geoDataDir looks up no country.
struct VerifiedFacts {
  std::string exitAddress, anonymity;
  std::string trust{};
};
void DescribeUpstreams(std::vector<UpstreamProxy>& pool,
                       const std::function<std::optional<VerifiedFacts>(const std::string& line)>& verified,
                       const std::string& geoDataDir);

// Takes the proxies whose checks caught them reading or changing the traffic out of
// the pool (after DescribeUpstreams); returns how many. A time measured through a
// proxy says nothing of what it does to the pages it carries.
std::size_t LeaveOutTampering(std::vector<UpstreamProxy>& pool);

// One proxy of the pool as the endpoint knows it now: what the control API reports and
// what the metrics count.
struct UpstreamState {
  std::string line;  // "addr:port@TYPE", as UpstreamProxy::Line
  std::string type;  // "HTTP", "HTTPS", "SOCKS4", "SOCKS5"
  // "ok" (in use), "aside" (set aside after failures, or marked bad), "unresolved" (its
  // host name gives no address now).
  std::string state;
  double latency = 0;  // seconds, the running average of checks and real connections; 0 unknown
  int failures = 0;    // failures in a row now
  // The share of health checks that passed since it joined the pool; -1 before the first.
  double uptime = -1;
  int64_t lastCheckAgoMs = -1;  // since its last health check; -1 for none
  // What its verification found, from the list.
  std::string exitAddress, country, anonymity;
  std::string trust, network;
  // Since it joined the pool.
  uint64_t connections = 0;    // client connections carried through it
  uint64_t failuresTotal = 0;  // attempts through it that failed
  uint64_t bytesUp = 0;        // client to target
  uint64_t bytesDown = 0;      // target to client

  bool operator==(const UpstreamState&) const = default;
};

// The pool in few words: how many proxies it has, and the view of those the endpoint
// has used (handed out, checked, set aside, left out, or asked for by line); every
// other proxy is "ok" with nothing counted. What the counts and the metrics need, at the
// cost of the proxies used rather than of the whole pool.
struct UpstreamSummary {
  std::size_t members = 0;
  std::vector<UpstreamState> used;
};

// A part of the pool's view: the proxies from offset on, and how many the pool has.
struct UpstreamPage {
  std::size_t members = 0;
  std::size_t offset = 0;
  std::vector<UpstreamState> upstreams;
};

class CEndpoint {
 public:
  explicit CEndpoint(EndpointConfig config);
  // Stops the loop and joins its thread.
  ~CEndpoint();
  CEndpoint(const CEndpoint&) = delete;
  CEndpoint& operator=(const CEndpoint&) = delete;

  // Binds and starts the loop thread. On failure (the port taken, an address that is
  // not one) nothing runs and the result says why.
  qb::OpResult Start();
  // Closes every connection and joins the loop; Start may be called again after, and
  // the pool and what was learnt about its proxies are kept.
  void Stop();
  // The bound port (a listen port of 0 binds any free one); 0 while not running.
  int Port() const;

  // Switches going direct (EndpointConfig::goDirect) for the connections that come next;
  // safe from any thread.
  void SetGoDirect(bool goDirect);

  // Replaces the candidates; safe from any thread. Connections already carried keep
  // their proxy; new ones use the new pool. Proxies set aside come back, as the pool
  // carries fresh verification results.
  void SetPool(std::vector<UpstreamProxy> pool);
  void SetPool(UpstreamRows pool);

  // Called on the loop thread when a proxy is left out because its host name gives no
  // address (error: why) and, with an empty error, when the name gives one again. Set
  // before Start, under the same terms as OnSetAside.
  void OnUnresolved(std::function<void(const std::string& line, const std::string& error)> fn);

  // Called on the loop thread when a proxy is set aside after repeated failures
  // (reason: what the last failure was) and, with an empty reason, when it is taken
  // back (its time is up, it worked again, or SetPool brought it fresh). Set before
  // Start; the callback must not call Stop, and should only pass the news on.
  void OnSetAside(std::function<void(const std::string& line, const std::string& reason)> fn);

  struct Stats {
    uint64_t accepted = 0;       // client connections taken
    uint64_t active = 0;         // client connections open now
    uint64_t failovers = 0;      // times a next candidate was tried after a failure
    uint64_t refused = 0;        // clients answered with an error or closed for bad input
    uint64_t direct = 0;         // connections carried to their target without a proxy
    uint64_t unresolved = 0;     // proxies of the pool left out now: their name gives no address
    uint64_t checks = 0;         // health checks started
    uint64_t tunnelsClosed = 0;  // open connections closed as their upstream was set aside
  };
  Stats GetStats() const;

  // Each proxy of the pool as the endpoint knows it now, in the pool's order. From any
  // thread but the loop's callbacks (OnSetAside, OnUnresolved): it waits for the loop.
  std::vector<UpstreamState> Upstreams() const;
  // The same in few words (UpstreamSummary), without a country or network; as Upstreams.
  UpstreamSummary Summary() const;
  // At most limit proxies from offset on, in the pool's order; as Upstreams, at the
  // cost of those described rather than of the whole pool.
  UpstreamPage Page(std::size_t offset, std::size_t limit) const;
  // Whether the pool has the proxy of that line; as Upstreams.
  bool Has(const std::string& line) const;
  // Sets the proxy of that line ("addr:port@TYPE") aside now, as repeated failures
  // would (reason "marked bad", announced through OnSetAside); false when the pool has
  // no such proxy. From any thread, as Upstreams.
  bool MarkBad(const std::string& line);
  // Has that proxy checked at once (an empty line: every proxy of the pool), even while
  // the checks rest; false for a line the pool does not have, or when the endpoint has
  // no check resource. From any thread, as Upstreams.
  bool CheckNow(const std::string& line);

 private:
  class Loop;
  std::unique_ptr<Loop> m_loop;
};

}  // namespace qb
