#pragma once
// The per-user settings store: application -> section -> key -> text value, kept in one
// INI file, $XDG_CONFIG_HOME/<application>/<application>.conf. Nothing else in the program
// touches that file.
//
// The file is read once into memory and served from there. A save writes the whole file in
// one pass, through a temporary file that is flushed to disk and renamed over the store, and
// only when the bytes change. Another program (the receiver) or a hand edit may change the
// file meanwhile: it is then read again and only this program's own changes (the keys it
// set or deleted, the sections it replaced) are laid on top, so theirs survive.
//
// A store object saves its changes when it is destroyed; inside a StoreSession the changes
// of all store objects are saved once, when the session ends. Such a save waits for another
// writer's lock only briefly, so that the window never freezes. A save that fails keeps the
// changes in memory and tries again quietly: at the next change, on a timer with growing
// pauses, and when the application quits. Each cause of failure is told once, not at each
// try.

#include "app/IniFormat.h"

#include <QString>
#include <functional>
#include <optional>

class SettingsStore
{
public:
    explicit SettingsStore(const QString& application);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored text, or `defaultValue` when the section or key is missing.
    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    void SaveSetting(const QString& section, const QString& key, const QString& value);
    // With an empty key the whole section goes.
    void DeleteSetting(const QString& section, const QString& key = QString());
    // Every key of the section once, with its value.
    SettingPairs GetAllSettings(const QString& section) const;
    // The same pairs as UTF-8, without copying them out, for the largest section.
    void
    VisitSettings(const QString& section,
                  const std::function<void(QByteArrayView key, QByteArrayView value)>& visit) const;
    qsizetype SettingCount(const QString& section) const;

    // Counts the times the file was found changed by someone else and read again, so that
    // a reader can tell whether values it took earlier may be stale.
    static int ExternalChanges();
    // The file, for a program that wants to hear of changes as they happen.
    static QString FilePath(const QString& application);
};

// Groups the loads and saves of a sequence such as start-up into one read and one write.
// Sessions may nest; the outermost one writes.
class StoreSession
{
public:
    explicit StoreSession(const QString& application);
    // Saves what is pending; a failure goes to the failure handler.
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;

    // Saves what is pending now, waiting a little longer for another writer's lock. On
    // failure returns the message naming the file and the reason, which is then the caller's
    // to show together with what happens next; the changes stay pending and are retried as
    // after any failed save.
    std::optional<QString> Commit();
    // Forgets the unsaved changes of this program: neither the end of the session nor a
    // retry writes them, nor does a later save. Memory may keep their values for the rest of
    // the run.
    void Discard();
};

// Told, with a message naming the file and the reason, of a store that cannot be read and
// of a failed save that no caller takes over, once for each cause: a failure for the reason
// told last is not told again until a save has succeeded. Without a handler the message goes
// to the standard error.
using StoreFailureHandler = std::function<void(const QString& message)>;
void SetStoreFailureHandler(StoreFailureHandler handler);

// Why changes wait to be saved after a failed save; empty when nothing waits.
QString PendingSaveProblem();
// Told (on the thread of the store, from the event loop or a save) each time changes that
// had waited after a failed save are written at last.
void SetStoreSavedHandler(std::function<void()> handler);

// Drops what is in memory, unsaved changes and failed saves included: the next access reads
// the file again, as a new run of the program would.
void ForgetStore();
