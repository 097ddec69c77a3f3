#include "receiver/MessageServer.h"

#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Connections are served on plain descriptors: most senders have written and closed by the
// time they are accepted, so a record is usually read whole at once, and only the rest
// need a notifier. One timer watches every deadline.

namespace {

// At most this many connections are accepted per wake-up, so that a flood of them leaves
// the event loop room for everything else.
constexpr int AcceptBatch = 128;

enum class Drained { Waiting, Closed, Full };

// Reads what has arrived, never keeping more than one byte past the limit. A connection
// reset by the sender ends its record as closing it would.
Drained drain(int fd, QByteArray& bytes)
{
    char chunk[16 * 1024];
    for (;;) {
        const qsizetype room = MessageServer::MaxRecordBytes + 1 - bytes.size();
        const ssize_t got =
            ::read(fd, chunk, std::min(sizeof chunk, static_cast<std::size_t>(room)));
        if (got > 0) {
            bytes.append(chunk, got);
            if (bytes.size() > MessageServer::MaxRecordBytes)
                return Drained::Full;
        } else if (got == 0) {
            return Drained::Closed;
        } else if (errno != EINTR) {
            return errno == EAGAIN || errno == EWOULDBLOCK ? Drained::Waiting : Drained::Closed;
        }
    }
}

QHostAddress peerAddress(const sockaddr_storage& address)
{
    QHostAddress peer(reinterpret_cast<const sockaddr*>(&address));
    if (address.ss_family == AF_INET6) {
        const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (ipv6.sin6_scope_id != 0) {
            QString scope =
                QNetworkInterface::interfaceNameFromIndex(static_cast<int>(ipv6.sin6_scope_id));
            peer.setScopeId(scope.isEmpty() ? QString::number(ipv6.sin6_scope_id) : scope);
        }
    }
    return peer;
}

} // namespace

// One sender still writing: its descriptor, the bytes so far, and the deadline of its whole
// record. Data never moves the deadline, so a sender trickling bytes cannot hold a slot.
class MessageServer::Connection
{
public:
    Connection(int descriptor, const QHostAddress& from, QByteArray received,
               Clock::time_point until)
        : fd(descriptor), peer(from), bytes(std::move(received)), due(until)
    {
    }
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    const QHostAddress peer;
    QByteArray bytes;
    const Clock::time_point due;
    QSocketNotifier* notifier = nullptr;
};

MessageServer::MessageServer(QObject* parent) : QObject(parent), server(new QTcpServer(this))
{
    // A burst of senders must reach the accept loop rather than be refused by the system.
    server->setListenBacklogSize(256);
    sweeper.setSingleShot(true);
    sweeper.setTimerType(Qt::PreciseTimer);
    connect(&sweeper, &QTimer::timeout, this, &MessageServer::sweep);
}

MessageServer::~MessageServer()
{
    close();
    open.clear();
}

bool MessageServer::listen(quint16 port)
{
    close();
    if (!server->listen(QHostAddress::Any, port))
        return false;
    // The server only opens the socket and reports why it cannot; connections are accepted
    // here, without a QTcpSocket each.
    server->pauseAccepting();
    acceptor = new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(acceptor, &QSocketNotifier::activated, this, &MessageServer::acceptConnections);
    return true;
}

void MessageServer::close()
{
    if (acceptor) {
        acceptor->setEnabled(false);
        acceptor->disconnect();
        acceptor->deleteLater();
        acceptor = nullptr;
    }
    server->close();
}

bool MessageServer::isListening() const
{
    return server->isListening();
}

quint16 MessageServer::port() const
{
    return server->serverPort();
}

QAbstractSocket::SocketError MessageServer::error() const
{
    return server->serverError();
}

QString MessageServer::errorString() const
{
    return server->errorString();
}

