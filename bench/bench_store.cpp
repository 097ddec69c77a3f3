// Times saving and loading correspondent tables of 100, 1000 and 10922 entries (the
// largest) through the real store, against the same table in SQLite, measured in the same
// run so the ratio does not depend on the machine's disk. Then loads a 50 MB store of
// valid entries and one of garbage, for time and memory.

#include "BenchSupport.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/UserStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::fail;
using bench::median;

// Three keys an entry, and 3 * 10922 = 32766 is the most a 16-bit indexed section holds.
constexpr int EntryCount = 10922;
constexpr int WarmUpRounds = 2;
constexpr int MeasuredRounds = 11;

struct Timing
{
    double writeMs = 0;
    double readMs = 0;
    double totalMs() const { return writeMs + readMs; }
};

double elapsedMs(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

UserTable sampleTable(int entries, int round)
{
    UserTable table = DimUsers(entries);
    for (int i = 1; i <= entries; ++i) {
        UserRecord& user = table[static_cast<std::size_t>(i)];
        user.name = QStringLiteral("User %1").arg(i);
        user.ip = QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256);
        user.port = 1024 + i + round;
        user.order = i;
    }
    return table;
}

bool sameTable(const UserTable& a, const UserTable& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 1; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].ip != b[i].ip || a[i].port != b[i].port ||
            a[i].order != b[i].order)
            return false;
    }
    return true;
}

// One save and one cold load, as the first and the next run of the program do. Each round
// stores other ports, so that the save really writes.
Timing storeRound(const UserTable& expected)
{
    Global::Users = expected;
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    SaveUsers();
    timing.writeMs = elapsedMs(timer);
    Global::Users = DimUsers(0);
    ForgetStore();
    timer.start();
    LoadUsers();
    timing.readMs = elapsedMs(timer);
    if (!sameTable(Global::Users, expected))
        fail("the store loaded back a table that differs from the saved one");
    return timing;
}

void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(QStringLiteral("%1: %2").arg(QLatin1String(what),
                                          QString::fromUtf8(sqlite3_errmsg(db))));
}

// The same table in SQLite: one table, one transaction, synchronous=FULL, with opening
// and closing the database inside the timing.
Timing sqliteRound(const UserTable& expected, const QByteArray& fileName)
{
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    sqlite3* db = nullptr;
    check(sqlite3_open(fileName.constData(), &db), db, "open");
    check(sqlite3_exec(db,
                       "PRAGMA synchronous=FULL;"
                       "CREATE TABLE IF NOT EXISTS users(number INTEGER PRIMARY KEY, name TEXT,"
                       " ip TEXT, port INTEGER);"
                       "BEGIN; DELETE FROM users;",
                       nullptr, nullptr, nullptr),
          db, "prepare the table");
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO users VALUES(?,?,?,?)", -1, &insert, nullptr), db,
          "prepare the insert");
    for (int i = 1; i <= UBound(expected); ++i) {
        const UserRecord& user = expected[static_cast<std::size_t>(i)];
        const QByteArray name = user.name.toUtf8();
        const QByteArray ip = user.ip.toUtf8();
        sqlite3_bind_int(insert, 1, i);
        sqlite3_bind_text(insert, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, ip.constData(), int(ip.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, user.port);
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
    timing.writeMs = elapsedMs(timer);

    timer.start();
    UserTable loaded = DimUsers(0);
    check(sqlite3_open(fileName.constData(), &db), db, "open");
    sqlite3_stmt* select = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT name, ip, port FROM users ORDER BY number", -1, &select,
                             nullptr),
          db, "prepare the select");
    while (sqlite3_step(select) == SQLITE_ROW) {
        UserRecord user;
        user.name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                                      sqlite3_column_bytes(select, 0));
        user.ip = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                                    sqlite3_column_bytes(select, 1));
        user.port = sqlite3_column_int(select, 2);
        user.order = static_cast<int>(loaded.size());
        loaded.push_back(std::move(user));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    timing.readMs = elapsedMs(timer);
    if (!sameTable(loaded, expected))
        fail("SQLite read back a table that differs from the written one");
    return timing;
}

