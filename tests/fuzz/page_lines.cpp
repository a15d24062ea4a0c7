// The line reader of the page download. However the network cuts the body into
// pieces, the page comes out the same, and it is what reading the body line by line
// gives: each line ended by LF, decoded, followed by CR LF, up to the line holding
// "</body>" or the last whole line before the size cap.
//
// The first input byte chooses the cap (small ones, so that inputs reach it), the
// second how the body is cut into pieces; the rest is the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
#include "sources/PageFetch.h"

namespace {

qb::PageFetchResult Read(std::string_view body, std::size_t cap, unsigned pieceSeed) {
  qb::PageFetchResult result;
  qb::PageLineReader lines(result, cap);
  std::size_t pos = 0;
  unsigned state = pieceSeed * 2654435761u + 1;
  bool complete = false;
  while (pos < body.size()) {
    state = state * 1103515245u + 12345u;
    const std::size_t piece = pieceSeed == 0 ? body.size() : 1 + (state >> 16) % 7;
    const std::string_view chunk = body.substr(pos, piece);
    pos += chunk.size();
    if (!lines.Take(chunk)) {
      complete = true;
      break;
    }
  }
  if (!complete) lines.Finish();
  return result;
}

// Reading the body line by line, as the reader is meant to.
qb::PageFetchResult Reference(std::string_view body, std::size_t cap) {
  qb::PageFetchResult r;
  const bool over = body.size() > cap;
  const std::string_view kept = over ? body.substr(0, cap) : body;
  r.bytes = static_cast<std::int64_t>(kept.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t lf = kept.find('\n', pos);
    if (lf == std::string_view::npos) break;
    const std::string_view line = kept.substr(pos, lf - pos);
    r.page += qb::DecodeLegacyLine(line) + "\r\n";
    pos = lf + 1;
    if (line.find("</body>") != std::string_view::npos) {
      r.bodyEnded = true;
      return r;
    }
  }
  if (over) {
    r.cut = true;
  } else if (pos < kept.size()) {
    const std::string_view line = kept.substr(pos);
    r.page += qb::DecodeLegacyLine(line) + "\r\n";
    r.bodyEnded = line.find("</body>") != std::string_view::npos;
  }
  return r;
}

// The bytes counted are those received, so after "</body>" they depend on where the
// piece that brought it ended: at least to that line's end, at most to the cap.
bool Same(const qb::PageFetchResult& a, const qb::PageFetchResult& b) {
  return a.page == b.page && a.cut == b.cut && a.bodyEnded == b.bodyEnded &&
         (a.bodyEnded || a.bytes == b.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t cap = data[0] < 200 ? std::size_t{data[0]} : std::numeric_limits<std::size_t>::max() / 2;
  const std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
  const qb::PageFetchResult whole = Read(body, cap, 0);
  const qb::PageFetchResult pieces = Read(body, cap, data[1] + 1u);
  if (!Same(whole, pieces)) qbfuzz::Fail("the page depends on how the body was cut into pieces", whole.page);
  if (!Same(whole, Reference(body, cap)))
    qbfuzz::Fail("the page differs from the body read line by line", whole.page);
  if (!qb::IsValidUtf8(whole.page)) qbfuzz::Fail("the page is not UTF-8");
  if (pieces.bodyEnded) {
    const std::size_t end = body.find("</body>");
    const std::size_t lineEnd = body.find('\n', end);
    const auto kept = static_cast<std::int64_t>(std::min(body.size(), cap));
    if (pieces.bytes > kept || (lineEnd != std::string_view::npos &&
                                pieces.bytes <= static_cast<std::int64_t>(lineEnd) && pieces.bytes != kept)) {
      qbfuzz::Fail("the bytes counted lie outside the body read");
    }
  }
  return 0;
}
