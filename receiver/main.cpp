// quorvane-receiver: shows the messages that arrive on the user's reply port and hands
// replies to Quorvane.

#include "receiver/ReceiverWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    ReceiverWindow window;
    window.show();
    // Shown first so that a port problem is explained in the window, not in a terminal.
    window.startListening();
    return QApplication::exec();
}
