#include "verify/VerifyStep.h"

#include <curl/curl.h>

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <utility>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "proxy/ProxyEntry.h"
#include "verify/HostResolver.h"
#include "verify/PageSeal.h"

namespace qb {

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Win32)";
// The fixed values of an FTP log-on test; the user's time-outs apply to pages only.
constexpr int kFtpConnectTimeoutMs = 5000;
constexpr int kFtpReplyTimeoutMs = 6000;
// A page line longer than this is taken as it stands and reading goes on with a new
// line, so that a body without line feeds cannot grow without bound.
constexpr std::size_t kMaxLineBytes = 4u << 20;
// A sealed page larger than this is not checked: judge pages are a few KiB.
constexpr std::size_t kMaxSealedBytes = 1u << 20;
// How far into a page its seal line is looked for; a proxy that puts more than this in
// front of it leaves the page unchecked, not wrongly judged.
constexpr std::size_t kMaxUnsealedPrefix = 16u << 10;
// The longest page held against its direct fetch: every check in flight keeps its copy.
constexpr std::size_t kMaxReferenceBytes = 256u << 10;
constexpr std::string_view kSealMark = "<!-- qb-seal ";

// The SHA-256 of the leaf certificate libcurl saw (CURLOPT_CERTINFO), from its PEM.
std::string LeafSha256(CURL* e) {
  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(e, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
    return {};
  for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
    std::string_view text(field->data);
    if (text.substr(0, 5) != "Cert:") continue;
    text.remove_prefix(5);
    const std::size_t begin = text.find("-----BEGIN CERTIFICATE-----");
    const std::size_t end = text.find("-----END CERTIFICATE-----");
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin) return {};
    const std::string_view body = text.substr(begin + 27, end - begin - 27);
    std::string base64;
    for (char c : body) {
      if (c != '\n' && c != '\r' && c != ' ') base64 += c;
    }
    const QByteArray der = QByteArray::fromBase64(QByteArray::fromStdString(base64));
    if (der.isEmpty()) return {};
    return Sha256Hex(std::string_view(der.constData(), static_cast<std::size_t>(der.size())));
  }
  return {};
}

// A host that may go into a curl URL as it stands: a name or an IPv4 text. Anything
// that curl would read as credentials, a path or a second port is refused.
bool IsPlainHost(std::string_view h) {
  if (h.empty()) return false;
  for (unsigned char c : h) {
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_')) return false;
  }
  return true;
}

// An IPv6 address without brackets (and without a zone, which curl would read apart).
bool IsIpv6Literal(std::string_view h) {
  if (h.find(':') == std::string_view::npos) return false;
  for (unsigned char c : h) {
    if (!(std::isxdigit(c) || c == ':' || c == '.')) return false;
  }
  return true;
}

double ElapsedSeconds(CVerifyStep::Clock::time_point start, CVerifyStep::Clock::time_point end) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  return static_cast<double>(static_cast<uint32_t>(ms)) * 0.001;
}

// Settings that every verification transfer shares. The reply time-out is not
// libcurl's: the step keeps it (see ReplyExpired).
void SetCommonOptions(CURL* easy, const std::string& proxyUrl, int connectMs, int capMs) {
  curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.c_str());
  // An empty exception list, so that no_proxy in the environment cannot send a
  // request around the proxy under test.
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, connectMs)));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(1, capMs)));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  // Nothing is pooled: every test opens its own connection and closes it.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
}

// A transfer that ran out of time after the proxy had taken the connection: the
// proxy is there but too slow, which the user must be able to tell from one that
// refused or could not be reached (those never get a connect time). A SOCKS proxy
// that takes the connection and never answers its greeting is still in libcurl's
// connect phase, so it has no connect time either; its socket was connected,
// which the local port tells.
bool TimedOutAfterConnect(CURL* e, int rc) {
  if (rc != CURLE_OPERATION_TIMEDOUT) return false;
  curl_off_t connectUs = 0;
  if (curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connectUs) == CURLE_OK && connectUs > 0) return true;
  long localPort = 0;
  return curl_easy_getinfo(e, CURLINFO_LOCAL_PORT, &localPort) == CURLE_OK && localPort > 0;
}

bool IsIpv6Text(std::string_view address) {
  return address.find(':') != std::string_view::npos;
}

bool IsName(const std::string& host) {
  return HostKindOf(host) == HostKind::Name;
}

}  // namespace

