// Text helpers shared by every part of the program.
//
// Inside the program all text is UTF-8. The file formats and several rules were
// defined in terms of the Windows code page 936, where an ASCII character takes one
// byte and any other character two; rules that count bytes count that way here
// ("legacy width"), and never cut a character in half.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace qb {

// White space as the C library's isspace() classifies it in the "C" locale.
inline bool IsCSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// ASCII-only case folding: CJK text has no case, and folding bytes of a multibyte
// character would corrupt it.
inline char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
// <0, 0, >0 like strcmp, ignoring the case of ASCII letters.
int AsciiCaseCompare(std::string_view a, std::string_view b);
bool AsciiCaseEqual(std::string_view a, std::string_view b);

// Trims C white space at both ends (or one end).
std::string_view Trim(std::string_view s);
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);
// Drops the UTF-8 byte-order marks at the start. A mark is never part of a name: kept,
// it would be read as the file's own mark once that name is saved on the first line.
std::string_view SkipByteOrderMarks(std::string_view s);

// The bytes that cannot stand in a request line (controls, blanks, anything not ASCII)
// percent-escaped ("%20"); every other byte as it is, so that a URL is sent as written.
std::string EscapeUnsafeUrlBytes(std::string_view text);
// The URL without the user name and password it may carry ("ftp://u:pw@host/" gives
// "ftp://host/"): what may be kept or shown where a secret must not go.
std::string UrlWithoutLogOn(std::string_view url);

// atoi/atol/atof over a view: leading white space, optional sign, decimal digits;
// anything else ends the number; no digits gives 0. Values beyond the range of the
// result saturate instead of being undefined.
long long CAtoll(std::string_view s);
int CAtoi(std::string_view s);
double CAtof(std::string_view s);

// Width of a text in the bytes of the legacy code page: ASCII 1, other characters 2.
// Bytes that are not part of valid UTF-8 count 1 each.
std::size_t LegacyWidth(std::string_view s);
// Length in bytes of the UTF-8 character starting at s[i] (1 for a stray byte).
// Inline: the extractor asks it for every character of every record it reads.
inline std::size_t Utf8CharLength(std::string_view s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t len;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    len = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    len = 4;
  else
    return 1;
  if (i + len > s.size()) return 1;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  }
  return len;
}
// The longest prefix of s whose legacy width is at most maxWidth, never splitting a
// character.
std::string_view CutToLegacyWidth(std::string_view s, std::size_t maxWidth);

// The first byte at or after pos (before to) that is not ASCII, or to. Eight bytes at
// a time: text is mostly ASCII, and every decoder and check skips it first.
inline std::size_t FirstNonAscii(std::string_view s, std::size_t pos, std::size_t to) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::uint64_t word; pos + 8 <= to; pos += 8) {
    std::memcpy(&word, p + pos, 8);
    // Little-endian: the lowest set bit is in the first such byte.
    if (const std::uint64_t high = word & 0x8080808080808080ull; high != 0)
      return pos + static_cast<std::size_t>(__builtin_ctzll(high) >> 3);
  }
  while (pos < to && p[pos] < 0x80) ++pos;
  return pos;
}

bool IsValidUtf8(std::string_view s);
// A line read from a file: returned as is when it is valid UTF-8, otherwise decoded
// from GB18030 (the superset of the GBK files written by the Windows version). Bytes
// that are valid in neither become U+FFFD.
std::string DecodeLegacyLine(std::string_view line);
// Appends text decoded from GB18030 to out, whatever it is (valid UTF-8 included), with
// the replacements of DecodeLegacyLine: a caller that decodes many lines into one
// buffer that it keeps allocates nothing per line.
void AppendDecodedLegacy(std::string_view text, std::string& out);
// UTF-8 to GB18030, for the few places that must produce legacy bytes.
std::string EncodeGb18030(std::string_view utf8);

// The line ends of a block of text. Files from every system are read: LF, CR LF and a
// CR alone (old Mac files) each end one line. The next CR and the next LF found are
// remembered, so a block is searched about once for each byte whatever its line ends,
// at memchr's speed.
class LineEndFinder {
 public:
  LineEndFinder(const char* data, std::size_t size) : m_data(data), m_size(size) {}

  // The first line-end byte at or after pos, or the block's size when none follows.
  std::size_t Next(std::size_t pos) {
    const std::size_t lf = Find('\n', pos, m_lf);
    const std::size_t cr = Find('\r', pos, m_cr);
    return lf < cr ? lf : cr;
  }
  // Where the line after the line end at `at` starts: a CR LF pair is one line end.
  std::size_t After(std::size_t at) const {
    return at + 1 + (m_data[at] == '\r' && at + 1 < m_size && m_data[at + 1] == '\n');
  }
  // A CR that is the block's last byte may be the first half of a CR LF pair whose LF
  // is in the next block.
  bool Undecided(std::size_t at) const { return m_data[at] == '\r' && at + 1 == m_size; }

 private:
  static constexpr std::size_t kUnknown = ~std::size_t{0};
  // cached is the first c at or after an earlier pos, so it still holds while it is not
  // behind pos.
  std::size_t Find(char c, std::size_t pos, std::size_t& cached) const {
    if (cached != kUnknown && cached >= pos) return cached;
    const void* p = pos < m_size ? std::memchr(m_data + pos, c, m_size - pos) : nullptr;
    cached = p ? static_cast<std::size_t>(static_cast<const char*>(p) - m_data) : m_size;
    return cached;
  }
  const char* m_data;
  std::size_t m_size;
  std::size_t m_lf = kUnknown;
  std::size_t m_cr = kUnknown;
};

// Calls f for every line of a text, without its line end (LF, CR LF or CR); a last line
// without a line end counts when it is not empty.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& f);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qb
