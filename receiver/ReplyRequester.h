#pragma once
// Hands reply requests to the running Quorvane through its reply channel, starting it
// first when no copy runs. The channel answers only once the user has dealt with any box
// Quorvane shows, so each request waits on a thread of its own and the window stays live.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class ReplyRequester : public QObject
{
    Q_OBJECT
public:
    explicit ReplyRequester(QObject* parent = nullptr);
    ~ReplyRequester() override;

    // The program started when no copy runs; by default `quorvane` beside this program.
    void setSenderProgram(const QString& path);
    QString senderProgram() const { return program; }
    // How long a freshly started copy may take to answer on the channel.
    void setStartTimeout(int milliseconds);

    // Sends the block as a copy-data message, with the token that lets Quorvane's window
    // come forward where the compositor asks for one; finished() reports the outcome.
    void send(const QByteArray& block, const QString& activationToken = QString());
    int pendingCount() const { return pending; }

signals:
    // `problem` says what went wrong, for the user; empty when Quorvane took the request.
    void finished(const QString& problem);

private:
    struct Link;
    void deliverOutcome(const QString& problem);

    std::shared_ptr<Link> link;
    QString program;
    int startTimeout = 10000;
    int pending = 0;
};
