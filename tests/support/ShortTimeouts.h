// Gives verification tests short time-outs and puts the program's values back after,
// so that one test's settings never leak into the next.
#pragma once

#include <string>

#include "proxy/ProxyEntry.h"
#include "settings/Settings.h"
#include "verify/VerifyTask.h"

using namespace qb;

namespace qbtest {

class ShortTimeouts {
 public:
  explicit ShortTimeouts(int ms = 2000) : m_connect(g_nConnectTimeoutMs), m_verify(g_nVerifyTimeoutMs) {
    g_nConnectTimeoutMs = ms;
    g_nVerifyTimeoutMs = ms;
  }
  ~ShortTimeouts() {
    g_nConnectTimeoutMs = m_connect;
    g_nVerifyTimeoutMs = m_verify;
  }
  ShortTimeouts(const ShortTimeouts&) = delete;
  ShortTimeouts& operator=(const ShortTimeouts&) = delete;

 private:
  int m_connect;
  int m_verify;
};

// The task the control would build for a proxy line ("address:port@type") and a
// resource, with the program's current time-outs.
inline VerifyTask TaskFor(const std::string& proxyLine, const std::string& url, const std::string& feature) {
  VerifyTask t;
  ProxyFields f;
  if (ParseProxyLine(proxyLine, f)) {
    t.address = f.addr;
    t.port = ProxyPortFromText(f.port).value_or(0);
    t.kind = ProxyKindFromType(f.type).value_or(ProxyKind::Any);
  }
  t.resource = {url, feature, {}, {}};
  t.connectTimeoutMs = g_nConnectTimeoutMs;
  t.replyTimeoutMs = g_nVerifyTimeoutMs;
  return t;
}

}  // namespace qbtest
