#include "platform/NetworkDiscovery.h"

#include <QTimer>

#ifdef QUORVANE_HAVE_DBUS
#include "platform/Avahi.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {

// Services that computers commonly announce; each names the computer's host.
const char* const ServiceTypes[] = {"_workstation._tcp", "_device-info._tcp", "_ssh._tcp",
                                    "_smb._tcp"};

} // namespace

#endif

NetworkDiscovery::NetworkDiscovery(QObject* parent) : QObject(parent) {}

void NetworkDiscovery::fail(const QString& reason)
{
    if (failed || !known.isEmpty() || !people.isEmpty())
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

void NetworkDiscovery::start(Looking)
{
    QTimer::singleShot(0, this, [this] { fail(tr("this system offers no DNS-SD browsing")); });
}

void NetworkDiscovery::onItemNew(int, int, const QString&, const QString&, const QString&, uint) {}
void NetworkDiscovery::onItemRemove(int, int, const QString&, const QString&, const QString&, uint)
{
}
void NetworkDiscovery::onAllForNow() {}
void NetworkDiscovery::resolvePerson(int, int, const QString&, const QString&) {}
void NetworkDiscovery::checkPeopleListed() {}

#else

NetworkDiscovery::~NetworkDiscovery()
{
    // Closing the connection frees the browsers with it.
    if (!bus.isEmpty())
        QDBusConnection::disconnectFromBus(bus);
}

void NetworkDiscovery::start(Looking looking)
{
    QDBusConnection connection = Avahi::ConnectSystemBus("browse");
    if (!connection.isConnected()) {
        // Queued, so that whoever started us is connected to the signal first.
        QTimer::singleShot(0, this, [this] { fail(tr("no system message bus is running")); });
        return;
    }
    bus = connection.name();
    peopleOnly = looking == Looking::PeopleOnly;
    // Listen before asking, or the first answers could pass unheard.
    const QString browser = Avahi::BrowserInterface;
    connection.connect(Avahi::Service, QString(), browser, "ItemNew", this,
                       SLOT(onItemNew(int, int, QString, QString, QString, uint)));
    connection.connect(Avahi::Service, QString(), browser, "ItemRemove", this,
                       SLOT(onItemRemove(int, int, QString, QString, QString, uint)));
    connection.connect(Avahi::Service, QString(), browser, "AllForNow", this, SLOT(onAllForNow()));
    connection.connect(Avahi::Service, QString(), browser, "Failure", this,
                       SLOT(onFailure(QString)));

    QStringList types{Avahi::PeopleType};
    if (looking == Looking::ComputersAndPeople)
        for (const char* type : ServiceTypes)
            types << QString::fromLatin1(type);
    for (const QString& type : types) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            Avahi::Service, "/", Avahi::ServerInterface, "ServiceBrowserNew");
        call << Avahi::AnyInterface << Avahi::ProtocolIPv4 << type << QString() << 0u;
        auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    if (finished->isError())
                        fail(Avahi::Problem(finished->error()));
                });
    }
}

void NetworkDiscovery::onItemNew(int interface, int protocol, const QString& name,
                                 const QString& type, const QString& domain, uint)
{
    if (type == Avahi::PeopleType)
        return resolvePerson(interface, protocol, name, domain);
    // The host behind a service instance comes from resolving it.
    QDBusMessage call = QDBusMessage::createMethodCall(Avahi::Service, "/", Avahi::ServerInterface,
                                                       "ResolveService");
    call << interface << protocol << name << type << domain << Avahi::ProtocolIPv4 << 0u;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(call), this);
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

void NetworkDiscovery::resolvePerson(int interface, int protocol, const QString& name,
                                     const QString& domain)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Avahi::Service, "/", Avahi::ServerInterface,
                                                       "ResolveService");
    call << interface << protocol << name << Avahi::PeopleType << domain << Avahi::ProtocolIPv4
         << 0u;
    ++resolving;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, interface](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                --resolving;
                // interface, protocol, name, type, domain, host, aprotocol, address, port, txt
                const QDBusMessage reply = finished->reply();
                const QVariantList answer = reply.arguments();
                if (reply.type() == QDBusMessage::ReplyMessage && answer.size() >= 10) {
                    AnnouncedPerson person;
                    person.instance = answer.at(2).toString();
                    person.computer = answer.at(5).toString();
                    person.ip = answer.at(7).toString();
                    person.port = static_cast<quint16>(answer.at(8).toUInt());
                    // An announcement without a name is known by its service's name.
                    person.name = person.instance;
                    for (const QByteArray& entry : qdbus_cast<QList<QByteArray>>(answer.at(9)))
                        if (entry.startsWith("name="))
                            person.name = QString::fromUtf8(entry.mid(5));
                    const bool isNew = !people.contains(person.instance);
                    people[person.instance].insert(interface);
                    if (isNew)
                        emit personFound(person);
                }
                checkPeopleListed();
            });
}

void NetworkDiscovery::onItemRemove(int interface, int, const QString& name, const QString& type,
                                    const QString&, uint)
{
    const auto heard = people.find(name);
    if (type != Avahi::PeopleType || heard == people.end())
        return;
    heard->remove(interface);
    if (!heard->isEmpty())
        return;
    people.erase(heard);
    emit personGone(name);
}

void NetworkDiscovery::onAllForNow()
{
    // Told by each browser; only a search for people alone has a single one to wait for.
    if (!peopleOnly)
        return;
    allForNow = true;
    checkPeopleListed();
}

void NetworkDiscovery::checkPeopleListed()
{
    if (!allForNow || resolving > 0 || listed)
        return;
    listed = true;
    emit peopleListed();
}

#endif
