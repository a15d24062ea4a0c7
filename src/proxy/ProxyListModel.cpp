#include "proxy/ProxyListModel.h"

#include <arpa/inet.h>

#include <QSet>
#include <QSignalBlocker>

#include <algorithm>
#include <array>
#include <numeric>
#include <type_traits>

#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"

namespace qb {

namespace {

// The address column's order: IPv4 addresses by their numbers (and any other text of
// digits and dots by its parts, as it always was), then IPv6 addresses by their bytes,
// then host names by their text. The first two order on this key alone; names share
// one key and are ordered by text among themselves.
using AddressKey = std::array<std::int64_t, 5>;
enum : std::int64_t { kFamilyIpv4, kFamilyIpv6, kFamilyName };

std::int64_t AddressFamilyOf(const CProxyEntry& e) {
  if (!e.AddressIsText()) return kFamilyIpv4;
  switch (HostKindOf(e.Addr())) {
    case HostKind::Ipv4:
      return kFamilyIpv4;
    case HostKind::Ipv6:
      return kFamilyIpv6;
    case HostKind::Name:
      break;
  }
  return kFamilyName;
}

std::array<int, 4> Ipv4KeyOf(const CProxyEntry& e) {
  std::array<int, 4> k;
  e.AddressParts(k.data());
  return k;
}

std::array<std::uint32_t, 4> Ipv6KeyOf(const CProxyEntry& e) {
  std::array<std::uint32_t, 4> k{};
  const std::string bare(BareHost(e.Addr()));
  unsigned char bytes[16];
  if (inet_pton(AF_INET6, bare.c_str(), bytes) != 1) return k;
  for (std::size_t w = 0; w < 4; ++w)
    k[w] = static_cast<std::uint32_t>(bytes[4 * w]) << 24 |
           static_cast<std::uint32_t>(bytes[4 * w + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[4 * w + 2]) << 8 | bytes[4 * w + 3];
  return k;
}

AddressKey AddressKeyOf(const CProxyEntry& e) {
  const std::int64_t family = AddressFamilyOf(e);
  if (family == kFamilyIpv4) {
    const auto p = Ipv4KeyOf(e);
    return {family, p[0], p[1], p[2], p[3]};
  }
  if (family == kFamilyIpv6) {
    const auto w = Ipv6KeyOf(e);
    return {family, w[0], w[1], w[2], w[3]};
  }
  return {family, 0, 0, 0, 0};
}

int Sign(long long v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}
int Sign(double v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

}  // namespace

const char* const CProxyListModel::kHeaders[ColumnCount] = {
    QT_TRANSLATE_NOOP("Quillberry", "[常用]类型"), QT_TRANSLATE_NOOP("Quillberry", "服务器地址"),
    QT_TRANSLATE_NOOP("Quillberry", "端口    "), QT_TRANSLATE_NOOP("Quillberry", "时间(s)/状态    "),
    QT_TRANSLATE_NOOP("Quillberry", "－备注－")};
const int CProxyListModel::kBaseWidths[ColumnCount] = {90, 105, 60, 110, 158};

CProxyListModel::CProxyListModel(QObject* parent)
    : QAbstractTableModel(parent), m_selection(new QItemSelectionModel(this, this)) {}

CProxyListModel::~CProxyListModel() = default;

int CProxyListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int CProxyListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount + ExtraColumnCount();
}

const CProxyEntry* CProxyListModel::Entry(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  return m_rows[static_cast<std::size_t>(row)].get();
}

std::string CProxyListModel::CellText(int row, int column) const {
  const CProxyEntry* e = Entry(row);
  if (!e) return {};
  switch (column) {
    case ColType:
      return std::string(e->Type());
    case ColAddr:
      return e->Addr();
    case ColPort:
      return e->Port();
    case ColTimeStatus:
      return e->TimeStatus();
    case ColRemark:
      return std::string(e->Remark());
    default:
      return {};
  }
}

QVariant CProxyListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= RowCount()) return {};
  if (index.column() >= ColumnCount) {
    if (!m_extra || index.column() - ColumnCount >= m_extra->Count()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
      return m_extra->Text(*m_rows[static_cast<std::size_t>(index.row())], index.column() - ColumnCount);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      const std::string s = CellText(index.row(), index.column());
      // A status word is stored in Chinese whatever the interface speaks; a time is
      // the same in every language.
      if (index.column() == ColTimeStatus && !s.empty() && !qb::IsDigit(static_cast<unsigned char>(s[0])))
        return qb::Tr(s);
      return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }
    case Qt::CheckStateRole:
      if (index.column() == ColType) return IsFavorite(index.row()) ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      if (index.column() == ColPort || index.column() == ColTimeStatus)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

bool CProxyListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColType) return false;
  if (index.row() >= RowCount()) return false;
  SetFavorite(index.row(), value.toInt() == Qt::Checked);
  return true;
}

