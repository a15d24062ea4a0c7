#include "proxy/ProxyCredentials.h"

#include <unordered_set>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qb {

namespace {

bool HasControl(std::string_view s) {
  for (char ch : s) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string CredentialsKey(std::string_view address, std::string_view port, std::string_view type) {
  std::string key = qb::AsciiUpper(address);
  key += ':';
  key += port;
  key += '@';
  key += qb::AsciiUpper(type);
  return key;
}

std::string CredentialsKey(const CProxyEntry& e) {
  return CredentialsKey(e.Addr(), e.Port(), e.Type());
}

std::string CredentialsKeyOfLine(std::string_view line) {
  const std::size_t colon = HostColon(line);
  const std::size_t at = line.find('@');
  const std::size_t dollar = line.find('$');
  if (colon == std::string_view::npos || at == std::string_view::npos || at < colon) return {};
  const std::size_t typeEnd = dollar == std::string_view::npos ? line.size() : dollar;
  if (typeEnd < at) return {};
  return CredentialsKey(line.substr(0, colon), line.substr(colon + 1, at - colon - 1),
                        line.substr(at + 1, typeEnd - at - 1));
}

bool ValidCredentials(const ProxyCredentials& c) {
  return !c.user.empty() && !HasControl(c.user) && !HasControl(c.password);
}

void CProxyCredentialStore::Parse(std::string_view text) {
  m_map.clear();
  qb::ForEachLine(text, [&](std::string_view line) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) return;
    ProxyCredentials c{std::string(line.substr(tab1 + 1, tab2 - tab1 - 1)),
                       std::string(line.substr(tab2 + 1))};
    const std::string key = CredentialsKeyOfLine(std::string(line.substr(0, tab1)) + "$");
    if (!key.empty() && ValidCredentials(c)) m_map[key] = std::move(c);
  });
}

std::string CProxyCredentialStore::Format() const {
  std::string text;
  for (const auto& [key, c] : m_map) text += key + "\t" + c.user + "\t" + c.password + "\r\n";
  return text;
}

std::optional<ProxyCredentials> CProxyCredentialStore::Find(const std::string& key) const {
  const auto it = m_map.find(key);
  if (it == m_map.end()) return std::nullopt;
  return it->second;
}

bool CProxyCredentialStore::Set(const std::string& key, const std::optional<ProxyCredentials>& credentials) {
  if (!credentials || !ValidCredentials(*credentials)) return m_map.erase(key) != 0;
  auto [it, inserted] = m_map.try_emplace(key, *credentials);
  if (inserted) return true;
  if (it->second == *credentials) return false;
  it->second = *credentials;
  return true;
}

bool CProxyCredentialStore::KeepOnly(const CProxyListModel& list) {
  if (m_map.empty()) return false;
  std::unordered_set<std::string> present;
  for (int row = 0; row < list.RowCount(); ++row) {
    const std::string key = CredentialsKey(*list.Entry(row));
    if (m_map.count(key)) present.insert(key);
  }
  return std::erase_if(m_map, [&](const auto& kv) { return !present.count(kv.first); }) != 0;
}

}  // namespace qb
