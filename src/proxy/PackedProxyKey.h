// A proxy's key (address, port and type) packed into one 64-bit word, for the
// de-duplication of millions of found proxies without a text per key.
//
// Only keys in the form the extractor writes pack: an IPv4 address and a port in
// decimal without leading zeros, and one of the known types. Two packed keys are equal
// exactly when the key texts they stand for are; 0 means "does not pack", and the
// caller keeps such a key as text.
#pragma once

#include <cstdint>
#include <string_view>

namespace qb {

struct ProxyFields;

std::uint64_t PackedProxyKey(const ProxyFields& f);

// The packed key of a proxy line "a.b.c.d:port@TYPE$..." taken straight from the text,
// without splitting the line into fields: for such a line ParseProxyLine succeeds and
// PackedProxyKey of its fields gives the same word. 0 for any other line, which then
// needs the full parse.
std::uint64_t PackedProxyKeyOfLine(std::string_view line);

}  // namespace qb
