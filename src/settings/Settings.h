// The settings record and its file "Setting.dat".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"
#include "settings/VerifySource.h"

namespace qb {

class CVerifySourceListModel;

// The ten settings and the verification resources. One instance lives as long as the
// program; everything else reads it directly.
class CSettings {
 public:
  CSettings() = default;
  // The resource list view attaches to this very object, so it is never copied.
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  int m_bAutoAddToFavorite = 1;
  int m_bAutoTimingVerify = 1;
  int m_bAutoRun = 1;
  int m_nConTimeout = 5;
  int m_nThreadNumber = 50;
  int m_nVerifyTimeout = 25;
  int m_bMinimize = 1;
  int m_nAutoProxyConfig = 0;
  int m_nFavorites = 6;
  int m_bAmbiguous = 0;
  std::vector<CVerifySource> m_aVerifySources;
  int m_nCheckedHttpIndex = -1;
  int m_nCheckedFtpIndex = -1;

  // The resource list of an open settings dialog, if any.
  CVerifySourceListModel* m_pSourceList = nullptr;
};

// The ranges the settings dialog enforces.
inline constexpr int kMinConTimeout = 1, kMaxConTimeout = 15;
inline constexpr int kMinVerifyTimeout = 1, kMaxVerifyTimeout = 30;
inline constexpr int kMinThreadNumber = 1, kMaxThreadNumber = 100;
inline constexpr int kMinFavorites = 1, kMaxFavorites = 15;

// The time-outs every verification applies, in milliseconds. Written on the
// user-interface thread only; workers read single aligned values.
extern int g_nConnectTimeoutMs;
extern int g_nVerifyTimeoutMs;
inline constexpr int kDefaultConnectTimeoutMs = 5000;
inline constexpr int kDefaultVerifyTimeoutMs = 30000;

// Reads the text of "Setting.dat" into the settings: the ten settings and the
// resources it holds (the resources there were are replaced). Legacy GBK lines are
// decoded.
void ReadSettingsText(CSettings& settings, std::string_view text);
// The file's text for the settings as they are (what a save writes).
std::string FormatSettingsFile(const CSettings& settings);
// The ten settings as "key=value" lines, in the file's key order, without line ends.
std::vector<std::string> SettingLines(const CSettings& settings);

// Sets each millisecond time-out from its setting when that lies in the dialog's range;
// a value out of range leaves the time-out as it was.
void ApplyTimeouts(const CSettings& settings);

}  // namespace qb
