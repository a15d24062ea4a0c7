// The user names and passwords of proxies that need a log-on.
//
// They live beside the list, never in it: Proxies.pro keeps the five fields that every
// version reads, and a row carries no secret into an export, a paste or a screenshot.
// The store is "Credentials.dat" in the data directory, readable by its owner only,
// one proxy a line: "ADDR:PORT@TYPE", a tab, the user name, a tab, the password.
// A proxy is known by its address, port and type (ASCII case ignored), as in the list.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/OpResult.h"
#include "proxy/ProxyEntry.h"

namespace qb {

class CProxyEntry;
class CProxyListModel;

inline constexpr const char* kCredentialsFileName = "Credentials.dat";

// The key of a proxy: "ADDR:PORT@TYPE" in upper case.
std::string CredentialsKey(std::string_view address, std::string_view port, std::string_view type);
std::string CredentialsKey(const CProxyEntry& e);
// The key of a normalised list line ("a.b.c.d:port@TYPE$...#..."); empty when it has
// no address, port and type.
std::string CredentialsKeyOfLine(std::string_view line);
// A user name is non-empty; neither holds a control character (a tab or a line end
// would break the file, and none belongs in a log-on).
bool ValidCredentials(const ProxyCredentials& c);

// The credentials that came with imported proxies, by key, in the order found.
using FoundCredentialList = std::vector<std::pair<std::string, ProxyCredentials>>;

class CProxyCredentialStore;

// Adds what an import found to the data directory's store (a proxy found again with
// other credentials gets the new ones). Nothing is read or written when none came.
qb::OpResult RememberCredentials(const std::string& dataDir, const FoundCredentialList& found);
// Sets (nullopt: removes) one proxy's credentials in the data directory's store.
qb::OpResult StoreCredentials(const std::string& dataDir, const std::string& key,
                              const std::optional<ProxyCredentials>& credentials);
// One proxy's credentials as the data directory's store holds them; nullopt when it
// holds none or cannot be read.
std::optional<ProxyCredentials> StoredCredentials(const std::string& dataDir, const std::string& key);
// After the list was saved: drops the credentials of proxies no longer in it. Nothing
// is read when there is no store.
qb::OpResult ForgetCredentialsNotIn(const CProxyListModel& list, const std::string& dataDir);

class CProxyCredentialStore {
 public:
  // Reads the store of a data directory; a missing file is an empty store. Lines it
  // cannot read are skipped.
  qb::OpResult Load(const std::string& dataDir);
  // Writes the store atomically; with no credentials left, the file is removed.
  qb::OpResult Save() const;

  std::optional<ProxyCredentials> Find(const std::string& key) const;
  std::optional<ProxyCredentials> Find(const CProxyEntry& e) const { return Find(CredentialsKey(e)); }
  // Sets (or, with nullopt or an invalid value, removes) a proxy's credentials.
  // True when the store changed.
  bool Set(const std::string& key, const std::optional<ProxyCredentials>& credentials);
  // Drops the credentials of every proxy that is no longer in the list, so that a
  // deleted, cleaned or modified row leaves nothing behind. True when any went.
  bool KeepOnly(const CProxyListModel& list);
  std::size_t Size() const { return m_map.size(); }
  const std::string& Dir() const { return m_dir; }

 private:
  std::string m_dir;
  std::map<std::string, ProxyCredentials> m_map;
};

}  // namespace qb
