#include "app/Settings.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "app/UserStore.h"

#include <cmath>

namespace {

ScreenSizeSource& screenSource()
{
    static ScreenSizeSource source = [] { return QSizeF(1024 * 15.0, 768 * 15.0); };
    return source;
}

// A stored number that a hand edit made unreadable falls back to the key's default.
std::int32_t readInteger(const SettingsStore& store, const QString& section, const QString& key,
                         std::int32_t defaultValue)
{
    const QString text = store.GetSetting(section, key, IntegerText(defaultValue));
    return TextToInteger(text).value_or(defaultValue);
}

std::int32_t read(const SettingsStore& store, const StoreSetting<std::int32_t>& setting)
{
    return readInteger(store, setting.section, setting.key, setting.defaultValue);
}

bool read(const SettingsStore& store, const StoreSetting<bool>& setting)
{
    const QString text =
        store.GetSetting(setting.section, setting.key, BooleanText(setting.defaultValue));
    return TextToBoolean(text).value_or(setting.defaultValue);
}

QString read(const SettingsStore& store, const StoreSetting<QLatin1String>& setting)
{
    return store.GetSetting(setting.section, setting.key, setting.defaultValue);
}

void save(SettingsStore& store, const StoreSetting<std::int32_t>& setting, std::int32_t value)
{
    store.SaveSetting(setting.section, setting.key, IntegerText(value));
}

void save(SettingsStore& store, const StoreSetting<bool>& setting, bool value)
{
    store.SaveSetting(setting.section, setting.key, BooleanText(value));
}

void save(SettingsStore& store, const StoreSetting<QLatin1String>& setting, const QString& value)
{
    store.SaveSetting(setting.section, setting.key, value);
}

// The store's count of outside changes when the identification was last read.
int identificationSeen = 0;

void readIdentification(const SettingsStore& store)
{
    Global::MyUsername = read(store, Stored::MyUsername);
    Global::MyPortnb = read(store, Stored::MyPortnb);
    identificationSeen = SettingsStore::ExternalChanges();
}

std::int32_t centred(double screen, std::int32_t size)
{
    return RoundToInt32(screen / 2.0 - size / 2.0).value_or(0);
}

std::int32_t centredLeft(std::int32_t width)
{
    return centred(ScreenSizeTwips().width(), width);
}

std::int32_t centredTop(std::int32_t height)
{
    return centred(ScreenSizeTwips().height(), height);
}

} // namespace

void LoadSettings(RecipientList& combo)
{
    const SettingsStore store(StoreKeys::Application);
    Global::DefaultPort = read(store, Stored::DefaultPort);
    Global::MinimizedWhenSend = read(store, Stored::MinimizedWhenSend);
    Global::PopupWhenSend = read(store, Stored::PopupWhenSend);
    Global::DefaultIp = read(store, Stored::DefaultIp);
    readIdentification(store);
    LoadUsers();
    FillUserCombo(combo, 0);
}

void SaveOptions()
{
    SettingsStore store(StoreKeys::Application);
    save(store, Stored::DefaultPort, Global::DefaultPort);
    save(store, Stored::MinimizedWhenSend, Global::MinimizedWhenSend);
    save(store, Stored::PopupWhenSend, Global::PopupWhenSend);
    save(store, Stored::DefaultIp, Global::DefaultIp);
}

void SaveIdentification()
{
    SettingsStore store(StoreKeys::Application);
    save(store, Stored::MyUsername, Global::MyUsername);
    save(store, Stored::MyPortnb, Global::MyPortnb);
}

void ReloadChangedIdentification()
{
    const SettingsStore store(StoreKeys::Application);
    if (SettingsStore::ExternalChanges() != identificationSeen)
        readIdentification(store);
}

QString StoredUserName()
{
    return read(SettingsStore(StoreKeys::Application), Stored::MyUsername);
}

std::int32_t ReadStoreSetting(const StoreSetting<std::int32_t>& setting)
{
    return read(SettingsStore(StoreKeys::Application), setting);
}

bool ReadStoreSetting(const StoreSetting<bool>& setting)
{
    return read(SettingsStore(StoreKeys::Application), setting);
}

void SaveStoreSetting(const StoreSetting<std::int32_t>& setting, std::int32_t value)
{
    SettingsStore store(StoreKeys::Application);
    save(store, setting, value);
}

void SaveStoreSetting(const StoreSetting<bool>& setting, bool value)
{
    SettingsStore store(StoreKeys::Application);
    save(store, setting, value);
}

void SetScreenSizeSource(ScreenSizeSource source)
{
    screenSource() = std::move(source);
}

QSizeF ScreenSizeTwips()
{
    return screenSource()();
}

WindowPosition LoadWindowPosition(const QString& prefix, std::int32_t width, std::int32_t height)
{
    using namespace StoreKeys;
    const SettingsStore store(Application);
    WindowPosition position;
    position.left = readInteger(store, SettingsSection, prefix + StartUpX, centredLeft(width));
    position.top = readInteger(store, SettingsSection, prefix + StartUpY, centredTop(height));
    return KeepWindowOnScreen(width, height, position.left, position.top);
}

WindowPosition KeepWindowOnScreen(std::int32_t width, std::int32_t height, std::int32_t left,
                                  std::int32_t top)
{
    const QSizeF screen = ScreenSizeTwips();
    if (left > screen.width() || top > screen.height() || left < 0 || top < 0)
        return {centredLeft(width), centredTop(height)};
    return {left, top};
}

void SaveWindowPosition(const QString& prefix, std::int32_t left, std::int32_t top)
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(SettingsSection, prefix + StartUpX, IntegerText(left));
    store.SaveSetting(SettingsSection, prefix + StartUpY, IntegerText(top));
}
