// The pool and the endpoint in the Prometheus text exposition format, made with the
// registry and text serializer of prometheus-cpp's core and served by the control API.
//
// The endpoint counts per upstream since the upstream joined the pool, and a new list
// builds a new pool: read as it is, such a count would go back to 0 each time the list
// is verified again, which Prometheus takes for a restart of the whole program. So each
// upstream's counters live here, keyed by its line, across pools: a scrape adds what
// the endpoint counted since the scrape before, and a count that went down (the line
// joined a new pool) adds all of its new count. They never go backwards while the line
// stays in the pool.
//
// Label cardinality: a line gets its own series only once it has carried a connection
// or failed one (a pool of 10,000 verified proxies, most never used, does not make
// 40,000 series of zeros), and loses them when it leaves the pool. Pool sizes are gauges
// by state, the endpoint's totals plain counters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "endpoint/Endpoint.h"

namespace prometheus {
class Registry;
class Counter;
class Gauge;
template <typename T>
class Family;
}  // namespace prometheus

namespace qb {

class PoolMetrics {
 public:
  PoolMetrics();
  ~PoolMetrics();
  PoolMetrics(const PoolMetrics&) = delete;
  PoolMetrics& operator=(const PoolMetrics&) = delete;

  // Takes in the pool and the endpoint's totals as they are now and returns the text of
  // every metric. Not thread-safe: one caller at a time (the API's thread).
  std::string Scrape(const UpstreamSummary& pool, const CEndpoint::Stats& stats);
  std::string Scrape(const std::vector<UpstreamState>& pool, const CEndpoint::Stats& stats) {
    return Scrape(UpstreamSummary{pool.size(), pool}, stats);
  }

 private:
  // A counter fed from a count that may start again from 0.
  struct Fed {
    prometheus::Counter* counter = nullptr;
    uint64_t last = 0;
    void Feed(uint64_t now);
  };
  struct Upstream {
    Fed connections, failures, bytesUp, bytesDown;
    bool seen = false;
  };
  void AddUpstream(const UpstreamState& u, Upstream& series);
  void RemoveUpstream(Upstream& series);

  std::shared_ptr<prometheus::Registry> m_registry;
  prometheus::Family<prometheus::Counter>* m_connections;
  prometheus::Family<prometheus::Counter>* m_failures;
  prometheus::Family<prometheus::Counter>* m_bytes;
  prometheus::Family<prometheus::Gauge>* m_poolSize;
  std::map<std::string, Upstream> m_upstreams;
  std::map<std::string, prometheus::Gauge*> m_states;
  Fed m_accepted, m_failovers, m_refused, m_direct;
  prometheus::Gauge* m_active = nullptr;
  prometheus::Gauge* m_unresolved = nullptr;
};

}  // namespace qb
