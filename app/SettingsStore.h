#pragma once
// The per-user settings store: application -> section -> key -> text value, kept in the
// platform's native settings format. Nothing else in the program touches QSettings.
//
// Each store object reads the store afresh when it is made and makes its writes durable
// when it is destroyed, so one object per load or save keeps the file in step with memory.
// Inside a StoreSession the store objects share one view instead, and the file is written
// once, when the session ends.

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>
#include <optional>

class QSettings;

using SettingPairs = QList<QPair<QString, QString>>;
using RawIni = QHash<QString, QHash<QString, QString>>;

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
    // Every key of the section once, with its value; order unspecified.
    SettingPairs GetAllSettings(const QString& section) const;

private:
    QString readText(const QString& path) const;

    std::unique_ptr<QSettings> owned;
    QSettings* settings;
    // The file as written, read once and only when a value needs it.
    mutable std::optional<RawIni> rawIni;
};

// Groups the loads and saves of a sequence such as start-up, which writes the store several
// times, into one write at its end. Sessions do not nest.
class StoreSession
{
public:
    explicit StoreSession(const QString& application);
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;
};
