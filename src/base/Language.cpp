#include "base/Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>

#include "base/Text.h"

namespace qb {

namespace {
UiLanguage g_current = UiLanguage::Chinese;
constexpr const char* kLanguageKey = "language";
}  // namespace

std::optional<UiLanguage> ParseLanguage(std::string_view text) {
  const std::string lower = qb::AsciiLower(qb::Trim(text));
  auto startsWithCode = [&](std::string_view code) {
    return lower.starts_with(code) && (lower.size() == code.size() || lower[code.size()] == '_' ||
                                       lower[code.size()] == '-' || lower[code.size()] == '.');
  };
  if (startsWithCode("zh") || lower == "chinese") return UiLanguage::Chinese;
  if (startsWithCode("en") || lower == "english") return UiLanguage::English;
  return std::nullopt;
}

const char* LanguageCode(UiLanguage language) {
  return language == UiLanguage::Chinese ? "zh" : "en";
}

UiLanguage LanguageOfLocale(const QStringList& uiLanguages) {
  // Only the first choice counts: a user who prefers German with Chinese second reads
  // the English interface more easily than half of one.
  if (!uiLanguages.isEmpty() && ParseLanguage(uiLanguages.front().toStdString()) == UiLanguage::Chinese)
    return UiLanguage::Chinese;
  return UiLanguage::English;
}

UiLanguage ChooseLanguage(const std::optional<std::string>& option, const std::optional<std::string>& setting,
                          const QStringList& uiLanguages) {
  if (option) {
    if (const auto chosen = ParseLanguage(*option)) return *chosen;
  }
  if (setting) {
    if (const auto chosen = ParseLanguage(*setting)) return *chosen;
  }
  return LanguageOfLocale(uiLanguages);
}

std::string InterfaceSettingsPath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!base.startsWith('/')) base = QDir::homePath() + QStringLiteral("/.config");
  return (base + QStringLiteral("/Quillberry/interface.ini")).toStdString();
}

std::optional<std::string> LanguageSetting() {
  const QSettings ini(QString::fromStdString(InterfaceSettingsPath()), QSettings::IniFormat);
  const QString value = ini.value(kLanguageKey).toString();
  if (value.isEmpty()) return std::nullopt;
  return value.toStdString();
}

bool SaveLanguageSetting(const std::optional<UiLanguage>& language) {
  QSettings ini(QString::fromStdString(InterfaceSettingsPath()), QSettings::IniFormat);
  if (language)
    ini.setValue(kLanguageKey, QString::fromLatin1(LanguageCode(*language)));
  else
    ini.remove(kLanguageKey);
  ini.sync();
  return ini.status() == QSettings::NoError;
}

CLanguageCatalogues::CLanguageCatalogues(UiLanguage language) : m_language(language), m_previous(g_current) {
  auto install = [](std::unique_ptr<QTranslator> translator) -> std::unique_ptr<QTranslator> {
    if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
    return translator;
  };
  // The program's catalogue: the interface's texts in English, or the help texts in
  // Chinese.
  auto program = std::make_unique<QTranslator>();
  if (program->load(QStringLiteral(":/i18n/quillberry_%1.qm").arg(QLatin1String(LanguageCode(language)))))
    m_program = install(std::move(program));
  if (language == UiLanguage::Chinese) {
    // Qt speaks English by itself.
    auto qt = std::make_unique<QTranslator>();
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    if (qt->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      m_qt = install(std::move(qt));
  }
  g_current = language;
}

CLanguageCatalogues::~CLanguageCatalogues() {
  if (m_program) QCoreApplication::removeTranslator(m_program.get());
  if (m_qt) QCoreApplication::removeTranslator(m_qt.get());
  g_current = m_previous;
}

UiLanguage CurrentLanguage() {
  return g_current;
}

}  // namespace qb
