#include "platform/NetworkAnnouncement.h"

#ifdef QUORVANE_HAVE_DBUS
#include "platform/Avahi.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <functional>

namespace {

// Entry group states, as the daemon numbers them.
constexpr int Established = 2;
constexpr int Collision = 3;
constexpr int Failure = 4;
const QString CollisionError = QStringLiteral("org.freedesktop.Avahi.CollisionError");
// A service's name is one DNS label; a TXT string has a length byte.
constexpr int MaxInstanceBytes = 63;
constexpr int MaxTxtBytes = 255;

QString cutToBytes(QString text, int bytes)
{
    while (text.toUtf8().size() > bytes)
        text.chop(text.size() > 1 && text.back().isLowSurrogate() ? 2 : 1);
    return text;
}

// Hears the state of one entry group. It is dropped with the group, so that whatever that
// group still tells afterwards is not taken for the state of the next one.
class GroupState : public QObject
{
    Q_OBJECT
public:
    GroupState(QObject* parent, std::function<void(int, const QString&)> onChange)
        : QObject(parent), told(std::move(onChange))
    {
    }
    bool current = true;
public slots:
    void changed(int state, const QString& error)
    {
        if (current)
            told(state, error);
    }

private:
    std::function<void(int, const QString&)> told;
};

} // namespace

NetworkAnnouncement::NetworkAnnouncement(QObject* parent) : QObject(parent)
{
    // TXT records travel as a list of byte arrays.
    qDBusRegisterMetaType<QList<QByteArray>>();
    QDBusConnection connection = Avahi::ConnectSystemBus("announce");
    if (!connection.isConnected())
        return;
    bus = connection.name();
    // A daemon that starts again (an upgrade, a restart) has forgotten every announcement.
    auto* daemon = new QDBusServiceWatcher(Avahi::Service, connection,
                                           QDBusServiceWatcher::WatchForRegistration |
                                               QDBusServiceWatcher::WatchForUnregistration,
                                           this);
    connect(daemon, &QDBusServiceWatcher::serviceRegistered, this,
            &NetworkAnnouncement::onDaemonStarted);
    connect(daemon, &QDBusServiceWatcher::serviceUnregistered, this,
            &NetworkAnnouncement::onDaemonStopped);
}

NetworkAnnouncement::~NetworkAnnouncement()
{
    withdraw();
    // The daemon also drops the group of a connection that closes.
    if (!bus.isEmpty())
        QDBusConnection::disconnectFromBus(bus);
}

void NetworkAnnouncement::announce(const QString& newName, quint16 newPort)
{
    wanted = true;
    name = newName;
    port = newPort;
    instance = cutToBytes(name, MaxInstanceBytes);
    publish();
}

void NetworkAnnouncement::withdraw()
{
    wanted = false;
    ++attempt;
    freeGroup();
}

void NetworkAnnouncement::freeGroup()
{
    if (auto* state = static_cast<GroupState*>(groupState.data())) {
        state->current = false;
        state->deleteLater();
    }
    groupState.clear();
    if (group.isEmpty())
        return;
    QDBusConnection(bus).call(
        QDBusMessage::createMethodCall(Avahi::Service, group, Avahi::EntryGroupInterface, "Free"),
        QDBus::NoBlock);
    group.clear();
}

void NetworkAnnouncement::failed(int of, const QString& reason)
{
    if (of != attempt)
        return;
    // Whatever else this attempt still hears is of no use now.
    ++attempt;
    freeGroup();
    emit unavailable(reason);
}

