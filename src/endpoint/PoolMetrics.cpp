#include "endpoint/PoolMetrics.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <sstream>

namespace qb {

namespace {

// The states an upstream can be in; each is always reported, so that a state that
// empties shows 0 rather than vanishing from the graph.
constexpr const char* kStates[] = {"ok", "aside", "unresolved"};

}  // namespace

void PoolMetrics::Fed::Feed(uint64_t now) {
  counter->Increment(static_cast<double>(now >= last ? now - last : now));
  last = now;
}

PoolMetrics::PoolMetrics() : m_registry(std::make_shared<prometheus::Registry>()) {
  using prometheus::BuildCounter;
  using prometheus::BuildGauge;
  m_connections = &BuildCounter()
                       .Name("quillberry_upstream_connections_total")
                       .Help("Client connections carried through the upstream proxy")
                       .Register(*m_registry);
  m_failures = &BuildCounter()
                    .Name("quillberry_upstream_failures_total")
                    .Help("Attempts through the upstream proxy that failed")
                    .Register(*m_registry);
  m_bytes = &BuildCounter()
                 .Name("quillberry_upstream_bytes_total")
                 .Help("Bytes relayed through the upstream proxy; direction up is client to target")
                 .Register(*m_registry);
  m_poolSize = &BuildGauge()
                    .Name("quillberry_pool_upstreams")
                    .Help("Upstream proxies of the pool in each state")
                    .Register(*m_registry);
  for (const char* state : kStates) m_states[state] = &m_poolSize->Add({{"state", state}});

  auto counter = [this](const char* name, const char* help) {
    return &BuildCounter().Name(name).Help(help).Register(*m_registry).Add({});
  };
  m_accepted.counter =
      counter("quillberry_endpoint_connections_total", "Client connections the endpoint took");
  m_failovers.counter =
      counter("quillberry_endpoint_failovers_total", "Times a next upstream was tried after one failed");
  m_refused.counter =
      counter("quillberry_endpoint_refused_total", "Clients answered with an error or closed for bad input");
  m_direct.counter =
      counter("quillberry_endpoint_direct_total", "Connections carried to their target without a proxy");
  m_active = &BuildGauge()
                  .Name("quillberry_endpoint_active_connections")
                  .Help("Client connections open now")
                  .Register(*m_registry)
                  .Add({});
  m_unresolved = &BuildGauge()
                      .Name("quillberry_endpoint_unresolved_upstreams")
                      .Help("Upstreams left out now because their host name gives no address")
                      .Register(*m_registry)
                      .Add({});
}

PoolMetrics::~PoolMetrics() = default;

void PoolMetrics::AddUpstream(const UpstreamState& u, Upstream& series) {
  const prometheus::Labels labels{{"upstream", u.line}, {"type", u.type}};
  series.connections.counter = &m_connections->Add(labels);
  series.failures.counter = &m_failures->Add(labels);
  prometheus::Labels up = labels, down = labels;
  up["direction"] = "up";
  down["direction"] = "down";
  series.bytesUp.counter = &m_bytes->Add(up);
  series.bytesDown.counter = &m_bytes->Add(down);
}

void PoolMetrics::RemoveUpstream(Upstream& series) {
  m_connections->Remove(series.connections.counter);
  m_failures->Remove(series.failures.counter);
  m_bytes->Remove(series.bytesUp.counter);
  m_bytes->Remove(series.bytesDown.counter);
}

std::string PoolMetrics::Scrape(const UpstreamSummary& pool, const CEndpoint::Stats& stats) {
  std::map<std::string, int> states;
  for (const char* state : kStates) states[state] = 0;
  // An upstream never used is in use and has carried nothing.
  states["ok"] += static_cast<int>(pool.members - pool.used.size());
  for (auto& [line, series] : m_upstreams) series.seen = false;
  for (const UpstreamState& u : pool.used) {
    ++states[u.state];
    auto found = m_upstreams.find(u.line);
    if (found == m_upstreams.end()) {
      // Untouched upstreams stay out until they carry or fail something.
      if (u.connections == 0 && u.failuresTotal == 0 && u.bytesUp == 0 && u.bytesDown == 0) continue;
      found = m_upstreams.emplace(u.line, Upstream{}).first;
      AddUpstream(u, found->second);
    }
    Upstream& series = found->second;
    // The same line twice in one pool would count its traffic twice.
    if (series.seen) continue;
    series.seen = true;
    series.connections.Feed(u.connections);
    series.failures.Feed(u.failuresTotal);
    series.bytesUp.Feed(u.bytesUp);
    series.bytesDown.Feed(u.bytesDown);
  }
  for (auto it = m_upstreams.begin(); it != m_upstreams.end();) {
    if (it->second.seen) {
      ++it;
    } else {
      RemoveUpstream(it->second);
      it = m_upstreams.erase(it);
    }
  }
  for (const auto& [state, count] : states) {
    if (!m_states.count(state)) m_states.emplace(state, &m_poolSize->Add({{"state", state}}));
  }
  // A state no upstream is in any more reads 0 rather than its last count.
  for (const auto& [state, gauge] : m_states) gauge->Set(states.count(state) ? states[state] : 0);
  m_accepted.Feed(stats.accepted);
  m_failovers.Feed(stats.failovers);
  m_refused.Feed(stats.refused);
  m_direct.Feed(stats.direct);
  m_active->Set(static_cast<double>(stats.active));
  m_unresolved->Set(static_cast<double>(stats.unresolved));

  std::ostringstream text;
  prometheus::TextSerializer().Serialize(text, m_registry->Collect());
  return text.str();
}

}  // namespace qb
