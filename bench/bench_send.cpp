// Times sends through the main window's real send path (type the text, click Send, wait until
// Send is enabled again) to a receiver in this process, against a plain POSIX client and a
// plain QTcpSocket client sending the same record bytes to the same receiver: from the start
// to the whole record read by the receiver, and to the sender being done. All sides run in
// the same process, alternating in blocks, so the ratios do not depend on the machine.

#include "BenchSupport.h"
#include "app/Global.h"
#include "messaging/ReceiveString.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::fail;
using bench::median;
using bench::p90;

constexpr int Blocks = 10;
constexpr int SendsPerBlock = 100;
constexpr int WarmUpSends = 20;
// Far above any local send; only a broken send path gets near it.
constexpr int SendLimitMs = 10000;
// Room for "/Quorvane/send-message.sock" within a local socket address.
constexpr int MaxRuntimeDirLength = 70;

// One clock for every thread, so that the receiver's stamps compare with the senders'.
QElapsedTimer benchClock;

// One accepted connection as the receiver saw it.
struct Delivery
{
    QByteArray bytes;
    QString error;
    // When the bytes read first reached the expected record size, or -1.
    qint64 completeNs = -1;
};

// A plain blocking accept loop on its own thread: the POSIX client blocks the main thread,
// so a receiver on the event loop could not serve it, and all sides must meet the same
// receiver. Connections are taken one at a time, each read until the peer closes.
class Receiver
{
public:
    Receiver(QObject* owner, std::function<void(const Delivery&)> onDelivery)
        : context(owner), report(std::move(onDelivery))
    {
    }
    ~Receiver() { stop(); }

    void listen()
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listenFd < 0)
            fail(QStringLiteral("socket: %1").arg(qt_error_string(errno)));
        sockaddr_in address = loopback(0);
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            fail(QStringLiteral("bind: %1").arg(qt_error_string(errno)));
        if (::listen(listenFd, 1000) != 0)
            fail(QStringLiteral("listen: %1").arg(qt_error_string(errno)));
        socklen_t length = sizeof address;
        if (::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fail(QStringLiteral("getsockname: %1").arg(qt_error_string(errno)));
        boundPort = ntohs(address.sin_port);
        thread = std::thread([this] { run(); });
    }

    quint16 port() const { return boundPort; }
    // The size of the record the next connection should carry.
    void expect(qsizetype size) { expected = size; }

    void stop()
    {
        if (!thread.joinable())
            return;
        stopping = true;
        // accept() has no portable way to be interrupted; one last connection wakes it.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(boundPort);
        if (fd >= 0)
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        thread.join();
        if (fd >= 0)
            ::close(fd);
        ::close(listenFd);
    }

    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