QVariant CProxyListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section >= ColumnCount && section < ColumnCount + ExtraColumnCount()) {
    if (role == Qt::DisplayRole) return m_extra->Header(section - ColumnCount);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole) return qb::Tr(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(
        (section == ColPort || section == ColTimeStatus ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  return {};
}

Qt::ItemFlags CProxyListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == ColType) f |= Qt::ItemIsUserCheckable;
  return f;
}

void CProxyListModel::sort(int column, Qt::SortOrder order) {
  SortRows(column, order == Qt::AscendingOrder);
}

int CProxyListModel::AddProxyLine(std::string_view line, int select) {
  ProxyFields f;
  if (!ParseProxyLine(line, f)) return -1;
  return AddParsedProxy(std::move(f), select);
}

std::unique_ptr<CProxyEntry> CProxyListModel::NewRow(const ProxyFields& f) {
  return std::make_unique<CProxyEntry>(
      f.addr, f.port, f.type,
      f.timeStatus.empty() ? std::string_view(kStatusUnverified) : std::string_view(f.timeStatus), f.remark);
}

int CProxyListModel::AddParsedProxy(ProxyFields f, int select) {
  auto entry = NewRow(std::move(f));
  if (!m_mapProxyKeys.Insert(KeyOf(entry.get()))) return 0;
  AppendNewRow(std::move(entry), select);
  return 1;
}

bool CProxyListModel::PreparedRows::AddLine(std::string_view line) {
  if (!ParseProxyLine(line, m_fields)) return false;
  AddParsed(std::move(m_fields));
  return true;
}

void CProxyListModel::PreparedRows::AddParsed(ProxyFields&& fields) {
  m_entries.push_back(NewRow(std::move(fields)));
  m_keys.push_back(KeyOf(m_entries.back().get()));
}

void CProxyListModel::PreparedRows::AddEntry(std::unique_ptr<CProxyEntry> entry) {
  m_keys.push_back(KeyOf(entry.get()));
  m_entries.push_back(std::move(entry));
}

int CProxyListModel::AppendPrepared(PreparedRows& rows, int select) {
  std::vector<bool> added;
  m_mapProxyKeys.InsertBatch(rows.m_keys.data(), rows.m_keys.size(), added);
  int appended = 0;
  const std::size_t n = rows.m_entries.size();
  // The entries were made on another processor, so each one that gets its row index
  // here would be a wait for its cache line; asking for them a few rows ahead overlaps
  // those waits.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < n && i < kAhead; ++i) __builtin_prefetch(rows.m_entries[i].get(), 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(rows.m_entries[i + kAhead].get(), 1);
    if (!added[i]) continue;
    AppendNewRow(std::move(rows.m_entries[i]), select);
    ++appended;
  }
  rows.m_entries.clear();
  rows.m_keys.clear();
  return appended;
}

void CProxyListModel::AppendNewRow(std::unique_ptr<CProxyEntry> entry, int select) {
  const int index = RowCount() + static_cast<int>(m_pending.size());
  if (m_bulkDepth > 0) {
    const int p = static_cast<int>(m_pending.size());
    m_pending.push_back(std::move(entry));
    if (select) {
      if (!m_pendingSelected.empty() && m_pendingSelected.back().second == p - 1) {
        m_pendingSelected.back().second = p;
      } else {
        m_pendingSelected.emplace_back(p, p);
      }
    }
    return;
  }

  beginInsertRows(QModelIndex(), index, index);
  m_rows.push_back(std::move(entry));
  endInsertRows();
  if (select) SelectRow(index, true);
}

