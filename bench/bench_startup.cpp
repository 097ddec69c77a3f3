// Times start-up of the real program to its first shown main window, with the default
// correspondent table and with the largest one, each round in fresh configuration and
// runtime folders (the runtime folder on a RAM disk, as real ones are), holding the store
// as the first start (the warm-up round) left it. The baseline, in
// the same run, is a bare window with the same widgets and the same recipient lines.
//
// Usage: bench_startup [path-to-quorvane [path-to-minimal_window]]. Without arguments the
// programs built next to this benchmark are used.

#include "BenchSupport.h"
#include "platform/ReplyChannel.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

using bench::fail;
using bench::median;

constexpr int LargeEntryCount = 10922;
constexpr int WarmUpRounds = 1;
constexpr int MeasuredRounds = 9;
constexpr int StartUpLimitMs = 20000;
constexpr int AskTimeoutMs = 200;
// Room for "/Quorvane/send-message.sock" within a local socket address.
constexpr int MaxRuntimeDirLength = 70;

QString programPath(int argc, char* argv[], int at, const char* built, const char* name)
{
    if (argc > at)
        return QFile::decodeName(argv[at]);
    if (QFileInfo::exists(QString::fromUtf8(built)))
        return QString::fromUtf8(built);
    return QCoreApplication::applicationDirPath() + QStringLiteral("/") + QLatin1String(name);
}

