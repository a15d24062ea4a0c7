#include "sources/SourceDownloader.h"

#include <memory>

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListFile.h"

namespace qb {

std::atomic<bool> g_bDownloading{false};

DownloadRefusal CheckDownloadSources(const std::vector<CProxySource>& sources) {
  if (g_bDownloading.load()) return DownloadRefusal::Downloading;
  if (sources.empty()) return DownloadRefusal::NoSources;
  if (std::none_of(sources.begin(), sources.end(), [](const CProxySource& s) { return s.m_bEnabled; }))
    return DownloadRefusal::NoneTicked;
  return DownloadRefusal::None;
}

QString DownloadingButtonText(const std::string& sourceName) {
  return QString::fromStdString(sourceName) + QStringLiteral("...");
}

CSourceDownloader::CSourceDownloader(QObject* parent) : QObject(parent) {}

CSourceDownloader::~CSourceDownloader() {
  Cancel();
}

bool CSourceDownloader::Start(const std::vector<CProxySource>& sources, CProxyListModel& list, bool ambiguous,
                              ListSaver save) {
  if (m_bRunning || g_bDownloading.load()) return false;
  // The credentials that came with the pages' proxies go to the store with the save.
  auto credentials = std::make_shared<FoundCredentialList>();
  m_extract = [&list, ambiguous, credentials](std::string page, std::size_t maxProxies) {
    PageExtraction e;
    std::size_t refused = 0;
    e.found = AddProxiesFromText(list, std::move(page), ambiguous, maxProxies, &e.capped, credentials.get(),
                                 &refused);
    e.refused = static_cast<int>(refused);
    return e;
  };
  m_save = [save = std::move(save), credentials] {
    qb::OpResult saved = save(*credentials);
    credentials->clear();
    return saved;
  };
  return Begin(sources);
}

bool CSourceDownloader::Start(const std::vector<CProxySource>& sources, PageExtractor extract) {
  if (m_bRunning || g_bDownloading.load()) return false;
  m_extract = std::move(extract);
  m_save = nullptr;
  return Begin(sources);
}

bool CSourceDownloader::Begin(const std::vector<CProxySource>& sources) {
  m_sources.clear();
  for (const CProxySource& s : sources) {
    if (s.m_bEnabled) m_sources.push_back(s);
  }
  if (m_sources.empty()) return false;

  m_bRunning = true;
  g_bDownloading = true;
  const unsigned run = ++m_nRun;
  m_next = 0;
  m_pSession = std::make_shared<CDownloadSession>(m_options.limits);
  m_pThread = new QThread();
  m_pThread->setObjectName(QStringLiteral("SourceDownload"));
  m_pWorker = new QObject();
  m_pWorker->moveToThread(m_pThread);
  m_pThread->start();

  const int count = static_cast<int>(m_sources.size());
  emit Started(count);
  emit Progress(0, count, 0, -1);
  QTimer::singleShot(std::max(0, m_options.startPauseMs), this, [this, run] {
    if (run == m_nRun && m_bRunning) NextSource();
  });
  return true;
}

void CSourceDownloader::NextSource() {
  if (m_next >= static_cast<int>(m_sources.size())) {
    Finish();
    return;
  }
  const CProxySource& source = m_sources[static_cast<std::size_t>(m_next)];
  emit SourceStarted(m_next, QString::fromStdString(source.m_sName));

  const unsigned run = m_nRun;
  std::shared_ptr<CDownloadSession> session = m_pSession;
  std::string url = source.m_sUrl;
  // The worker posts back to this object; Finish waits for the worker's thread before
  // the object can go, so the pointer stays valid while the transfer runs.
  QMetaObject::invokeMethod(
      m_pWorker,
      [this, run, session, url] {
        using Clock = std::chrono::steady_clock;
        Clock::time_point lastPost;
        auto progress = [&](std::int64_t bytes, std::int64_t expected) {
          const auto now = Clock::now();
          if (now - lastPost < std::chrono::milliseconds(100)) return;
          lastPost = now;
          QMetaObject::invokeMethod(
              this, [this, run, bytes, expected] { ReportProgress(run, bytes, expected); },
              Qt::QueuedConnection);
        };
        auto result = std::make_shared<PageFetchResult>(session->Fetch(url, progress));
        QMetaObject::invokeMethod(
            this, [this, run, result] { PageArrived(run, result); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void CSourceDownloader::ReportProgress(unsigned run, std::int64_t bytes, std::int64_t expected) {
  if (run != m_nRun || !m_bRunning) return;
  emit Progress(m_next, static_cast<int>(m_sources.size()), bytes, expected);
}

void CSourceDownloader::PageArrived(unsigned run, const std::shared_ptr<PageFetchResult>& result) {
  if (run != m_nRun || !m_bRunning) return;
  const CProxySource source = m_sources[static_cast<std::size_t>(m_next)];
  // Copies: the window's answer to NothingDownloaded runs an event loop, in which the
  // download may be cancelled and another one started.
  const PageExtractor extract = m_extract;
  const std::function<qb::OpResult()> save = m_save;

  SourceReport report;
  report.index = m_next;
  report.name = source.m_sName;
  report.url = source.m_sUrl;
  report.status = result->status;
  report.cut = result->cut;
  report.error = result->error;

  bool nothing = false;
  switch (result->status) {
    case FetchStatus::Ok: {
      const PageExtraction e = extract(std::move(result->page), m_pSession->Limits().maxPageProxies);
      report.found = e.found;
      report.proxiesCapped = e.capped;
      report.refused = e.refused;
      if (report.found > 0) {
        if (save) report.save = save();
      } else {
        nothing = true;
      }
      break;
    }
    case FetchStatus::ConnectionFailed:
    case FetchStatus::SessionFailed:
      nothing = true;
      break;
    case FetchStatus::BadUrl:
    case FetchStatus::RequestFailed:
    case FetchStatus::Cancelled:
      // Skipped without a word, as a source whose request could not be made always was.
      break;
  }
  result->page.clear();
  result->page.shrink_to_fit();
  if (nothing) emit NothingDownloaded(report);
  if (run != m_nRun || !m_bRunning) return;

  const int count = static_cast<int>(m_sources.size());
  emit Progress(m_next + 1, count, result->bytes, result->bytes);
  emit SourceFinished(report);
  if (run != m_nRun || !m_bRunning) return;
  if (result->status == FetchStatus::SessionFailed) {
    // Without a session no other source can be downloaded either.
    Finish();
    return;
  }
  ++m_next;
  NextSource();
}

void CSourceDownloader::Cancel() {
  Finish();
}

void CSourceDownloader::Finish() {
  if (!m_bRunning) return;
  m_bRunning = false;
  ++m_nRun;
  // Ends a transfer that is still running, so that the wait below is short.
  if (m_pSession) m_pSession->Abort();
  if (m_pThread) {
    m_pThread->quit();
    m_pThread->wait();
    delete m_pWorker;
    delete m_pThread;
    m_pWorker = nullptr;
    m_pThread = nullptr;
  }
  m_pSession.reset();
  m_sources.clear();
  m_next = 0;
  g_bDownloading = false;
  emit Finished();
}

}  // namespace qb
