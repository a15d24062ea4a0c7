#include "proxy/ProxyEntry.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "base/FixedPool.h"
#include "base/ProxyHost.h"
#include "base/Text.h"

namespace qb {

namespace {

qb::FixedPool& EntryPool() {
  static qb::FixedPool* const pool = new qb::FixedPool(sizeof(CProxyEntry));  // outlives every thread
  return *pool;
}

// The status texts a row holds as an index: "" and the words above.
constexpr const char* kStatusTable[] = {"",
                                        kStatusUnverified,
                                        kStatusVerifying,
                                        kStatusConnectFailed,
                                        kStatusTimeout,
                                        kStatusMismatch,
                                        kStatusPasswordMismatch,
                                        kStatusUnsupported,
                                        kStatusException,
                                        kStatusUnresolved,
                                        kStatusTlsIntercepted,
                                        kStatusModified};
constexpr std::uint32_t kStatusCount = sizeof kStatusTable / sizeof kStatusTable[0];
// The same as views, so that comparing a text with them measures no C string.
constexpr std::string_view kStatusViews[] = {
    kStatusTable[0], kStatusTable[1], kStatusTable[2], kStatusTable[3], kStatusTable[4],  kStatusTable[5],
    kStatusTable[6], kStatusTable[7], kStatusTable[8], kStatusTable[9], kStatusTable[10], kStatusTable[11]};
static_assert(sizeof kStatusViews / sizeof kStatusViews[0] == kStatusCount);
constexpr std::string_view kTypeViews[] = {kProxyTypes[0], kProxyTypes[1], kProxyTypes[2],
                                           kProxyTypes[3], kProxyTypes[4], kProxyTypes[5]};

// The time-or-status of a row: the top two bits tell its kind.
//   kStatusIndex: the low bits index kStatusTable;
//   kStatusTime:  a time, bits 0-27 its digits as one number, bits 28-29 the number of
//                 digits after the point (0: no point);
//   kStatusText:  the text is kept out of line.
constexpr std::uint32_t kStatusIndex = 0u << 30, kStatusTime = 1u << 30, kStatusText = 2u << 30;
constexpr std::uint32_t kKindMask = 3u << 30, kMantissaMask = (1u << 28) - 1;
constexpr std::uint32_t kPow10[] = {1, 10, 100, 1000};

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

// A dotted quad that formats back byte for byte: four decimal numbers up to 255,
// without leading zeros.
bool PackIpv4(std::string_view s, std::uint32_t& out) {
  const std::size_t n = s.size();
  if (n < 7 || n > 15) return false;
  std::uint32_t v = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= n || s[i] != '.') return false;
      ++i;
    }
    const std::size_t start = i;
    std::uint32_t x = 0;
    while (i < n && Digit(s[i]) && i - start < 3) x = x * 10 + static_cast<std::uint32_t>(s[i++] - '0');
    if (i == start || (i - start > 1 && s[start] == '0') || x > 255) return false;
    v = v << 8 | x;
  }
  if (i != n) return false;
  out = v;
  return true;
}

// Saving ten million rows formats forty million numbers: they are made two digits at
// a time from a table, and the parts of an address are copied whole from another.
constexpr char kTwoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* FormatUnsigned(char* p, std::uint32_t v) {
  char digits[10];
  char* end = digits + sizeof digits;
  char* d = end;
  while (v >= 100) {
    d -= 2;
    std::memcpy(d, kTwoDigits + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    d -= 2;
    std::memcpy(d, kTwoDigits + 2 * v, 2);
  } else {
    *--d = static_cast<char>('0' + v);
  }
  std::memcpy(p, d, static_cast<std::size_t>(end - d));
  return p + (end - d);
}

struct Octet {
  char text[4];  // the digits and a dot
  std::uint8_t length;
};

const Octet* Octets() {
  static const auto table = [] {
    std::array<Octet, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      char* end = FormatUnsigned(t[i].text, i);
      *end = '.';
      t[i].length = static_cast<std::uint8_t>(end - t[i].text);
    }
    return t;
  }();
  return table.data();
}

void AppendIpv4(std::string& out, std::uint32_t v) {
  const Octet* octets = Octets();
  char buf[16];
  char* p = buf;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const Octet& o = octets[(v >> shift) & 0xFF];
    std::memcpy(p, o.text, 4);
    p += o.length + 1;
  }
  out.append(buf, static_cast<std::size_t>(p - buf - 1));
}

