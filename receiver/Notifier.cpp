#include "receiver/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <atomic>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

Notifier::Notifier(QObject* parent) : QObject(parent)
{
    static std::atomic<int> made{0};
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString name = QStringLiteral("quorvane-notifier-%1").arg(++made);
    // A connection of its own, so that the bus is the one of this moment, not the first
    // one anybody in the process asked for.
    QDBusConnection connection =
        address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                          : QDBusConnection::connectToBus(address, name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return;
    }
    bus = name;
    connection.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                       SLOT(actionInvoked(uint, QString)));
    connection.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                       SLOT(notificationClosed(uint, uint)));
}

Notifier::~Notifier()
{
    if (!bus.isEmpty())
        QDBusConnection::disconnectFromBus(bus);
}

void Notifier::notify(qint64 messageId, const QString& name, const QString& text)
{
    if (bus.isEmpty()) {
        emit unavailable(messageId, true);
        return;
    }
    if (absent()) {
        // Once a burst, not once a message.
        if (!inBurst)
            emit unavailable(messageId, false);
        inBurst = true;
        return;
    }
    const Note note{messageId, name, text};
    if (calling)
        next = note;
    else
        call(note);
}

void Notifier::call(const Note& note)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quorvane-receiver")}};
    // Servers may read the body as markup.
    message << QStringLiteral("Quorvane") << shown << QString() << note.name
            << note.text.section(QLatin1Char('\n'), 0, 0).toHtmlEscaped()
            << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints << -1;
    calling = true;
    inBurst = true;
    // Asynchronous: a slow or missing service never holds up the window.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(message, AnswerTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, note] {
        watcher->deleteLater();
        calling = false;
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            next.reset();
            const bool timedOut = reply.error().type() == QDBusError::NoReply ||
                                  reply.error().type() == QDBusError::Timeout;
            if (timedOut)
                absentSince.start();
            else
                inBurst = false;
            emit unavailable(note.messageId, !timedOut);
            return;
        }
        shown = reply.value();
        messages.insert(shown, note.messageId);
        if (next) {
            const Note newest = *next;
            next.reset();
            call(newest);
        }
    });
}

void Notifier::actionInvoked(uint id, const QString& action)
{
    if (action == QLatin1String("default") && messages.contains(id))
        emit clicked(messages.value(id));
}

void Notifier::notificationClosed(uint id, uint)
{
    messages.remove(id);
    if (id == shown)
        shown = 0;
}
