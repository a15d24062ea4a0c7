#include "proxy/FileImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/Parallel.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyListModel.h"

namespace {

struct Part {
  bool failed = false;
  std::size_t found = 0;
  std::string gathered;
  CProxyListModel::PreparedRows rows;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

std::optional<std::size_t> AddProxiesFromFile(CProxyListModel& list, const std::string& path, bool ambiguous,
                                              int select, const FileImportOptions& options) {
  FileDescriptor file(path);
  struct stat st {};
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;

  const std::uint64_t size = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
  const std::uint64_t partBytes = std::max<std::size_t>(options.partBytes, 1);
  // Only a regular file can be read in parts at their offsets.
  const std::size_t parts =
      S_ISREG(st.st_mode) ? static_cast<std::size_t>(std::max<std::uint64_t>(1, (size + partBytes - 1) / partBytes))
                          : 1;
  // Past a few threads the list, which takes the parts one at a time, is the limit.
  constexpr unsigned kMaxThreads = 8;
  const unsigned threads = qb::ThreadsFor(parts, options.threads, kMaxThreads);

  // Parts are read and parsed in any order but added strictly in file order, so that
  // of two equal proxies the first is kept, as with a read from front to back.
  auto make = [&](std::size_t i) {
    Part part;
    // The last part reads on to the end, wherever that is by then.
    const std::uint64_t end = i + 1 == parts ? kToEndOfFile : (i + 1) * partBytes;
    auto scan = ScanFileRange(file.get(), i * partBytes, end, ambiguous,
                              [&](std::string_view line) { part.rows.AddLine(line); });
    if (!scan) {
      part.failed = true;
    } else {
      part.found = scan->found;
      part.gathered = std::move(scan->gathered);
    }
    return part;
  };

  CProxyListModel::BulkAppend bulk(list);
  std::size_t found = 0;
  std::string fuzzyText;  // the lines for the fuzzy pass, while it can still happen
  auto use = [&](std::size_t, Part& part) {
    if (part.failed) return false;
    list.AppendPrepared(part.rows, select);
    found += part.found;
    if (ambiguous && found <= kFuzzyPassLimit) fuzzyText.append(part.gathered);
    return true;
  };
  if (!qb::RunInOrder<Part>(parts, threads, 2 * threads, make, use)) return std::nullopt;

  if (ambiguous && found <= kFuzzyPassLimit) {
    found += ScanFuzzy(fuzzyText, [&](std::string_view line) { list.AddProxyLine(line, select); });
  }
  return found;
}
