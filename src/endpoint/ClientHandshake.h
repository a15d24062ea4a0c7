// The client's side of a connection until its target is known: which protocol it
// speaks (a first byte of 5 is SOCKS5, anything else HTTP), its SOCKS5 greeting and
// request or its HTTP request head, and the refusal of whatever the endpoint does not
// do. It works on bytes alone; the session reads them and sends what it is told.
//
//   ClientHandshake head;
//   head.Take(data, size);
//   for (;;) switch (head.Next()) {
//     case Want::More:   ...wait for more bytes...
//     case Want::Greet:  ...send head.Greeting(); the upstream may be reached already...
//     case Want::Refuse: ...send head.Refusal() and close...
//     case Want::Done:   ClientRequest request = head.TakeRequest(); ...
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

enum class ClientKind {
  Socks5,       // SOCKS5, CONNECT only; any log-on is taken (it only names a session)
  HttpConnect,  // an HTTP CONNECT tunnel
  HttpForward,  // an absolute http:// request, passed on
};

// What a client asked for, once its head is read.
struct ClientRequest {
  ClientKind kind = ClientKind::HttpForward;
  std::string host;
  int port = 0;
  // HttpForward: the request head as received, through the line end of its last header.
  std::string head;
  // What came after the head: the start of the body, or of the tunnelled stream.
  std::string body;
  // The session the client named (SessionKeyOfUser, or the kSessionHeader header), which
  // keeps its connections on one upstream; empty when it named none.
  std::string sessionKey;

  // The head for an HTTP proxy: the absolute URI kept, the headers of one hop (and the
  // log-on the client may have meant for us) left out, extraHeaders (each ending in
  // CRLF) and "Connection: close" added, so that a second request on the connection
  // cannot slip past without the proxy's log-on.
  std::string ProxyForm(std::string_view extraHeaders) const;
  // The head for the origin itself, reached through a SOCKS tunnel: the path instead of
  // the absolute URI, and Host added when the client left it out.
  std::string OriginForm() const;
  // Whether all of the request is in the head and it may safely go again to another
  // proxy (GET, HEAD, OPTIONS without a body).
  bool Repeatable() const;
};

// The header by which an HTTP client may name its session instead of through its
// log-on; never passed on.
inline constexpr std::string_view kSessionHeader = "X-Quillberry-Session";
// The longest session key taken; a longer one names no session.
inline constexpr size_t kMaxSessionKey = 128;
// The session a log-on's user name names: "session-KEY", or "…-session-KEY" with more
// words after a further '-' left out ("user-session-abc-lifetime-10" names "abc"), the
// form the services that hand out sessions use. Empty when it names none, or the key is
// too long or holds anything but letters, digits, '_' and '.'.
std::string SessionKeyOfUser(std::string_view user);

// What a client is told once its upstream is through: the CONNECT or SOCKS5 success
// reply; nothing for a forwarded request, whose answer is the origin's.
std::string SuccessAnswer(ClientKind kind);
// A refusal in the client's protocol: the SOCKS5 reply socksReply (1 if 0), or an HTTP
// error httpStatus with text as its page.
std::string RefusalAnswer(ClientKind kind, int httpStatus, uint8_t socksReply, const std::string& text);

class ClientHandshake {
 public:
  enum class Want {
    More,    // the head is not complete
    Greet,   // send Greeting(), then ask Next again
    Refuse,  // send Refusal() and close; the client asked for what is not done here
    Done,    // TakeRequest holds the target
    Status,  // a request for the endpoint's own status (kEndpointStatusPath)
  };

  // A head larger than this is refused.
  static constexpr size_t kMaxHead = 64 * 1024;

  void Take(const char* data, size_t size);
  Want Next();

  // What the client is to be sent: the SOCKS5 method chosen, then (for a log-on) its
  // acceptance.
  std::string_view Greeting() const { return m_greeting; }
  // Whether the SOCKS5 greeting (and log-on) is over and only the request is to come:
  // the session named is known from here on.
  bool AwaitsRequest() const { return m_greeted && !m_loggingOn; }
  const std::string& Refusal() const { return m_refusal; }
  // The protocol the client speaks, known from its first byte.
  ClientKind Kind() const { return m_kind; }
  ClientRequest TakeRequest() { return std::move(m_request); }
  // The session a SOCKS5 client named in its log-on, known once AwaitsRequest.
  const std::string& SessionKey() const { return m_request.sessionKey; }

 private:
  Want NextSocksGreeting();
  Want NextSocksLogOn();
  Want NextSocksRequest();
  Want NextHttp();
  Want Refuse(int httpStatus, uint8_t socksReply, const std::string& text);
  Want Done();

  std::string m_in;
  bool m_started = false;
  bool m_greeted = false;
  bool m_loggingOn = false;  // the client chose the user and password method
  std::string m_greeting;
  ClientKind m_kind = ClientKind::HttpForward;
  Want m_end = Want::More;  // Refuse or Done, once reached
  std::string m_refusal;
  ClientRequest m_request;
};

}  // namespace qb
