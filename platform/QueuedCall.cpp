#include "platform/QueuedCall.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <condition_variable>
#include <mutex>

namespace {

// Guards every call from its posting to its taking; function-local statics start safely
// under any thread.
std::mutex& handover()
{
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& callsDone()
{
    static std::condition_variable done;
    return done;
}

// What a carrier receives: posted under the lock, so all the poster wrote before happens
// before the carrier reads it.
const QEvent::Type CallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Carries one call to `context`'s thread. It takes the lock before it reads anything of its
// own or of the event; Qt's reads before that are in code the sanitizer does not see. No
// Q_OBJECT: Qt would call the metaObject() that adds, in our code, before the lock.
class QueuedCall : public QObject
{
public:
    // Filled under the lock once it is on `context`'s thread: moving it there sends it an
    // event at once, on this thread.
    void load(QObject* target, std::function<void()> work, bool* ran)
    {
        context = target;
        call = std::move(work);
        done = ran;
    }

    bool event(QEvent* event) override
    {
        std::function<void()> work;
        bool isCall = false;
        bool live = false;
        {
            const std::lock_guard<std::mutex> lock(handover());
            isCall = event->type() == CallEvent;
            if (isCall) {
                work = std::move(call);
                live = !context.isNull();
            }
        }
        if (!isCall)
            return QObject::event(event);
        if (live)
            work();
        if (done) {
            const std::lock_guard<std::mutex> lock(handover());
            *done = true;
            callsDone().notify_all();
        }
        deleteLater();
        return true;
    }

private:
    QPointer<QObject> context;
    std::function<void()> call;
    bool* done = nullptr; // the blocked poster's flag
};

} // namespace

void PostCall(QObject* context, std::function<void()> call, Qt::ConnectionType type)
{
    const bool blocking = type == Qt::BlockingQueuedConnection;
    bool ran = false;
    auto* carrier = new QueuedCall;
    carrier->moveToThread(context->thread());
    std::unique_lock<std::mutex> lock(handover());
    carrier->load(context, std::move(call), blocking ? &ran : nullptr);
    QCoreApplication::postEvent(carrier, new QEvent(CallEvent));
    if (blocking)
        callsDone().wait(lock, [&ran] { return ran; });
}
