#pragma once
// "Select a network computer.": the people and the computers of the local network that
// announce themselves, filling in as answers arrive, and a box to type a host name.

#include "platform/GetNetworkUser.h"

#include <QDialog>
#include <functional>
#include <optional>

class QPushButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QTreeWidget;
class NetworkDiscovery;

class NetworkPicker : public QDialog
{
    Q_OBJECT
public:
    explicit NetworkPicker(QWidget* owner);

    // The chosen person or the chosen or typed name, or nothing when the user cancelled.
    static std::optional<NetworkChoice> pick(QWidget* owner);

    QTreeWidget* people = nullptr; // name, computer, port
    QListWidget* computers = nullptr;
    QLineEdit* hostName = nullptr;
    QLabel* status = nullptr;
    // Plain buttons like every other dialog's: a button box would add the style's icons.
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;

private:
    void addPerson(const AnnouncedPerson& person);
    void removePerson(const QString& instance);
    void addComputer(const QString& name);
    void discoveryUnavailable(const QString& reason);

    NetworkDiscovery* discovery = nullptr;
    // Until the name box is edited or a computer chosen.
    std::optional<AnnouncedPerson> chosen;
};

// Makes BrowseNetworkComputer show this dialog, owned by the main window.
void InstallNetworkPicker(std::function<QWidget*()> owner);
