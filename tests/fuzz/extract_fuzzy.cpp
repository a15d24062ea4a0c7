// The extractor with the fuzzy pass (address and port separated by blanks or table
// cells), with the same properties as the strict one.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ExtractCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qbfuzz::CheckExtraction(std::string_view(reinterpret_cast<const char*>(data), size), true);
  return 0;
}
