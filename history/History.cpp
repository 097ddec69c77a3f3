#include "history/History.h"

#include "platform/QueuedCall.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// One write takes at most this many messages, so that a search waits for no long
// transaction.
constexpr int BatchLimit = 5000;
constexpr int FirstPause = 250; // ms

const QString Columns = QStringLiteral("id, received, address, name, port, text, cut, malformed, "
                                       "incomplete, unread, sent, outcome, reason, own_name, "
                                       "own_port");
constexpr int SchemaVersion = 2;

// The file's tables at the current version. Conversations are kept up to date by the file
// itself, whoever writes it, so that listing them reads a row per conversation rather than
// every message.
const char* const Schema[] = {
    "CREATE TABLE messages(id INTEGER PRIMARY KEY, received INTEGER NOT NULL, address TEXT NOT "
    "NULL, name TEXT NOT NULL, port TEXT NOT NULL, text TEXT NOT NULL, cut INTEGER NOT NULL, "
    "malformed INTEGER NOT NULL, incomplete INTEGER NOT NULL, unread INTEGER NOT NULL DEFAULT 0, "
    "sent INTEGER NOT NULL DEFAULT 0, outcome INTEGER NOT NULL DEFAULT 0, reason TEXT NOT NULL "
    "DEFAULT '', own_name TEXT NOT NULL DEFAULT '', own_port TEXT NOT NULL DEFAULT '')",
};
// From the first version: the columns of messages sent, then what both versions lack.
const char* const FromVersion1[] = {
    "ALTER TABLE messages ADD COLUMN unread INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE messages ADD COLUMN sent INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE messages ADD COLUMN outcome INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE messages ADD COLUMN reason TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE messages ADD COLUMN own_name TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE messages ADD COLUMN own_port TEXT NOT NULL DEFAULT ''",
};
const char* const Conversations[] = {
    "CREATE INDEX messages_by_conversation ON messages(name, address, received)",
    "CREATE TABLE conversations(name TEXT NOT NULL, address TEXT NOT NULL, last INTEGER NOT "
    "NULL, unread INTEGER NOT NULL, messages INTEGER NOT NULL, PRIMARY KEY(name, address)) "
    "WITHOUT ROWID",
    "CREATE INDEX conversations_by_last ON conversations(last)",
    "INSERT INTO conversations SELECT name, address, max(received), sum(unread), count(*) FROM "
    "messages GROUP BY name, address",
    "CREATE TRIGGER message_added AFTER INSERT ON messages BEGIN INSERT INTO "
    "conversations(name, address, last, unread, messages) VALUES(new.name, new.address, "
    "new.received, new.unread, 1) ON CONFLICT(name, address) DO UPDATE SET last = "
    "max(last, excluded.last), unread = unread + excluded.unread, messages = messages + 1; END",
    "CREATE TRIGGER message_removed AFTER DELETE ON messages BEGIN UPDATE conversations SET "
    "unread = unread - old.unread, messages = messages - 1, last = coalesce((SELECT "
    "max(received) FROM messages WHERE name = old.name AND address = old.address), last) WHERE "
    "name = old.name AND address = old.address; DELETE FROM conversations WHERE name = old.name "
    "AND address = old.address AND messages <= 0; END",
    "CREATE TRIGGER message_read AFTER UPDATE OF unread ON messages BEGIN UPDATE conversations "
    "SET unread = unread - old.unread + new.unread WHERE name = new.name AND address = "
    "new.address; END",
};

// SQLite's primary result codes that the history acts on.
enum SqliteCode {
    Busy = 5,
    Locked = 6,
    TooBig = 18,
    Constraint = 19,
    Mismatch = 20,
    Range = 25,
    Corrupt = 11,
    NotADatabase = 26,
};

