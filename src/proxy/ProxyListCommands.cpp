#include "proxy/ProxyListCommands.h"

#include <algorithm>

#include <vector>

#include "base/Text.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyListModel.h"

namespace qb {

std::string FormatAddress(const std::array<int, 4>& a) {
  return qb::Format("%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
}

std::array<int, 4> SplitAddressFields(const std::string& address) {
  std::array<int, 4> out{0, 0, 0, 0};
  std::string_view rest = address;
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? rest.find('.') : std::string_view::npos;
    out[static_cast<std::size_t>(i)] = qb::CAtoi(rest.substr(0, dot)) & 0xFF;
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  return out;
}

ProxyInfoCheck CheckProxyInfo(ProxyInfo& info) {
  info.type = std::string(qb::Trim(info.type));
  if (info.type.empty()) info.type = "HTTP";
  std::string_view port = qb::Trim(info.port);
  info.port = std::string(port);
  while (!port.empty() && port.front() == '0') port.remove_prefix(1);
  info.remark = std::string(qb::Trim(info.remark));

  ProxyInfoCheck check;
  auto fail = [&](ProxyInfoField focus) {
    check.ok = false;
    check.focus = focus;
    return check;
  };
  if (!IsProxyType(info.type)) return fail(ProxyInfoField::Type);
  if (!info.host.empty()) {
    std::optional<ProxyHost> host = ParseProxyHost(qb::Trim(info.host), &check.hostFault);
    // No proxy listens at the unspecified address, in either family.
    if (!host || host->text == "0.0.0.0" || host->text == "[::]") return fail(ProxyInfoField::Address);
    info.host = std::move(host->text);
  } else if (info.address == std::array<int, 4>{0, 0, 0, 0}) {
    return fail(ProxyInfoField::Address);
  }
  const long long portValue = qb::CAtoll(port);
  if (portValue < 1 || portValue > 65535) return fail(ProxyInfoField::Port);
  if (info.remark.find_first_of(":@$# \t<>") != std::string::npos) return fail(ProxyInfoField::Remark);
  return check;
}

int AddProxyFromDialog(CProxyListModel& list, const std::string& type, const std::string& address,
                       const std::string& port, const std::string& remark) {
  return list.AddProxyLine(address + ":" + port + "@" + type + "#" + remark, 1);
}

ModifyOutcome ModifyProxyRow(CProxyListModel& list, int row, const std::string& type,
                             const std::string& address, const std::string& port, const std::string& remark,
                             const LocationLookup& lookup) {
  const CProxyEntry* e = list.Entry(row);
  if (!e) return ModifyOutcome::Unchanged;
  const std::string oldKey = ProxyKey(e->Addr(), e->Port(), e->Type());
  const std::string oldLine =
      e->Addr() + ":" + e->Port() + "@" + std::string(e->Type()) + "#" + std::string(e->Remark());
  const std::string newKeyText = address + ":" + port + "@" + type;
  const std::string newLine = newKeyText + "#" + remark;

  if (remark != e->Remark()) list.SetRemark(row, remark);

  if (newKeyText != oldKey) {
    if (list.ContainsKey(newKeyText) && !qb::AsciiCaseEqual(newKeyText, oldKey))
      return ModifyOutcome::Duplicate;
    std::string newRemark = remark;
    if (newRemark.empty() && lookup) newRemark = lookup(address);
    list.ChangeProxy(row, address, port, type);
    list.SetTimeStatus(row, kStatusUnverified);
    list.SetRemark(row, newRemark);
    list.SelectRow(row, true);
    if (!qb::AsciiCaseEqual(newKeyText, oldKey)) list.SetFavorite(row, false);
  }
  return qb::AsciiCaseEqual(newLine, oldLine) ? ModifyOutcome::Unchanged : ModifyOutcome::Changed;
}

int CleanProxyList(CProxyListModel& list) {
  std::vector<int> doomed;
  for (int row = 0; row < list.RowCount(); ++row) {
    const CProxyEntry* e = list.Entry(row);
    const std::string statusText = e->TimeStatus();
    const std::string_view status = qb::Trim(statusText);
    const bool failed =
        status == kStatusConnectFailed || status == kStatusMismatch || status == kStatusTimeout;
    if (failed && (e->Remark().empty() || e->Remark()[0] != '!')) doomed.push_back(row);
  }
  list.RemoveRows(doomed);
  return static_cast<int>(doomed.size());
}

std::string CopyProxyText(const CProxyListModel& list, int row) {
  const std::string line = list.GetProxyLine(row);
  const std::size_t at = line.find('@');
  if (at == std::string::npos || at <= 6) return {};
  return line.substr(0, at);
}

std::string ProxyLinesText(const CProxyListModel& list, std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  std::string out;
  for (int row : rows) {
    const CProxyEntry* e = list.Entry(row);
    if (!e) continue;
    AppendFileLine(out, *e);
    out.push_back('\n');
  }
  return out;
}

}  // namespace qb
