#include "proxy/GeoLocation.h"

#include <GeoIP.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <maxminddb.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "base/Files.h"
#include "base/ProxyHost.h"
#include "base/Text.h"
#include "proxy/IpLocation.h"

namespace qb {

namespace {

std::atomic<long long> g_recheckMs{1000};

// What tells a file apart from the one opened before: replaced, rewritten or touched.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtimeNs = 0;
  bool operator==(const FileId&) const = default;
};

std::optional<FileId> StatFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileId{st.st_dev, st.st_ino, st.st_size,
                static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Address {
  bool v6 = false;
  unsigned char bytes[16] = {};  // v4: the first four
};

std::optional<Address> ParseAddress(std::string_view text) {
  std::string s(Trim(text));
  if (s.size() > 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
  Address a;
  if (::inet_pton(AF_INET, s.c_str(), a.bytes) == 1) return a;
  if (::inet_pton(AF_INET6, s.c_str(), a.bytes) == 1) {
    // An IPv4 address written as IPv6 is found in the IPv4 tables.
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(a.bytes, kMapped, 12) == 0) {
      std::memmove(a.bytes, a.bytes + 12, 4);
      std::memset(a.bytes + 4, 0, 12);
      return a;
    }
    a.v6 = true;
    return a;
  }
  // The lenient reading the location file has always had ("001.002.003.004", a
  // trailing port): the same key, when its parts are bytes.
  std::string key;
  if (!IpLocationKey(text, key)) return std::nullopt;
  int parts[4];
  if (std::sscanf(key.c_str(), "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]) != 4)
    return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    if (parts[i] < 0 || parts[i] > 255) return std::nullopt;
    a.bytes[i] = static_cast<unsigned char>(parts[i]);
  }
  return a;
}

// ---- private copies ----

// The databases are read through a mapping (libmaxminddb) or a cache filled at open
// (libGeoIP). A user who copies a newer database over the old one rewrites the very
// file in place: a mapping of it would then see other bytes than were checked, and
// pages past a shortened end would kill the process. So each database is read from a
// copy nobody else can reach: an unnamed file in TMPDIR (O_TMPFILE, kept in the page
// cache, not in the process's memory), or an in-memory file where that is refused.
class PrivateCopy {
 public:
  PrivateCopy() = default;
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  ~PrivateCopy() {
    if (m_fd >= 0) ::close(m_fd);
  }

  bool Create(std::string* why) {
    const char* tmp = std::getenv("TMPDIR");
    m_fd = ::open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd < 0) m_fd = ::memfd_create("quillberry-location", MFD_CLOEXEC);
    if (m_fd < 0) *why = std::string("no room for a private copy: ") + std::strerror(errno);
    return m_fd >= 0;
  }
  bool Write(const char* data, std::size_t size, std::string* why) {
    while (size > 0) {
      const ssize_t n = ::write(m_fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *why = std::string("cannot copy it: ") + std::strerror(n < 0 ? errno : ENOSPC);
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool CopyFrom(const std::string& path, std::string* why) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      *why = std::string("cannot be read: ") + std::strerror(errno);
      return false;
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *why = std::string("cannot be read: ") + std::strerror(errno);
        ok = false;
      }
      if (n <= 0 || !Write(buffer.data(), static_cast<std::size_t>(n), why)) {
        ok = ok && n == 0;
        break;
      }
    }
    ::close(in);
    return ok;
  }
  // A name the libraries can open it by; the opened file stays the copy.
  std::string Path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

 private:
  int m_fd = -1;
};

// ---- MaxMind databases ----

struct MmdbFile {
  std::string path;
  FileId id;
  std::unique_ptr<MMDB_s> db;  // null when it could not be opened
  std::string error;
  bool city = false;
  bool asn = false;  // autonomous systems, no places
  std::uint64_t epoch = 0;
  ~MmdbFile() {
    if (db) MMDB_close(db.get());
  }
};

std::shared_ptr<MmdbFile> OpenMmdb(const std::string& path, const FileId& id) {
  auto f = std::make_shared<MmdbFile>();
  f->path = path;
  f->id = id;
  PrivateCopy copy;
  if (!copy.Create(&f->error) || !copy.CopyFrom(path, &f->error)) return f;
  auto db = std::make_unique<MMDB_s>();
  // The mapping outlives the copy's descriptor, and with it the file.
  const int status = MMDB_open(copy.Path().c_str(), MMDB_MODE_MMAP, db.get());
  if (status != MMDB_SUCCESS) {
    f->error = std::string("not a readable MaxMind database (") + MMDB_strerror(status) + ")";
    return f;
  }
  const char* type = db->metadata.database_type ? db->metadata.database_type : "";
  std::string lower(type);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  f->city = lower.find("city") != std::string::npos;
  f->asn = lower.find("asn") != std::string::npos;
  f->epoch = db->metadata.build_epoch;
  f->db = std::move(db);
  return f;
}

// ---- the system's GeoIP databases ----

constexpr unsigned kCountryBegin = 16776960;  // the first leaf value of a country edition's tree
constexpr int kRecordBytes = 6;               // two 3-byte pointers

struct LegacyFile {
  std::string path;
  FileId id;
  GeoIP* gi = nullptr;  // null when it could not be used
  std::string error;
  ~LegacyFile() {
    if (gi) GeoIP_delete(gi);
  }
};

// libGeoIP trusts the tree it reads: a pointer past the end of a damaged file would be
// followed, and a leaf past the country table would index beyond it. So the whole
// reachable tree is checked once here, before the library sees the file.
std::string CheckLegacyTree(const std::string& bytes, bool v6) {
  const std::size_t size = bytes.size();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  // The structure info: three 0xFF bytes and the edition, within the last 20 bytes
  // (absent means a country edition, as the library assumes too).
  int edition = GEOIP_COUNTRY_EDITION;
  for (std::size_t back = 3; back < 3 + 20 && back + 1 <= size; ++back) {
    const std::size_t at = size - back;
    if (at + 4 <= size && p[at] == 0xff && p[at + 1] == 0xff && p[at + 2] == 0xff) {
      edition = p[at + 3];
      break;
    }
  }
  // The library refuses a lookup of the other family, with a message on standard error.
  if (edition != (v6 ? GEOIP_COUNTRY_EDITION_V6 : GEOIP_COUNTRY_EDITION))
    return std::string("not a GeoIP ") + (v6 ? "IPv6" : "IPv4") + " country database (edition " +
           std::to_string(edition) + ")";
  const std::size_t nodes = size / kRecordBytes;
  if (nodes == 0) return "too short to be a GeoIP database";
  const unsigned countries = GeoIP_num_countries();
  std::vector<bool> seen(nodes, false);
  std::vector<std::uint32_t> todo{0};
  seen[0] = true;
  while (!todo.empty()) {
    const std::uint32_t node = todo.back();
    todo.pop_back();
    const unsigned char* rec = p + static_cast<std::size_t>(node) * kRecordBytes;
    for (int side = 0; side < 2; ++side) {
      const unsigned char* q = rec + side * 3;
      const std::uint32_t v = q[0] | (q[1] << 8) | (static_cast<std::uint32_t>(q[2]) << 16);
      if (v >= kCountryBegin) {
        if (v - kCountryBegin >= countries) return "damaged: a range names no country";
      } else if (v >= nodes) {
        return "damaged: the search tree points past the end of the file";
      } else if (!seen[v]) {
        seen[v] = true;
        todo.push_back(v);
      }
    }
  }
  return {};
}

std::shared_ptr<LegacyFile> OpenLegacy(const std::string& path, const FileId& id, bool v6) {
  auto f = std::make_shared<LegacyFile>();
  f->path = path;
  f->id = id;
  std::string error;
  const std::optional<std::string> bytes = ReadWholeFile(path, &error);
  if (!bytes) {
    f->error = "cannot be read: " + error;
    return f;
  }
  f->error = CheckLegacyTree(*bytes, v6);
  if (!f->error.empty()) return f;
  // The library reads the bytes that were checked, not the file as it may be now.
  PrivateCopy copy;
  if (!copy.Create(&f->error) || !copy.Write(bytes->data(), bytes->size(), &f->error)) return f;
  f->gi = GeoIP_open(copy.Path().c_str(), GEOIP_MEMORY_CACHE | GEOIP_SILENCE);
  if (!f->gi) f->error = "GeoIP cannot open it";
  return f;
}

// ---- the cache ----

// The opened databases of one data directory and system directory, as they stood when
// last checked. Lookups share it read-only; a change builds a new one.
struct Snapshot {
  std::vector<std::shared_ptr<MmdbFile>> mmdb;  // in the order they are tried
  std::shared_ptr<LegacyFile> v4;
  std::shared_ptr<LegacyFile> v6;
  // Whether the data directory has the location file: a failed open per row would
  // cost more than the rest of the lookup.
  bool wry = false;
  std::chrono::steady_clock::time_point checked;
};

std::mutex g_cacheMutex;
std::map<std::string, std::shared_ptr<const Snapshot>> g_cache;

bool IsMmdbName(const std::string& name) {
  if (name.size() < 6 || name[0] == '.') return false;
  std::string tail = name.substr(name.size() - 5);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".mmdb";
}

std::shared_ptr<LegacyFile> Refresh(const std::shared_ptr<LegacyFile>& old, const std::string& path,
                                    bool v6) {
  const std::optional<FileId> id = StatFile(path);
  if (!id) return nullptr;
  if (old && old->path == path && old->id == *id) return old;
  return OpenLegacy(path, *id, v6);
}

std::shared_ptr<const Snapshot> Build(const Snapshot* old, const std::string& dataDir,
                                      const std::string& systemDir) {
  auto s = std::make_shared<Snapshot>();
  s->checked = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  if (!dataDir.empty()) {
    if (DIR* d = ::opendir(dataDir.c_str())) {
      while (const dirent* e = ::readdir(d))
        if (IsMmdbName(e->d_name)) names.emplace_back(e->d_name);
      ::closedir(d);
    }
  }
  for (const std::string& name : names) {
    const std::string path = JoinPath(dataDir, name);
    const std::optional<FileId> id = StatFile(path);
    if (!id) continue;
    std::shared_ptr<MmdbFile> reuse;
    if (old)
      for (const auto& m : old->mmdb)
        if (m->path == path && m->id == *id) reuse = m;
    s->mmdb.push_back(reuse ? reuse : OpenMmdb(path, *id));
  }
  std::sort(s->mmdb.begin(), s->mmdb.end(), [](const auto& a, const auto& b) {
    if (a->city != b->city) return a->city;
    if (a->epoch != b->epoch) return a->epoch > b->epoch;
    return a->path < b->path;
  });
  s->wry = !dataDir.empty() && StatFile(JoinPath(dataDir, kIpLocationFileName)).has_value();
  s->v4 = Refresh(old ? old->v4 : nullptr, JoinPath(systemDir, "GeoIP.dat"), false);
  s->v6 = Refresh(old ? old->v6 : nullptr, JoinPath(systemDir, "GeoIPv6.dat"), true);
  return s;
}

std::shared_ptr<const Snapshot> Current(const std::string& dataDir, const std::string& systemDir) {
  const std::string key = dataDir + '\0' + systemDir;
  const auto now = std::chrono::steady_clock::now();
  const std::chrono::milliseconds interval(g_recheckMs.load());
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  // A process normally reads one data directory; the tests read many, whose mapped
  // files need not stay open.
  if (g_cache.size() > 8 && !g_cache.count(key)) g_cache.clear();
  std::shared_ptr<const Snapshot>& slot = g_cache[key];
  if (!slot || now - slot->checked >= interval) slot = Build(slot.get(), dataDir, systemDir);
  return slot;
}

// libGeoIP's English names are ISO 8859-1.
std::string Latin1ToUtf8(const char* s) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    if (*p < 0x80) {
      out += static_cast<char>(*p);
    } else {
      out += static_cast<char>(0xc0 | (*p >> 6));
      out += static_cast<char>(0x80 | (*p & 0x3f));
    }
  }
  return out;
}

