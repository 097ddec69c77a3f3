#pragma once
// Listens on the reply port and turns each connection into one record: whatever the
// sender wrote before closing. Limits keep an open network from wearing it down.

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>

class QTcpServer;

struct IncomingRecord
{
    QDateTime received;
    QHostAddress peer;
    QByteArray bytes;
    bool cut = false;      // the sender sent more than MaxRecordBytes
    bool timedOut = false; // closed by us after the sender went quiet
};

class MessageServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxRecordBytes = 64 * 1024;
    static constexpr int MaxConnections = 64;
    static constexpr int DefaultIdleTimeout = 30000;

    explicit MessageServer(QObject* parent = nullptr);
    ~MessageServer() override;

    // Listens on every IPv4 and IPv6 address. On failure error() and errorString() say why.
    bool listen(quint16 port);
    void close();
    bool isListening() const;
    quint16 port() const;
    QAbstractSocket::SocketError error() const;
    QString errorString() const;

    // How long a connection may stay without data before it is closed.
    void setIdleTimeout(int milliseconds);
    int idleTimeoutMs() const { return idleTimeout; }
    // Connections being read now.
    int connectionCount() const { return connections; }

signals:
    void recordReceived(const IncomingRecord& record);

private:
    class Connection;
    void acceptConnections();
    void finish(Connection* connection, bool cut, bool timedOut);

    QTcpServer* server;
    int idleTimeout = DefaultIdleTimeout;
    int connections = 0;
};
