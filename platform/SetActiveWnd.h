#pragma once
// Finding a window by its caption and bringing a window to the foreground. A window of
// this process is found directly; the main window of the running copy is reached through
// the reply channel.

#include "platform/ReplyChannel.h"

#include <QPointer>
#include <QString>
#include <QWindow>
#include <functional>

struct WindowHandle
{
    QPointer<QWindow> window; // a window of this process
    QString channel;          // or the reply channel of the running copy
    bool isNull() const { return !window && channel.isEmpty(); }
};

// A top-level window whose caption is exactly `caption`: one of this process's windows
// first, else the running copy's (asked over the reply channel); null when none.
WindowHandle FindWindowByCaption(const QString& caption);

// Restores a minimised window (or shows it), raises it and gives it the foreground. A null
// handle does nothing. The running copy gets `activationToken` for its window.
void ForceForeground(const WindowHandle& window, const QString& activationToken = QString());

// What the desktop gave this program at its start to bring a window forward with:
// XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11. Taken once, so that programs
// started from here do not inherit it.
QString TakeLaunchActivationToken();

// The channel handler of a main window: answers the activate and find-window messages
// and 0 to any other. `mainWindow` is asked for the window each time.
ChannelProc MainWindowProc(std::function<QWindow*()> mainWindow);
