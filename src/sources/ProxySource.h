// Proxy sources: the web pages that list proxies, their list in the main window and
// their file "Sources.dat".
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "base/OpResult.h"
#include "base/Prompt.h"

namespace qb {

struct CProxySource {
  std::string m_sName;
  std::string m_sUrl;
  bool m_bEnabled = false;

  bool operator==(const CProxySource&) const = default;
};

// The sources list: name (with the check box that enables the source) and URL.
class CProxySourceListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { ColName = 0, ColUrl = 1, ColumnCount = 2 };
  static const char* const kHeaders[ColumnCount];
  static const int kBaseWidths[ColumnCount];

  explicit CProxySourceListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The user's tick: changes the row and emits SourceTicked.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  int RowCount() const { return static_cast<int>(m_rows.size()); }
  const std::vector<CProxySource>& Sources() const { return m_rows; }
  const CProxySource* Source(int row) const;

  // The program's own changes; none of them emits SourceTicked.
  void Append(CProxySource source);
  // Replaces the name and URL of a row; its tick stays.
  void Modify(int row, std::string name, std::string url);
  void SetEnabled(int row, bool enabled);
  // Removes rows (any order; duplicates and rows outside the list are ignored).
  void RemoveRows(std::vector<int> rows);
  void Clear();

  // The data directory "Sources.dat" was loaded from and is saved to.
  std::string m_sDir;

 signals:
  // The user ticked or unticked a source; the main window saves the list.
  void SourceTicked(int row);

 private:
  std::vector<CProxySource> m_rows;
};

inline constexpr const char* kSourcesFileName = "Sources.dat";

// Fills the list from "Sources.dat" in the data directory dir and remembers dir for
// SaveSources. A missing file leaves the list empty; an unreadable one is ReadFailed
// with its path (the window says "打开设置文件失败！" / "初始化").
qb::OpResult LoadSources(CProxySourceListModel& list, const std::string& dir);
// Writes the list to "Sources.dat", whole and atomically. On failure the old file stays
// and the result is WriteFailed with its path (the window says "打开文件失败！" / "存盘").
qb::OpResult SaveSources(const CProxySourceListModel& list);

// The main window's commands on the list; each saves the list after its change and
// returns how the save went.
qb::OpResult AddSource(CProxySourceListModel& list, std::string name, std::string url);
qb::OpResult ModifySource(CProxySourceListModel& list, int row, std::string name, std::string url);
// What DeleteSources did: whether rows were deleted (the user may say no), and how the
// save after it went.
struct DeleteSourcesResult {
  bool deleted = false;
  qb::OpResult save;
};
// Asks first.
DeleteSourcesResult DeleteSources(CProxySourceListModel& list, const std::vector<int>& rows);

// What the source dialog's OK found wrong, if anything.
struct ProxySourceCheck {
  bool ok = true;
  std::string message;
  std::string caption;
  qb::MsgIcon icon = qb::MsgIcon::None;
  int focusId = 0;  // 1012 name, 1013 URL
};
inline constexpr int kSourceNameEditId = 1012;
inline constexpr int kSourceUrlEditId = 1013;
// Trims both texts in place and checks them as the dialog does.
ProxySourceCheck ValidateProxySource(std::string& name, std::string& url);

}  // namespace qb
