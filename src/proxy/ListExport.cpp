#include "proxy/ListExport.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdio>

#include "base/Text.h"

namespace qb {

std::optional<ExportFormat> ParseExportFormat(std::string_view name) {
  if (name == "line") return ExportFormat::Lines;
  if (name == "url") return ExportFormat::Urls;
  if (name == "csv") return ExportFormat::Csv;
  if (name == "json") return ExportFormat::Json;
  return std::nullopt;
}

std::string ProxyUrlScheme(std::string_view type) {
  // A row without a type is taken as HTTP, as the extractor takes a bare address.
  if (type.empty()) return "http";
  return qb::AsciiLower(type);
}

std::string CsvField(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
  std::string out;
  out.reserve(field.size() + 2);
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// Readers of JSON reject broken UTF-8, and a row read from an odd file may hold some:
// such bytes become U+FFFD here rather than make the whole export unreadable.
void AppendJsonString(std::string& out, std::string_view text) {
  std::string valid;
  if (!qb::IsValidUtf8(text)) {
    valid = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    text = valid;
  }
  out.push_back('"');
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (u < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", u);
          out.append(buf);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

namespace {

constexpr const char* kCsvLineEnd = "\r\n";

}  // namespace

// The port as a JSON number; a row always holds 1 to 65535 in digits, but "080" must
// not become a number with a leading zero, and anything else is no number at all.
void AppendJsonPort(std::string& out, std::string_view port) {
  bool digits = !port.empty() && port.size() <= 10;
  for (char c : port) digits = digits && qb::IsDigit(static_cast<unsigned char>(c));
  out.append(digits ? std::to_string(qb::CAtoll(port)) : std::string("null"));
}

namespace {

std::string PercentEncoded(const std::string& text) {
  return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

}  // namespace

bool CListExporter::Accepts(const CProxyEntry& e) const {
  if (!m_options.type.empty() && !qb::AsciiCaseEqual(e.Type(), m_options.type)) return false;
  if (m_options.workingOnly && !IsTimeText(e.TimeStatus())) return false;
  return true;
}

std::optional<ExportCredentials> CListExporter::CredentialsFor(const CProxyEntry& e) const {
  if (!m_options.includeCredentials || !m_options.credentials) return std::nullopt;
  return m_options.credentials(e);
}

void CListExporter::AppendBegin(std::string& out) {
  m_anyRow = false;
  switch (m_options.format) {
    case ExportFormat::Csv:
      out.append("address,port,type,status,remark");
      if (m_options.includeCredentials) out.append(",user,password");
      if (m_options.judged) out.append(",anonymity,exit");
      // Last, so that every column before it stands where it stood.
      out.append(",state");
      out.append(kCsvLineEnd);
      break;
    case ExportFormat::Json:
      out.push_back('[');
      break;
    case ExportFormat::Lines:
    case ExportFormat::Urls:
      break;
  }
}

bool CListExporter::AppendRow(std::string& out, const CProxyEntry& e) {
  if (!Accepts(e)) return false;
  const std::optional<ExportCredentials> login = CredentialsFor(e);
  const std::optional<ExportJudged> judged = m_options.judged ? m_options.judged(e) : std::nullopt;
  switch (m_options.format) {
    case ExportFormat::Lines:
      AppendFileLine(out, e);
      if (judged) out.append("\t").append(judged->anonymity).append("\t").append(judged->exitAddress);
      out.append(m_options.lineEnd);
      break;
    case ExportFormat::Urls:
      out.append(ProxyUrlScheme(e.Type())).append("://");
      if (login) {
        out.append(PercentEncoded(login->user));
        if (!login->password.empty()) out.append(":").append(PercentEncoded(login->password));
        out.append("@");
      }
      out.append(e.Addr()).append(":").append(e.Port()).append(m_options.lineEnd);
      break;
    case ExportFormat::Csv:
      out.append(CsvField(e.Addr())).append(",");
      out.append(CsvField(e.Port())).append(",");
      out.append(CsvField(e.Type())).append(",");
      out.append(CsvField(e.TimeStatus())).append(",");
      out.append(CsvField(e.Remark()));
      if (m_options.includeCredentials) {
        out.append(",").append(login ? CsvField(login->user) : std::string());
        out.append(",").append(login ? CsvField(login->password) : std::string());
      }
      if (m_options.judged) {
        out.append(",").append(judged ? CsvField(judged->anonymity) : std::string());
        out.append(",").append(judged ? CsvField(judged->exitAddress) : std::string());
      }
      out.append(",").append(ProxyState(e.TimeStatus()));
      out.append(kCsvLineEnd);
      break;
    case ExportFormat::Json:
      out.append(m_anyRow ? "," : "").append(m_options.lineEnd);
      out.append("{\"address\":");
      AppendJsonString(out, e.Addr());
      out.append(",\"port\":");
      AppendJsonPort(out, e.Port());
      out.append(",\"type\":");
      AppendJsonString(out, e.Type());
      out.append(",\"status\":");
      AppendJsonString(out, e.TimeStatus());
      out.append(",\"state\":");
      AppendJsonString(out, ProxyState(e.TimeStatus()));
      out.append(",\"remark\":");
      AppendJsonString(out, e.Remark());
      if (login) {
        out.append(",\"user\":");
        AppendJsonString(out, login->user);
        out.append(",\"password\":");
        AppendJsonString(out, login->password);
      }
      if (judged) {
        out.append(",\"anonymity\":");
        AppendJsonString(out, judged->anonymity);
        out.append(",\"exit\":");
        AppendJsonString(out, judged->exitAddress);
      }
      out.push_back('}');
      break;
  }
  m_anyRow = true;
  return true;
}

void CListExporter::AppendEnd(std::string& out) {
  if (m_options.format != ExportFormat::Json) return;
  if (m_anyRow) out.append(m_options.lineEnd);
  out.append("]").append(m_options.lineEnd);
}

std::string ExportRows(const std::vector<const CProxyEntry*>& rows, const ExportOptions& options) {
  CListExporter exporter(options);
  std::string out;
  exporter.AppendBegin(out);
  for (const CProxyEntry* e : rows) {
    if (e) exporter.AppendRow(out, *e);
  }
  exporter.AppendEnd(out);
  return out;
}

}  // namespace qb