CVerifyStep::CVerifyStep(const VerifyTask& task, AbortedFn aborted, StatusFn status)
    : m_task(task), m_aborted(std::move(aborted)), m_status(std::move(status)) {
  m_result.taskId = task.id;
  m_result.slot = task.slot;
  m_result.row = task.row;
  if (!IsVerifiableUrl(m_task.resource.url)) {
    m_result.status = VERIFY_BADURL;
    Status(qb::Format(qb::TrStd(kTextBadUrl).c_str(), m_task.resource.url.c_str()));
    return;
  }
  switch (m_task.kind) {
    case ProxyKind::Http:
    case ProxyKind::Https:
      m_routes = {Via::Http};
      break;
    case ProxyKind::Socks:
    case ProxyKind::Socks4:
    case ProxyKind::Socks5:
      m_routes = {Via::Socks};
      break;
    case ProxyKind::Ftp:
      m_routes = {Via::Ftp};
      break;
    case ProxyKind::Gopher:
      // Two routes; the second result stands.
      m_routes = {Via::Http, Via::Any};
      break;
    case ProxyKind::Any:
      m_routes = {Via::Any};
      break;
  }
  // The run found no address for the name: there is no proxy to ask.
  if (m_task.nameUnresolved && IsName(m_task.address)) {
    m_routes.clear();
    Unresolved();
  }
}

void CVerifyStep::Unresolved() {
  m_result.status = VERIFY_UNRESOLVED;
  Status(qb::TrStd(kStatusUnresolved));
}

CVerifyStep::~CVerifyStep() {
  FreeEasy();
}

void CVerifyStep::FreeEasy() {
  if (m_easy) curl_easy_cleanup(m_easy);
  if (m_headers) curl_slist_free_all(m_headers);
  if (m_resolve) curl_slist_free_all(m_resolve);
  m_easy = nullptr;
  m_headers = nullptr;
  m_resolve = nullptr;
  m_xfer = Xfer::None;
}

void CVerifyStep::Status(std::string text) {
  if (m_status) m_status(text);
  m_result.texts.push_back(std::move(text));
}

CVerifyStep::Want CVerifyStep::Next() {
  if (m_xfer != Xfer::None) return Want::Transfer;
  if (m_needReference) {
    std::optional<std::string> reference;
    switch (m_task.referencePages->Ask(m_task.resource.url, reference)) {
      case CReferencePages::Claim::Known:
        m_needReference = false;
        CompareWithReference(reference);
        break;
      case CReferencePages::Claim::Busy:
        if (!(m_aborted && m_aborted())) return Want::Wait;
        m_needReference = false;
        break;
      case CReferencePages::Claim::Mine:
        if (StartProbe(Xfer::Reference)) return Want::Transfer;
        m_needReference = false;
        m_task.referencePages->Learn(m_task.resource.url, std::nullopt);
        break;
    }
  }
  if (m_needFamily) {
    // The run's first task that needs the judge's addresses starts their look-up; the
    // others find it under way, or done.
    if (std::optional<std::vector<std::string>> found = m_task.resolver->Find(m_url.host)) {
      m_needFamily = false;
      if (StartFamily(*found)) return Want::Transfer;
    } else if (m_aborted && m_aborted()) {
      m_needFamily = false;
    } else {
      return Want::Wait;
    }
  }
  if (m_needOwn) {
    if (!m_own) m_own = m_task.ownAddresses ? m_task.ownAddresses : std::make_shared<COwnAddresses>();
    // A task being given up does not ask: it takes what the interfaces say, as a
    // direct request that was cut short would have left it.
    if (m_aborted && m_aborted()) {
      m_needOwn = false;
      Judge(InterfaceAddresses());
    } else {
      std::vector<std::string> own;
      switch (m_own->Ask(m_task.resource.url, own)) {
        case COwnAddresses::Claim::Known:
          m_needOwn = false;
          Judge(own);
          break;
        case COwnAddresses::Claim::Busy:
          return Want::Wait;
        case COwnAddresses::Claim::Mine:
          m_needOwn = false;
          if (StartProbe()) return Want::Transfer;
          Judge(m_own->Learn(m_task.resource.url, {}));
          break;
      }
    }
  }
  while (m_nextRoute < m_routes.size()) {
    if (StartRoute(m_routes[m_nextRoute++])) return Want::Transfer;
    // The route ended without a transfer; a judge needs none either.
  }
  return Want::Done;
}

void CVerifyStep::Finish(int rc) {
  switch (m_xfer) {
    case Xfer::Http:
      EndHttp(rc);
      break;
    case Xfer::Ftp:
      EndFtp(rc);
      break;
    case Xfer::Probe:
      EndProbe(rc);
      break;
    case Xfer::Reference:
      EndReference(rc);
      break;
    case Xfer::Family:
      EndFamily(rc);
      break;
    case Xfer::None:
      break;
  }
  FreeEasy();
}

