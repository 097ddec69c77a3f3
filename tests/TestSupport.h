#pragma once
// Shared helpers of the test executables: private config and runtime folders, and reading
// or hand-editing the store file as a user would.

#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// Fresh temporary config and runtime folders (the runtime one private to the user).
class PrivateFolders
{
public:
    PrivateFolders();
    QString config() const { return configDir.path(); }
    QString runtime() const { return runtimeDir.path(); }
    // This process's environment with XDG_CONFIG_HOME and XDG_RUNTIME_DIR pointing here,
    // for a copy of the program started as its own process.
    QProcessEnvironment environment() const;

protected:
    void keepRuntimeUntilExit();

private:
    QTemporaryDir configDir;
    QTemporaryDir runtimeDir;
};

// Points this process's XDG_CONFIG_HOME and XDG_RUNTIME_DIR at fresh temporary folders.
// Make it before anything reads the store or the runtime folder: Qt keeps the paths it
// saw first.
class TestFolders : public PrivateFolders
{
public:
    TestFolders();
};

QString StoreFilePath();
QByteArray ReadStoreBytes();
// Replaces the store file with `text`, making sure the change is seen by the next read.
void WriteStoreFile(const QByteArray& text);
void RemoveStoreFile();

// section -> key -> raw value, read straight from the file.
using IniSections = QMap<QString, QMap<QString, QString>>;
IniSections ReadStoreSections();
