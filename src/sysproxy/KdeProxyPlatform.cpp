// GIO (for the D-Bus signal) before anything that may pull in a Qt header: Qt's
// "signals" macro breaks GIO's headers.
#include <gio/gio.h>

#include "sysproxy/KdeProxyPlatform.h"

#include <sys/stat.h>
#include <cstdlib>
#include <optional>
#include <vector>

#include "base/Files.h"
#include "base/ProxyHost.h"
#include "base/Text.h"

namespace qb {

namespace {

constexpr const char* kGroup = "[Proxy Settings]";
constexpr const char* kKeyType = "ProxyType";
constexpr const char* kKeyScript = "Proxy Config Script";
constexpr const char* kKeyNoProxy = "NoProxyFor";
// The entry keys, with the scheme of the server string each one carries.
struct EntryKey {
  const char* key;
  const char* scheme;
  const char* urlScheme;
};
constexpr EntryKey kEntryKeys[] = {
    {"httpProxy", "http", "http"},
    {"httpsProxy", "https", "http"},
    {"ftpProxy", "ftp", "http"},
    {"socksProxy", "socks", "socks"},
};

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The key of an entry line without its "[$e]" or locale suffix; empty for other lines.
std::string_view BaseKey(std::string_view trimmedLine) {
  if (trimmedLine.empty() || trimmedLine.front() == '#' || trimmedLine.front() == '[') return {};
  const std::size_t eq = trimmedLine.find('=');
  if (eq == std::string_view::npos) return {};
  std::string_view key = qb::Trim(trimmedLine.substr(0, eq));
  const std::size_t bracket = key.find('[');
  if (bracket != std::string_view::npos) key = qb::TrimRight(key.substr(0, bracket));
  return key;
}

bool IsProxyKey(std::string_view key) {
  if (key == kKeyType || key == kKeyScript || key == kKeyNoProxy) return true;
  for (const auto& e : kEntryKeys) {
    if (key == e.key) return true;
  }
  return false;
}

// KDE's escapes for a value: backslash, control characters, and blanks at either end.
std::string EscapeValue(std::string_view v, bool listItem) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case ',':
        out += listItem ? "\\," : ",";
        break;
      case ' ':
        out += (i == 0 || i + 1 == v.size()) ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Undoes EscapeValue. With listItems, unescaped commas split the value into items.
std::vector<std::string> UnescapeValue(std::string_view v, bool listItems) {
  std::vector<std::string> items(1);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    if (c == '\\' && i + 1 < v.size()) {
      const char n = v[++i];
      switch (n) {
        case 's':
          items.back() += ' ';
          break;
        case 't':
          items.back() += '\t';
          break;
        case 'n':
          items.back() += '\n';
          break;
        case 'r':
          items.back() += '\r';
          break;
        default:
          items.back() += n;
      }
    } else if (c == ',' && listItems) {
      items.emplace_back();
    } else {
      items.back() += c;
    }
  }
  return items;
}

// "http://A P", "http://A:P" or "A:P" into an entry; false when it is not a proxy. The
// host comes back as a row of the list writes it; an IPv6 address needs its brackets
// only before ":P".
bool ParseEntryValue(std::string_view value, const char* scheme, ProxyServerEntry& e) {
  value = qb::Trim(value);
  const std::size_t sep = value.find("://");
  if (sep != std::string_view::npos) value = value.substr(sep + 3);
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  std::size_t split = value.find(' ');
  if (split == std::string_view::npos) split = qb::HostColon(value);
  if (split == std::string_view::npos) return false;
  const std::optional<std::string> host = CanonicalProxyHost(value.substr(0, split));
  const int port = ParseProxyPort(qb::Trim(value.substr(split + 1)));
  if (!host || port == 0) return false;
  e = {scheme, *host, port};
  return true;
}

std::vector<std::string> ProxyKeyLines(const ConnectionProxySettings& s) {
  int type = 0;
  if (s.flags & kProxyTypeAutoProxyUrl) {
    type = 2;
  } else if (s.flags & kProxyTypeProxy) {
    type = 1;
  } else if (s.flags & kProxyTypeAutoDetect) {
    // Only ever written back: the user's own automatic detection, given back.
    type = 3;
  }
  std::vector<std::string> lines;
  lines.push_back(std::string(kKeyType) + "=" + std::to_string(type));
  const std::vector<ProxyServerEntry> entries = ParseServerString(s.server);
  for (const auto& k : kEntryKeys) {
    std::string value;
    for (const auto& e : entries) {
      // KDE joins the two at the blank into "scheme://host:port" and reads that as a
      // URL, so an IPv6 host keeps its brackets.
      if (e.scheme == k.scheme)
        value = std::string(k.urlScheme) + "://" + e.host + " " + std::to_string(e.port);
    }
    lines.push_back(std::string(k.key) + "=" + value);
  }
  lines.push_back(std::string(kKeyScript) + "=" + EscapeValue(s.autoConfigUrl, false));
  std::string noProxy;
  std::string_view rest = s.bypass;
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    const std::string_view item = qb::Trim(rest.substr(0, semi));
    if (!item.empty()) {
      if (!noProxy.empty()) noProxy += ',';
      noProxy += EscapeValue(item, true);
    }
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
  }
  lines.push_back(std::string(kKeyNoProxy) + "=" + noProxy);
  return lines;
}

