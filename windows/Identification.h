#pragma once
// "Identification": the user's own name and reply port, which go out with every message.
// Works like the Options window: the controls hold a working copy, Apply takes it into
// memory, and every way of closing writes the identification in memory to the store.
//
// Run it modally from its owner: Identification(parent).exec().

#include "windows/DialogSupport.h"

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;

class Identification : public SettingsDialog
{
    Q_OBJECT
public:
    explicit Identification(QWidget* parent = nullptr);

    // Control arrays addressed from 1; slot 0 stays empty.
    std::array<QGroupBox*, 2> frm{};
    std::array<QLabel*, 3> lbl{};
    QLineEdit* txtmyident = nullptr;
    QLineEdit* txtmyportnb = nullptr;

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
    bool txtmyportnb_KeyPress(const QKeyEvent* key) const;
    void ShowCurrentIdentification();
    void ShowDefaultIdentification();
};
