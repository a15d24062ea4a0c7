#include "base/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "base/Text.h"

namespace qb {

UniqueFd::~UniqueFd() {
  if (m_fd >= 0) ::close(m_fd);
}

UniqueFd OpenToRead(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

int OpenNoFollow(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error, Links links) {
  auto fail = [error](int code) -> std::optional<std::string> {
    if (error) *error = code == ELOOP ? kLinkRefused : std::strerror(code);
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0));
  if (fd < 0) return fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int code = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return fail(code);
  }
  std::string out;
  if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      const int code = errno;
      ::close(fd);
      return fail(code);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool EnsurePrivateDir(const std::string& path, LooseMode loose, std::string* why) {
  // mkdir never follows or reuses what someone else planted: an existing path is
  // checked as it is, with lstat.
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (why) *why = std::string("cannot be created: ") + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    if (why) *why = "is not a directory of this user";
    return false;
  }
  if ((st.st_mode & 077) == 0) return true;
  if (loose == LooseMode::Tighten && ::chmod(path.c_str(), st.st_mode & 0700) == 0) return true;
  if (why) *why = "may be entered by other users";
  return false;
}

namespace {

// Owner read and write; an existing regular file keeps any bit of those it lacks. A
// symbolic link's own mode means nothing, and its target's is not ours to copy.
mode_t ModeForReplacing(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & (S_IRUSR | S_IWUSR);
  return S_IRUSR | S_IWUSR;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// Saves happen on worker threads too (a verification run saves from its own).
std::mutex g_ownSavesMutex;
std::map<std::string, FileIdentity>& OwnSaves() {
  static std::map<std::string, FileIdentity> saves;
  return saves;
}

}  // namespace

std::optional<FileIdentity> StatFileIdentity(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

std::optional<FileIdentity> OwnSavedIdentity(const std::string& path) {
  const std::lock_guard<std::mutex> lock(g_ownSavesMutex);
  const auto it = OwnSaves().find(path);
  if (it == OwnSaves().end()) return std::nullopt;
  return it->second;
}

AtomicFileWriter::AtomicFileWriter(const std::string& path) : m_path(path) {
  // The temporary file sits beside the name given, not beside what a link there points
  // to, so that the rename replaces the name in this directory and nothing else.
  std::string name = JoinPath(DirectoryOf(path), "." + BaseNameOf(path) + ".XXXXXX");
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return;
  }
  m_fd = fd;
  m_tempPath = name;
  if (::fchmod(m_fd, ModeForReplacing(path)) != 0) {
    Fail(errno);
    Discard();
    return;
  }
  m_ok = true;
}

AtomicFileWriter::~AtomicFileWriter() {
  Discard();
}

void AtomicFileWriter::Fail(int code) {
  m_ok = false;
  if (m_error.empty()) m_error = std::strerror(code);
}

void AtomicFileWriter::Discard() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_tempPath.empty()) ::unlink(m_tempPath.c_str());
  m_tempPath.clear();
}

bool AtomicFileWriter::WriteOut(const char* p, std::size_t left) {
  while (m_ok && left > 0) {
    const ssize_t n = ::write(m_fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? errno : ENOSPC);
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
    m_written += n;
  }
  return m_ok;
}

bool AtomicFileWriter::Flush() {
  const bool ok = WriteOut(m_buffer.data(), m_buffer.size());
  m_buffer.clear();
  return ok;
}

bool AtomicFileWriter::Write(std::string_view piece) {
  if (!m_ok) return false;
  constexpr std::size_t kBufferSize = 64 << 10;
  if (m_buffer.size() + piece.size() > kBufferSize && !Flush()) return false;
  if (piece.size() >= kBufferSize) {
    if (!WriteOut(piece.data(), piece.size())) return false;
  } else {
    m_buffer.append(piece);
  }
  // The commit waits until the whole file is on disk. Starting the write-back of every
  // few megabytes already written lets the disk work while the rest is still being
  // made, so that the final wait is only for the tail.
  constexpr long long kWriteBackStep = 4 << 20;
  if (m_written - m_queued >= kWriteBackStep) {
    ::sync_file_range(m_fd, m_queued, m_written - m_queued, SYNC_FILE_RANGE_WRITE);
    m_queued = m_written;
  }
  return m_ok;
}

bool AtomicFileWriter::Commit() {
  return Finish(false, nullptr);
}

bool AtomicFileWriter::CommitDisplacing(std::string* displaced) {
  displaced->clear();
  return Finish(true, displaced);
}