bool CVerifyStep::ReplyExpired(Clock::time_point now, Clock::time_point& askAgain) const {
  const auto reply = std::chrono::milliseconds(std::max(1, m_replyMs));
  askAgain = now + reply;
  if (!m_easy) return false;
  // Until the request goes out, the connect time-out rules.
  curl_off_t pretransferUs = 0;
  if (curl_easy_getinfo(m_easy, CURLINFO_PRETRANSFER_TIME_T, &pretransferUs) != CURLE_OK ||
      pretransferUs <= 0)
    return false;
  const Clock::time_point sent = m_start + std::chrono::microseconds(pretransferUs);
  const Clock::time_point deadline = std::max(sent, m_lastByte) + reply;
  if (now >= deadline) return true;
  askAgain = deadline;
  return false;
}

bool CVerifyStep::StartRoute(Via via) {
  const std::optional<VerifyUrl> url = SplitVerifyUrl(m_task.resource.url);
  if (!url) {
    m_result.status = VERIFY_BADURL;
    Status(qb::Format(qb::TrStd(kTextBadUrl).c_str(), m_task.resource.url.c_str()));
    return false;
  }
  m_url = *url;
  const bool http = via != Via::Ftp;
  const bool ftp = via != Via::Http;
  if ((m_url.scheme == VerifyUrl::Http || m_url.scheme == VerifyUrl::Https) && http) return StartHttp(via);
  if (m_url.scheme == VerifyUrl::Ftp && ftp) return StartFtp(via);
  m_result.status = VERIFY_UNSUPPORTED;
  return false;
}

std::string CVerifyStep::CurlProxy(Via via) const {
  std::string scheme = "http://";
  if (via == Via::Socks) scheme = m_task.kind == ProxyKind::Socks5 ? "socks5://" : "socks4://";
  // A row's IPv6 host has its brackets; one without them (a task made by hand) is taken too.
  const std::string_view host = BareHost(m_task.address);
  if (HostKindOf(m_task.address) == HostKind::Ipv6 ? !IsIpv6Literal(host) : !IsPlainHost(host)) return {};
  return scheme + HostPort(host, std::to_string(m_task.port));
}

// The addresses the run found for the proxy's name, so that libcurl looks nothing up:
// the check's time is the proxy's own, and a name is asked once per run, not per check.
void CVerifyStep::SetProxyAddresses(CURL* e) {
  if (m_task.addresses.empty() || !IsName(m_task.address)) return;
  std::string entry = m_task.address + ":" + std::to_string(m_task.port) + ":";
  for (std::size_t i = 0; i < m_task.addresses.size(); ++i) {
    const std::string& a = m_task.addresses[i];
    if (i > 0) entry += ',';
    entry += IsIpv6Text(a) ? "[" + a + "]" : a;
  }
  if (curl_slist* list = curl_slist_append(nullptr, entry.c_str())) {
    if (m_resolve) curl_slist_free_all(m_resolve);
    m_resolve = list;
    curl_easy_setopt(e, CURLOPT_RESOLVE, m_resolve);
  }
}

std::string CVerifyStep::CurlUrl() const {
  std::string url = m_url.scheme == VerifyUrl::Ftp     ? "ftp://"
                    : m_url.scheme == VerifyUrl::Https ? "https://"
                                                       : "http://";
  url += m_url.port != 0 ? HostPort(m_url.host, std::to_string(m_url.port)) : m_url.host;
  url += m_url.object.empty() ? std::string("/") : qb::EscapeUnsafeUrlBytes(m_url.object);
  return url;
}

// The proxy's own log-on. Basic, which the proxies that ask for one take, costs no
// extra round trip that would count in the proxy's time.
void CVerifyStep::SetProxyLogOn(CURL* e) const {
  if (m_task.proxyUser.empty()) return;
  curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, m_task.proxyUser.c_str());
  curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, m_task.proxyPassword.c_str());
  curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
}

void CVerifyStep::SetCredentials(CURL* e) const {
  if (m_url.user.empty()) return;
  curl_easy_setopt(e, CURLOPT_USERNAME, m_url.user.c_str());
  curl_easy_setopt(e, CURLOPT_PASSWORD, m_url.password.c_str());
}

