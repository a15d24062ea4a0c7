// One data directory: its files, what is read from them, who may write them, and what
// another program changed behind this one's back.
//
// Every front end opens the directory it was given once, through this class, and
// reaches the list, the settings, the options, the sources, the log-ons, the history
// and the favourite marks through it. Nothing else joins a file name to the
// directory's path, and nothing else takes its lock: a second writer is refused here
// or handed off by the caller, never discovered at a save.
//
// The objects are read when the caller asks (a command reads only what it needs) and
// written by the Save functions, each returning how it went; none of them says
// anything to the user. The window and the command line word the results.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Files.h"
#include "base/OpResult.h"
#include "datadir/DataDirLock.h"
#include "history/History.h"
#include "proxy/ProxyCredentials.h"
#include "settings/Options.h"

namespace qb {

class CHistoryRecorder;
class CHistoryStore;
class CProxyEntry;
class CProxyListModel;
class CProxySourceListModel;
class CSettings;
class FileWatcher;
struct ListFileRejects;

// Where the lines of Proxies.pro that hold no proxy are kept.
inline constexpr const char* kRejectedListFileName = "Proxies.pro.rejected";

// The files of a data directory.
enum class DataFile {
  ProxyList,    // Proxies.pro: the rows
  Settings,     // Setting.dat: the ten settings and the verification resources
  Sources,      // Sources.dat: the proxy sources
  Options,      // Options.ini: what came after Setting.dat (script, endpoint, history)
  Credentials,  // Credentials.dat: the proxies' log-ons, owner-only
  History,      // History.sqlite: every result of every run
  Lock,         // .quillberry.lock: who writes the directory
  Pac,          // proxy.pac: the last auto-config script, for the user
  PacTemplate,  // UserdefinedTemplate.pac: the user's own script
  IpLocation,   // wry.dll: the legacy location database
  Help,         // QuillberryHelp.chm: the help document the help link opens
};
// The file's name inside the directory ("Proxies.pro").
const char* DataFileName(DataFile file);

// What the history's opening found; the caller words it.
struct HistoryOpening {
  bool created = false;
  // A damaged file was moved here and a new history made in its place, holding the
  // results that could still be read from it.
  std::string movedAside;
  std::int64_t salvaged = 0;
  // Why the file was moved aside or could not be opened.
  std::string reason;
  // What keeps it from being used (None when it is open).
  HistoryProblem problem = HistoryProblem::None;
  // True when there is a history to record into (or, opened to read, to read).
  bool open = false;
  // Results older than the keep-days rule that the opening deleted (it thins once a day).
  std::int64_t thinned = 0;
};

class DataDir : public QObject {
  Q_OBJECT

 public:
  enum class Access {
    // Nothing is claimed: the caller only reads, or writes files that no other writer
    // rewrites whole (a command that prints the settings).
    Read,
    // The directory's lock is taken for as long as the object lives; another writer
    // is refused meanwhile.
    Write,
  };
  // Who holds the lock after Open.
  enum class Holder {
    None,     // Access::Read: not asked
    Us,       // this object: the caller may write
    Window,   // the window of this directory: hand the work to it, or refuse
    Command,  // another command: refuse
    NoLock,   // no lock file can be made there; the saves themselves fail and say so
  };
  struct OpenOptions {
    // How long to wait for a holder to let go. A command's save takes moments; the
    // window never lets go while it runs, so waiting for it is wasted unless asked.
    int lockWaitMs = 2000;
    bool waitForWindow = false;
    // Where the favourite marks are kept; empty: the documented place for this
    // directory (see FavoritesProfileFor).
    std::string favoritesProfile;
  };
  struct OpenReport {
    Holder holder = Holder::None;
    // "the Quillberry window (process N)", when another holds the lock.
    std::string holderText;
    // Why no lock file could be made, or why the directory could not be made.
    std::string error;
  };

  // Opens the directory at path (a trailing "/" is added when missing). With Write,
  // a missing directory is made (mode 0700) and the lock is tried; the object is
  // returned whoever holds it, so that a caller refused the lock can still read or
  // hand its work on: Writable() tells.
  static std::unique_ptr<DataDir> Open(const std::string& path, Access access, OpenReport* report,
                                       const OpenOptions& options);
  static std::unique_ptr<DataDir> Open(const std::string& path, Access access, OpenReport* report = nullptr);
  ~DataDir() override;
  DataDir(const DataDir&) = delete;
  DataDir& operator=(const DataDir&) = delete;

