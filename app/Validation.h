#pragma once
// The rules every name, address and port entering the program goes through. None of them
// shows a message: each gives a verdict and hands the cleaned value back.

#include "app/Global.h"

#include <QString>
#include <cstdint>

// A dotted IPv4 address of four decimal numbers 0..255 (empty ones read as 0), spaces
// around it allowed. On success `normalised` holds it without blanks or leading zeros.
bool IsValidIp(const QString& address, QString& normalised);

// The port read by NumericValue and rounded half to even; valid when 0..65535. `port`
// always receives the number read (0 when it does not fit in 32 bits).
bool IsValidPort(const QString& text, std::int32_t& port);

// 1 to MaxUserNameLength characters once spaces around it are trimmed, and no NUL.
// `trimmed` always receives the trimmed text.
bool IsValidUserName(const QString& name, QString& trimmed);

// True when an entry 1..n has exactly this name and this address (case-sensitive).
bool FindUser(const UserTable& users, const QString& name, const QString& ip);

// The rows of a user list as the lookup sees them: row i (from 1) has a name and an IP.
class UserRows
{
public:
    virtual ~UserRows() = default;
    virtual int rowCount() const = 0;
    virtual QString rowName(int row) const = 0;
    virtual QString rowIp(int row) const = 0;
};

// True when some row has exactly this name and this IP (case-sensitive).
bool IsUserInList(const UserRows& list, const QString& name, const QString& ip);
