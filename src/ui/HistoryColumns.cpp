#include "ui/HistoryColumns.h"

#include <QObject>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "base/Language.h"
#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "proxy/GeoLocation.h"
#include "proxy/ProxyEntry.h"

namespace qb {

namespace {

constexpr double kNone = std::numeric_limits<double>::infinity();
// Look-ups at once: a list of thousands of names shown or filtered must not fill the
// resolver's threads; the rest start as answers come and the rows are shown again.
constexpr std::size_t kMaxLookups = 8;
// Answers that come together are shown together.
constexpr int kRepaintDelayMs = 100;

// Paranoid proxies first when sorted ascending: the order a user looking for hiding
// places wants.
int AnonymityRank(const std::string& word) {
  if (word == "elite") return 0;
  if (word == "anonymous") return 1;
  if (word == "transparent") return 2;
  return 3;
}

// The safest first when sorted ascending.
int TrustRank(Trust trust) {
  switch (trust) {
    case Trust::Clean:
      return 0;
    case Trust::Unchecked:
      return 1;
    case Trust::Modified:
      return 2;
    case Trust::TlsIntercepted:
      return 3;
  }
  return 1;
}

}  // namespace

// The names' addresses, kept for the window's life: where a proxy is does not change
// while one looks at the list. Everything here runs on the window's thread but the
// look-ups, whose answers are posted back to it.
struct CHistoryColumns::NameLookups {
  // What a look-up's thread shares with the window: once the window lets go, an answer
  // still coming is dropped. A look-up that hangs keeps its thread (getaddrinfo cannot
  // be called off), never the window, and holds nothing of the window's.
  struct Shared {
    std::mutex mutex;
    bool open = true;
  };

  QObject context;
  QTimer repaint;
  std::unordered_map<std::string, std::string> addresses;  // name: its first address, or "" for none
  std::unordered_set<std::string> running;
  std::function<void()> resolved;
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();

  NameLookups() {
    repaint.setSingleShot(true);
    repaint.setInterval(kRepaintDelayMs);
    QObject::connect(&repaint, &QTimer::timeout, &context, [this] {
      if (resolved) resolved();
    });
  }
  ~NameLookups() {
    const std::lock_guard<std::mutex> lock(shared->mutex);
    shared->open = false;
  }

  void Answered(const std::string& name, const std::string& address) {
    running.erase(name);
    addresses[name] = address;
    if (!repaint.isActive()) repaint.start();
  }

  // The address if known; otherwise empty, and a look-up is started when allowed.
  std::string AddressOf(const std::string& name, bool mayLookUp) {
    if (const auto it = addresses.find(name); it != addresses.end()) return it->second;
    if (!mayLookUp || running.size() >= kMaxLookups || !running.insert(name).second) return {};
    std::thread([shared = shared, name, self = this] {
      addrinfo hints{};
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* found = nullptr;
      std::string address;
      // The first address is the one a connection to the proxy tries first.
      if (getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* bytes =
            found->ai_family == AF_INET6
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr)
                : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
        if (inet_ntop(found->ai_family, bytes, text, sizeof text)) address = text;
      }
      if (found) freeaddrinfo(found);
      const std::lock_guard<std::mutex> lock(shared->mutex);
      // Posted while the window holds on: an event still waiting when it lets go is
      // dropped with its context.
      if (shared->open)
        QMetaObject::invokeMethod(
            &self->context, [self, name, address] { self->Answered(name, address); }, Qt::QueuedConnection);
    }).detach();
    return {};
  }
};

CHistoryColumns::CHistoryColumns() : m_names(std::make_unique<NameLookups>()) {}

CHistoryColumns::~CHistoryColumns() = default;

void CHistoryColumns::SetOnNamesResolved(std::function<void()> resolved) {
  m_names->resolved = std::move(resolved);
}

std::string CHistoryColumns::KnownAddressOf(const std::string& name) const {
  return m_names->AddressOf(name, false);
}

QString AnonymityText(const std::string& judgeWord) {
  if (judgeWord == "elite") return qb::Tr(kAnonymityElite);
  if (judgeWord == "anonymous") return qb::Tr(kAnonymityAnonymous);
  if (judgeWord == "transparent") return qb::Tr(kAnonymityTransparent);
  return QString::fromStdString(judgeWord);
}

QString TrustText(Trust trust) {
  switch (trust) {
    case Trust::Clean:
      return qb::Tr(kTrustClean);
    case Trust::TlsIntercepted:
      return qb::Tr(kStatusTlsIntercepted);
    case Trust::Modified:
      return qb::Tr(kStatusModified);
    case Trust::Unchecked:
      break;
  }
  return qb::Tr(kTrustUnchecked);
}

qb::Trust CHistoryColumns::TrustOf(const CProxyEntry& e) const {
  const ProxyScore* s = Find(e);
  return s ? TrustFromWord(s->trust).value_or(qb::Trust::Unchecked) : qb::Trust::Unchecked;
}

bool CHistoryColumns::Chained(const CProxyEntry& e) const {
  const ProxyScore* s = Find(e);
  if (!s || s->exitAddress.empty()) return false;
  std::string own = e.Addr();
  if (HostKindOf(own) == HostKind::Name) own = m_names->AddressOf(own, false);
  if (own.empty()) return false;
  return BareHost(own) != BareHost(s->exitAddress);
}

