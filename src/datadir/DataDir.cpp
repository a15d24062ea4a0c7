#include "datadir/DataDir.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>
#include <unordered_set>

#include "base/Files.h"
#include "base/ProgramDir.h"
#include "base/Text.h"
#include "datadir/FileWatcher.h"
#include "history/History.h"
#include "proxy/FileImport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "settings/Settings.h"
#include "settings/VerifySource.h"
#include "sources/ProxySource.h"

namespace qb {

const char* DataFileName(DataFile file) {
  switch (file) {
    case DataFile::ProxyList:
      return "Proxies.pro";
    case DataFile::Settings:
      return "Setting.dat";
    case DataFile::Sources:
      return "Sources.dat";
    case DataFile::Options:
      return "Options.ini";
    case DataFile::Credentials:
      return "Credentials.dat";
    case DataFile::History:
      return "History.sqlite";
    case DataFile::Lock:
      return ".quillberry.lock";
    case DataFile::Pac:
      return "proxy.pac";
    case DataFile::PacTemplate:
      return "UserdefinedTemplate.pac";
    case DataFile::IpLocation:
      return "wry.dll";
    case DataFile::Help:
      return "QuillberryHelp.chm";
  }
  return "";
}

namespace {

// The files whose changes by another program the window takes in.
constexpr DataFile kWatchedFiles[] = {DataFile::ProxyList, DataFile::Settings, DataFile::Sources};

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

qb::OpResult ReadFailure(const std::string& path, const std::string& error) {
  return qb::OpResult::Failure(qb::OpStatus::ReadFailed, path, error);
}

qb::OpResult WriteText(const std::string& path, std::string_view text) {
  std::string error;
  if (!qb::WriteFileAtomically(path, text, &error))
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, error);
  return qb::OpResult::Success();
}

// Reads a whole data file: nullopt with *result success when there is none (anything
// at the name counts as present, so that a directory in its place is an unreadable
// file rather than a missing one that a save would try to replace).
std::optional<std::string> ReadDataFile(const std::string& path, qb::OpResult& result) {
  result = qb::OpResult::Success();
  if (!QFileInfo::exists(QString::fromStdString(path))) return std::nullopt;
  std::string error;
  // A link planted at a data file's name is not followed: what it points to is
  // nobody's data file.
  std::optional<std::string> text = qb::ReadWholeFile(path, &error, qb::Links::Refuse);
  if (!text) result = ReadFailure(path, error);
  return text;
}

// The temporary files the directory's writers make beside a file while they save it
// (see AtomicFileWriter): ".Proxies.pro.Ab3xYz".
bool IsOwnTemporaryName(const std::string& name) {
  for (DataFile f : {DataFile::ProxyList, DataFile::Settings, DataFile::Sources, DataFile::Options,
                     DataFile::Credentials, DataFile::Pac}) {
    const std::string prefix = std::string(".") + DataFileName(f) + ".";
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) return true;
  }
  const std::string rejected = std::string(".") + kRejectedListFileName + ".";
  return name.size() == rejected.size() + 6 && name.compare(0, rejected.size(), rejected) == 0;
}

}  // namespace

