#include "windows/Identification.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "app/Validation.h"
#include "windows/WindowPlacement.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

Identification::Identification(QWidget* parent) : SettingsDialog(parent)
{
    setObjectName(QStringLiteral("Identification"));
    setWindowTitle(QStringLiteral("Identification"));
    buildControls();

    connect(LoadOption, &QPushButton::clicked, this, &Identification::LoadOption_Click);
    connect(ResetDefault, &QPushButton::clicked, this, &Identification::ResetDefault_Click);
    connect(SaveOption, &QPushButton::clicked, this, &Identification::SaveOption_Click);
    connect(ReturnCmd, &QPushButton::clicked, this, &Identification::ReturnCmd_Click);

    load();
}

void Identification::buildControls()
{
    frm[1] = new QGroupBox(QStringLiteral("User identification"), this);
    frm[1]->setObjectName(QStringLiteral("frm1"));
    lbl[1] = new QLabel(QStringLiteral("User name:"), frm[1]);
    lbl[1]->setObjectName(QStringLiteral("lbl1"));
    txtmyident = new QLineEdit(frm[1]);
    txtmyident->setObjectName(QStringLiteral("txtmyident"));
    lbl[2] = new QLabel(QStringLiteral("User reply port:"), frm[1]);
    lbl[2]->setObjectName(QStringLiteral("lbl2"));
    txtmyportnb = new QLineEdit(frm[1]);
    txtmyportnb->setObjectName(QStringLiteral("txtmyportnb"));
    txtmyportnb->setMaxLength(5);
    filterKeys(txtmyportnb);
    // Screen readers name each box by its label, not by the frame's title.
    lbl[1]->setBuddy(txtmyident);
    lbl[2]->setBuddy(txtmyportnb);
    txtmyportnb->setFixedWidth(BoxWidthFor(txtmyportnb, QStringLiteral("0000000")));

    auto* identity = new QVBoxLayout(frm[1]);
    identity->addWidget(lbl[1]);
    identity->addWidget(txtmyident);
    identity->addSpacing(fontMetrics().height() / 2);
    identity->addWidget(lbl[2]);
    identity->addWidget(txtmyportnb, 0, Qt::AlignLeft);

    auto* window = new QVBoxLayout(this);
    window->addWidget(frm[1]);
    window->addLayout(buttonRow());
    window->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(txtmyident, txtmyportnb);
    setTabOrder(txtmyportnb, LoadOption);
    setTabOrder(LoadOption, SaveOption);
    setTabOrder(SaveOption, ResetDefault);
    setTabOrder(ResetDefault, ReturnCmd);
    txtmyident->setFocus();
}

void Identification::Form_Load()
{
    txtmyident->setMaxLength(Global::MaxUserNameLength);
    ShowCurrentIdentification();
    layout()->activate();
    RestoreWindowPosition(this, WindowPrefix::Identification);
}

void Identification::Form_Unload()
{
    SaveIdentification();
    StoreWindowPosition(this, WindowPrefix::Identification);
}

bool Identification::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtmyportnb && event->type() == QEvent::KeyPress)
        return txtmyportnb_KeyPress(static_cast<const QKeyEvent*>(event));
    return QDialog::eventFilter(watched, event);
}

// True when the key is discarded.
bool Identification::txtmyportnb_KeyPress(const QKeyEvent* key) const
{
    return DiscardedByDigitFilter(key);
}

void Identification::ShowCurrentIdentification()
{
    txtmyident->setText(Global::MyUsername);
    txtmyportnb->setText(IntegerText(Global::MyPortnb));
}

void Identification::ShowDefaultIdentification()
{
    txtmyident->setText(Stored::MyUsername.defaultValue);
    txtmyportnb->setText(IntegerText(Stored::MyPortnb.defaultValue));
}

void Identification::LoadOption_Click()
{
    ShowCurrentIdentification();
}

void Identification::ResetDefault_Click()
{
    ShowDefaultIdentification();
}

void Identification::SaveOption_Click()
{
    QString name;
    if (!IsValidUserName(txtmyident->text(), name)) {
        refuse(txtmyident, QStringLiteral("Invalid User Name (lenght must be between 1 and %1)")
                               .arg(Global::MaxUserNameLength));
        return;
    }
    Global::MyUsername = name;

    // A refused port leaves the name above in effect.
    std::int32_t port = 0;
    if (!IsValidPort(txtmyportnb->text(), port)) {
        refuse(txtmyportnb, QStringLiteral("Invalid port number"));
        return;
    }
    Global::MyPortnb = port;
    accept();
}

void Identification::ReturnCmd_Click()
{
    reject();
}
