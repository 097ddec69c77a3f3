#pragma once
// The message history: every message received and every one sent, kept in one SQLite file
// so that it outlives the window and the machine. The receiver and Quorvane both write it.
// All database work runs on a thread of its own, so no window waits for the disk or for
// another program's lock.
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

// What became of a message sent; None for one received.
enum class Outcome { None, Delivered, Failed, Stopped };

struct StoredMessage
{
    qint64 id = 0;      // from the file; negative while the message waits to be stored
    QDateTime received; // for a message sent, when Send was pressed
    // The correspondent: who sent a message received, or whom a message sent went to.
    QString address; // a.b.c.d for IPv4
    QString name;
    QString port; // the sender's reply port as written, or the port a message was sent to
    QString text; // for a malformed record, its bytes made visible
    bool cut = false;
    bool malformed = false;
    bool incomplete = false;
    bool unread = false;
    // A message sent: the own name and reply port it carried, and how it went.
    bool sent = false;
    Outcome outcome = Outcome::None;
    QString reason{}; // why it failed, as the error box said
    QString ownName{};
    QString ownPort{};
};

// One side of a conversation: a name at an address.
struct Correspondent
{
    QString name;
    QString address;
    bool operator==(const Correspondent& o) const { return name == o.name && address == o.address; }
    static Correspondent of(const StoredMessage& m) { return {m.name, m.address}; }
};

struct Conversation
{
    Correspondent with;
    QDateTime last; // of its newest message
    int unread = 0;
    int messages = 0;
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

    // The receiver holds the file against other receivers, drops old messages and moves a
    // damaged file aside; a sender only adds what it sent.
    enum class Role { Receiver, Sender };

    explicit History(QObject* parent = nullptr);
    ~History() override;

    // $XDG_DATA_HOME/Quorvane/messages.sqlite
    static QString defaultPath();

    // Opens the file on the history's thread; a receiver takes it and drops messages older
    // than `keepDays` (0 keeps all). Any problem only makes messages wait.
    void open(const QString& path, int keepDays, Role role = Role::Receiver);
    QString path() const { return file; }
    // Whether messages are being stored as far as is known now.
    bool isOpen() const { return locked && why.isEmpty(); }
    // Why messages cannot be stored now; empty while they can.
    QString problem() const { return why; }
    // Whether that is only another program holding the file for a while.
    bool problemIsLock() const { return whyIsLock; }
    // Messages shown but not stored yet.
    int waiting() const { return static_cast<int>(queue.size()); }
    // Messages that will never be stored: dropped past the bounds, or refused by the file.
    qint64 lost() const { return lostCount; }
    // What happened to the file itself, for the user; empty when nothing did.
    QString note() const { return noteText; }

    void add(const StoredMessage& message);
    // Asks for the newest `limit` messages whose name, address or text contain `filter`
    // (all when empty), of one conversation or of all, waiting ones first; found() brings
    // them with the number returned. A conversation is in time order, all in arrival order.
    int find(const QString& filter, int limit,
             const std::optional<Correspondent>& with = std::nullopt);
    // Asks for the `limit` conversations with the newest messages; conversationsFound()
    // brings them, newest first, with the number returned.
    int findConversations(int limit);
    // The received messages of a conversation count as read from now on.
    void markRead(const Correspondent& with);
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
    void conversationsFound(int serial, const QList<Conversation>& conversations);
    // Conversations changed here: messages stored or removed, or marked read.
    void conversationsChanged();
    // Another program added messages (Quorvane, what it sent): lists are stale.
    void changedElsewhere();

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
                 const QList<Correspondent>& read, const Result& result);
    bool takeLock();
    // What the history's thread found of the file itself: a note, another file in use.
    void takeFileEvents(const Result& result);
    std::optional<Waiting> takeWaiting(qint64 id);
    // The shown waiting messages that match, newest first.
    QList<StoredMessage> waitingMatching(const QString& filter, int limit,
                                         const std::optional<Correspondent>& with) const;
    void retryLater(const QString& reason, bool lockOnly = false);
    void checkElsewhere();
    void showUnshown();
    void watch();

    QString file;
    Role role = Role::Receiver;
    QString why;
    bool whyIsLock = false;
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
    QList<qint64> deletions;    // stored ids still to delete
    QList<Correspondent> reads; // conversations still to mark read
    bool flushPlanned = false;
    bool writing = false;
    bool checkFile = false;
    bool lookingElsewhere = false;
    int serial = 0;
    int busyTimeout = 1000;
    int maxPause = 30000;
    int pause = 0;
    QTimer retry;
    QTimer elsewhere;               // how often the receiver looks for another program's writes
    QEventLoop* settling = nullptr; // while storeNow() waits
};