DataDir::DataDir(std::string path, const OpenOptions& options)
    : m_path(WithSlash(std::move(path))),
      m_list(std::make_unique<CProxyListModel>()),
      m_settings(std::make_unique<CSettings>()),
      m_sources(std::make_unique<CProxySourceListModel>()) {
  m_firstStart = !qb::FileExists(FilePath(DataFile::Settings));
  m_favoritesProfile = options.favoritesProfile.empty() ? FavoritesProfileFor(m_path, FavoritesProfilePath())
                                                        : options.favoritesProfile;
  // Any move of the rows (a sort, a removal, a reload) parts their positions from the
  // file's lines until the next read or write of the file.
  auto moved = [this] { m_listInFileOrder = false; };
  auto forgetFileOrder = [this] { std::vector<const CProxyEntry*>().swap(m_fileOrder); };
  connect(m_list.get(), &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
    if (!m_listInFileOrder) return;
    m_fileOrder.clear();
    m_fileOrder.reserve(static_cast<std::size_t>(m_list->RowCount()));
    for (int row = 0; row < m_list->RowCount(); ++row) m_fileOrder.push_back(m_list->Entry(row));
  });
  connect(m_list.get(), &QAbstractItemModel::rowsAboutToBeRemoved, this, forgetFileOrder);
  connect(m_list.get(), &QAbstractItemModel::modelAboutToBeReset, this, forgetFileOrder);
  connect(m_list.get(), &QAbstractItemModel::dataChanged, this,
          [forgetFileOrder](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles != QList<int>{Qt::CheckStateRole}) forgetFileOrder();
          });
  connect(m_list.get(), &QAbstractItemModel::layoutChanged, this, moved);
  connect(m_list.get(), &QAbstractItemModel::rowsInserted, this, moved);
  connect(m_list.get(), &QAbstractItemModel::rowsRemoved, this, moved);
  connect(m_list.get(), &QAbstractItemModel::modelReset, this, moved);
}

DataDir::~DataDir() {
  for (const HeldDisplaced& held : m_heldDisplaced) ::unlink(held.path.c_str());
}

std::unique_ptr<DataDir> DataDir::Open(const std::string& path, Access access, OpenReport* report,
                                       const OpenOptions& options) {
  OpenReport local;
  OpenReport& r = report ? *report : local;
  r = {};
  std::unique_ptr<DataDir> dir(new DataDir(path, options));
  if (access == Access::Read) return dir;

  // A directory asked for by name is made, as the default one is; one that cannot be
  // made leaves the saves to fail and say so.
  if (!QFileInfo::exists(QString::fromStdString(dir->m_path))) {
    std::string why;
    std::string bare = dir->m_path;
    if (bare.size() > 1) bare.pop_back();
    // The folders above it as mkdir -p makes them; the directory itself is private.
    QDir().mkpath(QFileInfo(QString::fromStdString(bare)).path());
    if (!qb::EnsurePrivateDir(bare, qb::LooseMode::Tighten, &why))
      r.error = "cannot create " + bare + ": " + why;
  }
  // A link at the lock's name is no lock of a writer's: it would keep every writer
  // out for good. The link itself goes (never what it points to); anything else
  // there that is no file is a lock that cannot be made.
  const std::string lockPath = dir->FilePath(DataFile::Lock);
  struct stat lockStat {};
  if (::lstat(lockPath.c_str(), &lockStat) == 0 && S_ISLNK(lockStat.st_mode)) ::unlink(lockPath.c_str());
  dir->m_lock = std::make_unique<DataDirLock>(lockPath);
  DataDirLock& lock = *dir->m_lock;
  DataDirLock::Outcome outcome = lock.TryLock(0);
  if (outcome == DataDirLock::Outcome::Held && options.lockWaitMs > 0 &&
      (options.waitForWindow || lock.HolderName() != kWindowExecutable))
    outcome = lock.TryLock(options.lockWaitMs);
  switch (outcome) {
    case DataDirLock::Outcome::Ours:
      r.holder = Holder::Us;
      ::chmod(lockPath.c_str(), 0600);
      // A writer killed in the middle of a save left its temporary file behind; no one
      // else may be writing now, so those left are stale.
      dir->RemoveStaleTemporaryFiles();
      break;
    case DataDirLock::Outcome::Failed:
      r.holder = Holder::NoLock;
      if (r.error.empty()) r.error = lock.Error();
      dir->m_lock.reset();
      break;
    case DataDirLock::Outcome::Held:
      r.holderText = lock.HolderText();
      r.holder = lock.HolderName() == kWindowExecutable ? Holder::Window : Holder::Command;
      break;
  }
  dir->m_holder = r.holder;
  return dir;
}

