#include "base/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cstdio>
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

bool WriteFileAtomically(const std::string& path, std::string_view content) {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const char* p = content.data();
  qint64 left = static_cast<qint64>(content.size());
  while (left > 0) {
    const qint64 n = file.write(p, left);
    if (n <= 0) {
      file.cancelWriting();
      return false;
    }
    p += n;
    left -= n;
  }
  // QSaveFile buffers small writes and its commit() does not look at the error of the
  // final flush, so a short write (a full disk, a size limit) would be renamed over the
  // old file. Flushing here first surfaces it.
  if (!file.flush()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (!out.empty() && out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

}  // namespace qb
