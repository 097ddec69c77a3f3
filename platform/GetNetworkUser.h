#pragma once
// Picking a computer of the local network and turning a host name into an IPv4 address.

#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// Shows the computer picker; the chosen or typed name, or nothing when the user cancelled.
// The windows layer installs the real dialog; without one nothing can be picked.
using ComputerPicker = std::function<std::optional<QString>()>;
void SetComputerPicker(ComputerPicker picker);

// True when a computer was picked and its name resolved; `name` is set as soon as one was
// picked, `ip` to its first IPv4 address.
bool BrowseNetworkComputer(QString& ip, QString& name);

// The first IPv4 address of the host, dotted, or "" on any failure. `hostName` receives its
// form without surrounding spaces. The window keeps painting (without taking input) while
// the lookup runs, and shows a busy cursor.
QString ResolveHostName(QString& hostName);

// The lookup behind ResolveHostName: the system resolver, IPv4 only, in its order. Tests
// may put another in its place; an empty function restores the system's.
using HostResolver = std::function<QList<QHostAddress>(const QString& name)>;
void SetHostResolver(HostResolver resolver);
