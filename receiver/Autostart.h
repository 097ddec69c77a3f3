#pragma once
// The desktop's autostart entry that starts the receiver at login, written from the same
// template as the one installed for every user.

#include <QByteArray>
#include <QString>

namespace Autostart {

// $XDG_CONFIG_HOME/autostart/quorvane-receiver.desktop
QString EntryPath();
// The entry for `program`, which it starts by its full path.
QByteArray EntryText(const QString& program);
// Writes the entry for this program, or removes it; empty when that worked, else why not.
QString Set(bool start);

} // namespace Autostart
