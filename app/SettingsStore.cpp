#include "app/SettingsStore.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QVariant>

namespace {

// Undoes the escaping QSettings applies to INI section and key names (%XX, %UXXXX).
QString unescapeIniName(QStringView name)
{
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == QLatin1Char('%') && name.size() - i >= 3) {
            bool ok = false;
            if (name[i + 1] == QLatin1Char('U') && name.size() - i >= 6) {
                const uint code = name.mid(i + 2, 4).toUInt(&ok, 16);
                if (ok) {
                    out += QChar(static_cast<char16_t>(code));
                    i += 5;
                    continue;
                }
            }
            const uint code = name.mid(i + 1, 2).toUInt(&ok, 16);
            if (ok) {
                out += QChar(static_cast<char16_t>(code));
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

// Every value exactly as written in the file, by section and key. Used for hand-edited
// entries that QSettings reads as something other than one text (for instance
// "Smith, John", which it splits into a list).
RawIni readRawIni(const QString& fileName)
{
    RawIni sections;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return sections;
    QString current;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = unescapeIniName(QStringView(line).mid(1, line.size() - 2));
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        QString value = line.mid(eq + 1);
        const qsizetype comment = value.indexOf(QLatin1Char(';'));
        if (comment >= 0)
            value.truncate(comment);
        sections[current].insert(unescapeIniName(QStringView(line).left(eq).trimmed()),
                                 value.trimmed());
    }
    return sections;
}

QString groupKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

namespace {

// The view shared by the store objects of the open session, if any.
struct SharedView
{
    QString application;
    std::unique_ptr<QSettings> settings;
};

SharedView& sharedView()
{
    static SharedView view;
    return view;
}

std::unique_ptr<QSettings> openStore(const QString& application)
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, application,
                                       application);
}

} // namespace

SettingsStore::SettingsStore(const QString& application)
{
    SharedView& view = sharedView();
    if (view.settings && view.application == application) {
        settings = view.settings.get();
    } else {
        owned = openStore(application);
        settings = owned.get();
    }
}

SettingsStore::~SettingsStore() = default; // an owned QSettings writes pending changes here

StoreSession::StoreSession(const QString& application)
{
    SharedView& view = sharedView();
    view.application = application;
    view.settings = openStore(application);
}

StoreSession::~StoreSession()
{
    sharedView().settings.reset(); // writes the session's changes
}

QString SettingsStore::readText(const QString& path) const
{
    const QVariant value = settings->value(path);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (!rawIni)
        rawIni = readRawIni(settings->fileName());
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    return rawIni->value(path.left(slash)).value(path.mid(slash + 1));
}

QString SettingsStore::GetSetting(const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    const QString path = groupKey(section, key);
    if (!settings->contains(path))
        return defaultValue;
    return readText(path);
}

void SettingsStore::SaveSetting(const QString& section, const QString& key, const QString& value)
{
    settings->setValue(groupKey(section, key), value);
}

void SettingsStore::DeleteSetting(const QString& section, const QString& key)
{
    settings->remove(key.isEmpty() ? section : groupKey(section, key));
}

SettingPairs SettingsStore::GetAllSettings(const QString& section) const
{
    settings->beginGroup(section);
    const QStringList keys = settings->childKeys();
    settings->endGroup();
    SettingPairs pairs;
    pairs.reserve(keys.size());
    for (const QString& key : keys)
        pairs.append({key, readText(groupKey(section, key))});
    return pairs;
}
