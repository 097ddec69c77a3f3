#include "platform/ShellExtension.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

// A one-letter scheme is a drive letter ("C:/notes.txt"), not a scheme.
bool hasScheme(const QUrl& url)
{
    return url.scheme().size() > 1;
}

} // namespace

bool ShellOpen(const QString& document, QWindow* owner)
{
    Q_UNUSED(owner)
    QUrl url(document, QUrl::TolerantMode);
    if (!document.isEmpty() && !hasScheme(url)) {
        // Relative names resolve against the folder the program was started from.
        const QDir programFolder(QCoreApplication::applicationDirPath());
        url = QUrl::fromLocalFile(programFolder.absoluteFilePath(document));
    }
    return QDesktopServices::openUrl(url);
}
