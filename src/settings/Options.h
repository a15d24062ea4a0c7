// The options that came after the settings of "Setting.dat": how the auto-config
// script fails over, and the local endpoint. They live in "Options.ini" in the data
// directory, so that an older version of the program still reads "Setting.dat"
// unchanged, and so that the endpoint run without the window finds them beside the list.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// How the local endpoint picks the working proxy that carries a connection.
enum class EndpointPolicy {
  Failover,    // always the first that works, in the list's order of speed
  RoundRobin,  // each connection the next one
  Fastest,     // the one with the shortest time measured so far, verification and traffic
};
const char* PolicyName(EndpointPolicy policy);
std::optional<EndpointPolicy> ParsePolicy(std::string_view name);

// The port the endpoint listens on unless told otherwise.
inline constexpr int kDefaultEndpointPort = 8899;
// Seconds a session or a target stays on its upstream after its last use: long enough
// for a log-in and the pages after it, short enough that an abandoned key frees its
// upstream.
inline constexpr int kDefaultStickyLease = 600;
inline constexpr int kMaxStickyLease = 86400;
// How long, in seconds, the endpoint uses the addresses of a proxy's host name before it
// looks the name up again, unless told otherwise; and the longest it may be told.
inline constexpr int kDefaultNameLifetime = 300;
inline constexpr int kMaxNameLifetime = 86400;
// The ranges Options.ini, serve and the settings dialog take for the health checks.
inline constexpr int kMaxCheckInterval = 86400, kMaxCheckTimeout = 300, kMaxLazyAfter = 86400;
inline constexpr int kMaxTolerance = 10000, kMaxFailuresToSetAside = 100, kMaxSetAside = 86400;

struct ScriptOptions {
  // The fixed script lists every favourite as a chain that the browsers walk when a
  // proxy fails, instead of the one chosen proxy alone.
  bool failover = false;
  // The chain ends in DIRECT. Off by default: someone who hides behind a proxy must not
  // be exposed without knowing it when all of them fail. This is the choice of
  // SystemProxyOptions (going direct), kept under its old key for older versions.
  bool allowDirect = false;

  bool operator==(const ScriptOptions&) const = default;
};

struct EndpointOptions {
  // The window runs the endpoint while it runs.
  bool enabled = false;
  // "address:port"; a non-loopback address only when the user names it.
  std::string listen = "127.0.0.1:" + std::to_string(kDefaultEndpointPort);
  EndpointPolicy policy = EndpointPolicy::Failover;
  // The proxy types the endpoint may use (upper case, as in the list); empty for all.
  std::vector<std::string> types;
  // Seconds the addresses of a proxy's host name are used before the name is looked up
  // again (1 to kMaxNameLifetime).
  int nameLifetime = kDefaultNameLifetime;
  // Every connection to one target host goes through one upstream while it keeps being
  // used (EndpointConfig::keepTargets); off, as spreading is what a rotating endpoint is for.
  bool keepTargets = false;
  // Seconds a session or a target stays on its upstream after its last use (1 to
  // kMaxStickyLease).
  int stickyLease = kDefaultStickyLease;

  // Health checks of the upstreams in use (see docs/user-guide.md for why these
  // defaults): every checkInterval seconds, the page given checkTimeout seconds once the
  // way is open; resting after lazyAfter seconds without clients (0: never).
  bool healthChecks = true;
  int checkInterval = 30;
  int checkTimeout = 10;
  int lazyAfter = 120;
  // Milliseconds by which another upstream must be faster before the fastest policy
  // switches to it.
  int tolerance = 150;
  // Failures in a row (of connections or checks) that set an upstream aside, first for
  // setAside seconds, doubled on each repeat up to setAsideMax.
  int failuresToSetAside = 3;
  int setAside = 30;
  int setAsideMax = 300;
  // The connections open through an upstream set aside are closed.
  bool closeTunnels = true;

  bool operator==(const EndpointOptions&) const = default;
};

// The control API beside the endpoint (src/endpoint/ControlApi.h).
struct ApiOptions {
  // "address:port"; empty keeps the API off. A non-loopback address only when the user
  // names it on the command line.
  std::string listen;
  // Asked of every request when not empty.
  std::string token;

  bool operator==(const ApiOptions&) const = default;
};

