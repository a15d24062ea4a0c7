#include "proxy/PastedText.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

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

// Whether the scan can take anything at the colon at c: a dotted address needs a dot
// within the four decoded bytes before it, a bracketed one a "]" right before it. Told
// from the undecoded bytes: "." and "]" stand for themselves there (no byte of a longer
// GB18030 character is a "."; a "]" may be one, which only keeps a colon in vain), and
// four decoded bytes come from at most eight.
inline bool ColonMayEndAddress(std::string_view raw, std::size_t c) {
  if (c > 0 && raw[c - 1] == ']') return true;
  const std::size_t from = c >= 8 ? c - 8 : 0;
  return std::memchr(raw.data() + from, '.', c - from) != nullptr;
}

// What the scan reads before such a colon: the address, at most 16 decoded bytes and on
// the line before when the colon stands that near its line's start; the log-on and the
// scheme before the address, which end at a blank, at most 256 + 12 decoded bytes on
// the address's line. Sixteen decoded bytes come from at most 32 undecoded ones (a
// four-byte character may decode to two), the log-on's from at most 536.
constexpr std::size_t kAddressBack = 40;
constexpr std::size_t kLogOnBack = 600;
// How far back a place to restart decoding is looked for before the part is scanned whole.
constexpr std::size_t kRestartSearch = 4096;

