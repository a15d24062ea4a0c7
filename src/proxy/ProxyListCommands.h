// The logic of the proxy-list commands of the main window (add, modify, delete,
// clean, copy) and of the proxy dialog's check, kept apart from the windows so that
// it can be tested without them.
#pragma once

#include <QtGlobal>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace qb {

class CProxyListModel;

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
inline constexpr const char* kMsgConfirmDelete =
    QT_TRANSLATE_NOOP("Quillberry", "确实要删除选定的代理吗？删除数据后不能恢复！");
inline constexpr const char* kCaptionDelete = QT_TRANSLATE_NOOP("Quillberry", "删除选定");
inline constexpr const char* kMsgConfirmClean = QT_TRANSLATE_NOOP(
    "Quillberry",
    "确实要删除“连接失败”、“不匹配”和“超时”的代理吗？\n删除数据后不能恢复！有些代理过段时间可能还可以用。");
inline constexpr const char* kCaptionClean = QT_TRANSLATE_NOOP("Quillberry", "清理");

// What the proxy dialog holds when OK is pressed.
struct ProxyInfo {
  std::string type;
  std::array<int, 4> address{0, 0, 0, 0};  // the four fields of the address control
  std::string port;
  std::string remark;
};

enum class ProxyInfoField { None, Type, Address, Port, Remark };

struct ProxyInfoCheck {
  bool ok = true;
  const char* message = nullptr;  // shown with caption "输入错误" and the warning icon
  ProxyInfoField focus = ProxyInfoField::None;
};

// The dialog's OK: trims the type (empty becomes "HTTP"), the port and the remark,
// then checks type, address, port and remark in this order. The port is checked
// without its leading zeros but handed on as typed.
ProxyInfoCheck CheckProxyInfo(ProxyInfo& info);
std::string FormatAddress(const std::array<int, 4>& address);
// The address text split at its first three dots, each part as by atoi, cut to 8 bits.
std::array<int, 4> SplitAddressFields(const std::string& address);

// The add command after the dialog: -1 invalid, 0 duplicate (after the message),
// 1 added and selected.
int AddProxyFromDialog(CProxyListModel& list, const std::string& type, const std::string& address,
                       const std::string& port, const std::string& remark);

// Looks an address up in the location file: the remark to use, or empty.
using LocationLookup = std::function<std::string(const std::string& address)>;

enum class ModifyOutcome {
  Unchanged,  // nothing that is saved changed
  Changed,    // the row changed; the list file must be saved
  Duplicate,  // another row has the new proxy (after the message); a new remark stays
};

// The modify command after the dialog, on one row.
ModifyOutcome ModifyProxyRow(CProxyListModel& list, int row, const std::string& type,
                             const std::string& address, const std::string& port, const std::string& remark,
                             const LocationLookup& lookup);

// Removes the rows whose status is a connection failure, a mismatch or a timeout,
// except those whose remark begins with "!". Returns how many went.
int CleanProxyList(CProxyListModel& list);

// The text the copy command puts on the clipboard: address ":" port, or empty.
std::string CopyProxyText(const CProxyListModel& list, int row);
// The rows as list-file lines (address:port@type$time-or-status#remark), in list
// order, each ended by a line break: what Ctrl+C puts on the clipboard, and what a
// paste or an import reads back with every field.
std::string ProxyLinesText(const CProxyListModel& list, std::vector<int> rows);

}  // namespace qb
