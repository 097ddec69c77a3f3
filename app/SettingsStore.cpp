#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// How long a save waits for another writer's lock. The receiver holds it for the few
// milliseconds of its own save; longer means it is stuck, or someone else holds it. Saves
// nobody waits for stay short so that the window never freezes; the user waits at exit.
constexpr int AutomaticLockWaitMs = 250;
constexpr int RetryLockWaitMs = 100;
constexpr int ExplicitLockWaitMs = 1500;

// Pauses between quiet retries: they double from the first, up to a cap that is short while
// the lock is merely held, as that usually ends soon, and long for causes a user must mend.
constexpr int FirstRetryPauseMs = 100;
constexpr int LockedRetryPauseCapMs = 1000;
constexpr int OtherRetryPauseCapMs = 30000;

enum class Attempt {
    Automatic, // a store object's or a session's end
    Retry,     // the timer, after a failed save
    Explicit,  // Commit, with the user waiting for the outcome
};

// What tells a change of the file by someone else: a rename over it changes the inode, an
// edit in place the size or the time.
struct FileStamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && size == o.size && modifiedNs == o.modifiedNs &&
               inode == o.inode;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

FileStamp stampOf(const QString& path)
{
    FileStamp stamp;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = info.st_size;
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.inode = info.st_ino;
#else
    const QFileInfo info(path);
    stamp.exists = info.exists();
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return stamp;
}

// The sections this program replaced and the keys it set or deleted since its last save.
struct OwnEdits
{
    bool replaced = false;
    QSet<QString> keys;
};

struct Store
{
    QString path;
    bool loaded = false;
    IniDocument document;
    FileStamp stamp;
    QByteArray bytes; // the file as last read or written
    QHash<QString, OwnEdits> edits;
    // Set while the file cannot be read: it is then never written over.
    QString readError;
    int sessions = 0;
    int externalChanges = 0;
    // Set by a discard: memory may hold values that must not reach the file, so the next
    // access takes the file's instead.
    bool mustReread = false;

    // After a failed save, until the changes are written: why they wait.
    QString pendingProblem;
    // The cause of the failure told last; empty once a save succeeds.
    QString toldReason;
    // Whether this program changed anything since the last failed save.
    bool changedSinceFailure = false;
    int retryPauseMs = FirstRetryPauseMs;
    QPointer<QTimer> retryTimer;

    StoreFailureHandler failureHandler;
    std::function<void()> savedHandler;
};

Store& store()
{
    static Store instance;
    return instance;
}

QString storePath(const QString& application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + application + QLatin1Char('/') + application +
           QStringLiteral(".conf");
}

