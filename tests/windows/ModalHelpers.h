#pragma once
// Acting on a modal dialog from inside its own exec(), as a user would once it shows.

#include <QApplication>
#include <QTimer>
#include <functional>

// Runs `action` on the next visible modal dialog of type T.
template <typename T> void WhenModal(std::function<void(T*)> action)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(dialog);
    });
    poll->start(5);
}
