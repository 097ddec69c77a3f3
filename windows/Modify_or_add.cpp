#include "windows/Modify_or_add.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "app/Validation.h"
#include "platform/GetNetworkUser.h"
#include "windows/MessageBox.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString ErrorTitle = QStringLiteral("Error");

QString nameMessage()
{
    return QStringLiteral("Invalid User Name (lenght must be between 1 and ") +
           QString::number(Global::MaxUserNameLength) + QStringLiteral(")");
}

// Keys that move the caret or delete produce no character; they always pass.
bool isEditingKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

// The character filter of the address and port boxes.
bool discardCharacter(QKeyEvent* key, bool allowDot)
{
    if (isEditingKey(key->key()))
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    const QString text = key->text();
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && !(allowDot && c == QLatin1Char('.')))
            return true;
    }
    return false;
}

} // namespace

Modify_or_add::Modify_or_add(const UserRows& rows, QWidget* parent)
    : FormDialog(parent, Reopening::AsClosed), list(rows)
{
    setObjectName(QStringLiteral("Modify_or_add"));
    setWindowTitle(QStringLiteral("User"));
    buildControls();
    load();
}

void Modify_or_add::buildControls()
{
    const char* captions[] = {"Name", "IP number", "Port"};
    for (int i = 0; i < 3; ++i) {
        lbl[i] = new QLabel(QString::fromLatin1(captions[i]), this);
        lbl[i]->setObjectName(QStringLiteral("lbl%1").arg(i));
    }
    username = new QLineEdit(this);
    username->setObjectName(QStringLiteral("username"));
    userip = new QLineEdit(this);
    userip->setObjectName(QStringLiteral("userip"));
    userip->setMaxLength(15);
    userport = new QLineEdit(this);
    userport->setObjectName(QStringLiteral("userport"));
    userport->setMaxLength(5);
    for (QLineEdit* box : {userip, userport}) {
        // Only typed keys, and the whole-field clipboard keys, may change these boxes.
        box->installEventFilter(this);
        box->setContextMenuPolicy(Qt::NoContextMenu);
        box->setAcceptDrops(false);
    }
    lbl[0]->setBuddy(username);
    lbl[1]->setBuddy(userip);
    lbl[2]->setBuddy(userport);
    // The address box holds a whole address; the port box is to it as their design widths
    // in twips, 855 to 1335, which leaves room for five digits.
    userip->setFixedWidth(BoxWidthFor(userip, QStringLiteral("000.000.000.000")));
    userport->setFixedWidth(userip->width() * 855 / 1335);
    username->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 20);

    // Neither Enter nor Escape presses a button here: none is the default, none becomes it.
    cmdAddNetworkUser = MakeButton(this, "cmdAddNetworkUser", QStringLiteral("Add Network User"));
    oksave = MakeButton(this, "oksave", QStringLiteral("Save"));
    cancelsave = MakeButton(this, "cancelsave", QStringLiteral("Cancel"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(lbl[0], 0, 0);
    grid->addWidget(lbl[1], 0, 1);
    grid->addWidget(lbl[2], 0, 2, 1, 2);
    grid->addWidget(username, 1, 0);
    grid->addWidget(userip, 1, 1, Qt::AlignLeft);
    grid->addWidget(userport, 1, 2, 1, 2, Qt::AlignLeft);
    grid->addWidget(cmdAddNetworkUser, 2, 0);
    grid->addWidget(oksave, 2, 2);
    grid->addWidget(cancelsave, 2, 3);
    grid->setColumnStretch(0, 1);

    setTabOrder(cancelsave, username);
    setTabOrder(username, userip);
    setTabOrder(userip, userport);
    setTabOrder(userport, oksave);
    setTabOrder(oksave, cmdAddNetworkUser);

    connect(oksave, &QPushButton::clicked, this, &Modify_or_add::oksave_Click);
    connect(cancelsave, &QPushButton::clicked, this, &Modify_or_add::cancelsave_Click);
    connect(cmdAddNetworkUser, &QPushButton::clicked, this,
            &Modify_or_add::cmdAddNetworkUser_Click);
}

void Modify_or_add::Form_Load()
{
    username->setMaxLength(Global::MaxUserNameLength);
    openedName = Global::EditedUser.name;
    username->setText(Global::EditedUser.name);
    userip->setText(Global::EditedUser.ip);
    userport->setText(IntegerText(Global::EditedUser.port));
    if (Global::EditedUser.name == Stored::DefaultUserName) {
        // The localhost entry keeps its name and address; only its port may change.
        username->setEnabled(false);
        userip->setEnabled(false);
    }
    resize(sizeHint());
    RestoreWindowPosition(this, WindowPrefix::ModifyOrAdd);
    cancelsave->setFocus();
}

void Modify_or_add::Form_Unload()
{
    StoreWindowPosition(this, WindowPrefix::ModifyOrAdd);
}

void Modify_or_add::keyPressEvent(QKeyEvent* event)
{
    // No cancel button: Escape does not close the dialog.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool Modify_or_add::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == userip)
            return userip_KeyPress(key);
        if (watched == userport)
            return userport_KeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

bool Modify_or_add::userip_KeyPress(QKeyEvent* key)
{
    return HandleClipboardKeys(userip, key) || discardCharacter(key, true);
}

bool Modify_or_add::userport_KeyPress(QKeyEvent* key)
{
    return HandleClipboardKeys(userport, key) || discardCharacter(key, false);
}

bool Modify_or_add::HandleClipboardKeys(QLineEdit* box, QKeyEvent* key)
{
    const Qt::KeyboardModifiers shift = key->modifiers() & ~Qt::KeypadModifier;
    if (shift != Qt::ControlModifier)
        return false;
    if (key->key() == Qt::Key_V) {
        // The whole field, unfiltered; the box's limit cuts it.
        box->setText(QApplication::clipboard()->text());
        return true;
    }
    if (key->key() == Qt::Key_C) {
        QApplication::clipboard()->setText(box->text());
        return true;
    }
    return false;
}

void Modify_or_add::fail(const QString& message, QLineEdit* focus)
{
    ShowMessage(this, message, ErrorTitle);
    if (focus->isEnabled())
        focus->setFocus();
}

void Modify_or_add::oksave_Click()
{
    QString name;
    if (!IsValidUserName(username->text(), name))
        return fail(nameMessage(), username);
    QString ip;
    if (!IsValidIp(userip->text(), ip))
        return fail(QStringLiteral("Invalid ip address"), userip);
    if (name != openedName && IsUserInList(list, name, ip))
        return fail(QStringLiteral("User Name and IP already in Use"), username);
    std::int32_t port = 0;
    if (!IsValidPort(userport->text(), port))
        return fail(QStringLiteral("Invalid port number"), userport);

    Global::EditedUser.name = name;
    Global::EditedUser.ip = ip;
    Global::EditCancelled = false;
    Global::EditedUser.port = port;
    accept();
}

void Modify_or_add::cancelsave_Click()
{
    Global::EditCancelled = true;
    reject();
}

void Modify_or_add::cmdAddNetworkUser_Click()
{
    QString ip;
    QString name;
    // A person found on the network comes with the port their receiver announced.
    std::optional<std::int32_t> port;
    if (!BrowseNetworkComputer(ip, name, port)) {
        ShowMessage(this, QStringLiteral("Unable to Browse the network"), ErrorTitle);
        return;
    }
    username->setText(name.left(username->maxLength()));
    userip->setText(ip);
    userport->setText(IntegerText(port.value_or(Global::DefaultPort)));
}