// 1 to 65535 in decimal without leading zeros.
bool PackPort(std::string_view s, std::uint16_t& out) {
  if (s.empty() || s.size() > 5 || s[0] == '0') return false;
  std::uint32_t v = 0;
  for (char c : s) {
    if (!Digit(c)) return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > 0xFFFF) return false;
  out = static_cast<std::uint16_t>(v);
  return true;
}

void AppendUnsigned(std::string& out, std::uint32_t v) {
  char buf[10];
  out.append(buf, static_cast<std::size_t>(FormatUnsigned(buf, v) - buf));
}

// A status word of the table, or a time of digits without leading zeros and up to three
// decimals ("0.0", "12.3", "7"); false for anything else.
bool PackStatus(std::string_view s, std::uint32_t& out) {
  if (s.empty()) {
    out = kStatusIndex;
    return true;
  }
  if (!Digit(s[0])) {
    for (std::uint32_t i = 1; i < kStatusCount; ++i) {
      if (s == kStatusViews[i]) {
        out = kStatusIndex | i;
        return true;
      }
    }
    return false;
  }
  const std::size_t n = s.size();
  std::size_t i = 0;
  std::uint64_t m = 0;
  while (i < n && Digit(s[i]) && i < 9) m = m * 10 + static_cast<std::uint64_t>(s[i++] - '0');
  if (i > 1 && s[0] == '0') return false;
  std::uint32_t decimals = 0;
  if (i < n && s[i] == '.') {
    const std::size_t point = ++i;
    while (i < n && Digit(s[i]) && i - point < 3) m = m * 10 + static_cast<std::uint64_t>(s[i++] - '0');
    decimals = static_cast<std::uint32_t>(i - point);
    if (decimals == 0) return false;
  }
  if (i != n || m > kMantissaMask) return false;
  out = kStatusTime | decimals << 28 | static_cast<std::uint32_t>(m);
  return true;
}

void AppendTime(std::string& out, std::uint32_t code) {
  const std::uint32_t m = code & kMantissaMask, decimals = (code >> 28) & 3;
  char buf[16];
  char* p = FormatUnsigned(buf, m / kPow10[decimals]);
  if (decimals > 0) {
    *p++ = '.';
    std::uint32_t frac = m % kPow10[decimals];
    for (std::uint32_t d = decimals; d-- > 0;) {
      p[d] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    p += decimals;
  }
  out.append(buf, static_cast<std::size_t>(p - buf));
}

// The order of the time-or-status column for each status word, worked out once.
const double* StatusTableRanks() {
  static const auto ranks = [] {
    std::array<double, kStatusCount> r{};
    for (std::uint32_t i = 0; i < kStatusCount; ++i) r[i] = TimeStatusRank(kStatusTable[i]);
    return r;
  }();
  return ranks.data();
}

int TypeIndex(std::string_view s) {
  for (int i = 0; i < 6; ++i) {
    if (s == kTypeViews[i]) return i;
  }
  return -1;
}

constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;

// Eight bytes with the ASCII lower-case letters made upper case, all at once: a byte
// gets its 0x20 bit cleared when it lies in 'a'..'z'.
inline std::uint64_t UpperWord(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t low7 = w & (0x7F * kOnes);
  const std::uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;
  const std::uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;
  const std::uint64_t lower = atLeastA & ~aboveZ & ~w & (0x80 * kOnes);
  return w ^ (lower >> 2);
}

inline void Mix(std::uint64_t& h, std::uint64_t w) {
  h = (h ^ w) * kMul;
  h ^= h >> 32;
}

// A field folded eight bytes at a time, then its length, so that texts moving from one
// field to the next change the hash.
inline void HashField(std::uint64_t& h, std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    Mix(h, UpperWord(w));
  }
  if (i < s.size()) {
    // Byte by byte: a call to memcpy for a few bytes costs more than the whole hash.
    std::uint64_t w = 0;
    for (unsigned shift = 0; i < s.size(); ++i, shift += 8) {
      w |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << shift;
    }
    Mix(h, UpperWord(w));
  }
  Mix(h, s.size());
}

// The address split at its first three dots, each part as by atoi.
void SplitAddress(std::string_view a, int part[4]) {
  for (int i = 0; i < 4; ++i) part[i] = 0;
  for (int i = 0; i < 4; ++i) {
    if (i == 3) {
      part[i] = qb::CAtoi(a);
      break;
    }
    const std::size_t dot = a.find('.');
    if (dot == std::string_view::npos) {
      part[i] = qb::CAtoi(a);
      break;
    }
    part[i] = qb::CAtoi(a.substr(0, dot));
    a = a.substr(dot + 1);
  }
}

}  // namespace