void CProxyListModel::BeginBulkAppend() {
  ++m_bulkDepth;
}

void CProxyListModel::EndBulkAppend() {
  if (m_bulkDepth == 0 || --m_bulkDepth > 0) return;
  FlushPending();
}

void CProxyListModel::FlushPending() {
  if (m_pending.empty()) return;
  const int first = RowCount();
  const int last = first + static_cast<int>(m_pending.size()) - 1;
  beginInsertRows(QModelIndex(), first, last);
  if (m_rows.empty()) {
    m_rows.swap(m_pending);
  } else {
    m_rows.insert(m_rows.end(), std::make_move_iterator(m_pending.begin()),
                  std::make_move_iterator(m_pending.end()));
  }
  m_pending.clear();
  endInsertRows();

  if (!m_pendingSelected.empty()) {
    QItemSelection selection;
    for (const auto& [a, b] : m_pendingSelected) {
      selection.select(index(first + a, 0), index(first + b, ColumnCount - 1));
    }
    m_selection->select(selection, QItemSelectionModel::Select);
    m_selection->setCurrentIndex(index(first + m_pendingSelected.back().second, 0),
                                 QItemSelectionModel::NoUpdate);
    m_pendingSelected.clear();
  }
}

std::string CProxyListModel::GetProxyLine(int row) const {
  const CProxyEntry* e = Entry(row);
  return e ? FormatProxyLine(*e) : std::string();
}

void CProxyListModel::RedrawItem(int row) {
  if (row < 0 || row >= RowCount()) return;
  emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void CProxyListModel::SetTimeStatus(int row, std::string text) {
  if (row < 0 || row >= RowCount()) return;
  m_rows[static_cast<std::size_t>(row)]->SetTimeStatus(std::move(text));
  RedrawItem(row);
}

void CProxyListModel::SetRemark(int row, std::string text) {
  if (row < 0 || row >= RowCount()) return;
  m_rows[static_cast<std::size_t>(row)]->SetRemark(std::move(text));
  RedrawItem(row);
}

const CProxyEntry* CProxyListModel::FindEntry(const ProxyId& id) const {
  if (id.Empty()) return nullptr;
  const CProxyEntry probe(id.Addr(), id.Port(), id.Type(), {}, {});
  return m_mapProxyKeys.Find(KeyOf(&probe));
}

int CProxyListModel::FindRow(const ProxyId& id, int hint) const {
  if (hint >= 0 && hint < RowCount() && ProxyId(*m_rows[static_cast<std::size_t>(hint)]) == id) return hint;
  const CProxyEntry* e = FindEntry(id);
  if (!e) return -1;
  auto rowOf = [&]() -> int {
    const auto it = m_rowOf.find(e);
    if (it == m_rowOf.end() || it->second >= RowCount() ||
        m_rows[static_cast<std::size_t>(it->second)].get() != e)
      return -1;
    return it->second;
  };
  if (const int row = rowOf(); row >= 0) return row;
  m_rowOf.clear();
  m_rowOf.reserve(m_rows.size());
  for (std::size_t r = 0; r < m_rows.size(); ++r) m_rowOf.emplace(m_rows[r].get(), static_cast<int>(r));
  return rowOf();
}

bool CProxyListModel::ChangeProxy(int row, std::string addr, std::string port, std::string type) {
  if (row < 0 || row >= RowCount()) return false;
  CProxyEntry* e = m_rows[static_cast<std::size_t>(row)].get();
  const CProxyEntry probe(addr, port, type, {}, {});
  const ProxyKeyRef newKey = KeyOf(&probe);
  const bool sameKey = newKey == KeyOf(e);
  if (!sameKey && m_mapProxyKeys.Contains(newKey)) return false;
  // The set finds the entry by its current fields, so take it out before they change.
  m_mapProxyKeys.Remove(KeyOf(e));
  CProxyEntry changed(addr, port, type, e->TimeStatus(), e->Remark());
  changed.SetFavorite(e->IsFavorite());
  *e = std::move(changed);
  m_mapProxyKeys.Insert(KeyOf(e));
  RedrawItem(row);
  return true;
}

bool CProxyListModel::IsFavorite(int row) const {
  const CProxyEntry* e = Entry(row);
  return e && e->IsFavorite();
}

void CProxyListModel::SetFavorite(int row, bool favorite) {
  if (row < 0 || row >= RowCount()) return;
  CProxyEntry* e = m_rows[static_cast<std::size_t>(row)].get();
  if (e->IsFavorite() == favorite) return;
  e->SetFavorite(favorite);
  const QModelIndex i = index(row, ColType);
  emit dataChanged(i, i, {Qt::CheckStateRole});
}

void CProxyListModel::RemoveRows(std::vector<int> rows) {
  FlushPending();
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= RowCount(); }),
             rows.end());
  if (rows.empty()) return;
  RemoveSortedRows(rows);
}

