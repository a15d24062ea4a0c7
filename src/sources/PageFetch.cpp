#include "sources/PageFetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>

#include "base/Text.h"

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

// What one transfer collects while libcurl calls back.
struct PageReader {
  CURL* easy = nullptr;
  const qb::CurlTransfer* transfer = nullptr;
  const FetchProgress* progress = nullptr;
  PageFetchResult* result = nullptr;
  PageLineReader* lines = nullptr;
  // The transfer was ended on purpose by the callback ("</body>" seen, or the cap).
  bool stopped = false;
  Clock::time_point lastByte;

  static size_t Write(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<PageReader*>(p);
    const size_t len = size * count;
    if (self->transfer->Aborted()) return 0;
    self->lastByte = Clock::now();
    if (!self->lines->Take(std::string_view(data, len))) {
      self->stopped = true;
      return 0;
    }
    if (self->progress && *self->progress) {
      curl_off_t expected = -1;
      curl_easy_getinfo(self->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
      (*self->progress)(self->result->bytes, expected);
    }
    return len;
  }

  static size_t Header(char*, size_t size, size_t count, void* p) {
    auto* self = static_cast<PageReader*>(p);
    if (self->transfer->Aborted()) return 0;
    self->lastByte = Clock::now();
    return size * count;
  }
};

FetchStatus Classify(CURLcode rc) {
  switch (rc) {
    case CURLE_OK:
      return FetchStatus::Ok;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return FetchStatus::BadUrl;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_NOT_BUILT_IN:
      return FetchStatus::RequestFailed;
    default:
      return FetchStatus::ConnectionFailed;
  }
}

// The server part must be a host and at most a port of 1 to 65535. libcurl would take
// "http://https://host/" (a source written with another scheme, after "http://" was
// put in front) for the server "https" on the default port; such an address cannot be
// split into a server and a port, and the source is skipped.
bool HasValidServer(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return false;
  std::string_view auth = url.substr(scheme + 3);
  auth = auth.substr(0, std::min(auth.size(), auth.find_first_of("/?#")));
  if (const std::size_t at = auth.rfind('@'); at != std::string_view::npos) auth.remove_prefix(at + 1);
  std::string_view host = auth;
  std::string_view port;
  bool hasPort = false;
  if (auth.starts_with('[')) {
    const std::size_t close = auth.find(']');
    if (close == std::string_view::npos) return false;
    host = auth.substr(0, close + 1);
    std::string_view rest = auth.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      hasPort = true;
      port = rest.substr(1);
    }
  } else if (const std::size_t colon = auth.find(':'); colon != std::string_view::npos) {
    host = auth.substr(0, colon);
    hasPort = true;
    port = auth.substr(colon + 1);
  }
  if (host.empty()) return false;
  if (!hasPort) return true;
  if (port.empty() || port.size() > 5) return false;
  for (unsigned char c : port) {
    if (!qb::IsDigit(c)) return false;
  }
  const int value = qb::CAtoi(port);
  return value >= 1 && value <= 65535;
}

}  // namespace

std::string SourceRequestUrl(std::string_view url) {
  std::string full;
  if (url.size() < 7 || !qb::AsciiCaseEqual(url.substr(0, 7), "http://")) full = "http://";
  return full + qb::EscapeUnsafeUrlBytes(url);
}

PageLineReader::PageLineReader(PageFetchResult& result, std::size_t maxPageBytes)
    : m_result(result), m_maxPageBytes(maxPageBytes) {}

void PageLineReader::TakeLine(std::string_view line) {
  if (qb::IsValidUtf8(line)) {
    m_result.page.append(line);
  } else {
    m_result.page += qb::DecodeLegacyLine(line);
  }
  m_result.page.append("\r\n");
  if (line.find("</body>") != std::string_view::npos) m_result.bodyEnded = true;
}

bool PageLineReader::TakeLines(std::string_view chunk) {
  std::size_t pos = 0;
  while (pos < chunk.size()) {
    const std::size_t lf = chunk.find('\n', pos);
    if (lf == std::string_view::npos) {
      m_lineBuf.append(chunk.substr(pos));
      break;
    }
    if (m_lineBuf.empty()) {
      TakeLine(chunk.substr(pos, lf - pos));
    } else {
      m_lineBuf.append(chunk.substr(pos, lf - pos));
      TakeLine(m_lineBuf);
      m_lineBuf.clear();
    }
    pos = lf + 1;
    if (m_result.bodyEnded) return false;
  }
  return true;
}

bool PageLineReader::Take(std::string_view chunk) {
  const std::size_t had = static_cast<std::size_t>(m_result.bytes);
  const bool overCap = had + chunk.size() > m_maxPageBytes;
  if (overCap) chunk = chunk.substr(0, m_maxPageBytes > had ? m_maxPageBytes - had : 0);
  m_result.bytes += static_cast<std::int64_t>(chunk.size());
  if (!TakeLines(chunk)) return false;
  if (overCap) {
    // The line running into the cap is incomplete: a proxy cut in half there would
    // come out with a wrong port, so the page ends with the last whole line.
    m_result.cut = true;
    m_lineBuf.clear();
    return false;
  }
  return true;
}

