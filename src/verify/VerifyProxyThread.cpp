#include "verify/VerifyProxyThread.h"

#include <QThread>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "settings/Settings.h"

std::atomic<bool> g_bCaptureVerifyPage{false};
std::string g_sVerifyPage;
std::atomic<int> g_nVerifyCapMs{kDefaultVerifyCapMs};

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Win32)";
// The fixed values of an FTP log-on test; the user's time-outs apply to pages only.
constexpr int kFtpConnectTimeoutMs = 5000;
constexpr int kFtpReplyTimeoutMs = 6000;
// A page line longer than this is taken as it stands and reading goes on with a new
// line, so that a body without line feeds cannot grow without bound.
constexpr std::size_t kMaxLineBytes = 4u << 20;

std::once_flag g_curlInit;

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

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
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

// Settings that every verification transfer shares.
void SetCommonOptions(CURL* easy, const std::string& proxyUrl, int connectMs, int replyMs) {
  curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.c_str());
  // An empty exception list, so that no_proxy in the environment cannot send a
  // request around the proxy under test.
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, connectMs)));
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, ReplyTimeoutSeconds(replyMs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(1, g_nVerifyCapMs.load())));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  // Nothing is pooled: every test opens its own connection and closes it.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
}

}  // namespace

CVerifyProxyThread::CVerifyProxyThread() {
  std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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

void CVerifyProxyThread::SetTarget(QObject* notify, unsigned statusMsg, unsigned doneMsg, int nID,
                                   int lParam) {
  m_hNotifyWnd = notify;
  m_nStatusMsg = statusMsg;
  m_nDoneMsg = doneMsg;
  m_nID = nID;
  m_nLParam = lParam;
}

bool CVerifyProxyThread::SetProxy(const std::string& line) {
  ProxyFields f;
  if (!ParseProxyLine(line, f)) return false;
  return SetProxyFields(f.addr, f.port, f.type);
}

bool CVerifyProxyThread::SetProxyFields(const std::string& addr, const std::string& port,
                                        const std::string& type) {
  m_sProxyAddr = addr;
  const std::string_view trimmed = qb::Trim(port);
  const long long value = qb::CAtoll(trimmed);
  if (value < 1 || value > 65535) return false;
  m_sProxyPort = std::string(trimmed);
  const std::string upper = qb::AsciiUpper(type);
  for (int i = 0; i < 8; ++i) {
    if (upper == ProxyTypeNames[i]) {
      m_nProxyType = i;
      m_bProxySet = 1;
      return true;
    }
  }
  return false;
}

bool CVerifyProxyThread::AddVerifyItem(const std::string& url, const std::string& feature) {
  if (m_nVerifyItems > 0) return false;
  const std::string upper = qb::AsciiUpper(url);
  if (!StartsWith(upper, "FTP://") && !StartsWith(upper, "HTTP://")) return false;
  m_aVerifyItems[0] = VerifyItem{url, feature, VERIFY_NONE, 50.0};
  m_nVerifyItems = 1;
  return true;
}

bool CVerifyProxyThread::SplitUrl(const std::string& url) {
  const std::string_view u = qb::TrimLeft(url);
  if (u.empty()) return false;
  m_sHost.clear();
  m_sObject.clear();
  m_sUser.clear();
  m_sPassword.clear();
  m_nUrlScheme = 0;
  m_nPort = 0;

  const std::size_t sep = u.find("://");
  if (sep == std::string_view::npos) return false;
  const std::string scheme = qb::AsciiLower(u.substr(0, sep + 3));
  if (scheme == "http://") {
    m_nUrlScheme = 1;
  } else if (scheme == "ftp://") {
    m_nUrlScheme = 2;
  }
  std::string_view rest = u.substr(sep + 3);

  std::string_view authority = rest;
  const std::size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    m_sObject = std::string(rest.substr(slash));
    authority = rest.substr(0, slash);
  }

  std::string_view hostPort = authority;
  const std::size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
    const std::size_t colon = userInfo.find(':');
    if (colon != std::string_view::npos) {
      m_sUser = std::string(userInfo.substr(0, colon));
      m_sPassword = std::string(userInfo.substr(colon + 1));
    } else {
      m_sUser = std::string(userInfo);
    }
  }

  const std::size_t colon = hostPort.find(':');
  if (colon != std::string_view::npos) {
    m_sHost = std::string(hostPort.substr(0, colon));
    m_nPort = static_cast<unsigned short>(qb::CAtoi(hostPort.substr(colon + 1)) & 0xFFFF);
    if (m_nPort == 0) return false;
  } else {
    m_sHost = std::string(hostPort);
  }
  return true;
}

