// Location of an IPv4 address from the "wry.dll" file in the data directory.
//
// The file is a table of fixed-length text records sorted by the first address of
// their range. It is supplied from outside and only ever read; a missing or damaged
// file simply means that no location is found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

// The record layout of the file. All header numbers are little-endian.
inline constexpr std::int64_t kIpLocHeaderSize = 12;    // 4 unused, N (i32), D (u16), L (u16)
inline constexpr std::size_t kIpLocRecordRead = 105;    // bytes read from each record
inline constexpr std::size_t kIpLocFirstOffset = 0;     // "%03d.%03d.%03d.%03d"
inline constexpr std::size_t kIpLocLastOffset = 16;     // same form
inline constexpr std::size_t kIpLocCountryOffset = 32;  // up to 13 bytes
inline constexpr std::size_t kIpLocAreaOffset = 46;     // up to 46 bytes
inline constexpr std::size_t kIpLocExtraOffset = 93;    // up to 11 bytes, not used
inline constexpr std::size_t kIpLocAddressWidth = 15;
inline constexpr std::size_t kIpLocCountryWidth = 13;
inline constexpr std::size_t kIpLocAreaWidth = 46;
inline constexpr std::size_t kIpLocExtraWidth = 11;

inline constexpr const char* kIpLocationFileName = "wry.dll";

// Looks the address up in the location file (normally the data directory's
// kIpLocationFileName). True when a record's range holds the address: country and
// area are then set (UTF-8). False leaves both untouched.
bool LookupIpLocation(const std::string& file, const std::string& address, std::string& country,
                      std::string& area);

// The search key of an address text: its leading run of blanks, digits and dots,
// trimmed, split at the first three dots, each part as by atol, formatted
// "%03d.%03d.%03d.%03d". False when the text has fewer than three dots there.
bool IpLocationKey(std::string_view address, std::string& key);

}  // namespace qb
