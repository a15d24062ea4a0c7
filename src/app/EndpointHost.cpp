#include "app/EndpointHost.h"

#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "datadir/DataDir.h"
#include "endpoint/ControlApi.h"
#include "endpoint/Endpoint.h"
#include "history/History.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qb {

namespace {

// What the history's latest results say of the proxies of the working rows: their exit
// address, anonymity and trust, for the endpoint's view of them and for leaving out
// the ones that tamper. None without a history, or when it knows none of them.
std::function<std::optional<VerifiedFacts>(const std::string&)> HistoryFacts(
    CHistoryStore* history, const std::vector<CProxyEntry>& rows) {
  if (!history || rows.empty()) return {};
  std::vector<std::string> lines;
  lines.reserve(rows.size());
  for (const CProxyEntry& e : rows) lines.push_back(UpstreamLine(e));
  auto scores = std::make_shared<std::unordered_map<std::string, ProxyScore>>(history->Scores(lines));
  if (scores->empty()) return {};
  return [scores](const std::string& line) -> std::optional<VerifiedFacts> {
    const auto it = scores->find(line);
    if (it == scores->end()) return std::nullopt;
    return VerifiedFacts{it->second.exitAddress, it->second.anonymity, it->second.trust};
  };
}

// Refreshing waits for the list to settle: a run or an import changes many rows in a
// row, and the pool needs only their last state.
constexpr int kRefreshDelayMs = 1000;

// A service answers at once on loopback.
constexpr int kServiceProbeMs = 500;

bool SameDir(std::string a, std::string b) {
  while (a.size() > 1 && a.back() == '/') a.pop_back();
  while (b.size() > 1 && b.back() == '/') b.pop_back();
  return a == b;
}

bool SameEndpoint(const EndpointOptions& a, const EndpointOptions& b) {
  return a == b;
}

}  // namespace

CEndpointHost::CEndpointHost(DataDir& dir, QObject* parent)
    : QObject(parent), m_dir(dir), m_list(dir.List()) {
  m_refresh.setSingleShot(true);
  m_refresh.setInterval(kRefreshDelayMs);
  connect(&m_refresh, &QTimer::timeout, this, &CEndpointHost::RefreshPool);
  // Sorting moves rows without changing one: it leaves the pool as it is.
  connect(&m_list, &QAbstractItemModel::modelReset, this, &CEndpointHost::ScheduleRefresh);
  connect(&m_list, &QAbstractItemModel::dataChanged, this, &CEndpointHost::ScheduleRefresh);
  connect(&m_list, &QAbstractItemModel::rowsInserted, this, &CEndpointHost::ScheduleRefresh);
  connect(&m_list, &QAbstractItemModel::rowsRemoved, this, &CEndpointHost::ScheduleRefresh);
}

CEndpointHost::~CEndpointHost() {
  StopEndpoint();
}

void CEndpointHost::StopEndpoint() {
  m_api.reset();
  m_control.reset();
  m_endpoint.reset();
}

int CEndpointHost::ApiPort() const {
  return m_api ? m_api->Port() : 0;
}

qb::OpResult CEndpointHost::StartApi() {
  m_runningApi = m_apiOptions;
  if (m_apiOptions.listen.empty()) return qb::OpResult::Success();
  const auto listen = ParseListenAddress(m_apiOptions.listen);
  if (!listen || !IsLoopbackHost(listen->host)) {
    return qb::OpResult::Failure(qb::OpStatus::ListenFailed, m_apiOptions.listen,
                                 "not a loopback address; only quillberry-cli serve --api listens on others");
  }
  ControlApiConfig config;
  config.listen = *listen;
  config.token = m_apiOptions.token;
  m_control = std::make_unique<EndpointPoolControl>(*m_endpoint, m_running.policy);
  auto api = std::make_unique<ControlApi>(config, *m_control);
  qb::OpResult started = api->Start();
  if (started) m_api = std::move(api);
  return started;
}

qb::OpResult CEndpointHost::Apply(const EndpointOptions& options, int connectTimeoutMs) {
  // Said once, by the Apply that started the endpoint.
  m_apiResult = qb::OpResult::Success();
  if (!options.enabled) {
    StopEndpoint();
    m_service.reset();
    return qb::OpResult::Success();
  }
  if (m_service && SameEndpoint(options, m_running)) return qb::OpResult::Success();
  // The ticked resource is what the health checks ask for: another one (chosen in the
  // settings dialog) needs an endpoint that checks against it.
  EndpointConfig checks;
  ApplyCheckResource(m_dir.Settings(), checks);
  const bool sameChecks = checks.checkUrl == m_checkUrl && checks.checkFeature == m_checkFeature;
  if (m_endpoint && SameEndpoint(options, m_running) && connectTimeoutMs == m_connectTimeoutMs &&
      sameChecks) {
    // Only the API changed: it alone starts again, the endpoint's clients undisturbed.
    if (m_apiOptions != m_runningApi) {
      m_api.reset();
      m_control.reset();
      m_apiResult = StartApi();
    }
    return qb::OpResult::Success();
  }
  StopEndpoint();
  const auto listen = ParseListenAddress(options.listen);
  if (!listen) {
    return qb::OpResult::Failure(qb::OpStatus::ApplyFailed, {}, "not an address and port: " + options.listen);
  }
  // The endpoint's service of this data directory already serves there (started by
  // systemd, which restarts it when it dies): the window uses it instead of its own.
  m_service.reset();
  if (const auto status = ProbeEndpoint(*listen, kServiceProbeMs);
      status && SameDir(status->dataDir, m_dir.Path())) {
    m_service = status;
    m_running = options;
    m_poolSize = status->pool;
    return qb::OpResult::Success();
  }
  EndpointConfig config;
  config.listen = *listen;
  ApplyEndpointOptions(options, config);
  ApplyCheckResource(m_dir.Settings(), config);
  config.connectTimeoutMs = connectTimeoutMs;
  config.goDirect = m_goDirect;
  config.dataDir = m_dir.Path();
  auto endpoint = std::make_unique<CEndpoint>(config);
  // The callback runs on the endpoint's own thread; the rows belong to this one.
  endpoint->OnSetAside([this](const std::string& line, const std::string& reason) {
    QMetaObject::invokeMethod(
        this, [this, line, reason] { MarkSetAside(line, reason); }, Qt::QueuedConnection);
  });
  qb::OpResult started = endpoint->Start();
  if (!started) return started;
  m_endpoint = std::move(endpoint);
  m_running = options;
  m_connectTimeoutMs = connectTimeoutMs;
  m_checkUrl = config.checkUrl;
  m_checkFeature = config.checkFeature;
  m_apiResult = StartApi();
  RefreshPool();
  return started;
}

