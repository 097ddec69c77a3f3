#pragma once
// Application state shared by every window and service of the program, and the
// correspondent record and table. Everything here lives for the whole run.

#include <QString>
#include <cstdint>
#include <vector>

struct UserRecord
{
    QString name;
    QString ip;
    std::int32_t port = 0;
    std::int32_t order = 0; // 1-based display position in the user list manager
};

// Addressed from 1 to UBound(); slot 0 always exists, stays empty and is never used.
using UserTable = std::vector<UserRecord>;

inline int UBound(const UserTable& table)
{
    return static_cast<int>(table.size()) - 1;
}

// A table dimensioned 0 to n with empty records.
inline UserTable DimUsers(int n)
{
    return UserTable(static_cast<std::size_t>(n < 0 ? 0 : n) + 1);
}

namespace Global {

constexpr int MaxUserNameLength = 128;
// Table indices are 16-bit signed, so the table never grows past this.
constexpr int MaxUsers = 32767;

extern std::int32_t DefaultPort;
extern QString DefaultIp;
extern bool MinimizedWhenSend;
extern bool PopupWhenSend;
extern QString MyUsername;
extern std::int32_t MyPortnb;

extern UserTable Users;
extern UserTable DefaultUsers;

extern UserRecord EditedUser;
extern bool EditCancelled;
extern UserRecord SendTarget;

// Rebuilds DefaultUsers: the single entry "localhost" at the default address and port
// (StoreSettings.h), order 1.
void BuildDefaultUsers();

} // namespace Global
