#include "settings/Options.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/Files.h"
#include "base/Text.h"

namespace qb {

namespace {

constexpr std::string_view kPolicyNames[] = {"failover", "round-robin", "fastest"};

bool ParseFlag(std::string_view value, bool& out) {
  if (value == "1" || value == "true") {
    out = true;
  } else if (value == "0" || value == "false") {
    out = false;
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> SplitTypes(std::string_view value) {
  std::vector<std::string> types;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    const std::string_view item = qb::Trim(value.substr(0, comma));
    if (!item.empty()) types.push_back(qb::AsciiUpper(item));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return types;
}

}  // namespace

const char* WhenProxyDownName(WhenProxyDown when) {
  return when == WhenProxyDown::Direct ? "direct" : "block";
}

const char* PolicyName(EndpointPolicy policy) {
  return kPolicyNames[static_cast<int>(policy)].data();
}

std::optional<EndpointPolicy> ParsePolicy(std::string_view name) {
  for (size_t i = 0; i < std::size(kPolicyNames); ++i) {
    if (qb::AsciiLower(name) == kPolicyNames[i]) return static_cast<EndpointPolicy>(i);
  }
  return std::nullopt;
}

std::string FormatOptionsFile(const ExtraOptions& o) {
  std::string types;
  for (const std::string& t : o.endpoint.types) {
    if (!types.empty()) types += ',';
    types += t;
  }
  std::string text;
  text += "[Script]\n";
  text += std::string("Failover=") + (o.script.failover ? "1" : "0") + "\n";
  text += std::string("AllowDirect=") + (o.script.allowDirect ? "1" : "0") + "\n";
  text += "\n[Endpoint]\n";
  text += std::string("Enabled=") + (o.endpoint.enabled ? "1" : "0") + "\n";
  text += "Listen=" + o.endpoint.listen + "\n";
  text += std::string("Policy=") + PolicyName(o.endpoint.policy) + "\n";
  text += "Types=" + types + "\n";
  text += "NameLifetime=" + std::to_string(o.endpoint.nameLifetime) + "\n";
  const EndpointOptions& e = o.endpoint;
  text += std::string("HealthChecks=") + (e.healthChecks ? "1" : "0") + "\n";
  text += "CheckInterval=" + std::to_string(e.checkInterval) + "\n";
  text += "CheckTimeout=" + std::to_string(e.checkTimeout) + "\n";
  text += "LazyAfter=" + std::to_string(e.lazyAfter) + "\n";
  text += "Tolerance=" + std::to_string(e.tolerance) + "\n";
  text += "FailuresToSetAside=" + std::to_string(e.failuresToSetAside) + "\n";
  text += "SetAside=" + std::to_string(e.setAside) + "\n";
  text += "SetAsideMax=" + std::to_string(e.setAsideMax) + "\n";
  text += std::string("CloseTunnels=") + (e.closeTunnels ? "1" : "0") + "\n";
  text += std::string("KeepTargets=") + (e.keepTargets ? "1" : "0") + "\n";
  text += "StickyLease=" + std::to_string(e.stickyLease) + "\n";
  text += "\n[History]\n";
  text += "KeepDays=" + std::to_string(o.history.keepDays) + "\n";
  text += std::string("FavoritesByScore=") + (o.history.favoritesByScore ? "1" : "0") + "\n";
  text += "\n[SystemProxy]\n";
  // Only a choice the user made is written: an absent key makes the window ask.
  if (o.systemProxy.chosen || o.script.allowDirect)
    text += std::string("WhenDown=") + WhenProxyDownName(o.WhenDown()) + "\n";
  text += std::string("Reapply=") + (o.systemProxy.reapply ? "1" : "0") + "\n";
  const NotifyOptions& n = o.notify;
  text += "\n[Notify]\n";
  text += std::string("TraySwitch=") + (n.traySwitch ? "1" : "0") + "\n";
  text += std::string("ProxyDown=") + (n.proxyDown ? "1" : "0") + "\n";
  text += std::string("PoolLow=") + (n.poolLow ? "1" : "0") + "\n";
  text += "PoolLowBelow=" + std::to_string(n.poolLowBelow) + "\n";
  text += std::string("RunDone=") + (n.runDone ? "1" : "0") + "\n";
  text += "RunSeconds=" + std::to_string(n.runSeconds) + "\n";
  // A section of its own, which older versions pass over.
  text += "\n[Api]\n";
  text += "Listen=" + o.api.listen + "\n";
  text += "Token=" + o.api.token + "\n";
  // Only a file that trusts a resource of its own has the section.
  if (!o.verify.caFiles.empty() || !o.verify.pins.empty() || !o.verify.leaveOutTampering ||
      o.verify.directReference) {
    text += "\n[Verify]\n";
    if (!o.verify.leaveOutTampering) text += "LeaveOutTampering=0\n";
    if (o.verify.directReference) text += "DirectReference=1\n";
    for (const auto& [host, path] : o.verify.caFiles) text += "CaFile." + host + "=" + path + "\n";
    for (const auto& [host, pin] : o.verify.pins) text += "Pin." + host + "=" + pin + "\n";
  }
  return text;
}

ExtraOptions ParseOptionsFile(std::string_view text) {
  ExtraOptions o;
  std::string section;
  std::optional<WhenProxyDown> whenDown;
  auto number = [](std::string_view value, int lo, int hi, int& out) {
    int n = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec == std::errc() && ptr == value.data() + value.size() && n >= lo && n <= hi) out = n;
  };
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = qb::Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = std::string(line.substr(1, line.size() - 2));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string key = section + "/" + std::string(qb::Trim(line.substr(0, eq)));
    const std::string_view value = qb::Trim(line.substr(eq + 1));
    if (key == "Script/Failover") {
      ParseFlag(value, o.script.failover);
    } else if (key == "Script/AllowDirect") {
      ParseFlag(value, o.script.allowDirect);
    } else if (key == "Endpoint/Enabled") {
      ParseFlag(value, o.endpoint.enabled);
    } else if (key == "Endpoint/Listen") {
      if (ParseListenAddress(value)) o.endpoint.listen = std::string(value);
    } else if (key == "Endpoint/Policy") {
      if (const auto p = ParsePolicy(value)) o.endpoint.policy = *p;
    } else if (key == "Endpoint/Types") {
      o.endpoint.types = SplitTypes(value);
    } else if (key == "Endpoint/NameLifetime") {
      number(value, 1, kMaxNameLifetime, o.endpoint.nameLifetime);
    } else if (key == "Endpoint/HealthChecks") {
      ParseFlag(value, o.endpoint.healthChecks);
    } else if (key == "Endpoint/CheckInterval") {
      number(value, 1, kMaxCheckInterval, o.endpoint.checkInterval);
    } else if (key == "Endpoint/CheckTimeout") {
      number(value, 1, kMaxCheckTimeout, o.endpoint.checkTimeout);
    } else if (key == "Endpoint/LazyAfter") {
      number(value, 0, kMaxLazyAfter, o.endpoint.lazyAfter);
    } else if (key == "Endpoint/Tolerance") {
      number(value, 0, kMaxTolerance, o.endpoint.tolerance);
    } else if (key == "Endpoint/FailuresToSetAside") {
      number(value, 1, kMaxFailuresToSetAside, o.endpoint.failuresToSetAside);
    } else if (key == "Endpoint/SetAside") {
      number(value, 1, kMaxSetAside, o.endpoint.setAside);
    } else if (key == "Endpoint/SetAsideMax") {
      number(value, 1, kMaxSetAside, o.endpoint.setAsideMax);
    } else if (key == "Endpoint/CloseTunnels") {
      ParseFlag(value, o.endpoint.closeTunnels);
    } else if (key == "Endpoint/KeepTargets") {
      ParseFlag(value, o.endpoint.keepTargets);
    } else if (key == "Endpoint/StickyLease") {
      number(value, 1, kMaxStickyLease, o.endpoint.stickyLease);
    } else if (key == "History/KeepDays") {
      int days = 0;
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), days);
      if (ec == std::errc() && ptr == value.data() + value.size() && days >= 0 && days <= 36500)
        o.history.keepDays = days;
    } else if (key == "History/FavoritesByScore") {
      ParseFlag(value, o.history.favoritesByScore);
    } else if (key == "SystemProxy/WhenDown") {
      if (qb::AsciiLower(value) == "block") whenDown = WhenProxyDown::Block;
      if (qb::AsciiLower(value) == "direct") whenDown = WhenProxyDown::Direct;
    } else if (key == "SystemProxy/Reapply") {
      ParseFlag(value, o.systemProxy.reapply);
    } else if (key == "Notify/TraySwitch") {
      ParseFlag(value, o.notify.traySwitch);
    } else if (key == "Notify/ProxyDown") {
      ParseFlag(value, o.notify.proxyDown);
    } else if (key == "Notify/PoolLow") {
      ParseFlag(value, o.notify.poolLow);
    } else if (key == "Notify/PoolLowBelow") {
      number(value, 1, 10000, o.notify.poolLowBelow);
    } else if (key == "Notify/RunDone") {
      ParseFlag(value, o.notify.runDone);
    } else if (key == "Notify/RunSeconds") {
      number(value, 0, 86400, o.notify.runSeconds);
    } else if (key == "Api/Listen") {
      if (value.empty() || ParseListenAddress(value)) o.api.listen = std::string(value);
    } else if (key == "Api/Token") {
      o.api.token = std::string(value);
    } else if (key == "Verify/LeaveOutTampering") {
      ParseFlag(value, o.verify.leaveOutTampering);
    } else if (key == "Verify/DirectReference") {
      ParseFlag(value, o.verify.directReference);
    } else if (key.starts_with("Verify/CaFile.") && key.size() > 14 && !value.empty()) {
      o.verify.caFiles[qb::AsciiLower(std::string_view(key).substr(14))] = std::string(value);
    } else if (key.starts_with("Verify/Pin.") && key.size() > 11 && value.size() == 64 &&
               std::all_of(value.begin(), value.end(),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
      o.verify.pins[qb::AsciiLower(std::string_view(key).substr(11))] = qb::AsciiLower(value);
    }
  }
  // The choice, wherever it stands; a file of an older version that let the script go
  // direct made that choice already, and one that did not has not made it yet.
  if (whenDown) {
    o.SetWhenDown(*whenDown);
  } else if (o.script.allowDirect) {
    o.systemProxy.chosen = true;
  }
  return o;
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  text = qb::Trim(text);
  ListenAddress out;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return std::nullopt;
    out.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.find(':') != colon) return std::nullopt;
    out.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
  }
  if (out.host.empty() || port.empty()) return std::nullopt;
  const auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), out.port);
  if (ec != std::errc() || ptr != port.data() + port.size() || out.port < 1 || out.port > 65535)
    return std::nullopt;
  return out;
}

bool IsLoopbackHost(std::string_view host) {
  if (qb::AsciiLower(host) == "localhost") return true;
  if (host.find(':') != std::string_view::npos) {
    // ::1 however it is written, and 127.0.0.0/8 as IPv4-mapped IPv6.
    in6_addr a{};
    if (inet_pton(AF_INET6, std::string(host).c_str(), &a) != 1) return false;
    return IN6_IS_ADDR_LOOPBACK(&a) || (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
  }
  // 127.0.0.0/8 written as four decimal parts.
  if (host.substr(0, 4) != "127.") return false;
  int parts = 0;
  size_t i = 0;
  while (i <= host.size()) {
    const size_t dot = std::min(host.find('.', i), host.size());
    const std::string_view part = host.substr(i, dot - i);
    int v = -1;
    const auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
    if (part.empty() || part.size() > 3 || ec != std::errc() || ptr != part.data() + part.size() || v > 255)
      return false;
    ++parts;
    i = dot + 1;
  }
  return parts == 4;
}

}  // namespace qb
