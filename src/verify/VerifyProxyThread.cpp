#include "verify/VerifyProxyThread.h"

#include <QThread>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "base/Text.h"
#include "base/Translate.h"
#include "verify/Judge.h"

namespace qb {

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Win32)";
// The fixed values of an FTP log-on test; the user's time-outs apply to pages only.
constexpr int kFtpConnectTimeoutMs = 5000;
constexpr int kFtpReplyTimeoutMs = 6000;
// A page line longer than this is taken as it stands and reading goes on with a new
// line, so that a body without line feeds cannot grow without bound.
constexpr std::size_t kMaxLineBytes = 4u << 20;

std::atomic<int> g_liveThreads{0};

// Every worker object that exists, so that exit can stop them all without the
// control having to track the ones it gave up.
std::mutex g_registryLock;
std::unordered_set<CVerifyProxyThread*>& Registry() {
  static auto* s =
      new std::unordered_set<CVerifyProxyThread*>;  // never destroyed: workers may outlive statics
  return *s;
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// A host that may go into a curl URL as it stands: a name or an IPv4 text. Anything
// that curl would read as credentials, a path or a second port is refused.
bool IsPlainHost(std::string_view h) {
  if (h.empty()) return false;
  for (unsigned char c : h) {
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_')) return false;
  }
  return true;
}

bool IsIpv6Literal(std::string_view h) {
  if (h.find(':') == std::string_view::npos) return false;
  for (unsigned char c : h) {
    if (!(std::isxdigit(c) || c == ':' || c == '.')) return false;
  }
  return true;
}

// Bytes that cannot stand in a request line are escaped; everything else is sent as
// written, as the path was given.
std::string EscapePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F) {
      out += qb::Format("%%%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

long ReplyTimeoutSeconds(int ms) {
  return std::max(1L, (static_cast<long>(ms) + 999) / 1000);
}

double ElapsedSeconds(std::chrono::steady_clock::time_point start,
                      std::chrono::steady_clock::time_point end) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  return static_cast<double>(static_cast<uint32_t>(ms)) * 0.001;
}

// Settings that every verification transfer shares.
void SetCommonOptions(CURL* easy, const std::string& proxyUrl, int connectMs, int replyMs, int capMs) {
  curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.c_str());
  // An empty exception list, so that no_proxy in the environment cannot send a
  // request around the proxy under test.
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, connectMs)));
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, ReplyTimeoutSeconds(replyMs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(1, capMs)));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  // Nothing is pooled: every test opens its own connection and closes it.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
}

// A worker's thread. It counts as live until its object is destroyed, which happens
// only after the thread has finished: then nothing of it can still run when the
// process ends.
class CWorkerThread : public QThread {
 public:
  CWorkerThread() { g_liveThreads.fetch_add(1); }
  ~CWorkerThread() override {
    // Reached through deleteLater after finished(); the thread is past its last
    // event, so this only lets it leave the last lines of its exit path.
    wait();
    g_liveThreads.fetch_sub(1);
  }
};

}  // namespace

// One task on its way through the routes: the proxy is tried over the route that its
// kind calls for (two routes for GOPHER, the second result standing), and the
// resource's page is read line by line until "</body>".
class CVerifyProxyThread::Run {
 public:
  Run(CVerifyProxyThread& worker, const VerifyTask& task) : m_worker(worker), m_task(task) {
    m_result.taskId = task.id;
    m_result.slot = task.slot;
    m_result.row = task.row;
  }

  VerifyResult Go() {
    if (!IsVerifiableUrl(m_task.resource.url)) {
      m_result.status = VERIFY_BADURL;
      Status(qb::Format(qb::TrStd(kTextBadUrl).c_str(), m_task.resource.url.c_str()));
      return std::move(m_result);
    }
    switch (m_task.kind) {
      case ProxyKind::Http:
      case ProxyKind::Https:
        Route(Via::Http);
        break;
      case ProxyKind::Socks:
      case ProxyKind::Socks4:
      case ProxyKind::Socks5:
        Route(Via::Socks);
        break;
      case ProxyKind::Ftp:
        Route(Via::Ftp);
        break;
      case ProxyKind::Gopher:
        Route(Via::Http);
        Route(Via::Any);
        break;
      case ProxyKind::Any:
        Route(Via::Any);
        break;
    }
    return std::move(m_result);
  }

 private:
  // The proxy setting each route stands for: "http=A:P", "socks=A:P", "ftp=A:P", "A:P".
  enum class Via { Http, Socks, Ftp, Any };

