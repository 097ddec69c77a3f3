#include "windows/NetworkPicker.h"

#include "app/Global.h"
#include "platform/GetNetworkUser.h"
#include "platform/NetworkDiscovery.h"
#include "windows/DialogSupport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

NetworkPicker::NetworkPicker(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("NetworkPicker"));
    setWindowTitle(QStringLiteral("Select a network computer."));

    auto* layout = new QVBoxLayout(this);
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

    layout->addWidget(listLabel);
    layout->addWidget(computers);
    layout->addWidget(status);
    layout->addWidget(nameLabel);
    layout->addWidget(hostName);
    layout->addLayout(buttons);

    ok->setEnabled(false);
    connect(hostName, &QLineEdit::textChanged, ok,
            [this](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(computers, &QListWidget::currentTextChanged, hostName, &QLineEdit::setText);
    connect(computers, &QListWidget::itemActivated, this, &QDialog::accept);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    discovery = new NetworkDiscovery(this);
    connect(discovery, &NetworkDiscovery::computerFound, this, &NetworkPicker::addComputer);
    connect(discovery, &NetworkDiscovery::unavailable, this, &NetworkPicker::discoveryUnavailable);
    discovery->start();
    hostName->setFocus();
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

std::optional<QString> NetworkPicker::pick(QWidget* owner)
{
    NetworkPicker picker(owner);
    if (picker.exec() != QDialog::Accepted)
        return std::nullopt;
    return picker.hostName->text();
}

void InstallNetworkPicker()
{
    SetComputerPicker(
        [] { return NetworkPicker::pick(static_cast<QWidget*>(Global::MainWindowHandle)); });
}