// Whether the last "<" or ">" in raw[from, to) is a "<"; nullopt when there is neither.
std::optional<bool> LastAngleIsOpen(std::string_view raw, std::size_t from, std::size_t to) {
  if (to <= from) return std::nullopt;
  const void* lt = memrchr(raw.data() + from, '<', to - from);
  const void* gt = memrchr(raw.data() + from, '>', to - from);
  if (!lt && !gt) return std::nullopt;
  return lt && (!gt || lt > gt);
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
    : CPastedTextParts(raw, partBytes, hasEndTag, -1, 0) {}

namespace {

// The bytes the plan looks at, from the text or through small reads of its file.
class PlanBytes {
 public:
  PlanBytes(std::string_view raw, int fd, std::uint64_t offset) : m_raw(raw), m_fd(fd), m_offset(offset) {}

  std::size_t size() const { return m_raw.size(); }

  char operator[](std::size_t i) {
    if (m_fd < 0) return m_raw[i];
    // The plan mostly walks back from a part's start: most of the block lies before i.
    if (i < m_at || i >= m_at + m_length) Load(i > kBack ? i - kBack : 0);
    return i < m_at + m_length ? m_block[i - m_at] : m_raw[i];
  }

  // The first line break at or after from; npos when there is none.
  std::size_t FindNewline(std::size_t from) {
    if (m_fd < 0) {
      const void* nl = std::memchr(m_raw.data() + from, '\n', m_raw.size() - from);
      return nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - m_raw.data())
                : std::string_view::npos;
    }
    for (std::size_t pos = from; pos < m_raw.size();) {
      if (pos < m_at || pos >= m_at + m_length) Load(pos);
      if (pos < m_at || pos >= m_at + m_length) {  // the read failed: the text itself
        const void* nl = std::memchr(m_raw.data() + pos, '\n', m_raw.size() - pos);
        return nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - m_raw.data())
                  : std::string_view::npos;
      }
      const std::size_t n = m_at + m_length - pos;
      if (const void* nl = std::memchr(m_block + (pos - m_at), '\n', n))
        return m_at + static_cast<std::size_t>(static_cast<const char*>(nl) - m_block);
      pos += n;
    }
    return std::string_view::npos;
  }

 private:
  static constexpr std::size_t kBlock = 8192, kBack = 6144;

  void Load(std::size_t at) {
    const std::size_t length = std::min(kBlock, m_raw.size() - at);
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n =
          ::pread(m_fd, m_block + done, length - done, static_cast<off_t>(m_offset + at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    m_at = at;
    m_length = done == length ? length : 0;
  }

  std::string_view m_raw;
  int m_fd;
  std::uint64_t m_offset;
  char m_block[kBlock];
  std::size_t m_at = 0, m_length = 0;
};

std::size_t LineStartBefore(PlanBytes& raw, std::size_t pos) {
  while (pos > 0 && raw[pos - 1] != '\n') --pos;
  return pos;
}

}  // namespace

CPastedTextParts::CPastedTextParts(std::string_view text, std::size_t partBytes, bool hasEndTag, int fd,
                                   std::uint64_t offset)
    : m_raw(text), m_markup(hasEndTag) {
  partBytes = std::max<std::size_t>(partBytes, 1);
  PlanBytes raw(text, fd, offset);

  // Parts begin at line starts.
  std::vector<std::size_t> begins{0};
  for (std::size_t pos = partBytes; pos < raw.size();) {
    const std::size_t nl = raw.FindNewline(pos - 1);
    if (nl == std::string_view::npos) break;
    const std::size_t b = nl + 1;
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

bool CPastedTextParts::ScanSparse(const Part& p, std::string_view span, std::string& buffer,
                                  ProxyLineSink sink, std::size_t& found) const {
  // Positions in span, which begins at p.lineStart.
  const std::size_t base = p.lineStart;
  const std::size_t context = p.context - base, begin = p.begin - base, end = p.end - base;
  struct Window {
    std::size_t from, to;  // whole lines, or from a place decoding restarts to a line's end
  };
  thread_local std::vector<Window> windows;
  windows.clear();
  std::size_t covered = 0;
  for (std::size_t pos = begin; pos < end;) {
    const void* hit = std::memchr(span.data() + pos, ':', end - pos);
    if (!hit) break;
    const std::size_t c = static_cast<std::size_t>(static_cast<const char*>(hit) - span.data());
    pos = c + 1;
    if (!ColonMayEndAddress(span, c)) continue;
    const void* nl = std::memchr(span.data() + c, '\n', end - c);
    const std::size_t to =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - span.data()) + 1 : end;
    // The colon's line start, when it is near enough for the log-on's reach.
    const std::size_t floor = c > kLogOnBack ? c - kLogOnBack : 0;
    const void* before = memrchr(span.data() + floor, '\n', c - floor);
    std::size_t from = before ? static_cast<std::size_t>(static_cast<const char*>(before) - span.data()) + 1
                              : (floor == 0 ? 0 : std::string_view::npos);
    if (from == std::string_view::npos || c - from < kAddressBack) {
      // A long line: from a place where decoding restarts far enough back. A colon near
      // its line's start: the address may begin on the line before, and the log-on
      // before it reaches back on that line.
      constexpr std::size_t kBoth = kLogOnBack + kAddressBack;
      std::size_t want = from == std::string_view::npos ? floor : (c > kBoth ? c - kBoth : 0);
      const std::size_t stop = want > kRestartSearch ? want - kRestartSearch : 0;
      while (want > stop && !DecoderRestartsAfter(span[want - 1])) --want;
      if (want > 0 && !DecoderRestartsAfter(span[want - 1])) return false;
      from = want;
    }
    if (from < context) return false;
    if (!windows.empty() && from < windows.back().to) {
      covered += to - windows.back().to;
      windows.back().to = to;
    } else {
      covered += to - from;
      windows.push_back(Window{from, to});
    }
    // Dense text is scanned whole, as soon as that shows.
    if (covered > 8192 && covered * 2 > c - begin) return false;
  }

  // The markup state at each window's start: known at the context's start, then read
  // from the last "<" or ">" before it.
  std::size_t stateAt = context;
  bool state = p.inMarkup;
  auto stateBefore = [&](std::size_t at) {
    if (const std::optional<bool> last = LastAngleIsOpen(span, stateAt, at)) state = *last;
    stateAt = at;
    return state;
  };
  found = 0;
  for (const Window& w : windows) {
    const bool inMarkup = m_markup && stateBefore(w.from);
    buffer.clear();
    // Colons before the part's start are the part before's.
    if (w.from < begin) AppendPastedText(span, w.from, begin, buffer);
    const std::size_t scanFrom = buffer.size();
    AppendPastedText(span, std::max(w.from, begin), w.to, buffer);
    if (m_markup) BlankMarkupFrom(buffer.data(), buffer.size(), inMarkup);
    found += ScanProxiesFrom(buffer.data(), buffer.size(), scanFrom, sink);
  }
  return true;
}

std::size_t CPastedTextParts::Scan(std::size_t i, std::string_view span, std::string& buffer,
                                   ProxyLineSink sink) const {
  const Part& p = m_parts[i];
  if (std::size_t found = 0; ScanSparse(p, span, buffer, sink, found)) return found;
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
