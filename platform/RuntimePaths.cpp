#include "platform/RuntimePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A base folder the runtime files may go under: never empty, relative or the root.
bool usableBase(const QString& folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isAbsolute() && !QDir(folder).isRoot() && info.isDir() &&
           info.isWritable();
}

// Makes `folder` with mode 0700 when missing. Empty when it is a real folder of this user's
// with mode 0700, else what is wrong with it.
QString makePrivate(const QString& folder)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) == 0)
        ::chmod(path.constData(), 0700); // the umask may have taken bits away
    else if (errno != EEXIST)
        return QStringLiteral("The runtime folder %1 cannot be created: %2.")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0)
        return QStringLiteral("The runtime folder %1 cannot be examined: %2.")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("The runtime folder %1 is a symbolic link, not a folder of your own.")
            .arg(folder);
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("The runtime folder %1 is not a folder.").arg(folder);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("The runtime folder %1 belongs to another user (uid %2).")
            .arg(folder)
            .arg(info.st_uid);
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("The runtime folder %1 has mode %2; it must be 0700, private to you.")
            .arg(folder)
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
#else
    QDir().mkpath(folder);
#endif
    return QString();
}

QString runtimeBase(QString* problem)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (usableBase(base))
        return base;
    // Qt gives no runtime folder when, say, another user made /tmp/runtime-<user> first.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache) || !usableBase(cache)) {
        *problem = QStringLiteral("There is no runtime folder: XDG_RUNTIME_DIR is not usable "
                                  "and neither is the cache folder \"%1\".")
                       .arg(cache);
        return QString();
    }
    const QString fallback = cache + QStringLiteral("/quorvane-runtime");
    *problem = makePrivate(fallback);
    return problem->isEmpty() ? fallback : QString();
}

QString inside(const QString& name, QString* problem)
{
    const QString folder = RuntimeFolder(problem);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

} // namespace

QString RuntimeFolder(QString* problem)
{
    QString reason;
    QString folder = runtimeBase(&reason);
    if (!folder.isEmpty()) {
        folder += QStringLiteral("/Quorvane");
        reason = makePrivate(folder);
        if (!reason.isEmpty())
            folder.clear();
    }
    if (problem)
        *problem = reason;
    return folder;
}

QString ReplyChannelPath(QString* problem)
{
    return inside(QStringLiteral("send-message.sock"), problem);
}

QString InstanceLockPath(QString* problem)
{
    return inside(QStringLiteral("quorvane.lock"), problem);
}