QString CHistoryColumns::Header(int column) const {
  switch (column) {
    case Uptime:
      return qb::Tr(kHeaderUptime);
    case Median:
      return qb::Tr(kHeaderMedian);
    case Anonymity:
      return qb::Tr(kHeaderAnonymity);
    case ExitAddress:
      return qb::Tr(kHeaderExitAddress);
    case Country:
      return qb::Tr(kHeaderCountry);
    case Trust:
      return qb::Tr(kHeaderTrust);
    case Network:
      return qb::Tr(kHeaderNetwork);
    default:
      return {};
  }
}

std::string CHistoryColumns::NetworkOf(const CProxyEntry& e, bool mayLookUp) const {
  const ProxyScore* s = Find(e);
  std::string address = s && !s->exitAddress.empty() ? s->exitAddress : e.Addr();
  if (HostKindOf(address) == HostKind::Name) address = m_names->AddressOf(address, mayLookUp);
  if (address.empty()) return {};
  const std::optional<NetworkResult> network = LocateNetwork(m_locationDir, address);
  return network ? NetworkText(*network) : std::string();
}

std::string CHistoryColumns::CountryOf(const CProxyEntry& e, bool mayLookUp) const {
  const ProxyScore* s = Find(e);
  std::string address = s && !s->exitAddress.empty() ? s->exitAddress : e.Addr();
  if (HostKindOf(address) == HostKind::Name) address = m_names->AddressOf(address, mayLookUp);
  if (address.empty()) return {};
  const std::optional<GeoResult> where = LocateAddress(m_locationDir, address, CurrentLanguage());
  return where ? where->country : std::string();
}

const ProxyScore* CHistoryColumns::Find(const CProxyEntry& e) const {
  const auto it = m_scores.find(ProxyId(e));
  return it == m_scores.end() ? nullptr : &it->second;
}

QString CHistoryColumns::Text(const CProxyEntry& e, int column) const {
  // Every proxy has a country, verified or not.
  if (column == Country) return QString::fromStdString(CountryOf(e, true));
  if (column == Trust) return TrustText(TrustOf(e));
  if (column == Network) {
    const QString network = QString::fromStdString(NetworkOf(e, true));
    if (!Chained(e)) return network;
    return network.isEmpty() ? qb::Tr(kNetworkChained) : network + " (" + qb::Tr(kNetworkChained) + ")";
  }
  const ProxyScore* s = Find(e);
  if (!s) return {};
  switch (column) {
    case Uptime:
      return QString::fromStdString(
          qb::Format("%.0f%% (%d/%d)", 100.0 * s->Uptime(), s->successes, s->checks));
    case Median:
      return s->medianSeconds ? QString::fromStdString(qb::Format("%.1f", *s->medianSeconds)) : QString();
    case Anonymity:
      return AnonymityText(s->anonymity);
    case ExitAddress:
      return QString::fromStdString(s->exitAddress);
    default:
      return {};
  }
}

std::pair<double, std::string> CHistoryColumns::SortKey(const CProxyEntry& e, int column) const {
  if (column == Country) {
    // A sort reads every row: it starts no look-ups of its own.
    std::string country = CountryOf(e, false);
    return {country.empty() ? kNone : 0.0, std::move(country)};
  }
  if (column == Trust) return {static_cast<double>(TrustRank(TrustOf(e))), {}};
  if (column == Network) {
    std::string network = NetworkOf(e, false);
    return {network.empty() ? kNone : 0.0, std::move(network)};
  }
  const ProxyScore* s = Find(e);
  if (!s) return {kNone, {}};
  switch (column) {
    // Ascending means the best first: the highest uptime, the shortest median.
    case Uptime:
      return {-s->Uptime(), {}};
    case Median:
      return {s->medianSeconds.value_or(kNone), {}};
    case Anonymity:
      return {static_cast<double>(AnonymityRank(s->anonymity)), {}};
    case ExitAddress:
      return {s->exitAddress.empty() ? kNone : 0.0, s->exitAddress};
    default:
      return {kNone, {}};
  }
}

void CHistoryColumns::Refresh(CHistoryStore& store, const CProxyListModel& list) {
  // A long list against a history of no more proxies: the history's names are gone
  // through once and kept when a row has exactly that name, instead of one look-up in
  // the history for each row (most of the start of a million-row list, with nothing
  // to find).
  if (store.ProxyCountBound() <= static_cast<std::int64_t>(list.RowCount())) {
    SetScores(store.ScoresWhere([&list](const std::string& name) {
      const CProxyEntry* e = list.FindEntry(ProxyId::OfLine(name));
      return e && FormatProxyLine(*e) == name;
    }));
    return;
  }
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(list.RowCount()));
  for (int r = 0; r < list.RowCount(); ++r) names.push_back(list.GetProxyLine(r));
  SetScores(store.Scores(names));
}

void CHistoryColumns::SetScores(const std::unordered_map<std::string, ProxyScore>& scores) {
  m_scores.clear();
  m_scores.reserve(scores.size());
  for (const auto& [name, score] : scores) m_scores.emplace(ProxyId::OfLine(name), score);
}

}  // namespace qb
