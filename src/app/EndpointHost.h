// The window's local endpoint: runs it while the user has it switched on, keeps its
// pool in step with the list, and marks the rows of the proxies it sets aside.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/OpResult.h"
#include "endpoint/Endpoint.h"
#include "settings/Options.h"

namespace qb {

class CEndpoint;
class ControlApi;
class EndpointPoolControl;
class CProxyListModel;
class DataDir;

// The window's words for the endpoint.
inline constexpr const char* kCaptionEndpoint = QT_TRANSLATE_NOOP("Quillberry", "本机端口");
inline constexpr const char* kMsgEndpointFailed = QT_TRANSLATE_NOOP("Quillberry", "本机端口无法启动。");
inline constexpr const char* kMsgEndpointInUse = QT_TRANSLATE_NOOP(
    "Quillberry", "系统代理正经由本机端口。关闭本机端口后，使用系统代理的程序将无法上网。\n仍要关闭吗？");
inline constexpr const char* kMsgOptionsSaveFailed = QT_TRANSLATE_NOOP("Quillberry", "保存选项文件失败！");
inline constexpr const char* kMsgApiFailed = QT_TRANSLATE_NOOP("Quillberry", "控制接口无法启动。");
inline constexpr const char* kMsgEndpointEmpty =
    QT_TRANSLATE_NOOP("Quillberry", "列表中还没有验证可用的代理，本机端口暂时无法转发连接。");

class CEndpointHost : public QObject {
  Q_OBJECT

 public:
  // Serves the working proxies of dir's list, with their log-ons.
  explicit CEndpointHost(DataDir& dir, QObject* parent = nullptr);
  ~CEndpointHost() override;

  // Starts, restarts (when its options, the connect time-out or the ticked resource its
  // health checks ask for changed) or stops the endpoint as options say. A failure to
  // start comes back (the address taken, or one that is not an address); the endpoint
  // is then off.
  qb::OpResult Apply(const EndpointOptions& options, int connectTimeoutMs);
  // The control API the window's own endpoint runs beside it from the next Apply (which
  // starts it again alone when only it changed): off for an empty address, and off for one that is not a
  // loopback address, which only the command line may name. The endpoint's service
  // runs its own from the same Options.ini.
  void SetApi(const ApiOptions& options) { m_apiOptions = options; }
  // How the API fared at the last start of the endpoint: a failure (the port taken, an
  // address refused) leaves the endpoint running without it.
  const qb::OpResult& ApiResult() const { return m_apiResult; }
  // The API's bound port; 0 while it is off.
  int ApiPort() const;
  // Whether connections no proxy can carry go to their targets directly (the user's
  // choice for when the proxies are down); followed at once by a running endpoint.
  void SetGoDirect(bool goDirect);
  bool Running() const;
  // Running as the endpoint's service (which serves this data directory and follows its
  // list and Options.ini by itself), not in the window: it goes on after the window.
  bool ByService() const { return m_service.has_value(); }
  // "address:port" of the running endpoint; empty while it is off.
  std::string Address() const;
  // The proxy line the desktop is given to go through the endpoint ("A:P@HTTP").
  std::string ProxyLine() const;
  // How many proxies the pool holds now.
  int PoolSize() const { return m_poolSize; }

  // While this answers true (a verification or a download is writing the rows), the
  // pool is not rebuilt and no row is marked: rows are addressed by position then.
  void SetBusyCheck(std::function<bool()> busy) { m_busy = std::move(busy); }
  // Rebuilds the pool from the list at once.
  void RefreshPool();

 signals:
  // A proxy was set aside and its row marked: the list must be saved.
  void rowsMarked();

 private:
  void ScheduleRefresh();
  void StopEndpoint();
  qb::OpResult StartApi();
  void MarkSetAside(const std::string& line, const std::string& reason);
  void RestoreRows();

  DataDir& m_dir;
  CProxyListModel& m_list;
  std::unique_ptr<CEndpoint> m_endpoint;
  // Both ask m_endpoint: declared after it, so that they go first.
  std::unique_ptr<EndpointPoolControl> m_control;
  std::unique_ptr<ControlApi> m_api;
  ApiOptions m_apiOptions;
  ApiOptions m_runningApi;  // what the API was last started with
  qb::OpResult m_apiResult;
  std::optional<EndpointStatus> m_service;
  EndpointOptions m_running;
  int m_connectTimeoutMs = 0;
  std::string m_checkUrl, m_checkFeature;  // what the running endpoint checks against
  int m_poolSize = 0;
  bool m_goDirect = false;
  std::function<bool()> m_busy;
  // The rows marked for a set-aside, by line, with the time they had; they stay in the
  // pool with it until the endpoint takes the proxy back (and the row gets its time
  // again) or a run says something of them. Lines taken back wait in m_takenBack while a
  // run writes the rows.
  std::unordered_map<std::string, std::string> m_marked;
  std::vector<std::string> m_takenBack;
  bool m_runSeen = false;
  QTimer m_refresh;
};

}  // namespace qb