void CEndpointHost::SetGoDirect(bool goDirect) {
  m_goDirect = goDirect;
  if (m_endpoint) m_endpoint->SetGoDirect(goDirect);
}

bool CEndpointHost::Running() const {
  return m_endpoint != nullptr || m_service.has_value();
}

std::string CEndpointHost::Address() const {
  if (!Running()) return {};
  const auto listen = ParseListenAddress(m_running.listen);
  const std::string host =
      listen->host.find(':') == std::string::npos ? listen->host : "[" + listen->host + "]";
  return host + ":" + std::to_string(m_endpoint ? m_endpoint->Port() : listen->port);
}

std::string CEndpointHost::ProxyLine() const {
  const std::string address = Address();
  return address.empty() ? std::string() : address + "@HTTP";
}

void CEndpointHost::ScheduleRefresh() {
  // A run writes its rows while it is busy: the rows marked before it may now say what
  // the run found, not what the endpoint did.
  if (m_busy && m_busy()) m_runSeen = true;
  if (m_endpoint) m_refresh.start();
}

void CEndpointHost::RefreshPool() {
  if (!m_endpoint) return;
  if (m_busy && m_busy()) {
    m_runSeen = true;
    m_refresh.start();
    return;
  }
  if (m_runSeen) {
    m_marked.clear();
    m_runSeen = false;
  }
  RestoreRows();
  // Only rows that answered with a time can be in the pool; copying the others would
  // cost a large list a lot for nothing. A row marked for a set-aside goes in with the
  // time it had, so that the endpoint keeps checking the proxy and can bring it back.
  std::vector<CProxyEntry> working;
  std::unordered_set<std::string> stillMarked;
  for (int row = 0; row < m_list.RowCount(); ++row) {
    const CProxyEntry* e = m_list.Entry(row);
    const std::string status = e->TimeStatus();
    if (!status.empty() && std::isdigit(static_cast<unsigned char>(status.front()))) {
      working.push_back(*e);
    } else if (!m_marked.empty() && status == kStatusConnectFailed) {
      const auto marked = m_marked.find(FormatProxyLine(*e));
      if (marked == m_marked.end()) continue;
      working.push_back(*e);
      working.back().SetTimeStatus(marked->second);
      stillMarked.insert(marked->first);
    }
  }
  // A row re-verified, edited or deleted since is no longer the endpoint's to restore.
  std::erase_if(m_marked, [&](const auto& kept) { return !stillMarked.count(kept.first); });
  auto facts = HistoryFacts(m_dir.History(), working);
  UpstreamRows pool = UpstreamRowsFromEntries(std::move(working), m_dir.Credentials(), m_running.types, facts,
                                              m_dir.Options().verify.leaveOutTampering, m_dir.Path());
  m_poolSize = static_cast<int>(pool.rows.size());
  m_endpoint->SetPool(std::move(pool));
}

void CEndpointHost::RestoreRows() {
  bool restored = false;
  for (const std::string& line : m_takenBack) {
    const auto marked = m_marked.find(line);
    if (marked == m_marked.end()) continue;
    for (int row = 0; row < m_list.RowCount(); ++row) {
      if (m_list.GetProxyLine(row) != line || m_list.Entry(row)->TimeStatus() != kStatusConnectFailed)
        continue;
      m_list.SetTimeStatus(row, marked->second);
      restored = true;
    }
    m_marked.erase(marked);
  }
  m_takenBack.clear();
  if (restored) emit rowsMarked();
}

void CEndpointHost::MarkSetAside(const std::string& line, const std::string& reason) {
  // Taken back: its row gets its time again once no run is writing the rows (they are
  // addressed by position then), unless a run has since said something else of it.
  if (reason.empty()) {
    if (!m_marked.count(line)) return;
    m_takenBack.push_back(line);
    if (m_busy && m_busy()) {
      ScheduleRefresh();
    } else {
      RestoreRows();
    }
    return;
  }
  // A row that a run is writing now: the run tells.
  if (m_busy && m_busy()) return;
  bool marked = false;
  for (int row = 0; row < m_list.RowCount(); ++row) {
    if (m_list.GetProxyLine(row) != line) continue;
    const std::string status = m_list.Entry(row)->TimeStatus();
    if (!status.empty() && std::isdigit(static_cast<unsigned char>(status.front()))) {
      m_marked.try_emplace(line, status);
    }
    m_list.SetTimeStatus(row, kStatusConnectFailed);
    marked = true;
  }
  if (marked) emit rowsMarked();
}

}  // namespace qb
