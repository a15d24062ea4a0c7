// quillberry-cli refresh: the download of the ticked sources, the verification of the
// whole list and the thinning of the history, in one run under the directory's lock,
// for a timer to run while nobody watches.
#include <QEventLoop>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/Translate.h"
#include "cli/Cli.h"
#include "history/History.h"
#include "proxy/ListExport.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "sources/ProxySource.h"
#include "sources/SourceDownloader.h"
#include "ui/Messages.h"
#include "verify/VerifyControl.h"

namespace qb::cli {

namespace {

constexpr const char* kRefreshUsage =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "Usage: quillberry-cli [--data-dir DIR] refresh [--fuzzy] [--format text|json]\n"
                      "                      [--threads N] [--connect-timeout S] [--verify-timeout S]\n"
                      "                      [--http URL FEATURE] [--ftp URL FEATURE] [--watchdog S]\n"
                      "\n"
                      "Keeps the list fresh without the window, in one run: downloads the ticked sources of\n"
                      "Sources.dat into Proxies.pro (as 'download' without URLs does), verifies the whole\n"
                      "list (as 'verify' without FILE does, recording every result in the history) and\n"
                      "deletes the history's results older than Options.ini's [History] KeepDays (90 by\n"
                      "default; 0 keeps them all). The data directory stays locked for the whole run: a\n"
                      "second refresh, or another command that writes the directory, waits two seconds\n"
                      "and then gives up with status 4. Proxies.pro is only ever replaced whole, so a run\n"
                      "that is killed leaves the list as it was before the last save, never a part of it.\n"
                      "A directory without ticked sources is only verified (said on standard error).\n"
                      "\n"
                      "While the window runs on the data directory, the proxies found are handed to it\n"
                      "and it verifies its whole list itself, at once or, when it is busy, as soon as\n"
                      "what it is doing ends; the command does not wait for that verification.\n"
                      "\n"
                      "--fuzzy       also find addresses and ports separated by blanks or markup\n"
                      "--format F    text (the default): one line per source, then what the verification\n"
                      "              and the thinning did; json: one object with the same (the keys\n"
                      "              sources, added, handed_to_window, window_verification, verified,\n"
                      "              history and exit)\n"
                      "--threads, --connect-timeout, --verify-timeout, --http, --ftp, --watchdog\n"
                      "              as for 'verify' (default: the settings)\n"
                      "\n"
                      "Messages go to standard error; no line per proxy is written there.\n"
                      "\n"
                      "Exit status: 0 when every source was tried (also when some failed or had no\n"
                      "proxies) and the list was verified, or handed to the window; 1 when the download\n"
                      "stopped before every source was tried or the verification could not start (an\n"
                      "empty list, no HTTP resource); 2 for bad usage or a data file that cannot be\n"
                      "read; 3 when a data file could not be written (Proxies.pro, the history, or no\n"
                      "lock can be made because the directory cannot be written; the old files are\n"
                      "kept); 4 when the data directory is being written by another command, or by the\n"
                      "window and the proxies found could not be handed to it (nothing was changed).");

// verify's run options and how many values each takes.
struct PassedOption {
  const char* name;
  int values;
};
constexpr PassedOption kVerifyOptions[] = {{"--threads", 1},
                                           {"--concurrency", 1},
                                           {"--connect-timeout", 1},
                                           {"--verify-timeout", 1},
                                           {"--watchdog", 1},
                                           {"--http", 2},
                                           {"--ftp", 2}};

struct RefreshOptions {
  bool fuzzy = false;
  bool json = false;
  QStringList verifyArgs;
};

// False (after a message) when the arguments are wrong.
bool ParseRefreshOptions(const QStringList& args, RefreshOptions& o) {
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--fuzzy") {
      o.fuzzy = true;
      continue;
    }
    if (a == "--format" || a.startsWith("--format=")) {
      QString value;
      if (a == "--format") {
        if (i + 1 >= args.size()) {
          Err("refresh: --format needs text or json");
          return false;
        }
        value = args[++i];
      } else {
        value = a.mid(9);
      }
      if (value != "text" && value != "json") {
        Err("refresh: --format must be text or json, not " + value.toStdString());
        return false;
      }
      o.json = value == "json";
      continue;
    }
    const PassedOption* passed = nullptr;
    for (const PassedOption& p : kVerifyOptions) {
      if (a == p.name) passed = &p;
    }
    if (!passed) {
      Err(a.startsWith("-") ? "refresh: unknown option: " + a.toStdString()
                            : "refresh: takes no FILE or URL (it refreshes the data directory's own list): " +
                                  a.toStdString());
      Err("Run 'quillberry-cli refresh --help' for usage.");
      return false;
    }
    o.verifyArgs << a;
    for (int v = 0; v < passed->values && i + 1 < args.size(); ++v) o.verifyArgs << args[++i];
  }
  return CheckHeldListOptions("refresh", o.verifyArgs);
}

