#include "receiver/MessageServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// One sender: its socket, the bytes so far, and the deadline of its whole record. Data
// never moves the deadline, so a sender trickling bytes cannot hold a slot for long.
class MessageServer::Connection : public QObject
{
public:
    Connection(QTcpSocket* socket, int deadline, QObject* parent)
        : QObject(parent), socket(socket), peer(socket->peerAddress())
    {
        socket->setParent(this);
        timer.setSingleShot(true);
        timer.start(deadline);
    }

    // Takes what has arrived, never keeping more than one byte past the limit.
    void take() { bytes += socket->read(MaxRecordBytes + 1 - bytes.size()); }
    bool overLimit() const { return bytes.size() > MaxRecordBytes; }

    QTcpSocket* socket;
    QHostAddress peer; // kept: the socket forgets it once closed
    QByteArray bytes;
    QTimer timer;
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

void MessageServer::acceptConnections()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        // A newcomer is more likely an honest sender than whoever has held a slot longest.
        if (open.size() >= MaxConnections)
            finish(open.first(), false, true);
        auto* connection = new Connection(socket, deadline, this);
        open.append(connection);
        connect(&connection->timer, &QTimer::timeout, this,
                [this, connection] { finish(connection, false, true); });
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] {
            connection->take();
            if (connection->overLimit())
                finish(connection, true, false);
        });
        // The sender closing is what ends a record.
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            connection->take();
            finish(connection, connection->overLimit(), false);
        });
        // Most senders have written and closed by the time they are accepted: reading now
        // saves a pass of the event loop per record.
        socket->waitForReadyRead(0);
    }
}

void MessageServer::finish(Connection* connection, bool cut, bool incomplete)
{
    if (connection->finished)
        return;
    connection->finished = true;
    if (!cut)
        connection->take();
    open.removeOne(connection);
    connection->timer.stop();
    connection->socket->disconnect(this);
    // A cut record ends here even if the sender keeps writing.
    connection->socket->abort();
    connection->deleteLater();

    // A connection closed before it sent anything has nothing to show.
    if (incomplete && connection->bytes.isEmpty())
        return;
    IncomingRecord record;
    record.received = QDateTime::currentDateTimeUtc();
    record.peer = connection->peer;
    record.bytes = connection->bytes.left(MaxRecordBytes);
    record.cut = cut;
    record.incomplete = incomplete;
    emit recordReceived(record);
}
