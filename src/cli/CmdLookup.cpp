#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Files.h"
#include "base/Language.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/GeoLocation.h"
#include "proxy/IpLocation.h"

namespace qb::cli {

namespace {

bool IsAddress(std::string text) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  unsigned char buf[16];
  return ::inet_pton(AF_INET, text.c_str(), buf) == 1 || ::inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

// Why a file named on the command line cannot be read, or 0.
int Unreadable(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  const int code = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (fd >= 0) ::close(fd);
  return code;
}

}  // namespace

int RunLookup(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(QT_TRANSLATE_NOOP(
        "QuillberryHelp",
        "Usage: quillberry-cli lookup [--wry FILE] [--geoip-dir DIR] ADDRESS\n"
        "\n"
        "Prints where an IPv4 or IPv6 address is: the country and the area, separated by one\n"
        "blank, as an empty remark gets them; then \"source: \" and the file that answered.\n"
        "The sources, first match wins: wry.dll in the data directory (or --wry FILE), every\n"
        "*.mmdb in the data directory (city databases first), the system's GeoIP.dat and\n"
        "GeoIPv6.dat (in /usr/share/GeoIP, or --geoip-dir DIR). A damaged source is named on\n"
        "standard error and passed over.\n"
        "Exit status: 0 found, 1 not found, 2 bad usage, an ADDRESS that is not an IP\n"
        "address, or a --wry file that cannot be read.")));
    return kExitOk;
  }
  GeoSources sources;
  sources.dataDir = dataDir;
  std::string address;
  bool haveAddress = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    std::string* value = nullptr;
    if (a == "--wry" || a == "--geoip-dir") {
      if (i + 1 >= args.size()) {
        Err((a + " needs a value").toStdString());
        return kExitUsage;
      }
      value = a == "--wry" ? &sources.wryFile : &sources.systemDir;
      *value = args[++i].toStdString();
    } else if (a.startsWith("--wry=")) {
      sources.wryFile = a.mid(6).toStdString();
    } else if (a.startsWith("--geoip-dir=")) {
      sources.systemDir = a.mid(12).toStdString();
    } else if (!haveAddress) {
      address = a.toStdString();
      haveAddress = true;
    } else {
      Err("lookup takes one address");
      return kExitUsage;
    }
  }
  if (!haveAddress) {
    Err("Usage: quillberry-cli lookup [--wry FILE] [--geoip-dir DIR] ADDRESS");
    return kExitUsage;
  }
  // The lookup itself reads any text leniently, as the proxy dialog needs; a command
  // tells a typing mistake from an address that is simply not in the files.
  if (!IsAddress(address)) {
    Err("lookup: not an IP address: " + address);
    return kExitUsage;
  }
  // A file asked for by name must be there; the default one is optional.
  if (!sources.wryFile.empty()) {
    if (const int code = Unreadable(sources.wryFile)) {
      Err("lookup: cannot read " + sources.wryFile + ": " + std::strerror(code));
      return kExitUnreadable;
    }
  }

  const GeoLookup found = LocateAddressIn(sources, address, CurrentLanguage());
  for (const GeoProblem& p : found.problems) Err("lookup: " + p.file + ": " + p.reason + "; passed over");
  if (!found.result) return kExitNotFound;
  Out(GeoRemark(*found.result));
  Out("source: " + found.result->source);
  return kExitOk;
}

}  // namespace qb::cli