// The proxy refused the log-on, or wants one and got none: an HTTP proxy answers 407
// (some answer a wrong log-on with 401, as an origin would), a SOCKS5 proxy rejects
// the user or offers no method without one.
bool CVerifyStep::ProxyRefusedLogOn(CURL* e, int rc) const {
  // The answer's status, whether its body was read to the end or cut at "</body>".
  long code = 0;
  if (curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK &&
      (code == 407 || (code == 401 && !m_task.proxyUser.empty())))
    return true;
  if (rc != CURLE_PROXY) return false;
  long why = CURLPX_OK;
  if (curl_easy_getinfo(e, CURLINFO_PROXY_ERROR, &why) != CURLE_OK) return false;
  return why == CURLPX_USER_REJECTED || why == CURLPX_NO_AUTH || why == CURLPX_RECV_AUTH;
}

bool CVerifyStep::StartHttp(Via via) {
  m_easy = curl_easy_init();
  const bool tls = m_url.scheme == VerifyUrl::Https;
  // Over TLS nobody on the way can change the page unseen; a plain page is sealed.
  m_sealToken = tls ? std::string() : NewSealToken();
  m_sealHeader = m_sealToken.empty() ? std::string() : std::string(kSealHeader) + ": " + m_sealToken;
  for (const char* h :
       {"Accept: text/*", "Pragma: no-cache", "Cache-Control: no-cache", m_sealHeader.c_str()}) {
    if (!*h) continue;
    curl_slist* next = curl_slist_append(m_headers, h);
    if (!next) break;
    m_headers = next;
  }
  m_xfer = Xfer::Http;
  // An empty host is a connection that could not be made at all.
  if (!m_easy || !m_headers || m_url.host.empty()) {
    FreeEasy();
    m_result.status = VERIFY_ERROR;
    Status(qb::TrStd(kTextError));
    return false;
  }
  m_proxyUrl = CurlProxy(via);
  m_curlUrl = CurlUrl();
  CURL* e = m_easy;
  SetCommonOptions(e, m_proxyUrl, m_task.connectTimeoutMs, m_task.transferCapMs);
  m_replyMs = m_task.replyTimeoutMs;
  curl_easy_setopt(e, CURLOPT_URL, m_curlUrl.c_str());
  // A redirect never leaves TLS: a proxy could otherwise send the check to a plain page.
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http");
  m_errorBuf[0] = 0;
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errorBuf);
  if (tls) {
    // Through an HTTP proxy libcurl opens a CONNECT tunnel; through SOCKS the tunnel is
    // the SOCKS connection. Either way the handshake is with whoever answers at its end.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_CERTINFO, 1L);
    if (!m_task.resource.caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, m_task.resource.caFile.c_str());
  }
  SetCredentials(e);
  SetProxyLogOn(e);
  SetProxyAddresses(e);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyStep::WriteBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  // Header bytes are bytes heard too: a proxy that is sending is no silent one.
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CVerifyStep::TakeHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);

  m_lineBuf.clear();
  m_raw.clear();
  m_sealSeen = false;
  m_sealTruncated = false;
  m_rawOverflow = false;
  m_found = false;
  m_bodyEnded = false;
  m_judge.Reset();
  m_result.certSha256.clear();
  m_result.tlsProblem.clear();
  m_result.tamper.reset();
  m_result.trust = Trust::Unchecked;
  m_sealIntact = false;
  m_needReference = false;
  m_page.clear();
  m_pageOverflow = false;
  m_otherFamily.reset();
  m_result.anonymity.clear();
  m_result.exitAddress.clear();
  m_result.exitAddresses.clear();
  m_start = m_lastByte = Clock::now();
  if (m_proxyUrl.empty()) {
    EndHttp(CURLE_COULDNT_RESOLVE_PROXY);
    FreeEasy();
    return false;
  }
  return true;
}

