#include <QEventLoop>

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "sources/ProxySource.h"
#include "sources/SourceDownloader.h"
#include "ui/Messages.h"

namespace qb::cli {

namespace {

std::string DownloadUsage() {
  return qb::TrHelp(
             QT_TRANSLATE_NOOP(
                 "QuillberryHelp",
                 "Usage: quillberry-cli [--data-dir DIR] download [--fuzzy] [URL...]\n"
                 "       quillberry-cli download [--fuzzy] [--format FORMAT] [--type TYPE] URL...\n"
                 "\n"
                 "With URLs: downloads each page as a proxy source is downloaded (straight from its\n"
                 "server, never through a proxy; \"http://\" is put in front when missing) and prints\n"
                 "the proxy lines found, one per line, each proxy once, in the order found.\n"
                 "--format FORMAT prints them as line (the default), url (type://address:port), csv\n"
                 "(address,port,type,status,remark with a header; CR LF) or json (an array of\n"
                 "objects with those keys); --type TYPE prints only the proxies of one type, and\n"
                 "--working only those whose status is a measured time. --credentials adds the\n"
                 "user name and password that came with a proxy to url, csv and json (never\n"
                 "unless asked).\n"
                 "\n"
                 "Without URLs: downloads the ticked sources of Sources.dat in the data directory\n"
                 "into its Proxies.pro, as the download button does, and prints one line per source:\n"
                 "its name and the number of proxies found, or why it failed.\n"
                 "\n"
                 "--fuzzy  also find addresses and ports separated by blanks or markup instead of\n"
                 "         ':' (runs when the strict pass found at most 200 proxies on a page)\n"
                 "\n"
                 "Limits per page: a page larger than 64 MiB is cut at its last whole line before\n"
                 "64 MiB, and at most %1 proxies are taken from one page (the rest of the page is\n"
                 "ignored). A page cut at either limit is named on standard error, with the limit\n"
                 "it hit.\n"
                 "\n"
                 "Messages go to standard error.\n"
                 "\n"
                 "Exit status with URLs: 0 when every page was downloaded (also when a page had no\n"
                 "proxies or was cut at a limit); 1 when a URL was skipped or its download failed\n"
                 "(each is named on standard error; the proxies of the other pages are still\n"
                 "printed) or the download could not run; 2 for bad usage (a bad format, or\n"
                 "--format, --type or --working without URLs, among it).\n"
                 "Exit status without URLs: 0 when every source was tried (also when some failed or\n"
                 "had no proxies); 1 when there was nothing to download or the download could not\n"
                 "run; 2 for bad usage or a data file that cannot be read; 3 when Proxies.pro could\n"
                 "not be saved (the message names it; the old file is kept); 4 when the data\n"
                 "directory is being written by another command, or by the window and the proxies\n"
                 "found could not be handed to it (nothing was changed).\n"
                 "\n"
                 "While the window runs on the data directory it alone writes Proxies.pro: the\n"
                 "proxies found are handed to it, it adds the new ones to its list and saves it, and\n"
                 "the command prints how many were new."))
      .arg(kMaxProxiesPerPage)
      .toStdString();
}

}  // namespace

std::string SourceSummary(const SourceReport& r) {
  std::string line = r.name + ": ";
  switch (r.status) {
    case FetchStatus::Ok:
      line += std::to_string(r.found) + (r.found == 1 ? " proxy found" : " proxies found");
      if (r.cut) line += " (page cut at its size limit)";
      if (r.proxiesCapped) line += " (page cut at its limit of " + std::to_string(r.found) + " proxies)";
      if (!r.save) line += "; Proxies.pro could not be saved";
      break;
    case FetchStatus::BadUrl:
      line += "skipped: not an HTTP address";
      break;
    case FetchStatus::RequestFailed:
      line += "skipped: the request could not be made";
      break;
    case FetchStatus::ConnectionFailed:
    case FetchStatus::SessionFailed:
      line += "download failed: " + r.error;
      break;
    case FetchStatus::Cancelled:
      line += "cancelled";
      break;
  }
  return line;
}

int RunDownload(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(DownloadUsage());
    Out("\n" + Help(kStateHelp));
    return kExitOk;
  }
  bool fuzzy = false;
  std::vector<CProxySource> urls;
  qb::ExportOptions output;
  bool outputGiven = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const OutputOption taken = TakeOutputOption("download", args, i, output);
    if (taken == OutputOption::Bad) return kExitUsage;
    if (taken == OutputOption::Taken) {
      outputGiven = true;
      continue;
    }
    if (a == "--fuzzy") {
      fuzzy = true;
    } else if (a.startsWith("-")) {
      Err("download: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli download --help' for usage.");
      return kExitUsage;
    } else {
      urls.push_back({a.toStdString(), a.toStdString(), true});
    }
  }
  // Without URLs the command prints one summary per source, not proxies.
  const bool printsProxies = !urls.empty();
  if (outputGiven && !printsProxies) {
    Err("download: --format, --type and --working need URLs");
    return kExitUsage;
  }

  CSourceDownloader downloader;
  CSourceDownloader::Options options;
  options.startPauseMs = 0;
  downloader.SetOptions(options);

  int tried = 0;
  bool saveFailed = false;
  bool failedUrls = false;
  bool started = false;
  // Kept alive for the whole run: the downloader refers to them.
  std::unique_ptr<DataDir> dir;
  DataDir::OpenReport report;
  CProxyListModel handed;
  FoundCredentialList handedLogOns;
  // What AddProxyLine would add to one empty list: valid lines, each key once.
  std::unordered_set<std::string> keys;
  ProxyFields fields;
  // The log-ons that came with the proxies, for the formats that carry them.
  CProxyCredentialStore logOns;
  output.credentials = [&logOns](const CProxyEntry& e) { return logOns.Find(e); };
  qb::CListExporter exporter(output);
  // A page that came and held no proxy: the cause first, with the page, in one line. A
  // page that did not come is named by its summary with the transfer's own error.
  QObject::connect(&downloader, &CSourceDownloader::NothingDownloaded, [](const SourceReport& r) {
    if (r.status != FetchStatus::Ok) return;
    Err("download: " + r.name + ": no proxy found on the page" + (r.name == r.url ? "" : " " + r.url) +
        " (it reads address:port, proxy URLs and the list's own lines; --fuzzy also finds an address and a "
        "port "
        "apart)");
  });

  if (printsProxies) {
    QObject::connect(&downloader, &CSourceDownloader::SourceFinished, [&](const SourceReport& r) {
      ++tried;
      // A script given URLs has no other way to learn that a page is missing or cut.
      if (r.status != FetchStatus::Ok) {
        Err("download: " + SourceSummary(r));
        failedUrls = true;
      } else if (r.cut || r.proxiesCapped) {
        Err("download: " + SourceSummary(r));
      }
    });
    std::string begin;
    exporter.AppendBegin(begin);
    OutRaw(begin);
    started = downloader.Start(urls, [&](std::string page, std::size_t maxProxies) {
      std::string out;
      auto sink = [&](std::string_view line, const FoundCredentials* c) {
        if (!ParseProxyLine(line, fields)) return;
        if (c) logOns.Set(CredentialsKeyOfLine(line), *c);
        if (!keys.insert(ProxyKey(fields.addr, fields.port, fields.type)).second) return;
        const CProxyEntry row(fields.addr, fields.port, fields.type, fields.timeStatus, fields.remark);
        // Proxy lines are printed as found, which is what scripts have always read.
        if (output.format != qb::ExportFormat::Lines) {
          exporter.AppendRow(out, row);
        } else if (exporter.Accepts(row)) {
          out.append(line).push_back('\n');
        }
      };
      CSourceDownloader::PageExtraction e;
      e.found = static_cast<int>(ExtractWholeText(std::move(page), fuzzy, sink, maxProxies, &e.capped));
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
      return e;
    });
  } else {
    dir = OpenDataDirToWrite("download", dataDir, report);
    if (!dir) return kExitBusy;
    if (const qb::OpResult loaded = dir->LoadSources(); !loaded) return ReportFailure("download", loaded);
    if (const DownloadRefusal refusal = CheckDownloadSources(dir->Sources());
        refusal != DownloadRefusal::None) {
      if (const NoticeText notice = DownloadRefusalText(refusal); notice.text)
        ErrMessage(notice.text, notice.caption);
      return kExitNotFound;
    }
    urls = dir->Sources().Sources();
    QObject::connect(&downloader, &CSourceDownloader::SourceFinished, [&](const SourceReport& r) {
      ++tried;
      if (!r.save) {
        saveFailed = true;
        ReportFailure("download", r.save);
      }
      Out(SourceSummary(r));
      std::fflush(stdout);
      // A script reading the summaries may not look for the remark: the cut is a
      // message as well.
      if (r.status == FetchStatus::Ok && (r.cut || r.proxiesCapped)) Err("download: " + SourceSummary(r));
    });
    if (report.holder == DataDir::Holder::Window) {
      // The window writes the list: the rows found are gathered here and handed to it.
      started = downloader.Start(urls, [&](std::string page, std::size_t maxProxies) {
        CSourceDownloader::PageExtraction e;
        e.found = AddProxiesFromText(handed, std::move(page), fuzzy, maxProxies, &e.capped, &handedLogOns);
        return e;
      });
    } else {
      if (const qb::OpResult loaded = dir->LoadList(); !loaded) return ReportFailure("download", loaded);
      started = downloader.Start(urls, dir->List(), fuzzy,
                                 [&dir](const FoundCredentialList& logOns) { return dir->SaveList(logOns); });
    }
  }
  // The end of a CSV or JSON text follows whatever was printed, so that a reader gets
  // a whole document even when a page failed.
  auto endProxies = [&] {
    if (!printsProxies) return;
    std::string end;
    exporter.AppendEnd(end);
    OutRaw(end);
    std::fflush(stdout);
  };
  if (!started) {
    endProxies();
    Err("download: could not start the download");
    return kExitNotFound;
  }

  QEventLoop loop;
  QObject::connect(&downloader, &CSourceDownloader::Finished, &loop, &QEventLoop::quit);
  if (downloader.IsRunning()) loop.exec();
  endProxies();

  int ticked = 0;
  for (const CProxySource& s : urls) ticked += s.m_bEnabled ? 1 : 0;
  if (tried < ticked) {
    Err("download: stopped before every source was tried");
    return kExitNotFound;
  }
  if (saveFailed) return kExitUnwritable;
  if (dir && report.holder == DataDir::Holder::Window) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(handed.RowCount()));
    std::string line;
    for (int row = 0; row < handed.RowCount(); ++row) {
      line.clear();
      AppendFileLine(line, *handed.Entry(row));
      lines.push_back(line);
    }
    return HandRowsToWindow("download", *dir, report, lines, handedLogOns);
  }
  return failedUrls ? kExitNotFound : kExitOk;
}

}  // namespace qb::cli