void DataDir::RemoveStaleTemporaryFiles() {
  DIR* d = ::opendir(m_path.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (!IsOwnTemporaryName(name)) continue;
    const std::string path = qb::JoinPath(m_path, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
      ::unlink(path.c_str());
  }
  ::closedir(d);
}

std::unique_ptr<DataDir> DataDir::Open(const std::string& path, Access access, OpenReport* report) {
  return Open(path, access, report, OpenOptions());
}

std::string DataDir::FilePath(DataFile file) const {
  return qb::JoinPath(m_path, DataFileName(file));
}

bool DataDir::Exists(DataFile file) const {
  return QFileInfo::exists(QString::fromStdString(FilePath(file)));
}

bool DataDir::Writable() const {
  return m_holder == Holder::Us || m_holder == Holder::NoLock;
}

// --- The proxy list ---

namespace {

// Sizes the list once for the rows the file likely holds (the program writes lines of
// about 40 bytes), instead of growing the key set step by step: each doubling reads
// every entry again, which at ten million rows is a good part of the load. Capped, so
// that a huge file of something else reserves no gigabytes.
void ReserveFor(CProxyListModel& list, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || st.st_size <= 0) return;
  constexpr std::uint64_t kLineBytes = 40, kMaxReserved = std::uint64_t{1} << 24;
  list.ReserveRows(static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size) / kLineBytes, kMaxReserved)));
}

qb::OpResult OpenFailure(const std::string& path) {
  return ReadFailure(path, errno == ELOOP ? qb::kLinkRefused : std::strerror(errno));
}

FileIdentity IdentityOfFd(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

}  // namespace

qb::OpResult DataDir::ReadListFrom(int fd, std::uint64_t from, CProxyListModel& into,
                                   ListFileRejects* rejects) const {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && from == 0) ReserveFor(into, st);
  errno = 0;
  if (!AddRowsFromListFd(into, fd, from, {}, rejects))
    return ReadFailure(FilePath(DataFile::ProxyList), errno != 0 ? std::strerror(errno) : "read error");
  return qb::OpResult::Success();
}

qb::OpResult DataDir::ReadList(CProxyListModel& into) const {
  const std::string path = FilePath(DataFile::ProxyList);
  const qb::UniqueFd file(qb::OpenNoFollow(path));
  if (file.get() < 0) return errno == ENOENT ? qb::OpResult::Success() : OpenFailure(path);
  // A directory in its place reads as no list; the next save says what is wrong.
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return qb::OpResult::Success();
  return ReadListFrom(file.get(), 0, into, nullptr);
}

qb::OpResult DataDir::ReadListRows(const std::function<bool(const CProxyEntry&)>& keep,
                                   std::vector<CProxyEntry>& rows) const {
  rows.clear();
  const std::string path = FilePath(DataFile::ProxyList);
  const qb::UniqueFd file(qb::OpenNoFollow(path));
  if (file.get() < 0) return errno == ENOENT ? qb::OpResult::Success() : OpenFailure(path);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return qb::OpResult::Success();
  errno = 0;
  std::optional<std::vector<CProxyEntry>> read = ReadRowsFromListFd(file.get(), keep);
  if (!read) return ReadFailure(path, errno != 0 ? std::strerror(errno) : "read error");
  rows = std::move(*read);
  return qb::OpResult::Success();
}

