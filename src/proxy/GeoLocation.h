// Where an address is: its country and, when the source knows it, its city or area.
//
// Several sources are tried in a fixed order, the first that knows the address
// answering:
//   1. "wry.dll" in the data directory (IPv4 only), as the proxy dialog always read it;
//   2. every "*.mmdb" file in the data directory (MaxMind's database format, e.g. DB-IP's
//      free "IP to City Lite" / "IP to Country Lite" or GeoLite2 City / Country, which
//      the user downloads and drops there): city databases before country ones, then
//      the newest build first, then by file name;
//   3. the system's country databases of legacy GeoIP format (Debian's geoip-database:
//      /usr/share/GeoIP/GeoIP.dat for IPv4, GeoIPv6.dat for IPv6), so that a fresh
//      installation shows countries without any download.
// The program never downloads a database.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"

namespace qb {

struct GeoResult {
  std::string countryCode;  // ISO 3166 alpha-2, upper case; empty when the source has none (wry.dll)
  std::string country;      // in the interface's language where the source has it
  std::string area;         // city or region; empty when the source has none
  std::string source;  // the answering file's name: "wry.dll", "dbip-city-lite-2024-05.mmdb", "GeoIP.dat"
  bool operator==(const GeoResult&) const = default;
};

// A source that could not be used: its path and why (damaged, unreadable).
struct GeoProblem {
  std::string file;
  std::string reason;
  bool operator==(const GeoProblem&) const = default;
};

// Where the sources are. Empty fields mean the defaults.
struct GeoSources {
  std::string dataDir;
  std::string wryFile;    // default: dataDir/wry.dll
  std::string systemDir;  // default: $QUILLBERRY_GEOIP_DIR, else /usr/share/GeoIP
};

struct GeoLookup {
  std::optional<GeoResult> result;
  // Sources passed over on the way, in the order tried.
  std::vector<GeoProblem> problems;
};

// The directory of the system's GeoIP.dat and GeoIPv6.dat.
std::string SystemGeoIpDir();
inline constexpr const char* kSystemGeoIpDirVariable = "QUILLBERRY_GEOIP_DIR";

// Looks the address (IPv4 or IPv6, with or without brackets) up along the chain; a
// damaged source is noted and passed over. A host name finds nothing: where a named
// proxy is, is where the address it resolves to is, which the caller looks up. Thread-safe. Opened databases
// are kept per directory and opened again when their files change.
GeoLookup LocateAddressIn(const GeoSources& sources, std::string_view address, UiLanguage language);

// Looks the address up in the data directory's files, then the system's; nullopt when
// none knows it. Thread-safe; cheap enough to call once per row of a big list.
std::optional<GeoResult> LocateAddress(const std::string& dataDir, std::string_view address,
                                       UiLanguage language);

// The network an address belongs to: its autonomous system and the organisation that
// holds it, from an ASN database among the data directory's "*.mmdb" files (one whose
// database type names ASN, e.g. DB-IP's "IP to ASN Lite" or GeoLite2 ASN; the newest
// build first). The system's databases have no networks.
struct NetworkResult {
  std::uint32_t asn = 0;
  std::string owner;   // as the database spells it; may be empty
  std::string source;  // the answering file's name
  bool operator==(const NetworkResult&) const = default;
};
std::optional<NetworkResult> LocateNetwork(const std::string& dataDir, std::string_view address);
// "AS64496 Example Networks" (or "AS64496" without an owner).
std::string NetworkText(const NetworkResult& network);

// The text put into an empty remark: "country area", trimmed.
std::string GeoRemark(const GeoResult& result);

// How often the cached databases' files are checked for changes (default one second).
void SetGeoRecheckInterval(std::chrono::milliseconds interval);

// The Chinese name of an ISO 3166 alpha-2 code (upper case), or nullptr.
const char* ChineseCountryName(std::string_view code);
// The code whose Chinese name that is exactly, or empty.
std::string_view CountryCodeOfChineseName(std::string_view name);

}  // namespace qb
