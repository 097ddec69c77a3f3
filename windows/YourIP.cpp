#include "windows/YourIP.h"

#include "app/StoreKeys.h"
#include "windows/WindowPlacement.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

namespace {

// The first IPv4 address of an interface that is up, running and not the loopback one;
// none when the machine has no such interface.
std::optional<QString> LocalIP()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& candidate : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = candidate.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = candidate.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return std::nullopt;
}

} // namespace

YourIP::YourIP(QWidget* parent) : FormDialog(parent)
{
    setObjectName(QStringLiteral("YourIP"));
    setWindowTitle(QStringLiteral("Your IP is..."));
    buildControls();
    connect(returncmd, &QPushButton::clicked, this, &YourIP::ReturnCmd_Click);
    load();
}

void YourIP::buildControls()
{
    frm = new QGroupBox(QStringLiteral("IP"), this);
    frm->setObjectName(QStringLiteral("frm"));
    youripnumber = new QLineEdit(frm);
    youripnumber->setObjectName(QStringLiteral("youripnumber"));
    youripnumber->setReadOnly(true);
    youripnumber->setMinimumWidth(BoxWidthFor(youripnumber, QStringLiteral("000.000.000.000")));
    returncmd = new QPushButton(QStringLiteral("Ok"), frm);
    returncmd->setObjectName(QStringLiteral("returncmd"));
    // Enter closes the window wherever the focus is.
    returncmd->setDefault(true);

    auto* row = new QHBoxLayout(frm);
    row->addWidget(youripnumber, 1);
    row->addWidget(returncmd);

    auto* window = new QVBoxLayout(this);
    window->addWidget(frm);
    window->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(youripnumber, returncmd);
    // Ready to be copied as soon as the window opens.
    youripnumber->setFocus();
}

void YourIP::Form_Load()
{
    layout()->activate();
    RestoreWindowPosition(this, WindowPrefix::YourIP);
    youripnumber->setText(LocalIP().value_or(QHostAddress(QHostAddress::LocalHost).toString()));
    youripnumber->selectAll();
}

void YourIP::Form_Unload()
{
    StoreWindowPosition(this, WindowPrefix::YourIP);
}

void YourIP::ReturnCmd_Click()
{
    accept();
}
