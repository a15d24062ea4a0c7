#include "base/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
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

AtomicFileWriter::AtomicFileWriter(const std::string& path)
    : m_file(std::make_unique<QSaveFile>(QString::fromStdString(path))), m_ok(m_file->open(QIODevice::WriteOnly)) {}

// Without a commit, QSaveFile removes its temporary file and leaves the old one.
AtomicFileWriter::~AtomicFileWriter() = default;

bool AtomicFileWriter::Write(std::string_view piece) {
  const char* p = piece.data();
  qint64 left = static_cast<qint64>(piece.size());
  while (m_ok && left > 0) {
    const qint64 n = m_file->write(p, left);
    if (n <= 0) {
      m_ok = false;
      break;
    }
    p += n;
    left -= n;
    m_written += n;
  }
  // The commit waits until the whole file is on disk. Starting the write-back of every
  // few megabytes already written lets the disk work while the rest is still being
  // made, so that the final wait is only for the tail.
  constexpr long long kWriteBackStep = 4 << 20;
  if (m_ok && m_written - m_queued >= kWriteBackStep && m_file->flush()) {
    ::sync_file_range(m_file->handle(), m_queued, m_written - m_queued, SYNC_FILE_RANGE_WRITE);
    m_queued = m_written;
  }
  return m_ok;
}

bool AtomicFileWriter::Commit() {
  // QSaveFile buffers small writes and its commit() does not look at the error of the
  // final flush, so a short write (a full disk, a size limit) would be renamed over the
  // old file. Flushing here first surfaces it.
  if (!m_ok || !m_file->flush()) {
    m_file->cancelWriting();
    return false;
  }
  // Replacing a large file makes the file system free the old one's blocks inside the
  // rename, with the caller waiting. While the old file is still open somewhere the
  // freeing waits for its last close instead, which happens off this thread.
  const int old = ::open(QFile::encodeName(m_file->fileName()).constData(), O_RDONLY | O_CLOEXEC);
  const bool committed = m_file->commit();
  if (old >= 0) std::thread([old] { ::close(old); }).detach();
  return committed;
}

bool WriteFileAtomically(const std::string& path, std::string_view content) {
  AtomicFileWriter file(path);
  return file.Write(content) && file.Commit();
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (!out.empty() && out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

}  // namespace qb
