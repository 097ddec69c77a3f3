#include "app/UserStore.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"

#include <algorithm>
#include <map>

namespace {

QString entryKey(int number, QLatin1String field)
{
    return QString::number(number) + QLatin1Char('_') + field;
}

// The leading decimal digits of `text` as an entry number; 0 when there are none or the
// number is past the 16-bit range.
int entryNumber(QStringView text)
{
    int number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        number = number * 10 + (c.unicode() - u'0');
        if (number > Global::MaxUsers)
            return 0;
    }
    return number;
}

} // namespace

void LoadUsers()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(UsersSection, TestUsers, BooleanText(true));
    SettingPairs pairs = store.GetAllSettings(UsersSection);
    if (pairs.size() == 1) {
        Global::Users = Global::DefaultUsers;
        return;
    }
    store.DeleteSetting(UsersSection, TestUsers);
    pairs = store.GetAllSettings(UsersSection);

    // The table has a third as many entries as there are keys, each value going to the
    // entry its key names, so unknown fields count but fill nothing. A hand-edited section
    // may also name entries past that count: they follow, in the order of their numbers,
    // so that no stored value is lost. Keys without "_" or without an entry number are
    // skipped.
    const int counted = std::min(RoundToInt32(pairs.size() / 3.0).value_or(0), Global::MaxUsers);
    std::map<int, UserRecord> beyond;
    Global::Users = DimUsers(counted);
    for (const auto& [key, value] : pairs) {
        const qsizetype underscore = key.indexOf(QLatin1Char('_'));
        if (underscore < 0)
            continue;
        const int number = entryNumber(QStringView(key).left(underscore));
        if (number < 1)
            continue;
        UserRecord& user =
            number <= counted ? Global::Users[static_cast<std::size_t>(number)] : beyond[number];
        const QStringView field = QStringView(key).mid(underscore + 1);
        if (field == NameField)
            user.name = value;
        else if (field == IpField)
            user.ip = value;
        else if (field == PortField)
            user.port = TextToInteger(value).value_or(0);
    }
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
