#pragma once
// Listens on the reply port and turns each connection into one record: whatever the
// sender wrote before closing. Limits keep an open network from wearing it down: a record
// must be whole within a deadline counted from the connection, and when every slot is taken
// the connection open longest makes room for a newcomer.

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

class QSocketNotifier;
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
    using Clock = std::chrono::steady_clock;
    class Connection;
    void acceptConnections();
    void readMore(Connection* connection);
    void sweep();
    void scheduleSweep();
    void finish(Connection* connection, bool cut, bool incomplete);
    void emitRecord(const QHostAddress& peer, QByteArray bytes, bool cut, bool incomplete);

    QTcpServer* server;
    QSocketNotifier* acceptor = nullptr; // on the server's socket while listening
    int deadline = DefaultDeadline;
    std::vector<std::unique_ptr<Connection>> open; // oldest first
    std::vector<QSocketNotifier*> spareNotifiers;  // children, for the next connections
    QTimer sweeper;                                // at the earliest deadline of open
    Clock::time_point sweepAt;
};
