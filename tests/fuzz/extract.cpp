// The strict extractor over any text: every line it finds is a proxy line that the
// parser accepts and that is already in the normal form, and a file read in blocks
// finds exactly what the same bytes read as one text line by line find.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ExtractCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qbfuzz::CheckExtraction(std::string_view(reinterpret_cast<const char*>(data), size), false);
  return 0;
}
