#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/IpLocation.h"

namespace qb::cli {

int RunLookup(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(
        QT_TRANSLATE_NOOP("QuillberryHelp",
                          "Usage: quillberry-cli lookup [--wry FILE] ADDRESS\n"
                          "\n"
                          "Prints the country text and the area text of an IPv4 address from the location\n"
                          "data file (default: wry.dll in the data directory), separated by one blank.\n"
                          "Exit status: 0 found, 1 not found, 2 bad usage, an ADDRESS that is not an IPv4\n"
                          "address, or a data file that cannot be read (named on standard error).")));
    return kExitOk;
  }
  std::string file;
  std::string address;
  bool haveAddress = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--wry") {
      if (i + 1 >= args.size()) {
        Err("--wry needs a file");
        return kExitUsage;
      }
      file = args[++i].toStdString();
    } else if (a.startsWith("--wry=")) {
      file = a.mid(6).toStdString();
    } else if (!haveAddress) {
      address = a.toStdString();
      haveAddress = true;
    } else {
      Err("lookup takes one address");
      return kExitUsage;
    }
  }
  if (!haveAddress) {
    Err("Usage: quillberry-cli lookup [--wry FILE] ADDRESS");
    return kExitUsage;
  }
  // The lookup itself reads any text leniently, as the proxy dialog needs; a command
  // tells a typing mistake from an address that is simply not in the file.
  in_addr parsed{};
  if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
    Err("lookup: not an IPv4 address: " + address);
    return kExitUsage;
  }
  if (file.empty()) file = qb::JoinPath(dataDir, kIpLocationFileName);
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  const int code = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (fd >= 0) ::close(fd);
  if (code != 0) {
    Err("lookup: cannot read " + file + ": " + std::strerror(code));
    return kExitUnreadable;
  }

  std::string country;
  std::string area;
  if (!LookupIpLocation(file, address, country, area)) return kExitNotFound;
  // The same form the proxy dialog puts into an empty remark.
  Out(std::string(qb::Trim(country)) + " " + std::string(qb::Trim(area)));
  return kExitOk;
}

}  // namespace qb::cli