void CVerifyStep::EndHttp(int rc) {
  CURL* e = m_easy;
  // The last line of a body that does not end in a line feed counts too.
  if (rc == CURLE_OK && !m_lineBuf.empty()) TakeLine(m_lineBuf);
  m_lineBuf.clear();
  const auto end = Clock::now();

  if (ProxyRefusedLogOn(e, rc)) {
    m_result.status = VERIFY_PASSWORD;
    Status(qb::TrStd(kTextWrongPassword));
    return;
  }
  if (m_url.scheme == VerifyUrl::Https && !TrustedCertificate(e, rc)) return;
  if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && (m_bodyEnded || m_sealTruncated))) {
    if (!IntactPage()) return;
    m_result.seconds = ElapsedSeconds(m_start, end);
    m_result.status = m_found ? VERIFY_OK : VERIFY_MISMATCH;
    // A certificate the store vouched for (libcurl refuses the page otherwise) or a
    // seal that held: nobody between read or changed this page.
    if (m_found && ((m_url.scheme == VerifyUrl::Https && !m_result.certSha256.empty()) || m_sealIntact))
      m_result.trust = Trust::Clean;
    // Any other plain page says nothing by itself; the user may have asked to hold it
    // against the site's own.
    m_needReference = m_found && m_result.trust == Trust::Unchecked && m_task.referencePages &&
                      m_url.scheme == VerifyUrl::Http && !m_pageOverflow;
    Status(qb::Format(qb::TrStd(m_found ? kTextAvailable : kTextMismatch).c_str(), m_result.seconds));
    // After the time was taken: learning the user's own addresses costs a request, and
    // so does asking a judge with a name over its other family.
    if (m_found && m_judge.IsJudge()) {
      m_needOwn = true;
      m_needFamily = m_task.resolver && IsName(m_url.host);
    }
    return;
  }
  if (rc == CURLE_COULDNT_RESOLVE_PROXY && IsName(m_task.address)) {
    Unresolved();
    return;
  }
  if (TimedOutAfterConnect(e, rc)) {
    m_result.status = VERIFY_TIMEOUT;
    Status(qb::TrStd(kTextProxyTimedOut));
    return;
  }
  m_result.status = VERIFY_PROXYFAILED;
  Status(qb::TrStd(kTextProxyUnreachable));
}

bool CVerifyStep::TrustedCertificate(CURL* e, int rc) {
  auto intercepted = [&](std::string why) {
    m_result.status = VERIFY_TLS_INTERCEPTED;
    m_result.trust = Trust::TlsIntercepted;
    m_result.seconds = 50.0;
    m_result.tlsProblem = std::move(why);
    Status(qb::Format(qb::TrStd(kTextTlsIntercepted).c_str(), m_result.tlsProblem.c_str()));
    return false;
  };
  // The CONNECT or SOCKS tunnel was up and the handshake through it met a certificate
  // the store does not vouch for. A proxy that refuses the tunnel, resets it or says
  // nothing fails before this, with the errors of a plain page.
  if (rc == CURLE_PEER_FAILED_VERIFICATION)
    return intercepted(std::string("certificate not trusted: ") + m_errorBuf);
  if (rc == CURLE_SSL_CACERT_BADFILE) {
    m_result.status = VERIFY_ERROR;
    Status(qb::Format(qb::TrStd(kTextCaFileUnusable).c_str(), m_task.resource.caFile.c_str()));
    return false;
  }
  if (rc != CURLE_OK && rc != CURLE_WRITE_ERROR) return true;
  m_result.certSha256 = LeafSha256(e);
  // A trusted certificate that is not the one the site has: a CA on this machine that
  // somebody else holds (a company's, or one a proxy talked the user into installing).
  const std::string pin = qb::AsciiLower(m_task.resource.pinSha256);
  if (!pin.empty() && m_result.certSha256 != pin)
    return intercepted("certificate " +
                       (m_result.certSha256.empty() ? std::string("unknown") : m_result.certSha256) +
                       " instead of the pinned " + pin);
  return true;
}

bool CVerifyStep::IntactPage() {
  if (m_sealToken.empty() || !ReadsSealedPage()) return true;
  const std::optional<SealCheck> check = CheckSealedBody(m_raw, m_sealToken);
  m_raw.clear();
  if (!check) return true;
  if (check->intact) {
    m_sealIntact = true;
    return true;
  }
  m_result.status = VERIFY_MODIFIED;
  m_result.trust = Trust::Modified;
  m_result.seconds = 50.0;
  m_result.tamper = check->tamper;
  Status(qb::Format(qb::TrStd(kTextModified).c_str(), check->tamper.offset));
  return false;
}

// What the judge pages that came through the proxy tell about it: the exit address of
// each family, the IPv4 one first, and the lesser anonymity of the two.
void CVerifyStep::Judge(const std::vector<std::string>& own) {
  std::vector<const JudgeView*> views = {&m_judge.View()};
  if (m_otherFamily) views.push_back(&*m_otherFamily);
  std::stable_sort(views.begin(), views.end(), [](const JudgeView* a, const JudgeView* b) {
    return !IsIpv6Text(a->remoteAddr) && IsIpv6Text(b->remoteAddr);
  });
  Anonymity least = Anonymity::Elite;
  m_result.exitAddresses.clear();
  for (const JudgeView* v : views) {
    least = std::min(least, ClassifyJudgeView(*v, own));
    m_result.exitAddresses.push_back(v->remoteAddr);
  }
  m_result.exitAddress = m_judge.View().remoteAddr;
  m_result.anonymity = AnonymityName(least);
}

