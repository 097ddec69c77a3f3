#include "platform/SetActiveWnd.h"

#include "platform/RuntimePaths.h"
#include "platform/SingleInstance.h"
#include "platform/WindowActivation.h"

#include <QGuiApplication>

namespace {

// The running copy answers at once; a copy that does not is treated as absent.
constexpr int ChannelTimeoutMs = 1000;

QWindow* findOwnWindow(const QString& caption)
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow* window : windows) {
        if (window->title() == caption)
            return window;
    }
    return nullptr;
}

} // namespace

WindowHandle FindWindowByCaption(const QString& caption)
{
    WindowHandle handle;
    handle.window = findOwnWindow(caption);
    // The copy that serves the channel would only be asking itself.
    if (handle.window || InstanceChannel().isListening())
        return handle;
    const QString path = ReplyChannelPath();
    const std::optional<std::uint32_t> found =
        SendChannelMessage(path, ChannelMessage::FindWindow, 0, caption.toUtf8(), ChannelTimeoutMs);
    if (found && *found != 0)
        handle.channel = path;
    return handle;
}

void ForceForeground(const WindowHandle& handle, const QString& activationToken)
{
    if (handle.window)
        ActivateWindow(handle.window);
    else if (!handle.channel.isEmpty())
        SendChannelMessage(handle.channel, ChannelMessage::Activate, 0, {}, ChannelTimeoutMs,
                           nullptr, activationToken);
}

QString TakeLaunchActivationToken()
{
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const QString token = qEnvironmentVariable(name);
        qunsetenv(name);
        if (!token.isEmpty())
            return token;
    }
    return QString();
}

ChannelProc MainWindowProc(std::function<QWindow*()> mainWindow)
{
    return [mainWindow = std::move(mainWindow)](std::uint32_t message, std::uint32_t,
                                                const QByteArray& data) -> std::uint32_t {
        if (message == ChannelMessage::FindWindow)
            return findOwnWindow(QString::fromUtf8(data)) ? 1 : 0;
        if (message == ChannelMessage::Activate) {
            WindowHandle handle;
            handle.window = mainWindow();
            ForceForeground(handle);
            return handle.isNull() ? 0 : 1;
        }
        return 0;
    };
}
