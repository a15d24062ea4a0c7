// The proxy list: the rows of the main window's list view, each owning its entry,
// and the set of proxy keys that makes duplicate detection a hash look-up.
#pragma once

#include <QAbstractTableModel>
#include <QItemSelectionModel>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "proxy/ProxyEntry.h"
#include "proxy/ProxyId.h"
#include "proxy/ProxyKeySet.h"

namespace qb {

// Columns after the list's five whose values live outside the rows, in a table keyed by
// the proxy (the history's figures): the rows stay as small as the list file needs.
class IExtraColumns {
 public:
  virtual ~IExtraColumns() = default;
  virtual int Count() const = 0;
  virtual QString Header(int column) const = 0;
  virtual QString Text(const CProxyEntry& e, int column) const = 0;
  // Rows sort by this key, ascending: a number first, then a text.
  virtual std::pair<double, std::string> SortKey(const CProxyEntry& e, int column) const = 0;
};

class CProxyListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { ColType = 0, ColAddr = 1, ColPort = 2, ColTimeStatus = 3, ColRemark = 4, ColumnCount = 5 };
  static const char* const kHeaders[ColumnCount];
  static const int kBaseWidths[ColumnCount];

  explicit CProxyListModel(QObject* parent = nullptr);
  ~CProxyListModel() override;

  // Qt model interface.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  int RowCount() const { return static_cast<int>(m_rows.size()); }
  const CProxyEntry* Entry(int row) const;
  // The text of one cell, as the list shows it; empty outside the list or the columns.
  // Made from the row's packed form, so it is a string of its own.
  std::string CellText(int row, int column) const;

  // -1: not a proxy line; 0: the proxy is in the list already; 1: a row was appended.
  // select makes the new row selected and current.
  int AddProxyLine(std::string_view line, int select);
  // The same for fields that are already parsed and valid.
  int AddParsedProxy(ProxyFields fields, int select);
  // Rows made ready away from the list, on any thread: the entries of parsed proxy
  // lines with their key hashes, in the order in which they are to be added.
  class PreparedRows {
   public:
    // False (and nothing kept) when line is not a proxy line.
    bool AddLine(std::string_view line);
    // Fields that are already parsed and valid.
    void AddParsed(ProxyFields&& fields);
    // An entry made elsewhere (NewRow), taken as it is.
    void AddEntry(std::unique_ptr<CProxyEntry> entry);
    std::size_t size() const { return m_entries.size(); }

   private:
    friend class CProxyListModel;
    std::vector<std::unique_ptr<CProxyEntry>> m_entries;
    std::vector<ProxyKeyRef> m_keys;
    ProxyFields m_fields;  // reused, so that parsing allocates nothing for short fields
  };
  // The entry AddParsedProxy makes of fields: a row without a time-or-status is
  // unverified.
  static std::unique_ptr<CProxyEntry> NewRow(const ProxyFields& f);
  // Appends the prepared rows as AddParsedProxy would one after the other; those whose
  // key is in the list already, or earlier in rows, are dropped. Empties rows and
  // returns the number of rows appended.
  int AppendPrepared(PreparedRows& rows, int select);

  // address ":" port, then "@" type when there is one; empty outside the list.
  std::string GetProxyLine(int row) const;

  // Where a proxy is now: its row, or -1 when the list does not hold it. hint is where
  // it was last seen; when the rows have not moved since, that is all it costs.
  int FindRow(const ProxyId& id, int hint = -1) const;
  // The entry of a proxy, or nullptr.
  const CProxyEntry* FindEntry(const ProxyId& id) const;

  // Changes of one row. Every change repaints that row only.
  void SetTimeStatus(int row, std::string text);
  void SetRemark(int row, std::string text);
  // Gives the row another address, port and type. False when another row has that
  // key already; then nothing changes.
  bool ChangeProxy(int row, std::string addr, std::string port, std::string type);
  bool IsFavorite(int row) const;
  void SetFavorite(int row, bool favorite);
  void RedrawItem(int row);

