// The settings dialog: the ten settings and the list of verification resources.
#pragma once

#include <QtGlobal>

#include <QDialog>
#include <QUrl>

#include <functional>
#include <string>

#include "settings/Options.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableView;

namespace qb {

class CSettings;
class DataDir;
class CSpinButtonCtrl;
class CSystemProxy;
class CVerifySourceListModel;

// No program could open the auto-config template (%1: its path).
inline constexpr const char* kMsgNoTemplateEditor = QT_TRANSLATE_NOOP(
    "Quillberry",
    "没有能打开模板文件的程序。\n\n模板文件是：\n%1\n\n要把它的路径复制到剪贴板，用其他编辑器打开吗？");
inline constexpr const char* kMsgLanguageNextStart =
    QT_TRANSLATE_NOOP("Quillberry", "界面语言将在下次启动时更改。");
inline constexpr const char* kCaptionLanguage = QT_TRANSLATE_NOOP("Quillberry", "界面语言");
inline constexpr const char* kCaptionEditTemplate = QT_TRANSLATE_NOOP("Quillberry", "编辑模板");
// Options.ini's Script/Failover and Script/AllowDirect.
inline constexpr const char* kCaptionFailover =
    QT_TRANSLATE_NOOP("Quillberry", "故障转移：脚本列出全部常用代理");
inline constexpr const char* kCaptionAllowDirect =
    QT_TRANSLATE_NOOP("Quillberry", "代理失效时改为直接连接（会暴露本机地址）");
// The height in dialog units that the rows of the script options add to the dialog.
inline constexpr int kScriptRows = 30;

inline constexpr const char* kMsgEndpointAddress =
    QT_TRANSLATE_NOOP("Quillberry", "本机端口应写作 地址:端口，例如 127.0.0.1:8899！");
inline constexpr const char* kMsgEndpointNotLoopback = QT_TRANSLATE_NOOP(
    "Quillberry", "本机端口的地址不是本机回环地址，网络上的其他计算机也能经由它使用你的代理。\n确定吗？");

inline constexpr const char* kCaptionGeoDatabases = QT_TRANSLATE_NOOP("Quillberry", "位置数据库");
inline constexpr const char* kMsgGeoDatabases = QT_TRANSLATE_NOOP(
    "Quillberry",
    "代理的所在地依次查自：数据目录中的 wry.dll；数据目录中的 .mmdb 文件（MaxMind 格式，"
    "例如 db-ip.com 免费的 IP to City Lite / IP to Country Lite，或 MaxMind 的 GeoLite2，需自行下载）；"
    "系统的国家数据库（/usr/share/GeoIP，Debian 的 geoip-database 软件包）。\n"
    "本程序从不自行下载。要使用 .mmdb 文件，请把它放进数据目录：");
class CSettingDlg : public QDialog {
  Q_OBJECT

 public:
  // Shows the settings and resources of the data directory dir; OK writes them back,
  // applies them (time-outs, autorun entry, the system proxy through `sysProxy`) and
  // saves Setting.dat. One dialog per opening.
  CSettingDlg(DataDir& dir, CSystemProxy& sysProxy, QWidget* parent = nullptr);
  ~CSettingDlg() override;

  // How the template is handed to the user's editor; tests replace it so that no
  // editor starts.
  using UrlOpener = std::function<bool(const QUrl&)>;
  void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

  // The resource list's commands.
  void OnAddSource();
  void OnModifySource();
  void OnDeleteSource();
  void OnImportSources();
  void OnExportSources();
  // Opens "UserdefinedTemplate.pac" of the data directory for editing, writing a
  // commented example first when there is none yet.
  void EditPacTemplate();

  // The script options as OK took them (as on opening before that); the caller keeps
  // them in Options.ini, the system proxy has them already.
  const ScriptOptions& ChosenScriptOptions() const { return m_scriptOptions; }
  // The local endpoint's options to show; after OK, as the user chose them (the
  // caller keeps them and starts or stops the endpoint).
  void SetEndpointOptions(const EndpointOptions& options);
  const EndpointOptions& ChosenEndpointOptions() const { return m_endpointOptions; }
  // The control API beside the window's endpoint, the same way.
  void SetApiOptions(const ApiOptions& options) { m_apiOptions = options; }
  const ApiOptions& ChosenApiOptions() const { return m_apiOptions; }

  QTableView* SourceView() const { return m_pSourceView; }
  CVerifySourceListModel* SourceModel() const { return m_pSources; }
  CSpinButtonCtrl* FavoritesSpin() const { return m_pSpin; }
  const std::string& TemplatePath() const { return m_templatePath; }

 signals:
  // OK has set the system proxy again: the main window's status line (and its tray
  // icon) must show it.
  void StatusLineChanged();

 public slots:
  // "确认": checks the numbers, then takes, applies and saves everything.
  void accept() override;
  // "取消" and Esc: only the resource ticks return to what they were on opening.
  void reject() override;

 private:
  void CreateControls();
  void OnInitDialog();
  void EnableScriptOptions();

  DataDir& m_dir;
  CSettings& m_settings;
  CSystemProxy& m_sysProxy;
  std::string m_templatePath;
  UrlOpener m_openUrl;

  QLineEdit* m_pConTimeout = nullptr;
  QLineEdit* m_pVerifyTimeout = nullptr;
  QLineEdit* m_pThreadNumber = nullptr;
  QLineEdit* m_pFavorites = nullptr;
  CSpinButtonCtrl* m_pSpin = nullptr;
  QCheckBox* m_pAutoAddToFavorite = nullptr;
  QCheckBox* m_pFailover = nullptr;
  QCheckBox* m_pAllowDirect = nullptr;
  ScriptOptions m_scriptOptions;
  QCheckBox* m_pEndpoint = nullptr;
  QLineEdit* m_pEndpointListen = nullptr;
  QComboBox* m_pEndpointPolicy = nullptr;
  EndpointOptions m_endpointOptions;
  ApiOptions m_apiOptions;
  QCheckBox* m_pAutoTimingVerify = nullptr;
  QCheckBox* m_pAmbiguous = nullptr;
  QCheckBox* m_pAutoRun = nullptr;
  QCheckBox* m_pMinimize = nullptr;
  QButtonGroup* m_pProxyMode = nullptr;
  // The interface's language for the next start: the locale's, Chinese or English.
  QComboBox* m_pLanguage = nullptr;
  QTableView* m_pSourceView = nullptr;
  CVerifySourceListModel* m_pSources = nullptr;
};

}  // namespace qb
