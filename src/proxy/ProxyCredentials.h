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

#include "proxy/ProxyEntry.h"

namespace qb {

class CProxyEntry;
class CProxyListModel;

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

class CProxyCredentialStore {
 public:
  // Reads the text of "Credentials.dat" into the store (replacing what it held);
  // lines it cannot read are skipped.
  void Parse(std::string_view text);
  // The file's text: one proxy a line, in the order of their keys.
  std::string Format() const;

  std::optional<ProxyCredentials> Find(const std::string& key) const;
  std::optional<ProxyCredentials> Find(const CProxyEntry& e) const { return Find(CredentialsKey(e)); }
  // Sets (or, with nullopt or an invalid value, removes) a proxy's credentials.
  // True when the store changed.
  bool Set(const std::string& key, const std::optional<ProxyCredentials>& credentials);
  // Drops the credentials of every proxy that is no longer in the list, so that a
  // deleted, cleaned or modified row leaves nothing behind. True when any went.
  bool KeepOnly(const CProxyListModel& list);
  std::size_t Size() const { return m_map.size(); }

 private:
  std::map<std::string, ProxyCredentials> m_map;
};

}  // namespace qb
