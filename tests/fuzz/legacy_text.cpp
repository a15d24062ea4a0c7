// The decoder of lines from the Windows version's files. Whatever the bytes, the
// result is UTF-8, and the C library's converter in one pass gives the same text; UTF-8
// passes unchanged; and text it decoded without a replacement character encodes back
// to GB18030 and decodes to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
#include "support/IconvReference.h"

namespace {

// One converter for the whole run: opening one per input would cost more than the decoding.
std::string ConverterDecode(std::string_view in) {
  static qbtest::IconvReference converter;
  if (!converter.Ok()) qbfuzz::Fail("no GB18030 converter");
  return converter.Decode(in);
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
