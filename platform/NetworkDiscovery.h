#pragma once
// Finds computers of the local network that announce themselves by DNS-SD, and the people
// whose receivers announce them, through the Avahi daemon on the system message bus.
// Answers arrive as signals; nothing blocks.

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

// A receiver's announcement: whose it is, where it answers.
struct AnnouncedPerson
{
    QString name;     // as its user gave it, from the TXT record
    QString computer; // the host that announced it
    QString ip;       // IPv4, dotted
    quint16 port = 0;
    QString instance; // the service's own name, unique on the network
};

class NetworkDiscovery : public QObject
{
    Q_OBJECT
public:
    enum class Looking { ComputersAndPeople, PeopleOnly };

    explicit NetworkDiscovery(QObject* parent = nullptr);
    ~NetworkDiscovery() override;

    // Starts browsing. Either the found signals arrive as answers come in, or unavailable
    // says why nothing can be found automatically.
    void start(Looking looking = Looking::ComputersAndPeople);

signals:
    void computerFound(const QString& hostName);
    void personFound(const AnnouncedPerson& person);
    void personGone(const QString& instance);
    // Looking for people only: everyone announced now has been told of; later
    // announcements may still follow.
    void peopleListed();
    void unavailable(const QString& reason);

private slots:
    void onItemNew(int interface, int protocol, const QString& name, const QString& type,
                   const QString& domain, uint flags);
    void onItemRemove(int interface, int protocol, const QString& name, const QString& type,
                      const QString& domain, uint flags);
    void onAllForNow();
    void onFailure(const QString& error);

private:
    void fail(const QString& reason);
    void resolvePerson(int interface, int protocol, const QString& name, const QString& domain);
    void checkPeopleListed();

    QString bus; // the connection's name; empty without one
    QSet<QString> known;
    // The interfaces each person was heard on; gone once none is left.
    QHash<QString, QSet<int>> people;
    bool peopleOnly = false;
    int resolving = 0;
    bool allForNow = false;
    bool listed = false;
    bool failed = false;
};
