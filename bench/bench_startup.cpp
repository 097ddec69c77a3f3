// Times start-up of the real program from its launch to the first Expose of its main window,
// stamped inside the process by the preloaded first_expose library, so that the launcher's
// waiting is no part of it. Pairs alternate with the baseline, a bare window with the same
// widgets and the same recipient lines, for tables of 1 (the default), 100, 1000 and 10922
// entries; each round runs in fresh configuration and runtime folders (the runtime folder on
// a RAM disk, as /run/user is), offscreen, holding the store as the previous start left it.
//
// Usage: bench_startup [path-to-quorvane [path-to-minimal_window [path-to-preload]]].
// Without arguments the programs built next to this benchmark are used.

#include "BenchSupport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using bench::fail;
using bench::median;

constexpr int Sizes[] = {1, 100, 1000, 10922};
// Two: the first start marks the store, the second rewrites it; later starts write nothing.
constexpr int WarmUpRounds = 2;
constexpr int MeasuredRounds = 25;
constexpr int StartUpLimitS = 20;

QString programPath(int argc, char* argv[], int at, const char* built, const char* name)
{
    if (argc > at)
        return QFile::decodeName(argv[at]);
    if (QFileInfo::exists(QString::fromUtf8(built)))
        return QString::fromUtf8(built);
    return QCoreApplication::applicationDirPath() + QStringLiteral("/") + QLatin1String(name);
}

// The store exactly as the program keeps it; one entry is the default table, which the
// program makes itself on a first start.
void writeStore(const QString& configDir, int entries)
{
    const QString folder = configDir + QStringLiteral("/Quorvane");
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot create %1").arg(folder));
    QByteArray text = "[Users]\n";
    for (int i = 1; i <= entries; ++i) {
        const QByteArray number = QByteArray::number(i);
        text += number + "_name=User " + number + '\n';
        text += number + "_ip=10.0." + QByteArray::number(i / 256) + '.' +
                QByteArray::number(i % 256) + '\n';
        text += number + "_port=" + QByteArray::number(1024 + i) + '\n';
    }
    QSaveFile file(folder + QStringLiteral("/Quorvane.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        fail(QStringLiteral("cannot write the store"));
}

// How many entries the copy saved back to its store at start-up.
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

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Starts the program with the given environment added, and waits (on SIGCHLD, bounded) for
// it to end, as the preload library ends it at its first Expose. Returns the stamp it wrote,
// in milliseconds.
double timedStart(const QString& program, const QStringList& arguments,
                  const std::vector<std::string>& extraEnv, const QString& runtimeDir)
{
    const QString stampFile = runtimeDir + QStringLiteral("/first-expose");
    const QByteArray errorLog = QFile::encodeName(runtimeDir + QStringLiteral("/stderr.txt"));

    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced |= text.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(text);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    env.push_back("BENCH_EXPOSE_FILE=" + QFile::encodeName(stampFile).toStdString());
    env.emplace_back(); // the start stamp, filled in last
    std::vector<std::string> args{QFile::encodeName(program).toStdString()};
    for (const QString& argument : arguments)
        args.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Kept in a file so a full pipe can never stall the copy; shown only when a round fails.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    env.back() = "BENCH_START_NS=" + std::to_string(monotonicNs());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        fail(QStringLiteral("cannot start %1").arg(program));

    sigset_t childEnded;
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    const timespec limit{StartUpLimitS, 0};
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (sigtimedwait(&childEnded, nullptr, &limit) < 0 && errno == EAGAIN) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            fail(QStringLiteral("%1 showed no window within %2 s").arg(program).arg(StartUpLimitS));
        }
    }
    QFile stamp(stampFile);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !stamp.open(QIODevice::ReadOnly)) {
        QFile log(QFile::decodeName(errorLog));
        if (log.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "%s", log.readAll().constData());
        fail(QStringLiteral("%1 ended (status %2) without stamping its first Expose")
                 .arg(program)
                 .arg(status));
    }
    return stamp.readAll().trimmed().toDouble() / 1e6;
}

