#include "sysproxy/DesktopRecord.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "base/Files.h"
#include "base/Text.h"

namespace qb {

namespace {

// A value stays on its line whatever it holds.
std::string Escape(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

void AppendSettings(std::string& text, const char* section, const ConnectionProxySettings& s) {
  text += std::string("[") + section + "]\n";
  text += "Flags=" + std::to_string(s.flags) + "\n";
  text += "Server=" + Escape(s.server) + "\n";
  text += "AutoConfigUrl=" + Escape(s.autoConfigUrl) + "\n";
  text += "Bypass=" + Escape(s.bypass) + "\n";
  text += "User=" + Escape(s.httpUser) + "\n";
  text += "Password=" + Escape(s.httpPassword) + "\n";
}

bool TakeSetting(ConnectionProxySettings& s, std::string_view key, const std::string& value) {
  if (key == "Flags") {
    std::uint32_t flags = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), flags);
    if (ec == std::errc() && ptr == value.data() + value.size()) s.flags = flags;
  } else if (key == "Server") {
    s.server = value;
  } else if (key == "AutoConfigUrl") {
    s.autoConfigUrl = value;
  } else if (key == "Bypass") {
    s.bypass = value;
  } else if (key == "User") {
    s.httpUser = value;
  } else if (key == "Password") {
    s.httpPassword = value;
  } else {
    return false;
  }
  return true;
}

// 0 no proxy, 1 the proxy itself, 2 the auto-config script, 3 automatic detection.
int ProxyKind(std::uint32_t flags) {
  if (flags & kProxyTypeAutoProxyUrl) return 2;
  if (flags & kProxyTypeProxy) return 1;
  return (flags & kProxyTypeAutoDetect) ? 3 : 0;
}

}  // namespace

std::string FormatDesktopRecord(const DesktopRecord& record) {
  std::string text =
      "# Quillberry: the desktop's proxy settings before Quillberry changed them, and what it set.\n"
      "# Giving the earlier setting back (cancelling the proxy) removes this file.\n";
  AppendSettings(text, "Before", record.before);
  AppendSettings(text, "Set", record.set);
  text += "Line=" + Escape(record.line) + "\n";
  text += std::string("Endpoint=") + (record.endpoint ? "1" : "0") + "\n";
  return text;
}

std::optional<DesktopRecord> ParseDesktopRecord(std::string_view text) {
  DesktopRecord record;
  bool sawBefore = false;
  std::string section;
  qb::ForEachLine(text, [&](std::string_view raw) {
    const std::string_view line = qb::Trim(raw);
    if (line.empty() || line.front() == '#') return;
    if (line.front() == '[' && line.back() == ']') {
      section = std::string(line.substr(1, line.size() - 2));
      sawBefore = sawBefore || section == "Before";
      return;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = qb::Trim(line.substr(0, eq));
    // Values keep their blanks: a bypass list or a password may end in one.
    const std::string value = Unescape(raw.substr(raw.find('=') + 1));
    if (section == "Before") {
      TakeSetting(record.before, key, value);
    } else if (section == "Set") {
      if (TakeSetting(record.set, key, value)) return;
      if (key == "Line") record.line = value;
      if (key == "Endpoint") record.endpoint = value == "1";
    }
  });
  if (!sawBefore) return std::nullopt;
  return record;
}

std::optional<DesktopRecord> LoadDesktopRecord(const std::string& dataDir, std::string* error) {
  const std::string path = qb::JoinPath(dataDir, kDesktopRecordFileName);
  if (!qb::FileExists(path)) return std::nullopt;
  std::string why;
  const std::optional<std::string> text = qb::ReadWholeFile(path, &why, qb::Links::Refuse);
  if (!text) {
    if (error) *error = why;
    return std::nullopt;
  }
  return ParseDesktopRecord(*text);
}

qb::OpResult SaveDesktopRecord(const std::string& dataDir, const DesktopRecord& record) {
  const std::string path = qb::JoinPath(dataDir, kDesktopRecordFileName);
  std::string error;
  if (!qb::WriteFileAtomically(path, FormatDesktopRecord(record), &error))
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, error);
  return qb::OpResult::Success();
}

qb::OpResult RemoveDesktopRecord(const std::string& dataDir) {
  const std::string path = qb::JoinPath(dataDir, kDesktopRecordFileName);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, std::strerror(errno));
  return qb::OpResult::Success();
}

bool SettingsHold(const ConnectionProxySettings& held, const ConnectionProxySettings& written) {
  const int kind = ProxyKind(written.flags);
  if (ProxyKind(held.flags) != kind) return false;
  if (kind == 2) return held.autoConfigUrl == written.autoConfigUrl;
  if (kind == 1) {
    const std::vector<ProxyServerEntry> a = ParseServerString(held.server);
    const std::vector<ProxyServerEntry> b = ParseServerString(written.server);
    return a.size() == b.size() && std::is_permutation(a.begin(), a.end(), b.begin());
  }
  return true;
}

RepairAction DecideRepair(bool recordHeld, bool answers, bool goDirect) {
  if (!recordHeld || answers) return RepairAction::None;
  return goDirect ? RepairAction::Restore : RepairAction::Keep;
}

}  // namespace qb