  void Status(std::string text) {
    emit m_worker.StatusText(m_task.id, m_task.slot, m_task.row, QString::fromStdString(text));
    m_result.texts.push_back(std::move(text));
  }

  void Route(Via via) {
    const std::optional<VerifyUrl> url = SplitVerifyUrl(m_task.resource.url);
    if (!url) {
      m_result.status = VERIFY_BADURL;
      Status(qb::Format(qb::TrStd(kTextBadUrl).c_str(), m_task.resource.url.c_str()));
      return;
    }
    m_url = *url;
    const bool http = via != Via::Ftp;
    const bool ftp = via != Via::Http;
    if (m_url.scheme == VerifyUrl::Http && http) {
      VerifyHttp(via);
    } else if (m_url.scheme == VerifyUrl::Ftp && ftp) {
      VerifyFtp(via);
    } else {
      m_result.status = VERIFY_UNSUPPORTED;
    }
  }

  std::string CurlProxy(Via via) const {
    std::string scheme = "http://";
    if (via == Via::Socks) scheme = m_task.kind == ProxyKind::Socks5 ? "socks5://" : "socks4://";
    std::string host;
    if (IsPlainHost(m_task.address)) {
      host = m_task.address;
    } else if (IsIpv6Literal(m_task.address)) {
      host = "[" + m_task.address + "]";
    } else {
      return {};
    }
    return scheme + host + ":" + std::to_string(m_task.port);
  }

  std::string CurlUrl() const {
    std::string url = m_url.scheme == VerifyUrl::Ftp ? "ftp://" : "http://";
    url += m_url.host;
    if (m_url.port != 0) url += ":" + std::to_string(m_url.port);
    url += m_url.object.empty() ? std::string("/") : EscapePath(m_url.object);
    return url;
  }

  // The proxy's own log-on. Basic, which the proxies that ask for one take, costs no
  // extra round trip that would count in the proxy's time.
  void SetProxyLogOn(CURL* e) const {
    if (m_task.proxyUser.empty()) return;
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, m_task.proxyUser.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, m_task.proxyPassword.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
  }

  // The proxy refused the log-on, or wants one and got none: an HTTP proxy answers
  // 407 (some answer a wrong log-on with 401, as an origin would), a SOCKS5 proxy
  // rejects the user or offers no method without one.
  bool ProxyRefusedLogOn(CURL* e, CURLcode rc) const {
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

  void SetCredentials(CURL* e) const {
    if (m_url.user.empty()) return;
    curl_easy_setopt(e, CURLOPT_USERNAME, m_url.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, m_url.password.c_str());
  }

  CURLcode Perform(CURL* e) {
    const qb::CurlTransfer::Outcome out = m_worker.m_transfer.Run(e);
    switch (out.end) {
      case qb::CurlTransfer::End::Done:
        return static_cast<CURLcode>(out.code);
      case qb::CurlTransfer::End::Aborted:
        return CURLE_ABORTED_BY_CALLBACK;
      default:
        return CURLE_FAILED_INIT;
    }
  }

  // A transfer that ran out of time after the proxy had taken the connection: the
  // proxy is there but too slow, which the user must be able to tell from one that
  // refused or could not be reached (those never get a connect time). A SOCKS proxy
  // that takes the connection and never answers its greeting is still in libcurl's
  // connect phase, so it has no connect time either; its socket was connected,
  // which the local port tells.
  static bool TimedOutAfterConnect(CURL* e, CURLcode rc) {
    if (rc != CURLE_OPERATION_TIMEDOUT) return false;
    curl_off_t connectUs = 0;
    if (curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connectUs) == CURLE_OK && connectUs > 0) return true;
    long localPort = 0;
    return curl_easy_getinfo(e, CURLINFO_LOCAL_PORT, &localPort) == CURLE_OK && localPort > 0;
  }

  void VerifyHttp(Via via) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    curl_slist* list = nullptr;
    for (const char* h : {"Accept: text/*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
      curl_slist* next = curl_slist_append(list, h);
      if (!next) break;
      list = next;
    }
    std::unique_ptr<curl_slist, SlistDeleter> headers(list);
    // An empty host is a connection that could not be made at all.
    if (!easy || !list || m_url.host.empty()) {
      m_result.status = VERIFY_ERROR;
      Status(qb::TrStd(kTextError));
      return;
    }
    const std::string proxyUrl = CurlProxy(via);
    const std::string url = CurlUrl();
    CURL* e = easy.get();
    SetCommonOptions(e, proxyUrl, m_task.connectTimeoutMs, m_task.replyTimeoutMs, m_task.transferCapMs);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    SetCredentials(e);
    SetProxyLogOn(e);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Run::WriteBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);

