// What this program changed in the desktop's proxy settings: the desktop's own setting
// from before the first change, and what the program set last. Kept in a file of its
// own in the data directory (DesktopProxy.state, owner-only: a proxy's log-on may be
// in it), so that whatever ends the program - an exit, a crash, a power cut - the
// setting the user had can be given back, and a desktop still pointing at a proxy of
// this program can be told from one the user or another program chose.
//
// The file exists exactly while the desktop holds a setting of this program: the first
// change writes it, giving the earlier setting back removes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/OpResult.h"
#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

inline constexpr const char* kDesktopRecordFileName = "DesktopProxy.state";

struct DesktopRecord {
  // The desktop's own settings before this program first changed them.
  ConnectionProxySettings before;
  // What this program wrote last, and the proxy line it set ("A:P@TYPE"; empty when it
  // cleared the proxy).
  ConnectionProxySettings set;
  std::string line;
  // The line is the local endpoint's: a process of this program answers there (the
  // window's own endpoint or the endpoint's service), not a proxy of the list.
  bool endpoint = false;

  bool operator==(const DesktopRecord&) const = default;
};

std::string FormatDesktopRecord(const DesktopRecord& record);
// nullopt when the text is no record (no [Before] section).
std::optional<DesktopRecord> ParseDesktopRecord(std::string_view text);

// The record of a data directory: nullopt when there is none, or when it cannot be read
// (error then says why).
std::optional<DesktopRecord> LoadDesktopRecord(const std::string& dataDir, std::string* error = nullptr);
qb::OpResult SaveDesktopRecord(const std::string& dataDir, const DesktopRecord& record);
qb::OpResult RemoveDesktopRecord(const std::string& dataDir);

// Whether the settings read from the desktop hold what was written, as far as the
// browsers are concerned: the kind of proxy, and the server or the script URL that kind
// uses. The back ends re-spell what they store (the order of the entries, the spelling
// of the bypass list, the flags they add), so nothing else is compared.
bool SettingsHold(const ConnectionProxySettings& held, const ConnectionProxySettings& written);

// What a desktop still holding this program's setting gets when the proxy there does
// not answer.
enum class RepairAction {
  None,     // nothing to repair: no setting of ours, it answers, or another program's
  Keep,     // blocking: the setting stays, and the user is told that programs fail
  Restore,  // going direct: the earlier setting comes back
};
RepairAction DecideRepair(bool recordHeld, bool answers, bool goDirect);

}  // namespace qb
