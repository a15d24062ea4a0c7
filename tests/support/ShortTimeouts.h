// Gives verification tests short time-outs and puts the program's values back after,
// so that one test's settings never leak into the next.
#pragma once

#include "settings/Settings.h"
#include "verify/VerifyProxyThread.h"

namespace qbtest {

class ShortTimeouts {
 public:
  explicit ShortTimeouts(int ms = 2000)
      : m_connect(g_nConnectTimeoutMs), m_verify(g_nVerifyTimeoutMs), m_cap(g_nVerifyCapMs.load()) {
    g_nConnectTimeoutMs = ms;
    g_nVerifyTimeoutMs = ms;
  }
  ~ShortTimeouts() {
    g_nConnectTimeoutMs = m_connect;
    g_nVerifyTimeoutMs = m_verify;
    g_nVerifyCapMs = m_cap;
  }
  ShortTimeouts(const ShortTimeouts&) = delete;
  ShortTimeouts& operator=(const ShortTimeouts&) = delete;

 private:
  int m_connect;
  int m_verify;
  int m_cap;
};

}  // namespace qbtest
