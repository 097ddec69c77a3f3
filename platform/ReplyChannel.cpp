#include "platform/ReplyChannel.h"

#include "platform/WindowActivation.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QtEndian>
#include <utility>

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

// One client. It is in one of three states: read, while it owes the server the rest of a
// frame (within its deadline); handling, while a handler runs for its frame or owes it an
// answer (not read, no deadline); or waiting for it to take its answers (not read).
class ReplyChannelServer::Connection : public QObject
{
public:
    Connection(QLocalSocket* client, int timeoutMs, QObject* parent)
        : QObject(parent), socket(client), frameTimeoutMs(timeoutMs)
    {
        socket->setParent(this);
        // Past this, Qt stops reading the socket and the client's writes wait.
        socket->setReadBufferSize(ChannelLimits::ReadAhead);
        expiry.setSingleShot(true);
    }

    // The client now has frameTimeoutMs for its next frame. Only the deadline moves: the
    // timer wakes once and looks at it.
    void arm()
    {
        deadline.setRemainingTime(frameTimeoutMs);
        if (!expiry.isActive())
            expiry.start(frameTimeoutMs);
    }

    QLocalSocket* socket;
    const int frameTimeoutMs;
    QByteArray buffer;       // bytes read; those before `offset` are handled
    qsizetype offset = 0;    // handled frames are skipped, never erased one by one
    QString activationToken; // for the next frame
    QDeadlineTimer deadline;
    QTimer expiry;
    bool handling = false;
    bool inPass = false;
    bool passQueued = false;
    bool dropped = false;
    // The answer of the previous frame when it asked for activation: the next ones in a
    // row get it too, without activating again.
    std::optional<std::uint32_t> lastActivation;
};

// For deferAnswer(). Handlers nest when one runs a modal box, so each call keeps the outer
// one and puts it back.
struct ReplyChannelServer::Running
{
    QPointer<ReplyChannelServer> server;
    QPointer<Connection> connection;
    bool deferred = false;
};

ReplyChannelServer::Running* ReplyChannelServer::running = nullptr;

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

ChannelAnswer ReplyChannelServer::deferAnswer()
{
    if (!running)
        return {};
    running->deferred = true;
    return [server = running->server, connection = running->connection](std::uint32_t result) {
        if (!server || !connection || connection->dropped)
            return;
        connection->handling = false;
        server->answer(connection, result);
        // What the client sent meanwhile is handled from the event loop, not in the caller.
        QTimer::singleShot(0, connection, [server, connection] {
            if (server && connection)
                server->serve(connection);
        });
    };
}

void ReplyChannelServer::acceptConnections()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        if (connections >= ChannelLimits::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++connections;
        auto* connection = new Connection(socket, frameTimeoutMs, this);
        connect(&connection->expiry, &QTimer::timeout, connection, [this, connection] {
            if (connection->handling)
                return; // armed again once answered
            if (connection->deadline.hasExpired())
                drop(connection);
            else
                connection->expiry.start(connection->deadline.remainingTime());
        });
        connect(socket, &QLocalSocket::disconnected, connection,
                [this, connection] { drop(connection); });
        connect(socket, &QLocalSocket::readyRead, connection,
                [this, connection] { serve(connection); });
        // A client that took its answers may be read again.
        connect(socket, &QLocalSocket::bytesWritten, connection,
                [this, connection] { serve(connection); });
        connection->arm();
        serve(connection);
    }
}

void ReplyChannelServer::drop(Connection* connection)
{
    if (connection->dropped)
        return;
    connection->dropped = true;
    --connections;
    connection->expiry.stop();
    connection->socket->abort();
    connection->deleteLater();
}

void ReplyChannelServer::answer(Connection* connection, std::uint32_t result)
{
    if (connection->socket->state() == QLocalSocket::ConnectedState)
        connection->socket->write(u32Bytes(result));
    connection->arm();
}

