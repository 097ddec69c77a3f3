#pragma once
// Loading and saving the options, the identification and the window positions.

#include "app/StoreSettings.h"

#include <QSizeF>
#include <QString>
#include <cstdint>
#include <functional>

class RecipientList;

// Fills the options, the identification and Users from the store, then refills the
// recipient list with its first line selected.
void LoadSettings(RecipientList& combo);
void SaveOptions();
void SaveIdentification();
// Takes the identification again when another program (the receiver, which may change the
// reply port) or a hand edit changed the store since this program read it.
void ReloadChangedIdentification();
// One setting of the table as the store holds it now, or its default when missing or
// unreadable; and saving one. For the receiver, which keeps no copy of the settings.
std::int32_t ReadStoreSetting(const StoreSetting<std::int32_t>& setting);
bool ReadStoreSetting(const StoreSetting<bool>& setting);
void SaveStoreSetting(const StoreSetting<std::int32_t>& setting, std::int32_t value);
void SaveStoreSetting(const StoreSetting<bool>& setting, bool value);
// The user's name as the store holds it now, for the receiver, which keeps no identification.
QString StoredUserName();

// The screen's size in twips, asked afresh whenever a position is computed. The windows
// layer installs the real screen; until then a 1024 x 768 screen at 96 dpi is assumed.
using ScreenSizeSource = std::function<QSizeF()>;
void SetScreenSizeSource(ScreenSizeSource source);
QSizeF ScreenSizeTwips();

struct WindowPosition
{
    std::int32_t left = 0;
    std::int32_t top = 0;
};

// The stored position of the window with this key prefix, or a centred one; always with
// its top-left corner on the screen.
WindowPosition LoadWindowPosition(const QString& prefix, std::int32_t width, std::int32_t height);
WindowPosition KeepWindowOnScreen(std::int32_t width, std::int32_t height, std::int32_t left,
                                  std::int32_t top);
void SaveWindowPosition(const QString& prefix, std::int32_t left, std::int32_t top);
