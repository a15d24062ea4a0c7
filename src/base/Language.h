// Which language the interface speaks, and its catalogues.
//
// Chinese for a user whose locale is Chinese, English for everyone else. The texts of
// the program are Chinese; English comes from the program's catalogue. Qt's own texts
// (the buttons of a message box, the file choosers, the context menus of text fields)
// come from Qt's catalogue for the same language, so that a Chinese question does not
// end in "Yes" and "No".
#pragma once

#include <QStringList>
#include <QTranslator>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qb {

enum class UiLanguage { Chinese, English };

// "zh", "zh_CN", "zh-TW", "chinese" → Chinese; "en", "en_GB", "english" → English;
// anything else → none.
std::optional<UiLanguage> ParseLanguage(std::string_view text);
// The short code written by --lang and the setting: "zh" or "en".
const char* LanguageCode(UiLanguage language);
// The language of a locale's list of interface languages, most preferred first (what
// QLocale::system().uiLanguages() returns: LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
UiLanguage LanguageOfLocale(const QStringList& uiLanguages);
// --lang first, then the setting, then the locale.
UiLanguage ChooseLanguage(const std::optional<std::string>& option, const std::optional<std::string>& setting,
                          const QStringList& uiLanguages);

// The setting: "language" in Quillberry/interface.ini of the user's configuration
// directory ($XDG_CONFIG_HOME, or ~/.config), "zh", "en", or absent for the locale.
std::string InterfaceSettingsPath();
std::optional<std::string> LanguageSetting();
bool SaveLanguageSetting(const std::optional<UiLanguage>& language);

// The catalogues of one language, installed in the application while this lives.
class CLanguageCatalogues {
 public:
  explicit CLanguageCatalogues(UiLanguage language);
  ~CLanguageCatalogues();
  CLanguageCatalogues(const CLanguageCatalogues&) = delete;
  CLanguageCatalogues& operator=(const CLanguageCatalogues&) = delete;

  UiLanguage Language() const { return m_language; }
  // Whether each catalogue is in force: the program's own (built in, so always for a
  // sound build) and, for Chinese, Qt's (Debian's qt6-translations-l10n).
  bool ProgramCatalogueLoaded() const { return m_program != nullptr; }
  bool QtCatalogueLoaded() const { return m_qt != nullptr; }

 private:
  UiLanguage m_language;
  UiLanguage m_previous;
  std::unique_ptr<QTranslator> m_program;
  std::unique_ptr<QTranslator> m_qt;
};

// The language of this process, as the innermost CLanguageCatalogues alive makes it
// (Chinese without one).
UiLanguage CurrentLanguage();

}  // namespace qb
