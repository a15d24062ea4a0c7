// The list file loader (Proxies.pro) over any bytes. Whatever it loads, saved and
// loaded again, gives the same rows; and the load in parts on two threads gives the
// rows of the load front to back, as does the reader of the rows of a kind without a
// list.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "base/Files.h"
#include "datadir/DataDir.h"
#include "proxy/FileImport.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "proxy/ProxyListModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string dir = qbfuzz::ScratchDir();
  const std::string path = qbfuzz::WriteScratchFile("Proxies.pro", bytes);

  const auto dataDir = qb::DataDir::Open(dir, qb::DataDir::Access::Read);
  qb::CProxyListModel& loaded = dataDir->List();
  if (!dataDir->LoadList()) qbfuzz::Fail("a readable list file failed to load");
  if (!loaded.KeysMatchRows()) qbfuzz::Fail("the key set differs from the loaded rows");

  for (unsigned threads : {1u, 2u}) {
    qb::CProxyListModel parts;
    qb::FileImportOptions options;
    options.partBytes = 16;
    options.threads = threads;
    const std::optional<std::size_t> rows = qb::AddRowsFromListFile(parts, path, options);
    if (!rows || *rows != static_cast<std::size_t>(parts.RowCount()))
      qbfuzz::Fail("the load in parts failed");
    if (qbfuzz::RowsOf(parts) != qbfuzz::RowsOf(loaded)) qbfuzz::Fail("the load in parts gives other rows");
  }

  // The rows without a list: every row, and the working rows alone.
  for (const bool timedOnly : {false, true}) {
    qb::FileImportOptions options;
    options.partBytes = 16;
    options.threads = 2;
    const qb::UniqueFd fd(qb::OpenToRead(path));
    const auto rows = qb::ReadRowsFromListFd(
        fd.get(), [&](const qb::CProxyEntry& e) { return !timedOnly || e.HasTime(); }, options);
    if (!rows) qbfuzz::Fail("the rows without a list failed to load");
    std::vector<std::string> got, want;
    for (const qb::CProxyEntry& e : *rows) got.push_back(qb::FormatFileLine(e));
    for (int row = 0; row < loaded.RowCount(); ++row) {
      if (!timedOnly || loaded.Entry(row)->HasTime()) want.push_back(qb::FormatFileLine(*loaded.Entry(row)));
    }
    if (got != want) qbfuzz::Fail("the rows without a list differ from the list's");
  }

  if (!dataDir->SaveList()) qbfuzz::Fail("the list could not be saved");
  qb::CProxyListModel again;
  if (!dataDir->ReadList(again)) qbfuzz::Fail("the saved list failed to load");
  if (qbfuzz::RowsOf(again) != qbfuzz::RowsOf(loaded)) qbfuzz::Fail("a saved list loads back to other rows");
  return 0;
}
