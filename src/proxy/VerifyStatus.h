// The result codes of a verification. They are what a run writes into a row's text
// and what the history keeps for every check, so they live below both.
#pragma once

#include <optional>
#include <string_view>

namespace qb {

// The worker's result codes; the values are the contract with the list's texts.
enum VerifyStatus {
  VERIFY_NONE = 0,
  VERIFY_ERROR = 1,
  VERIFY_UNSUPPORTED = 2,
  VERIFY_BADURL = 3,
  VERIFY_PROXYFAILED = 4,
  // The proxy took the connection but the answer did not come in time.
  VERIFY_TIMEOUT = 5,
  VERIFY_PASSWORD = 7,
  VERIFY_MISMATCH = 8,
  VERIFY_OK = 9,
  // The proxy's host name has no address (the resolver said so, or did not answer in
  // time): nothing was ever asked of the proxy.
  VERIFY_UNRESOLVED = 10,
  // An HTTPS resource answered through the proxy with a certificate that the trusted
  // store (or the resource's own CA file) does not vouch for, or one other than the
  // pinned one: someone between the proxy and the site reads the traffic.
  VERIFY_TLS_INTERCEPTED = 11,
  // The page came through, but not as the server sent it: bytes were added, removed
  // or rewritten on the way.
  VERIFY_MODIFIED = 12,
};

// What the checks could tell of whether a proxy reads or changes what passes through
// it. Only a check that could have caught it says Clean: an https:// resource whose
// certificate was trusted (and matched its pin), or a sealed judge page that came
// whole. A plain page without a seal tells nothing, whatever the proxy did to it.
enum class Trust { Unchecked = 0, Clean = 1, TlsIntercepted = 2, Modified = 3 };

// The word other programs read: "unchecked", "clean", "tls-intercepted", "modified".
constexpr const char* TrustWord(Trust trust) {
  switch (trust) {
    case Trust::Clean:
      return "clean";
    case Trust::TlsIntercepted:
      return "tls-intercepted";
    case Trust::Modified:
      return "modified";
    case Trust::Unchecked:
      break;
  }
  return "unchecked";
}

// A word as TrustWord spells it; an empty word is Unchecked; anything else nullopt.
constexpr std::optional<Trust> TrustFromWord(std::string_view word) {
  for (const Trust t : {Trust::Unchecked, Trust::Clean, Trust::TlsIntercepted, Trust::Modified})
    if (word == TrustWord(t)) return t;
  if (word.empty()) return Trust::Unchecked;
  return std::nullopt;
}

// A proxy caught reading or changing the traffic.
constexpr bool Tampers(Trust trust) {
  return trust == Trust::TlsIntercepted || trust == Trust::Modified;
}

}  // namespace qb
