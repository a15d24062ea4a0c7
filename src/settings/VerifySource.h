// Verification resources: the pages a proxy is tested against, their list in the
// settings, and the commands the settings dialog runs on that list.
#pragma once

#include <QAbstractTableModel>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/OpResult.h"

namespace qb {

class CSettings;

// One verification resource. A plain value record, copied in and out of the list.
struct CVerifySource {
  std::string m_sName;
  std::string m_sUrl;
  std::string m_sFeature;
  int m_bChecked = 0;

  bool operator==(const CVerifySource&) const = default;
};

// 1 for an HTTP or HTTPS URL (both check the proxies that carry web pages), 2 for an FTP
// URL, 0 for anything else. An older version took HTTPS for 0 (see ReadResourceLine).
int GetUrlProtocol(std::string_view url);
inline constexpr int kProtocolHttp = 1;
// An older version put "http://" in front of an https:// URL it read, and wrote that
// back; such a "http://https://..." is given its own URL again.
std::string MendOlderHttpsUrl(std::string url);
inline constexpr int kProtocolFtp = 2;

// Two resources are the same when their URLs are equal ignoring letter case.
bool SameVerifyUrl(std::string_view a, std::string_view b);

// Appends a record; when the resource list of the settings dialog is showing, the
// row appears there too.
void AddVerifySource(CSettings& settings, std::string name, std::string url, std::string feature,
                     int checked);
// Appends the eleven built-in resources.
void InstallDefaultVerifySources(CSettings& settings);

// The URL and feature string of the ticked HTTP and FTP resource; the last ticked
// one of a protocol wins. Empty when none is ticked.
struct CheckedVerifySources {
  std::string httpUrl;
  std::string httpFeature;
  std::string ftpUrl;
  std::string ftpFeature;
};
CheckedVerifySources GetCheckedVerifySources(const CSettings& settings);
// The hosts a verification reaches: those of the resources GetCheckedVerifySources
// picks (HTTP first), each once, without a log-on or port. Said before a run against
// the built-in resources, which are public sites.
std::vector<std::string> CheckedResourceHosts(const CSettings& settings);

// Records the resources GetCheckedVerifySources would pick as the point the settings
// dialog's Cancel returns to.
void RecordCheckedSources(CSettings& settings);
// The dialog's Cancel: every tick off, then the recorded records ticked again.
void RestoreCheckedSources(CSettings& settings);

// The one-line text of a resource in "Setting.dat" (before its "$" and tick) and in
// export files: name "@" URL "%" feature. See VerifySource.cpp for how texts holding
// the separators are kept apart.
std::string EncodeVerifySourceText(std::string_view name, std::string_view url, std::string_view feature);
// Splits such a text. False when it has no "@" or no "%". The three texts are trimmed;
// a URL without an HTTP or FTP scheme is returned as it stands.
bool DecodeVerifySourceText(std::string_view text, std::string& name, std::string& url, std::string& feature);

// What the resource dialog's OK found wrong, if anything.
enum class VerifySourceProblem {
  None,
  NoName,
  NameHasSeparator,  // "@" or "%", which the text form of a resource splits at
  NoUrl,
  NoScheme,  // neither http:// nor ftp://
  NoFeature,
};
struct VerifySourceCheck {
  bool ok = true;
  VerifySourceProblem problem = VerifySourceProblem::None;
  int focusId = 0;  // the edit that gets the keyboard focus: 1012 name, 1013 URL, 1014 feature
};
inline constexpr int kVerifyNameEditId = 1012;
inline constexpr int kVerifyUrlEditId = 1013;
inline constexpr int kVerifyFeatureEditId = 1014;
// Trims the three texts in place and checks them in the dialog's order.
VerifySourceCheck ValidateVerifySource(std::string& name, std::string& url, std::string& feature);

// The resource list of the settings dialog: row i is record i of m_aVerifySources,
// and every command changes both together. The model attaches itself to the settings
// for its lifetime, so records appended by AddVerifySource show up as rows.
class CVerifySourceListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { ColName = 0, ColUrl = 1, ColFeature = 2, ColumnCount = 3 };
  static const char* const kHeaders[ColumnCount];
  static const int kBaseWidths[ColumnCount];

  // Builds the rows from the records (FillSourceList) and records the restore point
  // for Cancel, as the settings dialog does when it opens.
  explicit CVerifySourceListModel(CSettings& settings, QObject* parent = nullptr);
  ~CVerifySourceListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // A change of a check box here is always the user's: the program's own ticks never
  // pass through setData.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  CSettings& Settings() const { return m_settings; }

  // Rebuilds every row from the records.
  void FillSourceList();

  // The user ticked or unticked a row: keeps at most one ticked resource per protocol.
  void Tick(int row, bool checked);

  // The commands of the settings dialog. Add and Modify take the texts the resource
  // dialog returned; they refuse a URL that another row has already (DuplicateUrl,
  // which the dialog tells the user).
  enum class Edit { Done, DuplicateUrl, NoSuchRow };
  Edit Add(const std::string& name, const std::string& url, const std::string& feature);
  Edit Modify(int row, const std::string& name, const std::string& url, const std::string& feature);
  // Removes the given rows (any order; duplicates and rows outside the list are
  // ignored) once confirm, asked only when there is a row to remove, says yes. True
  // when rows were removed.
  bool Delete(std::vector<int> rows, const std::function<bool()>& confirm);
  // What an import did: the resources added, and ReadFailed with the file's path when
  // it could not be read.
  struct ImportResult {
    int added = 0;
    qb::OpResult result;
  };
  ImportResult ImportFile(const std::string& path);
  // Writes every resource to path; WriteFailed with the path when it cannot.
  qb::OpResult ExportFile(const std::string& path);

  // The record view keeps the model in step with changes made through the settings.
  void BeginAppend();
  void EndAppend();
  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void RowsChanged(int first, int last);

 private:
  bool IsDuplicate(std::string_view url, int exceptRow) const;

  CSettings& m_settings;
};

}  // namespace qb
