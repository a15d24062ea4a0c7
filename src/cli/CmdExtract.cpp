#include <string>
#include <unordered_set>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"

namespace qb::cli {

namespace {

// The text as a paste hands it over: UTF-8 as it is, otherwise each line that is not
// valid UTF-8 decoded from GB18030 (the line breaks stay where they were).
std::string DecodeAsPaste(std::string bytes) {
  if (qb::IsValidUtf8(bytes)) return bytes;
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 2);
  std::size_t pos = 0;
  for (;;) {
    const std::size_t nl = bytes.find('\n', pos);
    const std::size_t end = nl == std::string::npos ? bytes.size() : nl;
    text += qb::DecodeLegacyLine(std::string_view(bytes).substr(pos, end - pos));
    if (nl == std::string::npos) break;
    text += '\n';
    pos = nl + 1;
  }
  return text;
}

}  // namespace

int RunExtract(const QStringList& args, const std::string& /*dataDir*/) {
  if (WantsHelp(args)) {
    Out(Help(
        QT_TRANSLATE_NOOP("QuillberryHelp",
                          "Usage: quillberry-cli extract [--fuzzy] [FILE]\n"
                          "       quillberry-cli extract [--fuzzy] [--format FORMAT] [--type TYPE]\n"
                          "                              [--working] [FILE]\n"
                          "\n"
                          "Finds the proxies in FILE, or in standard input when FILE is missing or '-',\n"
                          "read as one text the way a paste is, and prints each proxy line that would be\n"
                          "added to an empty list, one per line, in the order found.\n"
                          "\n"
                          "--fuzzy          also find addresses and ports separated by blanks or markup\n"
                          "                 instead of ':' (runs when the strict pass found at most 200\n"
                          "                 proxies)\n"
                          "--format FORMAT  line (the proxy lines, the default), url (type://address:port),\n"
                          "                 csv (address,port,type,status,remark with a header; CR LF)\n"
                          "                 or json (an array of objects with those keys)\n"
                          "--type TYPE      only the proxies of one type (HTTP, HTTPS, SOCKS4, SOCKS5, FTP,\n"
                          "                 GOPHER)\n"
                          "--working        only the proxies whose status is a measured time\n"
                          "--credentials    with url, csv or json: also the user name and password that\n"
                          "                 came with a proxy (never unless asked)\n"
                          "\n"
                          "Exit status 0, also when nothing was found (a message then goes to standard\n"
                          "error); 2 for a bad option or format or a file that cannot be read.")));
    return kExitOk;
  }

  bool fuzzy = false;
  QString file;
  bool haveFile = false;
  qb::ExportOptions output;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const OutputOption taken = TakeOutputOption("extract", args, i, output);
    if (taken == OutputOption::Bad) return kExitUsage;
    if (taken == OutputOption::Taken) continue;
    if (a == "--fuzzy") {
      fuzzy = true;
    } else if (a.startsWith("-") && a != "-") {
      Err("extract: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli extract --help' for usage.");
      return kExitUsage;
    } else if (haveFile) {
      Err("extract: only one FILE may be given");
      return kExitUsage;
    } else {
      file = a;
      haveFile = true;
    }
  }

  std::string bytes;
  if (haveFile && file != "-") {
    const std::string path = file.toStdString();
    auto data = qb::ReadWholeFile(path);
    if (!data) {
      Err("extract: cannot read " + path);
      return kExitUsage;
    }
    bytes = std::move(*data);
  } else {
    bytes = ReadStdin();
  }

  // What AddProxyLine would add to an empty list: valid lines, each key once.
  std::unordered_set<std::string> keys;
  std::string out;
  ProxyFields f;
  // The log-ons that came with the proxies, for the formats that carry them.
  CProxyCredentialStore logOns;
  output.credentials = [&logOns](const CProxyEntry& e) { return logOns.Find(e); };
  qb::CListExporter exporter(output);
  exporter.AppendBegin(out);
  std::size_t refused = 0;
  auto take = [&](std::string_view line, const FoundCredentials* c) {
    if (!ParseProxyLine(line, f)) return;
    if (c) logOns.Set(CredentialsKeyOfLine(line), *c);
    if (!keys.insert(ProxyKey(f.addr, f.port, f.type)).second) return;
    const CProxyEntry row(f.addr, f.port, f.type, f.timeStatus, f.remark);
    // Proxy lines are printed as found, which is what scripts have always read.
    if (output.format != qb::ExportFormat::Lines) {
      exporter.AppendRow(out, row);
    } else if (exporter.Accepts(row)) {
      out.append(line).push_back('\n');
    }
  };
  Overloaded sink{take, [&](ProxyRefused) { ++refused; }};
  const std::size_t found = ExtractWholeText(DecodeAsPaste(std::move(bytes)), fuzzy, sink);
  exporter.AppendEnd(out);
  OutRaw(out);
  if (refused > 0)
    Err("extract: " + std::to_string(refused) +
        " not recognised (a scheme that names no proxy, a port out of range, or a user name or password that "
        "cannot be used)");
  if (found == 0) Err(qb::TrStd(kMsgNoProxyOnClipboard));
  return kExitOk;
}

}  // namespace qb::cli