// The verification history (History.sqlite).
struct HistoryOptions {
  // Results older than this many days are deleted, at most once a day; 0 keeps all.
  int keepDays = 90;
  // The automatic choice of favourites ranks the HTTP and HTTPS rows by their uptime
  // over the latest checks, then by their median time, instead of by the last time.
  bool favoritesByScore = false;

  bool operator==(const HistoryOptions&) const = default;
};

// What the desktop gets when the proxy this program set can no longer work: the
// program exits and the endpoint goes with it, the program or the service is killed,
// every proxy is down.
enum class WhenProxyDown {
  Block,   // nothing leaves without a proxy: programs fail until it works again
  Direct,  // the desktop's own earlier setting comes back (direct, or the user's proxy)
};
const char* WhenProxyDownName(WhenProxyDown when);

struct SystemProxyOptions {
  // Whether the user made the choice (asked once); until then the program blocks, as
  // the failover script always did, and the window asks before it first sets a proxy.
  bool chosen = false;
  // Another program changed the desktop's proxy while this program had set it: set it
  // again without asking.
  bool reapply = false;

  bool operator==(const SystemProxyOptions&) const = default;
};

// The desktop notifications, each of which can be turned off.
struct NotifyOptions {
  // The state the desktop is in after a switch from the tray.
  bool traySwitch = true;
  // The proxy or the endpoint the desktop goes through stops answering.
  bool proxyDown = true;
  // The endpoint's working proxies drop below poolLowBelow.
  bool poolLow = true;
  int poolLowBelow = 3;
  // A verification run that took longer than runSeconds ended while the window was hidden.
  bool runDone = true;
  int runSeconds = 30;

  bool operator==(const NotifyOptions&) const = default;
};

// How an https:// verification resource is trusted, by the host of its URL (lower
// case; an IPv6 address in its brackets). Setting.dat keeps its form, so these live here.
struct VerifyOptions {
  // [Verify] CaFile.HOST=PATH: the PEM file of the CAs that host's certificate must
  // chain to instead of the system's store, for a check server of one's own.
  std::map<std::string, std::string> caFiles;
  // [Verify] Pin.HOST=SHA256: the SHA-256 of the certificate the host presents (64
  // hex digits); any other is interception, even one that chains to a trusted CA.
  std::map<std::string, std::string> pins;
  // [Verify] LeaveOutTampering: the failover script, the favourites and the endpoint
  // pass over proxies whose latest verdict is that they tamper (on unless set to 0).
  bool leaveOutTampering = true;
  // [Verify] DirectReference: for a plain http:// resource that seals nothing, the run
  // fetches the page once directly (without a proxy) and takes any other page through
  // a proxy as modified. Off unless set to 1: it tells that site the user's own address,
  // and suits only a page that is the same for every request.
  bool directReference = false;

  bool operator==(const VerifyOptions&) const = default;
};

struct ExtraOptions {
  ScriptOptions script;
  EndpointOptions endpoint;
  HistoryOptions history;
  SystemProxyOptions systemProxy;
  NotifyOptions notify;
  ApiOptions api;
  VerifyOptions verify;

  // The choice of SystemProxyOptions; the script's DIRECT and the endpoint follow it.
  WhenProxyDown WhenDown() const { return script.allowDirect ? WhenProxyDown::Direct : WhenProxyDown::Block; }
  void SetWhenDown(WhenProxyDown when) {
    script.allowDirect = when == WhenProxyDown::Direct;
    systemProxy.chosen = true;
  }

  bool operator==(const ExtraOptions&) const = default;
};

// The file's text for the options.
std::string FormatOptionsFile(const ExtraOptions& options);
// Reads the file's text; what is not understood keeps its default.
ExtraOptions ParseOptionsFile(std::string_view text);

// Splits "address:port" (an IPv6 address in brackets) into its two parts; nullopt when
// the port is not 1-65535 or the address is empty.
struct ListenAddress {
  std::string host;
  int port = 0;
};
std::optional<ListenAddress> ParseListenAddress(std::string_view text);
// Whether the host names the loopback network (127.0.0.0/8, ::1 in any of its forms,
// 127.0.0.0/8 mapped into IPv6, or "localhost").
bool IsLoopbackHost(std::string_view host);

}  // namespace qb
