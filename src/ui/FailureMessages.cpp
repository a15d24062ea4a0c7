#include "ui/FailureMessages.h"

#include <string>

#include "base/Prompt.h"
#include "base/Translate.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListFile.h"
#include "sysproxy/SystemProxy.h"
#include "ui/Messages.h"

namespace qb {

namespace {

constexpr const char* kMsgOpenSettingsFailed = QT_TRANSLATE_NOOP("Quillberry", "打开设置文件失败！");
constexpr const char* kCaptionInit = QT_TRANSLATE_NOOP("Quillberry", "初始化");

bool Show(const qb::OpResult& result, const std::string& text, const char* caption,
          qb::MsgIcon icon = qb::MsgIcon::Error) {
  if (result.ok()) return true;
  qb::ShowMessage(text, caption, icon);
  return false;
}

// A data file that is read at start-up and saved after every change: which message
// depends on which way it failed.
bool ShowLoadOrSave(const qb::OpResult& result, const char* readText, const char* readCaption) {
  if (result.status == qb::OpStatus::ReadFailed) return Show(result, readText, readCaption);
  return Show(result, kMsgOpenFileFailed, kCaptionSave);
}

}  // namespace

bool ReportHistoryOpening(const HistoryOpening& opening, const std::string& path) {
  const QString text = HistoryOpeningText(opening, path);
  if (!text.isEmpty()) ShowMessage(text.toStdString(), qb::TrStd(kCaptionHistory), MsgIcon::Warning);
  return opening.open;
}

bool ReportListLoad(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionLoadList);
}

bool ReportListSave(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionSave);
}

bool ReportImport(const ImportResult& result) {
  return ShowLoadOrSave(result.result, kMsgOpenFileFailed, kCaptionLoadList);
}

bool ReportExport(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionExport);
}

bool ReportSettingsLoad(const qb::OpResult& result) {
  return ShowLoadOrSave(result, kMsgOpenSettingsFailed, kCaptionInit);
}

bool ReportSettingsSave(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionSave);
}

bool ReportSourcesLoad(const qb::OpResult& result) {
  return ShowLoadOrSave(result, kMsgOpenSettingsFailed, kCaptionInit);
}

bool ReportSourcesSave(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionSave);
}

bool ReportResourceImport(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, QT_TRANSLATE_NOOP("Quillberry", "导入"));
}

bool ReportResourceExport(const qb::OpResult& result) {
  return Show(result, kMsgOpenFileFailed, kCaptionSave);
}

bool ReportProxyQuery(const qb::OpResult& result) {
  return Show(result, kMsgQueryFailed, kCaptionQueryProxy, qb::MsgIcon::Warning);
}

bool ReportDownloadRefusal(DownloadRefusal refusal) {
  if (refusal == DownloadRefusal::None) return true;
  const NoticeText notice = DownloadRefusalText(refusal);
  if (notice.text) qb::ShowMessage(notice.text, notice.caption, notice.icon);
  return false;
}

bool ConfirmProxyStatus(const std::string& timeStatus) {
  if (!IsFailedStatus(timeStatus)) return true;
  return qb::Prompt().Message(kMsgConfirmFailedProxy, QT_TRANSLATE_NOOP("Quillberry", "设为IE代理"),
                              qb::MsgIcon::Question, qb::MsgButtons::YesNo) == qb::MsgResult::Yes;
}

bool ReportProxyChange(const ProxyChangeResult& result) {
  if (result.refusedLogOn) {
    qb::ShowMessage(kMsgLogOnNotCarried, kCaptionSetIEProxy, qb::MsgIcon::Warning);
    return false;
  }
  if (!result.refusedType.empty()) {
    qb::ShowMessage(result.refusedType + qb::TrStd(kMsgTypeNotCarried), kCaptionSetIEProxy,
                    qb::MsgIcon::Warning);
    return false;
  }
  ReportProxyQuery(result.query);
  if (result.script.status == qb::OpStatus::ReadFailed) {
    Show(result.script, kMsgTemplateReadFailed, kCaptionTemplateRead);
  } else {
    Show(result.script, kMsgPacWriteFailed, kCaptionPacWrite);
  }
  for (const qb::OpResult& connection : result.connections) {
    Show(connection, kMsgSetProxyFailed, kCaptionSetProxyFailed);
  }
  if (result.kept.status == qb::OpStatus::QueryFailed) {
    ReportProxyQuery(result.kept);
  } else {
    Show(result.kept, std::string(kMsgSetProxyFailed) + "\n" + kMsgSettingNotKept, kCaptionSetProxyFailed);
  }
  Show(result.record, std::string(kMsgRecordFailed) + "\n" + result.record.Describe(), kCaptionSetProxyFailed,
       qb::MsgIcon::Warning);
  return result.ok();
}

}  // namespace qb
