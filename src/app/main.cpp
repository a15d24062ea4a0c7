#include <QCoreApplication>
#include <QLocale>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/ProxyApp.h"
#include "base/Language.h"
#include "base/Translate.h"
#include "base/Version.h"

using namespace qb;

int main(int argc, char** argv) {
  // Answered before the application object exists, which needs a display.
  std::optional<std::string> languageOption;
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
      return 0;
    }
    if (arg == "--version") {
      std::printf("quillberry %s\n", kVersion);
      return 0;
    }
  }
  CProxyApp app(argc, argv);
  return app.Run();
}
