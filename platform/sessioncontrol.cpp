#include "platform/sessioncontrol.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>

namespace tessaly {

QString LogindSessionControl::EndSession(Ending ending) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return QStringLiteral("the system bus is not available: ") + bus.lastError().message();
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    if (!manager.isValid())
        return QStringLiteral("systemd-logind is not available: ") + manager.lastError().message();
    // The argument is "interactive": false, so no password dialog can hold the request.
    const QDBusMessage reply =
        manager.call(ending == Ending::PowerOff ? QStringLiteral("PowerOff") : QStringLiteral("Reboot"), false);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return {};
}

} // namespace tessaly
