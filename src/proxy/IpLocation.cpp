#include "proxy/IpLocation.h"

#include <cstdio>
#include <cstring>

#include "base/Files.h"
#include "base/Text.h"

namespace qb {

bool IpLocationKey(std::string_view address, std::string& key) {
  const std::size_t run = address.find_first_not_of(" 0123456789.");
  std::string_view rest = Trim(address.substr(0, run == std::string_view::npos ? address.size() : run));
  if (rest.empty()) return false;
  int parts[4];
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) return false;
    // atol on the Windows build was 32-bit; CAtoi saturates the same way instead of
    // overflowing on a long run of digits.
    parts[i] = CAtoi(rest.substr(0, dot));
    rest.remove_prefix(dot + 1);
  }
  parts[3] = CAtoi(rest);
  key = Format("%03d.%03d.%03d.%03d", parts[0], parts[1], parts[2], parts[3]);
  return true;
}

namespace {

// A record field: at most width bytes from offset, ending at the first zero byte.
std::string_view Field(const unsigned char* rec, std::size_t offset, std::size_t width) {
  const char* p = reinterpret_cast<const char*>(rec) + offset;
  const void* zero = std::memchr(p, 0, width);
  return std::string_view(p, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - p) : width);
}

std::uint32_t Le(const unsigned char* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

}  // namespace

bool LookupIpLocation(const std::string& file, const std::string& address, std::string& country,
                      std::string& area) {
  std::string key;
  if (!qb::IpLocationKey(address, key)) return false;

  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return false;
  FileCloser closer{f};

  // The file comes from outside: every offset is checked against its real size so
  // that a truncated or hostile file ends the search instead of reading garbage.
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long sizeLong = std::ftell(f);
  if (sizeLong < kIpLocHeaderSize) return false;
  const std::int64_t size = sizeLong;

  unsigned char header[8];
  if (std::fseek(f, 4, SEEK_SET) != 0 || std::fread(header, 1, sizeof header, f) != sizeof header)
    return false;
  const std::int32_t count = static_cast<std::int32_t>(Le(header, 4));
  const std::int64_t dataOffset = Le(header + 4, 2);
  const std::int64_t recordLength = Le(header + 6, 2);
  // Without records the first probe would land on record 0, which is no record.
  if (count < 1) return false;
  // Shorter records would overlap their neighbours' fields.
  if (recordLength < static_cast<std::int64_t>(kIpLocRecordRead)) return false;

  std::int64_t lower = 1;
  std::int64_t upper = count;
  std::int64_t previous = 0;
  // The interval halves on every probe; the cap only guards against a mistake here
  // turning a bad file into an endless loop.
  for (int probes = 0; probes < 64; ++probes) {
    const std::int64_t middle = (lower + upper) / 2;
    const std::int64_t offset = dataOffset + 1 + middle * recordLength;
    if (offset + static_cast<std::int64_t>(kIpLocRecordRead) > size) return false;
    unsigned char rec[kIpLocRecordRead];
    if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(rec, 1, sizeof rec, f) != sizeof rec)
      return false;
    const std::string_view first = Field(rec, kIpLocFirstOffset, kIpLocAddressWidth);
    const std::string_view last = Field(rec, kIpLocLastOffset, kIpLocAddressWidth);
    if (key < first) {
      upper = middle;
    } else if (key <= last) {
      country = qb::DecodeLegacyLine(Field(rec, kIpLocCountryOffset, kIpLocCountryWidth));
      area = qb::DecodeLegacyLine(Field(rec, kIpLocAreaOffset, kIpLocAreaWidth));
      return true;
    } else {
      lower = middle;
    }
    if (middle == previous) return false;
    previous = middle;
  }
  return false;
}

}  // namespace qb
