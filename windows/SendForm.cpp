#include "windows/SendForm.h"

#include "app/Global.h"
#include "app/Settings.h"
#include "app/StoreKeys.h"
#include "app/UserStore.h"
#include "platform/SetActiveWnd.h"
#include "platform/SingleInstance.h"
#include "windows/WindowPlacement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QVBoxLayout>

namespace {
const QString MainCaption = QStringLiteral("Send Message");
// Taken by a second copy so that looking for the running copy cannot find itself.
const QString ThrowAwayCaption = QStringLiteral("ha shit");
} // namespace

SendForm::SendForm(QWidget* parent) : QMainWindow(parent), recipients(nullptr)
{
    setObjectName(QStringLiteral("SendForm"));
    setWindowTitle(MainCaption);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    Combo1 = new QComboBox(central);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    // Measuring every line at first show is slow for long lists.
    Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo1->setMinimumContentsLength(24);
    layout->addWidget(Combo1);
    layout->addStretch();
    setCentralWidget(central);
    recipients = ComboRecipientList(Combo1);
    resize(sizeHint());
}

bool SendForm::Form_Load()
{
    if (PrevInstance()) {
        const QString caption = windowTitle();
        setWindowTitle(ThrowAwayCaption);
        ForceForeground(FindWindowByCaption(caption));
        return false;
    }
    InstanceChannel().setProc(MainWindowProc([this] { return windowHandle(); }));

    Global::BuildDefaultUsers();
    LoadSettings(recipients);

    RestoreWindowPosition(this, WindowPrefix::SendForm);
    StoreWindowPosition(this, WindowPrefix::SendForm);

    Global::MainWindowHandle = this;

    HistoryPos = 0;
    HistoryMax = 10;
    History = QStringList{QString()};

    SaveOptions();
    SaveUsers();

    Global::ReplyPending = false;
    SentByKey = false;
    loaded = true;
    return true;
}

void SendForm::Form_Unload()
{
    if (!loaded)
        return;
    loaded = false;
    SaveUsers();
    StoreWindowPosition(this, WindowPrefix::SendForm);
}

void SendForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}