const char* FetchStatusWord(FetchStatus status) {
  switch (status) {
    case FetchStatus::Ok:
      return "ok";
    case FetchStatus::BadUrl:
      return "bad-url";
    case FetchStatus::RequestFailed:
      return "request-failed";
    case FetchStatus::ConnectionFailed:
    case FetchStatus::SessionFailed:
      return "download-failed";
    case FetchStatus::Cancelled:
      return "cancelled";
  }
  return "download-failed";
}

// What the run did, printed at its end in the chosen format.
struct RefreshReport {
  std::vector<SourceReport> sources;
  long long added = 0;
  bool handedToWindow = false;
  std::string windowVerification;
  bool verified = false;
  int proxies = 0;
  int working = 0;
  int failed = 0;
  int unverified = 0;
  // Results the thinning deleted; -1 when there was no history to thin.
  long long thinned = -1;
  int keepDays = kDefaultKeepDays;
};

void CountOutcomes(const CProxyListModel& list, RefreshReport& report) {
  report.verified = true;
  report.proxies = list.RowCount();
  for (int row = 0; row < list.RowCount(); ++row) {
    const std::string_view state = ProxyState(list.Entry(row)->TimeStatus());
    if (state == "ok") {
      ++report.working;
    } else if (state == "unverified" || state == "verifying") {
      ++report.unverified;
    } else {
      ++report.failed;
    }
  }
}

std::string JsonReport(const RefreshReport& r, int exitCode) {
  std::string out = "{\"sources\":[";
  bool first = true;
  for (const SourceReport& s : r.sources) {
    out += first ? "{\"name\":" : ",{\"name\":";
    first = false;
    AppendJsonString(out, s.name);
    out += ",\"url\":";
    AppendJsonString(out, s.url);
    out += ",\"status\":";
    AppendJsonString(out, FetchStatusWord(s.status));
    out += ",\"found\":" + std::to_string(s.found);
    out += ",\"error\":";
    AppendJsonString(out, s.status == FetchStatus::Ok ? std::string() : s.error);
    out += "}";
  }
  out += "],\"added\":" + std::to_string(r.added);
  out += std::string(",\"handed_to_window\":") + (r.handedToWindow ? "true" : "false");
  out += ",\"window_verification\":";
  if (r.handedToWindow) {
    AppendJsonString(out, r.windowVerification);
  } else {
    out += "null";
  }
  out += ",\"verified\":";
  if (r.verified) {
    out += "{\"proxies\":" + std::to_string(r.proxies) + ",\"working\":" + std::to_string(r.working) +
           ",\"failed\":" + std::to_string(r.failed) + ",\"unverified\":" + std::to_string(r.unverified) +
           "}";
  } else {
    out += "null";
  }
  out += ",\"history\":";
  if (r.thinned >= 0) {
    out += "{\"removed\":" + std::to_string(r.thinned) + ",\"keep_days\":" + std::to_string(r.keepDays) + "}";
  } else {
    out += "null";
  }
  out += ",\"exit\":" + std::to_string(exitCode) + "}\n";
  return out;
}

