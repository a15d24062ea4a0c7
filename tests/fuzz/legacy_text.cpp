// The decoder of lines from the Windows version's files. Whatever the bytes, the
// result is UTF-8; UTF-8 passes unchanged; and text it decoded without a replacement
// character encodes back to GB18030 and decodes to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string decoded = qb::DecodeLegacyLine(bytes);
  if (!qb::IsValidUtf8(decoded)) qbfuzz::Fail("the decoder gave text that is not UTF-8");
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
