#include "windows/MessageBox.h"

#include "app/SettingsStore.h"

#include "platform/WindowActivation.h"

#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QTimer>

namespace {
MessageBoxAnswerer& answerer()
{
    static MessageBoxAnswerer instance;
    return instance;
}

QQueue<bool>& nextAnswers()
{
    static QQueue<bool> answers;
    return answers;
}
} // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& title)
{
    if (answerer()) {
        answerer()(title, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    // A box that a request from another program opens comes forward with its token.
    if (HasPendingActivationToken())
        QTimer::singleShot(0, &box, [&box] { ActivateWindow(box.windowHandle()); });
    box.exec();
}

void SetMessageBoxAnswerer(MessageBoxAnswerer newAnswerer)
{
    answerer() = std::move(newAnswerer);
    nextAnswers().clear();
}

void SetNextAnswer(bool yes)
{
    nextAnswers().enqueue(yes);
}

bool AskMessage(QWidget* parent, const QString& text, const QString& title, const QString& yes,
                const QString& no, bool noByDefault)
{
    if (answerer()) {
        answerer()(title, text);
        return !nextAnswers().isEmpty() && nextAnswers().dequeue();
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(noByDefault ? noButton : yesButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

void ShowStoreFailuresInBoxes()
{
    SetStoreFailureHandler(
        [](const QString& message) { ShowMessage(nullptr, message, QStringLiteral("Error")); });
}
