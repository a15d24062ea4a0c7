// One verification task as a sequence of transfers, for whatever runs them.
//
// The routes of a task (two for GOPHER), the page reading until "</body>", the
// distinctions between a refused log-on, a time-out and an unreachable proxy, and a
// judge's direct request all live here. A driver only runs the easy handles it is
// given: the thread worker one at a time through qb::CurlTransfer, the check engine
// thousands at once on its event loops. Both therefore give the same results.
//
//   CVerifyStep step(task, aborted, status);
//   for (;;) {
//     const CVerifyStep::Want want = step.Next();
//     if (want == CVerifyStep::Want::Done) break;
//     if (want == CVerifyStep::Want::Wait) { ...ask again a little later...; continue; }
//     ...run step.Easy(), asking step.ReplyExpired now and then...
//     step.Finish(code);
//   }
//   VerifyResult r = step.TakeResult();
#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "verify/Judge.h"
#include "verify/VerifyTask.h"

typedef void CURL;
struct curl_slist;

namespace qb {

// The progress texts of a task.
inline constexpr const char* kTextBadUrl = QT_TRANSLATE_NOOP("Quillberry", "地址无效    (%s)");
inline constexpr const char* kTextConnectingSite = QT_TRANSLATE_NOOP("Quillberry", "连接站点%d    (%s)");
inline constexpr const char* kTextError = QT_TRANSLATE_NOOP("Quillberry", "异常错误");
inline constexpr const char* kTextAvailable = QT_TRANSLATE_NOOP("Quillberry", "可用(%.1f)");
inline constexpr const char* kTextMismatch = QT_TRANSLATE_NOOP("Quillberry", "不匹配(%.1f)");
inline constexpr const char* kTextProxyUnreachable = QT_TRANSLATE_NOOP("Quillberry", "无法连接代理");
inline constexpr const char* kTextProxyConnectFailed = QT_TRANSLATE_NOOP("Quillberry", "代理连接失败");
inline constexpr const char* kTextWrongPassword = QT_TRANSLATE_NOOP("Quillberry", "密码错误");
inline constexpr const char* kTextProxyTimedOut = QT_TRANSLATE_NOOP("Quillberry", "代理响应超时");
inline constexpr const char* kTextTlsIntercepted = QT_TRANSLATE_NOOP("Quillberry", "TLS被拦截: %s");
inline constexpr const char* kTextModified = QT_TRANSLATE_NOOP("Quillberry", "内容被篡改(第%zu字节起)");
inline constexpr const char* kTextCaFileUnusable = QT_TRANSLATE_NOOP("Quillberry", "无法读取CA文件    (%s)");

class CVerifyStep {
 public:
  using Clock = std::chrono::steady_clock;
  // Whether the task is being given up; asked while a page is read.
  using AbortedFn = std::function<bool()>;
  // Each progress text as it happens (it is kept in the result too).
  using StatusFn = std::function<void(const std::string&)>;

  CVerifyStep(const VerifyTask& task, AbortedFn aborted, StatusFn status = {});
  ~CVerifyStep();
  CVerifyStep(const CVerifyStep&) = delete;
  CVerifyStep& operator=(const CVerifyStep&) = delete;

  enum class Want {
    Transfer,  // run Easy() to its end, then Finish
    Wait,      // another task is learning what this one needs; call Next again later
    Done,      // TakeResult holds the answer
  };
  Want Next();
  // The transfer Next set up; it stays the step's.
  CURL* Easy() const { return m_easy; }
  // How the transfer ended. A driver that ends it because ReplyExpired said so passes
  // CURLE_OPERATION_TIMEDOUT, one that gives it up CURLE_ABORTED_BY_CALLBACK.
  void Finish(int curlCode);

  // Whether the transfer in progress has gone its reply time-out without a byte since
  // its request went out; otherwise when to ask again. libcurl's own speed check
  // counts in whole seconds and overshoots by a good part of one, so the drivers keep
  // this time themselves.
  bool ReplyExpired(Clock::time_point now, Clock::time_point& askAgain) const;

  const VerifyTask& Task() const { return m_task; }
  VerifyResult TakeResult() { return std::move(m_result); }