namespace {

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

bool CVerifyProxyThread::CreateThread() {
  if (m_pThread) return true;
  auto* thread = new CWorkerThread;
  thread->setObjectName(QStringLiteral("CVerifyProxyThread"));
  thread->start();
  if (!thread->isRunning()) {
    delete thread;
    return false;
  }
  m_bStop = 0;
  m_pThread = thread;
  moveToThread(thread);
  // The object ends on its own thread, after its last event; the thread object ends
  // on the thread that created it, once that thread runs its loop again.
  QObject::connect(thread, &QThread::finished, this, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  return true;
}

bool CVerifyProxyThread::PostThreadMessage(unsigned msg) {
  if (!m_pThread) return false;
  if (msg == WM_VERIFYPROXY) {
    return QMetaObject::invokeMethod(this, &CVerifyProxyThread::OnVerify, Qt::QueuedConnection);
  }
  if (msg == WM_QUITVERIFY) {
    return QMetaObject::invokeMethod(this, &CVerifyProxyThread::OnQuitVerify, Qt::QueuedConnection);
  }
  return false;
}

void CVerifyProxyThread::Abort() {
  m_bAbort.store(true);
  std::lock_guard<std::mutex> g(m_sessionLock);
  if (m_pSession) curl_multi_wakeup(static_cast<CURLM*>(m_pSession));
}

void CVerifyProxyThread::OnQuitVerify() {
  m_bRunning = 0;
  m_bStop = 1;
  // The network objects live only inside a verification, so nothing is held here.
  if (m_pThread) m_pThread->quit();
}

void CVerifyProxyThread::OnVerify() {
  m_aVerifyItems[0].m_nStatus = VERIFY_NONE;
  m_aVerifyItems[0].m_dTime = 50.0;
  m_nCurItem = 0;
  m_bStop = 0;
  m_sCapturedPage.clear();
  if (m_nVerifyItems > 0 && m_bProxySet && m_nID != kNoWorkerId) {
    m_bRunning = 1;
    for (; m_nCurItem < m_nVerifyItems && !m_bStop; ++m_nCurItem) {
      switch (m_nProxyType) {
        case 1:
        case 2:
          VerifyByHttpProxy(m_nCurItem);
          break;
        case 3:
        case 4:
        case 5:
          VerifyBySocksProxy(m_nCurItem);
          break;
        case 6:
          VerifyByFtpProxy(m_nCurItem);
          break;
        case 7:
          VerifyByHttpProxy(m_nCurItem);
          VerifyByAnyProxy(m_nCurItem);
          break;
        default:
          VerifyByAnyProxy(m_nCurItem);
          break;
      }
    }
  }
  SendDone();
}

void CVerifyProxyThread::VerifyByHttpProxy(int item) {
  Route("http=%s:%s", item, true, false);
}
void CVerifyProxyThread::VerifyBySocksProxy(int item) {
  Route("socks=%s:%s", item, true, true);
}
void CVerifyProxyThread::VerifyByFtpProxy(int item) {
  Route("ftp=%s:%s", item, false, true);
}
void CVerifyProxyThread::VerifyByAnyProxy(int item) {
  Route("%s:%s", item, true, true);
}

void CVerifyProxyThread::Route(const char* format, int item, bool http, bool ftp) {
  if (item < 0 || item >= m_nVerifyItems) return;
  VerifyItem& it = m_aVerifyItems[item];
  if (!SplitUrl(it.m_sUrl)) {
    it.m_nStatus = VERIFY_BADURL;
    SendStatusText(qb::Format(kTextBadUrl, it.m_sUrl.c_str()));
    return;
  }
  const std::string proxy = qb::Format(format, m_sProxyAddr.c_str(), m_sProxyPort.c_str());
  if (m_nUrlScheme == 1 && http) {
    VerifyHttp(proxy, item);
  } else if (m_nUrlScheme == 2 && ftp) {
    VerifyFtp(proxy, item);
  } else {
    it.m_nStatus = VERIFY_UNSUPPORTED;
  }
}

std::string CVerifyProxyThread::CurlProxyFor(const std::string& proxy) const {
  std::string scheme = "http://";
  if (StartsWith(proxy, "socks=")) scheme = m_nProxyType == 5 ? "socks5://" : "socks4://";
  std::string host;
  if (IsPlainHost(m_sProxyAddr)) {
    host = m_sProxyAddr;
  } else if (IsIpv6Literal(m_sProxyAddr)) {
    host = "[" + m_sProxyAddr + "]";
  } else {
    return {};
  }
  return scheme + host + ":" + m_sProxyPort;
}

std::string CVerifyProxyThread::CurlUrl() const {
  std::string url = m_nUrlScheme == 2 ? "ftp://" : "http://";
  url += m_sHost;
  if (m_nPort != 0) url += ":" + std::to_string(m_nPort);
  url += m_sObject.empty() ? std::string("/") : EscapePath(m_sObject);
  return url;
}

void CVerifyProxyThread::SendStatusText(std::string text) {
  m_sStatusText = std::move(text);
  if (m_hNotifyWnd) emit StatusReport(this, m_nID, m_nLParam, QString::fromStdString(m_sStatusText));
}

void CVerifyProxyThread::SendDone() {
  if (m_hNotifyWnd) emit DoneReport(this, m_nID, m_nLParam);
}

double CVerifyProxyThread::ElapsedSeconds(std::chrono::steady_clock::time_point start,
                                          std::chrono::steady_clock::time_point end) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  return static_cast<double>(static_cast<uint32_t>(ms)) * 0.001;
}

int CVerifyProxyThread::Progress(void* self, long long, long long, long long, long long) {
  return static_cast<CVerifyProxyThread*>(self)->m_bAbort.load(std::memory_order_relaxed) ? 1 : 0;
}

int CVerifyProxyThread::Perform(void* handle) {
  CURL* easy = static_cast<CURL*>(handle);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CVerifyProxyThread::Progress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);