qb::OpResult DataDir::LoadList(ListLoad* load) {
  if (load) *load = {};
  const bool empty = m_list->RowCount() == 0;
  const std::string path = FilePath(DataFile::ProxyList);
  const qb::UniqueFd file(qb::OpenNoFollow(path));
  if (file.get() < 0) {
    if (errno != ENOENT) return OpenFailure(path);
    m_listOnDisk.reset();
    if (empty) SetInFileOrder();
    return qb::OpResult::Success();
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return qb::OpResult::Success();
  const FileIdentity before = IdentityOfFd(file.get());
  ListFileRejects rejects;
  const qb::OpResult read = ReadListFrom(file.get(), 0, *m_list, &rejects);
  if (!read) return read;
  m_listOnDisk = before;
  if (empty) SetInFileOrder();
  const qb::OpResult kept = KeepRejected(rejects);
  if (load) {
    load->rejected = rejects.count;
    load->rejectedKept = kept;
  }
  return qb::OpResult::Success();
}

void DataDir::SetInFileOrder() {
  m_listInFileOrder = true;
  std::vector<const CProxyEntry*>().swap(m_fileOrder);
}

bool DataDir::ListChangedOnDisk() const {
  return StatFileIdentity(FilePath(DataFile::ProxyList)) != m_listOnDisk;
}

qb::OpResult DataDir::KeepRejected(const ListFileRejects& rejects) {
  if (rejects.lines.empty()) return qb::OpResult::Success();
  // Added to what the side file holds, each line once: the same file read again does
  // not grow it.
  const std::string path = qb::JoinPath(m_path, kRejectedListFileName);
  std::string text = qb::ReadWholeFile(path, nullptr, qb::Links::Refuse).value_or(std::string());
  std::unordered_set<std::string> held;
  qb::ForEachLine(text, [&](std::string_view line) { held.emplace(line); });
  bool added = false;
  for (const std::string& line : rejects.lines) {
    if (!held.insert(line).second) continue;
    text.append(line).append("\r\n");
    added = true;
  }
  return added ? WriteText(path, text) : qb::OpResult::Success();
}

int DataDir::MergeRowsBehind(int fd, const std::optional<FileIdentity>& known, FileIdentity* seen) {
  const FileIdentity now = IdentityOfFd(fd);
  if (seen) *seen = now;
  if (known && now == *known) return 0;
  // Lines appended to the file it knew are read from where it ended; any other change
  // (a file put in its place, one rewritten in place) is read whole. Either way only
  // the rows the list lacks are added: nothing another program added is lost.
  const bool appended =
      known && now.device == known->device && now.inode == known->inode && now.size > known->size;
  const std::uint64_t from = appended ? static_cast<std::uint64_t>(known->size) : 0;
  CProxyListModel behind;
  ListFileRejects rejects;
  if (!ReadListFrom(fd, from, behind, &rejects)) return 0;
  (void)KeepRejected(rejects);
  return AddMissingRows(*m_list, behind);
}

namespace {

// True once no one has the file open for writing, waiting up to `patience` for it. A
// read lease is granted only then; readers do not stand in its way.
bool WaitForWritersToClose(int fd, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto pause = std::chrono::microseconds(200);
  // Should anyone open it for writing in the moment the lease is held, the notice the
  // kernel sends is one whose default is to be ignored, not SIGIO's end of the process.
  ::fcntl(fd, F_SETSIG, SIGURG);
  for (;;) {
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      return true;
    }
    // A file system without leases cannot tell; reading at once is what it gets.
    if (errno != EAGAIN) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
  }
}

}  // namespace

int DataDir::MergeDisplaced(const std::string& path, const std::optional<FileIdentity>& known) {
  const qb::UniqueFd old(qb::OpenNoFollow(path));
  if (old.get() < 0) return 0;
  // A program that opened the list for appending just before the exchange writes into
  // the displaced file; reading it before that write lands would lose the row. Such a
  // write takes microseconds; one that keeps the file open longer is looked at again
  // by every save until it closes it.
  const bool closed = WaitForWritersToClose(old.get(), std::chrono::milliseconds(500));
  FileIdentity seen;
  const int added = MergeRowsBehind(old.get(), known, &seen);
  if (closed) {
    ::unlink(path.c_str());
  } else {
    m_heldDisplaced.push_back({path, seen});
  }
  return added;
}

int DataDir::MergeHeldDisplaced() {
  int added = 0;
  std::vector<HeldDisplaced> held = std::move(m_heldDisplaced);
  m_heldDisplaced.clear();
  for (HeldDisplaced& file : held) {
    const qb::UniqueFd fd(qb::OpenNoFollow(file.path));
    if (fd.get() < 0) continue;
    const bool closed = WaitForWritersToClose(fd.get(), std::chrono::milliseconds(0));
    FileIdentity seen;
    added += MergeRowsBehind(fd.get(), file.seen, &seen);
    if (closed) {
      ::unlink(file.path.c_str());
    } else {
      m_heldDisplaced.push_back({std::move(file.path), seen});
    }
  }
  return added;
}

