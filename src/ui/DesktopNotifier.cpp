#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace qb {

CDesktopNotifier::CDesktopNotifier(QDBusConnection bus) : m_bus(std::move(bus)) {}

bool CDesktopNotifier::Notify(const QString& summary, const QString& body) {
  if (!m_bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath,
                                                     kNotificationsService, QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1:
  // as the service likes).
  call << QStringLiteral("Quillberry") << 0u << QStringLiteral("network-proxy") << summary << body
       << QStringList() << QVariantMap() << -1;
  // Never started on demand: a desktop without a service would stall the first call.
  call.setAutoStartService(false);
  return m_bus.send(call);
}

}  // namespace qb
