#include "receiver/History.h"

#include "platform/QueuedCall.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <optional>
#include <sys/stat.h>

namespace {

// One write takes at most this many messages, so that a search waits for no long
// transaction.
constexpr int BatchLimit = 5000;
constexpr int FirstPause = 250; // ms

const QString Columns =
    QStringLiteral("id, received, address, name, port, text, cut, malformed, incomplete");

// SQLite's primary result codes that the history acts on.
enum SqliteCode {
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

QString likePattern(QString filter)
{
    filter.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    filter.replace(QLatin1Char('%'), QLatin1String("\\%"));
    filter.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + filter + QLatin1Char('%');
}

bool contains(const StoredMessage& message, const QString& filter)
{
    return message.name.contains(filter, Qt::CaseInsensitive) ||
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
};

// Lives on the history's thread with a connection of its own; everything that touches the
// file happens here.
class History::Worker : public QObject
{
public:
    Worker(const QString& file, const QString& connection, int days)
        : path(file), name(connection), keepDays(days)
    {
    }

    Result write(QList<StoredMessage>& messages, const QList<qint64>& deletions, int busy)
    {
        Result result;
        result.error = ensureOpen(result, busy);
        if (!result.error.isEmpty())
            return result;
        if (const int code = writeOpen(messages, deletions, result); code != 0) {
            result.ids.clear();
            giveUp(result, code);
        }
        return result;
    }

    QList<StoredMessage> query(const QString& filter, int limit, int busy, Result& result)
    {
        QList<StoredMessage> found;
        if (!ensureOpen(result, busy).isEmpty())
            return found;
        if (const int code = readOpen(filter, limit, found, result.error); code != 0) {
            found.clear();
            giveUp(result, code);
        }
        return found;
    }

    int readOpen(const QString& filter, int limit, QList<StoredMessage>& found, QString& reason)
    {
        QSqlQuery query(QSqlDatabase::database(name));
        query.setForwardOnly(true);
        const QString where =
            filter.isEmpty() ? QString()
                             : QStringLiteral(" WHERE name LIKE ? ESCAPE '\\' OR address LIKE ? "
                                              "ESCAPE '\\' OR text LIKE ? ESCAPE '\\'");
        query.prepare(QStringLiteral("SELECT %1 FROM messages%2 ORDER BY id DESC LIMIT %3")
                          .arg(Columns, where)
                          .arg(limit));
        for (int i = 0; i < (filter.isEmpty() ? 0 : 3); ++i)
            query.addBindValue(likePattern(filter));
        if (!query.exec()) {
            reason = reasonOf(query.lastError());
            return std::max(codeOf(query.lastError()), 1);
        }
        while (query.next()) {
            StoredMessage m;
            m.id = query.value(0).toLongLong();
            m.received = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong());
            m.address = query.value(2).toString();
            m.name = query.value(3).toString();
            m.port = query.value(4).toString();
            m.text = query.value(5).toString();
            m.cut = query.value(6).toBool();
            m.malformed = query.value(7).toBool();
            m.incomplete = query.value(8).toBool();
            found.append(m);
        }
        return 0;
    }

    void close()
    {
        if (!connected)
            return;
        QSqlDatabase::removeDatabase(name);
        connected = false;
    }

private:
    // Writes into the open file; on failure returns SQLite's code, with result.error set.
    int writeOpen(QList<StoredMessage>& messages, const QList<qint64>& deletions, Result& result)
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
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM messages WHERE id = ?"));
        for (qint64 id : deletions) {
            remove.bindValue(0, id);
            if (!remove.exec())
                return fail(remove.lastError());
        }
        // A null field would be refused; a malformed record has empty ones.
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral(
            "INSERT INTO messages(received, address, name, port, text, cut, malformed, "
            "incomplete) VALUES(?, COALESCE(?, ''), COALESCE(?, ''), COALESCE(?, ''), "
            "COALESCE(?, ''), ?, ?, ?)"));
        for (StoredMessage& m : messages) {
            const QVariantList values{m.received.toMSecsSinceEpoch(),
                                      m.address,
                                      m.name,
                                      m.port,
                                      m.text,
                                      m.cut,
                                      m.malformed,
                                      m.incomplete};
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
        return 0;
    }

