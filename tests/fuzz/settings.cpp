// The settings loader (Setting.dat) over any bytes. What it loads, saved and loaded
// again, is the same settings file; the values it applies stay in the dialog's ranges.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "datadir/DataDir.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qbfuzz::SilencePrompts();
  const std::string dir = qbfuzz::ScratchDir();
  qbfuzz::WriteScratchFile("Setting.dat", std::string_view(reinterpret_cast<const char*>(data), size));

  qb::g_nConnectTimeoutMs = qb::kDefaultConnectTimeoutMs;
  qb::g_nVerifyTimeoutMs = qb::kDefaultVerifyTimeoutMs;
  const auto dataDir = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  qb::CSettings& settings = dataDir->Settings();
  // The built-in resources are saved when the file brings none; both outcomes load.
  if (!dataDir->LoadSettings()) qbfuzz::Fail("a readable settings file failed to load");
  if (qb::g_nConnectTimeoutMs < qb::kMinConTimeout * 1000 ||
      qb::g_nConnectTimeoutMs > qb::kMaxConTimeout * 1000) {
    qbfuzz::Fail("a connect time-out outside the dialog's range was applied");
  }
  if (qb::g_nVerifyTimeoutMs < qb::kMinVerifyTimeout * 1000 ||
      qb::g_nVerifyTimeoutMs > qb::kMaxVerifyTimeout * 1000) {
    qbfuzz::Fail("a verify time-out outside the dialog's range was applied");
  }
  const int resources = static_cast<int>(settings.m_aVerifySources.size());
  if (settings.m_nCheckedHttpIndex < -1 || settings.m_nCheckedHttpIndex >= resources ||
      settings.m_nCheckedFtpIndex < -1 || settings.m_nCheckedFtpIndex >= resources) {
    qbfuzz::Fail("a ticked resource index lies outside the resource list");
  }

  const std::string text = qb::FormatSettingsFile(settings);
  if (!dataDir->SaveSettings()) qbfuzz::Fail("the settings could not be saved");
  const auto again = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  if (!again->LoadSettings()) qbfuzz::Fail("the saved settings failed to load");
  if (qb::FormatSettingsFile(again->Settings()) != text)
    qbfuzz::Fail("saved settings load back to other settings", text);
  return 0;
}
