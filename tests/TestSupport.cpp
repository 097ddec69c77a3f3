#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <cstdlib>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

// The program's instance lock lives in its runtime folder until the process ends, after
// the fixtures are gone; the folder is removed only then.
QStringList& foldersToRemoveAtExit()
{
    static QStringList folders;
    return folders;
}

void removeFoldersAtExit()
{
    for (const QString& folder : foldersToRemoveAtExit())
        QDir(folder).removeRecursively();
}

} // namespace

#ifdef Q_OS_LINUX
QScopeGuard<std::function<void()>> WithoutCapability(int capability)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    syscall(SYS_capget, &header, caps);
    __user_cap_data_struct dropped[2] = {caps[0], caps[1]};
    dropped[0].effective &= ~(1u << capability);
    syscall(SYS_capset, &header, dropped);
    return QScopeGuard<std::function<void()>>([header, low = caps[0], high = caps[1]]() mutable {
        __user_cap_data_struct restored[2] = {low, high};
        syscall(SYS_capset, &header, restored);
    });
}
#endif

PrivateFolders::PrivateFolders()
{
    QFile::setPermissions(runtimeDir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void PrivateFolders::keepRuntimeUntilExit()
{
    runtimeDir.setAutoRemove(false);
    // Registered before the lock exists, so it runs after the lock is released.
    if (foldersToRemoveAtExit().isEmpty())
        std::atexit(removeFoldersAtExit);
    foldersToRemoveAtExit().append(runtimeDir.path());
}

QProcessEnvironment PrivateFolders::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
    return environment;
}

TestFolders::TestFolders()
{
    keepRuntimeUntilExit();
    qputenv("XDG_CONFIG_HOME", config().toLocal8Bit());
    qputenv("XDG_DATA_HOME", data().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime().toLocal8Bit());
}

QString StoreFilePath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvane/Quorvane.conf");
}

QByteArray ReadStoreBytes()
{
    QFile file(StoreFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void WriteStoreFile(const QByteArray& text)
{
    // The settings cache notices a change by size and time; give every write its own time.
    static QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
    stamp = stamp.addSecs(1);
    QDir().mkpath(QFileInfo(StoreFilePath()).path());
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
}

void RemoveStoreFile()
{
    QFile::remove(StoreFilePath());
    QFile::remove(StoreFilePath() + QStringLiteral(".lock"));
}

IniSections ReadStoreSections()
{
    IniSections sections;
    QString current;
    const QList<QByteArray> lines = ReadStoreBytes().split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2);
            sections[current];
        } else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq > 0) {
            const QString key =
                QString(line.left(eq)).replace(QLatin1String("%20"), QLatin1String(" "));
            sections[current][key] = line.mid(eq + 1);
        }
    }
    return sections;
}

QStringList StoreSection(const QString& name)
{
    QStringList lines;
    const QMap<QString, QString> section = ReadStoreSections().value(name);
    for (auto it = section.cbegin(); it != section.cend(); ++it)
        lines << it.key() + u'=' + it.value();
    return lines;
}
