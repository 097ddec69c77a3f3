#pragma once
// Tells the user of a new message with a desktop notification over D-Bus
// (org.freedesktop.Notifications). A burst of messages folds into one notification, and
// clicking it reports the message it shows. When no notification service answers,
// unavailable() lets the window fall back to the tray or to coming forward.

#include <QHash>
#include <QObject>
#include <QString>

class Notifier : public QObject
{
    Q_OBJECT
public:
    // On the session bus of DBUS_SESSION_BUS_ADDRESS as it is when the notifier is made.
    explicit Notifier(QObject* parent = nullptr);
    ~Notifier() override;

    void notify(qint64 messageId, const QString& name, const QString& text);

signals:
    void clicked(qint64 messageId);
    void unavailable(qint64 messageId);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QString bus;    // connection name; empty without a session bus
    uint shown = 0; // the open notification that the next one replaces
    QHash<uint, qint64> messages;
};