int codeOf(const QSqlError& error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

QString reasonOf(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// A row the file refuses for what it holds; the rows around it are unaffected.
bool refusesRow(int code)
{
    return code == TooBig || code == Constraint || code == Mismatch || code == Range;
}

bool damaged(int code)
{
    return code == Corrupt || code == NotADatabase;
}

// The lists read through SQLite itself, on the connection Qt opened: they are the hot path,
// and each value taken through a QVariant made them cost twice the query.
class Statement
{
public:
    Statement(sqlite3* db, const QString& sql)
    {
        status = db ? sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr)
                    : SQLITE_MISUSE;
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    // False at the end or on an error, which code() then tells.
    bool next()
    {
        if (status != SQLITE_OK && status != SQLITE_ROW)
            return false;
        status = sqlite3_step(statement);
        return status == SQLITE_ROW;
    }
    int code() const { return status == SQLITE_DONE ? 0 : status; }
    QString text(int column) const
    {
        const auto* utf8 = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return QString::fromUtf8(utf8, sqlite3_column_bytes(statement, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(statement, column); }
    // In UTC: a time in the local zone asks the system for the zone at every row.
    QDateTime time(int column) const
    {
        return QDateTime::fromMSecsSinceEpoch(integer(column), Qt::UTC);
    }

private:
    sqlite3_stmt* statement = nullptr;
    int status = SQLITE_OK;
};

StoredMessage messageAt(const Statement& row)
{
    StoredMessage m;
    m.id = row.integer(0);
    m.received = row.time(1);
    m.address = row.text(2);
    m.name = row.text(3);
    m.port = row.text(4);
    m.text = row.text(5);
    m.cut = row.integer(6) != 0;
    m.malformed = row.integer(7) != 0;
    m.incomplete = row.integer(8) != 0;
    m.unread = row.integer(9) != 0;
    m.sent = row.integer(10) != 0;
    const qint64 outcome = row.integer(11);
    m.outcome = outcome >= 0 && outcome <= int(Outcome::Stopped) ? Outcome(outcome) : Outcome::None;
    m.reason = row.text(12);
    m.ownName = row.text(13);
    m.ownPort = row.text(14);
    return m;
}

QString likePattern(QString filter)
{
    filter.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    filter.replace(QLatin1Char('%'), QLatin1String("\\%"));
    filter.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + filter + QLatin1Char('%');
}

bool matches(const StoredMessage& message, const QString& filter,
             const std::optional<Correspondent>& with)
{
    if (with && !(Correspondent::of(message) == *with))
        return false;
    return filter.isEmpty() || message.name.contains(filter, Qt::CaseInsensitive) ||
           message.address.contains(filter, Qt::CaseInsensitive) ||
           message.text.contains(filter, Qt::CaseInsensitive);
}

qint64 sizeOf(const StoredMessage& m)
{
    return qint64(sizeof(StoredMessage)) +
           2 * (m.address.size() + m.name.size() + m.port.size() + m.text.size());
}

// Device and inode: what tells the file in use from another one put at its path.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity& o) const { return device == o.device && inode == o.inode; }
};

std::optional<Identity> identityOf(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Identity{info.st_dev, info.st_ino};
}

} // namespace

struct History::Result
{
    QList<qint64> ids; // per message of the batch: its id, or 0 when the file refused it
    QString refusal;   // why the last refused row was refused
    QString error;     // when set, nothing of the batch was done
    QString note;      // what happened to the file
    bool reopened = false;
    bool lockOnly = false;  // the error was another program's lock
    bool elsewhere = false; // another program had added messages
};

// Lives on the history's thread with a connection of its own; everything that touches the
// file happens here.
class History::Worker : public QObject
{
public:
    Worker(const QString& file, const QString& connection, int days, Role asRole)
        : path(file), name(connection), keepDays(days), role(asRole)
    {
    }

    Result write(const QList<StoredMessage>& messages, const QList<qint64>& deletions,
                 const QList<Correspondent>& reads, int busy)
    {
        Result result;
        result.error = ensureOpen(result, busy);
        if (!result.error.isEmpty())
            return result;
        if (const int code = writeOpen(messages, deletions, reads, result); code != 0) {
            result.ids.clear();
            result.lockOnly = code == Busy || code == Locked;
            giveUp(result, code);
        }
        return result;
    }

    // Runs `read` on the open file; an error leaves nothing read.
    // Runs `readOpen` on the open file; an error leaves nothing read.
    template <typename Read> void read(int busy, Result& result, Read&& readOpen)
    {
        if (!ensureOpen(result, busy).isEmpty())
            return;
        sqlite3* db = handle();
        if (const int code = readOpen(db); code != 0) {
            result.error = db ? QString::fromUtf8(sqlite3_errmsg(db))
                              : QStringLiteral("the SQLite driver gives no handle");
            giveUp(result, code & 0xff);
        }
    }

    QList<StoredMessage> query(const QString& filter, int limit,
                               const std::optional<Correspondent>& with, int busy, Result& result)
    {
        QList<StoredMessage> found;
        read(busy, result, [&](sqlite3* db) {
            QStringList where;
            if (with)
                where << QStringLiteral("name = ? AND address = ?");
            if (!filter.isEmpty())
                where << QStringLiteral("(name LIKE ? ESCAPE '\\' OR address LIKE ? ESCAPE '\\' "
                                        "OR text LIKE ? ESCAPE '\\')");
            // A conversation in time order, through its index; all messages as they came.
            Statement rows(db, QStringLiteral("SELECT %1 FROM messages%2 ORDER BY %3 LIMIT %4")
                                   .arg(Columns,
                                        where.isEmpty() ? QString()
                                                        : QStringLiteral(" WHERE ") +
                                                              where.join(QStringLiteral(" AND ")),
                                        with ? QStringLiteral("received DESC, id DESC")
                                             : QStringLiteral("id DESC"))
                                   .arg(limit));
            int bound = 0;
            if (with) {
                rows.bind(++bound, with->name);
                rows.bind(++bound, with->address);
            }
            for (int i = 0; i < (filter.isEmpty() ? 0 : 3); ++i)
                rows.bind(++bound, likePattern(filter));
            found.reserve(std::min(limit, 4096));
            while (rows.next())
                found.append(messageAt(rows));
            return rows.code();
        });
        if (!result.error.isEmpty())
            found.clear();
        return found;
    }

    QList<Conversation> conversations(int limit, int busy, Result& result)
    {
        QList<Conversation> found;
        read(busy, result, [&](sqlite3* db) {
            Statement rows(db, QStringLiteral("SELECT name, address, last, unread, messages FROM "
                                              "conversations ORDER BY last DESC LIMIT %1")
                                   .arg(limit));
            found.reserve(std::min(limit, 4096));
            while (rows.next())
                found.append({{rows.text(0), rows.text(1)},
                              rows.time(2),
                              int(rows.integer(3)),
                              int(rows.integer(4))});
            return rows.code();
        });
        if (!result.error.isEmpty())
            found.clear();
        return found;
    }

    // Whether another program added messages since the last look: the newest id is one
    // this history did not write. Only an open file is looked at: opening one is left to the
    // jobs that need it.
    bool writtenElsewhere() { return connected && identityOf(path) == identity && newerThanSeen(); }

    sqlite3* handle() const
    {
        const QVariant v = QSqlDatabase::database(name).driver()->handle();
        return v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0
                   ? *static_cast<sqlite3* const*>(v.constData())
                   : nullptr;
    }

    void close()
    {
        if (!connected)
            return;
        QSqlDatabase::removeDatabase(name);
        connected = false;
        seenId = -1;
    }

private:
    // Writes into the open file; on failure returns SQLite's code, with result.error set.
    int writeOpen(const QList<StoredMessage>& messages, const QList<qint64>& deletions,
                  const QList<Correspondent>& reads, Result& result)
    {
        QSqlDatabase db = QSqlDatabase::database(name);
        const auto fail = [&](const QSqlError& error) {
            result.error = reasonOf(error);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return std::max(codeOf(error), 1);
        };
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fail(begin.lastError());
        // Looked at before the own rows hide what came from elsewhere.
        result.elsewhere = newerThanSeen();
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM messages WHERE id = ?"));
        for (qint64 id : deletions) {
            remove.bindValue(0, id);
            if (!remove.exec())
                return fail(remove.lastError());
        }
        QSqlQuery markRead(db);
        markRead.prepare(QStringLiteral(
            "UPDATE messages SET unread = 0 WHERE name = ? AND address = ? AND unread = 1"));
        for (const Correspondent& with : reads) {
            markRead.bindValue(0, with.name);
            markRead.bindValue(1, with.address);
            if (!markRead.exec())
                return fail(markRead.lastError());
        }
        // A null field would be refused; a malformed record has empty ones.
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral(
            "INSERT INTO messages(received, address, name, port, text, cut, malformed, "
            "incomplete, unread, sent, outcome, reason, own_name, own_port) VALUES(?, "
            "COALESCE(?, ''), COALESCE(?, ''), COALESCE(?, ''), COALESCE(?, ''), ?, ?, ?, ?, ?, ?, "
            "COALESCE(?, ''), COALESCE(?, ''), COALESCE(?, ''))"));
        for (const StoredMessage& m : messages) {
            const QVariantList values{m.received.toMSecsSinceEpoch(),
                                      m.address,
                                      m.name,
                                      m.port,
                                      m.text,
                                      m.cut,
                                      m.malformed,
                                      m.incomplete,
                                      m.unread,
                                      m.sent,
                                      int(m.outcome),
                                      m.reason,
                                      m.ownName,
                                      m.ownPort};
            for (int i = 0; i < values.size(); ++i)
                insert.bindValue(i, values[i]);
            if (insert.exec()) {
                result.ids.append(insert.lastInsertId().toLongLong());
            } else if (refusesRow(codeOf(insert.lastError()))) {
                result.ids.append(0);
                result.refusal = reasonOf(insert.lastError());
            } else {
                return fail(insert.lastError());
            }
        }
        QSqlQuery commit(db);
        if (!commit.exec(QStringLiteral("COMMIT")))
            return fail(commit.lastError());
        for (qint64 id : result.ids)
            seenId = std::max(seenId, id);
        return 0;
    }

    // Whether the newest message is newer than any seen here; the first look only learns.
    bool newerThanSeen()
    {
        QSqlQuery query(QSqlDatabase::database(name));
        if (!query.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM messages")) ||
            !query.next())
            return false;
        const qint64 newest = query.value(0).toLongLong();
        const bool newer = seenId >= 0 && newest > seenId;
        seenId = newest;
        return newer;
    }

    // Opens the file unless the one open is still the one at the path.
    QString ensureOpen(Result& result, int busy)
    {
        if (connected) {
            if (identityOf(path) == identity)
                return QString();
            close();
            // The log and index of the file that went; played over another file they would
            // wreck it. Only the receiver, which holds the file, removes them.
            if (role == Role::Receiver) {
                QFile::remove(path + QStringLiteral("-wal"));
                QFile::remove(path + QStringLiteral("-shm"));
            }
            result.note = QStringLiteral("The message history %1 was deleted or replaced while "
                                         "in use; the file now at that place is used.")
                              .arg(QDir::toNativeSeparators(path));
            result.reopened = true;
        }
        QString problem = openFile(busy);
        if (!problem.isEmpty() && damaged(lastCode) && role == Role::Receiver) {
            close();
            setAside(result, problem);
            problem = openFile(busy);
        }
        if (!problem.isEmpty()) {
            result.lockOnly = lastCode == Busy || lastCode == Locked;
            close();
        }
        return problem;
    }

    QString openFile(int busy)
    {
        lastCode = 0;
        QDir().mkpath(QFileInfo(path).absolutePath());
        // SQLite makes the index of the log with the file's mode: one made while the file was
        // read-only would keep it unwritable after its owner allowed writing again. Only the
        // receiver, which holds the file, removes it.
        const QString index = path + QStringLiteral("-shm");
        if (role == Role::Receiver && (QFile::permissions(path) & QFileDevice::WriteOwner) &&
            QFileInfo::exists(index) && !(QFile::permissions(index) & QFileDevice::WriteOwner))
            QFile::remove(index);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        connected = true;
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busy));
        if (!db.open()) {
            lastCode = codeOf(db.lastError());
            return reasonOf(db.lastError());
        }
        QString problem;
        auto run = [&](const QString& statement) {
            QSqlQuery query(db);
            if (problem.isEmpty() && !query.exec(statement)) {
                problem = reasonOf(query.lastError());
                lastCode = codeOf(query.lastError());
            }
            return query;
        };
        QSqlQuery mode = run(QStringLiteral("PRAGMA journal_mode=WAL"));
        if (problem.isEmpty() && (!mode.next() || mode.value(0).toString() != QLatin1String("wal")))
            problem = QStringLiteral("it cannot be switched to write-ahead logging");
        mode.finish();
        // FULL: a commit in WAL mode survives a power cut only when the log is synced.
        run(QStringLiteral("PRAGMA synchronous=FULL"));
        if (problem.isEmpty())
            problem = migrate(db);
        if (role == Role::Receiver && keepDays > 0 && problem.isEmpty()) {
            QSqlQuery old(db);
            old.prepare(QStringLiteral("DELETE FROM messages WHERE received < ?"));
            old.addBindValue(
                QDateTime::currentDateTimeUtc().addDays(-keepDays).toMSecsSinceEpoch());
            if (!old.exec()) {
                problem = reasonOf(old.lastError());
                lastCode = codeOf(old.lastError());
            }
        }
        if (const auto id = identityOf(path); problem.isEmpty() && id)
            identity = *id;
        return problem;
    }

    // Brings the file to the current version in one transaction, whichever program opens it
    // first; every message stays.
    QString migrate(QSqlDatabase& db)
    {
        QSqlQuery query(db);
        auto fail = [&] {
            lastCode = codeOf(query.lastError());
            const QString problem = reasonOf(query.lastError());
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return problem;
        };
        auto runAll = [&](auto& statements) {
            for (const char* statement : statements)
                if (!query.exec(QLatin1String(statement)))
                    return false;
            return true;
        };
        // Read inside the transaction: another program may be migrating it right now.
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")) ||
            !query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return fail();
        int version = query.value(0).toInt();
        query.finish();
        // A table without a version: the first version, stopped before it set one.
        if (version == 0 && db.tables().contains(QStringLiteral("messages")))
            version = 1;
        if (version == SchemaVersion)
            return QSqlQuery(db).exec(QStringLiteral("COMMIT")) ? QString() : fail();
        if (version > SchemaVersion) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return QStringLiteral("it was written by a newer version of Quorvane");
        }
        if (!(version == 0 ? runAll(Schema) : runAll(FromVersion1)) || !runAll(Conversations) ||
            !query.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion)) ||
            !query.exec(QStringLiteral("COMMIT")))
            return fail();
        return QString();
    }

    // The next try opens the file afresh: a connection that met a read-only file or a full
    // disk may keep failing after the cause is gone. A damaged file goes aside at once.
    void giveUp(Result& result, int code)
    {
        close();
        if (damaged(code) && role == Role::Receiver)
            setAside(result, result.error);
    }

    // Moves the damaged file to messages.sqlite.damaged-<date>, with its log and index
    // beside it under the same name, so that SQLite finds them if someone tries to rescue it.
    void setAside(Result& result, const QString& problem)
    {
        const QString stem =
            path + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
        QString aside = stem;
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = stem + QLatin1Char('-') + QString::number(n);
        QFile::rename(path, aside);
        for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
            if (QFileInfo::exists(path + suffix))
                QFile::rename(path + suffix, aside + suffix);
        result.note =
            QStringLiteral("The message history %1 was damaged (%2). It was moved aside "
                           "as %3 and a new one was started.")
                .arg(QDir::toNativeSeparators(path), problem, QDir::toNativeSeparators(aside));
        result.reopened = true;
    }

    QString path;
    QString name;
    int keepDays;
    Role role;
    bool connected = false;
    qint64 seenId = -1; // the newest id seen; -1 before the first look
    int lastCode = 0;
    std::optional<Identity> identity;
};

