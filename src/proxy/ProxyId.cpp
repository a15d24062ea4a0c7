#include "proxy/ProxyId.h"

#include <functional>

#include "base/Text.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"

namespace qb {

namespace {

constexpr const char* kPackedTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};

// The inverse of PackedProxyKey's layout: the address above the port above the type.
std::uint32_t PackedAddr(std::uint64_t p) {
  return static_cast<std::uint32_t>(p >> 24);
}
unsigned PackedPort(std::uint64_t p) {
  return static_cast<unsigned>((p >> 8) & 0xFFFF);
}
const char* PackedType(std::uint64_t p) {
  const unsigned t = static_cast<unsigned>(p & 0xFF);
  return t >= 1 && t <= 6 ? kPackedTypes[t - 1] : "";
}

}  // namespace

ProxyId::ProxyId(std::string_view addr, std::string_view port, std::string_view type) {
  ProxyFields f;
  f.addr = addr;
  f.port = port;
  f.type = type;
  m_packed = PackedProxyKey(f);
  if (m_packed == 0) m_key = std::make_shared<const std::string>(ProxyKey(addr, port, type));
}

ProxyId ProxyId::OfLine(std::string_view line) {
  line = line.substr(0, line.find_first_of("$#"));
  const std::size_t at = line.rfind('@');
  const std::string_view type = at == std::string_view::npos ? std::string_view() : line.substr(at + 1);
  const std::string_view proxy = line.substr(0, at);
  const std::size_t colon = proxy.rfind(':');
  if (colon == std::string_view::npos) return {};
  return ProxyId(proxy.substr(0, colon), proxy.substr(colon + 1), type);
}

ProxyId::ProxyId(const CProxyEntry& e) : ProxyId(e.Addr(), e.Port(), e.Type()) {}

std::string ProxyId::Addr() const {
  if (m_packed != 0) {
    const std::uint32_t a = PackedAddr(m_packed);
    return qb::Format("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  }
  if (!m_key) return {};
  const std::size_t at = m_key->rfind('@');
  const std::size_t colon = m_key->rfind(':', at);
  return m_key->substr(0, colon);
}

std::string ProxyId::Port() const {
  if (m_packed != 0) return std::to_string(PackedPort(m_packed));
  if (!m_key) return {};
  const std::size_t at = m_key->rfind('@');
  const std::size_t colon = m_key->rfind(':', at);
  return m_key->substr(colon + 1, at - colon - 1);
}

std::string ProxyId::Type() const {
  if (m_packed != 0) return PackedType(m_packed);
  if (!m_key) return {};
  return m_key->substr(m_key->rfind('@') + 1);
}

std::string ProxyId::Key() const {
  if (m_packed == 0) return m_key ? *m_key : std::string();
  return Addr() + ":" + Port() + "@" + PackedType(m_packed);
}

std::size_t ProxyId::Hash() const {
  if (m_packed != 0) {
    std::uint64_t h = m_packed * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
  return m_key ? std::hash<std::string>()(*m_key) : 0;
}

}  // namespace qb
