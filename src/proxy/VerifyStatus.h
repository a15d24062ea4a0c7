// The result codes of a verification. They are what a run writes into a row's text
// and what the history keeps for every check, so they live below both.
#pragma once

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

}  // namespace qb
