#include "sysproxy/ProxyAutoConfig.h"

#include <QByteArray>

#include <algorithm>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

namespace {

constexpr std::string_view kHead = "function FindProxyForURL(url, host)\r\n{\r\n";
constexpr std::string_view kPlaceholder = "MyProxy";
constexpr std::string_view kProxyKeyword = "PROXY";

// "PROXY [2001:db8::1]:8080": the browsers read an IPv6 host in brackets, as in a URL.
std::string HostPort(const ProxyServerEntry& e) {
  return qb::HostPort(e.host, std::to_string(e.port));
}

std::string SchemeTest(const std::string& scheme) {
  return "url.substring(0, " + std::to_string(scheme.size()) + ").toLowerCase() == \"" + scheme + "\"";
}

// The directive for URLs that no scheme route covers.
std::string FallbackDirective(const std::vector<PacRoute>& routes) {
  for (const auto& r : routes) {
    if (r.scheme.empty()) return r.directive;
  }
  return "DIRECT";
}

bool HasSchemeRoutes(const std::vector<PacRoute>& routes) {
  for (const auto& r : routes) {
    if (!r.scheme.empty()) return true;
  }
  return false;
}

// Appends the statements that leave the route for `url` in `var`, indented by `indent`.
void AppendRouteChoice(std::string& out, const std::vector<PacRoute>& routes, const std::string& indent,
                       const std::string& assign) {
  for (const auto& r : routes) {
    if (r.scheme.empty()) continue;
    out += indent + "if (" + SchemeTest(r.scheme) + ")\r\n";
    out += indent + "    " + assign + "\"" + r.directive + "\";\r\n";
  }
}

// "MyProxy" and "PROXY<blanks>MyProxy" replaced, left to right, without rescanning.
std::string ReplacePlaceholders(std::string_view line, const std::string& replacement) {
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line.compare(i, kProxyKeyword.size(), kProxyKeyword) == 0) {
      std::size_t j = i + kProxyKeyword.size();
      while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
      if (j > i + kProxyKeyword.size() && line.compare(j, kPlaceholder.size(), kPlaceholder) == 0) {
        out += replacement;
        i = j + kPlaceholder.size();
        continue;
      }
    }
    if (line.compare(i, kPlaceholder.size(), kPlaceholder) == 0) {
      out += replacement;
      i += kPlaceholder.size();
      continue;
    }
    out += line[i++];
  }
  return out;
}

}  // namespace

std::vector<PacRoute> PacRoutesFor(std::string_view serverString, std::string_view proxyType) {
  std::vector<PacRoute> routes;
  const std::vector<ProxyServerEntry> entries = ParseServerString(serverString);
  if (entries.empty()) return routes;
  if (qb::Trim(serverString).find('=') == std::string_view::npos) {
    routes.push_back({"", "PROXY " + HostPort(entries.front())});
    return routes;
  }
  for (const auto& e : entries) {
    if (e.scheme == "socks") {
      routes.push_back({"", (proxyType == "SOCKS4" ? "SOCKS " : "SOCKS5 ") + HostPort(e)});
    } else {
      routes.push_back({e.scheme + ":", "PROXY " + HostPort(e)});
    }
  }
  return routes;
}

std::vector<PacRoute> PacChainRoutesFor(const std::vector<PacChainMember>& chain, bool allowDirect) {
  // Each member's routes, in chain order, without members already listed.
  std::vector<std::vector<PacRoute>> members;
  std::vector<std::string> seen;
  for (const PacChainMember& m : chain) {
    std::vector<PacRoute> routes = PacRoutesFor(m.serverString, m.proxyType);
    if (routes.empty()) continue;
    std::string key;
    for (const auto& r : routes) key += r.scheme + " " + r.directive + "\n";
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(std::move(key));
    members.push_back(std::move(routes));
  }
  // The schemes some member serves alone, in the order they first appear.
  std::vector<std::string> schemes;
  for (const auto& routes : members) {
    for (const auto& r : routes) {
      if (!r.scheme.empty() && std::find(schemes.begin(), schemes.end(), r.scheme) == schemes.end())
        schemes.push_back(r.scheme);
    }
  }
  auto listFor = [&](const std::string& scheme) {
    std::vector<std::string> directives;
    for (const auto& routes : members) {
      for (const auto& r : routes) {
        if (!r.scheme.empty() && r.scheme != scheme) continue;
        if (std::find(directives.begin(), directives.end(), r.directive) == directives.end())
          directives.push_back(r.directive);
        break;
      }
    }
    std::string list;
    for (const auto& d : directives) list += (list.empty() ? "" : "; ") + d;
    if (!list.empty() && allowDirect) list += "; DIRECT";
    return list;
  };
  std::vector<PacRoute> out;
  for (const std::string& scheme : schemes) out.push_back({scheme, listFor(scheme)});
  if (std::string all = listFor(""); !all.empty()) out.push_back({"", std::move(all)});
  return out;
}

std::string PacDataUrl(std::string_view script) {
  const QByteArray bytes(script.data(), static_cast<qsizetype>(script.size()));
  return "data:application/x-ns-proxy-autoconfig;base64," + bytes.toBase64().toStdString();
}

std::string BuildDefaultPacScript(const std::vector<PacRoute>& routes) {
  std::string out(kHead);
  AppendRouteChoice(out, routes, "    ", "return ");
  out += "    return \"" + FallbackDirective(routes) + "\";\r\n}\r\n";
  return out;
}

std::string BuildTemplatePacScript(std::string_view templateText, const std::vector<PacRoute>& routes) {
  // A proxy for one scheme only has no directive that is right for every URL: the
  // template gets the proxy's and the wrapper corrects it per URL.
  const std::string placeholder =
      routes.empty()
          ? std::string("DIRECT")
          : (HasSchemeRoutes(routes) && FallbackDirective(routes) == "DIRECT" ? routes.front().directive
                                                                              : FallbackDirective(routes));
  std::string out;
  std::size_t start = 0;
  while (start < templateText.size()) {
    std::size_t end = templateText.find('\n', start);
    const bool hasBreak = end != std::string_view::npos;
    if (!hasBreak) end = templateText.size();
    std::string_view line = templateText.substr(start, end - start);
    if (hasBreak && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += ReplacePlaceholders(qb::DecodeLegacyLine(line), placeholder);
    if (hasBreak) out += "\r\n";
    start = end + 1;
  }
  if (HasSchemeRoutes(routes)) {
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += "\r\n(function () {\r\n";
    out += "    var templateFindProxyForURL = FindProxyForURL;\r\n";
    out += "    if (typeof templateFindProxyForURL != \"function\")\r\n";
    out += "        return;\r\n";
    out += "    FindProxyForURL = function (url, host) {\r\n";
    out += "        var result = templateFindProxyForURL(url, host);\r\n";
    out += "        if (typeof result != \"string\")\r\n";
    out += "            return result;\r\n";
    out += "        var chosen = \"" + FallbackDirective(routes) + "\";\r\n";
    AppendRouteChoice(out, routes, "        ", "chosen = ");
    out += "        return result.split(\"" + placeholder + "\").join(chosen);\r\n";
    out += "    };\r\n";
    out += "})();\r\n";
  }
  return out;
}

}  // namespace qb
