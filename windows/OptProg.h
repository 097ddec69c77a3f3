#pragma once
// "Options": the default address and port that new correspondents start with, and what
// happens after a message has gone. Apply takes the controls' working copy into memory, and
// every way of closing writes the options in memory to the store.
//
// Run it modally from its owner: OptProg(parent).exec().

#include "windows/DialogSupport.h"

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;

class OptProg : public SettingsDialog
{
    Q_OBJECT
public:
    explicit OptProg(QWidget* parent = nullptr);

    QLineEdit* Portnb = nullptr;
    QLineEdit* ipnumber = nullptr;
    QCheckBox* Popupsend = nullptr;
    // Control arrays addressed from 1; slot 0 stays empty.
    std::array<QGroupBox*, 3> Frm{};
    std::array<QLabel*, 3> lbl{};
    QCheckBox* chkminimizedsend = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void LoadOption_Click();
    void ResetDefault_Click();
    void SaveOption_Click();
    void ReturnCmd_Click();

private:
    void buildControls();
    void Form_Load() override;
    void Form_Unload() override;
    bool Portnb_KeyPress(const QKeyEvent* key) const;
    bool ipnumber_KeyPress(const QKeyEvent* key) const;
    void ShowCurrentOptions();
    void ShowDefaultOptions();
};
