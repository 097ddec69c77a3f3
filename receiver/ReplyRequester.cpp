#include "receiver/ReplyRequester.h"

#include "platform/QueuedCall.h"
#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <mutex>
#include <thread>

// Lets a worker post its outcome only while the requester still exists: the requester
// clears `target` under the lock before it goes away, and Qt drops calls already posted.
struct ReplyRequester::Link
{
    std::mutex mutex;
    ReplyRequester* target = nullptr;
};

namespace {

bool channelAnswers(const QString& path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    return probe.waitForConnected(2000);
}

// Runs on the worker thread. Empty when Quorvane took the request.
QString deliver(const QString& channel, const QString& program, int startTimeout,
                const QByteArray& block, const QString& token)
{
    if (!channelAnswers(channel)) {
        const QFileInfo info(program);
        if (!info.isFile() || !info.isExecutable())
            return QStringLiteral("Quorvane is not running, and it could not be started: there is "
                                  "no program at %1.")
                .arg(program);
        if (!QProcess::startDetached(program, {}))
            return QStringLiteral("Quorvane is not running, and starting %1 failed.").arg(program);
        const QDeadlineTimer deadline(startTimeout);
        while (!channelAnswers(channel)) {
            if (deadline.hasExpired())
                return QStringLiteral("Quorvane was started but did not answer within %1 seconds.")
                    .arg(startTimeout / 1000.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    QString error;
    // No bound on the wait: Quorvane answers once its user has dealt with the "Reply" box.
    if (!SendChannelMessage(channel, ChannelMessage::CopyData, 0, block, -1, &error, token))
        return QStringLiteral("Quorvane did not take the reply request (%1).").arg(error);
    return QString();
}

} // namespace

ReplyRequester::ReplyRequester(QObject* parent) : QObject(parent), link(std::make_shared<Link>())
{
    link->target = this;
    // findExecutable adds the platform's suffix; the plain path names what is missing.
    const QString folder = QCoreApplication::applicationDirPath();
    program = QStandardPaths::findExecutable(QStringLiteral("quorvane"), {folder});
    if (program.isEmpty())
        program = folder + QStringLiteral("/quorvane");
}

ReplyRequester::~ReplyRequester()
{
    const std::lock_guard<std::mutex> lock(link->mutex);
    link->target = nullptr;
}

void ReplyRequester::setSenderProgram(const QString& path)
{
    program = path;
}

void ReplyRequester::setStartTimeout(int milliseconds)
{
    startTimeout = milliseconds;
}

void ReplyRequester::send(const QByteArray& block, const QString& activationToken)
{
    ++pending;
    const QString channel = ReplyChannelPath();
    std::thread([link = link, channel, program = program, timeout = startTimeout, block,
                 activationToken] {
        const QString problem = deliver(channel, program, timeout, block, activationToken);
        const std::lock_guard<std::mutex> lock(link->mutex);
        if (ReplyRequester* target = link->target)
            PostCall(
                target, [target, problem] { target->deliverOutcome(problem); },
                Qt::QueuedConnection);
    }).detach();
}

void ReplyRequester::deliverOutcome(const QString& problem)
{
    --pending;
    emit finished(problem);
}
