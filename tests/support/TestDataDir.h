// A data directory of a test's own, reached as the program reaches one: through
// DataDir, so that a test writes and reads the files exactly as the window and the
// commands do.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Files.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

namespace qbtest {

// One proxy's log-on as Credentials.dat in dataDir holds it on disk now.
inline std::optional<qb::ProxyCredentials> StoredLogOn(const std::string& dataDir, const std::string& key) {
  const std::unique_ptr<qb::DataDir> dir = qb::DataDir::Open(dataDir, qb::DataDir::Access::Read);
  return dir->Credentials().Find(key);
}

// Sets one proxy's log-on in Credentials.dat of dataDir, as the window would.
inline qb::OpResult StoreLogOn(const std::string& dataDir, const std::string& key,
                               const std::optional<qb::ProxyCredentials>& logOn) {
  return qb::DataDir::Open(dataDir, qb::DataDir::Access::Read)->StoreCredentials(key, logOn);
}
// Adds log-ons to Credentials.dat of dataDir, as an import would.
inline qb::OpResult RememberLogOns(const std::string& dataDir, const qb::FoundCredentialList& found) {
  return qb::DataDir::Open(dataDir, qb::DataDir::Access::Read)->RememberCredentials(found);
}

// A data directory of a test's own, opened without its lock (a test that is about the
// lock opens it for writing itself).
inline std::unique_ptr<qb::DataDir> OpenTestDir(const std::string& dataDir) {
  return qb::DataDir::Open(dataDir, qb::DataDir::Access::Read);
}

// The same, opened once per process and kept for its rest: for objects of a fixture
// that hold on to the directory they were given.
qb::DataDir& KeptTestDir(const std::string& dataDir);

// Writes list as Proxies.pro of dataDir, whole and atomically, as a save does.
inline qb::OpResult WriteListIn(const std::string& dataDir, const qb::CProxyListModel& list) {
  const std::string path = qb::JoinPath(dataDir, "Proxies.pro");
  qb::AtomicFileWriter file(path);
  if (!qb::WriteListFile(list, [&](std::string_view text) { return file.Write(text); }) || !file.Commit())
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, file.Error());
  return qb::OpResult::Success();
}
// Reads Proxies.pro of dataDir into list, as a start does.
inline qb::OpResult ReadListFrom(const std::string& dataDir, qb::CProxyListModel& list) {
  return qb::DataDir::Open(dataDir, qb::DataDir::Access::Read)->ReadList(list);
}

// Writes Options.ini of dataDir.
inline qb::OpResult SaveOptionsIn(const std::string& dataDir, const qb::ExtraOptions& options) {
  const std::unique_ptr<qb::DataDir> dir = qb::DataDir::Open(dataDir, qb::DataDir::Access::Read);
  dir->Options() = options;
  return dir->SaveOptions();
}
// Reads Options.ini of dataDir; *result, when given, says how.
inline qb::ExtraOptions LoadOptionsFrom(const std::string& dataDir, qb::OpResult* result = nullptr) {
  const std::unique_ptr<qb::DataDir> dir = qb::DataDir::Open(dataDir, qb::DataDir::Access::Read);
  const qb::OpResult loaded = dir->LoadOptions();
  if (result) *result = loaded;
  return dir->Options();
}

}  // namespace qbtest
