#include "platform/TcpClient.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <cerrno>

#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

#ifdef MSG_NOSIGNAL
constexpr int SendFlags = MSG_NOSIGNAL;
#else
constexpr int SendFlags = 0;
#endif

TcpClient::Failure classify(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return TcpClient::Failure::Refused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EPERM: // a local firewall rule that rejects the connection
        return TcpClient::Failure::Unreachable;
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
    case EINVAL:
    case EACCES: // a broadcast address
        return TcpClient::Failure::BadAddress;
    default:
        return TcpClient::Failure::Other;
    }
}

} // namespace

TcpClient::TcpClient(QObject* parent) : QObject(parent) {}

TcpClient::~TcpClient()
{
    closeSocket();
}

bool TcpClient::connectTo(const QString& hostText, std::int32_t portNumber)
{
    close();
    host = hostText;
    port = portNumber;
    lastFailure = Failure::None;
    lastError = 0;

    QHostAddress address;
    if (!address.setAddress(host))
        return fail(EINVAL);
    if (port < 1 || port > 65535) {
        lastFailure = Failure::BadPort;
        return false;
    }
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        v6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    }

#ifdef SOCK_NONBLOCK
    fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(errno);
#else
    fd = ::socket(storage.ss_family, SOCK_STREAM, 0);
    if (fd < 0)
        return fail(errno);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#endif
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    int result = 0;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS)
        return fail(errno);

    current = State::Connecting;
    return true;
}

void TcpClient::checkNow()
{
    if (current != State::Connecting)
        return;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, 0) <= 0) {
        waitUntilWritable();
    } else if (ready.revents & (POLLERR | POLLHUP)) {
        finishConnect(); // which asks the socket for its error
    } else {
        current = State::Connected;
        emit connected();
    }
}

// Only a connection or a write that cannot finish at once needs the event loop's help.
void TcpClient::waitUntilWritable()
{
    if (notifier == nullptr) {
        notifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(notifier, &QSocketNotifier::activated, this, &TcpClient::onWritable);
    }
    notifier->setEnabled(true);
}

void TcpClient::finishConnect()
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        fail(error);
        emit failed();
        return;
    }
    if (notifier != nullptr)
        notifier->setEnabled(false);
    current = State::Connected;
    emit connected();
}

void TcpClient::onWritable()
{
    if (current == State::Connecting)
        finishConnect();
    else if (current == State::Connected)
        flush();
}

void TcpClient::write(const QByteArray& bytes)
{
    if (current != State::Connected)
        return;
    pending += bytes;
    flush();
}

void TcpClient::flush()
{
    while (!pending.isEmpty()) {
        const ssize_t n =
            ::send(fd, pending.constData(), static_cast<std::size_t>(pending.size()), SendFlags);
        if (n >= 0) {
            pending.remove(0, n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitUntilWritable();
            return;
        } else if (errno != EINTR) {
            fail(errno);
            emit failed();
            return;
        }
    }
    if (notifier != nullptr)
        notifier->setEnabled(false);
    emit allWritten();
}

void TcpClient::close()
{
    closeSocket();
}

bool TcpClient::fail(int error)
{
    lastError = error;
    lastFailure = classify(error);
    closeSocket();
    return false;
}

void TcpClient::closeSocket()
{
    if (notifier != nullptr) {
        // Possibly inside its own signal: unhook it now, free it later.
        notifier->setEnabled(false);
        notifier->disconnect(this);
        notifier->deleteLater();
        notifier = nullptr;
    }
    pending.clear();
    current = State::Closed;
    if (fd < 0)
        return;
    // Unread bytes from the receiver would turn the close into a reset, which can cost the
    // record its last bytes in flight.
    char sink[512];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
    fd = -1;
}

QString TcpClient::errorString() const
{
    const QString where = QStringLiteral("%1 port %2").arg(host).arg(port);
    switch (lastFailure) {
    case Failure::None:
        return QString();
    case Failure::Refused:
        return QStringLiteral("nothing is listening at %1; is their message receiver running?")
            .arg(where);
    case Failure::Unreachable:
        return QStringLiteral("no answer from %1; is it on and reachable, or is a firewall in "
                              "between?")
            .arg(where);
    case Failure::BadAddress:
        return QStringLiteral("\"%1\" is not an address that can be used (port %2); check the "
                              "correspondent's address.")
            .arg(host)
            .arg(port);
    case Failure::BadPort:
        return QStringLiteral("%1 port %2: the port must be 1 to 65535; check the "
                              "correspondent's port.")
            .arg(host)
            .arg(port);
    case Failure::Other:
        break;
    }
    return QStringLiteral("sending to %1 failed: %2").arg(where, qt_error_string(lastError));
}
