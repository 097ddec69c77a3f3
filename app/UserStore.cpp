#include "app/UserStore.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"

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

    // What this program writes is three keys for each of the entries 1 to n, and that loads
    // back exactly. A hand-edited section may hold keys without "_", unknown fields, gaps
    // or numbers past the key count: such keys are skipped, and every entry that some key
    // names is kept, in the order of its number, so no stored value is lost or misplaced.
    std::map<int, UserRecord> entries;
    for (const auto& [key, value] : pairs) {
        const qsizetype underscore = key.indexOf(QLatin1Char('_'));
        if (underscore < 0)
            continue;
        const int number = entryNumber(QStringView(key).left(underscore));
        const QStringView field = QStringView(key).mid(underscore + 1);
        if (number < 1)
            continue;
        if (field == NameField)
            entries[number].name = value;
        else if (field == IpField)
            entries[number].ip = value;
        else if (field == PortField)
            entries[number].port = TextToInteger(value).value_or(0);
    }

    Global::Users = DimUsers(static_cast<int>(entries.size()));
    int index = 0;
    for (auto& [number, user] : entries) {
        ++index;
        user.order = index;
        Global::Users[static_cast<std::size_t>(index)] = std::move(user);
    }
}

void SaveUsers()
{
    using namespace StoreKeys;
    SettingsStore store(Application);
    store.SaveSetting(UsersSection, TestUsers, BooleanText(true));
    if (store.GetAllSettings(UsersSection).size() > 1)
        store.DeleteSetting(UsersSection);
    const UserTable& users = Global::Users;
    for (int i = 1; i <= UBound(users); ++i) {
        const UserRecord& user = users[static_cast<std::size_t>(i)];
        store.SaveSetting(UsersSection, entryKey(i, NameField), user.name);
        store.SaveSetting(UsersSection, entryKey(i, IpField), user.ip);
        store.SaveSetting(UsersSection, entryKey(i, PortField), IntegerText(user.port));
    }
}
