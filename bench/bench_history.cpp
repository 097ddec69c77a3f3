// The history at scale: opening a conversation of 1,000, 10,000 and 100,000 messages, and
// listing 1,000 conversations over 1,000,000 messages, each through the history (its thread,
// its query, the messages made of the rows) against the same SQL run bare on the same file
// in the same run, alternating. Last, the receiver's resident memory with that file.

#include "BenchSupport.h"
#include "history/History.h"
#include "receiver/ReceiverWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <sqlite3.h>

namespace {

constexpr int Conversations = 1000;
constexpr int Messages = 1000000;
constexpr int Shown = 1000; // what the receiver lists of a conversation
constexpr int Runs = 15;
const int Sizes[] = {1000, 10000, 100000};

void check(int code, sqlite3* db, const char* what)
{
    if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW)
        bench::fail(QStringLiteral("%1: %2").arg(what, sqlite3_errmsg(db)));
}

// The file as the history makes it, then filled in one transaction: the three measured
// conversations take their sizes, the rest share what is left, in time order.
void fill(const QString& path)
{
    {
        History history;
        history.open(path, 0);
        QSignalSpy ready(&history, &History::ready);
        history.add({0, QDateTime::fromMSecsSinceEpoch(0), "10.0.0.1", "Start", "505", "x"});
        if (!ready.wait(10000))
            bench::fail(QStringLiteral("the history did not open"));
    }
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db, "open");
    // Filling is set-up, not measured: no syncs, and room for the index in memory.
    check(sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; BEGIN", nullptr,
                       nullptr, nullptr),
          db, "begin");
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db,
                             "INSERT INTO messages(received, address, name, port, text, cut, "
                             "malformed, incomplete, unread, sent, outcome) VALUES(?, ?, ?, "
                             "'505', ?, 0, 0, 0, ?, ?, ?)",
                             -1, &insert, nullptr),
          db, "prepare");
    const int measured = Sizes[0] + Sizes[1] + Sizes[2];
    const QByteArray text = "a message of ordinary length, one line as most are";
    for (int i = 0; i < Messages - 1; ++i) {
        // Every ninth message goes to one of the measured conversations until they are full.
        int who = 3 + i % (Conversations - 3);
        if (i % 9 == 0 && i / 9 < measured) {
            const int n = i / 9;
            who = n < Sizes[0] ? 0 : n < Sizes[0] + Sizes[1] ? 1 : 2;
        }
        const QByteArray name = "Person " + QByteArray::number(who);
        const QByteArray address =
            "10.1." + QByteArray::number(who / 250) + '.' + QByteArray::number(who % 250 + 1);
        const bool sent = i % 2 == 1;
        sqlite3_bind_int64(insert, 1, 1000 + qint64(i) * 1000);
        sqlite3_bind_text(insert, 2, address.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, text.constData(), -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 5, sent ? 0 : i % 3 == 0);
        sqlite3_bind_int(insert, 6, sent);
        sqlite3_bind_int(insert, 7, sent ? 1 : 0);
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    if (measured * 9 > Messages)
        bench::fail(QStringLiteral("the measured conversations do not fit"));
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

// The same statement the history runs, every column of every row read.
double bare(sqlite3* db, const char* sql, const QByteArray& name, const QByteArray& address)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt* query = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &query, nullptr), db, "prepare");
    if (!name.isEmpty()) {
        sqlite3_bind_text(query, 1, name.constData(), -1, SQLITE_STATIC);
        sqlite3_bind_text(query, 2, address.constData(), -1, SQLITE_STATIC);
    }
    int rows = 0;
    while (sqlite3_step(query) == SQLITE_ROW) {
        for (int column = 0; column < sqlite3_column_count(query); ++column)
            sqlite3_column_text(query, column);
        ++rows;
    }
    sqlite3_finalize(query);
    if (rows == 0)
        bench::fail(QStringLiteral("the bare query found nothing"));
    return timer.nsecsElapsed() / 1e6;
}