// The store exactly as the program keeps it.
void writeLargeStore(const QString& configDir)
{
    const QString folder = configDir + QStringLiteral("/Quorvane");
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot create %1").arg(folder));
    QByteArray text = "[Users]\n";
    for (int i = 1; i <= LargeEntryCount; ++i) {
        const QByteArray number = QByteArray::number(i);
        text += number + "_name=User " + number + '\n';
        text += number + "_ip=10.0." + QByteArray::number(i / 256) + '.' +
                QByteArray::number(i % 256) + '\n';
        text += number + "_port=" + QByteArray::number(1024 + i) + '\n';
    }
    QSaveFile file(folder + QStringLiteral("/Quorvane.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        fail(QStringLiteral("cannot write the large store"));
}

// How many entries the running copy saved back to its store at start-up.
int savedEntryCount(const QString& configDir)
{
    QFile file(configDir + QStringLiteral("/Quorvane/Quorvane.conf"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    bool inUsers = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('['))
            inUsers = line == "[Users]";
        else if (inUsers && line.contains("_name="))
            ++count;
    }
    return count;
}

// Waits, on file system notifications, until the running copy's socket exists, the copy
// has ended, or the deadline passes. True when the socket exists.
bool waitForSocket(QProcess& child, const QString& runtimeDir, const QString& socketPath,
                   const QDeadlineTimer& deadline)
{
    const QString folder = runtimeDir + QStringLiteral("/Quorvane");
    QFileSystemWatcher watcher;
    watcher.addPath(runtimeDir);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool done = false;
    auto check = [&] {
        // The copy makes its folder first; the socket appears in it later.
        if (!watcher.directories().contains(folder) && QFileInfo::exists(folder))
            watcher.addPath(folder);
        if (QFileInfo::exists(socketPath) || child.state() == QProcess::NotRunning ||
            deadline.hasExpired()) {
            done = true;
            loop.quit();
        }
    };
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, check);
    QObject::connect(&child, &QProcess::finished, &loop, check);
    QObject::connect(&limit, &QTimer::timeout, &loop, check);
    limit.start(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    check();
    if (!done)
        loop.exec();
    return QFileInfo::exists(socketPath);
}

// `store`: the store to start with; when empty, the round is a first start, and what the
// copy saved is kept there for the next rounds, which are then ordinary starts that find
// the store as the program leaves it.
double startUpRound(const QString& program, bool baseline, bool large, QByteArray& store)
{
    QTemporaryDir configDir;
    // Made with mode 0700, as a runtime folder must be, and in memory as /run/user is.
    QTemporaryDir runtimeDir(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                                 ? QStringLiteral("/dev/shm/bench_startup-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/bench_startup-XXXXXX"));
    if (!configDir.isValid() || !runtimeDir.isValid())
        fail(QStringLiteral("cannot create temporary folders"));
    if (runtimeDir.path().size() > MaxRuntimeDirLength)
        fail(QStringLiteral("the temporary folder path is too long for a local socket; set "
                            "TMPDIR to a shorter folder"));
    const QString storeFile = configDir.path() + QStringLiteral("/Quorvane/Quorvane.conf");
    if (!baseline && !store.isEmpty()) {
        QDir().mkpath(QFileInfo(storeFile).path());
        QFile file(storeFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(store) != store.size())
            fail(QStringLiteral("cannot write the store"));
    } else if (large && !baseline) {
        writeLargeStore(configDir.path());
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString socketPath = runtimeDir.path() + QStringLiteral("/Quorvane/send-message.sock");
    const QString errorLog = runtimeDir.filePath(QStringLiteral("stderr.txt"));

    QProcess child;
    child.setProcessEnvironment(env);
    child.setStandardOutputFile(QProcess::nullDevice());
    // Kept in a file so a full pipe can never stall the copy; shown only when a round fails.
    child.setStandardErrorFile(errorLog);

    auto abandon = [&](const QString& why) {
        child.kill();
        child.waitForFinished(5000);
        QFile log(errorLog);
        if (log.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "%s", log.readAll().constData());
        fail(why);
    };

    const QDeadlineTimer deadline(StartUpLimitMs);
    QElapsedTimer timer;
    timer.start();
    child.start(program, baseline ? QStringList{QString::number(large ? LargeEntryCount : 1)}
                                  : QStringList());

    std::optional<double> shownMs;
    QString lastError;
    while (!shownMs) {
        if (!waitForSocket(child, runtimeDir.path(), socketPath, deadline)) {
            if (child.state() == QProcess::NotRunning)
                abandon(QStringLiteral("%1 ended before showing its window (%2)")
                            .arg(program, child.errorString()));
            abandon(QStringLiteral("no reply channel within %1 ms").arg(StartUpLimitMs));
        }
        // The copy answers only from its event loop, which runs once the window is shown;
        // until then each question waits for the answer, bounded by AskTimeoutMs.
        QElapsedTimer asking;
        asking.start();
        const std::optional<std::uint32_t> answer =
            SendChannelMessage(socketPath, ChannelMessage::FindWindow, 0,
                               QByteArray("Send Message"), AskTimeoutMs, &lastError);
        if (answer && *answer == 1) {
            shownMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
            break;
        }
        if (deadline.hasExpired())
            abandon(QStringLiteral("no shown main window within %1 ms (last: %2)")
                        .arg(StartUpLimitMs)
                        .arg(answer ? QStringLiteral("answer %1").arg(*answer) : lastError));
        // A socket that refuses at once (bound, not yet listening) is retried after a brief
        // wait on the copy's exit, rather than spinning and taking a core from the copy.
        if (asking.elapsed() < 1 && child.waitForFinished(1))
            abandon(QStringLiteral("%1 ended before showing its window").arg(program));
    }

    child.kill();
    if (!child.waitForFinished(5000))
        fail(QStringLiteral("the copy did not end after being killed"));

    if (baseline)
        return *shownMs;
    if (store.isEmpty()) {
        QFile file(storeFile);
        if (file.open(QIODevice::ReadOnly))
            store = file.readAll();
    }
    // The copy saves its table back before showing the window, so the file tells whether
    // it really started with the table this round gave it.
    const int expected = large ? LargeEntryCount : 1;
    const int saved = savedEntryCount(configDir.path());
    if (saved != expected)
        fail(QStringLiteral("the copy saved %1 entries, expected %2").arg(saved).arg(expected));
    return *shownMs;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_startup";
    QCoreApplication app(argc, argv);
    const QString program = programPath(argc, argv, 1, QUORVANE_BINARY, "../quorvane");
    const QString minimal = programPath(argc, argv, 2, MINIMAL_WINDOW, "minimal_window");
    for (const QString& path : {program, minimal}) {
        if (!QFileInfo(path).isExecutable())
            fail(QStringLiteral("%1 is not an executable").arg(path));
    }

    // Alternating keeps drift in the machine's load out of the ratios.
    std::vector<double> times[2][2]; // [baseline][large]
    QByteArray stores[2];            // [large], as the first start left them
    for (int round = 0; round < WarmUpRounds + MeasuredRounds; ++round) {
        for (const bool large : {false, true}) {
            for (const bool baseline : {false, true}) {
                const double ms =
                    startUpRound(baseline ? minimal : program, baseline, large, stores[large]);
                if (round >= WarmUpRounds)
                    times[baseline][large].push_back(ms);
            }
        }
    }

    std::printf("bench_startup: %s to first shown main window (offscreen) against a bare "
                "window with the same widgets and lines, %d rounds each after %d warm-up, "
                "alternating\n",
                qPrintable(QFileInfo(program).canonicalFilePath()), MeasuredRounds, WarmUpRounds);
    for (const bool large : {false, true}) {
        const double own = median(times[false][large]);
        const double base = median(times[true][large]);
        std::printf(
            "  %-28s quorvane %8.2f ms   bare window %8.2f ms   ratio %.2f (goal <= %.1f)\n",
            large ? "largest table (10922 entries)" : "default table (1 entry)", own, base,
            base > 0 ? own / base : 0.0, large ? 1.5 : 1.3);
    }
    return 0;
}
