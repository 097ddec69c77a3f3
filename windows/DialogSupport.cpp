#include "windows/DialogSupport.h"

#include "windows/MessageBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFrame>

FormDialog::FormDialog(QWidget* parent, Reopening whenReopened)
    : QDialog(parent), reopening(whenReopened)
{
}

void FormDialog::load()
{
    // A window whose layout fixes its size offers no maximize button: the flags say so
    // explicitly, for window managers that would otherwise add one to any dialog.
    if (layout() && layout()->sizeConstraint() == QLayout::SetFixedSize &&
        !windowFlags().testFlag(Qt::CustomizeWindowHint))
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    Form_Load();
    loaded = true;
}

void FormDialog::showEvent(QShowEvent* event)
{
    // Shown again after closing: the new opening loads the window afresh.
    if (reopening == Reopening::Afresh && !event->spontaneous() && !loaded)
        load();
    QDialog::showEvent(event);
}

void FormDialog::done(int result)
{
    if (loaded) {
        loaded = false;
        Form_Unload();
    }
    QDialog::done(result);
}

SettingsDialog::SettingsDialog(QWidget* parent) : FormDialog(parent) {}

QHBoxLayout* SettingsDialog::buttonRow()
{
    ResetDefault = MakeButton(this, "ResetDefault", QStringLiteral("Reset"));
    LoadOption = MakeButton(this, "LoadOption", QStringLiteral("Load"));
    SaveOption = MakeButton(this, "SaveOption", QStringLiteral("Apply"));
    ReturnCmd = MakeButton(this, "ReturnCmd", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {ResetDefault, LoadOption, SaveOption, ReturnCmd})
        buttons->addWidget(button);
    return buttons;
}

void SettingsDialog::filterKeys(QLineEdit* box)
{
    box->installEventFilter(this);
    box->setAcceptDrops(false);
}

void SettingsDialog::refuse(QWidget* field, const QString& text)
{
    ShowMessage(this, text, QStringLiteral("Error"));
    field->setFocus();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event)
{
    if (!PressFocusedButton(this, event))
        QDialog::keyPressEvent(event);
}

int TypedCharacter(const QKeyEvent* key)
{
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        return NoCharacter;
    case Qt::Key_Backspace:
        return modifiers & Qt::ControlModifier ? 127 : BackspaceCharacter;
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

bool DiscardedByDigitFilter(const QKeyEvent* key, char alsoAllowed)
{
    const int code = TypedCharacter(key);
    const bool digit = code >= '0' && code <= '9';
    return code != NoCharacter && code != BackspaceCharacter && !digit &&
           !(alsoAllowed != 0 && code == alsoAllowed);
}

int BoxWidthFor(const QLineEdit* box, const QString& sample)
{
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth =
        box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box) : 0;
    const QMargins margins = box->textMargins();
    // 4: the box's own margin on each side of the text, and room for the caret.
    const int text =
        box->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 4 + 1;
    return box->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, box->sizeHint().height()), box)
        .width();
}

QPushButton* MakeButton(QWidget* parent, const char* objectName, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setAutoDefault(false);
    return button;
}

bool PressFocusedButton(const QWidget* window, const QKeyEvent* key)
{
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    auto* button = qobject_cast<QPushButton*>(window->focusWidget());
    if (!button)
        return false;
    button->click();
    return true;
}
