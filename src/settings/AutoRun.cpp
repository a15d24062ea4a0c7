#include "settings/AutoRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdlib>

#include "base/Files.h"
#include "base/ProgramDir.h"
#include "settings/Settings.h"

namespace qb {

namespace {

// Characters that make an Exec argument need quotes.
bool IsReserved(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '"':
    case '\'':
    case '\\':
    case '>':
    case '<':
    case '~':
    case '|':
    case '&':
    case ';':
    case '$':
    case '*':
    case '?':
    case '#':
    case '(':
    case ')':
    case '`':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string AutostartEntryPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return qb::JoinPath(base, "autostart/Quillberry.desktop");
}

namespace {

// One argument of an Exec value, before the key file's own escapes.
std::string ExecArgument(std::string_view path) {
  // Three layers, innermost first: a literal "%" is "%%" (field codes); an argument
  // with a reserved character goes in double quotes, with '"', '`', '$' and '\'
  // escaped by a backslash; then the value as a whole gets the string escapes of the
  // key file, which double every backslash and spell out control characters.
  std::string arg;
  bool quote = false;
  for (char c : path) {
    if (c == '%') {
      arg += "%%";
      continue;
    }
    if (IsReserved(c)) quote = true;
    arg += c;
  }
  if (arg.empty()) quote = true;
  std::string quoted;
  if (quote) {
    quoted += '"';
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
  } else {
    quoted = arg;
  }
  return quoted;
}

// The key file's string escapes of a whole value.
std::string KeyFileValue(std::string_view quoted) {
  std::string value;
  for (char c : quoted) {
    switch (c) {
      case '\\':
        value += "\\\\";
        break;
      case '\n':
        value += "\\n";
        break;
      case '\t':
        value += "\\t";
        break;
      case '\r':
        value += "\\r";
        break;
      default:
        value += c;
    }
  }
  return value;
}

}  // namespace

std::string DesktopExecValue(std::string_view executablePath) {
  return KeyFileValue(ExecArgument(executablePath));
}

std::string DesktopExecValue(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += ExecArgument(a);
  }
  return KeyFileValue(line);
}

void ApplyAutoRun(const CSettings& settings, const std::string& executablePath, const std::string& dataDir) {
  const QString entry = QString::fromStdString(AutostartEntryPath());
  if (settings.m_bAutoRun == 0) {
    QFile::remove(entry);
    return;
  }
  const std::string exe = executablePath.empty() ? ExecutablePath() : executablePath;
  if (exe.empty()) return;
  std::vector<std::string> args{exe};
  if (!dataDir.empty() && !IsDefaultDataDir(dataDir)) {
    args.push_back("--data-dir");
    args.push_back(AbsoluteDataDir(dataDir));
  }
  QDir().mkpath(QFileInfo(entry).absolutePath());
  // Desktop entries are key files with LF line ends: a CR would become part of the
  // values.
  const std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Quillberry\n"
      "Exec=" +
      DesktopExecValue(args) +
      "\n"
      "Terminal=false\n";
  qb::WriteFileAtomically(entry.toStdString(), text);
}

}  // namespace qb
