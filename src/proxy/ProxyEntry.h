// One proxy: its five texts, the proxy line that carries it in and out of the
// program, and its identity.
#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
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
inline constexpr const char* kStatusUnresolved = QT_TRANSLATE_NOOP("Quillberry", "域名无法解析");
inline constexpr const char* kStatusTlsIntercepted = QT_TRANSLATE_NOOP("Quillberry", "TLS被拦截");
inline constexpr const char* kStatusModified = QT_TRANSLATE_NOOP("Quillberry", "内容被篡改");
// The last verification of the row found the proxy not working (or not doing what
// was asked of it).
bool IsFailedStatus(std::string_view timeStatus);

// The six proxy types a line may carry, in the order the proxy dialog offers them.
inline constexpr const char* kProxyTypes[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "FTP", "GOPHER"};
// The characters a type text is cut to while parsing, after upper-casing.
inline constexpr std::string_view kTypeLetters = "HTPSFGOERCK45";

bool IsProxyType(std::string_view type);

// A row of the list. Lists run to millions of rows, so a row keeps its texts in the
// smallest form that gives them back byte for byte: a dotted address as its four
// numbers, a port as its number, a type or a status word as its index in the tables
// above, a time as its digits, a short remark inside the row. A text that does not
// come back identically from such a form (a host name, "080", "12.", a long remark)
// is kept as it is, out of line, so that no row ever changes by being stored.
class alignas(16) CProxyEntry {
 public:
  // Five empty texts (an empty address and port have no packed form).
  CProxyEntry() : CProxyEntry({}, {}, {}, {}, {}) {}
  CProxyEntry(std::string_view addr, std::string_view port, std::string_view type,
              std::string_view timeStatus, std::string_view remark);
  CProxyEntry(const CProxyEntry& other);
  CProxyEntry(CProxyEntry&& other) noexcept;
  CProxyEntry& operator=(const CProxyEntry& other);
  CProxyEntry& operator=(CProxyEntry&& other) noexcept;
  ~CProxyEntry();

  // Entries come from a pool of their own: a list holds up to millions of them, and an
  // import makes them on several threads at once.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  // The five texts, exactly as they were given.
  std::string Addr() const;
  std::string Port() const;
  std::string_view Type() const;
  std::string TimeStatus() const;
  std::string_view Remark() const;
  // The same appended to out, without a string of their own.
  void AppendAddr(std::string& out) const;
  void AppendPort(std::string& out) const;
  void AppendTimeStatus(std::string& out) const;

  void SetProxyAddr(std::string_view s);
  void SetProxyPort(std::string_view s);
  void SetProxyType(std::string_view s);
  void SetTimeStatus(std::string_view s);
  void SetRemark(std::string_view s);

  // Set by the list while the row is ticked as a favourite.
  bool IsFavorite() const { return (m_flags & kFavorite) != 0; }
  void SetFavorite(bool favorite) {
    m_flags = static_cast<std::uint8_t>(favorite ? (m_flags | kFavorite) : (m_flags & ~kFavorite));
  }

  // What the list's columns order by, read from the packed forms without making texts:
  // the address split at its first three dots and each part read as by atoi, the port
  // as by atoi, and TimeStatusRank of the time-or-status.
  void AddressParts(int part[4]) const;
  // Whether the address is kept as text (a host name, an IPv6 address, a dotted text
  // that does not pack) rather than as four numbers.
  bool AddressIsText() const { return (m_flags & kAddrText) != 0; }
  // Whether the port is kept as text ("080", "http") rather than as its number.
  bool PortIsText() const { return (m_flags & kPortText) != 0; }
  int PortNumber() const;
  double StatusRank() const;
  // Whether the time-or-status is a measured time (IsTimeText), and its value.
  bool HasTime() const;
  double TimeValue() const;

  // The hash of the proxy's key (address, port and type, ignoring ASCII case), and
  // whether two entries have the same key.
  std::uint32_t KeyHash() const { return m_hash; }
  bool SameKey(const CProxyEntry& other) const;

  // The bytes a row holds outside its entry (none for the typical row).
  std::size_t OutOfLineBytes() const;

 private:
  struct Extra;
  static constexpr std::size_t kInlineRemark = 15;
  enum : std::uint8_t { kFavorite = 1, kAddrText = 2, kPortText = 4, kHasExtra = 8 };
  enum : std::uint8_t { kTypeEmpty = 6, kTypeText = 7 };

  void Assign(std::string_view addr, std::string_view port, std::string_view type,
              std::string_view timeStatus, std::string_view remark);
  void Release() noexcept;
  void RehashKey();
  // The type's index among kProxyTypes after upper-casing, kTypeEmpty for none, or -1.
  int TypeClass() const;

  std::uint32_t m_addr = 0;  // the dotted address, unless kAddrText
  std::uint16_t m_port = 0;  // unless kPortText
  std::uint8_t m_type = kTypeEmpty;
  std::uint8_t m_flags = 0;
  std::uint32_t m_status = 0;  // its kind in the top bits: see kStatusIndex
  std::uint32_t m_hash = 0;
  union {
    // Without kHasExtra: the remark, its length in the last byte.
    struct {
      char bytes[kInlineRemark + 1];
    } text;
    // With kHasExtra: the texts that have no packed form, and the remark.
    Extra* extra;
  } m_u;
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
// The same with the five fields as views into line, for a reader that makes its entry
// at once.
struct FileLineViews {
  std::string_view addr, port, type, timeStatus, remark;
};
bool ParseFileLine(std::string_view line, FileLineViews& f);

// Whether a time-or-status holds a measured time: digits with at most one decimal
// point, nothing else. "0.0" is a time (a proxy that answered within 0.05 s); the
// status texts are not.
bool IsTimeText(std::string_view timeStatus);

// The stored time-or-status as one English word for other programs: "ok" (a measured
// time), "unverified" (also no status at all), "verifying", "failed" (the connection),
// "timeout", "mismatch", "password-mismatch", "unsupported", "error", "unresolved" (the
// host name has no address), "tls-intercepted", "modified", and "other" for
// a text of the user's own. The stored word stays what the list file holds; this
// stands beside it in the command line's and the export's machine-readable formats.
const char* ProxyState(std::string_view timeStatus);

// The number that orders the time-or-status column: a time by its value; the
// failure texts after the times; any other text (an exception, a password
// mismatch) before every time, so it never mixes with the fastest proxies.
double TimeStatusRank(std::string_view timeStatus);

}  // namespace qb