  CURLM* multi = curl_multi_init();
  if (!multi) return CURLE_OUT_OF_MEMORY;
  {
    std::lock_guard<std::mutex> g(m_sessionLock);
    m_pSession = multi;
  }
  CURLcode result = CURLE_OK;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    result = CURLE_FAILED_INIT;
  } else {
    for (;;) {
      // Checked here as well as in the progress callback: Abort wakes the poll below,
      // and the next round must not wait for curl to call back.
      if (m_bAbort.load()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        result = CURLE_FAILED_INIT;
        break;
      }
      if (running == 0) {
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
          if (msg->msg == CURLMSG_DONE) result = msg->data.result;
        }
        break;
      }
      if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
        result = CURLE_FAILED_INIT;
        break;
      }
    }
    curl_multi_remove_handle(multi, easy);
  }
  {
    std::lock_guard<std::mutex> g(m_sessionLock);
    m_pSession = nullptr;
  }
  curl_multi_cleanup(multi);
  return result;
}

void CVerifyProxyThread::TakeLine(std::string_view line) {
  VerifyItem& it = m_aVerifyItems[m_nCurItem];
  if (!m_bFound) {
    if (line.find(it.m_sFeature) != std::string_view::npos) {
      m_bFound = true;
    } else if (!qb::IsValidUtf8(line)) {
      // The feature string is kept in UTF-8; a page in the legacy encoding is
      // compared in UTF-8 too, as the Windows version compared both in its code page.
      m_bFound = qb::DecodeLegacyLine(line).find(it.m_sFeature) != std::string::npos;
    }
  }
  if (g_bCaptureVerifyPage.load(std::memory_order_relaxed)) {
    m_sCapturedPage += qb::DecodeLegacyLine(line);
    m_sCapturedPage += "\r\n";
  }
  if (line.find("</body>") != std::string_view::npos) m_bBodyEnded = true;
}