void PrintTextEnd(const RefreshReport& r, const std::string& dataDir) {
  if (r.handedToWindow) {
    std::string line = std::to_string(r.added) + (r.added == 1 ? " new proxy was" : " new proxies were") +
                       " added to the list of the running window (" + dataDir + ")";
    if (r.windowVerification == "verifying") {
      line += "; it verifies the whole list now";
    } else if (r.windowVerification == "queued") {
      line += "; it verifies the whole list when what it is doing ends";
    } else {
      line += "; it did not say that it verifies the list (verify it there)";
    }
    Out(line);
    return;
  }
  if (r.verified) {
    Out("verified " + std::to_string(r.proxies) + (r.proxies == 1 ? " proxy: " : " proxies: ") +
        std::to_string(r.working) + " working, " + std::to_string(r.failed) + " failed, " +
        std::to_string(r.unverified) + " not verified");
  }
  if (r.thinned >= 0) {
    Out(r.keepDays > 0 ? "history: " + std::to_string(r.thinned) + (r.thinned == 1 ? " result" : " results") +
                             " older than " + std::to_string(r.keepDays) + " days removed"
                       : std::string("history: every result kept (KeepDays=0)"));
  }
}

// Downloads the ticked sources; into dir's list when it holds the lock, else into
// handed (for the window). False when the download could not start.
bool Download(DataDir& dir, bool intoWindow, bool fuzzy, CProxyListModel& handed, FoundCredentialList& logOns,
              RefreshReport& report, bool& saveFailed) {
  CSourceDownloader downloader;
  CSourceDownloader::Options options;
  options.startPauseMs = 0;
  downloader.SetOptions(options);
  QObject::connect(&downloader, &CSourceDownloader::SourceFinished, [&](const SourceReport& r) {
    report.sources.push_back(r);
    if (!r.save) {
      saveFailed = true;
      ReportFailure("refresh", r.save);
    }
    if (r.status == FetchStatus::Ok && (r.cut || r.proxiesCapped)) Err("refresh: " + SourceSummary(r));
  });
  QObject::connect(&downloader, &CSourceDownloader::NothingDownloaded, [](const SourceReport& r) {
    if (r.status == FetchStatus::Ok) Err("refresh: " + r.name + ": no proxy found on the page " + r.url);
  });
  const std::vector<CProxySource> sources = dir.Sources().Sources();
  bool started = false;
  if (intoWindow) {
    started = downloader.Start(sources, [&](std::string page, std::size_t maxProxies) {
      CSourceDownloader::PageExtraction e;
      e.found = AddProxiesFromText(handed, std::move(page), fuzzy, maxProxies, &e.capped, &logOns);
      return e;
    });
  } else {
    started = downloader.Start(sources, dir.List(), fuzzy,
                               [&dir](const FoundCredentialList& found) { return dir.SaveList(found); });
  }
  if (!started) return false;
  QEventLoop loop;
  QObject::connect(&downloader, &CSourceDownloader::Finished, &loop, &QEventLoop::quit);
  if (downloader.IsRunning()) loop.exec();
  return true;
}

}  // namespace