// The judge once more through the proxy, at its address of the family the first answer
// did not come over; the Host header keeps the judge's name. Nothing of it counts in
// the proxy's time or status: a proxy that cannot reach the other family only has one
// exit address.
bool CVerifyStep::StartFamily(const std::vector<std::string>& judgeAddresses) {
  // A judge over TLS is asked by its name, which its certificate carries, not at an address.
  if (m_url.scheme == VerifyUrl::Https) return false;
  const bool firstV6 = IsIpv6Text(m_judge.View().remoteAddr);
  const auto other = std::find_if(judgeAddresses.begin(), judgeAddresses.end(),
                                  [&](const std::string& a) { return IsIpv6Text(a) != firstV6; });
  if (other == judgeAddresses.end()) return false;
  // SOCKS4 carries IPv4 addresses only: asked for an IPv6 one it can only fail, and
  // libcurl (7.88) leaves the address of that failed attempt behind.
  if (m_proxyUrl.rfind("socks4://", 0) == 0 && IsIpv6Text(*other)) return false;
  m_easy = curl_easy_init();
  if (!m_easy) return false;
  m_xfer = Xfer::Family;
  const std::string port = std::to_string(m_url.port != 0 ? m_url.port : 80);
  const std::string host = "Host: " + (m_url.port != 0 ? HostPort(m_url.host, port) : m_url.host);
  for (const char* h : {"Accept: text/*", "Pragma: no-cache", "Cache-Control: no-cache", host.c_str()}) {
    curl_slist* next = curl_slist_append(m_headers, h);
    if (!next) {
      FreeEasy();
      return false;
    }
    m_headers = next;
  }
  CURL* e = m_easy;
  m_curlUrl = "http://" + HostPort(*other, port) +
              (m_url.object.empty() ? std::string("/") : qb::EscapeUnsafeUrlBytes(m_url.object));
  SetCommonOptions(e, m_proxyUrl, m_task.connectTimeoutMs, m_task.transferCapMs);
  m_replyMs = m_task.replyTimeoutMs;
  curl_easy_setopt(e, CURLOPT_URL, m_curlUrl.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
  SetCredentials(e);
  SetProxyLogOn(e);
  SetProxyAddresses(e);
  m_probeBody.clear();
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyStep::CollectBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CVerifyStep::TakeHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  m_start = m_lastByte = Clock::now();
  return true;
}

void CVerifyStep::EndFamily(int rc) {
  if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) {
    std::optional<JudgeView> view = ParseJudgePage(m_probeBody);
    if (view && IsIpv6Text(view->remoteAddr) != IsIpv6Text(m_judge.View().remoteAddr))
      m_otherFamily = std::move(view);
  }
  m_probeBody.clear();
}

// The same judge asked without any proxy: the address it sees is the user's own.
bool CVerifyStep::StartProbe(Xfer kind) {
  m_easy = curl_easy_init();
  if (!m_easy) return false;
  m_xfer = kind;
  CURL* e = m_easy;
  m_curlUrl = CurlUrl();
  // An empty proxy also keeps the environment's proxy out of this request.
  m_proxyUrl.clear();
  SetCommonOptions(e, m_proxyUrl, m_task.connectTimeoutMs, m_task.transferCapMs);
  m_replyMs = m_task.replyTimeoutMs;
  const bool tls = m_url.scheme == VerifyUrl::Https;
  curl_easy_setopt(e, CURLOPT_URL, m_curlUrl.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http");
  if (tls && !m_task.resource.caFile.empty())
    curl_easy_setopt(e, CURLOPT_CAINFO, m_task.resource.caFile.c_str());
  SetCredentials(e);
  m_probeBody.clear();
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyStep::CollectBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  m_start = m_lastByte = Clock::now();
  return true;
}

void CVerifyStep::EndProbe(int rc) {
  COwnAddresses::Probe probe;
  probe.settled = rc != CURLE_ABORTED_BY_CALLBACK && !(m_aborted && m_aborted());
  if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) {
    if (const std::optional<JudgeView> view = ParseJudgePage(m_probeBody))
      probe.remoteAddr = view->remoteAddr;
  }
  m_probeBody.clear();
  Judge(m_own->Learn(m_task.resource.url, probe));
}

void CVerifyStep::EndReference(int rc) {
  std::optional<std::string> reference;
  long code = 0;
  curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
  if ((rc == CURLE_OK || rc == CURLE_WRITE_ERROR) && code >= 200 && code < 300 &&
      m_probeBody.size() <= kMaxReferenceBytes)
    reference = std::move(m_probeBody);
  m_probeBody.clear();
  m_task.referencePages->Learn(m_task.resource.url, reference);
  m_needReference = false;
  CompareWithReference(reference);
}

