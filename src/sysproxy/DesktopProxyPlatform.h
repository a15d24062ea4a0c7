// Which desktop proxy settings this session has, and the back end that writes them.
//
// Kept apart from the platform interface so that the back ends depend on the
// interface and only this factory depends on the back ends.
#pragma once

#include <memory>

#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

// The back ends usable in this session, combined: GSettings wherever the
// org.gnome.system.proxy schema is installed, plus KDE's kioslaverc when the session
// is KDE. With neither, every query and write fails.
std::unique_ptr<ISystemProxyPlatform> CreateDesktopProxyPlatform();
// True when XDG_CURRENT_DESKTOP names KDE.
bool IsKdeSession();

}  // namespace qb
