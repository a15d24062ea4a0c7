// Proxy sources: the web pages that list proxies, their list in the main window and
// their file "Sources.dat".
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <string_view>
#include <vector>

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

 signals:
  // The user ticked or unticked a source; the main window saves the list.
  void SourceTicked(int row);

 private:
  std::vector<CProxySource> m_rows;
};

// Appends the sources of a "Sources.dat" text: a name, a URL and a tick per line, up
// to the first blank line; legacy GBK lines are decoded.
void ReadSourcesText(CProxySourceListModel& list, std::string_view text);
// The file's text for the list (CR LF line ends).
std::string FormatSourcesFile(const CProxySourceListModel& list);

// What the source dialog's OK found wrong, if anything.
struct ProxySourceCheck {
  bool ok = true;
  // The edit whose text is refused, empty or holding white space: 1012 name, 1013 URL.
  // The dialog says which and gives it the focus.
  int focusId = 0;
};
inline constexpr int kSourceNameEditId = 1012;
inline constexpr int kSourceUrlEditId = 1013;
// Trims both texts in place and checks them as the dialog does.
ProxySourceCheck ValidateProxySource(std::string& name, std::string& url);

}  // namespace qb
