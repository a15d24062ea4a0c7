// GIO's headers name struct members "signals", which Qt defines as a macro: GIO must
// be included before anything that may pull in a Qt header.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include "sysproxy/GSettingsProxyPlatform.h"

#include <array>
#include <functional>
#include <optional>

#include "base/Text.h"

namespace qb {

namespace {

constexpr const char* kRootSchema = "org.gnome.system.proxy";
// The entries of the desktop, in the order their server string lists them.
constexpr std::array<const char*, 4> kEntrySchemes = {"http", "https", "ftp", "socks"};

class CGSettingsProxyPlatform : public ISystemProxyPlatform {
 public:
  CGSettingsProxyPlatform(GSettings* root, std::array<GSettings*, 4> entries)
      : m_root(root), m_entries(entries) {}
  ~CGSettingsProxyPlatform() override {
    g_settings_sync();
    for (GSettings* s : m_entries) {
      g_signal_handlers_disconnect_by_data(s, this);
      g_object_unref(s);
    }
    g_signal_handlers_disconnect_by_data(m_root, this);
    g_object_unref(m_root);
  }

  void WatchChanges(std::function<void()> changed) override {
    const bool first = !m_changed;
    m_changed = std::move(changed);
    if (!first) return;
    g_signal_connect(m_root, "changed", G_CALLBACK(&CGSettingsProxyPlatform::OnChanged), this);
    for (GSettings* s : m_entries)
      g_signal_connect(s, "changed", G_CALLBACK(&CGSettingsProxyPlatform::OnChanged), this);
    // A store tells of a change only to a reader that has read the key since it
    // started listening.
    ConnectionProxySettings ignored;
    QueryLanSettings(ignored);
  }
  CGSettingsProxyPlatform(const CGSettingsProxyPlatform&) = delete;
  CGSettingsProxyPlatform& operator=(const CGSettingsProxyPlatform&) = delete;

  bool QueryLanSettings(ConnectionProxySettings& out) override {
    ConnectionProxySettings s;
    std::vector<ProxyServerEntry> entries;
    for (std::size_t i = 0; i < kEntrySchemes.size(); ++i) {
      gchar* host = g_settings_get_string(m_entries[i], "host");
      const int port = g_settings_get_int(m_entries[i], "port");
      // The desktop counts an entry only with a host and a port; what does not pass
      // the host check is not a proxy this program can hand on. An IPv6 address may
      // be there with or without brackets, a name in any case: each comes back as a
      // row of the list writes it.
      std::optional<std::string> canonical = host ? CanonicalProxyHost(host) : std::nullopt;
      if (canonical && port >= 1 && port <= 65535) entries.push_back({kEntrySchemes[i], *canonical, port});
      g_free(host);
    }
    s.server = ComposeServerString(entries);

    if (g_settings_get_boolean(m_entries[0], "use-authentication")) {
      gchar* user = g_settings_get_string(m_entries[0], "authentication-user");
      gchar* password = g_settings_get_string(m_entries[0], "authentication-password");
      s.httpUser = user ? user : "";
      s.httpPassword = password ? password : "";
      g_free(user);
      g_free(password);
    }

    gchar* url = g_settings_get_string(m_root, "autoconfig-url");
    s.autoConfigUrl = url ? url : "";
    g_free(url);

    gchar** hosts = g_settings_get_strv(m_root, "ignore-hosts");
    for (gchar** h = hosts; h && *h; ++h) {
      if (!s.bypass.empty()) s.bypass += ';';
      s.bypass += *h;
    }
    g_strfreev(hosts);

    gchar* mode = g_settings_get_string(m_root, "mode");
    const std::string m = mode ? mode : "";
    g_free(mode);
    if (m == "manual") {
      s.flags = kProxyTypeDirect | kProxyTypeProxy;
    } else if (m == "auto") {
      s.flags = kProxyTypeDirect | (s.autoConfigUrl.empty() ? kProxyTypeAutoDetect : kProxyTypeAutoProxyUrl);
    } else {
      s.flags = kProxyTypeDirect;
    }
    out = std::move(s);
    return true;
  }

