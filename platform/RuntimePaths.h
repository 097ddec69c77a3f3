#pragma once
// Where the per-user runtime files of a running copy live: the single-instance lock and
// the reply channel's socket, in a folder only the user can enter.

#include <QString>

// <runtime dir>/Quorvane, created with mode 0700 when missing, and used only when it is a
// real folder (not a link) owned by this user with mode 0700. The runtime dir is
// $XDG_RUNTIME_DIR, else Qt's runtime location; when that is empty or unusable, a private
// folder in the user's cache folder. Empty when there is no safe folder, with the reason,
// naming the folder, in `problem`.
QString RuntimeFolder(QString* problem = nullptr);
// Empty when RuntimeFolder() is.
QString ReplyChannelPath(QString* problem = nullptr);
QString InstanceLockPath(QString* problem = nullptr);