qb::OpResult DataDir::SaveList() {
  const std::string path = FilePath(DataFile::ProxyList);
  // What another program added since the list last read or wrote the file goes into
  // the list first, so that the save below writes it back.
  m_rowsMergedBehind += MergeHeldDisplaced();
  std::optional<FileIdentity> merged;
  {
    const qb::UniqueFd file(qb::OpenNoFollow(path));
    if (file.get() >= 0) {
      struct stat st {};
      if (::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        m_rowsMergedBehind += MergeRowsBehind(file.get(), m_listOnDisk);
        merged = IdentityOfFd(file.get());
      }
    }
  }
  qb::OpResult result;
  // A row added behind in the moment between that look and the save's exchange is
  // found in the file the exchange displaces; the list then takes it and is written
  // again. A few rounds at most: a writer that never pauses is the one left waiting.
  for (int round = 0; round < 5; ++round) {
    qb::AtomicFileWriter file(path);
    std::string displaced;
    if (!WriteListFile(*m_list, [&](std::string_view text) { return file.Write(text); }) ||
        !file.CommitDisplacing(&displaced)) {
      result = qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, file.Error());
      break;
    }
    m_listOnDisk = file.CommittedIdentity();
    SetInFileOrder();
    if (displaced.empty()) break;
    const int added = MergeDisplaced(displaced, merged);
    m_rowsMergedBehind += added;
    if (added == 0) break;
    merged.reset();
  }
  if (result) result = SaveCredentialsWithList();
  emit ListSaved(result);
  return result;
}

qb::OpResult DataDir::SaveCredentialsWithList() {
  // A deleted, cleaned or modified row leaves no log-on behind; new ones are written
  // only now that the list that holds their rows is on disk.
  const CProxyCredentialStore& store = Credentials();
  if (!m_credentialsReadResult) return m_credentialsReadResult;
  bool changed = m_credentialsPending;
  if (store.Size() > 0) {
    CProxyCredentialStore kept = store;
    if (kept.KeepOnly(*m_list)) {
      m_credentials = std::move(kept);
      changed = true;
    }
  }
  return changed ? SaveCredentialsStore() : qb::OpResult::Success();
}

qb::OpResult DataDir::SaveList(const FoundCredentialList& logOns) {
  if (!logOns.empty()) {
    Credentials();
    // A store that could not be read is never replaced by one that lacks its log-ons.
    if (!m_credentialsReadResult) return m_credentialsReadResult;
    for (const auto& [key, logOn] : logOns)
      m_credentialsPending = m_credentials.Set(key, logOn) || m_credentialsPending;
  }
  return SaveList();
}

// --- Setting.dat ---

qb::OpResult DataDir::ReadSettings() {
  qb::OpResult read;
  const std::optional<std::string> text = ReadDataFile(FilePath(DataFile::Settings), read);
  if (text) ReadSettingsText(*m_settings, *text);
  return read;
}

qb::OpResult DataDir::LoadSettings(bool* defaultsInstalled, BuiltInResources builtIn) {
  if (defaultsInstalled) *defaultsInstalled = false;
  if (qb::OpResult read = ReadSettings(); !read) return read;
  qb::OpResult result;
  if (m_settings->m_aVerifySources.empty() && builtIn == BuiltInResources::Hold) {
    InstallDefaultVerifySources(*m_settings);
    RecordCheckedSources(*m_settings);
    if (defaultsInstalled) *defaultsInstalled = true;
  } else if (m_settings->m_aVerifySources.empty()) {
    // A file that held something but no resource is kept as it was before the built-in
    // resources are written over it: it may be one the user mistyped.
    const std::string path = FilePath(DataFile::Settings);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      const std::string kept = qb::FreeDamagedName(path);
      if (::link(path.c_str(), kept.c_str()) == 0) {
        m_settingsKeptAs = kept;
      } else if (const auto old = qb::ReadWholeFile(path, nullptr, qb::Links::Refuse);
                 old && qb::WriteFileAtomically(kept, *old)) {
        m_settingsKeptAs = kept;
      }
    }
    InstallDefaultVerifySources(*m_settings);
    if (defaultsInstalled) *defaultsInstalled = true;
    result = SaveSettings();
  }
  // The loaded time-outs take effect at once, not only after the settings dialog was
  // first confirmed.
  ApplyTimeouts(*m_settings);
  return result;
}

