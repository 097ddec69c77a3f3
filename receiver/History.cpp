#include "receiver/History.h"

#include <QDir>
#include <QFileInfo>
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

namespace {

constexpr std::size_t MemoryLimit = 1000;

const QString Columns =
    QStringLiteral("id, received, address, name, port, text, cut, malformed, incomplete");

QString reasonOf(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Opens a connection of this thread to the file, for durable writes that wait briefly for
// another connection's transaction.
QString openConnection(const QString& name, const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return reasonOf(db.lastError());
    QSqlQuery query(db);
    // FULL: a commit in WAL mode survives a power cut only when the log is synced.
    if (!query.exec(QStringLiteral("PRAGMA synchronous=FULL")))
        return reasonOf(query.lastError());
    return QString();
}

bool contains(const StoredMessage& message, const QString& filter)
{
    return message.name.contains(filter, Qt::CaseInsensitive) ||
           message.address.contains(filter, Qt::CaseInsensitive) ||
           message.text.contains(filter, Qt::CaseInsensitive);
}

QString likePattern(QString filter)
{
    filter.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    filter.replace(QLatin1Char('%'), QLatin1String("\\%"));
    filter.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + filter + QLatin1Char('%');
}

} // namespace

// Lives on the history thread with a connection of its own.
class History::Writer : public QObject
{
public:
    Writer(const QString& path, const QString& name) : path(path), name(name) {}

    QString write(QList<StoredMessage>& messages)
    {
        if (!insert) {
            if (const QString problem = openConnection(name, path); !problem.isEmpty())
                return problem;
            insert.emplace(QSqlDatabase::database(name));
            insert->prepare(QStringLiteral("INSERT INTO messages(received, address, name, port, "
                                           "text, cut, malformed, incomplete) "
                                           "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
        }
        QSqlDatabase db = QSqlDatabase::database(name);
        if (!db.transaction())
            return reasonOf(db.lastError());
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
                insert->bindValue(i, values[i]);
            if (!insert->exec()) {
                const QString problem = reasonOf(insert->lastError());
                db.rollback();
                return problem;
            }
            m.id = insert->lastInsertId().toLongLong();
        }
        if (!db.commit())
            return reasonOf(db.lastError());
        return QString();
    }

    void close()
    {
        insert.reset();
        QSqlDatabase::removeDatabase(name);
    }

private:
    QString path;
    QString name;
    std::optional<QSqlQuery> insert;
};

History::History(QObject* parent) : QObject(parent) {}

History::~History()
{
    if (thread) {
        QMetaObject::invokeMethod(
            writer, [w = writer] { w->close(); }, Qt::BlockingQueuedConnection);
        thread->quit();
        thread->wait();
        delete writer;
    }
    if (!connection.isEmpty())
        QSqlDatabase::removeDatabase(connection);
}

QString History::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quorvane/messages.sqlite");
}

bool History::open(const QString& path, int keepDays)
{
    static std::atomic<int> opened{0};
    file = path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // SQLite lets two programs share the file; two receivers would show each other's
    // messages as their own, so one holds it.
    lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString application;
        lock->getLockInfo(&pid, &host, &application);
        useMemory(lock->error() == QLockFile::LockFailedError
                      ? QStringLiteral("another message receiver (process %1) is using it").arg(pid)
                      : QStringLiteral("its lock file cannot be made"));
        return false;
    }
    const QString name = QStringLiteral("history-%1").arg(++opened);
    QString problem = openConnection(name, path);
    QSqlDatabase db = QSqlDatabase::database(name, false);
    auto run = [&](const QString& statement) {
        QSqlQuery query(db);
        if (problem.isEmpty() && !query.exec(statement))
            problem = reasonOf(query.lastError());
        return query;
    };
    QSqlQuery mode = run(QStringLiteral("PRAGMA journal_mode=WAL"));
    if (problem.isEmpty() && (!mode.next() || mode.value(0).toString() != QLatin1String("wal")))
        problem = QStringLiteral("it cannot be switched to write-ahead logging");
    mode.finish();
    run(QStringLiteral("CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY, received "
                       "INTEGER NOT NULL, address TEXT NOT NULL, name TEXT NOT NULL, port TEXT "
                       "NOT NULL, text TEXT NOT NULL, cut INTEGER NOT NULL, malformed INTEGER NOT "
                       "NULL, incomplete INTEGER NOT NULL)"));
    run(QStringLiteral("PRAGMA user_version=1"));
    if (keepDays > 0 && problem.isEmpty()) {
        QSqlQuery old(db);
        old.prepare(QStringLiteral("DELETE FROM messages WHERE received < ?"));
        old.addBindValue(QDateTime::currentDateTimeUtc().addDays(-keepDays).toMSecsSinceEpoch());
        if (!old.exec())
            problem = reasonOf(old.lastError());
    }
    if (!problem.isEmpty()) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        lock.reset();
        useMemory(problem);
        return false;
    }
    connection = name;
    thread = new QThread(this);
    writer = new Writer(path, name + QStringLiteral("-writer"));
    writer->moveToThread(thread);
    thread->start();
    return true;
}

