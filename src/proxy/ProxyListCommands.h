// The logic of the proxy-list commands of the main window (add, modify, delete,
// clean, copy) and of the proxy dialog's check, kept apart from the windows so that
// it can be tested without them.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "base/ProxyHost.h"

namespace qb {

class CProxyListModel;

// What the proxy dialog holds when OK is pressed.
struct ProxyInfo {
  std::string type;
  std::array<int, 4> address{0, 0, 0, 0};  // the four fields of the address control
  std::string port;
  std::string remark;
  // The host typed as text instead of the four fields (a name or an IPv6 address):
  // when not empty it is the address, and the check leaves it as the list writes it.
  std::string host;
};

enum class ProxyInfoField { None, Type, Address, Port, Remark };

struct ProxyInfoCheck {
  bool ok = true;
  // The field refused (None when ok): the dialog says why and gives it the focus.
  ProxyInfoField focus = ProxyInfoField::None;
  // Why the host typed as text is none (None for an empty or all-zero address).
  HostFault hostFault = HostFault::None;
};

// The dialog's OK: trims the type (empty becomes "HTTP"), the port and the remark,
// then checks type, address, port and remark in this order. The port is checked
// without its leading zeros but handed on as typed. A host typed as text is read by
// ParseProxyHost and handed on in its canonical form ("[2001:db8::1]", "gw.example").
ProxyInfoCheck CheckProxyInfo(ProxyInfo& info);
std::string FormatAddress(const std::array<int, 4>& address);
// The address text split at its first three dots, each part as by atoi, cut to 8 bits.
std::array<int, 4> SplitAddressFields(const std::string& address);

// The add command after the dialog: -1 invalid, 0 duplicate (the list has the proxy
// already; the window says so), 1 added and selected.
int AddProxyFromDialog(CProxyListModel& list, const std::string& type, const std::string& address,
                       const std::string& port, const std::string& remark);

// Looks an address up in the location file: the remark to use, or empty.
using LocationLookup = std::function<std::string(const std::string& address)>;

enum class ModifyOutcome {
  Unchanged,  // nothing that is saved changed
  Changed,    // the row changed; the list file must be saved
  Duplicate,  // another row has the new proxy (the window says so); a new remark stays
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
