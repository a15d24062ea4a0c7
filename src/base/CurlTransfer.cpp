#include "base/CurlTransfer.h"

#include <curl/curl.h>

namespace qb {

namespace {
// How long one wait lasts when the owner sets no other limit; Abort wakes it anyway.
constexpr int kDefaultWaitMs = 1000;
}  // namespace

CurlGlobal::CurlGlobal() : m_ok(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}

CurlTransfer::CurlTransfer() : m_multi(curl_multi_init()) {}

CurlTransfer::~CurlTransfer() {
  if (m_multi) curl_multi_cleanup(m_multi);
}

void CurlTransfer::Abort() {
  m_abort.store(true);
  if (m_multi) curl_multi_wakeup(m_multi);
}

int CurlTransfer::Progress(void* self, long long, long long, long long, long long) {
  return static_cast<CurlTransfer*>(self)->Aborted() ? 1 : 0;
}

CurlTransfer::Outcome CurlTransfer::Run(CURL* easy, const Tick& tick) {
  Outcome out;
  if (!m_multi) return out;
  if (Aborted()) {
    out.end = End::Aborted;
    return out;
  }
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::Progress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) return out;
  for (;;) {
    // Checked here as well as in the progress callback: Abort wakes the poll below,
    // and the next round must not wait for libcurl to call back.
    if (Aborted()) {
      out.end = End::Aborted;
      break;
    }
    int running = 0;
    if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
      out.end = End::Failed;
      break;
    }
    if (running == 0) {
      out.end = End::Done;
      out.code = CURLE_OK;
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) out.code = msg->data.result;
      }
      // A transfer ended by the progress callback is an abort, not a failure of its own.
      if (out.code == CURLE_ABORTED_BY_CALLBACK && Aborted()) out.end = End::Aborted;
      break;
    }
    int waitMs = kDefaultWaitMs;
    if (tick) {
      waitMs = tick();
      if (waitMs < 0) {
        out.end = End::Stopped;
        break;
      }
    }
    if (curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
      out.end = End::Failed;
      break;
    }
  }
  curl_multi_remove_handle(m_multi, easy);
  return out;
}

}  // namespace qb
