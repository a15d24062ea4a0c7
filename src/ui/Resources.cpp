#include "ui/Resources.h"

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so it must be
// called from the global one.
static void InitQuillberryResources() {
  Q_INIT_RESOURCE(quillberry);
}

namespace qb {

void InitResources() {
  static const bool done = (InitQuillberryResources(), true);
  (void)done;
}

QString ResourceIconPath(int id) {
  switch (id) {
    case IDR_MAINFRAME:
      return QStringLiteral(":/icons/app.svg");
    case IDI_IEPROXY:
      return QStringLiteral(":/icons/proxy-set.svg");
    case IDI_HELP:
      return QStringLiteral(":/icons/help.svg");
    default:
      return {};
  }
}

QIcon ResourceIcon(int id) {
  InitResources();
  const QString path = ResourceIconPath(id);
  return path.isEmpty() ? QIcon() : QIcon(path);
}

QString MenuResourcePath(int id) {
  return QStringLiteral(":/menus/%1.menu").arg(id);
}
QString ToolbarResourcePath(int id) {
  return QStringLiteral(":/toolbars/%1.toolbar").arg(id);
}

}  // namespace qb