void MessageServer::acceptConnections()
{
    // A receiver of the signal may stop listening, so the socket is looked up each time.
    for (int accepted = 0; acceptor && accepted < AcceptBatch; ++accepted) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd =
            ::accept4(static_cast<int>(acceptor->socket()), reinterpret_cast<sockaddr*>(&address),
                      &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // A connection that went away before it was accepted leaves the others waiting.
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            // Out of descriptors: the waiting connection would wake this at once, again and
            // again. Look again once some may have been freed.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptor->setEnabled(false);
                QTimer::singleShot(100, this, [this] {
                    if (acceptor)
                        acceptor->setEnabled(true);
                });
            }
            return;
        }
        const auto due = Clock::now() + std::chrono::milliseconds(deadline);
        const QHostAddress peer = peerAddress(address);
        // A newcomer is more likely an honest sender than whoever has held a slot longest.
        if (open.size() >= static_cast<std::size_t>(MaxConnections)) {
            Connection* oldest = open.front().get();
            finish(oldest, drain(oldest->fd, oldest->bytes) == Drained::Full, true);
        }

        QByteArray bytes;
        const Drained state = drain(fd, bytes);
        if (state != Drained::Waiting) {
            ::close(fd);
            emitRecord(peer, std::move(bytes), state == Drained::Full, false);
            continue;
        }
        auto connection = std::make_unique<Connection>(fd, peer, std::move(bytes), due);
        Connection* reading = connection.get();
        // Notifiers are kept for the next connection: deleting one would cost a pass of
        // the event loop.
        if (spareNotifiers.empty()) {
            reading->notifier = new QSocketNotifier(QSocketNotifier::Read, this);
        } else {
            reading->notifier = spareNotifiers.back();
            spareNotifiers.pop_back();
        }
        reading->notifier->setSocket(fd);
        connect(reading->notifier, &QSocketNotifier::activated, this,
                [this, reading] { readMore(reading); });
        reading->notifier->setEnabled(true);
        open.push_back(std::move(connection));
        scheduleSweep();
    }
}

void MessageServer::readMore(Connection* connection)
{
    switch (drain(connection->fd, connection->bytes)) {
    case Drained::Waiting:
        break;
    case Drained::Closed: // the sender closing is what ends a record
        finish(connection, false, false);
        break;
    case Drained::Full: // a cut record ends here even if the sender keeps writing
        finish(connection, true, false);
        break;
    }
}

void MessageServer::sweep()
{
    const auto now = Clock::now();
    // Finishing emits, and a receiver of the signal may change the list.
    for (;;) {
        const auto late =
            std::find_if(open.begin(), open.end(), [now](const auto& c) { return c->due <= now; });
        if (late == open.end())
            break;
        Connection* connection = late->get();
        const bool cut = drain(connection->fd, connection->bytes) == Drained::Full;
        finish(connection, cut, true);
    }
    scheduleSweep();
}

void MessageServer::scheduleSweep()
{
    if (open.empty()) {
        sweeper.stop();
        return;
    }
    const auto earliest =
        std::min_element(open.begin(), open.end(),
                         [](const auto& a, const auto& b) { return a->due < b->due; })
            ->get()
            ->due;
    if (sweeper.isActive() && sweepAt <= earliest)
        return;
    sweepAt = earliest;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now());
    sweeper.start(std::max(wait, std::chrono::milliseconds(0)));
}

void MessageServer::finish(Connection* connection, bool cut, bool incomplete)
{
    const auto it = std::find_if(open.begin(), open.end(),
                                 [connection](const auto& c) { return c.get() == connection; });
    if (it == open.end())
        return;
    const QHostAddress peer = connection->peer;
    QByteArray bytes = std::move(connection->bytes);
    cut = cut || bytes.size() > MaxRecordBytes;
    // It may be the notifier whose signal is being handled: it is kept, not deleted.
    connection->notifier->setEnabled(false);
    connection->notifier->disconnect(this);
    spareNotifiers.push_back(connection->notifier);
    open.erase(it); // closes the descriptor
    emitRecord(peer, std::move(bytes), cut, incomplete);
}

void MessageServer::emitRecord(const QHostAddress& peer, QByteArray bytes, bool cut,
                               bool incomplete)
{
    // A connection that closes without a byte (a port scanner, a monitoring probe) sent no
    // message, whether it closed or we did.
    if (bytes.isEmpty())
        return;
    IncomingRecord record;
    record.received = QDateTime::currentDateTimeUtc();
    record.peer = peer;
    bytes.truncate(MaxRecordBytes);
    record.bytes = std::move(bytes);
    record.cut = cut;
    record.incomplete = incomplete;
    emit recordReceived(record);
}