size_t CVerifyProxyThread::WriteBody(char* data, size_t size, size_t count, void* p) {
  auto* self = static_cast<CVerifyProxyThread*>(p);
  const size_t len = size * count;
  if (self->m_bAbort.load(std::memory_order_relaxed)) return 0;
  const std::string_view chunk(data, len);
  size_t pos = 0;
  while (pos < len) {
    const size_t lf = chunk.find('\n', pos);
    if (lf == std::string_view::npos) {
      self->m_sLineBuf.append(chunk.substr(pos));
      if (self->m_sLineBuf.size() > kMaxLineBytes) {
        self->TakeLine(self->m_sLineBuf);
        self->m_sLineBuf.clear();
      }
      break;
    }
    if (self->m_sLineBuf.empty()) {
      self->TakeLine(chunk.substr(pos, lf - pos));
    } else {
      self->m_sLineBuf.append(chunk.substr(pos, lf - pos));
      self->TakeLine(self->m_sLineBuf);
      self->m_sLineBuf.clear();
    }
    pos = lf + 1;
    // Stopping in the write callback ends the transfer; the caller knows it was meant.
    if (self->m_bBodyEnded) return 0;
  }
  if (self->m_bBodyEnded) return 0;
  return len;
}

size_t CVerifyProxyThread::TakeHeader(char* data, size_t size, size_t count, void* p) {
  auto* self = static_cast<CVerifyProxyThread*>(p);
  const std::string_view line(data, size * count);
  // Only the headers of the last answer count.
  if (line.substr(0, 5) == "HTTP/") self->m_bAuthChallenge = false;
  if (line.size() > 17 && qb::AsciiCaseEqual(line.substr(0, 17), "WWW-Authenticate:"))
    self->m_bAuthChallenge = true;
  return size * count;
}

size_t CVerifyProxyThread::DiscardBody(char*, size_t, size_t, void* p) {
  // The status line and headers of the proxy's answer are all an FTP test needs.
  static_cast<CVerifyProxyThread*>(p)->m_bBodyEnded = true;
  return 0;
}

