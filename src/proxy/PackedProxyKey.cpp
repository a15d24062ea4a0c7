#include "proxy/PackedProxyKey.h"

#include <algorithm>
#include <iterator>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"

namespace qb {

namespace {

constexpr std::string_view kTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};

// A decimal number without leading zeros, at most max.
bool Number(std::string_view s, unsigned max, unsigned& value) {
  if (s.empty() || s.size() > 5 || (s.size() > 1 && s[0] == '0')) return false;
  unsigned v = 0;
  for (char c : s) {
    if (!qb::IsDigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  value = v;
  return v <= max;
}

std::uint64_t Pack(std::uint32_t addr, unsigned port, std::size_t typeIndex) {
  return std::uint64_t{addr} << 24 | std::uint64_t{port} << 8 | (typeIndex + 1);
}

}  // namespace

std::uint64_t PackedProxyKey(const ProxyFields& f) {
  std::uint32_t addr = 0;
  std::string_view rest = f.addr;
  for (int k = 0; k < 4; ++k) {
    const std::size_t dot = k < 3 ? rest.find('.') : rest.size();
    unsigned part;
    if (dot == std::string_view::npos || !Number(rest.substr(0, dot), 255, part)) return 0;
    addr = addr << 8 | part;
    rest.remove_prefix(k < 3 ? dot + 1 : dot);
  }
  unsigned port;
  if (!Number(f.port, 65535, port)) return 0;
  for (std::size_t t = 0; t < std::size(kTypes); ++t) {
    if (f.type.size() == kTypes[t].size() &&
        std::equal(f.type.begin(), f.type.end(), kTypes[t].begin(),
                   [](char a, char b) { return qb::AsciiUpper(a) == b; }))
      return Pack(addr, port, t);
  }
  return 0;
}

std::uint64_t PackedProxyKeyOf(std::uint32_t address, unsigned port, std::string_view type) {
  if (port > 65535) return 0;
  for (std::size_t t = 0; t < std::size(kTypes); ++t) {
    if (type == kTypes[t]) return Pack(address, port, t);
  }
  return 0;
}

}  // namespace qb
