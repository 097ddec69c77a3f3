#pragma once
// "Your IP is...": the address of this machine, to be read out or copied.
//
// Run it modally from its owner: YourIP(parent).exec().

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

class YourIP : public QDialog
{
    Q_OBJECT
public:
    explicit YourIP(QWidget* parent = nullptr);

    QGroupBox* frm = nullptr;
    QLineEdit* youripnumber = nullptr;
    QPushButton* returncmd = nullptr;

    // Every way out (Ok, Escape, the close box) ends here.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void ReturnCmd_Click();

private:
    void buildControls();
    void Form_Load();
    void Form_Unload();

    bool loaded = false;
};
