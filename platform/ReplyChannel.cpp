#include "platform/ReplyChannel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

namespace {

std::uint32_t readU32(const char* bytes)
{
    return qFromLittleEndian<std::uint32_t>(bytes);
}

QByteArray u32Bytes(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace

// One client: its socket, what it has sent so far, and the timer that drops it when it
// keeps the server waiting.
class ReplyChannelServer::Connection : public QObject
{
public:
    Connection(QLocalSocket* socket, int idleTimeout, QObject* parent)
        : QObject(parent), socket(socket)
    {
        socket->setParent(this);
        idle.setSingleShot(true);
        idle.setInterval(idleTimeout);
        idle.start();
    }

    QLocalSocket* socket;
    QByteArray pending;
    QTimer idle;
    bool busy = false;
};

ReplyChannelServer::ReplyChannelServer(QObject* parent)
    : QObject(parent), server(new QLocalServer(this))
{
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Bursts of clients, idle ones among them, must not crowd out the receiver.
    server->setListenBacklogSize(256);
    server->setMaxPendingConnections(256);
    connect(server, &QLocalServer::newConnection, this, &ReplyChannelServer::acceptConnections);
}

ReplyChannelServer::~ReplyChannelServer() = default;

bool ReplyChannelServer::listen(const QString& path)
{
    QLocalServer::removeServer(path);
    return server->listen(path);
}

void ReplyChannelServer::close()
{
    server->close();
}

bool ReplyChannelServer::isListening() const
{
    return server->isListening();
}

ChannelProc ReplyChannelServer::setProc(ChannelProc newProc)
{
    ChannelProc previous = std::move(proc);
    proc = std::move(newProc);
    return previous;
}

void ReplyChannelServer::setIdleTimeout(int milliseconds)
{
    idleTimeout = milliseconds;
}

void ReplyChannelServer::acceptConnections()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        auto* connection = new Connection(socket, idleTimeout, this);
        connect(&connection->idle, &QTimer::timeout, connection, [connection] {
            connection->socket->abort();
            connection->deleteLater();
        });
        connect(socket, &QLocalSocket::disconnected, connection, [connection] {
            connection->idle.stop();
            connection->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this,
                [this, connection] { handleFrames(connection); });
        if (socket->bytesAvailable() > 0)
            handleFrames(connection);
    }
}

void ReplyChannelServer::handleFrames(Connection* raw)
{
    QPointer<Connection> connection(raw);
    connection->pending += connection->socket->readAll();
    // A handler that runs a modal box lets more data arrive; it is read here and handled
    // by the outer call once the handler returns.
    if (connection->busy)
        return;
    connection->busy = true;

    while (connection && connection->pending.size() >= ChannelHeaderSize) {
        const char* header = connection->pending.constData();
        const std::uint32_t message = readU32(header);
        const std::uint32_t dwData = readU32(header + 4);
        const std::uint32_t cbData = readU32(header + 8);
        if (cbData > MaxChannelFrameData) {
            connection->socket->abort();
            connection->deleteLater();
            return;
        }
        const qsizetype frameSize = ChannelHeaderSize + static_cast<qsizetype>(cbData);
        if (connection->pending.size() < frameSize)
            break;
        const QByteArray data = connection->pending.mid(ChannelHeaderSize, cbData);
        connection->pending.remove(0, frameSize);
        connection->idle.stop();

        const std::uint32_t result = proc ? proc(message, dwData, data) : 0;
        if (!connection)
            return;
        if (connection->socket->state() == QLocalSocket::ConnectedState)
            connection->socket->write(u32Bytes(result));
        connection->pending += connection->socket->readAll();
    }
    if (connection) {
        connection->busy = false;
        connection->idle.start();
    }
}

QByteArray ChannelFrame(std::uint32_t message, std::uint32_t dwData, const QByteArray& data)
{
    return u32Bytes(message) + u32Bytes(dwData) +
           u32Bytes(static_cast<std::uint32_t>(data.size())) + data;
}

std::optional<std::uint32_t> SendChannelMessage(const QString& path, std::uint32_t message,
                                                std::uint32_t dwData, const QByteArray& data,
                                                int timeoutMs, QString* error)
{
    auto fail = [error](const QString& reason) -> std::optional<std::uint32_t> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs < 0 ? 5000 : timeoutMs)) {
        const bool absent = socket.error() == QLocalSocket::ServerNotFoundError ||
                            socket.error() == QLocalSocket::ConnectionRefusedError;
        return fail(absent ? QStringLiteral("nothing is listening there") : socket.errorString());
    }
    socket.write(ChannelFrame(message, dwData, data));
    if (!socket.waitForBytesWritten(timeoutMs))
        return fail(socket.errorString());
    QByteArray answer;
    while (answer.size() < 4) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            return fail(socket.state() == QLocalSocket::ConnectedState
                            ? QStringLiteral("no answer in time")
                            : QStringLiteral("the connection was closed without an answer"));
        answer += socket.read(4 - answer.size());
    }
    return readU32(answer.constData());
}
