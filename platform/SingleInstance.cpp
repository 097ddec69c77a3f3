#include "platform/SingleInstance.h"

#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"

#include <QDeadlineTimer>
#include <QLockFile>
#include <QThread>
#include <memory>

namespace {

struct Instance
{
    std::unique_ptr<QLockFile> lock;
    bool previous = false;
    QString problem;
};

bool holderKnown(const QLockFile& lock)
{
    const QDeadlineTimer patience(500);
    qint64 pid = 0;
    QString host;
    QString application;
    while (!lock.getLockInfo(&pid, &host, &application)) {
        if (patience.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

Instance& instance()
{
    static Instance state = [] {
        Instance s;
        const QString path = InstanceLockPath(&s.problem);
        if (path.isEmpty())
            return s;
        s.lock = std::make_unique<QLockFile>(path);
        // A running copy's lock never goes stale by age; only a dead owner frees it.
        s.lock->setStaleLockTime(0);
        if (s.lock->tryLock(0))
            return s;
        switch (s.lock->error()) {
        case QLockFile::LockFailedError:
            // Only a lock that names its owner is another copy's; a copy starting right now
            // writes its name within moments.
            s.previous = holderKnown(*s.lock);
            if (!s.previous)
                s.problem = QStringLiteral("The lock %1 is in the way but names no running copy.")
                                .arg(path);
            break;
        case QLockFile::PermissionError:
            s.problem =
                QStringLiteral("The lock %1 cannot be created: permission denied.").arg(path);
            break;
        default:
            s.problem = QStringLiteral("The lock %1 cannot be created or read.").arg(path);
            break;
        }
        return s;
    }();
    return state;
}

} // namespace

bool PrevInstance()
{
    const bool previous = instance().previous;
    if (!previous && instance().problem.isEmpty() && !InstanceChannel().isListening())
        InstanceChannel().listen(ReplyChannelPath());
    return previous;
}

QString InstanceProblem()
{
    return instance().problem;
}

ReplyChannelServer& InstanceChannel()
{
    static ReplyChannelServer* server = new ReplyChannelServer();
    return *server;
}
