#pragma once
// The program's icon, built in, so that every window, the taskbar and Alt+Tab show it
// even when nothing is installed.

#include <QIcon>

// The icon at every size it is drawn at.
QIcon ApplicationIcon();

// Gives every window of the application the icon: call once, after the QApplication.
void InstallApplicationIcon();
