#include "app/UserStore.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

QString entryKey(int number, QLatin1String field)
{
    // Built in one piece: a save of the largest table makes 32766 of these.
    char key[24];
    const int length = std::snprintf(key, sizeof key, "%d_%s", number, field.data());
    return QString::fromLatin1(key, length);
}

// The leading decimal digits of `text` as an entry number; 0 when there are none or the
// number is past the 16-bit range.
int entryNumber(QByteArrayView text)
{
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + (c - '0');
        if (number > Global::MaxUsers)
            return 0;
    }
    return number;
}

// True when the section already holds exactly what a save writes after the first start:
// each entry's name, address and port, in order. Refilling it would touch every key of a
// large table and change nothing.
bool holdsTable(const SettingsStore& store, const UserTable& users)
{
    using namespace StoreKeys;
    const int count = UBound(users);
    if (count < 1 || store.SettingCount(UsersSection) != 3 * qsizetype(count))
        return false;
    int at = 0;
    bool same = true;
    store.VisitSettings(UsersSection, [&](QByteArrayView key, QByteArrayView value) {
        if (!same)
            return;
        const int number = at / 3 + 1;
        const UserRecord& user = users[static_cast<std::size_t>(number)];
        const int field = at % 3;
        ++at;
        // The key in a buffer of its own: this runs for every key of the largest table.
        char expectedKey[24];
        const int length = std::snprintf(expectedKey, sizeof expectedKey, "%d_%s", number,
                                         (field == 0   ? NameField
                                          : field == 1 ? IpField
                                                       : PortField)
                                             .data());
        const QString expected = field == 0   ? user.name
                                 : field == 1 ? user.ip
                                              : IntegerText(user.port);
        same = key == QByteArrayView(expectedKey, length) && value == expected.toUtf8();
    });
    return same && at == 3 * count;
}

} // namespace

void LoadUsers()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(UsersSection, TestUsers, BooleanText(true));
    if (store.SettingCount(UsersSection) == 1) {
        Global::Users = Global::DefaultUsers;
        return;
    }
    store.DeleteSetting(UsersSection, TestUsers);

    // The table has a third as many entries as there are keys, each value going to the
    // entry its key names, so unknown fields count but fill nothing. A hand-edited section
    // may also name entries past that count: they follow, in the order of their numbers,
    // so that no stored value is lost. Keys without "_" or without an entry number are
    // skipped.
    const int counted = std::min(RoundToInt32(store.SettingCount(UsersSection) / 3.0).value_or(0),
                                 Global::MaxUsers);
    std::map<int, UserRecord> beyond;
    Global::Users = DimUsers(counted);
    store.VisitSettings(UsersSection, [&](QByteArrayView key, QByteArrayView value) {
        const qsizetype underscore = key.indexOf('_');
        if (underscore < 0)
            return;
        const int number = entryNumber(key.first(underscore));
        if (number < 1)
            return;
        UserRecord& user =
            number <= counted ? Global::Users[static_cast<std::size_t>(number)] : beyond[number];
        const QByteArrayView field = key.sliced(underscore + 1);
        if (field == NameField)
            user.name = QString::fromUtf8(value);
        else if (field == IpField)
            user.ip = QString::fromUtf8(value);
        else if (field == PortField)
            user.port = TextToInteger(QString::fromUtf8(value)).value_or(0);
    });
    for (auto& [number, user] : beyond) {
        if (UBound(Global::Users) == Global::MaxUsers)
            break;
        Global::Users.push_back(std::move(user));
    }
    for (int i = 1; i <= UBound(Global::Users); ++i)
        Global::Users[static_cast<std::size_t>(i)].order = i;
}

void SaveUsers()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    if (holdsTable(store, Global::Users))
        return;
    store.SaveSetting(UsersSection, TestUsers, BooleanText(true));
    if (store.SettingCount(UsersSection) > 1)
        store.DeleteSetting(UsersSection);
    const UserTable& users = Global::Users;
    for (int i = 1; i <= UBound(users); ++i) {
        const UserRecord& user = users[static_cast<std::size_t>(i)];
        store.SaveSetting(UsersSection, entryKey(i, NameField), user.name);
        store.SaveSetting(UsersSection, entryKey(i, IpField), user.ip);
        store.SaveSetting(UsersSection, entryKey(i, PortField), IntegerText(user.port));
    }
}
