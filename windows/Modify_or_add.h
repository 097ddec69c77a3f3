#pragma once
// "User": edits one correspondent handed over in EditedUser; the outcome goes back through
// EditedUser and EditCancelled.

#include "windows/DialogSupport.h"

class QLabel;
class QLineEdit;
class QPushButton;
class UserRows;

class Modify_or_add : public FormDialog
{
    Q_OBJECT
public:
    // `list` is the user list beneath, for the duplicate check.
    Modify_or_add(const UserRows& rows, QWidget* parent = nullptr);

    QLabel* lbl[3] = {};
    QLineEdit* username = nullptr;
    QLineEdit* userip = nullptr;
    QLineEdit* userport = nullptr;
    QPushButton* cmdAddNetworkUser = nullptr;
    QPushButton* oksave = nullptr;
    QPushButton* cancelsave = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void oksave_Click();
    void cancelsave_Click();
    void cmdAddNetworkUser_Click();

private:
    void buildControls();
    void Form_Load() override;
    void Form_Unload() override;
    // True when the key was dealt with (and must not reach the box).
    bool userip_KeyPress(QKeyEvent* key);
    bool userport_KeyPress(QKeyEvent* key);
    bool HandleClipboardKeys(QLineEdit* box, QKeyEvent* key);
    void fail(const QString& message, QLineEdit* focus);

    const UserRows& list;
    QString openedName;
};
