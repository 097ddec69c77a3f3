#pragma once
// The message history: every message received, kept in an SQLite file so that it outlives
// the window and the machine. All database work runs on a thread of its own, so the window
// never waits for the disk or for another program's lock.
//
// A message is normally durable before it is shown. One that cannot be stored now (a full
// disk, a file made read-only, a lock held elsewhere) is shown all the same and waits in
// memory; the history tries again with a growing pause, and at once when a new message
// arrives. No failure switches it off: a file deleted or replaced while in use is opened
// again, and a damaged one is moved aside and started anew.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>

struct StoredMessage
{
    qint64 id = 0; // from the file; negative while the message waits to be stored
    QDateTime received;
    QString address; // a.b.c.d for IPv4 senders
    QString name;
    QString port; // as the sender wrote it
    QString text; // for a malformed record, its bytes made visible
    bool cut = false;
    bool malformed = false;
    bool incomplete = false;
};

class QEventLoop;
class QFileSystemWatcher;
class QLockFile;
class QThread;

class History : public QObject
{
    Q_OBJECT
public:
    // Messages waiting to be stored are bounded; past either bound the oldest go.
    static constexpr std::size_t MaxWaiting = 100000;
    static constexpr qint64 MaxWaitingBytes = 64 * 1024 * 1024;

    explicit History(QObject* parent = nullptr);
    ~History() override;

    // $XDG_DATA_HOME/Quorvane/messages.sqlite
    static QString defaultPath();

    // Takes the file for this receiver and opens it on the history's thread; messages older
    // than `keepDays` go (0 keeps all). Any problem only makes messages wait.
    void open(const QString& path, int keepDays);
    QString path() const { return file; }
    // Whether messages are being stored as far as is known now.
    bool isOpen() const { return locked && why.isEmpty(); }
    // Why messages cannot be stored now; empty while they can.
    QString problem() const { return why; }
    // Messages shown but not stored yet.
    int waiting() const { return static_cast<int>(queue.size()); }
    // Messages that will never be stored: dropped past the bounds, or refused by the file.
    qint64 lost() const { return lostCount; }
    // What happened to the file itself, for the user; empty when nothing did.
    QString note() const { return noteText; }

    void add(const StoredMessage& message);
    // Asks for the newest `limit` messages whose name, address or text contain `filter`
    // (all when empty), waiting ones first; found() brings them with the number returned.
    int find(const QString& filter, int limit);
    // Waiting messages go at once; stored ones when the file takes the deletion.
    void remove(const QList<qint64>& ids);
    // Tries to store the waiting messages now and returns when that try is over.
    void storeNow();

    // How long one write waits for another program's lock, and the longest pause between
    // tries; tests shorten both.
    void setBusyTimeout(int milliseconds) { busyTimeout = milliseconds; }
    void setMaxRetryPause(int milliseconds) { maxPause = milliseconds; }

signals:
    // Messages to show, oldest first: stored ones with their ids, and ones that cannot be
    // stored now with negative ids.
    void ready(const QList<StoredMessage>& messages);
    // Shown messages that are stored now: their negative ids and the ids they have now.
    void saved(const QHash<qint64, qint64>& ids);
    void removed(const QList<qint64>& ids);
    void found(int serial, const QList<StoredMessage>& messages);
    // problem(), waiting(), lost() or note() changed.
    void changed();
    // Another file is in use now: lists read before are stale.
    void reopened();

private:
    class Worker;
    struct Waiting
    {
        StoredMessage message;
        qint64 bytes = 0;
        bool shown = false;
        bool writing = false;
    };
    struct Result;
    void planFlush();
    void flush();
    void written(const QList<StoredMessage>& batch, const QList<qint64>& deleted,
                 const Result& result);
    bool takeLock();
    // What the history's thread found of the file itself: a note, another file in use.
    void takeFileEvents(const Result& result);
    std::optional<Waiting> takeWaiting(qint64 id);
    // The shown waiting messages that match, newest first.
    QList<StoredMessage> waitingMatching(const QString& filter, int limit) const;
    void retryLater(const QString& reason);
    void showUnshown();
    void watch();

    QString file;
    QString why;
    QString noteText;
    qint64 lostCount = 0;
    std::unique_ptr<QLockFile> lock;
    bool locked = false;
    QThread* thread = nullptr;
    Worker* worker = nullptr;
    QFileSystemWatcher* watcher = nullptr;
    std::deque<Waiting> queue; // oldest first
    qint64 queuedBytes = 0;
    qint64 nextWaitingId = -1;
    QList<qint64> deletions; // stored ids still to delete
    bool flushPlanned = false;
    bool writing = false;
    bool checkFile = false;
    int serial = 0;
    int busyTimeout = 1000;
    int maxPause = 30000;
    int pause = 0;
    QTimer retry;
    QEventLoop* settling = nullptr; // while storeNow() waits
};
