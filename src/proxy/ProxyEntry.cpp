#include "proxy/ProxyEntry.h"

#include <cstdint>
#include <cstring>

#include "base/FixedPool.h"
#include "base/Text.h"

namespace qb {

namespace {

qb::FixedPool& EntryPool() {
  static qb::FixedPool* const pool = new qb::FixedPool(sizeof(CProxyEntry));  // outlives every thread
  return *pool;
}

}  // namespace

// Only whole CProxyEntry objects fit the pool's slots; anything larger (a class made
// from it) takes the general allocator.
void* CProxyEntry::operator new(std::size_t size) {
  return size == sizeof(CProxyEntry) ? EntryPool().Allocate() : ::operator new(size);
}

void CProxyEntry::operator delete(void* p, std::size_t size) noexcept {
  if (size == sizeof(CProxyEntry)) {
    EntryPool().Free(p);
  } else {
    ::operator delete(p);
  }
}

bool IsProxyType(std::string_view type) {
  for (const char* t : kProxyTypes) {
    if (type == t) return true;
  }
  return false;
}

namespace {

// A line in the normal form that the extractor writes and most files hold: a dotted
// address, ":", digits, "@", one of the six types, "$", a status without "$", "#",
// then anything. For such a line the general rules come down to cutting it at its
// separators; anything else returns false and takes the general way.
bool ParseNormalLine(std::string_view line, std::string& addr, std::string& port, std::string& type,
                     std::string& timeStatus, std::string& remark) {
  const std::size_t n = line.size();
  std::size_t i = 0;
  while (i < n && (qb::IsDigit(static_cast<unsigned char>(line[i])) || line[i] == '.')) ++i;
  if (i == 0 || i >= n || line[i] != ':') return false;
  const std::size_t colon = i++;
  std::uint32_t portValue = 0;
  while (i < n && qb::IsDigit(static_cast<unsigned char>(line[i])) && i - colon <= 5) {
    portValue = portValue * 10 + static_cast<std::uint32_t>(line[i] - '0');
    ++i;
  }
  if (i == colon + 1 || i >= n || line[i] != '@' || portValue < 1 || portValue > 0xFFFF) return false;
  const std::size_t at = i++;
  while (i < n && line[i] >= 'A' && line[i] <= 'Z') ++i;
  while (i < n && (line[i] == '4' || line[i] == '5')) ++i;
  if (i >= n || line[i] != '$' || !IsProxyType(line.substr(at + 1, i - at - 1))) return false;
  const std::size_t dollar = i++;
  while (i < n && line[i] != '#' && line[i] != '$') ++i;
  if (i >= n || line[i] != '#') return false;
  const std::size_t hash = i;

  addr.assign(line.substr(0, colon));
  port.assign(line.substr(colon + 1, at - colon - 1));
  type.assign(line.substr(at + 1, dollar - at - 1));
  timeStatus.assign(line.substr(dollar + 1, hash - dollar - 1));
  remark.assign(Trim(line.substr(hash + 1)));
  return true;
}

}  // namespace

bool ParseProxyLine(std::string_view line, std::string& addr, std::string& port, std::string& type,
                    std::string& timeStatus, std::string& remark) {
  if (ParseNormalLine(line, addr, port, type, timeStatus, remark)) return true;
  return ParseProxyLineGeneral(line, addr, port, type, timeStatus, remark);
}

bool ParseProxyLineGeneral(std::string_view line, std::string& addr, std::string& port, std::string& type,
                           std::string& timeStatus, std::string& remark) {
  addr.clear();
  port.clear();
  type.clear();
  timeStatus.clear();
  remark.clear();

  // Every field is assigned from a view of the line, so that parsing into strings
  // that already have room allocates nothing.
  std::string_view rest = line;
  const std::size_t hash = rest.find('#');
  const bool hasHash = hash != std::string_view::npos && hash > 0;
  if (hasHash) {
    remark.assign(Trim(rest.substr(hash + 1)));
    rest = rest.substr(0, hash);
  }

  // Only a line with a remark separator carries a time-or-status.
  const std::size_t dollar = rest.rfind('$');
  if (hasHash && dollar != std::string_view::npos && dollar > 0) timeStatus.assign(rest.substr(dollar + 1));

  const std::size_t at = rest.find('@');
  if (at == std::string_view::npos || at == 0) return false;
  // The type is the upper-cased run of type letters after the blanks that follow "@".
  for (char c : TrimLeft(rest.substr(at + 1))) {
    c = AsciiUpper(c);
    if (kTypeLetters.find(c) == std::string_view::npos) break;
    type.push_back(c);
  }
  rest = rest.substr(0, at);

  const std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  {
    const std::string_view p = TrimLeft(rest.substr(colon + 1));
    std::size_t n = 0;
    while (n < p.size() && qb::IsDigit(static_cast<unsigned char>(p[n]))) ++n;
    port.assign(p.substr(0, n));
  }
  rest = rest.substr(0, colon);

  addr.assign(Trim(rest));
  if (addr.empty() || addr[0] == '#') return false;

  const long long portValue = qb::CAtoll(port);
  if (portValue < 1 || portValue > 0xFFFF) return false;

  return IsProxyType(type);
}

std::string ProxyKey(std::string_view addr, std::string_view port, std::string_view type) {
  std::string key;
  key.reserve(addr.size() + port.size() + type.size() + 2);
  key.append(addr).append(":").append(port).append("@").append(type);
  for (char& c : key) c = qb::AsciiUpper(c);
  return key;
}

std::string FormatProxyLine(const CProxyEntry& e) {
  std::string out = e.m_sProxyAddr + ":" + e.m_sProxyPort;
  if (!e.m_sProxyType.empty()) out.append("@").append(e.m_sProxyType);
  return out;
}

void AppendFileLine(std::string& out, const CProxyEntry& e) {
  out.append(e.m_sProxyAddr).append(":").append(e.m_sProxyPort).append("@").append(e.m_sProxyType);
  if (!e.m_sTimeStatus.empty()) out.append("$").append(e.m_sTimeStatus);
  if (!e.m_sRemark.empty()) out.append("#").append(e.m_sRemark);
}

std::string FormatFileLine(const CProxyEntry& e) {
  std::string out;
  AppendFileLine(out, e);
  return out;
}

bool ParseFileLine(std::string_view line, ProxyFields& f) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::size_t at = line.find('@', colon + 1);
  if (at == std::string_view::npos) return false;
  const std::size_t dollar = line.find('$', at + 1);
  if (dollar == std::string_view::npos) return false;
  std::size_t hash = line.find('#', dollar + 1);
  const std::string_view addr = line.substr(0, colon);
  const std::string_view port = line.substr(colon + 1, at - colon - 1);
  const std::string_view type = line.substr(at + 1, dollar - at - 1);
  const std::string_view status =
      line.substr(dollar + 1, (hash == std::string_view::npos ? line.size() : hash) - dollar - 1);
  const std::string_view remark = hash == std::string_view::npos ? std::string_view() : line.substr(hash + 1);

