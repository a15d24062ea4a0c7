// Adding the proxies of a file to the list, with the file's parts read and parsed on
// several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"

namespace qb {

class CProxyListModel;

struct FileImportOptions {
  // The file is cut into parts of this many bytes, each read and parsed by itself.
  std::size_t partBytes = std::size_t{4} << 20;
  // Threads that read and parse parts; 0 means one per processor. With 1 everything
  // happens on the calling thread.
  unsigned threads = 0;
};

// Adds every proxy of the file to the list in file order, each as
// AddProxyLine(line, select) would: the same rows, in the same order, with the same
// duplicates dropped as ExtractFile feeding AddProxyLine. The rows reach the list's
// views in one insertion. Returns the number found (duplicates included), or nullopt
// when the file cannot be read; after a read error part way through, the rows of the
// parts before it have been added.
// The user names and passwords that came with proxies go to *credentials, when given.
std::optional<std::size_t> AddProxiesFromFile(CProxyListModel& list, const std::string& path, bool ambiguous,
                                              int select, const FileImportOptions& options = {},
                                              FoundCredentialList* credentials = nullptr,
                                              std::size_t* refused = nullptr);

// Reads a list file the program wrote (Proxies.pro) into the list, on several threads
// as above: a line in the form the program writes loads with its five fields, any
// other line goes through the extractor like a foreign file's. Rows are appended
// unselected. Returns the number of rows appended, or nullopt when the file cannot be
// read.
std::optional<std::size_t> AddRowsFromListFile(CProxyListModel& list, const std::string& path,
                                               const FileImportOptions& options = {});

// The lines of a list file that hold no proxy at all (a hand-edited line gone wrong):
// how many, and the first kKeptLines of them as they were read.
struct ListFileRejects {
  static constexpr std::size_t kKeptLines = 10000;
  std::size_t count = 0;
  std::vector<std::string> lines;
};
// The same from an open list file, from the byte offset from on (the lines another
// program appended since it was last read); rejects, when given, gets the lines that
// hold no proxy.
std::optional<std::size_t> AddRowsFromListFd(CProxyListModel& list, int fd, std::uint64_t from,
                                             const FileImportOptions& options = {},
                                             ListFileRejects* rejects = nullptr);

// The rows a list read from the open list file fd would hold (each proxy's first line
// wins, as AddRowsFromListFd adds them), without a list: only those for which keep is
// true, in file order. For a reader that wants a few of millions of rows (the working
// ones), this costs a fraction of the list's memory and time. nullopt when the file
// cannot be read.
std::optional<std::vector<CProxyEntry>> ReadRowsFromListFd(
    int fd, const std::function<bool(const CProxyEntry&)>& keep, const FileImportOptions& options = {});

}  // namespace qb
