// Creates the application and its main window, and installs the process-wide hooks; the
// window's load does the start-up.

#include "platform/SingleInstance.h"
#include "windows/ApplicationIcon.h"
#include "windows/CommandLine.h"
#include "windows/MessageBox.h"
#include "windows/NetworkPicker.h"
#include "windows/SendForm.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <QPointer>
#include <cstdio>

namespace {

const QString Description =
    QStringLiteral("Sends short text messages to computers on the local network, with no "
                   "server in between.");

// Every process-wide hook of the program, installed here; tests install their own.
void installHooks(const QPointer<QWidget>& mainWindow)
{
    // Screen size source: window positions in twips are computed on the real screen.
    InstallScreenSizeSource();
    // Store failure handler: a store that cannot be read or written is told in a box.
    ShowStoreFailuresInBoxes();
    // Computer picker: the network dialog, over the main window.
    InstallNetworkPicker([&mainWindow] { return mainWindow.data(); });
    // Left at their defaults: the host resolver (getaddrinfo) and the message-box answerer
    // (a real box). The channel procedure is the main window's, installed by
    // SendForm::Form_Load (MainWindowProc, then CopyDataWndProc by HookWindow): only the
    // copy that holds the instance lock serves the channel.
}

} // namespace

int main(int argc, char* argv[])
{
    if (AsksForTextOnly(argc, argv)) {
        const QCoreApplication text(argc, argv);
        ProcessCommandLine(text, Description);
    }
    QApplication app(argc, argv);
    ProcessCommandLine(app, Description);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    InstallApplicationIcon();
    QPointer<QWidget> mainWindow;
    installHooks(mainWindow);

    // A copy that can neither run nor hand over to a running one says why, and fails.
    if (const QString problem = InstanceProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "quorvane: %s\n", qPrintable(problem));
        ShowMessage(nullptr, problem, QStringLiteral("Error"));
        return 1;
    }

    SendForm form;
    mainWindow = &form;
    if (!form.Form_Load())
        return 0;
    form.show();
    return QApplication::exec();
}
