// Records per second finished by quorvane-receiver (window shown offscreen, history on)
// from 1 and 8 concurrent senders, against a minimal accept/read/close loop measured in
// the same run, alternating. Each sender writes a record, half-closes and waits for the
// receiver to close. Also the resident memory after the first message and after 10,000.

#include "BenchSupport.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "history/History.h"
#include "receiver/ReceiverWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int PerRound = 1000;
constexpr int Rounds = 5;

int listeningSocket(quint16& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 256) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        bench::fail(QStringLiteral("cannot listen for the baseline"));
    port = ntohs(address.sin_port);
    return fd;
}

// One record per connection: write, half-close, wait for the other side to close.
void sendRecords(quint16 port, int count)
{
    const QByteArray record = QByteArray("Sender\0"
                                         "505\0"
                                         "a message of ordinary length, "
                                         "one line as most are",
                                         0x3c);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    char buffer[256];
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            write(fd, record.constData(), static_cast<size_t>(record.size())) != record.size())
            bench::fail(QStringLiteral("a sender failed"));
        shutdown(fd, SHUT_WR);
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
        close(fd);
    }
}

// Runs `senders` threads sharing `total` records; returns records per second once
// `finished` says all are done.
template <typename Finished> double run(quint16 port, int senders, int total, Finished finished)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int i = 0; i < senders; ++i)
        threads.emplace_back(sendRecords, port, total / senders);
    while (!finished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (std::thread& thread : threads)
        thread.join();
    return total / (clock.nsecsElapsed() / 1e9);
}

double baseline(int senders, int total)
{
    quint16 port = 0;
    const int server = listeningSocket(port);
    std::atomic<int> done{0};
    std::thread loop([&] {
        char buffer[65536];
        for (int i = 0; i < total; ++i) {
            const int fd = accept(server, nullptr, nullptr);
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            close(fd);
            ++done;
        }
    });
    const double rate = run(port, senders, total, [&] { return done == total; });
    loop.join();
    close(server);
    return rate;
}

double residentMegabytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE) / 1048576.0;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_receiver";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config, data, runtime;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QApplication app(argc, argv);

    quint16 port = 0;
    close(listeningSocket(port));
    SettingsStore(StoreKeys::Application)
        .SaveSetting(StoreKeys::IdentificationSection, StoreKeys::MyPortnb, QString::number(port));
    ReceiverWindow window;
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window) || !window.startListening() ||
        !window.history().isOpen())
        bench::fail(QStringLiteral("the receiver did not start"));
    int finished = 0;
    QObject::connect(&window, &ReceiverWindow::messagesShown,
                     [&](int count) { finished += count; });

    run(port, 1, 1, [&] { return finished == 1; });
    const double firstRss = residentMegabytes();

    std::printf("records/s over %d rounds of %d records (median)\n", Rounds, PerRound);
    for (int senders : {1, 8}) {
        std::vector<double> loop, receiver;
        for (int round = 0; round < Rounds; ++round) {
            loop.push_back(baseline(senders, PerRound));
            const int target = finished + PerRound;
            receiver.push_back(run(port, senders, PerRound, [&] { return finished >= target; }));
        }
        const double ratio = bench::median(receiver) / bench::median(loop);
        std::printf("%d sender%s: loop %8.0f  receiver %8.0f  ratio %.2f (goal >= %.1f)\n", senders,
                    senders == 1 ? " " : "s", bench::median(loop), bench::median(receiver), ratio,
                    senders == 1 ? 0.3 : 0.5);
    }
    const double lastRss = residentMegabytes();
    std::printf("RSS after the first message %.1f MB, after %d more %.1f MB: +%.1f MB "
                "(goal <= 5)\n",
                firstRss, finished - 1, lastRss, lastRss - firstRss);
    return 0;
}
