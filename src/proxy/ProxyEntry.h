// One proxy: its five texts, the proxy line that carries it in and out of the
// program, and its identity.
#pragma once

#include <QtGlobal>

#include <cstddef>
#include <string>
#include <string_view>

namespace qb {

// The status texts of the time-or-status column.
inline constexpr const char* kStatusUnverified = QT_TRANSLATE_NOOP("Quillberry", "未验证");
inline constexpr const char* kStatusVerifying = QT_TRANSLATE_NOOP("Quillberry", "验证中...");
inline constexpr const char* kStatusConnectFailed = QT_TRANSLATE_NOOP("Quillberry", "连接失败");
inline constexpr const char* kStatusTimeout = QT_TRANSLATE_NOOP("Quillberry", "超时");
inline constexpr const char* kStatusMismatch = QT_TRANSLATE_NOOP("Quillberry", "不匹配");
inline constexpr const char* kStatusPasswordMismatch = QT_TRANSLATE_NOOP("Quillberry", "密码不匹配");
inline constexpr const char* kStatusUnsupported = QT_TRANSLATE_NOOP("Quillberry", "不支持此协议");
inline constexpr const char* kStatusException = QT_TRANSLATE_NOOP("Quillberry", "验证异常");
// The last verification of the row found the proxy not working (or not doing what
// was asked of it).
bool IsFailedStatus(std::string_view timeStatus);

// The six proxy types a line may carry, in the order the proxy dialog offers them.
inline constexpr const char* kProxyTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};
// The characters a type text is cut to while parsing, after upper-casing.
inline constexpr std::string_view kTypeLetters = "HTPSFGOERCK45";

bool IsProxyType(std::string_view type);

class CProxyEntry {
 public:
  CProxyEntry() = default;
  CProxyEntry(std::string addr, std::string port, std::string type, std::string timeStatus,
              std::string remark)
      : m_sProxyAddr(std::move(addr)),
        m_sProxyPort(std::move(port)),
        m_sProxyType(std::move(type)),
        m_sTimeStatus(std::move(timeStatus)),
        m_sRemark(std::move(remark)) {}

  // Entries come from a pool of their own: a list holds up to millions of them, and an
  // import makes them on several threads at once.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  void SetProxyAddr(std::string s) { m_sProxyAddr = std::move(s); }
  void SetProxyPort(std::string s) { m_sProxyPort = std::move(s); }
  void SetProxyType(std::string s) { m_sProxyType = std::move(s); }
  void SetTimeStatus(std::string s) { m_sTimeStatus = std::move(s); }
  void SetRemark(std::string s) { m_sRemark = std::move(s); }

  // Set by the list while the row is ticked as a favourite. It lives here because the
  // entry's padding has room for it, which keeps a million rows small.
  bool m_bFavorite = false;
  std::string m_sProxyAddr;
  std::string m_sProxyPort;
  std::string m_sProxyType;
  std::string m_sTimeStatus;
  std::string m_sRemark;
};

// The fields of a proxy line.
// A proxy's own log-on: what the importer finds, the store keeps, verification and
// the desktop use, and an export writes when asked.
struct ProxyCredentials {
  std::string user;
  std::string password;
  bool operator==(const ProxyCredentials&) const = default;
};

struct ProxyFields {
  std::string addr;
  std::string port;
  std::string type;
  std::string timeStatus;
  std::string remark;
};

// Splits and validates one proxy line "address:port@type$time-or-status#remark".
// On failure returns false; the outputs hold whatever was filled before the failure.
bool ParseProxyLine(std::string_view line, std::string& addr, std::string& port, std::string& type,
                    std::string& timeStatus, std::string& remark);
// ParseProxyLine without its shortcut for lines in the normal form; both give the
// same result for every line.
bool ParseProxyLineGeneral(std::string_view line, std::string& addr, std::string& port, std::string& type,
                           std::string& timeStatus, std::string& remark);
inline bool ParseProxyLine(std::string_view line, ProxyFields& f) {
  return ParseProxyLine(line, f.addr, f.port, f.type, f.timeStatus, f.remark);
}

// The identity of a proxy: "address:port@type", upper-cased.
std::string ProxyKey(std::string_view addr, std::string_view port, std::string_view type);

// "address:port" then "@type" when the type is not empty.
std::string FormatProxyLine(const CProxyEntry& e);
// The list file form: address ":" port "@" type, then "$" time-or-status and "#"
// remark, each only when not empty.
std::string FormatFileLine(const CProxyEntry& e);
void AppendFileLine(std::string& out, const CProxyEntry& e);

// Reads a line in exactly the form FormatFileLine writes, so that every row the
// program saved loads back with the same five fields (a remark with blanks, a long
// status). Only a line that this form writes back byte for byte counts; anything
// else returns false and is left to the tolerant extractor.
bool ParseFileLine(std::string_view line, ProxyFields& f);

// Whether a time-or-status holds a measured time: digits with at most one decimal
// point, nothing else. "0.0" is a time (a proxy that answered within 0.05 s); the
// status texts are not.
bool IsTimeText(std::string_view timeStatus);

// The number that orders the time-or-status column: a time by its value; the
// failure texts after the times; any other text (an exception, a password
// mismatch) before every time, so it never mixes with the fastest proxies.
double TimeStatusRank(std::string_view timeStatus);

}  // namespace qb