void report(const QString& message)
{
    Store& s = store();
    if (s.failureHandler)
        s.failureHandler(message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString readFailure(const QString& path, const QString& reason)
{
    return QStringLiteral("The settings could not be read from %1: %2.\n"
                          "The defaults are used, and that file is left as it is.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString saveProblem(const QString& path, const QString& reason)
{
    return QStringLiteral("The settings could not be saved to %1: %2.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString keptForRetry(const QString& problem)
{
    return problem +
           QStringLiteral("\nThe changes are kept and saved as soon as that works again.");
}

// A missing file reads as empty.
bool readFile(const QString& path, QByteArray& bytes, QString& reason)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir()) {
        reason = qt_error_string(EISDIR);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString();
        return false;
    }
    return true;
}

void syncFolder(const QString& folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

// The old file stays whole until the rename, so a crash leaves the old or the new store.
bool writeDurably(const QString& path, const QByteArray& bytes, QString& reason)
{
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        reason = qt_error_string(QFileInfo(folder).exists() ? ENOTDIR : EACCES);
        return false;
    }
    // Replacing the file would go past a store its owner made read-only.
    if (QFileInfo::exists(path) && !(QFile::permissions(path) & QFileDevice::WriteOwner)) {
        reason = qt_error_string(EACCES);
        return false;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        reason = file.errorString();
        file.cancelWriting();
        return false;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        reason = qt_error_string(errno);
        file.cancelWriting();
        return false;
    }
#endif
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    syncFolder(folder);
    return true;
}

// Keeps other writers of the store (the receiver) out while this one reads and writes.
// The lock file stays; the lock goes with its holder, even one that crashed.
struct SaveLock
{
    SaveLock(const QString& path, int waitMs)
    {
#ifdef Q_OS_UNIX
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            reason = qt_error_string(errno);
            return;
        }
        QDeadlineTimer deadline(waitMs);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK) {
                reason = qt_error_string(errno);
                return;
            }
            if (deadline.hasExpired()) {
                held = true;
                reason = QStringLiteral("another program keeps it locked");
                return;
            }
            QThread::msleep(5);
        }
#else
        lock = std::make_unique<QLockFile>(path);
        if (!lock->tryLock(waitMs)) {
            held = lock->error() == QLockFile::LockFailedError;
            reason = held ? QStringLiteral("another program keeps it locked")
                          : QStringLiteral("the lock file cannot be made");
        }
#endif
    }
    ~SaveLock()
    {
#ifdef Q_OS_UNIX
        if (fd >= 0)
            ::close(fd);
#endif
    }
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    QString reason;    // empty once the lock is held
    bool held = false; // by someone else, past the wait
#ifdef Q_OS_UNIX
    int fd = -1;
#else
    std::unique_ptr<QLockFile> lock;
#endif
};

// Lays this program's own edits over a document freshly read from the file.
void applyOwnEdits(const Store& s, IniDocument& fresh)
{
    for (auto it = s.edits.cbegin(); it != s.edits.cend(); ++it) {
        const QString& name = it.key();
        const IniSection* own = s.document.find(name);
        if (it->replaced) {
            fresh.replace(name, own);
            continue;
        }
        for (const QString& key : it->keys) {
            const std::optional<QString> value = own ? own->value(key) : std::nullopt;
            if (value)
                fresh.section(name).set(key, *value);
            else if (fresh.find(name))
                fresh.section(name).remove(key);
        }
    }
}

// Reads the file into a new document with the own edits on top. False when it cannot be
// read; the document in memory then stays as it is.
bool reread(Store& s, QString& reason)
{
    const FileStamp stamp = stampOf(s.path);
    QByteArray bytes;
    if (!readFile(s.path, bytes, reason)) {
        s.readError = reason;
        return false;
    }
    IniDocument fresh = ParseIni(bytes);
    applyOwnEdits(s, fresh);
    s.document = std::move(fresh);
    s.bytes = std::move(bytes);
    s.stamp = stamp;
    s.readError.clear();
    s.mustReread = false;
    return true;
}

void forgetFailures(Store& s)
{
    s.pendingProblem.clear();
    s.toldReason.clear();
    s.changedSinceFailure = false;
    s.retryPauseMs = FirstRetryPauseMs;
    if (s.retryTimer)
        s.retryTimer->stop();
}

// Makes memory reflect the file: the first time, when the file is another one, and when
// someone else changed it.
void refresh(const QString& application)
{
    Store& s = store();
    const QString path = storePath(application);
    if (s.loaded && path == s.path) {
        if (s.readError.isEmpty() && !s.mustReread && stampOf(path) == s.stamp)
            return;
        QString reason;
        if (reread(s, reason))
            ++s.externalChanges;
        return;
    }
    s.path = path;
    s.loaded = true;
    s.document = IniDocument();
    s.stamp = FileStamp();
    s.bytes.clear();
    s.edits.clear();
    forgetFailures(s);
    QString reason;
    if (!reread(s, reason))
        report(readFailure(path, reason));
}

struct Failure
{
    QString reason;
    bool locked = false; // another writer held the lock past the wait
};

// Writes memory to the file, under the lock, when the bytes would change.
std::optional<Failure> write(Store& s, int lockWaitMs)
{
    QByteArray bytes;
    bool built = false;
    // Compared before the lock, so that a store with nothing to write needs neither the
    // lock nor a folder it may write in.
    if (s.readError.isEmpty() && !s.mustReread && stampOf(s.path) == s.stamp) {
        bytes = WriteIni(s.document, s.bytes.size());
        built = true;
        if (bytes == s.bytes)
            return std::nullopt;
    }
    QDir().mkpath(QFileInfo(s.path).path());
    const SaveLock lock(s.path + QStringLiteral(".lock"), lockWaitMs);
    if (!lock.reason.isEmpty())
        return Failure{lock.reason, lock.held};
    if (!s.readError.isEmpty() || s.mustReread || stampOf(s.path) != s.stamp) {
        QString reason;
        if (!reread(s, reason))
            return Failure{reason};
        ++s.externalChanges;
        built = false;
    }
    if (!built)
        bytes = WriteIni(s.document, s.bytes.size());
    if (bytes != s.bytes) {
        QString reason;
        if (!writeDurably(s.path, bytes, reason))
            return Failure{reason};
        s.bytes = std::move(bytes);
        s.stamp = stampOf(s.path);
    }
    return std::nullopt;
}

void retry();
void saveAtQuit();

// Another try after a pause, on the thread of the store. Without an event loop to run a
// timer (a tool without an application), the next change or Commit is the next try.
void scheduleRetry(Store& s, bool locked)
{
    const int cap = locked ? LockedRetryPauseCapMs : OtherRetryPauseCapMs;
    const int pause = std::min(s.retryPauseMs, cap);
    s.retryPauseMs = std::min(pause * 2, cap);
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return;
    if (!s.retryTimer) {
        s.retryTimer = new QTimer(application);
        s.retryTimer->setSingleShot(true);
        QObject::connect(s.retryTimer, &QTimer::timeout, retry);
        // The last chance for changes still waiting.
        QObject::connect(application, &QCoreApplication::aboutToQuit, [] {
            const Store& state = store();
            if (!state.pendingProblem.isEmpty() && state.sessions == 0)
                saveAtQuit();
        });
    }
    s.retryTimer->start(pause);
}

void succeeded(Store& s)
{
    s.edits.clear();
    const bool waited = !s.pendingProblem.isEmpty();
    forgetFailures(s);
    if (waited && s.savedHandler)
        s.savedHandler();
}

// Saves what this program changed. On failure the changes wait for another try, and the
// problem is returned, to be told or not by the caller.
std::optional<Failure> save(Attempt attempt)
{
    Store& s = store();
    if (!s.loaded)
        return std::nullopt;
    if (s.edits.isEmpty()) {
        succeeded(s);
        return std::nullopt;
    }
    // Merely reading settings after a failure must not wait on the lock again, nor tell
    // anything: the timer retries.
    if (attempt == Attempt::Automatic && !s.pendingProblem.isEmpty() && !s.changedSinceFailure)
        return std::nullopt;
    const int wait = attempt == Attempt::Explicit ? ExplicitLockWaitMs
                     : attempt == Attempt::Retry  ? RetryLockWaitMs
                                                  : AutomaticLockWaitMs;
    std::optional<Failure> failure = write(s, wait);
    if (!failure) {
        succeeded(s);
        return std::nullopt;
    }
    s.pendingProblem = saveProblem(s.path, failure->reason);
    s.changedSinceFailure = false;
    scheduleRetry(s, failure->locked);
    return failure;
}

// Tells a failure unless its cause is the one told last.
void tell(const Failure& failure)
{
    Store& s = store();
    if (failure.reason == s.toldReason)
        return;
    s.toldReason = failure.reason;
    report(keptForRetry(saveProblem(s.path, failure.reason)));
}

void saveOrReport()
{
    if (const std::optional<Failure> failure = save(Attempt::Automatic))
        tell(*failure);
}

void retry()
{
    Store& s = store();
    if (s.pendingProblem.isEmpty())
        return;
    // A session groups its saves into the one at its end: try again after it.
    if (s.sessions > 0) {
        s.retryTimer->start();
        return;
    }
    if (const std::optional<Failure> failure = save(Attempt::Retry))
        tell(*failure);
}

void saveAtQuit()
{
    const std::optional<Failure> failure = save(Attempt::Explicit);
    if (!failure)
        return;
    // No try is left: say what is lost, whatever was told before.
    Store& s = store();
    report(saveProblem(s.path, failure->reason) +
           QStringLiteral("\nThe changes that waited to be saved are lost."));
    s.edits.clear();
    forgetFailures(s);
}

} // namespace