// `store`: the store to start with; when empty, the round is a first start. What the copy
// saved is kept there for the next round, so that measured rounds are ordinary starts that
// find the store as the program leaves it.
double startUpRound(const QString& program, const std::string& preload, bool baseline, int entries,
                    QByteArray& store)
{
    QTemporaryDir configDir;
    // Made with mode 0700, as a runtime folder must be, and in memory as /run/user is.
    QTemporaryDir runtimeDir(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                                 ? QStringLiteral("/dev/shm/bench_startup-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/bench_startup-XXXXXX"));
    if (!configDir.isValid() || !runtimeDir.isValid())
        fail(QStringLiteral("cannot create temporary folders"));
    const QString storeFile = configDir.path() + QStringLiteral("/Quorvane/Quorvane.conf");
    if (!baseline && !store.isEmpty()) {
        QDir().mkpath(QFileInfo(storeFile).path());
        QFile file(storeFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(store) != store.size())
            fail(QStringLiteral("cannot write the store"));
    } else if (!baseline && entries > 1) {
        writeStore(configDir.path(), entries);
    }

    const double ms =
        timedStart(program, baseline ? QStringList{QString::number(entries)} : QStringList(),
                   {"XDG_CONFIG_HOME=" + QFile::encodeName(configDir.path()).toStdString(),
                    "XDG_RUNTIME_DIR=" + QFile::encodeName(runtimeDir.path()).toStdString(),
                    "QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" + preload},
                   runtimeDir.path());

    if (baseline)
        return ms;
    // The next round starts from what this one left: the first start marks the store and
    // the second rewrites it once, after which an ordinary start writes nothing.
    QFile file(storeFile);
    if (file.open(QIODevice::ReadOnly))
        store = file.readAll();
    // The copy saves its table back before showing the window, so the file tells whether
    // it really started with the table this round gave it.
    const int saved = savedEntryCount(configDir.path());
    if (saved != entries)
        fail(QStringLiteral("the copy saved %1 entries, expected %2").arg(saved).arg(entries));
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_startup";
    // SIGCHLD stays blocked so that the end of each copy is waited for with sigtimedwait.
    sigset_t childEnded;
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childEnded, nullptr);
    QCoreApplication app(argc, argv);
    const QString program = programPath(argc, argv, 1, QUORVANE_BINARY, "../quorvane");
    const QString minimal = programPath(argc, argv, 2, MINIMAL_WINDOW, "minimal_window");
    const QString preload = programPath(argc, argv, 3, FIRST_EXPOSE, "libfirst_expose.so");
    for (const QString& path : {program, minimal}) {
        if (!QFileInfo(path).isExecutable())
            fail(QStringLiteral("%1 is not an executable").arg(path));
    }
    if (!QFileInfo::exists(preload))
        fail(QStringLiteral("%1 does not exist").arg(preload));
    const std::string preloadPath = QFile::encodeName(preload).toStdString();

    constexpr int SizeCount = sizeof Sizes / sizeof Sizes[0];
    // Alternating keeps drift in the machine's load out of the ratios.
    std::vector<double> times[2][SizeCount]; // [baseline][size]
    QByteArray stores[SizeCount];            // as the first start left them
    for (int round = 0; round < WarmUpRounds + MeasuredRounds; ++round) {
        for (int size = 0; size < SizeCount; ++size) {
            for (const bool baseline : {false, true}) {
                const double ms = startUpRound(baseline ? minimal : program, preloadPath, baseline,
                                               Sizes[size], stores[size]);
                if (round >= WarmUpRounds)
                    times[baseline][size].push_back(ms);
            }
        }
    }

    std::printf("bench_startup: %s from launch to its first Expose (stamped in the process, "
                "offscreen) against a bare window with the same widgets and lines, %d rounds "
                "each after %d warm-up, alternating\n",
                qPrintable(QFileInfo(program).canonicalFilePath()), MeasuredRounds, WarmUpRounds);
    for (int size = 0; size < SizeCount; ++size) {
        const double own = median(times[false][size]);
        const double base = median(times[true][size]);
        // Each pair ran back to back, so its own ratio is the least touched by drift.
        std::vector<double> pairRatios;
        for (std::size_t i = 0; i < times[false][size].size(); ++i)
            pairRatios.push_back(times[false][size][i] / times[true][size][i]);
        const QString label = Sizes[size] == 1 ? QStringLiteral("default table (1 entry)")
                                               : QStringLiteral("%1 entries").arg(Sizes[size]);
        std::printf("  %-24s quorvane %7.2f ms   bare window %7.2f ms   ratio %.2f   median "
                    "pair ratio %.2f",
                    qPrintable(label), own, base, base > 0 ? own / base : 0.0, median(pairRatios));
        if (Sizes[size] == 1)
            std::printf(" (goal <= 1.2)");
        else if (Sizes[size] == 10922)
            std::printf(" (goal <= 1.3)");
        std::printf("\n");
    }
    return 0;
}