 private:
  // The proxy setting each route stands for: "http=A:P", "socks=A:P", "ftp=A:P", "A:P".
  enum class Via { Http, Socks, Ftp, Any };
  enum class Xfer { None, Http, Ftp, Probe, Family, Reference };

  void Status(std::string text);
  bool StartRoute(Via via);
  bool StartHttp(Via via);
  bool StartFtp(Via via);
  // A direct request for the page (no proxy): the judge's view of the user's own
  // address (Probe), or the page to hold the proxy's against (Reference).
  bool StartProbe(Xfer kind = Xfer::Probe);
  void EndReference(int rc);
  // The page that came through the proxy against the one the site sent directly.
  void CompareWithReference(const std::optional<std::string>& reference);
  void EndHttp(int rc);
  void EndFtp(int rc);
  void EndProbe(int rc);
  bool StartFamily(const std::vector<std::string>& judgeAddresses);
  void EndFamily(int rc);
  void Unresolved();
  void Judge(const std::vector<std::string>& own);
  void FreeEasy();
  std::string CurlProxy(Via via) const;
  std::string CurlUrl() const;
  void SetProxyLogOn(CURL* e) const;
  void SetProxyAddresses(CURL* e);
  void SetCredentials(CURL* e) const;
  bool ProxyRefusedLogOn(CURL* e, int rc) const;
  void TakeLine(std::string_view line);
  // An https:// resource: what the handshake through the proxy showed, set in the
  // result; false when it was interception (the result then says so).
  bool TrustedCertificate(CURL* e, int rc);
  // A plain resource asked for a seal: false when the page was changed on the way.
  bool IntactPage();
  // The page came with its seal near its start: it is kept whole and read to its end.
  bool ReadsSealedPage() const { return m_sealSeen && !m_rawOverflow; }
  // A sealed page, or one held against its direct fetch, is read to its end, past
  // "</body>", where injected scripts usually go.
  bool ReadsWholePage() const { return ReadsSealedPage() || (m_task.referencePages && !m_pageOverflow); }
  void Heard() { m_lastByte = Clock::now(); }

  static size_t WriteBody(char* data, size_t size, size_t count, void* p);
  static size_t TakeHeader(char* data, size_t size, size_t count, void* p);
  static size_t DiscardBody(char* data, size_t size, size_t count, void* p);
  static size_t CollectBody(char* data, size_t size, size_t count, void* p);

  VerifyTask m_task;
  AbortedFn m_aborted;
  StatusFn m_status;
  VerifyResult m_result;
  VerifyUrl m_url;
  std::shared_ptr<COwnAddresses> m_own;

  std::vector<Via> m_routes;
  std::size_t m_nextRoute = 0;
  // A working judge page waits for the user's own addresses, and, when the judge has
  // a name, for its addresses: one of the other family is asked through the proxy too.
  bool m_needOwn = false;
  bool m_needFamily = false;
  bool m_needReference = false;
  std::optional<JudgeView> m_otherFamily;

  // The transfer in progress.
  Xfer m_xfer = Xfer::None;
  CURL* m_easy = nullptr;
  curl_slist* m_headers = nullptr;
  curl_slist* m_resolve = nullptr;
  std::string m_proxyUrl;
  std::string m_curlUrl;
  bool m_viaSocks = false;
  int m_replyMs = 0;
  Clock::time_point m_start;
  Clock::time_point m_lastByte;

  // State of the HTTP body reader.
  std::string m_lineBuf;
  // A plain page is asked for with a fresh seal token; while the body may be sealed,
  // its bytes are kept as they came, and a sealed page is read to its end, past
  // "</body>", where injected scripts usually go.
  std::string m_sealToken;
  std::string m_raw;
  bool m_sealSeen = false;
  bool m_sealTruncated = false;
  bool m_rawOverflow = false;
  std::string m_sealHeader;
  char m_errorBuf[256] = {};
  std::string m_probeBody;
  // With referencePages: the page as it came through the proxy, while it is short
  // enough to compare.
  std::string m_page;
  bool m_pageOverflow = false;
  bool m_found = false;
  // The page carried a seal and came whole.
  bool m_sealIntact = false;
  bool m_bodyEnded = false;
  bool m_authChallenge = false;
  JudgePageReader m_judge;
};

}  // namespace qb
