#include "base/Files.h"
#include "cli/Cli.h"
#include "base/ProgramDir.h"
#include "settings/Settings.h"

namespace cli {

int RunSettings(const QStringList& args) {
  if (WantsHelp(args)) {
    Out("Usage: quillberry-cli settings [--data-dir DIR]\n"
        "\n"
        "Loads Setting.dat from the data directory as the program does at start-up (a\n"
        "first start installs and saves the built-in verification resources; autorun is\n"
        "left alone) and prints the ten settings as key=value lines, then one line per\n"
        "verification resource: the tick (1 or 0), the name, the URL and the feature\n"
        "string, separated by tabs.\n"
        "Exit status: 0 loaded, 1 Setting.dat could not be read, 2 bad usage.");
    return kExitOk;
  }
  if (!args.isEmpty()) {
    Err("settings takes no arguments but --data-dir");
    return kExitUsage;
  }
  CSettings settings;
  const bool loaded = LoadSettings(settings, ProgramDir());
  for (const std::string& line : SettingLines(settings)) Out(line);
  for (const CVerifySource& v : settings.m_aVerifySources) {
    Out(std::string(v.m_bChecked > 0 ? "1" : "0") + "\t" + v.m_sName + "\t" + v.m_sUrl + "\t" + v.m_sFeature);
  }
  return loaded ? kExitOk : kExitNotFound;
}

}  // namespace cli
