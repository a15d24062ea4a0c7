// The history's figures as columns of the proxy list: uptime, median time, and the
// anonymity and exit address a judge page saw last. The values are held here, keyed by
// the proxy's identity (rows move, a proxy's figures go with it), and refreshed from
// the history after each run.
#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "history/History.h"
#include "proxy/ProxyId.h"
#include "proxy/ProxyListModel.h"
#include "proxy/VerifyStatus.h"

namespace qb {

inline constexpr const char* kHeaderUptime = QT_TRANSLATE_NOOP("Quillberry", "在线率");
inline constexpr const char* kHeaderMedian = QT_TRANSLATE_NOOP("Quillberry", "中位时间");
inline constexpr const char* kHeaderAnonymity = QT_TRANSLATE_NOOP("Quillberry", "匿名度");
inline constexpr const char* kHeaderExitAddress = QT_TRANSLATE_NOOP("Quillberry", "出口地址");
inline constexpr const char* kHeaderCountry = QT_TRANSLATE_NOOP("Quillberry", "国家");
inline constexpr const char* kHeaderTrust = QT_TRANSLATE_NOOP("Quillberry", "信任");
inline constexpr const char* kHeaderNetwork = QT_TRANSLATE_NOOP("Quillberry", "网络");
inline constexpr const char* kTrustClean = QT_TRANSLATE_NOOP("Quillberry", "干净");
inline constexpr const char* kTrustUnchecked = QT_TRANSLATE_NOOP("Quillberry", "未检查");
// Beside the network of a proxy whose traffic leaves from another address than its own.
inline constexpr const char* kNetworkChained = QT_TRANSLATE_NOOP("Quillberry", "链式");
inline constexpr const char* kAnonymityTransparent = QT_TRANSLATE_NOOP("Quillberry", "透明");
inline constexpr const char* kAnonymityAnonymous = QT_TRANSLATE_NOOP("Quillberry", "匿名");
inline constexpr const char* kAnonymityElite = QT_TRANSLATE_NOOP("Quillberry", "高匿");

class CHistoryColumns : public IExtraColumns {
 public:
  // Columns keep their numbers across versions (the window's state names them by
  // number); the view shows Trust beside Anonymity and Network beside Country.
  static constexpr int Uptime = 0, Median = 1, Anonymity = 2, ExitAddress = 3, Country = 4, Trust = 5,
                       Network = 6, Count_ = 7;

  CHistoryColumns();
  ~CHistoryColumns() override;
  CHistoryColumns(const CHistoryColumns&) = delete;
  CHistoryColumns& operator=(const CHistoryColumns&) = delete;

  int Count() const override { return Count_; }
  QString Header(int column) const override;
  QString Text(const CProxyEntry& e, int column) const override;
  std::pair<double, std::string> SortKey(const CProxyEntry& e, int column) const override;

  // Reads the scores of the list's proxies from the history.
  void Refresh(CHistoryStore& store, const CProxyListModel& list);
  // Where the location databases are looked for (the country column): the data
  // directory's path.
  void SetLocationDir(std::string dir) { m_locationDir = std::move(dir); }
  // Scores by the proxies' names in the history ("address:port@TYPE").
  void SetScores(const std::unordered_map<std::string, ProxyScore>& scores);
  const ProxyScore* Find(const CProxyEntry& e) const;
  // The latest verdict of the checks on the proxy (Unchecked without one).
  qb::Trust TrustOf(const CProxyEntry& e) const;
  // Its traffic leaves from an address other than its own (its name's, for a name
  // whose address is known): another proxy or a gateway stands behind it.
  bool Chained(const CProxyEntry& e) const;

  // A proxy named by a host name is where the address its name resolves to is. The
  // names of the rows shown are looked up off the window's thread (a few at a time);
  // until an answer comes, and for a name without an address, the country is unknown.
  // Called on the window's thread, a moment after answers came, so that the column is
  // shown again.
  void SetOnNamesResolved(std::function<void()> resolved);
  // The address the name resolved to; empty while it is not known (no look-up is
  // started for it).
  std::string KnownAddressOf(const std::string& name) const;

 private:
  struct NameLookups;

  // The country of the exit address a judge saw, else of the proxy's own address (for
  // a name, its resolved one, looked up when mayLookUp).
  std::string CountryOf(const CProxyEntry& e, bool mayLookUp) const;
  // "AS64496 Owner" of the same address, from an ASN database; empty when none knows it.
  std::string NetworkOf(const CProxyEntry& e, bool mayLookUp) const;

  std::unordered_map<ProxyId, ProxyScore, ProxyIdHash> m_scores;
  std::string m_locationDir;
  std::unique_ptr<NameLookups> m_names;
};

// The judge's word ("elite") in the interface's language.
QString AnonymityText(const std::string& judgeWord);
// A trust verdict in the interface's language.
QString TrustText(qb::Trust trust);

}  // namespace qb
