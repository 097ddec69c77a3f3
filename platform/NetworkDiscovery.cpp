#include "platform/NetworkDiscovery.h"

#include <QTimer>

#ifdef QUORVANE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString AvahiService = QStringLiteral("org.freedesktop.Avahi");
const QString ServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString BrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");

// Services that computers commonly announce; each names the computer's host.
const char* const ServiceTypes[] = {"_workstation._tcp", "_device-info._tcp", "_ssh._tcp",
                                    "_smb._tcp"};

constexpr int AnyInterface = -1;
constexpr int ProtocolIPv4 = 0;

} // namespace

#endif

NetworkDiscovery::NetworkDiscovery(QObject* parent) : QObject(parent) {}

void NetworkDiscovery::fail(const QString& reason)
{
    if (failed || !known.isEmpty())
        return;
    failed = true;
    emit unavailable(reason);
}

void NetworkDiscovery::onFailure(const QString& error)
{
    fail(error);
}

#ifndef QUORVANE_HAVE_DBUS

NetworkDiscovery::~NetworkDiscovery() = default;

void NetworkDiscovery::start()
{
    QTimer::singleShot(0, this, [this] { fail(tr("this system offers no DNS-SD browsing")); });
}

void NetworkDiscovery::onItemNew(int, int, const QString&, const QString&, const QString&, uint) {}

#else

NetworkDiscovery::~NetworkDiscovery()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    for (const QString& path : browsers) {
        QDBusMessage free =
            QDBusMessage::createMethodCall(AvahiService, path, BrowserInterface, "Free");
        bus.call(free, QDBus::NoBlock);
    }
}

void NetworkDiscovery::start()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        // Queued, so that whoever started us is connected to the signal first.
        QTimer::singleShot(0, this, [this] { fail(tr("no system message bus is running")); });
        return;
    }
    // Listen before asking, or the first answers could pass unheard.
    bus.connect(AvahiService, QString(), BrowserInterface, "ItemNew", this,
                SLOT(onItemNew(int, int, QString, QString, QString, uint)));
    bus.connect(AvahiService, QString(), BrowserInterface, "Failure", this,
                SLOT(onFailure(QString)));

    for (const char* type : ServiceTypes) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(AvahiService, "/", ServerInterface, "ServiceBrowserNew");
        call << AnyInterface << ProtocolIPv4 << QString::fromLatin1(type) << QString() << 0u;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                    if (reply.isError())
                        fail(reply.error().message());
                    else
                        browsers.append(reply.value().path());
                });
    }
}

void NetworkDiscovery::onItemNew(int interface, int protocol, const QString& name,
                                 const QString& type, const QString& domain, uint)
{
    // The host behind a service instance comes from resolving it.
    QDBusMessage call =
        QDBusMessage::createMethodCall(AvahiService, "/", ServerInterface, "ResolveService");
    call << interface << protocol << name << type << domain << ProtocolIPv4 << 0u;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusMessage reply = finished->reply();
                // interface, protocol, name, type, domain, host, ...
                if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 6)
                    return;
                const QString host = reply.arguments().at(5).toString();
                if (host.isEmpty() || known.contains(host))
                    return;
                known.insert(host);
                emit computerFound(host);
            });
}

#endif
