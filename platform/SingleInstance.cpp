#include "platform/SingleInstance.h"

#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"

#include <QLockFile>
#include <memory>

namespace {

struct Instance
{
    std::unique_ptr<QLockFile> lock;
    bool previous = false;
};

Instance& instance()
{
    static Instance state = [] {
        Instance s;
        s.lock = std::make_unique<QLockFile>(InstanceLockPath());
        // A running copy's lock never goes stale by age; only a dead owner frees it.
        s.lock->setStaleLockTime(0);
        s.previous = !s.lock->tryLock(0);
        return s;
    }();
    return state;
}

} // namespace

bool PrevInstance()
{
    const bool previous = instance().previous;
    if (!previous && !InstanceChannel().isListening())
        InstanceChannel().listen(ReplyChannelPath());
    return previous;
}

ReplyChannelServer& InstanceChannel()
{
    static ReplyChannelServer* server = new ReplyChannelServer();
    return *server;
}
