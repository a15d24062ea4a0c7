#include "proxy/PastedText.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace qb {

namespace {

// Bytes read before a part. A scan looks back from a colon over at most four numbers
// with their dots (16 bytes), then over a user name of up to 256 bytes and a scheme
// (about 270 more); decoding may shrink four bytes into three.
constexpr std::size_t kContextBytes = 512;
// How far back a place to start decoding is looked for before the line's start is taken.
constexpr std::size_t kSyncSearch = 64 * 1024;

// A byte below '0' is a character by itself in GB18030 (no byte of a longer character
// is), so a decoder started after it reads on exactly as one started earlier.
inline bool DecoderRestartsAfter(char c) {
  return static_cast<unsigned char>(c) < '0';
}

std::size_t LineStartBefore(std::string_view raw, std::size_t pos) {
  while (pos > 0 && raw[pos - 1] != '\n') --pos;
  return pos;
}

}  // namespace

void AppendPastedText(std::string_view raw, std::size_t from, std::size_t to, std::string& out) {
  if (from >= to) return;
  const std::string_view all = raw.substr(from, to - from);
  if ((from == 0 || raw[from - 1] == '\n') && qb::IsValidUtf8(all)) {
    // Then every line is valid as it is (a line break is never inside a character).
    out.append(all);
    return;
  }
  // An ASCII byte is a character by itself both in UTF-8 and in GB18030, and decodes
  // to itself: a line only has to be looked at from its first other byte on, and the
  // lines of ASCII between lines that need decoding may be decoded with them. So the
  // lines that need decoding are decoded in runs that end only at a line that is valid
  // UTF-8 and not all ASCII, and the ASCII before a run's first other byte is copied.
  auto lineEnd = [&](std::size_t pos) {
    const void* nl = std::memchr(raw.data() + pos, '\n', to - pos);
    return nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - raw.data()) : to;
  };
  std::size_t pos = from;  // raw before pos is in out
  while (pos < to) {
    const std::size_t other = qb::FirstNonAscii(raw, pos, to);
    if (other == to) break;
    std::size_t end = lineEnd(other);
    // Whether to decode is a matter of the whole line, also when only its end is
    // wanted: the first line may have begun before from.
    const bool inFirstLine = pos == from && std::memchr(raw.data() + from, '\n', other - from) == nullptr;
    const std::size_t checkFrom = inFirstLine ? LineStartBefore(raw, from) : other;
    if (qb::IsValidUtf8(raw.substr(checkFrom, end - checkFrom))) {
      out.append(raw.substr(pos, end - pos));
      pos = end;
      continue;
    }
    out.append(raw.substr(pos, other - pos));
    while (end < to) {
      const std::size_t next = qb::FirstNonAscii(raw, end, to);
      if (next == to) {
        end = to;
        break;
      }
      const std::size_t nextEnd = lineEnd(next);
      if (qb::IsValidUtf8(raw.substr(next, nextEnd - next))) break;
      end = nextEnd;
    }
    qb::AppendDecodedLegacy(raw.substr(other, end - other), out);
    pos = end;
  }
  out.append(raw.substr(pos, to - pos));
}

CPastedTextParts::CPastedTextParts(std::string_view raw, std::size_t partBytes)
    : CPastedTextParts(raw, partBytes, HasMarkupEndTag(raw)) {}

CPastedTextParts::CPastedTextParts(std::string_view raw, std::size_t partBytes, bool hasEndTag)
    : m_raw(raw), m_markup(hasEndTag) {
  partBytes = std::max<std::size_t>(partBytes, 1);

  // Parts begin at line starts.
  std::vector<std::size_t> begins{0};
  for (std::size_t pos = partBytes; pos < raw.size();) {
    const void* nl = std::memchr(raw.data() + pos - 1, '\n', raw.size() - (pos - 1));
    if (!nl) break;
    const std::size_t b = static_cast<std::size_t>(static_cast<const char*>(nl) - raw.data()) + 1;
    if (b >= raw.size()) break;
    begins.push_back(b);
    pos = b + partBytes;
  }

  std::size_t stateAt = 0;  // the markup state is known here...
  bool state = false;       // ...and is this
  for (std::size_t i = 0; i < begins.size(); ++i) {
    Part p{0, 0, begins[i], i + 1 < begins.size() ? begins[i + 1] : raw.size(), false};
    if (p.begin > kContextBytes) {
      const std::size_t want = p.begin - kContextBytes;
      const std::size_t floor = want > kSyncSearch ? want - kSyncSearch : 0;
      std::size_t c = want;
      while (c > floor && !DecoderRestartsAfter(raw[c - 1])) --c;
      p.context = c > floor || c == 0 ? c : LineStartBefore(raw, want);
    }
    // Whether the context's first line is decoded is a matter of the whole line.
    p.lineStart = LineStartBefore(raw, p.context);
    if (m_markup) {
      // The last "<" or ">" before the context decides; '<' and '>' are never part of
      // a GB18030 character, so the undecoded bytes tell.
      std::size_t k = p.context;
      const std::size_t stop = p.context >= stateAt ? stateAt : 0;
      if (p.context < stateAt) state = false;
      while (k > stop && raw[k - 1] != '<' && raw[k - 1] != '>') --k;
      if (k > stop) state = raw[k - 1] == '<';
      stateAt = p.context;
      p.inMarkup = state;
    }
    m_parts.push_back(p);
  }

  m_readFrom.resize(m_parts.size());
  std::size_t least = raw.size();
  for (std::size_t i = m_parts.size(); i-- > 0;) {
    least = std::min(least, m_parts[i].lineStart);
    m_readFrom[i] = least;
  }
}

std::pair<std::size_t, std::size_t> CPastedTextParts::Span(std::size_t i) const {
  return {m_parts[i].lineStart, m_parts[i].end};
}

std::size_t CPastedTextParts::Scan(std::size_t i, std::string& buffer, ProxyLineSink sink) const {
  const Part& p = m_parts[i];
  return Scan(i, m_raw.substr(p.lineStart, p.end - p.lineStart), buffer, sink);
}

std::size_t CPastedTextParts::Scan(std::size_t i, std::string_view span, std::string& buffer,
                                   ProxyLineSink sink) const {
  const Part& p = m_parts[i];
  // The span begins at a line start, so that reading it alone decodes as the whole text does.
  const std::size_t base = p.lineStart;
  buffer.clear();
  AppendPastedText(span, p.context - base, p.begin - base, buffer);
  const std::size_t from = buffer.size();
  AppendPastedText(span, p.begin - base, p.end - base, buffer);
  if (buffer.size() == from) return 0;
  if (m_markup) BlankMarkupFrom(buffer.data(), buffer.size(), p.inMarkup);
  return ScanProxiesFrom(buffer.data(), buffer.size(), from, sink);
}

}  // namespace qb
