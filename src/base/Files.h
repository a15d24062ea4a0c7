// Whole-file reading and atomic writing of the program's data files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qb {

// Whether a read may go through a symbolic link at the path itself.
enum class Links { Follow, Refuse };

// Reads a whole file. nullopt when it cannot be opened or read; error, when given, then
// receives the system's description of why. With Links::Refuse a symbolic link at path
// is not followed: the read fails and error says it is a link.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error = nullptr,
                                         Links links = Links::Follow);
// The words for a link that was not followed, as error receives them.
inline constexpr const char* kLinkRefused = "is a symbolic link, which is not followed";
// Opens path for reading without following a link at it (O_NOFOLLOW): -1 with errno
// ELOOP for a link.
int OpenNoFollow(const std::string& path);

// A descriptor closed when it goes out of scope; -1 holds none.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};
// The file at path, opened to read (following links); get() is -1 when it cannot be.
UniqueFd OpenToRead(const std::string& path);

bool FileExists(const std::string& path);

// What a directory that only this user may reach needs to be.
enum class LooseMode { Tighten, Refuse };
// Makes path (given without a trailing "/") a directory of this user that nobody else
// may enter: created with mode 0700 when missing; one that exists must be a real
// directory (never a link) owned by this user, and when others may enter it, it is
// tightened to 0700 or refused as loose says. False, with the reason in *why (the
// reason only; the caller names the directory), when it cannot be had.
bool EnsurePrivateDir(const std::string& path, LooseMode loose, std::string* why);

// What tells one version of a file from another without reading it: an atomic save
// makes a new file (a new inode), a write in place changes the size or the time.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// Writes content to path atomically: a temporary file in the same directory is
// written, flushed and checked, then renamed over the old file. On any failure the
// old file is left as it was and false is returned; error, when given, then receives
// the system's description of why.
//
// The data files can hold log-on names and passwords, and the data directory may hold
// names planted by someone else. So the new file is readable by its owner only (an
// old regular file's stricter mode is kept), and a symbolic link at path is replaced
// by the new file itself: whatever the link points to is never opened or written.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error = nullptr);

// The same, for content written piece by piece: nothing is visible at path until
// Commit() succeeds; a writer destroyed without it leaves the old file as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False when the temporary file cannot be created or written; later calls then do
  // nothing and Commit() fails.
  bool Write(std::string_view piece);
  // Flushes, checks and renames over the old file.
  bool Commit();
  // The same, but the new file and what stands at the path trade places in one step
  // (renameat2 with RENAME_EXCHANGE), so that what stood there is never lost unseen:
  // *displaced then names it (beside the path, under the temporary name), and the
  // caller reads what it needs from it and removes it. Empty when nothing stood there
  // or the file system cannot exchange (a plain rename was made).
  bool CommitDisplacing(std::string* displaced);
  // The identity of the file a successful commit put at the path, taken before it
  // went there: what a later look tells another program's change by.
  std::optional<FileIdentity> CommittedIdentity() const { return m_committed; }
  // Why Write or Commit failed, in the system's words; empty while nothing failed.
  std::string Error() const;

 private:
  bool WriteOut(const char* p, std::size_t size);
  bool Flush();
  bool Finish(bool exchange, std::string* displaced);
  void Fail(int code);
  void Discard();

  std::string m_path;
  std::string m_tempPath;  // empty once renamed or removed
  int m_fd = -1;
  bool m_ok = false;
  std::string m_buffer;  // small pieces, gathered into fewer writes
  std::string m_error;
  long long m_written = 0;  // bytes handed to the file
  long long m_queued = 0;   // bytes whose write-back to disk has been started
  std::optional<FileIdentity> m_committed;
};

// Calls line(data, size) for every line of the open file fd that starts at a byte
// offset in [begin, end), without its line end (LF, CR LF or CR, see LineEndFinder);
// the callee may change the line's bytes in place. end may be kToEndOfFile. A range that begins inside a line
// leaves that line to the range before it, so that ranges side by side hand every line to exactly one of
// them, which lets several threads read one file. A pipe can only be read whole (begin 0). False on a read
// error.
inline constexpr std::uint64_t kToEndOfFile = ~std::uint64_t{0};
bool ForEachLineInRange(int fd, std::uint64_t begin, std::uint64_t end,
                        const std::function<void(char*, std::size_t)>& line);

// The identity of what stands at path (a link itself, not its target); nullopt when
// nothing does.
std::optional<FileIdentity> StatFileIdentity(const std::string& path);
// The identity of the file this process last saved at path through the atomic
// writers; nullopt when it saved none there. A file watcher tells its own saves from
// another program's with it.
std::optional<FileIdentity> OwnSavedIdentity(const std::string& path);

// Joins a directory that ends in "/" (or is empty) with a file name.
std::string JoinPath(const std::string& dir, std::string_view name);

// The name a damaged or replaced file is kept under beside path:
// "path.damaged-20261209-153000", with "-2", "-3", ... when that is taken (by
// anything, a link included).
std::string FreeDamagedName(const std::string& path);

}  // namespace qb
