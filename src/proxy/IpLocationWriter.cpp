#include "proxy/IpLocationWriter.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "base/Text.h"
#include "proxy/IpLocation.h"

namespace qb {

namespace {

std::optional<std::uint32_t> ParseIPv4(std::string_view text) {
  text = Trim(text);
  std::uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t digits = 0;
    unsigned n = 0;
    while (digits < text.size() && IsDigit(static_cast<unsigned char>(text[digits]))) {
      n = n * 10 + unsigned(text[digits] - '0');
      if (++digits > 3) return std::nullopt;
    }
    if (digits == 0 || n > 255) return std::nullopt;
    value = (value << 8) | n;
    text.remove_prefix(digits);
    if (part < 3) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) return std::nullopt;
  return value;
}

std::string KeyOf(std::uint32_t v) {
  return Format("%03u.%03u.%03u.%03u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
}

// Splits one CSV line; false on an unterminated quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::string cur;
  bool quoted = false;
  bool wasQuoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          cur += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        cur += c;
      }
    } else if (c == '"' && Trim(cur).empty() && !wasQuoted) {
      cur.clear();
      quoted = wasQuoted = true;
    } else if (c == ',') {
      fields.push_back(wasQuoted ? cur : std::string(Trim(cur)));
      cur.clear();
      wasQuoted = false;
    } else {
      cur += c;
    }
  }
  if (quoted) return false;
  fields.push_back(wasQuoted ? cur : std::string(Trim(cur)));
  return true;
}

void Put(std::string& rec, std::size_t offset, std::string_view bytes) {
  rec.replace(offset, bytes.size(), bytes);
}

std::string Record(const std::string& first, const std::string& last, std::string_view country,
                   std::string_view area, std::string_view extra) {
  // Unused bytes and the terminator after each field stay zero.
  std::string rec(kIpLocRecordRead, '\0');
  Put(rec, kIpLocFirstOffset, first);
  Put(rec, kIpLocLastOffset, last);
  Put(rec, kIpLocCountryOffset, Gb18030Field(country, kIpLocCountryWidth));
  Put(rec, kIpLocAreaOffset, Gb18030Field(area, kIpLocAreaWidth));
  Put(rec, kIpLocExtraOffset, Gb18030Field(extra, kIpLocExtraWidth));
  return rec;
}

void PutLe(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 255);
}

}  // namespace

std::string Gb18030Field(std::string_view utf8, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = Utf8CharLength(utf8, i);
    // GB18030 takes 1, 2 or 4 bytes a character, so the cut is made on the encoded
    // bytes, one whole character at a time.
    const std::string enc = EncodeGb18030(utf8.substr(i, n));
    if (out.size() + enc.size() > width) break;
    // A zero byte would end the field early on reading.
    if (enc.find('\0') != std::string::npos) break;
    out += enc;
    i += n;
  }
  return out;
}

bool ParseIpLocationCsv(std::string_view text, std::vector<IpLocationRange>& ranges, std::string& error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int lineNo = 0;
  bool ok = true;
  std::vector<std::string> fields;
  ForEachLine(text, [&](std::string_view raw) {
    ++lineNo;
    if (!ok) return;
    const std::string line = DecodeLegacyLine(raw);
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') return;
    if (!SplitCsvLine(line, fields) || fields.size() < 4 || fields.size() > 5) {
      error = Format("line %d: expected first,last,country,area[,extra]", lineNo);
      ok = false;
      return;
    }
    IpLocationRange r;
    r.first = fields[0];
    r.last = fields[1];
    r.country = fields[2];
    r.area = fields[3];
    if (fields.size() == 5) r.extra = fields[4];
    if (!ParseIPv4(r.first) || !ParseIPv4(r.last)) {
      error = Format("line %d: the first and last addresses must be dotted IPv4 addresses", lineNo);
      ok = false;
      return;
    }
    ranges.push_back(std::move(r));
  });
  return ok;
}

bool BuildIpLocationFile(std::vector<IpLocationRange> ranges, std::string& bytes, std::string& error) {
  struct Parsed {
    std::uint32_t first, last;
    const IpLocationRange* range;
  };
  std::vector<Parsed> parsed;
  parsed.reserve(ranges.size());
  for (const IpLocationRange& r : ranges) {
    const auto first = ParseIPv4(r.first);
    const auto last = ParseIPv4(r.last);
    if (!first || !last) {
      error = "not a dotted IPv4 address: " + (first ? r.last : r.first);
      return false;
    }
    if (*last < *first) {
      error = "range ends before it begins: " + r.first + " - " + r.last;
      return false;
    }
    parsed.push_back({*first, *last, &r});
  }
  std::stable_sort(parsed.begin(), parsed.end(),
                   [](const Parsed& a, const Parsed& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < parsed.size(); ++i) {
    if (parsed[i].first <= parsed[i - 1].last) {
      // Overlapping ranges would make the binary search miss some addresses.
      error = "ranges overlap: " + parsed[i - 1].range->first + " - " + parsed[i - 1].range->last + " and " +
              parsed[i].range->first + " - " + parsed[i].range->last;
      return false;
    }
  }

  // The search probes records 1 to N-1 only, so the real ranges take those slots
  // and records 0 and N are sentinels. Their range is empty (first above last) so
  // that they match nothing even when the search does read one (a file without
  // ranges, where N is 1).
  const std::string empty1 = "999.999.999.999";
  const std::string empty2 = "000.000.000.000";
  const std::uint32_t count = static_cast<std::uint32_t>(parsed.size()) + 1;
  const std::uint32_t dataOffset = kIpLocHeaderSize - 1;

  bytes.clear();
  bytes.reserve(kIpLocHeaderSize + (count + 1) * kIpLocRecordRead);
  PutLe(bytes, 0, 4);
  PutLe(bytes, count, 4);
  PutLe(bytes, dataOffset, 2);
  PutLe(bytes, kIpLocRecordRead, 2);
  bytes += Record(empty1, empty2, "", "", "");
  for (const Parsed& p : parsed) {
    bytes += Record(KeyOf(p.first), KeyOf(p.last), p.range->country, p.range->area, p.range->extra);
  }
  bytes += Record(empty1, empty2, "", "", "");
  return true;
}

}  // namespace qb
