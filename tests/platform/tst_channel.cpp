// The reply channel: framing, answers, handler chaining and what hostile clients cannot do.

#include "platform/ReplyChannel.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <future>
#include <memory>
#include <vector>

namespace {

// A blocking client on its own thread, as the message receiver is its own process.
std::future<std::optional<std::uint32_t>> sendAsync(const QString& path, std::uint32_t message,
                                                    std::uint32_t dwData, QByteArray data)
{
    return std::async(std::launch::async,
                      [=] { return SendChannelMessage(path, message, dwData, data, 10000); });
}

bool ready(const std::future<std::optional<std::uint32_t>>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::uint32_t echoProc(std::uint32_t message, std::uint32_t dwData, const QByteArray& data)
{
    return message * 1000 + dwData + static_cast<std::uint32_t>(data.size());
}

} // namespace

class TestChannel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void framesAreAnsweredInOrder();
    void handlersChainLikeWindowProcedures();
    void noListenerIsAClearFailure();
    void hostileClientsChangeNothing();
    void handlerWaitingServesOtherClients();

private:
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<ReplyChannelServer> server;
};

void TestChannel::init()
{
    path = dir.filePath(QStringLiteral("test.sock"));
    server = std::make_unique<ReplyChannelServer>();
    QVERIFY(server->listen(path));
}

void TestChannel::cleanup()
{
    server.reset();
}

void TestChannel::framesAreAnsweredInOrder()
{
    server->setProc(echoProc);
    QLocalSocket client;
    client.connectToServer(path);
    QVERIFY(client.waitForConnected(2000));
    // Two frames in one write, the second split from its header by the first's data.
    client.write(ChannelFrame(ChannelMessage::CopyData, 7, "abc") + ChannelFrame(2, 0, {}));
    QTRY_COMPARE(client.bytesAvailable(), 8);
    const QByteArray answers = client.readAll();
    QCOMPARE(qFromLittleEndian<std::uint32_t>(answers.constData()), 0x4Au * 1000 + 7 + 3);
    QCOMPARE(qFromLittleEndian<std::uint32_t>(answers.constData() + 4), 2000u);
}

void TestChannel::handlersChainLikeWindowProcedures()
{
    // Without a handler every frame is answered with 0.
    auto plain = sendAsync(path, 5, 0, "x");
    QTRY_VERIFY(ready(plain));
    QCOMPARE(plain.get(), std::optional<std::uint32_t>(0));

    server->setProc(echoProc);
    QByteArray seen;
    ChannelProc previous;
    previous = server->setProc([&](std::uint32_t m, std::uint32_t d, const QByteArray& data) {
        const std::uint32_t result = previous(m, d, data);
        seen = data;
        return result + 1;
    });
    QVERIFY(previous);
    auto chained = sendAsync(path, 1, 2, "four");
    QTRY_VERIFY(ready(chained));
    QCOMPARE(chained.get(), std::optional<std::uint32_t>(1000 + 2 + 4 + 1));
    QCOMPARE(seen, QByteArray("four"));
}

void TestChannel::noListenerIsAClearFailure()
{
    server->close();
    QString error;
    QVERIFY(!SendChannelMessage(dir.filePath("nobody.sock"), 1, 0, {}, 1000, &error));
    QVERIFY(!error.isEmpty());
}

void TestChannel::hostileClientsChangeNothing()
{
    int handled = 0;
    server->setIdleTimeout(300);
    server->setProc([&](std::uint32_t, std::uint32_t, const QByteArray&) {
        ++handled;
        return 42u;
    });

    // A frame announcing 4 GiB is refused at its header.
    QLocalSocket huge;
    huge.connectToServer(path);
    QVERIFY(huge.waitForConnected(2000));
    QSignalSpy hugeClosed(&huge, &QLocalSocket::disconnected);
    QByteArray header(12, '\0');
    qToLittleEndian<std::uint32_t>(ChannelMessage::CopyData, header.data());
    qToLittleEndian<std::uint32_t>(0xFFFFFFFFu, header.data() + 8);
    huge.write(header + QByteArray(1000, 'x'));
    QVERIFY(hugeClosed.wait(5000));

    // A frame cut short, and fifty clients that say nothing, are dropped after the timeout.
    QLocalSocket cut;
    cut.connectToServer(path);
    QVERIFY(cut.waitForConnected(2000));
    QSignalSpy cutClosed(&cut, &QLocalSocket::disconnected);
    cut.write(ChannelFrame(ChannelMessage::CopyData, 0, "Bob").left(14));
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 50; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(path);
        QVERIFY(idle.back()->waitForConnected(2000));
    }

    // Meanwhile a proper client is served at once.
    auto valid = sendAsync(path, ChannelMessage::CopyData, 0, "ok");
    QTRY_VERIFY(ready(valid));
    QCOMPARE(valid.get(), std::optional<std::uint32_t>(42));

    QTRY_COMPARE(cutClosed.count(), 1);
    for (auto& socket : idle)
        QTRY_COMPARE(socket->state(), QLocalSocket::UnconnectedState);
    QCOMPARE(handled, 1);
}

void TestChannel::handlerWaitingServesOtherClients()
{
    // Like a handler that shows a modal box: while it waits, events keep flowing and
    // another client's frame is handled; the first client gets its answer only afterwards.
    bool released = false;
    std::future<std::optional<std::uint32_t>> releasing;
    server->setProc([&](std::uint32_t message, std::uint32_t, const QByteArray&) -> std::uint32_t {
        if (message == 2) {
            released = true;
            return 2;
        }
        releasing = sendAsync(path, 2, 0, {});
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (released)
                loop.quit();
        });
        poll.start(10);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        return released ? 1 : 0;
    });
    auto waiting = sendAsync(path, 1, 0, {});
    QTRY_VERIFY(ready(waiting));
    QCOMPARE(waiting.get(), std::optional<std::uint32_t>(1));
    QVERIFY(ready(releasing));
    QCOMPARE(releasing.get(), std::optional<std::uint32_t>(2));
}

QTEST_GUILESS_MAIN(TestChannel)
#include "tst_channel.moc"
