// The exchange with one upstream proxy that opens the way to a client's target, one
// object per protocol: HTTP (CONNECT, or the client's own request passed on, with the
// proxy's log-on), SOCKS4 (4a for names) and SOCKS5 (with its log-on). Each works on
// bytes alone; the session sends what it is given and feeds in what the proxy answers.
//
//   std::unique_ptr<UpstreamHandshake> hs = UpstreamHandshake::For(proxy);
//   std::string out;
//   Want want = hs->Open(out);              // once connected; send out
//   ...Want::Target: once the client's target is known, want = hs->Request(request, out)
//   ...Want::Read:   with what the proxy sends, want = hs->Take(bytes, out)
//   ...Want::Done:   the way is open; hs->TakeLeftover() already belongs to the client
//   ...Want::Failed: hs->Failure() and hs->Reason() say whose fault and why
//
// Every Want comes with out filled (possibly empty): send it before acting on the Want.
// A SOCKS5 proxy is greeted (and logged on to) before the client's target is known, so
// that the two round trips overlap; the others wait for the target in Open.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "endpoint/ClientHandshake.h"
#include "endpoint/Endpoint.h"

namespace qb {

// Whose fault it is that an attempt through an upstream proxy did not go through.
enum class Failure {
  None,
  Proxy,   // the proxy could not be reached, did not answer, or refused us
  Target,  // the proxy answered that the target cannot be reached
  Unfit,   // the proxy's protocol cannot carry this target (an IPv6 address over SOCKS4)
};

class UpstreamHandshake {
 public:
  enum class Want {
    Read,    // the proxy's answer is awaited: Take what it sends
    Target,  // the proxy waits for the target: Request, once it is known
    Done,    // the way to the target is open
    Failed,  // Failure and Reason say why
  };

  // The handshake for proxy's type; proxy must outlive it.
  static std::unique_ptr<UpstreamHandshake> For(const UpstreamProxy& proxy);
  virtual ~UpstreamHandshake() = default;

  Want Open(std::string& out) { return m_want = OnOpen(out); }
  Want Request(const ClientRequest& request, std::string& out) { return m_want = OnRequest(request, out); }
  Want Take(std::string_view bytes, std::string& out);

  bool AwaitsTarget() const { return m_want == Want::Target; }
  // Whether the client's request, body and all, went to the proxy in the handshake:
  // then nothing of the client's is to be sent again once the way is open.
  bool CarriedRequest() const { return m_carried; }
  // After Done: what the proxy sent past its handshake, for the client.
  std::string TakeLeftover() { return std::move(m_leftover); }
  Failure Failed() const { return m_failure; }
  const std::string& Reason() const { return m_reason; }

 protected:
  explicit UpstreamHandshake(const UpstreamProxy& proxy) : m_proxy(proxy) {}

  virtual Want OnOpen(std::string& out) { return Want::Target; }
  virtual Want OnRequest(const ClientRequest& request, std::string& out) = 0;
  // Reads what has come in m_in so far.
  virtual Want OnAnswer(std::string& out) = 0;

  Want Fail(Failure failure, std::string reason);
  // The handshake ends after the first used bytes of m_in; the rest is the client's.
  Want Finish(size_t used);

  const UpstreamProxy& m_proxy;
  std::string m_in;
  bool m_carried = false;

 private:
  Want m_want = Want::Read;
  std::string m_leftover;
  Failure m_failure = Failure::None;
  std::string m_reason;
};

class HttpHandshake final : public UpstreamHandshake {
 public:
  explicit HttpHandshake(const UpstreamProxy& proxy) : UpstreamHandshake(proxy) {}

 private:
  Want OnRequest(const ClientRequest& request, std::string& out) override;
  Want OnAnswer(std::string& out) override;

  // Passed on as a forward request: the first bytes of the answer show whether the proxy
  // took it. Otherwise the answer to CONNECT is awaited.
  bool m_forwarded = false;
};

// No proxy at all: the connection is the target's own, so the way is open as soon as
// the target is known. The session then sends a forwarded request in the origin's
// form, as it does through a SOCKS proxy. proxy names the target ("DIRECT").
class DirectHandshake final : public UpstreamHandshake {
 public:
  explicit DirectHandshake(const UpstreamProxy& target) : UpstreamHandshake(target) {}

 private:
  Want OnRequest(const ClientRequest& request, std::string& out) override { return Finish(0); }
  Want OnAnswer(std::string& out) override { return Finish(0); }
};

class Socks4Handshake final : public UpstreamHandshake {
 public:
  explicit Socks4Handshake(const UpstreamProxy& proxy) : UpstreamHandshake(proxy) {}

 private:
  Want OnRequest(const ClientRequest& request, std::string& out) override;
  Want OnAnswer(std::string& out) override;
};

class Socks5Handshake final : public UpstreamHandshake {
 public:
  explicit Socks5Handshake(const UpstreamProxy& proxy) : UpstreamHandshake(proxy) {}

 private:
  Want OnOpen(std::string& out) override;
  Want OnRequest(const ClientRequest& request, std::string& out) override;
  Want OnAnswer(std::string& out) override;

  enum class Step { Method, LogOn, Reply };
  Step m_step = Step::Method;
};

}  // namespace qb
