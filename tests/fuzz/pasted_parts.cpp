// A pasted or extracted text scanned in parts, as the extract command does: whatever
// the text and wherever the parts are cut, the parts find exactly the lines of one
// strict pass over the whole decoded text, also where a part is scanned only around
// its colons. The first input byte chooses the part size; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "proxy/PastedText.h"
#include "proxy/ProxyExtractor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string decoded;
  qb::AppendPastedText(raw, 0, raw.size(), decoded);
  std::vector<std::string> whole;
  qb::ScanProxies(decoded.data(), decoded.size(), [&](std::string_view l) { whole.emplace_back(l); });

  const std::size_t partBytes = 1 + std::size_t{data[0]} * 37;
  const qb::CPastedTextParts parts(raw, partBytes);
  std::vector<std::string> inParts;
  std::string buffer;
  std::size_t found = 0;
  for (std::size_t i = 0; i < parts.size(); ++i)
    found += parts.Scan(i, buffer, [&](std::string_view l) { inParts.emplace_back(l); });
  if (found != inParts.size()) qbfuzz::Fail("the parts' count differs from the lines handed over");
  if (inParts != whole) {
    std::string joined;
    for (const std::string& l : whole) joined += l + "\n";
    qbfuzz::Fail("the parts find other lines than the whole text's pass", joined);
  }
  return 0;
}
