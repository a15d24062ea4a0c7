#include "base/Files.h"
#include "base/Prompt.h"
#include "cli/Cli.h"
#include "base/ProgramDir.h"
#include "settings/Settings.h"
#include "sysproxy/SystemProxy.h"

namespace cli {

namespace {

// Shows messages as the command line does and remembers that one was shown: every
// message of the system proxy reports a failure.
class CountingPrompt : public qb::StderrPrompt {
 public:
  CountingPrompt() : m_previous(qb::SetPrompt(this)) {}
  ~CountingPrompt() override { qb::SetPrompt(m_previous); }
  CountingPrompt(const CountingPrompt&) = delete;
  CountingPrompt& operator=(const CountingPrompt&) = delete;

  qb::MsgResult Message(const std::string& text, const std::string& caption, qb::MsgIcon icon,
                        qb::MsgButtons buttons) override {
    ++count;
    return StderrPrompt::Message(text, caption, icon, buttons);
  }
  int count = 0;

 private:
  qb::IUserPrompt* m_previous;
};

// The mode the program itself would use: the setting in the data directory. Without a
// Setting.dat the default stands; nothing is written for a mere look-up.
int ModeFromSettings() {
  if (!qb::FileExists(qb::JoinPath(ProgramDir(), kSettingFileName))) return CSettings().m_nAutoProxyConfig;
  CSettings settings;
  LoadSettings(settings, ProgramDir());
  return settings.m_nAutoProxyConfig;
}

}  // namespace

int RunProxy(const QStringList& argsIn) {
  if (WantsHelp(argsIn) || argsIn.isEmpty()) {
    const std::string usage =
        "Usage: quillberry-cli proxy get\n"
        "       quillberry-cli proxy set TEXT [--mode 0|1|2]\n"
        "       quillberry-cli proxy clear [--mode 0|1|2]\n"
        "\n"
        "get    prints the desktop's proxy server (empty line when none is stored).\n"
        "set    makes TEXT (address:port, or a proxy line address:port@type) the desktop's\n"
        "       proxy and prints it as set; a TEXT that is no valid proxy clears the proxy.\n"
        "clear  clears the desktop's proxy.\n"
        "set and clear write proxy.pac into the data directory, as the program does.\n"
        "--mode 0 sets the proxy directly, 1 through the default auto-config script,\n"
        "       2 through the script made from UserdefinedTemplate.pac (default: the\n"
        "       setting m_nAutoProxyConfig in the data directory's Setting.dat).\n"
        "Exit status: 0 done, 1 something failed (reported on standard error) or TEXT\n"
        "was no valid proxy, 2 bad usage.";
    if (argsIn.isEmpty()) {
      Err(usage);
      return kExitUsage;
    }
    Out(usage);
    return kExitOk;
  }

  QStringList args = argsIn;
  const QString action = args.takeFirst();
  int mode = -1;
  for (int i = 0; i < args.size(); ++i) {
    QString value;
    if (args[i] == "--mode") {
      if (i + 1 >= args.size()) {
        Err("--mode needs 0, 1 or 2");
        return kExitUsage;
      }
      value = args[i + 1];
      args.remove(i, 2);
    } else if (args[i].startsWith("--mode=")) {
      value = args[i].mid(7);
      args.remove(i);
    } else {
      continue;
    }
    if (value != "0" && value != "1" && value != "2") {
      Err("--mode needs 0, 1 or 2");
      return kExitUsage;
    }
    mode = value.toInt();
    --i;
  }

  if (action == "get") {
    if (!args.isEmpty() || mode != -1) {
      Err("proxy get takes no arguments");
      return kExitUsage;
    }
    CountingPrompt prompt;
    CSystemProxy proxy;
    proxy.GetIEProxy();
    Out(proxy.m_sIEProxy);
    return prompt.count == 0 ? kExitOk : kExitNotFound;
  }
  if (action == "set" || action == "clear") {
    const bool set = action == "set";
    if (args.size() != (set ? 1 : 0)) {
      Err(set ? "proxy set takes one TEXT" : "proxy clear takes no TEXT");
      return kExitUsage;
    }
    // Read before counting: a note of the settings loader is no failure of the proxy.
    if (mode < 0) mode = ModeFromSettings();
    CountingPrompt prompt;
    CSystemProxy proxy;
    proxy.SetAutoProxyConfig(mode);
    if (set) {
      proxy.SetIEProxy(args.front().toStdString());
      Out(proxy.m_sIEProxy);
      if (proxy.m_sIEProxy.empty()) {
        Err("not a valid proxy: the system proxy was cleared");
        return kExitNotFound;
      }
    } else {
      proxy.OnCancelIEProxy();
    }
    return prompt.count == 0 ? kExitOk : kExitNotFound;
  }
  Err("unknown proxy action: " + action.toStdString() + " (get, set or clear)");
  return kExitUsage;
}

}  // namespace cli