void CProxyListModel::RemoveSortedRows(const std::vector<int>& rows) {
  // Contiguous runs, so that deleting a block is one notification.
  std::vector<std::pair<int, int>> runs;
  for (int r : rows) {
    if (!runs.empty() && runs.back().second == r - 1) {
      runs.back().second = r;
    } else {
      runs.emplace_back(r, r);
    }
  }
  for (int r : rows) m_mapProxyKeys.Remove(KeyOf(m_rows[static_cast<std::size_t>(r)].get()));

  constexpr std::size_t kMaxRunNotifications = 32;
  if (runs.size() <= kMaxRunNotifications) {
    // From the last run to the first, so that the indices of the runs still to come
    // stay valid.
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
      beginRemoveRows(QModelIndex(), it->first, it->second);
      m_rows.erase(m_rows.begin() + it->first, m_rows.begin() + it->second + 1);
      endRemoveRows();
    }
    return;
  }

  // Many scattered rows (cleaning a big list): removing them one run at a time would
  // move the tail of the list once per run. Compact once and reset the views, then
  // give the surviving rows their selection and current row back.
  std::vector<const CProxyEntry*> selected;
  for (int r : SelectedRows()) selected.push_back(m_rows[static_cast<std::size_t>(r)].get());
  const CProxyEntry* current = Entry(m_selection->currentIndex().row());

  beginResetModel();
  std::vector<char> doomed(m_rows.size(), 0);
  for (int r : rows) doomed[static_cast<std::size_t>(r)] = 1;
  std::size_t out = 0;
  for (std::size_t i = 0; i < m_rows.size(); ++i) {
    if (!doomed[i]) m_rows[out++] = std::move(m_rows[i]);
  }
  m_rows.resize(out);
  endResetModel();

  if (!selected.empty() || current) {
    QSet<const CProxyEntry*> keep(selected.begin(), selected.end());
    QItemSelection selection;
    int runStart = -1;
    int currentRow = -1;
    for (int i = 0; i <= RowCount(); ++i) {
      const bool sel = i < RowCount() && keep.contains(m_rows[static_cast<std::size_t>(i)].get());
      if (i < RowCount() && m_rows[static_cast<std::size_t>(i)].get() == current) currentRow = i;
      if (sel && runStart < 0) runStart = i;
      if (!sel && runStart >= 0) {
        selection.select(index(runStart, 0), index(i - 1, ColumnCount - 1));
        runStart = -1;
      }
    }
    if (!selection.isEmpty()) m_selection->select(selection, QItemSelectionModel::Select);
    if (currentRow >= 0) m_selection->setCurrentIndex(index(currentRow, 0), QItemSelectionModel::NoUpdate);
  }
}

void CProxyListModel::Clear() {
  beginResetModel();
  m_mapProxyKeys.Clear();
  m_rows.clear();
  m_pending.clear();
  m_pendingSelected.clear();
  m_rowOf = {};
  endResetModel();
}

void CProxyListModel::ReserveRows(std::size_t n) {
  m_mapProxyKeys.Reserve(m_mapProxyKeys.size() + n);
  // Appended rows wait in m_pending while a bulk append is open, and become the row
  // vector itself when the list was empty.
  auto& rows = m_rows.empty() ? m_pending : m_rows;
  rows.reserve(m_rows.size() + m_pending.size() + n);
}

