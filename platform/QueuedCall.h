#pragma once
// Calls handed to the thread of another object. QMetaObject::invokeMethod hands a call over
// through Qt's post-event queue, guarded by a QMutex that waits on a futex, which
// ThreadSanitizer cannot see in a Qt not built for it: every capture of such a call looks
// like a race there. PostCall hands the call over under a std::mutex, which it can see, and
// otherwise behaves like a queued invokeMethod: the call runs on `context`'s thread from its
// event loop, in order with what else is posted there, and not at all once `context` is
// gone.

#include <QObject>
#include <functional>

// Qt::QueuedConnection returns at once. Qt::BlockingQueuedConnection returns once the call
// has run, or `context` went without running it; never use it from `context`'s own thread.
void PostCall(QObject* context, std::function<void()> call,
              Qt::ConnectionType type = Qt::QueuedConnection);