qb::OpResult DataDir::SaveSettings() {
  RecordCheckedSources(*m_settings);
  return WriteText(FilePath(DataFile::Settings), FormatSettingsFile(*m_settings));
}

// --- Options.ini ---

qb::OpResult DataDir::LoadOptions() {
  qb::OpResult read;
  const std::optional<std::string> text = ReadDataFile(FilePath(DataFile::Options), read);
  if (text) m_options = ParseOptionsFile(*text);
  return read;
}

qb::OpResult DataDir::SaveOptions() {
  return WriteText(FilePath(DataFile::Options), FormatOptionsFile(m_options));
}

// --- Sources.dat ---

qb::OpResult DataDir::LoadSources() {
  qb::OpResult read;
  const std::optional<std::string> text = ReadDataFile(FilePath(DataFile::Sources), read);
  if (!read) return read;
  m_sources->Clear();
  if (text) ReadSourcesText(*m_sources, *text);
  return read;
}

qb::OpResult DataDir::SaveSources() {
  return WriteText(FilePath(DataFile::Sources), FormatSourcesFile(*m_sources));
}

// --- Credentials.dat ---

const CProxyCredentialStore& DataDir::Credentials() {
  const std::string path = FilePath(DataFile::Credentials);
  const std::optional<FileIdentity> now = StatFileIdentity(path);
  if (m_credentialsKnown && (now == m_credentialsRead || m_credentialsPending)) return m_credentials;
  // A store that cannot be read leaves the proxies without log-ons; those that need
  // one then say so in their status.
  m_credentials = {};
  m_credentialsReadResult = qb::OpResult::Success();
  if (now) {
    std::string error;
    if (const std::optional<std::string> text = qb::ReadWholeFile(path, &error)) {
      m_credentials.Parse(*text);
    } else {
      m_credentialsReadResult = ReadFailure(path, error);
    }
  }
  m_credentialsRead = now;
  m_credentialsKnown = true;
  return m_credentials;
}

qb::OpResult DataDir::SaveCredentialsStore() {
  const std::string path = FilePath(DataFile::Credentials);
  qb::OpResult result;
  if (m_credentials.Size() == 0) {
    // Nothing secret is left to keep; no file stays behind to be read.
    if (qb::FileExists(path) && ::unlink(path.c_str()) != 0 && errno != ENOENT)
      result = qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, std::strerror(errno));
  } else {
    result = WriteText(path, m_credentials.Format());
  }
  if (result) m_credentialsPending = false;
  m_credentialsRead = StatFileIdentity(path);
  return result;
}

qb::OpResult DataDir::RememberCredentials(const FoundCredentialList& found) {
  if (found.empty()) return qb::OpResult::Success();
  Credentials();
  // A store that could not be read is never replaced by one that lacks its log-ons.
  if (!m_credentialsReadResult) return m_credentialsReadResult;
  bool changed = false;
  for (const auto& [key, logOn] : found) changed = m_credentials.Set(key, logOn) || changed;
  return changed ? SaveCredentialsStore() : qb::OpResult::Success();
}

qb::OpResult DataDir::StoreCredentials(const std::string& key, const std::optional<ProxyCredentials>& logOn) {
  Credentials();
  if (!m_credentialsReadResult) return m_credentialsReadResult;
  return m_credentials.Set(key, logOn) ? SaveCredentialsStore() : qb::OpResult::Success();
}

qb::OpResult DataDir::SetLogOn(const std::string& key, const std::optional<ProxyCredentials>& logOn) {
  Credentials();
  if (!m_credentialsReadResult) return m_credentialsReadResult;
  m_credentialsPending = m_credentials.Set(key, logOn) || m_credentialsPending;
  return qb::OpResult::Success();
}

