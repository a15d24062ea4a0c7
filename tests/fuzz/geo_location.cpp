// The location databases over any bytes: a damaged MaxMind database or GeoIP country
// database is passed over or answers, never reads outside itself, and what it answers
// is UTF-8 and the same when asked again. The first byte chooses the file the rest
// becomes (a .mmdb, GeoIP.dat or GeoIPv6.dat), the next sixteen the address.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
#include "proxy/GeoLocation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 17) return 0;
  static unsigned serial = 0;
  qb::SetGeoRecheckInterval(std::chrono::milliseconds(0));
  // A name of its own for every input: the cache knows files by name and identity.
  const std::string name = std::to_string(++serial);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 17, size - 17);
  const int kind = data[0] % 3;
  std::string file = kind == 0 ? name + ".mmdb" : kind == 1 ? name + "-GeoIP.dat" : name + "-GeoIPv6.dat";
  const std::string path = qbfuzz::WriteScratchFile(file, bytes);

  char address[64];
  if (data[1] & 1) {
    std::snprintf(address, sizeof address, "%u.%u.%u.%u", data[2], data[3], data[4], data[5]);
  } else {
    std::snprintf(address, sizeof address, "%x:%x:%x:%x:%x:%x:%x:%x", data[2] << 8 | data[3],
                  data[4] << 8 | data[5], data[6] << 8 | data[7], data[8] << 8 | data[9],
                  data[10] << 8 | data[11], data[12] << 8 | data[13], data[14] << 8 | data[15], data[16]);
  }

  // The system databases are looked for under their own names: a directory per input.
  qb::GeoSources sources;
  std::string systemDir = qbfuzz::ScratchDir() + "/sys-" + name;
  std::string systemFile;
  if (kind == 0) {
    sources.dataDir = qbfuzz::ScratchDir();
    systemDir = qbfuzz::ScratchDir() + "/none";
  } else {
    sources.dataDir = qbfuzz::ScratchDir() + "/none";
    systemFile = systemDir + (kind == 1 ? "/GeoIP.dat" : "/GeoIPv6.dat");
    if (::mkdir(systemDir.c_str(), 0700) != 0 || ::rename(path.c_str(), systemFile.c_str()) != 0)
      qbfuzz::Fail("cannot place the system database");
  }
  sources.systemDir = systemDir;
  const qb::GeoLookup first = qb::LocateAddressIn(sources, address, qb::UiLanguage::Chinese);
  if (first.result) {
    const qb::GeoResult& g = *first.result;
    if (!qb::IsValidUtf8(g.country) || !qb::IsValidUtf8(g.area) || !qb::IsValidUtf8(g.countryCode))
      qbfuzz::Fail("a location is not UTF-8", g.country + " / " + g.area);
    if (!first.problems.empty()) qbfuzz::Fail("a database both answered and was passed over");
  }
  const qb::GeoLookup again = qb::LocateAddressIn(sources, address, qb::UiLanguage::Chinese);
  if (again.result != first.result || again.problems != first.problems)
    qbfuzz::Fail("the same look-up gave another answer", address);

  if (kind == 0) {
    ::unlink(path.c_str());
  } else {
    ::unlink(systemFile.c_str());
    ::rmdir(systemDir.c_str());
  }
  return 0;
}
