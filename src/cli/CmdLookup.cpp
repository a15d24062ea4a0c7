#include "base/Files.h"
#include "base/Text.h"
#include "cli/Cli.h"
#include "proxy/IpLocation.h"

namespace qb::cli {

int RunLookup(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out("Usage: quillberry-cli lookup [--wry FILE] ADDRESS\n"
        "\n"
        "Prints the country text and the area text of an IPv4 address from the location\n"
        "data file (default: wry.dll in the data directory), separated by one blank.\n"
        "Exit status: 0 found, 1 not found (or no data file), 2 bad usage.");
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
  if (file.empty()) file = qb::JoinPath(dataDir, kIpLocationFileName);

  std::string country;
  std::string area;
  if (!LookupIpLocation(file, address, country, area)) return kExitNotFound;
  // The same form the proxy dialog puts into an empty remark.
  Out(std::string(qb::Trim(country)) + " " + std::string(qb::Trim(area)));
  return kExitOk;
}

}  // namespace qb::cli
