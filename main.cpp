// Creates the application and its main window; the window's load does the start-up.

#include "platform/SingleInstance.h"
#include "windows/ApplicationIcon.h"
#include "windows/CommandLine.h"
#include "windows/MessageBox.h"
#include "windows/NetworkPicker.h"
#include "windows/SendForm.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <cstdio>

namespace {

const QString Description =
    QStringLiteral("Sends short text messages to computers on the local network, with no "
                   "server in between.");

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
    InstallScreenSizeSource();
    ShowStoreFailuresInBoxes();
    InstallNetworkPicker();

    // A copy that can neither run nor hand over to a running one says why, and fails.
    if (const QString problem = InstanceProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "quorvane: %s\n", qPrintable(problem));
        ShowMessage(nullptr, problem, QStringLiteral("Error"));
        return 1;
    }

    SendForm form;
    if (!form.Form_Load())
        return 0;
    form.show();
    return QApplication::exec();
}
