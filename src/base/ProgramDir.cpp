#include "base/ProgramDir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <unistd.h>
#include <climits>
#include <cstdlib>

namespace qb {

namespace {
std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}
}  // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string ChooseDataDir(const std::optional<std::string>& option) {
  return option && !option->empty() ? WithSlash(*option) : ProgramDir();
}

std::string AbsoluteDataDir(const std::string& dir) {
  const QFileInfo info(QString::fromStdString(dir));
  const QString canonical = info.canonicalFilePath();
  return WithSlash((canonical.isEmpty() ? info.absoluteFilePath() : canonical).toStdString());
}

bool IsDefaultDataDir(const std::string& dir) {
  return AbsoluteDataDir(dir) == AbsoluteDataDir(ProgramDir());
}

std::string ProgramDir() {
  const std::string exe = ExecutablePath();
  const std::size_t slash = exe.rfind('/');
  if (slash != std::string::npos) {
    std::string dir = exe.substr(0, slash + 1);
    if (::access(dir.c_str(), W_OK) == 0) return dir;
  }
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    base = "/tmp";
  }
  const std::string dir = WithSlash(base) + "Quillberry/";
  QDir().mkpath(QString::fromStdString(dir));
  return dir;
}

}  // namespace qb
