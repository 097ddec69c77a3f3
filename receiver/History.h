#pragma once
// The message history: every message received, kept in an SQLite file so that it outlives
// the window and the machine. Writes run on a thread of their own and are durable before
// stored() reports them, so that a message on screen is never lost. When the file cannot be
// used the history keeps messages in memory only and problem() says why.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

struct StoredMessage
{
    qint64 id = 0; // assigned when stored
    QDateTime received;
    QString address; // a.b.c.d for IPv4 senders
    QString name;
    QString port; // as the sender wrote it
    QString text; // for a malformed record, its bytes made visible
    bool cut = false;
    bool malformed = false;
    bool incomplete = false;
};

class QLockFile;
class QThread;

class History : public QObject
{
    Q_OBJECT
public:
    explicit History(QObject* parent = nullptr);
    ~History() override;

    // $XDG_DATA_HOME/Quorvane/messages.sqlite
    static QString defaultPath();

    // Opens (or creates) the file and drops messages older than `keepDays` (0 keeps all).
    bool open(const QString& path, int keepDays);
    bool isOpen() const { return !connection.isEmpty(); }
    QString path() const { return file; }
    // Why the file is not used; empty while it is.
    QString problem() const { return why; }

    // Queues a message; messages added in one pass of the event loop are written together.
    void add(const StoredMessage& message);
    // The newest `limit` messages, newest first, whose name, address or text contain
    // `filter` (all when empty).
    QList<StoredMessage> latest(const QString& filter, int limit);
    void remove(const QList<qint64>& ids);

signals:
    // Durable now, with ids, oldest first.
    void stored(const QList<StoredMessage>& messages);
    // The file failed while in use; from now on messages are kept in memory only.
    void failed(const QString& problem);

private:
    class Writer;
    void flush();
    void written(QList<StoredMessage> messages, const QString& error);
    void useMemory(const QString& reason);

    QString file;
    QString why;
    QString connection; // empty in memory-only mode
    std::unique_ptr<QLockFile> lock;
    QThread* thread = nullptr;
    Writer* writer = nullptr;
    QList<StoredMessage> queued;
    bool flushPlanned = false;
    bool writing = false;
    // Memory-only mode keeps as many as the window shows.
    std::deque<StoredMessage> memory;
    qint64 nextMemoryId = 1;
};
