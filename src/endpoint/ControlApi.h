// The local control API: a small HTTP server beside the endpoint through which other
// programs ask about the pool and act on it, and which Prometheus scrapes.
//
// Routes (every answer but /metrics is JSON; each connection carries one request and
// is closed after the answer):
//   GET  /pool                        every upstream as the endpoint knows it now
//   GET  /count                       how many upstreams are in each state
//   GET  /get?type=&country=&anonymity=  one usable upstream that matches; 404 for none
//   POST /mark-bad   line=            sets that upstream aside; 404 when it is unknown
//   POST /check      [line=]          a health check of that upstream, or of all; 202
//                                     (409 while the endpoint has nothing to check with)
//   GET  /metrics                     the Prometheus text format (PoolMetrics)
// A POST names its upstream in the query, in a form body or in a JSON body
// {"line": "…"}. With a token set, every request must carry it
// ("Authorization: Bearer TOKEN" or "?token=TOKEN") or is answered 401.
//
// The server runs on a thread of its own around poll, so that a slow or hostile API
// client never delays the endpoint's loop; it holds no thread per connection, takes a
// request head of at most kMaxHead bytes and a body of at most kMaxBody, and closes a
// client that has not sent its request within the request time-out.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/OpResult.h"
#include "endpoint/Endpoint.h"
#include "settings/Options.h"

namespace qb {

// What the API asks of the pool it reports on; the endpoint's implementation is
// EndpointPoolControl. Called on the API's thread, so it must be safe from any thread.
class PoolControl {
 public:
  virtual ~PoolControl() = default;
  // The pool in the endpoint's order of preference.
  virtual std::vector<UpstreamState> Upstreams() const = 0;
  // The same in few words (UpstreamSummary): what the counts and the metrics read.
  virtual UpstreamSummary Summary() const {
    std::vector<UpstreamState> all = Upstreams();
    const std::size_t members = all.size();
    return {members, std::move(all)};
  }
  // At most limit upstreams from offset on (UpstreamPage): what a paged /pool reads.
  virtual UpstreamPage Page(std::size_t offset, std::size_t limit) const {
    std::vector<UpstreamState> all = Upstreams();
    UpstreamPage page{all.size(), offset, {}};
    for (std::size_t i = offset; i < all.size() && i - offset < limit; ++i)
      page.upstreams.push_back(std::move(all[i]));
    return page;
  }
  // Whether the pool has an upstream of that line.
  virtual bool Has(const std::string& line) const {
    const std::vector<UpstreamState> all = Upstreams();
    return std::any_of(all.begin(), all.end(), [&](const UpstreamState& u) { return u.line == line; });
  }
  // Sets the upstream named by its line aside; false when the pool has no such line.
  virtual bool MarkBad(const std::string& line) = 0;
  // Starts a health check of the line's upstream, or of every one for an empty line;
  // false when the pool has no such line or nothing can be checked (no check resource).
  // Returns before the check ends.
  virtual bool CheckNow(const std::string& line) = 0;
  virtual CEndpoint::Stats GetStats() const = 0;
  // How /get chooses among the upstreams that match.
  virtual EndpointPolicy Policy() const = 0;
};

// The pool of a running endpoint, for its API.
class EndpointPoolControl : public PoolControl {
 public:
  EndpointPoolControl(CEndpoint& endpoint, EndpointPolicy policy) : m_endpoint(endpoint), m_policy(policy) {}
  std::vector<UpstreamState> Upstreams() const override { return m_endpoint.Upstreams(); }
  UpstreamSummary Summary() const override { return m_endpoint.Summary(); }
  UpstreamPage Page(std::size_t offset, std::size_t limit) const override {
    return m_endpoint.Page(offset, limit);
  }
  bool Has(const std::string& line) const override { return m_endpoint.Has(line); }
  bool MarkBad(const std::string& line) override { return m_endpoint.MarkBad(line); }
  bool CheckNow(const std::string& line) override { return m_endpoint.CheckNow(line); }
  CEndpoint::Stats GetStats() const override { return m_endpoint.GetStats(); }
  EndpointPolicy Policy() const override { return m_policy; }

 private:
  CEndpoint& m_endpoint;
  EndpointPolicy m_policy;
};

struct ControlApiConfig {
  // A port of 0 binds any free one.
  ListenAddress listen{"127.0.0.1", 0};
  // Empty for none: then any local program may ask, as it may use the endpoint.
  std::string token;
  // How long a client may take from its connection to the end of its request, and to
  // take its answer.
  int requestTimeoutMs = 10000;
  // Clients served at once; more wait in the listening socket's backlog for a place.
  int maxClients = 1024;
};

class PoolMetrics;

class ControlApi {
 public:
  static constexpr size_t kMaxHead = 8192;
  static constexpr size_t kMaxBody = 16384;

  ControlApi(ControlApiConfig config, PoolControl& pool);
  // Stops the thread.
  ~ControlApi();
  ControlApi(const ControlApi&) = delete;
  ControlApi& operator=(const ControlApi&) = delete;

  // Binds and starts the thread; on failure nothing runs and the result says why.
  OpResult Start();
  void Stop();
  // The bound port; 0 while not running.
  int Port() const { return m_port; }

  struct Answer {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::string> headers;  // "Name: value", beyond the usual ones
  };
  // The answer to one request, as the server sends it: method, target (path and
  // query) and body as received, authorization the Authorization header's value.
  Answer Handle(const std::string& method, const std::string& target, const std::string& contentType,
                const std::string& body, const std::string& authorization);

 private:
  class Server;
  ControlApiConfig m_config;
  PoolControl& m_pool;
  std::unique_ptr<PoolMetrics> m_metrics;
  std::unique_ptr<Server> m_server;
  std::atomic<int> m_port{0};
  // The round-robin choice of /get.
  std::atomic<uint64_t> m_nextPick{0};
};

// Compares a presented token with the expected one in a time that does not depend on
// where they first differ.
bool TokensMatch(const std::string& presented, const std::string& expected);

}  // namespace qb
