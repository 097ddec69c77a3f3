#include "receiver/Retention.h"

#include "app/Settings.h"
#include "app/StoreSettings.h"

#include <algorithm>

namespace Retention {

int StoredDays()
{
    return std::max(0, ReadStoreSetting(Stored::KeepDays));
}

void SaveDays(int days)
{
    SaveStoreSetting(Stored::KeepDays, days);
}

QString DaysText(int days)
{
    return days == 0 ? QStringLiteral("everything") : QStringLiteral("%1 days").arg(days);
}

} // namespace Retention
