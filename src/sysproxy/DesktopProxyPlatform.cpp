#include "sysproxy/DesktopProxyPlatform.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "base/Text.h"
#include "sysproxy/GSettingsProxyPlatform.h"
#include "sysproxy/KdeProxyPlatform.h"

namespace qb {

bool IsKdeSession() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  if (!desktop) return false;
  // A colon-separated list such as "KDE" or "ubuntu:KDE".
  const std::string upper = qb::AsciiUpper(desktop);
  std::size_t start = 0;
  while (start <= upper.size()) {
    std::size_t end = upper.find(':', start);
    if (end == std::string::npos) end = upper.size();
    if (upper.compare(start, end - start, "KDE") == 0) return true;
    start = end + 1;
  }
  return false;
}

std::unique_ptr<ISystemProxyPlatform> CreateDesktopProxyPlatform() {
  std::vector<std::unique_ptr<ISystemProxyPlatform>> backEnds;
  const bool kde = IsKdeSession();
  // In a KDE session kioslaverc is the desktop's own setting, so it answers queries.
  if (kde) backEnds.push_back(std::make_unique<CKdeProxyPlatform>(CKdeProxyPlatform::DefaultPath()));
  if (auto gsettings = CreateGSettingsProxyPlatform()) backEnds.push_back(std::move(gsettings));
  return std::make_unique<CCombinedProxyPlatform>(std::move(backEnds));
}

}  // namespace qb