History::History(QObject* parent) : QObject(parent)
{
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, [this] {
        checkFile = true;
        planFlush();
    });
    // Twice a second: a message sent from Quorvane shows within a second, and a look reads
    // the newest id alone.
    elsewhere.setInterval(500);
    connect(&elsewhere, &QTimer::timeout, this, &History::checkElsewhere);
}

History::~History()
{
    if (thread) {
        PostCall(
            worker, [w = worker] { w->close(); }, Qt::BlockingQueuedConnection);
        thread->quit();
        thread->wait();
        delete worker;
    }
}

QString History::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quorvane/messages.sqlite");
}

void History::open(const QString& path, int keepDays, Role asRole)
{
    static std::atomic<int> opened{0};
    file = path;
    role = asRole;
    QDir().mkpath(QFileInfo(path).absolutePath());
    thread = new QThread(this);
    worker = new Worker(path, QStringLiteral("history-%1").arg(++opened), keepDays, role);
    worker->moveToThread(thread);
    thread->start();
    watcher = new QFileSystemWatcher(this);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        checkFile = true;
        planFlush();
    });
    if (role == Role::Sender) {
        // Opened when the first message comes.
        locked = true;
        return;
    }
    elsewhere.start();
    if (takeLock()) {
        // Opened, and old messages dropped, before anyone asks for them.
        checkFile = true;
        flush();
    }
}

