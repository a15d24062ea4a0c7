#include <QString>

#include "base/InstanceLink.h"
#include "base/ProgramDir.h"
#include "cli/Cli.h"

namespace qb::cli {

namespace {
// Another command's save takes moments; a command that finds the lock taken waits a
// little before it gives up.
constexpr int kLockWaitMs = 2000;
constexpr const char* kWindowExecutable = "quillberry";
}  // namespace

DataDirClaim ClaimDataDir(const std::string& command, const std::string& dataDir) {
  DataDirClaim claim;
  claim.lock = std::make_unique<qb::CDataDirLock>(dataDir);
  // The window never lets go while it runs: waiting is only worth it for a command.
  qb::CDataDirLock::Outcome outcome = claim.lock->TryLock(0);
  if (outcome == qb::CDataDirLock::Outcome::Held && claim.lock->HolderName() != kWindowExecutable)
    outcome = claim.lock->TryLock(kLockWaitMs);
  switch (outcome) {
    case qb::CDataDirLock::Outcome::Ours:
      claim.kind = DataDirClaim::Kind::Ours;
      return claim;
    case qb::CDataDirLock::Outcome::Failed:
      claim.lock.reset();
      claim.kind = DataDirClaim::Kind::Ours;
      return claim;
    case qb::CDataDirLock::Outcome::Held:
      break;
  }
  claim.holder = claim.lock->HolderText();
  if (claim.lock->HolderName() == kWindowExecutable) {
    claim.kind = DataDirClaim::Kind::Window;
    return claim;
  }
  claim.kind = DataDirClaim::Kind::Busy;
  Err(command + ": the data directory " + dataDir + " is being written by " + claim.holder +
      "; nothing was changed (try again when it has finished)");
  return claim;
}

int RefuseForWindow(const std::string& command, const std::string& dataDir, const DataDirClaim& claim,
                    const std::string& instead) {
  Err(command + ": " + claim.holder + " has the list of " + dataDir +
      " open and writes its files; nothing was changed (" + instead + ")");
  return kExitBusy;
}

int HandRowsToWindow(const std::string& command, const std::string& dataDir,
                     const std::vector<std::string>& lines, const DataDirClaim& claim) {
  qb::LinkMessage request{{qb::link::kAdd, QByteArray::fromStdString(qb::AbsoluteDataDir(dataDir)),
                           QByteArray::number(static_cast<qsizetype>(lines.size()))},
                          {}};
  request.body.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) request.body.push_back(QByteArray::fromStdString(line));
  const std::optional<qb::LinkMessage> answer = qb::AskRunningWindow(qb::InstanceServerPath(), request);
  if (!answer || answer->Verb() != qb::link::kAdded) {
    std::string why = "it did not answer";
    if (answer && answer->Field(1) == qb::link::kOtherDir)
      why = "the window that answered has " + answer->Field(2).toStdString() + " open";
    Err(command + ": " + claim.holder + " has the list of " + dataDir + " open, but the " +
        std::to_string(lines.size()) + " proxies found could not be handed to it (" + why +
        "); nothing was changed");
    return kExitBusy;
  }
  const std::size_t added = static_cast<std::size_t>(answer->body.size());
  Out(std::to_string(added) + (added == 1 ? " new proxy was" : " new proxies were") +
      " added to the list of the running window (" + dataDir + ")");
  if (const QByteArray saveError = answer->Field(2); !saveError.isEmpty()) {
    Err(command + ": the window could not save its list: " + saveError.toStdString());
    return kExitUnwritable;
  }
  return kExitOk;
}

}  // namespace qb::cli