// --- History.sqlite ---

HistoryOpening DataDir::OpenHistory() {
  HistoryOpening opening;
  if (m_history) {
    opening.open = true;
    return opening;
  }
  CHistoryStore::OpenReport report;
  m_history = CHistoryStore::Open(FilePath(DataFile::History), &report);
  opening.created = report.created;
  opening.movedAside = report.movedAside;
  opening.salvaged = report.salvaged;
  opening.reason = report.reason;
  opening.problem = report.problem;
  if (m_history) {
    opening.thinned = m_history->ThinIfDue(HistoryNow(), m_options.history.keepDays);
    m_recorder = std::make_unique<CHistoryRecorder>(*m_history);
    opening.open = true;
  }
  return opening;
}

HistoryOpening DataDir::RebuildHistory() {
  m_recorder.reset();
  m_history.reset();
  CHistoryStore::OpenReport report;
  m_history = CHistoryStore::Rebuild(FilePath(DataFile::History), &report);
  HistoryOpening opening;
  opening.movedAside = report.movedAside;
  opening.salvaged = report.salvaged;
  opening.reason = report.reason;
  opening.problem = report.problem;
  if (m_history) {
    m_recorder = std::make_unique<CHistoryRecorder>(*m_history);
    opening.open = true;
  }
  return opening;
}

HistoryOpening DataDir::OpenHistoryToRead() {
  HistoryOpening opening;
  if (!m_history) {
    CHistoryStore::OpenReport report;
    m_history = CHistoryStore::Open(FilePath(DataFile::History), &report, HistoryMigrations(),
                                    CHistoryStore::Mode::Read);
    opening.reason = report.reason;
    opening.problem = report.problem;
  }
  opening.open = m_history != nullptr;
  return opening;
}

// --- Favourite marks ---

void DataDir::RestoreFavorites() {
  ApplyFavoritesText(*m_list, ReadFavoritesProfile(m_favoritesProfile));
}

bool DataDir::SaveFavorites() {
  std::string text;
  if (m_listInFileOrder) {
    text = FavoritesText(*m_list);
  } else if (!m_fileOrder.empty() && !ListChangedOnDisk()) {
    // The file is still the one the rows were in before they moved.
    for (std::size_t place = 0; place < m_fileOrder.size(); ++place) {
      if (m_fileOrder[place]->IsFavorite()) text += qb::Format(" %zu", place);
    }
  } else {
    // The rows moved since the file was written: the marks are the positions of the
    // ticked proxies among the file's rows, which is what a start reads them against.
    std::unordered_set<std::string> ticked;
    for (int row = 0; row < m_list->RowCount(); ++row) {
      if (m_list->IsFavorite(row)) ticked.insert(CredentialsKey(*m_list->Entry(row)));
    }
    if (!ticked.empty()) {
      CProxyListModel onDisk;
      if (!ReadList(onDisk)) return false;
      for (int row = 0; row < onDisk.RowCount(); ++row) {
        if (ticked.count(CredentialsKey(*onDisk.Entry(row)))) text += qb::Format(" %d", row);
      }
    }
  }
  return WriteFavoritesProfile(m_favoritesProfile, text);
}

// --- Files changed behind the program ---

void DataDir::WatchFiles() {
  if (m_watcher) return;
  std::vector<std::string> names;
  for (DataFile f : kWatchedFiles) names.emplace_back(DataFileName(f));
  m_watcher = new FileWatcher(m_path, names, this);
  connect(m_watcher, &FileWatcher::ChangedBehind, this, [this](const std::string& name) {
    for (DataFile f : kWatchedFiles) {
      if (name == DataFileName(f)) emit ChangedBehind(f);
    }
  });
}

void DataDir::Acknowledge(DataFile file) {
  if (m_watcher) m_watcher->Acknowledge(DataFileName(file));
}

void DataDir::CheckFilesNow() {
  if (m_watcher) m_watcher->CheckNow();
}

}  // namespace qb
