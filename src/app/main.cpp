#include <cstdio>
#include <string_view>

#include "app/ProxyApp.h"
#include "base/Version.h"

using namespace qb;

int main(int argc, char** argv) {
  // Answered before the application object exists, which needs a display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kWindowUsage, stdout);
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
