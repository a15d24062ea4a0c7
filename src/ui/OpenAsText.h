// Opens a file in the desktop's text editor.
#pragma once

#include <QString>

namespace qb {

// Starts the application the desktop has registered for plain text with the file;
// false when there is none or it could not be started.
bool OpenAsText(const QString& path);

}  // namespace qb
