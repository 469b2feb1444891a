#include "platform/login1.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <atomic>

#include "platform/desktop.h"

namespace {

constexpr int kReplyTimeoutMs = 10000;

// Read at every request: the D-Bus library reads it only once per process.
QString SystemBusAddress() {
    const QByteArray configured = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    return configured.isEmpty() ? QStringLiteral("unix:path=/var/run/dbus/system_bus_socket")
                                : QString::fromLocal8Bit(configured);
}

// Qt may keep a closed connection under its name for a while, so each
// request names its own.
QString FreshConnectionName() {
    static std::atomic<int> requests{0};
    return QStringLiteral("quellmere-login1-%1").arg(++requests);
}

QString MethodFor(uint32_t flags) {
    if (flags & kExitReboot) return QStringLiteral("Reboot");
    if (flags & (kExitPowerOff | kExitShutdown)) return QStringLiteral("PowerOff");
    return QString();
}

}  // namespace

bool RequestLogin1Exit(uint32_t flags) {
    const QString method = MethodFor(flags);
    if (method.isEmpty()) return false;
    // A connection of our own for the one call, to the system bus the
    // environment names now.
    const QString connectionName = FreshConnectionName();
    bool accepted = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(SystemBusAddress(), connectionName);
        if (bus.isConnected()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), method);
            // Not interactive: no one is asked, not even for a password.
            call << false;
            accepted = bus.call(call, QDBus::Block, kReplyTimeoutMs).type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return accepted;
}
