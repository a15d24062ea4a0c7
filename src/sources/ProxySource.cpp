#include "sources/ProxySource.h"

#include <algorithm>

#include "base/Text.h"
#include "base/Translate.h"

namespace qb {

namespace {

// The next item separated by white space, as scanf's "%s" reads it.
std::string_view NextItem(std::string_view& rest) {
  rest = qb::TrimLeft(rest);
  std::size_t n = 0;
  while (n < rest.size() && !qb::IsCSpace(static_cast<unsigned char>(rest[n]))) ++n;
  const std::string_view item = rest.substr(0, n);
  rest.remove_prefix(n);
  return item;
}

bool HasWhiteSpace(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return qb::IsCSpace(static_cast<unsigned char>(c)); });
}

}  // namespace

// --- The list ---

const char* const CProxySourceListModel::kHeaders[ColumnCount] = {
    QT_TRANSLATE_NOOP("Quillberry", "名称"), QT_TRANSLATE_NOOP("Quillberry", "网页地址")};
const int CProxySourceListModel::kBaseWidths[ColumnCount] = {150, 373};

CProxySourceListModel::CProxySourceListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CProxySourceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int CProxySourceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

const CProxySource* CProxySourceListModel::Source(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  return &m_rows[static_cast<std::size_t>(row)];
}

QVariant CProxySourceListModel::data(const QModelIndex& index, int role) const {
  const CProxySource* s = index.isValid() ? Source(index.row()) : nullptr;
  if (!s) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return QString::fromStdString(index.column() == ColName ? s->m_sName : s->m_sUrl);
    case Qt::CheckStateRole:
      if (index.column() == ColName) return s->m_bEnabled ? Qt::Checked : Qt::Unchecked;
      return {};
    default:
      return {};
  }
}

bool CProxySourceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColName || !Source(index.row()))
    return false;
  const bool enabled = value.toInt() == Qt::Checked;
  if (m_rows[static_cast<std::size_t>(index.row())].m_bEnabled == enabled) return true;
  SetEnabled(index.row(), enabled);
  emit SourceTicked(index.row());
  return true;
}

QVariant CProxySourceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole) return qb::Tr(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags CProxySourceListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == ColName) f |= Qt::ItemIsUserCheckable;
  return f;
}

void CProxySourceListModel::Append(CProxySource source) {
  beginInsertRows(QModelIndex(), RowCount(), RowCount());
  m_rows.push_back(std::move(source));
  endInsertRows();
}

void CProxySourceListModel::Modify(int row, std::string name, std::string url) {
  if (!Source(row)) return;
  CProxySource& s = m_rows[static_cast<std::size_t>(row)];
  s.m_sName = std::move(name);
  s.m_sUrl = std::move(url);
  emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void CProxySourceListModel::SetEnabled(int row, bool enabled) {
  if (!Source(row)) return;
  m_rows[static_cast<std::size_t>(row)].m_bEnabled = enabled;
  emit dataChanged(index(row, ColName), index(row, ColName), {Qt::CheckStateRole});
}

void CProxySourceListModel::RemoveRows(std::vector<int> rows) {
  std::erase_if(rows, [&](int r) { return !Source(r); });
  std::sort(rows.begin(), rows.end(), std::greater<int>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int row : rows) {
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
  }
}

void CProxySourceListModel::Clear() {
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

// --- "Sources.dat" ---

void ReadSourcesText(CProxySourceListModel& list, std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  bool ended = false;
  qb::ForEachLine(text, [&](std::string_view raw) {
    if (ended) return;
    const std::string line = qb::DecodeLegacyLine(raw);
    std::string_view rest = qb::Trim(line);
    // The first blank line ends the file.
    if (rest.empty()) {
      ended = true;
      return;
    }
    const std::string_view name = qb::SkipByteOrderMarks(NextItem(rest));
    const std::string_view url = NextItem(rest);
    if (name.empty() || url.empty()) return;
    // A line with a name and a URL but no number (or no number where it belongs)
    // was written by hand to use the source: it is loaded ticked.
    const std::string_view flag = NextItem(rest);
    std::string_view digits = flag;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    const bool isNumber = !digits.empty() && qb::IsDigit(static_cast<unsigned char>(digits[0]));
    const bool enabled = isNumber ? qb::CAtoll(flag) != 0 : true;
    list.Append({std::string(name), std::string(url), enabled});
  });
}

std::string FormatSourcesFile(const CProxySourceListModel& list) {
  std::string out;
  for (const CProxySource& s : list.Sources()) {
    out += s.m_sName;
    out += ' ';
    out += s.m_sUrl;
    out += s.m_bEnabled ? " 1\r\n" : " 0\r\n";
  }
  return out;
}

// --- The source dialog's checks ---

ProxySourceCheck ValidateProxySource(std::string& name, std::string& url) {
  name = qb::Trim(qb::SkipByteOrderMarks(qb::Trim(name)));
  url = qb::Trim(url);
  // Any white space inside would split the text into two items of "Sources.dat", so a
  // pasted tab is refused like a blank.
  if (name.empty() || HasWhiteSpace(name)) return {false, kSourceNameEditId};
  if (url.empty() || HasWhiteSpace(url)) return {false, kSourceUrlEditId};
  return {};
}

}  // namespace qb