    // Opens the file unless the one open is still the one at the path.
    QString ensureOpen(Result& result, int busy)
    {
        if (connected) {
            if (identityOf(path) == identity)
                return QString();
            close();
            // This receiver's log and index of the file that went; played over another file
            // they would wreck it.
            QFile::remove(path + QStringLiteral("-wal"));
            QFile::remove(path + QStringLiteral("-shm"));
            result.note = QStringLiteral("The message history %1 was deleted or replaced while "
                                         "in use; the file now at that place is used.")
                              .arg(QDir::toNativeSeparators(path));
            result.reopened = true;
        }
        QString problem = openFile(busy);
        if (!problem.isEmpty() && damaged(lastCode)) {
            close();
            setAside(result, problem);
            problem = openFile(busy);
        }
        if (!problem.isEmpty())
            close();
        return problem;
    }

    QString openFile(int busy)
    {
        lastCode = 0;
        QDir().mkpath(QFileInfo(path).absolutePath());
        // SQLite makes the index of the log with the file's mode: one made while the file was
        // read-only would keep it unwritable after its owner allowed writing again. Only this
        // receiver, which holds the lock, writes the file.
        const QString index = path + QStringLiteral("-shm");
        if ((QFile::permissions(path) & QFileDevice::WriteOwner) && QFileInfo::exists(index) &&
            !(QFile::permissions(index) & QFileDevice::WriteOwner))
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
        run(QStringLiteral("CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY, received "
                           "INTEGER NOT NULL, address TEXT NOT NULL, name TEXT NOT NULL, port TEXT "
                           "NOT NULL, text TEXT NOT NULL, cut INTEGER NOT NULL, malformed INTEGER "
                           "NOT NULL, incomplete INTEGER NOT NULL)"));
        run(QStringLiteral("PRAGMA user_version=1"));
        if (keepDays > 0 && problem.isEmpty()) {
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

    // The next try opens the file afresh: a connection that met a read-only file or a full
    // disk may keep failing after the cause is gone. A damaged file goes aside at once.
    void giveUp(Result& result, int code)
    {
        close();
        if (damaged(code))
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
    bool connected = false;
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

void History::open(const QString& path, int keepDays)
{
    static std::atomic<int> opened{0};
    file = path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    thread = new QThread(this);
    worker = new Worker(path, QStringLiteral("history-%1").arg(++opened), keepDays);
    worker->moveToThread(thread);
    thread->start();
    watcher = new QFileSystemWatcher(this);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        checkFile = true;
        planFlush();
    });
    if (takeLock()) {
        // Opened, and old messages dropped, before anyone asks for them.
        checkFile = true;
        flush();
    }
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
                   : QStringLiteral("its lock file cannot be made"));
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
    if (writing || !thread || (queue.empty() && deletions.isEmpty() && !checkFile))
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
    writing = true;
    PostCall(worker, [this, w = worker, batch, deleting, busy = busyTimeout] {
        QList<StoredMessage> messages = batch;
        const Result result = w->write(messages, deleting, busy);
        PostCall(
            this, [this, batch, deleting, result] { written(batch, deleting, result); },
            Qt::QueuedConnection);
    });
}

void History::written(const QList<StoredMessage>& batch, const QList<qint64>& deleted,
                      const Result& result)
{
    writing = false;
    if (settling)
        settling->quit();
    takeFileEvents(result);
    if (!result.error.isEmpty()) {
        for (Waiting& w : queue)
            w.writing = false;
        deletions = deleted + deletions;
        showUnshown();
        retryLater(result.error);
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
    if (!queue.empty() || !deletions.isEmpty() || checkFile)
        planFlush();
}

void History::retryLater(const QString& reason)
{
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

QList<StoredMessage> History::waitingMatching(const QString& filter, int limit) const
{
    QList<StoredMessage> found;
    for (auto it = queue.rbegin(); it != queue.rend() && found.size() < limit; ++it)
        if (it->shown && (filter.isEmpty() || contains(it->message, filter)))
            found.append(it->message);
    return found;
}

int History::find(const QString& filter, int limit)
{
    const int asked = ++serial;
    if (!thread || !locked) {
        const QList<StoredMessage> found = waitingMatching(filter, limit);
        QMetaObject::invokeMethod(
            this, [this, asked, found] { emit this->found(asked, found); }, Qt::QueuedConnection);
        return asked;
    }
    PostCall(worker, [this, w = worker, filter, limit, asked, busy = busyTimeout] {
        Result result;
        const QList<StoredMessage> rows = w->query(filter, limit, busy, result);
        PostCall(
            this,
            [this, filter, limit, asked, rows, result] {
                takeFileEvents(result);
                if (!result.note.isEmpty())
                    emit changed();
                // Waiting messages are newer than any stored one. They are merged here, on
                // this thread, so that the list matches what was shown when it arrives.
                QList<StoredMessage> merged = waitingMatching(filter, limit);
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
    if ((!queue.empty() || !deletions.isEmpty()) && !retry.isActive())
        planFlush();
}
