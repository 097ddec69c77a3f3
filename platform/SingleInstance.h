#pragma once
// One running copy per user: the copy that holds the instance lock serves the reply
// channel; any later copy finds it through that channel.

#include <QString>

class ReplyChannelServer;

// True when another copy already runs. The first call decides, for the whole process: a
// copy that gets the lock keeps it until it ends and starts serving the reply channel.
bool PrevInstance();

// Why this copy can neither run nor hand over to a running copy (no safe runtime folder, a
// lock that cannot be made); empty when it can. Decided with PrevInstance().
QString InstanceProblem();

// The channel this copy serves (listening only when PrevInstance() was false).
ReplyChannelServer& InstanceChannel();
