// What a paste hands on, worked out the plain way, line by line, for tests to hold the
// paste's own decoding against.
#pragma once

#include <string>
#include <string_view>

#include "base/Text.h"

namespace qbtest {

// Each line decoded from GBK when it is not UTF-8; the line breaks stay.
inline std::string PasteDecoded(const std::string& raw) {
  std::string text;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t nl = raw.find('\n', pos);
    const std::size_t end = nl == std::string::npos ? raw.size() : nl;
    text += qb::DecodeLegacyLine(std::string_view(raw).substr(pos, end - pos));
    if (nl == std::string::npos) return text;
    text += '\n';
    pos = nl + 1;
  }
}

}  // namespace qbtest
