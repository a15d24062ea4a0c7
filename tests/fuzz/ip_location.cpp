// The location-file reader (wry.dll) over any bytes: a damaged file finds nothing or
// finds a location, never reads outside the file, and what it finds is UTF-8 within
// the record's widths. The first bytes of the input choose the address looked up.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
#include "proxy/IpLocation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  char address[32];
  std::snprintf(address, sizeof address, "%u.%u.%u.%u", data[0], data[1], data[2], data[3]);
  const std::string path = qbfuzz::WriteScratchFile(
      "wry.dll", std::string_view(reinterpret_cast<const char*>(data) + 4, size - 4));

  std::string key;
  if (!qb::IpLocationKey(address, key) || key.size() != qb::kIpLocAddressWidth) {
    qbfuzz::Fail("the key of a dotted address is wrong", address);
  }
  std::string country = "unchanged";
  std::string area = "unchanged";
  const bool found = qb::LookupIpLocation(path, address, country, area);
  if (!found) {
    if (country != "unchanged" || area != "unchanged") qbfuzz::Fail("a failed look-up changed its outputs");
    return 0;
  }
  if (!qb::IsValidUtf8(country) || !qb::IsValidUtf8(area)) qbfuzz::Fail("a location is not UTF-8");
  // A field's bytes decode to at most its width in the legacy code page; only bytes
  // that were no text at all (each a U+FFFD, two wide) may make it wider.
  auto fits = [](const std::string& text, std::size_t width) {
    return text.find("\xEF\xBF\xBD") != std::string::npos || qb::LegacyWidth(text) <= width;
  };
  if (!fits(country, qb::kIpLocCountryWidth) || !fits(area, qb::kIpLocAreaWidth)) {
    qbfuzz::Fail("a location is wider than its field", country + " / " + area);
  }
  std::string country2, area2;
  if (!qb::LookupIpLocation(path, address, country2, area2) || country2 != country || area2 != area) {
    qbfuzz::Fail("the same look-up gave another answer");
  }
  return 0;
}
