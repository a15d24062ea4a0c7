#include "app/ProxyApp.h"

int main(int argc, char** argv) {
  CProxyApp app(argc, argv);
  return app.Run();
}
