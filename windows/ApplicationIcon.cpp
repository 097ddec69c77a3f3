#include "windows/ApplicationIcon.h"

#include <QApplication>

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quorvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

void InstallApplicationIcon()
{
    QApplication::setWindowIcon(ApplicationIcon());
}
