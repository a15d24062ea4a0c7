// A table view whose header sorts the rows when a column is clicked and marks the
// sorted column with a small engraved triangle.
#pragma once

#include <QHeaderView>
#include <QSet>
#include <QTableView>

#include <functional>

namespace qb {

class CSortHeaderCtrl : public QHeaderView {
  Q_OBJECT

 public:
  explicit CSortHeaderCtrl(QWidget* parent = nullptr);

  // Remembers the sorted column and direction, draws that column's item itself from
  // now on, and returns the column that was sorted before (-1 for none).
  int SetSortImage(int column, bool ascending);
  int GetSortColumn() const { return m_nSortColumn; }
  bool IsSortAscending() const { return m_bSortAscending != 0; }
  bool IsOwnerDrawn(int column) const { return m_ownerDrawn.contains(column); }

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  int m_nSortColumn = -1;
  int m_bSortAscending = 1;
  QSet<int> m_ownerDrawn;
};

class CSortListCtrl : public QTableView {
  Q_OBJECT

 public:
  // sortable: header clicks sort the rows. The rows' data objects belong to the
  // model, which destroys them with their rows.
  explicit CSortListCtrl(bool sortable = true, QWidget* parent = nullptr);

  CSortHeaderCtrl* SortHeader() const { return m_header; }

  // Sorts by a column; returns false (and does nothing) when the list is not sortable.
  bool SortColumn(int column, bool ascending);

  // Asked on every header click; while it answers false the click does nothing
  // (a verification run addresses the rows by index).
  void SetSortAllowed(std::function<bool()> allowed) { m_sortAllowed = std::move(allowed); }

  // The rows' fixed height keeps a list of a million rows cheap to lay out.
  void setModel(QAbstractItemModel* model) override;

 public slots:
  void OnColumnClick(int column);

 private:
  CSortHeaderCtrl* m_header;
  bool m_bSortable;
  std::function<bool()> m_sortAllowed;
};

}  // namespace qb
