#include "messaging/ReplyRequests.h"

#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/Validation.h"
#include "messaging/ReceiveString.h"
#include "platform/ReplyChannel.h"
#include "platform/SingleInstance.h"

#include <functional>
#include <utility>
#include <vector>

namespace {

ChannelProc PrevWndProc;
ReplyWindow* HookedWindow = nullptr;

const QString AnonymousName = QStringLiteral("Anonymous");

// At most one "Reply" box: while it is open, newer requests only change its text, and
// their senders are answered once it closes.
bool ReplyBoxOpen = false;
std::vector<std::function<void()>> AnswersAfterBox;
// What the previous procedure gave the request being handled: its sender's answer.
std::uint32_t CopyDataResult = 0;

// The correspondent of the latest request, its row in Users (-1 for a new one), whether it
// waits for the main window, and whether that window is active.
UserRecord ReplyTarget;
std::int16_t ReplyIndex = -1;
bool Pending = false;
bool WindowActive = false;

void announce(const QString& name)
{
    const QString text = QStringLiteral("Return to main menu for reply to user ") + name;
    if (ReplyBoxOpen) {
        HookedWindow->announceReply(text);
        if (ChannelAnswer later = ReplyChannelServer::deferAnswer())
            AnswersAfterBox.push_back([later, result = CopyDataResult] { later(result); });
        return;
    }
    ReplyBoxOpen = true;
    HookedWindow->announceReply(text);
    ReplyBoxOpen = false;
    for (const std::function<void()>& later : std::exchange(AnswersAfterBox, {}))
        later();
}

} // namespace

bool ReplyPending()
{
    return Pending;
}

void DropPendingReply()
{
    Pending = false;
}

void SetMainWindowActive(bool active)
{
    WindowActive = active;
}

bool MainWindowActive()
{
    return WindowActive;
}

void HookWindow(ReplyWindow* window)
{
    HookedWindow = window;
    PrevWndProc = InstanceChannel().setProc(CopyDataWndProc);
}

void UnhookWindow()
{
    if (!HookedWindow)
        return;
    InstanceChannel().setProc(PrevWndProc);
    PrevWndProc = nullptr;
    HookedWindow = nullptr;
}

std::uint32_t CopyDataWndProc(std::uint32_t message, std::uint32_t dwData, const QByteArray& data)
{
    QString text;
    if (message == ChannelMessage::CopyData)
        text = CopyDataToString(data);
    const std::uint32_t result = PrevWndProc ? PrevWndProc(message, dwData, data) : 0;
    if (message == ChannelMessage::CopyData) {
        CopyDataResult = result;
        HandleReplyRequest(text);
    }
    return result;
}

void HandleReplyRequest(const QString& text)
{
    const std::optional<ReplyRequest> request = SplitReplyRequest(text);
    if (!request || !HookedWindow)
        return;
    QString ip;
    if (!IsValidIp(request->ip, ip))
        return;
    std::int32_t port = 0;
    if (!IsValidPort(request->port, port))
        return;

    const UserTable& users = Global::Users;
    const int n = UBound(users);
    int found = -1;
    QString name = request->name;
    if (name.isEmpty()) {
        // Every anonymous request makes a new entry, even from an address that has some.
        for (int k = 1;; ++k) {
            name = AnonymousName + QString::number(k);
            if (!FindUser(users, name, ip))
                break;
        }
    } else {
        if (!IsValidUserName(name, name))
            return;
        for (int i = 1; i <= n; ++i) {
            const UserRecord& user = users[static_cast<std::size_t>(i)];
            if (user.ip == ip && user.name == name) {
                found = i;
                break;
            }
        }
    }
    if (found == -1 && n >= Global::MaxUsers)
        return;

    ReplyTarget.name = name;
    ReplyTarget.ip = ip;
    ReplyTarget.port = port;
    ReplyIndex = static_cast<std::int16_t>(found);
    Pending = true;

    if (WindowActive)
        SelectReplyTarget(HookedWindow->recipientList());
    else
        announce(name);
}

void SelectReplyTarget(RecipientList& combo)
{
    UserTable& users = Global::Users;
    const int n = UBound(users);
    ReplyIndex = -1;
    for (int i = 1; i <= n; ++i) {
        const UserRecord& user = users[static_cast<std::size_t>(i)];
        if (user.ip == ReplyTarget.ip && user.name == ReplyTarget.name) {
            ReplyIndex = static_cast<std::int16_t>(i);
            break;
        }
    }
    if (ReplyIndex == -1) {
        // The table filled up while the request waited: drop it rather than retry it at
        // every activation.
        if (n >= Global::MaxUsers) {
            Pending = false;
            return;
        }
        users.push_back({ReplyTarget.name, ReplyTarget.ip, ReplyTarget.port, n + 1});
        ReplyIndex = static_cast<std::int16_t>(n + 1);
    } else {
        users[static_cast<std::size_t>(ReplyIndex)].port = ReplyTarget.port;
    }
    FillUserCombo(combo, ReplyIndex - 1);
    if (HookedWindow) {
        HookedWindow->restoreIfMinimized();
        HookedWindow->startRaiseTimer();
    }
    Pending = false;
}