void PageLineReader::Finish() {
  if (!m_lineBuf.empty()) TakeLine(m_lineBuf);
  m_lineBuf.clear();
}

CDownloadSession::CDownloadSession(DownloadLimits limits) : m_limits(limits) {}

CDownloadSession::~CDownloadSession() = default;

PageFetchResult CDownloadSession::Fetch(std::string_view sourceUrl, const FetchProgress& progress) {
  PageFetchResult result;
  if (!m_transfer.Valid()) {
    result.status = FetchStatus::SessionFailed;
    result.error = "the download session could not be opened";
    return result;
  }
  if (m_transfer.Aborted()) {
    result.status = FetchStatus::Cancelled;
    return result;
  }
  const std::string url = SourceRequestUrl(sourceUrl);
  if (!HasValidServer(url)) {
    result.status = FetchStatus::BadUrl;
    result.error = "the address has no valid server and port";
    return result;
  }
  CURL* easy = curl_easy_init();
  if (!easy) {
    result.status = FetchStatus::RequestFailed;
    result.error = "the request could not be created";
    return result;
  }

  PageLineReader lines(result, m_limits.maxPageBytes);
  PageReader reader;
  reader.easy = easy;
  reader.lines = &lines;
  reader.transfer = &m_transfer;
  reader.progress = &progress;
  reader.result = &result;

  char errorText[CURL_ERROR_SIZE] = {};
  // The agent text goes in with the session; the Windows version also asked for
  // "User-Agent: HttpClient", but only if new, so the agent text is what was sent.
  curl_slist* headers = curl_slist_append(nullptr, kDownloadAccept);
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption opt, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(easy, opt, value);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_ERRORBUFFER, errorText);
  // Straight to the page's server: an empty proxy switches the proxy environment
  // variables off, and "*" keeps every host away from any proxy.
  set(CURLOPT_PROXY, "");
  set(CURLOPT_NOPROXY, "*");
  set(CURLOPT_PROTOCOLS_STR, "http");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_USERAGENT, kDownloadAgent);
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, m_limits.connectMs)));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(1, m_limits.overallMs)));
  // Nothing is cached or pooled: every page comes fresh from its server.
  set(CURLOPT_FRESH_CONNECT, 1L);
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_WRITEFUNCTION, &PageReader::Write);
  set(CURLOPT_WRITEDATA, &reader);
  set(CURLOPT_HEADERFUNCTION, &PageReader::Header);
  set(CURLOPT_HEADERDATA, &reader);

  bool stalled = false;
  if (rc == CURLE_OK) {
    const auto receive = std::chrono::milliseconds(std::max(1, m_limits.receiveMs));
    reader.lastByte = Clock::now();
    // Until the request is out, the connection time-out governs; after that, the
    // receive time-out counts from the last byte that came in.
    const qb::CurlTransfer::Outcome out = m_transfer.Run(easy, [&]() -> int {
      const auto now = Clock::now();
      curl_off_t pretransfer = 0;
      curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
      if (pretransfer == 0) reader.lastByte = std::max(reader.lastByte, now);
      if (now - reader.lastByte >= receive) return -1;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(receive - (now - reader.lastByte));
      return static_cast<int>(std::clamp<long long>(left.count(), 1, 100));
    });
    switch (out.end) {
      case qb::CurlTransfer::End::Done:
        rc = static_cast<CURLcode>(out.code);
        break;
      case qb::CurlTransfer::End::Stopped:
        stalled = true;
        break;
      case qb::CurlTransfer::End::Aborted:
        rc = CURLE_ABORTED_BY_CALLBACK;
        break;
      case qb::CurlTransfer::End::Failed:
        rc = CURLE_FAILED_INIT;
        break;
    }
  }
  curl_easy_cleanup(easy);
  curl_slist_free_all(headers);

  if (m_transfer.Aborted()) {
    result.status = FetchStatus::Cancelled;
    result.page.clear();
    return result;
  }
  if (stalled) {
    result.status = FetchStatus::ConnectionFailed;
    result.error = qb::Format("no data received for %d ms", m_limits.receiveMs);
  } else if (reader.stopped) {
    result.status = FetchStatus::Ok;
  } else {
    result.status = Classify(rc);
    if (rc != CURLE_OK) result.error = errorText[0] ? errorText : curl_easy_strerror(rc);
  }
  if (result.status == FetchStatus::Ok) {
    // The last line counts even without its line feed.
    lines.Finish();
  } else {
    // A failed page is not extracted, not even the part that came.
    result.page.clear();
  }
  return result;
}

}  // namespace qb
