#include "TestSupport.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
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

#ifdef Q_OS_LINUX
// Reads what the process says until it has said `text`, for ten seconds at most.
static bool waitForOutput(QProcess& process, const QByteArray& text, QByteArray& said)
{
    const QDeadlineTimer deadline(10000);
    while (!said.contains(text) && process.waitForReadyRead(int(deadline.remainingTime())))
        said += process.readAll();
    return said.contains(text);
}

PrivateAvahi::PrivateAvahi()
{
    const QString avahi = QStandardPaths::findExecutable("avahi-daemon", {"/usr/sbin"});
    if (::geteuid() != 0)
        problem = "an avahi-daemon of the test's own needs root";
    else if (avahi.isEmpty() || QStandardPaths::findExecutable("avahi-browse").isEmpty())
        problem = "avahi-daemon or avahi-utils is not installed";
    else if (QProcess::execute(avahi, {"--check"}) == 0)
        problem = "an avahi-daemon already runs here; the test needs one of its own";
    QFile busConfig(dir.filePath("bus.conf")), avahiConfig(dir.filePath("avahi.conf"));
    if (!problem.isEmpty() || !busConfig.open(QIODevice::WriteOnly) ||
        !avahiConfig.open(QIODevice::WriteOnly))
        return;
    // As the system bus: anyone may call the daemon, only root may own a name.
    busConfig.write(R"(<busconfig><type>system</type><auth>EXTERNAL</auth><policy context="default">
<allow user="*"/><deny own="*"/><deny send_type="method_call"/><allow send_type="signal"/>
<allow send_requested_reply="true" send_type="method_return"/><allow receive_type="error"/>
<allow send_requested_reply="true" send_type="error"/><allow receive_type="method_call"/>
<allow receive_type="method_return"/><allow receive_type="signal"/>
<allow send_destination="org.freedesktop.DBus"/></policy>
<includedir>/usr/share/dbus-1/system.d</includedir><listen>unix:path=)" +
                    dir.filePath("bus").toUtf8() + "</listen></busconfig>");
    avahiConfig.write(
        "[server]\nallow-interfaces=lo\nuse-ipv6=no\n[publish]\npublish-workstation=yes\n");
    busConfig.close();
    avahiConfig.close();
    bus.start("dbus-daemon",
              {"--config-file=" + busConfig.fileName(), "--nofork", "--print-address"});
    QByteArray address;
    if (!waitForOutput(bus, "\n", address))
        problem = "dbus-daemon did not start";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.trimmed());
    QProcess::execute("ip", {"link", "set", "lo", "multicast", "on"});
    if (problem.isEmpty())
        startDaemon();
}

PrivateAvahi::~PrivateAvahi()
{
    for (QProcess* process : {&browser, &daemon, &bus})
        process->terminate(), process->waitForFinished();
}

bool PrivateAvahi::startDaemon()
{
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start(
        QStandardPaths::findExecutable("avahi-daemon", {"/usr/sbin"}),
        {"--no-drop-root", "--no-chroot", "--no-rlimits", "-f", dir.filePath("avahi.conf")});
    QByteArray said;
    const QByteArray named = "Host name is ", end = ". Local service cookie";
    if (!waitForOutput(daemon, end, said))
        return problem = "avahi-daemon did not start: " + QString::fromLocal8Bit(said), false;
    host = said.mid(said.indexOf(named) + named.size()).split('.').first() + ".local";
    return listenAgain();
}

bool PrivateAvahi::listenAgain()
{
    browser.kill();
    browser.waitForFinished();
    heard.clear();
    // Line by line, not when its output buffer is full.
    browser.start("stdbuf", {"-oL", "avahi-browse", "-r", "-p", "-k", "_quorvane._tcp"});
    return browser.waitForStarted();
}

const QString& PrivateAvahi::browsed()
{
    return heard += QString::fromUtf8(browser.readAllStandardOutput());
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
