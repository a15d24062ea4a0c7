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

// The key of fields held as numbers (the address's first number in the highest byte:
// 1.2.3.4 is 0x01020304) and the type as the extractor writes it, in upper case: what
// PackedProxyKey gives for the same fields as text. 0 for any other type.
std::uint64_t PackedProxyKeyOf(std::uint32_t address, unsigned port, std::string_view type);

}  // namespace qb
