#include "windows/OptProg.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "app/Validation.h"
#include "windows/WindowPlacement.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

OptProg::OptProg(QWidget* parent) : SettingsDialog(parent)
{
    setObjectName(QStringLiteral("OptProg"));
    setWindowTitle(QStringLiteral("Options"));
    buildControls();

    connect(LoadOption, &QPushButton::clicked, this, &OptProg::LoadOption_Click);
    connect(ResetDefault, &QPushButton::clicked, this, &OptProg::ResetDefault_Click);
    connect(SaveOption, &QPushButton::clicked, this, &OptProg::SaveOption_Click);
    connect(ReturnCmd, &QPushButton::clicked, this, &OptProg::ReturnCmd_Click);

    load();
}

void OptProg::buildControls()
{
    Frm[1] = new QGroupBox(QStringLiteral("Network option"), this);
    Frm[1]->setObjectName(QStringLiteral("Frm1"));
    lbl[1] = new QLabel(QStringLiteral("Default port :"), Frm[1]);
    lbl[1]->setObjectName(QStringLiteral("lbl1"));
    Portnb = new QLineEdit(Frm[1]);
    Portnb->setObjectName(QStringLiteral("Portnb"));
    Portnb->setMaxLength(5);
    lbl[2] = new QLabel(QStringLiteral("Default IP:"), Frm[1]);
    lbl[2]->setObjectName(QStringLiteral("lbl2"));
    ipnumber = new QLineEdit(Frm[1]);
    ipnumber->setObjectName(QStringLiteral("ipnumber"));
    ipnumber->setMaxLength(15);
    filterKeys(Portnb);
    filterKeys(ipnumber);
    // Screen readers name each box by its label, not by the frame's title.
    lbl[1]->setBuddy(Portnb);
    lbl[2]->setBuddy(ipnumber);
    Portnb->setFixedWidth(BoxWidthFor(Portnb, QStringLiteral("00000")));
    ipnumber->setFixedWidth(BoxWidthFor(ipnumber, QStringLiteral("000.000.000.000")));

    auto* network = new QGridLayout(Frm[1]);
    network->addWidget(lbl[1], 0, 0);
    network->addWidget(Portnb, 0, 1, Qt::AlignLeft);
    network->addWidget(lbl[2], 1, 0);
    network->addWidget(ipnumber, 1, 1, Qt::AlignLeft);
    network->setColumnStretch(1, 1);

    Frm[2] = new QGroupBox(QStringLiteral("Miscellaneous"), this);
    Frm[2]->setObjectName(QStringLiteral("Frm2"));
    Popupsend = new QCheckBox(QStringLiteral("Pop-up when message is sent"), Frm[2]);
    Popupsend->setObjectName(QStringLiteral("Popupsend"));
    chkminimizedsend = new QCheckBox(QStringLiteral("Minimized when message is sent"), Frm[2]);
    chkminimizedsend->setObjectName(QStringLiteral("chkminimizedsend"));
    auto* miscellaneous = new QVBoxLayout(Frm[2]);
    miscellaneous->addWidget(Popupsend);
    miscellaneous->addWidget(chkminimizedsend);

    auto* window = new QVBoxLayout(this);
    window->addWidget(Frm[1]);
    window->addWidget(Frm[2]);
    window->addLayout(buttonRow());
    window->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(ReturnCmd, Portnb);
    setTabOrder(Portnb, ipnumber);
    setTabOrder(ipnumber, Popupsend);
    setTabOrder(Popupsend, ResetDefault);
    setTabOrder(ResetDefault, LoadOption);
    setTabOrder(LoadOption, SaveOption);
    setTabOrder(SaveOption, chkminimizedsend);
    ReturnCmd->setFocus();
}

void OptProg::Form_Load()
{
    ShowCurrentOptions();
    layout()->activate();
    RestoreWindowPosition(this, WindowPrefix::OptProg);
}

void OptProg::Form_Unload()
{
    SaveOptions();
    StoreWindowPosition(this, WindowPrefix::OptProg);
}

bool OptProg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (watched == Portnb)
            return Portnb_KeyPress(key);
        if (watched == ipnumber)
            return ipnumber_KeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

// True when the key is discarded.
bool OptProg::Portnb_KeyPress(const QKeyEvent* key) const
{
    return DiscardedByDigitFilter(key);
}

bool OptProg::ipnumber_KeyPress(const QKeyEvent* key) const
{
    return DiscardedByDigitFilter(key, '.');
}

void OptProg::ShowCurrentOptions()
{
    ipnumber->setText(Global::DefaultIp);
    Portnb->setText(IntegerText(Global::DefaultPort));
    chkminimizedsend->setChecked(Global::MinimizedWhenSend);
    Popupsend->setChecked(Global::PopupWhenSend);
}

void OptProg::ShowDefaultOptions()
{
    ipnumber->setText(Stored::DefaultIp.defaultValue);
    Portnb->setText(IntegerText(Stored::DefaultPort.defaultValue));
    Popupsend->setChecked(Stored::PopupWhenSend.defaultValue);
    chkminimizedsend->setChecked(Stored::MinimizedWhenSend.defaultValue);
}

void OptProg::LoadOption_Click()
{
    ShowCurrentOptions();
}

void OptProg::ResetDefault_Click()
{
    ShowDefaultOptions();
}

void OptProg::SaveOption_Click()
{
    std::int32_t port = 0;
    if (!IsValidPort(Portnb->text(), port)) {
        refuse(Portnb, QStringLiteral("Invalid port number"));
        return;
    }
    Global::DefaultPort = port;
    Global::PopupWhenSend = Popupsend->isChecked();
    Global::MinimizedWhenSend = chkminimizedsend->isChecked();

    // A refused address leaves the port and the two options above in effect.
    QString address;
    if (!IsValidIp(ipnumber->text(), address)) {
        refuse(ipnumber, QStringLiteral("Invalid ip address"));
        return;
    }
    Global::DefaultIp = address;
    accept();
}

void OptProg::ReturnCmd_Click()
{
    reject();
}
