#include "app/SettingsStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
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
    StoreFailureHandler failureHandler;
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

QString saveFailure(const QString& path, const QString& reason)
{
    return QStringLiteral("The settings could not be saved to %1: %2.\n"
                          "The changes are kept and saved again at the next save.")
        .arg(QDir::toNativeSeparators(path), reason);
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
    explicit SaveLock(const QString& path)
    {
#ifdef Q_OS_UNIX
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            reason = qt_error_string(errno);
            return;
        }
        QDeadlineTimer deadline(5000);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK || deadline.hasExpired()) {
                reason = errno == EWOULDBLOCK ? QStringLiteral("another program keeps it locked")
                                              : qt_error_string(errno);
                return;
            }
            QThread::msleep(10);
        }
#else
        lock = std::make_unique<QLockFile>(path);
        if (!lock->tryLock(5000))
            reason = QStringLiteral("another program keeps it locked");
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

    QString reason; // empty once the lock is held
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
    return true;
}

// Makes memory reflect the file: the first time, when the file is another one, and when
// someone else changed it.
void refresh(const QString& application)
{
    Store& s = store();
    const QString path = storePath(application);
    if (s.loaded && path == s.path) {
        if (s.readError.isEmpty() && stampOf(path) == s.stamp)
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
    QString reason;
    if (!reread(s, reason))
        report(readFailure(path, reason));
}

std::optional<QString> save()
{
    Store& s = store();
    if (!s.loaded || s.edits.isEmpty())
        return std::nullopt;
    QString reason;
    QDir().mkpath(QFileInfo(s.path).path());
    const SaveLock lock(s.path + QStringLiteral(".lock"));
    if (!lock.reason.isEmpty())
        return saveFailure(s.path, lock.reason);
    if (!s.readError.isEmpty() || stampOf(s.path) != s.stamp) {
        if (!reread(s, reason))
            return saveFailure(s.path, reason);
        ++s.externalChanges;
    }
    QByteArray bytes = WriteIni(s.document, s.bytes.size());
    if (bytes != s.bytes) {
        if (!writeDurably(s.path, bytes, reason))
            return saveFailure(s.path, reason);
        s.bytes = std::move(bytes);
        s.stamp = stampOf(s.path);
    }
    s.edits.clear();
    return std::nullopt;
}

void saveOrReport()
{
    if (const std::optional<QString> failure = save())
        report(*failure);
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
    // Writing back what is there is no change of ours, and must not undo someone else's.
    if (target.value(key) == value)
        return;
    target.set(key, value);
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
        OwnEdits& edits = s.edits[section];
        edits.replaced = true;
        edits.keys.clear();
        return;
    }
    if (!found->value(key))
        return;
    s.document.section(section).remove(key);
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
    return save();
}

void SetStoreFailureHandler(StoreFailureHandler handler)
{
    store().failureHandler = std::move(handler);
}

void ForgetStore()
{
    Store& s = store();
    s.loaded = false;
    s.edits.clear();
    s.document = IniDocument();
}
