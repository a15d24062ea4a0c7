// The interface's words in the user's language.
//
// The Chinese texts are the source texts, written where they always were; the English
// catalogue maps each to its translation. Texts are kept untranslated inside the
// program (the core compares, stores and reports them as they are) and translated
// where they reach the user: a widget, a message box, a line of the command line. A
// text is marked for the translation tools where it is written:
//   inline constexpr const char* kMsgX = QT_TRANSLATE_NOOP("Quillberry", "…");
#pragma once

#include <QString>
#include <QtGlobal>

#include <string>
#include <string_view>

namespace qb {

// The context of the interface's texts: the marks above name it literally, which is
// what the translation tools read.
inline constexpr const char* kTrContext = "Quillberry";
// The context of the help texts of the two executables (--help), whose source texts
// are English, as manual pages and terminals want them; the Chinese catalogue
// translates them:
//   QT_TRANSLATE_NOOP("QuillberryHelp", "print this text")
inline constexpr const char* kTrHelpContext = "QuillberryHelp";

// A source text in the interface's language (itself when the catalogue has none).
QString Tr(const char* source);
QString Tr(std::string_view source);
std::string TrStd(std::string_view source);
// A help text in the interface's language.
QString TrHelp(const char* source);

// A text that is a source text, or is composed of source texts and data, one per line
// ("打开文件失败！\n/path"): each line that is a source text is translated, the others
// (paths, errors) are kept.
QString TrLines(std::string_view text);

}  // namespace qb
