// The download of one proxy-list page: a plain HTTP GET straight to the page's server,
// read line by line the way the Windows version read it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/CurlTransfer.h"

namespace qb {

// What the download session sends with every request.
inline constexpr const char* kDownloadAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
inline constexpr const char* kDownloadAccept = "Accept: text/*";

// The most proxies one downloaded page may add. The byte cap alone does not bound the
// rows: 64 MiB of short proxy lines make millions of them, and with them a list the
// window can no longer sort, verify or save in reasonable time. No real list page
// comes near this.
inline constexpr std::size_t kMaxProxiesPerPage = 100000;

// The session's limits, in milliseconds. The defaults are those of the Windows
// version; tests shorten them.
struct DownloadLimits {
  int connectMs = 5000;
  // No byte received for this long ends the page with a time-out. Counted from the
  // moment the request goes out, so it also bounds the wait for the response head.
  int receiveMs = 15000;
  // A page that keeps trickling in below the receive time-out would otherwise never
  // end: the whole transfer is given this long.
  int overallMs = 300000;
  // A page that grows past this is cut at the last whole line before it and extracted
  // as far as it came.
  std::size_t maxPageBytes = std::size_t{64} << 20;
  // The extraction of a page stops after this many proxies (duplicates included).
  std::size_t maxPageProxies = kMaxProxiesPerPage;
};

enum class FetchStatus {
  Ok,                // the page was read (to "</body>", to its end, or to the size cap)
  SessionFailed,     // the download session could not be opened; nothing can be downloaded
  BadUrl,            // the URL cannot be split into server, port and object, or is not HTTP
  RequestFailed,     // the connection or the request could not be created
  ConnectionFailed,  // the server could not be reached, a time-out, a broken connection
  Cancelled,         // the session was aborted
};

struct PageFetchResult {
  FetchStatus status = FetchStatus::RequestFailed;
  // The page as the Windows version built it: every line without its LF, followed by
  // "\r\n"; lines that are not UTF-8 are decoded from GB18030.
  std::string page;
  // The page reached maxPageBytes and was cut.
  bool cut = false;
  // The page ended with the first line that holds "</body>".
  bool bodyEnded = false;
  // Bytes of the response body received.
  std::int64_t bytes = 0;
  // libcurl's text for a failure (empty when there was none), for logs and the CLI.
  std::string error;
};

// The page as its body comes in, in whatever pieces the network hands over: cut into
// lines at LF, each decoded and stored as PageFetchResult::page describes, up to the
// first line that holds "</body>" or the size cap. Sets the result's page, cut,
// bodyEnded and bytes.
class PageLineReader {
 public:
  PageLineReader(PageFetchResult& result, std::size_t maxPageBytes);
  // The next piece of the body. False once the page is complete: a line holding
  // "</body>" was taken, or the cap was reached (the line running into it is dropped).
  bool Take(std::string_view chunk);
  // The body ended by itself: its last line counts even without its LF.
  void Finish();

 private:
  void TakeLine(std::string_view line);
  bool TakeLines(std::string_view chunk);

  PageFetchResult& m_result;
  std::size_t m_maxPageBytes;
  std::string m_lineBuf;  // the start of a line whose LF has not come yet
};

// Receives the body bytes so far and the announced length (-1 when unknown). Called on
// the thread that runs Fetch.
using FetchProgress = std::function<void(std::int64_t received, std::int64_t expected)>;

// The URL a source's address is fetched from: "http://" is put in front unless the
// address begins with it (in any letter case). Bytes that cannot stand in a request
// line (controls, blanks, non-ASCII) are percent-escaped.
std::string SourceRequestUrl(std::string_view url);

// One download run's internet session. Fetch runs on one worker thread at a time;
// Abort may be called from any thread, and ends the running transfer at once.
class CDownloadSession {
 public:
  explicit CDownloadSession(DownloadLimits limits = {});
  ~CDownloadSession();
  CDownloadSession(const CDownloadSession&) = delete;
  CDownloadSession& operator=(const CDownloadSession&) = delete;

  // False when the session could not be opened; every Fetch then fails with
  // SessionFailed.
  bool IsOpen() const { return m_transfer.Valid(); }
  const DownloadLimits& Limits() const { return m_limits; }

  // Downloads the page of a source's URL (as the user wrote it). Never goes through a
  // proxy, whatever the environment says.
  PageFetchResult Fetch(std::string_view sourceUrl, const FetchProgress& progress = {});

  void Abort() { m_transfer.Abort(); }
  bool Aborted() const { return m_transfer.Aborted(); }

 private:
  DownloadLimits m_limits;
  qb::CurlTransfer m_transfer;
};

}  // namespace qb