void CVerifyStep::CompareWithReference(const std::optional<std::string>& reference) {
  if (!reference) return;
  const std::optional<VerifyResult::Tamper> tamper = FirstDifference(m_page, *reference);
  m_page.clear();
  if (!tamper) {
    m_result.trust = Trust::Clean;
    return;
  }
  m_result.status = VERIFY_MODIFIED;
  m_result.trust = Trust::Modified;
  m_result.seconds = 50.0;
  m_result.tamper = tamper;
  m_result.anonymity.clear();
  m_result.exitAddress.clear();
  m_result.exitAddresses.clear();
  m_needOwn = false;
  m_needFamily = false;
  Status(qb::Format(qb::TrStd(kTextModified).c_str(), tamper->offset));
}

size_t CVerifyStep::CollectBody(char* data, size_t size, size_t count, void* p) {
  auto* self = static_cast<CVerifyStep*>(p);
  self->Heard();
  std::string& body = self->m_probeBody;
  const size_t len = size * count;
  const size_t from = body.size() > 8 ? body.size() - 8 : 0;
  body.append(data, len);
  // The page's fields stand before its end; nothing after it is needed.
  // A reference page is held whole; a judge's fields stand before its end.
  if (self->m_xfer == Xfer::Reference) return body.size() > kMaxReferenceBytes ? 0 : len;
  if (body.find("</body>", from) != std::string::npos || body.size() > kMaxLineBytes) return 0;
  return len;
}

bool CVerifyStep::StartFtp(Via via) {
  m_easy = curl_easy_init();
  if (!m_easy) {
    m_result.status = VERIFY_ERROR;
    Status(qb::TrStd(kTextError));
    return false;
  }
  m_xfer = Xfer::Ftp;
  CURL* e = m_easy;
  m_proxyUrl = CurlProxy(via);
  m_curlUrl = CurlUrl();
  m_viaSocks = via == Via::Socks;
  SetCommonOptions(e, m_proxyUrl, kFtpConnectTimeoutMs, m_task.transferCapMs);
  m_replyMs = kFtpReplyTimeoutMs;
  curl_easy_setopt(e, CURLOPT_URL, m_curlUrl.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
  SetCredentials(e);
  SetProxyLogOn(e);
  SetProxyAddresses(e);
  if (m_viaSocks) {
    // Connect and log on, then stop: the log-on is the whole test.
    curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
  } else {
    // An HTTP proxy serves ftp:// URLs as proxied GET requests; its answer tells.
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyStep::DiscardBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CVerifyStep::TakeHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  }

  Status(qb::Format(qb::TrStd(kTextConnectingSite).c_str(), 1, m_task.resource.url.c_str()));
  m_bodyEnded = false;
  m_authChallenge = false;
  m_start = m_lastByte = Clock::now();
  if (m_proxyUrl.empty() || m_url.host.empty()) {
    EndFtp(m_proxyUrl.empty() ? CURLE_COULDNT_RESOLVE_PROXY : CURLE_URL_MALFORMAT);
    FreeEasy();
    return false;
  }
  return true;
}

void CVerifyStep::EndFtp(int rc) {
  CURL* e = m_easy;
  const auto end = Clock::now();
  if (rc == CURLE_COULDNT_RESOLVE_PROXY && IsName(m_task.address)) {
    Unresolved();
    return;
  }
  int status = VERIFY_PROXYFAILED;
  if (ProxyRefusedLogOn(e, rc)) {
    status = VERIFY_PASSWORD;
  } else if (m_viaSocks) {
    if (rc == CURLE_OK) {
      status = VERIFY_OK;
    } else if (rc == CURLE_LOGIN_DENIED) {
      status = VERIFY_PASSWORD;
    }
  } else if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && m_bodyEnded)) {
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200 && code < 300) {
      status = VERIFY_OK;
    } else if (code == 401 || (code == 403 && m_authChallenge)) {
      // The proxy asks for other FTP credentials: the server refused the log-on. A
      // plain 403 is the proxy's own refusal and counts as a failure.
      status = VERIFY_PASSWORD;
    }
  }
  if (status == VERIFY_PROXYFAILED && TimedOutAfterConnect(e, rc)) status = VERIFY_TIMEOUT;

  m_result.status = status;
  if (status == VERIFY_OK) {
    m_result.seconds = ElapsedSeconds(m_start, end);
    Status(qb::Format(qb::TrStd(kTextAvailable).c_str(), m_result.seconds));
  } else if (status == VERIFY_PASSWORD) {
    Status(qb::TrStd(kTextWrongPassword));
  } else if (status == VERIFY_TIMEOUT) {
    Status(qb::TrStd(kTextProxyTimedOut));
  } else {
    Status(qb::TrStd(kTextProxyConnectFailed));
  }
}

