#include "windows/Identification.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "app/StoreKeys.h"
#include "app/Validation.h"
#include "windows/MessageBox.h"
#include "windows/WindowPlacement.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

namespace {

const QString ErrorTitle = QStringLiteral("Error");
constexpr int NoCharacter = -1;

// The character code a key press types into a box, as a key filter sees it: Ctrl with a
// key gives a control code, Backspace 8, Enter 13. Keys that type nothing (arrows, Delete,
// function keys, and Tab and Escape, which belong to the dialog) give NoCharacter.
int typedCharacter(const QKeyEvent* key)
{
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        return NoCharacter;
    case Qt::Key_Backspace:
        return modifiers & Qt::ControlModifier ? 127 : 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    default:
        break;
    }
    // Ctrl+Alt is AltGr on some keyboards, which types ordinary characters.
    const bool control = (modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier);
    if (control)
        return key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z ? key->key() - Qt::Key_A + 1 : 0;
    const QString text = key->text();
    return text.isEmpty() ? NoCharacter : text.at(0).unicode();
}

// Wide enough to show `sample` in the box's own font, frame and margins included.
int boxWidthFor(const QLineEdit* box, const QString& sample)
{
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    const QMargins margins = box->textMargins();
    // 4: the box's own margin on each side of the text, and room for the caret.
    const int text =
        box->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 4 + 1;
    return box->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, box->sizeHint().height()), box)
        .width();
}

} // namespace

Identification::Identification(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Identification"));
    setWindowTitle(QStringLiteral("Identification"));
    buildControls();

    connect(LoadOption, &QPushButton::clicked, this, &Identification::LoadOption_Click);
    connect(ResetDefault, &QPushButton::clicked, this, &Identification::ResetDefault_Click);
    connect(SaveOption, &QPushButton::clicked, this, &Identification::SaveOption_Click);
    connect(ReturnCmd, &QPushButton::clicked, this, &Identification::ReturnCmd_Click);

    Form_Load();
}

void Identification::buildControls()
{
    auto makeButton = [this](const char* name, const QString& caption) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QLatin1String(name));
        // No button answers Enter typed in a box; Enter on a button presses that button.
        button->setAutoDefault(false);
        return button;
    };

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
    txtmyportnb->installEventFilter(this);
    // Dropped text would get past the key filter.
    txtmyportnb->setAcceptDrops(false);
    txtmyportnb->setFixedWidth(boxWidthFor(txtmyportnb, QStringLiteral("0000000")));

    auto* identity = new QVBoxLayout(frm[1]);
    identity->addWidget(lbl[1]);
    identity->addWidget(txtmyident);
    identity->addSpacing(fontMetrics().height() / 2);
    identity->addWidget(lbl[2]);
    identity->addWidget(txtmyportnb, 0, Qt::AlignLeft);

    ResetDefault = makeButton("ResetDefault", QStringLiteral("Reset"));
    LoadOption = makeButton("LoadOption", QStringLiteral("Load"));
    SaveOption = makeButton("SaveOption", QStringLiteral("Apply"));
    ReturnCmd = makeButton("ReturnCmd", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ResetDefault);
    buttons->addWidget(LoadOption);
    buttons->addWidget(SaveOption);
    buttons->addWidget(ReturnCmd);

    auto* window = new QVBoxLayout(this);
    window->addWidget(frm[1]);
    window->addLayout(buttons);
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
    loaded = true;
}

void Identification::Form_Unload()
{
    SaveIdentification();
    StoreWindowPosition(this, WindowPrefix::Identification);
    loaded = false;
}

void Identification::showEvent(QShowEvent* event)
{
    // Shown again after closing: a new opening starts from memory and the stored place.
    if (!event->spontaneous() && !loaded)
        Form_Load();
    QDialog::showEvent(event);
}

void Identification::done(int result)
{
    if (loaded)
        Form_Unload();
    QDialog::done(result);
}

void Identification::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
    }
    QDialog::keyPressEvent(event);
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
    const int code = typedCharacter(key);
    return code != NoCharacter && code != 8 && !(code >= '0' && code <= '9');
}

void Identification::ShowCurrentIdentification()
{
    txtmyident->setText(Global::MyUsername);
    txtmyportnb->setText(IntegerText(Global::MyPortnb));
}

void Identification::ShowDefaultIdentification()
{
    txtmyident->setText(QStringLiteral("Me"));
    txtmyportnb->setText(QStringLiteral("505"));
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
        ShowMessage(this,
                    QStringLiteral("Invalid User Name (lenght must be between 1 and %1)")
                        .arg(Global::MaxUserNameLength),
                    ErrorTitle);
        txtmyident->setFocus();
        return;
    }
    Global::MyUsername = name;

    // A refused port leaves the name above in effect.
    std::int32_t port = 0;
    if (!IsValidPort(txtmyportnb->text(), port)) {
        ShowMessage(this, QStringLiteral("Invalid port number"), ErrorTitle);
        txtmyportnb->setFocus();
        return;
    }
    Global::MyPortnb = port;
    accept();
}

void Identification::ReturnCmd_Click()
{
    reject();
}
