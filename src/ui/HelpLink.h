// The help link of the main window: an icon label with a pointing hand and a tooltip
// that opens the help document with the desktop's viewer.
#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace qb {

class CHelpLink : public QLabel {
  Q_OBJECT

 public:
  // Opens a URL with the desktop's handler; true when that was started.
  using Opener = std::function<bool(const QUrl&)>;
  // Whether the desktop has an application for a file.
  using HandlerCheck = std::function<bool(const QString& filePath)>;

  explicit CHelpLink(QWidget* parent = nullptr);

  // "帮助（...）", the tooltip once the link is set.
  static QString HelpCaption();
  // The HTML help of a help file: the same name with ".html", beside the help file,
  // or else beside the executable (where it is installed when the data files live
  // elsewhere). Empty when neither exists.
  static QString HtmlHelpFor(const QString& helpPath);

  // What a click opens: a file path or an address.
  void SetLinkUrl(const QString& link);
  const QString& LinkUrl() const { return m_sLinkUrl; }

  // Tests give their own, so that no viewer is started.
  void SetOpener(Opener opener) { m_opener = std::move(opener); }
  void SetHandlerCheck(HandlerCheck check) { m_handlerCheck = std::move(check); }

  // Opens the link. A help file (.chm) that is missing, that no application on the
  // desktop opens, or that fails to open gives way to the HTML help beside it.
  // Returns what the opener answered.
  bool OpenLink();

  // The pointer is over the label.
  int m_bCaptured = 0;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QString m_sLinkUrl;
  Opener m_opener;
  HandlerCheck m_handlerCheck;
  bool m_pressed = false;
};

// Where the desktop keeps its application associations.
struct DesktopAssociationDirs {
  QString configHome;    // $XDG_CONFIG_HOME: mimeapps.list
  QStringList dataDirs;  // $XDG_DATA_HOME, then $XDG_DATA_DIRS: applications/mimeapps.list, mimeinfo.cache
};
DesktopAssociationDirs DesktopAssociationDirsFromEnvironment();

// True when the desktop's application associations name an application for the
// file's type.
bool HasDesktopHandler(const QString& filePath);
bool HasDesktopHandler(const QString& filePath, const DesktopAssociationDirs& dirs);

}  // namespace qb
