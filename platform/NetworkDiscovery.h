#pragma once
// Finds computers of the local network that announce themselves by DNS-SD, through the
// Avahi daemon on the system message bus. Answers arrive as signals; nothing blocks.

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class NetworkDiscovery : public QObject
{
    Q_OBJECT
public:
    explicit NetworkDiscovery(QObject* parent = nullptr);
    ~NetworkDiscovery() override;

    // Starts browsing. Either computerFound arrives for each computer as it is heard of,
    // or unavailable says why nothing can be found automatically.
    void start();

signals:
    void computerFound(const QString& hostName);
    void unavailable(const QString& reason);

private slots:
    void onItemNew(int interface, int protocol, const QString& name, const QString& type,
                   const QString& domain, uint flags);
    void onFailure(const QString& error);

private:
    void fail(const QString& reason);

    QStringList browsers;
    QSet<QString> known;
    bool failed = false;
};