    m_lineBuf.clear();
    m_found = false;
    m_bodyEnded = false;
    m_judge.Reset();
    m_result.anonymity.clear();
    m_result.exitAddress.clear();
    const auto start = std::chrono::steady_clock::now();
    CURLcode rc = CURLE_COULDNT_RESOLVE_PROXY;
    if (!proxyUrl.empty()) rc = Perform(e);
    // The last line of a body that does not end in a line feed counts too.
    if (rc == CURLE_OK && !m_lineBuf.empty()) TakeLine(m_lineBuf);
    m_lineBuf.clear();
    const auto end = std::chrono::steady_clock::now();

    if (ProxyRefusedLogOn(e, rc)) {
      m_result.status = VERIFY_PASSWORD;
      Status(qb::TrStd(kTextWrongPassword));
      return;
    }
    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && m_bodyEnded)) {
      m_result.seconds = ElapsedSeconds(start, end);
      m_result.status = m_found ? VERIFY_OK : VERIFY_MISMATCH;
      Status(qb::Format(qb::TrStd(m_found ? kTextAvailable : kTextMismatch).c_str(), m_result.seconds));
      // After the time was taken: learning the user's own addresses costs a request.
      if (m_found && m_judge.IsJudge()) Judge();
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

  // What the judge page that came through the proxy tells about it.
  void Judge() {
    std::shared_ptr<COwnAddresses> own = m_task.ownAddresses;
    if (!own) own = std::make_shared<COwnAddresses>();
    const std::vector<std::string> mine = own->For(m_task.resource.url, [this] { return DirectProbe(); });
    m_result.exitAddress = m_judge.View().remoteAddr;
    m_result.anonymity = AnonymityName(ClassifyJudgeView(m_judge.View(), mine));
  }

  // The same judge asked without any proxy: the address it sees is the user's own.
  COwnAddresses::Probe DirectProbe() {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return {};
    CURL* e = easy.get();
    const std::string url = CurlUrl();
    // An empty proxy also keeps the environment's proxy out of this request.
    SetCommonOptions(e, "", m_task.connectTimeoutMs, m_task.replyTimeoutMs, m_task.transferCapMs);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    SetCredentials(e);
    std::string body;
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Run::CollectBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &body);
    const CURLcode rc = Perform(e);
    COwnAddresses::Probe probe;
    probe.settled = rc != CURLE_ABORTED_BY_CALLBACK && !m_worker.Aborted();
    if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) {
      if (const std::optional<JudgeView> view = ParseJudgePage(body)) probe.remoteAddr = view->remoteAddr;
    }
    return probe;
  }

  static size_t CollectBody(char* data, size_t size, size_t count, void* p) {
    auto* body = static_cast<std::string*>(p);
    const size_t len = size * count;
    const size_t from = body->size() > 8 ? body->size() - 8 : 0;
    body->append(data, len);
    // The page's fields stand before its end; nothing after it is needed.
    if (body->find("</body>", from) != std::string::npos || body->size() > kMaxLineBytes) return 0;
    return len;
  }

  void VerifyFtp(Via via) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
      m_result.status = VERIFY_ERROR;
      Status(qb::TrStd(kTextError));
      return;
    }
    CURL* e = easy.get();
    const std::string proxyUrl = CurlProxy(via);
    const std::string url = CurlUrl();
    const bool viaSocks = via == Via::Socks;
    SetCommonOptions(e, proxyUrl, kFtpConnectTimeoutMs, kFtpReplyTimeoutMs, m_task.transferCapMs);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
    SetCredentials(e);
    SetProxyLogOn(e);
    if (viaSocks) {
      // Connect and log on, then stop: the log-on is the whole test.
      curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
    } else {
      // An HTTP proxy serves ftp:// URLs as proxied GET requests; its answer tells.
      curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Run::DiscardBody);
      curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
      curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Run::TakeHeader);
      curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    }

    Status(qb::Format(qb::TrStd(kTextConnectingSite).c_str(), 1, m_task.resource.url.c_str()));
    m_bodyEnded = false;
    m_authChallenge = false;
    const auto start = std::chrono::steady_clock::now();
    CURLcode rc = CURLE_COULDNT_RESOLVE_PROXY;
    if (!proxyUrl.empty() && !m_url.host.empty()) rc = Perform(e);
    const auto end = std::chrono::steady_clock::now();

    int status = VERIFY_PROXYFAILED;
    if (ProxyRefusedLogOn(e, rc)) {
      status = VERIFY_PASSWORD;
    } else if (viaSocks) {
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
      m_result.seconds = ElapsedSeconds(start, end);
      Status(qb::Format(qb::TrStd(kTextAvailable).c_str(), m_result.seconds));
    } else if (status == VERIFY_PASSWORD) {
      Status(qb::TrStd(kTextWrongPassword));
    } else if (status == VERIFY_TIMEOUT) {
      Status(qb::TrStd(kTextProxyTimedOut));
    } else {
      Status(qb::TrStd(kTextProxyConnectFailed));
    }
  }

  void TakeLine(std::string_view line) {
    const std::string& feature = m_task.resource.feature;
    if (!m_found) {
      if (line.find(feature) != std::string_view::npos) {
        m_found = true;
      } else if (!qb::IsValidUtf8(line)) {
        // The feature string is kept in UTF-8; a page in the legacy encoding is
        // compared in UTF-8 too, as the Windows version compared both in its code page.
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

  static size_t WriteBody(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<Run*>(p);
    const size_t len = size * count;
    if (self->m_worker.Aborted()) return 0;
    const std::string_view chunk(data, len);
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
      if (self->m_bodyEnded) return 0;
    }
    return self->m_bodyEnded ? 0 : len;
  }

  static size_t TakeHeader(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<Run*>(p);
    const std::string_view line(data, size * count);
    // Only the headers of the last answer count.
    if (line.substr(0, 5) == "HTTP/") self->m_authChallenge = false;
    if (line.size() > 17 && qb::AsciiCaseEqual(line.substr(0, 17), "WWW-Authenticate:"))
      self->m_authChallenge = true;
    return size * count;
  }

  static size_t DiscardBody(char*, size_t, size_t, void* p) {
    // The status line and headers of the proxy's answer are all an FTP test needs.
    static_cast<Run*>(p)->m_bodyEnded = true;
    return 0;
  }

  CVerifyProxyThread& m_worker;
  const VerifyTask& m_task;
  VerifyResult m_result;
  VerifyUrl m_url;
  // State of the HTTP body reader.
  std::string m_lineBuf;
  bool m_found = false;
  bool m_bodyEnded = false;
  bool m_authChallenge = false;
  JudgePageReader m_judge;
};

CVerifyProxyThread::CVerifyProxyThread() {
  qRegisterMetaType<VerifyResult>();
  std::lock_guard<std::mutex> g(g_registryLock);
  Registry().insert(this);
}

CVerifyProxyThread::~CVerifyProxyThread() {
  std::lock_guard<std::mutex> g(g_registryLock);
  Registry().erase(this);
}

int CVerifyProxyThread::LiveThreadCount() {
  return g_liveThreads.load();
}

void CVerifyProxyThread::AbortAll() {
  std::lock_guard<std::mutex> g(g_registryLock);
  for (CVerifyProxyThread* w : Registry()) w->Abort();
}

bool CVerifyProxyThread::CreateThread() {
  if (m_pThread) return true;
  auto* thread = new CWorkerThread;
  thread->setObjectName(QStringLiteral("CVerifyProxyThread"));
  thread->start();
  if (!thread->isRunning()) {
    delete thread;
    return false;
  }
  m_pThread = thread;
  moveToThread(thread);
  // The object ends on its own thread, after its last event; the thread object ends
  // on the thread that created it, once that thread runs its loop again.
  QObject::connect(thread, &QThread::finished, this, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  return true;
}

bool CVerifyProxyThread::Post(VerifyTask task) {
  if (!m_pThread) return false;
  return QMetaObject::invokeMethod(
      this, [this, task = std::move(task)] { emit Finished(Verify(task)); }, Qt::QueuedConnection);
}

bool CVerifyProxyThread::PostQuit() {
  if (!m_pThread) return false;
  return QMetaObject::invokeMethod(this, &CVerifyProxyThread::OnQuitVerify, Qt::QueuedConnection);
}

void CVerifyProxyThread::OnQuitVerify() {
  // The network objects live only inside a task, so nothing is held here.
  if (m_pThread) m_pThread->quit();
}

VerifyResult CVerifyProxyThread::Verify(const VerifyTask& task) {
  return Run(*this, task).Go();
}

}  // namespace qb
