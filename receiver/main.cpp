// quorvane-receiver: shows the messages that arrive on the user's reply port and hands
// replies to Quorvane.

#include "receiver/ReceiverWindow.h"
#include "windows/ApplicationIcon.h"
#include "windows/CommandLine.h"
#include "windows/MessageBox.h"

#include <QApplication>

namespace {

const QString Description =
    QStringLiteral("Shows the messages that arrive on your reply port, keeps them in a history "
                   "and hands replies to Quorvane.");

} // namespace

int main(int argc, char* argv[])
{
    if (AsksForTextOnly(argc, argv)) {
        const QCoreApplication text(argc, argv);
        ProcessCommandLine(text, Description);
    }
    QApplication app(argc, argv);
    ProcessCommandLine(app, Description);
    InstallApplicationIcon();
    ShowStoreFailuresInBoxes();
    ReceiverWindow window;
    window.show();
    // Shown first so that a port problem is explained in the window, not in a terminal.
    window.startListening();
    return QApplication::exec();
}