  // The directory, ending in "/".
  const std::string& Path() const { return m_path; }
  std::string FilePath(DataFile file) const;
  bool Exists(DataFile file) const;
  // Whether this object holds the lock (or none can be made and the saves will say).
  bool Writable() const;
  // Whether no Setting.dat existed when the directory was opened: the first start.
  bool FirstStart() const { return m_firstStart; }

  // --- The proxy list ---
  CProxyListModel& List() { return *m_list; }
  const CProxyListModel& List() const { return *m_list; }
  // What loading the list met besides its rows: lines that hold no proxy at all, kept
  // in Proxies.pro.rejected (and how keeping them went) rather than dropped unseen.
  struct ListLoad {
    std::size_t rejected = 0;
    qb::OpResult rejectedKept;
  };
  // Appends the rows of Proxies.pro to the list (unselected). A missing file is a
  // success with no rows; ReadFailed with the path when it cannot be read, a symbolic
  // link at its name among it (never followed).
  qb::OpResult LoadList(ListLoad* load = nullptr);
  // Reads Proxies.pro as it is on disk into another list (the window keeps what
  // another program wrote while it was busy).
  qb::OpResult ReadList(CProxyListModel& into) const;
  // The rows of the list file for which keep is true, as ReadList would hold them, in
  // their order, without a list (ReadRowsFromListFd): for a reader that wants only a
  // few kinds of rows of a long list.
  qb::OpResult ReadListRows(const std::function<bool(const CProxyEntry&)>& keep,
                            std::vector<CProxyEntry>& rows) const;
  // Rewrites Proxies.pro from the list, atomically, then writes the log-ons of its rows
  // (and drops those of proxies no longer in it). Rows another program added to the
  // file since the list last read or wrote it are added to the list first, in one
  // read, merge and write that checks the file's identity, so that none is lost.
  // WriteFailed with the path on failure (the old file stays, and so do the log-ons).
  qb::OpResult SaveList();
  // The same with log-ons that came with new rows: they are written only with the list
  // they belong to.
  qb::OpResult SaveList(const FoundCredentialList& logOns);
  // Whether Proxies.pro is other than the list last read or wrote it.
  bool ListChangedOnDisk() const;
  // How many rows the saves have taken in from another program's changes so far.
  int RowsMergedBehind() const { return m_rowsMergedBehind; }

  // --- Setting.dat ---
  CSettings& Settings() { return *m_settings; }
  // What LoadSettings does with the built-in resources it gives a file without any.
  enum class BuiltInResources {
    // Saved at once; a file that held something is first kept aside.
    Save,
    // Only held in memory, nothing written: the window's first start saves them with
    // the user's first choices, and a command never writes settings it was not asked
    // to (nor makes the window's next start look like a later one).
    Hold,
  };
  // Reads the settings; a file without resources (or no file) gets the built-in ones
  // (*defaultsInstalled says so); with Save they are saved at once, and a file that
  // held something is first kept as Setting.dat.damaged-<time> (SettingsKeptAs).
  // ReadFailed leaves the defaults.
  qb::OpResult LoadSettings(bool* defaultsInstalled = nullptr,
                            BuiltInResources builtIn = BuiltInResources::Save);
  // Where the last LoadSettings kept a Setting.dat it replaced; empty when none.
  const std::string& SettingsKeptAs() const { return m_settingsKeptAs; }
  // Reads the settings as the file holds them, installing and writing nothing (a
  // look-up of one setting).
  qb::OpResult ReadSettings();
  qb::OpResult SaveSettings();

  // --- Options.ini ---
  ExtraOptions& Options() { return m_options; }
  // A missing file leaves the defaults.
  qb::OpResult LoadOptions();
  qb::OpResult SaveOptions();

  // --- Sources.dat ---
  CProxySourceListModel& Sources() { return *m_sources; }
  // Replaces the sources with the file's.
  qb::OpResult LoadSources();
  qb::OpResult SaveSources();

  // --- Credentials.dat ---
  // The log-ons as the file holds them now: read again when the file changed since
  // it was last read or written here.
  const CProxyCredentialStore& Credentials();
  // Adds what an import found (a proxy found again with other log-ons gets the new
  // ones) and saves the store when it changed. Nothing is written when none came.
  qb::OpResult RememberCredentials(const FoundCredentialList& found);
  // Sets (nullopt: removes) one proxy's log-on and saves the store.
  qb::OpResult StoreCredentials(const std::string& key, const std::optional<ProxyCredentials>& logOn);
  // Sets (nullopt: removes) one proxy's log-on for the list's next save, which writes
  // it with the list it belongs to. ReadFailed when the store cannot be read.
  qb::OpResult SetLogOn(const std::string& key, const std::optional<ProxyCredentials>& logOn);

