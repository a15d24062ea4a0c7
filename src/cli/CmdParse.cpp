#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/ProxyEntry.h"

namespace qb::cli {

namespace {

void PrintParsed(std::string_view line) {
  ProxyFields f;
  if (ParseProxyLine(line, f)) {
    Out(f.addr + "\t" + f.port + "\t" + f.type + "\t" + f.timeStatus + "\t" + f.remark);
  } else {
    Out("invalid");
  }
}

}  // namespace

int RunParse(const QStringList& args, const std::string& /*dataDir*/) {
  if (WantsHelp(args)) {
    Out(Help(QT_TRANSLATE_NOOP(
        "QuillberryHelp",
        "Usage: quillberry-cli parse [LINE...]\n"
        "\n"
        "Splits each proxy line (address:port@type$time-or-status#remark), or each line of\n"
        "standard input when no LINE is given, and prints the address, port, type,\n"
        "time-or-status and remark separated by tabs, or the word 'invalid'.")));
    return kExitOk;
  }
  if (!args.isEmpty()) {
    for (const QString& a : args) PrintParsed(a.toStdString());
    return kExitOk;
  }
  const std::string input = ReadStdin();
  qb::ForEachLine(input, [](std::string_view line) { PrintParsed(qb::DecodeLegacyLine(line)); });
  return kExitOk;
}

}  // namespace qb::cli
