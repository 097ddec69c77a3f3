#pragma once
// Every setting of the store with its default: the one table of what a fresh store holds,
// and what a missing or unreadable value reads as. Section and key names come from
// StoreKeys.h; window positions have none here, as theirs are computed (centred).

#include "app/StoreKeys.h"

#include <QLatin1String>
#include <cstdint>

template <typename T> struct StoreSetting
{
    QLatin1String section;
    QLatin1String key;
    T defaultValue;
};

namespace Stored {

using Text = QLatin1String;

inline constexpr StoreSetting<std::int32_t> DefaultPort{StoreKeys::SettingsSection,
                                                        StoreKeys::DefaultPort, 505};
inline constexpr StoreSetting<Text> DefaultIp{StoreKeys::SettingsSection, StoreKeys::DefaultIp,
                                              Text("127.0.0.1")};
inline constexpr StoreSetting<bool> MinimizedWhenSend{StoreKeys::SettingsSection,
                                                      StoreKeys::MinimizedWhenSend, true};
inline constexpr StoreSetting<bool> PopupWhenSend{StoreKeys::SettingsSection,
                                                  StoreKeys::PopupWhenSend, true};
inline constexpr StoreSetting<Text> MyUsername{StoreKeys::IdentificationSection,
                                               StoreKeys::MyUsername, Text("Me")};
inline constexpr StoreSetting<std::int32_t> MyPortnb{StoreKeys::IdentificationSection,
                                                     StoreKeys::MyPortnb, 505};
// The receiver's: the days messages are kept (0 for ever), and whether it announces its user.
inline constexpr StoreSetting<std::int32_t> KeepDays{StoreKeys::ReceiverSection,
                                                     StoreKeys::KeepDays, 0};
inline constexpr StoreSetting<bool> Announce{StoreKeys::ReceiverSection, StoreKeys::Announce, true};

// The default correspondent table's one entry, at the default address and port. It cannot
// be removed, and keeps its name and address in the user editor.
inline constexpr Text DefaultUserName{"localhost"};

} // namespace Stored