void History::useMemory(const QString& reason)
{
    why = reason;
    if (!connection.isEmpty()) {
        QSqlDatabase::removeDatabase(connection);
        connection.clear();
    }
}

void History::add(const StoredMessage& message)
{
    queued.append(message);
    if (!flushPlanned && !writing) {
        flushPlanned = true;
        QMetaObject::invokeMethod(this, &History::flush, Qt::QueuedConnection);
    }
}

void History::flush()
{
    flushPlanned = false;
    if (writing || queued.isEmpty())
        return;
    QList<StoredMessage> messages;
    messages.swap(queued);
    if (!isOpen()) {
        for (StoredMessage& m : messages) {
            m.id = nextMemoryId++;
            memory.push_back(m);
        }
        while (memory.size() > MemoryLimit)
            memory.pop_front();
        emit stored(messages);
        return;
    }
    // One batch at a time: what arrives meanwhile makes the next, larger one.
    writing = true;
    QMetaObject::invokeMethod(writer, [this, w = writer, messages]() mutable {
        const QString error = w->write(messages);
        QMetaObject::invokeMethod(
            this, [this, messages, error] { written(messages, error); }, Qt::QueuedConnection);
    });
}

void History::written(QList<StoredMessage> messages, const QString& error)
{
    writing = false;
    if (!error.isEmpty() && isOpen()) {
        useMemory(error);
        emit failed(error);
        // Shown all the same, from memory.
        queued = messages + queued;
        flush();
        return;
    }
    emit stored(messages);
    flush();
}

QList<StoredMessage> History::latest(const QString& filter, int limit)
{
    QList<StoredMessage> found;
    if (!isOpen()) {
        for (auto it = memory.rbegin(); it != memory.rend() && found.size() < limit; ++it)
            if (filter.isEmpty() || contains(*it, filter))
                found.append(*it);
        return found;
    }
    QSqlQuery query(QSqlDatabase::database(connection));
    query.setForwardOnly(true);
    const QString where = filter.isEmpty()
                              ? QString()
                              : QStringLiteral(" WHERE name LIKE ? ESCAPE '\\' OR address LIKE ? "
                                               "ESCAPE '\\' OR text LIKE ? ESCAPE '\\'");
    query.prepare(QStringLiteral("SELECT %1 FROM messages%2 ORDER BY id DESC LIMIT %3")
                      .arg(Columns, where)
                      .arg(limit));
    for (int i = 0; i < (filter.isEmpty() ? 0 : 3); ++i)
        query.addBindValue(likePattern(filter));
    query.exec();
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
    return found;
}

void History::remove(const QList<qint64>& ids)
{
    if (!isOpen()) {
        memory.erase(std::remove_if(memory.begin(), memory.end(),
                                    [&ids](const StoredMessage& m) { return ids.contains(m.id); }),
                     memory.end());
        return;
    }
    QSqlDatabase db = QSqlDatabase::database(connection);
    db.transaction();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM messages WHERE id = ?"));
    for (qint64 id : ids) {
        query.bindValue(0, id);
        query.exec();
    }
    db.commit();
}
