#include "windows/MessageBox.h"

#include "app/SettingsStore.h"

#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

namespace {
MessageBoxAnswerer& answerer()
{
    static MessageBoxAnswerer instance;
    return instance;
}
QQueue<bool>& queuedAnswers()
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
    box.exec();
}

void SetMessageBoxAnswerer(MessageBoxAnswerer newAnswerer)
{
    answerer() = std::move(newAnswerer);
}

bool AskMessage(QWidget* parent, const QString& text, const QString& title, const QString& yes,
                const QString& no)
{
    if (answerer()) {
        answerer()(title, text);
        return !queuedAnswers().isEmpty() && queuedAnswers().dequeue();
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(yesButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

void QueueQuestionAnswer(bool yes)
{
    queuedAnswers().enqueue(yes);
}

void ShowStoreFailuresInBoxes()
{
    SetStoreFailureHandler(
        [](const QString& message) { ShowMessage(nullptr, message, QStringLiteral("Error")); });
}
