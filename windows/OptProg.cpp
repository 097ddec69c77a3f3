#include "windows/OptProg.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "app/Validation.h"
#include "windows/MessageBox.h"
#include "windows/WindowPlacement.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString ErrorTitle = QStringLiteral("Error");

bool isDigit(int code)
{
    return code >= '0' && code <= '9';
}

} // namespace

OptProg::OptProg(QWidget* parent) : FormDialog(parent)
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
    for (QLineEdit* box : {Portnb, ipnumber}) {
        box->installEventFilter(this);
        // Dropped text would get past the key filters.
        box->setAcceptDrops(false);
    }
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

    ResetDefault = MakeButton(this, "ResetDefault", QStringLiteral("Reset"));
    LoadOption = MakeButton(this, "LoadOption", QStringLiteral("Load"));
    SaveOption = MakeButton(this, "SaveOption", QStringLiteral("Apply"));
    ReturnCmd = MakeButton(this, "ReturnCmd", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ResetDefault);
    buttons->addWidget(LoadOption);
    buttons->addWidget(SaveOption);
    buttons->addWidget(ReturnCmd);

    auto* window = new QVBoxLayout(this);
    window->addWidget(Frm[1]);
    window->addWidget(Frm[2]);
    window->addLayout(buttons);
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

void OptProg::keyPressEvent(QKeyEvent* event)
{
    // No button answers Enter typed in a box; Enter on a button presses that button.
    if (!PressFocusedButton(this, event))
        QDialog::keyPressEvent(event);
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
    const int code = TypedCharacter(key);
    return code != NoCharacter && code != 8 && !isDigit(code);
}

bool OptProg::ipnumber_KeyPress(const QKeyEvent* key) const
{
    const int code = TypedCharacter(key);
    return code != NoCharacter && code != 8 && code != '.' && !isDigit(code);
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
        ShowMessage(this, QStringLiteral("Invalid port number"), ErrorTitle);
        Portnb->setFocus();
        return;
    }
    Global::DefaultPort = port;
    Global::PopupWhenSend = Popupsend->isChecked();
    Global::MinimizedWhenSend = chkminimizedsend->isChecked();

    // A refused address leaves the port and the two options above in effect.
    QString address;
    if (!IsValidIp(ipnumber->text(), address)) {
        ShowMessage(this, QStringLiteral("Invalid ip address"), ErrorTitle);
        ipnumber->setFocus();
        return;
    }
    Global::DefaultIp = address;
    accept();
}

void OptProg::ReturnCmd_Click()
{
    reject();
}