// The texts that have no packed form, in one allocation: their lengths, then their
// bytes one after the other. Only the fields flagged as text are filled; the remark
// always lives here once a row has this block. One block rather than a string per
// field: a row whose only long text is its remark costs a few dozen bytes more, not
// five strings' worth.
struct CProxyEntry::Extra {
  enum Field : unsigned { kAddr, kPort, kType, kStatus, kRemark, kFields };
  std::uint32_t length[kFields];

  char* Bytes() { return reinterpret_cast<char*>(this + 1); }
  const char* Bytes() const { return reinterpret_cast<const char*>(this + 1); }
  std::size_t Size() const {
    std::size_t n = 0;
    for (std::uint32_t l : length) n += l;
    return n;
  }
  std::string_view Get(Field f) const {
    std::size_t at = 0;
    for (unsigned i = 0; i < f; ++i) at += length[i];
    return {Bytes() + at, length[f]};
  }

  static Extra* Make(const std::string_view (&texts)[kFields]) {
    std::size_t n = 0;
    for (std::string_view t : texts) {
      // A length must fit its 32 bits; a text of 4 GiB is memory no row can have.
      if (t.size() > UINT32_MAX) throw std::bad_alloc();
      n += t.size();
    }
    auto* x = static_cast<Extra*>(::operator new(sizeof(Extra) + n));
    char* out = x->Bytes();
    for (unsigned i = 0; i < kFields; ++i) {
      x->length[i] = static_cast<std::uint32_t>(texts[i].size());
      // An empty view may have no data at all, which the copy must not be handed.
      if (!texts[i].empty()) std::memcpy(out, texts[i].data(), texts[i].size());
      out += texts[i].size();
    }
    return x;
  }
  Extra* Clone() const {
    auto* x = static_cast<Extra*>(::operator new(sizeof(Extra) + Size()));
    std::memcpy(static_cast<void*>(x), this, sizeof(Extra) + Size());
    return x;
  }
  static void Destroy(Extra* x) noexcept { ::operator delete(x); }
};

static_assert(sizeof(CProxyEntry) == 32, "a row's entry is part of its memory budget");

CProxyEntry::CProxyEntry(std::string_view addr, std::string_view port, std::string_view type,
                         std::string_view timeStatus, std::string_view remark) {
  Assign(addr, port, type, timeStatus, remark);
}

void CProxyEntry::Assign(std::string_view addr, std::string_view port, std::string_view type,
                         std::string_view timeStatus, std::string_view remark) {
  m_flags &= kFavorite;
  bool extra = remark.size() > kInlineRemark;
  if (!PackIpv4(addr, m_addr)) {
    m_addr = 0;
    m_flags |= kAddrText;
    extra = true;
  }
  if (!PackPort(port, m_port)) {
    m_port = 0;
    m_flags |= kPortText;
    extra = true;
  }
  const int t = type.empty() ? kTypeEmpty : TypeIndex(type);
  m_type = static_cast<std::uint8_t>(t < 0 ? kTypeText : t);
  extra |= t < 0;
  if (!PackStatus(timeStatus, m_status)) {
    m_status = kStatusText;
    extra = true;
  }
  if (extra) {
    m_flags |= kHasExtra;
    const std::string_view texts[Extra::kFields] = {
        (m_flags & kAddrText) ? addr : std::string_view(), (m_flags & kPortText) ? port : std::string_view(),
        m_type == kTypeText ? type : std::string_view(),
        m_status == kStatusText ? timeStatus : std::string_view(), remark};
    m_u.extra = Extra::Make(texts);
  } else {
    // An empty view may have no data at all, which the copy must not be handed.
    if (!remark.empty()) std::memcpy(m_u.text.bytes, remark.data(), remark.size());
    m_u.text.bytes[kInlineRemark] = static_cast<char>(remark.size());
  }
  RehashKey();
}

void CProxyEntry::Release() noexcept {
  if (m_flags & kHasExtra) Extra::Destroy(m_u.extra);
  m_flags &= kFavorite;
  m_u.text.bytes[kInlineRemark] = 0;
}

CProxyEntry::~CProxyEntry() {
  if (m_flags & kHasExtra) Extra::Destroy(m_u.extra);
}

