// The program's words for what the core reports: messages and their captions, shared
// by the window (through its message boxes) and the command line (on standard error).
//
// The core returns results and reasons; it never holds a message. Only texts live
// here, so the command line includes this header without linking the windows.
#pragma once

#include <QtGlobal>

#include "base/Prompt.h"
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

// --- The history ---
inline constexpr const char* kCaptionHistory = QT_TRANSLATE_NOOP("Quillberry", "验证历史");
inline constexpr const char* kMsgHistoryDamaged =
    QT_TRANSLATE_NOOP("Quillberry", "验证历史数据库已损坏或无法读取，已改名为 %1 并重建一个空的历史。");
inline constexpr const char* kMsgHistoryUnavailable =
    QT_TRANSLATE_NOOP("Quillberry", "无法建立验证历史数据库 %1，本次不记录验证历史。");

// --- Setting.dat ---
inline constexpr const char* kMsgDefaultResources =
    QT_TRANSLATE_NOOP("Quillberry", "没有验证资源，将自动装载缺省设置。");

// --- Proxies.pro ---
// Shown in the status strip: %1 lines, kept in the file %2.
inline constexpr const char* kNoticeRejectedLines =
    QT_TRANSLATE_NOOP("Quillberry", "Proxies.pro 中有 %1 行不是代理，已另存于 %2");

// --- The proxy sources ---
inline constexpr const char* kMsgConfirmDeleteSources =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的资源吗？");
inline constexpr const char* kCaptionDeleteSources = QT_TRANSLATE_NOOP("Quillberry", "删除资源");

}  // namespace qb
