// The download button's run through the ticked proxy sources.
//
// The transfers run on a worker thread, one source at a time, so the window stays
// responsive; each page comes back to the user-interface thread, in source order, and
// is extracted, added, saved and reported there exactly as the one-piece download of
// the Windows version did it: the next source is fetched only after the previous
// page's message has been answered.
#pragma once

#include <QtGlobal>

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/OpResult.h"
#include "proxy/ProxyCredentials.h"
#include "sources/PageFetch.h"
#include "sources/ProxySource.h"

class QThread;

namespace qb {

class CProxyListModel;

// Set while a download runs (from the button's press until EndDownload).
extern std::atomic<bool> g_bDownloading;

// Why the download button has nothing to start.
enum class DownloadRefusal {
  None,         // a source is ticked: the download may start
  Downloading,  // a download runs already; the press is ignored without a word
  NoSources,    // the list has no source
  NoneTicked,   // no source is ticked
};

// The first step of the download button, before anything is fetched.
DownloadRefusal CheckDownloadSources(const std::vector<CProxySource>& sources);
inline DownloadRefusal CheckDownloadSources(const CProxySourceListModel& list) {
  return CheckDownloadSources(list.Sources());
}

// The download button's text while a source is being downloaded.
QString DownloadingButtonText(const std::string& sourceName);

// What became of one source.
struct SourceReport {
  int index = 0;  // among the ticked sources, from 0
  std::string name;
  std::string url;
  FetchStatus status = FetchStatus::Ok;
  // Proxies found on the page (duplicates of rows already in the list included).
  int found = 0;
  // The page reached DownloadLimits::maxPageBytes and was cut at its last whole line.
  bool cut = false;
  // The page held more than DownloadLimits::maxPageProxies proxies: found is that
  // limit, and the rest of the page was not taken.
  bool proxiesCapped = false;
  // Texts in the form of a proxy that cannot be one (not recognised).
  int refused = 0;
  // Saving the list file after proxies were found; WriteFailed with its path when it
  // could not be written (the window says so when the report arrives).
  qb::OpResult save;
  std::string error;
};

class CSourceDownloader : public QObject {
  Q_OBJECT

 public:
  struct Options {
    DownloadLimits limits;
    // The pause after the buttons are disabled, before the first source.
    int startPauseMs = 500;
  };

  // What an extractor made of a page: the proxies found, and whether the page held
  // more than it was allowed to take.
  struct PageExtraction {
    int found = 0;
    bool capped = false;
    // Texts in the form of a proxy that cannot be one: not recognised.
    int refused = 0;
  };
  // Takes a whole page (moved in: it is the only copy) and at most maxProxies of its
  // proxies.
  using PageExtractor = std::function<PageExtraction(std::string page, std::size_t maxProxies)>;

  explicit CSourceDownloader(QObject* parent = nullptr);
  // A running download is cancelled (Finished is emitted) before the object goes.
  ~CSourceDownloader() override;

  void SetOptions(const Options& options) { m_options = options; }
  const Options& GetOptions() const { return m_options; }

  // Keeps the list after a page brought proxies: the log-ons that came with them, then
  // the list itself (the data directory does both).
  using ListSaver = std::function<qb::OpResult(const FoundCredentialList& logOns)>;
  // The download button: downloads the ticked sources into list (new rows selected),
  // with the fuzzy pass when ambiguous, and has save keep it after every page that
  // brought proxies. False, without any signal, when a download is running already or
  // no source is ticked (CheckDownloadSources first tells which).
  bool Start(const std::vector<CProxySource>& sources, CProxyListModel& list, bool ambiguous, ListSaver save);
  // The same with another use for the pages (the command line prints them): extract
  // gets each page; nothing is saved.
  bool Start(const std::vector<CProxySource>& sources, PageExtractor extract);

  // Ends the running download at once: the transfer is aborted, no further source is
  // tried, and Finished is emitted before this returns.
  void Cancel();
  bool IsRunning() const { return m_bRunning; }

 signals:
  // The download began: disable the verification and download buttons, show the
  // progress bar with sourceCount steps.
  void Started(int sourceCount);
  // A source's transfer begins: the download button shows DownloadingButtonText(name).
  void SourceStarted(int index, const QString& name);
  // sourcesDone of sourceCount are finished; the current page has bytes so far, of
  // expected (-1 when the server did not say).
  void Progress(int sourcesDone, int sourceCount, qint64 bytes, qint64 expected);
  // A source brought no proxy: its page had none, or it could not be fetched at all.
  // The window says so, and the next source waits until the user has read it, so this
  // comes before the source's Progress and SourceFinished. The report is complete but
  // for the save, which only a page with proxies makes.
  void NothingDownloaded(const SourceReport& report);
  // A source is finished (after its message, if any). A failed save of the list is
  // in the report and has not been shown.
  void SourceFinished(const SourceReport& report);
  // The download is over, whichever way it ended: enable the buttons, restore the
  // download button's text, hide the progress bar and refresh the status line.
  void Finished();

 private:
  bool Begin(const std::vector<CProxySource>& sources);
  void NextSource();
  void PageArrived(unsigned run, const std::shared_ptr<PageFetchResult>& result);
  void ReportProgress(unsigned run, std::int64_t bytes, std::int64_t expected);
  void Finish();

  Options m_options;
  PageExtractor m_extract;
  std::function<qb::OpResult()> m_save;

  std::vector<CProxySource> m_sources;  // the ticked ones, as they were at the start
  int m_next = 0;
  bool m_bRunning = false;
  // Results of an earlier run that arrive late are recognised by this number.
  unsigned m_nRun = 0;
  std::shared_ptr<CDownloadSession> m_pSession;
  QThread* m_pThread = nullptr;
  QObject* m_pWorker = nullptr;  // lives in m_pThread; the transfers run in its context
};

}  // namespace qb

Q_DECLARE_METATYPE(qb::SourceReport)