CProxyEntry::CProxyEntry(const CProxyEntry& other)
    : m_addr(other.m_addr),
      m_port(other.m_port),
      m_type(other.m_type),
      m_flags(other.m_flags),
      m_status(other.m_status),
      m_hash(other.m_hash),
      m_u(other.m_u) {
  if (m_flags & kHasExtra) m_u.extra = other.m_u.extra->Clone();
}

CProxyEntry::CProxyEntry(CProxyEntry&& other) noexcept
    : m_addr(other.m_addr),
      m_port(other.m_port),
      m_type(other.m_type),
      m_flags(other.m_flags),
      m_status(other.m_status),
      m_hash(other.m_hash),
      m_u(other.m_u) {
  other.m_flags &= ~kHasExtra;
  other.m_u.text.bytes[kInlineRemark] = 0;
}

CProxyEntry& CProxyEntry::operator=(const CProxyEntry& other) {
  if (this != &other) *this = CProxyEntry(other);
  return *this;
}

CProxyEntry& CProxyEntry::operator=(CProxyEntry&& other) noexcept {
  if (this == &other) return *this;
  Release();
  m_addr = other.m_addr;
  m_port = other.m_port;
  m_type = other.m_type;
  m_flags = other.m_flags;
  m_status = other.m_status;
  m_hash = other.m_hash;
  m_u = other.m_u;
  other.m_flags &= ~kHasExtra;
  other.m_u.text.bytes[kInlineRemark] = 0;
  return *this;
}

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

void CProxyEntry::AppendAddr(std::string& out) const {
  if (m_flags & kAddrText) {
    out.append(m_u.extra->Get(Extra::kAddr));
  } else {
    AppendIpv4(out, m_addr);
  }
}

void CProxyEntry::AppendPort(std::string& out) const {
  if (m_flags & kPortText) {
    out.append(m_u.extra->Get(Extra::kPort));
  } else {
    AppendUnsigned(out, m_port);
  }
}

void CProxyEntry::AppendTimeStatus(std::string& out) const {
  switch (m_status & kKindMask) {
    case kStatusIndex:
      out.append(kStatusViews[m_status & ~kKindMask]);
      break;
    case kStatusTime:
      AppendTime(out, m_status);
      break;
    default:
      out.append(m_u.extra->Get(Extra::kStatus));
      break;
  }
}

std::string CProxyEntry::Addr() const {
  std::string s;
  AppendAddr(s);
  return s;
}

std::string CProxyEntry::Port() const {
  std::string s;
  AppendPort(s);
  return s;
}

std::string_view CProxyEntry::Type() const {
  if (m_type == kTypeEmpty) return {};
  if (m_type == kTypeText) return m_u.extra->Get(Extra::kType);
  return kTypeViews[m_type];
}

std::string CProxyEntry::TimeStatus() const {
  std::string s;
  AppendTimeStatus(s);
  return s;
}

std::string_view CProxyEntry::Remark() const {
  if (m_flags & kHasExtra) return m_u.extra->Get(Extra::kRemark);
  return {m_u.text.bytes,
          static_cast<std::size_t>(static_cast<unsigned char>(m_u.text.bytes[kInlineRemark]))};
}

// A setter makes the row again from its texts: which fields need the out-of-line
// block depends on all of them. The new row is complete before the old one is let go,
// since the views may point into it.
void CProxyEntry::SetProxyAddr(std::string_view s) {
  CProxyEntry e(s, Port(), Type(), TimeStatus(), Remark());
  e.SetFavorite(IsFavorite());
  *this = std::move(e);
}

void CProxyEntry::SetProxyPort(std::string_view s) {
  CProxyEntry e(Addr(), s, Type(), TimeStatus(), Remark());
  e.SetFavorite(IsFavorite());
  *this = std::move(e);
}

void CProxyEntry::SetProxyType(std::string_view s) {
  CProxyEntry e(Addr(), Port(), s, TimeStatus(), Remark());
  e.SetFavorite(IsFavorite());
  *this = std::move(e);
}

void CProxyEntry::SetTimeStatus(std::string_view s) {
  // The usual change, a row's time or status word replacing another, stays in place.
  std::uint32_t code;
  if (m_status != kStatusText && PackStatus(s, code)) {
    m_status = code;
    return;
  }
  CProxyEntry e(Addr(), Port(), Type(), s, Remark());
  e.SetFavorite(IsFavorite());
  *this = std::move(e);
}

