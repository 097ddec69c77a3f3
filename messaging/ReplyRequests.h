#pragma once
// Reply requests from the message receiver: the copy-data hook on the main window's reply
// channel, and selecting (or adding) the correspondent a request names.

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