private:
    void run()
    {
        for (;;) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (stopping) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            Delivery delivery;
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                delivery.error = QStringLiteral("accept: %1").arg(qt_error_string(errno));
                post(std::move(delivery));
                return;
            }
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0) {
                    delivery.bytes.append(buffer, static_cast<qsizetype>(n));
                    if (delivery.completeNs < 0 && delivery.bytes.size() >= expected)
                        delivery.completeNs = benchClock.nsecsElapsed();
                } else if (n == 0) {
                    break;
                } else if (errno != EINTR) {
                    delivery.error = QStringLiteral("read: %1").arg(qt_error_string(errno));
                    break;
                }
            }
            ::close(fd);
            post(std::move(delivery));
        }
    }

    void post(Delivery delivery)
    {
        QMetaObject::invokeMethod(
            context, [this, delivery = std::move(delivery)] { report(delivery); },
            Qt::QueuedConnection);
    }

    QObject* context;
    std::function<void(const Delivery&)> report;
    int listenFd = -1;
    quint16 boundPort = 0;
    std::atomic<qsizetype> expected{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// What the current send is waiting for; every event that may finish it quits the loop.
struct Pending
{
    QEventLoop* loop = nullptr;
    std::optional<Delivery> delivery;
    std::optional<qint64> doneNs;
    // A box or a stray connection: either means the run cannot be trusted.
    QString problem;

    void wake()
    {
        if (loop != nullptr)
            loop->quit();
    }
};

// Stamps the moment Send is enabled again: that is when the window is done with the send,
// and the event arrives synchronously from inside the send path.
class EnabledWatch : public QObject
{
public:
    EnabledWatch(QPushButton* watched, Pending& waiting) : button(watched), pending(waiting)
    {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == button && event->type() == QEvent::EnabledChange && button->isEnabled() &&
            !pending.doneNs) {
            pending.doneNs = benchClock.nsecsElapsed();
            pending.wake();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton* button;
    Pending& pending;
};

// Runs the event loop until `done` holds; fails on a problem or when the limit passes.
void waitFor(Pending& pending, const std::function<bool()>& done, const QString& what)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const QDeadlineTimer deadline(SendLimitMs);
    limit.start(SendLimitMs);
    pending.loop = &loop;
    while (!done() && pending.problem.isEmpty() && !deadline.hasExpired())
        loop.exec();
    pending.loop = nullptr;
    if (!pending.problem.isEmpty())
        fail(QStringLiteral("%1: %2").arg(what, pending.problem));
    if (!done())
        fail(QStringLiteral("%1: not complete within %2 ms").arg(what).arg(SendLimitMs));
}

QString messageText(int number)
{
    // A line break, so the record's CR LF conversion is part of every send.
    return QStringLiteral("Bench message %1\nfrom the send benchmark").arg(number);
}

QByteArray recordOf(int number)
{
    return MessageRecordBytes(Global::MyUsername, Global::MyPortnb, messageText(number));
}

void checkDelivery(const Pending& pending, const QByteArray& expected, const QString& what)
{
    if (!pending.delivery->error.isEmpty())
        fail(QStringLiteral("%1: the receiver failed: %2").arg(what, pending.delivery->error));
    if (pending.delivery->bytes != expected)
        fail(QStringLiteral("%1: the receiver got %2 bytes, not the %3 of the record")
                 .arg(what)
                 .arg(pending.delivery->bytes.size())
                 .arg(expected.size()));
}

// Microseconds from the start of one send to the record read whole, and to the sender done.
struct Sample
{
    double deliveredUs = 0;
    double doneUs = 0;
};

double micros(qint64 ns)
{
    return static_cast<double>(ns) / 1e3;
}

Sample sampleOf(const Pending& pending, qint64 startNs)
{
    return {micros(pending.delivery->completeNs - startNs), micros(*pending.doneNs - startNs)};
}

Sample windowSend(SendForm& form, Receiver& receiver, Pending& pending, int number)
{
    const QString text = messageText(number);
    const QByteArray expected = recordOf(number);
    const QString what = QStringLiteral("window send %1").arg(number);
    form.Text1->setPlainText(text);
    pending.delivery.reset();
    pending.doneNs.reset();
    receiver.expect(expected.size());
    const qint64 start = benchClock.nsecsElapsed();
    form.Command1->click();
    waitFor(
        pending, [&] { return pending.delivery && pending.doneNs; }, what);
    checkDelivery(pending, expected, what);
    if (!form.Text1->toPlainText().isEmpty())
        fail(QStringLiteral("%1: the text was not cleared after the send").arg(what));
    return sampleOf(pending, start);
}

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(QStringLiteral("write: %1").arg(qt_error_string(errno)));
        done += n;
    }
}

// The plain blocking client: done when close() returns.
Sample posixSend(Receiver& receiver, Pending& pending, int number)
{
    const QByteArray expected = recordOf(number);
    const QString what = QStringLiteral("POSIX send %1").arg(number);
    pending.delivery.reset();
    receiver.expect(expected.size());
    const sockaddr_in address = Receiver::loopback(receiver.port());

    const qint64 start = benchClock.nsecsElapsed();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        fail(QStringLiteral("socket: %1").arg(qt_error_string(errno)));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail(QStringLiteral("connect: %1").arg(qt_error_string(errno)));
    writeAll(fd, expected);
    if (::close(fd) != 0)
        fail(QStringLiteral("close: %1").arg(qt_error_string(errno)));
    pending.doneNs = benchClock.nsecsElapsed();

    waitFor(
        pending, [&] { return pending.delivery.has_value(); }, what);
    checkDelivery(pending, expected, what);
    return sampleOf(pending, start);
}

// The plain event-driven client: write on connected, close once all bytes are written.
Sample qtSend(Receiver& receiver, Pending& pending, int number)
{
    const QByteArray expected = recordOf(number);
    const QString what = QStringLiteral("QTcpSocket send %1").arg(number);
    pending.delivery.reset();
    pending.doneNs.reset();
    receiver.expect(expected.size());

    const qint64 start = benchClock.nsecsElapsed();
    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::connected, &socket, [&] { socket.write(expected); });
    QObject::connect(&socket, &QTcpSocket::bytesWritten, &socket, [&] {
        if (socket.bytesToWrite() > 0)
            return;
        socket.disconnectFromHost();
        pending.doneNs = benchClock.nsecsElapsed();
        pending.wake();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &socket, [&] {
        if (!pending.doneNs)
            pending.problem = socket.errorString();
        pending.wake();
    });
    socket.connectToHost(QStringLiteral("127.0.0.1"), receiver.port());
    waitFor(
        pending, [&] { return pending.delivery && pending.doneNs; }, what);
    checkDelivery(pending, expected, what);
    return sampleOf(pending, start);
}