  bool WriteConnection(const std::string& connection, const ConnectionProxySettings& settings) override {
    // The desktop has one setting, the LAN's; there is no other connection to write.
    if (!connection.empty()) return false;
    if (!AllWritable()) return false;

    // An IPv6 host keeps its brackets: Firefox and libproxy put the field and the port
    // together as "host:port" as they stand, and Chromium takes either form.
    const std::vector<ProxyServerEntry> entries = ParseServerString(settings.server);
    bool ok = true;
    for (std::size_t i = 0; i < kEntrySchemes.size(); ++i) {
      std::string host;
      int port = 0;
      for (const auto& e : entries) {
        if (e.scheme == kEntrySchemes[i]) {
          host = e.host;
          port = e.port;
        }
      }
      ok = g_settings_set_string(m_entries[i], "host", host.c_str()) && ok;
      ok = g_settings_set_int(m_entries[i], "port", port) && ok;
    }

    std::vector<std::string> bypass;
    std::string_view rest = settings.bypass;
    while (!rest.empty()) {
      const std::size_t semi = rest.find(';');
      const std::string_view item = qb::Trim(rest.substr(0, semi));
      if (!item.empty()) bypass.emplace_back(item);
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    }
    std::vector<const gchar*> strv;
    for (const auto& b : bypass) strv.push_back(b.c_str());
    strv.push_back(nullptr);
    // The HTTP proxy's log-on, or none: a log-on in use for an earlier proxy must never
    // be sent to this one. The stored name and password themselves are the user's,
    // and stay when no new ones replace them.
    GSettings* http = m_entries[0];
    if (!settings.httpUser.empty()) {
      ok = g_settings_set_string(http, "authentication-user", settings.httpUser.c_str()) && ok;
      ok = g_settings_set_string(http, "authentication-password", settings.httpPassword.c_str()) && ok;
    }
    ok = g_settings_set_boolean(http, "use-authentication", !settings.httpUser.empty()) && ok;
    ok = g_settings_set_strv(m_root, "ignore-hosts", strv.data()) && ok;
    ok = g_settings_set_string(m_root, "autoconfig-url", settings.autoConfigUrl.c_str()) && ok;

    // The mode goes last, so that a program that reacts to it finds the rest in place.
    const char* mode = "none";
    if (settings.flags & kProxyTypeAutoProxyUrl) {
      mode = "auto";
    } else if (settings.flags & kProxyTypeProxy) {
      mode = "manual";
    } else if (settings.flags & kProxyTypeAutoDetect) {
      // Only ever written back: the user's own automatic detection, given back.
      mode = "auto";
    }
    ok = g_settings_set_string(m_root, "mode", mode) && ok;
    return ok;
  }

  void AnnounceChange() override { g_settings_sync(); }

  bool EnumConnections(std::vector<std::string>&) override { return true; }
  bool CarriesHttpLogOn() const override { return true; }

 private:
  bool AllWritable() const {
    for (const char* key : {"mode", "autoconfig-url", "ignore-hosts"}) {
      if (!g_settings_is_writable(m_root, key)) return false;
    }
    for (GSettings* s : m_entries) {
      if (!g_settings_is_writable(s, "host") || !g_settings_is_writable(s, "port")) return false;
    }
    return true;
  }

  static void OnChanged(GSettings*, gchar*, gpointer self) {
    auto* platform = static_cast<CGSettingsProxyPlatform*>(self);
    if (platform->m_changed) platform->m_changed();
  }

  GSettings* m_root;
  std::array<GSettings*, 4> m_entries;
  std::function<void()> m_changed;
};

GSettingsSchema* LookupSchema(GSettingsSchemaSource* source, const std::string& id,
                              std::initializer_list<const char*> keys) {
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, id.c_str(), TRUE);
  if (!schema) return nullptr;
  for (const char* key : keys) {
    if (!g_settings_schema_has_key(schema, key)) {
      g_settings_schema_unref(schema);
      return nullptr;
    }
  }
  return schema;
}

}  // namespace

std::unique_ptr<ISystemProxyPlatform> CreateGSettingsProxyPlatform(const GSettingsPlatformOptions& options) {
  GSettingsSchemaSource* source = nullptr;
  if (!options.schemaDir.empty()) {
    GError* error = nullptr;
    source = g_settings_schema_source_new_from_directory(options.schemaDir.c_str(), nullptr, TRUE, &error);
    if (error) g_error_free(error);
  } else {
    // NULL when no schema at all is installed.
    source = g_settings_schema_source_get_default();
    if (source) g_settings_schema_source_ref(source);
  }
  if (!source) return nullptr;

  std::array<GSettingsSchema*, 5> schemas{};
  schemas[0] = LookupSchema(source, kRootSchema, {"mode", "autoconfig-url", "ignore-hosts"});
  for (std::size_t i = 0; i < kEntrySchemes.size(); ++i) {
    schemas[i + 1] =
        LookupSchema(source, std::string(kRootSchema) + "." + kEntrySchemes[i], {"host", "port"});
  }
  g_settings_schema_source_unref(source);

  bool complete = true;
  for (GSettingsSchema* s : schemas) complete = complete && s != nullptr;
  if (!complete) {
    for (GSettingsSchema* s : schemas) {
      if (s) g_settings_schema_unref(s);
    }
    return nullptr;
  }

  GSettingsBackend* backend = nullptr;
  if (!options.keyfile.empty())
    backend = g_keyfile_settings_backend_new(options.keyfile.c_str(), "/", nullptr);

  GSettings* root = g_settings_new_full(schemas[0], backend, nullptr);
  std::array<GSettings*, 4> entries{};
  for (std::size_t i = 0; i < entries.size(); ++i)
    entries[i] = g_settings_new_full(schemas[i + 1], backend, nullptr);
  for (GSettingsSchema* s : schemas) g_settings_schema_unref(s);
  if (backend) g_object_unref(backend);
  return std::make_unique<CGSettingsProxyPlatform>(root, entries);
}

}  // namespace qb
