#include "app/Global.h"

#include "app/StoreSettings.h"

namespace Global {

std::int32_t DefaultPort = Stored::DefaultPort.defaultValue;
QString DefaultIp = Stored::DefaultIp.defaultValue;
bool MinimizedWhenSend = Stored::MinimizedWhenSend.defaultValue;
bool PopupWhenSend = Stored::PopupWhenSend.defaultValue;
QString MyUsername = Stored::MyUsername.defaultValue;
std::int32_t MyPortnb = Stored::MyPortnb.defaultValue;

UserTable Users = DimUsers(0);
UserTable DefaultUsers = DimUsers(0);

UserRecord EditedUser;
bool EditCancelled = false;
UserRecord SendTarget;

void BuildDefaultUsers()
{
    DefaultUsers = DimUsers(1);
    UserRecord& localhost = DefaultUsers[1];
    localhost.name = Stored::DefaultUserName;
    localhost.ip = Stored::DefaultIp.defaultValue;
    localhost.port = Stored::DefaultPort.defaultValue;
    localhost.order = 1;
}

} // namespace Global
