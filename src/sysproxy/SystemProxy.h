// The system proxy: reading, setting and clearing the proxy of the desktop's
// browsers, and the auto-config script kept beside the data files. The main window
// owns one and calls it from its buttons, the tray menu and the settings dialog.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sysproxy/SystemProxyPlatform.h"

class CProxyListModel;

// How a proxy is handed to the browsers: the values of m_nAutoProxyConfig.
inline constexpr int kAutoProxyDirect = 0;
inline constexpr int kAutoProxyDefaultScript = 1;
inline constexpr int kAutoProxyUserScript = 2;

inline constexpr const char* kPacFileName = "proxy.pac";
inline constexpr const char* kPacTemplateFileName = "UserdefinedTemplate.pac";

class CSystemProxy : public QObject {
  Q_OBJECT

 public:
  // Without a platform the desktop's own back ends are used.
  explicit CSystemProxy(std::unique_ptr<ISystemProxyPlatform> platform = nullptr, QObject* parent = nullptr);
  ~CSystemProxy() override;

  // Reads the LAN settings into m_sIEProxy and m_sProxyBypass. When they cannot be
  // read, says so and leaves both as they were; returns false then.
  // reportFailure false: a refresh that runs on every click of the list stays quiet;
  // the failure has been reported when the proxy was read at start-up or set.
  bool GetIEProxy(bool reportFailure = true);
  // Makes the proxy text (a proxy line, "address:port", a desktop server string such
  // as "https=address:port", or empty) the proxy of every connection, or clears it
  // when the text is empty or not a valid proxy. Returns false when a connection
  // could not be written (each failure has been reported).
  bool SetIEProxy(std::string text);
  // Appends the names of the dial-up connections to m_saConnections.
  void EnumRasConnections();

  // The "设为IE代理" command: the first selected row of the list becomes a favourite
  // and the system proxy. Nothing happens without a selected row.
  void OnSetIEProxy(CProxyListModel& list);
  // The "取消IE代理" command.
  void OnCancelIEProxy();

  // Writes proxy.pac for the server string under the current mode. proxyType tells
  // a SOCKS4 from a SOCKS5 proxy, which the server string does not.
  void CreatePacFile(const std::string& serverString, const std::string& proxyType = {});

  // The URL under which the browsers find proxy.pac.
  static std::string AutoConfigUrl();
  // Trims a proxy text and completes it to a proxy line: "address:port" becomes an
  // HTTP proxy, and the desktop's "scheme=address:port" a proxy of that scheme.
  static std::string NormaliseProxyText(std::string_view text);
  // The server string for a parsed proxy: "A:P" for HTTP, "socks=A:P" for SOCKS4 and
  // SOCKS5, "https=A:P", "ftp=A:P" and "gopher=A:P" for the others.
  static std::string ServerStringFor(const std::string& addr, const std::string& port,
                                     const std::string& type);

  ISystemProxyPlatform& Platform() { return *m_platform; }

  void SetAutoProxyConfig(int mode) { m_nAutoProxyConfig = mode; }
  int AutoProxyConfig() const { return m_nAutoProxyConfig; }

  // The system proxy as last read or set: the desktop's server string after
  // GetIEProxy, the normalised proxy line after SetIEProxy; empty for none.
  std::string m_sIEProxy;
  // The bypass list as last read; written back unchanged.
  std::string m_sProxyBypass;
  // The connections SetIEProxy writes: the dial-up entries, then "" for the LAN.
  std::vector<std::string> m_saConnections;
  // 0: set the proxy directly; 1: the fixed script; 2: the user's template.
  int m_nAutoProxyConfig = kAutoProxyDirect;

 signals:
  // After OnSetIEProxy and OnCancelIEProxy: the status line and the tray icon must
  // show the new system proxy.
  void ieProxyChanged();

 private:
  std::unique_ptr<ISystemProxyPlatform> m_platform;
};