// A new group each time: a group only takes new entries after a reset, and signals of the
// old one may still be on their way.
void NetworkAnnouncement::publish()
{
    const int current = ++attempt;
    freeGroup();
    if (bus.isEmpty())
        return failed(current, tr("no system message bus is running"));
    const QByteArray nameEntry = "name=" + name.toUtf8();
    if (name.isEmpty() || nameEntry.size() > MaxTxtBytes)
        return failed(current,
                      tr("a name of 1 to %1 bytes in UTF-8 is needed").arg(MaxTxtBytes - 5));

    QDBusConnection connection(bus);
    auto* made = new QDBusPendingCallWatcher(
        connection.asyncCall(QDBusMessage::createMethodCall(
            Avahi::Service, "/", Avahi::ServerInterface, "EntryGroupNew")),
        this);
    connect(made, &QDBusPendingCallWatcher::finished, this,
            [this, current, nameEntry](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError())
                    return failed(current, Avahi::Problem(reply.error()));
                QDBusConnection answered(bus);
                const QString path = reply.value().path();
                if (current != attempt) {
                    answered.call(QDBusMessage::createMethodCall(
                                      Avahi::Service, path, Avahi::EntryGroupInterface, "Free"),
                                  QDBus::NoBlock);
                    return;
                }
                group = path;
                auto* state = new GroupState(this, [this, current](int s, const QString& error) {
                    if (s == Established)
                        emit announced(instance, port);
                    else if (s == Collision)
                        takeAlternativeName();
                    else if (s == Failure)
                        failed(current, error);
                });
                groupState = state;
                answered.connect(Avahi::Service, path, Avahi::EntryGroupInterface, "StateChanged",
                                 state, SLOT(changed(int, QString)));

                QDBusMessage add = QDBusMessage::createMethodCall(
                    Avahi::Service, path, Avahi::EntryGroupInterface, "AddService");
                add << Avahi::AnyInterface << Avahi::AnyProtocol << 0u << instance
                    << Avahi::PeopleType << QString() << QString() << QVariant::fromValue(port)
                    << QVariant::fromValue(QList<QByteArray>{nameEntry, "v=1"});
                const QDBusMessage commit = QDBusMessage::createMethodCall(
                    Avahi::Service, path, Avahi::EntryGroupInterface, "Commit");
                // Sent one after the other: the daemon answers them in order.
                for (const QDBusMessage& step : {add, commit}) {
                    auto* done = new QDBusPendingCallWatcher(answered.asyncCall(step), this);
                    connect(done, &QDBusPendingCallWatcher::finished, this,
                            [this, current](QDBusPendingCallWatcher* answer) {
                                answer->deleteLater();
                                // A name announced on this very computer is refused at once.
                                if (answer->isError() && current == attempt &&
                                    answer->error().name() == CollisionError)
                                    takeAlternativeName();
                                else if (answer->isError())
                                    failed(current, Avahi::Problem(answer->error()));
                            });
                }
            });
}

// Another announcement on the network has the name: take the one the daemon proposes.
void NetworkAnnouncement::takeAlternativeName()
{
    // What the current group still answers is of no use now.
    const int current = ++attempt;
    QDBusMessage ask = QDBusMessage::createMethodCall(Avahi::Service, "/", Avahi::ServerInterface,
                                                      "GetAlternativeServiceName");
    ask << instance;
    auto* asked = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(ask), this);
    connect(asked, &QDBusPendingCallWatcher::finished, this,
            [this, current](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QString> reply = *finished;
                if (reply.isError())
                    return failed(current, Avahi::Problem(reply.error()));
                if (current != attempt)
                    return;
                instance = reply.value();
                publish();
            });
}

void NetworkAnnouncement::onDaemonStarted()
{
    if (wanted)
        publish();
}

void NetworkAnnouncement::onDaemonStopped()
{
    // Its groups went with it.
    group.clear();
    if (wanted)
        failed(attempt, Avahi::Problem(QDBusError(QDBusError::ServiceUnknown, QString())));
}

#include "NetworkAnnouncement.moc"

#else

NetworkAnnouncement::NetworkAnnouncement(QObject* parent) : QObject(parent) {}
NetworkAnnouncement::~NetworkAnnouncement() = default;

void NetworkAnnouncement::announce(const QString&, quint16)
{
    wanted = true;
    emit unavailable(tr("this system offers no DNS-SD announcing"));
}

void NetworkAnnouncement::withdraw()
{
    wanted = false;
}

void NetworkAnnouncement::takeAlternativeName() {}
void NetworkAnnouncement::onDaemonStarted() {}
void NetworkAnnouncement::onDaemonStopped() {}
void NetworkAnnouncement::publish() {}
void NetworkAnnouncement::failed(int, const QString&) {}
void NetworkAnnouncement::freeGroup() {}

#endif
