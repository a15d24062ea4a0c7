#include "endpoint/UpstreamHandshake.h"

namespace qb {

std::unique_ptr<UpstreamHandshake> UpstreamHandshake::For(const UpstreamProxy& proxy) {
  if (proxy.type == "SOCKS5") return std::make_unique<Socks5Handshake>(proxy);
  if (proxy.type == "SOCKS4") return std::make_unique<Socks4Handshake>(proxy);
  if (proxy.type == "DIRECT") return std::make_unique<DirectHandshake>(proxy);
  return std::make_unique<HttpHandshake>(proxy);
}

UpstreamHandshake::Want UpstreamHandshake::Take(std::string_view bytes, std::string& out) {
  // Waiting for our request, it has nothing to say.
  if (m_want == Want::Target) return m_want = Fail(Failure::Proxy, "the proxy spoke out of turn");
  m_in.append(bytes);
  return m_want = OnAnswer(out);
}

UpstreamHandshake::Want UpstreamHandshake::Fail(Failure failure, std::string reason) {
  m_failure = failure;
  m_reason = std::move(reason);
  return Want::Failed;
}

UpstreamHandshake::Want UpstreamHandshake::Finish(size_t used) {
  m_leftover = used == 0 ? std::move(m_in) : m_in.substr(used);
  std::string().swap(m_in);
  return Want::Done;
}

}  // namespace qb