void ReplyChannelServer::serve(Connection* connection)
{
    if (connection->dropped || connection->handling || connection->inPass)
        return;
    QPointer<Connection> alive(connection);
    connection->inPass = true;
    QElapsedTimer pass;
    pass.start();
    int frames = 0;
    for (;;) {
        if (connection->socket->bytesToWrite() > ChannelLimits::MaxUnreadAnswers)
            break; // bytesWritten brings it back
        const qsizetype available = connection->buffer.size() - connection->offset;
        if (available >= ChannelHeaderSize) {
            const char* header = connection->buffer.constData() + connection->offset;
            const std::uint32_t message = readU32(header);
            const std::uint32_t dwData = readU32(header + 4);
            const std::uint32_t cbData = readU32(header + 8);
            if (cbData > MaxChannelFrameData) {
                drop(connection);
                return;
            }
            const qsizetype frameSize = ChannelHeaderSize + static_cast<qsizetype>(cbData);
            if (available >= frameSize) {
                const QByteArray data =
                    connection->buffer.mid(connection->offset + ChannelHeaderSize, cbData);
                connection->offset += frameSize;
                if (!handleFrame(connection, message, dwData, data))
                    break;
                if (++frames >= ChannelLimits::FramesPerPass ||
                    pass.hasExpired(ChannelLimits::PassTimeMs)) {
                    // The rest waits for the next pass, after the event loop's turn.
                    if (!connection->passQueued) {
                        connection->passQueued = true;
                        QTimer::singleShot(0, connection, [this, connection] {
                            connection->passQueued = false;
                            serve(connection);
                        });
                    }
                    break;
                }
                continue;
            }
        }
        // Short of a whole frame: keep only the unhandled rest, and read what Qt holds.
        if (connection->socket->bytesAvailable() == 0)
            break;
        connection->buffer.remove(0, connection->offset);
        connection->offset = 0;
        connection->buffer += connection->socket->readAll();
    }
    if (alive)
        connection->inPass = false;
}

// False when the connection is gone, or its handler deferred the answer.
bool ReplyChannelServer::handleFrame(Connection* connection, std::uint32_t message,
                                     std::uint32_t dwData, const QByteArray& data)
{
    if (message == ChannelMessage::ActivationToken) {
        connection->activationToken = QString::fromUtf8(data);
        connection->lastActivation.reset();
        answer(connection, 1);
        return true;
    }
    if (message == ChannelMessage::Activate && connection->lastActivation) {
        answer(connection, *connection->lastActivation);
        return true;
    }
    // A frame without a token of its own clears one left by another client.
    SetPendingActivationToken(std::exchange(connection->activationToken, QString()));
    Running frame{this, connection};
    Running* outer = std::exchange(running, &frame);
    connection->handling = true;
    // A copy: the handler may install another one while it runs.
    const ChannelProc handler = proc;
    const std::uint32_t result = handler ? handler(message, dwData, data) : 0;
    running = outer;
    if (!frame.connection || frame.connection->dropped)
        return false;
    if (frame.deferred) {
        connection->lastActivation.reset();
        return false;
    }
    connection->handling = false;
    connection->lastActivation =
        message == ChannelMessage::Activate ? std::optional<std::uint32_t>(result) : std::nullopt;
    answer(connection, result);
    return true;
}
QByteArray ChannelFrame(std::uint32_t message, std::uint32_t dwData, const QByteArray& data)
{
    return u32Bytes(message) + u32Bytes(dwData) +
           u32Bytes(static_cast<std::uint32_t>(data.size())) + data;
}

std::optional<std::uint32_t> SendChannelMessage(const QString& path, std::uint32_t message,
                                                std::uint32_t dwData, const QByteArray& data,
                                                int timeoutMs, QString* error,
                                                const QString& activationToken)
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
    QByteArray frames = ChannelFrame(message, dwData, data);
    // The token's frame is answered first: a copy that does not know it answers 0.
    const int answerSize = activationToken.isEmpty() ? 4 : 8;
    if (!activationToken.isEmpty())
        frames.prepend(ChannelFrame(ChannelMessage::ActivationToken, 0, activationToken.toUtf8()));
    socket.write(frames);
    if (!socket.waitForBytesWritten(timeoutMs))
        return fail(socket.errorString());
    QByteArray answer;
    while (answer.size() < answerSize) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            return fail(socket.state() == QLocalSocket::ConnectedState
                            ? QStringLiteral("no answer in time")
                            : QStringLiteral("the connection was closed without an answer"));
        answer += socket.read(answerSize - answer.size());
    }
    return readU32(answer.constData() + answerSize - 4);
}
