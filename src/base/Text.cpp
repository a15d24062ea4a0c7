#include "base/Text.h"

#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace qb {

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int AsciiCaseCompare(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    const unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool AsciiCaseEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiCaseCompare(a, b) == 0;
}

std::string_view TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsCSpace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && IsCSpace(static_cast<unsigned char>(s[n - 1]))) --n;
  return s.substr(0, n);
}

std::string_view Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

std::string_view SkipByteOrderMarks(std::string_view s) {
  while (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
  return s;
}

long long CAtoll(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsCSpace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  constexpr long long kMax = std::numeric_limits<long long>::max();
  long long value = 0;
  for (; i < s.size() && IsDigit(static_cast<unsigned char>(s[i])); ++i) {
    const int digit = s[i] - '0';
    if (value > (kMax - digit) / 10) {
      value = kMax;
      // Keep consuming digits; the value stays saturated.
      continue;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

int CAtoi(std::string_view s) {
  const long long v = CAtoll(s);
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

double CAtof(std::string_view s) {
  // strtod needs a terminated string; a number never needs more than a few dozen bytes.
  char buf[128];
  const std::size_t n = s.size() < sizeof buf - 1 ? s.size() : sizeof buf - 1;
  std::memcpy(buf, s.data(), n);
  buf[n] = '\0';
  const double v = std::strtod(buf, nullptr);
  return std::isfinite(v) ? v : 0.0;
}

std::size_t LegacyWidth(std::string_view s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = Utf8CharLength(s, i);
    width += len == 1 ? 1 : 2;
    i += len;
  }
  return width;
}

std::string_view CutToLegacyWidth(std::string_view s, std::size_t maxWidth) {
  std::size_t width = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t len = Utf8CharLength(s, i);
    const std::size_t w = len == 1 ? 1 : 2;
    if (width + w > maxWidth) break;
    width += w;
    i += len;
  }
  return s.substr(0, i);
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    i = FirstNonAscii(s, i, n);
    if (i >= n) break;
    const unsigned char c = p[i];
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
      len = 2;
    else if (c == 0xE0) {
      len = 3;
      lo = 0xA0;
    } else if (c >= 0xE1 && c <= 0xEC)
      len = 3;
    else if (c == 0xED) {
      len = 3;
      hi = 0x9F;
    } else if (c >= 0xEE && c <= 0xEF)
      len = 3;
    else if (c == 0xF0) {
      len = 4;
      lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3)
      len = 4;
    else if (c == 0xF4) {
      len = 4;
      hi = 0x8F;
    } else
      return false;
    if (i + len > n) return false;
    if (p[i + 1] < lo || p[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

namespace {

// Opening a converter costs far more than converting a line, and a page in a legacy
// character set is converted line by line: each thread keeps its converters open.
// Both directions in use are stateless, and each use starts from the initial state.
class ConverterCache {
 public:
  ~ConverterCache() {
    for (Entry& e : m_entries) {
      if (e.cd != kNone) iconv_close(e.cd);
    }
  }
  iconv_t Get(const char* to, const char* from) {
    for (Entry& e : m_entries) {
      if (e.to == to && e.from == from) return e.cd;
    }
    Entry e{to, from, iconv_open(to, from)};
    // A converter that cannot be had is not asked for again on this thread.
    m_entries.push_back(e);
    return e.cd;
  }
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

 private:
  // Keyed by the literals' addresses: the callers pass the same few constants.
  struct Entry {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  std::vector<Entry> m_entries;
};

// Appends the converted text to out: a caller that keeps out allocates nothing once it
// is large enough.
void ConvertInto(std::string_view in, const char* to, const char* from, const char* replacement,
                 std::string& out) {
  thread_local ConverterCache cache;
  iconv_t cd = cache.Get(to, from);
  if (cd == ConverterCache::kNone) {
    out.append(in);
    return;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: replace one byte and go on.
      out.append(replacement);
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

std::string Convert(std::string_view in, const char* to, const char* from, const char* replacement) {
  std::string out;
  out.reserve(in.size() * 3 / 2 + 8);
  ConvertInto(in, to, from, replacement, out);
  return out;
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Every two-byte character of GB18030 in UTF-8, asked of the converter once per
// process. Legacy pages are nearly all ASCII and two-byte characters, and a look-up
// costs a fraction of a call into the converter; whatever the table does not hold (a
// four-byte sequence, a byte that is not GB18030) goes to the converter, from the
// character on which the table stopped. The encoding has no state, so both ways give
// the same text.
class TwoByteTable {
 public:
  static constexpr unsigned kLeadFirst = 0x81, kLeadLast = 0xFE, kTrailFirst = 0x40, kTrailLast = 0xFE;
  static constexpr unsigned kTrails = kTrailLast - kTrailFirst + 1;

  TwoByteTable() {
    std::string utf8;
    for (unsigned lead = kLeadFirst; lead <= kLeadLast; ++lead) {
      for (unsigned trail = kTrailFirst; trail <= kTrailLast; ++trail) {
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        utf8.clear();
        ConvertInto(std::string_view(pair, 2), "UTF-8", "GB18030", kReplacement, utf8);
        Entry& e = m_entries[(lead - kLeadFirst) * kTrails + (trail - kTrailFirst)];
        // Only a pair that is one character, not replaced, and short enough is kept.
        if (utf8.size() <= sizeof e.bytes && IsValidUtf8(utf8) && utf8 != kReplacement &&
            static_cast<unsigned char>(utf8[0]) >= 0x80) {
          std::memcpy(e.bytes, utf8.data(), utf8.size());
          e.size = static_cast<std::uint8_t>(utf8.size());
        }
      }
    }
  }

  // Appends text decoded as far as the table reaches; returns how many bytes it took.
  std::size_t Decode(std::string_view text, std::string& out) const {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
      // ASCII is copied as it stands.
      const std::size_t j = FirstNonAscii(text, i, n);
      out.append(text.data() + i, j - i);
      i = j;
      // Then the two-byte characters up to the next ASCII byte.
      char buf[512];
      std::size_t used = 0;
      while (i + 1 < n && s[i] >= 0x80 && used + 3 <= sizeof buf) {
        const unsigned c = s[i];
        const unsigned t = s[i + 1];
        if (c < kLeadFirst || c > kLeadLast || t < kTrailFirst || t > kTrailLast) break;
        const Entry& e = m_entries[(c - kLeadFirst) * kTrails + (t - kTrailFirst)];
        if (e.size == 0) break;
        std::memcpy(buf + used, e.bytes, sizeof e.bytes);
        used += e.size;
        i += 2;
      }
      out.append(buf, used);
      if (used == 0 && i < n) return i;  // neither ASCII nor a character the table holds
    }
    return i;
  }

 private:
  struct Entry {
    char bytes[3] = {};
    std::uint8_t size = 0;
  };
  Entry m_entries[(kLeadLast - kLeadFirst + 1) * kTrails];
};

void DecodeGb18030Into(std::string_view text, std::string& out) {
  static const TwoByteTable table;
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos += table.Decode(text.substr(pos), out);
    if (pos == text.size()) return;
    // The converter takes over up to the next byte below '0', which is never part of a
    // GB18030 character: it meets that byte in the same state as in one pass.
    std::size_t end = pos + 1;
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x30) ++end;
    ConvertInto(text.substr(pos, end - pos), "UTF-8", "GB18030", kReplacement, out);
    pos = end;
  }
}

}  // namespace

std::string DecodeLegacyLine(std::string_view line) {
  if (IsValidUtf8(line)) return std::string(line);
  std::string out;
  out.reserve(line.size() * 3 / 2 + 8);
  DecodeGb18030Into(line, out);
  return out;
}

void AppendDecodedLegacy(std::string_view line, std::string& out) {
  DecodeGb18030Into(line, out);
}

std::string EncodeGb18030(std::string_view utf8) {
  return Convert(utf8, "GB18030", "UTF-8", "?");
}

void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& f) {
  LineEndFinder ends(text.data(), text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = ends.Next(pos);
    f(text.substr(pos, end - pos));
    if (end == text.size()) return;
    pos = ends.After(end);
  }
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  std::string out;
  if (n < 0) {
    va_end(ap2);
    return out;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else {
    out.resize(static_cast<std::size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, fmt, ap2);
  }
  va_end(ap2);
  return out;
}

std::string EscapeUnsafeUrlBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F) {
      out += Format("%%%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string UrlWithoutLogOn(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t hostStart = scheme + 3;
  const std::size_t hostEnd = std::min(url.size(), url.find_first_of("/?#", hostStart));
  // The last "@" before the path ends the user information: a password may hold "@".
  const std::size_t at = url.substr(0, hostEnd).rfind('@');
  if (at == std::string_view::npos || at < hostStart) return std::string(url);
  return std::string(url.substr(0, hostStart)) + std::string(url.substr(at + 1));
}

}  // namespace qb
