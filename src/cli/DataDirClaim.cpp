#include <QString>

#include <map>

#include "base/InstanceLink.h"
#include "base/ProgramDir.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "settings/Favorites.h"
#include "ui/Messages.h"

namespace qb::cli {

namespace {

DataDir::OpenOptions CommandOptions(const std::string& path) {
  DataDir::OpenOptions options;
  // Another command's save takes moments; a command that finds the lock taken waits a
  // little before it gives up. The window never lets go while it runs.
  options.lockWaitMs = 2000;
  options.waitForWindow = false;
  // The marks are the window's, whichever program writes them.
  options.favoritesProfile = FavoritesProfileFor(path, GuiFavoritesProfile());
  return options;
}

}  // namespace

std::unique_ptr<DataDir> OpenDataDirToRead(const std::string& path) {
  return DataDir::Open(path, DataDir::Access::Read, nullptr, CommandOptions(path));
}

std::unique_ptr<DataDir> OpenDataDirToWrite(const std::string& command, const std::string& path,
                                            DataDir::OpenReport& report) {
  std::unique_ptr<DataDir> dir = DataDir::Open(path, DataDir::Access::Write, &report, CommandOptions(path));
  if (report.holder == DataDir::Holder::Command) {
    Err(command + ": the data directory " + dir->Path() + " is being written by " + report.holderText +
        "; nothing was changed (try again when it has finished)");
    return nullptr;
  }
  return dir;
}

void ReportHistoryOpening(const DataDir& dir, const HistoryOpening& opening) {
  const QString text = HistoryOpeningText(opening, dir.FilePath(DataFile::History));
  if (!text.isEmpty()) Err(qb::TrStd(kCaptionHistory) + ": " + text.toStdString());
}

int RefuseForWindow(const std::string& command, const DataDir& dir, const DataDir::OpenReport& report,
                    const std::string& instead) {
  Err(command + ": " + report.holderText + " has the list of " + dir.Path() +
      " open and writes its files; nothing was changed (" + instead + ")");
  return kExitBusy;
}

HandOff HandToWindow(const DataDir& dir, const std::vector<std::string>& lines,
                     const FoundCredentialList& logOns, bool thenVerify) {
  // The log-ons go with their lines: the window keeps them with its list, as this
  // command would have without a window.
  std::map<std::string, const ProxyCredentials*> logOnOf;
  for (const auto& [key, logOn] : logOns) logOnOf[key] = &logOn;
  qb::LinkMessage request{{qb::link::kAdd, QByteArray::fromStdString(qb::AbsoluteDataDir(dir.Path())),
                           QByteArray::number(static_cast<qsizetype>(lines.size()))},
                          {}};
  if (thenVerify) request.header.push_back(qb::link::kThenVerify);
  request.body.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) {
    QByteArray body = QByteArray::fromStdString(line);
    if (const auto it = logOnOf.find(CredentialsKeyOfLine(line)); it != logOnOf.end())
      body += "\t" + QByteArray::fromStdString(it->second->user) + "\t" +
              QByteArray::fromStdString(it->second->password);
    request.body.push_back(body);
  }
  HandOff handOff;
  const std::optional<qb::LinkMessage> answer = qb::AskRunningWindow(qb::InstanceServerPath(), request);
  if (!answer || answer->Verb() != qb::link::kAdded) {
    handOff.refusal = "it did not answer";
    if (answer && answer->Field(1) == qb::link::kOtherDir)
      handOff.refusal = "the window that answered has " + answer->Field(2).toStdString() + " open";
    return handOff;
  }
  handOff.taken = true;
  handOff.added = static_cast<std::size_t>(answer->body.size());
  handOff.saveError = answer->Field(2).toStdString();
  handOff.verify = answer->Field(3).toStdString();
  return handOff;
}

int HandRowsToWindow(const std::string& command, const DataDir& dir, const DataDir::OpenReport& report,
                     const std::vector<std::string>& lines, const FoundCredentialList& logOns) {
  const HandOff handOff = HandToWindow(dir, lines, logOns, /*thenVerify=*/false);
  if (!handOff.taken) {
    Err(command + ": " + report.holderText + " has the list of " + dir.Path() + " open, but the " +
        std::to_string(lines.size()) + " proxies found could not be handed to it (" + handOff.refusal +
        "); nothing was changed");
    return kExitBusy;
  }
  Out(std::to_string(handOff.added) + (handOff.added == 1 ? " new proxy was" : " new proxies were") +
      " added to the list of the running window (" + dir.Path() + ")");
  if (!handOff.saveError.empty()) {
    Err(command + ": the window could not save its list: " + handOff.saveError);
    return kExitUnwritable;
  }
  return kExitOk;
}

}  // namespace qb::cli
