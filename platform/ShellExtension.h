#pragma once
// Opening a document, a web address or a "mailto:" address with whatever the user's
// desktop has registered for it.

#include <QString>

class QWindow;

// Asks the desktop to open `document`; true when it reports that it did. A text without a
// scheme is a file, relative to the program's folder. `owner` is the window any window the
// desktop shows belongs to (the desktop services take no owner, so it only documents the
// call). Shows no message.
bool ShellOpen(const QString& document, QWindow* owner);
