// Times saving and loading the largest correspondent table through the real store, against
// writing the same keys as plain lines to a file (made durable the same way) and parsing
// them back, measured in the same run so the ratio does not depend on the machine's disk.

#include "BenchSupport.h"
#include "app/Global.h"
#include "app/UserStore.h"

#include <QByteArray>
#include <QByteArrayList>
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
#include <vector>

namespace {

using bench::fail;
using bench::median;

// Three keys an entry, and 3 * 10922 = 32766 is the most a 16-bit indexed section holds.
constexpr int EntryCount = 10922;
constexpr int WarmUpRounds = 2;
constexpr int MeasuredRounds = 15;

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

UserTable sampleTable()
{
    UserTable table = DimUsers(EntryCount);
    for (int i = 1; i <= EntryCount; ++i) {
        UserRecord& user = table[static_cast<std::size_t>(i)];
        user.name = QStringLiteral("User %1").arg(i);
        user.ip = QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256);
        user.port = 1024 + i;
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

Timing storeRound(const UserTable& expected)
{
    Global::Users = expected;
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    SaveUsers();
    timing.writeMs = elapsedMs(timer);
    Global::Users = DimUsers(0);
    timer.start();
    LoadUsers();
    timing.readMs = elapsedMs(timer);
    if (UBound(Global::Users) != EntryCount)
        fail("the store did not load back every entry");
    if (!sameTable(Global::Users, expected))
        fail("the store loaded back a table that differs from the saved one");
    return timing;
}

QByteArray baselineText(const UserTable& table)
{
    QByteArray text;
    text.reserve(static_cast<qsizetype>(table.size()) * 64);
    for (int i = 1; i <= UBound(table); ++i) {
        const UserRecord& user = table[static_cast<std::size_t>(i)];
        const QByteArray number = QByteArray::number(i);
        text += number + "_name=" + user.name.toUtf8() + '\n';
        text += number + "_ip=" + user.ip.toUtf8() + '\n';
        text += number + "_port=" + QByteArray::number(user.port) + '\n';
    }
    return text;
}

UserTable parseBaseline(const QByteArray& text)
{
    UserTable table = DimUsers(0);
    const QByteArrayList lines = text.split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        const qsizetype underscore = line.indexOf('_');
        if (eq < 0 || underscore < 0 || underscore > eq)
            continue;
        const int number = line.left(underscore).toInt();
        if (number < 1)
            continue;
        if (number > UBound(table))
            table.resize(static_cast<std::size_t>(number) + 1);
        UserRecord& user = table[static_cast<std::size_t>(number)];
        user.order = number;
        const QByteArray field = line.mid(underscore + 1, eq - underscore - 1);
        const QByteArray value = line.mid(eq + 1);
        if (field == "name")
            user.name = QString::fromUtf8(value);
        else if (field == "ip")
            user.ip = QString::fromUtf8(value);
        else if (field == "port")
            user.port = value.toInt();
    }
    return table;
}

Timing baselineRound(const UserTable& expected, const QString& fileName)
{
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    {
        QSaveFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            fail("cannot open the baseline file for writing");
        file.write(baselineText(expected));
        // Syncs the data to disk and renames it into place, as a durable save must.
        if (!file.commit())
            fail("cannot commit the baseline file");
    }
    timing.writeMs = elapsedMs(timer);
    timer.start();
    UserTable loaded;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            fail("cannot open the baseline file for reading");
        loaded = parseBaseline(file.readAll());
    }
    timing.readMs = elapsedMs(timer);
    if (UBound(loaded) != EntryCount || !sameTable(loaded, expected))
        fail("the baseline read back a table that differs from the written one");
    return timing;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_store";
    // QSettings fixes its per-user path the first time it is used, so the store must be
    // redirected before anything can touch it; the user's real store is never written.
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

    const UserTable expected = sampleTable();
    const QString baselineFile = baselineDir + QStringLiteral("/users.txt");

    std::vector<double> storeSave, storeLoad, storeTotal;
    std::vector<double> baseWrite, baseRead, baseTotal;
    for (int round = 0; round < WarmUpRounds + MeasuredRounds; ++round) {
        // Alternating keeps drift in the disk or the machine's load out of the ratio.
        const Timing store = storeRound(expected);
        const Timing base = baselineRound(expected, baselineFile);
        if (round == 0 && !QFileInfo::exists(configDir + QStringLiteral("/Quorvane/Quorvane.conf")))
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
    std::printf("bench_store: %d entries (%d keys), %d rounds each after %d warm-up, "
                "alternating\n",
                EntryCount, EntryCount * 3, MeasuredRounds, WarmUpRounds);
    std::printf("  store    SaveUsers + LoadUsers     median %9.2f ms  (save %.2f, load %.2f)\n",
                storeMedian, median(storeSave), median(storeLoad));
    std::printf("  baseline key=value file, fsync    median %9.2f ms  (write %.2f, read %.2f)\n",
                baseMedian, median(baseWrite), median(baseRead));
    std::printf("  ratio store/baseline: %.2f\n", baseMedian > 0 ? storeMedian / baseMedian : 0.0);
    return 0;
}