void CVerifyStep::TakeLine(std::string_view line) {
  const std::string& feature = m_task.resource.feature;
  if (!m_found) {
    if (line.find(feature) != std::string_view::npos) {
      m_found = true;
    } else if (!qb::IsValidUtf8(line)) {
      // The feature string is kept in UTF-8; a page in the legacy encoding is compared
      // in UTF-8 too, as the Windows version compared both in its code page.
      m_found = qb::DecodeLegacyLine(line).find(feature) != std::string::npos;
    }
  }
  if (!m_bodyEnded) m_judge.TakeLine(line);
  if (m_task.capturePage) {
    m_result.page += qb::DecodeLegacyLine(line);
    m_result.page += "\r\n";
  }
  if (line.find("</body>") != std::string_view::npos) m_bodyEnded = true;
}

size_t CVerifyStep::WriteBody(char* data, size_t size, size_t count, void* p) {
  auto* self = static_cast<CVerifyStep*>(p);
  const size_t len = size * count;
  if (self->m_aborted && self->m_aborted()) return 0;
  self->Heard();
  const std::string_view chunk(data, len);
  if (self->m_task.referencePages && !self->m_pageOverflow) {
    self->m_page.append(chunk);
    if (self->m_page.size() > kMaxReferenceBytes) {
      self->m_pageOverflow = true;
      self->m_page.clear();
      self->m_page.shrink_to_fit();
    }
  }
  if (!self->m_sealToken.empty() && !self->m_rawOverflow) {
    std::string& raw = self->m_raw;
    const std::size_t from = raw.size() > kSealMark.size() ? raw.size() - kSealMark.size() : 0;
    raw.append(chunk);
    // The judge seals in its first line. A page that shows no seal within its first
    // bytes is no sealed page, and its bytes are not kept: thousands of checks run at once.
    if (!self->m_sealSeen) {
      const std::size_t mark = raw.find(kSealMark, from);
      self->m_sealSeen = mark != std::string::npos && mark < kMaxUnsealedPrefix;
    }
    if (self->m_sealSeen && raw.size() > kMaxSealedBytes) {
      // No judge page is this long: what came beyond it was added, and is not read.
      raw.resize(kMaxSealedBytes);
      self->m_sealTruncated = true;
      return 0;
    }
    if (!self->m_sealSeen && raw.size() > kMaxUnsealedPrefix) {
      self->m_rawOverflow = true;
      raw.clear();
      raw.shrink_to_fit();
    }
  }
  // Past "</body>" only a sealed page is read on: what follows counts in its digest.
  if (self->m_bodyEnded) return self->ReadsWholePage() ? len : 0;
  size_t pos = 0;
  while (pos < len) {
    const size_t lf = chunk.find('\n', pos);
    if (lf == std::string_view::npos) {
      self->m_lineBuf.append(chunk.substr(pos));
      if (self->m_lineBuf.size() > kMaxLineBytes) {
        self->TakeLine(self->m_lineBuf);
        self->m_lineBuf.clear();
      }
      break;
    }
    if (self->m_lineBuf.empty()) {
      self->TakeLine(chunk.substr(pos, lf - pos));
    } else {
      self->m_lineBuf.append(chunk.substr(pos, lf - pos));
      self->TakeLine(self->m_lineBuf);
      self->m_lineBuf.clear();
    }
    pos = lf + 1;
    // Stopping in the write callback ends the transfer; the caller knows it was meant.
    if (self->m_bodyEnded) return self->ReadsWholePage() ? len : 0;
  }
  return self->m_bodyEnded && !self->ReadsWholePage() ? 0 : len;
}

size_t CVerifyStep::TakeHeader(char* data, size_t size, size_t count, void* p) {
  auto* self = static_cast<CVerifyStep*>(p);
  self->Heard();
  const std::string_view line(data, size * count);
  // Only the headers of the last answer count.
  if (line.substr(0, 5) == "HTTP/") self->m_authChallenge = false;
  if (line.size() > 17 && qb::AsciiCaseEqual(line.substr(0, 17), "WWW-Authenticate:"))
    self->m_authChallenge = true;
  return size * count;
}

size_t CVerifyStep::DiscardBody(char*, size_t, size_t, void* p) {
  // The status line and headers of the proxy's answer are all an FTP test needs.
  static_cast<CVerifyStep*>(p)->m_bodyEnded = true;
  return 0;
}

}  // namespace qb
