// The program's words for what the core reports: messages and their captions, shared
// by the window (through its message boxes) and the command line (on standard error).
//
// The core returns results and reasons; it never holds a message. Only texts, and the
// choice of text for a reason, live here, so the command line includes this header
// without linking the windows.
#pragma once

#include <QtGlobal>

#include <string>

#include "base/Prompt.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyListCommands.h"
#include "sources/SourceDownloader.h"
#include "verify/VerifyControl.h"

namespace qb {

// --- A run of verification ---
inline constexpr const char* kCaptionVerifyAll = QT_TRANSLATE_NOOP("Quillberry", "验证全部");
inline constexpr const char* kCaptionVerifySelected = QT_TRANSLATE_NOOP("Quillberry", "验证选定");
inline constexpr const char* kCaptionStopVerify = QT_TRANSLATE_NOOP("Quillberry", "停止验证");
inline constexpr const char* kCaptionStopping1 = QT_TRANSLATE_NOOP("Quillberry", "停止中...");
inline constexpr const char* kCaptionStopping2 = QT_TRANSLATE_NOOP("Quillberry", "...停止中");
inline constexpr const char* kMsgEmptyList = QT_TRANSLATE_NOOP("Quillberry", "空列表，没有要验证的代理。");
inline constexpr const char* kMsgNoSelection = QT_TRANSLATE_NOOP("Quillberry", "没有选择要验证的代理！");
inline constexpr const char* kMsgNoHttpSource =
    QT_TRANSLATE_NOOP("Quillberry", "没有设定http验证资源，无法验证http代理服务器。");
inline constexpr const char* kMsgNoFtpSource = QT_TRANSLATE_NOOP(
    "Quillberry", "没有设定ftp验证资源，无法验证ftp代理服务器。\n请进入设置在ftp验证资源前打勾。继续吗？");
inline constexpr const char* kMsgWorkerFailed = QT_TRANSLATE_NOOP("Quillberry", "创建验证线程中发生异常");
inline constexpr const char* kCaptionVerifyFailed = QT_TRANSLATE_NOOP("Quillberry", "验证失败");
inline constexpr const char* kMsgPleaseWait = QT_TRANSLATE_NOOP("Quillberry", "请耐心等待验证的完成");
inline constexpr const char* kCaptionWaitForEnd = QT_TRANSLATE_NOOP("Quillberry", "等待验证完成");
inline constexpr const char* kTextHint = "Multiple choice: 'Shift/Ctrl' + left button of mouse";
inline constexpr const char* kResultStatusPrefix = QT_TRANSLATE_NOOP("Quillberry", "验证状态：");

// What the window shows for a notice of the run control.
struct NoticeText {
  const char* text;
  const char* caption;
  MsgIcon icon;
};
inline NoticeText RunNoticeText(RunNotice notice) {
  switch (notice) {
    case RunNotice::EmptyList:
      return {kMsgEmptyList, kCaptionVerifyAll, MsgIcon::Warning};
    case RunNotice::NoSelection:
      return {kMsgNoSelection, kCaptionVerifySelected, MsgIcon::Warning};
    case RunNotice::NoHttpResource:
      return {kMsgNoHttpSource, kCaptionVerifyAll, MsgIcon::Warning};
    case RunNotice::PleaseWait:
      return {kMsgPleaseWait, kCaptionWaitForEnd, MsgIcon::Information};
    case RunNotice::WorkerFailed:
      return {kMsgWorkerFailed, kCaptionVerifyFailed, MsgIcon::Error};
    case RunNotice::WorkerLost:
      return {kMsgWorkerFailed, kCaptionVerifyFailed, MsgIcon::None};
  }
  return {kMsgWorkerFailed, kCaptionVerifyFailed, MsgIcon::Error};
}

// --- The proxy list's commands ---
inline constexpr const char* kMsgProxyExists =
    QT_TRANSLATE_NOOP("Quillberry", "这个代理服务器已经存在列表中");
inline constexpr const char* kCaptionAddProxy = QT_TRANSLATE_NOOP("Quillberry", "添加代理");
inline constexpr const char* kCaptionModifyProxy = QT_TRANSLATE_NOOP("Quillberry", "修改选定");
inline constexpr const char* kCaptionInputError = QT_TRANSLATE_NOOP("Quillberry", "输入错误");
inline constexpr const char* kMsgBadType = QT_TRANSLATE_NOOP("Quillberry", "代理服务器类型错误。");
inline constexpr const char* kMsgBadAddress = QT_TRANSLATE_NOOP("Quillberry", "代理服务器地址错误。");
inline constexpr const char* kMsgBadPort =
    QT_TRANSLATE_NOOP("Quillberry", "端口不能小于0，也不能大于65535。");
inline constexpr const char* kMsgBadLogOn =
    QT_TRANSLATE_NOOP("Quillberry", "有密码时用户名不能为空；用户名和密码不能含有控制字符。");
inline constexpr const char* kMsgBadRemark =
    QT_TRANSLATE_NOOP("Quillberry", "备注栏不能有分隔符：:、@、$、#、<、>、Tab和空格。");
// Why a host typed as text (a name or an IPv6 address) is none.
inline constexpr const char* kMsgHostTooLong = QT_TRANSLATE_NOOP("Quillberry", "主机名太长：最多253个字符。");
inline constexpr const char* kMsgHostLabelTooLong =
    QT_TRANSLATE_NOOP("Quillberry", "主机名中两点之间最多63个字符。");
inline constexpr const char* kMsgHostZoneIndex =
    QT_TRANSLATE_NOOP("Quillberry", "IPv6地址不能带“%”和网卡名：那只在本机上有意义。");
inline constexpr const char* kMsgHostBadIpv6 = QT_TRANSLATE_NOOP("Quillberry", "这不是有效的IPv6地址。");
inline constexpr const char* kMsgHostBadName =
    QT_TRANSLATE_NOOP("Quillberry", "主机名只能由字母、数字、“-”和“.”组成，最后一段不能全是数字。");
inline constexpr const char* kMsgConfirmDelete =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的代理吗？删除数据后不能恢复！");
// %1: how many rows are selected.
inline constexpr const char* kMsgConfirmDeleteCount =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的 %1 个代理吗？删除数据后不能恢复！");
inline constexpr const char* kCaptionDelete = QT_TRANSLATE_NOOP("Quillberry", "删除选定");
inline constexpr const char* kMsgConfirmClean = QT_TRANSLATE_NOOP(
    "Quillberry",
    "确实要删除“连接失败”、“不匹配”和“超时”的代理吗？\n删除数据后不能恢复！有些代理过段时间可能还可以用。");
inline constexpr const char* kCaptionClean = QT_TRANSLATE_NOOP("Quillberry", "清理");
// Asked before an export in a format that can carry log-ons, when rows have one.
inline constexpr const char* kMsgExportLogOns =
    QT_TRANSLATE_NOOP("Quillberry", "选定的代理中有 %1 个带有用户名和密码。\n导出的文件中也包含它们吗？");

// What the proxy dialog says of the field CheckProxyInfo refused (shown with
// kCaptionInputError and the warning icon).
inline const char* ProxyInfoFieldText(ProxyInfoField field) {
  switch (field) {
    case ProxyInfoField::Type:
      return kMsgBadType;
    case ProxyInfoField::Address:
      return kMsgBadAddress;
    case ProxyInfoField::Port:
      return kMsgBadPort;
    case ProxyInfoField::Remark:
      return kMsgBadRemark;
    case ProxyInfoField::None:
      break;
  }
  return kMsgBadAddress;
}

// What the proxy dialog says of a refused check: for a host typed as text, why it is
// none (a mistyped dotted address is just a wrong address).
inline const char* ProxyInfoCheckText(const ProxyInfoCheck& check, std::string_view host) {
  if (check.focus != ProxyInfoField::Address) return ProxyInfoFieldText(check.focus);
  switch (check.hostFault) {
    case HostFault::NameTooLong:
      return kMsgHostTooLong;
    case HostFault::LabelTooLong:
      return kMsgHostLabelTooLong;
    case HostFault::ZoneIndex:
      return kMsgHostZoneIndex;
    case HostFault::BadAddress:
      return kMsgHostBadIpv6;
    case HostFault::BadName:
      return qb::Trim(host).find_first_not_of("0123456789.") == std::string_view::npos ? kMsgBadAddress
                                                                                       : kMsgHostBadName;
    case HostFault::Empty:
    case HostFault::None:
      break;
  }
  return kMsgBadAddress;
}

// --- The list file, its import and export ---
inline constexpr const char* kMsgOpenFileFailed = QT_TRANSLATE_NOOP("Quillberry", "打开文件失败！");
inline constexpr const char* kCaptionLoadList = QT_TRANSLATE_NOOP("Quillberry", "导入列表");
inline constexpr const char* kCaptionSave = QT_TRANSLATE_NOOP("Quillberry", "存盘");
inline constexpr const char* kCaptionExport = QT_TRANSLATE_NOOP("Quillberry", "导出选定");
inline constexpr const char* kMsgNothingSelected =
    QT_TRANSLATE_NOOP("Quillberry", "没有选择代理！可以用Shift/Ctrl键 + 鼠标左键一次选择多个代理。");

// What the import, the paste and a download say when they found no proxy.
inline constexpr const char* kMsgNoProxyInFile = QT_TRANSLATE_NOOP(
    "Quillberry",
    "            "
    "从文件中找不到有效代理。\n注意，本软件只解析如下的代理格式：\n代理地址:端口@协议类型$时间或状态#备注\n"
    "（: @ $ #这四个符号的顺序不能颠倒）\n如：61.50.172.138:80\n        61.50.172.138:80@HTTP\n"
    "        61.50.172.138:80@HTTP$未验证#该代理不太稳定\n其它格式代理，可以启用模糊匹配抓取。");
inline constexpr const char* kMsgNoProxyOnClipboard = QT_TRANSLATE_NOOP(
    "Quillberry",
    "          "
    "从粘贴板中找不到有效代理。\n注意，本软件只解析如下的代理格式：\n代理地址:端口@协议类型$时间或状态#备注\n"
    "（: @ $ #这四个符号的顺序不能颠倒）\n如：61.50.172.138:80\n        61.50.172.138:80@HTTP\n"
    "        61.50.172.138:80@HTTP$未验证#该代理不太稳定\n其它格式代理，可以启用模糊匹配抓取。");
inline constexpr const char* kMsgNoProxyDownloaded = QT_TRANSLATE_NOOP(
    "Quillberry",
    "下载超时、网页地址不对或找不到有效代理。\n注意，本软件只解析如下的代理格式：\n代理地址:端口@协议类型$"
    "时间或状态#备注\n"
    "（: @ $ #这四个符号的顺序不能颠倒）\n如：61.50.172.138:80\n        61.50.172.138:80@HTTP\n"
    "        61.50.172.138:80@HTTP$未验证#该代理不太稳定\n其它格式代理，可以启用模糊匹配抓取。");
inline constexpr const char* kCaptionImportDone = QT_TRANSLATE_NOOP("Quillberry", "导入完毕");
inline constexpr const char* kCaptionPasteDone = QT_TRANSLATE_NOOP("Quillberry", "粘贴完毕");
// Followed by the name of the source.
inline constexpr const char* kCaptionDownloadFailed = QT_TRANSLATE_NOOP("Quillberry", "下载异常: ");

// --- The proxy sources' download ---
inline constexpr const char* kDownloadButtonText = QT_TRANSLATE_NOOP("Quillberry", "▲下载代理资源");
inline constexpr const char* kCaptionDownloadSources = QT_TRANSLATE_NOOP("Quillberry", "下载资源");
inline constexpr const char* kMsgNoSources = QT_TRANSLATE_NOOP("Quillberry", "没有下载资源，请先添加。");
inline constexpr const char* kMsgNoTickedSource =
    QT_TRANSLATE_NOOP("Quillberry", "没有选择下载资源，请打勾。");
// Why the download button does not start; a null text when nothing is said (a
// download runs already).
inline NoticeText DownloadRefusalText(DownloadRefusal refusal) {
  switch (refusal) {
    case DownloadRefusal::NoSources:
      return {kMsgNoSources, kCaptionDownloadSources, MsgIcon::Warning};
    case DownloadRefusal::NoneTicked:
      return {kMsgNoTickedSource, kCaptionDownloadSources, MsgIcon::Warning};
    case DownloadRefusal::None:
    case DownloadRefusal::Downloading:
      break;
  }
  return {nullptr, kCaptionDownloadSources, MsgIcon::None};
}

// What the window says of a page that hit a limit (an information box, with
// kCaptionPageCut and the source's name): which limit it was and how far the page was
// taken. Empty when the page hit none.
inline constexpr const char* kCaptionPageCut = QT_TRANSLATE_NOOP("Quillberry", "网页被截断: ");
inline std::string PageLimitText(const SourceReport& report) {
  std::string text;
  if (report.cut)
    text += QT_TRANSLATE_NOOP("Quillberry", "网页超过了下载的大小上限，只读取了上限以内的完整行。");
  if (report.proxiesCapped) {
    if (!text.empty()) text += "\n";
    text +=
        qb::Format(qb::TrStd(QT_TRANSLATE_NOOP("Quillberry",
                                               "网页中的代理超过了每个网页 %d 个的上限，只添加了前 %d 个。"))
                       .c_str(),
                   report.found, report.found);
  }
  return text;
}

// --- The system proxy: the failures of ProxyChangeResult ---
inline constexpr const char* kMsgQueryFailed = "Query option failed!";
inline constexpr const char* kCaptionQueryProxy = QT_TRANSLATE_NOOP("Quillberry", "获取IE代理");
inline constexpr const char* kMsgPacWriteFailed = QT_TRANSLATE_NOOP("Quillberry", "创建自动代理脚本失败！");
inline constexpr const char* kCaptionPacWrite = QT_TRANSLATE_NOOP("Quillberry", "创建");
inline constexpr const char* kMsgTemplateReadFailed =
    QT_TRANSLATE_NOOP("Quillberry", "打开用户自定义代理自动配置模板失败！");
inline constexpr const char* kCaptionTemplateRead = QT_TRANSLATE_NOOP("Quillberry", "编辑");
inline constexpr const char* kMsgSetProxyFailed = QT_TRANSLATE_NOOP("Quillberry", "设置代理失败！");
inline constexpr const char* kCaptionSetProxyFailed = QT_TRANSLATE_NOOP("Quillberry", "错误");
// Follows kMsgSetProxyFailed when every write was accepted but reading back found the
// old settings: the store behind the desktop's settings (its service on the session
// bus) was not there to keep them.
inline constexpr const char* kMsgSettingNotKept =
    QT_TRANSLATE_NOOP("Quillberry", "桌面没有保存该设置：没有会话总线或设置服务保存它。");
// A proxy whose log-on the desktop's settings cannot keep (a warning).
inline constexpr const char* kMsgLogOnNotCarried =
    QT_TRANSLATE_NOOP("Quillberry",
                      "该代理需要用户名和密码，但在当前的上网方式下桌面的代理设置无法保存它们（只有直接设置的"
                      "HTTP代理可以），代理设置未作更改。");
inline constexpr const char* kCaptionSetIEProxy = QT_TRANSLATE_NOOP("Quillberry", "设为IE代理");
// A proxy of a type the desktop's settings have no entry for, in the direct mode (a
// warning). The type is put in front.
inline constexpr const char* kMsgTypeNotCarried =
    QT_TRANSLATE_NOOP("Quillberry", "代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。");

// The record of the desktop's earlier setting (DesktopProxy.state) could not be kept or
// removed; followed by what failed. The desktop was changed all the same.
inline constexpr const char* kMsgRecordFailed =
    QT_TRANSLATE_NOOP("Quillberry", "无法记下桌面原来的代理设置，取消代理时可能无法恢复它。");

// What the desktop gets when the proxy this program set can no longer work.
inline constexpr const char* kCaptionWhenDown = QT_TRANSLATE_NOOP("Quillberry", "代理失效时");
inline constexpr const char* kMsgWhenDownQuestion =
    QT_TRANSLATE_NOOP("Quillberry",
                      "当本程序设置的代理无法再工作时（退出、崩溃、全部代理失效），系统代理该怎么办？\n\n"
                      "是：改为直接连接。您原来的设置恢复，程序照常上网，但不经过代理，会暴露本机地址。\n"
                      "否：阻断。不经代理什么也不发出，使用系统代理的程序将无法上网，直到代理恢复。\n\n"
                      "以后可在设置中更改。");
// The exit under blocking, with the desktop going through the window's own endpoint.
inline constexpr const char* kMsgExitBlocks =
    QT_TRANSLATE_NOOP("Quillberry",
                      "系统代理正经由本机端口，退出后本机端口随之关闭，使用系统代理的程序将全部无法上网，"
                      "直到再次启动本程序或更改系统代理。\n\n要先恢复您原来的系统代理设置再退出吗？\n"
                      "是：恢复后退出。否：保持阻断并退出。");
// At start, a setting of this program where nothing answers: %1 is the proxy.
inline constexpr const char* kMsgStaleRestored =
    QT_TRANSLATE_NOOP("Quillberry",
                      "系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。\n"
                      "已按您的选择恢复原来的系统代理设置。");
inline constexpr const char* kMsgStaleKept = QT_TRANSLATE_NOOP(
    "Quillberry",
    "系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。\n"
    "按您的选择（阻断），系统代理保持不变：使用它的程序将无法上网，直到代理恢复或取消系统代理。");
// Another program changed the desktop's proxy: %1 is what this program had set.
inline constexpr const char* kMsgDesktopChangedElsewhere =
    QT_TRANSLATE_NOOP("Quillberry",
                      "另一个程序更改了系统代理，它已不再使用本程序设置的 %1。\n\n"
                      "要重新设置吗？选“否”则保留对方的设置。");
inline constexpr const char* kCaptionSystemProxy = QT_TRANSLATE_NOOP("Quillberry", "系统代理");

// The desktop notifications (each can be turned off in Options.ini's [Notify]).
// The state after a switch from the tray:
inline constexpr const char* kNotifyStateNone = QT_TRANSLATE_NOOP("Quillberry", "不使用代理（直接连接）");
inline constexpr const char* kNotifyStateProxy = QT_TRANSLATE_NOOP("Quillberry", "经由代理 %1");
inline constexpr const char* kNotifyStateEndpoint = QT_TRANSLATE_NOOP("Quillberry", "经由本机端口 %1");
inline constexpr const char* kNotifyStateScript =
    QT_TRANSLATE_NOOP("Quillberry", "使用代理自动配置脚本（%1）");
// The proxy (or the endpoint) the desktop goes through no longer answers: %1.
inline constexpr const char* kNotifyProxyDown =
    QT_TRANSLATE_NOOP("Quillberry", "%1 已无应答，使用系统代理的程序可能无法上网。");
// The endpoint's usable proxies: %1 left, fewer than %2.
inline constexpr const char* kNotifyPoolLow =
    QT_TRANSLATE_NOOP("Quillberry", "本机端口可用的代理只剩 %1 个（少于 %2 个）。");
// A long verification ended while the window was hidden: %1 rows, %2 working, %3 seconds.
inline constexpr const char* kCaptionRunDone = QT_TRANSLATE_NOOP("Quillberry", "验证完成");
inline constexpr const char* kNotifyRunDone =
    QT_TRANSLATE_NOOP("Quillberry", "%1 个代理中 %2 个可用，用时 %3 秒。");

// --- The history ---
inline constexpr const char* kCaptionHistory = QT_TRANSLATE_NOOP("Quillberry", "验证历史");
inline constexpr const char* kMsgHistoryDamaged =
    QT_TRANSLATE_NOOP("Quillberry", "验证历史数据库已损坏或无法读取，已改名为 %1 并重建一个空的历史。");
inline constexpr const char* kMsgHistoryUnavailable =
    QT_TRANSLATE_NOOP("Quillberry", "无法建立验证历史数据库 %1，本次不记录验证历史。");
inline constexpr const char* kMsgHistorySalvaged = QT_TRANSLATE_NOOP(
    "Quillberry", "验证历史数据库已损坏，已改名为 %1；其中仍可读出的 %2 个结果已复制到新的历史中。");
inline constexpr const char* kMsgHistoryBusy =
    QT_TRANSLATE_NOOP("Quillberry", "验证历史数据库 %1 正被另一个程序占用，本次不记录验证历史。");
inline constexpr const char* kMsgHistoryFull =
    QT_TRANSLATE_NOOP("Quillberry", "磁盘已满，无法写入验证历史数据库 %1，本次不记录验证历史。");
inline constexpr const char* kMsgHistoryLost =
    QT_TRANSLATE_NOOP("Quillberry", "本次验证有 %1 个结果没有记入验证历史 %2：%3");
inline constexpr const char* kHistoryBusyWord = QT_TRANSLATE_NOOP("Quillberry", "它正被另一个程序占用");
inline constexpr const char* kHistoryFullWord = QT_TRANSLATE_NOOP("Quillberry", "磁盘已满");
inline constexpr const char* kHistoryDamagedWord = QT_TRANSLATE_NOOP("Quillberry", "它已损坏");
inline constexpr const char* kHistoryUnreadableWord = QT_TRANSLATE_NOOP("Quillberry", "它无法读写");

// What the window and the command line say about the history's opening: empty when
// it opened as it was (or there is none yet to read).
inline QString HistoryOpeningText(const HistoryOpening& opening, const std::string& path) {
  const QString file = QString::fromStdString(path);
  QString text;
  if (!opening.open) {
    if (opening.problem == HistoryProblem::None) return {};
    text = qb::Tr(opening.problem == HistoryProblem::Busy   ? kMsgHistoryBusy
                  : opening.problem == HistoryProblem::Full ? kMsgHistoryFull
                                                            : kMsgHistoryUnavailable)
               .arg(file);
  } else if (!opening.movedAside.empty()) {
    const QString kept = QString::fromStdString(opening.movedAside);
    text = opening.salvaged > 0 ? qb::Tr(kMsgHistorySalvaged).arg(kept).arg(opening.salvaged)
                                : qb::Tr(kMsgHistoryDamaged).arg(kept);
  } else {
    return {};
  }
  if (!opening.reason.empty()) text += "\n" + QString::fromStdString(opening.reason);
  return text;
}

// What they say about results a run could not write into the history.
inline QString HistoryLostText(int count, HistoryProblem problem, const QString& reason,
                               const std::string& path) {
  const char* why = problem == HistoryProblem::Busy      ? kHistoryBusyWord
                    : problem == HistoryProblem::Full    ? kHistoryFullWord
                    : problem == HistoryProblem::Damaged ? kHistoryDamagedWord
                                                         : kHistoryUnreadableWord;
  QString text = qb::Tr(kMsgHistoryLost).arg(count).arg(QString::fromStdString(path), qb::Tr(why));
  if (!reason.isEmpty()) text += "\n" + reason;
  return text;
}

// --- Setting.dat ---
inline constexpr const char* kMsgDefaultResources =
    QT_TRANSLATE_NOOP("Quillberry", "没有验证资源，将自动装载缺省设置。");
inline constexpr const char* kMsgSettingsKeptAs =
    QT_TRANSLATE_NOOP("Quillberry", "原来的 Setting.dat 已另存为 %1。");

// What is said when the built-in resources were installed: where the file they
// replaced was kept, when it held something.
inline QString DefaultResourcesText(const std::string& keptAs) {
  QString text = qb::Tr(kMsgDefaultResources);
  if (!keptAs.empty()) text += "\n" + qb::Tr(kMsgSettingsKeptAs).arg(QString::fromStdString(keptAs));
  return text;
}

// --- Proxies.pro ---
// Shown in the status strip: %1 lines, kept in the file %2.
inline constexpr const char* kNoticeRejectedLines =
    QT_TRANSLATE_NOOP("Quillberry", "Proxies.pro 中有 %1 行不是代理，已另存于 %2");

// The line the strip shows when a run ends. %1: rows that work, %2: rows that failed,
// %3: the fastest time, %4: the time the run took, both in seconds.
inline constexpr const char* kNoticeRunSummary =
    QT_TRANSLATE_NOOP("Quillberry", "验证完毕: 可用 %1 个，失败 %2 个，最快 %3 秒，用时 %4 秒");
// The same without a working row.
inline constexpr const char* kNoticeRunSummaryNone =
    QT_TRANSLATE_NOOP("Quillberry", "验证完毕: 可用 0 个，失败 %1 个，用时 %2 秒");
// The counts of the status strip. %1: selected rows, %2: all rows.
inline constexpr const char* kStatusCounts = QT_TRANSLATE_NOOP("Quillberry", "选定 %1 / 共 %2 个");
// The same while the filter hides rows. %2: the rows in view.
inline constexpr const char* kStatusCountsFiltered =
    QT_TRANSLATE_NOOP("Quillberry", "选定 %1 / 显示 %2 / 共 %3 个");
// The rule of the automatic favourites, on the settings dialog's box and its count: the
// documented layout leaves the label no room to say it.
inline constexpr const char* kTipAutoFavorites = QT_TRANSLATE_NOOP(
    "Quillberry",
    "只从本次验证可用（60 秒以内）的 HTTP 和 HTTPS 代理中选；SOCKS 等其他类型不会被自动选为常用代理。");
// After the desktop's proxy in the strip: that it is the local endpoint, and whether the
// proxy of this program the desktop holds answered at the last check.
inline constexpr const char* kStatusViaEndpoint = QT_TRANSLATE_NOOP("Quillberry", "（本机端口）");
inline constexpr const char* kStatusAnswers = QT_TRANSLATE_NOOP("Quillberry", "，有应答");
inline constexpr const char* kStatusSilent = QT_TRANSLATE_NOOP("Quillberry", "，无应答");
// The filter field over the list.
inline constexpr const char* kFilterPlaceholder = QT_TRANSLATE_NOOP("Quillberry", "筛选 (Ctrl+F)");
inline constexpr const char* kFilterTip =
    QT_TRANSLATE_NOOP("Quillberry", "只显示地址、类型、状态、备注或国家中含有这段文字的代理");

// --- The proxy sources ---
inline constexpr const char* kMsgConfirmDeleteSources =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的资源吗？");
inline constexpr const char* kCaptionDeleteSources = QT_TRANSLATE_NOOP("Quillberry", "删除资源");

}  // namespace qb
