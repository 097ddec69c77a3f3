#pragma once
// Where the per-user runtime files of a running copy live: the single-instance lock and
// the reply channel's socket, in a folder only the user can enter.

#include <QString>

// <runtime dir>/Quorvane, created with mode 0700 when missing. The runtime dir is
// $XDG_RUNTIME_DIR, or Qt's runtime location when that is unset.
QString RuntimeFolder();
QString ReplyChannelPath();
QString InstanceLockPath();