// ---- reading a MaxMind record ----

// A string at the path below the entry, or nothing. Errors other than "not there"
// mean a damaged record.
std::optional<std::string> MmdbString(MMDB_entry_s* entry, const char* const* path, int* error) {
  MMDB_entry_data_s data{};
  const int status = MMDB_aget_value(entry, &data, path);
  if (status != MMDB_SUCCESS) {
    if (status != MMDB_LOOKUP_PATH_DOES_NOT_MATCH_DATA_ERROR && status != MMDB_INVALID_LOOKUP_PATH_ERROR)
      *error = status;
    return std::nullopt;
  }
  if (!data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING) return std::nullopt;
  return std::string(data.utf8_string, data.data_size);
}

std::optional<std::string> MmdbName(MMDB_entry_s* entry, const char* a, const char* b, UiLanguage language,
                                    int* error) {
  // b is a map key or an array index ("0" for the first subdivision).
  if (language == UiLanguage::Chinese) {
    const char* const zh[] = {a, b, "names", "zh-CN", nullptr};
    const char* const zhShort[] = {a, "names", "zh-CN", nullptr};
    if (auto s = MmdbString(entry, b ? zh : zhShort, error)) return s;
  }
  const char* const en[] = {a, b, "names", "en", nullptr};
  const char* const enShort[] = {a, "names", "en", nullptr};
  return MmdbString(entry, b ? en : enShort, error);
}

