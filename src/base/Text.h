// Text helpers shared by every part of the program.
//
// Inside the program all text is UTF-8. The file formats and several rules were
// defined in terms of the Windows code page 936, where an ASCII character takes one
// byte and any other character two; rules that count bytes count that way here
// ("legacy width"), and never cut a character in half.
#pragma once

#include <cstddef>
#include <cstdint>
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
std::size_t Utf8CharLength(std::string_view s, std::size_t i);
// The longest prefix of s whose legacy width is at most maxWidth, never splitting a
// character.
std::string_view CutToLegacyWidth(std::string_view s, std::size_t maxWidth);

bool IsValidUtf8(std::string_view s);
// A line read from a file: returned as is when it is valid UTF-8, otherwise decoded
// from GB18030 (the superset of the GBK files written by the Windows version). Bytes
// that are valid in neither become U+FFFD.
std::string DecodeLegacyLine(std::string_view line);
// UTF-8 to GB18030, for the few places that must produce legacy bytes.
std::string EncodeGb18030(std::string_view utf8);

// Calls f for every line of a text. Lines end at LF; a CR right before the LF is
// removed; a last line without LF counts when it is not empty.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& f);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qb