bool CProxyListModel::ContainsKey(std::string_view key) const {
  const std::size_t colon = HostColon(key);
  if (colon == std::string_view::npos) return false;
  const std::size_t at = key.find('@', colon + 1);
  if (at == std::string_view::npos) return false;
  const CProxyEntry probe(key.substr(0, colon), key.substr(colon + 1, at - colon - 1), key.substr(at + 1), {},
                          {});
  return m_mapProxyKeys.Contains(KeyOf(&probe));
}

bool CProxyListModel::KeysMatchRows() const {
  if (static_cast<std::size_t>(m_mapProxyKeys.size()) != m_rows.size() + m_pending.size()) return false;
  for (const auto& e : m_rows) {
    // The element found must be this very entry, not merely one with an equal key.
    if (m_mapProxyKeys.Find(KeyOf(e.get())) != e.get()) return false;
  }
  return true;
}

std::size_t CProxyListModel::MemoryBytes() const {
  std::size_t bytes =
      (m_rows.capacity() + m_pending.capacity()) * sizeof(m_rows[0]) + m_mapProxyKeys.MemoryBytes();
  for (const auto* rows : {&m_rows, &m_pending}) {
    for (const auto& e : *rows) bytes += sizeof(CProxyEntry) + e->OutOfLineBytes();
  }
  return bytes;
}

int CProxyListModel::CompareItems(const CProxyEntry& a, const CProxyEntry& b, int column, bool ascending) {
  int result = 0;
  switch (column) {
    case ColType:
      result = Sign(static_cast<long long>(qb::AsciiCaseCompare(a.Type(), b.Type())));
      break;
    case ColAddr: {
      const AddressKey x = AddressKeyOf(a);
      const AddressKey y = AddressKeyOf(b);
      result = x < y ? -1 : (y < x ? 1 : 0);
      if (result == 0 && x[0] == kFamilyName)
        result = Sign(static_cast<long long>(qb::AsciiCaseCompare(a.Addr(), b.Addr())));
      break;
    }
    case ColPort:
      result = Sign(static_cast<long long>(a.PortNumber()) - b.PortNumber());
      break;
    case ColTimeStatus:
      result = Sign(a.StatusRank() - b.StatusRank());
      break;
    case ColRemark:
      result = Sign(static_cast<long long>(qb::AsciiCaseCompare(a.Remark(), b.Remark())));
      break;
    default:
      break;
  }
  return ascending ? result : -result;
}

