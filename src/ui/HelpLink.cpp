#include "ui/HelpLink.h"
#include "base/Language.h"
#include "base/Translate.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMouseEvent>

#include "base/ProgramDir.h"
#include "ui/Resources.h"

namespace qb {

namespace {

constexpr const char* kCredit = QT_TRANSLATE_NOOP("Quillberry", "Quillberry 开发组");

bool IsRemote(const QString& link) {
  const QUrl url(link);
  return url.isValid() && url.scheme().size() > 1 && !url.isLocalFile();
}

// Directories to look in, most important first, from an XDG variable and its default.
QStringList XdgDirs(const char* variable, const QString& fallback) {
  const QString value = qEnvironmentVariable(variable);
  return (value.isEmpty() ? fallback : value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

// Whether a desktop-entry style file ("[group]" lines, then "key=value" lines) names
// an application for one of the types in one of the groups. Read by hand: the keys
// hold "/" and the values ";", which QSettings would take as syntax.
bool NamesApplication(const QString& path, const QStringList& groups, const QStringList& types) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  bool inGroup = false;
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inGroup = line.endsWith(QLatin1Char(']')) && groups.contains(line.mid(1, line.size() - 2));
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (!inGroup || eq <= 0) continue;
    if (!types.contains(line.left(eq).trimmed())) continue;
    const QStringList apps = line.mid(eq + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& app : apps) {
      if (!app.trimmed().isEmpty()) return true;
    }
  }
  return false;
}

}  // namespace

DesktopAssociationDirs DesktopAssociationDirsFromEnvironment() {
  const QString home = QDir::homePath();
  DesktopAssociationDirs dirs;
  dirs.configHome = qEnvironmentVariable("XDG_CONFIG_HOME", home + "/.config");
  dirs.dataDirs << qEnvironmentVariable("XDG_DATA_HOME", home + "/.local/share");
  dirs.dataDirs += XdgDirs("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
  return dirs;
}

bool HasDesktopHandler(const QString& filePath) {
  return HasDesktopHandler(filePath, DesktopAssociationDirsFromEnvironment());
}

bool HasDesktopHandler(const QString& filePath, const DesktopAssociationDirs& dirs) {
  const QMimeType mime = QMimeDatabase().mimeTypeForFile(filePath, QMimeDatabase::MatchExtension);
  if (!mime.isValid() || mime.isDefault()) return false;
  QStringList types{mime.name()};
  types += mime.aliases();

  const QStringList associations{QStringLiteral("Default Applications"),
                                 QStringLiteral("Added Associations")};
  if (NamesApplication(dirs.configHome + "/mimeapps.list", associations, types)) return true;
  for (const QString& dir : dirs.dataDirs) {
    if (NamesApplication(dir + "/applications/mimeapps.list", associations, types)) return true;
    if (NamesApplication(dir + "/applications/mimeinfo.cache", {QStringLiteral("MIME Cache")}, types))
      return true;
  }
  return false;
}

CHelpLink::CHelpLink(QWidget* parent)
    : QLabel(parent),
      m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      m_handlerCheck([](const QString& path) { return qb::HasDesktopHandler(path); }) {
  setObjectName("1058");
  setPixmap(qb::ResourceIcon(IDI_HELP).pixmap(32, 32));
  setAlignment(Qt::AlignCenter);
  setCursor(Qt::PointingHandCursor);
  setMouseTracking(true);
}

QString CHelpLink::HelpCaption() {
  return qb::Tr(QT_TRANSLATE_NOOP("Quillberry", "帮助（%1）")).arg(qb::Tr(kCredit));
}

QString CHelpLink::HtmlHelpFor(const QString& helpPath) {
  const QFileInfo info(helpPath);
  // The English document where the interface speaks English, else the Chinese one.
  QStringList names{info.completeBaseName() + ".html"};
  if (qb::CurrentLanguage() == qb::UiLanguage::English) names.prepend(info.completeBaseName() + ".en.html");
  // Beside the data, beside the program (the build tree), or where an installed
  // program keeps it.
  const QString appDir = QCoreApplication::applicationDirPath();
  for (const QString& name : names) {
    for (const QString& dir :
         {info.path(), appDir, appDir + "/../" + QString::fromUtf8(kInstalledShareDir)}) {
      const QString candidate = QDir(dir).filePath(name);
      if (QFile::exists(candidate)) return QFileInfo(candidate).absoluteFilePath();
    }
  }
  return {};
}

void CHelpLink::SetLinkUrl(const QString& link) {
  m_sLinkUrl = link;
  setToolTip(HelpCaption());
}

bool CHelpLink::OpenLink() {
  if (m_sLinkUrl.isEmpty()) return false;
  if (IsRemote(m_sLinkUrl)) return m_opener(QUrl(m_sLinkUrl));

  const QString path = QUrl(m_sLinkUrl).isLocalFile() ? QUrl(m_sLinkUrl).toLocalFile() : m_sLinkUrl;
  const QUrl target = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  if (!path.endsWith(QLatin1String(".chm"), Qt::CaseInsensitive)) return m_opener(target);

  // Few desktops here open a .chm, and the desktop's opener reports success as soon
  // as it has started, handler or not: so ask first whether anything would open it.
  const QString html = HtmlHelpFor(path);
  if (QFile::exists(path) && m_handlerCheck(path) && m_opener(target)) return true;
  if (!html.isEmpty()) return m_opener(QUrl::fromLocalFile(html));
  return m_opener(target);
}

void CHelpLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_pressed = true;
  QLabel::mousePressEvent(event);
}

void CHelpLink::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  m_pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click) {
    emit clicked();
    OpenLink();
  }
}

void CHelpLink::enterEvent(QEnterEvent* event) {
  m_bCaptured = 1;
  QLabel::enterEvent(event);
}

void CHelpLink::leaveEvent(QEvent* event) {
  m_bCaptured = 0;
  QLabel::leaveEvent(event);
}

}  // namespace qb
