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

// One proxy of a failover chain: its server string and its type, as for PacRoutesFor.
struct PacChainMember {
  std::string serverString;
  std::string proxyType;
};

// The routes of a failover chain: for every scheme, the members that can carry its
// URLs, in the chain's order, as one directive list ("PROXY a:1; SOCKS5 b:2"). A
// member carries the URLs its PacRoutesFor routes cover: an HTTP or SOCKS proxy every
// URL, an HTTPS, FTP or GOPHER proxy those of its scheme only. A member named twice
// counts once, where it first appears. With allowDirect every list ends in "DIRECT",
// so that the browsers go direct once every proxy has failed; without it they fail
// instead. A scheme that no member carries gets no route and so goes direct, as it
// does with one proxy of another scheme: the user chose proxies that do not cover it.
// Empty for a chain without a valid member.
std::vector<PacRoute> PacChainRoutesFor(const std::vector<PacChainMember>& chain, bool allowDirect);

// The PAC script as a data URL, which the browsers load from the desktop's settings
// without a file or a server: "data:application/x-ns-proxy-autoconfig;base64,…".
std::string PacDataUrl(std::string_view script);

// The fixed script: returns the route's directive, or "DIRECT" for URLs no route
// covers. Lines end in CR LF.
std::string BuildDefaultPacScript(const std::vector<PacRoute>& routes);

// The user's template with every "MyProxy" (and every "PROXY MyProxy", which older
// templates wrote) replaced by the proxy's directive, or by "DIRECT" without a proxy.
// A failover chain's directive is its whole list, so that "MyProxy" stands for the
// chain wherever the template uses it.
// When the proxy serves one scheme only, a wrapper that the template cannot see turns
// its directive into "DIRECT" for the other URLs. Lines end in CR LF.
std::string BuildTemplatePacScript(std::string_view templateText, const std::vector<PacRoute>& routes);

}  // namespace qb