void History::checkElsewhere()
{
    if (lookingElsewhere)
        return;
    lookingElsewhere = true;
    PostCall(worker, [this, w = worker] {
        const bool changed = w->writtenElsewhere();
        PostCall(
            this,
            [this, changed] {
                lookingElsewhere = false;
                if (changed) {
                    emit changedElsewhere();
                    emit conversationsChanged();
                }
            },
            Qt::QueuedConnection);
    });
}

// SQLite lets two programs share the file; two receivers would show each other's messages
// as their own, so one holds it.
bool History::takeLock()
{
    if (locked)
        return true;
    lock = std::make_unique<QLockFile>(file + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        locked = true;
        return true;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    lock->getLockInfo(&pid, &host, &application);
    retryLater(lock->error() == QLockFile::LockFailedError
                   ? QStringLiteral("another message receiver (process %1) is using it").arg(pid)
                   : QStringLiteral("its lock file cannot be made"),
               lock->error() == QLockFile::LockFailedError);
    return false;
}

void History::add(const StoredMessage& message)
{
    Waiting entry{message, sizeOf(message)};
    entry.message.id = nextWaitingId--;
    queuedBytes += entry.bytes;
    queue.push_back(std::move(entry));
    // The oldest make room; those being written now are left to their outcome.
    for (auto it = queue.begin();
         it != queue.end() && (queue.size() > MaxWaiting || queuedBytes > MaxWaitingBytes);) {
        if (it->writing) {
            ++it;
            continue;
        }
        queuedBytes -= it->bytes;
        it = queue.erase(it);
        ++lostCount;
    }
    // A new message is a reason to try again at once.
    retry.stop();
    planFlush();
}

void History::planFlush()
{
    if (flushPlanned || writing || settling)
        return;
    flushPlanned = true;
    QMetaObject::invokeMethod(this, &History::flush, Qt::QueuedConnection);
}

void History::showUnshown()
{
    QList<StoredMessage> show;
    for (Waiting& w : queue)
        if (!w.shown) {
            w.shown = true;
            show.append(w.message);
        }
    if (!show.isEmpty())
        emit ready(show);
}

void History::flush()
{
    flushPlanned = false;
    if (writing || !thread ||
        (queue.empty() && deletions.isEmpty() && reads.isEmpty() && !checkFile))
        return;
    // While the file is known to fail, messages are shown at once rather than after the
    // next try.
    if (!why.isEmpty())
        showUnshown();
    if (!takeLock()) {
        showUnshown();
        return;
    }
    checkFile = false;
    QList<StoredMessage> batch;
    for (Waiting& w : queue) {
        if (batch.size() == BatchLimit)
            break;
        w.writing = true;
        batch.append(w.message);
    }
    QList<qint64> deleting;
    deleting.swap(deletions);
    QList<Correspondent> reading;
    reading.swap(reads);
    writing = true;
    PostCall(worker, [this, w = worker, batch, deleting, reading, busy = busyTimeout] {
        const Result result = w->write(batch, deleting, reading, busy);
        PostCall(
            this,
            [this, batch, deleting, reading, result] { written(batch, deleting, reading, result); },
            Qt::QueuedConnection);
    });
}

void History::written(const QList<StoredMessage>& batch, const QList<qint64>& deleted,
                      const QList<Correspondent>& read, const Result& result)
{
    writing = false;
    if (settling)
        settling->quit();
    takeFileEvents(result);
    if (!result.error.isEmpty()) {
        for (Waiting& w : queue)
            w.writing = false;
        deletions = deleted + deletions;
        reads = read + reads;
        showUnshown();
        retryLater(result.error, result.lockOnly);
        return;
    }
    if (!deleted.isEmpty())
        emit removed(deleted);
    QHash<qint64, qint64> renumbered;
    QList<StoredMessage> fresh;
    for (qsizetype i = 0; i < batch.size(); ++i) {
        const qint64 waitingId = batch[i].id;
        const qint64 id = result.ids.value(i);
        const std::optional<Waiting> taken = takeWaiting(waitingId);
        if (!taken) {
            // Deleted by the user while it was being written.
            if (id > 0)
                deletions.append(id);
            continue;
        }
        StoredMessage message = taken->message;
        const bool shown = taken->shown;
        if (id > 0) {
            message.id = id;
            if (shown)
                renumbered.insert(waitingId, id);
            else
                fresh.append(message);
        } else {
            ++lostCount;
            if (!shown)
                fresh.append(message);
        }
    }
    const bool wasFailing = !why.isEmpty();
    why.clear();
    whyIsLock = false;
    pause = 0;
    if (!result.refusal.isEmpty())
        noteText = QStringLiteral("The message history refused a message: %1.").arg(result.refusal);
    if (!renumbered.isEmpty())
        emit saved(renumbered);
    if (!fresh.isEmpty())
        emit ready(fresh);
    if (wasFailing || !result.note.isEmpty() || !result.refusal.isEmpty() || !renumbered.isEmpty())
        emit changed();
    // A list read while the file could not be used lacks what it holds.
    if (wasFailing && !result.reopened)
        emit reopened();
    if (result.elsewhere)
        emit changedElsewhere();
    if (!batch.isEmpty() || !deleted.isEmpty() || !read.isEmpty() || result.elsewhere)
        emit conversationsChanged();
    if (!queue.empty() || !deletions.isEmpty() || !reads.isEmpty() || checkFile)
        planFlush();
}

void History::retryLater(const QString& reason, bool lockOnly)
{
    whyIsLock = lockOnly;
    pause = pause == 0 ? FirstPause : std::min(pause * 2, maxPause);
    pause = std::min(pause, maxPause);
    retry.start(pause);
    why = reason;
    emit changed();
}

void History::watch()
{
    if (!watcher)
        return;
    if (!watcher->files().isEmpty())
        watcher->removePaths(watcher->files());
    watcher->addPath(file);
}

void History::takeFileEvents(const Result& result)
{
    if (!result.note.isEmpty())
        noteText = result.note;
    // Watched from when the file is there: deleted or replaced, it is opened again at once.
    if (result.reopened || watcher->files().isEmpty())
        watch();
    if (result.reopened)
        emit reopened();
}

std::optional<History::Waiting> History::takeWaiting(qint64 id)
{
    const auto it = std::find_if(queue.begin(), queue.end(),
                                 [id](const Waiting& w) { return w.message.id == id; });
    if (it == queue.end())
        return std::nullopt;
    Waiting taken = std::move(*it);
    queuedBytes -= taken.bytes;
    queue.erase(it);
    return taken;
}

QList<StoredMessage> History::waitingMatching(const QString& filter, int limit,
                                              const std::optional<Correspondent>& with) const
{
    QList<StoredMessage> found;
    for (auto it = queue.rbegin(); it != queue.rend() && found.size() < limit; ++it)
        if (it->shown && matches(it->message, filter, with))
            found.append(it->message);
    return found;
}

int History::find(const QString& filter, int limit, const std::optional<Correspondent>& with)
{
    const int asked = ++serial;
    if (!thread || !locked) {
        const QList<StoredMessage> found = waitingMatching(filter, limit, with);
        QMetaObject::invokeMethod(
            this, [this, asked, found] { emit this->found(asked, found); }, Qt::QueuedConnection);
        return asked;
    }
    PostCall(worker, [this, w = worker, filter, limit, with, asked, busy = busyTimeout] {
        Result result;
        const QList<StoredMessage> rows = w->query(filter, limit, with, busy, result);
        PostCall(
            this,
            [this, filter, limit, with, asked, rows, result] {
                takeFileEvents(result);
                if (!result.note.isEmpty())
                    emit changed();
                // Waiting messages are newer than any stored one. They are merged here, on
                // this thread, so that the list matches what was shown when it arrives.
                QList<StoredMessage> merged = waitingMatching(filter, limit, with);
                if (merged.isEmpty()) {
                    // The rows as they came: no copy.
                    emit found(asked, rows);
                    return;
                }
                merged.reserve(std::min<qsizetype>(limit, merged.size() + rows.size()));
                for (const StoredMessage& m : rows) {
                    if (merged.size() >= limit)
                        break;
                    merged.append(m);
                }
                emit found(asked, merged);
            },
            Qt::QueuedConnection);
    });
    return asked;
}

int History::findConversations(int limit)
{
    const int asked = ++serial;
    // Messages not stored yet count in their conversations all the same.
    auto mergeWaiting = [this, limit](QList<Conversation> found) {
        if (std::none_of(queue.begin(), queue.end(), [](const Waiting& w) { return w.shown; }))
            return found;
        const auto key = [](const Correspondent& c) { return c.name + QChar() + c.address; };
        QHash<QString, qsizetype> rows;
        for (qsizetype i = 0; i < found.size(); ++i)
            rows.insert(key(found[i].with), i);
        for (const Waiting& w : queue) {
            if (!w.shown)
                continue;
            const Correspondent with = Correspondent::of(w.message);
            const auto row = rows.constFind(key(with));
            Conversation& c =
                row != rows.constEnd()
                    ? found[*row]
                    : found.emplace_back(Conversation{with, w.message.received, 0, 0});
            if (row == rows.constEnd())
                rows.insert(key(with), found.size() - 1);
            c.last = std::max(c.last, w.message.received);
            c.unread += w.message.unread ? 1 : 0;
            ++c.messages;
        }
        std::stable_sort(
            found.begin(), found.end(),
            [](const Conversation& a, const Conversation& b) { return a.last > b.last; });
        if (found.size() > limit)
            found.resize(limit);
        return found;
    };
    if (!thread || !locked) {
        QMetaObject::invokeMethod(
            this,
            [this, asked, found = mergeWaiting({})] { emit conversationsFound(asked, found); },
            Qt::QueuedConnection);
        return asked;
    }
    PostCall(worker, [this, w = worker, limit, asked, busy = busyTimeout, mergeWaiting] {
        Result result;
        const QList<Conversation> rows = w->conversations(limit, busy, result);
        PostCall(
            this,
            [this, asked, rows, result, mergeWaiting] {
                takeFileEvents(result);
                emit conversationsFound(asked, mergeWaiting(rows));
            },
            Qt::QueuedConnection);
    });
    return asked;
}

void History::markRead(const Correspondent& with)
{
    bool waitingRead = false;
    for (Waiting& w : queue)
        if (w.message.unread && Correspondent::of(w.message) == with) {
            w.message.unread = false;
            waitingRead = true;
        }
    if (!reads.contains(with))
        reads.append(with);
    if (waitingRead)
        emit conversationsChanged();
    planFlush();
}

void History::remove(const QList<qint64>& ids)
{
    QList<qint64> gone;
    for (qint64 id : ids) {
        if (id > 0) {
            deletions.append(id);
            continue;
        }
        takeWaiting(id);
        gone.append(id);
    }
    if (!gone.isEmpty()) {
        emit removed(gone);
        emit changed();
    }
    planFlush();
}

void History::storeNow()
{
    QEventLoop loop;
    settling = &loop;
    // Answers come through this thread's event loop; the one under way first, then a try
    // with everything that waits.
    if (writing)
        loop.exec();
    retry.stop();
    flush();
    if (writing)
        loop.exec();
    settling = nullptr;
    if ((!queue.empty() || !deletions.isEmpty() || !reads.isEmpty()) && !retry.isActive())
        planFlush();
}