// Timed from the ask to the answer's arrival on this thread, through a plain connection: a
// signal spy's own copying and timer would be timed too.
template <typename Ask, typename Signal> double through(History& history, Ask ask, Signal signal)
{
    QEventLoop loop;
    const QMetaObject::Connection answered =
        QObject::connect(&history, signal, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
    QElapsedTimer timer;
    timer.start();
    ask();
    const bool late = loop.exec() != 0;
    const double elapsed = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(answered);
    if (late)
        bench::fail(QStringLiteral("the history did not answer"));
    return elapsed;
}

void report(const char* what, std::vector<double>& ours, std::vector<double>& base)
{
    const double a = bench::median(ours), b = bench::median(base);
    std::printf("%-44s %8.2f ms  bare %8.2f ms  ratio %.2f\n", what, a, b, a / b);
}

// Run as a child: a receiver on that file, its lists filled; prints its resident memory.
int receiverMemory()
{
    ReceiverWindow receiver;
    QSignalSpy listed(&receiver.history(), &History::found);
    QSignalSpy conversations(&receiver.history(), &History::conversationsFound);
    receiver.show();
    if (!listed.wait(60000) || (conversations.isEmpty() && !conversations.wait(60000)))
        bench::fail(QStringLiteral("the receiver did not list the history"));
    receiver.conversationList->setCurrentIndex(receiver.conversations().index(1));
    if (!listed.wait(10000))
        bench::fail(QStringLiteral("the receiver did not open a conversation"));
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM") || line.startsWith("VmRSS"))
            std::printf("receiver with %d messages: %s\n", Messages, line.simplified().constData());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_history";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--receiver") == 0)
        return receiverMemory();

    // A folder given is kept, and its file filled only once: for profiling.
    QTemporaryDir temporary;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    qputenv("XDG_DATA_HOME", dir.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.toLocal8Bit());
    const QString path = History::defaultPath();
    if (!QFile::exists(path)) {
        QElapsedTimer filling;
        filling.start();
        fill(path);
        std::printf("filled %d messages in %d conversations in %.1f s\n", Messages, Conversations,
                    filling.elapsed() / 1000.0);
    }

    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db, "open");
    {
        History history;
        history.open(path, 0, History::Role::Sender);
        for (int s = 0; s < 3; ++s) {
            const Correspondent with{QStringLiteral("Person %1").arg(s),
                                     QStringLiteral("10.1.0.%1").arg(s + 1)};
            std::vector<double> ours, base;
            for (int run = 0; run < Runs; ++run) {
                base.push_back(bare(db,
                                    "SELECT id, received, address, name, port, text, cut, "
                                    "malformed, incomplete, unread, sent, outcome, reason, "
                                    "own_name, own_port FROM messages WHERE name = ? AND address "
                                    "= ? ORDER BY received DESC, id DESC LIMIT 1000",
                                    with.name.toUtf8(), with.address.toUtf8()));
                ours.push_back(through(
                    history, [&] { history.find(QString(), Shown, with); }, &History::found));
            }
            const QByteArray what = "open a conversation of " + QByteArray::number(Sizes[s]);
            report(what.constData(), ours, base);
        }
        std::vector<double> ours, base;
        for (int run = 0; run < Runs; ++run) {
            base.push_back(bare(db,
                                "SELECT name, address, last, unread, messages FROM conversations "
                                "ORDER BY last DESC LIMIT 1000",
                                QByteArray(), QByteArray()));
            ours.push_back(through(
                history, [&] { history.findConversations(Conversations); },
                &History::conversationsFound));
        }
        report("list 1000 conversations of 1000000 messages", ours, base);
    }
    sqlite3_close(db);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--receiver")});
    if (!child.waitForFinished(120000) || child.exitCode() != 0)
        bench::fail(QStringLiteral("the receiver's run failed"));
    return 0;
}
