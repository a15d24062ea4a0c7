// An HTTP proxy: CONNECT for a tunnel, or the client's own absolute-URI request passed
// on, each with the proxy's log-on as Basic credentials.
#include <QByteArray>

#include "endpoint/Net.h"
#include "endpoint/UpstreamHandshake.h"

namespace qb {

namespace {

std::string Base64(const std::string& in) {
  return QByteArray(in.data(), static_cast<qsizetype>(in.size())).toBase64().toStdString();
}

}  // namespace

UpstreamHandshake::Want HttpHandshake::OnRequest(const ClientRequest& request, std::string& out) {
  std::string auth;
  if (m_proxy.logOn) {
    auth =
        "Proxy-Authorization: Basic " + Base64(m_proxy.logOn->user + ":" + m_proxy.logOn->password) + "\r\n";
  }
  if (request.kind == ClientKind::HttpForward) {
    // The request goes on as it came, with the proxy's log-on instead of whatever the
    // client meant for us.
    out += request.ProxyForm(auth);
    out += request.body;
    m_carried = true;
    // A request that may safely go again waits for the first bytes of the answer: a
    // proxy that hangs or wants a log-on is then replaced. Any other is on its way.
    if (!request.Repeatable()) return Finish(0);
    m_forwarded = true;
    return Want::Read;
  }
  const std::string target = HostPort(request.host, request.port);
  out += "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n" + auth + "\r\n";
  return Want::Read;
}

UpstreamHandshake::Want HttpHandshake::OnAnswer(std::string& out) {
  if (m_forwarded) {
    if (m_in.size() < 12 && m_in.find('\n') == std::string::npos) return Want::Read;
    if (m_in.size() >= 12 && m_in.starts_with("HTTP/1.") && m_in.compare(8, 4, " 407") == 0) {
      return Fail(Failure::Proxy, "the proxy wants a log-on");
    }
    return Finish(0);  // the answer is the client's, from its first byte
  }
  const size_t end = m_in.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (m_in.size() > ClientHandshake::kMaxHead)
      return Fail(Failure::Proxy, "the proxy's answer is too large");
    return Want::Read;
  }
  const std::string_view status(m_in.data(), m_in.find("\r\n"));
  const size_t sp = status.find(' ');
  const std::string code =
      sp == std::string_view::npos ? std::string() : std::string(status.substr(sp + 1, 3));
  if (!status.starts_with("HTTP/1.") || code.size() != 3 || code[0] != '2') {
    // A gateway error names the target; anything else (a log-on asked for, a refusal)
    // is the proxy's.
    const bool target = code == "502" || code == "503" || code == "504";
    return Fail(target ? Failure::Target : Failure::Proxy,
                "the proxy answered " + std::string(status.substr(0, 60)));
  }
  return Finish(end + 4);
}

}  // namespace qb
