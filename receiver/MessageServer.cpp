#include "receiver/MessageServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// One sender: its socket, the bytes so far, and the timer that closes it when it goes quiet.
class MessageServer::Connection : public QObject
{
public:
    Connection(QTcpSocket* socket, int idleTimeout, QObject* parent)
        : QObject(parent), socket(socket), peer(socket->peerAddress())
    {
        socket->setParent(this);
        idle.setSingleShot(true);
        idle.setInterval(idleTimeout);
        idle.start();
    }

    // Takes what has arrived, never keeping more than one byte past the limit.
    void take() { bytes += socket->read(MaxRecordBytes + 1 - bytes.size()); }
    bool overLimit() const { return bytes.size() > MaxRecordBytes; }

    QTcpSocket* socket;
    QHostAddress peer; // kept: the socket forgets it once closed
    QByteArray bytes;
    QTimer idle;
    bool finished = false;
};

MessageServer::MessageServer(QObject* parent) : QObject(parent), server(new QTcpServer(this))
{
    // A burst of senders must reach the accept loop rather than be refused by the system.
    server->setListenBacklogSize(256);
    server->setMaxPendingConnections(256);
    connect(server, &QTcpServer::newConnection, this, &MessageServer::acceptConnections);
}

MessageServer::~MessageServer() = default;

bool MessageServer::listen(quint16 port)
{
    server->close();
    return server->listen(QHostAddress::Any, port);
}

void MessageServer::close()
{
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

void MessageServer::setIdleTimeout(int milliseconds)
{
    idleTimeout = milliseconds;
}

void MessageServer::acceptConnections()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (connections >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++connections;
        auto* connection = new Connection(socket, idleTimeout, this);
        connect(&connection->idle, &QTimer::timeout, this,
                [this, connection] { finish(connection, false, true); });
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] {
            connection->take();
            if (connection->overLimit())
                finish(connection, true, false);
            else
                connection->idle.start();
        });
        // The sender closing is what ends a record.
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            connection->take();
            finish(connection, connection->overLimit(), false);
        });
    }
}

void MessageServer::finish(Connection* connection, bool cut, bool timedOut)
{
    if (connection->finished)
        return;
    connection->finished = true;
    --connections;
    connection->idle.stop();
    connection->socket->disconnect(this);
    // A cut record ends here even if the sender keeps writing.
    connection->socket->abort();
    connection->deleteLater();

    IncomingRecord record;
    record.received = QDateTime::currentDateTime();
    record.peer = connection->peer;
    record.bytes = connection->bytes.left(MaxRecordBytes);
    record.cut = cut;
    record.timedOut = timedOut;
    emit recordReceived(record);
}
