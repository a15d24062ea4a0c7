// Qt's own texts in the interface's language.
//
// The interface speaks Chinese, but the standard buttons of a message box, the file
// choosers and the context menus of the text fields come from Qt, in English unless
// Qt's own catalogue is loaded: a Chinese question would end in "Yes" and "No".
#pragma once

#include <QTranslator>

#include <memory>

namespace qb {

// Installs Qt's catalogue for the interface's language (Simplified Chinese) and
// returns it; it is in force until the returned object is destroyed. Null when the
// catalogue is not installed (Debian's qt6-translations-l10n has it): Qt's texts then
// stay English.
std::unique_ptr<QTranslator> InstallQtTranslations();

}  // namespace qb