bool AtomicFileWriter::Finish(bool exchange, std::string* displaced) {
  // A short final write (a full disk, a size limit) or a failed write-back must not be
  // renamed over the old file.
  if (!m_ok || !Flush() || ::fdatasync(m_fd) != 0) {
    if (m_ok) Fail(errno);
    Discard();
    return false;
  }
  // Taken before the rename, so that a watcher never sees the new file unknown.
  struct stat written {};
  const bool known = ::fstat(m_fd, &written) == 0;
  if (known) {
    m_committed = IdentityOf(written);
    const std::lock_guard<std::mutex> lock(g_ownSavesMutex);
    OwnSaves()[m_path] = IdentityOf(written);
  }
  if (::close(m_fd) != 0) {
    m_fd = -1;
    Fail(errno);
    Discard();
    return false;
  }
  m_fd = -1;
  // Replacing a large file makes the file system free the old one's blocks inside the
  // rename, with the caller waiting. While the old file is still open somewhere the
  // freeing waits for its last close instead, which happens off this thread. A link is
  // not followed: its target is not what the rename frees.
  const int old = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  bool committed = false;
  // Only a regular file trades places; a link is replaced as rename() replaces it, and
  // a directory in the way fails the save as rename() fails it.
  struct stat target {};
  const bool present = ::lstat(m_path.c_str(), &target) == 0;
  if (present && S_ISDIR(target.st_mode)) {
    Fail(EISDIR);
  } else if (exchange && present && S_ISREG(target.st_mode)) {
    // Both names are names: a symbolic link at m_path is itself moved aside.
    if (::renameat2(AT_FDCWD, m_tempPath.c_str(), AT_FDCWD, m_path.c_str(), RENAME_EXCHANGE) == 0) {
      committed = true;
      *displaced = m_tempPath;
      m_tempPath.clear();
    } else if (errno != ENOENT && errno != EINVAL && errno != ENOSYS) {
      Fail(errno);
    }
  }
  // rename() works on names: a symbolic link at m_path is itself replaced.
  if (!committed && m_ok) {
    committed = ::rename(m_tempPath.c_str(), m_path.c_str()) == 0;
    if (committed) {
      m_tempPath.clear();
    } else {
      Fail(errno);
    }
  }
  if (!committed) {
    m_committed.reset();
    Discard();
  }
  if (old >= 0) std::thread([old] { ::close(old); }).detach();
  return committed;
}

std::string AtomicFileWriter::Error() const {
  return m_error;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error) {
  AtomicFileWriter file(path);
  if (file.Write(content) && file.Commit()) return true;
  if (error) *error = file.Error();
  return false;
}

bool ForEachLineInRange(int fd, std::uint64_t begin, std::uint64_t end,
                        const std::function<void(char*, std::size_t)>& line) {
  // Read from begin on with pread in reusable blocks; the last line may reach past end.
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  // A range shorter than a block starts with a buffer of about its size: an import cut
  // into many small parts, or of a small file, would otherwise clear a whole block for
  // every part. A range to the end of a regular file is sized by the file as it is now;
  // it is still read to its end, wherever that is by then, and the buffer grows.
  std::uint64_t sizedEnd = end;
  struct stat st {};
  if (end == kToEndOfFile && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    sizedEnd = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
  }
  const std::uint64_t span = sizedEnd > begin ? std::min<std::uint64_t>(sizedEnd - begin, kBlock) : 0;
  const std::size_t block =
      std::min(static_cast<std::size_t>(std::max<std::uint64_t>(span + 256, 4096)), kBlock);
  std::string buf(block, '\0');
  std::size_t have = 0;  // bytes in buf: an unfinished line, then what was read
  // From one byte before the range, which tells whether a line starts at begin. A range
  // that begins between the CR and the LF of a pair begins inside a line too.
  std::uint64_t bufStart = begin > 0 ? begin - 1 : 0;  // file offset of buf[0]
  std::uint64_t next = bufStart;                       // file offset of the next read
  bool inFirstLine = begin > 0;                        // still in a line of the range before
  // A pipe cannot be read at an offset; it can only be read whole, from where it stands.
  const bool positional = begin > 0 || ::lseek(fd, 0, SEEK_CUR) != -1;
  for (;;) {
    if (buf.size() - have < block / 2) buf.resize(buf.size() * 2);  // a long line
    const ssize_t n = positional ? ::pread(fd, buf.data() + have, buf.size() - have, static_cast<off_t>(next))
                                 : ::read(fd, buf.data() + have, buf.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    next += static_cast<std::uint64_t>(n);
    const std::size_t filled = have + static_cast<std::size_t>(n);
    LineEndFinder ends(buf.data(), filled);
    std::size_t pos = 0;
    if (inFirstLine) {
      const std::size_t at = ends.Next(0);
      if (at == filled || ends.Undecided(at)) {  // that line goes on, or its end is not known yet
        const std::size_t keep = at == filled ? 0 : 1;
        if (keep) buf[0] = buf[at];
        bufStart += filled - keep;
        have = keep;
        continue;
      }
      pos = ends.After(at);
      inFirstLine = false;
    }
    for (;;) {
      if (bufStart + pos >= end) return true;
      const std::size_t at = ends.Next(pos);
      if (at == filled || ends.Undecided(at)) break;
      line(buf.data() + pos, at - pos);
      pos = ends.After(at);
    }
    have = filled - pos;
    if (pos > 0 && have > 0) std::memmove(buf.data(), buf.data() + pos, have);
    bufStart += pos;
  }
  if (!inFirstLine && have > 0 && bufStart < end) {
    // Only the file's very last byte can be a CR still waiting for its partner.
    line(buf.data(), buf[have - 1] == '\r' ? have - 1 : have);
  }
  return true;
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (!out.empty() && out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

std::string FreeDamagedName(const std::string& path) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  const std::string base = path + ".damaged-" + stamp;
  std::string name = base;
  struct stat st {};
  for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

}  // namespace qb