int RunRefresh(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kRefreshUsage));
    return kExitOk;
  }
  RefreshOptions opt;
  if (!ParseRefreshOptions(args, opt)) return kExitUsage;

  DataDir::OpenReport open;
  const std::unique_ptr<DataDir> dir = OpenDataDirToWrite("refresh", dataDir, open);
  if (!dir) return kExitBusy;
  // Without its lock a run could not keep another writer out while it works, and every
  // save would fail at its end: say so before anything is downloaded.
  if (open.holder == DataDir::Holder::NoLock) {
    Err("refresh: " + dir->Path() + " cannot be written (" + open.error + "); nothing was done");
    return kExitUnwritable;
  }
  const bool window = open.holder == DataDir::Holder::Window;
  if (const qb::OpResult loaded = dir->LoadSources(); !loaded) return ReportFailure("refresh", loaded);
  if (!window) {
    if (const qb::OpResult loaded = dir->LoadList(); !loaded) return ReportFailure("refresh", loaded);
  }

  RefreshReport report;
  int exitCode = kExitOk;
  auto finish = [&](int code) {
    if (opt.json) {
      OutRaw(JsonReport(report, code));
    } else {
      PrintTextEnd(report, dir->Path());
    }
    std::fflush(stdout);
    return code;
  };

  const DownloadRefusal refusal = CheckDownloadSources(dir->Sources());
  CProxyListModel handed;
  FoundCredentialList handedLogOns;
  bool saveFailed = false;
  if (refusal == DownloadRefusal::None) {
    const int rowsBefore = window ? 0 : dir->List().RowCount();
    if (!Download(*dir, window, opt.fuzzy, handed, handedLogOns, report, saveFailed)) {
      Err("refresh: could not start the download");
      return finish(kExitNotFound);
    }
    report.added = (window ? handed.RowCount() : dir->List().RowCount()) - rowsBefore;
    if (!opt.json) {
      for (const SourceReport& r : report.sources) Out(SourceSummary(r));
      std::fflush(stdout);
    }
    int ticked = 0;
    for (const CProxySource& s : dir->Sources().Sources()) ticked += s.m_bEnabled ? 1 : 0;
    if (static_cast<int>(report.sources.size()) < ticked) {
      Err("refresh: the download stopped before every source was tried; nothing was verified");
      return finish(kExitNotFound);
    }
    // The list on disk is the one before the save that failed; a verification could
    // not save its results either.
    if (saveFailed) {
      Err("refresh: nothing was verified, as Proxies.pro could not be saved");
      return finish(kExitUnwritable);
    }
  } else {
    Err(std::string("refresh: ") +
        (refusal == DownloadRefusal::NoSources ? "Sources.dat has no source"
                                               : "no source is ticked in Sources.dat") +
        "; the list is verified without a download");
  }

  if (window) {
    report.handedToWindow = true;
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(handed.RowCount()));
    std::string line;
    for (int row = 0; row < handed.RowCount(); ++row) {
      line.clear();
      AppendFileLine(line, *handed.Entry(row));
      lines.push_back(line);
    }
    const HandOff handOff = HandToWindow(*dir, lines, handedLogOns, /*thenVerify=*/true);
    if (!handOff.taken) {
      report.handedToWindow = false;
      Err("refresh: " + open.holderText + " has the list of " + dir->Path() +
          " open, but the refresh could " + "not be handed to it (" + handOff.refusal +
          "); nothing was changed");
      return finish(kExitBusy);
    }
    report.added = static_cast<long long>(handOff.added);
    report.windowVerification = handOff.verify;
    if (!handOff.saveError.empty()) {
      Err("refresh: the window could not save its list: " + handOff.saveError);
      exitCode = kExitUnwritable;
    }
    return finish(exitCode);
  }

  HistoryOpening history;
  exitCode = VerifyHeldList("refresh", opt.verifyArgs, *dir, &history);
  // A run that never started changed nothing; the thinning is still done.
  if (exitCode != kExitNotFound && exitCode != kExitUsage) CountOutcomes(dir->List(), report);
  // The opening thins once a day; a refresh run every hour thins each time, through
  // the index, reading only what it deletes.
  if (CHistoryStore* store = dir->History()) {
    report.keepDays = dir->Options().history.keepDays;
    report.thinned = history.thinned + store->Thin(HistoryNow(), report.keepDays);
  }
  const int code = finish(exitCode);
  // The workers were told to quit; none may still be running when the process ends.
  if (!CVerifyControl::DrainWorkers(1500)) {
    std::fflush(stderr);
    ::_exit(code);
  }
  return code;
}

}  // namespace qb::cli
