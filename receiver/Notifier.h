#pragma once
// Tells the user of new messages with a desktop notification over D-Bus
// (org.freedesktop.Notifications). A burst of messages makes one notification, updated in
// place, whatever the service answers: at most one call is under way, and the newest message
// waits for it. Clicking the notification reports the message it shows. When no service can
// be reached, unavailable() lets the window fall back to the tray or to coming forward; a
// service that does not answer in time counts as absent for a while.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <optional>

class Notifier : public QObject
{
    Q_OBJECT
public:
    static constexpr int AnswerTimeout = 1000; // ms
    static constexpr qint64 AbsentFor = 60000; // ms

    // On the session bus of DBUS_SESSION_BUS_ADDRESS as it is when the notifier is made.
    explicit Notifier(QObject* parent = nullptr);
    ~Notifier() override;

    void notify(qint64 messageId, const QString& name, const QString& text);
    // The user has seen the messages; the next one starts a burst of its own.
    void endBurst() { inBurst = false; }

signals:
    void clicked(qint64 messageId);
    // `mayComeForward` is false when the service only failed to answer in time: a slow
    // service is no reason to take the focus from the user.
    void unavailable(qint64 messageId, bool mayComeForward);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct Note
    {
        qint64 messageId;
        QString name;
        QString text;
    };
    void call(const Note& note);
    bool absent() const { return absentSince.isValid() && !absentSince.hasExpired(AbsentFor); }

    QString bus;    // connection name; empty without a session bus
    uint shown = 0; // the open notification that the next one replaces
    QHash<uint, qint64> messages;
    bool calling = false;
    bool inBurst = false;
    std::optional<Note> next; // waits for the call under way
    QElapsedTimer absentSince;
};