  // --- History.sqlite ---
  // Opens the history (creating or migrating it; a damaged file is moved aside) and
  // thins it when due. Once open, History() and Recorder() are not null.
  HistoryOpening OpenHistory();
  // Opens an existing history only to read it: nothing is made, changed or moved, and
  // a directory that cannot be written is read as well.
  HistoryOpening OpenHistoryToRead();
  // Moves a history found damaged aside (History.sqlite.damaged-<time>) and makes a
  // new one holding what can still be read of it.
  HistoryOpening RebuildHistory();
  CHistoryStore* History() const { return m_history.get(); }
  CHistoryRecorder* Recorder() const { return m_recorder.get(); }

  // --- Favourite marks ---
  // The profile the marks of this directory's list are kept in.
  const std::string& FavoritesProfile() const { return m_favoritesProfile; }
  // Ticks the rows the profile names.
  void RestoreFavorites();
  // Writes the ticked rows to the profile as positions of the rows in Proxies.pro as
  // it was last saved or read, so that a list sorted since (its file keeps the old
  // order) gets its marks on the same proxies, in this version and in an older one.
  bool SaveFavorites();

  // --- Files changed behind the program ---
  // From now on ChangedBehind tells when another program changes Proxies.pro,
  // Setting.dat or Sources.dat; what they hold now counts as known.
  void WatchFiles();
  // What the file holds now counts as known (after the caller read it).
  void Acknowledge(DataFile file);
  // Looks at the files now rather than after the settling pause (for tests).
  void CheckFilesNow();

 signals:
  void ChangedBehind(qb::DataFile file);
  // Proxies.pro was written (or could not be: the result says why).
  void ListSaved(const qb::OpResult& result);

 private:
  DataDir(std::string path, const OpenOptions& options);
  qb::OpResult SaveCredentialsStore();
  qb::OpResult SaveCredentialsWithList();
  qb::OpResult ReadListFrom(int fd, std::uint64_t from, CProxyListModel& into,
                            ListFileRejects* rejects) const;
  // Adds the rows of the open list file that the list lacks; known is what the list
  // last saw of the file. Returns how many were added.
  int MergeRowsBehind(int fd, const std::optional<FileIdentity>& known, FileIdentity* seen = nullptr);
  // Takes in the rows of a file a save displaced. Returns how many were added.
  int MergeDisplaced(const std::string& path, const std::optional<FileIdentity>& known);
  int MergeHeldDisplaced();
  qb::OpResult KeepRejected(const ListFileRejects& rejects);
  void RemoveStaleTemporaryFiles();
  void MarkListOrderSaved();

  std::string m_path;
  std::unique_ptr<DataDirLock> m_lock;
  DataDir::Holder m_holder = Holder::None;
  bool m_firstStart = false;
  std::unique_ptr<CProxyListModel> m_list;
  std::unique_ptr<CSettings> m_settings;
  ExtraOptions m_options;
  std::unique_ptr<CProxySourceListModel> m_sources;
  CProxyCredentialStore m_credentials;
  // The identity of Credentials.dat when it was last read or written here, and why it
  // could not be read (then nothing replaces it).
  std::optional<FileIdentity> m_credentialsRead;
  bool m_credentialsKnown = false;
  qb::OpResult m_credentialsReadResult;
  std::unique_ptr<CHistoryStore> m_history;
  std::unique_ptr<CHistoryRecorder> m_recorder;
  std::string m_favoritesProfile;
  // The list has just been read from Proxies.pro or written to it.
  void SetInFileOrder();
  // The rows have not moved since Proxies.pro was last read or written: a row's
  // position in the list is its position in the file.
  bool m_listInFileOrder = true;
  // The entries in the order of Proxies.pro, taken when a sort first moved the rows
  // away from it, so that the favourite marks can be saved as places in the file
  // without reading it again. Empty when none was taken or it no longer stands for the
  // file: a row went (its entry with it) or changed other than by its mark.
  std::vector<const CProxyEntry*> m_fileOrder;
  // Proxies.pro as the list last read or wrote it.
  std::optional<FileIdentity> m_listOnDisk;
  int m_rowsMergedBehind = 0;
  // Files saves displaced while another program still had them open for writing: what
  // it writes there later is taken in by the next save.
  struct HeldDisplaced {
    std::string path;
    FileIdentity seen;
  };
  std::vector<HeldDisplaced> m_heldDisplaced;
  // Log-ons set for rows whose list is not yet saved.
  bool m_credentialsPending = false;
  std::string m_settingsKeptAs;
  FileWatcher* m_watcher = nullptr;
};

}  // namespace qb
