// Notifications through the desktop's notification service (the freedesktop
// Notifications interface on the session bus), which shows them whether or not the
// window is visible and whatever the desktop's tray can do.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace qb {

inline constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";

class CDesktopNotifier {
 public:
  // Sends to the service on bus; by default the session's bus.
  explicit CDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

  // Sends one notification without waiting for the service: a desktop without one
  // simply shows nothing. False only when there is no bus to send on.
  bool Notify(const QString& summary, const QString& body);

 private:
  QDBusConnection m_bus;
};

}  // namespace qb
