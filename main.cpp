// Creates the application and its main window; the window's load does the start-up.

#include "windows/MessageBox.h"
#include "windows/NetworkPicker.h"
#include "windows/SendForm.h"
#include "windows/WindowPlacement.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    InstallScreenSizeSource();
    ShowStoreFailuresInBoxes();
    InstallNetworkPicker();

    SendForm form;
    if (!form.Form_Load())
        return 0;
    form.show();
    return QApplication::exec();
}
