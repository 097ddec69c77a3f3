#pragma once
// Every message to the user goes through here: a modal box with the exclamation icon and
// one OK button. Tests install an answerer to read the box instead of showing it.

#include <QString>
#include <functional>

class QWidget;

void ShowMessage(QWidget* parent, const QString& text, const QString& title);
// The same box with two buttons; true when the user chose `yes`, which Enter chooses unless
// `noByDefault`.
bool AskMessage(QWidget* parent, const QString& text, const QString& title, const QString& yes,
                const QString& no, bool noByDefault = false);
// Shows every failure of the settings store in a box titled "Error".
void ShowStoreFailuresInBoxes();

// Receives (title, text) instead of a real box being shown; an empty function restores
// real boxes and drops the answers not taken.
using MessageBoxAnswerer = std::function<void(const QString& title, const QString& text)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
// Queues the choice of the next question an answerer receives: true for `yes`. A question
// with none queued is answered No.
void SetNextAnswer(bool yes);
