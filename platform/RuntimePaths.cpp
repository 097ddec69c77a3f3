#include "platform/RuntimePaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString RuntimeFolder()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString folder = base + QStringLiteral("/Quorvane");
    if (!QDir(folder).exists()) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return folder;
}

QString ReplyChannelPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Quorvane-send-message-") + qEnvironmentVariable("USERNAME");
#else
    return RuntimeFolder() + QStringLiteral("/send-message.sock");
#endif
}

QString InstanceLockPath()
{
    return RuntimeFolder() + QStringLiteral("/quorvane.lock");
}
