#pragma once
// Every section and key name of the settings store, spelled once.

#include <QLatin1String>

namespace StoreKeys {

inline constexpr QLatin1String Application{"Quorvane"};

inline constexpr QLatin1String SettingsSection{"Settings"};
inline constexpr QLatin1String IdentificationSection{"Identification"};
inline constexpr QLatin1String UsersSection{"Users"};
// The receiver's own settings.
inline constexpr QLatin1String ReceiverSection{"Receiver"};

inline constexpr QLatin1String DefaultPort{"DefaultPort"};
inline constexpr QLatin1String MinimizedWhenSend{"MinimizedWhenSend"};
inline constexpr QLatin1String PopupWhenSend{"PopupWhenSend"};
inline constexpr QLatin1String DefaultIp{"DefaultIp"};
inline constexpr QLatin1String MyUsername{"MyUsername"};
inline constexpr QLatin1String MyPortnb{"MyPortnb"};
// The receiver's own: whether it announces its user on the local network, and for how
// many days it keeps messages.
inline constexpr QLatin1String Announce{"Announce"};
inline constexpr QLatin1String KeepDays{"KeepDays"};

// Window position keys: the window's prefix followed directly by these.
inline constexpr QLatin1String StartUpX{"StartUPX"};
inline constexpr QLatin1String StartUpY{"StartUPY"};

inline constexpr QLatin1String TestUsers{"TestUsers"};
inline constexpr QLatin1String NameField{"name"};
inline constexpr QLatin1String IpField{"ip"};
inline constexpr QLatin1String PortField{"port"};

} // namespace StoreKeys

// Window position prefixes.
namespace WindowPrefix {
inline constexpr QLatin1String SendForm{""};
inline constexpr QLatin1String OptProg{"Option "};
inline constexpr QLatin1String Identification{"Identification "};
inline constexpr QLatin1String ModifyUser{"Modify User "};
inline constexpr QLatin1String ModifyOrAdd{"Modify or Add "};
inline constexpr QLatin1String YourIP{"Your IP "};
inline constexpr QLatin1String About{"About "};
} // namespace WindowPrefix