void CProxyEntry::SetRemark(std::string_view s) {
  if (!(m_flags & kHasExtra) && s.size() <= kInlineRemark) {
    if (!s.empty()) std::memmove(m_u.text.bytes, s.data(), s.size());
    m_u.text.bytes[kInlineRemark] = static_cast<char>(s.size());
    return;
  }
  CProxyEntry e(Addr(), Port(), Type(), TimeStatus(), s);
  e.SetFavorite(IsFavorite());
  *this = std::move(e);
}

void CProxyEntry::AddressParts(int part[4]) const {
  if (m_flags & kAddrText) {
    SplitAddress(m_u.extra->Get(Extra::kAddr), part);
    return;
  }
  for (int i = 0; i < 4; ++i) part[i] = static_cast<int>((m_addr >> (24 - 8 * i)) & 0xFF);
}

int CProxyEntry::PortNumber() const {
  return (m_flags & kPortText) ? qb::CAtoi(m_u.extra->Get(Extra::kPort)) : m_port;
}

double CProxyEntry::StatusRank() const {
  switch (m_status & kKindMask) {
    case kStatusIndex:
      return StatusTableRanks()[m_status & ~kKindMask];
    case kStatusTime:
      return TimeValue();
    default:
      return TimeStatusRank(m_u.extra->Get(Extra::kStatus));
  }
}

bool CProxyEntry::HasTime() const {
  switch (m_status & kKindMask) {
    case kStatusIndex:
      return false;
    case kStatusTime:
      return true;
    default:
      return IsTimeText(m_u.extra->Get(Extra::kStatus));
  }
}

// The digits over a power of ten: both exact, so the division rounds once, to the
// same double that reading the text gives.
double CProxyEntry::TimeValue() const {
  if ((m_status & kKindMask) == kStatusTime) {
    return static_cast<double>(m_status & kMantissaMask) / kPow10[(m_status >> 28) & 3];
  }
  return qb::CAtof(TimeStatus());
}

int CProxyEntry::TypeClass() const {
  if (m_type != kTypeText) return m_type;
  return TypeIndex(qb::AsciiUpper(m_u.extra->Get(Extra::kType)));
}

// A packed field is hashed as its number and a text as its upper-cased bytes. Texts
// that differ only in ASCII case are packed alike or not at all (a packed address or
// port has no letters), so equal keys always hash alike; the type is hashed by its
// place among the six whatever its case.
void CProxyEntry::RehashKey() {
  std::uint64_t h = 0x243F6A8885A308D3ull;
  if (m_flags & kAddrText) {
    HashField(h, m_u.extra->Get(Extra::kAddr));
  } else {
    Mix(h, 0x100000000ull | m_addr);
  }
  if (m_flags & kPortText) {
    HashField(h, m_u.extra->Get(Extra::kPort));
  } else {
    Mix(h, 0x200000000ull | m_port);
  }
  const int t = TypeClass();
  if (t >= 0) {
    Mix(h, 0x300000000ull | static_cast<unsigned>(t));
  } else {
    HashField(h, m_u.extra->Get(Extra::kType));
  }
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  m_hash = static_cast<std::uint32_t>(h);
}

bool CProxyEntry::SameKey(const CProxyEntry& o) const {
  if (m_hash != o.m_hash) return false;
  const bool addrText = m_flags & kAddrText, portText = m_flags & kPortText;
  if (addrText != static_cast<bool>(o.m_flags & kAddrText)) return false;
  if (addrText ? !qb::AsciiCaseEqual(m_u.extra->Get(Extra::kAddr), o.m_u.extra->Get(Extra::kAddr))
               : m_addr != o.m_addr)
    return false;
  if (portText != static_cast<bool>(o.m_flags & kPortText)) return false;
  if (portText ? !qb::AsciiCaseEqual(m_u.extra->Get(Extra::kPort), o.m_u.extra->Get(Extra::kPort))
               : m_port != o.m_port)
    return false;
  if (m_type == o.m_type)
    return m_type != kTypeText ||
           qb::AsciiCaseEqual(m_u.extra->Get(Extra::kType), o.m_u.extra->Get(Extra::kType));
  const int a = TypeClass(), b = o.TypeClass();
  return a >= 0 || b >= 0 ? a == b
                          : qb::AsciiCaseEqual(m_u.extra->Get(Extra::kType), o.m_u.extra->Get(Extra::kType));
}