SettingsStore::SettingsStore(const QString& application)
{
    if (store().sessions == 0 || !store().loaded)
        refresh(application);
}

SettingsStore::~SettingsStore()
{
    if (store().sessions == 0)
        saveOrReport();
}

QString SettingsStore::GetSetting(const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    const IniSection* found = store().document.find(section);
    return (found ? found->value(key) : std::nullopt).value_or(defaultValue);
}

void SettingsStore::SaveSetting(const QString& section, const QString& key, const QString& value)
{
    Store& s = store();
    IniSection& target = s.document.section(section);
    // Converted once: a save of a large table passes here for every key.
    const QByteArray utf8Key = key.toUtf8();
    const QByteArray utf8Value = value.toUtf8();
    // Writing back what is there is no change of ours, and must not undo someone else's.
    if (const QByteArray* stored = target.findUtf8(utf8Key); stored && *stored == utf8Value)
        return;
    target.setUtf8(utf8Key, utf8Value);
    s.changedSinceFailure = true;
    OwnEdits& edits = s.edits[section];
    if (!edits.replaced)
        edits.keys.insert(key);
}

void SettingsStore::DeleteSetting(const QString& section, const QString& key)
{
    Store& s = store();
    const IniSection* found = s.document.find(section);
    if (!found)
        return;
    if (key.isEmpty()) {
        // Emptied rather than removed: refilled right after, as a save of the users is, it
        // keeps its place in the file and its room.
        s.document.section(section).clear();
        s.changedSinceFailure = true;
        OwnEdits& edits = s.edits[section];
        edits.replaced = true;
        edits.keys.clear();
        return;
    }
    if (!found->value(key))
        return;
    s.document.section(section).remove(key);
    s.changedSinceFailure = true;
    OwnEdits& edits = s.edits[section];
    if (!edits.replaced)
        edits.keys.insert(key);
}

