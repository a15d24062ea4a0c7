// The decoder of lines from the Windows version's files. Whatever the bytes, the
// result is UTF-8, and the C library's converter in one pass gives the same text; UTF-8
// passes unchanged; and text it decoded without a replacement character encodes back
// to GB18030 and decodes to itself.
#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"

namespace {

// One pass of the converter, a byte it cannot take replaced by U+FFFD.
std::string ConverterDecode(std::string_view in) {
  static const iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) qbfuzz::Fail("no GB18030 converter");
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  while (left > 0) {
    char buf[256];
    char* dst = buf;
    std::size_t room = sizeof buf;
    const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";
      ++src;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string decoded = qb::DecodeLegacyLine(bytes);
  if (!qb::IsValidUtf8(decoded)) qbfuzz::Fail("the decoder gave text that is not UTF-8");
  std::string appended;
  qb::AppendDecodedLegacy(bytes, appended);
  if (appended != ConverterDecode(bytes)) qbfuzz::Fail("the decoder and the converter disagree", appended);
  if (qb::IsValidUtf8(bytes) && decoded != bytes) qbfuzz::Fail("valid UTF-8 was changed by the decoder");
  if (decoded.find("\xEF\xBF\xBD") != std::string::npos) return 0;  // U+FFFD: something was not GB18030
  // UTF-8 was passed through, not decoded: it may hold characters GB18030 has no bytes
  // for in this C library (some private-use ones), which encode as "?".
  if (qb::IsValidUtf8(bytes)) return 0;

  const std::string encoded = qb::EncodeGb18030(decoded);
  const std::string again = qb::DecodeLegacyLine(encoded);
  // GB18030 bytes that happen to form UTF-8 too are (rightly) read as UTF-8.
  if (again != decoded && !qb::IsValidUtf8(encoded)) qbfuzz::Fail("GB18030 does not decode back", decoded);
  return 0;
}
