#include "app/RecipientList.h"

#include "app/Conversions.h"
#include "app/Global.h"

QStringList UserComboLines()
{
    const UserTable& users = Global::Users;
    QStringList lines;
    lines.reserve(UBound(users));
    for (int i = 1; i <= UBound(users); ++i) {
        const UserRecord& user = users[static_cast<std::size_t>(i)];
        lines.append(user.name + QLatin1String(" (") + user.ip + QLatin1Char(':') +
                     SignedNumberText(user.port) + QLatin1Char(')'));
    }
    return lines;
}

void FillUserCombo(RecipientList& combo, std::int32_t index)
{
    combo.clear();
    combo.addItems(UserComboLines());
    if (combo.count() >= 1)
        combo.setCurrentIndex(static_cast<std::int16_t>(index));
}
