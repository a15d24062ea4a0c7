// The window's words for what the core reports.
//
// The core returns a qb::OpResult (or a result made of several) for every read and
// write of a data file and for every change of the system proxy; these functions turn
// a failure into the message box the program has always shown for it, with the same
// text, caption and icon, through the installed prompt. Each shows nothing for a
// success and returns whether the operation succeeded, so a caller can write
// `if (!ReportListSave(SaveProxyList(...))) ...`.
#pragma once

#include <QtGlobal>

#include "base/OpResult.h"
#include "ui/Messages.h"

namespace qb {

struct HistoryOpening;
struct ImportResult;
struct ProxyChangeResult;

// Proxies.pro could not be read: "打开文件失败！" / "导入列表".
bool ReportListLoad(const qb::OpResult& result);
// Proxies.pro could not be written: "打开文件失败！" / "存盘".
bool ReportListSave(const qb::OpResult& result);
// The imported file could not be read ("打开文件失败！" / "导入列表"), or the list could
// not be saved after it ("打开文件失败！" / "存盘").
bool ReportImport(const ImportResult& result);
// The export file could not be written: "打开文件失败！" / "导出选定".
bool ReportExport(const qb::OpResult& result);
// Setting.dat could not be read ("打开设置文件失败！" / "初始化"), or the built-in
// resources could not be saved into it ("打开文件失败！" / "存盘").
bool ReportSettingsLoad(const qb::OpResult& result);
// Setting.dat could not be written: "打开文件失败！" / "存盘".
bool ReportSettingsSave(const qb::OpResult& result);
// Sources.dat could not be read: "打开设置文件失败！" / "初始化".
bool ReportSourcesLoad(const qb::OpResult& result);
// Sources.dat could not be written: "打开文件失败！" / "存盘".
bool ReportSourcesSave(const qb::OpResult& result);
// A file of verification resources could not be read: "打开文件失败！" / "导入".
bool ReportResourceImport(const qb::OpResult& result);
// A file of verification resources could not be written: "打开文件失败！" / "存盘".
bool ReportResourceExport(const qb::OpResult& result);
// The history at path was damaged and moved aside, or could not be made: "验证历史"
// with the message for each and the reason. Returns whether the history is open.
bool ReportHistoryOpening(const HistoryOpening& opening, const std::string& path);
// The desktop's proxy settings could not be read: "Query option failed!" /
// "获取IE代理", a warning.
bool ReportProxyQuery(const qb::OpResult& result);
// Every failure of a change of the system proxy, in the order they happened: the
// query, the script, one "设置代理失败！" / "错误" per connection, then the read-back
// ("设置代理失败！" and the line saying the desktop did not keep it). A refused proxy
// type is the only message: "<TYPE>代理在直接设置方式下……未作更改。" / "设为IE代理", a
// warning.
bool ReportProxyChange(const ProxyChangeResult& result);
// The download button found nothing to start: "没有下载资源，请先添加。" or
// "没有选择下载资源，请打勾。" / "下载资源", a warning; nothing while a download runs.
// True when the download may start.
bool ReportDownloadRefusal(DownloadRefusal refusal);
// Before a proxy whose last verification failed becomes the system proxy: asks
// "该代理上次验证失败，仍然设为系统代理吗？" and returns the answer. True at once for any
// other status.
inline constexpr const char* kMsgConfirmFailedProxy =
    QT_TRANSLATE_NOOP("Quillberry", "该代理上次验证失败，仍然设为系统代理吗？");
bool ConfirmProxyStatus(const std::string& timeStatus);

}  // namespace qb
