#pragma once
// What the dialog windows have in common: opening and closing through Form_Load and
// Form_Unload, the button pattern of the windows that edit settings, how wide a box must be
// for its text, their buttons, and how their key filters read a key press.

#include <QDialog>

class QHBoxLayout;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QShowEvent;

// A dialog whose Form_Load runs when it opens and whose Form_Unload runs once when it
// closes, however it is closed.
class FormDialog : public QDialog
{
    Q_OBJECT
public:
    // Every way out (the window's buttons, Escape, the close box) ends here.
    void done(int result) override;

protected:
    // What showing the same object again after it was closed does: open it afresh
    // (Form_Load again, and Form_Unload at the next close), or leave it as it was closed.
    enum class Reopening { Afresh, AsClosed };

    explicit FormDialog(QWidget* parent, Reopening whenReopened = Reopening::Afresh);

    // Runs Form_Load. Each window calls it at the end of its own constructor, once its
    // controls exist: this constructor runs too early to reach the window's Form_Load.
    void load();
    virtual void Form_Load() = 0;
    virtual void Form_Unload() = 0;

    void showEvent(QShowEvent* event) override;

private:
    const Reopening reopening;
    bool loaded = false;
};

// The Options and Identification windows: the controls hold a working copy of settings in
// memory, under the buttons Reset (the built-in defaults), Load (the values in memory),
// Apply and Cancel. Enter typed in a box presses none of them; Enter on a button presses
// that button. Each window connects the buttons to its own handlers.
class SettingsDialog : public FormDialog
{
    Q_OBJECT
public:
    QPushButton* ResetDefault = nullptr;
    QPushButton* LoadOption = nullptr;
    QPushButton* SaveOption = nullptr;
    QPushButton* ReturnCmd = nullptr;

protected:
    explicit SettingsDialog(QWidget* parent);

    // The four buttons, made on first call, in a row in the order above.
    QHBoxLayout* buttonRow();
    // A box whose key filter is this window's: dropped text would get past the filter.
    void filterKeys(QLineEdit* box);
    // Refuses a field: says why in an "Error" box and puts the focus back on the field.
    void refuse(QWidget* field, const QString& text);

    void keyPressEvent(QKeyEvent* event) override;
};

// What TypedCharacter gives for a key that types nothing.
inline constexpr int NoCharacter = -1;
// What TypedCharacter gives for Backspace, which every key filter lets through.
inline constexpr int BackspaceCharacter = 8;

// The character code a key press types into a box, as a key filter sees it: Ctrl with a
// key gives a control code (Ctrl+A to Ctrl+Z 1 to 26), Backspace 8, Enter 13. Keys that
// type nothing (arrows, Delete, function keys, and Tab and Escape, which belong to the
// dialog) give NoCharacter.
int TypedCharacter(const QKeyEvent* key);

// The key filter of a box for digits: true when the key is discarded, that is when it types
// anything but a digit, Backspace or `alsoAllowed` (0 for none).
bool DiscardedByDigitFilter(const QKeyEvent* key, char alsoAllowed = 0);

// Wide enough to show `sample` in the box's own font, frame and margins included (a box
// drawn without a frame counts none).
int BoxWidthFor(const QLineEdit* box, const QString& sample);

// A named button of `parent` with autoDefault off: taking the focus does not make it the
// button that Enter typed elsewhere in the window presses.
QPushButton* MakeButton(QWidget* parent, const char* objectName, const QString& caption);

// Enter (either key) on a focused push button presses it; true when it did. Lets a window
// without a default button still answer Enter on its buttons.
bool PressFocusedButton(const QWidget* window, const QKeyEvent* key);
