#include "app/ProxyApp.h"

using namespace qb;

int main(int argc, char** argv) {
  CProxyApp app(argc, argv);
  return app.Run();
}
