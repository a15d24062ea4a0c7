#include <cstdio>
#include <string>

#include "base/Text.h"
#include "cli/Cli.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qb::cli {

OutputOption TakeOutputOption(const std::string& command, const QStringList& args, int& i,
                              qb::ExportOptions& o) {
  const QString& a = args[i];
  if (a == "--working") {
    o.workingOnly = true;
    return OutputOption::Taken;
  }
  if (a == "--credentials") {
    o.includeCredentials = true;
    return OutputOption::Taken;
  }
  QString name;
  QString value;
  if (a == "--format" || a == "--type") {
    if (i + 1 >= args.size()) {
      Err(command + ": " + a.toStdString() + " needs a value");
      return OutputOption::Bad;
    }
    name = a;
    value = args[++i];
  } else if (a.startsWith("--format=") || a.startsWith("--type=")) {
    name = a.section('=', 0, 0);
    value = a.section('=', 1);
  } else {
    return OutputOption::None;
  }
  const std::string text = value.toStdString();
  if (name == "--format") {
    const std::optional<qb::ExportFormat> format = qb::ParseExportFormat(text);
    if (!format) {
      Err(command + ": unknown format: " + text + " (use line, url, csv or json)");
      return OutputOption::Bad;
    }
    o.format = *format;
  } else {
    const std::string type = qb::AsciiUpper(text);
    if (!IsProxyType(type)) {
      Err(command + ": unknown proxy type: " + text + " (use HTTP, HTTPS, SOCKS4, SOCKS5, FTP or GOPHER)");
      return OutputOption::Bad;
    }
    o.type = type;
  }
  return OutputOption::Taken;
}

void OutRaw(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void PrintList(const qb::CProxyListModel& list, const qb::ExportOptions& options) {
  qb::CListExporter exporter(options);
  std::string out;
  exporter.AppendBegin(out);
  for (int row = 0; row < list.RowCount(); ++row) {
    exporter.AppendRow(out, *list.Entry(row));
    if (out.size() >= (1u << 20)) {
      OutRaw(out);
      out.clear();
    }
  }
  exporter.AppendEnd(out);
  OutRaw(out);
}

}  // namespace qb::cli
