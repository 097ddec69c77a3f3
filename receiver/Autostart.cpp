#include "receiver/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Exec= of a desktop entry: the program's own path, quoted as the entry format asks, so that
// it starts whichever copy the user ticked the box in, installed or not.
QString desktopExec(const QString& program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    // The entry format reads a backslash in a value as the start of an escape.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

namespace Autostart {

QString EntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/quorvane-receiver.desktop");
}

QByteArray EntryText(const QString& program)
{
    QFile file(QStringLiteral(":/receiver/quorvane-receiver.desktop"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray text;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        // The installed entry finds the program on the PATH; this one names the copy itself,
        // which need not be on the PATH, so TryExec would hide it.
        if (line.startsWith("TryExec="))
            continue;
        text += line.startsWith("Exec=") ? "Exec=" + desktopExec(program).toUtf8() : line;
        text += '\n';
    }
    return text;
}

QString Set(bool start)
{
    const QString path = EntryPath();
    if (start) {
        QSaveFile entry(path);
        const QByteArray text = EntryText(QCoreApplication::applicationFilePath());
        if (text.isEmpty())
            return QStringLiteral("its template is missing from the program");
        if (!QDir().mkpath(QFileInfo(path).path()) || !entry.open(QIODevice::WriteOnly) ||
            entry.write(text) != text.size() || !entry.commit())
            return entry.errorString();
    } else if (QFile::exists(path) && !QFile::remove(path)) {
        return QStringLiteral("it cannot be removed");
    }
    return QString();
}

} // namespace Autostart
