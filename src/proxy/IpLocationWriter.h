// Builds location data files that LookupIpLocation can search. The program itself
// never writes one; the wrymake tool and the tests do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

struct IpLocationRange {
  std::string first;    // dotted IPv4 address, e.g. "61.50.172.0"
  std::string last;     // dotted IPv4 address, not below first
  std::string country;  // UTF-8
  std::string area;     // UTF-8
  std::string extra;    // UTF-8, stored but never read by the lookup
};

// Parses CSV lines "first,last,country,area[,extra]". Fields may be quoted with
// double quotes ("" inside for one quote). Empty lines and lines starting with "#"
// are skipped. Lines that are not valid UTF-8 are read as GB18030. False with a
// message naming the line on the first bad line.
bool ParseIpLocationCsv(std::string_view text, std::vector<IpLocationRange>& ranges, std::string& error);

// The bytes of a data file holding the ranges: sorted by first address, texts
// stored in GB18030 and cut to their fields without splitting a character. A
// sentinel record sits at index 0 and at index N, where the search never looks,
// so that every real range is reachable. False with a message when an address is
// not a dotted IPv4 address, a range ends before it begins, or two ranges overlap.
bool BuildIpLocationFile(std::vector<IpLocationRange> ranges, std::string& bytes, std::string& error);

// The GB18030 bytes of a UTF-8 text, cut to at most width bytes at a character
// boundary.
std::string Gb18030Field(std::string_view utf8, std::size_t width);

}  // namespace qb
