#include "base/Files.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "datadir/DataDir.h"
#include "settings/Settings.h"
#include "ui/Messages.h"

namespace qb::cli {

int RunSettings(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(
        QT_TRANSLATE_NOOP("QuillberryHelp",
                          "Usage: quillberry-cli settings [--data-dir DIR]\n"
                          "\n"
                          "Loads Setting.dat from the data directory as the program does at start-up and\n"
                          "prints the ten settings as key=value lines, then one line per verification\n"
                          "resource: the tick (1 or 0), the name, the URL and the feature string, separated\n"
                          "by tabs. Without Setting.dat, or without a resource in it, the built-in ones are\n"
                          "printed and standard error says so; nothing is written (the window's first start\n"
                          "saves the settings) and autorun is left alone.\n"
                          "Exit status: 0 loaded, 1 Setting.dat could not be read, 2 bad usage or a\n"
                          "--data-dir that does not exist.")));
    return kExitOk;
  }
  if (!args.isEmpty()) {
    Err("settings takes no arguments but --data-dir");
    return kExitUsage;
  }
  const std::unique_ptr<DataDir> dir = OpenDataDirToRead(dataDir);
  bool defaultsInstalled = false;
  const qb::OpResult loaded = dir->LoadSettings(&defaultsInstalled, DataDir::BuiltInResources::Hold);
  if (defaultsInstalled)
    Err("settings: " +
        std::string(dir->Exists(DataFile::Settings) ? "Setting.dat holds no verification resource"
                                                    : "no Setting.dat") +
        " in " + dir->Path() + " yet: these are the built-in settings and resources (nothing was written)");
  const CSettings& settings = dir->Settings();
  // The window's words too, for those who know them, then the file and the cause.
  if (loaded.status == qb::OpStatus::ReadFailed)
    Err(qb::TrStd(QT_TRANSLATE_NOOP("Quillberry", "初始化")) + ": " +
        qb::TrStd(QT_TRANSLATE_NOOP("Quillberry", "打开设置文件失败！")));
  int exitCode = ReportFailure("settings", loaded);
  // An unreadable Setting.dat has always been status 1 here.
  if (exitCode == kExitUnreadable) exitCode = kExitNotFound;
  for (const std::string& line : SettingLines(settings)) Out(line);
  for (const CVerifySource& v : settings.m_aVerifySources) {
    Out(std::string(v.m_bChecked > 0 ? "1" : "0") + "\t" + v.m_sName + "\t" + v.m_sUrl + "\t" + v.m_sFeature);
  }
  return exitCode;
}

}  // namespace qb::cli