void CProxyListModel::SortRows(int column, bool ascending) {
  FlushPending();
  if (column < 0 || column >= ColumnCount + ExtraColumnCount() || m_rows.size() < 2) return;
  const std::size_t n = m_rows.size();

  // order[i] = the old row that goes to position i. Numeric columns are compared on
  // keys computed once per row rather than once per comparison.
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  // A number sits next to its row number, so that the sort moves through memory in
  // order instead of looking every key up by its row; a text is sorted through the row
  // numbers, as moving the texts themselves costs more than the look-ups.
  // Sorts the given rows among the places they hold in `rows`.
  auto sortRows = [&](std::vector<int>& rows, auto keyOf) {
    using Key = decltype(keyOf(*m_rows[0]));
    if (rows.empty()) return;
    if constexpr (std::is_trivially_copyable_v<Key>) {
      std::vector<std::pair<Key, int>> keyed(rows.size());
      for (std::size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {keyOf(*m_rows[static_cast<std::size_t>(rows[i])]), rows[i]};
      if (ascending) {
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
      } else {
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& x, const auto& y) { return y.first < x.first; });
      }
      for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].second;
    } else {
      std::vector<Key> keys(n);
      for (int r : rows) keys[static_cast<std::size_t>(r)] = keyOf(*m_rows[static_cast<std::size_t>(r)]);
      if (ascending) {
        std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) { return keys[x] < keys[y]; });
      } else {
        std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) { return keys[y] < keys[x]; });
      }
    }
  };
  auto sortBy = [&](auto keyOf) { sortRows(order, keyOf); };
  switch (column) {
    case ColAddr: {
      // Each family on its own key, so that a list of IPv4 addresses sorts on four
      // numbers as it always did; then the families one after the other.
      std::vector<int> families[3];
      for (std::size_t i = 0; i < n; ++i)
        families[AddressFamilyOf(*m_rows[i])].push_back(static_cast<int>(i));
      sortRows(families[kFamilyIpv4], Ipv4KeyOf);
      sortRows(families[kFamilyIpv6], Ipv6KeyOf);
      sortRows(families[kFamilyName], [](const CProxyEntry& e) { return qb::AsciiLower(e.Addr()); });
      auto out = order.begin();
      for (std::int64_t f : {kFamilyIpv4, kFamilyIpv6, kFamilyName}) {
        const std::vector<int>& rows = families[ascending ? f : kFamilyName - f];
        out = std::copy(rows.begin(), rows.end(), out);
      }
      break;
    }
    case ColPort:
      sortBy([](const CProxyEntry& e) { return e.PortNumber(); });
      break;
    case ColTimeStatus:
      sortBy([](const CProxyEntry& e) { return e.StatusRank(); });
      break;
    // The text columns too: comparing through the entries misses the cache on every
    // comparison and took seconds for a million rows. Lower-case keys, compared byte by
    // byte, give exactly the order of AsciiCaseCompare.
    case ColType: {
      // A list has a handful of types: each row sorts on its type's place among them,
      // a number beside its row number, instead of on a text of its own.
      std::unordered_map<std::string_view, int> rankOf;
      for (const auto& e : m_rows) rankOf.emplace(e->Type(), 0);
      std::vector<std::pair<std::string, std::string_view>> types;
      types.reserve(rankOf.size());
      for (const auto& [type, rank] : rankOf) types.emplace_back(qb::AsciiLower(type), type);
      std::sort(types.begin(), types.end());
      int rank = 0;
      for (std::size_t i = 0; i < types.size(); ++i) {
        if (i > 0 && types[i].first != types[i - 1].first) ++rank;
        rankOf[types[i].second] = rank;
      }
      sortBy([&rankOf](const CProxyEntry& e) { return rankOf.find(e.Type())->second; });
      break;
    }
    case ColRemark:
      sortBy([](const CProxyEntry& e) { return qb::AsciiLower(e.Remark()); });
      break;
    default:
      if (column >= ColumnCount) {
        const int extra = column - ColumnCount;
        sortBy([&](const CProxyEntry& e) { return m_extra->SortKey(e, extra); });
        break;
      }
      std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        return CompareItems(*m_rows[static_cast<std::size_t>(x)], *m_rows[static_cast<std::size_t>(y)],
                            column, ascending) < 0;
      });
      break;
  }

  // The selection goes through the move as a mark on each row and comes back as runs
  // of the new order. Left to the selection model, each selected row would become a
  // persistent index of its own, moved one at a time: seconds for a million rows.
  const HeldSelection held = HoldSelection();
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newRowOf(n);
  for (std::size_t i = 0; i < n; ++i) newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
  std::vector<std::unique_ptr<CProxyEntry>> sorted(n);
  for (std::size_t i = 0; i < n; ++i) sorted[i] = std::move(m_rows[static_cast<std::size_t>(order[i])]);
  m_rows.swap(sorted);

  const QModelIndexList from = persistentIndexList();
  if (!from.isEmpty()) {
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
      to.append(index(newRowOf[static_cast<std::size_t>(i.row())], i.column()));
    }
    changePersistentIndexList(from, to);
  }
  // Before the views and the window hear of the new order, so that whatever they ask
  // of the selection then (the status line's count) finds it whole.
  RestoreSelection(held, order);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