MMDB_lookup_result_s LookUp(const MmdbFile& f, const Address& a, int* mmdbError) {
  sockaddr_storage ss{};
  if (a.v6) {
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
    sin6->sin6_family = AF_INET6;
    std::memcpy(&sin6->sin6_addr, a.bytes, 16);
  } else {
    auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
    sin->sin_family = AF_INET;
    std::memcpy(&sin->sin_addr, a.bytes, 4);
  }
  // libmaxminddb takes the database as non-const only by the signature's age.
  return MMDB_lookup_sockaddr(f.db.get(), reinterpret_cast<sockaddr*>(&ss), mmdbError);
}

std::optional<GeoResult> LookMmdb(const MmdbFile& f, const Address& a, UiLanguage language,
                                  std::string* problem) {
  int mmdbError = MMDB_SUCCESS;
  MMDB_lookup_result_s r = LookUp(f, a, &mmdbError);
  if (mmdbError == MMDB_IPV6_LOOKUP_IN_IPV4_DATABASE_ERROR) return std::nullopt;
  if (mmdbError != MMDB_SUCCESS) {
    *problem = std::string("damaged: ") + MMDB_strerror(mmdbError);
    return std::nullopt;
  }
  if (!r.found_entry) return std::nullopt;
  int error = MMDB_SUCCESS;
  GeoResult g;
  g.source = BaseName(f.path);
  // An address whose country is unknown may still have the one it is registered in.
  for (const char* key : {"country", "registered_country"}) {
    const char* const codePath[] = {key, "iso_code", nullptr};
    std::optional<std::string> code = MmdbString(&r.entry, codePath, &error);
    std::optional<std::string> name = MmdbName(&r.entry, key, nullptr, language, &error);
    if (!code && !name) continue;
    g.countryCode = code.value_or("");
    if (name) {
      g.country = *name;
    } else if (language == UiLanguage::Chinese && ChineseCountryName(g.countryCode)) {
      g.country = ChineseCountryName(g.countryCode);
    } else if (const int id = GeoIP_id_by_code(g.countryCode.c_str()); id > 0) {
      g.country = GeoIP_name_by_id(id) ? Latin1ToUtf8(GeoIP_name_by_id(id)) : g.countryCode;
    } else {
      g.country = g.countryCode;
    }
    break;
  }
  const std::string subdivision = MmdbName(&r.entry, "subdivisions", "0", language, &error).value_or("");
  const std::string city = MmdbName(&r.entry, "city", nullptr, language, &error).value_or("");
  g.area = subdivision.empty() || subdivision == city ? city
           : city.empty()                             ? subdivision
                                                      : subdivision + " " + city;
  if (error != MMDB_SUCCESS) {
    *problem = std::string("damaged: ") + MMDB_strerror(error);
    return std::nullopt;
  }
  if (g.country.empty() && g.area.empty()) return std::nullopt;
  return g;
}

