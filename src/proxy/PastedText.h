// A whole text read the way a paste is (one text; each line that is not valid UTF-8
// decoded from GB18030) and scanned in parts on several threads, with exactly the
// lines that one strict pass over the whole decoded text finds.
//
// A pass over the whole text is not a pass over its lines: markup is blanked across
// line breaks once the text holds an end tag anywhere, and an address may begin on an
// earlier line than its port. So each part is cut after a line break and scanned
// together with the text before it (its context), with the markup state in which the
// whole text reaches that context. A scan reads at most a few hundred bytes back from
// a colon, and the context is longer than that.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "proxy/ProxyExtractor.h"

namespace qb {

class CPastedTextParts {
 public:
  // Plans the parts of raw, each about partBytes long. raw must outlive the plan. The
  // whole text is searched once here for an end tag (HasMarkupEndTag), unless the
  // caller has searched it already and says what it found.
  CPastedTextParts(std::string_view raw, std::size_t partBytes);
  CPastedTextParts(std::string_view raw, std::size_t partBytes, bool hasEndTag);
  // The same for raw that is a mapping of the open file fd from byte `offset` on: the
  // plan reads the bytes around the parts' starts with pread and never touches the
  // mapping. Each first touch of a mapped page maps the large block of the page cache
  // around it, so touching every part's start made most of the file resident.
  CPastedTextParts(std::string_view raw, std::size_t partBytes, bool hasEndTag, int fd, std::uint64_t offset);

  std::size_t size() const { return m_parts.size(); }
  // No scan of part i or of a later part reads raw before this offset.
  std::size_t ReadFrom(std::size_t i) const { return i < m_readFrom.size() ? m_readFrom[i] : m_raw.size(); }
  // The bytes the scan of part i reads: raw[first, second).
  std::pair<std::size_t, std::size_t> Span(std::size_t i) const;

  // Decodes part i with its context into buffer (kept by the caller, so that it is
  // allocated once per thread) and hands each line the whole text's strict pass finds
  // there to sink, in text order. Returns their number. May run for several parts at
  // once.
  std::size_t Scan(std::size_t i, std::string& buffer, ProxyLineSink sink) const;
  // The same, reading the part's bytes from span, a copy of raw over Span(i): a caller
  // may read them into memory of its own rather than through raw.
  std::size_t Scan(std::size_t i, std::string_view span, std::string& buffer, ProxyLineSink sink) const;

 private:
  struct Part {
    std::size_t lineStart;  // where the line of the context's first byte begins
    std::size_t context;    // where the text read before the part begins
    std::size_t begin;
    std::size_t end;
    bool inMarkup;  // the context begins after a "<" that no ">" closed
  };
  // Scans part p's colons that may end an address, each with the few lines around it,
  // and not the text between them; false, having handed nothing on, when those lines
  // are too much of the part to be worth it.
  bool ScanSparse(const Part& p, std::string_view span, std::string& buffer, ProxyLineSink sink,
                  std::size_t& found) const;

  std::string_view m_raw;
  bool m_markup = false;
  std::vector<Part> m_parts;
  std::vector<std::size_t> m_readFrom;
};

// Appends raw[from, to) decoded the way a paste is: every line that is not valid UTF-8
// is decoded from GB18030, the line breaks stay. to must end a line or the text; from
// may lie inside a line when the byte before it is below '0' (such a byte is never
// part of a GB18030 character, so decoding can start after it).
void AppendPastedText(std::string_view raw, std::size_t from, std::size_t to, std::string& out);

}  // namespace qb
