#include "base/ProgramDir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "base/Files.h"

namespace qb {

namespace {
std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/') return pw->pw_dir;
  return {};
}

}  // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string ChooseDataDir(const std::optional<std::string>& option, std::string* why) {
  return option && !option->empty() ? WithSlash(*option) : ProgramDir(why);
}

std::string AbsoluteDataDir(const std::string& dir) {
  const QFileInfo info(QString::fromStdString(dir));
  const QString canonical = info.canonicalFilePath();
  return WithSlash((canonical.isEmpty() ? info.absoluteFilePath() : canonical).toStdString());
}

bool IsDefaultDataDir(const std::string& dir) {
  return AbsoluteDataDir(dir) == AbsoluteDataDir(ProgramDir());
}

std::string ProgramDir(std::string* why) {
  const std::string exe = ExecutablePath();
  const std::size_t slash = exe.rfind('/');
  return ProgramDirFor(slash == std::string::npos ? std::string() : exe.substr(0, slash + 1), why);
}

std::string ProgramDirFor(const std::string& exeDir, std::string* why) {
  if (!exeDir.empty()) {
    const std::string dir = WithSlash(exeDir);
    // An installed program's directory is shared by every user (and writable by root):
    // its data files belong to each user's own directory.
    const bool installed = QFileInfo(QString::fromStdString(dir + "../" + kInstalledShareDir)).isDir();
    if (!installed && ::access(dir.c_str(), W_OK) == 0) return dir;
  }
  return UserDataDir(why);
}

std::string UserDataDir(std::string* why) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const std::string home = HomeDir(); !home.empty()) {
    base = home + "/.local/share";
  } else {
    // A shared, predictable place such as /tmp could be prepared by another user.
    if (why) *why = "this user has no home directory for the data files; give one with --data-dir";
    return {};
  }
  // Checked without the trailing "/", which would make lstat follow a planted link.
  const std::string path = WithSlash(base) + "Quillberry";
  const std::string dir = path + "/";
  QDir().mkpath(QString::fromStdString(base));
  // The list and the settings (which may hold FTP passwords) are this user's alone.
  std::string reason;
  if (!EnsurePrivateDir(path, LooseMode::Tighten, &reason)) {
    if (why) *why = dir + " " + reason;
    return {};
  }
  return dir;
}

}  // namespace qb
