#pragma once
// "Your IP is...": the address of this machine, to be read out or copied.
//
// Run it modally from its owner: YourIP(parent).exec().

#include "windows/DialogSupport.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

class YourIP : public FormDialog
{
    Q_OBJECT
public:
    explicit YourIP(QWidget* parent = nullptr);

    QGroupBox* frm = nullptr;
    QLineEdit* youripnumber = nullptr;
    QPushButton* returncmd = nullptr;

private slots:
    void ReturnCmd_Click();

private:
    void buildControls();
    void Form_Load() override;
    void Form_Unload() override;
};
