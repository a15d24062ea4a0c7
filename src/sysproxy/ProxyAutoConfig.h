// The proxy auto-config script ("proxy.pac") that the browsers load in the two
// script modes: what it returns for each kind of proxy, and its two texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

// Where a script sends the URLs of one scheme, or all URLs.
struct PacRoute {
  std::string scheme;     // "https:", "ftp:", "gopher:"; empty for every URL
  std::string directive;  // "PROXY A:P", "SOCKS5 A:P" or "SOCKS A:P"
};

// The routes for a server string. A SOCKS entry is "SOCKS A:P" when proxyType is
// "SOCKS4", "SOCKS5 A:P" otherwise (the desktop's socks entry carries no version).
// Empty for an empty server string and for one whose host or port is not valid, so
// that nothing unchecked ever reaches a script.
std::vector<PacRoute> PacRoutesFor(std::string_view serverString, std::string_view proxyType);

// The fixed script: returns the route's directive, or "DIRECT" for URLs no route
// covers. Lines end in CR LF.
std::string BuildDefaultPacScript(const std::vector<PacRoute>& routes);

// The user's template with every "MyProxy" (and every "PROXY MyProxy", which older
// templates wrote) replaced by the proxy's directive, or by "DIRECT" without a proxy.
// When the proxy serves one scheme only, a wrapper that the template cannot see turns
// its directive into "DIRECT" for the other URLs. Lines end in CR LF.
std::string BuildTemplatePacScript(std::string_view templateText, const std::vector<PacRoute>& routes);

}  // namespace qb