// The store as a user would leave it: one correspondent, the receiver, and no box or
// minimising after a send to get in the way of the next one.
void writeStore(const QString& configDir, quint16 port)
{
    const QString folder = configDir + QStringLiteral("/Quorvane");
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot create %1").arg(folder));
    const QByteArray text = "[Settings]\n"
                            "PopupWhenSend=False\n"
                            "MinimizedWhenSend=False\n"
                            "\n"
                            "[Users]\n"
                            "1_name=bench\n"
                            "1_ip=127.0.0.1\n"
                            "1_port=" +
                            QByteArray::number(port) + '\n';
    QSaveFile file(folder + QStringLiteral("/Quorvane.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        fail(QStringLiteral("cannot write the store"));
}

struct Side
{
    const char* name;
    std::function<Sample(int number)> send;
    std::vector<double> delivered;
    std::vector<double> done;
};

void printSide(const Side& side, const char* doneWhat)
{
    std::printf("  %-10s delivered median %7.1f us  p90 %7.1f us   %-14s median %7.1f us  "
                "p90 %7.1f us\n",
                side.name, median(side.delivered), p90(side.delivered), doneWhat, median(side.done),
                p90(side.done));
}

void printRatio(const char* what, const std::vector<double>& top, const std::vector<double>& bottom)
{
    std::printf("  ratio %-34s median %5.2f  p90 %5.2f\n", what, median(top) / median(bottom),
                p90(top) / p90(bottom));
}

void runSends(SendForm& form, Receiver& receiver, Pending& pending)
{
    int number = 0;
    Side sides[] = {
        {"window", [&](int n) { return windowSend(form, receiver, pending, n); }, {}, {}},
        {"POSIX", [&](int n) { return posixSend(receiver, pending, n); }, {}, {}},
        {"QTcpSocket", [&](int n) { return qtSend(receiver, pending, n); }, {}, {}},
    };
    for (int i = 0; i < WarmUpSends; ++i) {
        for (Side& side : sides)
            side.send(++number);
    }
    for (int block = 0; block < Blocks; ++block) {
        // Rotating the order keeps drift in the machine's load out of the ratios.
        for (int turn = 0; turn < 3; ++turn) {
            Side& side = sides[(block + turn) % 3];
            for (int i = 0; i < SendsPerBlock; ++i) {
                const Sample sample = side.send(++number);
                side.delivered.push_back(sample.deliveredUs);
                side.done.push_back(sample.doneUs);
            }
        }
    }
    std::printf("bench_send: %d sends per side to 127.0.0.1, %d rotating blocks of %d, "
                "after %d warm-up each; every record verified (%d)\n",
                Blocks * SendsPerBlock, Blocks, SendsPerBlock, WarmUpSends, number);
    printSide(sides[0], "Send enabled");
    printSide(sides[1], "close returns");
    printSide(sides[2], "all written");
    printRatio("delivered window/POSIX", sides[0].delivered, sides[1].delivered);
    printRatio("delivered window/QTcpSocket", sides[0].delivered, sides[2].delivered);
    printRatio("Send enabled/POSIX close", sides[0].done, sides[1].done);
    printRatio("Send enabled/QTcpSocket written", sides[0].done, sides[2].done);
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_send";
    benchClock.start();
    // Qt fixes the configuration and runtime paths the first time it sees them, so both are
    // redirected before anything can touch the store; the user's own are never used.
    // Static, so that they outlive the instance lock, which is released only at exit.
    static QTemporaryDir configDir;
    static QTemporaryDir runtimeDir;
    if (!configDir.isValid() || !runtimeDir.isValid())
        fail(QStringLiteral("cannot create temporary folders"));
    if (runtimeDir.path().size() > MaxRuntimeDirLength)
        fail(QStringLiteral("the temporary folder path is too long for a local socket; set "
                            "TMPDIR to a shorter folder"));
    QFile::setPermissions(runtimeDir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A receiver that closes early must show up as a failed write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    if (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) != configDir.path())
        fail(QStringLiteral("the configuration folder was not redirected; refusing to touch "
                            "the real store"));

    Pending pending;
    SetMessageBoxAnswerer([&pending](const QString& title, const QString& text) {
        // Any box here is an error report or a setting not taken from the store.
        if (pending.problem.isEmpty())
            pending.problem = QStringLiteral("a box appeared: %1: %2").arg(title, text);
        pending.wake();
    });

    QObject relay;
    Receiver receiver(&relay, [&pending](const Delivery& delivery) {
        if (pending.delivery && pending.problem.isEmpty())
            pending.problem = QStringLiteral("the receiver got a connection nobody made");
        pending.delivery = delivery;
        pending.wake();
    });
    receiver.listen();
    writeStore(configDir.path(), receiver.port());

    {
        SendForm form;
        if (!form.Form_Load())
            fail(QStringLiteral("Form_Load found another copy running"));
        if (UBound(Global::Users) != 1 || Global::Users[1].ip != QStringLiteral("127.0.0.1") ||
            Global::Users[1].port != receiver.port() || Global::PopupWhenSend ||
            Global::MinimizedWhenSend || form.Combo1->currentIndex() != 0)
            fail(QStringLiteral("the store was not loaded as written"));
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            fail(QStringLiteral("the main window was never shown"));
        EnabledWatch watch(form.Command1, pending);
        runSends(form, receiver, pending);
        form.Form_Unload();
    }
    receiver.stop();
    SetMessageBoxAnswerer({});
    return 0;
}
