// KDE's proxy settings: the group "[Proxy Settings]" of kioslaverc, which KDE
// programs (and Firefox's "use system proxy settings" in a KDE session) read.
//
// The file is edited line by line rather than through an INI library, because those
// rewrite KDE's group and key names (blanks, "[$e]" markers) into their own forms.
#pragma once

#include <string>

#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

class CKdeProxyPlatform : public ISystemProxyPlatform {
 public:
  explicit CKdeProxyPlatform(std::string path) : m_path(std::move(path)) {}

  // $XDG_CONFIG_HOME/kioslaverc, or ~/.config/kioslaverc.
  static std::string DefaultPath();

  bool QueryLanSettings(ConnectionProxySettings& out) override;
  bool WriteConnection(const std::string& connection, const ConnectionProxySettings& settings) override;
  // Asks the running KDE programs to re-read the file (a D-Bus signal on the session
  // bus; nothing happens when there is no session bus).
  void AnnounceChange() override;
  bool EnumConnections(std::vector<std::string>&) override { return true; }

  const std::string& Path() const { return m_path; }

  // The new file text: `file` with the proxy keys of "[Proxy Settings]" replaced by
  // the values of `settings`; every other line is kept.
  static std::string UpdatedFileText(const std::string& file, const ConnectionProxySettings& settings);
  // The settings that a kioslaverc text holds.
  static ConnectionProxySettings SettingsFromFileText(const std::string& file);

 private:
  std::string m_path;
};

}  // namespace qb
