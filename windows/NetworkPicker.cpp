#include "windows/NetworkPicker.h"

#include "platform/GetNetworkUser.h"
#include "platform/NetworkDiscovery.h"
#include "windows/DialogSupport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// Where an entry of the people list keeps what its columns do not show.
constexpr int AddressRole = Qt::UserRole;
constexpr int InstanceRole = Qt::UserRole + 1;
} // namespace

NetworkPicker::NetworkPicker(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("NetworkPicker"));
    setWindowTitle(QStringLiteral("Select a network computer."));

    auto* layout = new QVBoxLayout(this);
    auto* peopleLabel = new QLabel(tr("&People on the local network:"), this);
    people = new QTreeWidget(this);
    people->setObjectName(QStringLiteral("people"));
    people->setHeaderLabels({tr("Name"), tr("Computer"), tr("Port")});
    people->setRootIsDecorated(false);
    people->setMinimumHeight(people->fontMetrics().height() * 6);
    peopleLabel->setBuddy(people);
    people->setAccessibleName(QStringLiteral("People on the local network"));
    auto* listLabel = new QLabel(tr("Computers of the local network:"), this);
    computers = new QListWidget(this);
    computers->setObjectName(QStringLiteral("computers"));
    computers->setMinimumSize(computers->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 24,
                              computers->fontMetrics().height() * 8);
    listLabel->setBuddy(computers);
    // A list takes no name from its label; screen readers need one.
    computers->setAccessibleName(QStringLiteral("Computers of the local network"));
    status = new QLabel(tr("Looking for computers on the local network..."), this);
    status->setObjectName(QStringLiteral("status"));
    status->setWordWrap(true);
    auto* nameLabel = new QLabel(tr("Computer &name:"), this);
    hostName = new QLineEdit(this);
    hostName->setObjectName(QStringLiteral("hostName"));
    nameLabel->setBuddy(hostName);
    ok = MakeButton(this, "ok", QStringLiteral("OK"));
    // Enter in the name box picks the name.
    ok->setDefault(true);
    cancel = MakeButton(this, "cancel", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    layout->addWidget(peopleLabel);
    layout->addWidget(people);
    layout->addWidget(listLabel);
    layout->addWidget(computers);
    layout->addWidget(status);
    layout->addWidget(nameLabel);
    layout->addWidget(hostName);
    layout->addLayout(buttons);

    ok->setEnabled(false);
    connect(hostName, &QLineEdit::textChanged, ok,
            [this](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(computers, &QListWidget::currentTextChanged, this, [this](const QString& name) {
        chosen.reset();
        hostName->setText(name);
    });
    connect(computers, &QListWidget::itemActivated, this, &QDialog::accept);
    // A person is taken as announced; the box shows their computer.
    connect(people, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item)
            return;
        chosen = AnnouncedPerson{
            item->text(0), item->text(1), item->data(0, AddressRole).toString(),
            static_cast<quint16>(item->text(2).toUInt()), item->data(0, InstanceRole).toString()};
        hostName->setText(chosen->computer);
    });
    connect(people, &QTreeWidget::itemActivated, this, &QDialog::accept);
    connect(hostName, &QLineEdit::textEdited, this, [this] {
        chosen.reset();
        people->setCurrentItem(nullptr);
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    discovery = new NetworkDiscovery(this);
    connect(discovery, &NetworkDiscovery::computerFound, this, &NetworkPicker::addComputer);
    connect(discovery, &NetworkDiscovery::personFound, this, &NetworkPicker::addPerson);
    connect(discovery, &NetworkDiscovery::personGone, this, &NetworkPicker::removePerson);
    connect(discovery, &NetworkDiscovery::unavailable, this, &NetworkPicker::discoveryUnavailable);
    discovery->start();
    hostName->setFocus();
}

void NetworkPicker::addPerson(const AnnouncedPerson& person)
{
    auto* item =
        new QTreeWidgetItem(people, {person.name, person.computer, QString::number(person.port)});
    item->setData(0, AddressRole, person.ip);
    item->setData(0, InstanceRole, person.instance);
    for (int column = 0; column < people->columnCount(); ++column)
        people->resizeColumnToContents(column);
}

void NetworkPicker::removePerson(const QString& instance)
{
    for (int row = 0; row < people->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = people->topLevelItem(row);
        if (item->data(0, InstanceRole).toString() != instance)
            continue;
        // The list would make the next person current: no one is chosen who was not.
        const QSignalBlocker quiet(people);
        delete item;
        if (chosen && chosen->instance == instance) {
            chosen.reset();
            people->setCurrentItem(nullptr);
            hostName->clear();
        }
        return;
    }
}

void NetworkPicker::addComputer(const QString& name)
{
    computers->addItem(name);
    status->setText(
        tr("Found %n computer(s); more may still answer.", nullptr, computers->count()));
}

void NetworkPicker::discoveryUnavailable(const QString& reason)
{
    status->setText(tr("Automatic discovery is unavailable (%1). Type the computer's name "
                       "below.")
                        .arg(reason));
    // The longer text may need more lines than the dialog has room for.
    layout()->activate();
    if (height() < heightForWidth(width()))
        resize(width(), heightForWidth(width()));
}

std::optional<NetworkChoice> NetworkPicker::pick(QWidget* owner)
{
    NetworkPicker picker(owner);
    if (picker.exec() != QDialog::Accepted)
        return std::nullopt;
    return NetworkChoice{picker.hostName->text(), picker.chosen};
}

void InstallNetworkPicker(std::function<QWidget*()> owner)
{
    SetComputerPicker([owner = std::move(owner)] { return NetworkPicker::pick(owner()); });
}