// The session bus address, without starting a bus when there is none.
std::string SessionBusAddress() {
  if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
    const std::string socket = std::string(run) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return {};
}

}  // namespace

std::string CKdeProxyPlatform::DefaultPath() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    return qb::JoinPath(xdg, "kioslaverc");
  }
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/kioslaverc";
}

std::string CKdeProxyPlatform::UpdatedFileText(const std::string& file,
                                               const ConnectionProxySettings& settings) {
  const std::vector<std::string> keyLines = ProxyKeyLines(settings);
  std::vector<std::string> out;
  bool inGroup = false;
  bool written = false;
  // Puts the keys after the last non-blank line of the group, before the blank line
  // that separates it from the next one.
  auto insertKeys = [&] {
    std::size_t at = out.size();
    while (at > 0 && qb::Trim(out[at - 1]).empty()) --at;
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), keyLines.begin(), keyLines.end());
    written = true;
  };
  for (std::string_view line : SplitLines(file)) {
    const std::string_view t = qb::Trim(line);
    if (!t.empty() && t.front() == '[') {
      if (inGroup && !written) insertKeys();
      inGroup = t == kGroup;
      out.emplace_back(line);
      continue;
    }
    if (inGroup && IsProxyKey(BaseKey(t))) continue;
    out.emplace_back(line);
  }
  if (inGroup && !written) insertKeys();
  if (!written) {
    if (!out.empty() && !qb::Trim(out.back()).empty()) out.emplace_back();
    out.emplace_back(kGroup);
    out.insert(out.end(), keyLines.begin(), keyLines.end());
  }
  std::string text;
  for (const auto& l : out) {
    text += l;
    text += '\n';
  }
  return text;
}

ConnectionProxySettings CKdeProxyPlatform::SettingsFromFileText(const std::string& file) {
  ConnectionProxySettings s;
  int type = 0;
  std::string values[std::size(kEntryKeys)];
  bool inGroup = false;
  for (std::string_view line : SplitLines(file)) {
    const std::string_view t = qb::Trim(line);
    if (!t.empty() && t.front() == '[') {
      inGroup = t == kGroup;
      continue;
    }
    if (!inGroup) continue;
    const std::string_view key = BaseKey(t);
    if (key.empty()) continue;
    const std::string_view value = qb::TrimLeft(t.substr(t.find('=') + 1));
    if (key == kKeyType) {
      type = qb::CAtoi(value);
    } else if (key == kKeyScript) {
      s.autoConfigUrl = UnescapeValue(value, false).front();
    } else if (key == kKeyNoProxy) {
      s.bypass.clear();
      for (const auto& item : UnescapeValue(value, true)) {
        const std::string_view trimmed = qb::Trim(item);
        if (trimmed.empty()) continue;
        if (!s.bypass.empty()) s.bypass += ';';
        s.bypass += trimmed;
      }
    } else {
      for (std::size_t i = 0; i < std::size(kEntryKeys); ++i) {
        if (key == kEntryKeys[i].key) values[i] = UnescapeValue(value, false).front();
      }
    }
  }
  std::vector<ProxyServerEntry> entries;
  for (std::size_t i = 0; i < std::size(kEntryKeys); ++i) {
    ProxyServerEntry e;
    if (ParseEntryValue(values[i], kEntryKeys[i].scheme, e)) entries.push_back(std::move(e));
  }
  s.server = ComposeServerString(entries);
  switch (type) {
    case 1:
      s.flags = kProxyTypeDirect | kProxyTypeProxy;
      break;
    case 2:
      s.flags = kProxyTypeDirect | kProxyTypeAutoProxyUrl;
      break;
    case 3:
      s.flags = kProxyTypeDirect | kProxyTypeAutoDetect;
      break;
    default:
      s.flags = kProxyTypeDirect;
  }
  return s;
}

bool CKdeProxyPlatform::QueryLanSettings(ConnectionProxySettings& out) {
  std::string text;
  if (qb::FileExists(m_path)) {
    auto data = qb::ReadWholeFile(m_path);
    if (!data) return false;
    text = std::move(*data);
  } else {
    // No file yet is KDE's default: no proxy. Anything else in its place is a fault.
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) return false;
  }
  out = SettingsFromFileText(text);
  return true;
}

bool CKdeProxyPlatform::WriteConnection(const std::string& connection,
                                        const ConnectionProxySettings& settings) {
  if (!connection.empty()) return false;
  std::string text;
  if (qb::FileExists(m_path)) {
    auto data = qb::ReadWholeFile(m_path);
    // Rewriting a file that could not be read would lose the rest of it.
    if (!data) return false;
    text = std::move(*data);
  }
  // A fresh account may not have its configuration directory yet.
  const std::size_t slash = m_path.rfind('/');
  if (slash != std::string::npos && slash > 0) g_mkdir_with_parents(m_path.substr(0, slash).c_str(), 0700);
  return qb::WriteFileAtomically(m_path, UpdatedFileText(text, settings));
}

void CKdeProxyPlatform::AnnounceChange() {
  const std::string address = SessionBusAddress();
  if (address.empty()) return;
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!bus) {
    if (error) g_error_free(error);
    return;
  }
  g_dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                "reparseSlaveConfiguration", g_variant_new("(s)", ""), nullptr);
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
}

}  // namespace qb
