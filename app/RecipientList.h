#pragma once
// The recipient list of the main window as the shared routines see it, so that loading the
// settings and applying a reply request can refill it without knowing the widget.

#include "app/Global.h"

#include <QStringList>
#include <cstdint>

class RecipientList
{
public:
    virtual ~RecipientList() = default;
    // Shows one line per entry of `users` (entry i at index i - 1) in place of what was there.
    virtual void showUsers(const UserTable& users) = 0;
    virtual int count() const = 0;
    virtual void setCurrentIndex(int index) = 0;
};

// The line of one entry: name " (" ip ":" port-with-sign-blank ")", e.g.
// "localhost (127.0.0.1: 505)".
QString UserComboLine(const UserRecord& user);
// The lines of every entry of Users.
QStringList UserComboLines();

// Refills the list and selects the line at `index` (taken as 16 bits) when there is one.
void FillUserCombo(RecipientList& combo, std::int32_t index);
