#pragma once
// The main window, "Send Message": its load and unload are the program's start-up and
// shutdown.

#include "windows/ComboRecipientList.h"

#include <QMainWindow>
#include <QStringList>

class QComboBox;

class SendForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit SendForm(QWidget* parent = nullptr);

    // Start-up. False when another copy already runs: that copy has been brought forward
    // and this one must end without being shown.
    bool Form_Load();
    // Shutdown: stores the user table and the window position.
    void Form_Unload();

    QComboBox* Combo1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ComboRecipientList recipients;
    bool loaded = false;

    QStringList History;
    int HistoryPos = 0;
    int HistoryMax = 10;
    bool SentByKey = false;
};
