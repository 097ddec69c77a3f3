#include "app/Global.h"

#include "app/Conversions.h"

namespace Global {

std::int32_t DefaultPort = 505;
QString DefaultIp = QStringLiteral("127.0.0.1");
bool MinimizedWhenSend = true;
bool PopupWhenSend = true;
QString MyUsername = QStringLiteral("Me");
std::int32_t MyPortnb = 505;

UserTable Users = DimUsers(0);
UserTable DefaultUsers = DimUsers(0);

UserRecord EditedUser;
bool EditCancelled = false;
UserRecord SendTarget;
UserRecord ReplyTarget;
std::int16_t ReplyIndex = -1;
bool ReplyPending = false;
bool MainWindowActive = false;
void* MainWindowHandle = nullptr;

void BuildDefaultUsers()
{
    DefaultUsers = DimUsers(1);
    UserRecord& localhost = DefaultUsers[1];
    localhost.name = QStringLiteral("localhost");
    localhost.ip = QStringLiteral("127.0.0.1");
    localhost.port = TextToInteger(QStringLiteral("505")).value_or(0);
    localhost.order = TextToInteger(QStringLiteral("1")).value_or(0);
}

} // namespace Global