  // Removes rows (indices in any order; duplicates and indices outside the list are
  // ignored), destroying their entries and their keys.
  void RemoveRows(std::vector<int> rows);
  void RemoveRow(int row) { RemoveRows({row}); }
  // Removes every row.
  void Clear();

  // Makes room for n more rows, so that adding them grows neither the row vector nor
  // the key set step by step.
  void ReserveRows(std::size_t n);

  // Key set.
  bool ContainsKey(std::string_view key) const;
  int KeyCount() const { return static_cast<int>(m_mapProxyKeys.size()); }
  // True when the key set holds exactly the keys of the rows (for checks and tests).
  bool KeysMatchRows() const;
  // Everything the rows take: their entries, what these keep out of line, the row
  // vectors and the key set.
  std::size_t MemoryBytes() const;

  // Sorting with the list's comparison; stable, so equal rows keep their order.
  void SortRows(int column, bool ascending);
  // <0, 0, >0 for the order of two entries by a column, ascending; the negated value
  // when descending.
  static int CompareItems(const CProxyEntry& a, const CProxyEntry& b, int column, bool ascending);

  // Shows the extra columns after the five (nullptr: none, the default). The model does
  // not own them; ExtraColumnsChanged repaints them after their values changed.
  void SetExtraColumns(const IExtraColumns* extra);
  void ExtraColumnsChanged();
  int ExtraColumnCount() const { return m_extra ? m_extra->Count() : 0; }

  // Selection: the list view shows this selection model, so the logic can select
  // rows without a window.
  QItemSelectionModel* selectionModel() const { return m_selection; }
  std::vector<int> SelectedRows() const;
  int SelectedCount() const;
  void SelectRow(int row, bool makeCurrent = true);
  void SelectAll();

  // While a bulk append is open, appended rows are collected and reach the views in
  // one insertion when it closes (the list is not repainted once per row). Rows
  // appended in bulk are not visible through RowCount() until then.
  void BeginBulkAppend();
  void EndBulkAppend();
  class BulkAppend {
   public:
    explicit BulkAppend(CProxyListModel& m) : m_model(m) { m_model.BeginBulkAppend(); }
    ~BulkAppend() { m_model.EndBulkAppend(); }
    BulkAppend(const BulkAppend&) = delete;
    BulkAppend& operator=(const BulkAppend&) = delete;

   private:
    CProxyListModel& m_model;
  };

 private:
  // Appends an entry whose key was just added to the key set.
  void AppendNewRow(std::unique_ptr<CProxyEntry> entry, int select);
  // Makes the rows of an open bulk append visible (before a removal or a sort).
  void FlushPending();
  void RemoveSortedRows(const std::vector<int>& rows);
  // The selection of a sort: which rows (by their place before it) and the columns.
  struct HeldSelection {
    std::vector<char> rows;
    int left = 0;
    int right = 0;
  };
  // Takes the selection off the rows before they move, and gives it back to the same
  // rows after; order[i] is the place before the move of the row now at i.
  HeldSelection HoldSelection();
  void RestoreSelection(const HeldSelection& held, const std::vector<int>& order);

  std::vector<std::unique_ptr<CProxyEntry>> m_rows;
  ProxyKeySet m_mapProxyKeys;
  QItemSelectionModel* m_selection;

  // Rows by entry, built when a look-up finds the rows moved; each hit is checked
  // against the row it names, so no change of the rows has to keep it up to date.
  mutable std::unordered_map<const CProxyEntry*, int> m_rowOf;

  const IExtraColumns* m_extra = nullptr;
  int m_bulkDepth = 0;
  std::vector<std::unique_ptr<CProxyEntry>> m_pending;
  std::vector<std::pair<int, int>> m_pendingSelected;  // ranges of m_pending indices
};

}  // namespace qb
