// Starting the program when the user logs on: an XDG autostart entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

class CSettings;

// $XDG_CONFIG_HOME/autostart/Quillberry.desktop (~/.config when the variable is unset
// or not an absolute path).
std::string AutostartEntryPath();

// The Exec value that runs exactly this program file: the path as one argument,
// quoted and escaped as desktop entries require.
std::string DesktopExecValue(std::string_view executablePath);

// The Exec value of several arguments, each quoted and escaped as above.
std::string DesktopExecValue(const std::vector<std::string>& args);

// Writes the autostart entry for executablePath (empty: the running executable) when
// m_bAutoRun is set, removes it otherwise. Best-effort and silent. The entry starts
// the list of dataDir: a directory other than the default is passed as --data-dir.
void ApplyAutoRun(const CSettings& settings, const std::string& executablePath = std::string(),
                  const std::string& dataDir = std::string());

}  // namespace qb
