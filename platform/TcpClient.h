#pragma once
// The main window's send socket: a non-blocking TCP client behind a QSocketNotifier.
//
// It writes in the same event-loop pass in which the connection completes, and the window
// can ask it to complete a connection that already stands at the end of the handler that
// started it, so a record goes out before anything on screen is redrawn. Its failures carry
// a short description that names the address and port and the likely cause.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

class QSocketNotifier;

class TcpClient : public QObject
{
    Q_OBJECT
public:
    enum class State { Closed, Connecting, Connected };
    enum class Failure { None, Refused, Unreachable, BadAddress, BadPort, Other };

    explicit TcpClient(QObject* parent = nullptr);
    ~TcpClient() override;

    State state() const { return current; }

    // Starts connecting to an IPv4 or IPv6 address given as text (no name lookup). False
    // when it fails at once; failure() and errorString() then say why. No time limit of
    // its own: only the system ends an attempt that gets no answer.
    // Call checkNow() once the handler that called it is done.
    bool connectTo(const QString& host, std::int32_t port);
    // Completes a connection that already stands (on loopback or a fast network it does by
    // the end of the handler that started it), emitting connected() now, as the next event
    // would; otherwise leaves it to the event loop, which watches the socket only then.
    void checkNow();
    // Queues bytes on a connected socket; allWritten() follows once the system took them.
    void write(const QByteArray& bytes);
    // Drops the connection at once, with whatever is still queued.
    void close();

    Failure failure() const { return lastFailure; }
    QString errorString() const;

signals:
    void connected();
    void allWritten();
    void failed();

private:
    void waitUntilWritable();
    void finishConnect();
    void flush();
    void onWritable();
    bool fail(int error);
    void closeSocket();

    State current = State::Closed;
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    QByteArray pending;
    QString host;
    std::int32_t port = 0;
    Failure lastFailure = Failure::None;
    int lastError = 0;
};
