#include "platform/GetNetworkUser.h"

#include "platform/QueuedCall.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace {

ComputerPicker& picker()
{
    static ComputerPicker instance;
    return instance;
}

HostResolver& resolverOverride()
{
    static HostResolver instance;
    return instance;
}

QList<QHostAddress> systemResolve(const QString& name)
{
    QList<QHostAddress> addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.toLocal8Bit().constData(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next)
        addresses.append(QHostAddress(entry->ai_addr));
    freeaddrinfo(found);
    return addresses;
}

// Runs the blocking lookup on its own thread and waits with the event loop turning, so the
// window repaints; user input waits until the answer is in.
QList<QHostAddress> resolveWithoutFreezing(const QString& name)
{
    if (resolverOverride())
        return resolverOverride()(name);
    if (!QCoreApplication::instance())
        return systemResolve(name);

    // The loop outlives the worker, which is joined before the answer is read.
    QList<QHostAddress> addresses;
    QEventLoop loop;
    std::thread worker([&addresses, &loop, name] {
        addresses = systemResolve(name);
        PostCall(&loop, [&loop] { loop.quit(); });
    });
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (gui)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (gui)
        QGuiApplication::restoreOverrideCursor();
    return addresses;
}

} // namespace

void SetComputerPicker(ComputerPicker newPicker)
{
    picker() = std::move(newPicker);
}

void SetHostResolver(HostResolver resolver)
{
    resolverOverride() = std::move(resolver);
}

bool BrowseNetworkComputer(QString& ip, QString& name, std::optional<std::int32_t>& port)
{
    if (!picker())
        return false;
    const std::optional<NetworkChoice> chosen = picker()();
    if (!chosen)
        return false;
    if (const std::optional<AnnouncedPerson>& person = chosen->person) {
        name = person->name;
        ip = person->ip;
        port = person->port;
        return !ip.isEmpty();
    }
    name = chosen->computer;
    ip = ResolveHostName(name);
    return !ip.isEmpty();
}

bool BrowseNetworkComputer(QString& ip, QString& name)
{
    std::optional<std::int32_t> port;
    return BrowseNetworkComputer(ip, name, port);
}

QString ResolveHostName(QString& hostName)
{
    qsizetype begin = 0;
    qsizetype end = hostName.size();
    while (begin < end && hostName[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && hostName[end - 1] == QLatin1Char(' '))
        --end;
    hostName = hostName.mid(begin, end - begin);

    QString result;
    if (!hostName.isEmpty()) {
        const QList<QHostAddress> addresses = resolveWithoutFreezing(hostName);
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                result = address.toString();
                break;
            }
        }
    }
    return result;
}
