// GIO first: its headers name a member "signals", which Qt makes a keyword.
#include <gio/gio.h>

#include "ui/OpenAsText.h"

namespace qb {

bool OpenAsText(const QString& path) {
  GAppInfo* app = g_app_info_get_default_for_type("text/plain", FALSE);
  if (!app) return false;
  GFile* file = g_file_new_for_path(path.toUtf8().constData());
  GList files{file, nullptr, nullptr};
  const bool started = g_app_info_launch(app, &files, nullptr, nullptr);
  g_object_unref(file);
  g_object_unref(app);
  return started;
}

}  // namespace qb