std::optional<GeoResult> LookLegacy(const LegacyFile& f, const Address& a, UiLanguage language) {
  GeoIPLookup gl{};
  int id;
  if (a.v6) {
    geoipv6_t num;
    std::memcpy(&num, a.bytes, 16);
    id = GeoIP_id_by_ipnum_v6_gl(f.gi, num, &gl);
  } else {
    const unsigned long num =
        (static_cast<unsigned long>(a.bytes[0]) << 24) | (a.bytes[1] << 16) | (a.bytes[2] << 8) | a.bytes[3];
    id = GeoIP_id_by_ipnum_gl(f.gi, num, &gl);
  }
  // 0 is "--", no country; the tree was checked, but the bound costs nothing.
  if (id <= 0 || static_cast<unsigned>(id) >= GeoIP_num_countries()) return std::nullopt;
  const char* code = GeoIP_code_by_id(id);
  const char* name = GeoIP_name_by_id(id);
  if (!code) return std::nullopt;
  GeoResult g;
  g.countryCode = code;
  g.source = BaseName(f.path);
  const char* zh = language == UiLanguage::Chinese ? ChineseCountryName(code) : nullptr;
  g.country = zh ? zh : name ? Latin1ToUtf8(name) : g.countryCode;
  return g;
}

}  // namespace

std::string SystemGeoIpDir() {
  const char* env = std::getenv(kSystemGeoIpDirVariable);
  return env && *env ? env : "/usr/share/GeoIP";
}