  // The program never writes an empty or padded field, a type outside the six, or a
  // port that is not 1 to 65535 in digits; such a line is somebody else's.
  // Rows only ever hold dotted addresses or host names, statuses of a few words and
  // remarks of a line; anything larger is not a line this program wrote.
  constexpr std::size_t kMaxAddr = 253, kMaxStatus = 64, kMaxRemark = 1024;
  if (addr.empty() || addr.size() > kMaxAddr || status.size() > kMaxStatus || remark.size() > kMaxRemark) {
    return false;
  }
  for (char c : addr) {
    const bool hostChar = qb::IsDigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'z') ||
                          (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '_';
    if (!hostChar) return false;
  }
  if (port.empty() || port.size() > 10) return false;
  for (char c : port) {
    if (!qb::IsDigit(static_cast<unsigned char>(c))) return false;
  }
  const long long portValue = qb::CAtoll(port);
  if (portValue < 1 || portValue > 0xFFFF) return false;
  if (!IsProxyType(type)) return false;
  if (status.empty() || (hash != std::string_view::npos && remark.empty())) return false;
  if (Trim(remark).size() != remark.size()) return false;
  f.addr.assign(addr);
  f.port.assign(port);
  f.type.assign(type);
  f.timeStatus.assign(status);
  f.remark.assign(remark);
  return true;
}

bool IsTimeText(std::string_view s) {
  bool digit = false, point = false;
  for (char c : s) {
    if (qb::IsDigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

double TimeStatusRank(std::string_view s) {
  if (IsTimeText(s)) return qb::CAtof(s);
  if (s == kStatusConnectFailed) return 9999;
  if (s == kStatusMismatch) return 8888;
  if (s == kStatusTimeout) return 7777;
  if (s == kStatusUnverified) return 6666;
  if (s == kStatusVerifying) return 5555;
  return -1;
}

bool IsFailedStatus(std::string_view timeStatus) {
  for (const char* failed : {kStatusConnectFailed, kStatusTimeout, kStatusMismatch, kStatusPasswordMismatch,
                             kStatusUnsupported, kStatusException}) {
    if (timeStatus == failed) return true;
  }
  return false;
}

}  // namespace qb
