#include <QCoreApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/ProxyApp.h"
#include "base/Language.h"
#include "base/Translate.h"
#include "base/Version.h"

using namespace qb;

namespace {

// Qt's own options, which the application object takes off the line itself (a session
// manager restarts a program with -session, a user may ask for -platform or -style).
// Qt reads them with one dash or two.
bool IsQtOption(std::string_view arg, bool& takesValue) {
  static constexpr std::string_view kWithValue[] = {
      "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
      "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
      "style",       "stylesheet",         "name"};
  static constexpr std::string_view kFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
  if (!arg.starts_with('-')) return false;
  arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
  const std::size_t eq = arg.find('=');
  const std::string_view name = arg.substr(0, eq);
  for (std::string_view o : kWithValue) {
    if (name == o) {
      takesValue = eq == std::string_view::npos;
      return true;
    }
  }
  for (std::string_view o : kFlags) {
    if (name == o && eq == std::string_view::npos) {
      takesValue = false;
      return true;
    }
  }
  return name == "qmljsdebugger" && eq != std::string_view::npos;
}

int UsageError(const std::string& what) {
  std::fprintf(stderr, "quillberry: %s\nRun 'quillberry --help' for usage.\n", what.c_str());
  return 2;
}

// What the application object reports when it cannot reach a display ends the process
// with an abort; the user gets the reason and the exit status of a start that failed.
bool g_openingDisplay = false;
QtMessageHandler g_qtHandler = nullptr;
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg && g_openingDisplay) {
    auto shown = [](const char* name) {
      const QByteArray value = qgetenv(name);
      return std::string(name) + (value.isEmpty() ? " unset" : "=" + value.toStdString());
    };
    std::fprintf(stderr,
                 "quillberry: cannot open the window: no display could be reached (%s, %s, %s)\n"
                 "quillberry-cli does the program's jobs without one.\n",
                 shown("DISPLAY").c_str(), shown("WAYLAND_DISPLAY").c_str(),
                 shown("QT_QPA_PLATFORM").c_str());
    std::_Exit(1);
  }
  if (g_qtHandler) g_qtHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the application object exists, which needs a display.
  std::optional<std::string> languageOption;
  bool platformChosen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--lang" && i + 1 < argc) languageOption = argv[i + 1];
    if (arg.starts_with("--lang=")) languageOption = std::string(arg.substr(7));
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      const QCoreApplication core(argc, argv);
      const CLanguageCatalogues catalogues(
          ChooseLanguage(languageOption, LanguageSetting(), QLocale::system().uiLanguages()));
      std::fputs(TrHelp(kWindowUsage).toUtf8().constData(), stdout);
      std::fputs(TrHelp(kWindowUsageMore).toUtf8().constData(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quillberry %s\n", kVersion);
      return 0;
    }
  }
  // A mistyped option would otherwise start the window as if it had not been given.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--data-dir" || arg == "--lang") {
      if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
      ++i;
      continue;
    }
    if (arg.starts_with("--data-dir=") || arg.starts_with("--lang=") || arg == "--verify-all" ||
        arg == "--cancel-proxy")
      continue;
    bool takesValue = false;
    if (IsQtOption(arg, takesValue)) {
      platformChosen = platformChosen || arg.find("platform") != std::string_view::npos;
      if (takesValue && ++i >= argc) return UsageError(std::string(arg) + " needs a value");
      continue;
    }
    return UsageError("unknown option or argument: " + std::string(arg));
  }
  if (languageOption && !ParseLanguage(*languageOption))
    return UsageError("--lang " + *languageOption + ": not a language of the interface (use zh or en)");

  if (!platformChosen && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
      qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fputs(
        "quillberry: cannot open the window: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is "
        "set)\n"
        "quillberry-cli does the program's jobs without one.\n",
        stderr);
    return 1;
  }
  g_qtHandler = qInstallMessageHandler(OnQtMessage);
  g_openingDisplay = true;
  CProxyApp app(argc, argv);
  g_openingDisplay = false;
  return app.Run();
}
