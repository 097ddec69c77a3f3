#pragma once
// Announces a receiver on the local network by DNS-SD (`_quorvane._tcp` on its port, with
// its user's name in the TXT record `name` and `v=1`), through the Avahi daemon on the
// system message bus, so that others can find the person rather than just the computer.
// Everything is asynchronous; the outcome arrives as a signal.

#include <QObject>
#include <QPointer>
#include <QString>

class NetworkAnnouncement : public QObject
{
    Q_OBJECT
public:
    explicit NetworkAnnouncement(QObject* parent = nullptr);
    // Withdraws what it announced.
    ~NetworkAnnouncement() override;

    // Announces `name` on `port`, in place of whatever was announced before.
    void announce(const QString& name, quint16 port);
    // Takes the announcement back.
    void withdraw();

signals:
    // Everyone on the network can now find `instance`: the name, or the one the daemon chose
    // in its place because another announcement had it.
    void announced(const QString& instance, quint16 port);
    void unavailable(const QString& reason);

private slots:
    void onDaemonStarted();
    void onDaemonStopped();

private:
    void publish();
    void takeAlternativeName();
    void failed(int attempt, const QString& reason);
    void freeGroup();

    QString bus; // the connection's name; empty without one
    QString group;
    QPointer<QObject> groupState; // hears the group's state
    QString name;
    QString instance;
    quint16 port = 0;
    bool wanted = false;
    // Counts the announcements begun; an answer to an older one is dropped.
    int attempt = 0;
};
