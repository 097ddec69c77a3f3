#pragma once
// Bringing a window forward where the compositor asks for proof that the user wants it
// (Wayland's xdg-activation): the program the user touched asks for a token for its own
// window and hands it over; the program that comes forward presents it. Without Wayland, or
// on a compositor without the protocol, tokens are empty and windows come forward as they
// always did.

#include <QString>

class QWindow;

// Whether this build speaks the protocol at all.
bool ActivationTokensBuiltIn();

// A token for `window`, tied to the user's latest input in it; empty when there is none.
QString RequestActivationToken(QWindow* window);

// The token that came with the request being handled, for the next window brought forward.
void SetPendingActivationToken(const QString& token);
bool HasPendingActivationToken();

// Shows `window` if it is hidden and gives it the foreground, presenting the pending token
// where the compositor needs one.
void ActivateWindow(QWindow* window);
