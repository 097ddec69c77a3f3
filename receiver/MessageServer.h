#pragma once
// Listens on the reply port and turns each connection into one record: whatever the
// sender wrote before closing. Limits keep an open network from wearing it down: a record
// must be whole within a deadline counted from the connection, and when every slot is taken
// the connection open longest makes room for a newcomer.

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>

class QTcpServer;

struct IncomingRecord
{
    QDateTime received;
    QHostAddress peer;
    QByteArray bytes;
    bool cut = false;        // the sender sent more than MaxRecordBytes
    bool incomplete = false; // closed by us before the sender finished
};

class MessageServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxRecordBytes = 64 * 1024;
    static constexpr int MaxConnections = 64;
    static constexpr int DefaultDeadline = 30000;

    explicit MessageServer(QObject* parent = nullptr);
    ~MessageServer() override;

    // Listens on every IPv4 and IPv6 address. On failure error() and errorString() say why.
    bool listen(quint16 port);
    void close();
    bool isListening() const;
    quint16 port() const;
    QAbstractSocket::SocketError error() const;
    QString errorString() const;

    // How long after connecting a sender has to deliver its whole record.
    void setDeadline(int milliseconds) { deadline = milliseconds; }
    // Connections being read now.
    int connectionCount() const { return static_cast<int>(open.size()); }

signals:
    void recordReceived(const IncomingRecord& record);

private:
    class Connection;
    void acceptConnections();
    void finish(Connection* connection, bool cut, bool incomplete);

    QTcpServer* server;
    int deadline = DefaultDeadline;
    QList<Connection*> open; // oldest first
};