long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// A hand-made or damaged store of about 50 MB must not hang start-up. Loaded in a child
// process, whose peak memory then tells what the load cost.
void hugeStore(const QString& path, const char* what, const std::function<QByteArray(int)>& line)
{
    double sizeMb = 0;
    {
        QByteArray text;
        text.reserve(52 << 20);
        text += "[Users]\n";
        for (int i = 1; text.size() < (50 << 20); ++i)
            text += line(i);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            fail("cannot write the huge store");
        sizeMb = text.size() / 1048576.0;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        ForgetStore();
        const long before = statusKb("VmRSS:");
        QElapsedTimer timer;
        timer.start();
        LoadUsers();
        const double ms = elapsedMs(timer);
        const double grownMb = (statusKb("VmHWM:") - before) / 1024.0;
        std::printf("  %-14s %.1f MB: load %7.1f ms (goal < 2000), peak memory +%.1f MB = %.1fx "
                    "the file (goal < 10), %d entries\n",
                    what, sizeMb, ms, grownMb, grownMb / sizeMb, UBound(Global::Users));
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        fail("the huge store's load did not finish");
    QFile::remove(path);
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_store";
    // The store's path follows XDG_CONFIG_HOME: redirect it before anything can touch it, so
    // the user's real store is never written.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        fail("cannot create a temporary folder");
    const QString configDir = scratch.filePath(QStringLiteral("config"));
    const QString baselineDir = scratch.filePath(QStringLiteral("baseline"));
    if (!QDir().mkpath(configDir) || !QDir().mkpath(baselineDir))
        fail("cannot create the scratch folders");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir));

    QCoreApplication app(argc, argv);
    if (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) != configDir)
        fail("the configuration folder was not redirected; refusing to touch the real store");
    const QString storeFile = configDir + QStringLiteral("/Quorvane/Quorvane.conf");
    const QByteArray sqliteFile = QFile::encodeName(baselineDir + QStringLiteral("/users.db"));

    std::printf("bench_store: SaveUsers + cold LoadUsers against SQLite (one table, one "
                "transaction, synchronous=FULL, open and close timed), %d rounds each after %d "
                "warm-up, alternating\n",
                MeasuredRounds, WarmUpRounds);
    // The cost of each further entry between two sizes: flat when the store grows linearly.
    double lastStore = 0, lastBase = 0;
    int lastEntries = 0;
    for (const int entries : {100, 1000, EntryCount}) {
        std::vector<double> storeSave, storeLoad, storeTotal;
        std::vector<double> baseWrite, baseRead, baseTotal;
        for (int round = 0; round < WarmUpRounds + MeasuredRounds; ++round) {
            const UserTable expected = sampleTable(entries, round);
            // Alternating keeps drift in the disk or the machine's load out of the ratio.
            const Timing store = storeRound(expected);
            const Timing base = sqliteRound(expected, sqliteFile);
            if (round == 0 && !QFileInfo::exists(storeFile))
                fail("the store file was not written where expected");
            if (round < WarmUpRounds)
                continue;
            storeSave.push_back(store.writeMs);
            storeLoad.push_back(store.readMs);
            storeTotal.push_back(store.totalMs());
            baseWrite.push_back(base.writeMs);
            baseRead.push_back(base.readMs);
            baseTotal.push_back(base.totalMs());
        }
        const double storeMedian = median(storeTotal);
        const double baseMedian = median(baseTotal);
        std::printf("  %5d entries: store %8.2f ms (save %.2f, load %.2f)   SQLite %8.2f ms "
                    "(write %.2f, read %.2f)   ratio %.2f (goal <= 2.0)\n",
                    entries, storeMedian, median(storeSave), median(storeLoad), baseMedian,
                    median(baseWrite), median(baseRead),
                    baseMedian > 0 ? storeMedian / baseMedian : 0.0);
        if (lastEntries > 0) {
            const double more = entries - lastEntries;
            std::printf("         per entry from %d: store %.2f us, SQLite %.2f us\n", lastEntries,
                        (storeMedian - lastStore) * 1000 / more,
                        (baseMedian - lastBase) * 1000 / more);
        }
        lastStore = storeMedian;
        lastBase = baseMedian;
        lastEntries = entries;
    }

    hugeStore(storeFile, "valid entries", [](int i) {
        const QByteArray n = QByteArray::number(i);
        return n + "_name=User " + n + "\n" + n + "_ip=10.0.0.1\n" + n + "_port=505\n";
    });
    hugeStore(storeFile, "garbage", [](int i) {
        QByteArray line(40 + i % 50, '\0');
        for (qsizetype k = 0; k < line.size(); ++k)
            line[k] = static_cast<char>((i * 131 + k * 17) % 251 + 1);
        return line + '\n';
    });
    return 0;
}
