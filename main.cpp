// Creates the application and its main window; the window's load does the start-up.

#include "platform/SingleInstance.h"
#include "windows/MessageBox.h"
#include "windows/NetworkPicker.h"
#include "windows/SendForm.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
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