void CVerifyProxyThread::VerifyHttp(const std::string& proxy, int item) {
  if (item < 0 || item >= m_nVerifyItems) return;
  VerifyItem& it = m_aVerifyItems[item];
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  curl_slist* list = nullptr;
  for (const char* h : {"Accept: text/*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
    curl_slist* next = curl_slist_append(list, h);
    if (!next) break;
    list = next;
  }
  headers.reset(list);
  // An empty host is a connection that could not be made at all.
  if (!easy || !list || m_sHost.empty()) {
    it.m_nStatus = VERIFY_ERROR;
    SendStatusText(kTextError);
    return;
  }
  const std::string proxyUrl = CurlProxyFor(proxy);
  const std::string url = CurlUrl();
  CURL* e = easy.get();
  SetCommonOptions(e, proxyUrl, g_nConnectTimeoutMs, g_nVerifyTimeoutMs);
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  if (!m_sUser.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, m_sUser.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, m_sPassword.c_str());
  }
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyProxyThread::WriteBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);

  m_sLineBuf.clear();
  m_bFound = false;
  m_bBodyEnded = false;
  const auto start = std::chrono::steady_clock::now();
  CURLcode rc = CURLE_COULDNT_RESOLVE_PROXY;
  if (!proxyUrl.empty()) rc = static_cast<CURLcode>(Perform(e));
  if (rc == CURLE_OK && !m_sLineBuf.empty()) {
    // The last line of a body that does not end in a line feed counts too.
    TakeLine(m_sLineBuf);
  }
  m_sLineBuf.clear();
  const auto end = std::chrono::steady_clock::now();

  if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && m_bBodyEnded)) {
    it.m_dTime = ElapsedSeconds(start, end);
    if (m_bFound) {
      it.m_nStatus = VERIFY_OK;
      SendStatusText(qb::Format(kTextAvailable, it.m_dTime));
    } else {
      it.m_nStatus = VERIFY_MISMATCH;
      SendStatusText(qb::Format(kTextMismatch, it.m_dTime));
    }
    return;
  }
  it.m_nStatus = VERIFY_PROXYFAILED;
  SendStatusText(kTextProxyUnreachable);
  m_nCurItem = m_nVerifyItems;
}

void CVerifyProxyThread::VerifyFtp(const std::string& proxy, int item) {
  if (item < 0 || item >= m_nVerifyItems) return;
  VerifyItem& it = m_aVerifyItems[item];
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    it.m_nStatus = VERIFY_ERROR;
    SendStatusText(kTextError);
    return;
  }
  CURL* e = easy.get();
  const std::string proxyUrl = CurlProxyFor(proxy);
  const std::string url = CurlUrl();
  const bool viaSocks = StartsWith(proxy, "socks=");
  SetCommonOptions(e, proxyUrl, kFtpConnectTimeoutMs, kFtpReplyTimeoutMs);
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
  if (!m_sUser.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, m_sUser.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, m_sPassword.c_str());
  }
  if (viaSocks) {
    // Connect and log on, then stop: the log-on is the whole test.
    curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
  } else {
    // An HTTP proxy serves ftp:// URLs as proxied GET requests; its answer tells.
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CVerifyProxyThread::DiscardBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CVerifyProxyThread::TakeHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  }

  SendStatusText(qb::Format(kTextConnectingSite, item + 1, it.m_sUrl.c_str()));
  m_bBodyEnded = false;
  m_bAuthChallenge = false;
  const auto start = std::chrono::steady_clock::now();
  CURLcode rc = CURLE_COULDNT_RESOLVE_PROXY;
  if (!proxyUrl.empty() && !m_sHost.empty()) rc = static_cast<CURLcode>(Perform(e));
  const auto end = std::chrono::steady_clock::now();

  int status = VERIFY_PROXYFAILED;
  if (viaSocks) {
    if (rc == CURLE_OK) {
      status = VERIFY_OK;
    } else if (rc == CURLE_LOGIN_DENIED) {
      status = VERIFY_PASSWORD;
    }
  } else if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && m_bBodyEnded)) {
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200 && code < 300) {
      status = VERIFY_OK;
    } else if (code == 401 || (code == 403 && m_bAuthChallenge)) {
      // The proxy asks for other FTP credentials: the server refused the log-on. A
      // plain 403 is the proxy's own refusal and counts as a failure.
      status = VERIFY_PASSWORD;
    }
  }

  if (status == VERIFY_OK) {
    it.m_dTime = ElapsedSeconds(start, end);
    it.m_nStatus = VERIFY_OK;
    SendStatusText(qb::Format(kTextAvailable, it.m_dTime));
  } else if (status == VERIFY_PASSWORD) {
    it.m_nStatus = VERIFY_PASSWORD;
    SendStatusText(kTextWrongPassword);
  } else {
    it.m_nStatus = VERIFY_PROXYFAILED;
    SendStatusText(kTextProxyConnectFailed);
    m_nCurItem = m_nVerifyItems;
  }
}
