#pragma once
// What the browsing and the announcing code share of the Avahi daemon's D-Bus API. Included
// by platform sources built with D-Bus only.

#include <QDBusConnection>
#include <QDBusError>
#include <QString>
#include <atomic>

namespace Avahi {

inline const QString Service = QStringLiteral("org.freedesktop.Avahi");
inline const QString ServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
inline const QString BrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
inline const QString EntryGroupInterface = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
// The service a receiver announces: its user's name in a TXT record, on its reply port.
inline const QString PeopleType = QStringLiteral("_quorvane._tcp");

constexpr int AnyInterface = -1;
constexpr int AnyProtocol = -1;
constexpr int ProtocolIPv4 = 0;

// A connection of its own to the system bus that the environment names now (the process's
// shared one stays on whichever bus it met first). When it closes, the daemon drops what was
// registered through it.
inline QDBusConnection ConnectSystemBus(const char* purpose)
{
    static std::atomic<int> made{0};
    const QString name = QStringLiteral("quorvane-%1-%2").arg(QLatin1String(purpose)).arg(++made);
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                              : QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected())
        QDBusConnection::disconnectFromBus(name);
    return bus;
}

// Why the daemon cannot be asked, in words for the user.
inline QString Problem(const QDBusError& error)
{
    if (error.type() == QDBusError::ServiceUnknown)
        return QStringLiteral("the Avahi daemon is not running");
    return error.message();
}

} // namespace Avahi
