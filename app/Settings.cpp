#include "app/Settings.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
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

bool readBoolean(const SettingsStore& store, const QString& section, const QString& key,
                 bool defaultValue)
{
    const QString text = store.GetSetting(section, key, BooleanText(defaultValue));
    return TextToBoolean(text).value_or(defaultValue);
}

// The store's count of outside changes when the identification was last read.
int identificationSeen = 0;

QString userName(const SettingsStore& store)
{
    return store.GetSetting(StoreKeys::IdentificationSection, StoreKeys::MyUsername,
                            QStringLiteral("Me"));
}

void readIdentification(const SettingsStore& store)
{
    using namespace StoreKeys;
    Global::MyUsername = userName(store);
    Global::MyPortnb = readInteger(store, IdentificationSection, MyPortnb, 505);
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
    using namespace StoreKeys;
    const SettingsStore store(Application);
    Global::DefaultPort = readInteger(store, SettingsSection, DefaultPort, 505);
    Global::MinimizedWhenSend = readBoolean(store, SettingsSection, MinimizedWhenSend, true);
    Global::PopupWhenSend = readBoolean(store, SettingsSection, PopupWhenSend, true);
    Global::DefaultIp = store.GetSetting(SettingsSection, DefaultIp, QStringLiteral("127.0.0.1"));
    readIdentification(store);
    LoadUsers();
    FillUserCombo(combo, 0);
}

void SaveOptions()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(SettingsSection, DefaultPort, IntegerText(Global::DefaultPort));
    store.SaveSetting(SettingsSection, MinimizedWhenSend, BooleanText(Global::MinimizedWhenSend));
    store.SaveSetting(SettingsSection, PopupWhenSend, BooleanText(Global::PopupWhenSend));
    store.SaveSetting(SettingsSection, DefaultIp, Global::DefaultIp);
}

void SaveIdentification()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(IdentificationSection, MyUsername, Global::MyUsername);
    store.SaveSetting(IdentificationSection, MyPortnb, IntegerText(Global::MyPortnb));
}

void ReloadChangedIdentification()
{
    const SettingsStore store(StoreKeys::Application);
    if (SettingsStore::ExternalChanges() != identificationSeen)
        readIdentification(store);
}

QString StoredUserName()
{
    return userName(SettingsStore(StoreKeys::Application));
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
