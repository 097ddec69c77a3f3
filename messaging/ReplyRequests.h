#pragma once
// Reply requests from the message receiver: the copy-data hook on the main window's reply
// channel, and selecting (or adding) the correspondent a request names.
//
// The hops from the receiver's Reply to the main window:
//  1. ReceiverWindow::replyToSelected checks the message (ReplyProblem) and builds the
//     request block: name, address and port, each ended by a NUL (ReplyRequestBlock).
//  2. ReplyRequester::send, on a thread of its own, starts Quorvane when no copy answers and
//     sends the block as a copy-data frame (SendChannelMessage, ChannelMessage::CopyData),
//     after a frame with the activation token, if any; it waits for the frame's answer.
//  3. The reply channel (ReplyChannelServer, InstanceChannel() in Quorvane) reads the frame,
//     passes on the token (SetPendingActivationToken) and calls its handler, which
//     SendForm::Form_Load installed with HookWindow: CopyDataWndProc.
//  4. CopyDataWndProc takes the frame's answer from the previous handler (MainWindowProc)
//     and hands the text to HandleReplyRequest, which checks it and keeps the target here.
//  5. Active main window: SelectReplyTarget selects (or adds) the correspondent in SendForm's
//     recipient list and raises the window. Otherwise the "Reply" box asks the user to
//     return to it, and SendForm::Form_Activate calls SelectReplyTarget when that happens.
//  6. The channel answers the frame once the box is closed; ReplyRequester::finished tells
//     the receiver's window.

#include <QByteArray>
#include <QString>
#include <cstdint>

class RecipientList;

// What the reply handling needs of the main window.
class ReplyWindow
{
public:
    virtual ~ReplyWindow() = default;
    virtual RecipientList& recipientList() = 0;
    // The "Reply" box; returns once the user has answered it. Called while that box is
    // open, it only changes the box's text and returns at once.
    virtual void announceReply(const QString& text) = 0;
    virtual void restoreIfMinimized() = 0;
    // Starts the one-shot timer that raises the window with the caret in the message box.
    virtual void startRaiseTimer() = 0;
};

// Puts CopyDataWndProc in front of the reply channel's handler for this window.
void HookWindow(ReplyWindow* window);
// Puts the previous handler back.
void UnhookWindow();

std::uint32_t CopyDataWndProc(std::uint32_t message, std::uint32_t dwData, const QByteArray& data);

void HandleReplyRequest(const QString& text);
void SelectReplyTarget(RecipientList& combo);

// Whether a request waits for the main window to become active.
bool ReplyPending();
// Forgets a waiting request; the main window does so when it loads.
void DropPendingReply();
// The main window says whenever it becomes active or stops being so.
void SetMainWindowActive(bool active);
bool MainWindowActive();