void SetGeoRecheckInterval(std::chrono::milliseconds interval) {
  g_recheckMs = interval.count();
}

std::string GeoRemark(const GeoResult& result) {
  return std::string(Trim(std::string(Trim(result.country)) + " " + std::string(Trim(result.area))));
}

GeoLookup LocateAddressIn(const GeoSources& sources, std::string_view address, UiLanguage language) {
  GeoLookup out;
  // A host name is no address, even one that begins as one: the location file's
  // lenient reading would put "1.2.3.4.gw.example" at 1.2.3.4.
  if (const std::optional<ProxyHost> host = ParseProxyHost(Trim(address));
      host && host->kind == HostKind::Name)
    return out;
  const std::string systemDir = sources.systemDir.empty() ? SystemGeoIpDir() : sources.systemDir;
  const std::shared_ptr<const Snapshot> snap = Current(sources.dataDir, systemDir);
  // 1. The documented location file, read exactly as before.
  const std::string wry = !sources.wryFile.empty() ? sources.wryFile
                          : snap->wry              ? JoinPath(sources.dataDir, kIpLocationFileName)
                                                   : std::string();
  if (!wry.empty()) {
    std::string country, area;
    if (LookupIpLocation(wry, std::string(address), country, area)) {
      GeoResult g;
      g.country = std::string(Trim(country));
      g.area = std::string(Trim(area));
      g.countryCode = std::string(CountryCodeOfChineseName(g.country));
      g.source = BaseName(wry);
      out.result = std::move(g);
      return out;
    }
  }
  const std::optional<Address> a = ParseAddress(address);
  if (!a) return out;
  // 2. The user's MaxMind databases.
  for (const auto& m : snap->mmdb) {
    if (!m->db) {
      out.problems.push_back({m->path, m->error});
      continue;
    }
    std::string problem;
    if (std::optional<GeoResult> g = LookMmdb(*m, *a, language, &problem)) {
      out.result = std::move(g);
      return out;
    }
    if (!problem.empty()) out.problems.push_back({m->path, problem});
  }
  // 3. The system's country database of the address's family.
  if (const std::shared_ptr<LegacyFile>& f = a->v6 ? snap->v6 : snap->v4) {
    if (!f->gi) {
      out.problems.push_back({f->path, f->error});
    } else if (std::optional<GeoResult> g = LookLegacy(*f, *a, language)) {
      out.result = std::move(g);
    }
  }
  return out;
}

std::optional<NetworkResult> LocateNetwork(const std::string& dataDir, std::string_view address) {
  if (dataDir.empty()) return std::nullopt;
  const std::optional<Address> a = ParseAddress(address);
  if (!a) return std::nullopt;
  const std::shared_ptr<const Snapshot> snap = Current(dataDir, SystemGeoIpDir());
  for (const auto& m : snap->mmdb) {
    if (!m->db || !m->asn) continue;
    int mmdbError = MMDB_SUCCESS;
    MMDB_lookup_result_s r = LookUp(*m, *a, &mmdbError);
    if (mmdbError != MMDB_SUCCESS || !r.found_entry) continue;
    MMDB_entry_data_s number{};
    const char* const numberPath[] = {"autonomous_system_number", nullptr};
    if (MMDB_aget_value(&r.entry, &number, numberPath) != MMDB_SUCCESS || !number.has_data) continue;
    NetworkResult n;
    switch (number.type) {
      case MMDB_DATA_TYPE_UINT32:
        n.asn = number.uint32;
        break;
      case MMDB_DATA_TYPE_UINT16:
        n.asn = number.uint16;
        break;
      case MMDB_DATA_TYPE_UINT64:
        n.asn = static_cast<std::uint32_t>(number.uint64);
        break;
      default:
        continue;
    }
    int error = MMDB_SUCCESS;
    const char* const ownerPath[] = {"autonomous_system_organization", nullptr};
    n.owner = MmdbString(&r.entry, ownerPath, &error).value_or("");
    n.source = BaseName(m->path);
    return n;
  }
  return std::nullopt;
}

std::string NetworkText(const NetworkResult& network) {
  std::string text = "AS" + std::to_string(network.asn);
  if (!network.owner.empty()) text += " " + network.owner;
  return text;
}

std::optional<GeoResult> LocateAddress(const std::string& dataDir, std::string_view address,
                                       UiLanguage language) {
  GeoSources sources;
  sources.dataDir = dataDir;
  return LocateAddressIn(sources, address, language).result;
}

}  // namespace qb
