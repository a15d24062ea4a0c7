// The host part of a proxy: an IPv4 address, an IPv6 address or a host name.
//
// A row keeps its host as the text that goes before ":port" in a list line: a dotted
// address as it is, an IPv6 address in brackets ("[2001:db8::1]", so that "host:port"
// stays one unambiguous text in every file, key and URL), a name in lower case ASCII
// (an international name in its "xn--" form). The canonical texts make two rows one
// proxy exactly when their hosts are the same host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qb {

enum class HostKind { Ipv4, Ipv6, Name };

struct ProxyHost {
  HostKind kind = HostKind::Ipv4;
  std::string text;  // the canonical text described above
};

// Why a text is no host.
enum class HostFault {
  None,
  Empty,
  NameTooLong,   // more than 253 bytes
  LabelTooLong,  // a label of more than 63 bytes
  ZoneIndex,     // an IPv6 address with "%zone": it only means something on one machine
  BadAddress,    // brackets around something that is no IPv6 address
  BadName,       // a character a host name cannot have, an empty label, an all-digit last label
};

// Reads a host as a person or a list writes it: "1.2.3.4", "[2001:DB8:0::1]" or
// "2001:db8::1", "Gate.Provider.Example." or an international name. A dotted address
// is taken only in the form that writes back byte for byte (no leading zeros); four
// numbers in another form are no host at all. nullopt with the fault otherwise.
std::optional<ProxyHost> ParseProxyHost(std::string_view text, HostFault* fault = nullptr);

// The kind of a host text as a row holds it (canonical or not): bracketed is IPv6,
// four dotted numbers IPv4, anything else a name.
HostKind HostKindOf(std::string_view rowHost);

// The host without the brackets of an IPv6 address: what a resolver, a socket address
// or a settings field that holds only a host takes.
std::string_view BareHost(std::string_view rowHost);

// "host:port" for a URL or a "PROXY host:port" line: an IPv6 host in brackets (a row's
// host already has them; a bare IPv6 address gets them).
std::string HostPort(std::string_view host, std::string_view port);

// The colon that ends the host of "host:port…": after the "]" of a bracketed IPv6
// address, else the first one. npos when there is none (or a "[" is never closed).
std::size_t HostColon(std::string_view text, std::size_t from = 0);

// Whether a text is a dotted IPv4 address in its canonical form.
bool IsCanonicalIpv4(std::string_view text);

}  // namespace qb
