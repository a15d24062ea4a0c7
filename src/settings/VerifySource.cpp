#include "settings/VerifySource.h"

#include <algorithm>

#include "base/Files.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "settings/Settings.h"

namespace qb {

namespace {

bool IsHexDigit(char c) {
  return qb::IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int HexValue(char c) {
  return qb::IsDigit(c) ? c - '0' : (qb::AsciiUpper(c) - 'A' + 10);
}

bool StartsPercentEscape(std::string_view s, std::size_t i) {
  return i + 2 < s.size() && s[i] == '%' && IsHexDigit(s[i + 1]) && IsHexDigit(s[i + 2]);
}

// The "%" that ends the URL: the first one that does not begin a percent-escape of
// two hex digits, or the last one when all of them do. So a percent-encoded URL such
// as "http://x/a%20b" keeps its escapes, and the feature after it needs no quoting.
std::size_t FindUrlEnd(std::string_view s) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (!StartsPercentEscape(s, i)) return i;
    last = i;
  }
  return last;
}

bool NeedsEscape(char c) {
  return c == '%' || c == '@' || c == '$' || c == '\r' || c == '\n';
}

std::string Escape(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (StartsPercentEscape(s, i)) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  // The writer escapes only separators and line breaks, but an edited or damaged file
  // may escape any byte. Bytes that are no UTF-8 are read as the legacy code page,
  // like a line of the file that is no UTF-8, so that the text in memory is UTF-8
  // and is saved as it was loaded.
  if (!qb::IsValidUtf8(out)) return qb::DecodeLegacyLine(out);
  return out;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

// --- Protocol, duplicates, the list in the settings ---

int GetUrlProtocol(std::string_view url) {
  const std::string upper = qb::AsciiUpper(url.substr(0, 8));
  // A page over TLS serves the same proxies as a plain one.
  if (upper.starts_with("HTTP://") || upper.starts_with("HTTPS://")) return kProtocolHttp;
  if (upper.starts_with("FTP://")) return kProtocolFtp;
  return 0;
}

std::string MendOlderHttpsUrl(std::string url) {
  if (url.size() > 15 && qb::AsciiUpper(std::string_view(url).substr(0, 15)) == "HTTP://HTTPS://")
    url.erase(0, 7);
  return url;
}

bool SameVerifyUrl(std::string_view a, std::string_view b) {
  return qb::AsciiCaseEqual(a, b);
}

void AddVerifySource(CSettings& settings, std::string name, std::string url, std::string feature,
                     int checked) {
  CVerifySourceListModel* view = settings.m_pSourceList;
  if (view) view->BeginAppend();
  settings.m_aVerifySources.push_back({std::move(name), std::move(url), std::move(feature), checked});
  if (view) view->EndAppend();
}

void InstallDefaultVerifySources(CSettings& s) {
  AddVerifySource(s, "中文Google", "http://www.google.com/intl/zh-CN/", "手气不错", 1);
  AddVerifySource(s, "Microsoft Corporation", "http://www.microsoft.com", "Microsoft Corporation", 0);
  AddVerifySource(s, "Intel", "http://www.intel.com", "Intel Corporation", 0);
  AddVerifySource(s, "MIT", "http://www.mit.edu", "Massachusetts Institute of Technology", 0);
  AddVerifySource(s, "MSN", "http://www.msn.com", "My MSN", 0);
  AddVerifySource(s, "北京大学", "http://www.pku.edu.cn/", "北京大学", 0);
  AddVerifySource(s, "清华大学", "http://www.tsinghua.edu.cn/chn/index.htm", "清华大学", 0);
  AddVerifySource(s, "复旦大学", "http://www.fudan.edu.cn", "复旦大学", 0);
  AddVerifySource(s, "匿名程度好", "http://www.proxyjudge.us/cgi-bin/prxjdg.cgi", "Nice", 0);
  AddVerifySource(s, "GlobalSCAPE FTP", "ftp://ftp.globalscape.com", "GlobalSCAPE", 1);
  AddVerifySource(s, "Virginia FTP", "ftp://ftp.cs.virginia.edu", "Virginia", 0);
}

CheckedVerifySources GetCheckedVerifySources(const CSettings& settings) {
  CheckedVerifySources r;
  for (const CVerifySource& v : settings.m_aVerifySources) {
    if (v.m_bChecked == 0) continue;
    const int protocol = GetUrlProtocol(v.m_sUrl);
    if (protocol == kProtocolHttp) {
      r.httpUrl = v.m_sUrl;
      r.httpFeature = v.m_sFeature;
    } else if (protocol == kProtocolFtp) {
      r.ftpUrl = v.m_sUrl;
      r.ftpFeature = v.m_sFeature;
    }
  }
  return r;
}

std::vector<std::string> CheckedResourceHosts(const CSettings& settings) {
  const CheckedVerifySources checked = GetCheckedVerifySources(settings);
  std::vector<std::string> hosts;
  for (const std::string& url : {checked.httpUrl, checked.ftpUrl}) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) continue;
    std::string host = url.substr(scheme + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    if (const std::size_t at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    // A port after the host; an IPv6 address keeps its colons inside its brackets.
    if (const std::size_t colon = host.rfind(':');
        colon != std::string::npos && host.find(']', colon) == std::string::npos)
      host.erase(colon);
    if (!host.empty() && std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
  }
  return hosts;
}

void RecordCheckedSources(CSettings& settings) {
  settings.m_nCheckedHttpIndex = -1;
  settings.m_nCheckedFtpIndex = -1;
  for (int i = 0; i < static_cast<int>(settings.m_aVerifySources.size()); ++i) {
    const CVerifySource& v = settings.m_aVerifySources[static_cast<std::size_t>(i)];
    if (v.m_bChecked == 0) continue;
    const int protocol = GetUrlProtocol(v.m_sUrl);
    if (protocol == kProtocolHttp) settings.m_nCheckedHttpIndex = i;
    if (protocol == kProtocolFtp) settings.m_nCheckedFtpIndex = i;
  }
}

void RestoreCheckedSources(CSettings& settings) {
  auto& list = settings.m_aVerifySources;
  for (CVerifySource& v : list) v.m_bChecked = 0;
  // Delete keeps the recorded indices on the records they named; an index that no
  // longer names a record is skipped rather than followed outside the list.
  for (int index : {settings.m_nCheckedHttpIndex, settings.m_nCheckedFtpIndex}) {
    if (index >= 0 && index < static_cast<int>(list.size()))
      list[static_cast<std::size_t>(index)].m_bChecked = 1;
  }
  if (settings.m_pSourceList && !list.empty())
    settings.m_pSourceList->RowsChanged(0, static_cast<int>(list.size()) - 1);
}

// --- The text form of a resource ---
//
// "Setting.dat" and the export files join the texts with "@" and "%" (and "$" before
// the tick) without quoting, so a separator inside a text used to split the line in
// the wrong place. Lines are still written in that plain form whenever it reads back
// to the same texts: that covers every ordinary resource, percent-encoded URLs
// included, so such lines stay byte for byte what older versions wrote and read. The
// reader takes the first "@", then the first "%" after it that does not begin a
// two-hex-digit escape (or the last "%" when all do), and in "Setting.dat" the last
// "$". Only a resource whose plain line would read back differently is written in the
// escaped form: the URL and the feature are joined with "%%", and in all three texts
// "%", "@", "$", CR and LF are written as "%" and two hex digits. "%%" never ends a
// plain URL (a "%" followed by "%" is no escape), so the reader tells the forms apart.

bool DecodeVerifySourceText(std::string_view text, std::string& name, std::string& url,
                            std::string& feature) {
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos) return false;
  const std::string_view rest = text.substr(at + 1);
  const std::size_t end = FindUrlEnd(rest);
  if (end == std::string_view::npos) return false;
  const std::string_view rawName = qb::Trim(text.substr(0, at));
  const std::string_view rawUrl = qb::Trim(rest.substr(0, end));
  if (end + 1 < rest.size() && rest[end + 1] == '%') {
    // Trimmed after decoding too: a text is kept trimmed (the dialog trims what is
    // typed, and the writer leaves blanks at the ends unescaped), so an escaped blank
    // or control character at an end would not survive the next save.
    name = qb::Trim(Unescape(rawName));
    url = qb::Trim(Unescape(rawUrl));
    feature = qb::Trim(Unescape(qb::Trim(rest.substr(end + 2))));
  } else {
    name = rawName;
    url = rawUrl;
    feature = qb::Trim(rest.substr(end + 1));
  }
  return true;
}

std::string EncodeVerifySourceText(std::string_view name, std::string_view url, std::string_view feature) {
  std::string plain;
  plain.append(name).append("@").append(url).append("%").append(feature);
  if (!HasLineBreak(plain)) {
    std::string n, u, f;
    if (DecodeVerifySourceText(plain, n, u, f) && n == qb::Trim(name) && u == qb::Trim(url) &&
        f == qb::Trim(feature))
      return plain;
  }
  return Escape(name) + "@" + Escape(url) + "%%" + Escape(feature);
}

// --- The resource dialog's checks ---

VerifySourceCheck ValidateVerifySource(std::string& name, std::string& url, std::string& feature) {
  name = qb::Trim(name);
  url = qb::Trim(url);
  feature = qb::Trim(feature);
  auto refuse = [](VerifySourceProblem problem, int focus) {
    return VerifySourceCheck{false, problem, focus};
  };
  if (name.empty()) return refuse(VerifySourceProblem::NoName, kVerifyNameEditId);
  if (name.find_first_of("@%") != std::string::npos)
    return refuse(VerifySourceProblem::NameHasSeparator, kVerifyNameEditId);
  if (url.empty()) return refuse(VerifySourceProblem::NoUrl, kVerifyUrlEditId);
  if (GetUrlProtocol(url) == 0) return refuse(VerifySourceProblem::NoScheme, kVerifyUrlEditId);
  if (feature.empty()) return refuse(VerifySourceProblem::NoFeature, kVerifyFeatureEditId);
  return {};
}

// --- The resource list of the settings dialog ---

const char* const CVerifySourceListModel::kHeaders[ColumnCount] = {
    QT_TRANSLATE_NOOP("Quillberry", "[验证]资源名称"), QT_TRANSLATE_NOOP("Quillberry", "验证资源网址"),
    QT_TRANSLATE_NOOP("Quillberry", "特征字符串")};
const int CVerifySourceListModel::kBaseWidths[ColumnCount] = {137, 218, 146};

CVerifySourceListModel::CVerifySourceListModel(CSettings& settings, QObject* parent)
    : QAbstractTableModel(parent), m_settings(settings) {
  m_settings.m_pSourceList = this;
  FillSourceList();
  RecordCheckedSources(m_settings);
}

CVerifySourceListModel::~CVerifySourceListModel() {
  if (m_settings.m_pSourceList == this) m_settings.m_pSourceList = nullptr;
}

int CVerifySourceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_settings.m_aVerifySources.size());
}

int CVerifySourceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant CVerifySourceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const CVerifySource& v = m_settings.m_aVerifySources[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      const std::string& s = index.column() == ColName  ? v.m_sName
                             : index.column() == ColUrl ? v.m_sUrl
                                                        : v.m_sFeature;
      return QString::fromStdString(s);
    }
    case Qt::CheckStateRole:
      if (index.column() == ColName) return v.m_bChecked ? Qt::Checked : Qt::Unchecked;
      return {};
    default:
      return {};
  }
}

bool CVerifySourceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColName) return false;
  if (index.row() >= rowCount()) return false;
  Tick(index.row(), value.toInt() == Qt::Checked);
  return true;
}

QVariant CVerifySourceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole) return qb::Tr(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags CVerifySourceListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == ColName) f |= Qt::ItemIsUserCheckable;
  return f;
}

void CVerifySourceListModel::FillSourceList() {
  beginResetModel();
  endResetModel();
}

void CVerifySourceListModel::BeginAppend() {
  const int n = rowCount();
  beginInsertRows(QModelIndex(), n, n);
}

void CVerifySourceListModel::EndAppend() {
  endInsertRows();
}

void CVerifySourceListModel::RowsChanged(int first, int last) {
  emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void CVerifySourceListModel::Tick(int row, bool checked) {
  auto& list = m_settings.m_aVerifySources;
  if (row < 0 || row >= rowCount()) return;
  CVerifySource& target = list[static_cast<std::size_t>(row)];
  if ((target.m_bChecked != 0) == checked) return;
  if (checked) {
    const int protocol = GetUrlProtocol(target.m_sUrl);
    for (int i = 0; i < rowCount(); ++i) {
      CVerifySource& other = list[static_cast<std::size_t>(i)];
      if (i == row || other.m_bChecked == 0 || GetUrlProtocol(other.m_sUrl) != protocol) continue;
      other.m_bChecked = 0;
      RowsChanged(i, i);
    }
  }
  target.m_bChecked = checked ? 1 : 0;
  RowsChanged(row, row);
}

bool CVerifySourceListModel::IsDuplicate(std::string_view url, int exceptRow) const {
  const auto& list = m_settings.m_aVerifySources;
  for (int i = 0; i < rowCount(); ++i) {
    if (i != exceptRow && SameVerifyUrl(list[static_cast<std::size_t>(i)].m_sUrl, url)) return true;
  }
  return false;
}

CVerifySourceListModel::Edit CVerifySourceListModel::Add(const std::string& name, const std::string& url,
                                                         const std::string& feature) {
  if (IsDuplicate(url, -1)) return Edit::DuplicateUrl;
  AddVerifySource(m_settings, name, url, feature, 0);
  return Edit::Done;
}

CVerifySourceListModel::Edit CVerifySourceListModel::Modify(int row, const std::string& name,
                                                            const std::string& url,
                                                            const std::string& feature) {
  if (row < 0 || row >= rowCount()) return Edit::NoSuchRow;
  if (IsDuplicate(url, row)) return Edit::DuplicateUrl;
  CVerifySource& v = m_settings.m_aVerifySources[static_cast<std::size_t>(row)];
  v.m_sName = name;
  v.m_sUrl = url;
  v.m_sFeature = feature;
  RowsChanged(row, row);
  return Edit::Done;
}

bool CVerifySourceListModel::Delete(std::vector<int> rows, const std::function<bool()>& confirm) {
  std::erase_if(rows, [&](int r) { return r < 0 || r >= rowCount(); });
  if (rows.empty()) return false;
  if (!confirm || !confirm()) return false;
  std::sort(rows.begin(), rows.end(), std::greater<int>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  auto& list = m_settings.m_aVerifySources;
  for (int row : rows) {
    beginRemoveRows(QModelIndex(), row, row);
    list.erase(list.begin() + row);
    // The restore point follows its records, so Cancel ticks what was ticked when
    // the dialog opened and never a record that moved into a deleted one's place.
    for (int* recorded : {&m_settings.m_nCheckedHttpIndex, &m_settings.m_nCheckedFtpIndex}) {
      if (*recorded == row) {
        *recorded = -1;
      } else if (*recorded > row) {
        --*recorded;
      }
    }
    endRemoveRows();
  }
  return true;
}

CVerifySourceListModel::ImportResult CVerifySourceListModel::ImportFile(const std::string& path) {
  std::string error;
  const auto text = qb::ReadWholeFile(path, &error);
  if (!text) return {0, qb::OpResult::Failure(qb::OpStatus::ReadFailed, path, error)};
  std::string_view body = *text;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  int added = 0;
  qb::ForEachLine(body, [&](std::string_view raw) {
    const std::string line = qb::DecodeLegacyLine(raw);
    const std::size_t at = line.find('@');
    const std::size_t pct = line.find('%');
    if (at == std::string::npos || pct == std::string::npos) return;
    std::string name, url, feature;
    if (!DecodeVerifySourceText(line, name, url, feature)) {
      // The "%" stands only before the "@": the URL is empty and the feature is all
      // after the first "%".
      name = qb::Trim(std::string_view(line).substr(0, at));
      url.clear();
      feature = qb::Trim(std::string_view(line).substr(pct + 1));
    }
    if (GetUrlProtocol(url) == 0) url = "http://" + url;
    url = MendOlderHttpsUrl(std::move(url));
    if (IsDuplicate(url, -1)) return;
    AddVerifySource(m_settings, std::move(name), std::move(url), std::move(feature), 0);
    ++added;
  });
  return {added, qb::OpResult::Success()};
}

qb::OpResult CVerifySourceListModel::ExportFile(const std::string& path) {
  std::string out;
  for (const CVerifySource& v : m_settings.m_aVerifySources) {
    out += EncodeVerifySourceText(v.m_sName, v.m_sUrl, v.m_sFeature);
    out += "\r\n";
  }
  std::string error;
  if (!qb::WriteFileAtomically(path, out, &error)) {
    return qb::OpResult::Failure(qb::OpStatus::WriteFailed, path, error);
  }
  return qb::OpResult::Success();
}

}  // namespace qb
