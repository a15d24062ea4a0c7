// The GNOME-family desktop proxy (org.gnome.system.proxy), read by GNOME programs,
// by Chromium on those desktops and by Firefox's "use system proxy settings".
#pragma once

#include <memory>
#include <string>

#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

struct GSettingsPlatformOptions {
  // A keyfile that holds the settings instead of the desktop's store (the same file
  // GSETTINGS_BACKEND=keyfile uses under $XDG_CONFIG_HOME/glib-2.0/settings/).
  std::string keyfile;
  // A directory of compiled schemas to look the proxy schema up in instead of the
  // installed ones.
  std::string schemaDir;
};

// nullptr when the proxy schemas are not installed (or lack a key this program
// writes): then there is no such back end.
std::unique_ptr<ISystemProxyPlatform> CreateGSettingsProxyPlatform(
    const GSettingsPlatformOptions& options = {});

}  // namespace qb