std::size_t CProxyEntry::OutOfLineBytes() const {
  if (!(m_flags & kHasExtra)) return 0;
  return sizeof(Extra) + m_u.extra->Size();
}

bool IsProxyType(std::string_view type) {
  return TypeIndex(type) >= 0;
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

  // A bracketed IPv6 address holds colons of its own.
  const std::size_t colon = HostColon(rest, rest.size() - TrimLeft(rest).size());
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
  std::string out;
  e.AppendAddr(out);
  out.push_back(':');
  e.AppendPort(out);
  if (!e.Type().empty()) out.append("@").append(e.Type());
  return out;
}

void AppendFileLine(std::string& out, const CProxyEntry& e) {
  e.AppendAddr(out);
  out.push_back(':');
  e.AppendPort(out);
  out.push_back('@');
  out.append(e.Type());
  const std::size_t dollar = out.size();
  out.push_back('$');
  e.AppendTimeStatus(out);
  if (out.size() == dollar + 1) out.pop_back();
  const std::string_view remark = e.Remark();
  if (!remark.empty()) out.append("#").append(remark);
}

std::string FormatFileLine(const CProxyEntry& e) {
  std::string out;
  AppendFileLine(out, e);
  return out;
}

bool ParseFileLine(std::string_view line, ProxyFields& f) {
  FileLineViews views;
  if (!ParseFileLine(line, views)) return false;
  f.addr.assign(views.addr);
  f.port.assign(views.port);
  f.type.assign(views.type);
  f.timeStatus.assign(views.timeStatus);
  f.remark.assign(views.remark);
  return true;
}

bool ParseFileLine(std::string_view line, FileLineViews& f) {
  const std::size_t colon = HostColon(line);
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
  // Rows only ever hold dotted or bracketed addresses or host names, statuses of a few words and
  // remarks of a line; anything larger is not a line this program wrote.
  constexpr std::size_t kMaxAddr = 253 + 2, kMaxStatus = 64, kMaxRemark = 1024;
  if (addr.empty() || addr.size() > kMaxAddr || status.size() > kMaxStatus || remark.size() > kMaxRemark) {
    return false;
  }
  if (addr.front() == '[') {
    // Only the canonical text of an IPv6 address writes back as it was read.
    const std::optional<ProxyHost> host = ParseProxyHost(addr);
    if (!host || host->text != addr) return false;
  } else {
    for (char c : addr) {
      const bool hostChar = qb::IsDigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'z') ||
                            (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '_';
      if (!hostChar) return false;
    }
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
  f = {addr, port, type, status, remark};
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

const char* ProxyState(std::string_view s) {
  if (IsTimeText(s)) return "ok";
  static constexpr std::pair<const char*, const char*> kStates[] = {
      {kStatusUnverified, "unverified"},   {kStatusVerifying, "verifying"},
      {kStatusConnectFailed, "failed"},    {kStatusTimeout, "timeout"},
      {kStatusMismatch, "mismatch"},       {kStatusPasswordMismatch, "password-mismatch"},
      {kStatusUnsupported, "unsupported"}, {kStatusException, "error"},
      {kStatusUnresolved, "unresolved"},   {kStatusTlsIntercepted, "tls-intercepted"},
      {kStatusModified, "modified"},
  };
  if (s.empty()) return "unverified";
  for (const auto& [status, state] : kStates) {
    if (s == status) return state;
  }
  return "other";
}

double TimeStatusRank(std::string_view s) {
  if (IsTimeText(s)) return qb::CAtof(s);
  if (s == kStatusConnectFailed || s == kStatusUnresolved) return 9999;
  // A proxy that tampers sorts below every other failure: it is the one not to use.
  if (s == kStatusTlsIntercepted || s == kStatusModified) return 10000;
  if (s == kStatusMismatch) return 8888;
  if (s == kStatusTimeout) return 7777;
  if (s == kStatusUnverified) return 6666;
  if (s == kStatusVerifying) return 5555;
  return -1;
}

bool IsFailedStatus(std::string_view timeStatus) {
  for (const char* failed :
       {kStatusConnectFailed, kStatusTimeout, kStatusMismatch, kStatusPasswordMismatch, kStatusUnsupported,
        kStatusException, kStatusUnresolved, kStatusTlsIntercepted, kStatusModified}) {
    if (timeStatus == failed) return true;
  }
  return false;
}

}  // namespace qb
