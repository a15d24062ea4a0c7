// Rows written for other programs: proxy lines, proxy URLs, CSV or JSON.
//
// The writer works a row at a time (Begin, rows, End), so that a command can print a
// page's proxies as soon as they are found and a large list is never held as text
// twice.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/ProxyEntry.h"

namespace qb {

enum class ExportFormat { Lines, Urls, Csv, Json };

// "line", "url", "csv" or "json" (as the command line spells them); nullopt for
// anything else.
std::optional<ExportFormat> ParseExportFormat(std::string_view name);

// A proxy's log-on, handed in through ExportOptions::credentials by a caller that
// knows it (the store, or what an import found).
using ExportCredentials = ProxyCredentials;

// What a judge page told about a proxy's last verification.
struct ExportJudged {
  std::string anonymity;  // "transparent", "anonymous" or "elite"
  std::string exitAddress;
};

struct ExportOptions {
  ExportFormat format = ExportFormat::Lines;
  // Only rows of this type (any case), when not empty.
  std::string type;
  // Only rows whose last verification measured a time.
  bool workingOnly = false;
  // Ends the lines of the proxy lines, the URLs and the JSON text. CSV lines always
  // end in CR LF, as its readers expect.
  std::string lineEnd = "\n";
  // Credentials are written only when asked for: an export is often handed on, and a
  // password must not leave the program by accident. The proxy line has no field for
  // them, so Lines never carries them; URLs carry them as user:password@, CSV and
  // JSON as two more columns or keys.
  bool includeCredentials = false;
  std::function<std::optional<ExportCredentials>(const CProxyEntry&)> credentials;
  // Only a run against a judge sets this, so that every other output stays as it was.
  // CSV then has two more columns, anonymity and exit (empty for a row without); JSON
  // rows with a value two more keys; a proxy line with a value is followed by a tab,
  // the anonymity, a tab and the exit address. URLs never carry them.
  std::function<std::optional<ExportJudged>(const CProxyEntry&)> judged;
};

class CListExporter {
 public:
  explicit CListExporter(ExportOptions options) : m_options(std::move(options)) {}

  // Whether the row passes the type and working filters.
  bool Accepts(const CProxyEntry& e) const;

  // What comes before the first row (the CSV header, the JSON array's opening).
  void AppendBegin(std::string& out);
  // Appends the row when it passes the filters; returns whether it did.
  bool AppendRow(std::string& out, const CProxyEntry& e);
  // What comes after the last row.
  void AppendEnd(std::string& out);

 private:
  std::optional<ExportCredentials> CredentialsFor(const CProxyEntry& e) const;

  ExportOptions m_options;
  bool m_anyRow = false;
};

// The whole text of the rows in the format.
std::string ExportRows(const std::vector<const CProxyEntry*>& rows, const ExportOptions& options);

// "socks5" for "SOCKS5": the URL scheme of a proxy type (lower case).
std::string ProxyUrlScheme(std::string_view type);

// The field as an RFC 4180 CSV field: quoted (quotes doubled) when it holds a comma,
// a quote, CR or LF, otherwise as it is.
std::string CsvField(std::string_view field);
// Appends the text as a JSON string literal, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
// Appends a row's port as a JSON number (null when it holds no plain number), as every
// JSON output of the program writes it.
void AppendJsonPort(std::string& out, std::string_view port);

}  // namespace qb
