#pragma once
// Shared helpers of the test executables: private config and runtime folders, and reading
// or hand-editing the store file as a user would.

#include <QMap>
#include <QString>
#include <QTemporaryDir>

// Points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at fresh temporary folders. Call before
// anything reads the store or the runtime folder: Qt keeps the paths it saw first.
class TestFolders
{
public:
    TestFolders();
    QString config() const { return configDir.path(); }
    QString runtime() const { return runtimeDir.path(); }

private:
    QTemporaryDir configDir;
    QTemporaryDir runtimeDir;
};

QString StoreFilePath();
QByteArray ReadStoreBytes();
// Replaces the store file with `text`, making sure the change is seen by the next read.
void WriteStoreFile(const QByteArray& text);
void RemoveStoreFile();

// section -> key -> raw value, read straight from the file.
using IniSections = QMap<QString, QMap<QString, QString>>;
IniSections ReadStoreSections();
