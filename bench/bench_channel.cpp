// How quickly the reply channel answers an activate frame (as a second copy sends it) while
// hostile clients attack it, against the same probe on an idle channel in the same run:
// 20,000 activate frames in one write (20 times over), and 8 clients flooding frames for 5 s. Also
// prints the worst delay of a 10 ms timer on the server's thread, which stands for repainting.

#include "BenchSupport.h"
#include "platform/ReplyChannel.h"
#include "platform/SetActiveWnd.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using bench::fail;
using bench::median;

struct Figures
{
    std::vector<double> answerMs;
    double worstTimerLateMs = 0;
};

// Runs the event loop while `attack` runs on other threads; a probe thread sends an activate
// frame on a fresh connection every 20 ms meanwhile.
Figures measure(const QString& path, const std::function<void()>& attack)
{
    Figures figures;
    std::mutex lock;
    std::atomic<bool> done{false};
    std::thread probe([&] {
        while (!done) {
            QElapsedTimer clock;
            clock.start();
            if (!SendChannelMessage(path, ChannelMessage::Activate, 0, {}, 10000))
                fail(QStringLiteral("an activate frame got no answer"));
            const std::lock_guard<std::mutex> guard(lock);
            figures.answerMs.push_back(clock.nsecsElapsed() / 1e6);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::thread attacker([&] {
        attack();
        done = true;
    });
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        figures.worstTimerLateMs =
            std::max(figures.worstTimerLateMs, sinceTick.nsecsElapsed() / 1e6 - 10);
        sinceTick.restart();
        if (done)
            loop.quit();
    });
    tick.start(10);
    loop.exec();
    attacker.join();
    probe.join();
    return figures;
}

void print(const char* name, const Figures& figures, double baseline)
{
    const double worst = *std::max_element(figures.answerMs.begin(), figures.answerMs.end());
    std::printf("%-34s %5zu probes  median %7.2f ms  worst %7.2f ms (%6.1fx idle median)  "
                "timer late by %7.2f ms at worst\n",
                name, figures.answerMs.size(), median(figures.answerMs), worst, worst / baseline,
                figures.worstTimerLateMs);
}

QLocalSocket* connectTo(const QString& path, QLocalSocket& socket)
{
    socket.connectToServer(path);
    if (!socket.waitForConnected(5000))
        fail(QStringLiteral("cannot connect: %1").arg(socket.errorString()));
    return &socket;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_channel";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sock"));
    ReplyChannelServer server;
    if (!server.listen(path))
        fail(QStringLiteral("cannot listen on %1").arg(path));
    QWindow window;
    window.show();
    server.setProc(MainWindowProc([&window] { return &window; }));

    const Figures idle =
        measure(path, [] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
    const double baseline = median(idle.answerMs);
    print("idle channel", idle, baseline);

    const Figures oneWrite = measure(path, [&] {
        for (int round = 0; round < 20; ++round) {
            QLocalSocket socket;
            connectTo(path, socket);
            socket.write(ChannelFrame(ChannelMessage::Activate, 0, {}).repeated(20000));
            QByteArray answers;
            while (answers.size() < 20000 * 4 && socket.waitForReadyRead(10000))
                answers += socket.readAll();
            if (answers.size() != 20000 * 4)
                fail(
                    QStringLiteral("%1 of 20000 activate frames answered").arg(answers.size() / 4));
        }
    });
    print("20 x 20,000 activate frames", oneWrite, baseline);

    const Figures flood = measure(path, [&] {
        std::vector<std::thread> clients;
        std::atomic<long long> answered{0};
        for (int c = 0; c < 8; ++c) {
            clients.emplace_back([&] {
                QLocalSocket socket;
                connectTo(path, socket);
                // Frames that cannot be collapsed, a thousand per write.
                const QByteArray burst =
                    ChannelFrame(ChannelMessage::FindWindow, 0, "no such window").repeated(1000);
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 5000) {
                    socket.write(burst);
                    socket.waitForBytesWritten(1000);
                    answered += socket.readAll().size() / 4;
                }
            });
        }
        for (std::thread& client : clients)
            client.join();
        std::printf("(flood: %lld frames answered in 5 s)\n", answered.load());
    });
    print("8 clients flooding for 5 s", flood, baseline);

    // The real deadline against a client that sends a byte a second: dropped once its frame
    // has been open 5 s, however the bytes keep coming.
    const Figures dribble = measure(path, [&] {
        QLocalSocket socket;
        connectTo(path, socket);
        QElapsedTimer clock;
        clock.start();
        const QByteArray frame = ChannelFrame(ChannelMessage::CopyData, 0, "Bob, dribbling");
        for (qsizetype i = 0; i < frame.size() && socket.state() == QLocalSocket::ConnectedState;
             ++i) {
            socket.write(frame.constData() + i, 1);
            socket.waitForBytesWritten(1000);
            if (socket.waitForDisconnected(1000))
                break;
        }
        std::printf("(a byte a second: dropped after %.2f s, deadline %.1f s)\n",
                    clock.elapsed() / 1000.0, ChannelLimits::FrameTimeoutMs / 1000.0);
    });
    print("a client dribbling a byte a second", dribble, baseline);
    return 0;
}