CProxyListModel::HeldSelection CProxyListModel::HoldSelection() {
  HeldSelection held;
  const QItemSelection selection = m_selection->selection();
  if (selection.isEmpty()) return held;
  held.left = ColumnCount + ExtraColumnCount();
  held.rows.assign(m_rows.size(), 0);
  for (const QItemSelectionRange& r : selection) {
    held.left = std::min(held.left, r.left());
    held.right = std::max(held.right, r.right());
    const int bottom = std::min(r.bottom(), RowCount() - 1);
    for (int row = std::max(0, r.top()); row <= bottom; ++row) held.rows[static_cast<std::size_t>(row)] = 1;
  }
  // Quietly: the same proxies are selected again once they have moved, and nobody
  // listening has to hear of a selection that did not change.
  const QSignalBlocker quiet(m_selection);
  m_selection->clearSelection();
  return held;
}

void CProxyListModel::RestoreSelection(const HeldSelection& held, const std::vector<int>& order) {
  if (held.rows.empty()) return;
  QItemSelection selection;
  const int n = static_cast<int>(order.size());
  int runStart = -1;
  for (int i = 0; i <= n; ++i) {
    const bool sel = i < n && held.rows[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])];
    if (sel && runStart < 0) runStart = i;
    if (!sel && runStart >= 0) {
      selection.append(QItemSelectionRange(index(runStart, held.left), index(i - 1, held.right)));
      runStart = -1;
    }
  }
  const QSignalBlocker quiet(m_selection);
  m_selection->select(selection, QItemSelectionModel::Select);
}

void CProxyListModel::SetExtraColumns(const IExtraColumns* extra) {
  const int before = ExtraColumnCount();
  const int after = extra ? extra->Count() : 0;
  if (before > 0) beginRemoveColumns({}, ColumnCount, ColumnCount + before - 1);
  m_extra = nullptr;
  if (before > 0) endRemoveColumns();
  if (after > 0) beginInsertColumns({}, ColumnCount, ColumnCount + after - 1);
  m_extra = extra;
  if (after > 0) endInsertColumns();
}

void CProxyListModel::ExtraColumnsChanged() {
  if (ExtraColumnCount() == 0 || RowCount() == 0) return;
  emit dataChanged(index(0, ColumnCount), index(RowCount() - 1, ColumnCount + ExtraColumnCount() - 1));
}

namespace {

// The selected rows as runs [first, last], ascending and apart: ranges of one row may
// overlap (a row selected cell by cell), and a run is counted or listed once.
std::vector<std::pair<int, int>> SelectedRuns(const QItemSelection& selection) {
  std::vector<std::pair<int, int>> runs;
  runs.reserve(static_cast<std::size_t>(selection.size()));
  for (const QItemSelectionRange& r : selection) runs.emplace_back(r.top(), r.bottom());
  std::sort(runs.begin(), runs.end());
  std::size_t out = 0;
  for (const auto& run : runs) {
    if (out > 0 && run.first <= runs[out - 1].second + 1) {
      runs[out - 1].second = std::max(runs[out - 1].second, run.second);
    } else {
      runs[out++] = run;
    }
  }
  runs.resize(out);
  return runs;
}

}  // namespace

std::vector<int> CProxyListModel::SelectedRows() const {
  const auto runs = SelectedRuns(m_selection->selection());
  std::size_t count = 0;
  for (const auto& [first, last] : runs) count += static_cast<std::size_t>(last - first + 1);
  std::vector<int> rows;
  rows.reserve(count);
  for (const auto& [first, last] : runs) {
    for (int row = first; row <= last; ++row) rows.push_back(row);
  }
  return rows;
}

int CProxyListModel::SelectedCount() const {
  int count = 0;
  for (const auto& [first, last] : SelectedRuns(m_selection->selection())) count += last - first + 1;
  return count;
}

void CProxyListModel::SelectRow(int row, bool makeCurrent) {
  if (row < 0 || row >= RowCount()) return;
  const QModelIndex i = index(row, 0);
  m_selection->select(i, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  if (makeCurrent) m_selection->setCurrentIndex(i, QItemSelectionModel::NoUpdate);
}

void CProxyListModel::SelectAll() {
  if (RowCount() == 0) return;
  m_selection->select(QItemSelection(index(0, 0), index(RowCount() - 1, ColumnCount - 1)),
                      QItemSelectionModel::Select);
  m_selection->setCurrentIndex(index(RowCount() - 1, 0), QItemSelectionModel::NoUpdate);
}

}  // namespace qb
