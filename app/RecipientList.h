#pragma once
// The recipient list of the main window as the shared routines see it, so that loading the
// settings and applying a reply request can refill it without knowing the widget.

#include <QStringList>
#include <cstdint>

class RecipientList
{
public:
    virtual ~RecipientList() = default;
    virtual void clear() = 0;
    virtual void addItems(const QStringList& lines) = 0;
    virtual int count() const = 0;
    virtual void setCurrentIndex(int index) = 0;
};

// One line per entry of Users, entry i at list index i - 1:
// name " (" ip ":" port-with-sign-blank ")", e.g. "localhost (127.0.0.1: 505)".
QStringList UserComboLines();

// Refills the list and selects the line at `index` (taken as 16 bits) when there is one.
void FillUserCombo(RecipientList& combo, std::int32_t index);
