// The sources loader (Sources.dat) over any bytes. What it loads, saved and loaded
// again, gives the same sources.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "datadir/DataDir.h"
#include "sources/ProxySource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string dir = qbfuzz::ScratchDir();
  qbfuzz::WriteScratchFile("Sources.dat", std::string_view(reinterpret_cast<const char*>(data), size));

  const auto dataDir = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  const qb::CProxySourceListModel& list = dataDir->Sources();
  if (!dataDir->LoadSources()) qbfuzz::Fail("a readable sources file failed to load");
  for (const qb::CProxySource& s : list.Sources()) {
    std::string name = s.m_sName;
    std::string url = s.m_sUrl;
    // Only what the source dialog would accept is ever loaded.
    if (!qb::ValidateProxySource(name, url).ok)
      qbfuzz::Fail("a loaded source is one the dialog refuses", s.m_sName + "\t" + s.m_sUrl);
  }
  if (!dataDir->SaveSources()) qbfuzz::Fail("the sources could not be saved");
  const auto again = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  if (!again->LoadSources()) qbfuzz::Fail("the saved sources failed to load");
  if (again->Sources().Sources() != list.Sources()) qbfuzz::Fail("saved sources load back to other sources");
  return 0;
}