SettingPairs SettingsStore::GetAllSettings(const QString& section) const
{
    const IniSection* found = store().document.find(section);
    return found ? found->pairs() : SettingPairs();
}

void SettingsStore::VisitSettings(
    const QString& section,
    const std::function<void(QByteArrayView key, QByteArrayView value)>& visit) const
{
    if (const IniSection* found = store().document.find(section))
        found->forEachUtf8(visit);
}

qsizetype SettingsStore::SettingCount(const QString& section) const
{
    const IniSection* found = store().document.find(section);
    return found ? found->size() : 0;
}

int SettingsStore::ExternalChanges()
{
    return store().externalChanges;
}

QString SettingsStore::FilePath(const QString& application)
{
    return storePath(application);
}

StoreSession::StoreSession(const QString& application)
{
    if (store().sessions++ == 0)
        refresh(application);
}

StoreSession::~StoreSession()
{
    if (--store().sessions == 0)
        saveOrReport();
}

std::optional<QString> StoreSession::Commit()
{
    const std::optional<Failure> failure = save(Attempt::Explicit);
    if (!failure)
        return std::nullopt;
    Store& s = store();
    // The caller shows it: the same cause needs no other box.
    s.toldReason = failure->reason;
    return saveProblem(s.path, failure->reason);
}

void StoreSession::Discard()
{
    Store& s = store();
    if (!s.edits.isEmpty())
        s.mustReread = true;
    s.edits.clear();
    forgetFailures(s);
}

void SetStoreFailureHandler(StoreFailureHandler handler)
{
    store().failureHandler = std::move(handler);
}

QString PendingSaveProblem()
{
    return store().pendingProblem;
}

void SetStoreSavedHandler(std::function<void()> handler)
{
    store().savedHandler = std::move(handler);
}

void ForgetStore()
{
    Store& s = store();
    s.loaded = false;
    s.edits.clear();
    s.document = IniDocument();
    s.mustReread = false;
    forgetFailures(s);
}
