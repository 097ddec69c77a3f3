#pragma once
// Picking a computer of the local network and turning a host name into an IPv4 address.

#include "platform/NetworkDiscovery.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// What the picker yields: the name of a computer chosen or typed, or a person found on the
// network.
struct NetworkChoice
{
    QString computer;
    std::optional<AnnouncedPerson> person;
};

// Shows the computer picker; what was chosen, or nothing when the user cancelled.
// The windows layer installs the real dialog; without one nothing can be picked.
using ComputerPicker = std::function<std::optional<NetworkChoice>()>;
void SetComputerPicker(ComputerPicker picker);

// True when a computer was picked and its name resolved; `name` is set as soon as one was
// picked, `ip` to its first IPv4 address. For a person, `name` is the name announced, `ip`
// and `port` where the person's receiver answers; for a computer `port` stays empty.
bool BrowseNetworkComputer(QString& ip, QString& name, std::optional<std::int32_t>& port);
bool BrowseNetworkComputer(QString& ip, QString& name);

// The first IPv4 address of the host, dotted, or "" on any failure. `hostName` receives its
// form without surrounding spaces. The window keeps painting (without taking input) while
// the lookup runs, and shows a busy cursor.
QString ResolveHostName(QString& hostName);

// The lookup behind ResolveHostName: the system resolver, IPv4 only, in its order. Tests
// may put another in its place; an empty function restores the system's.
using HostResolver = std::function<QList<QHostAddress>(const QString& name)>;
void SetHostResolver(HostResolver resolver);
